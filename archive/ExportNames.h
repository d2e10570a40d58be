// The file names export-all gives the textures of an archive, and import-all maps back.
//
// An entry's own name becomes its file name (NAME.bmp for the image, NAME_mask.bmp for the
// mask) when all of these hold:
//   - it is made only of the letters A-Z and a-z, the digits, space, '.', '_' and '-';
//   - it does not start with '.' or a space, nor end with '.' or a space;
//   - it does not end with "_mask" in any letter case;
//   - it is not a device name (CON, PRN, AUX, NUL, COM1-COM9, LPT1-LPT9, alone or before a '.');
//   - no other listed entry has the same name, letter case ignored.
// Every other entry, an empty name included, gets "@ROW" instead (ROW in decimal, from 0).
// No kept name contains '@', and none ends with "_mask", so no two files of an archive can
// have the same name, even where letter case is ignored, and every file leads back to
// exactly one row.
#pragma once

#include <string>
#include <vector>

namespace BatchFiles {

// The base name (without ".bmp", "_mask.bmp" or ".png") of every row, for the names listed in
// row order.
std::vector<std::string> ExportBaseNames(const std::vector<std::string>& listedNames);

inline std::string ImageFileName(const std::string& base) { return base + ".bmp"; }
inline std::string MaskFileName(const std::string& base) { return base + "_mask.bmp"; }
inline std::string PngFileName(const std::string& base) { return base + ".png"; }

}  // namespace BatchFiles
