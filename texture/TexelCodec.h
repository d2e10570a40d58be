// The texel conversions behind decoding and encoding: 16-bit texels to and from rows of
// 32-bit pixels, row by row, and for square twiddled textures tile by tile straight
// between data order and twiddled position (no reordering pass over the picture). These
// are the editor's hot paths. Plain loops that any processor runs give the bytes; on x86
// processors with SSSE3, AVX2 or AVX-512 VBMI (TexelCodecX86.cpp) the same bytes come 8 or
// 16 texels a step, by the widest unit the processor offers, chosen at run time.
//
// A picture is rows of pixels going down, `stride` bytes apart (4 x width for a whole
// picture; more for a part of a wider one), pixel x of a row at byte 4x: red, green, blue,
// alpha.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// Channel masks and power-of-two factors of one 16-bit pixel format.
struct PixelFormatInfo {
  int32_t AMask, RMask, GMask, BMask;
  int32_t ADiv, RDiv, GDiv, BMul;
};

namespace TexelCodec {

// How the texels of a pixel format become pixels.
enum class Texels : uint8_t {
  Fields,    // each texel alone, by its row of kPixelFormats below
  YuvPairs,  // two texels of a row together (x even and x + 1), the bytes U, Y0, V, Y1
  BumpMap,   // each texel alone: an angle and an elevation, shown as a normal; not encoded
};

// One row per pixel-format code. Channels are shifted, not bit-replicated: decoding divides
// (or, for blue, multiplies) the masked bits so they land at the top of an 8-bit value, and
// encoding takes those top bits back, which makes decode then encode exact. The rows of the
// formats whose texels are not fields are empty.
inline constexpr std::array<PixelFormatInfo, 6> kPixelFormats{{
    // AMask   RMask   GMask   BMask   ADiv     RDiv    GDiv    BMul
    {0x8000, 0x7C00, 0x03E0, 0x001F, 1 << 15, 1 << 7, 1 << 2, 1 << 3},  // 0: ARGB 1-5-5-5
    {0x0000, 0xF800, 0x07E0, 0x001F, 1, 1 << 8, 1 << 3, 1 << 3},        // 1: RGB 5-6-5
    {0xF000, 0x0F00, 0x00F0, 0x000F, 1 << 12, 1 << 4, 1, 1 << 4},       // 2: ARGB 4-4-4-4
    {},                                                                  // 3: YUV 4:2:2
    {},                                                                  // 4: bump map
    {0x0000, 0x7C00, 0x03E0, 0x001F, 1, 1 << 7, 1 << 2, 1 << 3},        // 5: RGB 5-5-5, bit 15 ignored
}};

inline constexpr std::array<Texels, 6> kTexels{Texels::Fields,   Texels::Fields,  Texels::Fields,
                                               Texels::YuvPairs, Texels::BumpMap, Texels::Fields};

// The factor by which decoding stretches an alpha field to 8 bits and encoding shrinks it
// back, per pixel-format code. 5-6-5 and 5-5-5 have no alpha bits: their pixels decode
// opaque (alpha 255) and encoding ignores alpha, as do YUV and bump maps.
inline constexpr std::array<int32_t, 6> kAlphaScale{255, 1, 16, 1, 1, 1};

// YUV 4:2:2 converts by full-range BT.601, each channel rounded to the nearest integer (a
// half up) and clamped to 0..255:
//   R = Y + 1.402 (V - 128)
//   G = Y - 0.344136 (U - 128) - 0.714136 (V - 128)
//   B = Y + 1.772 (U - 128)
// and encodes by the exact inverse, Y = 0.299 R + 0.587 G + 0.114 B per pixel, U and V
// averaged over the pair. Editors differ from one another by one to three levels here; this
// one works the formula out in integers, exactly, so every path and every machine agrees.
//
// A bump-map texel holds the rotation angle R in its low byte (0..255 for 0..2 pi) and the
// elevation S in its high byte (255 straight out). It is shown as a normal map, rounded to
// the nearest level: theta = (1 - S / 255) pi / 2, phi = R / 255 * 2 pi,
//   RGB = ((sin theta cos phi + 1) / 2, (sin theta sin phi + 1) / 2, (cos theta + 1) / 2) 255.

// Every function takes a pixel-format code below kPixelFormats.size(); the caller checks
// (a code outside the table converts nothing).

// One pixel as 8-bit channels.
struct Rgba {
  uint8_t r = 0, g = 0, b = 0, a = 0;
  bool operator==(const Rgba&) const = default;
};

// One texel to its 8-bit channels and back, by the same rule as the row and tile passes
// below: decoding shifts each field to the top of its byte, encoding keeps the top bits. A
// YUV texel alone decodes as MissingPixel; one pixel alone encodes as the first texel of a
// pair of itself (U, Y).
Rgba DecodeTexel(int pixelFormat, uint16_t texel);
uint16_t EncodeTexel(int pixelFormat, Rgba pixel);

// What a pixel shows where the data holds no texel for it: black, alpha 0 where the format
// has alpha bits and 255 elsewhere. For the formats of fields, that is a zero texel.
Rgba MissingPixel(int pixelFormat);

// Whether the codec writes texels of the pixel format (all but bump maps).
bool Encodes(int pixelFormat);

// Decodes `rows` rows of `columns` texels, one row after the other in the data, into
// pixels 0 .. columns - 1 of picture rows that start at `rgba` and go down the picture
// `stride` bytes apart. YUV pairs are texels 2j and 2j + 1 of a row; a last texel without
// its pair (an odd count) shows as MissingPixel. The same holds for encoding.
void DecodeRows(int pixelFormat, const uint8_t* texels, size_t columns, size_t rows,
                uint8_t* rgba, size_t stride);

// Encodes pixels 0 .. columns - 1 of `rows` picture rows (laid out as for DecodeRows) into
// texels, low byte first, each row's texels `texelRowBytes` after the last row's.
void EncodeRows(int pixelFormat, const uint8_t* rgba, size_t stride, size_t columns,
                size_t rows, uint8_t* texels, size_t texelRowBytes);

// Decodes the first `count` texels (at most side x side) of a square twiddled texture into
// side x side pixels, side a power of two: texel k lands on the pixel whose twiddle index is
// k (bit 2i of the index is bit i of the row from the top, bit 2i + 1 is bit i of the
// column). Pixels of texels past `count` get MissingPixel; so do both pixels of a YUV pair
// (twiddle indexes k and k + 2, x even and x + 1) of which one texel is past it. Every
// pixel of the square is written.
void DecodeTwiddled(int pixelFormat, const uint8_t* texels, size_t count, uint8_t* rgba,
                    size_t stride, size_t side);

// Encodes side x side pixels into texels in twiddled order, the exact inverse of
// DecodeTwiddled. The picture is only read.
void EncodeTwiddled(int pixelFormat, const uint8_t* rgba, size_t stride, size_t side,
                    uint8_t* texels);

// Places the 2 x 2 blocks of a side x side VQ picture (side a power of two, 8 and up):
// block (x, y) takes entry indices[k] of `entries`, k its twiddle index, or entry 256 where
// k is `held` or more. `entries` holds 257 entries of 16 bytes: the block's top row (two
// pixels, left first), then its bottom row. Every pixel is written.
void PlaceVqBlocks(const uint8_t* entries, const uint8_t* indices, size_t held, size_t side,
                   uint8_t* rgba);

// ---- Mip levels ----------------------------------------------------------------------------
//
// Each smaller level of a mipmapped texture is the level above it halved: every channel of a
// pixel, alpha included, is (a + b + c + d + 2) >> 2 of the 2 x 2 pixels it covers, worked
// out from 8-bit values, never from texels. The halved levels are held as pictures in
// twiddled order: pixel k (red, green, blue, alpha) at byte 4k is the pixel whose twiddle
// index is k. In that order a level's texels are its pixels read straight through, and the
// 2 x 2 pixels under a pixel of the next level are four consecutive pixels (top-left,
// bottom-left, top-right, bottom-right, as a VQ block), so each level is encoded and halved
// in one pass over it. A format without alpha bits ignores the alpha those levels carry.

// EncodeTwiddled, and the same side x side pixels halved into (side / 2)^2 pixels in
// twiddled order at `half`. side >= 2.
void EncodeTwiddledHalving(int pixelFormat, const uint8_t* rgba, size_t stride, size_t side,
                           uint8_t* texels, uint8_t* half);

// Encodes `pixels` pixels in twiddled order into as many texels and, unless `half` is null,
// halves them into pixels / 4 pixels there.
void EncodeTwiddledLevel(int pixelFormat, const uint8_t* level, size_t pixels, uint8_t* texels,
                         uint8_t* half);

// EncodeTwiddledHalving, then EncodeTwiddledLevel of the half into `halfTexels` and its own
// half, (side / 4)^2 pixels in twiddled order, at `quarter`: two levels encoded and a third
// made in one call, which a path may do in one pass without writing the half out. `half`,
// (side / 2)^2 pixels, is scratch for a path that does write it. side >= 4.
void EncodeTwiddledQuartering(int pixelFormat, const uint8_t* rgba, size_t stride, size_t side,
                              uint8_t* texels, uint8_t* half, uint8_t* halfTexels, uint8_t* quarter);

// The halving alone, for levels that are not encoded texel by texel: side x side picture
// pixels into (side / 2)^2 pixels in twiddled order, or `pixels` pixels in twiddled order
// into a quarter as many.
void HalvePicture(const uint8_t* rgba, size_t stride, size_t side, uint8_t* half);
void HalveTwiddled(const uint8_t* level, size_t pixels, uint8_t* half);

// The ways through the conversions, narrowest first.
enum class Path { Plain, Ssse3, Avx2, Avx512Vbmi };  // the last with VBMI2 and VNNI as well

// For tests: the widest path the calls may take (the default is the widest); a path the
// processor lacks is never taken. Returns the setting it replaces.
Path LimitPath(Path widest);

// The widest path the processor offers.
Path WidestPathAvailable();

}  // namespace TexelCodec
