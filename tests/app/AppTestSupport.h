// Shared pieces of the window tests: a scratch folder, scripted file dialogs and message
// boxes, archive and BMP files assembled from readable values, and a fixture that builds
// a fresh Form1 for each test.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QColor>
#include <QImage>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <utility>
#include <string>
#include <vector>

#include "app/CommDlgs.h"
#include "app/Form1.h"
#include "app/PictureBox.h"
#include "app/PvmBytes.h"
#include "archive/ParseFuncts.h"
#include "platform/Messages.h"
#include "texture/cPVR.h"

namespace apptest {

namespace fs = std::filesystem;

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
 public:
  TempDir() {
    std::random_device rd;
    path_ = fs::temp_directory_path() / ("quarnel-app-" + std::to_string(rd()) + std::to_string(rd()));
    fs::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  std::string File(const std::string& name) const { return (path_ / name).string(); }
  std::string Folder() const { return path_.string() + "/"; }

 private:
  fs::path path_;
};

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// Texel data: each value stored low byte first.
inline std::vector<uint8_t> Texels(const std::vector<uint16_t>& values) {
  std::vector<uint8_t> out;
  for (uint16_t v : values) {
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
  }
  return out;
}

inline std::vector<uint8_t> TexelsOf(size_t count, const std::function<uint16_t(size_t)>& f) {
  std::vector<uint16_t> values(count);
  for (size_t n = 0; n < count; ++n) values[n] = f(n);
  return Texels(values);
}

inline uint16_t TexelAt(const std::vector<uint8_t>& data, size_t n) {
  return uint16_t(data[2 * n] | (data[2 * n + 1] << 8));
}

// A rectangular ARGB1555 texture: left half opaque red (0xFC00), right half transparent
// green (0x03E0). Width must be even.
inline pvm_bytes::Entry HalfRedHalfGreen(const std::string& name, uint16_t width,
                                         uint16_t height) {
  return {name, 0, 9, width, height,
          TexelsOf(size_t(width) * height,
                   [width](size_t n) { return uint16_t(n % width < width / 2u ? 0xFC00 : 0x03E0); })};
}

// A rectangular texture of one texel value.
inline pvm_bytes::Entry Plain(const std::string& name, uint8_t pFormat, uint16_t width,
                              uint16_t height, uint16_t texel) {
  return {name, pFormat, 9, width, height,
          TexelsOf(size_t(width) * height, [texel](size_t) { return texel; })};
}

// An uncompressed 24-bit BMP, rows bottom-up, each padded to 4 bytes.
inline std::vector<uint8_t> Bmp24(int width, int height,
                                  const std::function<QColor(int x, int y)>& pixel,
                                  uint16_t bitCount = 24) {
  const size_t stride = (size_t(width) * 3 + 3) / 4 * 4;
  const size_t imageSize = stride * size_t(height);
  std::vector<uint8_t> out(54 + imageSize, 0);
  auto put = [&out](size_t at, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out[at + i] = uint8_t(v >> (8 * i));
  };
  out[0] = 'B';
  out[1] = 'M';
  put(2, uint32_t(out.size()), 4);  // bfSize
  put(10, 54, 4);                   // bfOffBits
  put(14, 40, 4);                   // biSize
  put(18, uint32_t(width), 4);      // biWidth
  put(22, uint32_t(height), 4);     // biHeight
  put(26, 1, 2);                    // biPlanes
  put(28, bitCount, 2);             // biBitCount
  put(34, uint32_t(imageSize), 4);  // biSizeImage
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const QColor c = pixel(x, y);
      const size_t at = 54 + size_t(height - 1 - y) * stride + size_t(x) * 3;
      out[at] = uint8_t(c.blue());
      out[at + 1] = uint8_t(c.green());
      out[at + 2] = uint8_t(c.red());
    }
  return out;
}

// The colour of pixel (x, y), top row 0, of a 24-bit BMP file's bytes.
inline QColor BmpPixel(const std::vector<uint8_t>& bmp, int x, int y) {
  const int width = bmp[18] | bmp[19] << 8;
  const int height = bmp[22] | bmp[23] << 8;
  const size_t stride = (size_t(width) * 3 + 3) / 4 * 4;
  const size_t at = 54 + size_t(height - 1 - y) * stride + size_t(x) * 3;
  return QColor(bmp[at + 2], bmp[at + 1], bmp[at]);
}

// File dialogs answered from a script, in order; every request is kept. An empty script
// answers "" (cancel).
struct ScriptedDialogs {
  std::deque<std::string> answers;
  std::vector<CommDlgs::FileDialogRequest> requests;
  std::function<void()> duringDialog;  // runs inside the next dialog, then is cleared

  std::string Answer(const CommDlgs::FileDialogRequest& request) {
    requests.push_back(request);
    if (duringDialog) std::exchange(duringDialog, nullptr)();
    if (answers.empty()) return {};
    std::string answer = answers.front();
    answers.pop_front();
    return answer;
  }
};

// Message boxes answered from a script, in order; every message is kept. An empty script
// answers with the choice that changes nothing.
struct ScriptedMessages {
  std::deque<platform::Answer> answers;
  std::vector<platform::Message> shown;

  platform::Answer Answer(const platform::Message& message) {
    shown.push_back(message);
    if (!answers.empty()) {
      const platform::Answer a = answers.front();
      answers.pop_front();
      return a;
    }
    switch (message.buttons) {
      case platform::Buttons::Ok: return platform::Answer::Ok;
      case platform::Buttons::YesNo: return platform::Answer::No;
      case platform::Buttons::YesNoCancel: return platform::Answer::Cancel;
    }
    return platform::Answer::Ok;
  }
};

class EditorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previousDialogs_ = CommDlgs::SetFileDialogHook(
        [this](const CommDlgs::FileDialogRequest& r) { return dialogs.Answer(r); });
    previousMessages_ =
        platform::SetMessageHook([this](const platform::Message& m) { return messages.Answer(m); });
    previousHelp_ = Form1::SetHelpOpener([this](const std::string& page) { helpOpened.push_back(page); });
    form = std::make_unique<Form1>();
    form->show();
  }

  void TearDown() override {
    form.reset();
    ParseFuncts::CloseArchive();  // no window attached any more: resets the module only
    ParseFuncts::Textures.clear();
    Form1::SetHelpOpener(previousHelp_);
    platform::SetMessageHook(previousMessages_);
    CommDlgs::SetFileDialogHook(previousDialogs_);
  }

  // Writes an archive of these entries into the scratch folder; returns its path.
  std::string WriteArchive(const std::string& name, const std::vector<pvm_bytes::Entry>& entries) {
    const std::string path = dir.File(name);
    WriteBytes(path, pvm_bytes::Build(entries));
    return path;
  }

  // Runs the Open command with the dialog answering path.
  void Open(const std::string& path) {
    dialogs.answers.push_back(path);
    form->mnuOpen_Click();
  }

  // Selects a row as a click would (without showing it).
  void SelectRow(int row) { form->List1->setCurrentRow(row); }

  // Selects a row and shows it, as a double-click does.
  void ShowRow(int row) {
    SelectRow(row);
    form->List1_DblClick();
  }

  cPVR* TextureOfRow(int row) { return ParseFuncts::Textures.at(size_t(row) + 1).get(); }

  std::vector<std::string> ListRows() const {
    std::vector<std::string> rows;
    for (int i = 0; i < form->List1->count(); ++i) rows.push_back(form->List1->item(i)->text().toStdString());
    return rows;
  }

  // The widget on top at a point of the client area.
  QWidget* WidgetAt(int x, int y) const { return form->centralWidget()->childAt(x, y); }

  TempDir dir;
  ScriptedDialogs dialogs;
  ScriptedMessages messages;
  std::vector<std::string> helpOpened;
  std::unique_ptr<Form1> form;

 private:
  CommDlgs::FileDialogHook previousDialogs_;
  platform::MessageHook previousMessages_;
  Form1::HelpOpener previousHelp_;
};

}  // namespace apptest
