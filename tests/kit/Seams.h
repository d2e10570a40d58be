// Stand-ins for the window and the message box, for anything that drives the core.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/EditorWindow.h"
#include "platform/Messages.h"

namespace testkit {

// The list, status label and TextureSelected flag of the main window, as plain values.
class RecordingWindow : public platform::EditorWindow {
 public:
  void ListClear() override { rows.clear(); }
  void ListAddItem(const std::string& text) override { rows.push_back(text); }
  void SetStatus(const std::string& caption) override { status = caption; }
  void SetTextureSelected(int16_t value) override { textureSelected = value; }

  std::vector<std::string> rows;
  std::string status;
  int16_t textureSelected = 0;
};

// A RecordingWindow attached to the archive module while it lives, which starts with
// nothing loaded and only the empty slot 0; the archive is closed and the window detached
// when it goes.
class AttachedWindow : public RecordingWindow {
 public:
  AttachedWindow();
  ~AttachedWindow() override;
  AttachedWindow(const AttachedWindow&) = delete;
  AttachedWindow& operator=(const AttachedWindow&) = delete;
};

// Records every message shown while it lives: a plain message is answered Ok, a question
// with `answer`. Puts the previous hook back when it goes.
class MessageLog {
 public:
  explicit MessageLog(platform::Answer answer = platform::Answer::Ok)
      : previous_(platform::SetMessageHook([this, answer](const platform::Message& m) {
          messages.push_back(m);
          return m.buttons == platform::Buttons::Ok ? platform::Answer::Ok : answer;
        })) {}
  ~MessageLog() { platform::SetMessageHook(std::move(previous_)); }
  MessageLog(const MessageLog&) = delete;
  MessageLog& operator=(const MessageLog&) = delete;

  std::vector<platform::Message> messages;

 private:
  platform::MessageHook previous_;
};

}  // namespace testkit
