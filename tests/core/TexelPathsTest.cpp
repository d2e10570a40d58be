// The codec converts 16 or 32 texels a step on processors with a vector unit and one at a
// time elsewhere; every path must give the model's bytes. Sizes are picked to hit the steps' edges:
// rows that are not a multiple of 16 texels, twiddled sides below and above the 16 x 8
// blocks, and data that ends inside a block.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <vector>

#include "TextureModel.h"
#include "TextureTestSupport.h"
#include "texture/TexelCodec.h"

using testing_support::MakeTexture;
using testing_support::OnEveryPath;

namespace {

struct Shape {
  int order, w, h;
};
const Shape kShapes[] = {{9, 15, 3}, {9, 16, 2}, {9, 17, 4}, {9, 47, 5}, {9, 64, 9}, {9, 81, 2},
                         {1, 2, 2},  {1, 8, 8},  {1, 16, 16}, {1, 32, 32}, {1, 128, 128}};

TEST(TexelPaths, DecodeGivesTheModelsPicture) {
  OnEveryPath([] {
    uint32_t seed = 500;
    for (int format : {0, 1, 2, 5})
      for (const Shape& s : kShapes) {
        SCOPED_TRACE(testing::Message() << "format " << format << " order " << s.order << " "
                                        << s.w << "x" << s.h);
        const auto data = model::RandomBytes(size_t(s.w * s.h * 2), seed++);
        const std::optional<Image> image = MakeTexture(format, s.order, s.w, s.h, data).Decode();
        ASSERT_TRUE(image);
        EXPECT_TRUE(*image == model::ToImage(model::Decode(format, s.order, s.w, s.h, data)));
      }
  });
}

// Short data ends inside a 16 x 8 block, and inside a tile of it; the rest stays black.
TEST(TexelPaths, ShortTwiddledDataEndsInsideABlock) {
  OnEveryPath([] {
    for (size_t texels : {size_t(0), size_t(63), size_t(64), size_t(200), size_t(1023)}) {
      SCOPED_TRACE(texels);
      const auto data = model::RandomBytes(2 * texels + 1, uint32_t(texels));
      const std::optional<Image> image = MakeTexture(0, 1, 32, 32, data).Decode();
      ASSERT_TRUE(image);
      EXPECT_TRUE(*image == model::ToImage(model::Decode(0, 1, 32, 32, data)));
    }
  });
}

TEST(TexelPaths, EncodeGivesTheModelsTexels) {
  OnEveryPath([] {
    uint32_t seed = 900;
    for (int format : {0, 1, 2, 5})
      for (const Shape& s : kShapes) {
        SCOPED_TRACE(testing::Message() << "format " << format << " order " << s.order << " "
                                        << s.w << "x" << s.h);
        const model::Picture picture = model::RandomPicture(s.w, s.h, seed++);
        const auto before = model::RandomBytes(size_t(s.w * s.h * 2), seed++);
        Texture t = MakeTexture(format, s.order, s.w, s.h, before);
        EXPECT_TRUE(t.Encode(model::ToImage(picture)));
        EXPECT_EQ(t.data, model::Encode(format, s.order, picture, before));
      }
  });
}

// The row and square calls straight on a part of a wider picture (rows further apart than
// the part is wide): texels as the model encodes them, and back to the same pixels.
TEST(TexelPaths, RowsAndSquaresOfAPartOfAPictureFollowTheModel) {
  OnEveryPath([] {
    const int side = 32;
    const size_t stride = 4 * side + 12;
    const model::Picture picture = model::RandomPicture(side, side, 77);
    std::vector<uint8_t> rgba(stride * side, 0x5A);
    for (int y = 0; y < side; ++y)
      for (int x = 0; x < side; ++x) {
        const model::Rgba& c = picture.at(x, y);
        std::memcpy(&rgba[size_t(y) * stride + 4 * size_t(x)], &c, 4);
      }
    for (int format : {0, 1, 2, 5}) {
      SCOPED_TRACE(format);
      std::vector<uint8_t> rows(side * side * 2), twiddled(side * side * 2);
      TexelCodec::EncodeRows(format, rgba.data(), stride, side, side, rows.data(), 2 * side);
      TexelCodec::EncodeTwiddled(format, rgba.data(), stride, side, twiddled.data());
      const std::vector<uint8_t> none(size_t(side * side * 2));
      EXPECT_EQ(rows, model::Encode(format, 9, picture, none));
      EXPECT_EQ(twiddled, model::Encode(format, 1, picture, none));
      // Decoding both back gives one picture, and leaves the bytes between rows alone.
      std::vector<uint8_t> fromRows(rgba.size(), 0x5A), fromTwiddled(rgba.size(), 0x5A);
      TexelCodec::DecodeRows(format, rows.data(), side, side, fromRows.data(), stride);
      TexelCodec::DecodeTwiddled(format, twiddled.data(), side * side, fromTwiddled.data(), stride, side);
      EXPECT_EQ(fromRows, fromTwiddled);
      EXPECT_EQ(fromRows[4 * side], 0x5A);
    }
  });
}

// The one-texel calls: every texel decodes as the model says; pixels on and between the
// decoded values encode as it says; a code outside the table converts nothing.
TEST(TexelPaths, OneTexelCallsFollowTheModel) {
  const model::Rgba pixels[] = {{0, 0, 0, 0},     {255, 255, 255, 255}, {248, 252, 248, 240},
                                {7, 3, 15, 254},  {129, 66, 200, 17},   {16, 4, 8, 128}};
  for (int format : {0, 1, 2, 5}) {
    SCOPED_TRACE(format);
    for (uint32_t v = 0; v <= 0xFFFF; ++v) {
      const TexelCodec::Rgba got = TexelCodec::DecodeTexel(format, uint16_t(v));
      const model::Rgba want = model::DecodeTexel(format, uint16_t(v));
      ASSERT_TRUE((got == TexelCodec::Rgba{want.r, want.g, want.b, want.a})) << "texel " << v;
    }
    for (const model::Rgba& p : pixels)
      EXPECT_EQ(TexelCodec::EncodeTexel(format, {p.r, p.g, p.b, p.a}),
                model::EncodeTexel(format, p));
  }
  EXPECT_TRUE(TexelCodec::DecodeTexel(6, 0xFFFF) == TexelCodec::Rgba{});
  EXPECT_EQ(TexelCodec::EncodeTexel(-1, {255, 255, 255, 255}), 0);
}

}  // namespace
