// The texture object on mipmapped, VQ and rectangular twiddled textures: what it shows, the
// levels an edit writes, the alpha an import without a mask keeps, and the words that name
// it. The layouts themselves are DataFormatsTest's.
#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "TextureModel.h"
#include "TextureTestSupport.h"
#include "texture/DataFormats.h"
#include "texture/TextureDetails.h"

using model::Rgba;
using testing_support::MakeTexture;

namespace {

// Data of a mipmapped twiddled texture (2 or 18) holding the picture: each level the 2 x 2
// average of the one above, (a + b + c + d + 2) >> 2 per channel, the 1 x 1 texel in every
// slot of its space; other bytes of `data` as they were.
std::vector<uint8_t> MipmappedData(int dataFormat, int pixelFormat, model::Picture level,
                                   std::vector<uint8_t> data) {
  const size_t oneByOne = dataFormat == 2 ? 4 : 8;
  const auto put = [&](size_t at, Rgba c) {
    const uint16_t texel = model::EncodeTexel(pixelFormat, c);
    data[at] = uint8_t(texel), data[at + 1] = uint8_t(texel >> 8);
  };
  for (int side = level.w; side > 1; side /= 2) {
    size_t start = oneByOne;  // the levels below, smallest first
    for (int s = 2; s < side; s *= 2) start += 2 * size_t(s * s);
    for (int y = 0; y < side; ++y)
      for (int x = 0; x < side; ++x) put(start + 2 * model::TwiddleIndex(x, y), level.at(x, y));
    model::Picture half(side / 2, side / 2);
    for (int y = 0; y < side / 2; ++y)
      for (int x = 0; x < side / 2; ++x) {
        const auto avg = [&](uint8_t Rgba::*ch) {
          return uint8_t((level.at(2 * x, 2 * y).*ch + level.at(2 * x + 1, 2 * y).*ch +
                          level.at(2 * x, 2 * y + 1).*ch + level.at(2 * x + 1, 2 * y + 1).*ch + 2) >> 2);
        };
        half.at(x, y) = {avg(&Rgba::r), avg(&Rgba::g), avg(&Rgba::b), avg(&Rgba::a)};
      }
    level = half;
  }
  for (size_t at = 0; at < oneByOne; at += 2) put(at, level.at(0, 0));
  return data;
}

}  // namespace

// Full data and data cut short, in every pixel format: the picture is the main level as the
// layout decodes it (indices past a small codebook black), alpha as the format keeps it.
TEST(TextureFormats, DecodeShowsTheMainLevelTheLayoutDecodes) {
  const struct {
    int format, w, h;
  } shapes[] = {{2, 16, 16},  {18, 8, 8}, {3, 16, 16}, {4, 16, 16}, {16, 16, 16},
                {17, 32, 32}, {13, 16, 4}, {13, 2, 8}, {18, 1, 1}};
  for (const auto& s : shapes) {
    const auto layout = DataFormats::LayoutOf(s.format, s.w, s.h);
    for (int pf = 0; pf <= 2; ++pf)
      for (const size_t bytes : {layout.End() + 6, layout.End() / 2 + 1}) {
        SCOPED_TRACE(testing::Message() << s.format << " " << s.w << "x" << s.h << " " << pf << " " << bytes);
        const auto data = model::RandomBytes(bytes, uint32_t(s.format * 7 + pf));
        const std::optional<Image> image = MakeTexture(pf, s.format, s.w, s.h, data).Decode();
        ASSERT_TRUE(image);
        Image::Bytes rgba(4 * layout.width * layout.height);
        ASSERT_TRUE(DataFormats::DecodeMainLevel(layout, pf, data, rgba.data()));
        EXPECT_EQ(image->rgba, rgba);
      }
  }
}

// An edited picture replaces every level by the averaging rule (its own alpha, or without it
// the alpha each texel had); the bytes after the layout stay.
TEST(TextureFormats, EditedMipmapsGetExactlyTheAveragedLevels) {
  for (const int format : {2, 18})
    for (int pf = 0; pf <= 2; ++pf) {
      SCOPED_TRACE(testing::Message() << format << " pf " << pf);
      const auto before = model::RandomBytes(DataFormats::LayoutOf(format, 16, 16).End() + 4, uint32_t(pf));
      model::Picture p = model::RandomPicture(16, 16, uint32_t(pf + 5));
      Texture t = MakeTexture(pf, format, 16, 16, before);
      ASSERT_TRUE(t.Encode(model::ToImage(p)));
      EXPECT_EQ(t.data, MipmappedData(format, pf, p, before));

      const std::vector<uint8_t> dataBefore(t.data.begin(), t.data.end());
      const model::Picture kept = p;
      p = model::RandomPicture(16, 16, 99);
      const std::optional<Image> fitted = t.Fit(model::ToImage(p), false);
      ASSERT_TRUE(fitted);
      for (size_t i = 0; i < p.px.size(); ++i) p.px[i].a = model::DecodeTexel(pf, model::EncodeTexel(pf, kept.px[i])).a;
      ASSERT_TRUE(t.Encode(*fitted));
      EXPECT_EQ(t.data, MipmappedData(format, pf, p, dataBefore));
    }
}

// Without alpha of its own, a picture imported into a VQ texture keeps each texel's alpha
// too: its 64 blocks fit the codebook, so the alpha shown comes back exactly.
TEST(TextureFormats, VqImportWithoutAlphaKeepsEachTexelsAlpha) {
  Texture t = MakeTexture(2, 3, 16, 16, std::vector<uint8_t>(DataFormats::LayoutOf(3, 16, 16).End(), 0));
  ASSERT_TRUE(t.Encode(model::ToImage(model::RandomPicture(16, 16, 1))));
  const std::optional<Image> before = t.Decode();
  const std::optional<Image> fitted = t.Fit(model::ToImage(model::RandomPicture(16, 16, 2)), false);
  ASSERT_TRUE(before && fitted);
  ASSERT_TRUE(t.Encode(*fitted));
  const std::optional<Image> after = t.Decode();
  ASSERT_TRUE(after);
  for (size_t i = 3; i < after->rgba.size(); i += 4) ASSERT_EQ(after->rgba[i], before->rgba[i]) << "pixel " << i / 4;
  // What it now shows goes back unchanged rather than quantised again.
  const UnzeroedBytes data = t.data;
  EXPECT_FALSE(t.Encode(*after));
  EXPECT_EQ(t.data, data);
}

TEST(TextureFormats, DetailsNameWhatTheLayoutHolds) {
  Texture t = MakeTexture(2, 4, 128, 128, std::vector<uint8_t>(DataFormats::LayoutOf(4, 128, 128).End()));
  EXPECT_EQ(TextureDetails::Text(t), "128x128, ARGB4444, VQ+mipmaps, 8 mip levels, 256 codebook entries");
  t.pixelFormat = 1, t.dataFormat = 13, t.height = 32;
  EXPECT_EQ(TextureDetails::Text(t), "128x32, RGB565, rectangular twiddled, data ends early (7510 of 8192 bytes)");
  t.dataFormat = 3;  // VQ is square
  EXPECT_EQ(TextureDetails::Text(t), "128x32, RGB565, VQ, not decoded");
}
