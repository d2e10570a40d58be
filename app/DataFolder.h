// Where the editor's help page and sample archive lie, in a build folder and installed.
#pragma once

#include <string>

namespace app {

// The folder holding docs.html and sample.pvm: the first of these that holds either file,
// else programFolder (so a missing page still names a place, and Open starts somewhere).
//   1. programFolder itself, as in a build folder;
//   2. programFolder/relativeFolder, as bin/../share/quarnel of an installed program, which
//      holds wherever the installed tree was put (a DESTDIR staging tree, a moved prefix);
//   3. installedFolder, the data folder of the prefix the program was configured for.
// Empty relativeFolder or installedFolder are skipped. The result has no "..".
std::string FindDataFolder(const std::string& programFolder, const std::string& relativeFolder,
                           const std::string& installedFolder);

// The same with this build's own install layout.
std::string FindDataFolder(const std::string& programFolder);

}  // namespace app
