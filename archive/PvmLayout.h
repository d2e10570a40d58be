// The byte layout of a PVM archive, in one place for the reader, the writer and every tool
// that builds an archive.
//
//   offset  size  field
//   0       4     "PVMH"
//   4       4     H, int32: header bytes after this field; the first chunk is at H + 8
//   8       2     attribute word (carried, never interpreted)
//   10      2     N, int16: number of entries
//   12      per entry, NameStep(N) bytes apart: index (u16), name (28 bytes, NUL-padded
//                 Windows-1252), then bytes the editor carries unchanged
//   H + 8         N PVR chunks (texture/PvrChunk.h), each found from the one before it by
//                 NextChunkOffset
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace PvmLayout {

inline constexpr char kMagic[] = "PVMH";
inline constexpr size_t kFixedHeaderSize = 12;  // magic, H, attribute word, N
inline constexpr size_t kFirstEntryAt = 12;
inline constexpr size_t kNameFieldSize = 28;
// H counts the bytes after its own field; the header chunk is H + this many bytes.
inline constexpr int64_t kHeaderLengthBase = 8;

// The fields of the fixed header.
struct Header {
  int32_t headerLength = 0;  // H
  uint16_t attributes = 0;
  int16_t count = 0;         // N
};

// Reads the fixed header's fields (bytes 4 to 11; the magic is the caller's to check).
// False when bytes holds fewer than 12 bytes.
bool ReadHeader(std::span<const uint8_t> bytes, Header& header);

// Appends the 12 bytes of the fixed header.
void WriteHeader(const Header& header, std::vector<uint8_t>& out);

// Bytes from one entry to the next; two-entry archives pack them closer.
size_t NameStep(int64_t count);

// Where the name field of entry k (1..count) begins; its index field is the 2 bytes before.
size_t NameOffset(int64_t count, int64_t k);

// The header bytes the entry table needs: up to the end of the last name field (12 for no
// entries).
int64_t NamesEnd(int64_t count);

// Where the reader looks for the chunk after the one at offset o with length field L. The
// remainder takes the dividend's sign, as the archives' own tools computed it. For a chunk
// ending on a 16-byte boundary this is its end, whether L counts the bytes after the length
// field or the whole chunk.
int64_t NextChunkOffset(int64_t o, int32_t L);

}  // namespace PvmLayout
