// The formats whose texels are not one field-packed pixel each: YUV422 pairs, bump maps, the
// 32-bit raster; and the shapes they refuse. The layouts' placement of texels is
// DataFormatsTest's, against the same model.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "TextureModel.h"
#include "TextureTestSupport.h"
#include "archive/BatchFiles.h"
#include "texture/DataFormats.h"
#include "texture/FormatChoice.h"
#include "texture/TextureDetails.h"

using model::Rgba;
using testing_support::MakeTexture;

namespace {

Image::Bytes Pixels(std::initializer_list<Rgba> pixels) {
  Image::Bytes bytes;
  for (const Rgba& c : pixels) bytes.insert(bytes.end(), {c.r, c.g, c.b, c.a});
  return bytes;
}

// Values worked out from the formula by hand, among them a half that rounds up both ways
// (1.772 x 125 = 221.5 and 255 - 221.5 = 33.5) and channels clamped at both ends; 16 pairs
// in a row, so the vector paths take them too. Then pairs encoded, alpha ignored.
TEST(YuvPairs, DecodeAndEncodeKnownValues) {
  const struct {
    uint8_t u, y0, v, y1;
    Rgba left, right;
  } rows[] = {{128, 0, 128, 255, {0, 0, 0, 255}, {255, 255, 255, 255}}, {128, 100, 255, 0, {255, 9, 100, 255}, {178, 0, 0, 255}},
              {0, 128, 128, 128, {128, 172, 0, 255}, {128, 172, 0, 255}}, {255, 76, 0, 76, {0, 124, 255, 255}, {0, 124, 255, 255}},
              {90, 120, 200, 120, {221, 82, 53, 255}, {221, 82, 53, 255}}, {253, 0, 128, 0, {0, 0, 222, 255}, {0, 0, 222, 255}},
              {3, 255, 128, 255, {255, 255, 34, 255}, {255, 255, 34, 255}}};
  testing_support::OnEveryPath([&] {
    for (const auto& r : rows) {
      std::vector<uint8_t> data;
      for (int i = 0; i < 16; ++i) data.insert(data.end(), {r.u, r.y0, r.v, r.y1});
      const std::optional<Image> image = MakeTexture(3, 9, 32, 1, data).Decode();
      ASSERT_TRUE(image);
      for (size_t x = 0; x < 32; x += 2)
        EXPECT_EQ(Image::Bytes(image->rgba.begin() + 4 * x, image->rgba.begin() + 4 * x + 8),
                  Pixels({r.left, r.right})) << int(r.u) << " " << int(r.y0) << " " << int(r.v) << " " << int(r.y1);
    }
  });
  const struct {
    Rgba left, right;
    std::vector<uint8_t> texels;
  } encoded[] = {{{255, 0, 0, 9}, {255, 0, 0, 0}, {85, 76, 255, 76}}, {{0, 0, 255, 0}, {255, 255, 255, 0}, {192, 29, 118, 255}},
                 {{10, 200, 30, 0}, {40, 50, 60, 0}, {105, 124, 85, 48}}, {{77, 77, 77, 0}, {200, 200, 200, 0}, {128, 77, 128, 200}}};
  for (const auto& e : encoded) {
    Texture t = MakeTexture(3, 9, 2, 1, std::vector<uint8_t>(4));
    t.Encode(Image{2, 1, Pixels({e.left, e.right})});
    EXPECT_EQ(t.data, e.texels);
  }
}

// Every U and V against the model on every path: 65536 pairs, each with dark and bright luma,
// in rows of 48 texels, which the widest paths take 32 and then 16 at a time.
TEST(YuvPairs, EveryChromaDecodesAsTheModelOnEveryPath) {
  std::vector<uint8_t> data(48 * 2732 * 2);
  for (size_t i = 0; i < data.size() / 4; ++i)
    data[4 * i] = uint8_t(i), data[4 * i + 1] = uint8_t(i * 37), data[4 * i + 2] = uint8_t(i >> 8), data[4 * i + 3] = uint8_t(~(i * 37));
  testing_support::OnEveryPath([&] {
    const std::optional<Image> image = MakeTexture(3, 9, 48, 2732, data).Decode();
    ASSERT_TRUE(image);
    for (size_t i = 0; i < data.size() / 4; ++i) {
      const auto [left, right] = model::DecodeYuv(uint16_t(data[4 * i] | data[4 * i + 1] << 8),
                                                  uint16_t(data[4 * i + 2] | data[4 * i + 3] << 8));
      ASSERT_EQ(Image::Bytes(image->rgba.begin() + 8 * i, image->rgba.begin() + 8 * i + 8), Pixels({left, right}))
          << "pair " << i;
    }
  });
}

// Straight out is blue; flat, the angle turns the normal round the plane.
TEST(BumpMaps, ShowNormals) {
  const struct {
    uint8_t elevation, angle;
    Rgba normal;
  } rows[] = {{255, 0, {128, 128, 255, 255}}, {0, 0, {255, 128, 128, 255}},   {0, 64, {127, 255, 128, 255}},
              {0, 191, {127, 0, 128, 255}},   {128, 128, {38, 126, 218, 255}}, {200, 30, {159, 156, 248, 255}}};
  for (const auto& r : rows) {
    const std::optional<Image> image = MakeTexture(4, 9, 1, 1, {r.angle, r.elevation}).Decode();
    ASSERT_TRUE(image);
    EXPECT_EQ(image->rgba, Pixels({r.normal})) << int(r.elevation) << " " << int(r.angle);
  }
}

// A, B, G, R a texel, whatever the pixel-format byte, and back to the same bytes; with alpha
// of its own, a short texture's end is transparent black.
TEST(Raster32, HoldsFourChannelsInReverseOrder) {
  for (const uint8_t pixelFormat : {1, 200}) {
    Texture t = MakeTexture(pixelFormat, 14, 2, 1, {1, 2, 3, 4, 5, 6, 7, 8});
    EXPECT_TRUE(t.HasAlphaBits());
    EXPECT_EQ(t.Decode()->rgba, (Image::Bytes{4, 3, 2, 1, 8, 7, 6, 5}));
    EXPECT_TRUE(t.Encode(Image{2, 1, {10, 20, 30, 40, 4, 3, 2, 1}}));
    EXPECT_EQ(t.data, (std::vector<uint8_t>{40, 30, 20, 10, 1, 2, 3, 4}));
    t.data.resize(5);
    EXPECT_EQ(t.Decode()->rgba, (Image::Bytes{10, 20, 30, 40, 0, 0, 0, 0}));
  }
}

// What is not decoded shows black; what is not encoded is refused, saying why, for the window
// and the CLI alike, and a new texture of those formats is refused too.
TEST(FormatRefusals, SayWhy) {
  const struct {
    int pixelFormat, dataFormat, width, height;
    bool decoded;
    std::string why;
  } rows[] = {{3, 9, 5, 2, false, "odd width"}, {3, 10, 2, 2, true, ""}, {3, 3, 8, 8, true, "YUV422 in VQ"},
              {4, 1, 8, 8, true, "normal map but does not encode"}, {1, 11, 40, 2, false, "multiple of 32"},
              {1, 12, 1024, 2, false, "multiple of 32"}, {5, 12, 64, 2, true, ""}};
  for (const auto& r : rows) {
    SCOPED_TRACE(testing::Message() << r.pixelFormat << " " << r.dataFormat << " " << r.width);
    const size_t bytes = std::max<size_t>(DataFormats::LayoutOf(r.dataFormat, r.width, r.height).End(), 2 * r.width * r.height);
    const Texture t = MakeTexture(r.pixelFormat, r.dataFormat, r.width, r.height, model::RandomBytes(bytes, 3));
    EXPECT_EQ(t.Decodes(), r.decoded);
    if (!r.decoded)
      EXPECT_EQ(t.Decode()->rgba, model::ToImage(model::Picture(r.width, r.height, {0, 0, 0, 255})).rgba);
    const std::string why = BatchFiles::WhyNotEncoded(t);
    EXPECT_EQ(why.empty(), r.why.empty()) << why;
    EXPECT_NE(why.find(r.why), std::string::npos) << why;
    const Expected<Texture> made = FormatChoice::Make(*Image::Blank(r.width, r.height),
                                                      {uint8_t(r.pixelFormat), uint8_t(r.dataFormat), std::nullopt});
    EXPECT_EQ(bool(made), r.why.empty());
  }
}

TEST(FormatNames, NameAndParseTheNewFormats) {
  EXPECT_EQ(FormatChoice::ParsePixelFormat("yuv422"), 3);
  EXPECT_EQ(FormatChoice::ParsePixelFormat("RGB555"), 5);
  EXPECT_EQ(FormatChoice::ParsePixelFormat("bump map"), std::nullopt);  // never encoded
  EXPECT_EQ(FormatChoice::ParseDataFormat("stride"), 11);
  EXPECT_EQ(FormatChoice::ParseDataFormat("14"), 14);
  EXPECT_EQ(TextureDetails::Text(MakeTexture(4, 12, 64, 2, std::vector<uint8_t>(256))), "64x2, bump map, stride (12)");
  EXPECT_EQ(TextureDetails::Text(MakeTexture(3, 9, 3, 2, {})), "3x2, YUV422, rectangle, not decoded");
}

}  // namespace
