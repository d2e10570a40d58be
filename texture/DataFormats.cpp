#include "texture/DataFormats.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "texture/TexelCodec.h"
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
void DecodeSquare(int pixelFormat, std::span<const uint8_t> texels, size_t side,
                  SquarePlace place, size_t height, const Surfaces& out) {
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

void DecodeRectangle(int pixelFormat, std::span<const uint8_t> texels, size_t width,
                     size_t height, const Surfaces& out) {
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
std::array<EntryPixels, kMaxEntries> DecodeCodebook(int pixelFormat, std::span<const uint8_t> data,
                                                    size_t entries) {
  std::array<EntryPixels, kMaxEntries> table{};
  // Texels in codebook order: top-left, bottom-left, top-right, bottom-right.
  constexpr struct {
    bool bottom;
    size_t at;
  } kPlace[4] = {{false, 0}, {true, 0}, {false, 3}, {true, 3}};
  for (size_t e = 0; e < entries; ++e)
    for (size_t t = 0; t < 4; ++t) {
      const size_t byte = e * kCodebookEntryBytes + 2 * t;
      if (byte + 2 > data.size()) return table;
      const auto p = TexelCodec::DecodeTexel(pixelFormat, uint16_t(data[byte] | data[byte + 1] << 8));
      auto& image = kPlace[t].bottom ? table[e].bottom : table[e].top;
      auto& mask = kPlace[t].bottom ? table[e].maskBottom : table[e].maskTop;
      const size_t at = kPlace[t].at;
      image[at] = p.b, image[at + 1] = p.g, image[at + 2] = p.r;
      mask[at + 2] = p.a;
    }
  return table;
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
    for (size_t bx = 0; bx < blocks; ++bx) {
      const size_t k = rowBits | columnBits[bx];
      if (k >= indices.size()) continue;
      const EntryPixels& e = table[indices[k]];
      const size_t x = 6 * bx;
      // The last block of a row takes exact moves: past it lies the row above.
      const size_t n = bx + 1 < blocks ? 8 : 6;
      std::memcpy(out.image + top + x, e.top.data(), n);
      std::memcpy(out.image + bottom + x, e.bottom.data(), n);
      std::memcpy(out.mask + top + x, e.maskTop.data(), n);
      std::memcpy(out.mask + bottom + x, e.maskBottom.data(), n);
    }
  }
}

// ---- Mip levels ------------------------------------------------------------------------------

// One level of a mip chain as a pair of surfaces of its own, rows packed.
struct Level {
  size_t side = 0;
  std::vector<uint8_t> image, mask;
  ConstSurfaces View() const { return {image.data(), mask.data(), 3 * side}; }
};

// The picture halved: each channel of each output pixel is (a + b + c + d + 2) >> 2 of its
// 2 x 2 pixels. The mask keeps only its alpha (red) bytes.
Level Halve(const ConstSurfaces& from, size_t side) {
  Level to;
  to.side = side / 2;
  to.image.assign(3 * to.side * to.side, 0);
  to.mask.assign(3 * to.side * to.side, 0);
  // Memory rows 2y and 2y + 1 of the source make memory row y of the result: both are
  // bottom-up.
  for (size_t y = 0; y < to.side; ++y) {
    const uint8_t* a = from.image + 2 * y * from.stride;
    const uint8_t* b = a + from.stride;
    const uint8_t* ma = from.mask + 2 * y * from.stride;
    const uint8_t* mb = ma + from.stride;
    uint8_t* image = to.image.data() + 3 * to.side * y;
    uint8_t* mask = to.mask.data() + 3 * to.side * y;
    for (size_t x = 0; x < to.side; ++x) {
      const size_t i = 6 * x;
      for (size_t c = 0; c < 3; ++c)
        image[3 * x + c] = uint8_t((a[i + c] + a[i + 3 + c] + b[i + c] + b[i + 3 + c] + 2) >> 2);
      mask[3 * x + 2] = uint8_t((ma[i + 2] + ma[i + 5] + mb[i + 2] + mb[i + 5] + 2) >> 2);
    }
  }
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

void EncodeMipmappedTwiddled(const Layout& layout, int pixelFormat, const ConstSurfaces& picture,
                             std::span<uint8_t> data) {
  const size_t side = layout.width;
  const std::vector<Level> levels = SmallerLevels(picture, side);
  if (side >= 2) EncodeSquare(pixelFormat, picture, side, {}, side, data.data() + layout.main.offset);
  for (const Level& level : levels) {
    if (level.side == 1) break;
    EncodeSquare(pixelFormat, level.View(), level.side, {}, level.side,
                 data.data() + LevelRange(layout, Log2(level.side)).offset);
  }
  // The 1 x 1 texel in every slot of its space, so that whichever slot a reader takes, it
  // finds the texel. A 1 x 1 texture's main level is that level.
  const TexelCodec::Rgba last = FirstPixel(levels.empty() ? picture : levels.back().View());
  const uint16_t texel = TexelCodec::EncodeTexel(pixelFormat, last);
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
    PutTexel(data.data() + 2 * t, t < result.codebook.texels.size() ? result.codebook.texels[t] : 0);

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
        filled[4 * i] = p.r, filled[4 * i + 1] = p.g, filled[4 * i + 2] = p.b, filled[4 * i + 3] = p.a;
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
                             -ptrdiff_t(picture.stride), layout.width, layout.height,
                             data.data(), 2 * layout.width);
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
      EncodeMipmappedTwiddled(layout, pixelFormat, picture, data);
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
    TexelCodec::EncodeRows(pixelFormat, image.data() + row * stride, mask.data() + row * stride,
                           0, layout.width, 1, current.data(), 0);
    TexelCodec::EncodeRows(pixelFormat, picture.image + row * picture.stride,
                           picture.mask + row * picture.stride, 0, layout.width, 1,
                           offered.data(), 0);
    if (current != offered) return false;
  }
  return true;
}

}  // namespace DataFormats
