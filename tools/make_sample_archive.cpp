// Writes sample.pvm, a small archive for trying the editor out: a few textures drawn here
// from formulas and encoded with the editor's own codec, covering the three pixel formats,
// every data format the codec handles (plain, mipmapped and VQ), and alpha that can be seen
// in the mask view; a 4-bit and an 8-bit palettized texture, whose palette goes beside the
// archive with its stem (sample.pvp), where the editor looks for it; and a YUV422 texture,
// its bytes made here.
//
//   make_sample_archive OUTPUT.pvm     (writes OUTPUT.pvp too)
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "kit/PvmBuilder.h"
#include "platform/Files.h"
#include "texture/DataFormats.h"
#include "texture/Palette.h"
#include "texture/Texture.h"

namespace {

struct Rgba {
  uint8_t r, g, b, a;
};

struct SampleTexture {
  std::string name;
  uint8_t pFormat;
  uint8_t eFormat;
  int16_t width;
  int16_t height;
  std::function<Rgba(int x, int y)> pixel;
};

uint8_t Clamp(double v) { return uint8_t(std::lround(std::fmin(255.0, std::fmax(0.0, v)))); }

// Draws the picture into a texture's surfaces and lets the codec encode it, so the bytes
// are exactly what an import of the same picture would give.
archive_builder::Entry Encode(const SampleTexture& t) {
  // The layout's bytes, then zeros up to a 16-byte boundary, as the game's files carry a few
  // bytes after the main level; the encoder keeps them.
  const size_t layoutBytes = DataFormats::LayoutOf(t.eFormat, t.width, t.height).End();
  const size_t dataBytes = (layoutBytes + 15) / 16 * 16;
  Texture texture;
  texture.length = int32_t(8 + dataBytes);
  texture.pixelFormat = t.pFormat;
  texture.dataFormat = t.eFormat;
  texture.width = t.width;
  texture.height = t.height;
  texture.data.assign(dataBytes, 0);
  Image picture = *Image::Blank(t.width, t.height);
  for (int y = 0; y < t.height; ++y)
    for (int x = 0; x < t.width; ++x) {
      const Rgba p = t.pixel(x, y);
      uint8_t* to = picture.Pixel(x, y);
      to[0] = p.r, to[1] = p.g, to[2] = p.b, to[3] = p.a;
    }
  if (!texture.Encode(picture)) {
    std::fprintf(stderr, "%s: the codec left the texture unencoded\n", t.name.c_str());
    std::exit(1);
  }

  return {t.name, t.pFormat, t.eFormat, uint16_t(t.width), uint16_t(t.height),
          {texture.data.begin(), texture.data.end()}};
}

std::vector<SampleTexture> Samples() {
  return {
      // ARGB1555, rectangular: a sunset sky with a sun; the corners are cut away (alpha 0).
      {"sunset_argb1555", 0, 9, 128, 64,
       [](int x, int y) {
         const double t = y / 63.0;
         Rgba p{Clamp(255 - 40 * t), Clamp(200 - 150 * t), Clamp(60 + 150 * t), 255};
         const double dx = x - 88, dy = y - 40;
         if (dx * dx + dy * dy < 256) p = {255, 240, 120, 255};
         const int cx = std::min(x, 127 - x), cy = std::min(y, 63 - y);
         if (cx + cy < 12) p.a = 0;
         return p;
       }},
      // RGB565, twiddled: a checkerboard with a colour ramp; no alpha in this format.
      {"checker_rgb565", 1, 1, 128, 128,
       [](int x, int y) {
         const bool dark = ((x / 16) + (y / 16)) % 2 == 0;
         const double k = dark ? 0.45 : 1.0;
         return Rgba{Clamp(k * x * 2), Clamp(k * 200), Clamp(k * y * 2), 0};
       }},
      // ARGB4444, twiddled: a soft glow whose alpha fades from the middle outwards.
      {"glow_argb4444", 2, 1, 128, 128,
       [](int x, int y) {
         const double d = std::hypot(x - 63.5, y - 63.5) / 64.0;
         const double fade = std::fmax(0.0, 1.0 - d);
         return Rgba{Clamp(80 + 175 * fade), Clamp(160 + 95 * fade), 255, Clamp(255 * fade)};
       }},
      // ARGB4444, rectangular: diagonal stripes, every other one half transparent.
      {"stripes_argb4444", 2, 9, 256, 64,
       [](int x, int y) {
         const int band = ((x + y) / 16) % 4;
         const Rgba colours[4] = {{240, 80, 80, 255}, {240, 200, 64, 128},
                                  {64, 160, 240, 255}, {112, 224, 112, 128}};
         return colours[band];
       }},
      // ARGB1555, twiddled: an arrow pointing to the top-left corner, so a wrong texel
      // order or a flipped picture is plain to see; around it alpha is 0.
      {"arrow_argb1555", 0, 1, 64, 64,
       [](int x, int y) {
         const bool head = x + y < 40 && x >= 4 && y >= 4;
         const bool shaft = std::abs(x - y) <= 4 && x + y < 108 && x > 8;
         return (head || shaft) ? Rgba{250, 250, 250, 255} : Rgba{40, 40, 120, 0};
       }},
      // RGB565, rectangular: colour bars.
      {"bars_rgb565", 1, 9, 64, 32,
       [](int x, int) {
         const Rgba bars[8] = {{255, 255, 255, 0}, {255, 255, 0, 0}, {0, 255, 255, 0},
                               {0, 255, 0, 0},     {255, 0, 255, 0}, {255, 0, 0, 0},
                               {0, 0, 255, 0},     {0, 0, 0, 0}};
         return bars[x / 8];
       }},
      // ARGB1555, twiddled with mipmaps: concentric rings, which shimmer in small levels
      // if they are not averaged.
      {"rings_mip_argb1555", 0, 2, 64, 64,
       [](int x, int y) {
         const bool ring = int(std::hypot(x - 31.5, y - 31.5)) / 4 % 2 == 0;
         return ring ? Rgba{230, 120, 40, 255} : Rgba{30, 60, 90, 255};
       }},
      // RGB565, twiddled with mipmaps and an 8-byte 1 x 1 level: a diagonal rainbow.
      {"rainbow_mip_rgb565", 1, 18, 32, 32,
       [](int x, int y) {
         const double h = (x + y) / 62.0 * 6.283;
         return Rgba{Clamp(128 + 127 * std::sin(h)), Clamp(128 + 127 * std::sin(h + 2.09)),
                     Clamp(128 + 127 * std::sin(h + 4.19)), 0};
       }},
      // ARGB4444, VQ: a brick wall with softened mortar, the kind of picture VQ was made for.
      {"bricks_vq_argb4444", 2, 3, 128, 128,
       [](int x, int y) {
         const int row = y / 16, shift = row % 2 == 0 ? 0 : 16;
         const bool mortar = y % 16 < 2 || (x + shift) % 32 < 2;
         const double grain = 20 * std::sin(x * 0.7) * std::cos(y * 0.9);
         return mortar ? Rgba{200, 200, 190, 255}
                       : Rgba{Clamp(160 + grain + 10 * (row % 3)), Clamp(70 + grain / 2), 50, 255};
       }},
      // RGB565, VQ with mipmaps: a radial sunburst.
      {"sunburst_vqmip_rgb565", 1, 4, 64, 64,
       [](int x, int y) {
         const double a = std::atan2(y - 31.5, x - 31.5);
         const bool ray = std::sin(a * 12) > 0;
         return ray ? Rgba{255, 210, 60, 0} : Rgba{200, 80, 30, 0};
       }},
      // ARGB1555, small VQ (16 entries): a cross on a see-through background.
      {"cross_smallvq_argb1555", 0, 16, 16, 16,
       [](int x, int y) {
         const bool cross = (x >= 6 && x < 10) || (y >= 6 && y < 10);
         return cross ? Rgba{220, 30, 30, 255} : Rgba{0, 0, 0, 0};
       }},
      // ARGB4444, small VQ with mipmaps (64 entries): a fading spot of light.
      {"spot_smallvqmip_argb4444", 2, 17, 32, 32,
       [](int x, int y) {
         const double fade = std::fmax(0.0, 1.0 - std::hypot(x - 15.5, y - 15.5) / 16.0);
         return Rgba{255, Clamp(200 + 55 * fade), Clamp(120 * fade), Clamp(255 * fade)};
       }},
      // RGB565, rectangular twiddled: a wide ramp made of two twiddled squares.
      {"ramp_recttwiddled_rgb565", 1, 13, 64, 32,
       [](int x, int y) { return Rgba{Clamp(x * 4), Clamp(y * 8), Clamp(255 - x * 4), 0}; }},
  };
}

// The sample's palette: 256 opaque ARGB1555 colours, all different, so that exporting a
// palettized texture and importing it again finds every index back. Colour 16 r + c has
// red and blue running against each other along c and green rising with r: the first 16
// (bank 0 of 4-bit textures) are a blue to red ramp, all 256 a square of hues.
Palette SamplePalette() {
  Palette palette;
  palette.colourFormat = Palette::kARGB1555;
  for (uint32_t i = 0; i < 256; ++i) {
    const uint32_t c = i % 16, r = i / 16;
    palette.colours.push_back(0x8000 | (2 * c) << 10 | (2 * r) << 5 | (31 - 2 * c));
  }
  return palette;
}

struct IndexedSample {
  std::string name;
  uint8_t eFormat;  // 5 (4-bit) or 7 (8-bit)
  int16_t width, height;
  std::function<uint8_t(int x, int y)> index;
};

// The indices go in as they are, through the sample palette's bank 0.
archive_builder::Entry EncodeIndexed(const IndexedSample& t, const Palette& palette) {
  const int bits = t.eFormat <= 6 ? 4 : 8;
  const Expected<BankColours> bank = palette.Bank(0, bits);
  const size_t dataBytes = (DataFormats::LayoutOf(t.eFormat, t.width, t.height).End() + 15) / 16 * 16;
  Texture texture;
  texture.length = int32_t(8 + dataBytes);
  texture.pixelFormat = uint8_t(palette.colourFormat);
  texture.dataFormat = t.eFormat;
  texture.width = t.width;
  texture.height = t.height;
  texture.data.assign(dataBytes, 0);
  std::vector<uint8_t> indices;
  for (int y = 0; y < t.height; ++y)
    for (int x = 0; x < t.width; ++x) indices.push_back(t.index(x, y));
  if (bank) texture.EncodeIndices(indices, *bank);
  if (!bank || texture.Indices() != indices) {
    std::fprintf(stderr, "%s: the codec left the texture unencoded\n", t.name.c_str());
    std::exit(1);
  }
  return {t.name, texture.pixelFormat, t.eFormat, uint16_t(t.width), uint16_t(t.height),
          {texture.data.begin(), texture.data.end()}};
}

std::vector<IndexedSample> IndexedSamples() {
  return {
      // 4-bit, twiddled: rings in the 16 colours of bank 0.
      {"rings_pal4", 5, 64, 64,
       [](int x, int y) { return uint8_t(int(std::hypot(x - 31.5, y - 31.5) / 2.5) % 16); }},
      // 8-bit, twiddled squares: a plasma through all 256 colours.
      {"plasma_pal8", 7, 128, 64,
       [](int x, int y) {
         const double v = std::sin(x * 0.09) + std::sin(y * 0.13) + std::sin((x + y) * 0.05);
         const int row = int((v + 3) / 6 * 15.99), column = (x / 8 + y / 8) % 16;
         return uint8_t(16 * row + column);
       }},
  };
}

// YUV422, rectangle: colour bars, two texels sharing the bytes U, Y0, V, Y1 (BT.601, U and V
// offset by 128). Each bar is an even number of texels wide, so no pair spans two colours.
archive_builder::Entry YuvBars() {
  constexpr int kWidth = 64, kHeight = 32;
  const Rgba bars[8] = {{235, 235, 235, 0}, {235, 235, 16, 0}, {16, 235, 235, 0}, {16, 235, 16, 0},
                        {235, 16, 235, 0},  {235, 16, 16, 0},  {16, 16, 235, 0},  {16, 16, 16, 0}};
  std::vector<uint8_t> data;
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; x += 2) {
      const Rgba c = bars[x / 8];
      const uint8_t luma = Clamp(0.299 * c.r + 0.587 * c.g + 0.114 * c.b);
      data.push_back(Clamp(128 - 0.168736 * c.r - 0.331264 * c.g + 0.5 * c.b));  // U
      data.push_back(luma);                                                    // Y0
      data.push_back(Clamp(128 + 0.5 * c.r - 0.418688 * c.g - 0.081312 * c.b));  // V
      data.push_back(luma);                                                    // Y1
    }
  return {"bars_yuv422", 3, 9, kWidth, kHeight, data};
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT.pvm\n", argv[0]);
    return 2;
  }
  const Palette palette = SamplePalette();
  std::vector<archive_builder::Entry> entries;
  for (const SampleTexture& t : Samples()) entries.push_back(Encode(t));
  for (const IndexedSample& t : IndexedSamples()) entries.push_back(EncodeIndexed(t, palette));
  entries.push_back(YuvBars());

  // The palette takes the archive's stem, so the editor finds it for every texture in it.
  const std::string palettePath = std::filesystem::path(argv[1]).replace_extension(".pvp").string();
  std::string error;
  if (!platform::ReplaceFile(argv[1], archive_builder::BuildArchive(entries), error) ||
      !platform::ReplaceFile(palettePath, palette.Bytes(), error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  return 0;
}
