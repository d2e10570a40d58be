#include "texture/DataFormats.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "texture/IndexedFormats.h"
#include "texture/TexelCodec.h"
#include "texture/TexelCodecKernels.h"
#include "texture/UnzeroedBytes.h"
#include "texture/VectorQuantiser.h"

namespace DataFormats {
namespace {

constexpr size_t kPixelFormatCount = TexelCodec::kPixelFormats.size();
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

// Where a square of a picture sits: column x, row y from the top.
struct SquarePlace {
  size_t x = 0, y = 0;
};

// Pictures here are whole, rows packed.
size_t Stride(const Layout& layout) { return 4 * layout.width; }

size_t PixelAt(size_t x, size_t y, size_t stride) { return y * stride + 4 * x; }

// Decodes the texels `texels` holds (at most side^2) of a twiddled square into the picture.
// Unlike encoding, decoding takes the square whole: its rows are then written from left to
// right across the picture, which the processor's prefetching follows, where 64 x 64 tiles
// wrote 256 bytes to each of 64 rows in turn.
void DecodeSquare(int pixelFormat, std::span<const uint8_t> texels, size_t side, SquarePlace place,
                  size_t stride, uint8_t* rgba) {
  TexelCodec::DecodeTwiddled(pixelFormat, texels.data(), texels.size() / 2,
                             rgba + PixelAt(place.x, place.y, stride), stride, side);
}

// Encodes a side x side square of the picture into 2 side^2 bytes of twiddled texels,
// taking it whole for the reason DecodeSquare does: in 64 x 64 tiles a 1024 x 1024 square
// took a quarter to a third longer on every vector path.
void EncodeSquare(int pixelFormat, const uint8_t* rgba, size_t stride, size_t side,
                  SquarePlace place, uint8_t* texels) {
  TexelCodec::EncodeTwiddled(pixelFormat, rgba + PixelAt(place.x, place.y, stride), stride, side, texels);
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

// `count` pixels from `rgba` on as a zero texel decodes: where the data ends.
void FillMissing(int pixelFormat, uint8_t* rgba, size_t count) {
  const TexelCodec::Rgba zero = TexelCodec::MissingPixel(pixelFormat);
  const uint8_t pixel[4] = {zero.r, zero.g, zero.b, zero.a};
  for (size_t i = 0; i < count; ++i) std::memcpy(rgba + 4 * i, pixel, 4);
}

void DecodeRectangle(int pixelFormat, std::span<const uint8_t> texels, size_t width,
                     size_t height, uint8_t* rgba) {
  const size_t count = std::min(width * height, texels.size() / 2);
  // Rows are packed in the data as in the picture, so the texels held are one run of pixels.
  TexelCodec::DecodeRows(pixelFormat, texels.data(), count, 1, rgba, 0);
  FillMissing(pixelFormat, rgba + 4 * count, width * height - count);
}

// ---- The 32-bit raster -----------------------------------------------------------------------

// Each texel's bytes are A, B, G, R: a pixel's bytes the other way round, both ways.
void ReverseTexels(const uint8_t* from, size_t count, uint8_t* to) {
  for (size_t i = 0; i < count; ++i, from += 4, to += 4) {
    const uint8_t a = from[0], b = from[1], c = from[2], d = from[3];
    to[0] = d, to[1] = c, to[2] = b, to[3] = a;
  }
}

void DecodeRaster(std::span<const uint8_t> texels, size_t pixels, uint8_t* rgba) {
  const size_t count = std::min(pixels, texels.size() / 4);
  ReverseTexels(texels.data(), count, rgba);
  std::memset(rgba + 4 * count, 0, 4 * (pixels - count));
}

bool IsYuv(int pixelFormat) { return TexelCodec::kTexels[size_t(pixelFormat)] == TexelCodec::Texels::YuvPairs; }

// ---- VQ --------------------------------------------------------------------------------------

// One codebook entry as it lands in the picture: the top row's two pixels (top-left, then
// top-right), then the bottom row's.
struct alignas(16) EntryPixels {
  std::array<uint8_t, 8> top, bottom;
};

// The codebook entries decoded once. Texels the data does not hold, and entries from
// `entries` up, decode as zero texels.
// One more entry than an index can name: the block that blocks without an index take.
using EntryTable = std::array<EntryPixels, kMaxEntries + 1>;

EntryTable DecodeCodebook(int pixelFormat, std::span<const uint8_t> data, size_t entries) {
  // The texels the data holds, decoded in one pass: each entry's four pixels in codebook
  // order (top-left, bottom-left, top-right, bottom-right).
  std::array<uint8_t, 16 * kMaxEntries> pixels;
  size_t held = std::min(4 * entries, data.size() / 2);
  // Where each texel goes in the entry's rows.
  size_t at[4] = {0, 8, 4, 12};
  if (IsYuv(pixelFormat)) {
    // The pairs are each row's texels, 0 and 2 on top, 1 and 3 below: put in rows, they
    // decode as a rectangle does. An entry the data does not hold whole is missing.
    held = held / 4 * 4;
    std::array<uint8_t, 8 * kMaxEntries> rows;
    constexpr size_t kRowOrder[4] = {0, 2, 1, 3};
    for (size_t t = 0; t < held; ++t) std::memcpy(&rows[2 * t], &data[2 * (t / 4 * 4 + kRowOrder[t % 4])], 2);
    TexelCodec::DecodeRows(pixelFormat, rows.data(), held, 1, pixels.data(), 0);
    at[1] = 4, at[2] = 8;
  } else {
    TexelCodec::DecodeRows(pixelFormat, data.data(), held, 1, pixels.data(), 0);
  }
  const TexelCodec::Rgba zero = TexelCodec::MissingPixel(pixelFormat);
  const uint8_t missing[4] = {zero.r, zero.g, zero.b, zero.a};
  EntryTable table;
  for (size_t e = 0; e <= kMaxEntries; ++e)
    for (size_t t = 0; t < 4; ++t) {
      const size_t texel = 4 * e + t;
      std::memcpy(reinterpret_cast<uint8_t*>(&table[e]) + at[t],
                  texel < held ? &pixels[4 * texel] : missing, 4);
    }
  return table;
}

void DecodeVq(const Layout& layout, int pixelFormat, std::span<const uint8_t> data,
              uint8_t* rgba) {
  static_assert(sizeof(EntryPixels) == TexelCodec::detail::kVqEntryBytes);
  const auto table = DecodeCodebook(pixelFormat, data, layout.codebookEntries);
  const std::span<const uint8_t> indices = HeldPart(data, layout.main);
  TexelCodec::PlaceVqBlocks(reinterpret_cast<const uint8_t*>(table.data()), indices.data(),
                            indices.size(), layout.width, rgba);
}

// ---- Mip levels ------------------------------------------------------------------------------
//
// The levels below the main one pass from one to the next as pictures in twiddled order
// (TexelCodec.h), where a level's texels, and the 2 x 2 squares the next one averages,
// are runs of consecutive pixels.

// Every level below a side x side main level, largest first: s^2 pixels for each side s
// from side / 2 down to 1. Every byte is written before it is read.
UnzeroedBytes LevelsBelow(size_t side) { return UnzeroedBytes(4 * (side * side - 1) / 3 + 4); }

TexelCodec::Rgba PixelOf(const uint8_t* p) { return {p[0], p[1], p[2], p[3]}; }

void PutTexel(uint8_t* at, uint16_t texel) {
  at[0] = uint8_t(texel);
  at[1] = uint8_t(texel >> 8);
}

// Encodes a side x side picture and every level below it into a mipmapped twiddled texture.
// The main level goes whole, as an unmipmapped one does, and is halved from the registers
// its encoding loaded; that half is encoded in the same pass and halved again
// (EncodeTwiddledQuartering). Each smaller level is then encoded and halved in one pass
// over it.
void EncodeTwiddledChain(const Layout& layout, int pixelFormat, const uint8_t* rgba,
                         std::span<uint8_t> data) {
  const size_t side = layout.width, stride = Stride(layout);
  uint8_t* const main = data.data() + layout.main.offset;
  UnzeroedBytes levels = LevelsBelow(side);
  uint8_t* level = levels.data();  // the first level not yet encoded, of side s
  size_t s = side / 2;
  if (side == 1) {
    std::memcpy(levels.data(), rgba, 4);
  } else if (side == 2) {
    TexelCodec::EncodeTwiddledHalving(pixelFormat, rgba, stride, side, main, levels.data());
  } else {
    uint8_t* const halfTexels = data.data() + LevelRange(layout, Log2(side / 2)).offset;
    uint8_t* const quarter = levels.data() + side * side;  // after the half's (side / 2)^2 pixels
    TexelCodec::EncodeTwiddledQuartering(pixelFormat, rgba, stride, side, main, levels.data(), halfTexels,
                                         quarter);
    level = quarter;
    s = side / 4;
  }
  for (; s >= 2; s /= 2) {
    uint8_t* const next = level + 4 * s * s;
    TexelCodec::EncodeTwiddledLevel(pixelFormat, level, s * s,
                                    data.data() + LevelRange(layout, Log2(s)).offset, next);
    level = next;
  }
  // The 1 x 1 texel in every slot of its space, so that whichever slot a reader takes, it
  // finds the texel; a YUV pixel as the pair of itself, in every 4 bytes.
  if (IsYuv(pixelFormat)) {
    const uint8_t twice[8] = {level[0], level[1], level[2], level[3], level[0], level[1], level[2], level[3]};
    uint8_t pair[4];
    TexelCodec::EncodeRows(pixelFormat, twice, 0, 2, 1, pair, 0);
    for (size_t at = 0; at + 4 <= layout.oneByOneBytes; at += 4) std::memcpy(data.data() + at, pair, 4);
    return;
  }
  const uint16_t texel = TexelCodec::EncodeTexel(pixelFormat, PixelOf(level));
  for (size_t at = 0; at + 2 <= layout.oneByOneBytes; at += 2) PutTexel(data.data() + at, texel);
}

// The 2 x 2 blocks of a side x side picture in twiddled block order, appended to `blocks`.
void GatherPictureBlocks(const uint8_t* rgba, size_t side, std::vector<VectorQuantiser::Block>& blocks) {
  const size_t perSide = side / 2, stride = 4 * side;
  for (size_t k = 0; k < perSide * perSide; ++k) {
    const uint8_t* top = rgba + PixelAt(2 * Compact(uint32_t(k >> 1)), 2 * Compact(uint32_t(k)), stride);
    const uint8_t* bottom = top + stride;
    // Codebook order: top-left, bottom-left, top-right, bottom-right.
    VectorQuantiser::Block block;
    std::memcpy(&block[0], top, 4);
    std::memcpy(&block[4], bottom, 4);
    std::memcpy(&block[8], top + 4, 4);
    std::memcpy(&block[12], bottom + 4, 4);
    blocks.push_back(block);
  }
}

// The 2 x 2 blocks of a level of `pixels` pixels in twiddled order: in that order a block's
// pixels are consecutive and come in the codebook's own order, so the level is its blocks.
void GatherLevelBlocks(const uint8_t* level, size_t pixels, std::vector<VectorQuantiser::Block>& blocks) {
  for (size_t k = 0; k < pixels; k += 4) {
    VectorQuantiser::Block block;
    std::memcpy(block.data(), level + 4 * k, block.size());
    blocks.push_back(block);
  }
}

void EncodeVq(const Layout& layout, int pixelFormat, const uint8_t* rgba, std::span<uint8_t> data) {
  const size_t side = layout.width;
  // The smaller levels of a mipmapped texture, largest first.
  UnzeroedBytes levels;
  if (layout.kind == Kind::MipmappedVq) {
    levels = LevelsBelow(side);
    TexelCodec::HalvePicture(rgba, Stride(layout), side, levels.data());
    uint8_t* level = levels.data();
    for (size_t s = side / 2; s >= 2; s /= 2) {
      TexelCodec::HalveTwiddled(level, s * s, level + 4 * s * s);
      level += 4 * s * s;
    }
  }

  // One codebook for every level of 2 x 2 and up; the main level's blocks, three quarters of
  // them all, weigh the most. Alpha always takes part: the quantiser counts it only where the
  // pixel format keeps it.
  std::vector<VectorQuantiser::Block> blocks;
  blocks.reserve(side * side / 4 * 4 / 3 + 1);
  GatherPictureBlocks(rgba, side, blocks);
  const uint8_t* level = levels.data();
  for (size_t s = side / 2; !levels.empty() && s >= 2; level += 4 * s * s, s /= 2)
    GatherLevelBlocks(level, s * s, blocks);
  const VectorQuantiser::Result result =
      VectorQuantiser::Quantise(blocks, pixelFormat, layout.codebookEntries);

  // codebook: entry after entry, four texels each; entries the quantiser left out are zero.
  for (size_t t = 0; t < 4 * layout.codebookEntries; ++t)
    PutTexel(data.data() + 2 * t,
             t < result.codebook.texels.size() ? result.codebook.texels[t] : 0);

  // Indices level by level, in the order the blocks were gathered; the 1 x 1 level last.
  const uint8_t* index = result.indices.data();
  for (size_t s = side; s >= 2; s = !levels.empty() ? s / 2 : 1) {
    const ByteRange range = LevelRange(layout, Log2(s));
    std::memcpy(data.data() + range.offset, index, range.bytes);
    index += range.bytes;
  }
  if (levels.empty()) return;
  VectorQuantiser::Block filled;
  for (size_t i = 0; i < 4; ++i) std::memcpy(&filled[4 * i], level, 4);
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
    case 11:
    case 12:
      // The width is the stride the texture is read with, in steps of 32.
      if (width % 32 != 0 || width > 992) return {};
      [[fallthrough]];
    case 9:
    case 10:
      layout.kind = Kind::Rectangle;
      layout.main = {0, 2 * texels};
      return layout;
    case 14:
      layout.kind = Kind::Raster;
      layout.main = {0, 4 * texels};
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
    case 5:
    case 6:
    case 7:
    case 8:
      return IndexedFormats::LayoutOf(dataFormat, width, height);
    default:
      return {};
  }
}

ByteRange LevelRange(const Layout& layout, size_t level) {
  if (layout.IsIndexed()) return IndexedFormats::LevelRange(layout, level);
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

bool Decodes(const Layout& layout, int pixelFormat) {
  // Raster texels are whole colours; indexed ones name a palette's, whatever the pixel format.
  if (layout.kind == Kind::Raster || layout.IsIndexed()) return true;
  if (!layout.Handled() || pixelFormat < 0 || size_t(pixelFormat) >= kPixelFormatCount) return false;
  return !IsYuv(pixelFormat) || layout.width % 2 == 0;
}

bool Encodes(const Layout& layout, int pixelFormat) {
  if (layout.kind == Kind::Raster || layout.IsIndexed()) return true;
  return Decodes(layout, pixelFormat) && TexelCodec::Encodes(pixelFormat) && !(IsYuv(pixelFormat) && layout.IsVq());
}

bool EncodesExactly(const Layout& layout, int pixelFormat) {
  if (layout.kind == Kind::Raster) return true;
  const bool plainTexels = layout.kind == Kind::Rectangle || layout.kind == Kind::Twiddled ||
                           layout.kind == Kind::RectangularTwiddled;
  if (!plainTexels || !Encodes(layout, pixelFormat) ||
      TexelCodec::kTexels[size_t(pixelFormat)] != TexelCodec::Texels::Fields)
    return false;
  // RGB555's top bit is read by nobody and written as 0, so its texels come back only if
  // the fields fill all 16 bits.
  const PixelFormatInfo& f = TexelCodec::kPixelFormats[size_t(pixelFormat)];
  return (f.AMask | f.RMask | f.GMask | f.BMask) == 0xFFFF;
}

bool DecodeMainLevel(const Layout& layout, int pixelFormat, std::span<const uint8_t> data,
                     uint8_t* rgba, const BankColours* colours) {
  if (layout.IsIndexed()) return IndexedFormats::DecodeMainLevel(layout, data, colours, rgba);
  if (!Decodes(layout, pixelFormat)) return false;
  const size_t stride = Stride(layout);
  switch (layout.kind) {
    case Kind::Raster:
      DecodeRaster(HeldPart(data, layout.main), layout.width * layout.height, rgba);
      break;
    case Kind::Rectangle:
      DecodeRectangle(pixelFormat, HeldPart(data, layout.main), layout.width, layout.height, rgba);
      break;
    case Kind::Twiddled:
    case Kind::MipmappedTwiddled:
      DecodeSquare(pixelFormat, HeldPart(data, layout.main), layout.width, {}, stride, rgba);
      break;
    case Kind::RectangularTwiddled: {
      const size_t side = std::min(layout.width, layout.height);
      for (size_t i = 0; i < SquareCount(layout); ++i)
        DecodeSquare(pixelFormat, HeldPart(data, {2 * side * side * i, 2 * side * side}), side,
                     PlaceOfSquare(layout, i), stride, rgba);
      break;
    }
    case Kind::Vq:
    case Kind::MipmappedVq:
      DecodeVq(layout, pixelFormat, data, rgba);
      break;
    case Kind::Indexed:
    case Kind::MipmappedIndexed:
    case Kind::Unhandled:
      break;
  }
  return true;
}

bool Encode(const Layout& layout, int pixelFormat, const uint8_t* rgba, std::span<uint8_t> data,
            const BankColours* colours) {
  if (layout.IsIndexed())
    return colours != nullptr && IndexedFormats::Encode(layout, rgba, *colours, data);
  if (!Encodes(layout, pixelFormat) || data.size() < layout.End()) return false;
  const size_t stride = Stride(layout);
  switch (layout.kind) {
    case Kind::Raster:
      ReverseTexels(rgba, layout.width * layout.height, data.data());
      break;
    case Kind::Rectangle:
      TexelCodec::EncodeRows(pixelFormat, rgba, stride, layout.width, layout.height, data.data(),
                             2 * layout.width);
      break;
    case Kind::Twiddled:
      EncodeSquare(pixelFormat, rgba, stride, layout.width, {}, data.data());
      break;
    case Kind::RectangularTwiddled: {
      const size_t side = std::min(layout.width, layout.height);
      for (size_t i = 0; i < SquareCount(layout); ++i)
        EncodeSquare(pixelFormat, rgba, stride, side, PlaceOfSquare(layout, i),
                     data.data() + 2 * side * side * i);
      break;
    }
    case Kind::MipmappedTwiddled:
      EncodeTwiddledChain(layout, pixelFormat, rgba, data);
      break;
    case Kind::Vq:
    case Kind::MipmappedVq:
      EncodeVq(layout, pixelFormat, rgba, data);
      break;
    case Kind::Indexed:
    case Kind::MipmappedIndexed:
    case Kind::Unhandled:
      return false;
  }
  return true;
}

bool DecodesTo(const Layout& layout, int pixelFormat, std::span<const uint8_t> data,
               const uint8_t* rgba, const BankColours* colours) {
  if (layout.IsIndexed())
    return colours != nullptr && IndexedFormats::DecodesTo(layout, data, *colours, rgba);
  if (!Decodes(layout, pixelFormat)) return false;
  const size_t pixels = layout.width * layout.height;
  std::vector<uint8_t> decoded(4 * pixels);
  DecodeMainLevel(layout, pixelFormat, data, decoded.data());
  if (layout.kind == Kind::Raster) return std::equal(decoded.begin(), decoded.end(), rgba);
  if (TexelCodec::kTexels[size_t(pixelFormat)] != TexelCodec::Texels::Fields) {
    for (size_t i = 0; i < 4 * pixels; i += 4)  // opaque: colours alone
      if (std::memcmp(&decoded[i], rgba + i, 3) != 0) return false;
    return true;
  }
  // Decoding is one-to-one on the bits a format keeps, so two pictures decode alike exactly
  // when they encode alike.
  std::vector<uint8_t> current(2 * pixels), offered(2 * pixels);
  TexelCodec::EncodeRows(pixelFormat, decoded.data(), 0, pixels, 1, current.data(), 0);
  TexelCodec::EncodeRows(pixelFormat, rgba, 0, pixels, 1, offered.data(), 0);
  return current == offered;
}

}  // namespace DataFormats
