// Export and import files: BMP image and mask, and PNG, read into and written from RGBA
// pictures, byte for byte as the classic editor wrote them.
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <functional>

#include "TextureModel.h"
#include "TextureTestSupport.h"
#include "kit/BmpBuilder.h"
#include "kit/Files.h"
#include "platform/Files.h"
#include "texture/PictureFiles.h"
#include "texture/Texture.h"

namespace {

using Bytes = std::vector<uint8_t>;
using PictureFiles::Export;
using testkit::BmpFields;
using testkit::ReadBytes;

const std::string kLazy = "Lazy coder alert: Only 24 bit bitmaps are supported...";

Texture Make(int pixelFormat, int dataFormat, int w, int h, Bytes data) {
  return testing_support::MakeTexture(pixelFormat, dataFormat, w, h, std::move(data));
}

// A BMP file of the picture's colours (or its alpha as red, for a mask); fields left at
// their 1 x 1 default take the picture's size.
Bytes Bmp(const model::Picture& p, bool mask = false, BmpFields f = {}) {
  if (f.width == 1 && f.height == 1) f.width = p.w, f.height = p.h;
  return testkit::BuildBmp(f, [&](int x, int y) {
    const model::Rgba c = p.at(x, y);
    return mask ? std::array<uint8_t, 3>{0, 0, c.a} : std::array<uint8_t, 3>{c.b, c.g, c.r};
  });
}

// The file an export must give: the two headers field by field, then the pixel bytes.
Bytes ExpectedExport(int32_t width, int32_t height, const Bytes& bits, int32_t xPels = 0, int32_t yPels = 0) {
  BmpFields f;
  f.width = width;
  f.height = height;
  f.sizeImage = uint32_t(height * model::Stride(width));
  f.xPelsPerMeter = xPels;
  f.yPelsPerMeter = yPels;
  Bytes out = testkit::BmpHeaders(f, uint32_t(54 + bits.size()));
  out.insert(out.end(), bits.begin(), bits.end());
  return out;
}

// Writes the three exports of a texture into folder as NAME.bmp, NAME_mask.bmp, NAME.png.
void ExportAll(const Texture& t, const testkit::ScratchFolder& folder, const std::string& name) {
  const std::optional<Image> decoded = t.Decode();
  ASSERT_TRUE(decoded);
  EXPECT_FALSE(PictureFiles::Write(folder / (name + ".bmp"), *decoded, Export::BmpImage, t.HasAlphaBits(), {}));
  EXPECT_FALSE(PictureFiles::Write(folder / (name + "_mask.bmp"), *decoded, Export::BmpMask, t.HasAlphaBits(), {}));
  EXPECT_FALSE(PictureFiles::Write(folder / (name + ".png"), *decoded, Export::Png, t.HasAlphaBits(), {}));
}

// Imports the files into a texture like `t` whose data is all zero, and returns the data.
Bytes ImportedData(Texture t, const std::string& image, const std::string& mask) {
  std::fill(t.data.begin(), t.data.end(), 0);
  const Expected<PictureFiles::Picture> picture = PictureFiles::Read(image, mask);
  EXPECT_TRUE(picture) << picture.error().text;
  if (picture) t.Encode(*t.Fit(picture->image, picture->hasAlpha));
  return {t.data.begin(), t.data.end()};
}

// Small enough to write by hand: every byte of both exports of two textures, and their
// import back. 5-6-5 has no alpha bits, so its mask is black.
TEST(PictureFiles, ExportsOfSmallTexturesAreExactlyTheseBytes) {
  testkit::ScratchFolder folder;
  // Red, green, blue on the top row; white, black, grey 8 below.
  const Texture rgb = Make(1, 9, 3, 2, {0x00, 0xF8, 0xE0, 0x07, 0x1F, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0x41, 0x08});
  // Two texels: half-transparent pure red, opaque blue.
  const Texture argb = Make(2, 9, 2, 1, {0x00, 0x8F, 0x0F, 0xF0});
  const auto header = [](uint8_t size, uint8_t w, uint8_t h, uint8_t sizeImage) {
    return Bytes{'B', 'M', size, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0,  // file header
                 40, 0, 0, 0, w, 0, 0, 0, h, 0, 0, 0, 1, 0, 24, 0, 0, 0, 0, 0,
                 sizeImage, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  };
  // (3 + 3) x 2 x 4 = 48 pixel bytes, the last 24 zeros; (2 + 2) x 1 x 4 = 16, the last 8.
  Bytes rgbImage = header(102, 3, 2, 24), rgbMask = rgbImage, argbImage = header(70, 2, 1, 8), argbMask = argbImage;
  rgbImage.insert(rgbImage.end(), {0xF8, 0xFC, 0xF8, 0, 0, 0, 8, 8, 8, 0, 0, 0,      // bottom row, 3 pad bytes
                                   0, 0, 0xF8, 0, 0xFC, 0, 0xF8, 0, 0, 0, 0, 0});   // top row
  argbImage.insert(argbImage.end(), {0, 0, 0xF0, 0xF0, 0, 0, 0, 0});
  argbMask.insert(argbMask.end(), {0, 0, 0x80, 0, 0, 0xF0, 0, 0});
  for (Bytes* b : {&rgbImage, &rgbMask}) b->resize(102, 0);
  for (Bytes* b : {&argbImage, &argbMask}) b->resize(70, 0);

  for (const auto& [t, image, mask] :
       std::vector<std::tuple<const Texture*, Bytes, Bytes>>{{&rgb, rgbImage, rgbMask}, {&argb, argbImage, argbMask}}) {
    SCOPED_TRACE(t->width);
    ExportAll(*t, folder, "t");
    EXPECT_EQ(ReadBytes(folder / "t.bmp"), image);
    EXPECT_EQ(ReadBytes(folder / "t_mask.bmp"), mask);
    EXPECT_EQ(ImportedData(*t, folder / "t.bmp", folder / "t_mask.bmp"), t->data);
    EXPECT_EQ(ImportedData(*t, folder / "t.png", ""), t->data);
  }
}

TEST(PictureFiles, ExportThenImportGivesTheTextureBackByteForByte) {
  struct Case {
    int order, w, h;
  };
  const Case cases[] = {{9, 1, 1}, {9, 5, 3}, {9, 3, 7}, {9, 33, 9}, {9, 64, 64},
                        {1, 1, 1}, {1, 2, 2}, {1, 8, 8}, {1, 32, 32}};
  testkit::ScratchFolder folder;
  uint32_t seed = 40;
  for (int format = 0; format <= 2; ++format)
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << "format " << format << " order " << c.order << " " << c.w << "x" << c.h);
      const Texture t = Make(format, c.order, c.w, c.h, model::RandomBytes(size_t(c.w * c.h * 2), seed++));
      ExportAll(t, folder, "t");
      model::Picture picture = model::Decode(format, c.order, c.w, c.h, t.data);
      EXPECT_TRUE(ReadBytes(folder / "t.bmp") == ExpectedExport(c.w, c.h, model::BmpBits(picture, false)));
      if (format == 1)
        for (model::Rgba& p : picture.px) p.a = 0;  // a black mask
      EXPECT_TRUE(ReadBytes(folder / "t_mask.bmp") == ExpectedExport(c.w, c.h, model::BmpBits(picture, true)));
      EXPECT_TRUE(ImportedData(t, folder / "t.bmp", folder / "t_mask.bmp") == t.data);
      EXPECT_TRUE(ImportedData(t, folder / "t.png", folder / "ignored") == t.data);
    }
}

// A mask file gives alpha in its red bytes; a PNG gives alpha when it has an alpha channel
// or transparency. Without either every alpha byte is 255 and means nothing.
TEST(PictureFiles, AlphaComesFromTheMaskOrThePng) {
  testkit::ScratchFolder folder;
  const model::Picture picture = model::RandomPicture(6, 5, 8);
  const std::string image = folder.Write("image.bmp", Bmp(picture)), mask = folder.Write("mask.bmp", Bmp(picture, true));
  const Expected<PictureFiles::Picture> withMask = PictureFiles::Read(image, mask);
  ASSERT_TRUE(withMask);
  EXPECT_TRUE(withMask->hasAlpha);
  EXPECT_TRUE(withMask->image == model::ToImage(picture));
  const Expected<PictureFiles::Picture> alone = PictureFiles::Read(image, "");
  ASSERT_TRUE(alone);
  EXPECT_FALSE(alone->hasAlpha);
  EXPECT_EQ(alone->maskResolution, std::nullopt);
  model::Picture opaque = picture;
  for (model::Rgba& p : opaque.px) p.a = 255;
  EXPECT_TRUE(alone->image == model::ToImage(opaque));

  ASSERT_FALSE(PictureFiles::Write(folder / "out.png", model::ToImage(picture), Export::Png, true, {}));
  const Expected<PictureFiles::Picture> png = PictureFiles::Read(folder / "out.png", mask);
  ASSERT_TRUE(png);
  EXPECT_TRUE(png->hasAlpha);
  EXPECT_TRUE(png->image == model::ToImage(picture));
}

TEST(PictureFiles, LongerInfoHeadersTopDownRowsAndGapsReadLikeThePlainFile) {
  testkit::ScratchFolder folder;
  const model::Picture picture = model::RandomPicture(5, 3, 9);
  model::Picture opaque = picture;
  for (model::Rgba& p : opaque.px) p.a = 255;
  const struct {
    uint32_t infoSize, gap;
    bool topDown;
  } cases[] = {{40, 0, false}, {124, 0, false}, {108, 10, false}, {40, 0, true}, {56, 3, true}, {52, 0, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.infoSize << " gap " << c.gap << " top-down " << c.topDown);
    BmpFields f;
    f.width = 5;
    f.height = c.topDown ? -3 : 3;
    f.infoSize = c.infoSize;
    f.gap = c.gap;
    f.sizeImage = 12345;  // recomputed, not trusted
    f.xPelsPerMeter = 2835;
    f.yPelsPerMeter = 2836;
    f.clrUsed = f.clrImportant = 256;  // a colour table the 24-bit rows do not use
    const Expected<PictureFiles::Picture> read = PictureFiles::Read(folder.Write("in.bmp", Bmp(picture, false, f)), "");
    ASSERT_TRUE(read);
    EXPECT_TRUE(read->image == model::ToImage(opaque));
    ASSERT_EQ(read->imageResolution, (BmpFile::Resolution{2835, 2836}));
    // A later export describes its own 40-byte header, announces no colour table, and
    // keeps the file's resolution.
    EXPECT_EQ(PictureFiles::Encode(read->image, Export::BmpImage, true, *read->imageResolution),
              ExpectedExport(5, 3, model::BmpBits(opaque, false), 2835, 2836));
  }
}

// ---- Refusals, in the words the editor shows -------------------------------------------

Error Whoops(const std::string& path, const std::string& text) { return {"Whoops", path + "\n\n" + text, Icon::Critical}; }

void ExpectRefusalNaming(const Expected<PictureFiles::Picture>& read, const std::string& path) {
  ASSERT_FALSE(read);
  EXPECT_EQ(read.error().title, "Whoops");
  EXPECT_EQ(read.error().icon, Icon::Critical);
  EXPECT_EQ(read.error().text.rfind(path + "\n\n", 0), 0u) << read.error().text;
  EXPECT_GT(read.error().text.size(), path.size() + 4);
}

TEST(PictureFiles, EveryShorterPrefixOfAValidBmpIsRefused) {
  testkit::ScratchFolder folder;
  const Bytes valid = Bmp(model::RandomPicture(3, 2, 10));
  ASSERT_EQ(valid.size(), 54u + 24u);
  const std::string whole = folder.Write("valid.bmp", valid);
  for (size_t length = 0; length < valid.size(); ++length) {
    SCOPED_TRACE(length);
    const std::string path = folder.Write("prefix.bmp", Bytes(valid.begin(), valid.begin() + ptrdiff_t(length)));
    ExpectRefusalNaming(PictureFiles::Read(path, ""), path);
    ExpectRefusalNaming(PictureFiles::Read(whole, path), path);  // the same, as a mask
  }
}

TEST(PictureFiles, MalformedBmpsAreRefusedNamingThem) {
  testkit::ScratchFolder folder;
  const auto none = [](Bytes&) {};
  const struct {
    const char* what;
    std::function<void(BmpFields&)> fields;
    std::function<void(Bytes&)> bytes;
  } cases[] = {
      {"not BM", [](BmpFields&) {}, [](Bytes& b) { b[0] = 'P'; }},
      {"old 12-byte header", [](BmpFields& f) { f.infoSize = 12; }, none},
      {"compressed", [](BmpFields& f) { f.compression = 1; }, none},
      {"bit fields", [](BmpFields& f) { f.compression = 3; }, none},
      {"two planes", [](BmpFields& f) { f.planes = 2; }, none},
      {"width 0", [](BmpFields& f) { f.width = 0; }, none},
      {"negative width", [](BmpFields& f) { f.width = -3; }, none},
      {"height 0", [](BmpFields& f) { f.height = 0; }, none},
      {"rows start inside the header", [](BmpFields& f) { f.offBits = 20; }, none},
      {"rows start past the end", [](BmpFields&) {}, [](Bytes& b) { b[10] = uint8_t(b.size() + 1), b[11] = 0; }},
      {"more rows than the file holds", [](BmpFields&) {}, [](Bytes& b) { b[22] = 3; }},
      {"absurd width", [](BmpFields&) {}, [](Bytes& b) { b[18] = b[19] = b[20] = 0xFF, b[21] = 0x7F; }},
      {"height -2^31", [](BmpFields&) {}, [](Bytes& b) { b[22] = b[23] = b[24] = 0, b[25] = 0x80; }},
      {"header size 2^32 - 1", [](BmpFields&) {}, [](Bytes& b) { b[14] = b[15] = b[16] = b[17] = 0xFF; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    BmpFields f;
    f.width = 3;
    f.height = 2;
    c.fields(f);
    Bytes bytes = testkit::BuildBmp(f, [](int, int) { return std::array<uint8_t, 3>{}; });
    c.bytes(bytes);
    const std::string path = folder.Write("bad.bmp", bytes);
    ExpectRefusalNaming(PictureFiles::Read(path, ""), path);
  }
}

TEST(PictureFiles, RefusalsSayWhatIsWrongWithWhichFile) {
  testkit::ScratchFolder folder;
  BmpFields eight;
  eight.bitCount = 8;
  const std::string good = folder.Write("good.bmp", Bmp(model::RandomPicture(4, 4, 12)));
  const std::string eightBit = folder.Write("eight.bmp", Bmp(model::Picture(4, 4), false, eight));
  const std::string other = folder.Write("mask.bmp", Bmp(model::RandomPicture(4, 3, 14), true));
  const std::string missing = folder / "nowhere.bmp", dir = folder / "folder.bmp";
  std::filesystem::create_directory(dir);
  const std::string huge = folder.Write("huge.bmp", Bmp(model::Picture(1, 1)));
  ASSERT_EQ(::truncate(huge.c_str(), off_t(600) << 20), 0);  // sparse: refused by its size, unread
  const Error lazy{"", kLazy, Icon::None};

  const struct {
    std::string image, mask;
    Error error;
  } cases[] = {
      {eightBit, good, lazy},
      {good, eightBit, lazy},
      {missing, good, Whoops(missing, "This file does not exist.")},
      {dir, good, Whoops(dir, "This file does not exist.")},
      {good, missing, Whoops(missing, "This file does not exist.")},
      {good, other, Whoops(other, "This mask is 4 x 3 pixels, but the image is 4 x 4. A mask must have the image's size.")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.image + " " + c.mask);
    const Expected<PictureFiles::Picture> read = PictureFiles::Read(c.image, c.mask);
    ASSERT_FALSE(read);
    EXPECT_EQ(read.error(), c.error);
  }
  ExpectRefusalNaming(PictureFiles::Read(huge, ""), huge);
}

TEST(PictureFiles, AFailedWriteSaysSoAndLeavesNoFile) {
  testkit::ScratchFolder folder;
  const std::string path = folder / "out.bmp";
  const Image picture = model::ToImage(model::Picture(4, 4));
  auto previous = platform::SetReplaceFaultHook(
      [](platform::ReplaceStep step) { return step == platform::ReplaceStep::Write ? ENOSPC : 0; });
  const Failure failure = PictureFiles::Write(path, picture, Export::BmpImage, true, {});
  platform::SetReplaceFaultHook(previous);
  ASSERT_TRUE(failure);
  EXPECT_EQ(failure->title, "Whoops");
  EXPECT_EQ(failure->text.rfind(path + "\n\nThis file could not be written.\n", 0), 0u) << failure->text;
  EXPECT_TRUE(folder.Entries().empty());
  EXPECT_FALSE(PictureFiles::Encode(Image{}, Export::BmpImage, true, {}));  // nothing to write
}

}  // namespace
