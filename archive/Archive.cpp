// Reading an archive into a value and writing it back.
//
// An archive is checked in full (its header and every chunk header) before any texture is
// built, so a refused file builds nothing. Chunks are read one at a time straight into their
// textures: opening an archive takes little more memory than the textures themselves. The
// writer streams the header, every chunk at the offset it was read from and the other bytes
// as read into platform::ReplaceFileFrom, so a failed save leaves the old file, and no copy
// of the whole file is ever held in memory.
#include "archive/Archive.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <filesystem>

#include "archive/PvmLayout.h"
#include "archive/PvrFileLayout.h"
#include "platform/ByteOrder.h"
#include "platform/Files.h"

namespace {

using Bytes = std::span<const uint8_t>;
using PvmLayout::kNameFieldSize;
using PvrChunkLayout::kHeaderSize;

constexpr char kNotAnArchive[] = "This is not a valid PVM file!";
// The smallest chunk length that leaves a data byte.
constexpr int32_t kSmallestChunkLength = PvrChunkLayout::kLengthBase + 1;
// The last chunk may give its length as the whole chunk's, in which case its data as read
// runs this many bytes past the end of the file; those bytes read as zeros.
constexpr int64_t kWholeChunkOverrun = 8;

// What an archive is read from: a file, read at offsets, or bytes already in memory.
class Input {
 public:
  explicit Input(const platform::FileReader& file) : file_(&file), size_(file.Size()) {}
  explicit Input(Bytes bytes) : bytes_(bytes), size_(bytes.size()) {}

  uint64_t Size() const { return size_; }

  // Reads exactly out.size() bytes from offset; false with a sentence in error otherwise.
  bool ReadAt(uint64_t offset, std::span<uint8_t> out, std::string& error) const {
    if (file_ != nullptr) return file_->ReadAt(offset, out, error);
    if (offset > size_ || size_ - offset < out.size()) {
      error = "The data ends before the bytes asked for.";
      return false;
    }
    if (!out.empty()) std::memcpy(out.data(), bytes_.data() + offset, out.size());
    return true;
  }

 private:
  const platform::FileReader* file_ = nullptr;
  Bytes bytes_;
  uint64_t size_ = 0;
};

Error Refusal(const std::string& path, const std::string& why) {
  return {"Hey!", std::string(kNotAnArchive) + "\n\n" + path + "\n" + why, Icon::Critical};
}

Error Unreadable(const std::string& path, const std::string& reason) {
  return {"Whoops", path + "\n\nThis file could not be read.\n" + reason, Icon::Critical};
}

Error Unwritten(const std::string& path, const std::string& reason) {
  return {"Whoops", path + "\n\nThis file could not be written; it was left as it was.\n" + reason, Icon::Critical};
}

// ---- Names -----------------------------------------------------------------------------

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += char(c);
  } else if (c < 0x800) {
    out += char(0xC0 | (c >> 6));
    out += char(0x80 | (c & 0x3F));
  } else {
    out += char(0xE0 | (c >> 12));
    out += char(0x80 | ((c >> 6) & 0x3F));
    out += char(0x80 | (c & 0x3F));
  }
}

// Entry names are Windows-1252. 0xA0-0xFF match Unicode; 0x80-0x9F follow the code page's
// table, its five unassigned bytes becoming the control characters of the same value.
std::string NameToUtf8(Bytes name) {
  static constexpr char16_t k80to9F[32] = {
      0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
      0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
  std::string out;
  for (uint8_t b : name) AppendUtf8(out, (b >= 0x80 && b < 0xA0) ? k80to9F[b - 0x80] : b);
  return out;
}

// The global index an index chunk holds: the u32 after its 8 fixed bytes, when it is there.
std::optional<uint32_t> IndexOfChunk(Bytes indexChunk) {
  uint32_t index = 0;
  platform::LittleEndianReader in(indexChunk, PvrFileLayout::kIndexChunkFixedSize);
  if (indexChunk.size() < PvrFileLayout::kIndexChunkFixedSize || !in.Read(index)) return std::nullopt;
  return index;
}

// ---- Checking the layout -----------------------------------------------------------------

// A chunk header as read and where it was found; indexAt is where the index chunk before it
// begins (offset when there is none).
struct ParsedChunk {
  int64_t offset = 0;
  int64_t indexAt = 0;
  Texture header;
  std::array<uint8_t, kHeaderSize> raw{};
};

// Reads the chunk header at o, which the caller has found to lie within the input, and
// checks that the chunk holds data and ends within it, or (last) at most 8 bytes past it.
// Returns an empty string when it does, else a sentence beginning with `which`. A read
// failure sets readError and returns an empty string.
std::string ReadChunkHeader(const Input& in, int64_t o, bool last, const std::string& which, ParsedChunk& chunk,
                            std::string& readError) {
  chunk.offset = o;
  chunk.indexAt = o;
  if (!in.ReadAt(uint64_t(o), chunk.raw, readError)) return {};
  chunk.header = *Texture::FromHeader(chunk.raw);
  const int32_t L = chunk.header.length;
  if (L < kSmallestChunkLength) {
    return which + " has a chunk length of " + std::to_string(L) + ", too small to hold any texel data.";
  }
  const int64_t overrun = o + L + 8 - int64_t(in.Size());
  if (overrun > 0 && (!last || overrun > kWholeChunkOverrun)) {
    return which + " is " + std::to_string(int64_t(L) + 8) + " bytes long and runs " + std::to_string(overrun) +
           " bytes past the end of the file.";
  }
  return {};
}

// Follows the index chunk at `at` (its first 8 bytes in indexChunk) to the PVR chunk it is
// said to come before, and sets chunkAt to where that begins. Returns an empty string when
// the input holds a whole chunk header there with the magic "PVRT", else a sentence
// beginning with `which`. A read failure sets readError and returns an empty string.
std::string FollowIndexChunk(const Input& in, int64_t at, Bytes indexChunk, const std::string& which,
                             int64_t& chunkAt, std::string& readError) {
  const int64_t size = int64_t(in.Size());
  int64_t length = 0;
  if (!PvrFileLayout::IndexedChunkOffset(indexChunk, length)) return which + " is cut short by the end of the file.";
  const int64_t o = at + length;
  if (o + int64_t(kHeaderSize) > size) {
    return which + " is " + std::to_string(length) + " bytes long, so the file (" + std::to_string(size) +
           " bytes) has no room for the PVRT chunk after it.";
  }
  std::array<uint8_t, 4> magic{};
  if (!in.ReadAt(uint64_t(o), magic, readError)) return {};
  if (!PvrFileLayout::IsChunkMagic(magic)) {
    return which + " is " + std::to_string(length) + " bytes long, but no PVRT chunk follows it at offset " +
           std::to_string(o) + ".";
  }
  chunkAt = o;
  return {};
}

// Checks the whole layout of an archive after its magic (PvmLayout.h). Returns an empty
// string when it can be read, else a sentence saying what is wrong. `start` holds the first
// bytes (up to 12); `headerSize` becomes H + 8.
std::string CheckArchiveLayout(const Input& in, Bytes start, int64_t& headerSize, std::vector<ParsedChunk>& chunks,
                               std::string& readError) {
  const int64_t size = int64_t(in.Size());
  PvmLayout::Header fields;
  if (size < int64_t(PvmLayout::kFixedHeaderSize) || !PvmLayout::ReadHeader(start, fields))
    return "The file ends inside the header, before its entry count.";
  const int32_t H = fields.headerLength;
  const int16_t N = fields.count;
  if (H < 0) return "The header length is negative (" + std::to_string(H) + ").";
  headerSize = int64_t(H) + PvmLayout::kHeaderLengthBase;
  if (headerSize < int64_t(PvmLayout::kFixedHeaderSize)) {
    return "The header is " + std::to_string(headerSize) + " bytes long, too short to hold its entry count.";
  }
  if (N < 0) return "The entry count is negative (" + std::to_string(N) + ").";
  const int64_t needed = PvmLayout::NamesEnd(fields);
  if (headerSize < needed) {
    return "The header is " + std::to_string(headerSize) + " bytes long, too short for the names of its " +
           std::to_string(N) + " entries (" + std::to_string(needed) + " bytes).";
  }
  if (headerSize > size) {
    return "The header is " + std::to_string(headerSize) + " bytes long, but the file has only " +
           std::to_string(size) + " bytes.";
  }

  std::vector<ParsedChunk> found;
  found.reserve(size_t(N));
  ParsedChunk chunk;
  int64_t o = headerSize;
  for (int k = 1; k <= N; ++k) {
    if (o + int64_t(kHeaderSize) > size) {
      return "The header says it has " + std::to_string(N) + " entries, but the file ends before texture " +
             std::to_string(k) + ".";
    }
    // A texture's chunk may come after an index chunk; the texture is then the PVR chunk,
    // and the next one is found from it.
    const int64_t indexAt = o;
    std::array<uint8_t, PvrFileLayout::kIndexChunkFixedSize> index{};
    if (!in.ReadAt(uint64_t(o), index, readError)) return {};
    if (PvrFileLayout::IsIndexChunkMagic(index)) {
      const std::string indexWhich = "Texture " + std::to_string(k) + "'s " + PvrFileLayout::FirstMagic(index) +
                                     " chunk (at offset " + std::to_string(o) + ")";
      const std::string why = FollowIndexChunk(in, indexAt, index, indexWhich, o, readError);
      if (!why.empty() || !readError.empty()) return why;
    }
    const std::string which = "Texture " + std::to_string(k) + " (at offset " + std::to_string(o) + ")";
    const std::string why = ReadChunkHeader(in, o, k == N, which, chunk, readError);
    if (!why.empty() || !readError.empty()) return why;
    chunk.indexAt = indexAt;
    found.push_back(chunk);
    if (k == N) break;
    const int32_t L = chunk.header.length;
    const int64_t end = o + L + 8;
    // The next chunk may start right after this one, after a gap, or (length counted over
    // the whole chunk) 8 bytes before its end as read; anywhere else its header would be
    // read from this chunk's texels, and a save would write over them.
    const int64_t next = PvmLayout::NextChunkOffset(o, L);
    const bool wholeChunkLength = next == o + L && L >= int32_t(kHeaderSize);
    if (next < end && !wholeChunkLength) {
      return which + " does not end on a 16-byte boundary, so the next texture would be read from inside it.";
    }
    o = next;
  }
  chunks = std::move(found);
  return {};
}

// The same check for a standalone .pvr file (PvrFileLayout.h): finds its one chunk and sets
// `headerSize` to the bytes before it.
std::string CheckPvrLayout(const Input& in, Bytes start, int64_t& headerSize, std::vector<ParsedChunk>& chunks,
                           std::string& readError) {
  const int64_t size = int64_t(in.Size());
  int64_t o = 0;
  if (PvrFileLayout::Recognise(start) == PvrFileLayout::Start::IndexChunk) {
    const std::string index = PvrFileLayout::FirstMagic(start);
    if (start.size() < PvrFileLayout::kIndexChunkFixedSize) return "The file ends inside its " + index + " chunk.";
    const std::string why = FollowIndexChunk(in, 0, start, "The " + index + " chunk", o, readError);
    if (!why.empty() || !readError.empty()) return why;
  } else if (size < int64_t(kHeaderSize)) {
    return "The file ends inside the header of its PVRT chunk.";
  }
  ParsedChunk chunk;
  const std::string which = "The texture (at offset " + std::to_string(o) + ")";
  const std::string why = ReadChunkHeader(in, o, true, which, chunk, readError);
  if (!why.empty() || !readError.empty()) return why;
  headerSize = o;
  chunks = {chunk};
  return {};
}

// Reads the data of a chunk as the archive's own reader saw it: bytes past the end of the
// input read as zeros (only the last chunk's final bytes can be there).
bool ReadChunkData(const Input& in, const ParsedChunk& c, std::vector<uint8_t>& data, std::string& error) {
  data.resize(size_t(c.header.length) - PvrChunkLayout::kLengthBase);
  const uint64_t from = uint64_t(c.offset) + kHeaderSize;
  const size_t available = size_t(std::min<uint64_t>(data.size(), in.Size() - std::min(in.Size(), from)));
  std::fill(data.begin() + std::ptrdiff_t(available), data.end(), uint8_t{0});
  return in.ReadAt(from, std::span(data).first(available), error);
}

}  // namespace

// Builds an Archive from an Input; a friend of Archive, so the value is put together here
// and handed out only once it is whole.
class ArchiveReader {
 public:
  static Expected<Archive> Read(const Input& in, const std::string& path);

 private:
  static void ListNames(Archive& archive);
  static bool KeepOtherBytes(const Input& in, Archive& archive, std::string& error);
};

Expected<Archive> ArchiveReader::Read(const Input& in, const std::string& path) {
  std::string error;
  // Enough for the fixed header of an archive and the index chunk of a .pvr file.
  std::array<uint8_t, PvmLayout::kFixedHeaderSize> startBytes{};
  const std::span<uint8_t> start = std::span(startBytes).first(size_t(std::min<uint64_t>(startBytes.size(), in.Size())));
  if (!in.ReadAt(0, start, error)) return Unreadable(path, error);
  const bool pvm = start.size() >= 4 && std::memcmp(start.data(), PvmLayout::kMagic, 4) == 0;
  if (!pvm && PvrFileLayout::Recognise(start) == PvrFileLayout::Start::NotPvr)
    return Error{"Hey!", kNotAnArchive, Icon::Critical};

  int64_t headerSize = 0;
  std::vector<ParsedChunk> chunks;
  const std::string why = pvm ? CheckArchiveLayout(in, start, headerSize, chunks, error)
                              : CheckPvrLayout(in, start, headerSize, chunks, error);
  if (!error.empty()) return Unreadable(path, error);
  if (!why.empty()) return Refusal(path, why);

  // Everything is known to be inside the input (or, for the last chunk, at most its 8 final
  // bytes past it).
  Archive archive;
  archive.standalone_ = !pvm;
  archive.fileSize_ = in.Size();
  archive.header_.resize(size_t(headerSize));
  if (!in.ReadAt(0, archive.header_, error)) return Unreadable(path, error);
  archive.entries_.reserve(chunks.size());
  for (const ParsedChunk& c : chunks) {
    Archive::Entry entry;
    entry.indexChunk.resize(size_t(c.offset - c.indexAt));
    entry.texture = c.header;
    if (!in.ReadAt(uint64_t(c.indexAt), entry.indexChunk, error) ||
        !ReadChunkData(in, c, entry.texture.data, error))
      return Unreadable(path, error);
    entry.placement = Archive::Placement{c.offset, c.header.length, c.raw};
    entry.globalIndex = IndexOfChunk(entry.indexChunk);
    archive.entries_.push_back(std::move(entry));
  }
  if (!KeepOtherBytes(in, archive, error)) return Unreadable(path, error);

  if (pvm) {
    ListNames(archive);
  } else {
    // A .pvr file is listed as one entry named after the file, as the user sees it.
    Archive::Entry& only = archive.entries_.front();
    only.name = std::filesystem::path(path).filename().string();
    only.globalIndex = IndexOfChunk(archive.header_);
    archive.listed_ = 1;
    archive.allListed_ = true;
  }
  return archive;
}

// Names come from the entry table; a name field without a NUL, or one the header does not
// hold, ends the list there. The table's global index, when it has that field, overrides
// an index chunk's.
void ArchiveReader::ListNames(Archive& archive) {
  const Bytes header = archive.header_;
  PvmLayout::Header fields;
  if (!PvmLayout::ReadHeader(header, fields)) return;
  const PvmLayout::EntryFields table = PvmLayout::FieldsOf(fields);
  for (size_t k = 1; k <= archive.entries_.size(); ++k) {
    Archive::Entry& entry = archive.entries_[k - 1];
    const size_t pos = PvmLayout::NameOffset(fields, int64_t(k));
    if (table.globalIndexAt != 0) {
      const size_t at = pos - 2 + table.globalIndexAt;
      uint32_t index = 0;
      platform::LittleEndianReader in(header, at);
      if (at + 4 <= header.size() && in.Read(index)) entry.globalIndex = index;
    }
    if (archive.listed_ + 1 != k) continue;
    if (pos > header.size() || header.size() - pos < kNameFieldSize) continue;
    const Bytes field = header.subspan(pos, kNameFieldSize);
    const auto nul = std::find(field.begin(), field.end(), uint8_t{0});
    if (nul == field.end()) continue;
    entry.name = NameToUtf8(field.first(size_t(nul - field.begin())));
    archive.listed_ = k;
  }
  archive.allListed_ = archive.listed_ == archive.entries_.size();
}

// Keeps every byte of the input that the header, the index chunks and the chunks do not
// hold, so that a save writes them back as they were.
bool ArchiveReader::KeepOtherBytes(const Input& in, Archive& archive, std::string& error) {
  uint64_t covered = archive.header_.size();
  const auto keep = [&](uint64_t to) {
    to = std::min(to, in.Size());
    if (covered >= to) return true;
    Archive::Run run{covered, std::vector<uint8_t>(size_t(to - covered))};
    if (!in.ReadAt(covered, run.bytes, error)) return false;
    archive.otherBytes_.push_back(std::move(run));
    return true;
  };
  for (const Archive::Entry& entry : archive.entries_) {
    const Archive::Placement& place = *entry.placement;
    if (!keep(uint64_t(place.offset) - entry.indexChunk.size())) return false;
    covered = std::max(covered, uint64_t(place.offset) + kHeaderSize + entry.texture.data.size());
  }
  return keep(in.Size());
}

Expected<Archive> Archive::Open(const std::string& path) {
  platform::FileReader file;
  std::string error;
  if (!file.Open(path, error)) return Unreadable(path, error);
  return ArchiveReader::Read(Input(file), path);
}

Expected<Archive> Archive::Read(std::span<const uint8_t> bytes, const std::string& name) {
  return ArchiveReader::Read(Input(bytes), name);
}

std::optional<std::string> Archive::LoadedStatus() const {
  if (!allListed_) return std::nullopt;
  return "Loaded " + std::to_string(entries_.size()) + " sets...";
}

// ---- Writing ---------------------------------------------------------------------------

bool Archive::WriteOtherBytes(uint64_t from, uint64_t to, const Sink& sink) const {
  static const std::vector<uint8_t> zeros(uint64_t{1} << 16, 0);
  while (from < to) {
    // The run holding `from`, if any: the last one starting at or before it.
    const auto after = std::upper_bound(otherBytes_.begin(), otherBytes_.end(), from,
                                        [](uint64_t at, const Run& run) { return at < run.offset; });
    if (after != otherBytes_.begin()) {
      const Run& run = *(after - 1);
      if (from < run.offset + run.bytes.size()) {
        const uint64_t skip = from - run.offset;
        const uint64_t n = std::min<uint64_t>(to - from, run.bytes.size() - skip);
        if (!sink(std::span(run.bytes).subspan(size_t(skip), size_t(n)))) return false;
        from += n;
        continue;
      }
    }
    const uint64_t nextRun = after != otherBytes_.end() ? after->offset : UINT64_MAX;
    const uint64_t n = std::min({to - from, nextRun - from, uint64_t(zeros.size())});
    if (!sink(std::span(zeros).first(size_t(n)))) return false;
    from += n;
  }
  return true;
}

Failure Archive::Save(const std::string& path) const {
  // A chunk of another size would overwrite its neighbour and move every later chunk.
  const auto sizeChanged = [](size_t k) {
    return "Texture " + std::to_string(k) + " no longer has the size it was read with, so it cannot go back in its place.";
  };
  for (size_t k = 1; k <= entries_.size(); ++k) {
    const Entry& entry = entries_[k - 1];
    const Texture& t = entry.texture;
    if (!entry.placement || t.length != entry.placement->length ||
        t.data.size() != size_t(t.length) - PvrChunkLayout::kLengthBase)
      return Unwritten(path, sizeChanged(k));
  }
  // The new file, front to back. Each chunk goes where it was read, after its index chunk as
  // read; where one whose length counts the whole chunk runs into the next entry, the next
  // entry's first bytes win, as they would if every entry were written in turn over the old
  // file.
  const platform::ByteSource source = [&](const platform::ByteSink& sink, std::string& sourceError) {
    if (!sink(header_)) return false;
    uint64_t written = header_.size();
    for (size_t k = 1; k <= entries_.size(); ++k) {
      const Entry& entry = entries_[k - 1];
      const Placement& place = *entry.placement;
      const int64_t start = place.offset - int64_t(entry.indexChunk.size());
      const int64_t next = k < entries_.size()
                               ? entries_[k].placement->offset - int64_t(entries_[k].indexChunk.size())
                               : INT64_MAX;
      if (uint64_t(start) < written || next - place.offset < int64_t(kHeaderSize)) {
        sourceError = sizeChanged(k);  // the reader never accepts such a layout
        return false;
      }
      if (!WriteOtherBytes(written, uint64_t(start), sink)) return false;
      if (!sink(entry.indexChunk)) return false;
      const std::array<uint8_t, kHeaderSize> header = standalone_ ? place.headerAsRead : entry.texture.Header();
      const uint64_t room = std::min<uint64_t>(kHeaderSize + entry.texture.data.size(), uint64_t(next - place.offset));
      if (!sink(header)) return false;
      if (!sink(std::span(entry.texture.data).first(size_t(room - kHeaderSize)))) return false;
      written = uint64_t(place.offset) + room;
    }
    return WriteOtherBytes(written, std::max(written, fileSize_), sink);
  };
  std::string error;
  if (!platform::ReplaceFileFrom(path, source, error)) return Unwritten(path, error);
  return std::nullopt;
}

std::string BackupPathOf(const std::string& archivePath) {
  size_t cut = archivePath.size();
  for (int dropped = 0; dropped < 3 && cut > 0; ++dropped) {
    --cut;
    while (cut > 0 && (uint8_t(archivePath[cut]) & 0xC0) == 0x80) --cut;  // UTF-8 tail byte
  }
  return archivePath.substr(0, cut) + "BAK";
}
