// Shows the core's messages as real message boxes.
#pragma once

#include "platform/Messages.h"

namespace app {

// Installs a message hook that shows each message in a modal QMessageBox over the active
// window, with its title, buttons, icon and Yes (or Save) as the default button. Returns the hook
// installed before.
platform::MessageHook InstallMessageBoxHook();

}  // namespace app
