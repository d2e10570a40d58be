#include <QApplication>

#include "app/Form1.h"
#include "app/MessageBoxHook.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Quarnel"));
  app::InstallMessageBoxHook();
  Form1 window;
  window.show();
  return app.exec();
}
