// Which .pvp a palettized texture reads: the chosen one, NAME.pvp beside the archive, then the
// archive's own stem, with letter case ignored.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive/PaletteLookup.h"
#include "kit/Files.h"

namespace {

TEST(PaletteLookup, ChosenThenTextureNameThenArchiveStemCaseIgnored) {
  struct Case {
    const char* what;
    std::vector<std::string> files;  // beside the archive
    std::string archive;
    std::string chosen;  // "" : none
    std::string texture;
    std::string expected;  // file name beside the archive, or the chosen path; "" : none
  };
  const std::vector<Case> cases = {
      {"nothing beside", {}, "obj.pvm", "", "grass", ""},
      {"stem", {"obj.pvp"}, "obj.pvm", "", "grass", "obj.pvp"},
      {"texture name over stem", {"obj.pvp", "grass.pvp"}, "obj.pvm", "", "grass", "grass.pvp"},
      {"chosen over both", {"obj.pvp", "grass.pvp"}, "obj.pvm", "/elsewhere/x.pvp", "grass", "/elsewhere/x.pvp"},
      {"case of the name", {"GRASS.PVP"}, "obj.pvm", "", "grass", "GRASS.PVP"},
      {"case of the stem", {"Obj.Pvp"}, "OBJ.PVM", "", "rock", "Obj.Pvp"},
      {"exact case wins", {"GRASS.pvp", "grass.pvp"}, "obj.pvm", "", "grass", "grass.pvp"},
      {"a standalone .pvr's stem", {"tree.pvp"}, "tree.pvr", "", "tree_0", "tree.pvp"},
      {"another name is not ours", {"grass2.pvp", "obj.pvp.bak"}, "obj.pvm", "", "grass", ""},
      {"a name cannot leave the folder", {"obj.pvp"}, "obj.pvm", "", "../obj", "obj.pvp"},
  };
  for (const Case& c : cases) {
    testkit::ScratchFolder dir;
    for (const std::string& file : c.files) dir.Write(file, {1});
    const PaletteLookup lookup(dir / c.archive, {c.chosen, 0});
    const std::string expected = c.expected.empty() || c.expected[0] == '/' ? c.expected : dir / c.expected;
    EXPECT_EQ(lookup.PathFor(c.texture), expected) << c.what;
  }
  // An archive that is not on disk finds only a chosen palette.
  EXPECT_EQ(PaletteLookup().PathFor("grass"), "");
}

}  // namespace
