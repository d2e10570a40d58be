#include <gtest/gtest.h>

#include <vector>

#include "TextureModel.h"
#include "TextureTestSupport.h"
#include "texture/cPVR.h"

using model::Rgba;
using testing_support::Paint;
using testing_support::Texture;

namespace {

uint16_t EncodeOne(int format, Rgba c) {
  auto t = Texture(format, 9, 1, 1, {0, 0});
  model::Picture p(1, 1);
  p.at(0, 0) = c;
  Paint(*t, p);
  t->BMP2PVR();
  const auto& d = t->ChunkRecord().Data;
  return uint16_t(d[0] | d[1] << 8);
}

struct ChunkFields {
  std::vector<uint8_t> data;
  int16_t height, width;
  uint8_t pmat, emat;
  int32_t length;
  bool operator==(const ChunkFields&) const = default;
};

ChunkFields Saved(const cPVR& t) {
  ChunkFields f;
  t.SavePVR(f.data, f.height, f.width, f.pmat, f.emat, f.length);
  return f;
}

}  // namespace

TEST(TextureEncoding, ChannelValuesOfEachPixelFormat) {
  for (int format = 0; format <= 2; ++format) {
    EXPECT_EQ(EncodeOne(format, {255, 255, 255, 255}), 0xFFFF);
    EXPECT_EQ(EncodeOne(format, {0, 0, 0, 0}), 0x0000);
  }
  EXPECT_EQ(EncodeOne(0, {0, 0, 0, 254}), 0x0000);  // only 255 sets the alpha bit
  EXPECT_EQ(EncodeOne(0, {0, 0, 0, 255}), 0x8000);
  EXPECT_EQ(EncodeOne(0, {7, 0, 0, 0}), 0x0000);    // channels keep their top bits
  EXPECT_EQ(EncodeOne(0, {8, 0, 0, 0}), 0x0400);
  EXPECT_EQ(EncodeOne(1, {0, 3, 0, 0}), 0x0000);
  EXPECT_EQ(EncodeOne(1, {0, 4, 0, 0}), 0x0020);
  EXPECT_EQ(EncodeOne(1, {0, 0, 0, 255}), 0x0000);  // 5-6-5 has no alpha
  EXPECT_EQ(EncodeOne(2, {0x10, 0x20, 0x30, 0x40}), 0x4123);
  EXPECT_EQ(EncodeOne(2, {0x1F, 0x2F, 0x3F, 0x4F}), 0x4123);
}

TEST(TextureEncoding, TexelsAreStoredLowByteFirst) {
  auto t = Texture(2, 9, 1, 1, {0, 0});
  model::Picture p(1, 1);
  p.at(0, 0) = {0x20, 0x30, 0x40, 0x10};  // texel 0x1234
  Paint(*t, p);
  t->BMP2PVR();
  EXPECT_EQ(t->ChunkRecord().Data, (std::vector<uint8_t>{0x34, 0x12}));
}

TEST(TextureEncoding, DecodeThenEncodeGivesEveryTexelBack) {
  struct Case {
    int order, w, h;
  };
  const Case cases[] = {{9, 1, 1}, {9, 5, 3}, {9, 3, 7}, {9, 64, 64}, {9, 1024, 1024},
                        {1, 1, 1}, {1, 2, 2}, {1, 16, 16}, {1, 1024, 1024}};
  uint32_t seed = 100;
  for (int format = 0; format <= 2; ++format)
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << "format " << format << " order " << c.order << " "
                                      << c.w << "x" << c.h);
      const auto data = model::RandomBytes(size_t(c.w * c.h * 2), seed++);
      auto t = Texture(format, c.order, c.w, c.h, data);
      // Change the chunk between decoding and encoding, so that an encoder that did
      // nothing could not pass.
      ASSERT_TRUE(t->PVR2BMP());
      t->SetPVRData(int32_t(data.size() + 8), uint8_t(format), uint8_t(c.order), int16_t(c.w),
                    int16_t(c.h), std::vector<uint8_t>(data.size(), 0));
      t->BMP2PVR();
      // 5-6-5 has no alpha bit to lose; the others' random alpha comes back from the mask.
      EXPECT_TRUE(t->ChunkRecord().Data == data);
    }
}

TEST(TextureEncoding, MatchesTheModelForAnyPixelValues) {
  struct Case {
    int order, w, h;
  };
  const Case cases[] = {{9, 1, 1}, {9, 7, 5}, {9, 33, 2}, {1, 1, 1}, {1, 4, 4}, {1, 32, 32}};
  uint32_t seed = 200;
  for (int format = 0; format <= 2; ++format)
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << "format " << format << " order " << c.order << " "
                                      << c.w << "x" << c.h);
      const model::Picture picture = model::RandomPicture(c.w, c.h, seed++);
      const auto before = model::RandomBytes(size_t(c.w * c.h * 2), seed++);
      auto t = Texture(format, c.order, c.w, c.h, before);
      Paint(*t, picture);
      t->BMP2PVR();
      EXPECT_EQ(t->ChunkRecord().Data,
                model::Encode(format, c.order, c.w, c.h, picture, true, before));
    }
}

TEST(TextureEncoding, KeepsTheBytesBeyondTheTexelsAndEveryHeaderField) {
  for (int order : {9, 1}) {
    std::vector<uint8_t> data = model::RandomBytes(4 * 4 * 2, 9);
    data.insert(data.end(), {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE});  // padding to the chunk's end
    auto t = Texture(0, order, 4, 4, data);
    const ChunkFields before = Saved(*t);
    Paint(*t, model::Picture(4, 4));  // all black
    t->BMP2PVR();
    ChunkFields after = Saved(*t);
    EXPECT_EQ(std::vector<uint8_t>(after.data.begin(), after.data.begin() + 32),
              std::vector<uint8_t>(32, 0));
    EXPECT_EQ(std::vector<uint8_t>(after.data.begin() + 32, after.data.end()),
              std::vector<uint8_t>(6, 0xEE));
    after.data = before.data;
    EXPECT_TRUE(after == before);
  }
}

TEST(TextureEncoding, LeavesDataAloneWhenItHasNoEncoder) {
  struct Case {
    const char* what;
    int pixelFormat, dataFormat, w, h;
    size_t bytes;
  };
  const Case cases[] = {
      {"pixel format 3", 3, 9, 4, 4, 32},
      {"data format 2", 0, 2, 4, 4, 32},
      {"short data", 0, 9, 4, 4, 31},
      {"twiddled, not square", 1, 1, 8, 4, 64},
      {"twiddled, not a power of two", 1, 1, 6, 6, 72},
      {"no texels", 1, 9, 0, 4, 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto data = model::RandomBytes(c.bytes, 11);
    auto t = Texture(c.pixelFormat, c.dataFormat, c.w, c.h, data);
    Paint(*t, model::RandomPicture(4, 4, 12));
    t->BMP2PVR();
    EXPECT_EQ(t->ChunkRecord().Data, data);
  }
  // Surfaces never built.
  const auto data = model::RandomBytes(32, 13);
  auto t = Texture(0, 9, 4, 4, data);
  t->BMP2PVR();
  EXPECT_EQ(t->ChunkRecord().Data, data);
  // No chunk stored: nothing to encode into.
  cPVR empty;
  Paint(empty, model::RandomPicture(2, 2, 14));
  empty.BMP2PVR();
  EXPECT_TRUE(empty.ChunkRecord().Data.empty());
}

// Texel (x, y) keeps texel (x, y)'s alpha whatever the bitmap's size: an opaque texture
// imported without a mask file must not vanish.
TEST(TextureEncoding, WithoutAlphaFromTheMaskEachTexelKeepsItsAlpha) {
  for (int format : {0, 2}) {
    const uint16_t alphaBits = format == 0 ? 0x8000 : 0xF000;
    for (int order : {9, 1}) {
      for (int side : {8, 16, 4}) {
        SCOPED_TRACE(testing::Message() << format << ", " << order << ", " << side);
        const model::Picture p = model::RandomPicture(side, side, uint32_t(side));
        const auto before = model::RandomBytes(128, uint32_t(format * 10 + order));
        auto t = Texture(format, order, 8, 8, before);
        Paint(*t, p);
        t->MakeNew(2, 2, 1);  // a mask of another length gives no alpha
        t->BMP2PVR();
        auto want = model::Encode(format, order, 8, 8, p, false, before);
        for (size_t n = 0; n < 64; ++n) want[2 * n + 1] |= before[2 * n + 1] & (alphaBits >> 8);
        EXPECT_EQ(t->ChunkRecord().Data, want);
      }
    }
  }
}

TEST(TextureEncoding, ALargerBitmapGivesItsTopLeftPart) {
  const model::Picture big = model::RandomPicture(64, 64, 21);
  for (int order : {9, 1}) {
    SCOPED_TRACE(order);
    const auto before = std::vector<uint8_t>(32 * 32 * 2, 0);
    auto t = Texture(2, order, 32, 32, before);
    Paint(*t, big);
    t->BMP2PVR();
    EXPECT_EQ(t->ChunkRecord().Data, model::Encode(2, order, 32, 32, big, true, before));
    EXPECT_EQ(t->ChunkRecord().Width, 32);
    EXPECT_EQ(t->ChunkRecord().Data.size(), before.size());
  }
}

TEST(TextureEncoding, ASmallerBitmapFillsWithItsBottomLeftPixel) {
  const model::Picture small = model::RandomPicture(16, 16, 22);
  for (int order : {9, 1}) {
    SCOPED_TRACE(order);
    const auto before = std::vector<uint8_t>(32 * 32 * 2, 0);
    auto t = Texture(0, order, 32, 32, before);
    Paint(*t, small);
    t->BMP2PVR();
    const auto& data = t->ChunkRecord().Data;
    EXPECT_EQ(data, model::Encode(0, order, 32, 32, small, true, before));
    // Spelled out for one texel beyond the right edge and one below the bottom edge.
    const uint16_t bottomLeft = model::EncodeTexel(0, small.at(0, 15));
    for (auto [x, y] : {std::pair{20, 3}, {5, 31}}) {
      const size_t n = model::TexelAt(order, 32, x, y);
      EXPECT_EQ(data[2 * n] | data[2 * n + 1] << 8, bottomLeft);
    }
  }
}

// Encoding only reads the surfaces: a twiddled texture is encoded straight from the
// twiddled positions, so an export right after an import still shows the picture.
TEST(TextureEncoding, TwiddledEncodeLeavesTheSurfacesAsTheyWere) {
  const auto data = model::RandomBytes(8 * 8 * 2, 31);
  auto t = Texture(2, 1, 8, 8, data);
  t->PVR2BMP();
  const std::vector<uint8_t> image = t->SurfaceBits(0), mask = t->SurfaceBits(1);
  t->BMP2PVR();
  EXPECT_EQ(t->ChunkRecord().Data, data);
  EXPECT_EQ(t->SurfaceBits(0), image);
  EXPECT_EQ(t->SurfaceBits(1), mask);
}
