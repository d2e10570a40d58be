// Message boxes, as the core asks for them. The window installs a hook that shows a real
// box; tests install one that records the message and gives a scripted answer; without a
// hook the text goes to standard error and questions are answered with the safe choice.
#pragma once

#include <functional>
#include <string>

namespace platform {

// The application title, shown by boxes that name no title of their own.
inline constexpr const char* kAppTitle = "Quarnel";

// SaveDiscardCancel asks about unsaved work; it is answered Save, Discard or Cancel.
enum class Buttons { Ok, YesNo, YesNoCancel, SaveDiscardCancel };
enum class Icon { None, Critical, Question, Exclamation };
enum class Answer { Ok, Yes, No, Cancel, Save, Discard };

struct Message {
  std::string text;   // line breaks are "\n"
  std::string title;  // never empty once it reaches a hook
  Buttons buttons = Buttons::Ok;
  Icon icon = Icon::None;
};

using MessageHook = std::function<Answer(const Message&)>;

// Shows a message through the installed hook and returns the answer. An empty title is
// replaced by kAppTitle first.
Answer ShowMessage(Message message);

// The answer that changes nothing: Ok, No or Cancel. Given when nobody can answer, or the
// box was closed without a button.
Answer SafeAnswer(Buttons buttons);

// Installs the hook for every later message; an empty function restores the default.
// Returns the hook that was installed before, so a caller can put it back.
MessageHook SetMessageHook(MessageHook hook);

}  // namespace platform
