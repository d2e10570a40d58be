// The editor's file and folder dialogs, or a hook that tests install to answer them from a
// script. Every path is UTF-8.
#pragma once

#include <functional>
#include <string>
#include <vector>

class QWidget;

namespace FileDialogs {

// One entry of a dialog's file-type list.
struct Filter {
  std::string description;  // "BMP Files"
  std::string patterns;     // "*.bmp", several separated by ';'
  bool operator==(const Filter&) const = default;
};

// OpenSeveral chooses one or more existing files (see AskSeveral).
enum class Kind { Open, OpenSeveral, Save, Folder };

// Everything a caller asks of a dialog.
struct Request {
  QWidget* owner = nullptr;
  Kind kind = Kind::Open;
  std::string title;
  std::vector<Filter> filters;  // in the order offered; the first is chosen at first
  std::string initialDir;
  std::string defaultExt;  // without the dot
};

// Shows a modal dialog and returns the full path chosen, or "" when the user cancels.
// Open accepts existing files only; Save asks before it returns a file that exists; Folder
// chooses an existing folder. The filters' patterns match names regardless of case, so
// "*.pvm" offers OBJ_TEX.PVM too. A name typed without an extension gets defaultExt while
// the first filter is chosen, and the extension of the chosen filter's first pattern once
// the user picks another. Each dialog, told apart by its title, starts where it last chose
// something (kept in Settings, across runs), else at initialDir; a hook sees that folder
// as the request's initialDir.
std::string Ask(const Request& request);

// The same for Kind::OpenSeveral: every file chosen, in the dialog's order; none when the
// user cancels. A hook answers with the paths separated by line breaks.
std::vector<std::string> AskSeveral(const Request& request);

// Replaces the real dialogs: every later Ask hands its request to the hook and returns the
// hook's answer. An empty function restores the real dialogs. Returns the hook installed
// before.
using Hook = std::function<std::string(const Request&)>;
Hook SetHook(Hook hook);

// The same as Ask with a check box under the file list, unchecked at first (the export's
// "Indexed PNG", the import's "Build a new palette"): the path chosen, or "", and whether
// the box was checked.
struct Checked {
  std::string path;
  bool checked = false;
};
Checked AskWithCheckBox(const Request& request, const std::string& label);

// Answers the check box of AskWithCheckBox while the path comes from the Hook; without it,
// and whenever the Hook is set alone, the box stays unchecked. Returns the hook installed
// before.
using CheckBoxHook = std::function<bool(const Request&, const std::string& label)>;
CheckBoxHook SetCheckBoxHook(CheckBoxHook hook);

}  // namespace FileDialogs
