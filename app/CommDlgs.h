// The file dialogs of the editor and two small path helpers. Every path is UTF-8.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class QWidget;

namespace CommDlgs {

// One entry of a dialog's file-type list.
struct FileFilter {
  std::string description;  // "BMP Files"
  std::string patterns;     // "*.bmp", several separated by ';'
  bool operator==(const FileFilter&) const = default;
};

// Everything a caller asks of a file dialog, as ShowFileDialog received it.
struct FileDialogRequest {
  QWidget* owner = nullptr;
  int16_t mode = 1;             // 1 open, 2 choose a folder, anything else save
  std::string title;
  std::string initialFileName;
  std::vector<FileFilter> filters;  // in the order offered; the first is chosen at first
  std::string initialDir;
  std::string defaultExt;       // without the dot
};

// Shows a modal file dialog and returns the full path chosen, or "" when the user cancels.
// The open dialog (mode 1) accepts existing files only; the save dialog asks before it
// returns a file that exists. The filters' patterns match names regardless of case, so
// "*.pvm" offers OBJ_TEX.PVM too. A name typed without an extension gets defaultExt while
// the first filter is chosen, and the extension of the chosen filter's first pattern once
// the user picks another.
std::string ShowFileDialog(QWidget* owner, int16_t mode, const std::string& title,
                           const std::string& initialFileName,
                           const std::vector<FileFilter>& filters,
                           const std::string& initialDir, const std::string& defaultExt);

// Shows a modal dialog that chooses an existing folder; "" when the user cancels. Scripted
// dialogs see it as a request of mode 2.
std::string ShowFolderDialog(QWidget* owner, const std::string& title,
                             const std::string& initialDir);

// Replaces the real dialogs: every later ShowFileDialog hands its request to the hook and
// returns the hook's answer. An empty function restores the real dialogs. Returns the hook
// installed before.
using FileDialogHook = std::function<std::string(const FileDialogRequest&)>;
FileDialogHook SetFileDialogHook(FileDialogHook hook);

// The file-name part of a path: the text after its last folder separator, or the whole
// text when it has none. Cutting that many characters off the path leaves its folder with
// the trailing separator.
std::string GetFileNamePart(const std::string& path);

// A copy of a NUL-terminated string; "" for a null pointer.
std::string StringFromPointer(const char* text);

}  // namespace CommDlgs
