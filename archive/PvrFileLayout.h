// The byte layout of a standalone .pvr file: one texture's PVR chunk, optionally after a
// chunk that holds the texture's global index. Inside a PVM archive (PvmLayout.h) any
// texture's chunk may have the same index chunk before it, at the offsets below counted from
// where the index chunk starts.
//
//   offset  size  field
//   0       4     "GBIX" or "GCIX" (the index chunk; absent when the file starts "PVRT")
//   4       4     G, uint32: bytes after this field (8 in the files seen: the index and
//                 4 bytes of padding)
//   8       G     the global index, carried unchanged
//   8 + G         the PVR chunk (texture/PvrChunk.h), magic "PVRT"; 0 without the index chunk
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace PvrFileLayout {

inline constexpr size_t kIndexChunkFixedSize = 8;  // magic, G

enum class Start {
  NotPvr,      // neither magic: not a .pvr file
  Chunk,       // "PVRT": the chunk is at 0
  IndexChunk,  // "GBIX" or "GCIX": the chunk is at 8 + G
};

// What the first bytes of a file say it is.
Start Recognise(std::span<const uint8_t> first);

// The magic of the file's first chunk as text ("GBIX"), for messages; needs 4 bytes.
std::string FirstMagic(std::span<const uint8_t> first);

// Whether the 4 bytes hold "GBIX" or "GCIX".
bool IsIndexChunkMagic(std::span<const uint8_t> four);

// Where the PVR chunk after an index chunk is said to begin, counted from the index chunk's
// first byte: 8 + G, read from the index chunk's first 8 bytes. False when there are fewer.
bool IndexedChunkOffset(std::span<const uint8_t> indexChunk, int64_t& offset);

// Whether the 4 bytes hold "PVRT".
bool IsChunkMagic(std::span<const uint8_t> four);

}  // namespace PvrFileLayout
