// How much of a picture a texture's format kept: the picture imported against the stored
// texture decoded again, as a peak signal-to-noise ratio over 8-bit channels (peak 255).
#pragma once

#include <optional>
#include <string>

#include "texture/Image.h"

namespace PictureCompare {

struct Loss {
  // In dB; infinity where the channels compared are equal.
  double rgb = 0;
  std::optional<double> alpha;  // only where alpha was compared
  bool Lossless() const;
};

// `stored` against `imported`: red, green and blue together, and alpha apart when withAlpha
// (a format without alpha bits keeps none, so its alpha says nothing). nullopt for pictures
// of different sizes, or empty ones.
std::optional<Loss> Compare(const Image& imported, const Image& stored, bool withAlpha);

// For a status line: "lossless", or "PSNR 38.21 dB RGB, 45.02 dB alpha" (a channel group
// that came through whole reads "exact").
std::string Text(const Loss& loss);

}  // namespace PictureCompare
