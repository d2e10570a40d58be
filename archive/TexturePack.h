// Texture packs, which the community's mod loader reads in place of an archive: a folder
// holding `index.txt` and PNG pictures, or one PVMX file holding the same. Textures are
// found by their global index, and a picture may be larger than the texture it stands for.
//
// index.txt, read line by line (LF or CR LF); blank lines and lines starting with '#' are
// skipped; every other line is, line k standing for the archive's entry k:
//
//   GBIX,FILE            GBIX in decimal (0 to 4294967295), FILE relative to the folder
//   GBIX,FILE,WxH        WxH the size the game is told the texture has (x or X; 1..8192)
//
// Spaces around fields are accepted when reading and never written.
//
// PVMX, all fields little-endian:
//
//   offset  size  field
//   0       4     "PVMX"
//   4       1     version, 1
//   5       ...   textures, each a list of fields (u8 type, then its data), ended by type 0:
//                   1  u32 global index
//                   2  name, NUL-terminated
//                   3  u32 width, u32 height (the original size)
//                 then u64 offset (from the start of the file) and u64 size of its PNG data
//   ...     1     0: the end of the texture list; the PNG data follows
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "archive/BatchFiles.h"
#include "texture/Error.h"
#include "texture/FormatChoice.h"
#include "texture/Image.h"

class Archive;

namespace TexturePack {

// index.txt is read whole only up to this size.
inline constexpr uint64_t kMaxIndexBytes = uint64_t{1} << 20;
inline constexpr int32_t kMaxSide = 8192;

struct Size {
  int32_t width = 0;
  int32_t height = 0;
  bool operator==(const Size&) const = default;
};

// One texture of a pack as listed.
struct Line {
  size_t number = 0;  // in index.txt, from 1; the texture's position in a PVMX
  uint32_t globalIndex = 0;
  std::string file;   // index.txt's FILE; a PVMX texture's name
  std::optional<Size> size;
};

// Parses index.txt. Refused, naming the line and the fault: a line that does not parse, a
// global index out of range, a size that is not WxH with sides 1..8192, a FILE that is
// absolute or holds "..". `notes` gets a line for each global index given twice (the loader
// then uses the first).
Expected<std::vector<Line>> ParseIndex(std::string_view text, std::vector<std::string>& notes);

// index.txt for the lines, as the loader reads it: "GBIX,FILE,WxH" (or without the size).
std::string WriteIndex(const std::vector<Line>& lines);

// A pack as read: its lines, each picture checked and measured. Pictures are decoded one at
// a time as they are used, so a pack of hundreds never holds them all at once.
struct Entry {
  Line line;
  std::string name;          // the file's stem, or a PVMX texture's name
  std::string path;          // the picture file; empty for a PVMX texture
  std::vector<uint8_t> png;  // a PVMX texture's PNG data
  PictureFiles::Size pictureSize;

  // The picture, decoded; an error names the file (or texture) and the fault.
  Expected<PictureFiles::Picture> Load() const;
};
using Pack = std::vector<Entry>;

// Reads a pack: a folder with index.txt, or a .pvmx file. Refused, naming the line (or the
// PVMX texture) and the fault, before anything is written: as ParseIndex, and a listed file
// that is missing or not a picture (its headers checked), an index.txt over 1 MiB, a PVMX
// whose offsets, sizes or names point past its end, or whose data is not PNG.
Expected<Pack> Read(const std::string& path, std::vector<std::string>& notes);

// The pack of an archive's listed entries: each texture as an 8-bit RGBA PNG named as
// export-all names it (NAME.png, or @ROW.png), listed as GBIX,NAME.png,WxH with the texture's
// own size. An entry without a global index is listed with its row number, and noted.
// Into a folder (made when missing; files there are replaced, the caller asks first) or,
// for a path ending in .pvmx, one PVMX file. Returns the count written.
// Palettized textures are shown through `palettes` (greys without).
Expected<size_t> Write(const Archive& archive, const std::string& path, const BatchFiles::Voice& voice,
                       const PaletteLookup* palettes = nullptr);

// The files Write would write into a folder, for the caller's question before replacing.
std::vector<std::string> FolderFiles(const Archive& archive, const std::string& folder);

// A new archive of the pack's textures, in order: named by the file's stem, indexed by
// GBIX, encoded in the chosen formats at the picture's size; a picture whose line gives
// another size is scaled to it, with a note, unless keepPictureSize.
Expected<Archive> MakeArchive(const Pack& pack, const FormatChoice::Choice& formats, bool keepPictureSize,
                              const std::string& archiveName, const BatchFiles::Voice& voice);

// The row a pack's texture replaces: the first entry with its global index, or else the first
// with its name; nullopt for none.
std::optional<size_t> MatchingRow(const Archive& archive, const Entry& texture);

// Updates an archive from a pack: each texture replaces the entry with its global index,
// or else with its name, re-encoded in that entry's own formats, its size dealt with as
// `size` says. Textures that match no entry are noted, or with `add` appended in the
// automatic formats. Returns the count of entries replaced or added; on a refusal the
// archive is as it was.
Expected<size_t> Update(Archive& archive, const Pack& pack, BatchFiles::SizeChoice size, bool add,
                        const std::string& archiveName, const BatchFiles::Voice& voice);

// The PVMX file of textures given as PNG bytes; and reading one back into lines and PNG
// bytes (refused as Read says).
struct PvmxTexture {
  uint32_t globalIndex = 0;
  std::string name;
  std::optional<Size> size;
  std::vector<uint8_t> png;
};
std::vector<uint8_t> WritePvmx(const std::vector<PvmxTexture>& textures);
Expected<std::vector<PvmxTexture>> ReadPvmx(std::span<const uint8_t> file, const std::string& path);

}  // namespace TexturePack
