// What the editor remembers between runs, in the user's configuration (QSettings, as
// ~/.config/quarnel/quarnel.conf on Linux): the recent files, where each file dialog was
// last, the window's place and view, and the preferences. Values read back are checked, so
// a hand-edited or older file gives the defaults rather than odd behaviour.
//
// Tests and tools keep the user's file out of reach: QStandardPaths::setTestModeEnabled(true)
// and UseFolder() with a folder of their own before the first read (ctest runs test
// processes side by side, and each needs its own file), then Clear() before each case.
#pragma once

#include <QByteArray>
#include <QColor>
#include <QString>
#include <QStringList>

#include "app/TextureView.h"

namespace Settings {

// Everything Edit > Preferences sets.
struct Preferences {
  QString editorProgram;  // empty: the desktop's default image editor
  // Pixels a side, kMinThumbnail to kMaxThumbnail; 0 for no thumbnails.
  int thumbnailSize = 128;
  QColor checkerLight{255, 255, 255};
  QColor checkerDark{192, 192, 192};
  bool operator==(const Preferences&) const = default;
};
inline constexpr int kMinThumbnail = 16;
inline constexpr int kMaxThumbnail = 256;
// A size as stored: 0 stays 0, anything else is brought within the range.
inline int ThumbnailSizeWithin(int pixels) {
  return pixels == 0 ? 0 : pixels < kMinThumbnail ? kMinThumbnail : pixels > kMaxThumbnail ? kMaxThumbnail : pixels;
}

Preferences LoadPreferences();
void SavePreferences(const Preferences& preferences);

// Most recent first.
QStringList RecentFiles();
void SetRecentFiles(const QStringList& paths);

// The folder (with its trailing '/') where the dialog of this title last chose something;
// empty when none is remembered.
QString DialogFolder(const QString& dialogTitle);
void SetDialogFolder(const QString& dialogTitle, const QString& folder);

// The window's place and view as they were when it was last closed.
struct WindowState {
  QByteArray geometry;  // QWidget::saveGeometry
  TextureView::Mode mode = TextureView::Mode::Image;
  int zoom = 1;  // screen pixels per texel; 0 for fit-to-view
};
WindowState LoadWindowState();
void SaveWindowState(const WindowState& state);

// Forgets everything above.
void Clear();

// Keeps the settings in `folder` from now on, for this process.
void UseFolder(const QString& folder);

}  // namespace Settings
