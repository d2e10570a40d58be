// Export-all and import-all over an archive, and the one-texture steps they share with a
// single export or import. The editor's window and quarnel-cli run the same code, so both
// write the same files (ExportNames.h), follow the same rules and say the same words.
//
// What a step has to say goes to the caller's Voice: notes and refusals as lines (`say`),
// and a refused picture file as the error the editor shows in its own box (`show`). Every
// failure is told once.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "archive/Archive.h"
#include "archive/PaletteLookup.h"
#include "texture/Error.h"
#include "texture/FormatChoice.h"
#include "texture/Image.h"
#include "texture/PictureFiles.h"


namespace BatchFiles {

// The files export-all writes and import-all reads: NAME.bmp with NAME_mask.bmp, or NAME.png.
enum class FileFormat { Bmp, Png };

struct Voice {
  std::function<void(const std::string& line)> say;
  std::function<void(const Error& error)> show;
};

// Called before each texture with how many are done and how many there are in all; false
// stops the batch before that texture.
using Progress = std::function<bool(size_t done, size_t total)>;

enum class Outcome {
  kDone,         // every texture was handled
  kSomeSkipped,  // export-all: some textures could not be decoded and were skipped
  kRefused,      // stopped by a fault that was said
  kCancelled,    // stopped by Progress
};

struct Result {
  Outcome outcome = Outcome::kDone;
  size_t count = 0;  // textures written (export) or imported
  // Import-all that finished: each row it changed with the texture that row held before,
  // which an undo puts back. Kept during the batch anyway, so it costs no copy.
  std::vector<std::pair<size_t, Texture>> replaced = {};
};

// ---- One texture ------------------------------------------------------------------------

// Decodes a texture for an export, noting a texture shown black in part or in whole.
// nullopt (and said) when it cannot be decoded at all, so no file is written from nothing.
// A palettized texture shows its indices through `colours`, or as greys without them.
std::optional<Image> Decode(const Texture& texture, size_t row, const Voice& voice,
                            const BankColours* colours = nullptr);

// Writes one export of a decoded texture: a path naming a PNG gets the picture with its
// alpha, any other the BMP image (mask false) or mask (mask true). Replaces an existing file
// without asking: the caller asks first. False (and shown) when the file cannot be written.
bool WriteExport(const Texture& texture, const Image& decoded, bool mask, const std::string& path,
                 const Voice& voice);

// Why the codec cannot encode the texture, as the rest of a sentence whose subject is the
// texture ("is stored in a format Quarnel does not encode (...)", or "holds N data bytes
// where its format (...) needs M"); empty when it can.
std::string WhyNotEncoded(const Texture& texture);

// Writes a palettized texture as an 8-bit indexed PNG: its indices as they are, and the
// bank's colours as the PNG's palette (PLTE, with tRNS for alpha), so an image editor can
// paint in the palette and the import takes the indices back without loss. False (and
// shown) for a texture that is not palettized or cannot be decoded, or a file that cannot
// be written.
bool WriteIndexedExport(const Texture& texture, const BankColours& colours, const std::string& path,
                        const Voice& voice);

// True (and said, after prefix) when the codec cannot encode the texture: importing into
// it would change nothing, and saying it worked would be wrong.
bool RefuseWithoutCodec(const Texture& texture, size_t row, const std::string& prefix,
                        const Voice& voice);

// What an import does with a picture of another size than the texture:
//  - Keep: the texture keeps its size; a larger picture gives its top-left part, and beyond
//    a smaller one texels take its bottom-left pixel (noted);
//  - Picture: the texture takes the picture's size, in its own formats, when its data format
//    can hold that size; refused with the format's rule otherwise;
//  - Scale: the picture is resampled to the texture's size.
enum class SizeChoice { Keep, Picture, Scale };

// The editor's Import on one texture: reads the files (a PNG alone; a BMP with its mask,
// which may be ""), deals with a picture of another size as `size` says, and encodes it into
// the texture. nullopt (and shown or said) when a file or the size was refused, the texture
// unchanged; else whether it changed.
//
// A palettized texture maps the picture's colours to the nearest of `colours` (greys
// without them); a PNG of palette colours whose palette is the bank's own, at the texture's
// size, gives its indices as they are (ImportIndices).
std::optional<bool> ImportInto(Texture& texture, size_t row, const std::string& image,
                               const std::string& mask, const Voice& voice,
                               SizeChoice size = SizeChoice::Keep, const BankColours* colours = nullptr);

// The same for a picture already read; `label` names it in notes (a file's path).
std::optional<bool> ImportPicture(Texture& texture, size_t row, PictureFiles::Picture picture,
                                  const std::string& label, const Voice& voice,
                                  SizeChoice size = SizeChoice::Keep, const BankColours* colours = nullptr);

// The lossless import into a palettized texture: when `image` is a palette-colour PNG of the
// texture's size whose colours all equal the bank's, its indices are stored as they are.
// nullopt when the file is not such a picture (the caller imports it by colour); else
// whether the data changed.
std::optional<bool> ImportIndices(Texture& texture, const std::string& image, const BankColours& colours);

// What an import encoded: whether the texture changed, and the picture it was encoded from,
// at the texture's size, after the size choice and the fitting: what the stored texture,
// decoded again, is to be compared with to tell what the format lost.
struct Imported {
  bool changed = false;
  Image encoded;
};
// ImportPicture, giving what it encoded as well.
std::optional<Imported> ImportPictureKeeping(Texture& texture, size_t row, PictureFiles::Picture picture,
                                             const std::string& label, const Voice& voice,
                                             SizeChoice size = SizeChoice::Keep,
                                             const BankColours* colours = nullptr);

// ---- New entries ---------------------------------------------------------------------------

// The entry Add makes of a file: a texture file (.pvr by its name or its first bytes) as it
// is, or a picture (with NAME_mask.bmp beside a BMP, as export writes them) encoded in the
// chosen formats at its own size; named by the file's stem.
Expected<Archive::Entry> EntryFromFile(const std::string& path, const FormatChoice::Choice& formats);

// What another row shares with the entry in `row` (its name, its global index), as notes:
// the game then finds only one of them.
std::vector<std::string> SharedNotes(const Archive& archive, size_t row);

// ---- Every listed texture -----------------------------------------------------------------

// The names of the archive's listed rows, in order.
std::vector<std::string> ListedNames(const Archive& archive);

// The full paths export-all would write into folder, in row order: two per row (image,
// mask) for BMP files, one for PNG files.
std::vector<std::string> ExportPaths(const std::vector<std::string>& listedNames,
                                     const std::string& folder, FileFormat format);

// Writes every listed row's files into folder, made when missing, replacing files that
// exist (the caller asks first). A texture that cannot be decoded is skipped
// (kSomeSkipped); a file that cannot be written stops the batch (kRefused).
//
// Palettized textures are shown through `palettes` (greys without); a palette it refuses
// stops the batch before anything is written.
Result ExportAll(const Archive& archive, const std::string& folder, FileFormat format,
                 const Voice& voice, const Progress& progress, const PaletteLookup* palettes = nullptr);

// Reads every NAME.bmp in folder (with NAME_mask.bmp when present), or every NAME.png, into
// the row it was exported from and encodes it; the archive (named `archiveName` in messages)
// is not written. Files that look like exports but lead to no row are noted. kRefused when a
// file is refused or none was found, kCancelled when Progress stopped it: in both cases every
// texture holds what it held before.
Result ImportAll(Archive& archive, const std::string& folder, FileFormat format,
                 const std::string& archiveName, const Voice& voice, const Progress& progress,
                 SizeChoice size = SizeChoice::Keep, const PaletteLookup* palettes = nullptr);

// The palette of each listed row through `palettes` (an empty Found for a texture that is
// not palettized, and for every row without `palettes`); the first refusal, said, gives
// nullopt.
std::optional<std::vector<PaletteLookup::Found>> ListedPalettes(const Archive& archive,
                                                               const PaletteLookup* palettes,
                                                               const Voice& voice);

}  // namespace BatchFiles
