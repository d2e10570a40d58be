#include "kit/Replay.h"

#include <algorithm>
#include <string>
#include <vector>

#include "archive/Archive.h"
#include "kit/Files.h"
#include "texture/Palette.h"
#include "texture/PictureFiles.h"
#include "texture/PngFile.h"
#include "texture/Texture.h"

namespace harness {
namespace {

using testkit::ReadBytes;
using testkit::WriteBytes;

// This process's folder, in memory where it can be, since every save flushes its file.
std::string Scratch(const std::string& name) {
  static const testkit::ScratchFolder folder(true);
  return folder / name;
}

// A refusal a modder can read: a title (or the program's own) and a text.
bool Told(const Error& error) { return !error.text.empty(); }

// Everything of an entry that a save and a reopening keep. A chunk's magic is not: an
// archive writes "PVRT" whatever it read.
struct Kept {
  std::string name;
  std::optional<uint32_t> globalIndex;
  std::vector<uint8_t> indexChunk, data;
  int32_t length;
  uint8_t pixelFormat, dataFormat;
  int16_t width, height;
  bool operator==(const Kept&) const = default;
};

std::vector<Kept> KeptOf(const Archive& archive) {
  std::vector<Kept> kept;
  for (const Archive::Entry& e : archive.Entries()) {
    const Texture& t = e.texture;
    kept.push_back({e.name, e.globalIndex, e.indexChunk, {t.data.begin(), t.data.end()}, t.length, t.pixelFormat,
                    t.dataFormat, t.width, t.height});
  }
  return kept;
}

// A chunk whose length counts the whole chunk holds the next chunk's magic and length as its
// last 8 data bytes; the save writes that header over them, so the magic comes back "PVRT".
bool SameAfterSave(Kept saved, const Kept& read) {
  if (saved == read) return true;
  if (saved.data.size() < 8) return false;
  std::copy_n("PVRT", 4, saved.data.end() - 8);
  return saved == read;
}

// Whether a decoded picture is whole and of the texture's size.
bool WholePicture(const Image& image, const Texture& t) {
  return image.width == t.width && image.height == t.height &&
         image.rgba.size() == size_t(image.width) * size_t(image.height) * 4;
}

}  // namespace

Outcome RunArchive(std::span<const uint8_t> bytes) {
  Outcome outcome;
  const std::string path = Scratch("archive.pvm");
  if (!WriteBytes(path, bytes)) return outcome;  // scratch trouble is not the core's fault

  Expected<Archive> read = Archive::Read(bytes, path);
  Expected<Archive> opened = Archive::Open(path);
  outcome.accepted = opened.has_value();
  if (read.has_value() != opened.has_value()) {
    outcome.fault = "the same bytes were taken from memory and refused from a file, or the reverse";
    return outcome;
  }
  if (!opened) {
    outcome.told = Told(opened.error());
    if (!outcome.told) outcome.fault = "the archive was refused without words";
    else if (!(read.error() == opened.error())) outcome.fault = "memory and file give other refusals";
    return outcome;
  }
  const Archive& archive = *opened;
  const std::vector<Kept> entries = KeptOf(archive);
  if (KeptOf(*read) != entries) return outcome.fault = "memory and file give other entries", outcome;
  if (archive.ListedCount() > archive.EntryCount())
    return outcome.fault = "more rows are listed than there are entries", outcome;
  for (const Archive::Entry& e : archive.Entries()) {
    const std::optional<Image> image = e.texture.Decode();
    if (image && !WholePicture(*image, e.texture))
      return outcome.fault = "a decoded picture is not the texture's size", outcome;
  }
  if (KeptOf(archive) != entries) return outcome.fault = "decoding changed a texture", outcome;

  if (const Failure failure = archive.Save(path))
    return outcome.fault = "saving an opened archive failed: " + failure->text, outcome;
  const std::vector<uint8_t> saved = ReadBytes(path);
  // Nothing was edited, so the save rewrites the file as it was but for each chunk's magic
  // and reserved field (6 bytes a chunk); a last chunk whose length counts the whole chunk
  // adds the 8 zero bytes that were read from past the end.
  const size_t common = std::min(saved.size(), bytes.size());
  const bool grewByZeros = saved.size() >= bytes.size() && saved.size() - bytes.size() <= 8 &&
                           std::all_of(saved.begin() + std::ptrdiff_t(common), saved.end(),
                                       [](uint8_t b) { return b == 0; });
  if (!grewByZeros) return outcome.fault = "an unchanged save changed the file's length", outcome;
  size_t changed = 0;
  for (size_t i = 0; i < common; ++i) changed += saved[i] != bytes[i];
  if (changed > 6 * entries.size())
    return outcome.fault = "an unchanged save changed " + std::to_string(changed) + " bytes", outcome;

  Expected<Archive> reopened = Archive::Open(path);
  if (!reopened) return outcome.fault = "the saved archive was refused: " + reopened.error().text, outcome;
  const std::vector<Kept> again = KeptOf(*reopened);
  if (again.size() != entries.size() || reopened->ListedCount() != archive.ListedCount())
    return outcome.fault = "the saved archive holds other entries", outcome;
  for (size_t k = 0; k < entries.size(); ++k)
    if (!SameAfterSave(entries[k], again[k]))
      return outcome.fault = "entry " + std::to_string(k + 1) + " of the saved archive differs", outcome;
  if (reopened->Save(path) || ReadBytes(path) != saved)
    return outcome.fault = "saving the saved archive again changed it", outcome;

  // Laid out anew after a change that changes nothing (an entry's global index set to what it
  // is), the archive reads back with the same textures, each chunk padded with zeros.
  if (archive.EntryCount() == 0) return outcome;
  Archive edited = archive;
  if (edited.SetGlobalIndex(0, archive.Entries()[0].globalIndex.value_or(0)))
    return outcome.fault = "a global index could not be set", outcome;
  if (const Failure failure = edited.Save(path))
    return outcome.fault = "saving an archive laid out anew failed: " + failure->text, outcome;
  Expected<Archive> anew = Archive::Open(path);
  if (!anew) return outcome.fault = "an archive laid out anew was refused: " + anew.error().text, outcome;
  if (anew->EntryCount() != entries.size()) return outcome.fault = "laid out anew, the entries changed", outcome;
  for (size_t k = 0; k < entries.size(); ++k) {
    const Texture& before = archive.Entries()[k].texture;
    const Texture& after = anew->Entries()[k].texture;
    const bool padded = after.data.size() >= before.data.size() && after.data.size() - before.data.size() < 16 &&
                        std::equal(before.data.begin(), before.data.end(), after.data.begin()) &&
                        std::all_of(after.data.begin() + std::ptrdiff_t(before.data.size()), after.data.end(),
                                    [](uint8_t b) { return b == 0; });
    if (!padded || after.pixelFormat != before.pixelFormat || after.dataFormat != before.dataFormat ||
        after.width != before.width || after.height != before.height ||
        (k < archive.ListedCount() && anew->Entries()[k].name != archive.Entries()[k].name))
      return outcome.fault = "laid out anew, entry " + std::to_string(k + 1) + " differs", outcome;
  }
  return outcome;
}

namespace {

// Textures a picture is imported into: every pixel format (and one without a codec) in
// both texel orders (and one whose data is too short to encode).
constexpr uint8_t kImportPixelFormats[] = {0, 1, 2, 3, 4, 5, 6};
constexpr uint8_t kImportDataFormats[] = {9, 1, 2};

// Fits the picture to the texture, encodes it, and checks what an import must keep.
std::string ImportInto(Texture& t, const PictureFiles::Picture& picture) {
  const Texture before = t;
  const std::optional<Image> shown = t.Decode();
  const std::optional<Image> fitted = t.Fit(picture.image, picture.hasAlpha);
  if (fitted.has_value() != shown.has_value()) return "a texture that decodes could not take a picture";
  if (!fitted) return {};
  if (!WholePicture(*fitted, t)) return "a fitted picture is not the texture's size";
  for (int32_t y = 0; y < t.height; ++y) {
    for (int32_t x = 0; x < t.width; ++x) {
      const bool inside = x < picture.image.width && y < picture.image.height;
      const uint8_t* want = inside ? picture.image.Pixel(x, y) : picture.image.Pixel(0, picture.image.height - 1);
      const uint8_t* got = fitted->Pixel(x, y);
      if (!std::equal(got, got + 3, want)) return "a fitted texel does not show its picture's pixel";
      if (got[3] != (picture.hasAlpha ? want[3] : shown->Pixel(x, y)[3]))
        return "a fitted texel has the wrong alpha";
    }
  }
  const bool changed = t.Encode(*fitted);
  if (t.length != before.length || t.width != before.width || t.height != before.height ||
      t.pixelFormat != before.pixelFormat || t.dataFormat != before.dataFormat || t.magic != before.magic)
    return "encoding changed a header field";
  if (t.data.size() != before.data.size()) return "encoding changed the data length";
  if (changed != (t.data != before.data)) return "encoding said the wrong thing about a change";
  if (!t.Encodes() && changed) return "a texture the codec does not encode was changed";
  const std::optional<Image> after = t.Decode();
  if (!after) return "a texture stopped decoding after an import";
  if (t.Encode(*after)) return "encoding what an import left changed the texture again";
  return {};
}

}  // namespace

Outcome RunBitmap(std::span<const uint8_t> bytes) {
  Outcome outcome;
  if (bytes.size() < 3) return outcome;
  const uint8_t shape = bytes[0];
  const std::span<const uint8_t> files = bytes.subspan(3);
  const size_t split = std::min<size_t>(bytes[1] | (bytes[2] << 8), files.size());
  const std::string image = Scratch("image.bmp"), mask = Scratch("mask.bmp");
  if (!WriteBytes(image, files.first(split)) || !WriteBytes(mask, files.subspan(split))) return outcome;

  std::vector<PictureFiles::Picture> pictures;
  for (const std::string& maskPath : {std::string(), mask}) {
    Expected<PictureFiles::Picture> read = PictureFiles::Read(image, maskPath);
    if (maskPath.empty()) outcome.accepted = read.has_value();
    if (!read) {
      outcome.told = true;
      if (!Told(read.error())) return outcome.fault = "a picture was refused without words", outcome;
      continue;
    }
    if (!outcome.accepted) return outcome.fault = "an image refused alone was taken with a mask", outcome;
    const Image& picture = read->image;
    if (picture.width < 1 || picture.height < 1 ||
        picture.rgba.size() != size_t(picture.width) * size_t(picture.height) * 4)
      return outcome.fault = "a picture read is not 4 x width x height bytes", outcome;
    if (read->hasAlpha != !maskPath.empty()) return outcome.fault = "a BMP's alpha does not follow its mask", outcome;
    pictures.push_back(std::move(*read));
  }

  for (uint8_t pmat : kImportPixelFormats) {
    for (uint8_t emat : kImportDataFormats) {
      // Twiddled textures are square with a power-of-two side; the others any small size.
      const int16_t width = emat == 9 ? int16_t(1 + (shape & 15)) : int16_t(1 << (shape % 6));
      const int16_t height = emat == 9 ? int16_t(1 + (shape >> 4)) : width;
      Texture texture;
      texture.pixelFormat = pmat;
      texture.dataFormat = emat;
      texture.width = width;
      texture.height = height;
      texture.data.assign(size_t(width) * size_t(height) * 2 + (shape & 1), 0x5A);
      texture.length = int32_t(texture.data.size() + 8);
      for (const PictureFiles::Picture& picture : pictures) {
        outcome.fault = ImportInto(texture, picture);
        if (!outcome.fault.empty()) return outcome;
      }
    }
  }
  return outcome;
}

Outcome RunCodec(std::span<const uint8_t> bytes) {
  Outcome outcome;
  if (bytes.size() < kCodecHeaderSize) return outcome;
  Texture texture;
  texture.width = int16_t(bytes[0] | (bytes[1] << 8));
  texture.height = int16_t(bytes[2] | (bytes[3] << 8));
  texture.pixelFormat = bytes[4];
  texture.dataFormat = bytes[5];
  texture.length = int32_t(uint32_t(bytes[6]) | uint32_t(bytes[7]) << 8 | uint32_t(bytes[8]) << 16 |
                           uint32_t(bytes[9]) << 24);
  texture.data.assign(bytes.begin() + kCodecHeaderSize, bytes.end());
  const Texture stored = texture;

  // Palettized textures show and take pictures through a bank of greys.
  const BankColours greys = BankColours::Greys(texture.IndexBits());
  const BankColours* colours = texture.IsPalettized() ? &greys : nullptr;
  const std::optional<Image> decoded = texture.Decode(colours);
  outcome.accepted = decoded.has_value();
  if (texture.data != stored.data) return outcome.fault = "decoding changed the data", outcome;
  if (!decoded) return outcome;
  if (!WholePicture(*decoded, texture)) return outcome.fault = "the picture is not the texture's size", outcome;
  if (!texture.HasAlphaBits())
    for (size_t i = 3; i < decoded->rgba.size(); i += 4)
      if (decoded->rgba[i] != 255) return outcome.fault = "a format without alpha bits decoded a see-through texel", outcome;

  // An unedited picture leaves the bytes of every layout as they were: plain texels encode
  // back exactly, and other layouts are not rewritten.
  if (texture.Encode(*decoded, colours) || texture.data != stored.data)
    return outcome.fault = "decode then encode changed the data", outcome;

  // An edited picture, then pictures of other sizes fitted to the texture: the data keeps its
  // length, and what the import left encodes to itself. Larger textures only cost time.
  if (decoded->rgba.size() > (size_t{256} << 10)) return outcome;
  Image edited = *decoded;
  for (size_t i = 0; i < edited.rgba.size(); ++i) edited.rgba[i] = uint8_t(edited.rgba[i] ^ (i * 37));
  const std::optional<Image> small = Image::Blank(1 + texture.width / 3, 1 + texture.height / 2, 0x9C);
  const std::optional<Image> large = Image::Blank(texture.width + 1, texture.height + 3, 0x3A);
  for (const Image* picture : std::initializer_list<const Image*>{&edited, small ? &*small : nullptr,
                                                                   large ? &*large : nullptr}) {
    if (picture == nullptr) continue;
    const std::optional<Image> fitted = texture.Fit(*picture, picture != &edited, colours);
    if (!fitted || !WholePicture(*fitted, texture)) return outcome.fault = "a fitted picture is not whole", outcome;
    texture.Encode(*fitted, colours);
    if (texture.data.size() != stored.data.size() || texture.length != stored.length)
      return outcome.fault = "encoding changed the data length", outcome;
    if (!texture.Encodes() && texture.data != stored.data)
      return outcome.fault = "a texture the codec does not encode was changed", outcome;
    const std::optional<Image> after = texture.Decode(colours);
    if (!after || texture.Encode(*after, colours)) return outcome.fault = "an imported picture does not encode to itself", outcome;
  }
  return outcome;
}

Outcome RunPalette(std::span<const uint8_t> bytes) {
  Outcome outcome;
  if (bytes.size() < kPaletteHeaderSize) return outcome;
  const size_t paletteBytes = std::min<size_t>(bytes[2] | bytes[3] << 8, bytes.size() - kPaletteHeaderSize);
  const std::span<const uint8_t> file = bytes.subspan(kPaletteHeaderSize, paletteBytes);
  const Expected<Palette> palette = Palette::Read(file, "fuzz.pvp");
  if (!palette) return outcome.told = Told(palette.error()), outcome;
  const std::vector<uint8_t> written = palette->Bytes();
  if (!std::equal(written.begin(), written.end(), file.begin(), file.end()))
    return outcome.fault = "a palette read and written back changed its bytes", outcome;

  Texture texture;
  const uint8_t shape = bytes[1];
  texture.dataFormat = uint8_t(5 + (shape & 3));
  texture.width = int16_t(8 << (shape >> 2 & 3));
  texture.height = texture.dataFormat == 5 || texture.dataFormat == 7 ? int16_t(8 << (shape >> 4 & 3)) : texture.width;
  texture.pixelFormat = shape;
  texture.data.assign(bytes.begin() + ptrdiff_t(kPaletteHeaderSize + paletteBytes), bytes.end());
  texture.length = int32_t(texture.data.size() + 8);
  const Expected<BankColours> bank = palette->Bank(bytes[0] & 0x7F, texture.IndexBits());
  if (!bank) return outcome.told = Told(bank.error()), outcome;
  const Texture stored = texture;
  const std::optional<Image> shown = texture.Decode(&*bank);
  outcome.accepted = shown.has_value();
  if (!shown || !WholePicture(*shown, texture)) return outcome.fault = "a palettized texture did not show whole", outcome;
  const std::optional<std::vector<uint8_t>> indices = texture.Indices();
  if (!indices) return outcome.fault = "a palettized texture gave no indices", outcome;
  if (texture.Encode(*shown, &*bank) || texture.EncodeIndices(*indices, *bank) || texture.data != stored.data)
    return outcome.fault = "a picture the texture shows changed its data", outcome;

  // Its indices out to an indexed PNG of the bank's colours and back.
  PngFile::IndexedPicture out{uint32_t(texture.width), uint32_t(texture.height), *indices,
                              std::vector<uint8_t>(bank->rgba.begin(), bank->rgba.begin() + ptrdiff_t(4 * bank->Entries()))};
  std::vector<uint8_t> png;
  PngFile::IndexedPicture in;
  if (!PngFile::WriteIndexed(out, png) || PngFile::ReadIndexed(png, uint64_t{1} << 26, in) != PngFile::Fault::None ||
      in.Indices != out.Indices || in.Palette != out.Palette)
    return outcome.fault = "indices did not come back through an indexed PNG", outcome;

  // An edited picture maps to held colours only, and what it left encodes to itself.
  if (!texture.Encodes()) return outcome;
  Image edited = *shown;
  for (size_t i = 0; i < edited.rgba.size(); ++i) edited.rgba[i] = uint8_t(edited.rgba[i] ^ (i * 29));
  texture.Encode(edited, &*bank);
  const std::optional<Image> after = texture.Decode(&*bank);
  if (!after || texture.Encode(*after, &*bank)) return outcome.fault = "an imported picture does not encode to itself", outcome;
  const std::optional<std::vector<uint8_t>> imported = texture.Indices();
  if (!imported || std::any_of(imported->begin(), imported->end(), [&](uint8_t i) { return !bank->held[i]; }))
    return outcome.fault = "an import chose a colour the palette does not hold", outcome;
  if (texture.data.size() != stored.data.size()) return outcome.fault = "encoding changed the data length", outcome;
  return outcome;
}

}  // namespace harness
