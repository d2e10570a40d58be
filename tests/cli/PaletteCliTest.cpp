// Palettized textures through quarnel-cli: which palette each uses, lossless round trips of
// indices, new palettes that never overwrite the shared one, and refused palette files.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/cli/CliHarness.h"
#include "texture/DataFormats.h"

namespace {

using namespace clitest;

// A palette file: "PVPL", the length of what follows, colour format, bank field, first
// colour, count, then 2-byte colours.
Bytes Pvp(size_t count, uint16_t format = 0, std::optional<uint32_t> length = {}, std::optional<uint16_t> countField = {}) {
  Bytes b{'P', 'V', 'P', 'L'};
  platform::LittleEndianWriter put(b);
  put.U32(length.value_or(uint32_t(8 + 2 * count)));
  put.U16(format);
  put.U16(0);
  put.U16(0);
  put.U16(countField.value_or(uint16_t(count)));
  // Opaque ARGB1555 colours, all different, so nearest-colour imports find each exactly.
  for (size_t i = 0; i < count; ++i) put.U16(uint16_t(0x8000 | (i * 37 % 0x8000)));
  return b;
}

archive_builder::Entry Palettized(const std::string& name, uint8_t dataFormat, uint8_t seed) {
  // At least one index a texel, whatever the layout adds.
  const size_t layout = std::max<size_t>(DataFormats::LayoutOf(dataFormat, 8, 8).End(), dataFormat <= 6 ? 32 : 64);
  const size_t bytes = (layout + 15) / 16 * 16;
  return {name, 0, dataFormat, 8, 8, archive_builder::Pattern(bytes, seed)};
}

// Row 0 plain, row 1 4-bit with pal4.pvp beside, row 2 8-bit with the archive's a.pvp.
struct PalettizedFolder {
  ScratchFolder dir;
  std::string archive = dir / "a.pvm";
  PalettizedFolder() {
    WriteFile(archive, archive_builder::BuildArchive({{"plain", 1, 9, 4, 4, archive_builder::Pattern(32, 9)},
                                                      Palettized("pal4", 5, 1), Palettized("pal8", 7, 2)}));
    WriteFile(dir / "pal4.pvp", Pvp(16));
    WriteFile(dir / "a.pvp", Pvp(256));
  }
  Outcome Run(std::vector<std::string> args) { return RunCli(dir, std::move(args)); }
};

std::string LastField(const std::string& line) { return line.substr(line.rfind('\t') + 1); }

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
    lines.push_back(text.substr(at, end - at));
  return lines;
}

TEST(CliPalette, InfoNamesEachTexturesPaletteInItsLastColumn) {
  PalettizedFolder f;
  Outcome run = f.Run({"info", f.archive});
  ASSERT_EQ(run.status, 0) << run.err;
  std::vector<std::string> lines = Lines(run.out);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "0\tplain\t4x4\t1 RGB565\t9 rectangle\t40\t1\t0\t-\tnone");
  EXPECT_EQ(LastField(lines[1]), f.dir / "pal4.pvp");
  EXPECT_EQ(LastField(lines[2]), f.dir / "a.pvp");

  // A chosen palette and bank go before the files beside the archive.
  WriteFile(f.dir / "big.pvp", Pvp(512));
  run = f.Run({"info", f.archive, "--palette", f.dir / "big.pvp", "--bank", "1"});
  ASSERT_EQ(run.status, 0) << run.err;
  lines = Lines(run.out);
  EXPECT_EQ(LastField(lines[1]), f.dir / "big.pvp");
  EXPECT_EQ(LastField(lines[2]), f.dir / "big.pvp");

  // Indices past a palette's colours are noted, and exported as transparent black.
  WriteFile(f.dir / "pal4.pvp", Pvp(8));
  run = f.Run({"export", f.archive, "1", f.dir / "short.png"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("transparent black"), std::string::npos) << run.err;

  fs::remove(f.dir / "pal4.pvp");
  fs::remove(f.dir / "a.pvp");
  run = f.Run({"info", f.archive});
  EXPECT_EQ(LastField(Lines(run.out)[2]), "none");
  EXPECT_NE(run.err.find("no palette"), std::string::npos) << run.err;
}

TEST(CliPalette, ExportsImportBackWithoutChangingAByte) {
  PalettizedFolder f;
  const Bytes original = ReadFile(f.archive);
  for (const char* row : {"1", "2"}) {
    for (const bool indexed : {true, false}) {
      const std::string png = f.dir / (std::string(row) + (indexed ? "i.png" : "c.png"));
      std::vector<std::string> args{"export", f.archive, row, png};
      if (indexed) args.push_back("--indexed");
      const Outcome exported = f.Run(args);
      ASSERT_EQ(exported.status, 0) << exported.err;
      const Outcome imported = f.Run({"import", f.archive, row, png});
      ASSERT_EQ(imported.status, 0) << imported.err;
      EXPECT_EQ(ReadFile(f.archive), original) << row << (indexed ? " indexed" : " colours");
    }
  }
  // A texture of colours has no indexed PNG.
  EXPECT_EQ(f.Run({"export", f.archive, "0", f.dir / "p.png", "--indexed"}).status, 1);
  EXPECT_FALSE(fs::exists(f.dir / "p.png"));
}

TEST(CliPalette, NewPaletteIsWrittenWhereAskedAndNeverOverTheSharedOne) {
  PalettizedFolder f;
  const Bytes shared = ReadFile(f.dir / "pal4.pvp");
  ASSERT_EQ(f.Run({"export", f.archive, "1", f.dir / "x.png"}).status, 0);
  Outcome run = f.Run({"import", f.archive, "1", f.dir / "x.png", "--new-palette", f.dir / "new.pvp"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(fs::exists(f.dir / "new.pvp"));
  EXPECT_EQ(ReadFile(f.dir / "pal4.pvp"), shared);
  EXPECT_EQ(f.Run({"info", f.archive, "--palette", f.dir / "new.pvp"}).status, 0);

  // That very path, given, is replaced, its backup kept.
  run = f.Run({"import", f.archive, "1", f.dir / "x.png", "--new-palette", f.dir / "pal4.pvp", "--backup"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(ReadFile(f.dir / "pal4.pvp.BAK"), shared);

  // Nothing to make for a texture of colours.
  const Bytes archive = ReadFile(f.archive);
  EXPECT_EQ(f.Run({"import", f.archive, "0", f.dir / "x.png", "--new-palette", f.dir / "n2.pvp"}).status, 1);
  EXPECT_FALSE(fs::exists(f.dir / "n2.pvp"));
  // Nor over the archive or the picture.
  EXPECT_EQ(f.Run({"import", f.archive, "1", f.dir / "x.png", "--new-palette", f.archive}).status, 1);
  EXPECT_EQ(ReadFile(f.archive), archive);
}

TEST(CliPalette, RefusesBadPalettesAndWritesNothing) {
  struct Case {
    const char* what;
    Bytes palette;
    std::vector<std::string> extra;
  };
  const Bytes full = Pvp(16);
  const std::vector<Case> cases = {
      {"short", Bytes(full.begin(), full.begin() + 10), {}},
      {"length past the end", Pvp(16, 0, 0x7FFFFFF0), {}},
      {"count past the end", Pvp(16, 0, {}, 300), {}},
      {"unknown colour format", Pvp(16, 9), {}},
      {"bank beyond the palette", full, {"--bank", "3"}},
  };
  for (const Case& c : cases) {
    PalettizedFolder f;
    WriteFile(f.dir / "bad.pvp", c.palette);
    const Bytes original = ReadFile(f.archive);
    ASSERT_EQ(f.Run({"export", f.archive, "0", f.dir / "y.png"}).status, 0);
    const std::vector<std::vector<std::string>> commands = {
        {"info", f.archive},
        {"export", f.archive, "1", f.dir / "x.png"},
        {"export-all", f.archive, f.dir / "all"},
        {"import", f.archive, "1", f.dir / "y.png"},
        {"unpack", f.archive, f.dir / "pack"},
    };
    for (std::vector<std::string> args : commands) {
      args.insert(args.end(), {"--palette", f.dir / "bad.pvp"});
      args.insert(args.end(), c.extra.begin(), c.extra.end());
      const Outcome run = f.Run(args);
      EXPECT_EQ(run.status, 1) << c.what << ": " << args[0];
      EXPECT_NE(run.err, "") << c.what << ": " << args[0];
      EXPECT_EQ(run.out, "") << c.what << ": " << args[0];
    }
    EXPECT_FALSE(fs::exists(f.dir / "x.png")) << c.what;
    EXPECT_TRUE(!fs::exists(f.dir / "all") || fs::is_empty(f.dir / "all")) << c.what;
    EXPECT_FALSE(fs::exists(f.dir / "pack/index.txt")) << c.what;
    EXPECT_EQ(ReadFile(f.archive), original) << c.what;
  }
  // A bank is harmless where no texture reads one.
  PalettizedFolder f;
  EXPECT_EQ(f.Run({"export", f.archive, "0", f.dir / "z.png", "--bank", "2"}).status, 0);
}

}  // namespace
