#include <QApplication>
#include <cstdio>
#include <cstring>

#include "app/Form1.h"
#include "app/MessageBoxHook.h"
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
  app::InstallMessageBoxHook();
  Form1 window;
  window.show();
  // quarnel ARCHIVE opens straight into the list.
  window.OpenArguments(QApplication::arguments());
  return app.exec();
}
