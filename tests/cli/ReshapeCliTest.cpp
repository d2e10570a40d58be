// The commands that change an archive's entries, run on the real binary: what each does to
// the file, and that every refusal leaves it as it was.
#include <gtest/gtest.h>

#include "tests/cli/CliHarness.h"

namespace {

using namespace clitest;

// A 16 x 16 picture as a plain BMP, opaque.
Bytes SquareBmp() {
  std::vector<Rgba> pixels(16 * 16);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = {uint8_t(i), uint8_t(3 * i), uint8_t(255 - i), 255};
  return PlainBmp(16, 16, pixels);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t at = 0, end; at < text.size(); at = end + 1) {
    end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(at, end - at));
  }
  return lines;
}

TEST(CliReshape, EntriesAreAddedChangedAndExtracted) {
  const ScratchFolder dir;
  const std::string archive = dir / "new.pvm";
  WriteFile(dir / "stone.bmp", SquareBmp());
  ASSERT_EQ(RunCli(dir, {"new", archive}).status, 0);
  ASSERT_EQ(RunCli(dir, {"add", archive, dir / "stone.bmp", dir / "stone.bmp", "--gbix", "77"}).status, 2)
      << "--gbix takes one file";
  ASSERT_EQ(RunCli(dir, {"add", archive, dir / "stone.bmp", dir / "stone.bmp"}).status, 0);
  ASSERT_EQ(RunCli(dir, {"add", archive, dir / "stone.bmp", "--at", "0", "--name", "first", "--gbix", "77",
                         "--pixel-format", "argb4444", "--data-format", "vq"})
                .status,
            0);
  ASSERT_EQ(RunCli(dir, {"rename", archive, "2", "last"}).status, 0);
  ASSERT_EQ(RunCli(dir, {"move", archive, "0", "1"}).status, 0);
  const Outcome info = RunCli(dir, {"info", archive});
  const std::vector<std::string> rows = Lines(info.out);
  ASSERT_EQ(rows.size(), 3u) << info.out;
  EXPECT_TRUE(rows[0].starts_with("0\tstone\t16x16\t1 RGB565\t2 twiddled+mipmaps\t")) << rows[0];
  EXPECT_TRUE(rows[1].starts_with("1\tfirst\t16x16\t2 ARGB4444\t3 VQ\t")) << rows[1];
  EXPECT_TRUE(rows[1].ends_with("\t77\tnone")) << rows[1];
  EXPECT_TRUE(rows[2].starts_with("2\tlast\t")) << rows[2];

  // A texture taken out and put back in its place gives the archive back.
  const Bytes before = ReadFile(archive);
  ASSERT_EQ(RunCli(dir, {"extract", archive, "1", dir / "first.pvr"}).status, 0);
  ASSERT_EQ(RunCli(dir, {"remove", archive, "1"}).status, 0);
  ASSERT_EQ(RunCli(dir, {"add", archive, dir / "first.pvr", "--at", "1"}).status, 0);
  EXPECT_EQ(ReadFile(archive), before);

  ASSERT_EQ(RunCli(dir, {"convert", archive, "0", "--pixel-format", "argb1555", "--no-mipmaps"}).status, 0);
  EXPECT_TRUE(Lines(RunCli(dir, {"info", archive}).out)[0].starts_with("0\tstone\t16x16\t0 ARGB1555\t1 twiddled\t"));
}

TEST(CliReshape, RefusalsLeaveTheArchiveAsItWas) {
  const ScratchFolder dir;
  const std::string archive = dir / "a.pvm";
  WriteFile(dir / "pic.bmp", SquareBmp());
  ASSERT_EQ(RunCli(dir, {"new", archive}).status, 0);
  ASSERT_EQ(RunCli(dir, {"add", archive, dir / "pic.bmp"}).status, 0);
  const Bytes before = ReadFile(archive);
  const struct {
    std::vector<std::string> args;
    int status;
    const char* words;
  } cases[] = {
      {{"new", archive}, 1, "already exists"},
      {{"rename", archive, "0", "a name much longer than twenty-seven bytes"}, 1, "at most 27 bytes"},
      {{"set-gbix", archive, "0", "4294967296"}, 2, "from 0 to 4294967295"},
      {{"set-gbix", archive, "0", "ten"}, 2, "from 0 to 4294967295"},
      {{"remove", archive, "0", "5"}, 1, "Row 5 is not listed"},
      {{"move", archive, "0", "1"}, 1, "Row 1 is not listed"},
      {{"add", archive, dir / "pic.bmp", "--data-format", "vq", "--mipmaps", "--at", "9"}, 1, "past the end"},
      {{"add", archive, dir / "pic.bmp", "--data-format", "rectangle", "--mipmaps"}, 1, "has no mipmaps"},
      {{"add", archive, dir / "missing.pvr"}, 1, "could not be read"},
      {{"add", archive, archive}, 1, "not a single texture"},
      {{"import", archive, "0", dir / "pic.bmp", "--size", "huge"}, 2, "keep, picture or scale"},
      {{"convert", archive, "0", "--data-format", "13x"}, 2, "--data-format must be"},
  };
  for (const auto& c : cases) {
    const Outcome outcome = RunCli(dir, c.args);
    EXPECT_EQ(outcome.status, c.status) << c.args[0] << ": " << outcome.err;
    EXPECT_NE(outcome.err.find(c.words), std::string::npos) << outcome.err;
    EXPECT_EQ(ReadFile(archive), before) << c.args[0];
  }
}

}  // namespace
