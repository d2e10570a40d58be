// Inside TexelCodec: what the portable conversions (TexelCodec.cpp) and the x86 vector paths
// (TexelCodecX86.cpp) share. That is the format rows as compile-time shifts, the twiddle
// index, the plain loops (the vector steps finish short rows and small squares with them),
// and the table through which each path offers its conversions.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>

#include "texture/TexelCodec.h"

namespace TexelCodec::detail {

constexpr int Log2(int32_t v) {
  int n = 0;
  while (v > 1) v >>= 1, ++n;
  return n;
}

// A format row as compile-time constants, with its factors as the shifts they stand for.
template <int Code>
struct Format {
  static constexpr PixelFormatInfo f = kPixelFormats[Code];
  static constexpr int32_t E = kAlphaScale[Code];
  static constexpr int AShift = Log2(f.ADiv), RShift = Log2(f.RDiv), GShift = Log2(f.GDiv),
                       BShift = Log2(f.BMul);
  static_assert(f.ADiv == 1 << AShift && f.RDiv == 1 << RShift && f.GDiv == 1 << GShift &&
                f.BMul == 1 << BShift);
  // Alpha fields of one bit stretch to 255, wider ones by a power of two.
  static_assert(E == 255 || E == 1 << Log2(E));
};

// ---- Twiddle indexes ---------------------------------------------------------------------

// Moves bit i of v (i < 16) to bit 2i.
constexpr uint32_t Spread(uint32_t v) {
  v &= 0xFFFF;
  v = (v | (v << 8)) & 0x00FF00FF;
  v = (v | (v << 4)) & 0x0F0F0F0F;
  v = (v | (v << 2)) & 0x33333333;
  return (v | (v << 1)) & 0x55555555;
}

// Moves bit 2i of v to bit i: the inverse of Spread.
constexpr uint32_t Compact(uint32_t v) {
  v &= 0x55555555;
  v = (v | (v >> 1)) & 0x33333333;
  v = (v | (v >> 2)) & 0x0F0F0F0F;
  v = (v | (v >> 4)) & 0x00FF00FF;
  return (v | (v >> 8)) & 0x0000FFFF;
}

// Column in the odd bits, row from the top in the even bits.
constexpr size_t TwiddleIndex(size_t x, size_t y) {
  return Spread(uint32_t(y)) | Spread(uint32_t(x)) << 1;
}

// Byte offset of the pixel with twiddle index k in a picture whose rows are `stride` apart.
inline size_t TwiddledPixel(size_t k, size_t stride) {
  return Compact(uint32_t(k)) * stride + 4 * Compact(uint32_t(k >> 1));
}

// ---- Plain loops ---------------------------------------------------------------------------

// The pixel of texel v. A format without alpha bits decodes opaque.
template <int Code>
void DecodeOne(uint32_t v, uint8_t* pixel) {
  using F = Format<Code>;
  pixel[0] = uint8_t((v & F::f.RMask) / F::f.RDiv);
  pixel[1] = uint8_t((v & F::f.GMask) / F::f.GDiv);
  pixel[2] = uint8_t((v & F::f.BMask) * F::f.BMul);
  pixel[3] = F::f.AMask != 0 ? uint8_t((v & F::f.AMask) / F::f.ADiv * F::E) : uint8_t(255);
}

// Each channel keeps its top bits and alpha is divided by its stretch factor, the exact
// inverse of decoding.
template <int Code>
void EncodeOne(const uint8_t* pixel, uint8_t* texel) {
  using F = Format<Code>;
  const uint32_t v = ((pixel[3] / F::E * F::f.ADiv) & F::f.AMask) +
                     ((pixel[0] * F::f.RDiv) & F::f.RMask) +
                     ((pixel[1] * F::f.GDiv) & F::f.GMask) + ((pixel[2] / F::f.BMul) & F::f.BMask);
  texel[0] = uint8_t(v);
  texel[1] = uint8_t(v >> 8);
}

// Texels first .. last - 1 of a twiddled texture, each straight to its pixel; those from
// `count` on are missing and decode as a zero texel.
template <int Code>
void DecodeTwiddledRange(const uint8_t* texels, size_t first, size_t last, size_t count,
                         uint8_t* rgba, size_t stride) {
  for (size_t k = first; k < last; ++k)
    DecodeOne<Code>(k < count ? uint32_t(texels[2 * k] | texels[2 * k + 1] << 8) : 0,
                    rgba + TwiddledPixel(k, stride));
}

// ---- Halving -------------------------------------------------------------------------------
//
// A mip level is the level above it halved: each channel of a pixel, alpha included, is the
// rounded mean of the 2 x 2 pixels it covers. Halved pictures are kept in twiddled order
// (see TexelCodec.h), where the four pixels a pixel of the next level covers are four
// consecutive pixels.

constexpr uint8_t Mean4(unsigned a, unsigned b, unsigned c, unsigned d) {
  return uint8_t((a + b + c + d + 2) >> 2);
}

// The side x side picture pixels halved into (side / 2)^2 pixels in twiddled order.
inline void HalvePicture(const uint8_t* rgba, size_t stride, size_t side, uint8_t* half) {
  for (size_t k = 0; k < side / 2 * (side / 2); ++k) {
    const uint8_t* top = rgba + 2 * Compact(uint32_t(k)) * stride + 8 * Compact(uint32_t(k >> 1));
    const uint8_t* below = top + stride;
    for (size_t c = 0; c < 4; ++c)
      half[4 * k + c] = Mean4(top[c], top[4 + c], below[c], below[4 + c]);
  }
}

// `pixels` pixels in twiddled order halved into pixels / 4.
inline void HalveTwiddled(const uint8_t* from, size_t pixels, uint8_t* half) {
  for (size_t k = 0; k < pixels / 4; ++k) {
    const uint8_t* p = from + 16 * k;
    for (size_t c = 0; c < 4; ++c) half[4 * k + c] = Mean4(p[c], p[4 + c], p[8 + c], p[12 + c]);
  }
}

// ---- VQ blocks -----------------------------------------------------------------------------

constexpr size_t kVqEntryBytes = 16;
constexpr size_t kVqMissingEntry = 256;

// The entries of the four blocks of the 2 x 2 square of blocks whose first twiddle index is
// k: (x, y), (x, y + 1), (x + 1, y), (x + 1, y + 1), their indices consecutive.
inline void SquareEntries(const uint8_t* entries, const uint8_t* indices, size_t held, size_t k,
                          const uint8_t* e[4]) {
  for (size_t i = 0; i < 4; ++i)
    e[i] = entries + kVqEntryBytes * (k + i < held ? indices[k + i] : kVqMissingEntry);
}

// The blocks a 2 x 2 square of them at a time: four picture rows of 16 bytes.
inline void PlaceVqBlocks(const uint8_t* entries, const uint8_t* indices, size_t held,
                          size_t side, uint8_t* rgba) {
  const size_t blocks = side / 2, stride = 4 * side;
  for (size_t by = 0; by < blocks; by += 2)
    for (size_t bx = 0; bx < blocks; bx += 2) {
      const uint8_t* e[4];
      SquareEntries(entries, indices, held, TwiddleIndex(bx, by), e);
      uint8_t* const at = rgba + 2 * by * stride + 8 * bx;
      for (size_t i = 0; i < 4; ++i) {
        uint8_t* const corner = at + (i & 1) * 2 * stride + (i >> 1) * 8;
        std::memcpy(corner, e[i], 8);
        std::memcpy(corner + stride, e[i] + 8, 8);
      }
    }
}

// A path's conversions for one pixel-format code, as static functions with the signatures
// of the Kernels table below. The plain loops, one texel at a time, take any size.
template <int Code>
struct Plain {
  static void DecodeRow(const uint8_t* texels, size_t count, uint8_t* rgba) {
    for (size_t j = 0; j < count; ++j, texels += 2, rgba += 4)
      DecodeOne<Code>(uint32_t(texels[0] | texels[1] << 8), rgba);
  }

  static void EncodeRow(const uint8_t* rgba, size_t count, uint8_t* texels) {
    for (size_t j = 0; j < count; ++j, rgba += 4, texels += 2) EncodeOne<Code>(rgba, texels);
  }

  // Rows `stride` bytes apart in the picture and `texelRowBytes` apart in the texels. Every
  // path loops over the rows inside its own instruction set: a call for each row of a small
  // texture costs more than its row.
  static void DecodeRows(const uint8_t* texels, size_t count, size_t rows, uint8_t* rgba,
                         size_t stride) {
    for (size_t i = 0; i < rows; ++i) DecodeRow(texels + 2 * count * i, count, rgba + stride * i);
  }

  static void EncodeRows(const uint8_t* rgba, size_t stride, size_t count, size_t rows,
                         uint8_t* texels, size_t texelRowBytes) {
    for (size_t i = 0; i < rows; ++i) EncodeRow(rgba + stride * i, count, texels + texelRowBytes * i);
  }

  static void DecodeTwiddled(const uint8_t* texels, size_t count, uint8_t* rgba, size_t stride,
                             size_t side) {
    DecodeTwiddledRange<Code>(texels, 0, side * side, count, rgba, stride);
  }

  static void EncodeTwiddled(const uint8_t* rgba, size_t stride, size_t side, uint8_t* texels) {
    for (size_t k = 0; k < side * side; ++k)
      EncodeOne<Code>(rgba + TwiddledPixel(k, stride), texels + 2 * k);
  }

  static void EncodeTwiddledHalving(const uint8_t* rgba, size_t stride, size_t side,
                                    uint8_t* texels, uint8_t* half) {
    EncodeTwiddled(rgba, stride, side, texels);
    HalvePicture(rgba, stride, side, half);
  }

  static void EncodeTwiddledLevel(const uint8_t* level, size_t pixels, uint8_t* texels,
                                  uint8_t* half) {
    EncodeRow(level, pixels, texels);
    if (half != nullptr) HalveTwiddled(level, pixels, half);
  }

  static void PlaceVqBlocks(const uint8_t* entries, const uint8_t* indices, size_t held,
                            size_t side, uint8_t* rgba) {
    detail::PlaceVqBlocks(entries, indices, held, side, rgba);
  }
};

// ---- YUV pairs -----------------------------------------------------------------------------
//
// The conversion of TexelCodec.h in integers: 1.402 is 1402 / 1000 and so on, and a half
// rounds up, so floor((n + d / 2) / d) is the rounded n / d.

constexpr int FloorDiv(int n, int d) { return n >= 0 ? n / d : -((-n + d - 1) / d); }

constexpr uint8_t Clamp255(int v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v); }

// What the chroma of a pair adds to its luma, channel by channel; u and v are U - 128 and
// V - 128.
struct ChromaOffsets {
  int r, g, b;
};
constexpr ChromaOffsets OffsetsOf(int u, int v) {
  return {FloorDiv(1402 * v + 500, 1000), FloorDiv(500000 - 344136 * u - 714136 * v, 1000000),
          FloorDiv(1772 * u + 500, 1000)};
}

// Texels U Y0 and V Y1 (their four bytes at p) to two pixels, opaque.
inline void DecodePair(const uint8_t* p, uint8_t* left, uint8_t* right) {
  const ChromaOffsets o = OffsetsOf(p[0] - 128, p[2] - 128);
  const uint8_t y[2] = {p[1], p[3]};
  uint8_t* const to[2] = {left, right};
  for (int i = 0; i < 2; ++i) {
    to[i][0] = Clamp255(y[i] + o.r);
    to[i][1] = Clamp255(y[i] + o.g);
    to[i][2] = Clamp255(y[i] + o.b);
    to[i][3] = 255;
  }
}

// Two pixels to the texels of their pair: U Y0 at `first`, V Y1 at `second`.
inline void EncodePair(const uint8_t* left, const uint8_t* right, uint8_t* first, uint8_t* second) {
  const auto luma = [](const uint8_t* c) { return Clamp255(FloorDiv(299 * c[0] + 587 * c[1] + 114 * c[2] + 500, 1000)); };
  const int r = left[0] + right[0], g = left[1] + right[1], b = left[2] + right[2];
  // (B - Y) / 1.772 and (R - Y) / 1.402 of each pixel, averaged: over 2 x 1772 and 2 x 1402.
  const int u = -299 * r - 587 * g + 886 * b, v = 701 * r - 587 * g - 114 * b;
  first[0] = Clamp255(128 + FloorDiv(2 * u + 3544, 7088));
  first[1] = luma(left);
  second[0] = Clamp255(128 + FloorDiv(2 * v + 2804, 5608));
  second[1] = luma(right);
}

inline void PutMissing(uint8_t* pixel, bool alpha) {
  pixel[0] = pixel[1] = pixel[2] = 0;
  pixel[3] = alpha ? 0 : 255;
}

// The plain loops of YUV pairs; the vector paths put their own row decoding over them.
struct PlainYuv {
  static void DecodeRow(const uint8_t* texels, size_t count, uint8_t* rgba) {
    size_t j = 0;
    for (; j + 2 <= count; j += 2) DecodePair(texels + 2 * j, rgba + 4 * j, rgba + 4 * j + 4);
    if (j < count) PutMissing(rgba + 4 * j, false);
  }

  static void EncodeRow(const uint8_t* rgba, size_t count, uint8_t* texels) {
    size_t j = 0;
    for (; j + 2 <= count; j += 2)
      EncodePair(rgba + 4 * j, rgba + 4 * j + 4, texels + 2 * j, texels + 2 * j + 2);
    if (j < count) {  // alone: the first texel of a pair of itself
      uint8_t spare[2];
      EncodePair(rgba + 4 * j, rgba + 4 * j, texels + 2 * j, spare);
    }
  }

  static void DecodeRows(const uint8_t* texels, size_t count, size_t rows, uint8_t* rgba, size_t stride) {
    for (size_t i = 0; i < rows; ++i) DecodeRow(texels + 2 * count * i, count, rgba + stride * i);
  }

  static void EncodeRows(const uint8_t* rgba, size_t stride, size_t count, size_t rows, uint8_t* texels,
                         size_t texelRowBytes) {
    for (size_t i = 0; i < rows; ++i) EncodeRow(rgba + stride * i, count, texels + texelRowBytes * i);
  }

  // Pairs first .. last - 1 of a twiddled texture (first even, k and k + 2 its texels).
  static void DecodeTwiddledRange(const uint8_t* texels, size_t first, size_t last, size_t count,
                                  uint8_t* rgba, size_t stride) {
    for (size_t k = first; k < last; ++k) {
      if (k & 2) continue;
      uint8_t* const left = rgba + TwiddledPixel(k, stride);
      uint8_t* const right = rgba + TwiddledPixel(k + 2, stride);
      if (k + 2 < count) {
        const uint8_t pair[4] = {texels[2 * k], texels[2 * k + 1], texels[2 * k + 4], texels[2 * k + 5]};
        DecodePair(pair, left, right);
      } else {
        PutMissing(left, false), PutMissing(right, false);
      }
    }
  }

  static void DecodeTwiddled(const uint8_t* texels, size_t count, uint8_t* rgba, size_t stride, size_t side) {
    if (side < 2) return PutMissing(rgba, false);
    DecodeTwiddledRange(texels, 0, side * side, count, rgba, stride);
  }

  static void EncodeTwiddled(const uint8_t* rgba, size_t stride, size_t side, uint8_t* texels) {
    if (side < 2) return EncodeRow(rgba, 1, texels);
    for (size_t k = 0; k < side * side; k += (k & 1) ? 3 : 1)  // k with bit 1 clear
      EncodePair(rgba + TwiddledPixel(k, stride), rgba + TwiddledPixel(k + 2, stride), texels + 2 * k,
                 texels + 2 * k + 4);
  }

  static void EncodeTwiddledHalving(const uint8_t* rgba, size_t stride, size_t side, uint8_t* texels,
                                    uint8_t* half) {
    EncodeTwiddled(rgba, stride, side, texels);
    HalvePicture(rgba, stride, side, half);
  }

  // In twiddled order the pairs of each 2 x 2 square are its pixels 0 and 2, and 1 and 3.
  static void EncodeTwiddledLevel(const uint8_t* level, size_t pixels, uint8_t* texels, uint8_t* half) {
    if (pixels < 4) return EncodeRow(level, pixels, texels);
    for (size_t k = 0; k < pixels; k += 4)
      for (size_t i = 0; i < 2; ++i)
        EncodePair(level + 4 * (k + i), level + 4 * (k + i + 2), texels + 2 * (k + i), texels + 2 * (k + i + 2));
    if (half != nullptr) HalveTwiddled(level, pixels, half);
  }

  static void PlaceVqBlocks(const uint8_t* entries, const uint8_t* indices, size_t held, size_t side,
                            uint8_t* rgba) {
    detail::PlaceVqBlocks(entries, indices, held, side, rgba);
  }
};

// ---- Bump maps -----------------------------------------------------------------------------

// The pixel of each of the 65536 texels, red in the low byte; worked out once, on first use.
const uint32_t* BumpPixels();

struct PlainBump {
  static void DecodeRow(const uint8_t* texels, size_t count, uint8_t* rgba) {
    const uint32_t* table = BumpPixels();
    for (size_t j = 0; j < count; ++j) std::memcpy(rgba + 4 * j, &table[texels[2 * j] | texels[2 * j + 1] << 8], 4);
  }
  static void DecodeRows(const uint8_t* texels, size_t count, size_t rows, uint8_t* rgba, size_t stride) {
    for (size_t i = 0; i < rows; ++i) DecodeRow(texels + 2 * count * i, count, rgba + stride * i);
  }
  static void DecodeTwiddled(const uint8_t* texels, size_t count, uint8_t* rgba, size_t stride, size_t side) {
    const uint32_t* table = BumpPixels();
    for (size_t k = 0; k < side * side; ++k) {
      uint8_t* const pixel = rgba + TwiddledPixel(k, stride);
      if (k < count) std::memcpy(pixel, &table[texels[2 * k] | texels[2 * k + 1] << 8], 4);
      else PutMissing(pixel, false);
    }
  }
  // Bump maps are not encoded (TexelCodec::Encodes); these write nothing.
  static void EncodeRows(const uint8_t*, size_t, size_t, size_t, uint8_t*, size_t) {}
  static void EncodeTwiddled(const uint8_t*, size_t, size_t, uint8_t*) {}
  static void EncodeTwiddledHalving(const uint8_t*, size_t, size_t, uint8_t*, uint8_t*) {}
  static void EncodeTwiddledLevel(const uint8_t*, size_t, uint8_t*, uint8_t*) {}
};

// ---- Paths ---------------------------------------------------------------------------------

// One path's conversions, by pixel-format code. Arguments are those of the public functions
// in TexelCodec.h, one square texture at a time for the twiddled ones.
struct Kernels {
  using DecodeRowsFn = void (*)(const uint8_t* texels, size_t count, size_t rows, uint8_t* rgba,
                                size_t stride);
  using EncodeRowsFn = void (*)(const uint8_t* rgba, size_t stride, size_t count, size_t rows,
                                uint8_t* texels, size_t texelRowBytes);
  using DecodeTwiddledFn = void (*)(const uint8_t* texels, size_t count, uint8_t* rgba,
                                    size_t stride, size_t side);
  using EncodeTwiddledFn = void (*)(const uint8_t* rgba, size_t stride, size_t side,
                                    uint8_t* texels);
  using EncodeTwiddledHalvingFn = void (*)(const uint8_t* rgba, size_t stride, size_t side,
                                           uint8_t* texels, uint8_t* half);
  using EncodeTwiddledLevelFn = void (*)(const uint8_t* level, size_t pixels, uint8_t* texels,
                                         uint8_t* half);
  using EncodeTwiddledQuarteringFn = void (*)(const uint8_t* rgba, size_t stride, size_t side,
                                              uint8_t* texels, uint8_t* half, uint8_t* halfTexels,
                                              uint8_t* quarter);
  using PlaceVqBlocksFn = void (*)(const uint8_t* entries, const uint8_t* indices, size_t held,
                                   size_t side, uint8_t* rgba);
  std::array<DecodeRowsFn, kPixelFormats.size()> decodeRows;
  std::array<EncodeRowsFn, kPixelFormats.size()> encodeRows;
  std::array<DecodeTwiddledFn, kPixelFormats.size()> decodeTwiddled;
  std::array<EncodeTwiddledFn, kPixelFormats.size()> encodeTwiddled;
  std::array<EncodeTwiddledHalvingFn, kPixelFormats.size()> encodeTwiddledHalving;
  std::array<EncodeTwiddledLevelFn, kPixelFormats.size()> encodeTwiddledLevel;
  std::array<EncodeTwiddledQuarteringFn, kPixelFormats.size()> encodeTwiddledQuartering;
  PlaceVqBlocksFn placeVqBlocks;  // the same for every pixel format
};

// The steps of code C on a path: Steps<C> for the formats of fields, Yuv for YUV pairs
// (PlainYuv, or a path's own over it), PlainBump for bump maps. The steps of the other
// kinds are never instantiated for a code that is not theirs.
template <template <int> class Steps, class Yuv, int C>
using StepsOf = std::conditional_t<kTexels[C] == Texels::Fields, Steps<C>,
                                   std::conditional_t<kTexels[C] == Texels::YuvPairs, Yuv, PlainBump>>;

// A path's steps for quartering: their own where they have it, else halving and the half's
// level pass one after the other.
template <class S>
void EncodeTwiddledQuartering(const uint8_t* rgba, size_t stride, size_t side, uint8_t* texels,
                              uint8_t* half, uint8_t* halfTexels, uint8_t* quarter) {
  if constexpr (requires { S::EncodeTwiddledQuartering(rgba, stride, side, texels, half, halfTexels, quarter); }) {
    S::EncodeTwiddledQuartering(rgba, stride, side, texels, half, halfTexels, quarter);
  } else {
    S::EncodeTwiddledHalving(rgba, stride, side, texels, half);
    S::EncodeTwiddledLevel(half, side * side / 4, halfTexels, quarter);
  }
}

// The table of a path whose conversions for code C are Steps<C> (as Plain<C> above).
template <template <int> class Steps, class Yuv = PlainYuv>
constexpr Kernels KernelsOf() {
  return []<int... C>(std::integer_sequence<int, C...>) {
    return Kernels{
        {&StepsOf<Steps, Yuv, C>::DecodeRows...},
        {&StepsOf<Steps, Yuv, C>::EncodeRows...},
        {&StepsOf<Steps, Yuv, C>::DecodeTwiddled...},
        {&StepsOf<Steps, Yuv, C>::EncodeTwiddled...},
        {&StepsOf<Steps, Yuv, C>::EncodeTwiddledHalving...},
        {&StepsOf<Steps, Yuv, C>::EncodeTwiddledLevel...},
        {&EncodeTwiddledQuartering<StepsOf<Steps, Yuv, C>>...},
        &Steps<0>::PlaceVqBlocks,
    };
  }(std::make_integer_sequence<int, int(kPixelFormats.size())>{});
}

// The vector paths are built for x86 processors; elsewhere, or with QUARNEL_NO_X86_PATHS
// defined, TexelCodecX86.cpp builds to nothing and the plain loops are the only path.
#if (defined(__x86_64__) || defined(__i386__)) && !defined(QUARNEL_NO_X86_PATHS)
#define QUARNEL_X86_PATHS 1

// The widest vector path the processor offers, or Plain.
Path WidestVectorPath();

// The table of the widest vector path the processor offers up to `limit`; null if that is
// none (the plain loops).
const Kernels* VectorKernels(Path limit);

#else

inline Path WidestVectorPath() { return Path::Plain; }
inline const Kernels* VectorKernels(Path) { return nullptr; }

#endif

}  // namespace TexelCodec::detail
