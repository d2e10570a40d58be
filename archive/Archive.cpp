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

// The inverse of NameToUtf8, for names written back: a character the code page lacks
// becomes '?'. Names given by users are printable ASCII, which both share.
std::string NameToWindows1252(const std::string& utf8) {
  std::string out;
  for (size_t i = 0; i < utf8.size();) {
    const uint8_t b = uint8_t(utf8[i]);
    const size_t length = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
    char32_t c = length == 1 ? b : length == 2 ? (b & 0x1F) : length == 3 ? (b & 0x0F) : (b & 0x07);
    for (size_t k = 1; k < length && i + k < utf8.size(); ++k) c = (c << 6) | (uint8_t(utf8[i + k]) & 0x3F);
    i += length;
    char byte = '?';
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
      byte = char(c);
    } else {
      const std::string character = utf8.substr(i - length, length);
      for (uint8_t code = 0x80; code < 0xA0; ++code)
        if (NameToUtf8(Bytes(&code, 1)) == character) byte = char(code);
    }
    out += byte;
  }
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
// input read as zeros (only the last chunk's final bytes can be there). The texture's memory
// is not zeroed first, so the read is the first and only write to it.
bool ReadChunkData(const Input& in, const ParsedChunk& c, Texture& texture, std::string& error) {
  const size_t bytes = size_t(c.header.length) - PvrChunkLayout::kLengthBase;
  texture.SizeData(bytes);
  UnzeroedBytes& data = texture.data;
  const uint64_t from = uint64_t(c.offset) + kHeaderSize;
  const size_t available = size_t(std::min<uint64_t>(bytes, in.Size() - std::min(in.Size(), from)));
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
    // The classic reader took every chunk for a texture whatever its magic said.
    entry.texture.magic = PvrChunkLayout::kMagic;
    if (!in.ReadAt(uint64_t(c.indexAt), entry.indexChunk, error) ||
        !ReadChunkData(in, c, entry.texture, error))
      return Unreadable(path, error);
    entry.placement = Archive::Placement{c.offset, c.header.length, c.raw};
    entry.globalIndex = IndexOfChunk(entry.indexChunk);
    archive.entries_.push_back(std::move(entry));
  }
  if (!KeepOtherBytes(in, archive, error)) return Unreadable(path, error);
  archive.entriesRead_ = archive.entries_.size();

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
    const size_t entryAt = pos - 2;
    const size_t step = PvmLayout::NameStep(fields);
    if (entryAt + step <= header.size())
      entry.tableEntry.assign(header.begin() + std::ptrdiff_t(entryAt), header.begin() + std::ptrdiff_t(entryAt + step));
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
  archive.chunksEnd_ = covered;
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

bool Archive::SizesAsRead() const {
  if (entries_.size() != entriesRead_) return false;
  for (const Entry& entry : entries_) {
    const Texture& t = entry.texture;
    if (!entry.placement || t.length != entry.placement->length ||
        t.data.size() != size_t(t.length) - PvrChunkLayout::kLengthBase)
      return false;
  }
  return true;
}

// Each chunk goes where it was read, after its index chunk as read; where one whose length
// counts the whole chunk runs into the next entry, the next entry's first bytes win, as they
// would if every entry were written in turn over the old file.
bool Archive::WriteInPlace(const Sink& sink, std::string& error) const {
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
      // The reader never accepts such a layout.
      error = "Texture " + std::to_string(k) + " does not fit the place it was read from.";
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
}

namespace {

constexpr size_t kChunkAlignment = 16;

size_t Log2(size_t v) {
  size_t n = 0;
  while (v > 1) v >>= 1, ++n;
  return n;
}

bool IsPowerOfTwo(int64_t v) { return v > 0 && (v & (v - 1)) == 0; }

// The bytes of `field` (size bytes at `at` of the entry's table bytes as read), or zeros
// where the entry was not read from a table.
std::vector<uint8_t> FieldAsRead(const std::vector<uint8_t>& tableEntry, size_t at, size_t size) {
  std::vector<uint8_t> field(size, 0);
  if (at + size <= tableEntry.size()) std::copy_n(tableEntry.begin() + std::ptrdiff_t(at), size, field.begin());
  return field;
}

// The name's 28 bytes: those read, while the name is what they say, so that bytes after
// the NUL stay; else the name NUL-padded.
std::array<uint8_t, kNameFieldSize> NameField(const Archive::Entry& entry) {
  std::array<uint8_t, kNameFieldSize> field{};
  const std::vector<uint8_t> read = FieldAsRead(entry.tableEntry, 2, kNameFieldSize);
  const auto nul = std::find(read.begin(), read.end(), uint8_t{0});
  if (entry.tableEntry.size() >= 2 + kNameFieldSize && nul != read.end() &&
      NameToUtf8(Bytes(read.data(), size_t(nul - read.begin()))) == entry.name) {
    std::copy(read.begin(), read.end(), field.begin());
  } else {
    const std::string name = NameToWindows1252(entry.name);
    std::copy_n(name.begin(), std::min(name.size(), kNameFieldSize - 1), field.begin());
  }
  return field;
}

// Whether the texture has the formats and size its chunk had when read: its table fields
// as read then still describe it.
bool ShapeAsRead(const Archive::Entry& entry) {
  if (!entry.placement) return false;
  const std::optional<Texture> read = Texture::FromHeader(entry.placement->headerAsRead);
  const Texture& t = entry.texture;
  return read && read->pixelFormat == t.pixelFormat && read->dataFormat == t.dataFormat && read->width == t.width &&
         read->height == t.height;
}

}  // namespace

bool Archive::WriteAnew(const Sink& sink) const {
  std::vector<uint8_t> out;
  platform::LittleEndianWriter w(out);
  if (standalone_) {
    // One texture: its index chunk, then its chunk, its length what its data needs.
    w.Bytes(header_);
    const Texture& t = entries_.front().texture;
    Texture header = t;
    header.length = int32_t(PvrChunkLayout::kLengthBase + t.data.size());
    w.Bytes(header.Header());
    if (!sink(out) || !sink(t.data)) return false;
    return true;
  }

  PvmLayout::Header fields;
  PvmLayout::ReadHeader(header_, fields);
  const uint16_t attributes = fields.attributes;
  const bool formats = attributes & PvmLayout::kHasFormats, size = attributes & PvmLayout::kHasSize,
             index = attributes & PvmLayout::kHasGlobalIndex;
  const size_t formatsAt = 2 + kNameFieldSize, sizeAt = formatsAt + (formats ? 2 : 0),
               indexAt = sizeAt + (size ? 2 : 0);

  w.Text(PvmLayout::kMagic);                           // magic
  w.I32(0);                                            // H, set below
  w.U16(attributes);                                   // attribute word, kept
  w.U16(uint16_t(entries_.size()));                    // entry count
  // A table the attribute word does not describe (no name field named) keeps the classic
  // fixed step, which is where readers then look for the names.
  const bool described = attributes & PvmLayout::kHasName;
  const size_t step = described ? indexAt + (index ? 4 : 0) : (entries_.size() == 2 ? 34 : 38);
  for (size_t row = 0; row < entries_.size(); ++row) {
    const Entry& e = entries_[row];
    const Texture& t = e.texture;
    const bool asRead = ShapeAsRead(e);
    w.U16(uint16_t(row));                              // index: the position
    w.Bytes(NameField(e));                             // name
    if (!described) {                                  // the rest of the step, as read
      w.Bytes(FieldAsRead(e.tableEntry, formatsAt, step - formatsAt));
      continue;
    }
    if (formats) {                                     // pixel and data format
      const std::vector<uint8_t> read = FieldAsRead(e.tableEntry, formatsAt, 2);
      if (asRead) w.Bytes(read);
      else w.U8(t.pixelFormat), w.U8(t.dataFormat);
    }
    if (size) {                                        // dimensions code
      std::vector<uint8_t> code = FieldAsRead(e.tableEntry, sizeAt, 2);
      if (!asRead && IsPowerOfTwo(t.width) && IsPowerOfTwo(t.height) && t.width >= 4 && t.height >= 4)
        code = {uint8_t((Log2(size_t(t.width)) - 2) | ((Log2(size_t(t.height)) - 2) << 4)), 0};
      w.Bytes(code);
    }
    if (index) {                                       // global index
      if (e.globalIndex) w.U32(*e.globalIndex);
      else w.Bytes(FieldAsRead(e.tableEntry, indexAt, 4));
    }
  }
  // Header bytes that followed the table as read, up to its last non-zero one.
  if (header_.size() >= PvmLayout::kFixedHeaderSize) {
    const size_t tableEnd =
        std::min(header_.size(), PvmLayout::kFirstEntryAt + entriesRead_ * PvmLayout::NameStep(fields));
    size_t last = header_.size();
    while (last > tableEnd && header_[last - 1] == 0) --last;
    w.Bytes(Bytes(header_).subspan(tableEnd, last - tableEnd));
  }
  out.resize((out.size() + kChunkAlignment - 1) / kChunkAlignment * kChunkAlignment, 0);
  const int32_t H = int32_t(out.size() - PvmLayout::kHeaderLengthBase);
  for (size_t i = 0; i < 4; ++i) out[4 + i] = uint8_t(uint32_t(H) >> (8 * i));
  if (!sink(out)) return false;

  static const std::array<uint8_t, kChunkAlignment> zeros{};
  for (const Entry& e : entries_) {
    const size_t padding = (kChunkAlignment - (kHeaderSize + e.texture.data.size()) % kChunkAlignment) % kChunkAlignment;
    Texture header = e.texture;
    header.length = int32_t(PvrChunkLayout::kLengthBase + e.texture.data.size() + padding);
    if (!sink(e.indexChunk) || !sink(header.Header()) || !sink(e.texture.data) ||
        !sink(std::span(zeros).first(padding)))
      return false;
  }
  // What followed the last chunk as read.
  for (const Run& run : otherBytes_)
    if (run.offset >= chunksEnd_ && !sink(run.bytes)) return false;
  return true;
}

Failure Archive::Save(const std::string& path) const {
  const bool anew = relayout_ || !SizesAsRead();
  const platform::ByteSource source = [&](const platform::ByteSink& sink, std::string& sourceError) {
    return anew ? WriteAnew(sink) : WriteInPlace(sink, sourceError);
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

// ---- Changing the entries ---------------------------------------------------------------

namespace {

Error Refused(const std::string& text) { return {"", text, Icon::Exclamation}; }

// A GBIX chunk as the game's files hold them: the index, then 4 bytes of padding.
std::vector<uint8_t> IndexChunkFor(uint32_t globalIndex) {
  std::vector<uint8_t> chunk;
  platform::LittleEndianWriter w(chunk);
  w.Text("GBIX");       // magic
  w.U32(8);             // length
  w.U32(globalIndex);   // global index
  w.U32(0);             // padding
  return chunk;
}

// Writes the index into an index chunk that holds one.
void SetIndexOfChunk(std::vector<uint8_t>& indexChunk, uint32_t globalIndex) {
  if (indexChunk.size() < PvrFileLayout::kIndexChunkFixedSize + 4) return;
  for (size_t i = 0; i < 4; ++i) indexChunk[PvrFileLayout::kIndexChunkFixedSize + i] = uint8_t(globalIndex >> (8 * i));
}

}  // namespace

Archive Archive::New() {
  Archive archive;
  std::vector<uint8_t>& header = archive.header_;
  PvmLayout::WriteHeader({int32_t(kChunkAlignment - PvmLayout::kHeaderLengthBase),
                          PvmLayout::kHasName | PvmLayout::kHasFormats | PvmLayout::kHasSize | PvmLayout::kHasGlobalIndex,
                          0},
                         header);
  header.resize(kChunkAlignment, 0);
  archive.fileSize_ = header.size();
  archive.chunksEnd_ = header.size();
  archive.allListed_ = true;
  return archive;
}

Failure Archive::RowExists(size_t row) const {
  if (row < entries_.size()) return std::nullopt;
  if (entries_.empty()) return Refused("Row " + std::to_string(row) + " does not exist: the archive has no entries.");
  return Refused("Row " + std::to_string(row) + " does not exist: the archive has rows 0 to " +
                 std::to_string(entries_.size() - 1) + ".");
}

std::optional<std::string> Archive::WhyNameRefused(const std::string& name) {
  if (name.empty()) return "A texture needs a name.";
  if (name.size() > kMaxNameBytes) {
    return "The name \"" + name + "\" is " + std::to_string(name.size()) +
           " bytes long; an archive stores names of at most 27 bytes.";
  }
  for (unsigned char c : name) {
    if (c < 0x20 || c > 0x7E) {
      return "The name \"" + name + "\" holds a character that is not printable ASCII; an archive stores names of "
             "letters, digits, spaces and ASCII punctuation only.";
    }
  }
  return std::nullopt;
}

bool Archive::NameTaken(const std::string& name, size_t except) const {
  for (size_t row = 0; row < entries_.size(); ++row)
    if (row != except && entries_[row].name == name) return true;
  return false;
}

bool Archive::GlobalIndexTaken(uint32_t globalIndex, size_t except) const {
  for (size_t row = 0; row < entries_.size(); ++row)
    if (row != except && entries_[row].globalIndex == globalIndex) return true;
  return false;
}

uint32_t Archive::NextGlobalIndex(const std::string& archiveFileName) const {
  std::optional<uint32_t> largest;
  for (const Entry& e : entries_)
    if (e.globalIndex) largest = std::max(largest.value_or(0), *e.globalIndex);
  if (largest) return *largest == UINT32_MAX ? *largest : *largest + 1;
  // FNV-1a over the file name: stable across runs and machines.
  uint32_t hash = 2166136261u;
  for (unsigned char c : std::filesystem::path(archiveFileName).filename().string()) hash = (hash ^ c) * 16777619u;
  return 100000 + hash % (9999999 - 100000 + 1);
}

Expected<Archive::Entry> Archive::FromPvr(std::span<const uint8_t> pvrFile, const std::string& name) {
  Expected<Archive> file = Read(pvrFile, name);
  if (!file) return file.error();
  if (!file->standalone_) return Refused(name + " is an archive, not a single texture (.pvr) file.");
  Entry entry = std::move(file->entries_.front());
  entry.indexChunk = std::move(file->header_);  // its GBIX chunk, if it has one
  entry.placement.reset();
  return entry;
}

Failure Archive::Insert(size_t row, Entry entry, const std::string& archiveFileName) {
  if (standalone_) return Refused("A single texture (.pvr) file holds one texture; no other can be added to it.");
  if (row > entries_.size())
    return Refused("Row " + std::to_string(row) + " is past the end: the archive has " +
                   std::to_string(entries_.size()) + " entries.");
  if (entries_.size() >= kMaxEntries) return Refused("An archive holds at most 65535 entries.");
  if (const auto why = WhyNameRefused(entry.name)) return Refused(*why);
  if (!entry.globalIndex) entry.globalIndex = NextGlobalIndex(archiveFileName);
  // Index chunks go in only where the archive's textures carry them, as its first one does.
  const bool indexChunks = !entries_.empty() && !entries_.front().indexChunk.empty();
  if (!indexChunks) entry.indexChunk.clear();
  else if (entry.indexChunk.empty()) entry.indexChunk = IndexChunkFor(*entry.globalIndex);
  SetIndexOfChunk(entry.indexChunk, *entry.globalIndex);
  entry.placement.reset();
  entry.tableEntry.clear();
  entries_.insert(entries_.begin() + std::ptrdiff_t(row), std::move(entry));
  listed_ = entries_.size();
  allListed_ = true;
  relayout_ = true;
  return std::nullopt;
}

Failure Archive::Remove(size_t row) {
  if (standalone_) return Refused("A single texture (.pvr) file holds one texture; it cannot be removed.");
  if (Failure missing = RowExists(row)) return missing;
  if (row < listed_) --listed_;
  entries_.erase(entries_.begin() + std::ptrdiff_t(row));
  relayout_ = true;
  return std::nullopt;
}

Failure Archive::Rename(size_t row, const std::string& name) {
  if (standalone_) return Refused("A single texture (.pvr) file is named by its file name; rename the file instead.");
  if (Failure missing = RowExists(row)) return missing;
  if (const auto why = WhyNameRefused(name)) return Refused(*why);
  entries_[row].name = name;
  relayout_ = true;
  return std::nullopt;
}

Failure Archive::Move(size_t row, size_t to) {
  if (Failure missing = RowExists(row)) return missing;
  if (Failure missing = RowExists(to)) return missing;
  Entry moved = std::move(entries_[row]);
  entries_.erase(entries_.begin() + std::ptrdiff_t(row));
  entries_.insert(entries_.begin() + std::ptrdiff_t(to), std::move(moved));
  relayout_ = true;
  return std::nullopt;
}

Failure Archive::SetGlobalIndex(size_t row, uint32_t globalIndex) {
  if (Failure missing = RowExists(row)) return missing;
  Entry& entry = entries_[row];
  entry.globalIndex = globalIndex;
  SetIndexOfChunk(standalone_ ? header_ : entry.indexChunk, globalIndex);
  if (standalone_ && header_.empty()) header_ = IndexChunkFor(globalIndex);
  relayout_ = true;
  return std::nullopt;
}

Failure Archive::Replace(size_t row, Texture texture) {
  if (Failure missing = RowExists(row)) return missing;
  entries_[row].texture = std::move(texture);
  relayout_ = true;
  return std::nullopt;
}

Archive::Layout Archive::CurrentLayout() const {
  return {listed_, allListed_, relayout_, standalone_ ? header_ : std::vector<uint8_t>{}};
}

void Archive::RestoreLayout(Layout layout) {
  listed_ = std::min(layout.listed, entries_.size());
  allListed_ = layout.allListed;
  relayout_ = layout.relayout;
  if (standalone_) header_ = std::move(layout.pvrIndexChunk);
}

Expected<Archive::Entry> Archive::TakeOut(size_t row) {
  if (Failure missing = RowExists(row)) return *missing;
  Entry entry = std::move(entries_[row]);
  entries_.erase(entries_.begin() + std::ptrdiff_t(row));
  return entry;
}

Failure Archive::PutBack(size_t row, Entry entry) {
  if (row > entries_.size())
    return Refused("Row " + std::to_string(row) + " is past the end: the archive has " +
                   std::to_string(entries_.size()) + " entries.");
  entries_.insert(entries_.begin() + std::ptrdiff_t(row), std::move(entry));
  return std::nullopt;
}

Expected<std::vector<uint8_t>> Archive::ExtractPvr(size_t row) const {
  if (Failure missing = RowExists(row)) return *missing;
  const Entry& entry = entries_[row];
  std::vector<uint8_t> file = standalone_ ? header_ : entry.indexChunk;
  if (file.empty()) file = IndexChunkFor(entry.globalIndex.value_or(0));
  const std::array<uint8_t, kHeaderSize> header = entry.texture.Header();
  file.insert(file.end(), header.begin(), header.end());
  file.insert(file.end(), entry.texture.data.begin(), entry.texture.data.end());
  return file;
}
