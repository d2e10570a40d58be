// The codes a texture's chunk header holds, and the header's fixed sizes. Texture.h holds
// the header's fields and lays them out.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace PvrFormat {

inline constexpr uint8_t kARGB1555 = 0;
inline constexpr uint8_t kRGB565 = 1;
inline constexpr uint8_t kARGB4444 = 2;
inline constexpr uint8_t kYUV422 = 3;   // pairs of texels: U Y0, V Y1
inline constexpr uint8_t kBumpMap = 4;  // angle and elevation; decoded, never encoded
inline constexpr uint8_t kRGB555 = 5;   // ARGB1555 without its alpha bit
inline constexpr uint8_t kPixelFormatCount = 6;  // formats from here on have no codec

// Data formats (texel orders); DataFormats.h lays out the bytes of each.
inline constexpr uint8_t kTwiddled = 1;                // square, power-of-two side, Morton order
inline constexpr uint8_t kTwiddledMipmaps = 2;         // twiddled levels, 1 x 1 in 4 bytes
inline constexpr uint8_t kVq = 3;                      // 256-entry codebook of 2 x 2 blocks
inline constexpr uint8_t kVqMipmaps = 4;               // VQ index levels under one codebook
inline constexpr uint8_t kRectangle = 9;               // row by row, top row first
inline constexpr uint8_t kRectangle10 = 10;            // the same as 9
inline constexpr uint8_t kStride = 11;                 // rectangle, width a multiple of 32
inline constexpr uint8_t kStride12 = 12;               // the same as 11
inline constexpr uint8_t kRaster32 = 14;               // 4 bytes a texel: A B G R
inline constexpr uint8_t kRectangularTwiddled = 13;    // twiddled squares along the longer side
inline constexpr uint8_t kSmallVq = 16;                // VQ, codebook sized by the side
inline constexpr uint8_t kSmallVqMipmaps = 17;         // VQ with mipmaps, codebook by the side
inline constexpr uint8_t kTwiddledMipmapsWide1x1 = 18; // as 2, 1 x 1 in 8 bytes

}  // namespace PvrFormat

namespace PvrChunkLayout {

inline constexpr size_t kHeaderSize = 16;
inline constexpr std::array<char, 4> kMagic{'P', 'V', 'R', 'T'};
// The length field counts the bytes after itself: 8 header bytes, then the data.
inline constexpr int32_t kLengthBase = 8;

}  // namespace PvrChunkLayout
