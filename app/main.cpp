#include <QApplication>
#include <QMainWindow>

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QMainWindow window;
  window.setWindowTitle("Quarnel");
  window.resize(610, 427);
  window.show();
  return app.exec();
}
