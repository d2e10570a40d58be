// Shared pieces of the window tests: a scratch folder, scripted file dialogs and message
// boxes, archive and BMP files assembled from readable values, and a fixture that builds
// a fresh Form1 for each test.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QColor>
#include <QImage>
#include <array>
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
#include "archive/ParseFuncts.h"
#include "kit/BmpBuilder.h"
#include "kit/Files.h"
#include "kit/PvmBuilder.h"
#include "platform/Messages.h"
#include "texture/cPVR.h"

namespace apptest {

namespace fs = std::filesystem;

using TempDir = testkit::ScratchFolder;
using testkit::ReadBytes;
using testkit::WriteBytes;

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
inline archive_builder::Entry HalfRedHalfGreen(const std::string& name, uint16_t width,
                                         uint16_t height) {
  return {name, 0, 9, width, height,
          TexelsOf(size_t(width) * height,
                   [width](size_t n) { return uint16_t(n % width < width / 2u ? 0xFC00 : 0x03E0); })};
}

// A rectangular texture of one texel value.
inline archive_builder::Entry Plain(const std::string& name, uint8_t pFormat, uint16_t width,
                              uint16_t height, uint16_t texel) {
  return {name, pFormat, 9, width, height,
          TexelsOf(size_t(width) * height, [texel](size_t) { return texel; })};
}

// An uncompressed 24-bit BMP, rows bottom-up, each padded to 4 bytes.
inline std::vector<uint8_t> Bmp24(int width, int height,
                                  const std::function<QColor(int x, int y)>& pixel,
                                  uint16_t bitCount = 24) {
  testkit::BmpFields f;
  f.width = width;
  f.height = height;
  f.bitCount = bitCount;
  f.sizeImage = uint32_t(testkit::BmpStride(width) * size_t(height));
  return testkit::BuildBmp(f, [&](int x, int y) {
    const QColor c = pixel(x, y);
    return std::array<uint8_t, 3>{uint8_t(c.blue()), uint8_t(c.green()), uint8_t(c.red())};
  });
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
    return platform::SafeAnswer(message.buttons);
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
  std::string WriteArchive(const std::string& name, const std::vector<archive_builder::Entry>& entries) {
    const std::string path = dir.File(name);
    WriteBytes(path, archive_builder::BuildArchive(entries));
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
