#include <QApplication>

#include "app/Form1.h"
#include "app/MessageBoxHook.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Quarnel"));
  // Lets the desktop match the window with the menu entry, and so show its icon.
  QGuiApplication::setDesktopFileName(QStringLiteral("quarnel"));
  app::InstallMessageBoxHook();
  Form1 window;
  window.show();
  // quarnel ARCHIVE opens straight into the list.
  window.OpenArguments(QApplication::arguments());
  return app.exec();
}
