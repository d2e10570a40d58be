// Inside TexelCodec: what the portable conversions (TexelCodec.cpp) and the x86 vector paths
// (TexelCodecX86.cpp) share. That is the format rows as compile-time shifts, the twiddle
// index, the plain loops (the vector steps finish short rows and short blocks with them),
// and the table through which each path offers its conversions.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
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

// Byte offset of the pixel with twiddle index k in a bottom-up surface.
inline size_t TwiddledPixel(size_t k, size_t stride, size_t side) {
  const size_t x = Compact(uint32_t(k >> 1));
  const size_t y = Compact(uint32_t(k));
  return (side - 1 - y) * stride + 3 * x;
}

// ---- Plain loops ---------------------------------------------------------------------------

// The pixel of texel v; the mask's blue and green bytes are left alone.
template <int Code>
void DecodeOne(uint32_t v, uint8_t* image, uint8_t* mask) {
  using F = Format<Code>;
  image[0] = uint8_t((v & F::f.BMask) * F::f.BMul);
  image[1] = uint8_t((v & F::f.GMask) / F::f.GDiv);
  image[2] = uint8_t((v & F::f.RMask) / F::f.RDiv);
  mask[2] = uint8_t((v & F::f.AMask) / F::f.ADiv * F::E);
}

// Each channel keeps its top bits and alpha is divided by its stretch factor, the exact
// inverse of decoding. A null mask gives alpha 0.
template <int Code>
void EncodeOne(const uint8_t* image, const uint8_t* mask, uint8_t* texel) {
  using F = Format<Code>;
  const int32_t A = mask != nullptr ? mask[2] : 0;
  const uint32_t v = ((A / F::E * F::f.ADiv) & F::f.AMask) + ((image[2] * F::f.RDiv) & F::f.RMask) +
                     ((image[1] * F::f.GDiv) & F::f.GMask) + ((image[0] / F::f.BMul) & F::f.BMask);
  texel[0] = uint8_t(v);
  texel[1] = uint8_t(v >> 8);
}

// Texels first .. last - 1 of a twiddled texture, each straight to its pixel.
template <int Code>
void DecodeTwiddledRange(const uint8_t* texels, size_t first, size_t last, uint8_t* image,
                         uint8_t* mask, size_t stride, size_t side) {
  for (size_t k = first; k < last; ++k) {
    const size_t o = TwiddledPixel(k, stride, side);
    DecodeOne<Code>(uint32_t(texels[2 * k] | texels[2 * k + 1] << 8), image + o, mask + o);
  }
}

// ---- Halving -------------------------------------------------------------------------------
//
// A mip level is the level above it halved: each channel of a pixel, alpha included, is the
// rounded mean of the 2 x 2 pixels it covers. Halved pictures are kept as channel planes in
// twiddled order (see TexelCodec.h), where the four pixels a pixel of the next level covers
// are four consecutive bytes.

constexpr uint8_t Mean4(unsigned a, unsigned b, unsigned c, unsigned d) {
  return uint8_t((a + b + c + d + 2) >> 2);
}

// The side x side surface pixels halved into the planes at `half`, `plane` bytes apart, as
// pixels 0 .. (side / 2)^2 - 1 of each; alpha only when mask is not null.
inline void HalveSurfaces(const uint8_t* image, const uint8_t* mask, size_t stride, size_t side,
                          uint8_t* half, size_t plane) {
  for (size_t k = 0; k < side / 2 * (side / 2); ++k) {
    const size_t top = (side - 1 - 2 * Compact(uint32_t(k))) * stride + 6 * Compact(uint32_t(k >> 1));
    const size_t below = top - stride;
    for (size_t c = 0; c < 3; ++c)
      half[c * plane + k] = Mean4(image[top + c], image[top + 3 + c], image[below + c], image[below + 3 + c]);
    if (mask != nullptr)
      half[3 * plane + k] = Mean4(mask[top + 2], mask[top + 5], mask[below + 2], mask[below + 5]);
  }
}

// The first `planes` planes of a picture of `pixels` pixels halved into planes of pixels / 4.
inline void HalvePlanes(const uint8_t* from, size_t pixels, size_t planes, uint8_t* half) {
  const size_t quarter = pixels / 4;
  for (size_t c = 0; c < planes; ++c)
    for (size_t k = 0; k < quarter; ++k) {
      const uint8_t* p = from + c * pixels + 4 * k;
      half[c * quarter + k] = Mean4(p[0], p[1], p[2], p[3]);
    }
}

// Whether halving works out alpha: only a format with alpha bits, given a mask, uses it.
template <int Code, bool Alpha>
constexpr bool kHalvesAlpha = Alpha && Format<Code>::f.AMask != 0;

// A path's conversions for one pixel-format code, as static functions with the signatures
// of the Kernels table below. The plain loops, one texel at a time, take any size.
template <int Code>
struct Plain {
  static void DecodeRow(const uint8_t* texels, size_t count, uint8_t* image, uint8_t* mask) {
    for (size_t j = 0; j < count; ++j, texels += 2, image += 3, mask += 3)
      DecodeOne<Code>(uint32_t(texels[0] | texels[1] << 8), image, mask);
  }

  // Alpha tells whether mask is non-null; the plain loop looks for itself.
  template <bool Alpha>
  static void EncodeRow(const uint8_t* image, const uint8_t* mask, size_t count, uint8_t* texels) {
    for (size_t j = 0; j < count; ++j, image += 3, texels += 2) {
      EncodeOne<Code>(image, mask, texels);
      if (mask != nullptr) mask += 3;
    }
  }

  // Rows `pitch` bytes apart in the surfaces and `texelRowBytes` apart in the texels. Every
  // path loops over the rows inside its own instruction set: a call for each row of a small
  // texture costs more than its row.
  template <bool Alpha>
  static void EncodeRows(const uint8_t* image, const uint8_t* mask, ptrdiff_t pitch, size_t count,
                         size_t rows, uint8_t* texels, size_t texelRowBytes) {
    for (size_t i = 0; i < rows; ++i)
      EncodeRow<Alpha>(image + pitch * ptrdiff_t(i), mask ? mask + pitch * ptrdiff_t(i) : nullptr,
                       count, texels + texelRowBytes * i);
  }

  static void DecodeTwiddled(const uint8_t* texels, size_t count, uint8_t* image,
                             uint8_t* mask, size_t stride, size_t side) {
    DecodeTwiddledRange<Code>(texels, 0, count, image, mask, stride, side);
  }

  template <bool Alpha>
  static void EncodeTwiddled(const uint8_t* image, const uint8_t* mask, size_t stride,
                             size_t side, uint8_t* texels) {
    for (size_t k = 0; k < side * side; ++k) {
      const size_t o = TwiddledPixel(k, stride, side);
      EncodeOne<Code>(image + o, mask != nullptr ? mask + o : nullptr, texels + 2 * k);
    }
  }

  template <bool Alpha>
  static void EncodeTwiddledHalving(const uint8_t* image, const uint8_t* mask, size_t stride,
                                    size_t side, uint8_t* texels, uint8_t* half, size_t plane) {
    EncodeTwiddled<Alpha>(image, mask, stride, side, texels);
    HalveSurfaces(image, kHalvesAlpha<Code, Alpha> ? mask : nullptr, stride, side, half, plane);
  }

  template <bool Alpha>
  static void EncodePlanes(const uint8_t* planes, size_t pixels, uint8_t* texels, uint8_t* half) {
    for (size_t k = 0; k < pixels; ++k) {
      const uint8_t image[3] = {planes[k], planes[pixels + k], planes[2 * pixels + k]};
      const uint8_t mask[3] = {0, 0, Alpha ? planes[3 * pixels + k] : uint8_t(0)};
      EncodeOne<Code>(image, mask, texels + 2 * k);
    }
    if (half != nullptr) HalvePlanes(planes, pixels, kHalvesAlpha<Code, Alpha> ? 4 : 3, half);
  }
};

// ---- Paths ---------------------------------------------------------------------------------

// One path's conversions, by pixel-format code and, for encoding, by whether a mask is given
// ([code][1] takes a mask, [code][0] a null one). Arguments are those of the public
// functions in TexelCodec.h, one row or one square texture at a time.
struct Kernels {
  using DecodeRowFn = void (*)(const uint8_t* texels, size_t count, uint8_t* image,
                               uint8_t* mask);
  using EncodeRowsFn = void (*)(const uint8_t* image, const uint8_t* mask, ptrdiff_t pitch,
                                size_t count, size_t rows, uint8_t* texels, size_t texelRowBytes);
  using DecodeTwiddledFn = void (*)(const uint8_t* texels, size_t count, uint8_t* image,
                                    uint8_t* mask, size_t stride, size_t side);
  using EncodeTwiddledFn = void (*)(const uint8_t* image, const uint8_t* mask, size_t stride,
                                    size_t side, uint8_t* texels);
  std::array<DecodeRowFn, kPixelFormats.size()> decodeRow;
  std::array<std::array<EncodeRowsFn, 2>, kPixelFormats.size()> encodeRows;
  std::array<DecodeTwiddledFn, kPixelFormats.size()> decodeTwiddled;
  using EncodeTwiddledHalvingFn = void (*)(const uint8_t* image, const uint8_t* mask,
                                           size_t stride, size_t side, uint8_t* texels,
                                           uint8_t* half, size_t plane);
  using EncodePlanesFn = void (*)(const uint8_t* planes, size_t pixels, uint8_t* texels,
                                  uint8_t* half);
  std::array<std::array<EncodeTwiddledFn, 2>, kPixelFormats.size()> encodeTwiddled;
  std::array<std::array<EncodeTwiddledHalvingFn, 2>, kPixelFormats.size()> encodeTwiddledHalving;
  std::array<std::array<EncodePlanesFn, 2>, kPixelFormats.size()> encodePlanes;
};

// The table of a path whose conversions for code C are Steps<C> (as Plain<C> above).
template <template <int> class Steps>
constexpr Kernels KernelsOf() {
  return []<int... C>(std::integer_sequence<int, C...>) {
    return Kernels{
        {&Steps<C>::DecodeRow...},
        {{{&Steps<C>::template EncodeRows<false>, &Steps<C>::template EncodeRows<true>}...}},
        {&Steps<C>::DecodeTwiddled...},
        {{{&Steps<C>::template EncodeTwiddled<false>,
           &Steps<C>::template EncodeTwiddled<true>}...}},
        {{{&Steps<C>::template EncodeTwiddledHalving<false>,
           &Steps<C>::template EncodeTwiddledHalving<true>}...}},
        {{{&Steps<C>::template EncodePlanes<false>, &Steps<C>::template EncodePlanes<true>}...}},
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
