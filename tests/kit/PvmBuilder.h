// Assembles PVM archives and PVR chunks byte by byte, from parts a reader can check against
// the layouts in archive/PvmLayout.h and texture/PvrChunk.h.
//
// PvmHeader and PvrChunk validate nothing: a malformed archive is built by giving the wrong
// number on purpose (a length, a count) or by cutting the bytes. Example:
//
//   using namespace archive_builder;
//   Bytes pvm = Join({PvmHeader{.names = {"grass", "rock"}}.Build(),
//                     PvrChunk{.width = 4, .height = 4, .data = Pattern(32, 1)}.Build(),
//                     PvrChunk{.width = 4, .height = 4, .data = Pattern(32, 2)}.Build()});
//
// BuildArchive lays whole entries out as the game's files are, for archives that must be
// right: the sample archive, and tests that need one on disk.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "texture/UnzeroedBytes.h"

namespace archive_builder {

using Bytes = std::vector<uint8_t>;

// Overwrites a little-endian field in bytes already built (to break an archive on purpose).
void SetU16At(Bytes& b, size_t at, uint16_t v);
void SetI32At(Bytes& b, size_t at, int32_t v);

// size bytes counting up from seed (wrapping), so every chunk's data is recognisable.
Bytes Pattern(size_t size, uint8_t seed);

Bytes Join(std::initializer_list<Bytes> parts);

// The same bytes as a texture holds its data.
inline UnzeroedBytes TexelData(const Bytes& b) { return {b.begin(), b.end()}; }

struct PvmHeader {
  // Each name goes in a 28-byte field, padded with NULs; a name of exactly 28 bytes has no
  // NUL. Bytes are written as given (Windows-1252 in real archives).
  std::vector<std::string> names = {};
  // H. By default the smallest that holds every name field 38 bytes apart (34 for two
  // entries) and puts the first chunk on a 16-byte boundary. The names go where the reader
  // looks for them in the header built, by the attribute word when the table fits.
  std::optional<int32_t> headerLength = std::nullopt;
  // N. By default the number of names; the names are placed for names.size() entries
  // whatever N says.
  std::optional<int16_t> count = std::nullopt;
  uint16_t attributes = 0x000F;
  // Each entry's index field (the 2 bytes before its name) holds its index from 0; false
  // leaves it as filler.
  bool indexes = false;
  // Bytes that are neither a field nor a name (the rest of each entry, padding) hold
  // filler + their offset, so tests see them carried unchanged.
  uint8_t filler = 0xA0;
  bool zeroFiller = false;  // zeros instead

  // The header chunk, H + 8 bytes (at least the 12 of the fixed header).
  Bytes Build() const;
};

struct PvrChunk {
  std::string magic = "PVRT";  // four bytes
  // L. By default 8 + the data bytes (the length counts what follows the field).
  std::optional<int32_t> length = std::nullopt;
  uint8_t pFormat = 1;
  uint8_t eFormat = 9;
  uint16_t reserved = 0;
  int16_t width = 0;
  int16_t height = 0;
  Bytes data = {};

  // The chunk, 16 + data bytes, whatever length field it was given.
  Bytes Build() const;
};

// The chunk a standalone .pvr file may start with, and an archive's texture chunk may come
// after: magic, G, then the global index and 4 zero bytes of padding whatever G says.
Bytes IndexChunk(uint32_t length = 8, const std::string& magic = "GBIX", uint32_t globalIndex = 0);

// A whole entry of a well-formed archive.
struct Entry {
  std::string name;       // at most 27 bytes, so its field keeps a NUL
  uint8_t pFormat = 0;
  uint8_t eFormat = 9;
  uint16_t width = 0;
  uint16_t height = 0;
  std::vector<uint8_t> data;  // texel n at bytes 2n (low) and 2n + 1 (high)
  // When set, a 16-byte GBIX chunk holding it comes before the entry's chunk.
  std::optional<uint32_t> globalIndex = std::nullopt;
};

// An archive as the game's tools lay one out: attribute word 0, entries of index and name
// with zeros up to the step, the header padded so the first chunk starts on 16 bytes, each
// chunk followed by zeros up to where the reader looks for the next. Throws
// std::invalid_argument for a name that does not fit or a chunk that ends where a reader
// cannot find the next one (only the last chunk may end off a 16-byte boundary).
Bytes BuildArchive(const std::vector<Entry>& entries);

}  // namespace archive_builder
