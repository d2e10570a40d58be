#include "archive/TexturePack.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <map>
#include <system_error>

#include "archive/Archive.h"
#include "archive/ExportNames.h"
#include "platform/ByteOrder.h"
#include "platform/Files.h"

namespace fs = std::filesystem;

namespace TexturePack {
namespace {

constexpr char kPvmxMagic[] = "PVMX";
constexpr uint8_t kPvmxVersion = 1;
enum PvmxField : uint8_t { kEnd = 0, kGlobalIndex = 1, kName = 2, kSize = 3 };

Error Refused(const std::string& text) { return {"", text, Icon::Exclamation}; }

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

template <typename T>
bool ParseNumber(std::string_view text, T& value) {
  if (text.empty() || text.front() < '0' || text.front() > '9') return false;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size();
}

std::optional<Size> ParseSize(std::string_view text) {
  const size_t x = text.find_first_of("xX");
  Size size;
  if (x == std::string_view::npos || !ParseNumber(text.substr(0, x), size.width) ||
      !ParseNumber(text.substr(x + 1), size.height))
    return std::nullopt;
  if (size.width < 1 || size.height < 1 || size.width > kMaxSide || size.height > kMaxSide) return std::nullopt;
  return size;
}

// A FILE must stay in the pack's folder.
bool LeavesFolder(std::string_view file) {
  if (file.empty() || file.front() == '/' || file.front() == '\\' || (file.size() > 1 && file[1] == ':')) return true;
  for (const auto& part : fs::path(std::string(file))) {
    if (part == "..") return true;
  }
  return file.find("..\\") != std::string_view::npos || file.ends_with("\\..");
}

std::string SizeText(Size size) { return std::to_string(size.width) + "x" + std::to_string(size.height); }

bool IsPvmx(const std::string& path) {
  std::string extension = fs::path(path).extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(), [](unsigned char c) { return char(std::tolower(c)); });
  return extension == ".pvmx";
}

}  // namespace

// ---- index.txt --------------------------------------------------------------------------

Expected<std::vector<Line>> ParseIndex(std::string_view text, std::vector<std::string>& notes) {
  std::vector<Line> lines;
  std::map<uint32_t, size_t> firstLineOf;
  size_t number = 0;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    std::string_view raw = text.substr(at, end - at);
    at = end + 1;
    ++number;
    if (raw.ends_with('\r')) raw.remove_suffix(1);
    const std::string_view line = Trimmed(raw);
    if (line.empty() || line.front() == '#') continue;
    const auto fault = [&](const std::string& why) {
      return Refused("index.txt, line " + std::to_string(number) + ": " + why);
    };

    std::vector<std::string_view> fields;
    for (size_t from = 0;;) {
      const size_t comma = line.find(',', from);
      fields.push_back(Trimmed(line.substr(from, comma == std::string_view::npos ? std::string_view::npos : comma - from)));
      if (comma == std::string_view::npos) break;
      from = comma + 1;
    }
    if (fields.size() < 2 || fields.size() > 3 || fields[1].empty())
      return fault("\"" + std::string(line) + "\" is not GBIX,FILE or GBIX,FILE,WxH.");
    Line parsed;
    parsed.number = number;
    if (!ParseNumber(fields[0], parsed.globalIndex))
      return fault("the global index " + std::string(fields[0]) + " is not a number from 0 to 4294967295.");
    parsed.file = std::string(fields[1]);
    if (LeavesFolder(parsed.file)) return fault(parsed.file + " lies outside the pack's folder.");
    if (fields.size() == 3) {
      parsed.size = ParseSize(fields[2]);
      if (!parsed.size) return fault("the size " + std::string(fields[2]) + " is not WxH with sides from 1 to 8192.");
    }
    if (const auto [first, fresh] = firstLineOf.emplace(parsed.globalIndex, number); !fresh) {
      notes.push_back("Note: index.txt, line " + std::to_string(number) + " has the global index " +
                      std::to_string(parsed.globalIndex) + " of line " + std::to_string(first->second) +
                      "; the loader uses the first.");
    }
    lines.push_back(std::move(parsed));
  }
  return lines;
}

std::string WriteIndex(const std::vector<Line>& lines) {
  std::string text;
  for (const Line& line : lines) {
    text += std::to_string(line.globalIndex) + "," + line.file;
    if (line.size) text += "," + SizeText(*line.size);
    text += "\n";
  }
  return text;
}

// ---- PVMX ---------------------------------------------------------------------------------

std::vector<uint8_t> WritePvmx(const std::vector<PvmxTexture>& textures) {
  std::vector<uint8_t> out;
  platform::LittleEndianWriter w(out);
  w.Text(kPvmxMagic);  // magic
  w.U8(kPvmxVersion);  // version
  std::vector<size_t> offsetFields;
  for (const PvmxTexture& t : textures) {
    w.U8(kGlobalIndex), w.U32(t.globalIndex);
    w.U8(kName), w.Bytes(std::span(reinterpret_cast<const uint8_t*>(t.name.data()), t.name.size())), w.U8(0);
    if (t.size) w.U8(kSize), w.U32(uint32_t(t.size->width)), w.U32(uint32_t(t.size->height));
    w.U8(kEnd);
    offsetFields.push_back(out.size());
    w.U32(0), w.U32(0);                                   // offset, set below
    w.U32(uint32_t(t.png.size())), w.U32(uint32_t(uint64_t(t.png.size()) >> 32));  // size
  }
  w.U8(0);  // the end of the list
  for (size_t i = 0; i < textures.size(); ++i) {
    const uint64_t offset = out.size();
    for (size_t b = 0; b < 8; ++b) out[offsetFields[i] + b] = uint8_t(offset >> (8 * b));
    w.Bytes(textures[i].png);
  }
  return out;
}

Expected<std::vector<PvmxTexture>> ReadPvmx(std::span<const uint8_t> file, const std::string& path) {
  const auto fault = [&](const std::string& why) { return Refused(path + ": " + why); };
  if (file.size() < 5 || !std::equal(kPvmxMagic, kPvmxMagic + 4, file.begin())) return fault("this is not a PVMX file.");
  if (file[4] != kPvmxVersion)
    return fault("this PVMX file has version " + std::to_string(file[4]) + "; Quarnel reads version 1.");
  std::vector<PvmxTexture> textures;
  size_t pos = 5;
  const auto u32 = [&](uint32_t& v) {
    platform::LittleEndianReader in(file, pos);
    if (!in.Read(v)) return false;
    pos += 4;
    return true;
  };
  for (;;) {
    if (pos >= file.size()) return fault("the texture list runs past the end of the file.");
    if (file[pos] == kEnd) break;
    const std::string which = "texture " + std::to_string(textures.size() + 1);
    PvmxTexture t;
    bool hasIndex = false;
    for (;;) {
      if (pos >= file.size()) return fault(which + "'s fields run past the end of the file.");
      const uint8_t type = file[pos++];
      if (type == kEnd) break;
      if (type == kGlobalIndex) {
        if (!u32(t.globalIndex)) return fault(which + "'s global index runs past the end of the file.");
        hasIndex = true;
      } else if (type == kName) {
        const auto nul = std::find(file.begin() + std::ptrdiff_t(pos), file.end(), uint8_t{0});
        if (nul == file.end()) return fault(which + "'s name runs past the end of the file.");
        t.name.assign(file.begin() + std::ptrdiff_t(pos), nul);
        pos = size_t(nul - file.begin()) + 1;
      } else if (type == kSize) {
        uint32_t w = 0, h = 0;
        if (!u32(w) || !u32(h)) return fault(which + "'s size runs past the end of the file.");
        if (w < 1 || h < 1 || w > uint32_t(kMaxSide) || h > uint32_t(kMaxSide))
          return fault(which + "'s size " + std::to_string(w) + "x" + std::to_string(h) +
                       " is not WxH with sides from 1 to 8192.");
        t.size = Size{int32_t(w), int32_t(h)};
      } else {
        return fault(which + " has a field of unknown type " + std::to_string(type) + ".");
      }
    }
    uint32_t lo = 0, hi = 0, slo = 0, shi = 0;
    if (!u32(lo) || !u32(hi) || !u32(slo) || !u32(shi)) return fault(which + "'s data offset runs past the end of the file.");
    const uint64_t offset = lo | uint64_t(hi) << 32, size = slo | uint64_t(shi) << 32;
    if (offset > file.size() || size > file.size() - offset)
      return fault(which + "'s data (" + std::to_string(size) + " bytes at offset " + std::to_string(offset) +
                   ") lies outside the file.");
    if (!hasIndex) return fault(which + " has no global index.");
    t.png.assign(file.begin() + std::ptrdiff_t(offset), file.begin() + std::ptrdiff_t(offset + size));
    textures.push_back(std::move(t));
  }
  return textures;
}

// ---- Reading a pack ------------------------------------------------------------------------

Expected<Pack> Read(const std::string& path, std::vector<std::string>& notes) {
  Pack pack;
  if (IsPvmx(path)) {
    std::vector<uint8_t> file;
    std::string error;
    if (!platform::ReadWholeFile(path, file, error, uint64_t{4} << 30))
      return Error{"Whoops", path + "\n\nThis file could not be read.\n" + error, Icon::Critical};
    Expected<std::vector<PvmxTexture>> textures = ReadPvmx(file, path);
    if (!textures) return textures.error();
    for (size_t k = 0; k < textures->size(); ++k) {
      PvmxTexture& t = (*textures)[k];
      const std::string label = path + ", texture " + std::to_string(k + 1) + " (" + t.name + ")";
      if (t.png.size() < 8 || t.png[0] != 0x89 || t.png[1] != 'P')
        return Refused(label + ": its picture is not PNG data; Quarnel reads only PNG.");
      const Expected<PictureFiles::Size> size = PictureFiles::Measure(t.png, label);
      if (!size) return size.error();
      pack.push_back({{k + 1, t.globalIndex, t.name, t.size}, t.name, "", std::move(t.png), *size});
    }
    return pack;
  }

  const std::string indexPath = (fs::path(path) / "index.txt").string();
  if (!platform::FileExists(indexPath)) return Refused(path + " holds no index.txt, so it is not a texture pack.");
  std::vector<uint8_t> bytes;
  std::string error;
  if (!platform::ReadWholeFile(indexPath, bytes, error, kMaxIndexBytes)) {
    std::error_code ec;
    if (fs::file_size(indexPath, ec) > kMaxIndexBytes && !ec)
      return Refused(indexPath + " is larger than 1 MiB, more than any pack's index holds.");
    return Error{"Whoops", indexPath + "\n\nThis file could not be read.\n" + error, Icon::Critical};
  }
  Expected<std::vector<Line>> lines =
      ParseIndex(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), notes);
  if (!lines) return Refused(path + "/" + lines.error().text);
  for (const Line& line : *lines) {
    const std::string file = (fs::path(path) / line.file).string();
    const std::string where = path + "/index.txt, line " + std::to_string(line.number) + ": ";
    if (!platform::FileExists(file)) return Refused(where + line.file + " does not exist.");
    std::vector<uint8_t> bytes;
    if (!platform::ReadWholeFile(file, bytes, error, uint64_t{1} << 30))
      return Refused(where + line.file + " could not be read.\n" + error);
    const Expected<PictureFiles::Size> size = PictureFiles::Measure(bytes, file);
    if (!size) return Refused(where + line.file + " is not a picture Quarnel reads.\n" + size.error().text);
    pack.push_back({line, fs::path(line.file).stem().string(), file, {}, *size});
  }
  return pack;
}

Expected<PictureFiles::Picture> Entry::Load() const {
  if (!path.empty()) return PictureFiles::Read(path, "");
  return PictureFiles::ReadPng(png, "texture " + std::to_string(line.number) + " (" + name + ")");
}

// ---- Writing a pack ------------------------------------------------------------------------

std::vector<std::string> FolderFiles(const Archive& archive, const std::string& folder) {
  std::vector<std::string> files = BatchFiles::ExportPaths(BatchFiles::ListedNames(archive), folder, BatchFiles::FileFormat::Png);
  files.push_back((fs::path(folder) / "index.txt").string());
  return files;
}

Expected<size_t> Write(const Archive& archive, const std::string& path, const BatchFiles::Voice& voice,
                       const PaletteLookup* palettes) {
  const std::optional<std::vector<PaletteLookup::Found>> found = BatchFiles::ListedPalettes(archive, palettes, voice);
  if (!found) return Refused("Nothing was written to " + path + ".");
  const std::vector<std::string> bases = BatchFiles::ExportBaseNames(BatchFiles::ListedNames(archive));
  std::vector<Line> lines;
  std::vector<PvmxTexture> textures;
  const bool pvmx = IsPvmx(path);
  if (!pvmx) {
    std::error_code ec;
    fs::create_directories(path, ec);
    if (!fs::is_directory(path)) return Refused("Cannot create the folder " + path + (ec ? ": " + ec.message() : "") + ".");
  }
  for (size_t row = 0; row < bases.size(); ++row) {
    const Archive::Entry& entry = archive.Entries()[row];
    const PaletteLookup::Found& palette = (*found)[row];
    if (const std::string note = PaletteLookup::Note(entry.texture, palette, row); !note.empty()) voice.say(note);
    const std::optional<Image> decoded = BatchFiles::Decode(entry.texture, row, voice,
                                                            entry.texture.IsPalettized() ? &palette.colours : nullptr);
    if (!decoded) return Refused("Nothing was written: the texture in row " + std::to_string(row) + " cannot be decoded.");
    const uint32_t globalIndex = entry.globalIndex.value_or(uint32_t(row));
    if (!entry.globalIndex)
      voice.say("Note: the entry in row " + std::to_string(row) + " has no global index; the pack lists it as " +
                std::to_string(row) + ".");
    const Size size{entry.texture.width, entry.texture.height};
    const std::string file = BatchFiles::PngFileName(bases[row]);
    lines.push_back({row + 1, globalIndex, file, size});
    if (pvmx) {
      std::optional<std::vector<uint8_t>> png =
          PictureFiles::Encode(*decoded, PictureFiles::Export::Png,
                               entry.texture.IsPalettized() || entry.texture.HasAlphaBits(), {});
      if (!png) return Refused("There is not enough memory to write " + path + ".");
      textures.push_back({globalIndex, entry.name, size, std::move(*png)});
    } else if (const Failure failure = PictureFiles::Write((fs::path(path) / file).string(), *decoded,
                                                           PictureFiles::Export::Png, true, {})) {
      return *failure;
    }
  }
  std::string error;
  if (pvmx) {
    if (!platform::ReplaceFile(path, WritePvmx(textures), error))
      return Error{"Whoops", path + "\n\nThis file could not be written.\n" + error, Icon::Critical};
  } else {
    const std::string index = WriteIndex(lines);
    const std::string indexPath = (fs::path(path) / "index.txt").string();
    if (!platform::ReplaceFile(indexPath, std::vector<uint8_t>(index.begin(), index.end()), error))
      return Error{"Whoops", indexPath + "\n\nThis file could not be written.\n" + error, Icon::Critical};
  }
  return lines.size();
}

// ---- From a pack to an archive -------------------------------------------------------------

namespace {

// The picture a pack's texture gives, at the size its line asks for unless keepPictureSize.
Expected<Image> SizedPicture(const Entry& t, bool keepPictureSize, const BatchFiles::Voice& voice) {
  Expected<PictureFiles::Picture> loaded = t.Load();
  if (!loaded) return loaded.error();
  Image& picture = loaded->image;
  if (keepPictureSize || !t.line.size || (t.line.size->width == picture.width && t.line.size->height == picture.height))
    return std::move(picture);
  std::optional<Image> scaled = FormatChoice::Scale(picture, t.line.size->width, t.line.size->height);
  if (!scaled) return std::move(picture);
  voice.say("Note: " + t.line.file + " is " + SizeText({picture.width, picture.height}) + " pixels; it was scaled to " +
            SizeText(*t.line.size) + ", the size the game expects.");
  return std::move(*scaled);
}

Expected<Archive::Entry> NewEntry(const Entry& t, const FormatChoice::Choice& formats, bool keepPictureSize,
                                  const BatchFiles::Voice& voice) {
  const std::string where = "Line " + std::to_string(t.line.number) + " (" + t.line.file + "): ";
  Expected<Image> picture = SizedPicture(t, keepPictureSize, voice);
  if (!picture) return Refused(where + picture.error().text);
  Expected<::Texture> texture = FormatChoice::Make(*picture, formats);
  if (!texture) return Refused(where + texture.error().text);
  if (const auto why = Archive::WhyNameRefused(t.name)) return Refused(where + *why);
  Archive::Entry entry;
  entry.name = t.name;
  entry.globalIndex = t.line.globalIndex;
  entry.texture = std::move(*texture);
  return entry;
}

}  // namespace

Expected<Archive> MakeArchive(const Pack& pack, const FormatChoice::Choice& formats, bool keepPictureSize,
                              const std::string& archiveName, const BatchFiles::Voice& voice) {
  Archive archive = Archive::New();
  for (const Entry& t : pack) {
    Expected<Archive::Entry> entry = NewEntry(t, formats, keepPictureSize, voice);
    if (!entry) return entry.error();
    if (const Failure failure = archive.Insert(archive.EntryCount(), std::move(*entry), archiveName)) return *failure;
  }
  return archive;
}

std::optional<size_t> MatchingRow(const Archive& archive, const Entry& texture) {
  const auto& entries = archive.Entries();
  auto match = std::find_if(entries.begin(), entries.end(),
                            [&](const Archive::Entry& e) { return e.globalIndex == texture.line.globalIndex; });
  if (match == entries.end())
    match = std::find_if(entries.begin(), entries.end(), [&](const Archive::Entry& e) { return e.name == texture.name; });
  if (match == entries.end()) return std::nullopt;
  return size_t(match - entries.begin());
}

Expected<size_t> Update(Archive& archive, const Pack& pack, BatchFiles::SizeChoice size, bool add,
                        const std::string& archiveName, const BatchFiles::Voice& voice) {
  Archive updated = archive;
  size_t count = 0;
  std::string refusal;
  const BatchFiles::Voice quiet{voice.say, [&](const Error& e) { refusal = e.text; }};
  for (const Entry& t : pack) {
    const std::optional<size_t> match = MatchingRow(updated, t);
    if (!match) {
      if (!add) {
        voice.say("Note: line " + std::to_string(t.line.number) + " (" + t.line.file + ") matches no entry of " +
                  archiveName + " and was not imported.");
        continue;
      }
      Expected<Archive::Entry> entry = NewEntry(t, {}, true, voice);
      if (!entry) return entry.error();
      if (const Failure failure = updated.Insert(updated.EntryCount(), std::move(*entry), archiveName)) return *failure;
      ++count;
      continue;
    }
    const size_t row = *match;
    ::Texture& texture = updated.Entries()[row].texture;
    if (BatchFiles::RefuseWithoutCodec(texture, row, "Note: " + t.line.file + " was not imported: ", voice)) continue;
    Expected<PictureFiles::Picture> picture = t.Load();
    if (!picture) return Refused("Nothing was imported; " + archiveName + " was not written.\n" + picture.error().text);
    if (!BatchFiles::ImportPicture(texture, row, std::move(*picture), t.line.file, quiet, size))
      return Refused("Nothing was imported; " + archiveName + " was not written." + (refusal.empty() ? "" : "\n" + refusal));
    ++count;
  }
  archive = std::move(updated);
  return count;
}

}  // namespace TexturePack
