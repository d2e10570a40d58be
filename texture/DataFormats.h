// The data formats of a PVR chunk: where a texture's texels, codebook and index levels lie in
// its data bytes, decoding the main level into a picture, and encoding a picture back with
// every mip level and, for VQ formats, a codebook of its own.
//
// A picture is width x height pixels of 4 bytes (red, green, blue, alpha), top row first,
// rows tightly packed: pixel (x, y) at byte 4 (width y + x). Pixel formats are TexelCodec's
// (0 to 5: ARGB1555, RGB565, ARGB4444, YUV422, bump map, RGB555); others are not handled.
//
// Data bytes by data format (W x H the texture's size; "twiddled" is square, power-of-two
// side, texel k at the pixel whose twiddle index is k):
//
//   format  layout                                   main level starts at
//   9, 10   rectangle, rows top first                0
//   11, 12  rectangle whose width is its stride: a   0
//           multiple of 32, from 32 to 992
//   14      32-bit raster, rows top first, 4 bytes   0
//           a texel: A, B, G, R (whatever the
//           pixel-format byte says)
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
//
// Texels by pixel format, in every 16-bit layout above:
//
//   pixel format   texels (low byte first)                 give
//   0, 1, 2, 5     one: bit fields (TexelCodec::kPixelFormats)  one pixel
//   3 YUV422       two: U Y0, then V Y1                     pixels (x, y) and (x + 1, y), x even
//   4 bump map     one: angle, then elevation               one pixel, a normal, opaque
//
// The two texels of a YUV pair follow each other in a rectangle; twiddled they sit at twiddle
// indexes k and k + 2, the places of (x, y) and (x + 1, y); in a VQ entry they are texels 0
// and 2 (top row), then 1 and 3 (bottom row).
//
// YUV422 converts by full-range BT.601 worked out in integers (TexelCodec.h); other editors
// differ among themselves by one to three levels. A YUV422 texture must have an even width:
// one of odd width is not decoded (it shows black) and not encoded. The pairs of a mipmapped
// level come from the level as averaged in RGB; the 1 x 1 level is the pair of its pixel and
// itself (U Y V Y), in every 4 bytes of its space. A pair the data does not hold whole shows
// black. YUV422 VQ textures are decoded but not encoded: a codebook entry would pair its
// texels, which the quantiser does not. Bump maps are decoded, never encoded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

struct BankColours;

namespace DataFormats {

enum class Kind : uint8_t {
  Unhandled,            // shown black, carried unchanged, never encoded
  Rectangle,            // 9, 10, and 11 and 12 of their widths
  Raster,               // 14, 4 bytes a texel
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
// non-power-of-two sides where the layout needs them, VQ sides outside 8 to 1024, stride
// widths other than 32, 64, .. 992 and sides below 1 give Kind::Unhandled.
Layout LayoutOf(int dataFormat, int width, int height);

// Whether the codec decodes texels of the pixel format in the layout: a handled layout, a
// pixel format it knows (any for the 32-bit raster), and an even width for YUV422.
bool Decodes(const Layout& layout, int pixelFormat);
// Whether it encodes them too: it decodes them, the pixel format is not a bump map, and
// YUV422 is not in VQ.
bool Encodes(const Layout& layout, int pixelFormat);
// Whether encoding what the main level decodes to gives its bytes back, so that an import
// of the same picture needs no comparison first: plain texels (no mip levels, no codebook)
// whose bit fields fill all 16 bits, and the 32-bit raster.
bool EncodesExactly(const Layout& layout, int pixelFormat);

// The bytes mip level `level` (below layout.levels) takes. For the mipmapped 1 x 1 level this
// is its whole space, of which the texel (or index) sits in the last slot.
ByteRange LevelRange(const Layout& layout, size_t level);

// Decodes the main level of `data` into `rgba`, a picture of layout.width x layout.height
// pixels. Every pixel is written: texels or indices the data does not hold, blocks whose
// index is beyond the codebook's entries and texels of entries the data does not hold
// decode as a zero texel does, black with alpha 0 (alpha 255 for a format without alpha
// bits, which decodes opaque throughout). Nothing outside `data` is read, whatever its
// length. False, writing nothing, where Decodes is false.
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
// kept. False, changing nothing, where Encodes is false or the data is shorter than
// layout.End(). The same picture always gives the same bytes.
//
// Indexed layouts map every pixel to the nearest held colour of `colours`, which must have
// the layout's index bits; false without them.
bool Encode(const Layout& layout, int pixelFormat, const uint8_t* rgba, std::span<uint8_t> data,
            const BankColours* colours = nullptr);

// Whether the picture, taken to the pixel format's precision, is exactly what the main level
// of `data` decodes to (alpha counted only where the format keeps it). An import of such a
// picture has nothing to change. For YUV422 and bump maps, whose texels are not one pixel
// each, the picture's colours must be exactly those decoded. False where Decodes is false.
// Indexed layouts compare at the precision of the colour format of `colours`; false without
// them.
bool DecodesTo(const Layout& layout, int pixelFormat, std::span<const uint8_t> data,
               const uint8_t* rgba, const BankColours* colours = nullptr);

}  // namespace DataFormats
