// New palettes made from pictures: exact where the picture's colours fit, close and the same
// every time where they do not.
#include <gtest/gtest.h>

#include <cmath>

#include "TextureModel.h"
#include "TextureTestSupport.h"
#include "texture/DataFormats.h"

namespace {

using testing_support::MakeTexture;

// The picture through a new palette of the format: made, imported into a palettized texture
// of `format`, and shown again.
Image ThroughNewPalette(const Image& picture, uint16_t colourFormat, int format) {
  const int bits = format <= 6 ? 4 : 8;
  const Palette palette = Palette::FromPicture(picture, colourFormat, bits);
  EXPECT_EQ(palette.colours.size(), size_t(1) << bits);
  const BankColours bank = palette.Bank(0, bits).value();
  Texture t = MakeTexture(0, format, picture.width, picture.height,
                          std::vector<uint8_t>(DataFormats::LayoutOf(format, picture.width, picture.height).End()));
  t.Encode(picture, &bank);
  return t.Decode(&bank).value();
}

TEST(PaletteQuantiser, PicturesOfFewColoursComeBackExactly) {
  const struct {
    uint16_t colourFormat;
    uint8_t step, alpha, opaque;  // channel values are multiples of step; alpha two values
  } cases[] = {{Palette::kARGB1555, 8, 0, 255},  {Palette::kRGB565, 8, 255, 255},
               {Palette::kARGB4444, 16, 32, 240}, {Palette::kRGB555, 8, 255, 255},
               {Palette::kARGB8888, 1, 77, 255}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.colourFormat);
    Image picture = Image::Blank(16, 16).value();
    for (size_t i = 0; i < 256; ++i) {
      const size_t colour = (i * 7) % 16;  // 16 colours, scattered
      picture.rgba[4 * i] = uint8_t(colour * 3 * c.step);
      picture.rgba[4 * i + 1] = uint8_t((15 - colour) * c.step);
      picture.rgba[4 * i + 2] = uint8_t(colour % 3 * c.step);
      picture.rgba[4 * i + 3] = colour % 2 ? c.opaque : c.alpha;
    }
    for (int format : {5, 8}) EXPECT_EQ(ThroughNewPalette(picture, c.colourFormat, format), picture) << format;
  }
}

TEST(PaletteQuantiser, ManyColoursComeCloseTheSameEveryTime) {
  // Gradients and noise: about 4000 colours for 256 entries, or 16.
  Image picture = model::ToImage(model::RandomPicture(64, 64, 5));
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) {
      uint8_t* p = picture.Pixel(x, y);
      p[0] = uint8_t(x * 4 + p[0] % 8), p[1] = uint8_t(y * 4 + p[1] % 8), p[2] = uint8_t(x * 2 + y * 2);
      p[3] = 255;
    }
  const struct {
    uint16_t colourFormat;
    int format;
    double maxError;  // root mean square, per channel
  } cases[] = {{Palette::kARGB8888, 8, 6}, {Palette::kRGB565, 8, 7}, {Palette::kARGB8888, 6, 24}};
  for (const auto& c : cases) {
    const Image shown = ThroughNewPalette(picture, c.colourFormat, c.format);
    double squares = 0;
    for (size_t i = 0; i < shown.rgba.size(); ++i) squares += std::pow(shown.rgba[i] - picture.rgba[i], 2);
    EXPECT_LT(std::sqrt(squares / double(shown.rgba.size())), c.maxError) << c.colourFormat << " " << c.format;
    EXPECT_EQ(Palette::FromPicture(picture, c.colourFormat, 8).colours,
              Palette::FromPicture(picture, c.colourFormat, 8).colours);
  }
}

}  // namespace
