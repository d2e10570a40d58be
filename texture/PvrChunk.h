// A PVR chunk: the 16-byte header the archive stores before each texture's data, and the
// rule of which chunks the codec reads and writes.
//
//   offset  size  field
//   0       4     magic ("PVRT"; another is carried, and written back as "PVRT")
//   4       4     L, int32: 8 + the number of data bytes
//   8       1     pixel format
//   9       1     data format (texel order)
//   10      2     reserved (written back as 0)
//   12      2     width, int16
//   14      2     height, int16
//   16      L - 8 data bytes; texel n is bytes 2n (low) and 2n + 1 (high)
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

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

// A PVR chunk as the archive holds it. Data holds Length - 8 bytes once loaded from an archive.
struct PVRChunk {
  std::array<char, 4> Magic{};  // "PVRT" once a chunk has been stored
  int32_t Length = 0;           // 8 + the number of data bytes
  uint8_t pFormat = 0;          // see PvrFormat
  uint8_t eFormat = 0;          // see PvrFormat; others carried unchanged
  int16_t Reserved = 0;
  int16_t Width = 0;
  int16_t Height = 0;
  std::vector<uint8_t> Data;    // texel n is bytes 2n (low) and 2n + 1 (high)
};

namespace PvrChunkLayout {

inline constexpr size_t kHeaderSize = 16;
inline constexpr std::array<char, 4> kMagic{'P', 'V', 'R', 'T'};
// L counts the bytes after the length field: 8 header bytes, then the data.
inline constexpr int32_t kLengthBase = 8;

// Reads the header fields (everything but Data) from the first 16 bytes; false, changing
// nothing, when there are fewer.
bool ReadHeader(std::span<const uint8_t> bytes, PVRChunk& chunk);

// Appends the 16 header bytes the writer stores for the chunk: magic "PVRT" and reserved 0
// whatever the chunk holds.
void WriteHeader(const PVRChunk& chunk, std::vector<uint8_t>& out);

// Whether the codec decodes the chunk's texels: a pixel format it knows and a data format
// whose layout holds the chunk's size (DataFormats::LayoutOf). Other chunks decode black.
bool Decodes(const PVRChunk& chunk);

// The data bytes the whole layout of a chunk the codec decodes takes (every level, codebook
// and index); 0 for other chunks.
size_t DataBytesNeeded(const PVRChunk& chunk);

// Whether the codec encodes into the chunk: it decodes it and the data holds the whole
// layout. Other chunks are left as they are.
bool Encodes(const PVRChunk& chunk);

}  // namespace PvrChunkLayout
