// Reading, releasing and writing back a PVM archive.
//
// An archive is read whole, checked in full and only then put in place, so a refused file
// leaves the editor exactly as it was. The writer puts every chunk back at the offset it was
// read from and hands the whole new file to platform::ReplaceFile, so a failed save leaves
// the old file.
#include "archive/ParseFuncts.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <span>

#include "platform/EditorWindow.h"
#include "platform/Files.h"
#include "platform/Messages.h"

namespace ParseFuncts {

std::vector<std::unique_ptr<cPVR>> Textures(1);
std::vector<uint8_t> ArchiveHeader;

namespace {

using Bytes = std::span<const uint8_t>;

constexpr char kNotAnArchive[] = "This is not a valid PVM file!";
constexpr size_t kNameFieldSize = 28;
constexpr size_t kChunkHeaderSize = 16;
// Chunk length L counts the bytes after the length field: 8 header bytes, then the data.
constexpr int32_t kSmallestChunkLength = 9;
// The last chunk may give its length as the whole chunk's, in which case its data as read
// runs this many bytes past the end of the file; those bytes read as zeros.
constexpr int64_t kWholeChunkOverrun = 8;

platform::EditorWindow* gWindow = nullptr;

// What the writer needs to know about the loaded archive: which file it came from, and where
// each chunk was read and with what length (index k - 1 for slot k).
struct ChunkPlace {
  int64_t offset;
  int32_t length;
};
bool gLoaded = false;
std::string gLoadedPath;
std::vector<ChunkPlace> gPlaces;

// ---- Little-endian fields; callers have checked that the bytes are there ---------------

uint16_t U16At(Bytes b, size_t at) { return uint16_t(b[at] | (b[at + 1] << 8)); }

int32_t I32At(Bytes b, size_t at) {
  return int32_t(uint32_t(b[at]) | (uint32_t(b[at + 1]) << 8) | (uint32_t(b[at + 2]) << 16) |
                 (uint32_t(b[at + 3]) << 24));
}

void PutU16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(uint8_t(v));
  out.push_back(uint8_t(v >> 8));
}

void PutI32(std::vector<uint8_t>& out, int32_t v) {
  const uint32_t u = uint32_t(v);
  for (int shift = 0; shift < 32; shift += 8) out.push_back(uint8_t(u >> shift));
}

// Name fields are one step apart; two-entry archives pack them closer.
size_t NameStep(int16_t count) { return count == 2 ? 34 : 38; }

// The next chunk after the one at o with length L. The remainder takes the dividend's sign,
// as the archives' own tools computed it. For a chunk ending on a 16-byte boundary this is
// its end, whether L counts the bytes after the length field or the whole chunk.
int64_t NextChunkOffset(int64_t o, int32_t L) {
  const int64_t end = o + L;
  return end - 1 + (end + 1) % 16;
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

// Lists the names found in the archive bytes (the header alone is enough) and reports the
// count. A name field without a NUL, or one the bytes do not hold, ends the listing and
// leaves the status as it was.
void ListEntries(Bytes archive) {
  if (gWindow != nullptr) gWindow->ListClear();
  if (archive.size() < 12) return;
  const int16_t count = int16_t(U16At(archive, 10));
  size_t pos = 14;
  for (int k = 1; k <= count; ++k) {
    if (pos > archive.size() || archive.size() - pos < kNameFieldSize) return;
    const Bytes field = archive.subspan(pos, kNameFieldSize);
    const auto nul = std::find(field.begin(), field.end(), uint8_t{0});
    if (nul == field.end()) return;
    if (gWindow != nullptr) gWindow->ListAddItem(NameToUtf8(field.first(size_t(nul - field.begin()))));
    pos += NameStep(count);
  }
  if (gWindow != nullptr) gWindow->SetStatus("Loaded " + std::to_string(count) + " sets...");
}

// ---- Reading ---------------------------------------------------------------------------

struct ParsedChunk {
  int64_t offset;
  int32_t length;
  uint8_t pFormat;
  uint8_t eFormat;
  int16_t width;
  int16_t height;
};

// Checks the whole layout after the magic. Returns an empty string when the archive can be
// read, else a sentence saying what is wrong. `headerSize` is H + 8.
//
//   offset  size  field
//   4       4     H, int32: header bytes after this field
//   10      2     N, int16: entries
//   14      28    first name field, then one every NameStep(N) bytes
//   H + 8         N chunks, each "PVRT", L (int32), pFormat, eFormat, reserved (2),
//                 width (int16), height (int16), L - 8 data bytes
std::string CheckLayout(Bytes file, int64_t& headerSize, std::vector<ParsedChunk>& chunks) {
  const int64_t size = int64_t(file.size());
  if (size < 12) return "The file ends inside the header, before its entry count.";
  const int32_t H = I32At(file, 4);
  const int16_t N = int16_t(U16At(file, 10));
  if (H < 0) return "The header length is negative (" + std::to_string(H) + ").";
  headerSize = int64_t(H) + 8;
  if (headerSize < 12) {
    return "The header is " + std::to_string(headerSize) + " bytes long, too short to hold its entry count.";
  }
  if (N < 0) return "The entry count is negative (" + std::to_string(N) + ").";
  const int64_t needed = N == 0 ? 12 : 14 + int64_t(NameStep(N)) * (N - 1) + int64_t(kNameFieldSize);
  if (headerSize < needed) {
    return "The header is " + std::to_string(headerSize) + " bytes long, too short for the names of its " +
           std::to_string(N) + " entries (" + std::to_string(needed) + " bytes).";
  }
  if (headerSize > size) {
    return "The header is " + std::to_string(headerSize) + " bytes long, but the file has only " +
           std::to_string(size) + " bytes.";
  }

  std::vector<ParsedChunk> found;
  int64_t o = headerSize;
  for (int k = 1; k <= N; ++k) {
    const std::string which = "Texture " + std::to_string(k) + " (at offset " + std::to_string(o) + ")";
    if (o + int64_t(kChunkHeaderSize) > size) {
      return "The header says it has " + std::to_string(N) + " entries, but the file ends before texture " +
             std::to_string(k) + ".";
    }
    const int32_t L = I32At(file, size_t(o) + 4);
    if (L < kSmallestChunkLength) {
      return which + " has a chunk length of " + std::to_string(L) +
             ", too small to hold any texel data.";
    }
    const int64_t end = o + L + 8;
    const int64_t overrun = end - size;
    if (overrun > 0 && (k < N || overrun > kWholeChunkOverrun)) {
      return which + " is " + std::to_string(int64_t(L) + 8) + " bytes long and runs " +
             std::to_string(overrun) + " bytes past the end of the file.";
    }
    found.push_back({o, L, file[size_t(o) + 8], file[size_t(o) + 9], int16_t(U16At(file, size_t(o) + 12)),
                     int16_t(U16At(file, size_t(o) + 14))});
    if (k == N) break;
    // The next chunk may start right after this one, after a gap, or (length counted over
    // the whole chunk) 8 bytes before its end as read; anywhere else its header would be
    // read from this chunk's texels, and a save would write over them.
    const int64_t next = NextChunkOffset(o, L);
    const bool wholeChunkLength = next == o + L && L >= int32_t(kChunkHeaderSize);
    if (next < end && !wholeChunkLength) {
      return which + " does not end on a 16-byte boundary, so the next texture would be read "
             "from inside it.";
    }
    o = next;
  }
  chunks = std::move(found);
  return {};
}

// The data of a chunk as the archive's own reader saw it: bytes past the end of the file
// read as zeros (only the last chunk's final bytes can be there).
std::vector<uint8_t> ChunkData(Bytes file, const ParsedChunk& c) {
  std::vector<uint8_t> data(size_t(c.length) - 8, 0);
  const size_t from = size_t(c.offset) + kChunkHeaderSize;
  const size_t available = std::min(data.size(), file.size() - std::min(file.size(), from));
  std::copy_n(file.begin() + std::ptrdiff_t(from), available, data.begin());
  return data;
}

void Refuse(const std::string& path, const std::string& why) {
  platform::ShowMessage({std::string(kNotAnArchive) + "\r\n\r\n" + path + "\r\n" + why, "Hey!",
                         platform::Buttons::Ok, platform::Icon::Critical});
}

void ReportUnreadable(const std::string& path, const std::string& reason) {
  platform::ShowMessage({path + "\r\n\r\nThis file could not be read.\r\n" + reason, "Whoops",
                         platform::Buttons::Ok, platform::Icon::Critical});
}

void ReportUnwritten(const std::string& path, const std::string& reason) {
  platform::ShowMessage({path + "\r\n\r\nThis file could not be written; it was left as it was.\r\n" + reason,
                         "Whoops", platform::Buttons::Ok, platform::Icon::Critical});
}

// A refused file must never receive the header of an archive read from it earlier.
void ForgetIfLoadedFrom(const std::string& path) {
  if (gLoaded && path == gLoadedPath) gLoaded = false;
}

// ---- Writing ---------------------------------------------------------------------------

// One chunk as the writer lays it out.
std::vector<uint8_t> ChunkBytes(const std::vector<uint8_t>& data, int16_t height, int16_t width,
                                uint8_t pmat, uint8_t emat, int32_t length) {
  std::vector<uint8_t> out;
  out.reserve(kChunkHeaderSize + data.size());
  out.insert(out.end(), {'P', 'V', 'R', 'T'});  // magic, whatever the file held
  PutI32(out, length);                           // L
  out.push_back(pmat);                           // pixel format
  out.push_back(emat);                           // data format
  PutU16(out, 0);                                // reserved, always 0
  PutU16(out, uint16_t(width));                  // width
  PutU16(out, uint16_t(height));                 // height
  out.insert(out.end(), data.begin(), data.end());  // L - 8 data bytes
  return out;
}

// Writes bytes at an absolute offset, lengthening the file where they go past its end.
void Overlay(std::vector<uint8_t>& file, int64_t at, const std::vector<uint8_t>& bytes) {
  const size_t end = size_t(at) + bytes.size();
  if (file.size() < end) file.resize(end, 0);
  std::copy(bytes.begin(), bytes.end(), file.begin() + std::ptrdiff_t(at));
}

}  // namespace

void AttachWindow(platform::EditorWindow* window) { gWindow = window; }

bool OpenArchive(const std::string& path) {
  std::vector<uint8_t> file;
  std::string error;
  if (!platform::ReadWholeFile(path, file, error)) {
    ForgetIfLoadedFrom(path);
    ReportUnreadable(path, error);
    return false;
  }
  if (file.size() < 4 || std::memcmp(file.data(), "PVMH", 4) != 0) {
    ForgetIfLoadedFrom(path);
    platform::ShowMessage({kNotAnArchive, "Hey!", platform::Buttons::Ok, platform::Icon::Critical});
    return false;
  }
  int64_t headerSize = 0;
  std::vector<ParsedChunk> chunks;
  if (const std::string why = CheckLayout(file, headerSize, chunks); !why.empty()) {
    ForgetIfLoadedFrom(path);
    Refuse(path, why);
    return false;
  }

  // Everything is known to be inside the file (or, for the last chunk, at most its 8 final
  // bytes past it); build the new state aside, then put it in place.
  std::vector<std::unique_ptr<cPVR>> textures(chunks.size() + 1);
  std::vector<ChunkPlace> places;
  places.reserve(chunks.size());
  for (size_t k = 0; k < chunks.size(); ++k) {
    const ParsedChunk& c = chunks[k];
    textures[k + 1] = std::make_unique<cPVR>();
    textures[k + 1]->LoadPVR(ChunkData(file, c), c.height, c.width, c.pFormat, c.eFormat, c.length);
    places.push_back({c.offset, c.length});
  }
  ArchiveHeader.assign(file.begin(), file.begin() + std::ptrdiff_t(headerSize));
  Textures = std::move(textures);
  gPlaces = std::move(places);
  gLoadedPath = path;
  gLoaded = true;
  ListEntries(ArchiveHeader);
  return true;
}

void ReadEntries(const std::string& path) {
  std::vector<uint8_t> file;
  std::string error;
  if (!platform::ReadWholeFile(path, file, error)) {
    if (gWindow != nullptr) gWindow->ListClear();
    ReportUnreadable(path, error);
    return;
  }
  ListEntries(file);
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

  // The file as it is now: the writer changes only the bytes it writes. A file deleted since
  // it was opened is written anew.
  std::vector<uint8_t> file;
  std::string error;
  if (!platform::ReadWholeFile(path, file, error)) {
    std::error_code ec;
    if (std::filesystem::exists(path, ec) || ec) {
      ReportUnwritten(path, error);
      return false;
    }
    file.clear();
  }

  Overlay(file, 0, ArchiveHeader);
  if (Textures.size() != gPlaces.size() + 1) {
    ReportUnwritten(path, "The textures no longer match the archive that was read.");
    return false;
  }
  for (size_t k = 1; k < Textures.size(); ++k) {
    const ChunkPlace& place = gPlaces[k - 1];
    std::vector<uint8_t> data;
    int16_t height = 0, width = 0;
    uint8_t pmat = 0, emat = 0;
    int32_t length = 0;
    if (Textures[k] != nullptr) Textures[k]->SavePVR(data, height, width, pmat, emat, length);
    // A chunk of another size would overwrite its neighbour and move every later chunk.
    if (Textures[k] == nullptr || length != place.length || data.size() != size_t(length) - 8) {
      ReportUnwritten(path, "Texture " + std::to_string(k) +
                                " no longer has the size it was read with, so it cannot go back in its place.");
      return false;
    }
    Overlay(file, place.offset, ChunkBytes(data, height, width, pmat, emat, length));
  }

  if (!platform::ReplaceFile(path, file, error)) {
    ReportUnwritten(path, error);
    return false;
  }
  return true;
}

bool ArchiveLoaded() { return gLoaded; }

}  // namespace ParseFuncts
