// Runs the real quarnel-cli binary on archives and bitmaps built by hand, and compares what
// it prints and writes with the format model in CliHarness.h and with the editor's own
// export path run in-process.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <set>

#include "archive/Archive.h"
#include "archive/BatchFiles.h"
#include "tests/cli/CliHarness.h"
#include "texture/DataFormats.h"
#include "texture/PngFile.h"

namespace {

using namespace clitest;

// Texels that reach every bit of a 16-bit value, different for each seed.
std::vector<uint16_t> Texels(size_t count, uint32_t seed) {
  std::vector<uint16_t> texels(count);
  uint32_t state = seed * 2654435761u + 1;
  for (uint16_t& t : texels) {
    state = state * 1664525u + 1013904223u;
    t = uint16_t(state >> 16);
  }
  return texels;
}

ModelTexture Texture(std::string name, uint8_t pixelFormat, uint8_t dataFormat, int16_t width,
                     int16_t height, uint32_t seed) {
  ModelTexture t;
  t.name = std::move(name);
  t.pixelFormat = pixelFormat;
  t.dataFormat = dataFormat;
  t.width = width;
  t.height = height;
  t.texels = Texels(size_t(width) * size_t(height), seed);
  return t;
}

// Every pixel format in both texel orders, and rectangles whose rows need padding.
std::vector<ModelTexture> EveryFormat() {
  return {Texture("argb1555", 0, 9, 8, 4, 1), Texture("rgb565", 1, 9, 4, 4, 2),
          Texture("argb4444", 2, 9, 16, 2, 3), Texture("tw1555", 0, 1, 8, 8, 4),
          Texture("tw565", 1, 1, 4, 4, 5),     Texture("tw4444", 2, 1, 16, 16, 6),
          Texture("odd3x2", 2, 9, 3, 2, 7),    Texture("odd5x3", 0, 9, 5, 3, 8)};
}

// A texture of a mipmapped, VQ or rectangular twiddled format: texels for the whole layout
// and two more, which stand for the bytes real files carry after the main level.
ModelTexture LaidOut(std::string name, uint8_t pixelFormat, uint8_t dataFormat, int16_t side,
                     uint32_t seed, int16_t height = 0) {
  ModelTexture t = Texture(std::move(name), pixelFormat, dataFormat, side, height ? height : side, seed);
  t.texels = Texels(DataFormats::LayoutOf(dataFormat, t.width, t.height).End() / 2 + 2, seed);
  return t;
}

std::string Text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

TEST(CliUsage, HelpPrintsUsageAndSucceeds) {
  ScratchFolder dir;
  for (const char* flag : {"--help", "-h"}) {
    const Outcome run = RunCli(dir, {"export", flag});
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("Usage: quarnel-cli"), std::string::npos);
    EXPECT_NE(run.out.find("@ROW.bmp"), std::string::npos);  // the file-name rule is told
  }
}

TEST(CliUsage, UsageErrorsExitTwoAndTouchNothing) {
  ScratchFolder dir;
  const Bytes archive = BuildArchive({Texture("a", 0, 9, 4, 4, 1)});
  WriteFile(dir / "a.pvm", archive);
  const std::string a = dir / "a.pvm";
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"lsit", a},
      {"list"},
      {"list", a, "extra"},
      {"export", a, "0"},
      {"export", a, "zero", dir / "x.bmp"},
      {"export", a, "-1", dir / "x.bmp"},
      {"export", a, "0", dir / "x.bmp", dir / "x.bmp"},
      {"export", a, "0", dir / "x.bmp", "--backup"},
      {"import", a, "0", dir / "x.bmp", "--force"},
      {"list", a, "--verbose"},
      {"import-all", a},
      {"export", a, "0", dir / "x.png", dir / "m.bmp"},
      {"import", a, "0", dir / "x.bmp", dir / "m.png"},
      {"export-all", a, dir / "o", "--format", "gif"},
      {"list", a, "--format", "png"},
  };
  for (const auto& args : cases) {
    const Outcome run = RunCli(dir, args);
    EXPECT_EQ(run.status, 2) << testing::PrintToString(args);
    EXPECT_NE(run.err.find("--help"), std::string::npos) << testing::PrintToString(args);
    EXPECT_EQ(run.out, "");
  }
  EXPECT_EQ(ReadFile(a), archive);
  EXPECT_FALSE(fs::exists(dir / "x.bmp"));
}

TEST(CliList, ListsRowsThenTheStatus) {
  ScratchFolder dir;
  WriteFile(dir / "a.pvm", BuildArchive({Texture("grass", 0, 9, 4, 4, 1),
                                         Texture("", 1, 9, 4, 4, 2),
                                         Texture("Rock 02.b", 2, 1, 4, 4, 3)}));
  const Outcome run = RunCli(dir, {"list", dir / "a.pvm"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "0\tgrass\n1\t\n2\tRock 02.b\nLoaded 3 sets...\n");
  EXPECT_EQ(run.err, "");

  // Two entries: the second name lies 34 bytes after the first, not 38.
  WriteFile(dir / "b.pvm", BuildArchive({Texture("one", 0, 9, 4, 4, 1), Texture("two", 0, 9, 4, 4, 2)}));
  EXPECT_EQ(RunCli(dir, {"list", dir / "b.pvm"}).out, "0\tone\n1\ttwo\nLoaded 2 sets...\n");

  WriteFile(dir / "c.pvm", BuildArchive({}));
  EXPECT_EQ(RunCli(dir, {"list", dir / "c.pvm"}).out, "Loaded 0 sets...\n");
}

TEST(CliList, PvrFileIsOneRowNamedAfterIt) {
  ScratchFolder dir;
  const ModelTexture t = Texture("", 2, 1, 8, 8, 5);
  const Bytes archive = BuildArchive({t});
  Bytes pvr = archive_builder::IndexChunk();
  pvr.insert(pvr.end(), archive.end() - 16 - 128, archive.end());  // the archive's only chunk
  WriteFile(dir / "t.pvr", pvr);
  EXPECT_EQ(RunCli(dir, {"list", dir / "t.pvr"}).out, "0\tt.pvr\nLoaded 1 sets...\n");
  ASSERT_EQ(RunCli(dir, {"export", dir / "t.pvr", "0", dir / "t.bmp"}).status, 0);
  EXPECT_EQ(ReadFile(dir / "t.bmp"), ExportedBmp(t, false));
}

TEST(CliList, NameWithoutEndStopsTheListingAndItsRows) {
  ScratchFolder dir;
  const std::string full(28, 'N');  // fills the field: no NUL
  WriteFile(dir / "a.pvm", BuildArchive({Texture("first", 0, 9, 4, 4, 1), Texture(full, 0, 9, 4, 4, 2),
                                         Texture("third", 0, 9, 4, 4, 3)}));
  const Outcome list = RunCli(dir, {"list", dir / "a.pvm"});
  EXPECT_EQ(list.status, 0);
  EXPECT_EQ(list.out, "0\tfirst\nLoading...\n");  // the status the editor is left showing

  const Outcome exported = RunCli(dir, {"export", dir / "a.pvm", "1", dir / "x.bmp"});
  EXPECT_EQ(exported.status, 1);
  EXPECT_NE(exported.err.find("Row 1 is not listed"), std::string::npos);
  EXPECT_FALSE(fs::exists(dir / "x.bmp"));
}

TEST(CliInfo, DescribesEveryListedTexture) {
  ScratchFolder dir;
  ModelTexture other = Texture("vq", 7, 3, 8, 8, 4);
  WriteFile(dir / "a.pvm", BuildArchive({Texture("a\tb", 0, 9, 8, 4, 1), Texture("b", 1, 1, 16, 16, 2),
                                         Texture("c", 2, 9, 3, 2, 3), other,
                                         Texture("m", 0, 18, 8, 8, 5), Texture("s", 2, 17, 32, 32, 6),
                                         Texture("x", 0, 15, 8, 8, 7)}));
  const Outcome run = RunCli(dir, {"info", dir / "a.pvm"});
  EXPECT_EQ(run.status, 0);
  // Then mip levels (0 when not decoded), codebook entries and the global index the core
  // reads (here from the entry table's filler).
  const std::vector<std::string> lines = {
      "0\ta\\x09b\t8x4\t0 ARGB1555\t9 rectangle\t72\t1\t0",
      "1\tb\t16x16\t1 RGB565\t1 twiddled\t520\t1\t0",
      "2\tc\t3x2\t2 ARGB4444\t9 rectangle\t24\t1\t0",
      "3\tvq\t8x8\t7 unknown\t3 VQ\t136\t0\t0",
      "4\tm\t8x8\t0 ARGB1555\t18 twiddled+mipmaps (8-byte 1x1)\t136\t4\t0",
      "5\ts\t32x32\t2 ARGB4444\t17 small VQ+mipmaps\t2056\t6\t64",
      "6\tx\t8x8\t0 ARGB1555\t15 other\t136\t0\t0"};
  const Expected<Archive> opened = Archive::Open(dir / "a.pvm");
  ASSERT_TRUE(opened);
  std::string expected;
  for (size_t row = 0; row < lines.size(); ++row) {
    const std::optional<uint32_t> index = opened->Entries()[row].globalIndex;
    // The palette column ends the line: none, as no texture here is palettized.
    expected += lines[row] + "\t" + (index ? std::to_string(*index) : "-") + "\tnone\n";
  }
  EXPECT_EQ(run.out, expected);
}

TEST(CliRefusals, RefusedInputsExitOneWithAMessage) {
  ScratchFolder dir;
  const Bytes archive = BuildArchive({Texture("a", 2, 9, 4, 4, 1)});
  const std::string a = dir / "a.pvm";
  WriteFile(a, archive);
  WriteFile(dir / "not.pvm", Bytes{'P', 'V', 'M', 'X', 0, 0, 0, 0});
  WriteFile(dir / "short.pvm", Bytes{'P', 'V'});
  Bytes eightBit = PlainBmp(4, 4, std::vector<Rgba>(16));
  eightBit[28] = 8;  // biBitCount
  WriteFile(dir / "8bit.bmp", eightBit);
  WriteFile(dir / "exists.bmp", Bytes{'k', 'e', 'e', 'p'});
  const Bytes noCodec = BuildArchive({Texture("vq", 2, 3, 4, 4, 2)});
  WriteFile(dir / "vq.pvm", noCodec);
  const Bytes unknownFormat = BuildArchive({Texture("other", 2, 15, 4, 4, 3)});
  WriteFile(dir / "other.pvm", unknownFormat);
  // Mipmapped 4 x 4 needs 44 bytes: 4 for the 1 x 1 level, 8 for 2 x 2, 32 for the main one.
  WriteFile(dir / "mip.pvm", BuildArchive({Texture("mip", 1, 2, 4, 4, 4)}));
  WriteFile(dir / "4x4.bmp", PlainBmp(4, 4, std::vector<Rgba>(16, Rgba{9, 9, 9, 9})));

  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{"list", dir / "not.pvm"}, "This is not a valid PVM file!\n"},
      {{"info", dir / "short.pvm"}, "This is not a valid PVM file!\n"},
      {{"list", dir / "missing.pvm"}, "missing.pvm"},
      {{"export", a, "1", dir / "x.bmp"}, "Row 1 is not listed"},
      {{"export", a, "99999999999999999999999", dir / "x.bmp"}, "is not listed"},
      {{"export", a, "0", dir / "exists.bmp"}, "exists.bmp already exists. Use --force"},
      {{"export", a, "0", dir / "x.bmp", dir / "exists.bmp"}, "already exists"},
      {{"export", a, "0", dir / "no-such-folder/x.bmp"}, "no-such-folder"},
      {{"import", a, "0", dir / "missing.bmp"}, dir / "missing.bmp" + "\n\nThis file does not exist."},
      {{"import", a, "0", dir / "exists.bmp", dir / "missing.bmp"}, "This file does not exist."},
      {{"import", a, "0", dir / "8bit.bmp"}, "Lazy coder alert: Only 24 bit bitmaps are supported..."},
      {{"import", dir / "vq.pvm", "0", dir / "4x4.bmp"}, "does not encode (pixel format 2, data format 3, 4x4, 32 data bytes)"},
      {{"import", dir / "other.pvm", "0", dir / "4x4.bmp"}, "does not encode (pixel format 2, data format 15, 4x4, 32 data bytes)"},
      {{"import", dir / "mip.pvm", "0", dir / "4x4.bmp"},
       "holds 32 data bytes where its format (pixel format 1, data format 2, 4x4) needs 44 and was left as it is."},
      {{"import-all", a, dir / "no-such-folder"}, "is not a folder"},
      {{"import-all", a, dir.path().string()}, "No texture files"},
  };
  for (const Case& c : cases) {
    const Outcome run = RunCli(dir, c.args);
    EXPECT_EQ(run.status, 1) << testing::PrintToString(c.args);
    EXPECT_NE(run.err.find(c.message), std::string::npos)
        << testing::PrintToString(c.args) << "\n" << run.err;
  }
  EXPECT_EQ(ReadFile(a), archive);
  EXPECT_EQ(ReadFile(dir / "vq.pvm"), noCodec);
  EXPECT_EQ(ReadFile(dir / "other.pvm"), unknownFormat);
  EXPECT_EQ(Text(ReadFile(dir / "exists.bmp")), "keep");
  EXPECT_FALSE(fs::exists(dir / "x.bmp"));
  EXPECT_FALSE(fs::exists(dir / "a.BAK"));
}

TEST(CliExport, ImageAndMaskMatchTheFormatModel) {
  ScratchFolder dir;
  const std::vector<ModelTexture> textures = EveryFormat();
  WriteFile(dir / "a.pvm", BuildArchive(textures));
  for (size_t row = 0; row < textures.size(); ++row) {
    const std::string image = dir / (textures[row].name + ".bmp");
    const std::string mask = dir / (textures[row].name + "_mask.bmp");
    const Outcome run = RunCli(dir, {"export", dir / "a.pvm", std::to_string(row), image, mask});
    ASSERT_EQ(run.status, 0) << textures[row].name << run.err;
    EXPECT_EQ(ReadFile(image), ExportedBmp(textures[row], false)) << textures[row].name;
    EXPECT_EQ(ReadFile(mask), ExportedBmp(textures[row], true)) << textures[row].name;
  }
}

TEST(CliExport, WritesWhatTheEditorsExportWrites) {
  ScratchFolder dir;
  const std::vector<ModelTexture> textures = EveryFormat();
  const std::string archive = dir / "a.pvm";
  WriteFile(archive, BuildArchive(textures));
  const Expected<Archive> opened = Archive::Open(archive);
  ASSERT_TRUE(opened);
  const BatchFiles::Voice quiet{[](const std::string&) {}, [](const Error&) {}};
  for (size_t row = 0; row < textures.size(); ++row) {
    const ::Texture& texture = opened->Entries()[row].texture;
    const std::optional<Image> decoded = BatchFiles::Decode(texture, row, quiet);
    ASSERT_TRUE(decoded);
    for (int16_t mode : {0, 1}) {
      const std::string editor = dir / ("editor" + std::to_string(mode) + ".bmp");
      const std::string cli = dir / ("cli" + std::to_string(mode) + ".bmp");
      ASSERT_TRUE(BatchFiles::WriteExport(texture, *decoded, mode == 1, editor, quiet));
      const std::vector<std::string> args =
          mode == 0 ? std::vector<std::string>{"export", archive, std::to_string(row), cli}
                    : std::vector<std::string>{"export", archive, std::to_string(row), dir / "x.bmp", cli};
      ASSERT_EQ(RunCli(dir, args).status, 0);
      EXPECT_EQ(ReadFile(cli), ReadFile(editor)) << textures[row].name << " mode " << mode;
      fs::remove(editor);
      fs::remove(cli);
      fs::remove(dir / "x.bmp");
    }
  }
}

TEST(CliExport, ReplacesAnExistingFileOnlyWithForce) {
  ScratchFolder dir;
  const ModelTexture t = Texture("t", 1, 9, 4, 4, 9);
  WriteFile(dir / "a.pvm", BuildArchive({t}));
  WriteFile(dir / "out.bmp", Bytes(4000, 0xEE));  // longer than the export
  EXPECT_EQ(RunCli(dir, {"export", dir / "a.pvm", "0", dir / "out.bmp"}).status, 1);
  EXPECT_EQ(ReadFile(dir / "out.bmp"), Bytes(4000, 0xEE));

  const Outcome run = RunCli(dir, {"--force", "export", dir / "a.pvm", "0", dir / "out.bmp"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(ReadFile(dir / "out.bmp"), ExportedBmp(t, false));
}

TEST(CliRoundTrip, ExportAllThenImportAllKeepsTheArchive) {
  ScratchFolder dir;
  std::vector<ModelTexture> textures = EveryFormat();
  // Names that cannot be file names as they stand, and chunk fields the writer normalises.
  textures.push_back(Texture("", 0, 9, 4, 4, 10));
  textures.push_back(Texture("Same", 1, 9, 4, 4, 11));
  textures.push_back(Texture("same", 1, 9, 4, 4, 12));
  textures.push_back(Texture("grass_MASK", 2, 9, 4, 4, 13));
  textures.push_back(Texture("con", 2, 9, 4, 4, 14));
  textures.push_back(Texture("a/b", 2, 9, 4, 4, 15));
  textures.push_back(Texture(".hidden", 2, 9, 4, 4, 16));
  textures.push_back(Texture("\xE9t\xE9", 2, 9, 4, 4, 17));
  ModelTexture oddChunk = Texture("oddchunk", 0, 9, 3, 2, 18);
  oddChunk.magic = {'A', 'B', 'C', 'D'};
  oddChunk.reserved = 0x1234;
  oddChunk.padByte = 0x5A;  // data bytes past the texels are kept
  textures.push_back(oddChunk);
  textures.push_back(Texture("other", 2, 15, 8, 8, 19));  // no codec: carried as it is
  // Smaller levels, codebooks and indices (random, so some small-VQ indices are past the
  // codebook) stay as the file made them when the picture comes back unedited.
  for (const uint8_t format : {2, 18, 3, 4, 16, 17})
    for (const uint8_t pixelFormat : {0, 1, 2})
      textures.push_back(LaidOut("f" + std::to_string(format) + "p" + std::to_string(pixelFormat),
                                 pixelFormat, format, format == 4 || format == 17 ? 32 : 16,
                                 uint32_t(20 + 3 * format + pixelFormat)));
  textures.push_back(LaidOut("wide13", 2, 13, 16, 30, 4));
  textures.push_back(LaidOut("tall13", 0, 13, 2, 31, 8));
  textures.push_back(LaidOut("one18", 2, 18, 1, 32));  // spare slots of the 1 x 1 level
  const size_t firstOddName = EveryFormat().size();

  const std::string archive = dir / "a.pvm";
  const Bytes original = BuildArchive(textures);
  WriteFile(archive, original);
  const std::string out = dir / "out";
  const Outcome exported = RunCli(dir, {"export-all", archive, out});
  ASSERT_EQ(exported.status, 0) << exported.err;

  std::set<std::string> files;
  for (const auto& entry : fs::directory_iterator(out)) files.insert(entry.path().filename().string());
  std::set<std::string> expected;
  for (size_t row = 0; row < textures.size(); ++row) {
    const bool kept = row < firstOddName || row >= firstOddName + 8;
    const std::string base = kept ? textures[row].name : "@" + std::to_string(row);
    expected.insert(base + ".bmp");
    expected.insert(base + "_mask.bmp");
  }
  EXPECT_EQ(files, expected);
  EXPECT_EQ(ReadFile(out + "/tw4444.bmp"), ExportedBmp(textures[5], false));
  EXPECT_EQ(ReadFile(out + "/@" + std::to_string(firstOddName + 1) + "_mask.bmp"),
            ExportedBmp(textures[firstOddName + 1], true));

  // A second export refuses to replace the files unless told to.
  EXPECT_EQ(RunCli(dir, {"export-all", archive, out}).status, 1);
  EXPECT_EQ(RunCli(dir, {"export-all", archive, out, "--force"}).status, 0);

  const Outcome imported = RunCli(dir, {"import-all", archive, out, "--backup"});
  ASSERT_EQ(imported.status, 0) << imported.err;
  // All but the texture without a codec, which is named on standard error.
  EXPECT_EQ(imported.out, "Imported " + std::to_string(textures.size() - 1) + " textures into " + archive + "\n");
  EXPECT_NE(imported.err.find("other.bmp was not imported"), std::string::npos) << imported.err;
  EXPECT_EQ(ReadFile(archive), Normalised(textures));
  EXPECT_EQ(ReadFile(dir / "a.BAK"), original);
}

TEST(CliRoundTrip, PngFilesHoldTheBmpPairsPixelsAndImportAsTheyDo) {
  ScratchFolder dir;
  const std::string archive = dir / "a.pvm";
#ifdef QUARNEL_SAMPLE_TOOL
  ASSERT_EQ(std::system((std::string(QUARNEL_SAMPLE_TOOL) + " '" + archive + "'").c_str()), 0);
#else
  WriteFile(archive, BuildArchive(EveryFormat()));
#endif
  const Bytes original = ReadFile(archive);
  ASSERT_EQ(RunCli(dir, {"export-all", archive, dir / "bmp"}).status, 0);
  ASSERT_EQ(RunCli(dir, {"export-all", archive, dir / "png", "--format", "png"}).status, 0);
  // A texture without alpha bits gives an opaque PNG; its BMP mask stays black.
  const Expected<Archive> opened = Archive::Open(archive);
  ASSERT_TRUE(opened);
  const std::vector<std::string> names = BatchFiles::ListedNames(*opened);
  const std::vector<std::string> pngs = BatchFiles::ExportPaths(names, dir / "png", BatchFiles::FileFormat::Png);
  const std::vector<std::string> bmps = BatchFiles::ExportPaths(names, dir / "bmp", BatchFiles::FileFormat::Bmp);
  size_t compared = 0;
  for (size_t row = 0; row < names.size(); ++row) {
    if (!fs::exists(pngs[row])) continue;
    const std::string base = bmps[2 * row];
    const Bytes image = ReadFile(bmps[2 * row]), mask = ReadFile(bmps[2 * row + 1]);
    const bool alphaBits = opened->Entries()[row].texture.HasAlphaBits();
    PngFile::Picture png;
    ASSERT_EQ(PngFile::Read(ReadFile(pngs[row]), uint64_t{1} << 28, png), PngFile::Fault::None);
    const uint32_t w = png.Width, h = png.Height, stride = Stride(int(w));
    ASSERT_GE(image.size(), 54 + size_t(h) * stride);
    ASSERT_EQ(mask.size(), image.size());
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t x = 0; x < w; ++x) {
        const size_t at = 54 + size_t(h - 1 - y) * stride + 3 * x;
        const uint8_t* p = &png.Rgba[(size_t(y) * w + x) * 4];
        if (!alphaBits) {
          ASSERT_EQ(mask[at + 2], 0) << base;
        }
        ASSERT_EQ(Bytes(p, p + 4),
                  (Bytes{image[at + 2], image[at + 1], image[at], alphaBits ? mask[at + 2] : uint8_t(255)}))
            << base << " at " << x << "," << y;
      }
    ++compared;
  }
  EXPECT_GE(compared, 6u);

  // Imports of either kind give the same archive, here the one exported.
  fs::copy_file(archive, dir / "b.pvm");
  // The palette goes along, found by the archive's stem.
  if (fs::exists(dir / "a.pvp")) fs::copy_file(dir / "a.pvp", dir / "b.pvp");
  ASSERT_EQ(RunCli(dir, {"import-all", archive, dir / "bmp"}).status, 0);
  ASSERT_EQ(RunCli(dir, {"import-all", dir / "b.pvm", dir / "png", "--format=png"}).status, 0);
  EXPECT_EQ(ReadFile(dir / "b.pvm"), ReadFile(archive));
  EXPECT_EQ(ReadFile(archive), original);

  // One texture by name, the extension in any letter case.
  ASSERT_EQ(RunCli(dir, {"export", archive, "1", dir / "one.PNG"}).status, 0);
  ASSERT_EQ(RunCli(dir, {"import", archive, "1", dir / "one.PNG"}).status, 0);
  EXPECT_EQ(ReadFile(archive), original);

  // A malformed PNG is refused with the reason, and the archive is not written.
  Bytes cut = ReadFile(dir / "one.PNG");
  cut.resize(cut.size() - 20);
  WriteFile(dir / "bad.png", cut);
  const Outcome bad = RunCli(dir, {"import", archive, "1", dir / "bad.png"});
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.err.find(PngFile::Explain(PngFile::Fault::Truncated)), std::string::npos) << bad.err;
  EXPECT_EQ(ReadFile(archive), original);
}

TEST(CliImport, EncodesTheBitmapsIntoTheTextureAndSavesInPlace) {
  ScratchFolder dir;
  std::vector<ModelTexture> textures = {Texture("keep", 0, 9, 4, 4, 1), Texture("rect", 2, 9, 4, 2, 2),
                                        Texture("twiddled", 0, 1, 4, 4, 3)};
  const std::string archive = dir / "a.pvm";
  const Bytes original = BuildArchive(textures);
  WriteFile(archive, original);

  // Pictures whose channels already sit on the formats' steps, so the model's encoding is
  // exact and the expected texels can be read off directly.
  auto picture = [](int width, int height, uint8_t step) {
    std::vector<Rgba> pixels;
    for (int i = 0; i < width * height; ++i) {
      pixels.push_back({uint8_t(i * step * 3), uint8_t(i * step), uint8_t(255 - i * step),
                        uint8_t(i % 3 == 0 ? 255 : i * step)});
    }
    return pixels;
  };
  const std::vector<Rgba> rect = picture(4, 2, 16);
  WriteFile(dir / "rect.bmp", PlainBmp(4, 2, rect));
  WriteFile(dir / "rect_mask.bmp", PlainBmp(4, 2, rect, true));
  Outcome run = RunCli(dir, {"import", archive, "1", dir / "rect.bmp", dir / "rect_mask.bmp"});
  ASSERT_EQ(run.status, 0) << run.err;
  for (size_t n = 0; n < rect.size(); ++n) textures[1].texels[n] = EncodeTexel(2, rect[n]);
  EXPECT_EQ(ReadFile(archive), BuildArchive(textures));

  // A twiddled texture, without a mask file: every texel keeps its alpha.
  std::vector<Rgba> tw = picture(4, 4, 8);
  WriteFile(dir / "tw.bmp", PlainBmp(4, 4, tw));
  run = RunCli(dir, {"import", archive, "2", dir / "tw.bmp"});
  ASSERT_EQ(run.status, 0) << run.err;
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 4; ++x) {
      Rgba p = tw[size_t(y * 4 + x)];
      p.a = 0;
      uint16_t& texel = textures[2].texels[TwiddleIndex(uint32_t(x), uint32_t(y))];
      texel = uint16_t(EncodeTexel(0, p) | (texel & 0x8000));
    }
  }
  EXPECT_EQ(ReadFile(archive), BuildArchive(textures));
  EXPECT_FALSE(fs::exists(dir / "a.BAK"));
}

TEST(CliImport, BackupIsMadeOnceAndNeverRefreshed) {
  ScratchFolder dir;
  const std::vector<ModelTexture> textures = {Texture("t", 1, 9, 4, 4, 1)};
  const std::string archive = dir / "a.pvm";
  const Bytes original = BuildArchive(textures);
  WriteFile(archive, original);
  WriteFile(dir / "white.bmp", PlainBmp(4, 4, std::vector<Rgba>(16, Rgba{255, 255, 255, 0})));
  WriteFile(dir / "black.bmp", PlainBmp(4, 4, std::vector<Rgba>(16)));

  ASSERT_EQ(RunCli(dir, {"import", archive, "0", dir / "white.bmp", "--backup"}).status, 0);
  EXPECT_EQ(ReadFile(dir / "a.BAK"), original);
  const Bytes afterFirst = ReadFile(archive);
  EXPECT_NE(afterFirst, original);

  ASSERT_EQ(RunCli(dir, {"import", archive, "0", dir / "black.bmp", "--backup"}).status, 0);
  EXPECT_EQ(ReadFile(dir / "a.BAK"), original);  // the older backup stays
  EXPECT_NE(ReadFile(archive), afterFirst);

  // A backup that cannot be made stops the save.
  fs::remove(dir / "a.BAK");
  fs::create_directory(dir / "a.BAK");
  const Bytes before = ReadFile(archive);
  const Outcome run = RunCli(dir, {"import", archive, "0", dir / "white.bmp", "--backup"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("archive was not written"), std::string::npos);
  EXPECT_EQ(ReadFile(archive), before);

  // The editor's rule would name the backup of dir/ab after the folder (dirBAK); refused.
  WriteFile(dir / "ab", original);
  const Outcome shortName = RunCli(dir, {"import", dir / "ab", "0", dir / "white.bmp", "--backup"});
  EXPECT_EQ(shortName.status, 1);
  EXPECT_NE(shortName.err.find("shorter than three characters"), std::string::npos);
  EXPECT_EQ(ReadFile(dir / "ab"), original);
  EXPECT_FALSE(fs::exists(dir.path().string() + "BAK"));

  // Characters give way, not bytes: x.pv\xC3\xA9 is backed up as x.BAK, as in the editor.
  WriteFile(dir / "x.pv\xC3\xA9", original);
  ASSERT_EQ(RunCli(dir, {"import", dir / "x.pv\xC3\xA9", "0", dir / "white.bmp", "--backup"}).status, 0);
  EXPECT_EQ(ReadFile(dir / "x.BAK"), original);
}

}  // namespace
