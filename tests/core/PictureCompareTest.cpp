#include "texture/PictureCompare.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

Image Filled(int32_t width, int32_t height, uint8_t value) { return *Image::Blank(width, height, value); }

TEST(PictureCompare, MeasuresWhatWasLostByTheRule) {
  const Image grey = Filled(4, 4, 100);
  Image offByFive = grey;  // every red byte 5 off: MSE 25 over a third of the colour values
  for (size_t i = 0; i < offByFive.rgba.size(); i += 4) offByFive.rgba[i] += 5;
  Image alphaOff = grey;
  alphaOff.rgba[3] = 0;  // one alpha value 100 off out of 16

  struct Case {
    const char* what;
    const Image& stored;
    bool withAlpha;
    std::string text;
  };
  const Case cases[] = {
      {"identical", grey, true, "lossless"},
      {"red off by 5: 10 log10(255² / (25 / 3))", offByFive, false, "PSNR 38.92 dB RGB"},
      {"alpha compared", alphaOff, true, "PSNR exact RGB, 20.17 dB alpha"},
      {"alpha ignored where the format keeps none", alphaOff, false, "lossless"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::optional<PictureCompare::Loss> loss = PictureCompare::Compare(grey, c.stored, c.withAlpha);
    ASSERT_TRUE(loss);
    EXPECT_EQ(PictureCompare::Text(*loss), c.text);
  }
  EXPECT_NEAR(PictureCompare::Compare(grey, offByFive, false)->rgb, 10 * std::log10(255.0 * 255.0 * 3 / 25), 1e-9);
}

TEST(PictureCompare, RefusesPicturesOfAnotherSize) {
  EXPECT_FALSE(PictureCompare::Compare(Filled(4, 4, 0), Filled(4, 2, 0), true));
  EXPECT_FALSE(PictureCompare::Compare(Image{}, Image{}, true));
}

}  // namespace
