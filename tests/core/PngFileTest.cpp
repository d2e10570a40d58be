#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <csetjmp>
#include <functional>
#include <string>
#include <vector>

#include "kit/BmpBuilder.h"
#include "kit/Files.h"
#include "texture/PictureFiles.h"
#include "texture/PngFile.h"

namespace {

using testkit::ScratchFolder;

constexpr uint64_t kLimit = uint64_t{256} << 20;

// What a test PNG holds: packed rows of samples as the file stores them.
struct Source {
  uint32_t w, h;
  int colourType, depth, interlace = PNG_INTERLACE_NONE;
  std::vector<uint8_t> rows;  // h rows of equal length
  std::vector<png_color> palette = {};
  std::vector<uint8_t> trns = {};  // palette alphas, or one grey sample (8-bit)
};

void Append(png_structp png, png_bytep bytes, size_t n) {
  auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), bytes, bytes + n);
}

// Encodes with libpng itself; the setjmp frame holds nothing with a destructor.
bool EncodeInto(png_structp png, png_infop info, const Source& s) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_IHDR(png, info, s.w, s.h, s.depth, s.colourType, s.interlace, 0, 0);
  if (!s.palette.empty()) png_set_PLTE(png, info, s.palette.data(), int(s.palette.size()));
  png_color_16 grey{};
  if (!s.trns.empty()) grey.gray = s.trns[0];
  if (!s.trns.empty())
    png_set_tRNS(png, info, s.trns.data(), s.palette.empty() ? 0 : int(s.trns.size()), &grey);
  png_write_info(png, info);
  const size_t stride = s.rows.size() / s.h;
  for (int pass = png_set_interlace_handling(png); pass > 0; --pass)
    for (uint32_t y = 0; y < s.h; ++y) png_write_row(png, s.rows.data() + y * stride);
  png_write_end(png, info);
  return true;
}

std::vector<uint8_t> Encode(const Source& s) {
  std::vector<uint8_t> out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_set_write_fn(png, &out, Append, [](png_structp) {});
  const bool ok = EncodeInto(png, info, s);
  png_destroy_write_struct(&png, &info);
  EXPECT_TRUE(ok);
  return out;
}

void PutU32At(std::vector<uint8_t>& f, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) f[at + size_t(i)] = uint8_t(v >> (24 - 8 * i));
}

// Recomputes the CRC of the chunk starting at `at`, so a test reaches the checks past it.
void FixCrc(std::vector<uint8_t>& f, size_t at) {
  const uint32_t length = uint32_t(f[at]) << 24 | f[at + 1] << 16 | f[at + 2] << 8 | f[at + 3];
  PutU32At(f, at + 8 + length, uint32_t(crc32(0, f.data() + at + 4, length + 4)));
}

constexpr size_t kIhdr = 8, kIdat = 33;  // chunk offsets in a file without ancillary chunks

// Gives the header another width and height, and the CRC that goes with them.
void Resize(std::vector<uint8_t>& f, uint32_t w, uint32_t h) {
  PutU32At(f, kIhdr + 8, w), PutU32At(f, kIhdr + 12, h), FixCrc(f, kIhdr);
}

const Source kRgb3x2{3, 2, PNG_COLOR_TYPE_RGB, 8, PNG_INTERLACE_NONE,
                     {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18}};

}  // namespace

TEST(PngRead, ExpandsEveryColourTypeToRgba) {
  const std::vector<png_color> palette = {{10, 20, 30}, {40, 50, 60}, {70, 80, 90}};
  struct Case {
    const char* name;
    Source source;
    std::vector<uint8_t> rgba;
    bool hasAlpha;
  } cases[] = {
      {"palette, tRNS", {3, 1, 3, 8, 0, {0, 1, 2}, palette, {0, 128}},
       {10, 20, 30, 0, 40, 50, 60, 128, 70, 80, 90, 255}, true},
      {"palette, 2-bit", {3, 1, 3, 2, 0, {0b00011000}, palette},
       {10, 20, 30, 255, 40, 50, 60, 255, 70, 80, 90, 255}, false},
      {"grey, 1-bit", {3, 1, 0, 1, 0, {0b10100000}},
       {255, 255, 255, 255, 0, 0, 0, 255, 255, 255, 255, 255}, false},
      {"grey, 4-bit", {2, 1, 0, 4, 0, {0x5F}}, {85, 85, 85, 255, 255, 255, 255, 255}, false},
      {"grey, tRNS", {2, 1, 0, 8, 0, {7, 8}, {}, {7}}, {7, 7, 7, 0, 8, 8, 8, 255}, true},
      {"grey and alpha", {1, 1, 4, 8, 0, {9, 200}}, {9, 9, 9, 200}, true},
      // 0x00FF scales to 1: the samples are rounded, not cut to their high byte.
      {"RGB, 16-bit", {1, 1, 2, 16, 0, {0x80, 0x80, 0x00, 0xFF, 0xFF, 0xFF}}, {128, 1, 255, 255},
       false},
      {"RGBA, 16-bit", {1, 1, 6, 16, 0, {0, 0, 0x12, 0x34, 0xFF, 0xFF, 0x01, 0x01}},
       {0, 18, 255, 1}, true},
      {"RGB, interlaced", {3, 2, 2, 8, PNG_INTERLACE_ADAM7, kRgb3x2.rows},
       {1, 2, 3, 255, 4, 5, 6, 255, 7, 8, 9, 255, 10, 11, 12, 255, 13, 14, 15, 255, 16, 17, 18,
        255}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PngFile::Picture picture;
    ASSERT_EQ(PngFile::Read(Encode(c.source), kLimit, picture), PngFile::Fault::None);
    EXPECT_EQ(picture.Width, c.source.w);
    EXPECT_EQ(picture.Height, c.source.h);
    EXPECT_EQ(picture.Rgba, c.rgba);
    EXPECT_EQ(picture.HasAlpha, c.hasAlpha);
  }
}

TEST(PngRead, RefusesHostileFilesAndKeepsThePicture) {
  using Fault = PngFile::Fault;
  const std::vector<uint8_t> good = Encode(kRgb3x2);
  struct Case {
    const char* name;
    std::function<void(std::vector<uint8_t>&)> spoil;
    Fault fault;
  } cases[] = {
      {"a BMP", [](auto& f) { f[0] = 'B', f[1] = 'M'; }, Fault::NotAPng},
      {"bad CRC", [](auto& f) { f[kIdat + 9] ^= 1; }, Fault::BadChecksum},
      {"no IEND", [](auto& f) { f.resize(f.size() - 12); }, Fault::Truncated},
      {"chunk longer than PNG allows", [](auto& f) { PutU32At(f, kIdat, 0x80000000); },
       Fault::Damaged},
      {"IDAT first", [](auto& f) { f[kIhdr + 4] = 'X', FixCrc(f, kIhdr); }, Fault::Damaged},
      {"bad zlib data", [](auto& f) { f[kIdat + 8] = 0xFF, FixCrc(f, kIdat); }, Fault::Damaged},
      {"RGB of 4 bits", [](auto& f) { f[kIhdr + 16] = 4, FixCrc(f, kIhdr); }, Fault::Damaged},
      {"width 0", [](auto& f) { Resize(f, 0, 2); }, Fault::BadSize},
      {"width 2^31", [](auto& f) { Resize(f, 1u << 31, 2); }, Fault::BadSize},
      {"65536 x 65536", [](auto& f) { Resize(f, 65536, 65536); }, Fault::TooLarge},
      {"a 20-million-pixel row", [](auto& f) { Resize(f, 20'000'000, 1); }, Fault::TooLarge},
      // 8192 x 8192 RGBA, exactly the limit, over 20 bytes of image data.
      {"decompression bomb", [](auto& f) { f[kIhdr + 17] = 6, Resize(f, 8192, 8192); },
       Fault::MissingPixels},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> file = good;
    c.spoil(file);
    PngFile::Picture picture{1, 1, {1, 2, 3, 4}, true};
    EXPECT_EQ(PngFile::Read(file, kLimit, picture), c.fault);
    EXPECT_EQ(picture.Rgba, (std::vector<uint8_t>{1, 2, 3, 4}));
    EXPECT_STRNE(PngFile::Explain(c.fault), "");
  }
  for (size_t n = 0; n < good.size(); ++n) {
    PngFile::Picture picture;
    EXPECT_NE(PngFile::Read(std::span(good).first(n), kLimit, picture), Fault::None) << n;
  }
}

// A PNG without alpha is read as a BMP without a mask is: opaque, saying it has no alpha,
// so that each texel keeps its own.
TEST(PngImport, WithoutAlphaItReadsAsABmpWithoutMask) {
  ScratchFolder folder;
  const std::string png = folder.Write("rgb.png", Encode(kRgb3x2));
  const std::string bmp = folder.Write("rgb.bmp", testkit::BuildBmp({.width = 3, .height = 2}, [](int x, int y) {
    const uint8_t* p = &kRgb3x2.rows[size_t(y * 3 + x) * 3];
    return std::array<uint8_t, 3>{p[2], p[1], p[0]};
  }));
  const Expected<PictureFiles::Picture> fromPng = PictureFiles::Read(png, ""), fromBmp = PictureFiles::Read(bmp, "");
  ASSERT_TRUE(fromPng && fromBmp);
  EXPECT_FALSE(fromPng->hasAlpha);
  EXPECT_FALSE(fromBmp->hasAlpha);
  EXPECT_TRUE(fromPng->image == fromBmp->image);
}

TEST(PngImport, ARefusedFileIsNamedWithTheReason) {
  ScratchFolder folder;
  std::vector<uint8_t> damaged = Encode(kRgb3x2);
  damaged[kIdat + 9] ^= 1;
  const std::string bad = folder.Write("bad.png", damaged), missing = folder / "missing.png";
  const Expected<PictureFiles::Picture> refused = PictureFiles::Read(bad, "");
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error(), (Error{"Whoops", bad + "\n\n" + PngFile::Explain(PngFile::Fault::BadChecksum)}));
  ASSERT_FALSE(PictureFiles::Read(missing, ""));
  EXPECT_EQ(PictureFiles::Read(missing, "").error().text, missing + "\n\nThis file does not exist.");
}

TEST(PngIndexed, ReadsPaletteColourFilesOfEveryDepthAsIndices) {
  const std::vector<png_color> palette = {{10, 20, 30}, {40, 50, 60}, {70, 80, 90}};
  const std::vector<uint8_t> colours = {10, 20, 30, 0, 40, 50, 60, 128, 70, 80, 90, 255};
  struct Case {
    const char* name;
    Source source;
    std::vector<uint8_t> indices;
  } cases[] = {
      {"1-bit", {3, 1, 3, 1, 0, {0b01100000}, {palette[0], palette[1]}, {0, 128}}, {0, 1, 1}},
      {"2-bit", {3, 1, 3, 2, 0, {0b10011000}, palette, {0, 128}}, {2, 1, 2}},
      {"4-bit", {3, 1, 3, 4, 0, {0x21, 0x00}, palette, {0, 128}}, {2, 1, 0}},
      {"8-bit, interlaced", {3, 2, 3, 8, PNG_INTERLACE_ADAM7, {0, 1, 2, 2, 1, 0}, palette, {0, 128}},
       {0, 1, 2, 2, 1, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PngFile::IndexedPicture picture;
    ASSERT_EQ(PngFile::ReadIndexed(Encode(c.source), kLimit, picture), PngFile::Fault::None);
    EXPECT_EQ(picture.Indices, c.indices);
    EXPECT_EQ(picture.Palette, std::vector<uint8_t>(colours.begin(), colours.begin() + 4 * ptrdiff_t(c.source.palette.size())));
  }
  // Other colour types, indices past PLTE and every cut refuse, leaving the picture as it was.
  PngFile::IndexedPicture kept;
  kept.Width = 9;
  EXPECT_EQ(PngFile::ReadIndexed(Encode(kRgb3x2), kLimit, kept), PngFile::Fault::Damaged);
  EXPECT_EQ(PngFile::ReadIndexed(Encode({3, 1, 3, 8, 0, {0, 1, 3}, palette}), kLimit, kept),
            PngFile::Fault::Damaged);
  const std::vector<uint8_t> good = Encode(cases[3].source);
  for (size_t n = 0; n < good.size(); ++n)
    EXPECT_NE(PngFile::ReadIndexed(std::span(good).first(n), kLimit, kept), PngFile::Fault::None);
  EXPECT_EQ(kept.Width, 9u);
}

TEST(PngIndexed, WritesPlteAndTrnsOnlyWhenSomeColourIsSeeThrough) {
  for (uint8_t alpha : {255, 7}) {
    const PngFile::IndexedPicture written{2, 2, {0, 1, 1, 0}, {1, 2, 3, 255, 4, 5, 6, alpha}};
    std::vector<uint8_t> file;
    ASSERT_TRUE(PngFile::WriteIndexed(written, file));
    const std::string text(file.begin(), file.end());
    EXPECT_NE(text.find("PLTE"), std::string::npos);
    EXPECT_EQ(text.find("tRNS") != std::string::npos, alpha != 255);
    PngFile::IndexedPicture read;
    ASSERT_EQ(PngFile::ReadIndexed(file, kLimit, read), PngFile::Fault::None);
    EXPECT_EQ(read.Indices, written.Indices);
    EXPECT_EQ(read.Palette, written.Palette);
  }
  std::vector<uint8_t> file;
  EXPECT_FALSE(PngFile::WriteIndexed({2, 1, {0, 2}, {1, 2, 3, 255, 4, 5, 6, 255}}, file));  // no colour 2
  EXPECT_FALSE(PngFile::WriteIndexed({2, 1, {0}, {1, 2, 3, 255}}, file));                 // one index short
  EXPECT_TRUE(file.empty());
}
