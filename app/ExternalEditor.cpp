#include "app/ExternalEditor.h"

#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QPointer>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>
#include <utility>

#include "app/Seam.h"
#include "platform/Files.h"
#include "texture/Image.h"
#include "texture/PngFile.h"
#include "texture/Texture.h"

namespace {

// An editor that ends with an error within this long after it started has failed to open
// the picture; one that ends later was used and closed.
constexpr qint64 kStartupMs = 5000;

// The entry's name as a file name: letters, digits, space, '.', '_' and '-' kept, anything
// else '_', no leading dot; "texture" when nothing is left.
QString FileNameFor(const std::string& name) {
  QString safe;
  for (const QChar c : QString::fromStdString(name))
    safe += c.isLetterOrNumber() || c == ' ' || c == '.' || c == '_' || c == '-' ? c : QChar('_');
  while (safe.startsWith('.') || safe.startsWith(' ')) safe.remove(0, 1);
  return (safe.trimmed().isEmpty() ? QStringLiteral("texture") : safe.trimmed()) + QStringLiteral(".png");
}

std::string StartWithDesktop(const std::string& file) {
  if (QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(file)))) return {};
  return "The desktop has no program to open PNG pictures with.\n\nChoose an image editor in "
         "Edit > Preferences.";
}

// The process is owned by nobody and deletes itself when its program ends: closing the
// texture, or Quarnel, must not kill an editor that may hold other work. Its output goes
// where Quarnel's goes, so that a talkative editor never stalls on a full pipe.
std::string StartProgram(const std::string& file, const QString& program,
                         const ExternalEditor::FailureReport& failedLater) {
  QStringList arguments = QProcess::splitCommand(program);
  if (arguments.isEmpty()) return StartWithDesktop(file);
  const QString name = arguments.takeFirst();
  arguments << QString::fromStdString(file);
  auto* process = new QProcess;
  process->setProcessChannelMode(QProcess::ForwardedChannels);
  process->setInputChannelMode(QProcess::ForwardedInputChannel);
  process->start(name, arguments);
  if (!process->waitForStarted()) {
    const std::string why = process->errorString().toStdString();
    delete process;
    return "The image editor " + program.toStdString() + " could not be started.\n\n" + why +
           "\n\nChoose another in Edit > Preferences.";
  }
  auto started = std::make_shared<QElapsedTimer>();
  started->start();
  QObject::connect(process, &QProcess::finished, process,
                   [process, started, program, failedLater](int code, QProcess::ExitStatus status) {
                     if ((status == QProcess::CrashExit || code != 0) && started->elapsed() < kStartupMs)
                       failedLater("The image editor " + program.toStdString() + " ended at once with " +
                                   (status == QProcess::CrashExit ? std::string("a crash")
                                                                  : "the error code " + std::to_string(code)) +
                                   ", so the texture is not being edited.");
                     process->deleteLater();
                   });
  return {};
}

std::string StartEditor(const ExternalEditor::Launch& launch, const ExternalEditor::FailureReport& failedLater) {
  if (const ExternalEditor::Launcher& launcher = app::InstalledSeam<ExternalEditor::Launcher>())
    return launcher(launch, failedLater);
  return StartProgram(launch.file, launch.program, failedLater);
}

}  // namespace

ExternalEditor::ExternalEditor(QObject* parent) : QObject(parent) {
  settle_.setSingleShot(true);
  settle_.setInterval(kSettleMs);
  connect(&settle_, &QTimer::timeout, this, &ExternalEditor::checkFile);
}

ExternalEditor::~ExternalEditor() { stop(); }

ExternalEditor::Launcher ExternalEditor::SetLauncher(Launcher launcher) {
  return app::ReplaceSeam(std::move(launcher));
}

QString ExternalEditor::folder() const { return folder_ ? folder_->path() : QString(); }

std::string ExternalEditor::start(const Texture& texture, const std::string& name, const QString& program,
                                  const BankColours* colours) {
  stop();
  auto folder = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/quarnel-edit-XXXXXX"));
  // What is imported is copied aside first; a folder of its own keeps those writes out of
  // the watched folder.
  if (!folder->isValid() || !QDir(folder->path()).mkdir(QStringLiteral("imported")))
    return "No temporary folder could be made for the picture.\n\n" + folder->errorString().toStdString();
  const QString fileName = FileNameFor(name);
  const QString file = folder->filePath(fileName);
  // A palettized texture is edited in its palette's colours, which its saves map back to.
  std::optional<Image> picture = texture.Decode(colours);
  if (!picture) return "The texture \"" + name + "\" cannot be decoded, so there is nothing to edit.";
  std::string refused;
  const BatchFiles::Voice voice{[&](const std::string& line) { refused += line; },
                                [&](const Error& error) { refused += error.text; }};
  if (!BatchFiles::WriteExport(texture, *picture, false, file.toStdString(), voice)) return refused;
  std::vector<uint8_t> written;
  std::string error;
  if (!platform::ReadWholeFile(file.toStdString(), written, error)) return error;

  // Watched before the editor starts, so that not even a first save made at once is missed.
  folder_ = std::move(folder);
  file_ = file;
  lastBytes_ = std::move(written);
  snapshot_ = folder_->filePath(QStringLiteral("imported/") + fileName);
  goneNoted_ = false;
  sizeAnswer.reset();
  watcher_ = new QFileSystemWatcher(this);
  watcher_->addPath(folder_->path());
  watcher_->addPath(file_);
  auto changed = [this] {
    watchAgain();
    settle_.start();
  };
  connect(watcher_, &QFileSystemWatcher::fileChanged, this, changed);
  connect(watcher_, &QFileSystemWatcher::directoryChanged, this, changed);

  const uint64_t session = ++session_;
  const QPointer<ExternalEditor> self(this);
  const std::string why = StartEditor({file.toStdString(), program}, [self, session](const std::string& why) {
    if (!self || self->session_ != session || !self->editing()) return;
    self->stop();
    emit self->editorFailed(QString::fromStdString(why));
  });
  if (!why.empty()) stop();
  return why;
}

void ExternalEditor::stop() {
  ++session_;
  settle_.stop();
  delete watcher_;
  watcher_ = nullptr;
  folder_.reset();  // removes the folder and everything in it
  file_.clear();
  snapshot_.clear();
  lastBytes_.clear();
  lastBytes_.shrink_to_fit();
  sizeAnswer.reset();
}

// A file replaced by a rename is a new file: the old watch, if Qt kept it, looks at the old
// one. So the watch is made again on whatever the name stands for now.
void ExternalEditor::watchAgain() {
  if (!watcher_) return;
  if (!watcher_->files().isEmpty()) watcher_->removePaths(watcher_->files());
  if (QFileInfo::exists(file_)) watcher_->addPath(file_);
}

void ExternalEditor::checkFile() {
  if (!editing()) return;
  // An import may ask a question, whose event loop lets the watcher in again: the file is
  // looked at once more after the import rather than imported inside it.
  if (importing_) {
    settle_.start();
    return;
  }
  const QString name = QFileInfo(file_).fileName();
  if (!QFileInfo::exists(file_)) {
    // Said once; the folder's watch sees the file come back.
    if (!std::exchange(goneNoted_, true))
      emit note(name + QStringLiteral(" was deleted; the texture keeps what was imported last. "
                                      "Save the picture again to go on."));
    return;
  }
  goneNoted_ = false;
  std::vector<uint8_t> bytes;
  std::string error;
  if (!platform::ReadWholeFile(file_.toStdString(), bytes, error, Image::kMaxBytes)) {
    emit note(name + QStringLiteral(" could not be read, so it was not imported: ") + QString::fromStdString(error));
    return;
  }
  if (bytes == lastBytes_) return;  // touched, or another file of the folder changed
  PngFile::Header header;
  const PngFile::Fault fault = PngFile::Inspect(bytes, Image::kMaxBytes, header);
  if (fault == PngFile::Fault::Truncated || fault == PngFile::Fault::MissingPixels) {
    emit note(name + QStringLiteral(" is not complete (still being written?), so it was not imported. "
                                    "The next save will be."));
    return;
  }
  if (fault == PngFile::Fault::NotAPng) {
    emit note(name + QStringLiteral(" is no longer a PNG picture, so it was not imported. "
                                    "Save it as PNG to go on."));
    return;
  }
  if (fault != PngFile::Fault::None) {
    emit note(name + QStringLiteral(" was not imported: ") + QString::fromUtf8(PngFile::Explain(fault)));
    return;
  }
  // A plain write: the copy lives only until the import has read it, so the care that
  // platform::ReplaceFile takes over a user's file (a sync to the disk) would only cost time.
  QFile snapshot(snapshot_);
  if (!snapshot.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
      snapshot.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size())) != qint64(bytes.size())) {
    emit note(name + QStringLiteral(" could not be copied for the import: ") + snapshot.errorString());
    return;
  }
  snapshot.close();
  lastBytes_ = std::move(bytes);
  importing_ = true;
  emit saved(snapshot_, QSize(int(header.Width), int(header.Height)));
  importing_ = false;
}
