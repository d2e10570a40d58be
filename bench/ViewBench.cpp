// How long the texture view takes to paint what is on screen: a 1024 x 1024 texture at 8x
// in a view of the classic size and of a full-HD window, against one 60 Hz frame. The view
// paints only the texels under the exposed area; painting the whole zoomed picture is timed
// beside it to show what that saves.
//
//   QT_QPA_PLATFORM=offscreen quarnel_view_bench
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPainter>

#include "BudgetReporter.h"
#include "app/PictureBox.h"
#include "texture/cPVR.h"

namespace {

constexpr double kFrameSeconds = 1.0 / 60;

// A 1024 x 1024 box at 8x, filled with a pattern so no texel run is uniform.
PictureBox& ZoomedBox() {
  static PictureBox* box = [] {
    auto* b = new PictureBox;
    b->SetPictureSize(1024, 1024);
    const PixelTarget target = b->Target();
    for (int y = 0; y < target.height; ++y)
      for (int x = 0; x < target.width; ++x) {
        uint8_t* p = target.pixels + size_t(y) * target.bytesPerLine + size_t(x) * 4;
        p[0] = uint8_t(x * 7);
        p[1] = uint8_t(y * 3);
        p[2] = uint8_t(x ^ y);
        p[3] = 0xFF;
      }
    b->SetScale(8);
    return b;
  }();
  return *box;
}

// One repaint of a view of width x height scrolled to the middle of the zoomed texture.
void PaintVisible(benchmark::State& state) {
  PictureBox& box = ZoomedBox();
  const QSize view(int(state.range(0)), int(state.range(1)));
  QImage screen(view, QImage::Format_RGB32);
  const QRect visible(QPoint(box.width() / 2, box.height() / 2), view);
  for (auto _ : state) {
    box.render(&screen, QPoint(), QRegion(visible), QWidget::DrawChildren);
    benchmark::DoNotOptimize(screen.bits());
  }
}
BENCHMARK(PaintVisible)->Name("view/1024@8x/classic view")->Args({458, 387})->Unit(benchmark::kMillisecond);
BENCHMARK(PaintVisible)->Name("view/1024@8x/1920x1080 view")->Args({1768, 1000})->Unit(benchmark::kMillisecond);

// The whole 8192 x 8192 picture, which a view that scaled everything would pay each frame.
void PaintWhole(benchmark::State& state) {
  PictureBox& box = ZoomedBox();
  QImage whole(box.size(), QImage::Format_RGB32);
  for (auto _ : state) {
    QPainter painter(&whole);
    painter.drawImage(QRect(QPoint(), box.size()), box.Image());
    benchmark::DoNotOptimize(whole.bits());
  }
}
BENCHMARK(PaintWhole)->Name("view/1024@8x/whole picture")->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  bench::BudgetReporter reporter;
  for (const char* name : {"view/1024@8x/classic view", "view/1024@8x/1920x1080 view"})
    reporter.Add(bench::Comparison{name, "", 0, kFrameSeconds, "one 60 Hz frame"});
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return reporter.AllMet() ? 0 : 1;
}
