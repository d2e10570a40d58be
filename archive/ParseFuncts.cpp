// Reading, releasing and writing back a PVM archive, or a standalone .pvr file as an
// archive of one entry.
//
// An archive is checked in full (its header and every chunk header) before any texture is
// built, and the new state is put in place only when every chunk has been read, so a
// refused file leaves the editor exactly as it was. Chunks are read one at a time straight
// into their textures: opening an archive takes little more memory than the textures
// themselves. The writer streams the header, every chunk at the offset it was read from and
// the old file's other bytes into platform::ReplaceFileFrom, so a failed save leaves the
// old file, and no copy of the whole file is ever held in memory.
#include "archive/ParseFuncts.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <span>

#include "archive/PvmLayout.h"
#include "archive/PvrFileLayout.h"
#include "platform/EditorWindow.h"
#include "platform/Files.h"
#include "platform/Messages.h"

namespace ParseFuncts {

std::vector<std::unique_ptr<cPVR>> Textures(1);
std::vector<uint8_t> ArchiveHeader;

namespace {

using Bytes = std::span<const uint8_t>;

constexpr char kNotAnArchive[] = "This is not a valid PVM file!";
using PvmLayout::kNameFieldSize;
using PvrChunkLayout::kHeaderSize;
// The smallest chunk length that leaves a data byte.
constexpr int32_t kSmallestChunkLength = PvrChunkLayout::kLengthBase + 1;
// The last chunk may give its length as the whole chunk's, in which case its data as read
// runs this many bytes past the end of the file; those bytes read as zeros.
constexpr int64_t kWholeChunkOverrun = 8;

platform::EditorWindow* gWindow = nullptr;

// What the writer needs to know about the loaded archive: which file it came from, and where
// each chunk was read, with what length and header bytes, and the index chunk read right
// before it, if any (index k - 1 for slot k). The index chunk is held rather than copied
// from the old file when saving, so it survives a save whatever became of that file.
struct ChunkPlace {
  int64_t offset;
  int32_t length;
  std::array<uint8_t, PvrChunkLayout::kHeaderSize> headerAsRead;
  std::vector<uint8_t> indexChunk;

  // Where the entry begins: its index chunk, or else its PVR chunk.
  int64_t Start() const { return offset - int64_t(indexChunk.size()); }
};
bool gLoaded = false;
std::string gLoadedPath;
std::vector<ChunkPlace> gPlaces;
// A .pvr file is written back with its chunk header as read: nothing outside its texels
// changes. An archive's chunk headers are written afresh (magic "PVRT", reserved 0).
bool gKeepChunkHeaders = false;

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

// Lists the names found in the archive bytes (the header alone is enough) and reports the
// count. A name field without a NUL, or one the bytes do not hold, ends the listing and
// leaves the status as it was.
void ListEntries(Bytes archive) {
  if (gWindow != nullptr) gWindow->ListClear();
  PvmLayout::Header header;
  if (!PvmLayout::ReadHeader(archive, header)) return;
  const int16_t count = header.count;
  for (int k = 1; k <= count; ++k) {
    const size_t pos = PvmLayout::NameOffset(header, k);
    if (pos > archive.size() || archive.size() - pos < kNameFieldSize) return;
    const Bytes field = archive.subspan(pos, kNameFieldSize);
    const auto nul = std::find(field.begin(), field.end(), uint8_t{0});
    if (nul == field.end()) return;
    if (gWindow != nullptr) gWindow->ListAddItem(NameToUtf8(field.first(size_t(nul - field.begin()))));
  }
  if (gWindow != nullptr) gWindow->SetStatus("Loaded " + std::to_string(count) + " sets...");
}

// A .pvr file is listed as one entry named after the file, as the user sees it.
void ListStandaloneFile(const std::string& path) {
  if (gWindow == nullptr) return;
  gWindow->ListClear();
  gWindow->ListAddItem(std::filesystem::path(path).filename().string());
  gWindow->SetStatus("Loaded 1 sets...");
}

// ---- Reading ---------------------------------------------------------------------------

// A chunk header as read (its Data empty, its bytes in raw) and where it was found; in an
// archive, indexAt is where the index chunk before it begins (offset when there is none).
struct ParsedChunk {
  int64_t offset;
  int64_t indexAt;
  PVRChunk header;
  std::array<uint8_t, kHeaderSize> raw;
};

// Reads the chunk header at o, which the caller has found to lie within the file, and
// checks that the chunk holds data and ends within the file, or (last) at most 8 bytes past
// it. Returns an empty string when it does, else a sentence beginning with `which`. A read
// failure sets readError and returns an empty string.
std::string ReadChunkHeader(const platform::FileReader& file, int64_t o, bool last, const std::string& which,
                            ParsedChunk& chunk, std::string& readError) {
  chunk.offset = o;
  chunk.indexAt = o;
  if (!file.ReadAt(uint64_t(o), chunk.raw, readError)) return {};
  PvrChunkLayout::ReadHeader(chunk.raw, chunk.header);
  const int32_t L = chunk.header.Length;
  if (L < kSmallestChunkLength) {
    return which + " has a chunk length of " + std::to_string(L) + ", too small to hold any texel data.";
  }
  const int64_t overrun = o + L + 8 - int64_t(file.Size());
  if (overrun > 0 && (!last || overrun > kWholeChunkOverrun)) {
    return which + " is " + std::to_string(int64_t(L) + 8) + " bytes long and runs " + std::to_string(overrun) +
           " bytes past the end of the file.";
  }
  return {};
}

// Follows the index chunk at `at` (its first 8 bytes in indexChunk) to the PVR chunk it is
// said to come before, and sets chunkAt to where that begins. Returns an empty string when
// the file holds a whole chunk header there with the magic "PVRT", else a sentence
// beginning with `which`, the index chunk as the user should read it. A read failure sets
// readError and returns an empty string.
std::string FollowIndexChunk(const platform::FileReader& file, int64_t at, Bytes indexChunk,
                             const std::string& which, int64_t& chunkAt, std::string& readError) {
  const int64_t size = int64_t(file.Size());
  int64_t length = 0;
  if (!PvrFileLayout::IndexedChunkOffset(indexChunk, length)) return which + " is cut short by the end of the file.";
  const int64_t o = at + length;
  if (o + int64_t(kHeaderSize) > size) {
    return which + " is " + std::to_string(length) + " bytes long, so the file (" + std::to_string(size) +
           " bytes) has no room for the PVRT chunk after it.";
  }
  std::array<uint8_t, 4> magic{};
  if (!file.ReadAt(uint64_t(o), magic, readError)) return {};
  if (!PvrFileLayout::IsChunkMagic(magic)) {
    return which + " is " + std::to_string(length) + " bytes long, but no PVRT chunk follows it at offset " +
           std::to_string(o) + ".";
  }
  chunkAt = o;
  return {};
}

// Checks the whole layout after the magic, reading the chunk headers from the file. Returns
// an empty string when the archive can be read, else a sentence saying what is wrong.
// `start` holds the file's first bytes (up to 12); `headerSize` is H + 8. A chunk header
// that cannot be read sets readError and ends the check. The layout is in PvmLayout.h.
std::string CheckLayout(const platform::FileReader& file, Bytes start, int64_t& headerSize,
                        std::vector<ParsedChunk>& chunks, std::string& readError) {
  const int64_t size = int64_t(file.Size());
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
    if (!file.ReadAt(uint64_t(o), index, readError)) return {};
    if (PvrFileLayout::IsIndexChunkMagic(index)) {
      const std::string indexWhich = "Texture " + std::to_string(k) + "'s " + PvrFileLayout::FirstMagic(index) +
                                     " chunk (at offset " + std::to_string(o) + ")";
      const std::string why = FollowIndexChunk(file, indexAt, index, indexWhich, o, readError);
      if (!why.empty() || !readError.empty()) return why;
    }
    const std::string which = "Texture " + std::to_string(k) + " (at offset " + std::to_string(o) + ")";
    const std::string why = ReadChunkHeader(file, o, k == N, which, chunk, readError);
    if (!why.empty() || !readError.empty()) return why;
    chunk.indexAt = indexAt;
    found.push_back(chunk);
    if (k == N) break;
    const int32_t L = chunk.header.Length;
    const int64_t end = o + L + 8;
    // The next chunk may start right after this one, after a gap, or (length counted over
    // the whole chunk) 8 bytes before its end as read; anywhere else its header would be
    // read from this chunk's texels, and a save would write over them.
    const int64_t next = PvmLayout::NextChunkOffset(o, L);
    const bool wholeChunkLength = next == o + L && L >= int32_t(kHeaderSize);
    if (next < end && !wholeChunkLength) {
      return which + " does not end on a 16-byte boundary, so the next texture would be read "
             "from inside it.";
    }
    o = next;
  }
  chunks = std::move(found);
  return {};
}

// The same check for a standalone .pvr file (layout in PvrFileLayout.h): finds its one
// chunk and sets `headerSize` to the bytes before it.
std::string CheckPvrLayout(const platform::FileReader& file, Bytes start, int64_t& headerSize,
                           std::vector<ParsedChunk>& chunks, std::string& readError) {
  const int64_t size = int64_t(file.Size());
  int64_t o = 0;
  if (PvrFileLayout::Recognise(start) == PvrFileLayout::Start::IndexChunk) {
    // Its index chunk stays in ArchiveHeader, the bytes before the PVR chunk.
    const std::string index = PvrFileLayout::FirstMagic(start);
    if (start.size() < PvrFileLayout::kIndexChunkFixedSize) return "The file ends inside its " + index + " chunk.";
    const std::string why = FollowIndexChunk(file, 0, start, "The " + index + " chunk", o, readError);
    if (!why.empty() || !readError.empty()) return why;
  } else if (size < int64_t(kHeaderSize)) {
    return "The file ends inside the header of its PVRT chunk.";
  }
  ParsedChunk chunk;
  const std::string which = "The texture (at offset " + std::to_string(o) + ")";
  const std::string why = ReadChunkHeader(file, o, true, which, chunk, readError);
  if (!why.empty() || !readError.empty()) return why;
  headerSize = o;
  chunks = {chunk};
  return {};
}

// Reads the data of a chunk as the archive's own reader saw it into `data`, which is reused
// from chunk to chunk: bytes past the end of the file read as zeros (only the last chunk's
// final bytes can be there).
bool ReadChunkData(const platform::FileReader& file, const ParsedChunk& c, std::vector<uint8_t>& data,
                   std::string& error) {
  data.resize(size_t(c.header.Length) - PvrChunkLayout::kLengthBase);
  const uint64_t from = uint64_t(c.offset) + kHeaderSize;
  const size_t available = size_t(std::min<uint64_t>(data.size(), file.Size() - std::min(file.Size(), from)));
  std::fill(data.begin() + std::ptrdiff_t(available), data.end(), uint8_t{0});
  return file.ReadAt(from, std::span(data).first(available), error);
}

void Refuse(const std::string& path, const std::string& why) {
  platform::ShowMessage({std::string(kNotAnArchive) + "\n\n" + path + "\n" + why, "Hey!",
                         platform::Buttons::Ok, platform::Icon::Critical});
}

void ReportUnreadable(const std::string& path, const std::string& reason) {
  platform::ShowMessage({path + "\n\nThis file could not be read.\n" + reason, "Whoops",
                         platform::Buttons::Ok, platform::Icon::Critical});
}

void ReportUnwritten(const std::string& path, const std::string& reason) {
  platform::ShowMessage({path + "\n\nThis file could not be written; it was left as it was.\n" + reason,
                         "Whoops", platform::Buttons::Ok, platform::Icon::Critical});
}

// A refused file must never receive the header of an archive read from it earlier.
void ForgetIfLoadedFrom(const std::string& path) {
  if (gLoaded && path == gLoadedPath) gLoaded = false;
}

// ---- Writing ---------------------------------------------------------------------------

// Hands the old file's bytes from `from` up to `to` to the sink, zeros where the old file
// (possibly none) ends before them.
bool CopyOldBytes(const platform::FileReader* old, uint64_t from, uint64_t to, std::vector<uint8_t>& buffer,
                  const platform::ByteSink& sink, std::string& error) {
  constexpr uint64_t kPiece = uint64_t{1} << 20;
  while (from < to) {
    const uint64_t n = std::min(to - from, kPiece);
    buffer.assign(size_t(n), 0);
    const uint64_t oldSize = old != nullptr ? old->Size() : 0;
    const uint64_t held = from < oldSize ? std::min(n, oldSize - from) : 0;
    if (held > 0 && !old->ReadAt(from, std::span(buffer).first(size_t(held)), error)) return false;
    if (!sink(buffer)) return false;
    from += n;
  }
  return true;
}

}  // namespace

void AttachWindow(platform::EditorWindow* window) { gWindow = window; }

bool OpenArchive(const std::string& path) {
  platform::FileReader file;
  std::string error;
  // Enough for the fixed header of an archive and the index chunk of a .pvr file.
  std::array<uint8_t, PvmLayout::kFixedHeaderSize> startBytes{};
  const bool opened = file.Open(path, error);
  const std::span<uint8_t> start = std::span(startBytes).first(size_t(std::min<uint64_t>(startBytes.size(), file.Size())));
  if (!opened || !file.ReadAt(0, start, error)) {
    ForgetIfLoadedFrom(path);
    ReportUnreadable(path, error);
    return false;
  }
  const bool archive = start.size() >= 4 && std::memcmp(start.data(), PvmLayout::kMagic, 4) == 0;
  if (!archive && PvrFileLayout::Recognise(start) == PvrFileLayout::Start::NotPvr) {
    ForgetIfLoadedFrom(path);
    platform::ShowMessage({kNotAnArchive, "Hey!", platform::Buttons::Ok, platform::Icon::Critical});
    return false;
  }
  int64_t headerSize = 0;
  std::vector<ParsedChunk> chunks;
  const std::string why = archive ? CheckLayout(file, start, headerSize, chunks, error)
                                  : CheckPvrLayout(file, start, headerSize, chunks, error);
  if (!error.empty()) {
    ForgetIfLoadedFrom(path);
    ReportUnreadable(path, error);
    return false;
  }
  if (!why.empty()) {
    ForgetIfLoadedFrom(path);
    Refuse(path, why);
    return false;
  }

  // Everything is known to be inside the file (or, for the last chunk, at most its 8 final
  // bytes past it); build the new state aside, then put it in place.
  std::vector<uint8_t> header(static_cast<size_t>(headerSize));
  std::vector<std::unique_ptr<cPVR>> textures(chunks.size() + 1);
  std::vector<ChunkPlace> places;
  places.reserve(chunks.size());
  std::vector<uint8_t> data;
  bool read = file.ReadAt(0, header, error);
  for (size_t k = 0; read && k < chunks.size(); ++k) {
    const ParsedChunk& c = chunks[k];
    std::vector<uint8_t> index(size_t(c.offset - c.indexAt));
    read = file.ReadAt(uint64_t(c.indexAt), index, error) && ReadChunkData(file, c, data, error);
    if (!read) break;
    textures[k + 1] = std::make_unique<cPVR>();
    const PVRChunk& h = c.header;
    textures[k + 1]->LoadPVR(data, h.Height, h.Width, h.pFormat, h.eFormat, h.Length);
    places.push_back({c.offset, h.Length, c.raw, std::move(index)});
  }
  if (!read) {
    ForgetIfLoadedFrom(path);
    ReportUnreadable(path, error);
    return false;
  }
  ArchiveHeader = std::move(header);
  Textures = std::move(textures);
  gPlaces = std::move(places);
  gLoadedPath = path;
  gLoaded = true;
  gKeepChunkHeaders = !archive;
  if (archive) {
    ListEntries(ArchiveHeader);
  } else {
    ListStandaloneFile(path);
  }
  return true;
}

void CloseArchive() {
  for (auto& slot : Textures) slot.reset();
  gLoaded = false;
  if (gWindow == nullptr) return;
  gWindow->ListClear();
  gWindow->SetStatus("No File Loaded");
  gWindow->SetTextureSelected(0);
}

bool SaveArchive(const std::string& path) {
  if (!gLoaded || path != gLoadedPath) return false;

  // The file as it is now: the writer changes only the bytes it writes, and takes the others
  // (gaps the 16-byte rule leaves, anything after the last chunk) from it while it writes. A
  // file deleted since it was opened is written anew.
  platform::FileReader file;
  std::string error;
  const platform::FileReader* old = &file;
  if (!file.Open(path, error)) {
    std::error_code ec;
    if (std::filesystem::exists(path, ec) || ec) {
      ReportUnwritten(path, error);
      return false;
    }
    old = nullptr;
  }

  if (Textures.size() != gPlaces.size() + 1) {
    ReportUnwritten(path, "The textures no longer match the archive that was read.");
    return false;
  }
  // A chunk of another size would overwrite its neighbour and move every later chunk.
  const auto sizeChanged = [&](size_t k) {
    return "Texture " + std::to_string(k) +
           " no longer has the size it was read with, so it cannot go back in its place.";
  };
  for (size_t k = 1; k < Textures.size(); ++k) {
    const PVRChunk* chunk = Textures[k] != nullptr ? &Textures[k]->ChunkRecord() : nullptr;
    if (chunk == nullptr || chunk->Length != gPlaces[k - 1].length ||
        chunk->Data.size() != size_t(chunk->Length) - 8) {
      ReportUnwritten(path, sizeChanged(k));
      return false;
    }
  }

  // The new file, front to back. Each chunk goes where it was read, after its index chunk as
  // read; where one whose length counts the whole chunk runs into the next entry, the next
  // entry's first bytes win, as they would if every entry were written in turn over the old
  // file.
  const platform::ByteSource source = [&](const platform::ByteSink& sink, std::string& sourceError) {
    std::vector<uint8_t> header, buffer;
    if (!sink(ArchiveHeader)) return false;
    uint64_t written = ArchiveHeader.size();
    for (size_t k = 1; k < Textures.size(); ++k) {
      const ChunkPlace& place = gPlaces[k - 1];
      const int64_t next = k < gPlaces.size() ? gPlaces[k].Start() : INT64_MAX;
      if (uint64_t(place.Start()) < written || next - place.offset < int64_t(kHeaderSize)) {
        sourceError = sizeChanged(k);  // the reader never accepts such a layout
        return false;
      }
      if (!CopyOldBytes(old, written, uint64_t(place.Start()), buffer, sink, sourceError)) return false;
      if (!sink(place.indexChunk)) return false;
      PVRChunk chunk;
      Textures[k]->SavePVR(chunk.Data, chunk.Height, chunk.Width, chunk.pFormat, chunk.eFormat,
                           chunk.Length);
      if (chunk.Length != place.length ||
          chunk.Data.size() != size_t(chunk.Length) - PvrChunkLayout::kLengthBase) {
        sourceError = sizeChanged(k);
        return false;
      }
      const uint64_t room = std::min<uint64_t>(kHeaderSize + chunk.Data.size(), uint64_t(next - place.offset));
      header.clear();
      if (gKeepChunkHeaders) {
        header.assign(place.headerAsRead.begin(), place.headerAsRead.end());
      } else {
        PvrChunkLayout::WriteHeader(chunk, header);
      }
      if (!sink(header)) return false;
      if (!sink(std::span(chunk.Data).first(size_t(room - kHeaderSize)))) return false;
      written = uint64_t(place.offset) + room;
    }
    const uint64_t oldSize = old != nullptr ? old->Size() : 0;
    return CopyOldBytes(old, written, std::max(written, oldSize), buffer, sink, sourceError);
  };
  if (!platform::ReplaceFileFrom(path, source, error)) {
    ReportUnwritten(path, error);
    return false;
  }
  return true;
}

bool ArchiveLoaded() { return gLoaded; }

cPVR* TextureOfRow(int64_t row) {
  if (row < 0 || uint64_t(row) + 1 >= Textures.size()) return nullptr;
  return Textures[size_t(row) + 1].get();
}

std::string BackupPathOf(const std::string& archivePath) {
  size_t cut = archivePath.size();
  for (int dropped = 0; dropped < 3 && cut > 0; ++dropped) {
    --cut;
    while (cut > 0 && (uint8_t(archivePath[cut]) & 0xC0) == 0x80) --cut;  // UTF-8 tail byte
  }
  return archivePath.substr(0, cut) + "BAK";
}

}  // namespace ParseFuncts
