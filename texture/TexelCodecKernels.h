// Inside TexelCodec: what the portable conversions (TexelCodec.cpp) and the x86 vector paths
// (TexelCodecX86.cpp) share. That is the format rows as compile-time shifts, the twiddle
// index, the plain loops (the vector steps finish short rows and small squares with them),
// and the table through which each path offers its conversions.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
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
  using PlaceVqBlocksFn = void (*)(const uint8_t* entries, const uint8_t* indices, size_t held,
                                   size_t side, uint8_t* rgba);
  std::array<DecodeRowsFn, kPixelFormats.size()> decodeRows;
  std::array<EncodeRowsFn, kPixelFormats.size()> encodeRows;
  std::array<DecodeTwiddledFn, kPixelFormats.size()> decodeTwiddled;
  std::array<EncodeTwiddledFn, kPixelFormats.size()> encodeTwiddled;
  std::array<EncodeTwiddledHalvingFn, kPixelFormats.size()> encodeTwiddledHalving;
  std::array<EncodeTwiddledLevelFn, kPixelFormats.size()> encodeTwiddledLevel;
  PlaceVqBlocksFn placeVqBlocks;  // the same for every pixel format
};

// The table of a path whose conversions for code C are Steps<C> (as Plain<C> above).
template <template <int> class Steps>
constexpr Kernels KernelsOf() {
  return []<int... C>(std::integer_sequence<int, C...>) {
    return Kernels{
        {&Steps<C>::DecodeRows...},
        {&Steps<C>::EncodeRows...},
        {&Steps<C>::DecodeTwiddled...},
        {&Steps<C>::EncodeTwiddled...},
        {&Steps<C>::EncodeTwiddledHalving...},
        {&Steps<C>::EncodeTwiddledLevel...},
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
