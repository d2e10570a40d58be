#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "TextureModel.h"
#include "TextureTestSupport.h"
#include "kit/Files.h"
#include "kit/Seams.h"
#include "platform/Files.h"
#include "texture/cPVR.h"

using testkit::BmpFields;
using testing_support::MakeBmp;
using testkit::MessageLog;
using testkit::ReadBytes;
using testkit::ScratchFolder;
using testing_support::SurfaceState;
using testing_support::Texture;
using testkit::WriteBytes;

namespace {

const std::string kWhoops = "Whoops";
const std::string kLazy = "Lazy coder alert: Only 24 bit bitmaps are supported...";

// The file an export must give: the two headers field by field, then the whole buffer.
std::vector<uint8_t> ExpectedExport(int32_t width, int32_t height, const std::vector<uint8_t>& buffer,
                                    int32_t xPels = 0, int32_t yPels = 0) {
  BmpFields f;
  f.width = width;
  f.height = height;
  f.sizeImage = uint32_t(height * model::Stride(width));
  f.xPelsPerMeter = xPels;
  f.yPelsPerMeter = yPels;
  std::vector<uint8_t> out = testkit::BmpHeaders(f, uint32_t(54 + buffer.size()));
  out.insert(out.end(), buffer.begin(), buffer.end());
  return out;
}

// A texture with both surfaces decoded from random data, to check refusals against.
std::unique_ptr<cPVR> DecodedTexture() {
  auto t = Texture(2, 9, 3, 3, model::RandomBytes(18, 77));
  t->PVR2BMP();
  return t;
}

// Runs a load that must be refused and checks that neither surface changed.
void ExpectRefusedLoad(cPVR& t, const std::string& image, const std::string& mask) {
  const SurfaceState imageBefore(t, 0), maskBefore(t, 1);
  EXPECT_FALSE(t.LoadBitMap(image, mask));
  EXPECT_TRUE(SurfaceState(t, 0) == imageBefore) << "image surface changed";
  EXPECT_TRUE(SurfaceState(t, 1) == maskBefore) << "mask surface changed";
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

TEST(BmpExport, A64x64TextureGivesTheDocumentedFile) {
  ScratchFolder folder;
  const auto data = model::RandomBytes(64 * 64 * 2, 1);
  auto t = Texture(0, 9, 64, 64, data);
  t->PVR2BMP();
  ASSERT_TRUE(t->SaveBitmap(0, folder.File("image.bmp")));
  const auto file = ReadBytes(folder.File("image.bmp"));
  ASSERT_EQ(file.size(), 54u + 16384u);
  const auto picture = model::Decode(0, 9, 64, 64, data);
  EXPECT_TRUE(file == ExpectedExport(64, 64, model::SurfaceBytes(picture, false)));
  EXPECT_EQ(std::vector<uint8_t>(file.begin() + 54 + 12288, file.end()),
            std::vector<uint8_t>(4096, 0));
  EXPECT_EQ(t->BitmapPath(0), folder.File("image.bmp"));
}

TEST(BmpExport, A3x2TextureGivesExactlyTheseBytes) {
  ScratchFolder folder;
  // 5-6-5 texels: red, green, blue on the top row; white, black, grey 8 below.
  auto t = Texture(1, 9, 3, 2, {0x00, 0xF8, 0xE0, 0x07, 0x1F, 0x00,
                                0xFF, 0xFF, 0x00, 0x00, 0x41, 0x08});
  t->PVR2BMP();
  ASSERT_TRUE(t->SaveBitmap(0, folder.File("image.bmp")));
  ASSERT_TRUE(t->SaveBitmap(1, folder.File("mask.bmp")));
  const std::vector<uint8_t> header = {
      'B', 'M', 102, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0,  // file header
      40,  0,   0,   0, 3, 0, 0, 0, 2, 0, 0, 0, 1, 0, 24, 0, 0, 0, 0, 0,
      24,  0,   0,   0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  0, 0, 0, 0, 0};
  std::vector<uint8_t> image = header;
  const std::vector<uint8_t> rows = {
      0xF8, 0xFC, 0xF8, 0, 0, 0, 8, 8, 8, 0, 0, 0,           // bottom row, then 3 pad bytes
      0, 0, 0xF8, 0, 0xFC, 0, 0xF8, 0, 0, 0, 0, 0};          // top row
  image.insert(image.end(), rows.begin(), rows.end());
  image.resize(102, 0);  // the buffer's (3 + 3) x 2 x 4 = 48 bytes end in 24 zeros
  EXPECT_EQ(ReadBytes(folder.File("image.bmp")), image);
  std::vector<uint8_t> mask = header;  // 5-6-5 has no alpha: an all-black mask
  mask.resize(102, 0);
  EXPECT_EQ(ReadBytes(folder.File("mask.bmp")), mask);
}

TEST(BmpExport, ExportThenImportGivesTheChunkBackByteForByte) {
  struct Case {
    int order, w, h;
  };
  const Case cases[] = {{9, 1, 1}, {9, 5, 3}, {9, 3, 7}, {9, 33, 9},
                        {1, 1, 1}, {1, 2, 2}, {1, 8, 8}, {1, 32, 32}};
  ScratchFolder folder;
  MessageLog messages(platform::Answer::Yes);
  uint32_t seed = 40;
  for (int format = 0; format <= 2; ++format)
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << "format " << format << " order " << c.order << " "
                                      << c.w << "x" << c.h);
      const auto data = model::RandomBytes(size_t(c.w * c.h * 2), seed++);
      auto original = Texture(format, c.order, c.w, c.h, data);
      ASSERT_TRUE(original->PVR2BMP());
      const std::string image = folder.File("i" + std::to_string(seed) + ".bmp");
      const std::string mask = folder.File("m" + std::to_string(seed) + ".bmp");
      ASSERT_TRUE(original->SaveBitmap(0, image));
      ASSERT_TRUE(original->SaveBitmap(1, mask));
      const auto picture = model::Decode(format, c.order, c.w, c.h, data);
      EXPECT_TRUE(ReadBytes(image) ==
                  ExpectedExport(c.w, c.h, model::SurfaceBytes(picture, false)));
      EXPECT_TRUE(ReadBytes(mask) == ExpectedExport(c.w, c.h, model::SurfaceBytes(picture, true)));

      // Into a texture of the same kind whose data is all zero.
      auto imported = Texture(format, c.order, c.w, c.h, std::vector<uint8_t>(data.size(), 0));
      ASSERT_TRUE(imported->LoadBitMap(image, mask));
      imported->BMP2PVR();
      EXPECT_TRUE(imported->ChunkRecord().Data == data);
    }
  EXPECT_TRUE(messages.messages.empty());
}

TEST(BmpImport, AFileFillsABufferOfTheFilesLengthAndSavesBackAsRead) {
  ScratchFolder folder;
  const auto picture = model::RandomPicture(64, 64, 5);
  WriteBytes(folder.File("in.bmp"), MakeBmp(picture));
  cPVR t;
  ASSERT_TRUE(t.LoadBitMap(folder.File("in.bmp"), ""));
  EXPECT_EQ(t.SurfaceBits(0), model::SurfaceBytes(picture, false, 3));
  EXPECT_EQ(t.SurfaceBits(0).size(), 12288u);
  // Without a mask file the mask is black at the image's size, built as MakeNew builds it.
  EXPECT_EQ(t.SurfaceBits(1), std::vector<uint8_t>(16384, 0));
  EXPECT_EQ(t.SurfaceInfo(1).biWidth, 64);
  EXPECT_EQ(t.Width(), 64);
  EXPECT_EQ(t.Height(), 64);

  ASSERT_TRUE(t.SaveBitmap(0, folder.File("out.bmp")));
  EXPECT_EQ(ReadBytes(folder.File("out.bmp")),
            ExpectedExport(64, 64, model::SurfaceBytes(picture, false, 3)));
}

TEST(BmpImport, WithoutAMaskFileEachTexelKeepsItsAlpha) {
  ScratchFolder folder;
  model::Picture white(8, 8);
  for (auto& c : white.px) c = {255, 255, 255, 255};
  WriteBytes(folder.File("white.bmp"), MakeBmp(white));
  MessageLog replaceOldMask(platform::Answer::Yes);
  for (int format : {0, 2})
    for (int order : {9, 1}) {
      const std::vector<uint8_t> before = model::RandomBytes(128, uint32_t(format + order));
      auto t = Texture(format, order, 8, 8, before);
      t->PVR2BMP();
      ASSERT_TRUE(t->SaveBitmap(1, folder.File("old-mask.bmp")));
      ASSERT_TRUE(t->LoadBitMap(folder.File("white.bmp"), ""));
      EXPECT_EQ(t->BitmapPath(1), folder.File("old-mask.bmp"));  // kept as it was
      t->BMP2PVR();
      const uint16_t white16 = format == 0 ? 0x7FFF : 0x0FFF;
      const uint16_t alphaBits = format == 0 ? 0x8000 : 0xF000;
      for (size_t n = 0; n < 64; ++n)
        ASSERT_EQ(t->ChunkRecord().Data[2 * n] | t->ChunkRecord().Data[2 * n + 1] << 8,
                  white16 | ((before[2 * n] | before[2 * n + 1] << 8) & alphaBits));
    }
}

TEST(BmpImport, AMaskFileGivesItsRedAsAlpha) {
  ScratchFolder folder;
  const auto picture = model::RandomPicture(6, 5, 8);
  WriteBytes(folder.File("image.bmp"), MakeBmp(picture));
  WriteBytes(folder.File("mask.bmp"), MakeBmp(picture, true));
  auto t = Texture(2, 9, 6, 5, std::vector<uint8_t>(60, 0));
  ASSERT_TRUE(t->LoadBitMap(folder.File("image.bmp"), folder.File("mask.bmp")));
  EXPECT_EQ(t->SurfaceBits(1), model::SurfaceBytes(picture, true, 3));
  t->BMP2PVR();
  EXPECT_EQ(t->ChunkRecord().Data,
            model::Encode(2, 9, 6, 5, picture, true, std::vector<uint8_t>(60, 0)));
  EXPECT_EQ(t->BitmapPath(0), folder.File("image.bmp"));
  EXPECT_EQ(t->BitmapPath(1), folder.File("mask.bmp"));
}

TEST(BmpImport, BitmapsOfAnotherSizeAreCroppedOrFilled) {
  ScratchFolder folder;
  for (int side : {64, 16}) {
    const auto picture = model::RandomPicture(side, side, uint32_t(side));
    WriteBytes(folder.File("image.bmp"), MakeBmp(picture));
    WriteBytes(folder.File("mask.bmp"), MakeBmp(picture, true));
    for (int order : {9, 1}) {
      SCOPED_TRACE(testing::Message() << side << " into 32, order " << order);
      const std::vector<uint8_t> zero(32 * 32 * 2, 0);
      auto t = Texture(0, order, 32, 32, zero);
      ASSERT_TRUE(t->LoadBitMap(folder.File("image.bmp"), folder.File("mask.bmp")));
      t->BMP2PVR();
      EXPECT_EQ(t->ChunkRecord().Data, model::Encode(0, order, 32, 32, picture, true, zero));
      EXPECT_EQ(t->ChunkRecord().Width, 32);
      EXPECT_EQ(t->ChunkRecord().Height, 32);
    }
  }
}

TEST(BmpImport, LongerInfoHeadersTopDownRowsAndGapsLoadLikeThePlainFile) {
  ScratchFolder folder;
  const auto picture = model::RandomPicture(5, 3, 9);
  const auto expected = model::SurfaceBytes(picture, false, 3);
  struct Case {
    uint32_t infoSize, gap;
    bool topDown;
  };
  for (Case c : {Case{40, 0, false}, Case{124, 0, false}, Case{108, 10, false},
                 Case{40, 0, true}, Case{56, 3, true}, Case{52, 0, true}}) {
    SCOPED_TRACE(testing::Message() << c.infoSize << " gap " << c.gap << " top-down " << c.topDown);
    BmpFields f;
    f.width = 5;
    f.height = c.topDown ? -3 : 3;
    f.infoSize = c.infoSize;
    f.gap = c.gap;
    f.sizeImage = 12345;  // recomputed, not trusted
    f.xPelsPerMeter = 2835;
    f.yPelsPerMeter = 2836;
    f.clrUsed = 256;  // a colour table the 24-bit rows do not use
    f.clrImportant = 256;
    WriteBytes(folder.File("in.bmp"), MakeBmp(f, picture));
    cPVR t;
    ASSERT_TRUE(t.LoadBitMap(folder.File("in.bmp"), ""));
    EXPECT_EQ(t.SurfaceBits(0), expected);
    const auto& info = t.SurfaceInfo(0);
    EXPECT_EQ(info.biSize, 40u);
    EXPECT_EQ(info.biHeight, 3);
    EXPECT_EQ(info.biSizeImage, 3u * 16u);
    // A later export describes its own 40-byte header, announces no colour table, and
    // keeps the file's resolution.
    ASSERT_TRUE(t.SaveBitmap(0, folder.File("out.bmp")));
    EXPECT_EQ(ReadBytes(folder.File("out.bmp")), ExpectedExport(5, 3, expected, 2835, 2836));
    std::filesystem::remove(folder.File("out.bmp"));
  }
}

TEST(BmpImport, EveryShorterPrefixOfAValidFileIsRefused) {
  ScratchFolder folder;
  const auto picture = model::RandomPicture(3, 2, 10);
  const auto valid = MakeBmp(picture);
  ASSERT_EQ(valid.size(), 54u + 24u);
  WriteBytes(folder.File("valid.bmp"), valid);
  auto t = DecodedTexture();
  MessageLog messages(platform::Answer::Yes);
  for (size_t length = 0; length < valid.size(); ++length) {
    SCOPED_TRACE(length);
    const std::string path = folder.File("prefix" + std::to_string(length) + ".bmp");
    WriteBytes(path, std::vector<uint8_t>(valid.begin(), valid.begin() + ptrdiff_t(length)));
    messages.messages.clear();
    ExpectRefusedLoad(*t, path, "");
    ExpectRefusedLoad(*t, folder.File("valid.bmp"), path);  // the same, as a mask
    ASSERT_EQ(messages.messages.size(), 2u);
    for (const auto& m : messages.messages) {
      EXPECT_TRUE(StartsWith(m.text, path + "\n\n")) << m.text;
      EXPECT_GT(m.text.size(), path.size() + 4);
      EXPECT_EQ(m.title, kWhoops);
      EXPECT_EQ(m.icon, platform::Icon::Critical);
    }
    EXPECT_EQ(t->BitmapPath(1), "");
  }
  EXPECT_EQ(t->BitmapPath(0), folder.File("valid.bmp"));
  EXPECT_TRUE(t->LoadBitMap(folder.File("valid.bmp"), ""));
}

TEST(BmpImport, MalformedFilesAreRefusedWithAMessageNamingThem) {
  ScratchFolder folder;
  const auto picture = model::RandomPicture(3, 2, 11);
  struct Case {
    const char* what;
    std::function<void(BmpFields&)> fields;
    std::function<void(std::vector<uint8_t>&)> bytes;
  };
  const auto none = [](std::vector<uint8_t>&) {};
  const Case cases[] = {
      {"not BM", [](BmpFields&) {}, [](std::vector<uint8_t>& b) { b[0] = 'P'; }},
      {"old 12-byte header", [](BmpFields& f) { f.infoSize = 12; }, none},
      {"compressed", [](BmpFields& f) { f.compression = 1; }, none},
      {"bit fields", [](BmpFields& f) { f.compression = 3; }, none},
      {"two planes", [](BmpFields& f) { f.planes = 2; }, none},
      {"width 0", [](BmpFields& f) { f.width = 0; }, none},
      {"negative width", [](BmpFields& f) { f.width = -3; }, none},
      {"height 0", [](BmpFields& f) { f.height = 0; }, none},
      {"rows start inside the header", [](BmpFields& f) { f.offBits = 20; }, none},
      {"rows start past the end", [](BmpFields&) {},
       [](std::vector<uint8_t>& b) { b[10] = uint8_t(b.size() + 1); b[11] = 0; }},
      {"more rows than the file holds", [](BmpFields&) {},
       [](std::vector<uint8_t>& b) { b[22] = 3; }},
      {"absurd width", [](BmpFields&) {},
       [](std::vector<uint8_t>& b) { b[18] = b[19] = b[20] = 0xFF; b[21] = 0x7F; }},
      {"height -2^31", [](BmpFields&) {},
       [](std::vector<uint8_t>& b) { b[22] = b[23] = b[24] = 0; b[25] = 0x80; }},
      {"header size 2^32 - 1", [](BmpFields&) {},
       [](std::vector<uint8_t>& b) { b[14] = b[15] = b[16] = b[17] = 0xFF; }},
  };
  auto t = DecodedTexture();
  MessageLog messages(platform::Answer::Yes);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    BmpFields f;
    f.width = 3;
    f.height = 2;
    c.fields(f);
    model::Picture p(std::max(f.width, 1), std::max(std::abs(f.height), 1));
    auto bytes = MakeBmp(f, p);
    c.bytes(bytes);
    const std::string path = folder.File("bad.bmp");
    WriteBytes(path, bytes);
    messages.messages.clear();
    ExpectRefusedLoad(*t, path, "");
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_TRUE(StartsWith(messages.messages[0].text, path + "\n\n")) << messages.messages[0].text;
    EXPECT_EQ(messages.messages[0].title, kWhoops);
    EXPECT_EQ(messages.messages[0].icon, platform::Icon::Critical);
    EXPECT_EQ(t->BitmapPath(0), "");
  }
}

TEST(BmpImport, OnlyTwentyFourBitFilesAreTaken) {
  ScratchFolder folder;
  BmpFields eight;
  eight.width = 4;
  eight.height = 4;
  eight.bitCount = 8;
  WriteBytes(folder.File("eight.bmp"), MakeBmp(eight, model::Picture(4, 4)));
  WriteBytes(folder.File("good.bmp"), MakeBmp(model::RandomPicture(4, 4, 12)));
  auto t = DecodedTexture();
  MessageLog messages(platform::Answer::Yes);

  ExpectRefusedLoad(*t, folder.File("eight.bmp"), folder.File("good.bmp"));
  ASSERT_EQ(messages.messages.size(), 1u);
  EXPECT_EQ(messages.messages[0].text, kLazy);
  EXPECT_EQ(messages.messages[0].title, "Quarnel");
  EXPECT_EQ(messages.messages[0].icon, platform::Icon::None);
  EXPECT_EQ(messages.messages[0].buttons, platform::Buttons::Ok);
  EXPECT_EQ(t->BitmapPath(0), "");
  EXPECT_EQ(t->BitmapPath(1), folder.File("good.bmp"));

  // As the mask: the image is not loaded either.
  ExpectRefusedLoad(*t, folder.File("good.bmp"), folder.File("eight.bmp"));
  EXPECT_EQ(messages.messages.back().text, kLazy);
  EXPECT_EQ(t->BitmapPath(0), folder.File("good.bmp"));
  EXPECT_EQ(t->BitmapPath(1), "");
  EXPECT_TRUE(t->HasSurface(0));
}

TEST(BmpImport, AMaskOfAnotherSizeIsRefused) {
  ScratchFolder folder;
  WriteBytes(folder.File("image.bmp"), MakeBmp(model::RandomPicture(4, 4, 13)));
  WriteBytes(folder.File("mask.bmp"), MakeBmp(model::RandomPicture(4, 3, 14), true));
  auto t = DecodedTexture();
  MessageLog messages(platform::Answer::Yes);
  ExpectRefusedLoad(*t, folder.File("image.bmp"), folder.File("mask.bmp"));
  ASSERT_EQ(messages.messages.size(), 1u);
  EXPECT_TRUE(StartsWith(messages.messages[0].text, folder.File("mask.bmp") + "\n\n"));
  EXPECT_NE(messages.messages[0].text.find("4 x 3"), std::string::npos);
  EXPECT_EQ(t->BitmapPath(0), folder.File("image.bmp"));
  EXPECT_EQ(t->BitmapPath(1), "");
}

TEST(BmpImport, MissingFilesAreNamedAndNothingIsLoaded) {
  ScratchFolder folder;
  WriteBytes(folder.File("image.bmp"), MakeBmp(model::RandomPicture(2, 2, 15)));
  std::filesystem::create_directory(folder.File("folder.bmp"));
  auto t = DecodedTexture();
  MessageLog messages(platform::Answer::Yes);

  for (const std::string& missing : {folder.File("nowhere.bmp"), folder.File("folder.bmp")}) {
    messages.messages.clear();
    ExpectRefusedLoad(*t, missing, folder.File("image.bmp"));
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(messages.messages[0].text, missing + "\n\nThis file does not exist.");
    EXPECT_EQ(messages.messages[0].title, kWhoops);
    EXPECT_EQ(messages.messages[0].icon, platform::Icon::Critical);
    EXPECT_EQ(t->BitmapPath(0), "");
  }

  messages.messages.clear();
  ExpectRefusedLoad(*t, folder.File("image.bmp"), folder.File("nowhere.bmp"));
  ASSERT_EQ(messages.messages.size(), 1u);
  EXPECT_EQ(messages.messages[0].text, folder.File("nowhere.bmp") + "\n\nThis file does not exist.");
  EXPECT_EQ(t->BitmapPath(0), folder.File("image.bmp"));
  EXPECT_EQ(t->BitmapPath(1), "");
}

TEST(BmpImport, AnEmptyImagePathLoadsTheLastOneAgain) {
  ScratchFolder folder;
  const auto first = model::RandomPicture(2, 2, 16);
  const auto second = model::RandomPicture(2, 2, 17);
  WriteBytes(folder.File("image.bmp"), MakeBmp(first));
  cPVR t;
  ASSERT_TRUE(t.LoadBitMap(folder.File("image.bmp"), ""));
  WriteBytes(folder.File("image.bmp"), MakeBmp(second));
  ASSERT_TRUE(t.LoadBitMap("", ""));
  EXPECT_EQ(t.SurfaceBits(0), model::SurfaceBytes(second, false, 3));
}

TEST(BmpImport, AFileTooLargeToBeATextureIsNotRead) {
  ScratchFolder folder;
  const std::string path = folder.File("huge.bmp");
  WriteBytes(path, MakeBmp(model::Picture(1, 1)));
  // A sparse file of 600 MB: refused by its size, before anything is read.
  ASSERT_EQ(::truncate(path.c_str(), off_t(600) << 20), 0);
  auto t = DecodedTexture();
  MessageLog messages(platform::Answer::Yes);
  ExpectRefusedLoad(*t, path, "");
  ASSERT_EQ(messages.messages.size(), 1u);
  EXPECT_TRUE(StartsWith(messages.messages[0].text, path + "\n\n"));
}

TEST(BmpExport, AsksBeforeReplacingAFile) {
  ScratchFolder folder;
  const std::string path = folder.File("taken.bmp");
  const std::vector<uint8_t> longer(100000, 0x55);
  WriteBytes(path, longer);
  auto t = Texture(0, 9, 4, 4, model::RandomBytes(32, 18));
  t->PVR2BMP();
  {
    MessageLog no(platform::Answer::No);
    EXPECT_FALSE(t->SaveBitmap(0, path));
    ASSERT_EQ(no.messages.size(), 1u);
    EXPECT_EQ(no.messages[0].text, "Do you want to over write the file:\n\n" + path);
    EXPECT_EQ(no.messages[0].title, "Hold up!");
    EXPECT_EQ(no.messages[0].buttons, platform::Buttons::YesNo);
    EXPECT_EQ(no.messages[0].icon, platform::Icon::Question);
    EXPECT_EQ(ReadBytes(path), longer);
    EXPECT_EQ(t->BitmapPath(0), "");
  }
  {
    MessageLog yes(platform::Answer::Yes);
    EXPECT_TRUE(t->SaveBitmap(0, path));
    EXPECT_EQ(ReadBytes(path).size(), 54u + t->SurfaceBits(0).size());
    EXPECT_EQ(t->BitmapPath(0), path);
    // An empty path writes to the last one (asking again).
    EXPECT_TRUE(t->SaveBitmap(0, ""));
    EXPECT_EQ(yes.messages.size(), 2u);
  }
}

TEST(BmpExport, NothingIsWrittenForASurfaceNeverBuilt) {
  ScratchFolder folder;
  MessageLog messages(platform::Answer::Yes);
  cPVR t;
  EXPECT_FALSE(t.SaveBitmap(0, folder.File("a.bmp")));
  EXPECT_FALSE(t.SaveBitmap(1, folder.File("a.bmp")));
  t.MakeNew(2, 2, 0);
  EXPECT_FALSE(t.SaveBitmap(2, folder.File("a.bmp")));
  EXPECT_FALSE(std::filesystem::exists(folder.File("a.bmp")));
  EXPECT_TRUE(messages.messages.empty());
}

TEST(BmpExport, AFailedWriteIsReportedAndLeavesNoFile) {
  ScratchFolder folder;
  const std::string path = folder.File("out.bmp");
  auto t = Texture(0, 9, 4, 4, model::RandomBytes(32, 19));
  t->PVR2BMP();
  MessageLog messages(platform::Answer::Yes);
  auto previous = platform::SetReplaceFaultHook(
      [](platform::ReplaceStep step) { return step == platform::ReplaceStep::Write ? ENOSPC : 0; });
  EXPECT_FALSE(t->SaveBitmap(0, path));
  platform::SetReplaceFaultHook(previous);
  EXPECT_FALSE(std::filesystem::exists(path));
  ASSERT_EQ(messages.messages.size(), 1u);
  EXPECT_TRUE(StartsWith(messages.messages[0].text, path + "\n\n"));
  EXPECT_EQ(messages.messages[0].title, kWhoops);
  EXPECT_EQ(t->BitmapPath(0), "");
}
