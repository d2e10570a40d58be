// The data formats' passes against the machine's own limits, in one run:
//   - decoding the main level of every data format in every pixel format at 1024 x 1024
//     (format 13 as four squares of 512) into a picture of 4 bytes a pixel, against a
//     memcpy of those 4 MiB;
//   - encoding mipmapped twiddled textures (2, 18) at 1024 x 1024, main level and every
//     smaller level, against encoding the main level alone (format 1 of the same size): the
//     smaller levels may add at most half.
//   - decoding YUV422 at 1024 x 1024 (rectangle and twiddled), against the same memcpy with
//     a budget of its own: two pixels share their chroma, which the conversion works out
//     in integers;
//   These alternate with their baselines call by call (bench::Alternate);
//   - encoding VQ textures (3) at 256 x 256 and 1024 x 1024 against the import times asked
//     for, and with mipmaps (4) at 256 x 256 against the same without. The pictures are
//     random texels, harder for the quantiser than natural pictures.
// Without --benchmark_repetitions the run repeats each benchmark 5 times and reports
// medians, each after a warm-up of 0.2 s.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "BudgetReporter.h"
#include "Fixtures.h"
#include "texture/DataFormats.h"

namespace {

using benchmark::State;

constexpr double kDecodeBudget = 1.5;    // × memcpy of the picture bytes written
constexpr double kYuvDecodeBudget = 2;   // the same, for YUV422
constexpr double kMipBudget = 1.5;       // × the main level's encode alone
constexpr double kVqSmallSeconds = 0.2;  // 256 x 256 into format 3
constexpr double kVqLargeSeconds = 2;    // 1024 x 1024 into format 3

struct Shape {
  int format, width, height;
};
constexpr Shape kDecodeShapes[] = {{9, 1024, 1024}, {1, 1024, 1024},  {13, 2048, 512},
                                   {2, 1024, 1024}, {18, 1024, 1024}, {3, 1024, 1024},
                                   {4, 1024, 1024}, {16, 1024, 1024}, {17, 1024, 1024}};
constexpr const char* kPixelFormatNames[] = {"ARGB1555", "RGB565", "ARGB4444", "YUV422", "bump map", "RGB555"};

bench::BudgetReporter* g_reporter = nullptr;

std::string Name(const std::string& op, int pf, const Shape& s) {
  return op + "/" + kPixelFormatNames[pf] + "/format" + std::to_string(s.format) + "/" +
         std::to_string(s.width) + "x" + std::to_string(s.height);
}

// Decodes are named by the side of a square texture; format 13 by its width and height.
std::string DecodeName(int pf, const Shape& s) {
  return std::string("Decode/") + kPixelFormatNames[pf] + "/format" + std::to_string(s.format) +
         "/" + (s.width == s.height ? std::to_string(s.width)
                                    : std::to_string(s.width) + "x" + std::to_string(s.height));
}

// A picture of the texture's size, as the codec reads and writes it.
std::vector<uint8_t> PictureFor(const DataFormats::Layout& l) {
  return std::vector<uint8_t>(4 * l.width * l.height);
}

// Random data of the layout's full length; VQ indices name entries the codebook holds.
std::vector<uint8_t> RandomData(const DataFormats::Layout& l, uint32_t seed) {
  std::vector<uint8_t> data = bench::RandomBytes(l.End(), seed);
  if (l.IsVq())
    for (size_t i = l.CodebookBytes(); i < data.size(); ++i) data[i] %= l.codebookEntries;
  return data;
}


// Each decode alternates with a memcpy of the bytes it writes (bench::Alternate).
void Decode(State& state, int pf, Shape s) {
  const auto layout = DataFormats::LayoutOf(s.format, s.width, s.height);
  const std::vector<uint8_t> data = RandomData(layout, 1);
  std::vector<uint8_t> out = PictureFor(layout);
  bench::Memcpy copy(out.size());
  bench::Alternate(state, copy, [&] {
    DataFormats::DecodeMainLevel(layout, pf, data, out.data());
    benchmark::DoNotOptimize(out.data());
  });
  state.counters["bytes_per_second"] = double(out.size()) / state.counters["seconds"].value;
}

// Encodes a picture decoded from random data, as an import of an exported texture would.
void Encode(State& state, int pf, Shape s) {
  const auto layout = DataFormats::LayoutOf(s.format, s.width, s.height);
  std::vector<uint8_t> data = RandomData(layout, 2);
  const auto rectangle = DataFormats::LayoutOf(9, s.width, s.height);
  std::vector<uint8_t> picture = PictureFor(layout);
  DataFormats::DecodeMainLevel(rectangle, pf, RandomData(rectangle, 3), picture.data());
  for (auto _ : state) {
    if (!DataFormats::Encode(layout, pf, picture.data(), data)) {
      state.SkipWithError("Encode refused the texture");
      break;
    }
    benchmark::DoNotOptimize(data.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(s.width * s.height));
}

// The main level alone (format 1) and the mipmapped texture, encoded in turn from the same
// picture (bench::Alternate).
void MipRegeneration(State& state, int pf, int format) {
  const auto mainLayout = DataFormats::LayoutOf(1, 1024, 1024);
  const auto layout = DataFormats::LayoutOf(format, 1024, 1024);
  std::vector<uint8_t> mainData = RandomData(mainLayout, 2), data = RandomData(layout, 2);
  const auto rectangle = DataFormats::LayoutOf(9, 1024, 1024);
  std::vector<uint8_t> picture = PictureFor(layout);
  DataFormats::DecodeMainLevel(rectangle, pf, RandomData(rectangle, 3), picture.data());
  const auto encode = [&](const DataFormats::Layout& l, std::vector<uint8_t>& into) {
    if (!DataFormats::Encode(l, pf, picture.data(), into)) state.SkipWithError("Encode refused the texture");
    benchmark::DoNotOptimize(into.data());
  };
  bench::Alternate(state, [&] { encode(mainLayout, mainData); }, [&] { encode(layout, data); });
  state.counters["items_per_second"] = 1024.0 * 1024.0 / state.counters["seconds"].value;
}

void Register() {
  for (const Shape& s : {Shape{9, 1024, 1024}, Shape{1, 1024, 1024}}) {
    const std::string name = DecodeName(3, s);
    benchmark::RegisterBenchmark(name.c_str(), Decode, 3, s)->UseRealTime()->Unit(benchmark::kMicrosecond);
    g_reporter->Add(bench::Comparison{name, bench::MemcpyName(4 * 1024 * 1024) + ", call by call", kYuvDecodeBudget,
                                      0, "memcpy"});
  }
  for (int pf = 0; pf < 3; ++pf) {
    for (const Shape& s : kDecodeShapes) {
      const std::string name = DecodeName(pf, s);
      const size_t bytes = PictureFor(DataFormats::LayoutOf(s.format, s.width, s.height)).size();
      benchmark::RegisterBenchmark(name.c_str(), Decode, pf, s)
          ->UseRealTime()
          ->Unit(benchmark::kMicrosecond);
      g_reporter->Add(bench::Comparison{name, bench::MemcpyName(bytes) + ", call by call",
                                        kDecodeBudget, 0, "memcpy"});
    }
    const std::string main = Name("Encode", pf, {1, 1024, 1024});
    for (int format : {2, 18}) {
      const std::string name = Name("Encode", pf, {format, 1024, 1024});
      benchmark::RegisterBenchmark(name.c_str(), MipRegeneration, pf, format)
          ->UseRealTime()
          ->Unit(benchmark::kMicrosecond);
      g_reporter->Add(
          bench::Comparison{name, main + ", call by call", kMipBudget, 0, "main level alone"});
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
