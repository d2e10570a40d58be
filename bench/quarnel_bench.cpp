// The hot paths of the editor against the machine's own limits, in one run:
//   - decoding (PVR2BMP) and encoding (BMP2PVR) of every pixel format, rectangular and
//     twiddled, at 64², 256² and 1024², against a memcpy of the bytes each produces;
//   - selecting a 1024² twiddled texture (decode, then Draw of image and mask), against a
//     frame at 60 Hz; Draw alone;
//   - OpenArchive and SaveArchive of a 500-texture archive of 256² textures (about 64 MB)
//     and of a single 1024² texture, against one sequential read and write of the file,
//     and the peak memory while the large archive is open;
//   - SaveBitmap and LoadBitMap of a 1024² bitmap, SavePng and LoadPng of a 1024² PNG;
//   - export-all of the 500-texture archive as BMP image and mask and as PNG.
// Scratch files live in a folder under $TMPDIR (or /tmp) that is removed at exit.
// Without --benchmark_repetitions the run repeats each benchmark 5 times and reports
// medians, which is what the budget table is built from; every benchmark is warmed up for
// 0.2 s first unless --benchmark_min_warmup_time says otherwise.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "BudgetReporter.h"
#include "Fixtures.h"
#include "archive/ParseFuncts.h"
#include "platform/Messages.h"
#include "texture/cPVR.h"

namespace {

using bench::MemcpyBaseline;

using benchmark::State;

struct Format {
  uint8_t code;
  const char* name;
};
constexpr Format kPixelFormats[] = {{0, "ARGB1555"}, {1, "RGB565"}, {2, "ARGB4444"}};
constexpr Format kDataFormats[] = {{9, "rectangular"}, {1, "twiddled"}};
constexpr int kSides[] = {64, 256, 1024};
constexpr int kBigSide = 1024;

constexpr double kFrameSeconds = 1.0 / 60;
constexpr double kCodecBudget = 10;    // × memcpy of the output bytes
constexpr double kArchiveBudget = 3;   // × one sequential read / write of the file
constexpr double kPeakMemoryBudget = 1.5;  // × the archive's size
constexpr double kPngExportBudget = 2;   // × the same export as BMP image and mask
constexpr double kPngImportBudget = 3;   // × the same picture loaded from a BMP

bench::BudgetReporter* g_reporter = nullptr;

std::string Name(const std::string& op, const Format& p, const Format& d, int side) {
  return op + "/" + p.name + "/" + d.name + "/" + std::to_string(side);
}

// ---- Baselines -----------------------------------------------------------------------


// Reads the file into memory allocated for it, the least any loader has to do (the pages
// of a fresh allocation are faulted in by the read); the buffer is released outside the
// timed part, as the archive is in the OpenArchive benchmark. With `reuse` the same warm
// buffer takes every read, which shows what the page faults cost.
void SequentialRead(State& state, const std::string& path, bool reuse) {
  const size_t size = bench::FileSize(path);
  std::unique_ptr<uint8_t[]> kept(reuse ? new uint8_t[size]() : nullptr);
  for (auto _ : state) {
    std::unique_ptr<uint8_t[]> fresh(reuse ? nullptr : new uint8_t[size]);
    uint8_t* buffer = reuse ? kept.get() : fresh.get();
    FILE* f = std::fopen(path.c_str(), "rb");
    const size_t got = f ? std::fread(buffer, 1, size, f) : 0;
    if (f) std::fclose(f);
    if (got != size) {
      state.SkipWithError("short read");
      break;
    }
    benchmark::DoNotOptimize(buffer);
    state.PauseTiming();
    fresh.reset();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(size));
}

enum class Durability { None, File, FileAndFolder };

// Writes the bytes of `source` to a new file beside it in one pass. With File the data is
// fsynced before close; with FileAndFolder the folder is fsynced too, which a new file
// needs before its name survives a crash. The file is removed outside the timed part.
void SequentialWrite(State& state, const std::string& source, Durability durability) {
  const std::vector<uint8_t> bytes = bench::ReadFile(source);
  const std::string target = source + ".baseline";
  const std::string folder = source.substr(0, source.rfind('/'));
  for (auto _ : state) {
    if (!bench::WriteFile(target, bytes.data(), bytes.size(), durability != Durability::None)) {
      state.SkipWithError("write failed");
      break;
    }
    if (durability == Durability::FileAndFolder) {
      const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      if (dir < 0 || ::fsync(dir) != 0) state.SkipWithError("folder fsync failed");
      if (dir >= 0) ::close(dir);
    }
    state.PauseTiming();
    ::unlink(target.c_str());
    state.ResumeTiming();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes.size()));
}

void RegisterFileBaselines(const std::string& label, std::string (*path)()) {
  const auto add = [](const std::string& name, auto fn) {
    benchmark::RegisterBenchmark(name.c_str(), fn)->UseRealTime()->Unit(benchmark::kMillisecond);
  };
  add("read/" + label, [path](State& s) { SequentialRead(s, path(), false); });
  add("read-reused-buffer/" + label, [path](State& s) { SequentialRead(s, path(), true); });
  add("write/" + label, [path](State& s) { SequentialWrite(s, path(), Durability::None); });
  add("write+fsync/" + label, [path](State& s) { SequentialWrite(s, path(), Durability::File); });
  add("write+fsync+folder/" + label,
      [path](State& s) { SequentialWrite(s, path(), Durability::FileAndFolder); });
}

// ---- Codec ---------------------------------------------------------------------------

size_t SurfaceBytes(const cPVR& texture) {
  return texture.SurfaceBits(0).size() + texture.SurfaceBits(1).size();
}

void Decode(State& state, uint8_t pFormat, uint8_t eFormat, int side) {
  auto texture = bench::MakeTexture(pFormat, eFormat, side, 1);
  for (auto _ : state) {
    if (!texture->PVR2BMP()) {
      state.SkipWithError("PVR2BMP refused the texture");
      break;
    }
    benchmark::DoNotOptimize(texture->SurfaceBits(0).data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * side * side);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(SurfaceBytes(*texture)));
}

void Encode(State& state, uint8_t pFormat, uint8_t eFormat, int side) {
  auto texture = bench::MakeTexture(pFormat, eFormat, side, 2);
  texture->PVR2BMP();
  for (auto _ : state) {
    texture->BMP2PVR();
    benchmark::DoNotOptimize(texture->ChunkRecord().Data.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * side * side);
  state.SetBytesProcessed(int64_t(state.iterations()) *
                          int64_t(texture->ChunkRecord().Data.size()));
}

void RegisterCodec() {
  for (const Format& d : kDataFormats) {
    for (const Format& p : kPixelFormats) {
      bench::Growth decodeGrowth{"PVR2BMP " + std::string(p.name) + " " + d.name, {}};
      bench::Growth encodeGrowth{"BMP2PVR " + std::string(p.name) + " " + d.name, {}};
      for (int side : kSides) {
        // The baselines copy exactly the bytes the operation leaves behind.
        auto probe = bench::MakeTexture(p.code, d.code, side, 1);
        probe->PVR2BMP();
        const std::string decodeBase = MemcpyBaseline(SurfaceBytes(*probe));
        const std::string encodeBase = MemcpyBaseline(probe->ChunkRecord().Data.size());

        const std::string decode = Name("PVR2BMP", p, d, side);
        const std::string encode = Name("BMP2PVR", p, d, side);
        benchmark::RegisterBenchmark(decode.c_str(), Decode, p.code, d.code, side)
            ->UseRealTime()
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark(encode.c_str(), Encode, p.code, d.code, side)
            ->UseRealTime()
            ->Unit(benchmark::kMicrosecond);
        g_reporter->Add(bench::Comparison{decode, decodeBase, kCodecBudget, 0, "memcpy"});
        g_reporter->Add(bench::Comparison{encode, encodeBase, kCodecBudget, 0, "memcpy"});
        decodeGrowth.bySide.emplace_back(side, decode);
        encodeGrowth.bySide.emplace_back(side, encode);
      }
      g_reporter->Add(decodeGrowth);
      g_reporter->Add(encodeGrowth);
    }
  }
}

// ---- Selecting and drawing -------------------------------------------------------------

// A picture box's persistent image: 32-bit pixels and the target Draw paints them through.
struct Target {
  explicit Target(int side)
      : pixels(size_t(side) * side * 4), target{pixels.data(), side, side, side * 4} {}
  std::vector<uint8_t> pixels;
  PixelTarget target;
};

// What the window does when a row is chosen: decode, then paint image and mask.
void Select(State& state, uint8_t pFormat) {
  auto texture = bench::MakeTexture(pFormat, 1, kBigSide, 3);
  Target image(kBigSide), mask(kBigSide);
  for (auto _ : state) {
    texture->PVR2BMP();
    texture->Draw(0, image.target);
    texture->Draw(1, mask.target);
    benchmark::DoNotOptimize(image.pixels.data());
    benchmark::DoNotOptimize(mask.pixels.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kBigSide * kBigSide);
}

void Draw(State& state) {
  auto texture = bench::MakeTexture(0, 1, kBigSide, 4);
  texture->PVR2BMP();
  Target image(kBigSide);
  for (auto _ : state) {
    texture->Draw(0, image.target);
    benchmark::DoNotOptimize(image.pixels.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kBigSide * kBigSide);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(image.pixels.size()));
}

void RegisterDrawing() {
  const size_t targetBytes = size_t(kBigSide) * kBigSide * 4;
  auto probe = bench::MakeTexture(0, 1, kBigSide, 3);
  probe->PVR2BMP();
  const std::string selectBase = MemcpyBaseline(SurfaceBytes(*probe) + 2 * targetBytes);
  for (const Format& p : kPixelFormats) {
    const std::string name = std::string("Select/") + p.name + "/twiddled/1024";
    benchmark::RegisterBenchmark(name.c_str(), Select, p.code)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
    g_reporter->Add(bench::Comparison{name, selectBase, 0, kFrameSeconds, "one 60 Hz frame"});
  }
  benchmark::RegisterBenchmark("Draw/1024", Draw)->UseRealTime()->Unit(benchmark::kMicrosecond);
  g_reporter->Add(bench::Comparison{"Draw/1024", MemcpyBaseline(targetBytes), 0, 0, ""});
}

// ---- BMP files -----------------------------------------------------------------------

std::string BitmapFile() {
  static const std::string path = [] {
    const std::string p = bench::ScratchPath("bitmap1024.bmp");
    auto texture = bench::MakeTexture(0, 9, kBigSide, 5);
    texture->PVR2BMP();
    texture->SaveBitmap(0, p);
    return p;
  }();
  return path;
}

void SaveBitmap(State& state) {
  auto texture = bench::MakeTexture(0, 9, kBigSide, 6);
  texture->PVR2BMP();
  const std::string path = bench::ScratchPath("saved1024.bmp");
  for (auto _ : state) {
    if (!texture->SaveBitmap(0, path)) {
      state.SkipWithError("SaveBitmap failed");
      break;
    }
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kBigSide * kBigSide);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bench::FileSize(path)));
}

void LoadBitMap(State& state) {
  const std::string path = BitmapFile();
  cPVR texture;
  for (auto _ : state) {
    if (!texture.LoadBitMap(path, "")) {
      state.SkipWithError("LoadBitMap failed");
      break;
    }
    benchmark::DoNotOptimize(texture.SurfaceBits(0).data());
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kBigSide * kBigSide);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(SurfaceBytes(texture)));
}

void RegisterBitmaps() {
  const size_t fileBytes = bench::FileSize(BitmapFile());
  cPVR probe;
  probe.LoadBitMap(BitmapFile(), "");
  const std::string saveBase = MemcpyBaseline(fileBytes);
  const std::string loadBase = MemcpyBaseline(SurfaceBytes(probe));
  RegisterFileBaselines("bitmap1024", BitmapFile);
  benchmark::RegisterBenchmark("SaveBitmap/1024", SaveBitmap)
      ->UseRealTime()
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("LoadBitMap/1024", LoadBitMap)
      ->UseRealTime()
      ->Unit(benchmark::kMillisecond);
  g_reporter->Add(bench::Comparison{"SaveBitmap/1024", saveBase, 0, 0, ""});
  g_reporter->Add(bench::Comparison{"SaveBitmap/1024", "write/bitmap1024", 0, 0, ""});
  g_reporter->Add(bench::Comparison{"SaveBitmap/1024", "write+fsync/bitmap1024", 0, 0, ""});
  g_reporter->Add(bench::Comparison{"SaveBitmap/1024", "write+fsync+folder/bitmap1024", 0, 0, ""});
  g_reporter->Add(bench::Comparison{"LoadBitMap/1024", loadBase, 0, 0, ""});
  g_reporter->Add(bench::Comparison{"LoadBitMap/1024", "read/bitmap1024", 0, 0, ""});
  g_reporter->Add(bench::Comparison{"LoadBitMap/1024", "read-reused-buffer/bitmap1024", 0, 0, ""});
}

// ---- Archives ------------------------------------------------------------------------

std::string LargeArchive() {
  static const std::string path = [] {
    const std::string p = bench::ScratchPath("textures500x256.pvm");
    bench::WriteArchive(p, 500, 256);
    return p;
  }();
  return path;
}

std::string SingleArchive() {
  static const std::string path = [] {
    const std::string p = bench::ScratchPath("texture1x1024.pvm");
    bench::WriteArchive(p, 1, kBigSide);
    return p;
  }();
  return path;
}

void OpenArchive(State& state, std::string (*archive)()) {
  const std::string path = archive();
  for (auto _ : state) {
    state.PauseTiming();
    ParseFuncts::CloseArchive();
    state.ResumeTiming();
    if (!ParseFuncts::OpenArchive(path)) {
      state.SkipWithError("OpenArchive failed");
      break;
    }
  }
  ParseFuncts::CloseArchive();
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bench::FileSize(path)));
}

void SaveArchive(State& state, std::string (*archive)()) {
  const std::string path = archive();
  if (!ParseFuncts::OpenArchive(path)) {
    state.SkipWithError("OpenArchive failed");
    return;
  }
  for (auto _ : state) {
    if (!ParseFuncts::SaveArchive(path)) {
      state.SkipWithError("SaveArchive failed");
      break;
    }
  }
  ParseFuncts::CloseArchive();
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bench::FileSize(path)));
}

// Runs this program again in a mode that only opens the archive, so that the peak resident
// size it reports belongs to the open alone and not to earlier benchmarks.
void OpenArchivePeakMemory(State& state) {
  const std::string path = LargeArchive();
  char self[4096] = {};
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  long ok = 0, before = 0, peak = 0;
  for (auto _ : state) {
    if (n <= 0) break;
    const std::string command = std::string("'") + self + "' --quarnel-open-peak='" + path + "'";
    FILE* child = ::popen(command.c_str(), "r");
    if (child == nullptr || std::fscanf(child, "%ld %ld %ld", &ok, &before, &peak) != 3) ok = 0;
    if (child != nullptr) ::pclose(child);
  }
  if (!ok) {
    state.SkipWithError("could not measure the peak memory of OpenArchive");
    return;
  }
  state.counters["peak_bytes"] = double(peak);
  state.counters["before_open_bytes"] = double(before);
  state.counters["archive_bytes"] = double(bench::FileSize(path));
}

// The child's side: resident size before the open and the peak after it, in bytes.
int ReportOpenPeak(const std::string& path) {
  platform::SetMessageHook([](const platform::Message&) { return platform::Answer::Yes; });
  long pages = 0, resident = 0;
  std::ifstream("/proc/self/statm") >> pages >> resident;
  const long before = resident * ::sysconf(_SC_PAGESIZE);
  const bool ok = ParseFuncts::OpenArchive(path);
  struct rusage usage {};
  ::getrusage(RUSAGE_SELF, &usage);
  std::printf("%d %ld %ld\n", ok ? 1 : 0, before, long(usage.ru_maxrss) * 1024);
  return ok ? 0 : 1;
}

void RegisterArchives() {
  struct Archive {
    const char* label;
    std::string (*path)();
  };
  for (const Archive& a : {Archive{"500x256", LargeArchive}, Archive{"1x1024", SingleArchive}}) {
    const std::string label = a.label;
    RegisterFileBaselines(label, a.path);
    benchmark::RegisterBenchmark(("OpenArchive/" + label).c_str(), OpenArchive, a.path)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("SaveArchive/" + label).c_str(), SaveArchive, a.path)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
    // OpenArchive must fill fresh memory as the read baseline does; SaveArchive replaces the
    // file durably, as the baseline with both fsyncs writes a new one.
    g_reporter->Add(bench::Comparison{"OpenArchive/" + label, "read/" + label, kArchiveBudget,
                                      0, "read"});
    g_reporter->Add(
        bench::Comparison{"OpenArchive/" + label, "read-reused-buffer/" + label, 0, 0, ""});
    g_reporter->Add(bench::Comparison{"SaveArchive/" + label, "write+fsync+folder/" + label,
                                      kArchiveBudget, 0, "durable write"});
    g_reporter->Add(bench::Comparison{"SaveArchive/" + label, "write+fsync/" + label, 0, 0, ""});
    g_reporter->Add(bench::Comparison{"SaveArchive/" + label, "write/" + label, 0, 0, ""});
  }
  benchmark::RegisterBenchmark("OpenArchive/500x256/peak_memory", OpenArchivePeakMemory)
      ->Iterations(1)
      ->Repetitions(1)
      ->UseRealTime()
      ->Unit(benchmark::kMillisecond);
  g_reporter->Add(bench::CounterBudget{"OpenArchive/500x256/peak_memory", "peak_bytes",
                                       "archive_bytes", kPeakMemoryBudget,
                                       "whole process, peak resident size"});
}

// ---- PNG files -----------------------------------------------------------------------

std::string PngFile1024() {
  static const std::string path = [] {
    const std::string p = bench::ScratchPath("bitmap1024.png");
    auto texture = bench::MakeTexture(0, 9, kBigSide, 5);  // the pixels of BitmapFile()
    texture->PVR2BMP();
    texture->SavePng(p);
    return p;
  }();
  return path;
}

void SavePng(State& state) {
  auto texture = bench::MakeTexture(0, 9, kBigSide, 6);
  texture->PVR2BMP();
  const std::string path = bench::ScratchPath("saved1024.png");
  for (auto _ : state) {
    if (!texture->SavePng(path)) {
      state.SkipWithError("SavePng failed");
      break;
    }
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kBigSide * kBigSide);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bench::FileSize(path)));
}

void LoadPng(State& state) {
  const std::string path = PngFile1024();
  cPVR texture;
  for (auto _ : state) {
    if (!texture.LoadPng(path)) {
      state.SkipWithError("LoadPng failed");
      break;
    }
    benchmark::DoNotOptimize(texture.SurfaceBits(0).data());
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kBigSide * kBigSide);
}

// What quarnel-cli's export-all does with the large archive: every texture decoded and
// written, as NAME.bmp and NAME_mask.bmp or as NAME.png. The files of one pass replace
// those of the one before (the overwrite question is answered Yes); output_bytes is what
// one pass writes.
void ExportAll(State& state, bool png) {
  if (!ParseFuncts::OpenArchive(LargeArchive())) {
    state.SkipWithError("OpenArchive failed");
    return;
  }
  const std::string folder = bench::ScratchPath(png ? "export-all-png" : "export-all-bmp");
  std::filesystem::create_directories(folder);
  const auto& textures = ParseFuncts::Textures;
  for (auto _ : state) {
    for (size_t k = 1; k < textures.size(); ++k) {
      cPVR& texture = *textures[k];
      const std::string base = folder + "/" + std::to_string(k);
      const bool written = texture.PVR2BMP() &&
                           (png ? texture.SavePng(base + ".png")
                                : texture.SaveBitmap(0, base + ".bmp") &&
                                      texture.SaveBitmap(1, base + "_mask.bmp"));
      if (!written) {
        state.SkipWithError("a texture was not exported");
        break;
      }
    }
  }
  ParseFuncts::CloseArchive();
  uint64_t bytes = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) bytes += entry.file_size();
  state.counters["output_bytes"] = double(bytes);
}

void RegisterPng() {
  benchmark::RegisterBenchmark("SavePng/1024", SavePng)->UseRealTime()->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("LoadPng/1024", LoadPng)->UseRealTime()->Unit(benchmark::kMillisecond);
  g_reporter->Add(bench::Comparison{"SavePng/1024", "SaveBitmap/1024", 0, 0, ""});
  g_reporter->Add(bench::Comparison{"LoadPng/1024", "LoadBitMap/1024", kPngImportBudget, 0,
                                    "BMP import"});
  // A whole pass takes seconds, most of it waiting for the disk: one pass a repetition.
  for (const bool png : {false, true}) {
    benchmark::RegisterBenchmark(png ? "ExportAll/png/500x256" : "ExportAll/bmp/500x256",
                                 ExportAll, png)
        ->Iterations(1)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
  }
  g_reporter->Add(bench::Comparison{"ExportAll/png/500x256", "ExportAll/bmp/500x256",
                                    kPngExportBudget, 0, "BMP export-all"});
}

}  // namespace

int main(int argc, char** argv) {
  constexpr const char* kPeakFlag = "--quarnel-open-peak=";
  if (argc == 2 && std::strncmp(argv[1], kPeakFlag, std::strlen(kPeakFlag)) == 0)
    return ReportOpenPeak(argv[1] + std::strlen(kPeakFlag));

  // Medians of repeated runs, each after a short warm-up (the first benchmarks of a run
  // would otherwise meet a cold processor), unless the caller chose otherwise.
  if (!bench::InitializeBenchmarks(argc, argv)) return 1;

  // SaveBitmap asks before it replaces a file; every question is answered Yes.
  platform::SetMessageHook([](const platform::Message&) { return platform::Answer::Yes; });

  bench::BudgetReporter reporter;
  g_reporter = &reporter;
  RegisterCodec();
  RegisterDrawing();
  RegisterBitmaps();
  RegisterArchives();
  RegisterPng();
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  bench::RemoveScratch();
  return 0;
}
