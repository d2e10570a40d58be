// Writes sample.pvm, a small archive for trying the editor out: a few textures drawn here
// from formulas and encoded with the editor's own codec, covering the three pixel formats,
// rectangular and twiddled texel order, and alpha that can be seen in the mask view.
//
//   make_sample_archive OUTPUT.pvm
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "kit/PvmBuilder.h"
#include "platform/Files.h"
#include "texture/cPVR.h"

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
  const size_t dataBytes = size_t(t.width) * size_t(t.height) * 2;
  cPVR texture;
  texture.SetPVRData(int32_t(8 + dataBytes), t.pFormat, t.eFormat, t.width, t.height,
                     std::vector<uint8_t>(dataBytes, 0));
  texture.MakeNew(t.height, t.width, 0);
  texture.MakeNew(t.height, t.width, 1);
  for (int y = 0; y < t.height; ++y)
    for (int x = 0; x < t.width; ++x) {
      const Rgba p = t.pixel(x, y);
      texture.SetPixel(x, y, p.r, p.g, p.b, p.a);
    }
  texture.BMP2PVR();

  return {t.name, t.pFormat, t.eFormat, uint16_t(t.width), uint16_t(t.height),
          texture.ChunkRecord().Data};
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
  };
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT.pvm\n", argv[0]);
    return 2;
  }
  std::vector<archive_builder::Entry> entries;
  for (const SampleTexture& t : Samples()) entries.push_back(Encode(t));

  std::string error;
  if (!platform::ReplaceFile(argv[1], archive_builder::BuildArchive(entries), error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  return 0;
}
