// Stand-ins for the window and the message box, and a scratch folder, for tests of the core.
#pragma once

#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/EditorWindow.h"
#include "platform/Messages.h"

namespace test_seams {

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

// Records every message shown while it lives and answers each with `answer`; puts the
// previous hook back when it goes.
class MessageLog {
 public:
  explicit MessageLog(platform::Answer answer = platform::Answer::Ok)
      : previous_(platform::SetMessageHook([this, answer](const platform::Message& m) {
          messages.push_back(m);
          return answer;
        })) {}
  ~MessageLog() { platform::SetMessageHook(previous_); }
  MessageLog(const MessageLog&) = delete;
  MessageLog& operator=(const MessageLog&) = delete;

  std::vector<platform::Message> messages;

 private:
  platform::MessageHook previous_;
};

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quarnel-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TempFolder() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  std::string Path(const std::string& name) const { return (path_ / name).string(); }

  // Writes bytes to a file in the folder and returns its path.
  std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) const {
    const std::string p = Path(name);
    std::ofstream(p, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return p;
  }

  // The names of everything in the folder, to see that no temporary file stayed.
  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(path_)) names.push_back(e.path().filename());
    return names;
  }

 private:
  std::filesystem::path path_;
};

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace test_seams
