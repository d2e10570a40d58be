// A PVM archive, or a standalone .pvr file taken as an archive of one entry, held as a value:
// its entries, 0-based, each with its name, global index and texture, and everything else the
// file held, so that it is written back exactly. Nothing here is global: any number of
// archives can be open at once, and nothing here shows a message; what goes wrong comes back
// as an Error in the words the editor shows.
//
// Byte layouts: PvmLayout.h (archives), PvrFileLayout.h (.pvr files and index chunks),
// texture/Texture.h (a texture's chunk).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "texture/Error.h"
#include "texture/Texture.h"

class Archive {
 public:
  // Where an entry's chunk was read from, which the writer needs to put it back in place.
  struct Placement {
    int64_t offset = 0;  // of the PVR chunk
    int32_t length = 0;  // its length field as read
    std::array<uint8_t, Texture::kHeaderSize> headerAsRead{};
  };

  struct Entry {
    std::string name;  // UTF-8, from the entry table's Windows-1252; a .pvr file's file name
    // From the entry table when its attribute word holds the field, else from the entry's
    // index chunk; nullopt when neither holds one.
    std::optional<uint32_t> globalIndex;
    Texture texture;
    // The "GBIX" or "GCIX" chunk read right before the texture's chunk, byte for byte.
    std::vector<uint8_t> indexChunk;
    std::optional<Placement> placement;  // nullopt for an entry not read from a file
  };

  Archive() = default;

  // Reads the file at path. The file is told apart by its content: "PVMH" starts an
  // archive; "PVRT", "GBIX" or "GCIX" a .pvr file, one entry named after the file.
  // Refused, with the editor's words: a file that cannot be read ("Whoops"), one that starts
  // with none of those magics ("Hey!"), and any header or chunk that does not lie within the
  // file ("Hey!", with the path and the fault); also an index chunk whose length does not
  // lead to a "PVRT" chunk. Each chunk must end where the next one begins, counting its
  // length either after the length field or over the whole chunk, or before a gap of up to 6
  // bytes; the last chunk may run up to 8 bytes past the end of the file (read as zeros) for
  // the whole-chunk count. Takes little more memory than the texture data itself.
  static Expected<Archive> Open(const std::string& path);
  // The same from bytes in memory; `name` stands for the path in messages and names a .pvr
  // file's entry.
  static Expected<Archive> Read(std::span<const uint8_t> bytes, const std::string& name);

  // Writes the archive to path, replacing the file whole or not at all. While no texture
  // changed its size, the bytes are those read with each texture's data as it is now: the
  // header and every chunk at the offsets they were read from, every index chunk and every
  // other byte as read. A .pvr file keeps its chunk header as read; an archive's chunk
  // headers are written with magic "PVRT" and reserved 0. The error ("Whoops") names the
  // path and the reason; the file then keeps its old bytes.
  Failure Save(const std::string& path) const;

  const std::vector<Entry>& Entries() const { return entries_; }
  std::vector<Entry>& Entries() { return entries_; }
  size_t EntryCount() const { return entries_.size(); }

  // The rows a list of the archive shows: the entries in order, up to the first whose name
  // field has no NUL or lies outside the header. Every entry, as a rule.
  size_t ListedCount() const { return listed_; }
  // The status line after opening: "Loaded N sets..."; nullopt when the names were not all
  // listed, for the status then stays as it was.
  std::optional<std::string> LoadedStatus() const;

  // Whether the archive is a standalone .pvr file.
  bool IsStandaloneTexture() const { return standalone_; }

 private:
  friend class ArchiveReader;

  // Bytes of the file as read that no header, index chunk or chunk holds (the gaps the
  // 16-byte rule leaves, anything after the last chunk), written back where they were.
  struct Run {
    uint64_t offset = 0;
    std::vector<uint8_t> bytes;
  };

  // Hands the kept bytes from `from` up to `to` to the sink, zeros where none were kept
  // (past the end of the file as read).
  using Sink = std::function<bool(std::span<const uint8_t>)>;
  bool WriteOtherBytes(uint64_t from, uint64_t to, const Sink& sink) const;

  std::vector<uint8_t> header_;  // the header chunk (H + 8 bytes); a .pvr file's index chunk
  std::vector<Entry> entries_;
  std::vector<Run> otherBytes_;
  uint64_t fileSize_ = 0;
  size_t listed_ = 0;
  bool allListed_ = false;
  bool standalone_ = false;
};

// The backup of an archive: its path with the last three characters (the extension, as a
// rule) replaced by "BAK". Characters of UTF-8, not bytes, so "x.pvé" gives "x.BAK".
std::string BackupPathOf(const std::string& archivePath);
