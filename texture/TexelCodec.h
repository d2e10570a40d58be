// The texel conversions behind decoding and encoding: 16-bit texels to and from the 24-bit
// rows of a texture's surfaces, row by row, and for square twiddled textures tile by tile
// straight between data order and twiddled position (no reordering pass over the
// surfaces). These are the editor's hot paths. Plain loops that any processor runs give
// the bytes; on x86 processors with byte shuffles (SSSE3, AVX2, AVX-512 VBMI, in
// TexelCodecX86.cpp) the same bytes come 16 or 32 texels a step, by the widest unit the
// processor offers, chosen at run time.
//
// Surfaces are as the texture object holds them: rows bottom-up, `stride` bytes apart,
// pixel x of a row at byte 3x (blue, green, red). A pixel's alpha is the red byte of the
// mask surface at the same offset; a null mask means alpha takes no part.
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
// back, per pixel-format code; 5-6-5 has no alpha bits, so its alpha is always 0.
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
// pixels 0 .. columns - 1 of surface rows that start at imageRow and maskRow and go down
// the picture `pitch` bytes apart (negative for bottom-up surfaces). The rows must be
// black, as a surface just built is: the colour bytes and the mask's alpha are written,
// and the mask's blue and green bytes may be written with the zeros they hold.
void DecodeRows(int pixelFormat, const uint8_t* texels, size_t columns, size_t rows,
                uint8_t* imageRow, uint8_t* maskRow, ptrdiff_t pitch);

// Encodes pixels 0 .. columns - 1 of `rows` surface rows (laid out as for DecodeRows) into
// texels, low byte first, each row's texels `texelRowBytes` after the last row's. Without a
// mask every texel gets alpha 0.
void EncodeRows(int pixelFormat, const uint8_t* imageRow, const uint8_t* maskRow,
                ptrdiff_t pitch, size_t columns, size_t rows, uint8_t* texels,
                size_t texelRowBytes);

// Decodes the first `count` texels (at most side x side) of a square twiddled texture into
// black surfaces of side x side pixels, side a power of two: texel k lands on the pixel whose
// twiddle index is k (bit 2i of the index is bit i of the row from the top, bit 2i + 1 is
// bit i of the column). Pixels of texels past `count` stay black.
void DecodeTwiddled(int pixelFormat, const uint8_t* texels, size_t count, uint8_t* image,
                    uint8_t* mask, size_t stride, size_t side);

// Encodes side x side pixels into texels in twiddled order, the exact inverse of
// DecodeTwiddled. The surfaces are only read.
void EncodeTwiddled(int pixelFormat, const uint8_t* image, const uint8_t* mask, size_t stride,
                    size_t side, uint8_t* texels);

// ---- Mip levels ----------------------------------------------------------------------------
//
// Each smaller level of a mipmapped texture is the level above it halved: every channel of a
// pixel, alpha included, is (a + b + c + d + 2) >> 2 of the 2 x 2 pixels it covers, worked
// out from 8-bit values, never from texels. The halved levels are held as channel planes in
// twiddled order: a picture of n pixels is n bytes of blue, then n of green, n of red and n
// of alpha, byte k of each the pixel with twiddle index k. In that order a level's texels
// are its planes read straight through, and the 2 x 2 pixels under a pixel of the next level
// are four consecutive bytes, so each level is encoded and halved in one pass over it.
// Alpha planes are written and read only when the pixel format has alpha bits and the
// picture has a mask (`alpha`); otherwise the texels' alpha is 0 and the planes' bytes are
// left as they are.

// EncodeTwiddled, and the same side x side pixels halved into the planes at `half`, whose
// planes are `plane` bytes apart: pixels 0 .. (side / 2)^2 - 1 of each. side >= 2.
void EncodeTwiddledHalving(int pixelFormat, const uint8_t* image, const uint8_t* mask,
                           size_t stride, size_t side, uint8_t* texels, uint8_t* half,
                           size_t plane);

// Encodes a twiddled square held as planes of `pixels` pixels into as many texels in
// twiddled order and, unless `half` is null, halves it into planes of pixels / 4 there.
void EncodePlanes(int pixelFormat, const uint8_t* planes, size_t pixels, bool alpha,
                  uint8_t* texels, uint8_t* half);

// The halving alone, for levels that are not encoded texel by texel: side x side surface
// pixels into planes (side / 2)^2 bytes apart, or a picture held as planes into planes of a
// quarter of its pixels.
void HalveSurfaces(const uint8_t* image, const uint8_t* mask, size_t stride, size_t side,
                   uint8_t* half);
void HalvePlanes(const uint8_t* planes, size_t pixels, uint8_t* half);

// The ways through the conversions, narrowest first.
enum class Path { Plain, Ssse3, Avx2, Avx512Vbmi };  // the last with VNNI as well

// For tests: the widest path the calls may take (the default is the widest); a path the
// processor lacks is never taken. Returns the setting it replaces.
Path LimitPath(Path widest);

// The widest path the processor offers.
Path WidestPathAvailable();

}  // namespace TexelCodec
