// quarnel-cli: the editor's archive and texture commands, run from a shell.
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "cli/Commands.h"
#include "quarnel/Version.h"
#include "texture/PngFile.h"

namespace {

constexpr const char* kUsage =
    R"(Usage: quarnel-cli COMMAND ARGUMENTS... [OPTIONS]

Lists, exports and imports the textures of a PVM archive the way the Quarnel
editor does, without its window. ROW counts from 0, as in the editor's list.
ARCHIVE may also be a single .pvr texture file (a PVRT chunk, with or without a
GBIX chunk before it): it has one row, 0, named after the file.

Commands:
  list ARCHIVE
      One line per listed entry, ROW<TAB>NAME, then the status line the
      editor shows (for example "Loaded 12 sets...").
  info ARCHIVE
      One line per listed texture:
      ROW<TAB>NAME<TAB>WIDTHxHEIGHT<TAB>PIXEL_FORMAT<TAB>DATA_FORMAT<TAB>LENGTH
      <TAB>MIP_LEVELS<TAB>CODEBOOK_ENTRIES
      Pixel formats: 0 ARGB1555, 1 RGB565, 2 ARGB4444, others "unknown".
      Data formats: 9 rectangle, 1 twiddled, 13 rectangular twiddled,
      2 twiddled+mipmaps, 18 twiddled+mipmaps (8-byte 1x1), 3 VQ,
      4 VQ+mipmaps, 16 small VQ, 17 small VQ+mipmaps, others "other".
      MIP_LEVELS is 1 without mipmaps and 0 for a texture Quarnel does not
      decode; CODEBOOK_ENTRIES is 0 unless the texture is VQ.
  export ARCHIVE ROW IMAGE.bmp [MASK.bmp] [--force]
  export ARCHIVE ROW IMAGE.png [--force]
      Decodes the texture of ROW and writes its image, and its alpha mask
      (alpha in the red channel), as 24-bit BMP files, as the editor's
      Export does; or, for a name ending in .png (any letter case), both
      as one 8-bit RGBA PNG whose alpha channel is the texture's alpha.
  export-all ARCHIVE DIR [--force] [--format png|bmp]
      Writes every listed texture into DIR (made when missing) as NAME.bmp
      and NAME_mask.bmp, or with --format png as NAME.png; see "File names".
  import ARCHIVE ROW IMAGE.bmp [MASK.bmp] [--backup]
  import ARCHIVE ROW IMAGE.png [--backup]
      Replaces the texture of ROW from a 24-bit BMP, and from a mask BMP
      whose red channel is the alpha (without one each texel keeps its
      alpha); or from a PNG of any kind, whose alpha, when it has any, is
      the texture's alpha. The texture keeps its size, pixel format and data
      format: mip levels are averaged anew, a VQ codebook is built anew
      (deterministically), and a picture the texture already shows leaves
      it as it is. The archive is then written back in place.
  import-all ARCHIVE DIR [--backup] [--format png|bmp]
      Imports every NAME.bmp in DIR (with NAME_mask.bmp when present), or
      with --format png every NAME.png, into the entry it was exported
      from, then writes the archive once.

Options:
  --force    replace output files that exist (export, export-all); without
             it nothing is written when one exists
  --backup   before the archive is written, copy it to its backup unless a
             file exists there already (import, import-all); the backup is
             the archive's path without its last three characters, followed
             by "BAK": textures.pvm -> textures.BAK
  --format png|bmp
             the files export-all writes and import-all reads (default bmp)
  --help     show this text
  --version  print "quarnel VERSION" and exit
  --         ends the options: later arguments starting with '-' are paths

File names (export-all, import-all):
  An entry's name is used as the file name when it is made only of A-Z, a-z,
  0-9, space, '.', '_' and '-'; does not start or end with '.' or a space;
  does not end with "_mask" (in any letter case); is not a device name (CON,
  PRN, AUX, NUL, COM1-COM9, LPT1-LPT9); and no other entry has the same name,
  letter case ignored. Any other entry is written as @ROW.bmp and
  @ROW_mask.bmp (for example @7.bmp), or @ROW.png, which import-all maps back
  to row ROW.

Names in list and info show control characters as \xHH.
Messages go to standard error. Exit status: 0 success; 1 an input was
refused, or a file could not be read or written; 2 usage error.
)";

int UsageError(const std::string& problem) {
  std::fprintf(stderr, "quarnel-cli: %s\nRun 'quarnel-cli --help' for usage.\n", problem.c_str());
  return cli::kUsageError;
}

// A row is written in decimal digits only. One too large to hold is kept as UINT64_MAX,
// which no list reaches, so it is refused as a row past the list rather than as a typo.
bool ParseRow(std::string_view text, uint64_t& row) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), row);
  if (error == std::errc::result_out_of_range) row = UINT64_MAX;
  return true;
}

struct Command {
  std::string_view name;
  size_t minArguments;  // after the command name
  size_t maxArguments;
  bool takesForce;
  bool takesBackup;
  bool takesFormat;
  std::string_view synopsis;
};

constexpr Command kCommands[] = {
    {"list", 1, 1, false, false, false, "list ARCHIVE"},
    {"info", 1, 1, false, false, false, "info ARCHIVE"},
    {"export", 3, 4, true, false, false,
     "export ARCHIVE ROW IMAGE.bmp [MASK.bmp] [--force], or IMAGE.png without a mask"},
    {"export-all", 2, 2, true, false, true, "export-all ARCHIVE DIR [--force] [--format png|bmp]"},
    {"import", 3, 4, false, true, false,
     "import ARCHIVE ROW IMAGE.bmp [MASK.bmp] [--backup], or IMAGE.png without a mask"},
    {"import-all", 2, 2, false, true, true, "import-all ARCHIVE DIR [--backup] [--format png|bmp]"},
};

}  // namespace

int main(int argc, char* argv[]) {
  std::vector<std::string> positional;
  bool force = false;
  bool backup = false;
  std::string format;  // as given; empty when not
  bool optionsEnded = false;
  std::vector<std::string> unknownOptions;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      positional.emplace_back(arg);
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return cli::kSuccess;
    } else if (arg == "--version") {
      std::puts("quarnel " QUARNEL_VERSION);
      return cli::kSuccess;
    } else if (arg == "--force") {
      force = true;
    } else if (arg == "--backup") {
      backup = true;
    } else if (arg == "--format" || arg.starts_with("--format=")) {
      if (arg == "--format" && i + 1 == argc) return UsageError("--format needs png or bmp");
      format = arg == "--format" ? argv[++i] : arg.substr(std::strlen("--format="));
      if (format != "png" && format != "bmp") {
        return UsageError("--format must be png or bmp, not " + format);
      }
    } else {
      unknownOptions.emplace_back(arg);
    }
  }
  if (!unknownOptions.empty()) return UsageError("unknown option " + unknownOptions.front());
  if (positional.empty()) return UsageError("no command given");

  const std::string& name = positional.front();
  const Command* command = nullptr;
  for (const Command& candidate : kCommands) {
    if (candidate.name == name) command = &candidate;
  }
  if (command == nullptr) return UsageError("unknown command " + name);
  const size_t count = positional.size() - 1;
  if (count < command->minArguments || count > command->maxArguments) {
    return UsageError("wrong number of arguments; usage: quarnel-cli " +
                      std::string(command->synopsis));
  }
  if (force && !command->takesForce) return UsageError(name + " does not take --force");
  if (backup && !command->takesBackup) return UsageError(name + " does not take --backup");
  if (!format.empty() && !command->takesFormat) {
    const bool byName = name == "export" || name == "import";
    return UsageError(name + " does not take --format" +
                      (byName ? "; the file name's extension decides" : ""));
  }
  const cli::FileFormat files = format == "png" ? cli::FileFormat::Png : cli::FileFormat::Bmp;

  const std::string& archive = positional[1];
  if (name == "list") return cli::ListCommand(archive);
  if (name == "info") return cli::InfoCommand(archive);
  if (name == "export-all") return cli::ExportAllCommand(archive, positional[2], force, files);
  if (name == "import-all") return cli::ImportAllCommand(archive, positional[2], backup, files);

  uint64_t row = 0;
  if (!ParseRow(positional[2], row)) return UsageError("ROW must be a number, not " + positional[2]);
  const std::string& image = positional[3];
  const std::string mask = count == 4 ? positional[4] : "";
  if (image.empty()) return UsageError("IMAGE must name a file");
  if (!mask.empty() && PngFile::NamesPng(image)) {
    return UsageError("a PNG carries its own alpha: give no MASK with " + image);
  }
  if (PngFile::NamesPng(mask)) return UsageError("MASK is a BMP file, not " + mask);
  if (name == "export" && !mask.empty()) {
    std::error_code imageError, maskError;
    const auto imagePath = std::filesystem::weakly_canonical(image, imageError);
    const auto maskPath = std::filesystem::weakly_canonical(mask, maskError);
    if (image == mask || (!imageError && !maskError && imagePath == maskPath)) {
      return UsageError("the image and the mask cannot go to the same file");
    }
  }
  if (name == "export") {
    return cli::ExportCommand(archive, row, image, mask, force);
  }
  return cli::ImportCommand(archive, row, image, mask, backup);
}
