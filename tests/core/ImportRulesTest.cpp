// What an imported picture does to a texture: Texture::Fit makes it the texture's size and
// settles its alpha, Texture::Encode writes it.
#include <gtest/gtest.h>

#include "TextureModel.h"
#include "texture/DataFormats.h"
#include "texture/Texture.h"

namespace {

using Bytes = std::vector<uint8_t>;

Texture Make(int pixelFormat, int dataFormat, int side, Bytes data) {
  Texture t;
  t.pixelFormat = uint8_t(pixelFormat);
  t.dataFormat = uint8_t(dataFormat);
  t.width = t.height = int16_t(side);
  t.length = int32_t(data.size() + 8);
  t.data.assign(data.begin(), data.end());
  return t;
}

// Imports the picture and returns the data.
Bytes Imported(Texture t, const model::Picture& picture, bool hasAlpha) {
  const std::optional<Image> fitted = t.Fit(model::ToImage(picture), hasAlpha);
  EXPECT_TRUE(fitted);
  if (fitted) t.Encode(*fitted);
  return {t.data.begin(), t.data.end()};
}

// The rule, spelled out: the texture keeps its size; texel (x, y) shows the picture's pixel
// there, or beyond its right and bottom edges its bottom-left pixel; without alpha of its
// own the picture leaves each texel the alpha it shows.
model::Picture Fitted(const model::Picture& picture, const model::Picture& shown, bool hasAlpha) {
  model::Picture out(shown.w, shown.h);
  for (int y = 0; y < shown.h; ++y)
    for (int x = 0; x < shown.w; ++x) {
      out.at(x, y) = x < picture.w && y < picture.h ? picture.at(x, y) : picture.at(0, picture.h - 1);
      if (!hasAlpha) out.at(x, y).a = shown.at(x, y).a;
    }
  return out;
}

TEST(ImportRules, PicturesOfAnySizeAreCutOrFilledAndKeepAlphaWithoutTheirOwn) {
  uint32_t seed = 1;
  for (int format : {0, 1, 2})
    for (int order : {9, 1})
      for (int side : {64, 32, 16, 1})
        for (bool hasAlpha : {true, false}) {
          SCOPED_TRACE(testing::Message() << "format " << format << " order " << order << " picture " << side
                                          << (hasAlpha ? " with alpha" : " without alpha"));
          const Bytes before = model::RandomBytes(32 * 32 * 2, seed++);
          const model::Picture picture = model::RandomPicture(side, side, seed++);
          const model::Picture shown = model::Decode(format, order, 32, 32, before);
          EXPECT_EQ(Imported(Make(format, order, 32, before), picture, hasAlpha),
                    model::Encode(format, order, Fitted(picture, shown, hasAlpha), before));
        }
}

// Spelled out for one texel beyond the right edge and one below the bottom edge.
TEST(ImportRules, BeyondASmallerPictureTexelsTakeItsBottomLeftPixel) {
  const model::Picture small = model::RandomPicture(16, 16, 22);
  const Bytes data = Imported(Make(0, 9, 32, Bytes(32 * 32 * 2, 0)), small, true);
  const uint16_t bottomLeft = model::EncodeTexel(0, small.at(0, 15));
  for (auto [x, y] : {std::pair{20, 3}, {5, 31}}) {
    const size_t n = size_t(y) * 32 + size_t(x);
    EXPECT_EQ(data[2 * n] | data[2 * n + 1] << 8, bottomLeft);
  }
}

// Smaller levels the file made stay, and a VQ texture is not quantised again, which would
// lose a little each time it goes round. Another picture rewrites them.
TEST(ImportRules, APictureTheTextureAlreadyShowsLeavesItsBytes) {
  for (int dataFormat : {2, 3, 4, 16, 17, 13}) {
    SCOPED_TRACE(dataFormat);
    const int side = 16;
    const size_t bytes = DataFormats::LayoutOf(dataFormat, side, dataFormat == 13 ? side / 2 : side).End();
    Texture t = Make(2, dataFormat, side, model::RandomBytes(bytes + 4, uint32_t(dataFormat)));
    if (dataFormat == 13) t.height = side / 2;
    ASSERT_TRUE(t.Encodes());
    const UnzeroedBytes before = t.data;
    const std::optional<Image> shown = t.Decode();
    ASSERT_TRUE(shown);
    EXPECT_FALSE(t.Encode(*t.Fit(*shown, true)));
    EXPECT_FALSE(t.Encode(*t.Fit(*shown, false)));
    EXPECT_EQ(t.data, before);
    Image other = *shown;
    other.rgba[0] ^= 0x80;
    EXPECT_TRUE(t.Encode(other));
    EXPECT_NE(t.data, before);
    EXPECT_EQ(t.data.size(), before.size());
  }
}

TEST(ImportRules, ATextureThatCannotBeShownTakesNoPicture) {
  Texture huge = Make(0, 9, 1, Bytes(32, 0));
  huge.width = huge.height = 16384;
  EXPECT_FALSE(huge.Fit(model::ToImage(model::Picture(2, 2)), true));
  EXPECT_FALSE(Make(0, 9, 4, Bytes(32, 0)).Fit(Image{}, true));
}

}  // namespace
