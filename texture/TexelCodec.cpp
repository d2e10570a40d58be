// The public calls: each checks the pixel-format code and hands the work to the chosen
// path's table. The plain loops are in TexelCodecKernels.h and the x86 paths in
// TexelCodecX86.cpp; nothing here depends on the processor.
#include "texture/TexelCodec.h"

#include <algorithm>
#include <utility>

#include "texture/TexelCodecKernels.h"

namespace TexelCodec {
namespace {

using detail::Kernels;

constexpr Kernels kPlain = detail::KernelsOf<detail::Plain>();

Path& PathLimit() {
  static Path limit = Path::Avx512Vbmi;
  return limit;
}

// The table of the path the calls take: the widest the processor has, within the limit.
const Kernels& Chosen() {
  const Kernels* vector = detail::VectorKernels(PathLimit());
  return vector != nullptr ? *vector : kPlain;
}

bool Known(int pixelFormat) {
  return pixelFormat >= 0 && size_t(pixelFormat) < kPixelFormats.size();
}

}  // namespace

Rgba DecodeTexel(int pixelFormat, uint16_t texel) {
  if (!Known(pixelFormat)) return {};
  const uint8_t bytes[2] = {uint8_t(texel), uint8_t(texel >> 8)};
  uint8_t image[3] = {}, mask[3] = {};
  kPlain.decodeRow[pixelFormat](bytes, 1, image, mask);
  return {image[2], image[1], image[0], mask[2]};
}

uint16_t EncodeTexel(int pixelFormat, Rgba pixel) {
  if (!Known(pixelFormat)) return 0;
  const uint8_t image[3] = {pixel.b, pixel.g, pixel.r}, mask[3] = {0, 0, pixel.a};
  uint8_t texel[2] = {};
  kPlain.encodeRows[pixelFormat][true](image, mask, 0, 1, 1, texel, 0);
  return uint16_t(texel[0] | texel[1] << 8);
}

void DecodeRows(int pixelFormat, const uint8_t* texels, size_t columns, size_t rows,
                uint8_t* imageRow, uint8_t* maskRow, ptrdiff_t pitch) {
  if (!Known(pixelFormat)) return;
  const auto decodeRow = Chosen().decodeRow[pixelFormat];
  for (size_t i = 0; i < rows; ++i)
    decodeRow(texels + 2 * columns * i, columns, imageRow + pitch * ptrdiff_t(i),
              maskRow + pitch * ptrdiff_t(i));
}

void EncodeRows(int pixelFormat, const uint8_t* imageRow, const uint8_t* maskRow,
                ptrdiff_t pitch, size_t columns, size_t rows, uint8_t* texels,
                size_t texelRowBytes) {
  if (!Known(pixelFormat)) return;
  Chosen().encodeRows[pixelFormat][maskRow != nullptr](imageRow, maskRow, pitch, columns, rows,
                                                       texels, texelRowBytes);
}

void DecodeTwiddled(int pixelFormat, const uint8_t* texels, size_t count, uint8_t* image,
                    uint8_t* mask, size_t stride, size_t side) {
  if (!Known(pixelFormat)) return;
  Chosen().decodeTwiddled[pixelFormat](texels, std::min(count, side * side), image, mask,
                                       stride, side);
}

void EncodeTwiddled(int pixelFormat, const uint8_t* image, const uint8_t* mask, size_t stride,
                    size_t side, uint8_t* texels) {
  if (!Known(pixelFormat)) return;
  Chosen().encodeTwiddled[pixelFormat][mask != nullptr](image, mask, stride, side, texels);
}

void EncodeTwiddledHalving(int pixelFormat, const uint8_t* image, const uint8_t* mask,
                           size_t stride, size_t side, uint8_t* texels, uint8_t* half,
                           size_t plane) {
  if (!Known(pixelFormat) || side < 2) return;
  Chosen().encodeTwiddledHalving[pixelFormat][mask != nullptr](image, mask, stride, side, texels,
                                                               half, plane);
}

void EncodePlanes(int pixelFormat, const uint8_t* planes, size_t pixels, bool alpha,
                  uint8_t* texels, uint8_t* half) {
  if (!Known(pixelFormat)) return;
  Chosen().encodePlanes[pixelFormat][alpha](planes, pixels, texels, half);
}

void HalveSurfaces(const uint8_t* image, const uint8_t* mask, size_t stride, size_t side,
                   uint8_t* half) {
  detail::HalveSurfaces(image, mask, stride, side, half, side / 2 * (side / 2));
}

void HalvePlanes(const uint8_t* planes, size_t pixels, uint8_t* half) {
  detail::HalvePlanes(planes, pixels, 4, half);
}

Path LimitPath(Path widest) { return std::exchange(PathLimit(), widest); }

Path WidestPathAvailable() { return detail::WidestVectorPath(); }

}  // namespace TexelCodec
