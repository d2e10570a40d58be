// The window's message boxes: the core's errors and the window's own questions, shown in a
// modal QMessageBox, or handed to a hook that tests install to answer from a script.
#pragma once

#include <functional>
#include <string>

#include "texture/Error.h"

namespace MessageBoxes {

// The program's name, the title of every box that names none of its own.
inline constexpr const char* kAppTitle = "Quarnel";

// SaveDiscardCancel asks about unsaved work; it is answered Save, Discard or Cancel.
enum class Buttons { Ok, YesNo, YesNoCancel, SaveDiscardCancel };
enum class Answer { Ok, Yes, No, Cancel, Save, Discard };

struct Message {
  std::string text;   // line breaks are "\n"
  std::string title;  // empty: kAppTitle (never empty once it reaches a hook)
  Buttons buttons = Buttons::Ok;
  Icon icon = Icon::None;
};

// Shows the message and returns the answer. A box closed without a button gives
// SafeAnswer; Yes (or Save) is the default button.
Answer Show(Message message);
// Shows an error from the core with its title and icon, and an Ok button.
void Show(const Error& error);

// The answer that changes nothing: Ok, No or Cancel.
Answer SafeAnswer(Buttons buttons);

// Replaces the real boxes: every later message goes to the hook, whose answer is returned.
// An empty function restores the real boxes. Returns the hook installed before.
using Hook = std::function<Answer(const Message&)>;
Hook SetHook(Hook hook);

}  // namespace MessageBoxes
