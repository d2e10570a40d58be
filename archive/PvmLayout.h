// The byte layout of a PVM archive, in one place for the reader, the writer and every tool
// that builds an archive.
//
//   offset  size  field
//   0       4     "PVMH"
//   4       4     H, int32: header bytes after this field; the first chunk is at H + 8
//   8       2     attribute word: which fields each entry holds (below)
//   10      2     N, int16: number of entries
//   12      per entry, NameStep bytes apart: index (u16), name (28 bytes, NUL-padded
//                 Windows-1252), then bytes the editor carries unchanged
//   H + 8         N PVR chunks (texture/PvrChunk.h), each found from the one before it by
//                 NextChunkOffset; where a "GBIX" or "GCIX" chunk is found instead, the PVR
//                 chunk is the one that index chunk leads to (PvrFileLayout.h)
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

// Attribute bits: the fields an entry holds after its 2-byte index.
inline constexpr uint16_t kHasName = 0x8;         // the 28-byte name
inline constexpr uint16_t kHasFormats = 0x4;      // 2 format bytes
inline constexpr uint16_t kHasSize = 0x2;         // 2 size bytes
inline constexpr uint16_t kHasGlobalIndex = 0x1;  // a 4-byte global index

// Bytes from one entry to the next. When the attribute word says entries hold names and
// the whole table of N entries of that size fits in the header (H + 8 bytes), the entries
// are as long as the fields it lists. Otherwise the fixed step the editor always used, so
// archives laid out for it read as before: 38 bytes, but 34 with two entries. That step
// alone would misplace the second name of real two-entry archives, whose attribute word
// describes 38-byte entries.
size_t NameStep(const Header& header);

// Where the fields of an entry lie, counted from the entry's first byte (its index field);
// 0 for a field the entries do not hold. The table is described by the attribute word only
// when NameStep takes its size from it.
struct EntryFields {
  size_t globalIndexAt = 0;
};
EntryFields FieldsOf(const Header& header);

// Where the name field of entry k (1..N) begins; its index field is the 2 bytes before.
size_t NameOffset(const Header& header, int64_t k);

// The header bytes the entry table needs: up to the end of the last name field (12 for no
// entries).
int64_t NamesEnd(const Header& header);

// Where the reader looks for the chunk after the one at offset o with length field L. The
// remainder takes the dividend's sign, as the archives' own tools computed it. For a chunk
// ending on a 16-byte boundary this is its end, whether L counts the bytes after the length
// field or the whole chunk.
int64_t NextChunkOffset(int64_t o, int32_t L);

}  // namespace PvmLayout
