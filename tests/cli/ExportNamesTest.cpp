#include "archive/ExportNames.h"

#include <gtest/gtest.h>

#include <cctype>
#include <set>

namespace {

TEST(ExportNames, KeepsPlainUniqueNames) {
  EXPECT_EQ(BatchFiles::ExportBaseNames({"grass", "Rock 02", "a.b-c_d", "COM0", "console", "x_masks"}),
            (std::vector<std::string>{"grass", "Rock 02", "a.b-c_d", "COM0", "console", "x_masks"}));
}

TEST(ExportNames, ReplacesNamesThatAreNotSafeOrNotUnique) {
  const std::vector<std::string> names = {
      "",        "a/b",    "a\\b",  ".dot",   "dot.", " lead", "trail ", "x_mask", "X_MaSk",
      "CON",     "nul.tx", "lpt9",  "Com1.a", "\xE9", "a:b",   "a*b",   "Twin",   "tWIN",
      "single"};
  const std::vector<std::string> bases = BatchFiles::ExportBaseNames(names);
  ASSERT_EQ(bases.size(), names.size());
  for (size_t row = 0; row + 1 < names.size(); ++row) {
    EXPECT_EQ(bases[row], "@" + std::to_string(row)) << names[row];
  }
  EXPECT_EQ(bases.back(), "single");
}

// Every image and mask file name of an archive differs from every other, letter case
// ignored, whatever the names are.
TEST(ExportNames, FileNamesNeverCollide) {
  const std::vector<std::string> names = {"a", "a_mask", "A", "b", "b_mask.bmp", "b.bmp",
                                          "@1", "c", "C_", "c_", "3", "@3"};
  std::set<std::string> files;
  for (const std::string& base : BatchFiles::ExportBaseNames(names)) {
    for (std::string file : {BatchFiles::ImageFileName(base), BatchFiles::MaskFileName(base)}) {
      for (char& c : file) c = char(std::tolower(static_cast<unsigned char>(c)));
      EXPECT_TRUE(files.insert(file).second) << file;
    }
  }
}

}  // namespace
