#include <QApplication>

#include "app/DataFolder.h"
#include "app/MainWindow.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Quarnel"));
  // Lets the desktop match the window with the menu entry, and so show its icon.
  QGuiApplication::setDesktopFileName(QStringLiteral("quarnel"));
  MainWindow window(app::FindDataFolder(QCoreApplication::applicationDirPath().toStdString()));
  window.show();
  // quarnel ARCHIVE opens straight into the list.
  window.openArguments(QApplication::arguments());
  return app.exec();
}
