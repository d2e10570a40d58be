#include <gtest/gtest.h>

#include <vector>

#include "TextureModel.h"
#include "TextureTestSupport.h"
#include "texture/cPVR.h"

using model::Rgba;
using testing_support::SurfaceState;
using testing_support::Texture;

namespace {

Rgba PixelOf(const cPVR& t, int x, int y) {
  Rgba c;
  t.GetPixel(x, y, c.r, c.g, c.b, c.a);
  return c;
}

// Texel data, low byte first.
std::vector<uint8_t> Texels(std::initializer_list<uint16_t> values) {
  std::vector<uint8_t> data;
  for (uint16_t v : values) {
    data.push_back(uint8_t(v & 0xFF));
    data.push_back(uint8_t(v >> 8));
  }
  return data;
}

// Texels 0, 1, 2... of a 5-6-5 texture made recognisable: texel n has blue n x 8 and
// green (n >> 5) x 4 (unique up to 2048 texels).
std::vector<uint8_t> NumberedTexels(int count) {
  std::vector<uint8_t> data;
  for (int n = 0; n < count; ++n) {
    const uint16_t v = uint16_t((n & 31) | ((n >> 5) & 63) << 5);
    data.push_back(uint8_t(v & 0xFF));
    data.push_back(uint8_t(v >> 8));
  }
  return data;
}

int NumberAt(const cPVR& t, int x, int y) {
  const Rgba c = PixelOf(t, x, y);
  return c.b / 8 + (c.g / 4) * 32;
}

void ExpectSurfacesMatchModel(const cPVR& t, const model::Picture& expected) {
  ASSERT_EQ(t.Width(), expected.w);
  ASSERT_EQ(t.Height(), expected.h);
  EXPECT_TRUE(t.SurfaceBits(0) == model::SurfaceBytes(expected, false)) << "image differs";
  EXPECT_TRUE(t.SurfaceBits(1) == model::SurfaceBytes(expected, true)) << "mask differs";
}

}  // namespace

TEST(TextureDecoding, ChannelValuesOfEachPixelFormat) {
  struct Case {
    int format;
    uint16_t texel;
    Rgba expected;
  };
  const Case cases[] = {
      {0, 0x8000, {0, 0, 0, 255}},
      {0, 0x7FFF, {248, 248, 248, 0}},
      {0, 0x001F, {0, 0, 248, 0}},
      {0, 0x7C00, {248, 0, 0, 0}},
      {1, 0xFFFF, {248, 252, 248, 0}},
      {1, 0x07E0, {0, 252, 0, 0}},
      {1, 0x001F, {0, 0, 248, 0}},
      {2, 0xF0F0, {0, 240, 0, 240}},
      {2, 0x0F00, {240, 0, 0, 0}},
      {2, 0x1234, {32, 48, 64, 16}},
  };
  for (const Case& c : cases) {
    auto t = Texture(c.format, 9, 1, 1, Texels({c.texel}));
    ASSERT_TRUE(t->PVR2BMP());
    EXPECT_EQ(PixelOf(*t, 0, 0), c.expected) << "format " << c.format << " texel " << c.texel;
  }
}

TEST(TextureDecoding, TexelBytesAreLowByteFirst) {
  for (int format : {0, 1}) {
    auto t = Texture(format, 9, 1, 1, {0x1F, 0x00});
    t->PVR2BMP();
    EXPECT_EQ(PixelOf(*t, 0, 0).b, 248);
    EXPECT_EQ(PixelOf(*t, 0, 0).r, 0);
  }
}

TEST(TextureDecoding, RectangularTexelsFillRowsFromTheTop) {
  auto t = Texture(1, 9, 4, 2, NumberedTexels(8));
  t->PVR2BMP();
  for (int n = 0; n < 8; ++n) EXPECT_EQ(NumberAt(*t, n % 4, n / 4), n);
}

TEST(TextureDecoding, TwiddledTexelsTakeTheirMortonPositions) {
  auto two = Texture(1, 1, 2, 2, NumberedTexels(4));
  two->PVR2BMP();
  EXPECT_EQ(NumberAt(*two, 0, 0), 0);  // top-left
  EXPECT_EQ(NumberAt(*two, 0, 1), 1);  // bottom-left
  EXPECT_EQ(NumberAt(*two, 1, 0), 2);  // top-right
  EXPECT_EQ(NumberAt(*two, 1, 1), 3);  // bottom-right

  auto four = Texture(1, 1, 4, 4, NumberedTexels(16));
  four->PVR2BMP();
  const int expected[4][4] = {{0, 2, 8, 10}, {1, 3, 9, 11}, {4, 6, 12, 14}, {5, 7, 13, 15}};
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(NumberAt(*four, x, y), expected[y][x]) << x << "," << y;
}

TEST(TextureDecoding, MaskIsReorderedExactlyLikeTheImage) {
  // 4-4-4-4 texels whose alpha field repeats their blue field: wherever a texel lands,
  // its alpha must land on the same pixel.
  std::vector<uint8_t> data;
  for (int n = 0; n < 64; ++n) {
    const uint16_t v = uint16_t((n & 15) << 12 | (n >> 4) << 8 | (n & 15));
    data.push_back(uint8_t(v));
    data.push_back(uint8_t(v >> 8));
  }
  auto t = Texture(2, 1, 8, 8, data);
  t->PVR2BMP();
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) {
      const Rgba c = PixelOf(*t, x, y);
      EXPECT_EQ(c.a, c.b) << x << "," << y;
      const int n = c.b / 16 + (c.r / 16) * 16;
      EXPECT_EQ(uint32_t(n), model::TwiddleIndex(uint32_t(x), uint32_t(y)));
    }
}

TEST(TextureDecoding, MatchesTheModelForEveryFormatOrderAndSize) {
  struct Size {
    int w, h;
  };
  const Size rectangular[] = {{1, 1}, {3, 5}, {7, 2}, {5, 5}, {64, 64}, {1024, 1024}};
  const Size twiddled[] = {{1, 1}, {2, 2}, {8, 8}, {64, 64}, {1024, 1024}};
  uint32_t seed = 1;
  for (int format = 0; format <= 2; ++format) {
    for (int order : {9, 1}) {
      for (const Size& s : order == 9 ? std::vector<Size>(std::begin(rectangular), std::end(rectangular))
                                      : std::vector<Size>(std::begin(twiddled), std::end(twiddled))) {
        SCOPED_TRACE(testing::Message() << "format " << format << " order " << order << " size "
                                        << s.w << "x" << s.h);
        const auto data = model::RandomBytes(size_t(s.w) * size_t(s.h) * 2 + 4, seed++);
        auto t = Texture(format, order, s.w, s.h, data);
        ASSERT_TRUE(t->PVR2BMP());
        ExpectSurfacesMatchModel(*t, model::Decode(format, order, s.w, s.h, data));
        EXPECT_EQ(t->ChunkRecord().Data, data);  // decoding never changes the chunk
      }
    }
  }
}

TEST(TextureDecoding, FormatsWithoutADecoderGiveBlackSurfacesOfTheTexturesSize) {
  struct Case {
    int pixelFormat, dataFormat, w, h;
  };
  const Case cases[] = {
      {0, 5, 8, 8},   // a data format without a layout
      {1, 14, 4, 2},
      {1, 13, 6, 4},  // rectangular twiddled, sides not powers of two
      {2, 3, 4, 4},   // VQ below 8 x 8
      {0, 2, 8, 4},   // mipmaps but not square
      {3, 9, 4, 4},   // no pixel-format row
      {255, 1, 4, 4},
      {0, 1, 8, 4},   // twiddled but not square
      {2, 1, 6, 6},   // twiddled but not a power of two
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.pixelFormat << "/" << c.dataFormat);
    auto t = Texture(c.pixelFormat, c.dataFormat, c.w, c.h,
                     std::vector<uint8_t>(size_t(c.w * c.h * 2), 0xFF));
    ASSERT_TRUE(t->PVR2BMP());
    ExpectSurfacesMatchModel(*t, model::Picture(c.w, c.h));
  }
}

TEST(TextureDecoding, ShortDataDecodesTheTexelsThatAreThere) {
  // Five and a half texels of a 4 x 4 texture.
  const auto data = model::RandomBytes(11, 3);
  for (int order : {9, 1}) {
    auto t = Texture(2, order, 4, 4, data);
    ASSERT_TRUE(t->PVR2BMP());
    ExpectSurfacesMatchModel(*t, model::Decode(2, order, 4, 4, data));
  }
  // No data at all: black.
  auto empty = Texture(0, 9, 3, 3, {0, 0});
  empty->SetPVRData(8, 0, 9, 3, 3, {});
  ASSERT_TRUE(empty->PVR2BMP());
  ExpectSurfacesMatchModel(*empty, model::Picture(3, 3));
}

TEST(TextureDecoding, RefusesWithoutAChunkAndLeavesTheSurfaces) {
  cPVR fresh;
  EXPECT_FALSE(fresh.PVR2BMP());
  EXPECT_FALSE(fresh.HasSurface(0));
  EXPECT_FALSE(fresh.HasSurface(1));
}

TEST(TextureDecoding, RefusesSizesItCannotJustifyAndLeavesTheSurfaces) {
  auto t = Texture(0, 9, 2, 2, model::RandomBytes(8, 4));
  ASSERT_TRUE(t->PVR2BMP());
  const SurfaceState image(*t, 0), mask(*t, 1);
  const std::vector<uint8_t> few(32, 0xFF);
  struct Case {
    int w, h;
  };
  // Far more texels than data (16384 x 16384 over 32 bytes), no texels at all, negative.
  for (Case c : {Case{16384, 16384}, Case{1025, 1024}, Case{0, 4}, Case{4, 0}, Case{-4, 4},
                 Case{4, -32768}}) {
    t->SetPVRData(int32_t(few.size() + 8), 0, 9, int16_t(c.w), int16_t(c.h), few);
    EXPECT_FALSE(t->PVR2BMP()) << c.w << "x" << c.h;
    EXPECT_TRUE(SurfaceState(*t, 0) == image);
    EXPECT_TRUE(SurfaceState(*t, 1) == mask);
  }
  // Up to 1024 x 1024 texels the surfaces are built all the same, black past the data.
  t->SetPVRData(int32_t(few.size() + 8), 0, 9, 1024, 1024, few);
  ASSERT_TRUE(t->PVR2BMP());
  EXPECT_EQ(t->Width(), 1024);
  EXPECT_EQ(PixelOf(*t, 15, 0), (Rgba{248, 248, 248, 255}));
  EXPECT_EQ(PixelOf(*t, 16, 0), (Rgba{0, 0, 0, 0}));
}
