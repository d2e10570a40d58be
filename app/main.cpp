#include <QApplication>

#include "app/Form1.h"
#include "app/MessageBoxHook.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Quarnel"));
  app::InstallMessageBoxHook();
  Form1 window;
  window.show();
  // quarnel ARCHIVE opens straight into the list.
  window.OpenArguments(QApplication::arguments());
  return app.exec();
}
