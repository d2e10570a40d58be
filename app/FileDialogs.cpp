#include "app/FileDialogs.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QString>
#include <QStringList>
#include <utility>

#include "app/Seam.h"
#include "app/Settings.h"

namespace FileDialogs {
namespace {

// Qt matches name filters with the file system's case rules, so on most systems "*.pvm"
// would hide OBJ_TEX.PVM. Every letter becomes a bracket of both cases instead:
// "*.pvm" -> "*.[pP][vV][mM]".
QString CaseBlindPattern(const QString& pattern) {
  QString out;
  for (const QChar c : pattern) {
    if (c.isLetter() && c.toLower() != c.toUpper()) {
      out += '[';
      out += c.toLower();
      out += c.toUpper();
      out += ']';
    } else {
      out += c;
    }
  }
  return out;
}

// {"BMP Files", "*.bmp"} -> Qt's "BMP Files (*.[bB][mM][pP])".
QString QtNameFilter(const Filter& filter) {
  QStringList patterns;
  for (const QString& p : QString::fromStdString(filter.patterns).split(';', Qt::SkipEmptyParts))
    patterns << CaseBlindPattern(p.trimmed());
  return QString::fromStdString(filter.description) + " (" + patterns.join(' ') + ")";
}

std::string AskForFolder(const Request& request) {
  return QFileDialog::getExistingDirectory(
             request.owner, QString::fromStdString(request.title),
             QString::fromStdString(request.initialDir),
             QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog)
      .toStdString();
}

// checkBox, when given, goes under the file list, where Qt's own dialog has room in its grid.
QStringList AskForFiles(const Request& request, QCheckBox* checkBox = nullptr) {
  QFileDialog dialog(request.owner, QString::fromStdString(request.title),
                     QString::fromStdString(request.initialDir));
  // Qt's own dialog everywhere, so the case-blind filter and the checks below hold on every
  // desktop; the bracket patterns stay out of sight.
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setOption(QFileDialog::HideNameFilterDetails);
  const bool opening = request.kind == Kind::Open || request.kind == Kind::OpenSeveral;
  dialog.setAcceptMode(opening ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
  dialog.setFileMode(request.kind == Kind::OpenSeveral ? QFileDialog::ExistingFiles
                     : opening                         ? QFileDialog::ExistingFile
                                                       : QFileDialog::AnyFile);
  QStringList names, suffixes;  // "*.bmp;*.dib" gives the suffix "bmp"
  for (const Filter& filter : request.filters) {
    if (filter.patterns.empty()) continue;
    names << QtNameFilter(filter);
    suffixes << QString::fromStdString(filter.patterns).section(';', 0, 0).section('.', 1).trimmed();
  }
  if (!names.isEmpty()) dialog.setNameFilters(names);
  const QString firstSuffix = QString::fromStdString(request.defaultExt);
  dialog.setDefaultSuffix(firstSuffix);
  // A name typed without an extension takes the one of the file type chosen, so that
  // choosing "BMP Files" and typing "grass" saves grass.bmp. With the details hidden the
  // dialog names the type by its description alone.
  QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&](const QString& chosen) {
    qsizetype index = 0;
    for (qsizetype i = 0; i < names.size(); ++i)
      if (names[i] == chosen || names[i].startsWith(chosen + " (")) index = i;
    dialog.setDefaultSuffix(index == 0 ? firstSuffix : suffixes[index]);
  });

  if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout()); grid != nullptr && checkBox != nullptr)
    grid->addWidget(checkBox, grid->rowCount(), 0, 1, grid->columnCount());
  const bool accepted = dialog.exec() == QDialog::Accepted;
  // The box belongs to the caller, not to the dialog that is about to go.
  if (checkBox != nullptr) checkBox->setParent(nullptr);
  if (!accepted) return {};
  return dialog.selectedFiles();
}

// The request as the dialog gets it: starting where a dialog of its title last chose
// something, while that folder still exists.
Request Remembered(Request request) {
  const QString folder = Settings::DialogFolder(QString::fromStdString(request.title));
  if (!folder.isEmpty() && QFileInfo(folder).isDir()) request.initialDir = folder.toStdString();
  return request;
}

// Keeps the folder of what was chosen (a folder's own path, with a trailing '/').
void Remember(const Request& request, const std::string& chosen) {
  if (chosen.empty()) return;
  // Several files come one a line, all from one folder.
  const QFileInfo info(QString::fromStdString(chosen).section('\n', 0, 0));
  const QString folder = request.kind == Kind::Folder ? info.absoluteFilePath() : info.absolutePath();
  Settings::SetDialogFolder(QString::fromStdString(request.title), folder.endsWith('/') ? folder : folder + '/');
}

// The hook's answer, or the dialog's: one path, or for `several` every path one a line.
std::string AskRemembered(const Request& asked, bool several) {
  const Request request = Remembered(asked);
  std::string chosen;
  if (const Hook& hook = app::InstalledSeam<Hook>())
    chosen = hook(request);
  else if (request.kind == Kind::Folder && !several)
    chosen = AskForFolder(request);
  else if (const QStringList files = AskForFiles(request); !files.isEmpty())
    chosen = (several ? files.join('\n') : files.first()).toStdString();
  Remember(asked, chosen);
  return chosen;
}

}  // namespace

std::string Ask(const Request& request) { return AskRemembered(request, false); }

std::vector<std::string> AskSeveral(const Request& request) {
  const QString answer = QString::fromStdString(AskRemembered(request, true));
  std::vector<std::string> paths;
  for (const QString& path : answer.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) paths.push_back(path.toStdString());
  return paths;
}

Hook SetHook(Hook hook) { return app::ReplaceSeam(std::move(hook)); }

Checked AskWithCheckBox(const Request& request, const std::string& label) {
  if (const Hook& hook = app::InstalledSeam<Hook>()) {
    Checked answer{hook(request), false};
    const CheckBoxHook& box = app::InstalledSeam<CheckBoxHook>();
    if (!answer.path.empty() && box) answer.checked = box(request, label);
    return answer;
  }
  QCheckBox box(QString::fromStdString(label));
  const QStringList chosen = AskForFiles(request, &box);
  if (chosen.isEmpty()) return {};
  return {chosen.first().toStdString(), box.isChecked()};
}

CheckBoxHook SetCheckBoxHook(CheckBoxHook hook) { return app::ReplaceSeam(std::move(hook)); }

}  // namespace FileDialogs
