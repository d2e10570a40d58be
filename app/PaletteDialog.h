// Texture > Palette...'s second question, after the .pvp file is chosen through FileDialogs:
// which bank of it the textures read. A modal dialog, or a hook that tests install.
#pragma once

#include <functional>
#include <optional>
#include <string>

class QWidget;

namespace PaletteDialog {

// The bank, from 0 to 63 (palette memory holds 64 banks of 16 colours, 4 of 256), offered at
// `now`; nullopt when the user cancels. `palette` is the chosen file's path.
std::optional<int> AskBank(QWidget* owner, const std::string& palette, int now);

// Replaces the real dialog; an empty function restores it. Returns the hook installed before.
using Hook = std::function<std::optional<int>(const std::string& palette, int now)>;
Hook SetHook(Hook hook);

}  // namespace PaletteDialog
