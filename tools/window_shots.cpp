// Takes the help page's screenshots from the real window on a real X screen (run it under
// Xvfb): the enlarged window with the sample archive, its Edit menu open, its Properties
// dialog, a 1024 x 1024 texture scrolled, an 8 x 8 texture at 8x, the alpha view over its
// checkerboard. Each shot shows the details in the status bar.
//
// Then a modder's editing loop on a copy of the sample archive in a temporary folder: the
// thumbnails, the grid with a filter typed, an edit saved by a scripted image editor and
// imported, the Edit menu offering its undo, the texture restored, and a save. It prints
// whether the saved archive equals the sample byte for byte, as undoing everything must.
//
//   xvfb-run -a -s "-screen 0 1280x800x24" window_shots SAMPLE.pvm OUTPUT_FOLDER
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "app/DataFolder.h"
#include "app/ExternalEditor.h"
#include "app/MainWindow.h"
#include "app/MessageBoxes.h"
#include "app/Settings.h"
#include "kit/PvmBuilder.h"
#include "kit/Files.h"

namespace {

// Lets the window settle on the screen (paints, resizes) before a shot.
void Settle() {
  QEventLoop loop;
  QTimer::singleShot(300, &loop, &QEventLoop::quit);
  loop.exec();
}

bool Shoot(MainWindow& window, const std::string& file) {
  Settle();
  const QRect frame = window.frameGeometry();
  const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(
      0, frame.x(), frame.y(), frame.width(), frame.height());
  if (shot.save(QString::fromStdString(file))) return true;
  std::fprintf(stderr, "Cannot write %s\n", file.c_str());
  return false;
}

std::vector<uint8_t> TexelsOf(int width, int height, uint16_t (*texel)(int x, int y)) {
  std::vector<uint8_t> data;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const uint16_t v = texel(x, y);
      data.push_back(uint8_t(v));
      data.push_back(uint8_t(v >> 8));
    }
  return data;
}

// Two textures for the zoom shots: a 1024 x 1024 RGB565 colour field with a grid, and an
// 8 x 8 ARGB4444 sprite whose corners are see-through.
std::vector<uint8_t> ZoomArchive() {
  auto field = [](int x, int y) -> uint16_t {
    if (x % 64 == 0 || y % 64 == 0) return 0xFFFF;
    return uint16_t((x / 32) << 11 | (y / 16) << 5 | ((x + y) / 64));
  };
  auto sprite = [](int x, int y) -> uint16_t {
    const int dx = 2 * x - 7, dy = 2 * y - 7;
    const int d = dx * dx + dy * dy;
    const uint16_t alpha = d > 50 ? 0 : d > 30 ? 8 : 15;
    return uint16_t(alpha << 12 | (15 - x) << 8 | (2 * y) << 4 | 8);
  };
  return archive_builder::BuildArchive({{"field", 1, 9, 1024, 1024, TexelsOf(1024, 1024, field)},
                                        {"sprite", 2, 9, 8, 8, TexelsOf(8, 8, sprite)}});
}

// Selects a row of the list and shows it, as Enter does.
void ShowRow(MainWindow& window, int row) {
  QListView* list = window.entryList();
  list->setCurrentIndex(list->model()->index(row, 0));
  window.showSelectedRow();
}

void Trigger(MainWindow& window, const char* action, int times = 1) {
  for (int i = 0; i < times; ++i) window.findChild<QAction*>(action)->trigger();
}

// Opens a menu of the menu bar, as a click on its title does, for one shot.
bool ShootMenu(MainWindow& window, int index, const std::string& file) {
  QMenuBar* bar = window.menuBar();
  QAction* title = bar->actions().at(index);
  title->menu()->popup(bar->mapToGlobal(bar->actionGeometry(title).bottomLeft()));
  const bool ok = Shoot(window, file);
  title->menu()->hide();
  return ok;
}

// Runs a command whose dialog is modal, shoots the window with the dialog over it, then
// cancels the dialog.
bool ShootDialog(MainWindow& window, const char* action, const std::string& file) {
  bool ok = false;
  QTimer::singleShot(0, &window, [&] {
    ok = Shoot(window, file);
    if (QWidget* dialog = QApplication::activeModalWidget()) dialog->close();
  });
  Trigger(window, action);
  return ok;
}

// Waits for `done`, letting the window work meanwhile; false after five seconds.
bool WaitFor(const std::function<bool()>& done) {
  for (int waited = 0; !done(); waited += 50) {
    if (waited >= 5000) return false;
    QEventLoop loop;
    QTimer::singleShot(50, &loop, &QEventLoop::quit);
    loop.exec();
  }
  return true;
}

// An image editor as a modder uses it: a moment after it starts, it saves the picture with
// its colours inverted and a stroke drawn across it, as a new file renamed over the old
// one (the way most editors save).
std::string ScriptedEditor(const ExternalEditor::Launch& launch, ExternalEditor::FailureReport) {
  const QString file = QString::fromStdString(launch.file);
  QTimer::singleShot(500, [file] {
    QImage picture(file);
    picture = picture.convertToFormat(QImage::Format_ARGB32);
    picture.invertPixels(QImage::InvertRgb);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(255, 210, 0), picture.width() / 12.0, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(picture.width() * 0.15, picture.height() * 0.85),
                     QPointF(picture.width() * 0.85, picture.height() * 0.15));
    painter.end();
    const QString part = file + QStringLiteral(".part");
    if (!picture.save(part, "PNG")) return;
    QFile::remove(file);
    QFile::rename(part, file);
  });
  return "";
}

// The loop on a copy of the sample (and its palette beside it), so the sample stays as it
// was. True when every shot was taken and the saved copy equals the sample.
bool ShootEditingLoop(MainWindow& window, const std::string& sample, const std::string& out) {
  const QTemporaryDir work;
  const std::string copy = work.path().toStdString() + "/sample.pvm";
  const std::vector<uint8_t> original = testkit::ReadBytes(sample);
  const std::vector<uint8_t> palette = testkit::ReadBytes(sample.substr(0, sample.size() - 4) + ".pvp");
  if (!testkit::WriteBytes(copy, original) ||
      (!palette.empty() && !testkit::WriteBytes(work.path().toStdString() + "/sample.pvp", palette))) {
    std::fprintf(stderr, "Cannot copy the sample to %s\n", work.path().toLocal8Bit().constData());
    return false;
  }
  window.setView(TextureView::Mode::Image);
  window.openArchiveFile(copy);
  Trigger(window, "showAsList");
  ShowRow(window, 0);
  // The whole texture, not the corner the zoom shots left enlarged.
  Trigger(window, "zoomToFit");
  Settle();
  bool ok = Shoot(window, out + "loop-1-thumbnails.png");

  Trigger(window, "showAsGrid");
  window.entryFilter()->setText(QStringLiteral("rgb565"));
  ShowRow(window, 0);
  ok = Shoot(window, out + "loop-2-find.png") && ok;

  const ExternalEditor::Launcher before = ExternalEditor::SetLauncher(ScriptedEditor);
  Trigger(window, "editExternally");
  const bool imported = WaitFor([&] { return !window.importLossText().isEmpty(); });
  if (!imported) std::fprintf(stderr, "The edited picture was not imported\n");
  ok = imported && Shoot(window, out + "loop-3-edited.png") && ok;
  std::printf("Edit imported: %s\n", window.importLossText().toLocal8Bit().constData());

  ok = ShootMenu(window, 1, out + "loop-4-undo-menu.png") && ok;
  std::printf("Edit menu offers: %s\n",
              window.findChild<QAction*>("undo")->text().toLocal8Bit().constData());
  Trigger(window, "undo");
  ok = Shoot(window, out + "loop-5-undone.png") && ok;
  Trigger(window, "stopEditing");
  ExternalEditor::SetLauncher(before);

  // Save asks whether to keep a backup of the old file first; a copy in a temporary folder
  // needs none.
  const MessageBoxes::Hook boxes = MessageBoxes::SetHook([](const MessageBoxes::Message&) {
    return MessageBoxes::Answer::No;
  });
  Trigger(window, "saveArchive");
  MessageBoxes::SetHook(boxes);
  const bool same = testkit::ReadBytes(copy) == original;
  std::printf("Saved after undo: %s\n",
              same ? "the same bytes as the sample" : "DIFFERENT bytes from the sample");
  Trigger(window, "releaseArchive");
  window.entryFilter()->clear();
  Trigger(window, "showAsList");
  return ok && same;
}

}  // namespace

int main(int argc, char* argv[]) {
  // The shots show the window as on a first run, and leave the user's settings alone.
  QStandardPaths::setTestModeEnabled(true);
  QApplication app(argc, argv);
  const QTemporaryDir settings;
  Settings::UseFolder(settings.path());
  Settings::Clear();
  if (argc != 3) {
    std::fprintf(stderr, "Usage: window_shots SAMPLE.pvm OUTPUT_FOLDER\n");
    return 2;
  }
  const std::string sample = argv[1];
  const std::string out = std::string(argv[2]) + "/";

  MainWindow window(app::FindDataFolder(QCoreApplication::applicationDirPath().toStdString()));
  window.move(0, 0);
  window.show();
  window.resize(900, 620);
  window.openArguments({"quarnel", QString::fromStdString(sample)});
  // A mipmapped VQ texture, so the details show levels and codebook entries.
  ShowRow(window, 9);
  Trigger(window, "zoomIn");
  bool ok = Shoot(window, out + "window.png");
  ok = ShootMenu(window, 1, out + "edit-menu.png") && ok;
  ok = ShootDialog(window, "editProperties", out + "properties.png") && ok;

  ShowRow(window, 2);
  window.setView(TextureView::Mode::Alpha);
  ok = Shoot(window, out + "alpha.png") && ok;

  const std::string zoomArchive = out + "zoom-shots.pvm";
  if (!testkit::WriteBytes(zoomArchive, ZoomArchive())) {
    std::fprintf(stderr, "Cannot write %s\n", zoomArchive.c_str());
    return 1;
  }
  window.setView(TextureView::Mode::Image);
  window.openArchiveFile(zoomArchive);
  ShowRow(window, 0);
  Trigger(window, "zoomActualSize");
  Settle();
  window.viewArea()->horizontalScrollBar()->setValue(300);
  window.viewArea()->verticalScrollBar()->setValue(260);
  ok = Shoot(window, out + "scrolled.png") && ok;

  ShowRow(window, 1);
  Trigger(window, "zoomIn", 8);
  ok = Shoot(window, out + "zoom8.png") && ok;
  std::remove(zoomArchive.c_str());

  ok = ShootEditingLoop(window, sample, out) && ok;
  return ok ? 0 : 1;
}
