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
inline constexpr uint8_t kPixelFormatCount = 3;  // formats from here on have no codec

// Data formats (texel orders); DataFormats.h lays out the bytes of each.
inline constexpr uint8_t kTwiddled = 1;                // square, power-of-two side, Morton order
inline constexpr uint8_t kTwiddledMipmaps = 2;         // twiddled levels, 1 x 1 in 4 bytes
inline constexpr uint8_t kVq = 3;                      // 256-entry codebook of 2 x 2 blocks
inline constexpr uint8_t kVqMipmaps = 4;               // VQ index levels under one codebook
inline constexpr uint8_t kRectangle = 9;               // row by row, top row first
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
