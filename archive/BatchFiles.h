// Export-all and import-all over the open archive, and the one-texture steps they share
// with a single export or import. The editor's window and quarnel-cli run the same code, so
// both write the same files (ExportNames.h), follow the same rules and say the same words.
//
// What a batch has to say (a refusal, a note) goes to the caller's Say, one line each.
// Messages the core shows on its own (a refused BMP, the question before a file is
// replaced) still go through the platform message hook; a step that failed without one
// says why through Say, so every failure is explained once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class cPVR;

namespace BatchFiles {

// The files export-all writes and import-all reads: NAME.bmp with NAME_mask.bmp, or NAME.png.
enum class FileFormat { Bmp, Png };

using Say = std::function<void(const std::string& line)>;
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
};

// ---- One texture ------------------------------------------------------------------------

// Decodes a texture into its surfaces as the editor's selection does. False (and said)
// when its surfaces cannot be built, so no file is written from missing pixels.
bool Decode(cPVR& texture, size_t row, const Say& say);

// Writes one surface as a BMP, as the editor's Export does, or to a path naming a PNG the
// image and its alpha together. replace answers the question
// before an existing file is replaced with Yes; without it the question goes on to the
// message hook.
bool WriteSurface(cPVR& texture, int16_t mode, const std::string& path, bool replace,
                  const Say& say);

// Why the codec cannot encode the texture, as the rest of a sentence whose subject is the
// texture ("is stored in a format Quarnel does not encode (...)", or "holds N data bytes
// where its format (...) needs M"); empty when it can.
std::string WhyNotEncoded(const cPVR& texture);

// True (and said, after prefix) when the codec cannot encode the texture: importing into
// it would change nothing, and saying it worked would be wrong.
bool RefuseWithoutCodec(const cPVR& texture, size_t row, const std::string& prefix,
                        const Say& say);

// The editor's Import on one texture: loads the files (a PNG alone; a BMP with its mask,
// which may be ""), notes a picture of
// another size, and encodes into the chunk. False (and said) when a file was refused.
bool ImportInto(cPVR& texture, size_t row, const std::string& image, const std::string& mask,
                const Say& say);

// ---- Every listed texture -----------------------------------------------------------------

// The full paths export-all would write into folder, in row order: two per row (image,
// mask) for BMP files, one for PNG files.
std::vector<std::string> ExportPaths(const std::vector<std::string>& listedNames,
                                     const std::string& folder, FileFormat format);

// Writes the image and mask of every listed row into folder, made when missing. A texture
// that cannot be decoded is skipped (kSomeSkipped); a file that cannot be written stops the
// batch (kRefused). Existing files are replaced only with replace.
Result ExportAll(const std::vector<std::string>& listedNames, const std::string& folder,
                 FileFormat format, bool replace, const Say& say, const Progress& progress);

// Loads every NAME.bmp in folder (with NAME_mask.bmp when present), or every NAME.png,
// into the row it was exported from and encodes it; the archive (named for messages) is not written. Files
// that look like exports but lead to no row are noted. kRefused when a file is refused or
// none was found, kCancelled when Progress stopped it: in both cases every chunk holds
// what it held before.
Result ImportAll(const std::vector<std::string>& listedNames, const std::string& folder,
                 FileFormat format, const std::string& archive, const Say& say, const Progress& progress);

}  // namespace BatchFiles
