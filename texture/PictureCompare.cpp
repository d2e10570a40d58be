#include "texture/PictureCompare.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>

namespace PictureCompare {
namespace {

// 10 log10(255² / mean squared error), over `count` channel values.
double Psnr(uint64_t squaredError, uint64_t count) {
  if (squaredError == 0) return std::numeric_limits<double>::infinity();
  const double mse = double(squaredError) / double(count);
  return 10.0 * std::log10(255.0 * 255.0 / mse);
}

std::string Decibels(double psnr) {
  if (std::isinf(psnr)) return "exact";
  char text[32];
  std::snprintf(text, sizeof text, "%.2f dB", psnr);
  return text;
}

}  // namespace

bool Loss::Lossless() const { return std::isinf(rgb) && (!alpha || std::isinf(*alpha)); }

std::optional<Loss> Compare(const Image& imported, const Image& stored, bool withAlpha) {
  if (imported.Empty() || imported.width != stored.width || imported.height != stored.height ||
      imported.rgba.size() != stored.rgba.size())
    return std::nullopt;
  // A sum of squares up to 255² per channel fits 64 bits for any picture Image allows.
  uint64_t colour = 0, alpha = 0;
  for (size_t i = 0; i < imported.rgba.size(); i += 4) {
    for (size_t c = 0; c < 3; ++c) {
      const int d = int(imported.rgba[i + c]) - int(stored.rgba[i + c]);
      colour += uint64_t(d * d);
    }
    const int d = int(imported.rgba[i + 3]) - int(stored.rgba[i + 3]);
    alpha += uint64_t(d * d);
  }
  const uint64_t pixels = imported.rgba.size() / 4;
  Loss loss{Psnr(colour, pixels * 3), std::nullopt};
  if (withAlpha) loss.alpha = Psnr(alpha, pixels);
  return loss;
}

std::string Text(const Loss& loss) {
  if (loss.Lossless()) return "lossless";
  std::string text = "PSNR " + Decibels(loss.rgb) + " RGB";
  if (loss.alpha) text += ", " + Decibels(*loss.alpha) + " alpha";
  return text;
}

}  // namespace PictureCompare
