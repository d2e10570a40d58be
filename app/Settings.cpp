#include "app/Settings.h"

#include <QSettings>
#include <algorithm>

namespace Settings {
namespace {

// Named here rather than through the application's names, so that the window's tests and
// tools, which make their own QApplication, read and write the same keys.
QSettings Store() { return QSettings(QStringLiteral("quarnel"), QStringLiteral("quarnel")); }

const QString kEditorProgram = QStringLiteral("externalEditor/program");
const QString kThumbnailSize = QStringLiteral("view/thumbnailSize");
const QString kCheckerLight = QStringLiteral("view/checkerLight");
const QString kCheckerDark = QStringLiteral("view/checkerDark");
const QString kRecentFiles = QStringLiteral("recentFiles");
const QString kDialogFolders = QStringLiteral("dialogFolders/");
const QString kGeometry = QStringLiteral("window/geometry");
const QString kViewMode = QStringLiteral("window/view");
const QString kZoom = QStringLiteral("window/zoom");
constexpr int kMaxZoom = 8;

QColor ColourOr(const QSettings& store, const QString& key, QColor fallback) {
  const QColor colour(store.value(key).toString());
  return colour.isValid() ? colour : fallback;
}

// QSettings keys treat '/' as a group separator and some characters specially, so a title
// is stored by its letters and digits alone ("Import Image" -> "ImportImage").
QString TitleKey(const QString& title) {
  QString key;
  for (const QChar c : title)
    if (c.isLetterOrNumber()) key += c;
  return kDialogFolders + key;
}

}  // namespace

Preferences LoadPreferences() {
  const QSettings store = Store();
  Preferences p;
  p.editorProgram = store.value(kEditorProgram).toString().trimmed();
  bool number = false;
  const int size = store.value(kThumbnailSize).toInt(&number);
  if (number) p.thumbnailSize = ThumbnailSizeWithin(size);
  p.checkerLight = ColourOr(store, kCheckerLight, p.checkerLight);
  p.checkerDark = ColourOr(store, kCheckerDark, p.checkerDark);
  return p;
}

void SavePreferences(const Preferences& p) {
  QSettings store = Store();
  store.setValue(kEditorProgram, p.editorProgram.trimmed());
  store.setValue(kThumbnailSize, ThumbnailSizeWithin(p.thumbnailSize));
  store.setValue(kCheckerLight, p.checkerLight.name());
  store.setValue(kCheckerDark, p.checkerDark.name());
}

QStringList RecentFiles() { return Store().value(kRecentFiles).toStringList(); }

void SetRecentFiles(const QStringList& paths) { Store().setValue(kRecentFiles, paths); }

QString DialogFolder(const QString& dialogTitle) {
  return Store().value(TitleKey(dialogTitle)).toString();
}

void SetDialogFolder(const QString& dialogTitle, const QString& folder) {
  Store().setValue(TitleKey(dialogTitle), folder);
}

WindowState LoadWindowState() {
  const QSettings store = Store();
  WindowState state;
  state.geometry = store.value(kGeometry).toByteArray();
  const QString mode = store.value(kViewMode).toString();
  if (mode == QLatin1String("mask")) state.mode = TextureView::Mode::Mask;
  if (mode == QLatin1String("alpha")) state.mode = TextureView::Mode::Alpha;
  bool number = false;
  const int zoom = store.value(kZoom).toInt(&number);
  if (number) state.zoom = std::clamp(zoom, 0, kMaxZoom);
  return state;
}

void SaveWindowState(const WindowState& state) {
  QSettings store = Store();
  store.setValue(kGeometry, state.geometry);
  const char* mode = state.mode == TextureView::Mode::Mask    ? "mask"
                     : state.mode == TextureView::Mode::Alpha ? "alpha"
                                                              : "image";
  store.setValue(kViewMode, QString::fromLatin1(mode));
  store.setValue(kZoom, state.zoom);
}

void Clear() { Store().clear(); }

void UseFolder(const QString& folder) { QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder); }

}  // namespace Settings
