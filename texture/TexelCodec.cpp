// The public calls: each checks the pixel-format code and hands the work to the chosen
// path's table. The plain loops are in TexelCodecKernels.h and the x86 paths in
// TexelCodecX86.cpp; nothing here depends on the processor.
#include "texture/TexelCodec.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>
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
  uint8_t pixel[4] = {};
  kPlain.decodeRows[pixelFormat](bytes, 1, 1, pixel, 4);
  return {pixel[0], pixel[1], pixel[2], pixel[3]};
}

Rgba MissingPixel(int pixelFormat) {
  if (!Known(pixelFormat)) return {};
  if (kTexels[size_t(pixelFormat)] == Texels::Fields) return DecodeTexel(pixelFormat, 0);
  return {0, 0, 0, 255};
}

bool Encodes(int pixelFormat) { return Known(pixelFormat) && kTexels[size_t(pixelFormat)] != Texels::BumpMap; }

uint16_t EncodeTexel(int pixelFormat, Rgba pixel) {
  if (!Known(pixelFormat)) return 0;
  const uint8_t rgba[4] = {pixel.r, pixel.g, pixel.b, pixel.a};
  uint8_t texel[2] = {};
  kPlain.encodeRows[pixelFormat](rgba, 4, 1, 1, texel, 0);
  return uint16_t(texel[0] | texel[1] << 8);
}

void DecodeRows(int pixelFormat, const uint8_t* texels, size_t columns, size_t rows,
                uint8_t* rgba, size_t stride) {
  if (!Known(pixelFormat)) return;
  Chosen().decodeRows[pixelFormat](texels, columns, rows, rgba, stride);
}

void EncodeRows(int pixelFormat, const uint8_t* rgba, size_t stride, size_t columns,
                size_t rows, uint8_t* texels, size_t texelRowBytes) {
  if (!Known(pixelFormat)) return;
  Chosen().encodeRows[pixelFormat](rgba, stride, columns, rows, texels, texelRowBytes);
}

void DecodeTwiddled(int pixelFormat, const uint8_t* texels, size_t count, uint8_t* rgba,
                    size_t stride, size_t side) {
  if (!Known(pixelFormat)) return;
  Chosen().decodeTwiddled[pixelFormat](texels, std::min(count, side * side), rgba, stride, side);
}

void EncodeTwiddled(int pixelFormat, const uint8_t* rgba, size_t stride, size_t side,
                    uint8_t* texels) {
  if (!Known(pixelFormat)) return;
  Chosen().encodeTwiddled[pixelFormat](rgba, stride, side, texels);
}

void EncodeTwiddledHalving(int pixelFormat, const uint8_t* rgba, size_t stride, size_t side,
                           uint8_t* texels, uint8_t* half) {
  if (!Known(pixelFormat) || side < 2) return;
  Chosen().encodeTwiddledHalving[pixelFormat](rgba, stride, side, texels, half);
}

void EncodeTwiddledLevel(int pixelFormat, const uint8_t* level, size_t pixels, uint8_t* texels,
                         uint8_t* half) {
  if (!Known(pixelFormat)) return;
  Chosen().encodeTwiddledLevel[pixelFormat](level, pixels, texels, half);
}

void EncodeTwiddledQuartering(int pixelFormat, const uint8_t* rgba, size_t stride, size_t side,
                              uint8_t* texels, uint8_t* half, uint8_t* halfTexels, uint8_t* quarter) {
  if (!Known(pixelFormat) || side < 4) return;
  Chosen().encodeTwiddledQuartering[pixelFormat](rgba, stride, side, texels, half, halfTexels, quarter);
}

void PlaceVqBlocks(const uint8_t* entries, const uint8_t* indices, size_t held, size_t side,
                   uint8_t* rgba) {
  Chosen().placeVqBlocks(entries, indices, held, side, rgba);
}

void HalvePicture(const uint8_t* rgba, size_t stride, size_t side, uint8_t* half) {
  detail::HalvePicture(rgba, stride, side, half);
}

void HalveTwiddled(const uint8_t* level, size_t pixels, uint8_t* half) {
  detail::HalveTwiddled(level, pixels, half);
}

namespace detail {

const uint32_t* BumpPixels() {
  static const std::unique_ptr<uint32_t[]> table = [] {
    auto t = std::make_unique<uint32_t[]>(65536);
    const auto level = [](double v) { return uint32_t(std::lround((v + 1) / 2 * 255)); };
    for (uint32_t s = 0; s < 256; ++s) {
      const double theta = (1 - s / 255.0) * std::numbers::pi / 2;
      for (uint32_t r = 0; r < 256; ++r) {
        const double phi = r / 255.0 * 2 * std::numbers::pi;
        t[s << 8 | r] = level(std::sin(theta) * std::cos(phi)) | level(std::sin(theta) * std::sin(phi)) << 8 |
                        level(std::cos(theta)) << 16 | 0xFFu << 24;
      }
    }
    return t;
  }();
  return table.get();
}

}  // namespace detail

Path LimitPath(Path widest) { return std::exchange(PathLimit(), widest); }

Path WidestPathAvailable() { return detail::WidestVectorPath(); }

}  // namespace TexelCodec
