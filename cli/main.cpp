// quarnel-cli: the editor's archive and texture commands, run from a shell.
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
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
      <TAB>MIP_LEVELS<TAB>CODEBOOK_ENTRIES<TAB>GLOBAL_INDEX<TAB>PALETTE
      Pixel formats: 0 ARGB1555, 1 RGB565, 2 ARGB4444, 3 YUV422, 4 bump map,
      5 RGB555, others "unknown".
      Data formats: 9 rectangle, 1 twiddled, 13 rectangular twiddled,
      2 twiddled+mipmaps, 18 twiddled+mipmaps (8-byte 1x1), 3 VQ,
      4 VQ+mipmaps, 16 small VQ, 17 small VQ+mipmaps, 5 palettized 4-bit,
      6 palettized 4-bit+mipmaps, 7 palettized 8-bit,
      8 palettized 8-bit+mipmaps, 10 rectangle (10), 11 stride, 12 stride (12),
      14 32-bit raster, others "other".
      MIP_LEVELS is 1 without mipmaps and 0 for a texture Quarnel does not
      decode; CODEBOOK_ENTRIES is 0 unless the texture is VQ; GLOBAL_INDEX is
      "-" for an entry without one. PALETTE is the palette file a palettized
      texture uses (see "Palettes"), or "none".
  export ARCHIVE ROW IMAGE.bmp [MASK.bmp] [--force]
  export ARCHIVE ROW IMAGE.png [--force] [--indexed]
      Decodes the texture of ROW and writes its image, and its alpha mask
      (alpha in the red channel), as 24-bit BMP files, as the editor's
      Export does; or, for a name ending in .png (any letter case), both
      as one 8-bit RGBA PNG whose alpha channel is the texture's alpha.
      With --indexed, a palettized texture is written as an indexed PNG: its
      indices as they are, its bank's colours as the PNG's palette.
  export-all ARCHIVE DIR [--force] [--format png|bmp]
      Writes every listed texture into DIR (made when missing) as NAME.bmp
      and NAME_mask.bmp, or with --format png as NAME.png; see "File names".
  import ARCHIVE ROW IMAGE.bmp [MASK.bmp] [--backup] [--size keep|picture|scale]
  import ARCHIVE ROW IMAGE.png [--backup] [--size keep|picture|scale]
          [--new-palette OUT.pvp]
      Replaces the texture of ROW from a 24-bit BMP, and from a mask BMP
      whose red channel is the alpha (without one each texel keeps its
      alpha); or from a PNG of any kind, whose alpha, when it has any, is
      the texture's alpha. The texture keeps its pixel format and data
      format: mip levels are averaged anew, a VQ codebook is built anew
      (deterministically), and a picture the texture already shows leaves
      it as it is. A picture of another size is dealt with as --size says.
      The archive is then written back. A palettized texture takes each
      pixel's nearest colour of its bank, or, from an indexed PNG whose palette
      is the bank's colours, the indices as they are. With --new-palette, a
      palette of 16 or 256 colours is made from the picture, written to
      OUT.pvp, and the picture is imported through it.
  import-all ARCHIVE DIR [--backup] [--format png|bmp] [--size keep|picture|scale]
      Imports every NAME.bmp in DIR (with NAME_mask.bmp when present), or
      with --format png every NAME.png, into the entry it was exported
      from, then writes the archive once.
  new ARCHIVE [--force]
      Writes an empty archive (attribute word 0x000F: names, formats,
      dimensions and global indices).
  add ARCHIVE FILE... [--at ROW] [--name NAME] [--gbix N]
          [--pixel-format auto|argb1555|rgb565|argb4444|yuv422|rgb555]
          [--data-format auto|NAME|CODE] [--mipmaps|--no-mipmaps] [--backup]
      Adds a texture for each FILE, in order, at ROW (default: the end): a
      .pvr file as it is, or a PNG or BMP picture (with NAME_mask.bmp beside
      a BMP as its mask) encoded at its own size. Automatic formats: RGB565
      when every alpha is 255, ARGB1555 when every alpha is 0 or 255, else
      ARGB4444; twiddled with mipmaps for a square whose side is a power of
      two, else rectangle. The name is the file's stem (at most 27 bytes of
      printable ASCII), the global index one more than the largest in the
      archive (a .pvr file keeps its own); --name and --gbix take one FILE.
  remove ARCHIVE ROW...
      Removes the entries of the rows.
  rename ARCHIVE ROW NAME
  move ARCHIVE ROW TO
      Renames an entry, or moves it to row TO.
  set-gbix ARCHIVE ROW N
      Sets an entry's global index (0 to 4294967295).
  convert ARCHIVE ROW [--pixel-format ...] [--data-format ...]
          [--mipmaps|--no-mipmaps]
      Re-encodes the texture from the picture it shows in other formats;
      formats not given stay as they are. A format that keeps less says so.
  extract ARCHIVE ROW OUT.pvr [--force]
      Writes the texture as a standalone .pvr file: a GBIX chunk with its
      global index, then its PVRT chunk as stored.
  unpack ARCHIVE DIR [--force]
  unpack ARCHIVE --pvmx OUT.pvmx [--force]
      Writes the archive as a texture pack for the mod loader: every listed
      texture as NAME.png (named as export-all names them) and index.txt with
      one line GBIX,NAME.png,WxH an entry, in order, WxH the texture's own
      size; or all of it as one PVMX file. An entry without a global index
      is listed with its row number, with a note.
  pack DIR|FILE.pvmx ARCHIVE [--pixel-format ...] [--data-format ...]
          [--mipmaps|--no-mipmaps] [--keep-picture-size] [--force]
      Makes a new archive from a pack: an entry a line, in order, named by
      the file's stem, its global index GBIX, encoded in the automatic (or
      given) formats. A picture whose line gives another size WxH is scaled
      to it, with a note, unless --keep-picture-size.
  import-pack ARCHIVE DIR|FILE.pvmx [--size keep|picture|scale] [--add]
          [--backup]
      Replaces each entry whose global index (or else name) a pack's line
      has, in the entry's own formats; lines that match no entry are noted,
      or with --add appended in the automatic formats. One save at the end.
      A pack that does not parse, or lists a file that is missing or not a
      picture, is refused with its line, and nothing is written.

  Every command that changes an archive writes it back whole or not at
  all; one that changes its entries lays it out anew, as the game's own
  archives are laid out.

Options:
  --force    replace output files that exist (export, export-all); without
             it nothing is written when one exists
  --backup   before the archive is written, copy it to its backup unless a
             file exists there already (import, import-all); the backup is
             the archive's path without its last three characters, followed
             by "BAK": textures.pvm -> textures.BAK
  --format png|bmp
             the files export-all writes and import-all reads (default bmp)
  --size keep|picture|scale
             for a picture of another size than the texture (import,
             import-all): keep the texture's size, using the picture's
             top-left part (the default); take the picture's size, when the
             data format can hold it; or scale the picture to the texture's
             size
  --palette FILE.pvp
             the palette of palettized textures (info, export, export-all,
             import, import-all, unpack); see "Palettes"
  --bank N   the bank of the palette they read (default 0)
  --indexed  export a palettized texture as an indexed PNG
  --new-palette OUT.pvp
             import through a new palette made from the picture, written to
             OUT.pvp; with --backup an existing OUT.pvp is copied to
             OUT.pvp.BAK first. No other palette file is ever written.
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

Palettes:
  Palettized textures (data formats 5 to 8) hold 4-bit or 8-bit indices into
  a bank of a palette kept in a .pvp file. Their palette is the one given with
  --palette; else NAME.pvp beside the archive, NAME being the texture's name;
  else a .pvp with the archive's own stem (a .pvr file's stem), letter case
  ignored. Without one, indices show as greys and a note says "no palette";
  indices beyond the palette's colours show transparent black, with a note.

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

// What each option is, for the table of which command takes which.
enum Option : unsigned {
  kForce = 1 << 0,
  kBackup = 1 << 1,
  kFormat = 1 << 2,
  kSize = 1 << 3,
  kAt = 1 << 4,
  kName = 1 << 5,
  kGlobalIndex = 1 << 6,
  kFormats = 1 << 7,  // --pixel-format, --data-format, --mipmaps, --no-mipmaps
  kPvmx = 1 << 8,
  kKeepPictureSize = 1 << 9,
  kAdd = 1 << 10,
  kPalette = 1 << 11,  // --palette, --bank
  kIndexed = 1 << 12,
  kNewPalette = 1 << 13,
  kLastOption = kNewPalette,
};

struct Command {
  std::string_view name;
  size_t minArguments;  // after the command name
  size_t maxArguments;
  unsigned options;
  std::string_view synopsis;
};

constexpr size_t kMany = SIZE_MAX;
constexpr Command kCommands[] = {
    {"list", 1, 1, 0, "list ARCHIVE"},
    {"info", 1, 1, kPalette, "info ARCHIVE [--palette FILE.pvp] [--bank N]"},
    {"export", 3, 4, kForce | kPalette | kIndexed,
     "export ARCHIVE ROW IMAGE.bmp [MASK.bmp] [--force], or IMAGE.png without a mask [--indexed]"},
    {"export-all", 2, 2, kForce | kFormat | kPalette, "export-all ARCHIVE DIR [--force] [--format png|bmp]"},
    {"import", 3, 4, kBackup | kSize | kPalette | kNewPalette,
     "import ARCHIVE ROW IMAGE.bmp [MASK.bmp] [--backup], or IMAGE.png without a mask"},
    {"import-all", 2, 2, kBackup | kFormat | kSize | kPalette,
     "import-all ARCHIVE DIR [--backup] [--format png|bmp]"},
    {"new", 1, 1, kForce, "new ARCHIVE [--force]"},
    {"add", 2, kMany, kBackup | kAt | kName | kGlobalIndex | kFormats, "add ARCHIVE FILE... [options]"},
    {"remove", 2, kMany, kBackup, "remove ARCHIVE ROW..."},
    {"rename", 3, 3, kBackup, "rename ARCHIVE ROW NAME"},
    {"move", 3, 3, kBackup, "move ARCHIVE ROW TO"},
    {"set-gbix", 3, 3, kBackup, "set-gbix ARCHIVE ROW N"},
    {"convert", 2, 2, kBackup | kFormats, "convert ARCHIVE ROW [--pixel-format ...] [--data-format ...]"},
    {"extract", 3, 3, kForce, "extract ARCHIVE ROW OUT.pvr [--force]"},
    {"unpack", 1, 2, kForce | kPvmx | kPalette, "unpack ARCHIVE DIR [--force], or unpack ARCHIVE --pvmx OUT.pvmx [--force]"},
    {"pack", 2, 2, kForce | kFormats | kKeepPictureSize, "pack DIR|FILE.pvmx ARCHIVE [options]"},
    {"import-pack", 2, 2, kBackup | kSize | kAdd, "import-pack ARCHIVE DIR|FILE.pvmx [--size ...] [--add] [--backup]"},
};

// The options as given, and which were given.
struct Options {
  unsigned given = 0;
  bool force = false;
  bool backup = false;
  std::string format;  // png or bmp
  cli::SizeChoice size = cli::SizeChoice::Keep;
  cli::AddOptions add;
  std::string pvmx;
  bool keepPictureSize = false;
  bool addUnmatched = false;
  cli::PaletteOptions palette;
};

// A global index is written in decimal and fits 32 bits.
bool ParseGlobalIndex(std::string_view text, uint32_t& index) {
  uint64_t value = 0;
  if (!ParseRow(text, value) || value > UINT32_MAX) return false;
  index = uint32_t(value);
  return true;
}

// Reads the option at argv[i] (and its value, moving i past it); an empty string when it
// was taken, else what is wrong.
std::string ReadOption(int argc, char* argv[], int& i, Options& o) {
  const std::string_view arg = argv[i];
  // --name=VALUE and --name VALUE alike.
  const auto value = [&](std::string_view option, std::string& out) -> std::optional<std::string> {
    if (arg.starts_with(std::string(option) + "=")) {
      out = std::string(arg.substr(option.size() + 1));
      return std::string();
    }
    if (arg != option) return std::nullopt;
    if (i + 1 == argc) return std::string(option) + " needs a value";
    out = argv[++i];
    return std::string();
  };
  std::string text;
  if (arg == "--force") return o.given |= kForce, o.force = true, "";
  if (arg == "--backup") return o.given |= kBackup, o.backup = true, "";
  if (arg == "--keep-picture-size") return o.given |= kKeepPictureSize, o.keepPictureSize = true, "";
  if (arg == "--add") return o.given |= kAdd, o.addUnmatched = true, "";
  if (arg == "--indexed") return o.given |= kIndexed, o.palette.indexed = true, "";
  if (auto problem = value("--palette", text)) {
    if (!problem->empty()) return *problem;
    if (text.empty()) return "--palette must name a .pvp file";
    o.given |= kPalette;
    o.palette.chosen.path = text;
    return "";
  }
  if (auto problem = value("--bank", text)) {
    if (!problem->empty()) return *problem;
    // Palette memory holds at most 64 banks; a bank beyond the palette itself is refused
    // with the palette's words once it is read.
    uint64_t bank = 0;
    if (!ParseRow(text, bank) || bank > 63) return "--bank must be a number from 0 to 63, not " + text;
    o.given |= kPalette;
    o.palette.chosen.bank = int(bank);
    return "";
  }
  if (auto problem = value("--new-palette", text)) {
    if (!problem->empty()) return *problem;
    if (text.empty()) return "--new-palette must name a .pvp file";
    o.given |= kNewPalette;
    o.palette.newPalette = text;
    return "";
  }
  if (auto problem = value("--pvmx", text)) {
    if (!problem->empty()) return *problem;
    o.given |= kPvmx;
    o.pvmx = text;
    return "";
  }
  if (arg == "--mipmaps" || arg == "--no-mipmaps") {
    o.given |= kFormats;
    o.add.formats.mipmaps = arg == "--mipmaps";
    return "";
  }
  if (auto problem = value("--format", text)) {
    if (!problem->empty()) return "--format needs png or bmp";
    if (text != "png" && text != "bmp") return "--format must be png or bmp, not " + text;
    o.given |= kFormat;
    o.format = text;
    return "";
  }
  if (auto problem = value("--size", text)) {
    if (!problem->empty()) return *problem;
    if (text == "keep") o.size = cli::SizeChoice::Keep;
    else if (text == "picture") o.size = cli::SizeChoice::Picture;
    else if (text == "scale") o.size = cli::SizeChoice::Scale;
    else return "--size must be keep, picture or scale, not " + text;
    o.given |= kSize;
    return "";
  }
  if (auto problem = value("--at", text)) {
    if (!problem->empty()) return *problem;
    uint64_t row = 0;
    if (!ParseRow(text, row)) return "--at must be a row number, not " + text;
    o.given |= kAt;
    o.add.at = row;
    return "";
  }
  if (auto problem = value("--name", text)) {
    if (!problem->empty()) return *problem;
    o.given |= kName;
    o.add.name = text;
    return "";
  }
  if (auto problem = value("--gbix", text)) {
    if (!problem->empty()) return *problem;
    uint32_t index = 0;
    if (!ParseGlobalIndex(text, index)) return "--gbix must be a number from 0 to 4294967295, not " + text;
    o.given |= kGlobalIndex;
    o.add.globalIndex = index;
    return "";
  }
  if (auto problem = value("--pixel-format", text)) {
    if (!problem->empty()) return *problem;
    o.given |= kFormats;
    if (text == "auto") return "";
    o.add.formats.pixelFormat = FormatChoice::ParsePixelFormat(text);
    if (!o.add.formats.pixelFormat) return "--pixel-format must be auto, argb1555, rgb565, argb4444, yuv422 or rgb555, not " + text;
    return "";
  }
  if (auto problem = value("--data-format", text)) {
    if (!problem->empty()) return *problem;
    o.given |= kFormats;
    if (text == "auto") return "";
    o.add.formats.dataFormat = FormatChoice::ParseDataFormat(text);
    if (!o.add.formats.dataFormat)
      return "--data-format must be auto, or a data format Quarnel encodes by name or code (see info), not " + text;
    return "";
  }
  return "unknown option " + std::string(arg);
}

// The words for an option a command does not take.
std::string OptionName(unsigned option) {
  switch (option) {
    case kForce: return "--force";
    case kBackup: return "--backup";
    case kFormat: return "--format";
    case kSize: return "--size";
    case kAt: return "--at";
    case kName: return "--name";
    case kGlobalIndex: return "--gbix";
    case kPvmx: return "--pvmx";
    case kKeepPictureSize: return "--keep-picture-size";
    case kAdd: return "--add";
    case kPalette: return "--palette or --bank";
    case kIndexed: return "--indexed";
    case kNewPalette: return "--new-palette";
    case kFormats: return "--pixel-format, --data-format or --mipmaps";
    default: return "that option";
  }
}

}  // namespace

int main(int argc, char* argv[]) {
  std::vector<std::string> positional;
  Options options;
  bool optionsEnded = false;
  std::string unknownOption;
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
    } else if (const std::string problem = ReadOption(argc, argv, i, options); !problem.empty()) {
      // A bad value is said at once; an unknown option after every argument is read.
      if (!problem.starts_with("unknown option")) return UsageError(problem);
      if (unknownOption.empty()) unknownOption = problem;
    }
  }
  if (!unknownOption.empty()) return UsageError(unknownOption);
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
  for (unsigned option = 1; option <= kLastOption; option <<= 1) {
    if ((options.given & option) == 0 || (command->options & option) != 0) continue;
    const bool byName = option == kFormat && (name == "export" || name == "import");
    return UsageError(name + " does not take " + OptionName(option) +
                      (byName ? "; the file name's extension decides" : ""));
  }
  const cli::FileFormat files = options.format == "png" ? cli::FileFormat::Png : cli::FileFormat::Bmp;
  const bool force = options.force, backup = options.backup;

  const std::string& archive = positional[1];
  if (name == "list") return cli::ListCommand(archive);
  const cli::PaletteOptions& palette = options.palette;
  if (name == "info") return cli::InfoCommand(archive, palette);
  if (name == "new") return cli::NewCommand(archive, force);
  if (name == "export-all") return cli::ExportAllCommand(archive, positional[2], force, files, palette);
  if (name == "import-all") return cli::ImportAllCommand(archive, positional[2], backup, files, options.size, palette);
  if (name == "unpack") {
    if ((count == 2) == !options.pvmx.empty())
      return UsageError("unpack takes a folder DIR or --pvmx OUT.pvmx, and not both");
    return cli::UnpackCommand(archive, count == 2 ? positional[2] : options.pvmx, force, palette);
  }
  if (name == "pack")
    return cli::PackCommand(positional[1], positional[2], options.add.formats, options.keepPictureSize, force);
  if (name == "import-pack")
    return cli::ImportPackCommand(archive, positional[2], options.size, options.addUnmatched, options.backup);
  if (name == "add") {
    const std::vector<std::string> added(positional.begin() + 2, positional.end());
    if (added.size() > 1 && (options.add.name || options.add.globalIndex))
      return UsageError("--name and --gbix take one FILE, not " + std::to_string(added.size()));
    return cli::AddCommand(archive, added, options.add, backup);
  }

  std::vector<uint64_t> rows;
  for (size_t k = 2; k < positional.size() && (name == "remove" || k == 2); ++k) {
    uint64_t row = 0;
    if (!ParseRow(positional[k], row)) return UsageError("ROW must be a number, not " + positional[k]);
    rows.push_back(row);
  }
  const uint64_t row = rows.front();
  if (name == "remove") return cli::RemoveCommand(archive, rows, backup);
  if (name == "convert") return cli::ConvertCommand(archive, row, options.add.formats, backup);
  if (name == "rename") return cli::RenameCommand(archive, row, positional[3], backup);
  if (name == "extract") return cli::ExtractCommand(archive, row, positional[3], force);
  if (name == "move") {
    uint64_t to = 0;
    if (!ParseRow(positional[3], to)) return UsageError("TO must be a row number, not " + positional[3]);
    return cli::MoveCommand(archive, row, to, backup);
  }
  if (name == "set-gbix") {
    uint32_t index = 0;
    if (!ParseGlobalIndex(positional[3], index))
      return UsageError("N must be a global index from 0 to 4294967295, not " + positional[3]);
    return cli::SetGlobalIndexCommand(archive, row, index, backup);
  }

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
  if (palette.indexed && !PngFile::NamesPng(image)) return UsageError("--indexed writes a PNG, not " + image);
  if (name == "export") {
    return cli::ExportCommand(archive, row, image, mask, force, palette);
  }
  return cli::ImportCommand(archive, row, image, mask, backup, options.size, palette);
}
