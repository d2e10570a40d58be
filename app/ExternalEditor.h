// One texture edited in another program: the texture is written as NAME.png into a private
// temporary folder, the program is started on it, and the file is watched. Each complete
// save that differs from the last is handed on through saved(); the window imports it.
// Stopping (or destroying) the session removes the folder.
//
// Editors save in several ways: writing the file in place, in pieces, or writing a new
// file and renaming it over the old one, which leaves a watch on a file that is gone. So
// both the file and its folder are watched, the file is watched anew after each change, and
// the file is looked at only once changes have paused for kSettleMs. A file that is not a
// whole PNG then (still being written, truncated, replaced by something else, deleted) is
// noted and skipped; the next change is tried again.
#pragma once

#include <QObject>
#include <QSize>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "archive/BatchFiles.h"

class QFileSystemWatcher;
class QTemporaryDir;
struct BankColours;
struct Texture;

class ExternalEditor : public QObject {
  Q_OBJECT

 public:
  static constexpr int kSettleMs = 100;

  explicit ExternalEditor(QObject* parent = nullptr);
  ~ExternalEditor() override;

  // Stops any session, then writes the texture as NAME.png (a name made safe for a file),
  // starts the program on it (an empty program: the desktop's default for PNG files) and
  // watches it. "" once the editor started; else what went wrong, in the user's words, and
  // nothing is left behind.
  std::string start(const Texture& texture, const std::string& name, const QString& program,
                    const BankColours* colours = nullptr);
  void stop();
  bool editing() const { return folder_ != nullptr; }
  // The file the editor works on; "" while not editing.
  QString file() const { return file_; }
  QString folder() const;

  // Looks at the file now, as the watcher does once changes have paused.
  void checkFile();

  // The answer to the size question for this session: asked at the first save of another
  // size, then used for the rest. Cleared by start() and stop().
  std::optional<BatchFiles::SizeChoice> sizeAnswer;

  // The seam that starts editors, which tests replace with a scripted one. It gets the file
  // and the program ("" for the desktop's default) and returns "" once the editor started,
  // else why not. `failedLater` may be called once, later, with why the editor ended at once
  // with an error; it is safe to call after the session is gone. An empty launcher restores
  // the real one. Returns the launcher installed before.
  struct Launch {
    std::string file;
    QString program;
  };
  using FailureReport = std::function<void(const std::string& why)>;
  using Launcher = std::function<std::string(const Launch& launch, FailureReport failedLater)>;
  static Launcher SetLauncher(Launcher launcher);

 signals:
  // A complete PNG that differs from the last one, copied to `snapshot` (named as the file)
  // so that what is imported is exactly what was checked, whatever the editor does next.
  // pictureSize is the PNG's own size, from its header.
  void saved(const QString& snapshot, QSize pictureSize);
  // Something the user should know about the file, for the status bar.
  void note(const QString& text);
  // The editor ended at once with an error; the session has stopped.
  void editorFailed(const QString& text);

 private:
  void watchAgain();

  std::unique_ptr<QTemporaryDir> folder_;
  QString file_, snapshot_;
  QFileSystemWatcher* watcher_ = nullptr;
  QTimer settle_;
  std::vector<uint8_t> lastBytes_;  // the file as last written or imported
  bool goneNoted_ = false;
  bool importing_ = false;  // saved() is being handled
  uint64_t session_ = 0;  // tells a late failure report from an earlier session's
};
