// The x86 vector paths of the codec: SSSE3 for 8 texels a step, AVX2 and AVX-512 VBMI for
// 16. Each is built for its own instruction set alone and taken only after the processor
// has said it has it, so the rest of the program keeps the baseline instruction set. Every
// path gives the plain loops' bytes.
//
// A pixel is one 32-bit lane (red in its low byte, alpha in its high one) and a texel one
// 16-bit lane, so the arithmetic is shifts and masks on whole lanes:
//   - decoding makes, per texel, red | green << 8 and blue | alpha << 8 in 16-bit lanes
//     and interleaves the two into pixels;
//   - encoding shifts each channel of a pixel to its field, masks and merges, and packs
//     the 32-bit lanes to 16 bits.
// On AVX-512 VBMI a multishift does a byte's shifts at once (DecodeFields, EncodeFields in
// TexelCodecWide.inc).
// Twiddled textures go by squares: the four pixels of a 2 x 2 square are consecutive
// texels (top-left, bottom-left, top-right, bottom-right), and interleaving the 32-bit
// lanes of two picture rows gives them in that order. The same square is what the next
// mip level halves into one pixel, so the halving works on the registers the encoding
// gathered.
#include "texture/TexelCodecKernels.h"

#ifdef QUARNEL_X86_PATHS

#include <immintrin.h>

#include <algorithm>
#include <bit>

#define QUARNEL_SSSE3 __attribute__((target("ssse3")))
#define QUARNEL_AVX2 __attribute__((target("avx2")))
#define QUARNEL_VBMI __attribute__((target("avx2,avx512bw,avx512vl,avx512vbmi,avx512vbmi2,avx512vnni")))

namespace TexelCodec::detail {
namespace {

// Byte shuffles within 16 bytes, twice over so that a 256-bit shuffle can take its mask
// straight from memory.
struct Shuffles {
  // The four pixels of a 2 x 2 square channel by channel: 4 red, 4 green, 4 blue, 4 alpha.
  alignas(32) int8_t byChannel[32];
  // The low 16 bits of four 32-bit lanes to the low 8 bytes.
  alignas(32) int8_t lowHalves[32];
};

constexpr Shuffles MakeShuffles() {
  Shuffles s{};
  for (int lane = 0; lane < 32; ++lane) {
    const int i = lane % 16;
    s.byChannel[lane] = int8_t(4 * (i % 4) + i / 4);
    s.lowHalves[lane] = i < 8 ? int8_t(4 * (i / 2) + i % 2) : int8_t(-128);
  }
  return s;
}

constexpr Shuffles kShuffles = MakeShuffles();

// ---- The arithmetic, per format ----------------------------------------------------------
//
// Written once for every register width (TexelCodecLanes.inc): Ops128, Ops256 and Ops512
// name the lane operations of each.

struct Ops128 {
  QUARNEL_SSSE3 static __m128i Set16(int v) { return _mm_set1_epi16(int16_t(v)); }
  QUARNEL_SSSE3 static __m128i Set32(int32_t v) { return _mm_set1_epi32(v); }
  QUARNEL_SSSE3 static __m128i And(__m128i a, __m128i b) { return _mm_and_si128(a, b); }
  QUARNEL_SSSE3 static __m128i Or(__m128i a, __m128i b) { return _mm_or_si128(a, b); }
  QUARNEL_SSSE3 static __m128i Eq16(__m128i a, __m128i b) { return _mm_cmpeq_epi16(a, b); }
  QUARNEL_SSSE3 static __m128i TopBitEverywhere16(__m128i v) { return _mm_srai_epi16(v, 15); }
  QUARNEL_SSSE3 static __m128i Eq32(__m128i a, __m128i b) { return _mm_cmpeq_epi32(a, b); }
  template <int S>
  QUARNEL_SSSE3 static __m128i Shift16(__m128i v) {
    if constexpr (S >= 0) return _mm_slli_epi16(v, S);
    else return _mm_srli_epi16(v, -S);
  }
  template <int S>
  QUARNEL_SSSE3 static __m128i Shift32(__m128i v) {
    if constexpr (S >= 0) return _mm_slli_epi32(v, S);
    else return _mm_srli_epi32(v, -S);
  }
};

struct Ops256 {
  QUARNEL_AVX2 static __m256i Set16(int v) { return _mm256_set1_epi16(int16_t(v)); }
  QUARNEL_AVX2 static __m256i Set32(int32_t v) { return _mm256_set1_epi32(v); }
  QUARNEL_AVX2 static __m256i And(__m256i a, __m256i b) { return _mm256_and_si256(a, b); }
  QUARNEL_AVX2 static __m256i Or(__m256i a, __m256i b) { return _mm256_or_si256(a, b); }
  QUARNEL_AVX2 static __m256i Eq16(__m256i a, __m256i b) { return _mm256_cmpeq_epi16(a, b); }
  QUARNEL_AVX2 static __m256i TopBitEverywhere16(__m256i v) { return _mm256_srai_epi16(v, 15); }
  QUARNEL_AVX2 static __m256i Eq32(__m256i a, __m256i b) { return _mm256_cmpeq_epi32(a, b); }
  template <int S>
  QUARNEL_AVX2 static __m256i Shift16(__m256i v) {
    if constexpr (S >= 0) return _mm256_slli_epi16(v, S);
    else return _mm256_srli_epi16(v, -S);
  }
  template <int S>
  QUARNEL_AVX2 static __m256i Shift32(__m256i v) {
    if constexpr (S >= 0) return _mm256_slli_epi32(v, S);
    else return _mm256_srli_epi32(v, -S);
  }
};

// 512-bit lanes for the AVX-512 path's decoding; a comparison's mask is made a vector again.
struct Ops512 {
  QUARNEL_VBMI static __m512i Set16(int v) { return _mm512_set1_epi16(int16_t(v)); }
  QUARNEL_VBMI static __m512i Set32(int32_t v) { return _mm512_set1_epi32(v); }
  QUARNEL_VBMI static __m512i And(__m512i a, __m512i b) { return _mm512_and_si512(a, b); }
  QUARNEL_VBMI static __m512i Or(__m512i a, __m512i b) { return _mm512_or_si512(a, b); }
  QUARNEL_VBMI static __m512i Eq16(__m512i a, __m512i b) { return _mm512_movm_epi16(_mm512_cmpeq_epi16_mask(a, b)); }
  QUARNEL_VBMI static __m512i TopBitEverywhere16(__m512i v) { return _mm512_srai_epi16(v, 15); }
  QUARNEL_VBMI static __m512i Eq32(__m512i a, __m512i b) {
    return _mm512_maskz_mov_epi32(_mm512_cmpeq_epi32_mask(a, b), _mm512_set1_epi32(-1));
  }
  template <int S>
  QUARNEL_VBMI static __m512i Shift16(__m512i v) {
    if constexpr (S >= 0) return _mm512_slli_epi16(v, S);
    else return _mm512_srli_epi16(v, -S);
  }
  template <int S>
  QUARNEL_VBMI static __m512i Shift32(__m512i v) {
    if constexpr (S >= 0) return _mm512_slli_epi32(v, S);
    else return _mm512_srli_epi32(v, -S);
  }
};

// The arithmetic itself, for each width: each function's instruction set is its width's.
#define QUARNEL_LANES QUARNEL_SSSE3
#define QUARNEL_V __m128i
#define QUARNEL_OPS Ops128
#include "texture/TexelCodecLanes.inc"
#undef QUARNEL_V
#undef QUARNEL_OPS
#undef QUARNEL_LANES
#define QUARNEL_LANES QUARNEL_AVX2
#define QUARNEL_V __m256i
#define QUARNEL_OPS Ops256
#include "texture/TexelCodecLanes.inc"
#undef QUARNEL_V
#undef QUARNEL_OPS
#undef QUARNEL_LANES
#define QUARNEL_LANES QUARNEL_VBMI
#define QUARNEL_V __m512i
#define QUARNEL_OPS Ops512
#include "texture/TexelCodecLanes.inc"
#undef QUARNEL_V
#undef QUARNEL_OPS
#undef QUARNEL_LANES

// ---- SSSE3: 8 texels a step -------------------------------------------------------------

QUARNEL_SSSE3 inline __m128i Load(const uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

QUARNEL_SSSE3 inline void Store(uint8_t* p, __m128i v) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}

QUARNEL_SSSE3 inline __m128i Shuffle(__m128i v, const int8_t* mask) {
  return _mm_shuffle_epi8(v, _mm_load_si128(reinterpret_cast<const __m128i*>(mask)));
}

// Eight texels to the eight pixels at `to`.
template <int Code>
QUARNEL_SSSE3 inline void Decode8(__m128i t, uint8_t* to) {
  __m128i rg, ba;
  DecodeHalves<Code>(t, rg, ba);
  Store(to, _mm_unpacklo_epi16(rg, ba));
  Store(to + 16, _mm_unpackhi_epi16(rg, ba));
}

// The texels of pixels p0 (the first four) and p1 (the next four).
template <int Code>
QUARNEL_SSSE3 inline __m128i Encode8(__m128i p0, __m128i p1) {
  return _mm_unpacklo_epi64(Shuffle(EncodeLanes<Code>(p0), kShuffles.lowHalves),
                            Shuffle(EncodeLanes<Code>(p1), kShuffles.lowHalves));
}

// The 2 x 2 squares q0 .. q3 (four pixels each, in square order) halved into four pixels.
// The sums r0+r1, r2+r3, g0+g1, ... of a 2 x 2 square, in 16-bit lanes.
QUARNEL_SSSE3 inline __m128i PairSums(__m128i q) {
  return _mm_maddubs_epi16(Shuffle(q, kShuffles.byChannel), _mm_set1_epi8(1));
}

QUARNEL_SSSE3 inline __m128i SquareMeans(__m128i q0, __m128i q1, __m128i q2, __m128i q3) {
  // (sum + 2) >> 2 as the rounded high half of sum * 2^13 / 2^15.
  const __m128i round = _mm_set1_epi16(1 << 13);
  return _mm_packus_epi16(_mm_mulhrs_epi16(_mm_hadd_epi16(PairSums(q0), PairSums(q1)), round),
                          _mm_mulhrs_epi16(_mm_hadd_epi16(PairSums(q2), PairSums(q3)), round));
}

// The eight rows (top row first, 8 texels each) of the 8 x 8 tile whose 64 texels are at
// p. Within a tile the twiddle index reads, from bit 0 up, y0 x0 y1 x1 y2 x2: one register
// of 8 texels covers bits y0 x0 y1, and which register of the tile is bits x1 y2 x2.
// Interleaving the 16-bit lanes of two rows (y0) and then the 64-bit halves of two such
// pairs (y1) turns eight rows into the tile's registers in data order; this undoes it.
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

// Twiddled textures go by 8 x 8 tiles to decode and 4 x 4 squares to encode; sides below
// those take the plain loops.
template <int Code>
struct Ssse3 {
  QUARNEL_SSSE3 static void DecodeRow(const uint8_t* texels, size_t count, uint8_t* rgba) {
    size_t j = 0;
    for (; j + 8 <= count; j += 8) Decode8<Code>(Load(texels + 2 * j), rgba + 4 * j);
    Plain<Code>::DecodeRow(texels + 2 * j, count - j, rgba + 4 * j);
  }

  QUARNEL_SSSE3 static void EncodeRow(const uint8_t* rgba, size_t count, uint8_t* texels) {
    size_t j = 0;
    for (; j + 8 <= count; j += 8)
      Store(texels + 2 * j, Encode8<Code>(Load(rgba + 4 * j), Load(rgba + 4 * j + 16)));
    Plain<Code>::EncodeRow(rgba + 4 * j, count - j, texels + 2 * j);
  }

  QUARNEL_SSSE3 static void DecodeRows(const uint8_t* texels, size_t count, size_t rows,
                                       uint8_t* rgba, size_t stride) {
    for (size_t i = 0; i < rows; ++i) DecodeRow(texels + 2 * count * i, count, rgba + stride * i);
  }

  QUARNEL_SSSE3 static void EncodeRows(const uint8_t* rgba, size_t stride, size_t count,
                                       size_t rows, uint8_t* texels, size_t texelRowBytes) {
    for (size_t i = 0; i < rows; ++i)
      EncodeRow(rgba + stride * i, count, texels + texelRowBytes * i);
  }

  QUARNEL_SSSE3 static void DecodeTwiddled(const uint8_t* texels, size_t count, uint8_t* rgba,
                                           size_t stride, size_t side) {
    if (side < 8) return Plain<Code>::DecodeTwiddled(texels, count, rgba, stride, side);
    for (size_t ty = 0; ty < side; ty += 8)
      for (size_t tx = 0; tx < side; tx += 8) {
        const size_t first = TwiddleIndex(tx, ty);
        uint8_t* const corner = rgba + ty * stride + 4 * tx;
        if (first + 64 > count) {  // short data ends before this tile does
          DecodeTwiddledRange<Code>(texels, first, first + 64, count, rgba, stride);
          continue;
        }
        __m128i rows[8];
        TileRows(texels + 2 * first, rows);
        for (size_t y = 0; y < 8; ++y) Decode8<Code>(rows[y], corner + y * stride);
      }
  }

  template <bool Halve>
  QUARNEL_SSSE3 static void Squares(const uint8_t* rgba, size_t stride, size_t side,
                                    uint8_t* texels, uint8_t* half) {
    for (size_t y = 0; y < side; y += 4)
      for (size_t x = 0; x < side; x += 4) {
        const uint8_t* row = rgba + y * stride + 4 * x;
        const __m128i r0 = Load(row), r1 = Load(row + stride), r2 = Load(row + 2 * stride),
                      r3 = Load(row + 3 * stride);
        // The square's 2 x 2 squares: (x, y), (x, y + 2), (x + 2, y), (x + 2, y + 2).
        const __m128i q0 = _mm_unpacklo_epi32(r0, r1), q1 = _mm_unpacklo_epi32(r2, r3),
                      q2 = _mm_unpackhi_epi32(r0, r1), q3 = _mm_unpackhi_epi32(r2, r3);
        const size_t k = TwiddleIndex(x, y);
        Store(texels + 2 * k, Encode8<Code>(q0, q1));
        Store(texels + 2 * k + 16, Encode8<Code>(q2, q3));
        if constexpr (Halve) Store(half + k, SquareMeans(q0, q1, q2, q3));
      }
  }

  QUARNEL_SSSE3 static void EncodeTwiddled(const uint8_t* rgba, size_t stride, size_t side,
                                           uint8_t* texels) {
    if (side < 4) return Plain<Code>::EncodeTwiddled(rgba, stride, side, texels);
    Squares<false>(rgba, stride, side, texels, nullptr);
  }

  QUARNEL_SSSE3 static void EncodeTwiddledHalving(const uint8_t* rgba, size_t stride,
                                                  size_t side, uint8_t* texels, uint8_t* half) {
    if (side < 4) return Plain<Code>::EncodeTwiddledHalving(rgba, stride, side, texels, half);
    Squares<true>(rgba, stride, side, texels, half);
  }

  QUARNEL_SSSE3 static void EncodeTwiddledLevel(const uint8_t* level, size_t pixels,
                                                uint8_t* texels, uint8_t* half) {
    size_t j = 0;
    for (; j + 16 <= pixels; j += 16) {
      const uint8_t* p = level + 4 * j;
      const __m128i q0 = Load(p), q1 = Load(p + 16), q2 = Load(p + 32), q3 = Load(p + 48);
      Store(texels + 2 * j, Encode8<Code>(q0, q1));
      Store(texels + 2 * j + 16, Encode8<Code>(q2, q3));
      if (half != nullptr) Store(half + j, SquareMeans(q0, q1, q2, q3));
    }
    Plain<Code>::EncodeTwiddledLevel(level + 4 * j, pixels - j, texels + 2 * j,
                                     half != nullptr ? half + j : nullptr);
  }

  // A 2 x 2 square of blocks a step: each row of it the top or bottom halves of two entries.
  QUARNEL_SSSE3 static void PlaceVqBlocks(const uint8_t* entries, const uint8_t* indices,
                                          size_t held, size_t side, uint8_t* rgba) {
    const size_t blocks = side / 2, stride = 4 * side;
    for (size_t by = 0; by < blocks; by += 2)
      for (size_t bx = 0; bx < blocks; bx += 2) {
        const uint8_t* e[4];
        SquareEntries(entries, indices, held, TwiddleIndex(bx, by), e);
        const __m128i topLeft = Load(e[0]), bottomLeft = Load(e[1]), topRight = Load(e[2]),
                      bottomRight = Load(e[3]);
        uint8_t* const at = rgba + 2 * by * stride + 8 * bx;
        Store(at, _mm_unpacklo_epi64(topLeft, topRight));
        Store(at + stride, _mm_unpackhi_epi64(topLeft, topRight));
        Store(at + 2 * stride, _mm_unpacklo_epi64(bottomLeft, bottomRight));
        Store(at + 3 * stride, _mm_unpackhi_epi64(bottomLeft, bottomRight));
      }
  }
};

// ---- AVX2 and AVX-512 VBMI: 16 texels a step --------------------------------------------
//
// The same steps on 256-bit registers. Their unpacks and shuffles stay within each 128-bit
// half, so each half takes what a SSSE3 step takes, and the halves are put in order on the
// way in or out. The body is compiled once for each instruction set (a function's target
// cannot follow a template argument): with AVX-512 the compiler has twice the registers
// and the shorter forms of some steps.

QUARNEL_AVX2 inline __m256i Load2(const uint8_t* low, const uint8_t* high) {
  return _mm256_inserti128_si256(
      _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(low))),
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(high)), 1);
}

QUARNEL_AVX2 inline __m256i Load32(const uint8_t* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

QUARNEL_AVX2 inline void Store32(uint8_t* p, __m256i v) {
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
}

QUARNEL_AVX2 inline __m256i Shuffle2(__m256i v, const int8_t* mask) {
  return _mm256_shuffle_epi8(v, _mm256_load_si256(reinterpret_cast<const __m256i*>(mask)));
}

namespace avx2 {
#define QUARNEL_WIDE QUARNEL_AVX2
#include "texture/TexelCodecWide.inc"
#undef QUARNEL_WIDE
}  // namespace avx2

// For the dot-product halving (VNNI): the second byte of each 32-bit lane of two registers
// a and b, in the order SquareMeans gives its means: per half, a's four lanes, b's four,
// and (filled from the other pair of registers) the next eight.
struct MeanBytes {
  alignas(32) int8_t index[32];
};

constexpr MeanBytes MakeMeanBytes() {
  MeanBytes m{};
  for (int i = 0; i < 32; ++i) {
    const int half = i / 16, slot = i % 16;  // slot: 4 bytes of a, 4 of b, then 8 unused
    const int reg = slot / 4 % 2, lane = slot % 4;
    m.index[i] = int8_t(32 * reg + 16 * half + 4 * lane + 1);
  }
  return m;
}

constexpr MeanBytes kMeanBytes = MakeMeanBytes();

// Byte permutes from two registers of packed square sums (SquareMeans512) to the means: in
// each 16-bit lane the mean in byte 1, and in each 128-bit lane of a register the four
// channels of q0's square (or q2's) then of q1's (q3's). Lane i of the result is the means of
// the squares in lane i of q0, q1, q2 and q3 in turn, each four channels.
struct MeanBytes512 {
  alignas(64) int8_t index[64];
};

constexpr MeanBytes512 MakeMeanBytes512() {
  MeanBytes512 m{};
  for (int i = 0; i < 64; ++i) {
    const int lane = i / 16, square = i % 16 / 4, channel = i % 4;
    m.index[i] = int8_t(64 * (square / 2) + 16 * lane + 2 * (4 * (square % 2) + channel) + 1);
  }
  return m;
}

constexpr MeanBytes512 kMeanBytes512 = MakeMeanBytes512();

namespace vbmi {
#define QUARNEL_WIDE QUARNEL_VBMI
#define QUARNEL_WIDE_VNNI
#include "texture/TexelCodecWide.inc"
#undef QUARNEL_WIDE_VNNI
#undef QUARNEL_WIDE
}  // namespace vbmi

constexpr Kernels kSsse3 = KernelsOf<Ssse3>();
constexpr Kernels kAvx2 = KernelsOf<avx2::Steps, avx2::YuvSteps>();
constexpr Kernels kAvx512Vbmi = KernelsOf<vbmi::Steps, vbmi::YuvSteps>();

}  // namespace

Path WidestVectorPath() {
  static const Path widest = [] {
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("avx512vbmi2") &&
        __builtin_cpu_supports("avx512vnni") &&
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
