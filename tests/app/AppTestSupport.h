// Shared pieces of the window tests: scripted file dialogs and message boxes, textures and
// BMP files assembled from readable values, and a fixture that builds a fresh MainWindow
// for each test and drives it through its actions.
#pragma once

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QColor>
#include <QImage>
#include <QListView>
#include <QTest>
#include <array>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "app/EntryDialogs.h"
#include "app/FileDialogs.h"
#include "app/MainWindow.h"
#include "app/MessageBoxes.h"
#include "app/Settings.h"
#include "kit/BmpBuilder.h"
#include "kit/Files.h"
#include "kit/PvmBuilder.h"

namespace apptest {

namespace fs = std::filesystem;

using TempDir = testkit::ScratchFolder;
using testkit::ReadBytes;
using testkit::WriteBytes;
using MessageBoxes::Answer;

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

inline uint16_t TexelAt(std::span<const uint8_t> data, size_t n) {
  return uint16_t(data[2 * n] | (data[2 * n + 1] << 8));
}

// A rectangular ARGB1555 texture: left half opaque red (0xFC00), right half transparent
// green (0x03E0). Width must be even.
inline archive_builder::Entry HalfRedHalfGreen(const std::string& name, uint16_t width, uint16_t height) {
  return {name, 0, 9, width, height,
          TexelsOf(size_t(width) * height,
                   [width](size_t n) { return uint16_t(n % width < width / 2u ? 0xFC00 : 0x03E0); })};
}

// A rectangular texture of one texel value.
inline archive_builder::Entry Plain(const std::string& name, uint8_t pixelFormat, uint16_t width,
                                    uint16_t height, uint16_t texel) {
  return {name, pixelFormat, 9, width, height, TexelsOf(size_t(width) * height, [texel](size_t) { return texel; })};
}

// An uncompressed BMP, rows bottom-up, each padded to 4 bytes.
inline std::vector<uint8_t> Bmp24(int width, int height, const std::function<QColor(int x, int y)>& pixel,
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

inline std::vector<uint8_t> Bmp24(int width, int height, QColor colour) {
  return Bmp24(width, height, [colour](int, int) { return colour; });
}

// The colour of pixel (x, y), top row 0, of a 24-bit BMP file's bytes.
inline QColor BmpPixel(const std::vector<uint8_t>& bmp, int x, int y) {
  const int width = bmp[18] | bmp[19] << 8;
  const int height = bmp[22] | bmp[23] << 8;
  const size_t stride = (size_t(width) * 3 + 3) / 4 * 4;
  const size_t at = 54 + size_t(height - 1 - y) * stride + size_t(x) * 3;
  return QColor(bmp[at + 2], bmp[at + 1], bmp[at]);
}

// Message boxes answered from a script, in order; every message is kept. An empty script
// answers with the choice that changes nothing.
struct ScriptedMessages {
  std::deque<Answer> answers;
  std::vector<MessageBoxes::Message> shown;

  Answer Reply(const MessageBoxes::Message& message) {
    shown.push_back(message);
    if (answers.empty()) return MessageBoxes::SafeAnswer(message.buttons);
    const Answer a = answers.front();
    answers.pop_front();
    return a;
  }

  std::vector<std::string> Texts() const {
    std::vector<std::string> texts;
    for (const auto& m : shown) texts.push_back(m.text);
    return texts;
  }
};

// Installs, while it lives, file dialogs answered from a script in order (an empty script
// cancels), scripted message boxes and a help viewer that records the pages it is given.
class ScriptedSeams {
 public:
  ScriptedSeams()
      : previousDialogs_(FileDialogs::SetHook([this](const FileDialogs::Request& r) { return Pick(r); })),
        previousMessages_(MessageBoxes::SetHook([this](const MessageBoxes::Message& m) { return messages.Reply(m); })),
        previousHelp_(MainWindow::SetHelpOpener([this](const std::string& page) { helpOpened.push_back(page); })),
        previousEntryDialogs_(EntryDialogs::SetHooks(
            {[this] { return formatsAnswer; },
             [this](const EntryDialogs::SizeQuestion& q) {
               sizeQuestions.push_back(q);
               return sizeAnswer;
             },
             [this](const std::string&) { return nameAnswer; },
             [this](const EntryDialogs::Properties& now) {
               return editProperties ? editProperties(now) : std::nullopt;
             }})) {}
  ~ScriptedSeams() {
    EntryDialogs::SetHooks(std::move(previousEntryDialogs_));
    MainWindow::SetHelpOpener(std::move(previousHelp_));
    MessageBoxes::SetHook(std::move(previousMessages_));
    FileDialogs::SetHook(std::move(previousDialogs_));
  }

  std::deque<std::string> chosenPaths;  // what the dialogs answer, in order
  std::vector<FileDialogs::Request> dialogRequests;
  std::function<void()> duringDialog;  // runs inside the next dialog, then is cleared
  ScriptedMessages messages;
  std::vector<std::string> helpOpened;
  // What the entry dialogs answer; nullopt cancels.
  std::optional<FormatChoice::Choice> formatsAnswer = FormatChoice::Choice{};
  std::optional<BatchFiles::SizeChoice> sizeAnswer = BatchFiles::SizeChoice::Keep;
  std::vector<EntryDialogs::SizeQuestion> sizeQuestions;
  std::optional<std::string> nameAnswer;
  std::function<std::optional<EntryDialogs::Properties>(EntryDialogs::Properties)> editProperties;

 private:
  std::string Pick(const FileDialogs::Request& request) {
    dialogRequests.push_back(request);
    if (duringDialog) std::exchange(duringDialog, nullptr)();
    if (chosenPaths.empty()) return {};
    std::string answer = std::move(chosenPaths.front());
    chosenPaths.pop_front();
    return answer;
  }

  FileDialogs::Hook previousDialogs_;
  MessageBoxes::Hook previousMessages_;
  MainWindow::HelpOpener previousHelp_;
  EntryDialogs::Hooks previousEntryDialogs_;
};

// Drives a MainWindow as its user would: through its actions, its list and its view.
struct WindowDriver {
  MainWindow& window;

  void Run(const char* action) {
    QAction* a = window.findChild<QAction*>(action);
    ASSERT_NE(a, nullptr) << action;
    a->trigger();
  }
  QListView* List() const { return window.entryList(); }
  void SelectRow(int row) { List()->setCurrentIndex(List()->model()->index(row, 0)); }
  // Selects a row and shows it, as Enter does.
  void ShowRow(int row) {
    SelectRow(row);
    QTest::keyClick(List(), Qt::Key_Return);
  }
  int SelectedRow() const {
    const QModelIndexList selected = List()->selectionModel()->selectedIndexes();
    return selected.isEmpty() ? -1 : selected.first().row();
  }
  std::vector<std::string> Rows() const {
    std::vector<std::string> rows;
    for (int i = 0; i < List()->model()->rowCount(); ++i)
      rows.push_back(List()->model()->index(i, 0).data().toString().toStdString());
    return rows;
  }
  const UnzeroedBytes& DataOfRow(int row) const {
    return window.archive()->Entries().at(size_t(row)).texture.data;
  }
  // What the view paints now, before zoom, and the view as it appears on screen.
  QImage Shown() const { return window.textureView()->picture(); }
  QImage Grab() const { return window.textureView()->grab().toImage(); }
  QSize ShownSize() const { return window.textureView()->pictureSize(); }
};

class EditorTest : public ::testing::Test, protected ScriptedSeams {
 protected:
  void SetUp() override {
    Settings::Clear();  // each window starts as on a first run
    window = std::make_unique<MainWindow>(dataFolder());
    window->show();
  }
  void TearDown() override { window.reset(); }

  std::string dataFolder() const { return dir.path().string(); }

  // Writes an archive of these entries into the scratch folder; returns its path.
  std::string WriteArchive(const std::string& name, const std::vector<archive_builder::Entry>& entries) {
    const std::string path = dir.File(name);
    WriteBytes(path, archive_builder::BuildArchive(entries));
    return path;
  }
  std::string WriteBmp(const std::string& name, int width, int height, QColor colour) {
    const std::string path = dir.File(name);
    WriteBytes(path, Bmp24(width, height, colour));
    return path;
  }

  void Run(const char* action) { WindowDriver{*window}.Run(action); }
  // Runs Open with the dialog answering path.
  void Open(const std::string& path) {
    chosenPaths.push_back(path);
    Run("openArchive");
  }
  WindowDriver Drive() { return {*window}; }

  TempDir dir;
  std::unique_ptr<MainWindow> window;
};

}  // namespace apptest
