#include "platform/Messages.h"

#include <cstdio>
#include <utility>

#include "platform/Seam.h"

namespace platform {
namespace {

// Without a window nobody can answer, so a question takes the answer that changes nothing.
Answer WriteToStandardError(const Message& message) {
  std::fprintf(stderr, "%s\n", message.text.c_str());
  return SafeAnswer(message.buttons);
}

}  // namespace

Answer SafeAnswer(Buttons buttons) {
  switch (buttons) {
    case Buttons::Ok: return Answer::Ok;
    case Buttons::YesNo: return Answer::No;
    case Buttons::YesNoCancel: return Answer::Cancel;
    case Buttons::SaveDiscardCancel: return Answer::Cancel;
  }
  return Answer::Ok;
}

Answer ShowMessage(Message message) {
  if (message.title.empty()) message.title = kAppTitle;
  const MessageHook& hook = InstalledSeam<MessageHook>();
  return hook ? hook(message) : WriteToStandardError(message);
}

MessageHook SetMessageHook(MessageHook hook) {
  return ReplaceSeam(std::move(hook));
}

}  // namespace platform
