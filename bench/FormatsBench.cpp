// The data formats' passes against the machine's own limits, in one run:
//   - decoding the main level of every data format in every pixel format at 1024 x 1024
//     (format 13 as four squares of 512), against a memcpy of the surface bytes it writes;
//   - encoding mipmapped twiddled textures (2, 18) at 1024 x 1024, main level and every
//     smaller level, against encoding the main level alone (format 1 of the same size): the
//     smaller levels may add at most half. The two encodes alternate call by call, each
//     timed on its own, so that both meet the machine in the same state; on a shared
//     machine, runs of the one and the other a few seconds apart differ by a fifth;
//   - encoding VQ textures (3) at 256 x 256 and 1024 x 1024 against the import times asked
//     for, and with mipmaps (4) at 256 x 256 against the same without. The pictures are
//     random texels, harder for the quantiser than natural pictures.
// Without --benchmark_repetitions the run repeats each benchmark 5 times and reports
// medians, each after a warm-up of 0.2 s.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "BudgetReporter.h"
#include "Fixtures.h"
#include "texture/DataFormats.h"

namespace {

using bench::MemcpyBaseline;

using benchmark::State;

constexpr double kDecodeBudget = 3;      // × memcpy of the surface bytes written
constexpr double kMipBudget = 1.5;       // × the main level's encode alone
constexpr double kVqSmallSeconds = 0.2;  // 256 x 256 into format 3
constexpr double kVqLargeSeconds = 2;    // 1024 x 1024 into format 3

struct Shape {
  int format, width, height;
};
constexpr Shape kDecodeShapes[] = {{9, 1024, 1024}, {1, 1024, 1024},  {13, 2048, 512},
                                   {2, 1024, 1024}, {18, 1024, 1024}, {3, 1024, 1024},
                                   {4, 1024, 1024}, {16, 1024, 1024}, {17, 1024, 1024}};
constexpr const char* kPixelFormatNames[] = {"ARGB1555", "RGB565", "ARGB4444"};

bench::BudgetReporter* g_reporter = nullptr;

std::string Name(const std::string& op, int pf, const Shape& s) {
  return op + "/" + kPixelFormatNames[pf] + "/format" + std::to_string(s.format) + "/" +
         std::to_string(s.width) + "x" + std::to_string(s.height);
}

// Surfaces of the texture's size, rows packed.
struct Surfaces {
  size_t stride;
  std::vector<uint8_t> image, mask;
  explicit Surfaces(const DataFormats::Layout& l)
      : stride(3 * l.width), image(stride * l.height), mask(stride * l.height) {}
  DataFormats::Surfaces Out() { return {image.data(), mask.data(), stride}; }
  DataFormats::ConstSurfaces In() const { return {image.data(), mask.data(), stride}; }
  size_t Bytes() const { return image.size() + mask.size(); }
};

// Random data of the layout's full length; VQ indices name entries the codebook holds.
std::vector<uint8_t> RandomData(const DataFormats::Layout& l, uint32_t seed) {
  std::vector<uint8_t> data = bench::RandomBytes(l.End(), seed);
  if (l.IsVq())
    for (size_t i = l.CodebookBytes(); i < data.size(); ++i) data[i] %= l.codebookEntries;
  return data;
}


// Every run writes every pixel, so the surfaces need not be made black again in between.
void Decode(State& state, int pf, Shape s) {
  const auto layout = DataFormats::LayoutOf(s.format, s.width, s.height);
  const std::vector<uint8_t> data = RandomData(layout, 1);
  Surfaces out(layout);
  for (auto _ : state) {
    DataFormats::DecodeMainLevel(layout, pf, data, out.Out());
    benchmark::DoNotOptimize(out.image.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(out.Bytes()));
}

// Encodes a picture decoded from random data, as an import of an exported texture would.
void Encode(State& state, int pf, Shape s) {
  const auto layout = DataFormats::LayoutOf(s.format, s.width, s.height);
  std::vector<uint8_t> data = RandomData(layout, 2);
  const auto rectangle = DataFormats::LayoutOf(9, s.width, s.height);
  Surfaces picture(layout);
  DataFormats::DecodeMainLevel(rectangle, pf, RandomData(rectangle, 3), picture.Out());
  for (auto _ : state) {
    if (!DataFormats::Encode(layout, pf, picture.In(), data)) {
      state.SkipWithError("Encode refused the texture");
      break;
    }
    benchmark::DoNotOptimize(data.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(s.width * s.height));
}

double Median(std::vector<double> v) {
  std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
  return v[v.size() / 2];
}

// The main level alone (format 1) and the mipmapped texture encoded in turn from the same
// picture; the counters are the median time of each.
void MipRegeneration(State& state, int pf, int format) {
  const auto mainLayout = DataFormats::LayoutOf(1, 1024, 1024);
  const auto layout = DataFormats::LayoutOf(format, 1024, 1024);
  std::vector<uint8_t> mainData = RandomData(mainLayout, 2), data = RandomData(layout, 2);
  const auto rectangle = DataFormats::LayoutOf(9, 1024, 1024);
  Surfaces picture(layout);
  DataFormats::DecodeMainLevel(rectangle, pf, RandomData(rectangle, 3), picture.Out());
  using Clock = std::chrono::steady_clock;
  std::vector<double> mainTimes, times;
  for (auto _ : state) {
    const auto start = Clock::now();
    DataFormats::Encode(mainLayout, pf, picture.In(), mainData);
    benchmark::ClobberMemory();
    const auto between = Clock::now();
    DataFormats::Encode(layout, pf, picture.In(), data);
    benchmark::ClobberMemory();
    const auto end = Clock::now();
    mainTimes.push_back(std::chrono::duration<double>(between - start).count());
    times.push_back(std::chrono::duration<double>(end - between).count());
  }
  state.counters["main_level_seconds"] = Median(mainTimes);
  state.counters["mipmapped_seconds"] = Median(times);
}

void Register() {
  for (int pf = 0; pf < 3; ++pf) {
    for (const Shape& s : kDecodeShapes) {
      const std::string name = Name("Decode", pf, s);
      const std::string base =
          MemcpyBaseline(Surfaces(DataFormats::LayoutOf(s.format, s.width, s.height)).Bytes());
      benchmark::RegisterBenchmark(name.c_str(), Decode, pf, s)
          ->UseRealTime()
          ->Unit(benchmark::kMicrosecond);
      g_reporter->Add(bench::Comparison{name, base, kDecodeBudget, 0, "memcpy"});
    }
    const Shape mainAlone{1, 1024, 1024};
    const std::string main = Name("Encode", pf, mainAlone);
    benchmark::RegisterBenchmark(main.c_str(), Encode, pf, mainAlone)
        ->UseRealTime()
        ->Unit(benchmark::kMicrosecond);
    for (int format : {2, 18}) {
      const Shape s{format, 1024, 1024};
      const std::string name = Name("Encode", pf, s);
      benchmark::RegisterBenchmark(name.c_str(), Encode, pf, s)
          ->UseRealTime()
          ->Unit(benchmark::kMicrosecond);
      g_reporter->Add(bench::Comparison{name, main, 0, 0, "main level alone"});
      const std::string pair = Name("MipRegeneration", pf, s);
      benchmark::RegisterBenchmark(pair.c_str(), MipRegeneration, pf, format)
          ->UseRealTime()
          ->Unit(benchmark::kMicrosecond);
      g_reporter->Add(bench::CounterBudget{pair, "mipmapped_seconds", "main_level_seconds",
                                           kMipBudget, "main level alone, calls alternating",
                                           "µs", 1e-6});
    }
    // VQ imports: the whole Encode, quantiser included, against the import times asked for.
    const Shape vq{3, 256, 256}, vqMipmapped{4, 256, 256}, vqLarge{3, 1024, 1024};
    const std::string vqName = Name("Encode", pf, vq);
    for (const auto& [shape, seconds] :
         {std::pair{vq, kVqSmallSeconds}, std::pair{vqLarge, kVqLargeSeconds},
          std::pair{vqMipmapped, 0.0}}) {
      if (shape.width == 1024 && pf != 0) continue;  // one pixel format does for the time
      const std::string name = Name("Encode", pf, shape);
      benchmark::RegisterBenchmark(name.c_str(), Encode, pf, shape)
          ->UseRealTime()
          ->Unit(benchmark::kMillisecond);
      g_reporter->Add(bench::Comparison{name, shape.format == 4 ? vqName : "", 0, seconds,
                                        seconds > 0 ? "import time" : ""});
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (!bench::InitializeBenchmarks(argc, argv)) return 1;

  bench::BudgetReporter reporter;
  g_reporter = &reporter;
  Register();
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  bench::RemoveScratch();
  return 0;
}
