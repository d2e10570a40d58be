#include "texture/DataFormats.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <vector>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
// The mip pass uses byte shuffles, built for SSSE3, AVX2 or AVX-512 VBMI alone and run only after the
// processor has said it has them; elsewhere a plain loop gives the same bytes.
#define QUARNEL_DATA_FORMATS_VECTOR 1
#define QUARNEL_DATA_FORMATS_SSSE3 __attribute__((target("ssse3")))
#define QUARNEL_DATA_FORMATS_AVX2 __attribute__((target("avx2")))
#define QUARNEL_DATA_FORMATS_VBMI __attribute__((target("avx2,avx512bw,avx512vl,avx512vbmi")))
#endif

#include "texture/TexelCodec.h"
#include "texture/TexelCodecKernels.h"
#include "texture/VectorQuantiser.h"

namespace DataFormats {
namespace {

constexpr size_t kPixelFormatCount = TexelCodec::kPixelFormats.size();
constexpr size_t kCodebookEntryBytes = 8;  // four 16-bit texels
constexpr size_t kMaxEntries = 256;        // an index is one byte

bool IsPowerOfTwo(size_t v) { return v != 0 && (v & (v - 1)) == 0; }

size_t Log2(size_t v) {
  size_t n = 0;
  while (v > 1) v >>= 1, ++n;
  return n;
}

// Codebook sizes of the small VQ formats, by the largest side each one covers.
struct EntriesUpTo {
  size_t side, entries;
};
constexpr std::array<EntriesUpTo, 4> kSmallVqEntries{{{16, 16}, {32, 32}, {64, 128}, {1024, 256}}};
constexpr std::array<EntriesUpTo, 3> kSmallMipmappedVqEntries{{{16, 16}, {32, 64}, {1024, 256}}};

template <size_t N>
size_t EntriesFor(const std::array<EntriesUpTo, N>& table, size_t side) {
  for (const EntriesUpTo& row : table)
    if (side <= row.side) return row.entries;
  return kMaxEntries;
}

// ---- Twiddle order ---------------------------------------------------------------------------

// Bit interleaving as the codec's twiddled passes use it: the one rule of twiddle order.
using TexelCodec::detail::Compact;
using TexelCodec::detail::Spread;

// The rows of a square twiddled texture reach far apart in the data, so the squares are
// converted a tile at a time: an aligned tile holds one run of consecutive twiddle indexes,
// laid out as a twiddled square of its own, and a tile of 64 x 64 keeps its texels and its
// surface rows in the caches while it is converted.
constexpr size_t kTile = 64;

// Calls fn(firstTexel, x, yFromTop, tileSide) for every tile of a side x side square, in
// data order.
template <typename Fn>
void ForEachTile(size_t side, Fn&& fn) {
  const size_t tile = std::min(side, kTile);
  const size_t tiles = (side / tile) * (side / tile);
  for (size_t k = 0; k < tiles; ++k)
    fn(k * tile * tile, tile * Compact(uint32_t(k >> 1)), tile * Compact(uint32_t(k)), tile);
}

// Where a square of a picture `height` rows high sits: column x, row y from the top.
struct SquarePlace {
  size_t x = 0, y = 0;
};

// Byte offset of the lower-left pixel of a size x size block whose top-left pixel is at
// column x, row y from the top, in a bottom-up surface `height` rows high.
size_t BlockCorner(size_t x, size_t y, size_t size, size_t height, size_t stride) {
  return (height - y - size) * stride + 3 * x;
}

// Decodes the texels `texels` holds (at most side^2) of a twiddled square into the surfaces.
void DecodeSquare(int pixelFormat, std::span<const uint8_t> texels, size_t side, SquarePlace place,
                  size_t height, const Surfaces& out) {
  const size_t held = texels.size() / 2;
  ForEachTile(side, [&](size_t first, size_t x, size_t y, size_t tile) {
    if (first >= held) return;
    const size_t count = std::min(tile * tile, held - first);
    const size_t o = BlockCorner(place.x + x, place.y + y, tile, height, out.stride);
    TexelCodec::DecodeTwiddled(pixelFormat, texels.data() + 2 * first, count, out.image + o,
                               out.mask + o, out.stride, tile);
  });
}

// Encodes a side x side square of the picture into 2 side^2 bytes of twiddled texels.
void EncodeSquare(int pixelFormat, const ConstSurfaces& picture, size_t side, SquarePlace place,
                  size_t height, uint8_t* texels) {
  ForEachTile(side, [&](size_t first, size_t x, size_t y, size_t tile) {
    const size_t o = BlockCorner(place.x + x, place.y + y, tile, height, picture.stride);
    TexelCodec::EncodeTwiddled(pixelFormat, picture.image + o, picture.mask + o, picture.stride,
                               tile, texels + 2 * first);
  });
}

// The squares of a rectangular twiddled texture, in data order.
size_t SquareCount(const Layout& layout) {
  return std::max(layout.width, layout.height) / std::min(layout.width, layout.height);
}
SquarePlace PlaceOfSquare(const Layout& layout, size_t i) {
  const size_t side = std::min(layout.width, layout.height);
  return layout.width >= layout.height ? SquarePlace{i * side, 0} : SquarePlace{0, i * side};
}

// The bytes of `data` from `range.offset`, at most range.bytes of them: the part of a level
// that short data holds.
std::span<const uint8_t> HeldPart(std::span<const uint8_t> data, ByteRange range) {
  if (range.offset >= data.size()) return {};
  return data.subspan(range.offset, std::min(range.bytes, data.size() - range.offset));
}

// ---- Rectangles ------------------------------------------------------------------------------

void DecodeRectangle(int pixelFormat, std::span<const uint8_t> texels, size_t width, size_t height,
                     const Surfaces& out) {
  const size_t count = std::min(width * height, texels.size() / 2);
  const ptrdiff_t pitch = -ptrdiff_t(out.stride);  // data rows go down the picture
  const size_t top = (height - 1) * out.stride;
  const size_t fullRows = count / width;
  TexelCodec::DecodeRows(pixelFormat, texels.data(), width, fullRows, out.image + top,
                         out.mask + top, pitch);
  if (fullRows < height && count % width != 0) {  // short data ends inside this row
    const size_t row = top - fullRows * out.stride;
    TexelCodec::DecodeRows(pixelFormat, texels.data() + 2 * width * fullRows, count % width, 1,
                           out.image + row, out.mask + row, pitch);
  }
}

// ---- VQ --------------------------------------------------------------------------------------

// One codebook entry as it lands in the surfaces: the top row's two pixels (top-left, then
// top-right) and the bottom row's, image and mask. Each run has two spare zero bytes, so a
// block can be stored with 8-byte moves when the pixel after it is written later anyway.
struct EntryPixels {
  std::array<uint8_t, 8> top{}, bottom{}, maskTop{}, maskBottom{};
};

// The codebook entries decoded once. Entries the data does not hold, wholly or in part,
// decode black where their texels are missing; indices from `entries` up are black.
// One more entry than an index can name: the black block that blocks without an index take.
using EntryTable = std::array<EntryPixels, kMaxEntries + 1>;
constexpr size_t kBlackEntry = kMaxEntries;

EntryTable DecodeCodebook(int pixelFormat, std::span<const uint8_t> data, size_t entries) {
  EntryTable table{};
  // Texels in codebook order: top-left, bottom-left, top-right, bottom-right.
  constexpr struct {
    bool bottom;
    size_t at;
  } kPlace[4] = {{false, 0}, {true, 0}, {false, 3}, {true, 3}};
  for (size_t e = 0; e < entries; ++e)
    for (size_t t = 0; t < 4; ++t) {
      const size_t byte = e * kCodebookEntryBytes + 2 * t;
      if (byte + 2 > data.size()) return table;
      const auto p =
          TexelCodec::DecodeTexel(pixelFormat, uint16_t(data[byte] | data[byte + 1] << 8));
      auto& image = kPlace[t].bottom ? table[e].bottom : table[e].top;
      auto& mask = kPlace[t].bottom ? table[e].maskBottom : table[e].maskTop;
      const size_t at = kPlace[t].at;
      image[at] = p.b, image[at + 1] = p.g, image[at + 2] = p.r;
      mask[at + 2] = p.a;
    }
  return table;
}

template <size_t N>
void Put(uint8_t* to, const std::array<uint8_t, 8>& from) {
  std::memcpy(to, from.data(), N);
}

void DecodeVq(const Layout& layout, int pixelFormat, std::span<const uint8_t> data,
              const Surfaces& out) {
  const auto table = DecodeCodebook(pixelFormat, data, layout.codebookEntries);
  const std::span<const uint8_t> indices = HeldPart(data, layout.main);
  const size_t blocks = layout.width / 2;
  std::vector<uint32_t> columnBits(blocks);
  for (size_t bx = 0; bx < blocks; ++bx) columnBits[bx] = Spread(uint32_t(bx)) << 1;

  // Blocks in picture order, each reading its index at its twiddled place.
  for (size_t by = 0; by < blocks; ++by) {
    const uint32_t rowBits = Spread(uint32_t(by));
    const size_t top = (layout.height - 1 - 2 * by) * out.stride;
    const size_t bottom = top - out.stride;
    const auto entry = [&](size_t bx) -> const EntryPixels& {
      const size_t k = rowBits | columnBits[bx];
      return table[k < indices.size() ? indices[k] : kBlackEntry];
    };
    size_t bx = 0;
#ifdef __SSE2__
    // Two blocks a step, each of the four rows in one 16-byte move: 12 bytes of pixels and
    // 4 zeros that the next step overwrites.
    const auto pair = [](uint8_t* to, const std::array<uint8_t, 8>& left,
                         const std::array<uint8_t, 8>& right) {
      const __m128i l = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(left.data()));
      const __m128i r = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(right.data()));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(to), _mm_or_si128(l, _mm_slli_si128(r, 6)));
    };
    for (; bx + 2 < blocks; bx += 2) {
      const EntryPixels &l = entry(bx), &r = entry(bx + 1);
      const size_t x = 6 * bx;
      pair(out.image + top + x, l.top, r.top), pair(out.image + bottom + x, l.bottom, r.bottom);
      pair(out.mask + top + x, l.maskTop, r.maskTop);
      pair(out.mask + bottom + x, l.maskBottom, r.maskBottom);
    }
#endif
    for (; bx < blocks; ++bx) {
      const EntryPixels& e = entry(bx);
      const size_t x = 6 * bx;
      if (bx + 1 < blocks) {
        Put<8>(out.image + top + x, e.top), Put<8>(out.image + bottom + x, e.bottom);
        Put<8>(out.mask + top + x, e.maskTop), Put<8>(out.mask + bottom + x, e.maskBottom);
      } else {  // exact moves: past the last block of a row lies the row above
        Put<6>(out.image + top + x, e.top), Put<6>(out.image + bottom + x, e.bottom);
        Put<6>(out.mask + top + x, e.maskTop), Put<6>(out.mask + bottom + x, e.maskBottom);
      }
    }
  }
}

// ---- Mip levels ------------------------------------------------------------------------------

// One level of a mip chain as a pair of surfaces of its own, rows packed.
struct Level {
  size_t side = 0;
  std::unique_ptr<uint8_t[]> image, mask;
  ConstSurfaces View() const { return {image.get(), mask.get(), 3 * side}; }
};

// Halves a pair of surface rows a (lower) and b into n pixels: each byte of pixel x is
// (a + b + c + d + 2) >> 2 of that byte of pixels 2x and 2x + 1 of both rows.
void HalveRowPlain(const uint8_t* a, const uint8_t* b, size_t n, uint8_t* out) {
  for (size_t i = 0; i < 3 * n; ++i) {
    const size_t j = 2 * i - i % 3;  // byte c of pixel x sits at 6x + c
    out[i] = uint8_t((a[j] + a[j + 3] + b[j] + b[j + 3] + 2) >> 2);
  }
}

// The same for a mask, whose alpha alone (the red bytes) is wanted: blue and green become 0.
void HalveAlphaRowPlain(const uint8_t* a, const uint8_t* b, size_t n, uint8_t* out) {
  for (size_t x = 0; x < n; ++x) {
    out[3 * x] = out[3 * x + 1] = 0;
    out[3 * x + 2] = uint8_t((a[6 * x + 2] + a[6 * x + 5] + b[6 * x + 2] + b[6 * x + 5] + 2) >> 2);
  }
}

#ifdef QUARNEL_DATA_FORMATS_VECTOR

// Eight pixels a step: 48 bytes of each row give 24 output bytes. Byte shuffles bring the
// two bytes each output byte sums (j and j + 3 of a row) side by side, a multiply-add by 1
// sums each pair into a 16-bit lane, and the two rows are added there.
struct HalveShuffles {
  // pair[q][r][2i + s]: where the s-th summand of output byte 8q + i lies in input register
  // r; -128 (zero) where it lies in another register.
  alignas(16) int8_t pair[3][3][16];
  // alphaPair[r][2i + s]: the same for the alpha of output pixel i of a mask, from the 48
  // bytes of its eight pixel pairs.
  alignas(16) int8_t alphaPair[3][16];
  // alphaOut[o][lane]: which alpha fills byte lane of output register o (zeros elsewhere).
  alignas(16) int8_t alphaOut[3][16];
};

constexpr HalveShuffles MakeHalveShuffles() {
  HalveShuffles h{};
  for (int q = 0; q < 3; ++q)
    for (int r = 0; r < 3; ++r)
      for (int lane = 0; lane < 16; ++lane) {
        const int o = 8 * q + lane / 2;
        const int j = 2 * o - o % 3 + 3 * (lane % 2);
        h.pair[q][r][lane] = j / 16 == r ? int8_t(j % 16) : int8_t(-128);
      }
  for (int r = 0; r < 3; ++r)
    for (int lane = 0; lane < 16; ++lane) {
      const int j = 6 * (lane / 2) + 2 + 3 * (lane % 2);
      h.alphaPair[r][lane] = j / 16 == r ? int8_t(j % 16) : int8_t(-128);
      const int out = 16 * r + lane;
      h.alphaOut[r][lane] = out % 3 == 2 ? int8_t(out / 3) : int8_t(-128);
    }
  return h;
}

constexpr HalveShuffles kHalveShuffles = MakeHalveShuffles();

// The 16-bit sums of output bytes 8q .. 8q + 7 over one row's three registers.
QUARNEL_DATA_FORMATS_SSSE3 inline __m128i PairSums(const __m128i* row, int q) {
  const auto mask = [&](int r) {
    return _mm_load_si128(reinterpret_cast<const __m128i*>(kHalveShuffles.pair[q][r]));
  };
  __m128i pairs = _mm_shuffle_epi8(row[1], mask(1));  // every q draws on the middle one
  if (q < 2) pairs = _mm_or_si128(pairs, _mm_shuffle_epi8(row[0], mask(0)));
  if (q > 0) pairs = _mm_or_si128(pairs, _mm_shuffle_epi8(row[2], mask(2)));
  return _mm_maddubs_epi16(pairs, _mm_set1_epi8(1));
}

QUARNEL_DATA_FORMATS_SSSE3 void HalveRowVector(const uint8_t* a, const uint8_t* b, size_t n,
                                               uint8_t* out) {
  size_t x = 0;
  for (; x + 8 <= n; x += 8) {
    __m128i ra[3], rb[3];
    for (int r = 0; r < 3; ++r) {
      ra[r] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + 6 * x + 16 * r));
      rb[r] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 6 * x + 16 * r));
    }
    __m128i avg[3];
    for (int q = 0; q < 3; ++q)
      avg[q] = _mm_srli_epi16(
          _mm_add_epi16(_mm_add_epi16(PairSums(ra, q), PairSums(rb, q)), _mm_set1_epi16(2)), 2);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 3 * x), _mm_packus_epi16(avg[0], avg[1]));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 3 * x + 16),
                     _mm_packus_epi16(avg[2], avg[2]));
  }
  HalveRowPlain(a + 6 * x, b + 6 * x, n - x, out + 3 * x);
}

// The same on both halves of AVX2 registers: the low half takes pixels x .. x + 7, the high
// half x + 8 .. x + 15 (byte shuffles do not cross the halves, so the masks serve both).
QUARNEL_DATA_FORMATS_AVX2 inline __m256i PairMask2(int q, int r) {
  return _mm256_broadcastsi128_si256(
      _mm_load_si128(reinterpret_cast<const __m128i*>(kHalveShuffles.pair[q][r])));
}

QUARNEL_DATA_FORMATS_AVX2 inline __m256i PairSums2(const __m256i* row, int q) {
  __m256i pairs = _mm256_shuffle_epi8(row[1], PairMask2(q, 1));
  if (q < 2) pairs = _mm256_or_si256(pairs, _mm256_shuffle_epi8(row[0], PairMask2(q, 0)));
  if (q > 0) pairs = _mm256_or_si256(pairs, _mm256_shuffle_epi8(row[2], PairMask2(q, 2)));
  return _mm256_maddubs_epi16(pairs, _mm256_set1_epi8(1));
}

// 16 bytes at p in the low half, 16 bytes at p + 48 in the high half.
QUARNEL_DATA_FORMATS_AVX2 inline __m256i LoadHalves(const uint8_t* p) {
  return _mm256_inserti128_si256(
      _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))),
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 48)), 1);
}

QUARNEL_DATA_FORMATS_AVX2 void HalveRowAvx2(const uint8_t* a, const uint8_t* b, size_t n,
                                            uint8_t* out) {
  size_t x = 0;
  for (; x + 16 <= n; x += 16) {
    __m256i ra[3], rb[3];
    for (int r = 0; r < 3; ++r)
      ra[r] = LoadHalves(a + 6 * x + 16 * r), rb[r] = LoadHalves(b + 6 * x + 16 * r);
    __m256i avg[3];
    for (int q = 0; q < 3; ++q)
      avg[q] =
          _mm256_srli_epi16(_mm256_add_epi16(_mm256_add_epi16(PairSums2(ra, q), PairSums2(rb, q)),
                                             _mm256_set1_epi16(2)),
                            2);
    const __m256i first = _mm256_packus_epi16(avg[0], avg[1]);
    const __m256i last = _mm256_packus_epi16(avg[2], avg[2]);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 3 * x), _mm256_castsi256_si128(first));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 3 * x + 16), _mm256_castsi256_si128(last));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 3 * x + 24),
                     _mm256_extracti128_si256(first, 1));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 3 * x + 40),
                     _mm256_extracti128_si256(last, 1));
  }
  HalveRowVector(a + 6 * x, b + 6 * x, n - x, out + 3 * x);
}

// The 16-bit sums of the alpha pairs of eight output pixels, from three registers of a row.
QUARNEL_DATA_FORMATS_SSSE3 inline __m128i AlphaPairSums(const uint8_t* p) {
  __m128i pairs = _mm_setzero_si128();
  for (int r = 0; r < 3; ++r)
    pairs = _mm_or_si128(
        pairs, _mm_shuffle_epi8(
                   _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * r)),
                   _mm_load_si128(reinterpret_cast<const __m128i*>(kHalveShuffles.alphaPair[r]))));
  return _mm_maddubs_epi16(pairs, _mm_set1_epi8(1));
}

// Sixteen mask pixels a step: 96 bytes of each row give 16 alphas, spread over 48 bytes.
QUARNEL_DATA_FORMATS_SSSE3 void HalveAlphaRowVector(const uint8_t* a, const uint8_t* b, size_t n,
                                                    uint8_t* out) {
  size_t x = 0;
  for (; x + 16 <= n; x += 16) {
    __m128i avg[2];
    for (int h = 0; h < 2; ++h)
      avg[h] = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(AlphaPairSums(a + 6 * x + 48 * h),
                                                          AlphaPairSums(b + 6 * x + 48 * h)),
                                            _mm_set1_epi16(2)),
                              2);
    const __m128i alphas = _mm_packus_epi16(avg[0], avg[1]);
    for (int o = 0; o < 3; ++o)
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 3 * x + 16 * o),
                       _mm_shuffle_epi8(alphas, _mm_load_si128(reinterpret_cast<const __m128i*>(
                                                    kHalveShuffles.alphaOut[o]))));
  }
  HalveAlphaRowPlain(a + 6 * x, b + 6 * x, n - x, out + 3 * x);
}

// AVX-512 VBMI: sixteen output pixels a step, as above, but one permute over 128 bytes puts
// 32 summand pairs side by side, so each row needs two permutes instead of nine shuffles.
struct HalvePermutes {
  // pair[p][2i + s]: the s-th summand of output byte 32p + i within the 96 bytes of a step;
  // lanes past the 48 output bytes take byte 0, and their sums are thrown away.
  alignas(64) uint8_t pair[2][64];
  // alphaPair[2i + s]: the same for the alpha of output pixel i (lanes past 16 pixels: 0).
  alignas(64) uint8_t alphaPair[64];
  // alphaOut[lane]: the byte of the 16-bit alpha sums that fills output byte lane.
  alignas(64) uint8_t alphaOut[64];
};

constexpr HalvePermutes MakeHalvePermutes() {
  HalvePermutes h{};
  for (int p = 0; p < 2; ++p)
    for (int lane = 0; lane < 64; ++lane) {
      const int o = 32 * p + lane / 2;
      h.pair[p][lane] = o < 48 ? uint8_t(2 * o - o % 3 + 3 * (lane % 2)) : 0;
    }
  for (int lane = 0; lane < 64; ++lane) {
    h.alphaPair[lane] = lane < 32 ? uint8_t(6 * (lane / 2) + 2 + 3 * (lane % 2)) : 0;
    h.alphaOut[lane] = uint8_t(2 * (lane / 3));  // taken only where lane % 3 == 2
  }
  return h;
}

constexpr HalvePermutes kHalvePermutes = MakeHalvePermutes();

// The 96 bytes of a row from p, in two registers; the second holds 32 of them, so nothing
// past the step is read.
struct Row96 {
  __m512i low, high;
};

QUARNEL_DATA_FORMATS_VBMI inline Row96 LoadRow96(const uint8_t* p) {
  return {_mm512_loadu_si512(p), _mm512_maskz_loadu_epi8(0xFFFFFFFFull, p + 64)};
}

// (a + b + c + d + 2) >> 2 in 16-bit lanes, for the summand pairs `perm` picks from both rows.
QUARNEL_DATA_FORMATS_VBMI inline __m512i Average4(const Row96& a, const Row96& b,
                                                 const uint8_t* perm) {
  const __m512i idx = _mm512_load_si512(perm), ones = _mm512_set1_epi8(1);
  const __m512i sa = _mm512_maddubs_epi16(_mm512_permutex2var_epi8(a.low, idx, a.high), ones);
  const __m512i sb = _mm512_maddubs_epi16(_mm512_permutex2var_epi8(b.low, idx, b.high), ones);
  return _mm512_srli_epi16(_mm512_add_epi16(_mm512_add_epi16(sa, sb), _mm512_set1_epi16(2)), 2);
}

QUARNEL_DATA_FORMATS_VBMI void HalveRowVbmi(const uint8_t* a, const uint8_t* b, size_t n,
                                            uint8_t* out) {
  size_t x = 0;
  for (; x + 16 <= n; x += 16) {
    const Row96 ra = LoadRow96(a + 6 * x), rb = LoadRow96(b + 6 * x);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 3 * x),
                        _mm512_maskz_cvtepi16_epi8(~__mmask32(0), Average4(ra, rb, kHalvePermutes.pair[0])));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 3 * x + 32),
                     _mm256_castsi256_si128(
                         _mm512_maskz_cvtepi16_epi8(~__mmask32(0),
                                                    Average4(ra, rb, kHalvePermutes.pair[1]))));
  }
  HalveRowAvx2(a + 6 * x, b + 6 * x, n - x, out + 3 * x);
}

QUARNEL_DATA_FORMATS_VBMI void HalveAlphaRowVbmi(const uint8_t* a, const uint8_t* b, size_t n,
                                                 uint8_t* out) {
  // Output bytes 3i + 2 of the 48 take alpha i; blue and green are zeroed.
  constexpr __mmask64 kAlphaBytes = 0x924924924924ull;
  size_t x = 0;
  for (; x + 16 <= n; x += 16) {
    const __m512i sums =
        Average4(LoadRow96(a + 6 * x), LoadRow96(b + 6 * x), kHalvePermutes.alphaPair);
    const __m512i spread =
        _mm512_maskz_permutexvar_epi8(kAlphaBytes, _mm512_load_si512(kHalvePermutes.alphaOut), sums);
    _mm512_mask_storeu_epi8(out + 3 * x, (__mmask64(1) << 48) - 1, spread);
  }
  HalveAlphaRowVector(a + 6 * x, b + 6 * x, n - x, out + 3 * x);
}

using HalveRowFn = void (*)(const uint8_t*, const uint8_t*, size_t, uint8_t*);

bool HasVbmi() {
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("avx512bw") &&
         __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512vbmi");
}

HalveRowFn WidestHalveRow() {
  static const HalveRowFn fn = [] {
    __builtin_cpu_init();
    if (HasVbmi()) return &HalveRowVbmi;
    if (__builtin_cpu_supports("avx2")) return &HalveRowAvx2;
    return __builtin_cpu_supports("ssse3") ? &HalveRowVector : &HalveRowPlain;
  }();
  return fn;
}

HalveRowFn WidestHalveAlphaRow() {
  static const HalveRowFn fn = [] {
    __builtin_cpu_init();
    if (HasVbmi()) return &HalveAlphaRowVbmi;
    return __builtin_cpu_supports("ssse3") ? &HalveAlphaRowVector : &HalveAlphaRowPlain;
  }();
  return fn;
}

#endif  // QUARNEL_DATA_FORMATS_VECTOR

// Asks for the `bytes` bytes of a row at `offset` in both surfaces, into the second-level cache.
void Prefetch(const ConstSurfaces& s, size_t offset, size_t bytes) {
  for (size_t at = 0; at < bytes; at += 64) {
    __builtin_prefetch(s.image + offset + at, 0, 2);
    if (s.mask != nullptr) __builtin_prefetch(s.mask + offset + at, 0, 2);
  }
  __builtin_prefetch(s.image + offset + bytes - 1, 0, 2);
  if (s.mask != nullptr) __builtin_prefetch(s.mask + offset + bytes - 1, 0, 2);
}

// Halves a side x side picture into `to` (side / 2 square): every image byte, the mask's alpha,
// or, without `alpha`, the image alone (the mask of `to` is left as it is). While it works,
// it asks the caches for the side x side block at `next` (null for none) a row pair at a
// time, so that the next tile's rows arrive while this one is averaged rather than when
// its encoding first touches them.
void HalveInto(const ConstSurfaces& from, size_t side, const Surfaces& to, bool alpha = true,
               const ConstSurfaces* next = nullptr) {
#ifdef QUARNEL_DATA_FORMATS_VECTOR
  const auto halveRow = WidestHalveRow(), halveAlphaRow = WidestHalveAlphaRow();
#else
  const auto halveRow = &HalveRowPlain, halveAlphaRow = &HalveAlphaRowPlain;
#endif
  // Memory rows 2y and 2y + 1 of the source make memory row y of the result: both are
  // bottom-up.
  for (size_t y = 0; y < side / 2; ++y) {
    const size_t row = 2 * y * from.stride;
    if (next != nullptr) Prefetch(*next, row, 3 * side), Prefetch(*next, row + next->stride, 3 * side);
    halveRow(from.image + row, from.image + row + from.stride, side / 2, to.image + y * to.stride);
    if (alpha)
      halveAlphaRow(from.mask + row, from.mask + row + from.stride, side / 2,
                    to.mask + y * to.stride);
  }
}

Level NewLevel(size_t side) {
  Level level;
  level.side = side;
  level.image = std::make_unique_for_overwrite<uint8_t[]>(3 * side * side);
  level.mask = std::make_unique_for_overwrite<uint8_t[]>(3 * side * side);
  return level;
}

Level Halve(const ConstSurfaces& from, size_t side) {
  Level to = NewLevel(side / 2);
  HalveInto(from, side, {to.image.get(), to.mask.get(), 3 * to.side});
  return to;
}

// The levels below the main one, largest first, down to 1 x 1; none for a 1 x 1 picture.
std::vector<Level> SmallerLevels(const ConstSurfaces& picture, size_t side) {
  std::vector<Level> levels;
  if (side < 2) return levels;
  levels.push_back(Halve(picture, side));
  while (levels.back().side >= 2) levels.push_back(Halve(levels.back().View(), levels.back().side));
  return levels;
}

// The bottom-left pixel: the only one of a 1 x 1 level.
TexelCodec::Rgba FirstPixel(const ConstSurfaces& s) {
  return {s.image[2], s.image[1], s.image[0], s.mask[2]};
}

void PutTexel(uint8_t* at, uint16_t texel) {
  at[0] = uint8_t(texel);
  at[1] = uint8_t(texel >> 8);
}

// Encodes a side x side picture as level `level` of a mipmapped twiddled texture, and every
// level below it. Large pictures go a tile at a time: each tile is encoded, then halved twice
// while it is still in the caches, each half encoded where it belongs (an aligned block of a
// twiddled level is a run of consecutive texels), and halved once more into a picture of
// side / 8, whose levels follow the same way. Halves under 16 x 16 are left to that picture,
// where they are converted a whole level at a time rather than texel by texel per tile.
void EncodeTwiddledChain(const Layout& layout, int pixelFormat, const ConstSurfaces& picture,
                         size_t side, size_t level, std::span<uint8_t> data) {
  if (side == 1) {
    // The 1 x 1 texel in every slot of its space, so that whichever slot a reader takes, it
    // finds the texel.
    const uint16_t texel = TexelCodec::EncodeTexel(pixelFormat, FirstPixel(picture));
    for (size_t at = 0; at + 2 <= layout.oneByOneBytes; at += 2) PutTexel(data.data() + at, texel);
    return;
  }
  uint8_t* const levelData = data.data() + LevelRange(layout, level).offset;
  if (side < kTile) {
    EncodeSquare(pixelFormat, picture, side, {}, side, levelData);
    const Level half = Halve(picture, side);
    return EncodeTwiddledChain(layout, pixelFormat, half.View(), half.side, level - 1, data);
  }
  const Level rest = NewLevel(side / 8);
  const Level half = NewLevel(kTile / 2), quarter = NewLevel(kTile / 4);
  // A format without alpha bits encodes the same whatever the alpha, so the smaller levels'
  // alpha is not worked out and reads as 0: the mask of the main level is never read.
  const bool alpha = TexelCodec::kPixelFormats[size_t(pixelFormat)].AMask != 0;
  if (!alpha)
    for (const Level* l : {&rest, &half, &quarter}) std::memset(l->mask.get(), 0, 3 * l->side * l->side);
  const ConstSurfaces main{picture.image, alpha ? picture.mask : nullptr, picture.stride};
  const auto tileAt = [&](size_t k) {
    const size_t corner =
        BlockCorner(kTile * Compact(uint32_t(k >> 1)), kTile * Compact(uint32_t(k)), kTile, side,
                    picture.stride);
    return ConstSurfaces{main.image + corner, alpha ? main.mask + corner : nullptr, main.stride};
  };
  uint8_t* const halfData = data.data() + LevelRange(layout, level - 1).offset;
  uint8_t* const quarterData = data.data() + LevelRange(layout, level - 2).offset;
  const size_t tiles = (side / kTile) * (side / kTile);
  for (size_t k = 0; k < tiles; ++k) {
    const size_t first = k * kTile * kTile;
    const size_t x = kTile * Compact(uint32_t(k >> 1)), y = kTile * Compact(uint32_t(k));
    const ConstSurfaces from = tileAt(k);
    const ConstSurfaces next = tileAt(k + 1 < tiles ? k + 1 : k);
    TexelCodec::EncodeTwiddled(pixelFormat, from.image, from.mask, from.stride, kTile,
                               levelData + 2 * first);
    HalveInto(from, kTile, {half.image.get(), half.mask.get(), 3 * half.side}, alpha,
              k + 1 < tiles ? &next : nullptr);
    TexelCodec::EncodeTwiddled(pixelFormat, half.image.get(), half.mask.get(), 3 * half.side,
                               half.side, halfData + 2 * (first / 4));
    HalveInto(half.View(), half.side, {quarter.image.get(), quarter.mask.get(), 3 * quarter.side},
              alpha);
    TexelCodec::EncodeTwiddled(pixelFormat, quarter.image.get(), quarter.mask.get(),
                               3 * quarter.side, quarter.side, quarterData + 2 * (first / 16));
    const size_t at = BlockCorner(x / 8, y / 8, kTile / 8, rest.side, 3 * rest.side);
    HalveInto(quarter.View(), quarter.side,
              {rest.image.get() + at, rest.mask.get() + at, 3 * rest.side}, alpha);
  }
  EncodeTwiddledChain(layout, pixelFormat, rest.View(), rest.side, level - 3, data);
}

// The 2 x 2 blocks of a square level in twiddled block order, appended to `blocks`.
void GatherBlocks(const ConstSurfaces& level, size_t side,
                  std::vector<VectorQuantiser::Block>& blocks) {
  const size_t perSide = side / 2;
  for (size_t k = 0; k < perSide * perSide; ++k) {
    const size_t bx = Compact(uint32_t(k >> 1)), by = Compact(uint32_t(k));
    const size_t top = (side - 1 - 2 * by) * level.stride + 6 * bx;
    const size_t bottom = top - level.stride;
    // Codebook order: top-left, bottom-left, top-right, bottom-right.
    const size_t at[4] = {top, bottom, top + 3, bottom + 3};
    VectorQuantiser::Block block;
    for (size_t p = 0; p < 4; ++p) {
      block[4 * p] = level.image[at[p] + 2];
      block[4 * p + 1] = level.image[at[p] + 1];
      block[4 * p + 2] = level.image[at[p]];
      block[4 * p + 3] = level.mask[at[p] + 2];
    }
    blocks.push_back(block);
  }
}

void EncodeVq(const Layout& layout, int pixelFormat, const ConstSurfaces& picture,
              std::span<uint8_t> data) {
  const size_t side = layout.width;
  const bool mipmapped = layout.kind == Kind::MipmappedVq;
  const std::vector<Level> levels = mipmapped ? SmallerLevels(picture, side) : std::vector<Level>{};

  // One codebook for every level of 2 x 2 and up; the main level's blocks, three quarters of
  // them all, weigh the most.
  std::vector<VectorQuantiser::Block> blocks;
  blocks.reserve(side * side / 4 * 4 / 3 + 1);
  GatherBlocks(picture, side, blocks);
  for (const Level& level : levels)
    if (level.side >= 2) GatherBlocks(level.View(), level.side, blocks);
  const VectorQuantiser::Result result =
      VectorQuantiser::Quantise(blocks, pixelFormat, layout.codebookEntries);

  // codebook: entry after entry, four texels each; entries the quantiser left out are zero.
  for (size_t t = 0; t < 4 * layout.codebookEntries; ++t)
    PutTexel(data.data() + 2 * t,
             t < result.codebook.texels.size() ? result.codebook.texels[t] : 0);

  // Indices level by level, in the order the blocks were gathered.
  const uint8_t* index = result.indices.data();
  const size_t mainBlocks = side * side / 4;
  std::memcpy(data.data() + layout.main.offset, index, mainBlocks);
  index += mainBlocks;
  for (const Level& level : levels) {
    const ByteRange range = LevelRange(layout, Log2(level.side));
    if (level.side == 1) {
      const TexelCodec::Rgba p = FirstPixel(level.View());
      VectorQuantiser::Block filled;
      for (size_t i = 0; i < 4; ++i)
        filled[4 * i] = p.r, filled[4 * i + 1] = p.g, filled[4 * i + 2] = p.b,
                   filled[4 * i + 3] = p.a;
      data[range.offset] = VectorQuantiser::NearestEntry(result.codebook, pixelFormat, filled);
      break;
    }
    std::memcpy(data.data() + range.offset, index, range.bytes);
    index += range.bytes;
  }
}

}  // namespace

Layout LayoutOf(int dataFormat, int width, int height) {
  if (width < 1 || height < 1) return {};
  Layout layout;
  layout.width = size_t(width);
  layout.height = size_t(height);
  layout.levels = 1;
  const size_t side = layout.width;
  const size_t texels = layout.width * layout.height;
  const bool square = layout.width == layout.height && IsPowerOfTwo(side);
  const bool vqSide = square && side >= 8 && side <= 1024;

  switch (dataFormat) {
    case 9:
      layout.kind = Kind::Rectangle;
      layout.main = {0, 2 * texels};
      return layout;
    case 1:
      if (!square) return {};
      layout.kind = Kind::Twiddled;
      layout.main = {0, 2 * texels};
      return layout;
    case 13:
      if (!IsPowerOfTwo(layout.width) || !IsPowerOfTwo(layout.height)) return {};
      layout.kind = Kind::RectangularTwiddled;
      layout.main = {0, 2 * texels};
      return layout;
    case 2:
    case 18:
      if (!square) return {};
      layout.kind = Kind::MipmappedTwiddled;
      layout.levels = Log2(side) + 1;
      layout.oneByOneBytes = dataFormat == 2 ? 4 : 8;
      // The 1 x 1 level's texel sits in its last slot; levels 2 x 2 .. W/2 x W/2 follow.
      layout.main = {layout.oneByOneBytes - 2 + 2 * (texels - 1) / 3, 2 * texels};
      return layout;
    case 3:
    case 16:
      if (!vqSide) return {};
      layout.kind = Kind::Vq;
      layout.codebookEntries = dataFormat == 3 ? kMaxEntries : EntriesFor(kSmallVqEntries, side);
      layout.main = {layout.CodebookBytes(), texels / 4};
      return layout;
    case 4:
    case 17:
      if (!vqSide) return {};
      layout.kind = Kind::MipmappedVq;
      layout.levels = Log2(side) + 1;
      layout.codebookEntries =
          dataFormat == 4 ? kMaxEntries : EntriesFor(kSmallMipmappedVqEntries, side);
      layout.oneByOneBytes = 1;
      layout.main = {layout.CodebookBytes() + 1 + (texels / 4 - 1) / 3, texels / 4};
      return layout;
    default:
      return {};
  }
}

ByteRange LevelRange(const Layout& layout, size_t level) {
  if (level + 1 >= layout.levels) return layout.main;
  const size_t side = size_t(1) << level, texels = side * side;
  if (layout.kind == Kind::MipmappedTwiddled) {
    if (level == 0) return {0, layout.oneByOneBytes};
    return {layout.oneByOneBytes + 2 * (texels - 4) / 3, 2 * texels};
  }
  // MipmappedVq
  if (level == 0) return {layout.CodebookBytes(), 1};
  return {layout.CodebookBytes() + 1 + (texels / 4 - 1) / 3, texels / 4};
}

bool DecodeMainLevel(const Layout& layout, int pixelFormat, std::span<const uint8_t> data,
                     const Surfaces& out) {
  if (!layout.Handled() || pixelFormat < 0 || size_t(pixelFormat) >= kPixelFormatCount)
    return false;
  switch (layout.kind) {
    case Kind::Rectangle:
      DecodeRectangle(pixelFormat, HeldPart(data, layout.main), layout.width, layout.height, out);
      break;
    case Kind::Twiddled:
    case Kind::MipmappedTwiddled:
      DecodeSquare(pixelFormat, HeldPart(data, layout.main), layout.width, {}, layout.height, out);
      break;
    case Kind::RectangularTwiddled: {
      const size_t side = std::min(layout.width, layout.height);
      for (size_t i = 0; i < SquareCount(layout); ++i)
        DecodeSquare(pixelFormat, HeldPart(data, {2 * side * side * i, 2 * side * side}), side,
                     PlaceOfSquare(layout, i), layout.height, out);
      break;
    }
    case Kind::Vq:
    case Kind::MipmappedVq:
      DecodeVq(layout, pixelFormat, data, out);
      break;
    case Kind::Unhandled:
      break;
  }
  return true;
}

bool Encode(const Layout& layout, int pixelFormat, const ConstSurfaces& picture,
            std::span<uint8_t> data) {
  if (!layout.Handled() || pixelFormat < 0 || size_t(pixelFormat) >= kPixelFormatCount ||
      data.size() < layout.End())
    return false;
  switch (layout.kind) {
    case Kind::Rectangle: {
      const size_t top = (layout.height - 1) * picture.stride;
      TexelCodec::EncodeRows(pixelFormat, picture.image + top, picture.mask + top,
                             -ptrdiff_t(picture.stride), layout.width, layout.height, data.data(),
                             2 * layout.width);
      break;
    }
    case Kind::Twiddled:
      EncodeSquare(pixelFormat, picture, layout.width, {}, layout.height, data.data());
      break;
    case Kind::RectangularTwiddled: {
      const size_t side = std::min(layout.width, layout.height);
      for (size_t i = 0; i < SquareCount(layout); ++i)
        EncodeSquare(pixelFormat, picture, side, PlaceOfSquare(layout, i), layout.height,
                     data.data() + 2 * side * side * i);
      break;
    }
    case Kind::MipmappedTwiddled:
      EncodeTwiddledChain(layout, pixelFormat, picture, layout.width, layout.levels - 1, data);
      break;
    case Kind::Vq:
    case Kind::MipmappedVq:
      EncodeVq(layout, pixelFormat, picture, data);
      break;
    case Kind::Unhandled:
      return false;
  }
  return true;
}

bool DecodesTo(const Layout& layout, int pixelFormat, std::span<const uint8_t> data,
               const ConstSurfaces& picture) {
  if (!layout.Handled() || pixelFormat < 0 || size_t(pixelFormat) >= kPixelFormatCount)
    return false;
  const size_t stride = 3 * layout.width;
  std::vector<uint8_t> image(stride * layout.height), mask(stride * layout.height);
  DecodeMainLevel(layout, pixelFormat, data, {image.data(), mask.data(), stride});
  // Decoding is one-to-one on the bits a format keeps, so two pictures decode alike exactly
  // when they encode alike; each row is encoded both ways and compared.
  std::vector<uint8_t> current(2 * layout.width), offered(2 * layout.width);
  for (size_t row = 0; row < layout.height; ++row) {
    TexelCodec::EncodeRows(pixelFormat, image.data() + row * stride, mask.data() + row * stride, 0,
                           layout.width, 1, current.data(), 0);
    TexelCodec::EncodeRows(pixelFormat, picture.image + row * picture.stride,
                           picture.mask + row * picture.stride, 0, layout.width, 1, offered.data(),
                           0);
    if (current != offered) return false;
  }
  return true;
}

}  // namespace DataFormats
