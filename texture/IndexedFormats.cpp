#include "texture/IndexedFormats.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <vector>

#include "texture/ColourMatcher.h"
#include "texture/TexelCodec.h"
#include "texture/TexelCodecKernels.h"

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

// Calls put(pixel, index) for every pixel of the main level, pixel counted from the top-left
// as in the picture, missing indices as 0. Rows go left to right through the picture, so the
// writes stream; the reads stay within a few cache lines of twiddled indices per row pair.
template <typename Put>
void ForEachIndex(const Layout& layout, std::span<const uint8_t> data, Put&& put) {
  const int bits = layout.indexBits;
  std::array<uint32_t, kMaxSide> across;  // the column's part of a byte's place
  ForEachSquare(layout, [&](const Square& sq) {
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
  });
}

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
  ForEachIndex(layout, data, [&table, rgba](size_t pixel, uint8_t index) {
    std::memcpy(rgba + 4 * pixel, &table[index], 4);
  });
  return true;
}

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
