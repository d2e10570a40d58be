// The data formats against a small model of each layout written from the format table: texel
// places by bit interleaving, levels summed smallest first, VQ blocks entry by entry.
#include <gtest/gtest.h>

#include <cstring>
#include <tuple>
#include <vector>

#include "TextureModel.h"
#include "TextureTestSupport.h"
#include "texture/DataFormats.h"

namespace {

using DataFormats::Kind;
using model::RandomBytes;
using model::Rgba;

struct Case {
  int format, width, height;
};

// A picture top row first, and the same as the codec's bytes (R G B A a pixel).
struct Picture {
  size_t w, h;
  std::vector<Rgba> px;
  Rgba& at(size_t x, size_t y) { return px[y * w + x]; }
};

std::vector<uint8_t> Bytes(const Picture& p) {
  std::vector<uint8_t> bytes;
  for (const Rgba& c : p.px) bytes.insert(bytes.end(), {c.r, c.g, c.b, c.a});
  return bytes;
}
Picture FromBytes(const std::vector<uint8_t>& bytes, size_t w, size_t h) {
  Picture p{w, h, std::vector<Rgba>(w * h)};
  for (size_t i = 0; i < w * h; ++i)
    p.px[i] = {bytes[4 * i], bytes[4 * i + 1], bytes[4 * i + 2], bytes[4 * i + 3]};
  return p;
}

size_t Twiddle(size_t x, size_t y) {
  size_t k = 0;
  for (size_t bit = 0; bit < 16; ++bit)
    k |= ((y >> bit) & 1) << (2 * bit) | ((x >> bit) & 1) << (2 * bit + 1);
  return k;
}

size_t Entries(int format, size_t side) {
  if (format == 16) return side <= 16 ? 16 : side <= 32 ? 32 : side <= 64 ? 128 : 256;
  if (format == 17) return side <= 16 ? 16 : side <= 32 ? 64 : 256;
  return 256;
}
bool Mipmapped(int format) { return format == 2 || format == 18 || format == 4 || format == 17; }
bool Vq(int format) { return format == 3 || format == 4 || format == 16 || format == 17; }

// Where level `side` starts: the levels below it summed, smallest first.
size_t LevelStart(int format, size_t side) {
  if (Vq(format)) {
    size_t at = 8 * Entries(format, side);
    if (Mipmapped(format)) at += 1;
    for (size_t s = 2; Mipmapped(format) && s < side; s *= 2) at += s * s / 4;
    return at;
  }
  if (!Mipmapped(format)) return 0;
  const size_t oneByOne = format == 2 ? 4 : 8;
  if (side == 1) return oneByOne - 2;
  size_t at = oneByOne;
  for (size_t s = 2; s < side; s *= 2) at += 2 * s * s;
  return at;
}

// The byte where the texel of pixel (x, y) of a w x h level of a non-VQ format lies.
size_t TexelByte(int format, size_t w, size_t h, size_t x, size_t y) {
  const size_t m = std::min(w, h);
  if (format >= 9 && format <= 12) return 2 * (y * w + x);
  if (format == 13) return 2 * ((x / m + y / m) * m * m + Twiddle(x % m, y % m));
  return LevelStart(format, w) + 2 * Twiddle(x, y);
}

// What the main level of `data` shows, missing texels black (model::Missing). A YUV pair
// shows only where the data holds both texels (in VQ, its whole entry).
Picture Model(const Case& c, int pf, const std::vector<uint8_t>& data) {
  const size_t w = size_t(c.width), h = size_t(c.height);
  const Rgba missing = model::Missing(pf);
  const auto value = [&](size_t byte) { return uint16_t(data[byte] | data[byte + 1] << 8); };
  Picture p{w, h, std::vector<Rgba>(w * h, missing)};
  for (size_t y = 0; y < h; ++y)
    for (size_t x = 0; x < w; ++x) {
      size_t byte = TexelByte(c.format, w, h, x, y), end = byte + 2;
      if (Vq(c.format)) {
        const size_t i = LevelStart(c.format, w) + Twiddle(x / 2, y / 2);
        if (i >= data.size() || data[i] >= Entries(c.format, w)) continue;
        byte = 8 * data[i] + 2 * (2 * (x & 1) + (y & 1)), end = pf == 3 ? 8 * data[i] + 8 : byte + 2;
      }
      if (end > data.size()) continue;
      if (pf == 4) p.at(x, y) = model::DecodeBump(value(byte));
      else if (pf != 3) p.at(x, y) = model::DecodeTexel(pf, value(byte));
      else if (x % 2 == 0) {  // the pair's second texel is the next pixel's
        const size_t second = Vq(c.format) ? byte + 4 : TexelByte(c.format, w, h, x + 1, y);
        if (second + 2 > data.size()) continue;
        std::tie(p.at(x, y), p.at(x + 1, y)) = model::DecodeYuv(value(byte), value(second));
      }
    }
  return p;
}

// One shape per layout, both orientations of format 13, 1 x 1 mipmaps, and a square wide
// enough for the vector paths to read ahead of the row they decode.
const Case kCases[] = {{9, 6, 5},   {1, 32, 32},    {13, 32, 8},  {13, 8, 32},
                       {2, 16, 16}, {18, 128, 128}, {2, 1, 1},    {18, 1, 1},
                       {3, 16, 16}, {4, 16, 16},    {16, 16, 16}, {17, 32, 32},
                       {1, 512, 512}, {10, 34, 3},  {11, 32, 3},  {12, 96, 2}};

TEST(DataFormats, LayoutsHoldTheFormatTablesNumbers) {
  struct Row {
    Case c;
    Kind kind;
    size_t levels = 0, entries = 0, mainOffset = 0, mainBytes = 0;
  };
  const Row rows[] = {
      {{9, 5, 3}, Kind::Rectangle, 1, 0, 0, 30},
      {{1, 64, 64}, Kind::Twiddled, 1, 0, 0, 8192},
      {{13, 64, 16}, Kind::RectangularTwiddled, 1, 0, 0, 2048},
      {{2, 128, 128}, Kind::MipmappedTwiddled, 8, 0, 10924, 32768},
      {{18, 128, 128}, Kind::MipmappedTwiddled, 8, 0, 10928, 32768},
      {{2, 1, 1}, Kind::MipmappedTwiddled, 1, 0, 2, 2},
      {{18, 1, 1}, Kind::MipmappedTwiddled, 1, 0, 6, 2},
      {{3, 128, 128}, Kind::Vq, 1, 256, 2048, 4096},
      {{4, 128, 128}, Kind::MipmappedVq, 8, 256, 3414, 4096},
      {{16, 16, 16}, Kind::Vq, 1, 16, 128, 64},
      {{16, 32, 32}, Kind::Vq, 1, 32, 256, 256},
      {{16, 64, 64}, Kind::Vq, 1, 128, 1024, 1024},
      {{16, 128, 128}, Kind::Vq, 1, 256, 2048, 4096},
      {{17, 16, 16}, Kind::MipmappedVq, 5, 16, 150, 64},
      {{17, 32, 32}, Kind::MipmappedVq, 6, 64, 598, 256},
      {{17, 64, 64}, Kind::MipmappedVq, 7, 256, 2390, 1024},
      {{10, 5, 3}, Kind::Rectangle, 1, 0, 0, 30},
      {{11, 32, 3}, Kind::Rectangle, 1, 0, 0, 192},
      {{12, 992, 1}, Kind::Rectangle, 1, 0, 0, 1984},
      {{14, 3, 2}, Kind::Raster, 1, 0, 0, 24},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << r.c.format << " " << r.c.width << "x" << r.c.height);
    const auto l = DataFormats::LayoutOf(r.c.format, r.c.width, r.c.height);
    EXPECT_EQ(l.kind, r.kind);
    EXPECT_EQ(l.levels, r.levels);
    EXPECT_EQ(l.codebookEntries, r.entries);
    EXPECT_EQ(l.main.offset, r.mainOffset);
    EXPECT_EQ(l.main.bytes, r.mainBytes);
    // Levels lie one after the other, smallest first, from the end of the codebook.
    size_t next = l.CodebookBytes();
    for (size_t level = 0; level < l.levels && l.levels > 1; ++level) {
      EXPECT_EQ(DataFormats::LevelRange(l, level).offset, next) << "level " << level;
      next = DataFormats::LevelRange(l, level).End();
    }
  }
  // Shapes the layouts cannot hold, and formats without one.
  const Case unhandled[] = {{1, 64, 32},     {1, 48, 48},  {2, 24, 24}, {13, 48, 16}, {3, 4, 4},
                            {4, 2048, 2048}, {16, 16, 32}, {9, 0, 4},   {5, 8, 4},    {6, 16, 8},
                            {7, 2048, 2048}, {15, 8, 8},   {11, 48, 4}, {12, 1024, 2}};
  for (const Case& c : unhandled)
    EXPECT_FALSE(DataFormats::LayoutOf(c.format, c.width, c.height).Handled()) << c.format;
}

// Full data, and every kind of short data: none, one byte, half, all but the last byte; on
// every path.
TEST(DataFormats, DecodesTheMainLevelOfEveryLayoutAsTheModelDoes) {
  testing_support::OnEveryPath([] {
  for (const Case& c : kCases)
    for (int pf = 0; pf <= 5; ++pf) {
      const auto layout = DataFormats::LayoutOf(c.format, c.width, c.height);
      if (pf == 3 && c.width % 2 != 0) continue;  // not decoded: see RefusesOddYuvWidths
      const std::vector<uint8_t> full = RandomBytes(layout.End(), uint32_t(c.format * 7 + pf));
      for (size_t n : {full.size(), size_t(0), size_t(1), full.size() / 2, full.size() - 1}) {
        SCOPED_TRACE(testing::Message() << "format " << c.format << " " << c.width << "x"
                                        << c.height << " pf " << pf << " bytes " << n);
        const std::vector<uint8_t> data(full.begin(), full.begin() + std::ptrdiff_t(n));
        // Every pixel is written, whatever the picture held before.
        std::vector<uint8_t> rgba(4 * layout.width * layout.height, 0x5A);
        ASSERT_TRUE(DataFormats::DecodeMainLevel(layout, pf, data, rgba.data()));
        EXPECT_TRUE(FromBytes(rgba, layout.width, layout.height).px == Model(c, pf, data).px);
      }
    }
  });
  std::vector<uint8_t> rgba(4 * 8 * 8, 0x5A);
  EXPECT_FALSE(DataFormats::DecodeMainLevel(DataFormats::LayoutOf(1, 8, 8), 6, RandomBytes(128, 1),
                                            rgba.data()));
  EXPECT_EQ(rgba, std::vector<uint8_t>(rgba.size(), 0x5A));
}

// Alpha as the format keeps it: one bit all or nothing, four bits at the top of the byte,
// and a format without alpha bits opaque, in texels and in what the data does not hold.
TEST(DataFormats, DecodedAlphaIsTheFormatsOrOpaque) {
  const struct {
    int pf;
    uint16_t texel;
    uint8_t alpha, missing;
  } rows[] = {{0, 0x7FFF, 0, 0},   {0, 0x8000, 255, 0}, {1, 0x0000, 255, 255},
              {1, 0xFFFF, 255, 255}, {2, 0x0FFF, 0, 0},   {2, 0x7000, 0x70, 0}};
  for (const auto& r : rows)
    for (int format : {9, 1, 3}) {
      SCOPED_TRACE(testing::Message() << "pf " << r.pf << " texel " << r.texel << " format " << format);
      const auto layout = DataFormats::LayoutOf(format, 16, 16);
      // Every texel, and every codebook entry, the one texel; every index 0.
      std::vector<uint8_t> data(layout.End(), 0);
      for (size_t i = 0; i < (layout.IsVq() ? layout.CodebookBytes() : data.size()); i += 2)
        data[i] = uint8_t(r.texel), data[i + 1] = uint8_t(r.texel >> 8);
      for (const auto& [bytes, alpha] : {std::pair{data.size(), r.alpha}, std::pair{size_t(0), r.missing}}) {
        std::vector<uint8_t> rgba(4 * 16 * 16, 0x5A);
        ASSERT_TRUE(DataFormats::DecodeMainLevel(layout, r.pf, std::span(data).first(bytes), rgba.data()));
        for (size_t i = 3; i < rgba.size(); i += 4) ASSERT_EQ(rgba[i], alpha) << "pixel " << i / 4;
      }
    }
}

Picture RandomPicture(size_t w, size_t h, uint32_t seed) {
  Picture p{w, h, std::vector<Rgba>(w * h)};
  std::memcpy(p.px.data(), RandomBytes(4 * w * h, seed).data(), 4 * w * h);
  return p;
}

// The chain the rule gives: each level the 2 x 2 average of the one above, down to 1 x 1.
std::vector<Picture> ExpectedLevels(Picture p) {
  std::vector<Picture> chain{p};
  while (p.w > 1) {
    Picture half{p.w / 2, p.h / 2, std::vector<Rgba>(p.w * p.h / 4)};
    for (size_t y = 0; y < half.h; ++y)
      for (size_t x = 0; x < half.w; ++x) {
        const Rgba q[4] = {p.at(2 * x, 2 * y), p.at(2 * x + 1, 2 * y), p.at(2 * x, 2 * y + 1),
                           p.at(2 * x + 1, 2 * y + 1)};
        const auto avg = [&](uint8_t Rgba::*ch) {
          return uint8_t((q[0].*ch + q[1].*ch + q[2].*ch + q[3].*ch + 2) >> 2);
        };
        half.at(x, y) = {avg(&Rgba::r), avg(&Rgba::g), avg(&Rgba::b), avg(&Rgba::a)};
      }
    chain.push_back(p = half);
  }
  return chain;
}

// Every texel and level byte for byte, on every path; every byte outside them (here a tail
// of 5) kept.
TEST(DataFormats, EncodesTexelsAndMipLevelsByTheRuleKeepingOtherBytes) {
  testing_support::OnEveryPath([] {
  for (const Case& c : kCases) {
    if (Vq(c.format)) continue;
    for (int pf : {0, 1, 2, 3, 5}) {
      if (pf == 3 && c.width % 2 != 0) continue;
      SCOPED_TRACE(testing::Message() << "format " << c.format << " " << c.width << " pf " << pf);
      const auto layout = DataFormats::LayoutOf(c.format, c.width, c.height);
      const Picture picture =
          RandomPicture(size_t(c.width), size_t(c.height), uint32_t(pf + c.width));
      std::vector<uint8_t> data = RandomBytes(layout.End() + 5, 99), expected = data;
      const auto put = [&](size_t at, const Rgba& px) {
        const uint16_t t = model::EncodeTexel(pf, px);
        expected[at] = uint8_t(t), expected[at + 1] = uint8_t(t >> 8);
      };
      // A YUV pair at x even and x + 1; the 1 x 1 level the pair of its pixel and itself.
      const auto putPair = [&](size_t at, size_t next, const Rgba& a, const Rgba& b) {
        const auto [first, second] = model::EncodeYuv(a, b);
        expected[at] = uint8_t(first), expected[at + 1] = uint8_t(first >> 8);
        expected[next] = uint8_t(second), expected[next + 1] = uint8_t(second >> 8);
      };
      for (const Picture& level : ExpectedLevels(picture)) {
        if (!Mipmapped(c.format) && level.w != picture.w) break;
        for (size_t y = 0; y < level.h; ++y)
          for (size_t x = 0; x < level.w; ++x)
            if (pf != 3) put(TexelByte(c.format, level.w, level.h, x, y), level.px[y * level.w + x]);
            else if (x % 2 == 0 && level.w > 1)
              putPair(TexelByte(c.format, level.w, level.h, x, y), TexelByte(c.format, level.w, level.h, x + 1, y),
                      level.px[y * level.w + x], level.px[y * level.w + x + 1]);
        if (level.w == 1)  // every slot of the 1 x 1 level's space
          for (size_t at = 0; at < (c.format == 2 ? 4u : 8u); at += pf == 3 ? 4 : 2)
            pf == 3 ? putPair(at, at + 2, level.px[0], level.px[0]) : put(at, level.px[0]);
      }
      const std::vector<uint8_t> in = Bytes(picture);
      ASSERT_TRUE(DataFormats::Encode(layout, pf, in.data(), data));
      EXPECT_EQ(data, expected);
      if (pf != 3) EXPECT_TRUE(DataFormats::DecodesTo(layout, pf, data, in.data()));
    }
  }
  });
}

TEST(DataFormats, VqEncodesEveryLevelWithOneCodebook) {
  // Two colours in 2 x 2 blocks: a picture any codebook of two entries or more holds.
  for (int format : {3, 4, 16, 17})
    for (int pf = 0; pf < 3; ++pf) {
      SCOPED_TRACE(testing::Message() << "format " << format << " pf " << pf);
      const auto layout = DataFormats::LayoutOf(format, 16, 16);
      const Rgba colours[2] = {model::DecodeTexel(pf, 0x8421), model::DecodeTexel(pf, 0xF7DE)};
      Picture p{16, 16, std::vector<Rgba>(256)};
      for (size_t y = 0; y < 16; ++y)
        for (size_t x = 0; x < 16; ++x) p.at(x, y) = colours[(x / 2 * 3 + y / 2) % 5 == 0];
      std::vector<uint8_t> data(layout.End() + 3, 0xEE);
      const std::vector<uint8_t> in = Bytes(p);
      ASSERT_TRUE(DataFormats::Encode(layout, pf, in.data(), data));
      EXPECT_TRUE(DataFormats::DecodesTo(layout, pf, data, in.data()));
      EXPECT_EQ(std::vector<uint8_t>(data.end() - 3, data.end()), std::vector<uint8_t>(3, 0xEE));

      // One colour everywhere: every index of every level names an entry of that colour.
      p.px.assign(256, colours[1]);
      ASSERT_TRUE(DataFormats::Encode(layout, pf, Bytes(p).data(), data));
      const uint16_t texel = model::EncodeTexel(pf, colours[1]);
      for (size_t i = layout.CodebookBytes(); i < layout.End(); ++i)
        for (size_t t = 0; t < 4; ++t)
          ASSERT_EQ(data[8 * data[i] + 2 * t] | data[8 * data[i] + 2 * t + 1] << 8, texel)
              << "index byte " << i;
    }
}

TEST(DataFormats, RefusesToEncodeWhatItCannotHold) {
  const std::vector<uint8_t> in = Bytes(RandomPicture(8, 8, 3));
  struct Row {
    int format, pf;
    size_t missing;
  };
  for (const Row& r : {Row{1, 0, 1}, Row{2, 1, 1}, Row{4, 2, 1}, Row{1, 6, 0}, Row{5, 0, 0}, Row{1, 4, 0},
                       Row{3, 3, 0}}) {
    const auto layout = DataFormats::LayoutOf(r.format, 8, 8);
    std::vector<uint8_t> data(layout.End() + 16 - r.missing, 0x5A);
    EXPECT_FALSE(DataFormats::Encode(layout, r.pf, in.data(),
                                     std::span(data).first(layout.End() - r.missing)));
    EXPECT_EQ(data, std::vector<uint8_t>(data.size(), 0x5A));
  }
}

TEST(DataFormats, ComparesPicturesAtThePixelFormatsPrecision) {
  const auto layout = DataFormats::LayoutOf(9, 4, 2);
  const std::vector<uint8_t> data = RandomBytes(16, 4);
  std::vector<uint8_t> rgba(4 * 4 * 2);
  DataFormats::DecodeMainLevel(layout, 0, data, rgba.data());
  rgba[4 * 5 + 2] |= 7;  // below 5-bit precision: the same picture
  EXPECT_TRUE(DataFormats::DecodesTo(layout, 0, data, rgba.data()));
  rgba[4 * 5 + 2] ^= 8;
  EXPECT_FALSE(DataFormats::DecodesTo(layout, 0, data, rgba.data()));
}

}  // namespace
