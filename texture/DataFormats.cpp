#include "texture/DataFormats.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
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
//
// The levels below the main one pass from one to the next as channel planes in twiddled
// order (TexelCodec.h), where a level's texels, and the 2 x 2 squares the next one averages,
// are runs of consecutive bytes.

// The planes of every level below a side x side main level, largest first: four planes of
// s^2 bytes for each side s from side / 2 down to 1. Every byte is written before it is read.
std::unique_ptr<uint8_t[]> PlanesBelow(size_t side) {
  return std::make_unique_for_overwrite<uint8_t[]>(4 * (side * side - 1) / 3 + 4);
}

// The only pixel of a 1 x 1 level held as planes; alpha 0 when the planes carry none.
TexelCodec::Rgba OnlyPixel(const uint8_t* planes, bool alpha) {
  return {planes[2], planes[1], planes[0], alpha ? planes[3] : uint8_t(0)};
}

void PutTexel(uint8_t* at, uint16_t texel) {
  at[0] = uint8_t(texel);
  at[1] = uint8_t(texel >> 8);
}

// Encodes a side x side picture and every level below it into a mipmapped twiddled texture.
// The main level goes a tile at a time, as an unmipmapped one does, and each tile is halved
// from the registers its encoding loaded: the half of an aligned tile is an aligned block
// of the next level, a run of consecutive twiddle indexes. Each smaller level is then
// encoded and halved in one pass over its planes.
void EncodeTwiddledChain(const Layout& layout, int pixelFormat, const ConstSurfaces& picture,
                         std::span<uint8_t> data) {
  const size_t side = layout.width;
  // A format without alpha bits encodes the same whatever the alpha, so no level's alpha is
  // worked out: the mask of the main level is never read.
  const bool alpha = TexelCodec::kPixelFormats[size_t(pixelFormat)].AMask != 0;
  const uint8_t* const mask = alpha ? picture.mask : nullptr;
  uint8_t* const main = data.data() + layout.main.offset;
  const std::unique_ptr<uint8_t[]> planes = PlanesBelow(side);
  if (side == 1) {
    const uint8_t only[4] = {picture.image[0], picture.image[1], picture.image[2], alpha ? picture.mask[2] : uint8_t(0)};
    std::memcpy(planes.get(), only, 4);
  } else {
    const size_t plane = side / 2 * (side / 2);
    ForEachTile(side, [&](size_t first, size_t x, size_t y, size_t tile) {
      const size_t o = BlockCorner(x, y, tile, side, picture.stride);
      TexelCodec::EncodeTwiddledHalving(pixelFormat, picture.image + o, mask ? mask + o : nullptr,
                                        picture.stride, tile, main + 2 * first,
                                        planes.get() + first / 4, plane);
    });
  }
  uint8_t* level = planes.get();  // the planes of the level being made
  for (size_t s = side / 2; s >= 2; s /= 2) {
    uint8_t* const next = level + 4 * s * s;
    TexelCodec::EncodePlanes(pixelFormat, level, s * s, alpha, data.data() + LevelRange(layout, Log2(s)).offset,
                             next);
    level = next;
  }
  // The 1 x 1 texel in every slot of its space, so that whichever slot a reader takes, it
  // finds the texel.
  const uint16_t texel = TexelCodec::EncodeTexel(pixelFormat, OnlyPixel(level, alpha));
  for (size_t at = 0; at + 2 <= layout.oneByOneBytes; at += 2) PutTexel(data.data() + at, texel);
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

// The 2 x 2 blocks of a level held as planes of `pixels` pixels, in twiddled block order. In
// that order a block's pixels are consecutive and come top-left, bottom-left, top-right,
// bottom-right: the codebook's own order.
void GatherBlocks(const uint8_t* planes, size_t pixels, std::vector<VectorQuantiser::Block>& blocks) {
  for (size_t k = 0; k < pixels; k += 4) {
    VectorQuantiser::Block block;
    for (size_t p = 0; p < 4; ++p) {
      const size_t i = k + p;
      block[4 * p] = planes[2 * pixels + i], block[4 * p + 1] = planes[pixels + i];
      block[4 * p + 2] = planes[i], block[4 * p + 3] = planes[3 * pixels + i];
    }
    blocks.push_back(block);
  }
}

void EncodeVq(const Layout& layout, int pixelFormat, const ConstSurfaces& picture,
              std::span<uint8_t> data) {
  const size_t side = layout.width;
  // The smaller levels of a mipmapped texture, largest first, alpha always: the quantiser
  // counts it whatever the pixel format.
  std::unique_ptr<uint8_t[]> planes;
  if (layout.kind == Kind::MipmappedVq) {
    planes = PlanesBelow(side);
    TexelCodec::HalveSurfaces(picture.image, picture.mask, picture.stride, side, planes.get());
    uint8_t* level = planes.get();
    for (size_t s = side / 2; s >= 2; s /= 2) {
      TexelCodec::HalvePlanes(level, s * s, level + 4 * s * s);
      level += 4 * s * s;
    }
  }

  // One codebook for every level of 2 x 2 and up; the main level's blocks, three quarters of
  // them all, weigh the most.
  std::vector<VectorQuantiser::Block> blocks;
  blocks.reserve(side * side / 4 * 4 / 3 + 1);
  GatherBlocks(picture, side, blocks);
  const uint8_t* level = planes.get();
  for (size_t s = side / 2; planes != nullptr && s >= 2; level += 4 * s * s, s /= 2)
    GatherBlocks(level, s * s, blocks);
  const VectorQuantiser::Result result =
      VectorQuantiser::Quantise(blocks, pixelFormat, layout.codebookEntries);

  // codebook: entry after entry, four texels each; entries the quantiser left out are zero.
  for (size_t t = 0; t < 4 * layout.codebookEntries; ++t)
    PutTexel(data.data() + 2 * t,
             t < result.codebook.texels.size() ? result.codebook.texels[t] : 0);

  // Indices level by level, in the order the blocks were gathered; the 1 x 1 level last.
  const uint8_t* index = result.indices.data();
  for (size_t s = side; s >= 2; s = planes != nullptr ? s / 2 : 1) {
    const ByteRange range = LevelRange(layout, Log2(s));
    std::memcpy(data.data() + range.offset, index, range.bytes);
    index += range.bytes;
  }
  if (planes == nullptr) return;
  const TexelCodec::Rgba p = OnlyPixel(level, true);
  VectorQuantiser::Block filled;
  for (size_t i = 0; i < 4; ++i)
    filled[4 * i] = p.r, filled[4 * i + 1] = p.g, filled[4 * i + 2] = p.b, filled[4 * i + 3] = p.a;
  data[LevelRange(layout, 0).offset] = VectorQuantiser::NearestEntry(result.codebook, pixelFormat, filled);
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
      EncodeTwiddledChain(layout, pixelFormat, picture, data);
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

// TEMPORARY bridge until the codec takes RGBA itself.
namespace {
struct Planes {
  std::vector<uint8_t> image, mask;
  size_t stride;
};
Planes Split(const Layout& l, const uint8_t* rgba) {
  Planes p{std::vector<uint8_t>(3 * l.width * l.height), std::vector<uint8_t>(3 * l.width * l.height), 3 * l.width};
  for (size_t y = 0; y < l.height; ++y)
    for (size_t x = 0; x < l.width; ++x) {
      const uint8_t* s = rgba + 4 * (y * l.width + x);
      const size_t o = (l.height - 1 - y) * p.stride + 3 * x;
      p.image[o] = s[2], p.image[o + 1] = s[1], p.image[o + 2] = s[0], p.mask[o + 2] = s[3];
    }
  return p;
}
}  // namespace

bool DecodeMainLevel(const Layout& l, int pixelFormat, std::span<const uint8_t> data, uint8_t* rgba) {
  if (!l.Handled() || pixelFormat < 0 || size_t(pixelFormat) >= kPixelFormatCount) return false;
  Planes p{std::vector<uint8_t>(3 * l.width * l.height), std::vector<uint8_t>(3 * l.width * l.height), 3 * l.width};
  DecodeMainLevel(l, pixelFormat, data, Surfaces{p.image.data(), p.mask.data(), p.stride});
  const bool opaque = TexelCodec::kPixelFormats[size_t(pixelFormat)].AMask == 0;
  for (size_t y = 0; y < l.height; ++y)
    for (size_t x = 0; x < l.width; ++x) {
      uint8_t* d = rgba + 4 * (y * l.width + x);
      const size_t o = (l.height - 1 - y) * p.stride + 3 * x;
      d[0] = p.image[o + 2], d[1] = p.image[o + 1], d[2] = p.image[o], d[3] = opaque ? 255 : p.mask[o + 2];
    }
  return true;
}

bool Encode(const Layout& l, int pixelFormat, const uint8_t* rgba, std::span<uint8_t> data) {
  if (!l.Handled()) return false;
  const Planes p = Split(l, rgba);
  return Encode(l, pixelFormat, ConstSurfaces{p.image.data(), p.mask.data(), p.stride}, data);
}

bool DecodesTo(const Layout& l, int pixelFormat, std::span<const uint8_t> data, const uint8_t* rgba) {
  if (!l.Handled()) return false;
  const Planes p = Split(l, rgba);
  return DecodesTo(l, pixelFormat, data, ConstSurfaces{p.image.data(), p.mask.data(), p.stride});
}

}  // namespace DataFormats
