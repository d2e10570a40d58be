#include "app/CommDlgs.h"

#include <QFileDialog>
#include <QString>
#include <QStringList>
#include <utility>

#include "platform/Seam.h"

namespace CommDlgs {
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
QString QtNameFilter(const FileFilter& filter) {
  QStringList patterns;
  for (const QString& p : QString::fromStdString(filter.patterns).split(';', Qt::SkipEmptyParts))
    patterns << CaseBlindPattern(p.trimmed());
  return QString::fromStdString(filter.description) + " (" + patterns.join(' ') + ")";
}

}  // namespace

std::string ShowFileDialog(QWidget* owner, int16_t mode, const std::string& title,
                           const std::string& initialFileName,
                           const std::vector<FileFilter>& filters,
                           const std::string& initialDir, const std::string& defaultExt) {
  if (const auto& hook = platform::InstalledSeam<FileDialogHook>()) {
    return hook(FileDialogRequest{owner, mode, title, initialFileName, filters, initialDir,
                                  defaultExt});
  }

  QFileDialog dialog(owner, QString::fromStdString(title), QString::fromStdString(initialDir));
  // Qt's own dialog everywhere, so the case-blind filter and the checks below hold on every
  // desktop; the bracket patterns stay out of sight.
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setOption(QFileDialog::HideNameFilterDetails);
  const bool opening = mode == 1;
  dialog.setAcceptMode(opening ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
  dialog.setFileMode(opening ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
  QStringList names, suffixes;  // "*.bmp;*.dib" gives the suffix "bmp"
  for (const FileFilter& filter : filters) {
    if (filter.patterns.empty()) continue;
    names << QtNameFilter(filter);
    suffixes << QString::fromStdString(filter.patterns).section(';', 0, 0).section('.', 1).trimmed();
  }
  if (!names.isEmpty()) dialog.setNameFilters(names);
  const QString firstSuffix = QString::fromStdString(defaultExt);
  dialog.setDefaultSuffix(firstSuffix);
  // A name typed without an extension takes the one of the file type chosen, so that
  // choosing "BMP Files" and typing "grass" saves grass.bmp.
  // With the details hidden the dialog names the type by its description alone.
  QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&](const QString& chosen) {
    qsizetype index = 0;
    for (qsizetype i = 0; i < names.size(); ++i)
      if (names[i] == chosen || names[i].startsWith(chosen + " (")) index = i;
    dialog.setDefaultSuffix(index == 0 ? firstSuffix : suffixes[index]);
  });
  if (!initialFileName.empty()) dialog.selectFile(QString::fromStdString(initialFileName));

  if (dialog.exec() != QDialog::Accepted) return {};
  const QStringList chosen = dialog.selectedFiles();
  if (chosen.isEmpty()) return {};
  return chosen.first().toStdString();
}

std::string ShowFolderDialog(QWidget* owner, const std::string& title,
                             const std::string& initialDir) {
  if (const auto& hook = platform::InstalledSeam<FileDialogHook>())
    return hook(FileDialogRequest{owner, 2, title, "", {}, initialDir, ""});
  return QFileDialog::getExistingDirectory(owner, QString::fromStdString(title),
                                           QString::fromStdString(initialDir),
                                           QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog)
      .toStdString();
}

FileDialogHook SetFileDialogHook(FileDialogHook hook) {
  return platform::ReplaceSeam(std::move(hook));
}

std::string GetFileNamePart(const std::string& path) {
  const size_t cut = path.find_last_of('/');
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::string StringFromPointer(const char* text) { return text == nullptr ? std::string() : std::string(text); }

}  // namespace CommDlgs
