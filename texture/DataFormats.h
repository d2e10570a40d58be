// The data formats of a PVR chunk: where a texture's texels, codebook and index levels lie in
// its data bytes, decoding the main level into a picture, and encoding a picture back with
// every mip level and, for VQ formats, a codebook of its own.
//
// A picture is width x height pixels of 4 bytes (red, green, blue, alpha), top row first,
// rows tightly packed: pixel (x, y) at byte 4 (width y + x). Pixel formats are TexelCodec's
// (0, 1, 2); others are not handled.
//
// Data bytes by data format (W x H the texture's size; "twiddled" is square, power-of-two
// side, texel k at the pixel whose twiddle index is k):
//
//   format  layout                                   main level starts at
//   9       rectangle, rows top first                0
//   1       twiddled                                 0
//   13      squares of side min(W, H) along the      0
//           longer side, each twiddled, in turn
//   2, 18   twiddled levels smallest first: 1 x 1    s1 - 2 + 2 (W^2 - 1) / 3
//           in s1 bytes (4 for 2, 8 for 18), its
//           texel in the last slot; then s x s in
//           2 s^2 bytes, up to the main level
//   3, 16   VQ: codebook of E entries x 4 texels     8 E
//           (2 x 2 blocks: top-left, bottom-left,
//           top-right, bottom-right), then one
//           index per block in twiddled block order
//   4, 17   VQ with mipmaps: codebook, then index    8 E + 1 + (W^2 / 4 - 1) / 3
//           levels smallest first, 1 x 1 in one
//           byte, s x s in (s / 2)^2 bytes
//
//   5, 7    indices (4 or 8 bits) twiddled, as 1;    0
//           rectangles as squares, as 13
//   6, 8    indices, twiddled levels smallest        2 + (W^2 - 4) / 6 (4-bit),
//           first, the 1 x 1 sized as a 2 x 2        4 + (W^2 - 4) / 3 (8-bit)
//           (IndexedFormats.h)
//
// E is 256 for 3 and 4; for 16 it is 16 up to W 16, 32 up to 32, 128 up to 64, then 256; for
// 17 it is 16 up to 16, 64 up to 32, then 256. VQ textures are square, 8 to 1024.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

struct BankColours;

namespace DataFormats {

enum class Kind : uint8_t {
  Unhandled,            // shown black, carried unchanged, never encoded
  Rectangle,            // 9
  Twiddled,             // 1
  RectangularTwiddled,  // 13
  MipmappedTwiddled,    // 2, 18
  Vq,                   // 3, and small VQ 16
  MipmappedVq,          // 4, and small VQ with mipmaps 17
  Indexed,              // 5, 7: indices into a palette's bank, squares twiddled
  MipmappedIndexed,     // 6, 8
};

// Where a level lies in the data: `bytes` bytes from `offset`.
struct ByteRange {
  size_t offset = 0;
  size_t bytes = 0;
  size_t End() const { return offset + bytes; }
};

// The arrangement of one texture's data bytes; all zero (Kind::Unhandled) for a data format
// or a shape the layout cannot hold.
struct Layout {
  Kind kind = Kind::Unhandled;
  size_t width = 0, height = 0;
  // 1 without mipmaps. With mipmaps, level i has side 2^i: level 0 is the 1 x 1, level
  // levels - 1 the main level.
  size_t levels = 0;
  size_t codebookEntries = 0;  // VQ only; the codebook starts at byte 0
  size_t oneByOneBytes = 0;    // mipmapped only: the space of the 1 x 1 level
  int indexBits = 0;           // indexed only: 4 or 8
  ByteRange main;              // the main level's texels or indices

  bool Handled() const { return kind != Kind::Unhandled; }
  bool IsVq() const { return kind == Kind::Vq || kind == Kind::MipmappedVq; }
  bool IsIndexed() const { return kind == Kind::Indexed || kind == Kind::MipmappedIndexed; }
  size_t CodebookBytes() const { return codebookEntries * 8; }
  // The data bytes a complete texture holds; the main level always comes last.
  size_t End() const { return main.End(); }
};

// The layout of a width x height texture of the given data format. Non-square or
// non-power-of-two sides where the layout needs them, VQ sides outside 8 to 1024 and sides
// below 1 give Kind::Unhandled.
Layout LayoutOf(int dataFormat, int width, int height);

// The bytes mip level `level` (below layout.levels) takes. For the mipmapped 1 x 1 level this
// is its whole space, of which the texel (or index) sits in the last slot.
ByteRange LevelRange(const Layout& layout, size_t level);

// Decodes the main level of `data` into `rgba`, a picture of layout.width x layout.height
// pixels. Every pixel is written: texels or indices the data does not hold, blocks whose
// index is beyond the codebook's entries and texels of entries the data does not hold
// decode as a zero texel does, black with alpha 0 (alpha 255 for a format without alpha
// bits, which decodes opaque throughout). Nothing outside `data` is read, whatever its
// length. False, writing nothing, for an unhandled layout or pixel format.
//
// Indexed layouts ignore the pixel format and show their indices through `colours`, or
// through BankColours::Greys without them; indices the data does not hold are index 0.
// Other layouts ignore `colours`.
bool DecodeMainLevel(const Layout& layout, int pixelFormat, std::span<const uint8_t> data,
                     uint8_t* rgba, const BankColours* colours = nullptr);

// Encodes the picture (layout.width x layout.height pixels, alpha from its alpha bytes,
// ignored by a format without alpha bits) into `data` in the layout: the main level, every
// smaller level as the 2 x 2 average of the one above ((a + b + c + d + 2) >> 2 per 8-bit
// channel, alpha included), and for VQ formats a codebook for all levels. The 1 x 1 texel
// fills every slot of its space. Bytes outside the texels, codebook and indices written are
// kept. False, changing nothing, for an unhandled layout or pixel format, or data shorter
// than layout.End(). The same picture always gives the same bytes.
//
// Indexed layouts map every pixel to the nearest held colour of `colours`, which must have
// the layout's index bits; false without them.
bool Encode(const Layout& layout, int pixelFormat, const uint8_t* rgba, std::span<uint8_t> data,
            const BankColours* colours = nullptr);

// Whether the picture, taken to the pixel format's precision, is exactly what the main level
// of `data` decodes to (alpha counted only where the format keeps it). An import of such a
// picture has nothing to change. False for an unhandled layout or pixel format. Indexed
// layouts compare at the precision of the colour format of `colours`; false without them.
bool DecodesTo(const Layout& layout, int pixelFormat, std::span<const uint8_t> data,
               const uint8_t* rgba, const BankColours* colours = nullptr);

}  // namespace DataFormats
