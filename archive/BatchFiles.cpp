#include "archive/BatchFiles.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <filesystem>
#include <set>
#include <system_error>
#include <utility>

#include "archive/Archive.h"
#include "archive/ExportNames.h"
#include "platform/Files.h"
#include "texture/DataFormats.h"
#include "texture/FormatChoice.h"
#include "texture/PngFile.h"
#include "texture/Texture.h"

namespace fs = std::filesystem;

namespace BatchFiles {
namespace {

std::string SizeText(int64_t width, int64_t height) {
  return std::to_string(width) + "x" + std::to_string(height);
}

std::string FormatsText(const Texture& t) {
  return "pixel format " + std::to_string(t.pixelFormat) + ", data format " + std::to_string(t.dataFormat) +
         ", " + SizeText(t.width, t.height);
}

std::string FormatsAndLengthText(const Texture& t) {
  return FormatsText(t) + ", " + std::to_string(t.data.size()) + " data bytes";
}

// A texture of a format the codec knows whose data ends before its layout does.
std::string ShortDataText(const Texture& t) {
  return "holds " + std::to_string(t.data.size()) + " data bytes where its format (" + FormatsText(t) +
         ") needs " + std::to_string(t.DataBytesNeeded());
}

std::string PathIn(const std::string& folder, const std::string& file) {
  return (fs::path(folder) / file).string();
}

// The textures an import-all changed, put back as they were when it does not finish.
class TextureSnapshots {
 public:
  void Keep(size_t row, Texture& texture) { kept_.push_back({row, &texture, texture}); }

  void Restore() {
    for (Kept& kept : kept_) *kept.texture = std::move(kept.before);
    kept_.clear();
  }

  // Each row kept and what it held, once the batch stands.
  std::vector<std::pair<size_t, Texture>> Take() {
    std::vector<std::pair<size_t, Texture>> taken;
    taken.reserve(kept_.size());
    for (Kept& kept : kept_) taken.emplace_back(kept.row, std::move(kept.before));
    kept_.clear();
    return taken;
  }

 private:
  struct Kept {
    size_t row;
    Texture* texture;
    Texture before;
  };
  std::vector<Kept> kept_;
};

}  // namespace

std::optional<Image> Decode(const Texture& texture, size_t row, const Voice& voice, const BankColours* colours) {
  std::optional<Image> decoded = texture.Decode(colours);
  if (decoded) {
    const std::string note = "Note: the texture in row " + std::to_string(row) + " ";
    if (!texture.Decodes()) {
      voice.say(note + "is stored in a format Quarnel does not decode (" + FormatsAndLengthText(texture) +
                "); what it cannot decode is black.");
    } else if (texture.data.size() < texture.DataBytesNeeded()) {
      voice.say(note + ShortDataText(texture) + "; what it lacks is black.");
    }
    return decoded;
  }
  voice.say("The texture in row " + std::to_string(row) + " cannot be decoded: it is " +
            SizeText(texture.width, texture.height) + " texels with " + std::to_string(texture.data.size()) +
            " data bytes.");
  return std::nullopt;
}

bool WriteExport(const Texture& texture, const Image& decoded, bool mask, const std::string& path,
                 const Voice& voice) {
  using PictureFiles::Export;
  const Export kind = PictureFiles::NamesPng(path) ? Export::Png : mask ? Export::BmpMask : Export::BmpImage;
  // A palettized texture's alpha comes from its palette, whatever its pixel-format byte says.
  const bool alpha = texture.IsPalettized() || texture.HasAlphaBits();
  const Failure failure = PictureFiles::Write(path, decoded, kind, alpha, texture.bitmapResolution[mask ? 1 : 0]);
  if (failure) voice.show(*failure);
  return !failure;
}

bool WriteIndexedExport(const Texture& texture, const BankColours& colours, const std::string& path,
                        const Voice& voice) {
  std::optional<std::vector<uint8_t>> indices = texture.Indices();
  if (!texture.IsPalettized() || !indices) {
    voice.show({"Whoops", path + "\n\nOnly a palettized texture that Quarnel decodes can be written as an indexed PNG.",
                Icon::Exclamation});
    return false;
  }
  PngFile::IndexedPicture picture;
  picture.Width = uint32_t(texture.width);
  picture.Height = uint32_t(texture.height);
  picture.Indices = std::move(*indices);
  picture.Palette.assign(colours.rgba.begin(), colours.rgba.begin() + 4 * colours.Entries());
  std::vector<uint8_t> file;
  std::string error = "There is not enough memory to encode it.";
  if (PngFile::WriteIndexed(picture, file) && platform::ReplaceFile(path, file, error)) return true;
  voice.show({"Whoops", path + "\n\nThis file could not be written.\n" + error, Icon::Critical});
  return false;
}

std::optional<bool> ImportIndices(Texture& texture, const std::string& image, const BankColours& colours) {
  if (!texture.IsPalettized() || !PictureFiles::NamesPng(image)) return std::nullopt;
  std::vector<uint8_t> file;
  std::string error;
  const uint64_t texels = uint64_t(texture.width) * uint64_t(texture.height);
  // An indexed PNG of the texture's size takes a byte a pixel; anything larger is another
  // picture, read by colour (and refused there, with the reason).
  if (!platform::ReadWholeFile(image, file, error, uint64_t{1} << 30)) return std::nullopt;
  PngFile::IndexedPicture picture;
  if (PngFile::ReadIndexed(file, 4 * texels, picture) != PngFile::Fault::None) return std::nullopt;
  if (picture.Width != uint32_t(texture.width) || picture.Height != uint32_t(texture.height)) return std::nullopt;
  const size_t count = picture.Palette.size() / 4;
  if (count > colours.Entries() ||
      !std::equal(picture.Palette.begin(), picture.Palette.end(), colours.rgba.begin()))
    return std::nullopt;
  if (std::any_of(picture.Indices.begin(), picture.Indices.end(), [&](uint8_t i) { return i >= count; }))
    return std::nullopt;
  return texture.EncodeIndices(picture.Indices, colours);
}

std::string WhyNotEncoded(const Texture& texture) {
  if (texture.Encodes()) return {};
  // Formats Quarnel knows, in a combination or at a width it refuses: say which rule.
  const std::string formats = " (" + FormatsText(texture) + ")";
  const bool raster = texture.dataFormat == PvrFormat::kRaster32;
  if (!raster && texture.pixelFormat == PvrFormat::kBumpMap)
    return "is a bump map" + formats + ", which Quarnel shows as a normal map but does not encode";
  if (!raster && texture.pixelFormat == PvrFormat::kYUV422 && texture.width % 2 != 0)
    return "is YUV422 with an odd width" + formats +
           ", which Quarnel neither shows nor encodes: YUV422 texels come in pairs, two pixels side by side";
  if (!raster && texture.pixelFormat == PvrFormat::kYUV422 && texture.Decodes() &&
      DataFormats::LayoutOf(texture.dataFormat, texture.width, texture.height).IsVq())
    return "is YUV422 in VQ" + formats +
           ", which Quarnel shows but does not encode: its codebooks are built texel by texel, and YUV422 texels "
           "come in pairs";
  if ((texture.dataFormat == PvrFormat::kStride || texture.dataFormat == PvrFormat::kStride12) && !texture.Decodes())
    return "is a stride texture " + std::to_string(texture.width) + " pixels wide" + formats +
           ", which Quarnel neither shows nor encodes: a stride texture's width is a multiple of 32, from 32 to 992";
  if (texture.Decodes()) return ShortDataText(texture);
  return "is stored in a format Quarnel does not encode (" + FormatsAndLengthText(texture) + ")";
}

bool RefuseWithoutCodec(const Texture& texture, size_t row, const std::string& prefix, const Voice& voice) {
  const std::string why = WhyNotEncoded(texture);
  if (why.empty()) return false;
  voice.say(prefix + "the texture in row " + std::to_string(row) + " " + why + " and was left as it is.");
  return true;
}

std::optional<bool> ImportInto(Texture& texture, size_t row, const std::string& image, const std::string& mask,
                               const Voice& voice, SizeChoice size, const BankColours* colours) {
  if (texture.IsPalettized()) {
    const BankColours bank = colours ? *colours : BankColours::Greys(texture.IndexBits());
    if (const std::optional<bool> changed = ImportIndices(texture, image, bank)) return changed;
  }
  Expected<PictureFiles::Picture> picture = PictureFiles::Read(image, mask);
  if (!picture) {
    voice.show(picture.error());
    return std::nullopt;
  }
  return ImportPicture(texture, row, std::move(*picture), image, voice, size, colours);
}

std::optional<bool> ImportPicture(Texture& texture, size_t row, PictureFiles::Picture picture,
                                  const std::string& image, const Voice& voice, SizeChoice size,
                                  const BankColours* colours) {
  const std::optional<Imported> imported =
      ImportPictureKeeping(texture, row, std::move(picture), image, voice, size, colours);
  if (!imported) return std::nullopt;
  return imported->changed;
}

std::optional<Imported> ImportPictureKeeping(Texture& texture, size_t row, PictureFiles::Picture picture,
                                             const std::string& image, const Voice& voice, SizeChoice size,
                                             const BankColours* colours) {
  Image pixels = std::move(picture.image);
  const bool otherSize = pixels.width != texture.width || pixels.height != texture.height;
  if (otherSize && size == SizeChoice::Picture) {
    // A picture of its own size brings every texel, so where it has no alpha it is opaque.
    Expected<Texture> resized = FormatChoice::Make(pixels, {texture.pixelFormat, texture.dataFormat, std::nullopt});
    if (!resized) {
      voice.say("Nothing was imported: " + image + " is " + SizeText(pixels.width, pixels.height) + " pixels, and " +
                resized.error().text);
      return std::nullopt;
    }
    resized->bitmapResolution = texture.bitmapResolution;
    texture = std::move(*resized);
  } else if (otherSize && size == SizeChoice::Scale) {
    std::optional<Image> scaled = FormatChoice::Scale(pixels, texture.width, texture.height);
    if (!scaled) {
      voice.say("Nothing was imported: " + image + " could not be scaled to " + SizeText(texture.width, texture.height) +
                ".");
      return std::nullopt;
    }
    pixels = std::move(*scaled);
  } else if (otherSize) {
    voice.say("Note: " + image + " is " + SizeText(pixels.width, pixels.height) + " pixels but the texture in row " +
              std::to_string(row) + " is " + SizeText(texture.width, texture.height) +
              "; the texture keeps its size.");
  }
  if (picture.imageResolution) texture.bitmapResolution[0] = *picture.imageResolution;
  if (picture.maskResolution) texture.bitmapResolution[1] = *picture.maskResolution;
  if (otherSize && size == SizeChoice::Picture) return Imported{true, std::move(pixels)};
  std::optional<Image> fitted = texture.Fit(pixels, picture.hasAlpha);
  if (!fitted) return Imported{false, {}};
  if (!texture.IsPalettized()) {
    const bool changed = texture.Encode(*fitted);
    return Imported{changed, std::move(*fitted)};
  }
  // Without a palette the texture shows greys, and its import is mapped to the same greys.
  const BankColours bank = colours ? *colours : BankColours::Greys(texture.IndexBits());
  // Fit keeps the alpha of the texels as the texture shows them without its palette; a
  // picture without alpha keeps what the palette shows instead.
  if (!picture.hasAlpha) {
    if (const std::optional<Image> shown = texture.Decode(&bank))
      for (size_t at = 3; at < fitted->rgba.size() && at < shown->rgba.size(); at += 4) fitted->rgba[at] = shown->rgba[at];
  }
  const bool changed = texture.Encode(*fitted, &bank);
  return Imported{changed, std::move(*fitted)};
}

namespace {

bool HoldsTextures(const std::string& path) {
  std::string extension = fs::path(path).extension().string();
  for (char& c : extension) c = char(std::tolower(static_cast<unsigned char>(c)));
  if (extension == ".pvr" || extension == ".pvm") return true;
  platform::FileReader file;
  std::array<uint8_t, 4> magic{};
  std::string error;
  if (!file.Open(path, error) || file.Size() < magic.size() || !file.ReadAt(0, magic, error)) return false;
  const std::string text(magic.begin(), magic.end());
  return text == "PVRT" || text == "GBIX" || text == "GCIX" || text == "PVMH";
}

}  // namespace

Expected<Archive::Entry> EntryFromFile(const std::string& path, const FormatChoice::Choice& formats) {
  const std::string stem = fs::path(path).stem().string();
  if (HoldsTextures(path)) {
    std::vector<uint8_t> bytes;
    std::string error;
    if (!platform::ReadWholeFile(path, bytes, error, uint64_t{1} << 30))
      return Error{"Whoops", path + "\n\nThis file could not be read.\n" + error, Icon::Critical};
    Expected<Archive::Entry> entry = Archive::FromPvr(bytes, path);
    if (entry) entry->name = stem;
    return entry;
  }
  std::string mask;
  if (!PictureFiles::NamesPng(path)) {
    const std::string beside = (fs::path(path).parent_path() / (stem + "_mask.bmp")).string();
    if (platform::FileExists(beside)) mask = beside;
  }
  Expected<PictureFiles::Picture> picture = PictureFiles::Read(path, mask);
  if (!picture) return picture.error();
  Expected<Texture> texture = FormatChoice::Make(picture->image, formats);
  if (!texture) return Error{"", path + ": " + texture.error().text, Icon::Exclamation};
  Archive::Entry entry;
  entry.name = stem;
  entry.texture = std::move(*texture);
  return entry;
}

std::vector<std::string> SharedNotes(const Archive& archive, size_t row) {
  std::vector<std::string> notes;
  const Archive::Entry& entry = archive.Entries()[row];
  if (archive.NameTaken(entry.name, row)) notes.push_back("Note: another entry is named \"" + entry.name + "\" too.");
  if (entry.globalIndex && archive.GlobalIndexTaken(*entry.globalIndex, row))
    notes.push_back("Note: another entry has the global index " + std::to_string(*entry.globalIndex) + " too.");
  return notes;
}

std::vector<std::string> ListedNames(const Archive& archive) {
  std::vector<std::string> names;
  for (size_t row = 0; row < archive.ListedCount(); ++row) names.push_back(archive.Entries()[row].name);
  return names;
}

std::vector<std::string> ExportPaths(const std::vector<std::string>& listedNames,
                                     const std::string& folder, FileFormat format) {
  std::vector<std::string> paths;
  for (const std::string& base : ExportBaseNames(listedNames)) {
    if (format == FileFormat::Png) {
      paths.push_back(PathIn(folder, PngFileName(base)));
      continue;
    }
    paths.push_back(PathIn(folder, ImageFileName(base)));
    paths.push_back(PathIn(folder, MaskFileName(base)));
  }
  return paths;
}

std::optional<std::vector<PaletteLookup::Found>> ListedPalettes(const Archive& archive,
                                                               const PaletteLookup* palettes,
                                                               const Voice& voice) {
  std::vector<PaletteLookup::Found> found(archive.ListedCount());
  for (size_t row = 0; palettes != nullptr && row < found.size(); ++row) {
    const Archive::Entry& entry = archive.Entries()[row];
    Expected<PaletteLookup::Found> palette = palettes->For(entry.texture, entry.name);
    if (!palette) {
      voice.say(palette.error().text);
      return std::nullopt;
    }
    found[row] = std::move(*palette);
  }
  return found;
}

namespace {

// What a palettized texture's batch step reads its indices through; nullptr for the others.
const BankColours* ColoursOf(const Texture& texture, const PaletteLookup::Found& found) {
  return texture.IsPalettized() ? &found.colours : nullptr;
}

}  // namespace

Result ExportAll(const Archive& archive, const std::string& folder, FileFormat format, const Voice& voice,
                 const Progress& progress, const PaletteLookup* palettes) {
  const std::optional<std::vector<PaletteLookup::Found>> found = ListedPalettes(archive, palettes, voice);
  if (!found) return {Outcome::kRefused, 0};
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (!fs::is_directory(folder)) {
    voice.say("Cannot create the folder " + folder + (ec ? ": " + ec.message() : "") + ".");
    return {Outcome::kRefused, 0};
  }
  const std::vector<std::string> names = ListedNames(archive);
  const std::vector<std::string> paths = ExportPaths(names, folder, format);
  const size_t filesPerRow = format == FileFormat::Png ? 1 : 2;

  Result result;
  for (size_t row = 0; row < names.size(); ++row) {
    if (progress && !progress(row, names.size())) return {Outcome::kCancelled, result.count};
    const Texture& texture = archive.Entries()[row].texture;
    // A texture that cannot be decoded is skipped; the others are still worth having.
    if (const std::string note = PaletteLookup::Note(texture, (*found)[row], row); !note.empty()) voice.say(note);
    const std::optional<Image> decoded = Decode(texture, row, voice, ColoursOf(texture, (*found)[row]));
    if (!decoded) {
      result.outcome = Outcome::kSomeSkipped;
      continue;
    }
    for (size_t file = 0; file < filesPerRow; ++file) {
      if (!WriteExport(texture, *decoded, file == 1, paths[filesPerRow * row + file], voice))
        return {Outcome::kRefused, result.count};
    }
    ++result.count;
  }
  return result;
}

Result ImportAll(Archive& archive, const std::string& folder, FileFormat format, const std::string& archiveName,
                 const Voice& voice, const Progress& progress, SizeChoice size, const PaletteLookup* palettes) {
  if (!fs::is_directory(folder)) {
    voice.say(folder + " is not a folder.");
    return {Outcome::kRefused, 0};
  }
  const std::optional<std::vector<PaletteLookup::Found>> found = ListedPalettes(archive, palettes, voice);
  if (!found) {
    voice.say("Nothing was imported; " + archiveName + " was not written.");
    return {Outcome::kRefused, 0};
  }
  const std::vector<std::string> bases = ExportBaseNames(ListedNames(archive));
  const bool png = format == FileFormat::Png;
  const std::string extension = png ? ".png" : ".bmp";
  std::set<std::string> claimed;  // file names in the folder that lead to a row
  std::set<std::string> maskNames;
  if (!png) {
    for (const std::string& base : bases) maskNames.insert(MaskFileName(base));
  }

  TextureSnapshots snapshots;
  Result result;
  for (size_t row = 0; row < bases.size(); ++row) {
    const std::string imageFile = png ? PngFileName(bases[row]) : ImageFileName(bases[row]);
    const std::string maskFile = MaskFileName(bases[row]);
    if (!platform::FileExists(PathIn(folder, imageFile))) continue;
    claimed.insert(imageFile);
    const bool withMask = !png && platform::FileExists(PathIn(folder, maskFile));
    if (withMask) claimed.insert(maskFile);

    if (progress && !progress(row, bases.size())) {
      snapshots.Restore();
      return {Outcome::kCancelled, 0};
    }
    Texture& texture = archive.Entries()[row].texture;
    if (RefuseWithoutCodec(texture, row, "Note: " + imageFile + " was not imported: ", voice)) continue;
    snapshots.Keep(row, texture);
    if (!ImportInto(texture, row, PathIn(folder, imageFile), withMask ? PathIn(folder, maskFile) : "", voice, size,
                    ColoursOf(texture, (*found)[row]))) {
      voice.say("Nothing was imported; " + archiveName + " was not written.");
      snapshots.Restore();
      return {Outcome::kRefused, 0};
    }
    ++result.count;
  }
  result.replaced = snapshots.Take();

  // Files that look like ours but lead nowhere are most likely renamed by hand: say so
  // rather than drop them silently.
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (!name.ends_with(extension) || claimed.count(name) != 0 || !platform::FileExists(it->path().string())) {
      continue;
    }
    const bool lonelyMask = maskNames.count(name) != 0;
    voice.say("Note: " + name + (lonelyMask ? " has no image file beside it" : " matches no entry") +
              " and was not imported.");
  }

  if (result.count == 0) {
    voice.say("No texture files of " + archiveName + " were found in " + folder + "; the archive was not written.");
    return {Outcome::kRefused, 0};
  }
  return result;
}

}  // namespace BatchFiles
