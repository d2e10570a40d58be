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
//     random texels, harder for the quantiser than natural pictures;
//   - decoding palettized textures (5 to 8) at 1024 x 1024 through a bank of random colours,
//     against a memcpy of the picture, call by call;
//   - importing a photo-like picture (gradients and noise) of 1024 x 1024 into an 8-bit
//     palettized texture (7), each pixel to the nearest of the 256 colours of a palette made
//     for it, against the import time asked for, in each palette colour format.
// Without --benchmark_repetitions the run repeats each benchmark 5 times and reports
// medians, each after a warm-up of 0.2 s.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "BudgetReporter.h"
#include "Fixtures.h"
#include "texture/DataFormats.h"
#include "texture/Palette.h"

namespace {

using benchmark::State;

constexpr double kDecodeBudget = 1.5;    // × memcpy of the picture bytes written
constexpr double kYuvDecodeBudget = 2;   // the same, for YUV422
constexpr double kMipBudget = 1.5;       // × the main level's encode alone
constexpr double kVqSmallSeconds = 0.2;  // 256 x 256 into format 3
constexpr double kVqLargeSeconds = 2;    // 1024 x 1024 into format 3
constexpr double kPalettizedDecodeBudget = 2;  // × memcpy of the picture bytes written
constexpr double kPalettizedImportSeconds = 0.03;  // 1024 x 1024 into format 7

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
// Pictures and texel data live in memory placed as Image and Texture place theirs: a
// picture starts on a cache line, and so does texel data's main level (Texture::SizeData).
UnzeroedBytes PictureFor(const DataFormats::Layout& l) { return UnzeroedBytes(4 * l.width * l.height); }

// Random data of the layout's full length; VQ indices name entries the codebook holds.
UnzeroedBytes RandomData(const DataFormats::Layout& l, uint32_t seed) {
  const std::vector<uint8_t> random = bench::RandomBytes(l.End(), seed);
  UnzeroedBytes data(random.begin(), random.end(), UnzeroedAllocator<uint8_t>(l.main.offset));
  if (l.IsVq())
    for (size_t i = l.CodebookBytes(); i < data.size(); ++i) data[i] %= l.codebookEntries;
  return data;
}


// Each decode alternates with a memcpy of the bytes it writes (bench::Alternate).
void Decode(State& state, int pf, Shape s) {
  const auto layout = DataFormats::LayoutOf(s.format, s.width, s.height);
  const UnzeroedBytes data = RandomData(layout, 1);
  UnzeroedBytes out = PictureFor(layout);
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
  UnzeroedBytes data = RandomData(layout, 2);
  const auto rectangle = DataFormats::LayoutOf(9, s.width, s.height);
  UnzeroedBytes picture = PictureFor(layout);
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
  UnzeroedBytes mainData = RandomData(mainLayout, 2), data = RandomData(layout, 2);
  const auto rectangle = DataFormats::LayoutOf(9, 1024, 1024);
  UnzeroedBytes picture = PictureFor(layout);
  DataFormats::DecodeMainLevel(rectangle, pf, RandomData(rectangle, 3), picture.data());
  const auto encode = [&](const DataFormats::Layout& l, UnzeroedBytes& into) {
    if (!DataFormats::Encode(l, pf, picture.data(), into)) state.SkipWithError("Encode refused the texture");
    benchmark::DoNotOptimize(into.data());
  };
  bench::Alternate(state, [&] { encode(mainLayout, mainData); }, [&] { encode(layout, data); });
  state.counters["items_per_second"] = 1024.0 * 1024.0 / state.counters["seconds"].value;
}

// A bank of random colours, every entry held.
BankColours RandomBank(int indexBits) {
  BankColours bank;
  bank.indexBits = indexBits;
  bank.colourFormat = Palette::kARGB8888;
  const std::vector<uint8_t> colours = bench::RandomBytes(bank.rgba.size(), 4);
  std::copy(colours.begin(), colours.end(), bank.rgba.begin());
  for (size_t i = 0; i < bank.Entries(); ++i) bank.held.set(i);
  return bank;
}

void PalettizedDecode(State& state, int format) {
  const auto layout = DataFormats::LayoutOf(format, 1024, 1024);
  const UnzeroedBytes data = RandomData(layout, 5);
  const BankColours bank = RandomBank(layout.indexBits);
  UnzeroedBytes out = PictureFor(layout);
  bench::Memcpy copy(out.size());
  bench::Alternate(state, copy, [&] {
    DataFormats::DecodeMainLevel(layout, 0, data, out.data(), &bank);
    benchmark::DoNotOptimize(out.data());
  });
  state.counters["bytes_per_second"] = double(out.size()) / state.counters["seconds"].value;
}

// Smooth gradients that wrap around, with a little noise in every channel, as a photograph's
// colours spread: many distinct colours, few of them repeated in a row.
Image PhotoLike(int side) {
  Image picture = Image::Blank(side, side).value();
  const std::vector<uint8_t> noise = bench::RandomBytes(picture.rgba.size(), 6);
  for (int y = 0; y < side; ++y)
    for (int x = 0; x < side; ++x) {
      uint8_t* p = picture.Pixel(x, y);
      const uint8_t* n = &noise[picture.Pixel(x, y) - picture.rgba.data()];
      p[0] = uint8_t((x * 3 + y) / 5 + n[0] % 9);
      p[1] = uint8_t((x + y * 2) / 4 + n[1] % 9);
      p[2] = uint8_t(128 + ((x - y) / 6) + n[2] % 9);
      p[3] = uint8_t(255 - (x / 128) * 8);
    }
  return picture;
}

void PalettizedImport(State& state, uint16_t colourFormat) {
  const auto layout = DataFormats::LayoutOf(7, 1024, 1024);
  std::vector<uint8_t> data(layout.End());
  const Image picture = PhotoLike(1024);
  const BankColours bank = Palette::FromPicture(picture, colourFormat, 8).Bank(0, 8).value();
  for (auto _ : state) {
    if (!DataFormats::Encode(layout, 0, picture.rgba.data(), data, &bank)) {
      state.SkipWithError("Encode refused the texture");
      break;
    }
    benchmark::DoNotOptimize(data.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * 1024 * 1024);
}

void RegisterPalettized() {
  for (int format : {5, 6, 7, 8}) {
    const std::string name = "Decode/palettized/format" + std::to_string(format) + "/1024";
    benchmark::RegisterBenchmark(name.c_str(), PalettizedDecode, format)
        ->UseRealTime()
        ->Unit(benchmark::kMicrosecond);
    g_reporter->Add(bench::Comparison{name, bench::MemcpyName(4 << 20) + ", call by call",
                                      kPalettizedDecodeBudget, 0, "memcpy"});
  }
  const std::pair<uint16_t, const char*> colourFormats[] = {
      {Palette::kARGB1555, "ARGB1555"}, {Palette::kRGB565, "RGB565"}, {Palette::kARGB4444, "ARGB4444"},
      {Palette::kRGB555, "RGB555"},     {Palette::kARGB8888, "ARGB8888"}};
  for (const auto& [colourFormat, colourName] : colourFormats) {
    const std::string name = std::string("Encode/palettized/") + colourName + "/format7/1024";
    benchmark::RegisterBenchmark(name.c_str(), PalettizedImport, colourFormat)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
    g_reporter->Add(bench::Comparison{name, "", 0, kPalettizedImportSeconds, "import time"});
  }
}

void Register() {
  RegisterPalettized();
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
