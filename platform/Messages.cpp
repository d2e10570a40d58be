#include "platform/Messages.h"

#include <cstdio>
#include <utility>

namespace platform {
namespace {

MessageHook& InstalledHook() {
  static MessageHook hook;
  return hook;
}

// Without a window nobody can answer, so a question takes the answer that changes nothing.
Answer WriteToStandardError(const Message& message) {
  std::fprintf(stderr, "%s\n", message.text.c_str());
  switch (message.buttons) {
    case Buttons::Ok: return Answer::Ok;
    case Buttons::YesNo: return Answer::No;
    case Buttons::YesNoCancel: return Answer::Cancel;
  }
  return Answer::Ok;
}

}  // namespace

Answer ShowMessage(Message message) {
  if (message.title.empty()) message.title = kAppTitle;
  const MessageHook& hook = InstalledHook();
  return hook ? hook(message) : WriteToStandardError(message);
}

MessageHook SetMessageHook(MessageHook hook) {
  return std::exchange(InstalledHook(), std::move(hook));
}

}  // namespace platform
