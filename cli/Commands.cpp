#include "cli/Commands.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <set>
#include <system_error>
#include <vector>

#include "archive/Archive.h"
#include "archive/BatchFiles.h"
#include "archive/ExportNames.h"
#include "archive/TexturePack.h"
#include "platform/Files.h"
#include "texture/PictureFiles.h"
#include "texture/Texture.h"
#include "texture/TextureDetails.h"

namespace fs = std::filesystem;
using namespace BatchFiles;

namespace cli {
namespace {

// One command's archive: opened as the editor opens it, with its rows as the editor lists
// them.
class Session {
 public:
  // The editor's Open. False (and said) when the reader refused.
  bool Open(const std::string& path) {
    Expected<Archive> opened = Archive::Open(path);
    if (!opened) {
      Say(opened.error().text);
      return false;
    }
    archive_ = std::move(*opened);
    // A list whose names stop early leaves the status as the editor set it before reading.
    status_ = archive_.LoadedStatus().value_or("Loading...");
    return true;
  }

  // The texture behind a list row, or nullptr (and a message) when the row is not listed.
  Texture* TextureOfRow(uint64_t row, const std::string& path) {
    const size_t listed = archive_.ListedCount();
    if (row < listed) return &archive_.Entries()[size_t(row)].texture;
    if (listed == 0) {
      Say("Row " + std::to_string(row) + " is not listed: " + path + " lists no entries.");
    } else {
      Say("Row " + std::to_string(row) + " is not listed: " + path + " lists rows 0 to " +
          std::to_string(listed - 1) + ".");
    }
    return nullptr;
  }

  Archive& archive() { return archive_; }
  const std::string& Status() const { return status_; }

 private:
  Archive archive_;
  std::string status_;
};

// The CLI speaks every line and every error on standard error.
const Voice kVoice{[](const std::string& line) { Say(line); }, [](const Error& error) { Say(error.text); }};

// A name as one field of a tab-separated line: control bytes (a tab or a line break would
// split the line) are shown as \xHH; every other byte is written as the archive holds it.
std::string Printable(const std::string& name) {
  std::string out;
  for (unsigned char c : name) {
    if (c < 0x20 || c == 0x7F) {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      out += escaped;
    } else {
      out += char(c);
    }
  }
  return out;
}

std::string SizeText(int64_t width, int64_t height) {
  return std::to_string(width) + "x" + std::to_string(height);
}

// The refusal for an output that exists when --force was not given.
bool RefuseExisting(const std::string& path) {
  if (!platform::FileExists(path)) return false;
  Say(path + " already exists. Use --force to replace it.");
  return true;
}

// The editor's Save: a backup first when asked for and none exists, then the archive
// written back in place. A failed backup stops before the archive is touched.
bool Save(Session& session, const std::string& archive, bool backup) {
  if (backup) {
    // A file name shorter than three characters would take the folder's name with it, so
    // no backup is named for it.
    const std::string backupPath = BackupPathOf(archive);
    const size_t kept = backupPath.size() - 3;
    const auto characters = std::count_if(archive.begin(), archive.end(),
                                          [](char c) { return (uint8_t(c) & 0xC0) != 0x80; });
    if (characters < 3 || archive.find('/', kept) != std::string::npos) {
      Say("Cannot name a backup of " + archive +
          ": its file name is shorter than three characters. The archive was not written.");
      return false;
    }
    // An existing backup keeps the older content, as in the editor.
    if (!platform::FileExists(backupPath)) {
      std::string error;
      if (!platform::CopyFile(archive, backupPath, error)) {
        Say(error + "\nNo backup was made, and the archive was not written.");
        return false;
      }
    }
  }
  if (const Failure failure = session.archive().Save(archive)) {
    Say(failure->text);
    return false;
  }
  return true;
}

std::string Plural(size_t count, const char* word) {
  return std::to_string(count) + " " + word + (count == 1 ? "" : "s");
}

// The palette of one row's texture, its note said; nullopt (and said) when it is refused.
std::optional<PaletteLookup::Found> PaletteOfRow(const PaletteLookup& lookup, const Archive& archive, uint64_t row) {
  const Archive::Entry& entry = archive.Entries()[size_t(row)];
  Expected<PaletteLookup::Found> found = lookup.For(entry.texture, entry.name);
  if (!found) {
    Say(found.error().text);
    return std::nullopt;
  }
  if (const std::string note = PaletteLookup::Note(entry.texture, *found, size_t(row)); !note.empty()) Say(note);
  return std::move(*found);
}

const BankColours* ColoursOf(const Texture& texture, const PaletteLookup::Found& found) {
  return texture.IsPalettized() ? &found.colours : nullptr;
}

}  // namespace

void Say(const std::string& text) {
  std::fprintf(stderr, "%s\n", text.c_str());
  std::fflush(stderr);
}

int ListCommand(const std::string& archive) {
  Session session;
  if (!session.Open(archive)) return kRefused;
  const Archive& a = session.archive();
  for (size_t row = 0; row < a.ListedCount(); ++row) {
    std::printf("%zu\t%s\n", row, Printable(a.Entries()[row].name).c_str());
  }
  std::printf("%s\n", session.Status().c_str());
  return kSuccess;
}

int InfoCommand(const std::string& archive, const PaletteOptions& palette) {
  Session session;
  if (!session.Open(archive)) return kRefused;
  const Archive& a = session.archive();
  const size_t listed = a.ListedCount();
  // Every palette is checked before the first line, so a refused one prints no half table.
  const PaletteLookup lookup(archive, palette.chosen);
  const std::optional<std::vector<PaletteLookup::Found>> palettes = ListedPalettes(a, &lookup, kVoice);
  if (!palettes) return kRefused;
  for (size_t row = 0; row < listed; ++row) {
    const Archive::Entry& entry = a.Entries()[row];
    const Texture& t = entry.texture;
    const TextureDetails::Details details = TextureDetails::Of(t);
    const std::string globalIndex = entry.globalIndex ? std::to_string(*entry.globalIndex) : "-";
    const std::string& paletteFile = (*palettes)[row].path;
    std::printf("%zu\t%s\t%s\t%u %s\t%u %s\t%ld\t%zu\t%zu\t%s\t%s\n", row, Printable(entry.name).c_str(),
                SizeText(t.width, t.height).c_str(), unsigned(t.pixelFormat),
                TextureDetails::PixelFormatName(t.pixelFormat).c_str(), unsigned(t.dataFormat),
                TextureDetails::DataFormatName(t.dataFormat).c_str(), long(t.length), details.mipLevels,
                details.codebookEntries, globalIndex.c_str(),
                paletteFile.empty() ? "none" : Printable(paletteFile).c_str());
  }
  for (size_t row = 0; row < listed; ++row) {
    const std::string note = PaletteLookup::Note(a.Entries()[row].texture, (*palettes)[row], row);
    if (!note.empty()) Say(note);
  }
  if (a.EntryCount() > listed) {
    Say("Note: the archive holds " + std::to_string(a.EntryCount() - listed) + " more textures after " +
        "the listed rows; a name field without an end stops the list, so they cannot be " +
        "exported or imported.");
  }
  return kSuccess;
}

int ExportCommand(const std::string& archive, uint64_t row, const std::string& image,
                  const std::string& mask, bool force, const PaletteOptions& palette) {
  Session session;
  if (!session.Open(archive)) return kRefused;
  const Texture* texture = session.TextureOfRow(row, archive);
  if (texture == nullptr) return kRefused;
  if (palette.indexed && !texture->IsPalettized()) {
    Say("The texture in row " + std::to_string(row) + " holds colours, not indices into a palette, so it has no " +
        "indexed PNG; export it without --indexed.");
    return kRefused;
  }
  if (!force) {
    // Both outputs are checked before either is written.
    const bool imageExists = RefuseExisting(image);
    const bool maskExists = !mask.empty() && RefuseExisting(mask);
    if (imageExists || maskExists) return kRefused;
  }
  const std::optional<PaletteLookup::Found> found =
      PaletteOfRow(PaletteLookup(archive, palette.chosen), session.archive(), row);
  if (!found) return kRefused;
  if (palette.indexed) return WriteIndexedExport(*texture, found->colours, image, kVoice) ? kSuccess : kRefused;
  const std::optional<Image> decoded = Decode(*texture, row, kVoice, ColoursOf(*texture, *found));
  if (!decoded) return kRefused;
  if (!WriteExport(*texture, *decoded, false, image, kVoice)) return kRefused;
  if (!mask.empty() && !WriteExport(*texture, *decoded, true, mask, kVoice)) return kRefused;
  return kSuccess;
}

int ExportAllCommand(const std::string& archive, const std::string& folder, bool force,
                     FileFormat format, const PaletteOptions& palette) {
  Session session;
  if (!session.Open(archive)) return kRefused;
  if (!force) {
    bool anyExists = false;
    for (const std::string& path : ExportPaths(ListedNames(session.archive()), folder, format))
      anyExists |= RefuseExisting(path);
    if (anyExists) return kRefused;
  }
  const PaletteLookup lookup(archive, palette.chosen);
  const Result result = ExportAll(session.archive(), folder, format, kVoice, nullptr, &lookup);
  if (result.outcome == Outcome::kRefused) return kRefused;
  std::printf("Exported %s to %s\n", Plural(result.count, "texture").c_str(), folder.c_str());
  return result.outcome == Outcome::kDone ? kSuccess : kRefused;
}

namespace {

// The backup of a palette file: its whole name followed by ".BAK", so that it never takes the
// name of the archive's own backup (sample.pvm and sample.pvp would both give sample.BAK).
std::string PaletteBackupPathOf(const std::string& path) { return path + ".BAK"; }

// import --new-palette: a palette made from the picture, in the colour format of the one
// found, holding the bank the texture reads; the picture imported through it; then the
// palette written, then the archive. A palette file replaced is put back when the archive
// cannot be written, and a new one removed.
int ImportThroughNewPalette(Session& session, const std::string& archive, uint64_t row, const std::string& image,
                            const std::string& mask, bool backup, SizeChoice size,
                            const PaletteLookup::Found& found, const std::string& output) {
  // The palette written over the archive or the picture would lose one or the other.
  const auto same = [](const std::string& a, const std::string& b) {
    std::error_code ea, eb;
    const fs::path pa = fs::weakly_canonical(a, ea), pb = fs::weakly_canonical(b, eb);
    return a == b || (!ea && !eb && pa == pb);
  };
  for (const std::string& input : {archive, image, mask}) {
    if (!input.empty() && same(output, input)) {
      Say("Nothing was imported: the new palette cannot go to " + output + ", which is an input of this import.");
      return kRefused;
    }
  }
  Texture& texture = session.archive().Entries()[size_t(row)].texture;
  const Expected<PictureFiles::Picture> picture = PictureFiles::Read(image, mask);
  if (!picture) {
    Say(picture.error().text);
    return kRefused;
  }
  const int bits = texture.IndexBits();
  Palette made = Palette::FromPicture(picture->image, found.colourFormat, bits);
  // The game picks the bank, so the colours go where that bank lies in palette memory.
  made.firstColour = uint16_t(size_t(found.bank) << bits);
  const Expected<BankColours> bank = made.Bank(found.bank, bits);
  if (!bank) {
    Say("Nothing was imported: " + bank.error().text);
    return kRefused;
  }
  if (!ImportInto(texture, row, image, mask, kVoice, size, &*bank)) return kRefused;

  std::vector<uint8_t> before;
  std::string error;
  const bool existed = platform::FileExists(output);
  if (existed) {
    if (!platform::ReadWholeFile(output, before, error, uint64_t{1} << 30)) {
      Say(output + "\n\nThis file could not be read.\n" + error + "\nNothing was written.");
      return kRefused;
    }
    const std::string backupPath = PaletteBackupPathOf(output);
    if (backup && !platform::FileExists(backupPath) && !platform::CopyFile(output, backupPath, error)) {
      Say(error + "\nNo backup was made, and nothing was written.");
      return kRefused;
    }
  }
  if (const Failure failure = made.Write(output)) {
    Say(failure->text);
    return kRefused;
  }
  if (!Save(session, archive, backup)) {
    std::string undoError;
    std::error_code removeError;
    const bool undone = existed ? platform::ReplaceFile(output, before, undoError)
                                : fs::remove(output, removeError) || !platform::FileExists(output);
    if (removeError) undoError = removeError.message();
    Say(undone ? output + " was put back as it was." : output + " holds the new palette: " + undoError);
    return kRefused;
  }
  Say("Wrote the new palette " + output + ".");
  return kSuccess;
}

}  // namespace

int ImportCommand(const std::string& archive, uint64_t row, const std::string& image,
                  const std::string& mask, bool backup, SizeChoice size, const PaletteOptions& palette) {
  Session session;
  if (!session.Open(archive)) return kRefused;
  Texture* texture = session.TextureOfRow(row, archive);
  if (texture == nullptr) return kRefused;
  if (RefuseWithoutCodec(*texture, row, "Nothing was imported: ", kVoice)) return kRefused;
  if (!palette.newPalette.empty() && !texture->IsPalettized()) {
    Say("Nothing was imported: the texture in row " + std::to_string(row) + " holds colours, not indices into a " +
        "palette, so --new-palette has nothing to make.");
    return kRefused;
  }
  std::optional<PaletteLookup::Found> found =
      PaletteOfRow(PaletteLookup(archive, palette.chosen), session.archive(), row);
  if (!found) return kRefused;
  if (palette.newPalette.empty()) {
    if (!ImportInto(*texture, row, image, mask, kVoice, size, ColoursOf(*texture, *found))) return kRefused;
    return Save(session, archive, backup) ? kSuccess : kRefused;
  }
  return ImportThroughNewPalette(session, archive, row, image, mask, backup, size, *found, palette.newPalette);
}

int ImportAllCommand(const std::string& archive, const std::string& folder, bool backup,
                     FileFormat format, SizeChoice size, const PaletteOptions& palette) {
  Session session;
  if (!session.Open(archive)) return kRefused;
  const PaletteLookup lookup(archive, palette.chosen);
  const Result result = ImportAll(session.archive(), folder, format, archive, kVoice, nullptr, size, &lookup);
  if (result.outcome != Outcome::kDone) return kRefused;
  if (!Save(session, archive, backup)) return kRefused;
  std::printf("Imported %s into %s\n", Plural(result.count, "texture").c_str(), archive.c_str());
  return kSuccess;
}

// ---- Changing an archive's entries ------------------------------------------------------

namespace {

bool Refuse(const Failure& failure) {
  if (failure) Say(failure->text);
  return failure.has_value();
}

// Notes what another row shares with the entry in `row`: the game then finds only one.
void NoteShared(const Archive& archive, size_t row) {
  for (const std::string& note : SharedNotes(archive, row)) Say(note);
}

// Whether a re-encoding from one format to another keeps less of the picture.
bool Lossy(const Texture& from, const Texture& to) {
  // Bits of A, R, G and B by pixel format; a 32-bit raster keeps 8 of each whatever its
  // pixel-format byte says, and YUV422 shares its colour between two pixels.
  static constexpr int kBits[PvrFormat::kPixelFormatCount][4] = {
      {1, 5, 5, 5}, {0, 5, 6, 5}, {4, 4, 4, 4}, {0, 8, 8, 8}, {0, 8, 8, 8}, {0, 5, 5, 5}};
  const auto bits = [](const Texture& t, int c) {
    return t.dataFormat == PvrFormat::kRaster32 || t.pixelFormat >= PvrFormat::kPixelFormatCount ? 8
                                                                                             : kBits[t.pixelFormat][c];
  };
  const auto yuv = [](const Texture& t) {
    return t.pixelFormat == PvrFormat::kYUV422 && t.dataFormat != PvrFormat::kRaster32;
  };
  const auto vq = [](uint8_t f) { return f == 3 || f == 4 || f == 16 || f == 17; };
  if (vq(to.dataFormat) || (yuv(to) && !yuv(from))) return true;
  for (int c = 0; c < 4; ++c)
    if (bits(to, c) < bits(from, c)) return true;
  return false;
}

}  // namespace

int NewCommand(const std::string& archive, bool force) {
  if (!force && RefuseExisting(archive)) return kRefused;
  return Refuse(Archive::New().Save(archive)) ? kRefused : kSuccess;
}

int AddCommand(const std::string& archive, const std::vector<std::string>& files, const AddOptions& options,
               bool backup) {
  Session session;
  if (!session.Open(archive)) return kRefused;
  Archive& a = session.archive();
  uint64_t at = options.at.value_or(a.EntryCount());
  if (at > a.EntryCount()) {
    Say("Row " + std::to_string(at) + " is past the end: " + archive + " has " + std::to_string(a.EntryCount()) +
        " entries, so a texture goes in at rows 0 to " + std::to_string(a.EntryCount()) + ".");
    return kRefused;
  }
  for (const std::string& file : files) {
    Expected<Archive::Entry> entry = EntryFromFile(file, options.formats);
    if (!entry) {
      Say(entry.error().text);
      return kRefused;
    }
    if (options.name) entry->name = *options.name;
    if (options.globalIndex) entry->globalIndex = *options.globalIndex;
    if (Refuse(a.Insert(size_t(at), std::move(*entry), archive))) return kRefused;
    NoteShared(a, size_t(at));
    ++at;
  }
  if (!Save(session, archive, backup)) return kRefused;
  std::printf("Added %s to %s\n", Plural(files.size(), "texture").c_str(), archive.c_str());
  return kSuccess;
}

int RemoveCommand(const std::string& archive, const std::vector<uint64_t>& rows, bool backup) {
  Session session;
  if (!session.Open(archive)) return kRefused;
  for (uint64_t row : rows)
    if (session.TextureOfRow(row, archive) == nullptr) return kRefused;
  // From the last row up, so that each row still names the entry it named.
  const std::set<uint64_t> unique(rows.begin(), rows.end());
  for (auto it = unique.rbegin(); it != unique.rend(); ++it)
    if (Refuse(session.archive().Remove(size_t(*it)))) return kRefused;
  return Save(session, archive, backup) ? kSuccess : kRefused;
}

int RenameCommand(const std::string& archive, uint64_t row, const std::string& name, bool backup) {
  Session session;
  if (!session.Open(archive) || session.TextureOfRow(row, archive) == nullptr) return kRefused;
  if (Refuse(session.archive().Rename(size_t(row), name))) return kRefused;
  NoteShared(session.archive(), size_t(row));
  return Save(session, archive, backup) ? kSuccess : kRefused;
}

int MoveCommand(const std::string& archive, uint64_t row, uint64_t to, bool backup) {
  Session session;
  if (!session.Open(archive) || session.TextureOfRow(row, archive) == nullptr ||
      session.TextureOfRow(to, archive) == nullptr)
    return kRefused;
  if (Refuse(session.archive().Move(size_t(row), size_t(to)))) return kRefused;
  return Save(session, archive, backup) ? kSuccess : kRefused;
}

int SetGlobalIndexCommand(const std::string& archive, uint64_t row, uint32_t globalIndex, bool backup) {
  Session session;
  if (!session.Open(archive) || session.TextureOfRow(row, archive) == nullptr) return kRefused;
  if (Refuse(session.archive().SetGlobalIndex(size_t(row), globalIndex))) return kRefused;
  NoteShared(session.archive(), size_t(row));
  return Save(session, archive, backup) ? kSuccess : kRefused;
}

int ConvertCommand(const std::string& archive, uint64_t row, const FormatChoice::Choice& formats, bool backup) {
  Session session;
  if (!session.Open(archive)) return kRefused;
  const Texture* texture = session.TextureOfRow(row, archive);
  if (texture == nullptr) return kRefused;
  Expected<Texture> converted = FormatChoice::Convert(*texture, formats);
  if (!converted) {
    Say("Nothing was converted: " + converted.error().text);
    return kRefused;
  }
  if (Lossy(*texture, *converted)) {
    Say("Note: " + TextureDetails::PixelFormatName(converted->pixelFormat) + " " +
        TextureDetails::DataFormatName(converted->dataFormat) + " keeps less than the texture in row " +
        std::to_string(row) + " had, so a little of its picture is lost.");
  }
  if (Refuse(session.archive().Replace(size_t(row), std::move(*converted)))) return kRefused;
  return Save(session, archive, backup) ? kSuccess : kRefused;
}

int ExtractCommand(const std::string& archive, uint64_t row, const std::string& output, bool force) {
  Session session;
  if (!session.Open(archive) || session.TextureOfRow(row, archive) == nullptr) return kRefused;
  if (!force && RefuseExisting(output)) return kRefused;
  Expected<std::vector<uint8_t>> file = session.archive().ExtractPvr(size_t(row));
  if (!file) {
    Say(file.error().text);
    return kRefused;
  }
  std::string error;
  if (!platform::ReplaceFile(output, *file, error)) {
    Say(output + "\n\nThis file could not be written.\n" + error);
    return kRefused;
  }
  return kSuccess;
}

// ---- Texture packs ---------------------------------------------------------------------------

int UnpackCommand(const std::string& archive, const std::string& pack, bool force, const PaletteOptions& palette) {
  Session session;
  if (!session.Open(archive)) return kRefused;
  if (!force) {
    bool anyExists = false;
    if (fs::path(pack).extension() == ".pvmx") anyExists = RefuseExisting(pack);
    else
      for (const std::string& path : TexturePack::FolderFiles(session.archive(), pack)) anyExists |= RefuseExisting(path);
    if (anyExists) return kRefused;
  }
  const PaletteLookup lookup(archive, palette.chosen);
  const Expected<size_t> written = TexturePack::Write(session.archive(), pack, kVoice, &lookup);
  if (!written) {
    Say(written.error().text);
    return kRefused;
  }
  std::printf("Unpacked %s to %s\n", Plural(*written, "texture").c_str(), pack.c_str());
  return kSuccess;
}

namespace {

// A pack read whole, its notes said; nullopt (and said) when it is refused.
std::optional<TexturePack::Pack> ReadPack(const std::string& pack) {
  std::vector<std::string> notes;
  Expected<TexturePack::Pack> read = TexturePack::Read(pack, notes);
  for (const std::string& note : notes) Say(note);
  if (read) return std::move(*read);
  Say(read.error().text);
  return std::nullopt;
}

}  // namespace

int PackCommand(const std::string& pack, const std::string& archive, const FormatChoice::Choice& formats,
                bool keepPictureSize, bool force) {
  if (!force && RefuseExisting(archive)) return kRefused;
  const std::optional<TexturePack::Pack> read = ReadPack(pack);
  if (!read) return kRefused;
  const Expected<Archive> made = TexturePack::MakeArchive(*read, formats, keepPictureSize, archive, kVoice);
  if (!made) {
    Say(made.error().text);
    return kRefused;
  }
  if (Refuse(made->Save(archive))) return kRefused;
  std::printf("Packed %s into %s\n", Plural(made->EntryCount(), "texture").c_str(), archive.c_str());
  return kSuccess;
}

int ImportPackCommand(const std::string& archive, const std::string& pack, SizeChoice size, bool add, bool backup) {
  Session session;
  if (!session.Open(archive)) return kRefused;
  const std::optional<TexturePack::Pack> read = ReadPack(pack);
  if (!read) return kRefused;
  const Expected<size_t> imported = TexturePack::Update(session.archive(), *read, size, add, archive, kVoice);
  if (!imported) {
    Say(imported.error().text);
    return kRefused;
  }
  if (!Save(session, archive, backup)) return kRefused;
  std::printf("Imported %s into %s\n", Plural(*imported, "texture").c_str(), archive.c_str());
  return kSuccess;
}

}  // namespace cli
