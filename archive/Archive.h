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
    // The entry's bytes in the entry table as read (index, name and the fields after it);
    // empty for an entry not read from one. A new layout keeps what still holds of them.
    std::vector<uint8_t> tableEntry;
  };

  // The most entries an archive holds: its count is a 16-bit field.
  static constexpr size_t kMaxEntries = 65535;
  // The longest name: the table stores 28 bytes, NUL-padded.
  static constexpr size_t kMaxNameBytes = 27;

  Archive() = default;

  // An empty archive, as `quarnel-cli new` writes it: attribute word 0x000F (names, formats,
  // dimensions and global indices), no entries.
  static Archive New();

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

  // Writes the archive to path, replacing the file whole or not at all. While nothing
  // structural changed (no entry added, removed, moved, renamed or re-indexed, no texture of
  // another size), the bytes are those read with each texture's data as it is now: the header
  // and every chunk at the offsets they were read from, every index chunk and every other
  // byte as read. A .pvr file keeps its chunk header as read; an archive's chunk headers are
  // written with magic "PVRT" and reserved 0.
  //
  // Otherwise the archive is laid out anew, as the game's own archives are: the attribute
  // word kept; one table entry a texture, in order, its index field its position, then the
  // name, the formats, the dimensions code (low nibble log2(width) - 2, high nibble
  // log2(height) - 2) and the global index, each as the attribute word says; the non-zero
  // header bytes that followed the table; the first chunk at the table's end rounded up to 16
  // bytes; each texture's index chunk, if it had one, then its chunk padded with zeros to a
  // multiple of 16 bytes, its length field counting what follows it; then what followed the
  // last chunk. What a table entry held beyond those fields is kept. So for an archive in
  // that layout a rename changes only the name's 28 bytes.
  //
  // The error ("Whoops") names the path and the reason; the file then keeps its old bytes.
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

  // ---- Changing the entries ---------------------------------------------------------------
  // Each refuses with an Error whose text names the fault, and then changes nothing. Rows
  // count from 0. Any of them makes Save lay the archive out anew (see Save).

  // An entry to add: from a texture file (FromPvr) or one made from a picture.
  static Expected<Entry> FromPvr(std::span<const uint8_t> pvrFile, const std::string& name);
  // Inserts the entry at `row` (0 to EntryCount()). A .pvr file's index chunk goes in only
  // when this archive's textures carry index chunks, as its first one does. An entry
  // without a global index gets NextGlobalIndex(archiveFileName).
  Failure Insert(size_t row, Entry entry, const std::string& archiveFileName);
  Failure Remove(size_t row);
  Failure Rename(size_t row, const std::string& name);
  Failure Move(size_t row, size_t to);
  Failure SetGlobalIndex(size_t row, uint32_t globalIndex);
  // Puts another texture in the entry (a new size or format), keeping its name and index.
  Failure Replace(size_t row, Texture texture);

  // ---- Going back ---------------------------------------------------------------------------
  // An undo puts back exactly what an edit changed, so that once every edit since the
  // archive was read is undone, Save writes the bytes read again. Entry fields go back
  // through Entries(); these put back the rest, unchecked, as they were: a name read from a
  // file may be one that Rename refuses, a placement one that Insert drops.

  // What the operations above change besides the entries: the rows listed, whether Save
  // lays the archive out anew, and a .pvr file's index chunk. No texture, so a few bytes.
  struct Layout {
    size_t listed = 0;
    bool allListed = false;
    bool relayout = false;
    std::vector<uint8_t> pvrIndexChunk;  // a standalone .pvr file's; empty for an archive
  };
  Layout CurrentLayout() const;
  void RestoreLayout(Layout layout);
  // Takes the entry at `row` out whole, or puts one back whole at `row` (0 to EntryCount()),
  // changing nothing else; the caller restores the layout after.
  Expected<Entry> TakeOut(size_t row);
  Failure PutBack(size_t row, Entry entry);

  // A standalone .pvr file of the entry: a GBIX chunk holding its global index (its own
  // index chunk when it has one), then its chunk as stored.
  Expected<std::vector<uint8_t>> ExtractPvr(size_t row) const;

  // The global index a new entry gets: one more than the largest the entries have; for an
  // archive without any, a number from 100000 to 9999999 taken from a hash of its file name,
  // so that two new archives rarely collide.
  uint32_t NextGlobalIndex(const std::string& archiveFileName) const;
  // Why a name cannot be stored, or nullopt: at most 27 bytes of printable ASCII.
  static std::optional<std::string> WhyNameRefused(const std::string& name);
  // Rows other than `except` whose entry has this name, or this global index; for notes.
  bool NameTaken(const std::string& name, size_t except) const;
  bool GlobalIndexTaken(uint32_t globalIndex, size_t except) const;
  // Whether a save lays the archive out anew rather than rewriting chunks in place.
  bool LaidOutAnew() const { return relayout_; }

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
  bool WriteInPlace(const Sink& sink, std::string& error) const;
  bool WriteAnew(const Sink& sink) const;
  bool SizesAsRead() const;
  Failure RowExists(size_t row) const;

  std::vector<uint8_t> header_;  // the header chunk (H + 8 bytes); a .pvr file's index chunk
  std::vector<Entry> entries_;
  std::vector<Run> otherBytes_;
  uint64_t fileSize_ = 0;
  uint64_t chunksEnd_ = 0;  // where the last chunk as read ends
  size_t listed_ = 0;
  bool allListed_ = false;
  size_t entriesRead_ = 0;
  bool relayout_ = false;
  bool standalone_ = false;
};

// The backup of an archive: its path with the last three characters (the extension, as a
// rule) replaced by "BAK". Characters of UTF-8, not bytes, so "x.pvé" gives "x.BAK".
std::string BackupPathOf(const std::string& archivePath);
