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

// One row per pixel-format code. Channels are shifted, not bit-replicated: decoding divides
// (or, for blue, multiplies) the masked bits so they land at the top of an 8-bit value, and
// encoding takes those top bits back, which makes decode then encode exact.
inline constexpr std::array<PixelFormatInfo, 3> kPixelFormats{{
    // AMask   RMask   GMask   BMask   ADiv     RDiv    GDiv    BMul
    {0x8000, 0x7C00, 0x03E0, 0x001F, 1 << 15, 1 << 7, 1 << 2, 1 << 3},  // 0: ARGB 1-5-5-5
    {0x0000, 0xF800, 0x07E0, 0x001F, 1, 1 << 8, 1 << 3, 1 << 3},        // 1: RGB 5-6-5
    {0xF000, 0x0F00, 0x00F0, 0x000F, 1 << 12, 1 << 4, 1, 1 << 4},       // 2: ARGB 4-4-4-4
}};

// The factor by which decoding stretches an alpha field to 8 bits and encoding shrinks it
// back, per pixel-format code. 5-6-5 has no alpha bits: its pixels decode opaque (alpha
// 255) and encoding ignores alpha.
inline constexpr std::array<int32_t, 3> kAlphaScale{255, 1, 16};

// Every function takes a pixel-format code below kPixelFormats.size(); the caller checks
// (a code outside the table converts nothing).

// One pixel as 8-bit channels.
struct Rgba {
  uint8_t r = 0, g = 0, b = 0, a = 0;
  bool operator==(const Rgba&) const = default;
};

// One texel to its 8-bit channels and back, by the same rule as the row and tile passes
// below: decoding shifts each field to the top of its byte, encoding keeps the top bits.
Rgba DecodeTexel(int pixelFormat, uint16_t texel);
uint16_t EncodeTexel(int pixelFormat, Rgba pixel);

// Decodes `rows` rows of `columns` texels, one row after the other in the data, into
// pixels 0 .. columns - 1 of picture rows that start at `rgba` and go down the picture
// `stride` bytes apart.
void DecodeRows(int pixelFormat, const uint8_t* texels, size_t columns, size_t rows,
                uint8_t* rgba, size_t stride);

// Encodes pixels 0 .. columns - 1 of `rows` picture rows (laid out as for DecodeRows) into
// texels, low byte first, each row's texels `texelRowBytes` after the last row's.
void EncodeRows(int pixelFormat, const uint8_t* rgba, size_t stride, size_t columns,
                size_t rows, uint8_t* texels, size_t texelRowBytes);

// Decodes the first `count` texels (at most side x side) of a square twiddled texture into
// side x side pixels, side a power of two: texel k lands on the pixel whose twiddle index is
// k (bit 2i of the index is bit i of the row from the top, bit 2i + 1 is bit i of the
// column). Pixels of texels past `count` get what a zero texel decodes to: black, with
// alpha 0, or 255 for a format without alpha bits. Every pixel of the square is written.
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

// The halving alone, for levels that are not encoded texel by texel: side x side picture
// pixels into (side / 2)^2 pixels in twiddled order, or `pixels` pixels in twiddled order
// into a quarter as many.
void HalvePicture(const uint8_t* rgba, size_t stride, size_t side, uint8_t* half);
void HalveTwiddled(const uint8_t* level, size_t pixels, uint8_t* half);

// The ways through the conversions, narrowest first.
enum class Path { Plain, Ssse3, Avx2, Avx512Vbmi };  // the last with VNNI as well

// For tests: the widest path the calls may take (the default is the widest); a path the
// processor lacks is never taken. Returns the setting it replaces.
Path LimitPath(Path widest);

// The widest path the processor offers.
Path WidestPathAvailable();

}  // namespace TexelCodec
