// Edit > Preferences: the external editor's program, the thumbnail size and the
// checkerboard's two colours, in a modal dialog, or a hook that tests install to answer
// from a script. The caller stores and applies what comes back.
#pragma once

#include <functional>
#include <optional>

#include "app/Settings.h"

class QWidget;

namespace PreferencesDialog {

// The preferences chosen, starting from `now`; nullopt when the user cancelled.
std::optional<Settings::Preferences> Ask(QWidget* owner, const Settings::Preferences& now);

// Replaces the real dialog; an empty function restores it. Returns the hook installed before.
using Hook = std::function<std::optional<Settings::Preferences>(const Settings::Preferences& now)>;
Hook SetHook(Hook hook);

}  // namespace PreferencesDialog
