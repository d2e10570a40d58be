#include "texture/IndexedFormats.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <memory>
#include <vector>

#include "texture/ColourMatcher.h"
#include "texture/TexelCodec.h"
#include "texture/TexelCodecKernels.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define QUARNEL_INDEXED_AVX2 1
#endif

namespace IndexedFormats {
namespace {

using DataFormats::ByteRange;
using DataFormats::Kind;
using DataFormats::Layout;
using TexelCodec::detail::Spread;

constexpr size_t kMaxSide = 1024;
constexpr size_t kMinRectangleSide = 8;
// The mipmapped 1 x 1 level takes the space of a 2 x 2 one, its index in the last place.
constexpr size_t kOneByOnePlace = 3;

bool IsPowerOfTwo(size_t v) { return v != 0 && (v & (v - 1)) == 0; }

size_t Log2(size_t v) {
  size_t n = 0;
  while (v > 1) v >>= 1, ++n;
  return n;
}

size_t IndexBytes(size_t count, int bits) { return bits == 8 ? count : (count + 1) / 2; }

// One twiddled square of the main level: where its indices start in the data (place
// `first` on), its side, and where it sits in the picture.
struct Square {
  size_t offset = 0, first = 0, side = 0, x = 0, y = 0;
};

template <typename Fn>
void ForEachSquare(const Layout& layout, Fn&& fn) {
  if (layout.kind == Kind::MipmappedIndexed) {
    fn(Square{layout.main.offset, layout.width == 1 ? kOneByOnePlace : 0, layout.width, 0, 0});
    return;
  }
  const size_t side = std::min(layout.width, layout.height);
  const size_t count = std::max(layout.width, layout.height) / side;
  const size_t bytes = IndexBytes(side * side, layout.indexBits);
  const bool wide = layout.width >= layout.height;
  for (size_t i = 0; i < count; ++i)
    fn(Square{i * bytes, 0, side, wide ? i * side : 0, wide ? 0 : i * side});
}

// The data bytes from `offset`, at most `bytes` of them: the part that short data holds.
std::span<const uint8_t> HeldPart(std::span<const uint8_t> data, size_t offset, size_t bytes) {
  if (offset >= data.size()) return {};
  return data.subspan(offset, std::min(bytes, data.size() - offset));
}

// Calls put(pixel, index) for every pixel of one square of the main level, pixel counted
// from the picture's top-left, missing indices as 0. Rows go left to right through the
// picture, so the writes stream; the reads stay within a few cache lines of twiddled
// indices per row pair.
template <typename Put>
void ForEachIndexOf(const Layout& layout, const Square& sq, std::span<const uint8_t> data, Put&& put) {
  const int bits = layout.indexBits;
  const size_t places = sq.first + sq.side * sq.side;
  const std::span<const uint8_t> part = HeldPart(data, sq.offset, IndexBytes(places, bits));
  const size_t held = bits == 8 ? part.size() : 2 * part.size();
  if (held < places || sq.first != 0 || sq.side < 2) {
    // Short data or a lone texel: place by place, each checked.
    for (size_t y = 0; y < sq.side; ++y)
      for (size_t x = 0; x < sq.side; ++x) {
        const size_t t = sq.first + TexelCodec::detail::TwiddleIndex(x, y);
        uint8_t index = 0;
        if (t < held) index = bits == 8 ? part[t] : uint8_t(part[t >> 1] >> (4 * (t & 1)) & 15);
        put((sq.y + y) * layout.width + sq.x + x, index);
      }
    return;
  }
  std::array<uint32_t, kMaxSide> across;  // the column's part of a byte's place
  const uint8_t* p = part.data();
  if (bits == 8) {
    for (size_t x = 0; x < sq.side; ++x) across[x] = Spread(uint32_t(x)) << 1;
    for (size_t y = 0; y < sq.side; ++y) {
      const uint32_t down = Spread(uint32_t(y));
      const size_t row = (sq.y + y) * layout.width + sq.x;
      for (size_t x = 0; x < sq.side; ++x) put(row + x, p[across[x] | down]);
    }
  } else {
    // Place t is in byte t >> 1, and t's lowest bit is the row's: a row takes one nibble.
    for (size_t x = 0; x < sq.side; ++x) across[x] = Spread(uint32_t(x));
    for (size_t y = 0; y < sq.side; ++y) {
      const uint32_t down = Spread(uint32_t(y)) >> 1;
      const int shift = 4 * int(y & 1);
      const size_t row = (sq.y + y) * layout.width + sq.x;
      for (size_t x = 0; x < sq.side; ++x) put(row + x, uint8_t(p[across[x] | down] >> shift & 15));
    }
  }
}

template <typename Put>
void ForEachIndex(const Layout& layout, std::span<const uint8_t> data, Put&& put) {
  ForEachSquare(layout, [&](const Square& sq) { ForEachIndexOf(layout, sq, data, put); });
}

std::atomic<TexelCodec::Path> g_widest{TexelCodec::Path::Avx512Vbmi};

// The widest of the square decoders below that may run.
TexelCodec::Path DecodePath() { return std::min(TexelCodec::WidestPathAvailable(), g_widest.load()); }

#ifdef QUARNEL_INDEXED_AVX2
// A whole square of side 8 or more through the table, an 8 x 8 tile at a time: a tile's
// indices are 64 consecutive places, four 4 x 4 blocks of 16 (top-left, bottom-left,
// top-right, bottom-right), each reordered into its four rows by one shuffle; eight
// pixels of a row are then looked up at once. Tiles go across the picture, so the rows are
// written left to right.
__attribute__((target("avx2"))) void DecodeSquareAvx2(const uint8_t* p, int bits, size_t side,
                                                      const uint32_t* table, uint8_t* rgba,
                                                      size_t stride) {
  const __m128i rowOrder = _mm_setr_epi8(0, 2, 8, 10, 1, 3, 9, 11, 4, 6, 12, 14, 5, 7, 13, 15);
  const __m128i nibble = _mm_set1_epi8(0x0F);
  const int* colours = reinterpret_cast<const int*>(table);
  for (size_t ty = 0; ty < side / 8; ++ty) {
    for (size_t tx = 0; tx < side / 8; ++tx) {
      const size_t k = Spread(uint32_t(ty)) | Spread(uint32_t(tx)) << 1;
      __m128i block[4];
      if (bits == 8) {
        for (size_t i = 0; i < 4; ++i)
          block[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 64 * k + 16 * i));
      } else {
        // Place 2j in byte j's low nibble, 2j + 1 in its high one.
        for (size_t i = 0; i < 2; ++i) {
          const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32 * k + 16 * i));
          const __m128i lo = _mm_and_si128(v, nibble), hi = _mm_and_si128(_mm_srli_epi16(v, 4), nibble);
          block[2 * i] = _mm_unpacklo_epi8(lo, hi);
          block[2 * i + 1] = _mm_unpackhi_epi8(lo, hi);
        }
      }
      for (__m128i& b : block) b = _mm_shuffle_epi8(b, rowOrder);
      // Rows in pairs, eight indices each: left half from the left blocks, right from the right.
      const __m128i rows[4] = {_mm_unpacklo_epi32(block[0], block[2]), _mm_unpackhi_epi32(block[0], block[2]),
                               _mm_unpacklo_epi32(block[1], block[3]), _mm_unpackhi_epi32(block[1], block[3])};
      uint8_t* out = rgba + 8 * ty * stride + 32 * tx;
      for (size_t r = 0; r < 8; ++r) {
        const __m128i indices = r % 2 == 0 ? rows[r / 2] : _mm_srli_si128(rows[r / 2], 8);
        const __m256i pixels = _mm256_i32gather_epi32(colours, _mm256_cvtepu8_epi32(indices), 4);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + r * stride), pixels);
      }
    }
  }
}

// The same with AVX-512 VBMI, a tile in one register: one byte permutation puts the 64
// indices where the unpacking below wants them, each channel of the bank is looked up as
// four 64-byte tables (two permutations and a blend), and unpacking the four channels
// gives four registers of two rows each.
// GCC 12's own headers start some of these intrinsics from an undefined register, which it
// then warns of wherever they are inlined.
#pragma GCC diagnostic push
#ifndef __clang__
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) void DecodeSquareVbmi(
    const uint8_t* p, int bits, size_t side, const uint32_t* table, uint8_t* rgba, size_t stride) {
  alignas(64) uint8_t planes[4][256];
  for (size_t e = 0; e < 256; ++e)
    for (size_t c = 0; c < 4; ++c) planes[c][e] = uint8_t(table[e] >> (8 * c));
  __m512i plane[4][4];
  for (size_t c = 0; c < 4; ++c)
    for (size_t q = 0; q < 4; ++q) plane[c][q] = _mm512_load_si512(&planes[c][64 * q]);
  // Byte b of 128-bit lane L ends in output register b / 4 as a pixel of row 2 (b / 4) plus
  // one for the upper two lanes, column 4 (L % 2) + b % 4. Loaded 4-bit tiles hold place 2j
  // at byte j and place 2j + 1 at byte 32 + j.
  alignas(64) uint8_t order[64];
  for (size_t L = 0; L < 4; ++L)
    for (size_t b = 0; b < 16; ++b) {
      const size_t row = 2 * (b / 4) + L / 2, column = 4 * (L % 2) + b % 4;
      const size_t place = TexelCodec::detail::TwiddleIndex(column, row);
      order[16 * L + b] = uint8_t(bits == 8 ? place : place % 2 == 0 ? place / 2 : 32 + place / 2);
    }
  const __m512i reorder = _mm512_load_si512(order);
  const __m256i nibble = _mm256_set1_epi8(0x0F);
  for (size_t ty = 0; ty < side / 8; ++ty) {
    for (size_t tx = 0; tx < side / 8; ++tx) {
      const size_t k = Spread(uint32_t(ty)) | Spread(uint32_t(tx)) << 1;
      __m512i loaded;
      if (bits == 8) {
        loaded = _mm512_loadu_si512(p + 64 * k);
      } else {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32 * k));
        loaded = _mm512_inserti64x4(_mm512_castsi256_si512(_mm256_and_si256(v, nibble)),
                                    _mm256_and_si256(_mm256_srli_epi16(v, 4), nibble), 1);
      }
      const __m512i indices = _mm512_permutexvar_epi8(reorder, loaded);
      const __mmask64 upper = _mm512_movepi8_mask(indices);  // entries 128 and up
      __m512i channel[4];
      for (size_t c = 0; c < 4; ++c)
        channel[c] = _mm512_mask_blend_epi8(upper, _mm512_permutex2var_epi8(plane[c][0], indices, plane[c][1]),
                                            _mm512_permutex2var_epi8(plane[c][2], indices, plane[c][3]));
      const __m512i rgLow = _mm512_unpacklo_epi8(channel[0], channel[1]);
      const __m512i rgHigh = _mm512_unpackhi_epi8(channel[0], channel[1]);
      const __m512i baLow = _mm512_unpacklo_epi8(channel[2], channel[3]);
      const __m512i baHigh = _mm512_unpackhi_epi8(channel[2], channel[3]);
      const __m512i rows[4] = {_mm512_unpacklo_epi16(rgLow, baLow), _mm512_unpackhi_epi16(rgLow, baLow),
                               _mm512_unpacklo_epi16(rgHigh, baHigh), _mm512_unpackhi_epi16(rgHigh, baHigh)};
      uint8_t* out = rgba + 8 * ty * stride + 32 * tx;
      for (size_t g = 0; g < 4; ++g) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 2 * g * stride), _mm512_castsi512_si256(rows[g]));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + (2 * g + 1) * stride),
                            _mm512_extracti64x4_epi64(rows[g], 1));
      }
    }
  }
}
#pragma GCC diagnostic pop
#endif

// The bank as 32-bit pixels (red, green, blue, alpha in memory order), every index covered.
std::array<uint32_t, 256> PixelTable(const BankColours& colours) {
  std::array<uint32_t, 256> table;
  std::memcpy(table.data(), colours.rgba.data(), sizeof table);
  return table;
}

// Writes the indices of one square (picture indices top row first, `width` a row) into its
// places of the data.
void PutSquare(const Square& sq, const uint8_t* indices, size_t width, int bits, uint8_t* data) {
  const auto at = [&](size_t x, size_t y) { return indices[(sq.y + y) * width + sq.x + x]; };
  uint8_t* p = data + sq.offset;
  if (sq.side == 1) {
    // A 1 x 1 square holds place 0 only; the other nibble of its byte stays.
    p[0] = bits == 8 ? at(0, 0) : uint8_t((p[0] & 0xF0) | at(0, 0));
    return;
  }
  for (size_t y = 0; y < sq.side; y += bits == 8 ? 1 : 2) {
    const uint32_t down = Spread(uint32_t(y));
    for (size_t x = 0; x < sq.side; ++x) {
      const uint32_t t = Spread(uint32_t(x)) << 1 | down;
      if (bits == 8)
        p[t] = at(x, y);
      else  // rows y and y + 1 share the byte: places t and t + 1
        p[t >> 1] = uint8_t(at(x, y) | at(x, y + 1) << 4);
    }
  }
}

// A level of `count` indices in twiddled order into its bytes.
void PutLevel(const uint8_t* indices, size_t count, int bits, uint8_t* out) {
  if (bits == 8) {
    std::memcpy(out, indices, count);
    return;
  }
  for (size_t j = 0; j < count / 2; ++j) out[j] = uint8_t(indices[2 * j] | indices[2 * j + 1] << 4);
}

// The mipmapped 1 x 1 index in every place of its space, so that a reader finds it in
// whichever place it takes.
void FillOneByOne(const Layout& layout, uint8_t index, uint8_t* data) {
  std::memset(data, layout.indexBits == 8 ? index : index * 0x11, layout.oneByOneBytes);
}

// Stores the main level's indices, and for mipmapped layouts every smaller level halved from
// `picture` (the main level as colours, top row first) and mapped.
void Store(const Layout& layout, const uint8_t* indices, const uint8_t* picture,
           ColourMatcher& matcher, std::span<uint8_t> data) {
  if (layout.kind == Kind::MipmappedIndexed && layout.width == 1) {
    FillOneByOne(layout, indices[0], data.data());
    return;
  }
  ForEachSquare(layout, [&](const Square& sq) {
    PutSquare(sq, indices, layout.width, layout.indexBits, data.data());
  });
  if (layout.kind != Kind::MipmappedIndexed) return;
  const size_t side = layout.width;
  // Every level below the main one, largest first, each in twiddled order.
  const auto levels = std::make_unique_for_overwrite<uint8_t[]>(4 * (side * side - 1) / 3 + 4);
  TexelCodec::HalvePicture(picture, 4 * side, side, levels.get());
  std::vector<uint8_t> mapped((side / 2) * (side / 2));
  uint8_t* level = levels.get();
  for (size_t s = side / 2; s >= 2; s /= 2) {
    uint8_t* const next = level + 4 * s * s;
    TexelCodec::HalveTwiddled(level, s * s, next);
    matcher.Map(level, s * s, mapped.data());
    PutLevel(mapped.data(), s * s, layout.indexBits,
             data.data() + IndexedFormats::LevelRange(layout, Log2(s)).offset);
    level = next;
  }
  FillOneByOne(layout, matcher.Nearest(level), data.data());
}

bool Fits(const Layout& layout, const BankColours& colours, std::span<uint8_t> data) {
  return layout.IsIndexed() && colours.indexBits == layout.indexBits && data.size() >= layout.End();
}

}  // namespace

Layout LayoutOf(int dataFormat, int width, int height) {
  if (dataFormat < 5 || dataFormat > 8 || width < 1 || height < 1) return {};
  const size_t w = size_t(width), h = size_t(height);
  const bool mipmapped = dataFormat == 6 || dataFormat == 8;
  if (!IsPowerOfTwo(w) || !IsPowerOfTwo(h) || w > kMaxSide || h > kMaxSide) return {};
  if (w != h && (mipmapped || std::min(w, h) < kMinRectangleSide)) return {};
  Layout layout;
  layout.kind = mipmapped ? Kind::MipmappedIndexed : Kind::Indexed;
  layout.width = w;
  layout.height = h;
  layout.indexBits = dataFormat <= 6 ? 4 : 8;
  layout.levels = 1;
  const size_t texels = w * h;
  if (!mipmapped) {
    layout.main = {0, IndexBytes(texels, layout.indexBits)};
    return layout;
  }
  layout.levels = Log2(w) + 1;
  layout.oneByOneBytes = layout.indexBits == 4 ? 2 : 4;
  layout.main = w == 1 ? ByteRange{0, layout.oneByOneBytes}
                       : ByteRange{layout.oneByOneBytes + (texels - 4) * size_t(layout.indexBits) / 24,
                                   texels * size_t(layout.indexBits) / 8};
  return layout;
}

ByteRange LevelRange(const Layout& layout, size_t level) {
  if (level + 1 >= layout.levels) return layout.main;
  if (level == 0) return {0, layout.oneByOneBytes};
  const size_t texels = size_t(1) << (2 * level);
  return {layout.oneByOneBytes + (texels - 4) * size_t(layout.indexBits) / 24,
          texels * size_t(layout.indexBits) / 8};
}

void ReadIndices(const Layout& layout, std::span<const uint8_t> data, uint8_t* indices) {
  if (!layout.IsIndexed()) return;
  ForEachIndex(layout, data, [indices](size_t pixel, uint8_t index) { indices[pixel] = index; });
}

bool DecodeMainLevel(const Layout& layout, std::span<const uint8_t> data,
                     const BankColours* colours, uint8_t* rgba) {
  if (!layout.IsIndexed()) return false;
  const std::array<uint32_t, 256> table =
      PixelTable(colours != nullptr ? *colours : BankColours::Greys(layout.indexBits));
  ForEachSquare(layout, [&](const Square& sq) {
#ifdef QUARNEL_INDEXED_AVX2
    const size_t bytes = IndexBytes(sq.side * sq.side, layout.indexBits);
    const TexelCodec::Path path = DecodePath();
    if (sq.first == 0 && sq.side >= 8 && sq.offset <= data.size() &&
        data.size() - sq.offset >= bytes && path >= TexelCodec::Path::Avx2) {
      (path == TexelCodec::Path::Avx512Vbmi ? DecodeSquareVbmi : DecodeSquareAvx2)(
          data.data() + sq.offset, layout.indexBits, sq.side, table.data(),
          rgba + 4 * (sq.y * layout.width + sq.x), 4 * layout.width);
      return;
    }
#endif
    ForEachIndexOf(layout, sq, data, [&table, rgba](size_t pixel, uint8_t index) {
      std::memcpy(rgba + 4 * pixel, &table[index], 4);
    });
  });
  return true;
}

TexelCodec::Path LimitPath(TexelCodec::Path widest) { return g_widest.exchange(widest); }

bool EncodeIndices(const Layout& layout, const uint8_t* indices, const BankColours& colours,
                   std::span<uint8_t> data) {
  if (!Fits(layout, colours, data)) return false;
  const size_t pixels = layout.width * layout.height;
  const uint8_t limit = uint8_t((1u << layout.indexBits) - 1);
  if (std::any_of(indices, indices + pixels, [limit](uint8_t i) { return i > limit; })) return false;
  std::vector<uint8_t> picture;
  if (layout.kind == Kind::MipmappedIndexed) {
    const std::array<uint32_t, 256> table = PixelTable(colours);
    picture.resize(4 * pixels);
    for (size_t i = 0; i < pixels; ++i) std::memcpy(&picture[4 * i], &table[indices[i]], 4);
  }
  ColourMatcher matcher(colours);
  Store(layout, indices, picture.data(), matcher, data);
  return true;
}

bool Encode(const Layout& layout, const uint8_t* rgba, const BankColours& colours,
            std::span<uint8_t> data) {
  if (!Fits(layout, colours, data)) return false;
  ColourMatcher matcher(colours);
  std::vector<uint8_t> indices(layout.width * layout.height);
  matcher.Map(rgba, indices.size(), indices.data());
  Store(layout, indices.data(), rgba, matcher, data);
  return true;
}

bool DecodesTo(const Layout& layout, std::span<const uint8_t> data, const BankColours& colours,
               const uint8_t* rgba) {
  if (!layout.IsIndexed()) return false;
  const ColourMatcher matcher(colours);
  const std::array<uint32_t, 256> table = PixelTable(colours);
  bool same = true;
  ForEachIndex(layout, data, [&](size_t pixel, uint8_t index) {
    uint8_t shown[4];
    std::memcpy(shown, &table[index], 4);
    same = same && matcher.Key(shown) == matcher.Key(rgba + 4 * pixel);
  });
  return same;
}

}  // namespace IndexedFormats
