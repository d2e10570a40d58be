// The archive module: reads a PVM archive (laid out as PvmLayout.h describes) into texture
// objects and the entry list, releases it, and writes it back over its own file. A
// standalone .pvr file (PvrFileLayout.h) is handled as an archive of one entry.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "texture/cPVR.h"

namespace platform {
class EditorWindow;
}

namespace ParseFuncts {

// Slot k (1..N) holds the texture of the k-th entry; slot 0 is always empty. List row i
// stands for slot i + 1.
extern std::vector<std::unique_ptr<cPVR>> Textures;

// The header chunk of the open archive exactly as read (H + 8 bytes); for a .pvr file, the
// bytes before its PVR chunk (its GBIX chunk, or none).
extern std::vector<uint8_t> ArchiveHeader;

// The window whose list, status label and TextureSelected flag this module fills and
// resets; nullptr (the default) leaves them alone.
void AttachWindow(platform::EditorWindow* window);

// Reads the archive at path. On success Textures, ArchiveHeader, the list and the status
// hold the new archive. On failure the user is told what is wrong and nothing of the state
// changes, except that an archive loaded earlier from this same path can no longer be saved.
// Returns whether the archive was loaded.
//
// The file is told apart by its content: "PVMH" starts an archive; "PVRT", "GBIX" or "GCIX"
// a .pvr file, listed as one row named after the file (without its folder), with the
// status "Loaded 1 sets...".
//
// Refused: files that cannot be read ("Whoops"), a file that starts with none of those
// magics ("Hey!"), and any header or chunk that does not lie within the file ("Hey!", with
// the path and the fault); also a GBIX or GCIX chunk whose length does not lead to a
// "PVRT" chunk within the file, whether it starts a .pvr file or comes before a texture's
// chunk in an archive (there the texture is that PVRT chunk, and the next is found from it).
// Each chunk must end where the next one begins, counting its length either after the
// length field or over the whole chunk, or before a gap of up to 6 bytes; the last chunk
// may run up to 8 bytes past the end of the file (read as zeros) for the whole-chunk count.
bool OpenArchive(const std::string& path);

// Empties every slot, clears the list, sets the status to "No File Loaded" and clears
// TextureSelected. Harmless with nothing loaded.
void CloseArchive();

// Writes the loaded archive back over the file at path, in place: the header and every
// chunk at the offsets they were read from, every index chunk as it was read (even when the
// file has gone since), every other byte as it was. A .pvr file keeps its chunk header as
// read too, so only its texel bytes can change. The file is replaced whole or not at all. Writes nothing, silently, when no archive is loaded or path
// is not the file it was read from. On failure (the file cannot be read or written, or a
// texture's data no longer fits its chunk) the user is told and the file keeps its old
// bytes. Returns whether the file was written.
bool SaveArchive(const std::string& path);

// Whether an archive is loaded (a successful OpenArchive since the last CloseArchive).
bool ArchiveLoaded();

// The texture behind list row i (slot i + 1); nullptr for a row with no texture behind it.
cPVR* TextureOfRow(int64_t row);

// The backup of an archive: its path with the last three characters (the extension, as a
// rule) replaced by "BAK". Characters of UTF-8, not bytes, so "x.pvé" gives "x.BAK".
std::string BackupPathOf(const std::string& archivePath);

}  // namespace ParseFuncts
