// The editor's commands without its window: each opens the archive with the core's reader,
// acts on it as the editor's menu command would, and says what went wrong on standard
// error. Each returns the process exit status.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "archive/BatchFiles.h"
#include "archive/PaletteLookup.h"
#include "texture/FormatChoice.h"

namespace cli {

enum ExitStatus : int { kSuccess = 0, kRefused = 1, kUsageError = 2 };

using BatchFiles::FileFormat;
using BatchFiles::SizeChoice;

// Palettized textures: the palette chosen (--palette, --bank; else the files beside the
// archive decide, see PaletteLookup), an export of indices (--indexed), and a new palette
// made from the imported picture (--new-palette).
struct PaletteOptions {
  PaletteLookup::Choice chosen;
  bool indexed = false;
  std::string newPalette;
};

// Rows count from 0 as in the editor's list. A row number too large for uint64_t is passed
// as UINT64_MAX and refused like any row past the list.
int ListCommand(const std::string& archive);
int InfoCommand(const std::string& archive, const PaletteOptions& palette = {});
int ExportCommand(const std::string& archive, uint64_t row, const std::string& image,
                  const std::string& mask, bool force, const PaletteOptions& palette = {});
int ExportAllCommand(const std::string& archive, const std::string& folder, bool force,
                     FileFormat format, const PaletteOptions& palette = {});
// With --new-palette the palette is written to that path (with --backup, an existing file
// there is copied to PATH.BAK first), then the archive; should the archive not be written,
// the palette file goes back to what it was. No other palette file is ever written: other
// textures share them.
int ImportCommand(const std::string& archive, uint64_t row, const std::string& image,
                  const std::string& mask, bool backup, SizeChoice size = SizeChoice::Keep,
                  const PaletteOptions& palette = {});
int ImportAllCommand(const std::string& archive, const std::string& folder, bool backup,
                     FileFormat format, SizeChoice size = SizeChoice::Keep,
                     const PaletteOptions& palette = {});

// ---- Changing an archive's entries ------------------------------------------------------
// Each saves the way import does, --backup included, and changes nothing on a refusal.

// What add and convert were asked for; nullopt: automatic, or as it is.
struct AddOptions {
  std::optional<uint64_t> at;
  std::optional<std::string> name;
  std::optional<uint32_t> globalIndex;
  FormatChoice::Choice formats;
};

int NewCommand(const std::string& archive, bool force);
int AddCommand(const std::string& archive, const std::vector<std::string>& files, const AddOptions& options,
               bool backup);
int RemoveCommand(const std::string& archive, const std::vector<uint64_t>& rows, bool backup);
int RenameCommand(const std::string& archive, uint64_t row, const std::string& name, bool backup);
int MoveCommand(const std::string& archive, uint64_t row, uint64_t to, bool backup);
int SetGlobalIndexCommand(const std::string& archive, uint64_t row, uint32_t globalIndex, bool backup);
int ConvertCommand(const std::string& archive, uint64_t row, const FormatChoice::Choice& formats, bool backup);
int ExtractCommand(const std::string& archive, uint64_t row, const std::string& output, bool force);

// ---- Texture packs ---------------------------------------------------------------------------

// The archive as a pack: a folder with index.txt and NAME.png files, or a .pvmx file.
int UnpackCommand(const std::string& archive, const std::string& pack, bool force,
                  const PaletteOptions& palette = {});
// A new archive from a pack (a folder or a .pvmx file).
int PackCommand(const std::string& pack, const std::string& archive, const FormatChoice::Choice& formats,
                bool keepPictureSize, bool force);
// An archive updated from a pack, then saved once.
int ImportPackCommand(const std::string& archive, const std::string& pack, SizeChoice size, bool add, bool backup);

// Writes one message to standard error, followed by a line break.
void Say(const std::string& text);

}  // namespace cli
