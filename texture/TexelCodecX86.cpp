// The x86 vector paths of the codec: SSSE3 for decoding and encoding, AVX2 and AVX-512 VBMI
// (with VNNI, which every processor with VBMI but the first has) for encoding 32 pixels a
// step. Each is built for its own instruction set alone and taken
// only after the processor has said it has it, so the rest of the program keeps the
// baseline instruction set. Every path gives the plain loops' bytes.
#include "texture/TexelCodecKernels.h"

#ifdef QUARNEL_X86_PATHS

#include <immintrin.h>

#include <algorithm>

#define QUARNEL_SSSE3 __attribute__((target("ssse3")))
#define QUARNEL_AVX2 __attribute__((target("avx2")))
#define QUARNEL_VBMI __attribute__((target("avx2,avx512bw,avx512vl,avx512vbmi,avx512vnni")))

namespace TexelCodec::detail {
namespace {

// ---- SSSE3: 16 texels a step ---------------------------------------------------------------
//
// Sixteen pixels are 48 bytes, three registers, of blue, green, red triplets. Byte shuffles
// gather one channel of all sixteen into a register (Gather) and scatter three channel
// registers back into triplets (Scatter); the arithmetic runs on 16-bit lanes, eight
// texels a register, with the shifts the format row stands for.
//
// A twiddled texture is handled in 8 x 8 tiles: the 64 texels of a tile are consecutive in
// the data, and within it the twiddle index reads, from bit 0 up, y0 x0 y1 x1 y2 x2. One
// register of 8 texels thus covers bits y0 x0 y1, and which register of the tile is bits
// x1 y2 x2. Interleaving the 16-bit lanes of two rows (y0) and then the 64-bit halves of two
// such pairs (y1) turns eight rows of a tile into its eight registers in data order;
// undoing those two steps turns them back into rows.

struct Shuffles {
  // gather[c][r][lane]: where lane (pixel) finds channel c in source register r; -128
  // (zero) where that byte is in another register. Twice over, for both halves of an AVX2
  // register, so that a shuffle can take its mask straight from memory.
  alignas(32) int8_t gather[3][3][32];
  // scatter[r][c][lane]: which pixel's channel c fills byte lane of output register r.
  alignas(16) int8_t scatter[3][3][16];
};

constexpr Shuffles MakeShuffles() {
  Shuffles s{};
  for (int c = 0; c < 3; ++c)
    for (int r = 0; r < 3; ++r)
      for (int lane = 0; lane < 32; ++lane) {
        const int byte = 3 * (lane % 16) + c;
        s.gather[c][r][lane] = byte / 16 == r ? int8_t(byte % 16) : int8_t(-128);
        const int out = 16 * r + lane;
        if (lane < 16) s.scatter[r][c][lane] = out % 3 == c ? int8_t(out / 3) : int8_t(-128);
      }
  return s;
}

constexpr Shuffles kShuffles = MakeShuffles();

QUARNEL_SSSE3 inline __m128i Shuffle(__m128i v, const int8_t* mask) {
  return _mm_shuffle_epi8(v, _mm_load_si128(reinterpret_cast<const __m128i*>(mask)));
}

QUARNEL_SSSE3 inline __m128i Load(const uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

QUARNEL_SSSE3 inline void Store(uint8_t* p, __m128i v) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}

// Channel c (0 blue, 1 green, 2 red) of 16 pixels at p.
QUARNEL_SSSE3 inline __m128i Gather(const uint8_t* p, int c) {
  return _mm_or_si128(_mm_or_si128(Shuffle(Load(p), kShuffles.gather[c][0]),
                                   Shuffle(Load(p + 16), kShuffles.gather[c][1])),
                      Shuffle(Load(p + 32), kShuffles.gather[c][2]));
}

// (v AND mask) shifted right, or left, in each 16-bit lane.
template <int32_t Mask, int Shift>
QUARNEL_SSSE3 inline __m128i FieldDown(__m128i v) {
  return _mm_srli_epi16(_mm_and_si128(v, _mm_set1_epi16(int16_t(Mask))), Shift);
}
template <int32_t Mask, int Shift>
QUARNEL_SSSE3 inline __m128i FieldUp(__m128i v) {
  return _mm_slli_epi16(_mm_and_si128(v, _mm_set1_epi16(int16_t(Mask))), Shift);
}

// Sixteen texels (t0: texels 0-7, t1: texels 8-15) to 16 image and mask pixels.
template <int Code>
QUARNEL_SSSE3 inline void Decode16(__m128i t0, __m128i t1, uint8_t* image, uint8_t* mask) {
  using F = Format<Code>;
  constexpr auto f = F::f;
  const __m128i b = _mm_packus_epi16(FieldUp<f.BMask, F::BShift>(t0), FieldUp<f.BMask, F::BShift>(t1));
  const __m128i g = _mm_packus_epi16(FieldDown<f.GMask, F::GShift>(t0), FieldDown<f.GMask, F::GShift>(t1));
  const __m128i r = _mm_packus_epi16(FieldDown<f.RMask, F::RShift>(t0), FieldDown<f.RMask, F::RShift>(t1));
  const __m128i e = _mm_set1_epi16(int16_t(F::E));
  const __m128i a = _mm_packus_epi16(_mm_mullo_epi16(FieldDown<f.AMask, F::AShift>(t0), e),
                                     _mm_mullo_epi16(FieldDown<f.AMask, F::AShift>(t1), e));
  for (int o = 0; o < 3; ++o) {
    const auto* s = kShuffles.scatter[o];
    Store(image + 16 * o,
          _mm_or_si128(_mm_or_si128(Shuffle(b, s[0]), Shuffle(g, s[1])), Shuffle(r, s[2])));
    Store(mask + 16 * o, Shuffle(a, s[2]));  // blue and green stay 0
  }
}

// One channel's share of the low (High false) or high byte of 16 texels: the 8-bit values
// x, shifted left by Shift (right for a negative Shift) as a 16-bit value, cut to the
// channel's mask and to the byte wanted. The shifts run on 16-bit lanes, so bits cross
// into the neighbouring byte; the byte mask keeps only bits that came from x itself.
template <bool High, int Shift, int32_t Mask>
QUARNEL_SSSE3 inline __m128i ByteShare(__m128i x) {
  constexpr int d = High ? Shift - 8 : Shift;
  constexpr int32_t mask = (High ? Mask >> 8 : Mask) & 0xFF;
  if constexpr (mask == 0 || d >= 8 || d <= -8) {
    return _mm_setzero_si128();
  } else if constexpr (d >= 0) {
    return _mm_and_si128(_mm_slli_epi16(x, d), _mm_set1_epi8(char(mask & (0xFF << d))));
  } else {
    return _mm_and_si128(_mm_srli_epi16(x, -d), _mm_set1_epi8(char(mask & (0xFF >> -d))));
  }
}

// Sixteen pixels to sixteen texels (t0: texels 0-7, t1: texels 8-15), computed a byte of
// the texel at a time so that each step handles all sixteen.
template <int Code, bool Alpha>
QUARNEL_SSSE3 inline void Encode16(const uint8_t* image, const uint8_t* mask, __m128i& t0,
                                   __m128i& t1) {
  using F = Format<Code>;
  constexpr auto f = F::f;
  const __m128i b = Gather(image, 0), g = Gather(image, 1), r = Gather(image, 2);
  // Red and green are multiplied by their factor, blue divided by its.
  __m128i low = _mm_or_si128(_mm_or_si128(ByteShare<false, F::RShift, f.RMask>(r),
                                          ByteShare<false, F::GShift, f.GMask>(g)),
                             ByteShare<false, -F::BShift, f.BMask>(b));
  __m128i high = _mm_or_si128(_mm_or_si128(ByteShare<true, F::RShift, f.RMask>(r),
                                           ByteShare<true, F::GShift, f.GMask>(g)),
                              ByteShare<true, -F::BShift, f.BMask>(b));
  if constexpr (Alpha && f.AMask != 0) {
    const __m128i a = Gather(mask, 2);
    // Alpha is divided by its stretch factor first: A / 255 is 1 for 255 alone.
    const __m128i field =
        F::E == 255 ? _mm_and_si128(_mm_cmpeq_epi8(a, _mm_set1_epi8(char(0xFF))), _mm_set1_epi8(1))
                    : _mm_and_si128(_mm_srli_epi16(a, Log2(F::E)), _mm_set1_epi8(char(0xFF >> Log2(F::E))));
    low = _mm_or_si128(low, ByteShare<false, F::AShift, f.AMask>(field));
    high = _mm_or_si128(high, ByteShare<true, F::AShift, f.AMask>(field));
  }
  t0 = _mm_unpacklo_epi8(low, high);
  t1 = _mm_unpackhi_epi8(low, high);
}

// The eight rows (top row first, 8 texels each) of the 8 x 8 tile whose 64 texels are at p.
QUARNEL_SSSE3 inline void TileRows(const uint8_t* p, __m128i rows[8]) {
  // Even 16-bit lanes to the low half, odd ones to the high half.
  const __m128i split = _mm_setr_epi8(0, 1, 4, 5, 8, 9, 12, 13, 2, 3, 6, 7, 10, 11, 14, 15);
  for (int y2 = 0; y2 < 2; ++y2) {
    __m128i pairs[2][2];  // [y1][x2]: rows y and y + 1, low half x0-x3 of one, high of other
    for (int x2 = 0; x2 < 2; ++x2) {
      const __m128i x1Low = Load(p + 16 * (2 * y2 + 4 * x2));
      const __m128i x1High = Load(p + 16 * (1 + 2 * y2 + 4 * x2));
      pairs[0][x2] = _mm_shuffle_epi8(_mm_unpacklo_epi64(x1Low, x1High), split);
      pairs[1][x2] = _mm_shuffle_epi8(_mm_unpackhi_epi64(x1Low, x1High), split);
    }
    for (int y1 = 0; y1 < 2; ++y1) {
      const int y = 2 * y1 + 4 * y2;
      rows[y] = _mm_unpacklo_epi64(pairs[y1][0], pairs[y1][1]);
      rows[y + 1] = _mm_unpackhi_epi64(pairs[y1][0], pairs[y1][1]);
    }
  }
}

// The inverse of TileRows: eight rows of a tile to its 64 texels at p.
QUARNEL_SSSE3 inline void StoreTile(const __m128i rows[8], uint8_t* p) {
  for (int y2 = 0; y2 < 2; ++y2)
    for (int x2 = 0; x2 < 2; ++x2) {
      __m128i pairs[2];  // [y1]: lanes y0 x0 x1 of rows y and y + 1, for this x2
      for (int y1 = 0; y1 < 2; ++y1) {
        const int y = 2 * y1 + 4 * y2;
        pairs[y1] = x2 == 0 ? _mm_unpacklo_epi16(rows[y], rows[y + 1])
                            : _mm_unpackhi_epi16(rows[y], rows[y + 1]);
      }
      Store(p + 16 * (2 * y2 + 4 * x2), _mm_unpacklo_epi64(pairs[0], pairs[1]));
      Store(p + 16 * (1 + 2 * y2 + 4 * x2), _mm_unpackhi_epi64(pairs[0], pairs[1]));
    }
}

// Twiddled textures go in blocks of 16 x 8 pixels, two tiles side by side, so that each row
// of the block is one 16-texel step; sides below 16 take the plain loops.
template <int Code>
struct Ssse3 {
  QUARNEL_SSSE3 static void DecodeRow(const uint8_t* texels, size_t count, uint8_t* image,
                                      uint8_t* mask) {
    size_t j = 0;
    for (; j + 16 <= count; j += 16)
      Decode16<Code>(Load(texels + 2 * j), Load(texels + 2 * j + 16), image + 3 * j, mask + 3 * j);
    Plain<Code>::DecodeRow(texels + 2 * j, count - j, image + 3 * j, mask + 3 * j);
  }

  template <bool Alpha>
  QUARNEL_SSSE3 static void EncodeRow(const uint8_t* image, const uint8_t* mask, size_t count,
                                      uint8_t* texels) {
    size_t j = 0;
    for (; j + 16 <= count; j += 16) {
      __m128i t0, t1;
      Encode16<Code, Alpha>(image + 3 * j, Alpha ? mask + 3 * j : nullptr, t0, t1);
      Store(texels + 2 * j, t0);
      Store(texels + 2 * j + 16, t1);
    }
    Plain<Code>::template EncodeRow<Alpha>(image + 3 * j, Alpha ? mask + 3 * j : nullptr,
                                           count - j, texels + 2 * j);
  }

  template <bool Alpha>
  QUARNEL_SSSE3 static void EncodeRows(const uint8_t* image, const uint8_t* mask, ptrdiff_t pitch,
                                       size_t count, size_t rows, uint8_t* texels,
                                       size_t texelRowBytes) {
    for (size_t i = 0; i < rows; ++i)
      EncodeRow<Alpha>(image + pitch * ptrdiff_t(i), Alpha ? mask + pitch * ptrdiff_t(i) : nullptr,
                       count, texels + texelRowBytes * i);
  }

  QUARNEL_SSSE3 static void DecodeTwiddled(const uint8_t* texels, size_t count, uint8_t* image,
                                           uint8_t* mask, size_t stride, size_t side) {
    if (side < 16) return Plain<Code>::DecodeTwiddled(texels, count, image, mask, stride, side);
    for (size_t ty = 0; ty < side; ty += 8)
      for (size_t tx = 0; tx < side; tx += 16) {
        const size_t left = TwiddleIndex(tx, ty), right = TwiddleIndex(tx + 8, ty);
        if (left + 64 > count || right + 64 > count) {  // short data ends in this block
          DecodeTwiddledRange<Code>(texels, left, std::min(left + 64, std::max(left, count)),
                                    image, mask, stride, side);
          DecodeTwiddledRange<Code>(texels, right, std::min(right + 64, std::max(right, count)),
                                    image, mask, stride, side);
          continue;
        }
        __m128i l[8], r[8];
        TileRows(texels + 2 * left, l);
        TileRows(texels + 2 * right, r);
        for (size_t y = 0; y < 8; ++y) {
          const size_t o = (side - 1 - (ty + y)) * stride + 3 * tx;
          Decode16<Code>(l[y], r[y], image + o, mask + o);
        }
      }
  }

  template <bool Alpha>
  QUARNEL_SSSE3 static void EncodeTwiddled(const uint8_t* image, const uint8_t* mask,
                                           size_t stride, size_t side, uint8_t* texels) {
    if (side < 16) {
      return Plain<Code>::template EncodeTwiddled<Alpha>(image, mask, stride, side, texels);
    }
    for (size_t ty = 0; ty < side; ty += 8)
      for (size_t tx = 0; tx < side; tx += 16) {
        __m128i l[8], r[8];
        for (size_t y = 0; y < 8; ++y) {
          const size_t o = (side - 1 - (ty + y)) * stride + 3 * tx;
          Encode16<Code, Alpha>(image + o, Alpha ? mask + o : nullptr, l[y], r[y]);
        }
        StoreTile(l, texels + 2 * TwiddleIndex(tx, ty));
        StoreTile(r, texels + 2 * TwiddleIndex(tx + 8, ty));
      }
  }

  // The halving itself takes the plain loops on this path.
  template <bool Alpha>
  QUARNEL_SSSE3 static void EncodeTwiddledHalving(const uint8_t* image, const uint8_t* mask,
                                                  size_t stride, size_t side, uint8_t* texels,
                                                  uint8_t* half, size_t plane) {
    EncodeTwiddled<Alpha>(image, mask, stride, side, texels);
    HalveSurfaces(image, kHalvesAlpha<Code, Alpha> ? mask : nullptr, stride, side, half, plane);
  }

  template <bool Alpha>
  static void EncodePlanes(const uint8_t* planes, size_t pixels, uint8_t* texels, uint8_t* half) {
    Plain<Code>::template EncodePlanes<Alpha>(planes, pixels, texels, half);
  }
};

// ---- AVX2 and AVX-512 VBMI: encoding 32 pixels a step --------------------------------------
//
// Both paths decode as SSSE3 does and encode 32 pixels a step with the same arithmetic on
// 256-bit registers; they differ only in how one channel of the 32 pixels is gathered.
//
// The byte shuffles of AVX2 stay within each 128-bit half of a register, so each half
// takes sixteen pixels of its own, exactly as the SSSE3 step does: two runs of a row for a
// rectangular texture, rows y and y + 4 of a tile for a twiddled one.

QUARNEL_AVX2 inline __m256i Load2(const uint8_t* low, const uint8_t* high) {
  return _mm256_inserti128_si256(
      _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(low))),
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(high)), 1);
}

QUARNEL_AVX2 inline void Store2(uint8_t* p, __m256i v) {
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
}

QUARNEL_AVX2 inline __m256i Shuffle2(__m256i v, const int8_t* mask) {
  return _mm256_shuffle_epi8(v, _mm256_load_si256(reinterpret_cast<const __m256i*>(mask)));
}

// ByteShare on both halves.
template <bool High, int Shift, int32_t Mask>
QUARNEL_AVX2 inline __m256i ByteShare2(__m256i x) {
  constexpr int d = High ? Shift - 8 : Shift;
  constexpr int32_t mask = (High ? Mask >> 8 : Mask) & 0xFF;
  if constexpr (mask == 0 || d >= 8 || d <= -8) {
    return _mm256_setzero_si256();
  } else if constexpr (d >= 0) {
    return _mm256_and_si256(_mm256_slli_epi16(x, d), _mm256_set1_epi8(char(mask & (0xFF << d))));
  } else {
    return _mm256_and_si256(_mm256_srli_epi16(x, -d), _mm256_set1_epi8(char(mask & (0xFF >> -d))));
  }
}

// The texel bytes of 32 pixels from their channels (alpha only when Alpha), as Encode16
// computes them for 16: t0 holds texels 0-7 of each half's sixteen, t1 texels 8-15.
template <int Code, bool Alpha>
QUARNEL_AVX2 inline void Combine32(__m256i b, __m256i g, __m256i r, __m256i a, __m256i& t0,
                                   __m256i& t1) {
  using F = Format<Code>;
  constexpr auto f = F::f;
  __m256i low = _mm256_or_si256(_mm256_or_si256(ByteShare2<false, F::RShift, f.RMask>(r),
                                                ByteShare2<false, F::GShift, f.GMask>(g)),
                                ByteShare2<false, -F::BShift, f.BMask>(b));
  __m256i high = _mm256_or_si256(_mm256_or_si256(ByteShare2<true, F::RShift, f.RMask>(r),
                                                 ByteShare2<true, F::GShift, f.GMask>(g)),
                                 ByteShare2<true, -F::BShift, f.BMask>(b));
  if constexpr (Alpha && f.AMask != 0) {
    const __m256i field =
        F::E == 255
            ? _mm256_and_si256(_mm256_cmpeq_epi8(a, _mm256_set1_epi8(char(0xFF))), _mm256_set1_epi8(1))
            : _mm256_and_si256(_mm256_srli_epi16(a, Log2(F::E)),
                               _mm256_set1_epi8(char(0xFF >> Log2(F::E))));
    low = _mm256_or_si256(low, ByteShare2<false, F::AShift, f.AMask>(field));
    high = _mm256_or_si256(high, ByteShare2<true, F::AShift, f.AMask>(field));
  }
  t0 = _mm256_unpacklo_epi8(low, high);
  t1 = _mm256_unpackhi_epi8(low, high);
}

// StoreTile for rows held two to a register: register y holds row y in its low half and
// row y + 4 in its high half (so the halves differ in y2).
QUARNEL_AVX2 inline void StoreTile2(const __m256i rows[4], uint8_t* p) {
  for (int x2 = 0; x2 < 2; ++x2) {
    __m256i pairs[2];  // [y1], each half one y2
    for (int y1 = 0; y1 < 2; ++y1) {
      const int y = 2 * y1;
      pairs[y1] = x2 == 0 ? _mm256_unpacklo_epi16(rows[y], rows[y + 1])
                          : _mm256_unpackhi_epi16(rows[y], rows[y + 1]);
    }
    const __m256i x1Low = _mm256_unpacklo_epi64(pairs[0], pairs[1]);
    const __m256i x1High = _mm256_unpackhi_epi64(pairs[0], pairs[1]);
    // Registers x1 + 2 y2 + 4 x2 of the tile: (x1 0, y2 0), (1, 0), (0, 1), (1, 1).
    Store2(p + 16 * (4 * x2), _mm256_permute2x128_si256(x1Low, x1High, 0x20));
    Store2(p + 16 * (4 * x2 + 2), _mm256_permute2x128_si256(x1Low, x1High, 0x31));
  }
}

// A function's instruction set cannot follow a template argument, so the shared body
// (TexelCodecWide.inc) is compiled once for each: each namespace below names its target
// QUARNEL_WIDE and gives the body its pieces (LoadPixels32 and Channel32 to gather,
// StoreQuarterMeans to halve), then walks twiddled textures in its own Steps.

namespace avx2 {

// Sums of horizontal pixel pairs, 16 bits each.
QUARNEL_AVX2 inline __m256i PairSums(__m256i v) {
  return _mm256_maddubs_epi16(v, _mm256_set1_epi8(1));
}

// (sum + 2) >> 2 of sums of four pixels, as the rounded high half of sum * 2^13 / 2^15.
QUARNEL_AVX2 inline __m256i Means(__m256i sums) {
  return _mm256_mulhrs_epi16(sums, _mm256_set1_epi16(1 << 13));
}

// Sixteen pixels at low in the low halves, sixteen at high in the high halves.
struct Pixels32 {
  __m256i v[3];
};

QUARNEL_AVX2 inline Pixels32 LoadPixels32(const uint8_t* low, const uint8_t* high) {
  return {{Load2(low, high), Load2(low + 16, high + 16), Load2(low + 32, high + 32)}};
}

// Channel c of the 32 pixels: three shuffles, one per register, merged.
QUARNEL_AVX2 inline __m256i Channel32(const Pixels32& p, int c) {
  return _mm256_or_si256(_mm256_or_si256(Shuffle2(p.v[0], kShuffles.gather[c][0]),
                                         Shuffle2(p.v[1], kShuffles.gather[c][1])),
                         Shuffle2(p.v[2], kShuffles.gather[c][2]));
}

// Halving 16 x 8 pixels gives an 8 x 4 block of the next level, held as four rows of eight;
// in twiddled order each of its 4 x 4 halves reads, from bit 0 up, y0 x0 y1 x1 of the
// row-major 4 x 4 square (byte 4 y + x). Twice over, for both halves of a register.
struct TwiddleSquare {
  alignas(32) int8_t lane[32];
};

constexpr TwiddleSquare MakeTwiddleSquare() {
  TwiddleSquare t{};
  for (int m = 0; m < 32; ++m) {
    const int k = m % 16;
    t.lane[m] = int8_t(4 * ((k & 1) | (k >> 1 & 2)) + ((k >> 1 & 1) | (k >> 2 & 2)));
  }
  return t;
}

constexpr TwiddleSquare kTwiddleSquare = MakeTwiddleSquare();

// Four rows of eight means of a channel, half rows 0 and 1 in the low half, 2 and 3 in the
// high: the two 4 x 4 squares are gathered into the halves of one register and each is put
// in twiddled order.
QUARNEL_AVX2 inline void StoreHalfRows(__m256i rows, uint8_t* at) {
  // Columns 0-3 of the four rows to the low half, columns 4-7 to the high.
  const __m256i squares = _mm256_permutevar8x32_epi32(rows, _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7));
  const __m256i twiddled = _mm256_shuffle_epi8(
      squares, _mm256_load_si256(reinterpret_cast<const __m256i*>(kTwiddleSquare.lane)));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(at), _mm256_castsi256_si128(twiddled));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(at + 32), _mm256_extracti128_si256(twiddled, 1));
}

// Pair sums of four pairs give the squares' sums by a horizontal add of neighbouring sums.
QUARNEL_AVX2 inline void StoreQuarterMeans(__m256i v0, __m256i v1, __m256i v2, __m256i v3,
                                           uint8_t* to) {
  const __m256i sums[4] = {PairSums(v0), PairSums(v1), PairSums(v2), PairSums(v3)};
  // hadd sums neighbouring pairs within each half: squares 0-3 and 8-11 in the low half of
  // the first, 4-7 and 12-15 in its high half; the second likewise for 16-31.
  const __m256i packed = _mm256_packus_epi16(Means(_mm256_hadd_epi16(sums[0], sums[1])),
                                             Means(_mm256_hadd_epi16(sums[2], sums[3])));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(to),
                      _mm256_permutevar8x32_epi32(packed, _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7)));
}

#define QUARNEL_WIDE QUARNEL_AVX2
#include "texture/TexelCodecWide.inc"
#undef QUARNEL_WIDE

// The pair sums of a 16 x 8 block's rows, channel by channel, and the block's halves stored
// from them into planes `plane` bytes apart. AVX2 has sixteen registers and the block's
// texels hold eight of them until they are stored, so with four channels the means of rows
// 0 + 1 (and 4 + 5) are packed two channels a register as soon as they are complete.
template <size_t Planes>
struct BlockSums {
  static constexpr bool kPackEarly = Planes == 4;
  // Pair sums [rows 0 + 1 and 4 + 5, rows 2 + 3 and 6 + 7][channel]; with kPackEarly only
  // those of the rows being added up.
  __m256i v[kPackEarly ? 1 : 2][Planes];
  __m256i first[2];  // with kPackEarly: means of rows 0 + 1 and 4 + 5, channels 2i and 2i + 1

  // Adds row y of the block (and y + 4) to the sums.
  QUARNEL_AVX2 void Add(size_t y, const __m256i (&channels)[4]) {
    __m256i(&sums)[Planes] = v[kPackEarly ? 0 : y / 2];
#pragma GCC unroll 4
    for (size_t p = 0; p < Planes; ++p) {
      const __m256i pairs = PairSums(channels[p]);
      sums[p] = y % 2 == 0 ? pairs : _mm256_add_epi16(sums[p], pairs);
    }
    if constexpr (kPackEarly)
      if (y == 1)
        for (size_t i = 0; i < 2; ++i)
          first[i] = _mm256_packus_epi16(Means(sums[2 * i]), Means(sums[2 * i + 1]));
  }

  QUARNEL_AVX2 void Store(uint8_t* at, size_t plane) const {
    if constexpr (kPackEarly) {
      for (size_t i = 0; i < 2; ++i) {
        const __m256i second = _mm256_packus_epi16(Means(v[0][2 * i]), Means(v[0][2 * i + 1]));
        // Each half holds eight means of a channel, then eight of the next; the 64-bit
        // halves bring rows 0 + 1 and 2 + 3 of one channel together.
        StoreHalfRows(_mm256_unpacklo_epi64(first[i], second), at + 2 * i * plane);
        StoreHalfRows(_mm256_unpackhi_epi64(first[i], second), at + (2 * i + 1) * plane);
      }
    } else {
#pragma GCC unroll 4
      for (size_t p = 0; p < Planes; ++p)
        StoreHalfRows(_mm256_packus_epi16(Means(v[0][p]), Means(v[1][p])), at + p * plane);
    }
  }
};

template <int Code>
struct Steps : Wide<Code> {
  // Blocks of 16 x 8 pixels as SSSE3 takes them, rows y and y + 4 a step.
  template <bool Alpha>
  QUARNEL_AVX2 static void EncodeTwiddled(const uint8_t* image, const uint8_t* mask,
                                          size_t stride, size_t side, uint8_t* texels) {
    if (side < 16) {
      return Plain<Code>::template EncodeTwiddled<Alpha>(image, mask, stride, side, texels);
    }
    for (size_t ty = 0; ty < side; ty += 8)
      for (size_t tx = 0; tx < side; tx += 16) {
        __m256i l[4], r[4];
        for (size_t y = 0; y < 4; ++y) {
          const size_t o = (side - 1 - (ty + y)) * stride + 3 * tx;
          const size_t o4 = o - 4 * stride;  // row y + 4
          Encode32<Code, Alpha>(image + o, image + o4, Alpha ? mask + o : nullptr,
                                Alpha ? mask + o4 : nullptr, l[y], r[y]);
        }
        StoreTile2(l, texels + 2 * TwiddleIndex(tx, ty));
        StoreTile2(r, texels + 2 * TwiddleIndex(tx + 8, ty));
      }
  }

  // EncodeTwiddled, halving each block from the channel registers its encoding gathered.
  template <bool Alpha>
  QUARNEL_AVX2 static void EncodeTwiddledHalving(const uint8_t* image, const uint8_t* mask,
                                                 size_t stride, size_t side, uint8_t* texels,
                                                 uint8_t* half, size_t plane) {
    if (side < 16) {
      return Plain<Code>::template EncodeTwiddledHalving<Alpha>(image, mask, stride, side, texels,
                                                                half, plane);
    }
    constexpr size_t planes = kHalvesAlpha<Code, Alpha> ? 4 : 3;
    for (size_t ty = 0; ty < side; ty += 8)
      for (size_t tx = 0; tx < side; tx += 16) {
        __m256i l[4], r[4];
        BlockSums<planes> sums;
#pragma GCC unroll 4
        for (size_t y = 0; y < 4; ++y) {
          const size_t o = (side - 1 - (ty + y)) * stride + 3 * tx;
          const size_t o4 = o - 4 * stride;  // row y + 4
          const Channels c = Channels32<Code, Alpha>(image + o, image + o4, Alpha ? mask + o : nullptr,
                                                     Alpha ? mask + o4 : nullptr);
          Combine32<Code, Alpha>(c.v[0], c.v[1], c.v[2], c.v[3], l[y], r[y]);
          sums.Add(y, c.v);
        }
        const size_t left = TwiddleIndex(tx, ty);
        StoreTile2(l, texels + 2 * left);
        StoreTile2(r, texels + 2 * TwiddleIndex(tx + 8, ty));
        // Halving an even column and row drops the lowest bit of each from the index.
        sums.Store(half + left / 4, plane);
      }
  }

};

}  // namespace avx2

// With VBMI a byte permute reads across both halves of a register and from two registers
// at once, so the 96 bytes of 32 pixels give up one channel in two permutes instead of
// three shuffles and two merges, and in any order of the pixels.
namespace vbmi {

// The 48 bytes at low and the 48 at high as one run of 96 bytes in three registers.
struct Pixels32 {
  __m256i v[3];
};

QUARNEL_VBMI inline Pixels32 LoadPixels32(const uint8_t* low, const uint8_t* high) {
  return {{_mm256_loadu_si256(reinterpret_cast<const __m256i*>(low)), Load2(low + 32, high),
           _mm256_loadu_si256(reinterpret_cast<const __m256i*>(high + 16))}};
}

// Which byte of the 96 each lane takes, channel by channel: from the first two registers
// through low[c] where that is below 64, else from the third through high[c].
struct Gather {
  alignas(32) int8_t low[3][32];
  alignas(32) int8_t high[3][32];
  uint32_t fromThird[3];  // lanes that take the third register
};

// The gather whose lane takes pixel `pixel(lane)` of the 32 (16 and up at high).
template <class PixelOfLane>
constexpr Gather MakeGather(PixelOfLane pixel) {
  Gather g{};
  for (int c = 0; c < 3; ++c)
    for (int lane = 0; lane < 32; ++lane) {
      const int byte = 3 * pixel(lane) + c;
      g.low[c][lane] = int8_t(byte < 64 ? byte : 0);
      g.high[c][lane] = int8_t(byte < 64 ? 0 : byte - 64);
      if (byte >= 64) g.fromThird[c] |= uint32_t{1} << lane;
    }
  return g;
}

// Pixel order, for rows: the shared body's unpacks and stores then treat lanes 0-15 and
// 16-31 as the two halves AVX2 fills.
constexpr Gather kPixelOrder = MakeGather([](int lane) { return lane; });

// Square order, for a twiddled block's rows y (at low) and y + 1 (at high): lane bits
// y0 x0 x1 x2 x3, so that each four consecutive lanes are a 2 x 2 square.
constexpr Gather kSquareOrder =
    MakeGather([](int lane) { return 16 * (lane & 1) + ((lane >> 1 & 1) | (lane >> 1 & 14)); });

QUARNEL_VBMI inline __m256i Channel(const Pixels32& p, const Gather& g, int c) {
  const __m256i low = _mm256_permutex2var_epi8(
      p.v[0], _mm256_load_si256(reinterpret_cast<const __m256i*>(g.low[c])), p.v[1]);
  return _mm256_mask_permutexvar_epi8(
      low, g.fromThird[c], _mm256_load_si256(reinterpret_cast<const __m256i*>(g.high[c])), p.v[2]);
}

QUARNEL_VBMI inline __m256i Channel32(const Pixels32& p, int c) { return Channel(p, kPixelOrder, c); }

// A four-byte dot product (VNNI) sums a 2 x 2 square at once, as 64 sum + 128 in 32 bits,
// whose second byte is (sum + 2) >> 2; a two-register byte permute then gathers those
// bytes in the order the next level wants.
QUARNEL_VBMI inline __m256i SquareSums(__m256i v) {
  return _mm256_dpbusd_epi32(_mm256_set1_epi32(128), v, _mm256_set1_epi8(64));
}

struct HalvingPermutes {
  // The means of two registers of square sums (0-31, 32-63) for the next level: of
  // consecutive squares, twice over (StoreQuarterMeans), and of a twiddled block's rows
  // y1 = 0 and y1 = 1 to their twiddled places in the next level's 8 x 4 block: its left
  // 4 x 4 square in bytes 0-15, its right one in 16-31 (y2 picks the pair of registers).
  alignas(32) int8_t quarter[32];
  alignas(32) int8_t block[32];
};

constexpr HalvingPermutes MakeHalvingPermutes() {
  HalvingPermutes h{};
  for (int m = 0; m < 32; ++m) {
    const int k = m % 16;
    h.quarter[m] = int8_t(32 * (k / 8) + 4 * (k % 8) + 1);
    // Byte m: from bit 0 up y1 x1 y2 x2 of the 4 x 4 square, then x3; a register's square
    // sums are x1 x2 x3.
    const int y1 = m & 1, x1 = m >> 1 & 1, x2 = m >> 3 & 1, x3 = m >> 4;
    h.block[m] = int8_t(32 * y1 + 4 * (x1 | x2 << 1 | x3 << 2) + 1);
  }
  return h;
}

constexpr HalvingPermutes kHalvingPermutes = MakeHalvingPermutes();

QUARNEL_VBMI inline void StoreQuarterMeans(__m256i v0, __m256i v1, __m256i v2, __m256i v3,
                                           uint8_t* to) {
  const __m256i sums[4] = {SquareSums(v0), SquareSums(v1), SquareSums(v2), SquareSums(v3)};
  const __m256i index = _mm256_load_si256(reinterpret_cast<const __m256i*>(kHalvingPermutes.quarter));
  // Squares 0-15 from the first two registers, 16-31 from the other two.
  const __m256i means = _mm256_mask_blend_epi8(0xFFFF0000u, _mm256_permutex2var_epi8(sums[0], index, sums[1]),
                                               _mm256_permutex2var_epi8(sums[2], index, sums[3]));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(to), means);
}

#define QUARNEL_WIDE QUARNEL_VBMI
#include "texture/TexelCodecWide.inc"
#undef QUARNEL_WIDE

// The texels of a block's rows y1 = 0 (t[0]) and y1 = 1 (t[1]) of one y2, in square order
// (Combine32's t0 holds x2 = 0, t1 x2 = 1, each half one x3): 8 bytes are a 2 x 2 square,
// and interleaving them by y1 gives data order, the left tile's 16 texels at `left` and
// the right tile's at `right` for each x2.
QUARNEL_VBMI inline void StoreSquareRows(const __m256i (&t)[2][2], uint8_t* left, uint8_t* right) {
  for (int x2 = 0; x2 < 2; ++x2) {
    const __m256i x1Low = _mm256_unpacklo_epi64(t[0][x2], t[1][x2]);
    const __m256i x1High = _mm256_unpackhi_epi64(t[0][x2], t[1][x2]);
    Store2(left + 64 * x2, _mm256_permute2x128_si256(x1Low, x1High, 0x20));
    Store2(right + 64 * x2, _mm256_permute2x128_si256(x1Low, x1High, 0x31));
  }
}

// A twiddled block of 16 x 8 pixels goes rows y and y + 1 a step, gathered in square order:
// its texels leave in 2 x 2 squares, and with Halve each square is halved by one dot
// product straight from the channel registers.
template <int Code>
struct Steps : Wide<Code> {
  template <bool Alpha, bool Halve>
  QUARNEL_VBMI static void Blocks(const uint8_t* image, const uint8_t* mask, size_t stride,
                                  size_t side, uint8_t* texels, uint8_t* half, size_t plane) {
    constexpr size_t planes = kHalvesAlpha<Code, Alpha> ? 4 : 3;
    const __m256i means = _mm256_load_si256(reinterpret_cast<const __m256i*>(kHalvingPermutes.block));
    // The mask's rows are addressed from the image's, and each row from the block's top one:
    // with a pointer for each of sixteen rows the loop ran short of general registers.
    const ptrdiff_t toMask = Alpha ? mask - image : 0;
    const ptrdiff_t down = -ptrdiff_t(stride);
    for (size_t ty = 0; ty < side; ty += 8) {
      const uint8_t* top = image + (side - 1 - ty) * stride;
      // Twiddle indexes hold y in the even bits and x in the odd ones: 16 more in x is 1
      // more at bit 9, carried across the even bits.
      constexpr size_t kEven = 0x155555;
      const size_t rowBits = Spread(uint32_t(ty));
      for (size_t tx = 0, columnBits = 0; tx < side;
           tx += 16, top += 48, columnBits = ((columnBits | kEven) + 512) & ~kEven) {
        const size_t left = rowBits | columnBits, right = left + 128;
        __m256i halves[2][4];  // [y2][channel]
#pragma GCC unroll 2
        for (size_t y2 = 0; y2 < 2; ++y2) {
          __m256i t[2][2], sums[2][4];
#pragma GCC unroll 2
          for (size_t y1 = 0; y1 < 2; ++y1) {
            const uint8_t* const row = top + ptrdiff_t(4 * y2 + 2 * y1) * down;
            const Pixels32 px = LoadPixels32(row, row + down);
            __m256i c[4] = {Channel(px, kSquareOrder, 0), Channel(px, kSquareOrder, 1),
                            Channel(px, kSquareOrder, 2), _mm256_setzero_si256()};
            if constexpr (kHalvesAlpha<Code, Alpha>)
              c[3] = Channel(LoadPixels32(row + toMask, row + down + toMask), kSquareOrder, 2);
            Combine32<Code, Alpha>(c[0], c[1], c[2], c[3], t[y1][0], t[y1][1]);
            if constexpr (Halve)
              for (size_t p = 0; p < planes; ++p) sums[y1][p] = SquareSums(c[p]);
          }
          StoreSquareRows(t, texels + 2 * (left + 16 * y2), texels + 2 * (right + 16 * y2));
          if constexpr (Halve)
            for (size_t p = 0; p < planes; ++p)
              halves[y2][p] = _mm256_permutex2var_epi8(sums[0][p], means, sums[1][p]);
        }
        if constexpr (Halve) {
          // Halving an even column and row drops the lowest bit of each from the index.
          uint8_t* const at = half + left / 4;
          for (size_t p = 0; p < planes; ++p) {
            const __m256i block = _mm256_mask_blend_epi8(0xF0F0F0F0u, halves[0][p], halves[1][p]);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(at + p * plane), _mm256_castsi256_si128(block));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(at + p * plane + 32),
                             _mm256_extracti128_si256(block, 1));
          }
        }
      }
    }
  }

  template <bool Alpha>
  QUARNEL_VBMI static void EncodeTwiddled(const uint8_t* image, const uint8_t* mask,
                                          size_t stride, size_t side, uint8_t* texels) {
    if (side < 16) return Plain<Code>::template EncodeTwiddled<Alpha>(image, mask, stride, side, texels);
    Blocks<Alpha, false>(image, mask, stride, side, texels, nullptr, 0);
  }

  template <bool Alpha>
  QUARNEL_VBMI static void EncodeTwiddledHalving(const uint8_t* image, const uint8_t* mask,
                                                 size_t stride, size_t side, uint8_t* texels,
                                                 uint8_t* half, size_t plane) {
    if (side < 16) {
      return Plain<Code>::template EncodeTwiddledHalving<Alpha>(image, mask, stride, side, texels,
                                                                half, plane);
    }
    Blocks<Alpha, true>(image, mask, stride, side, texels, half, plane);
  }
};

}  // namespace vbmi

constexpr Kernels kSsse3 = KernelsOf<Ssse3>();
constexpr Kernels kAvx2 = KernelsOf<avx2::Steps>();
constexpr Kernels kAvx512Vbmi = KernelsOf<vbmi::Steps>();

}  // namespace

Path WidestVectorPath() {
  static const Path widest = [] {
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("avx512vnni") &&
        __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512bw"))
      return Path::Avx512Vbmi;
    if (__builtin_cpu_supports("avx2")) return Path::Avx2;
    return __builtin_cpu_supports("ssse3") ? Path::Ssse3 : Path::Plain;
  }();
  return widest;
}

const Kernels* VectorKernels(Path limit) {
  switch (std::min(WidestVectorPath(), limit)) {
    case Path::Avx512Vbmi: return &kAvx512Vbmi;
    case Path::Avx2: return &kAvx2;
    case Path::Ssse3: return &kSsse3;
    case Path::Plain: break;
  }
  return nullptr;
}

}  // namespace TexelCodec::detail

#endif  // QUARNEL_X86_PATHS
