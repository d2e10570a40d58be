#include <QApplication>
#include <cstdio>
#include <cstring>

#include "app/DataFolder.h"
#include "app/MainWindow.h"
#include "quarnel/Version.h"

int main(int argc, char* argv[]) {
  // Answered before QApplication exists, which needs a display.
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0) {
      std::puts("quarnel " QUARNEL_VERSION);
      return 0;
    }
  }
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Quarnel"));
  QApplication::setApplicationVersion(QStringLiteral(QUARNEL_VERSION));
  // Lets the desktop match the window with the menu entry, and so show its icon.
  QGuiApplication::setDesktopFileName(QStringLiteral("quarnel"));
  MainWindow window(app::FindDataFolder(QCoreApplication::applicationDirPath().toStdString()));
  window.show();
  // quarnel ARCHIVE opens straight into the list.
  window.openArguments(QApplication::arguments());
  return app.exec();
}
