// How long the window takes to show a texture:
//   - showing a 1024 x 1024 twiddled texture as selecting it in the list does: the
//     TextureView decodes it into the picture it showed before (Texture::DecodeInto), wraps
//     the picture's bytes without copying them, and paints the whole view once, in the colour view and in the alpha view over its checkerboard, against 2 ms,
//     call by call beside a memcpy of the RGBA picture; and the paint alone, with the
//     picture already in the view, to tell the view's share from the decoder's;
//   - one repaint of that texture at 8x in a view of the classic size and of a full-HD
//     window, against one 60 Hz frame. The view paints only the texels under the exposed
//     area; painting the whole zoomed picture is timed beside it to show what that saves.
//   - a save in an image editor coming back while a 1024 x 1024 RGB565 texture is edited
//     externally: the window's ExternalEditor checks the saved PNG (a compressed one, as
//     editors write), copies it aside, imports it through the window's Import path and
//     shows the texture decoded again, against 100 ms. The watcher's own latency and the
//     100 ms pause it waits for the editor to finish are not part of it.
// The paints go into a 32-bit image, as a window's backing store takes them.
//
//   QT_QPA_PLATFORM=offscreen quarnel_view_bench
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QAction>
#include <QListView>
#include <QPainter>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <string>

#include "BudgetReporter.h"
#include "Fixtures.h"
#include "app/ExternalEditor.h"
#include "app/MainWindow.h"
#include "app/Settings.h"
#include "app/TextureView.h"
#include "archive/Archive.h"
#include "texture/Texture.h"

namespace {

using benchmark::State;

constexpr int kSide = 1024;
constexpr double kShowSeconds = 0.002;
constexpr double kFrameSeconds = 1.0 / 60;
constexpr double kEditorSaveSeconds = 0.1;

struct Format {
  uint8_t code;
  const char* name;
};
constexpr Format kPixelFormats[] = {{0, "ARGB1555"}, {1, "RGB565"}, {2, "ARGB4444"}};

std::string ModeName(TextureView::Mode mode) {
  return mode == TextureView::Mode::Alpha ? "alpha view" : "colour view";
}

// What selecting a texture in the list does: the view decodes it and paints once, whole.
void Show(State& state, uint8_t pixelFormat, TextureView::Mode mode) {
  const Texture texture = bench::MakeTexture(pixelFormat, 1, kSide, 3);
  TextureView view;
  view.setMode(mode);
  QImage screen(kSide, kSide, QImage::Format_RGB32);
  bench::Memcpy copy(size_t(kSide) * kSide * 4);
  bool shown = true;
  bench::Alternate(state, copy, [&] {
    shown = view.showTexture(texture) && shown;
    view.render(&screen, QPoint(), QRegion(view.rect()), QWidget::DrawChildren);
    benchmark::DoNotOptimize(screen.bits());
  });
  if (!shown) state.SkipWithError("the view could not decode the texture");
}

// One paint of the whole view, the picture already handed over.
void Paint(State& state, TextureView::Mode mode) {
  const Texture texture = bench::MakeTexture(0, 1, kSide, 3);
  TextureView view;
  view.setMode(mode);
  view.showTexture(texture);
  QImage screen(kSide, kSide, QImage::Format_RGB32);
  bench::Memcpy copy(size_t(kSide) * kSide * 4);
  bench::Alternate(state, copy, [&] {
    view.render(&screen, QPoint(), QRegion(view.rect()), QWidget::DrawChildren);
    benchmark::DoNotOptimize(screen.bits());
  });
}

// A 1024 x 1024 texture shown at 8x.
TextureView& ZoomedView() {
  static TextureView* view = [] {
    auto* v = new TextureView;
    v->showTexture(bench::MakeTexture(0, 9, kSide, 4));
    v->setScale(8);
    return v;
  }();
  return *view;
}

// One repaint of a view of width x height scrolled to the middle of the zoomed texture.
void PaintVisible(State& state) {
  TextureView& view = ZoomedView();
  const QSize size(int(state.range(0)), int(state.range(1)));
  QImage screen(size, QImage::Format_RGB32);
  const QRect visible(QPoint(view.width() / 2, view.height() / 2), size);
  for (auto _ : state) {
    view.render(&screen, QPoint(), QRegion(visible), QWidget::DrawChildren);
    benchmark::DoNotOptimize(screen.bits());
  }
}

// The whole 8192 x 8192 picture, which a view that scaled everything would pay each frame.
void PaintWhole(State& state) {
  TextureView& view = ZoomedView();
  QImage whole(view.size(), QImage::Format_RGB32);
  for (auto _ : state) {
    QPainter painter(&whole);
    painter.drawImage(QRect(QPoint(), view.size()), view.picture());
    benchmark::DoNotOptimize(whole.bits());
  }
}

// Two editor saves of a 1024 x 1024 picture with smooth and noisy parts, so that zlib has
// work to do as with a real one.
std::vector<QImage> EditorSaves() {
  std::vector<QImage> saves;
  for (int n = 0; n < 2; ++n) {
    QImage picture(kSide, kSide, QImage::Format_RGB32);
    uint32_t noise = 12345 + uint32_t(n);
    for (int y = 0; y < kSide; ++y)
      for (int x = 0; x < kSide; ++x) {
        noise = noise * 1664525u + 1013904223u;
        picture.setPixel(x, y, qRgb((x + n * 64) & 255, y & 255, x < kSide / 2 ? (noise >> 24) : 128));
      }
    saves.push_back(picture);
  }
  return saves;
}

// From the editor's save to the texture on screen, the watcher aside: the saves alternate so
// that each is new, and are written outside the timing.
void ExternalSave(State& state) {
  const std::string archivePath = bench::ScratchPath("edited.pvm");
  Archive archive = Archive::New();
  archive.Insert(0, {"edited", std::nullopt, bench::MakeTexture(1, 1, kSide, 5), {}, std::nullopt}, "edited.pvm");
  if (archive.Save(archivePath)) return state.SkipWithError("the archive could not be written");
  std::string file;
  const ExternalEditor::Launcher previous = ExternalEditor::SetLauncher(
      [&](const ExternalEditor::Launch& launch, ExternalEditor::FailureReport) {
        file = launch.file;
        return std::string();
      });
  {
    MainWindow window(bench::ScratchDir());
    window.openArchiveFile(archivePath);
    window.entryList()->setCurrentIndex(window.entryList()->model()->index(0, 0));
    window.showSelectedRow();
    window.findChild<QAction*>(QStringLiteral("editExternally"))->trigger();
    auto* editor = window.findChild<ExternalEditor*>();
    const std::vector<QImage> saves = EditorSaves();
    QImage screen(kSide, kSide, QImage::Format_RGB32);
    size_t n = 0;
    for (auto _ : state) {
      state.PauseTiming();
      saves[n++ % 2].save(QString::fromStdString(file), "PNG");
      state.ResumeTiming();
      editor->checkFile();
      window.textureView()->render(&screen, QPoint(), QRegion(window.textureView()->rect()), QWidget::DrawChildren);
      benchmark::DoNotOptimize(screen.bits());
    }
    if (!window.isWindowModified()) state.SkipWithError("no save was imported");
    window.setWindowModified(false);  // closes without asking
  }
  ExternalEditor::SetLauncher(previous);
}

void Register(bench::BudgetReporter& reporter) {
  const std::string memcpy = bench::MemcpyName(size_t(kSide) * kSide * 4) + ", call by call";
  for (const TextureView::Mode mode : {TextureView::Mode::Image, TextureView::Mode::Alpha}) {
    for (const Format& p : kPixelFormats) {
      const std::string name =
          "show/" + std::string(p.name) + "/twiddled/1024/" + ModeName(mode);
      benchmark::RegisterBenchmark(name.c_str(), Show, p.code, mode)
          ->UseRealTime()
          ->Unit(benchmark::kMillisecond);
      reporter.Add(bench::Comparison{name, memcpy, 0, kShowSeconds, "showing a texture"});
    }
    const std::string paint = "paint/1024/" + ModeName(mode);
    benchmark::RegisterBenchmark(paint.c_str(), Paint, mode)->UseRealTime()->Unit(benchmark::kMillisecond);
    reporter.Add(bench::Comparison{paint, memcpy, 0, 0, ""});
  }
  const auto visible = [&](const char* name, int width, int height) {
    benchmark::RegisterBenchmark(name, PaintVisible)
        ->Args({width, height})
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
    reporter.Add(bench::Comparison{name, "", 0, kFrameSeconds, "one 60 Hz frame"});
  };
  visible("view/1024@8x/classic view", 458, 387);
  visible("view/1024@8x/1920x1080 view", 1768, 1000);
  benchmark::RegisterBenchmark("view/1024@8x/whole picture", PaintWhole)
      ->Iterations(3)
      ->Repetitions(1)
      ->UseRealTime()
      ->Unit(benchmark::kMillisecond);
  reporter.Add(bench::Comparison{"view/1024@8x/whole picture", "", 0, 0, ""});
  benchmark::RegisterBenchmark("external save/RGB565/twiddled/1024", ExternalSave)
      ->UseRealTime()
      ->Unit(benchmark::kMillisecond);
  reporter.Add(bench::Comparison{"external save/RGB565/twiddled/1024", "", 0, kEditorSaveSeconds,
                                 "an editor's save on screen"});
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // The window's settings go to a test folder, never the user's.
  QStandardPaths::setTestModeEnabled(true);
  QApplication app(argc, argv);
  const QTemporaryDir settings;
  Settings::UseFolder(settings.path());
  Settings::Clear();
  if (!bench::InitializeBenchmarks(argc, argv)) return 1;
  bench::BudgetReporter reporter;
  Register(reporter);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  bench::RemoveScratch();
  return reporter.AllMet() ? 0 : 1;
}
