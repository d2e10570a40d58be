// The hot paths of the editor against the machine's own limits, in one run:
//   - Texture::Decode and Texture::Encode of every pixel format, rectangular and twiddled, at
//     64², 256² and 1024², against a memcpy of the bytes each produces (the RGBA picture,
//     the texel data), call by call, and Texture::DecodeInto a picture kept between calls
//     at 1024²;
//   - Archive::Open and Archive::Save of a 500-texture archive of 256² textures (about
//     64 MB) and of a single 1024² texture, against one sequential read and one durable
//     write of the file, call by call, and the peak memory while the large archive is open;
//   - PictureFiles::Write and PictureFiles::Read of a 1024² picture as BMP and as PNG;
//   - BatchFiles::ExportAll of the 500-texture archive as BMP image and mask and as PNG.
// Showing a texture in the window is timed by quarnel_view_bench, which needs Qt.
// Scratch files live in a folder under $TMPDIR (or /tmp) that is removed at exit.
// Without --benchmark_repetitions the run repeats each benchmark 5 times and reports
// medians, which is what the budget table is built from; every benchmark is warmed up for
// 0.2 s first unless --benchmark_min_warmup_time says otherwise.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "BudgetReporter.h"
#include "Fixtures.h"
#include "archive/Archive.h"
#include "archive/BatchFiles.h"
#include "texture/Image.h"
#include "texture/PictureFiles.h"
#include "texture/Texture.h"

namespace bench {
// Entry changes and texture packs (ReshapeBench.cpp).
void RegisterReshape(BudgetReporter& reporter, std::string (*largeArchive)());
}  // namespace bench

namespace {

using bench::MemcpyBaseline;
using benchmark::State;
using Clock = std::chrono::steady_clock;

struct Format {
  uint8_t code;
  const char* name;
};
constexpr Format kPixelFormats[] = {{0, "ARGB1555"}, {1, "RGB565"}, {2, "ARGB4444"}};
constexpr Format kDataFormats[] = {{9, "rectangular"}, {1, "twiddled"}};
constexpr int kSides[] = {64, 256, 1024};
constexpr int kBigSide = 1024;

constexpr double kDecodeBudget = 1.5;      // × memcpy of the RGBA picture
constexpr double kEncodeBudget = 10;       // × memcpy of the texel data
constexpr double kOpenBudget = 1.25;       // × one sequential read of the file
constexpr double kSaveBudget = 3;          // × one durable sequential write of the file
constexpr double kPeakMemoryBudget = 1.1;  // × the archive's size
constexpr double kPngExportBudget = 2;     // × the same export-all as BMP image and mask
constexpr double kPngImportBudget = 3;     // × the same picture read from a BMP

bench::BudgetReporter* g_reporter = nullptr;

std::string Name(const std::string& op, const Format& p, const Format& d, int side) {
  return op + "/" + p.name + "/" + d.name + "/" + std::to_string(side);
}

std::string CallByCall(const std::string& baseline) { return baseline + ", call by call"; }

double Since(Clock::time_point start, Clock::time_point end) {
  return std::chrono::duration<double>(end - start).count();
}

// ---- Baselines -----------------------------------------------------------------------

// Reads the whole file into `buffer`; false when it cannot.
bool ReadInto(const std::string& path, uint8_t* buffer, size_t size) {
  FILE* f = std::fopen(path.c_str(), "rb");
  const size_t got = f ? std::fread(buffer, 1, size, f) : 0;
  if (f) std::fclose(f);
  return got == size;
}

// Reads the file into memory allocated for it, the least any loader has to do (the pages
// of a fresh allocation are faulted in by the read); the buffer is released outside the
// timed part, as the archive is in Archive::Open's benchmark. With `reuse` the same warm
// buffer takes every read, which shows what the page faults cost.
void SequentialRead(State& state, const std::string& path, bool reuse) {
  const size_t size = bench::FileSize(path);
  std::unique_ptr<uint8_t[]> kept(reuse ? new uint8_t[size]() : nullptr);
  for (auto _ : state) {
    std::unique_ptr<uint8_t[]> fresh(reuse ? nullptr : new uint8_t[size]);
    uint8_t* buffer = reuse ? kept.get() : fresh.get();
    if (!ReadInto(path, buffer, size)) {
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

// Writes bytes to a new file at target in one pass. With File the data is fsynced before
// close; with FileAndFolder the folder is fsynced too, which a new file needs before its
// name survives a crash.
bool WriteNew(const std::string& target, const std::vector<uint8_t>& bytes, Durability durability) {
  if (!bench::WriteFile(target, bytes.data(), bytes.size(), durability != Durability::None))
    return false;
  if (durability != Durability::FileAndFolder) return true;
  const std::string folder = target.substr(0, target.rfind('/'));
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const bool synced = dir >= 0 && ::fsync(dir) == 0;
  if (dir >= 0) ::close(dir);
  return synced;
}

// Writes the bytes of `source` to a new file beside it; the file is removed outside the
// timed part.
void SequentialWrite(State& state, const std::string& source, Durability durability) {
  const std::vector<uint8_t> bytes = bench::ReadFile(source);
  const std::string target = source + ".baseline";
  for (auto _ : state) {
    if (!WriteNew(target, bytes, durability)) {
      state.SkipWithError("write failed");
      break;
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

size_t RgbaBytes(int side) { return size_t(side) * size_t(side) * 4; }
size_t TexelBytes(int side) { return size_t(side) * size_t(side) * 2; }

// Small textures are timed a few calls at a time, so a timing lasts some microseconds and
// the clock's own cost stays out of the ratio.
int CallsPerTiming(int side) { return std::max(1, 65536 / (side * side)); }

// Rates from the operation's own median time (bench::Alternate sets it).
void SetRates(State& state, int side, size_t outputBytes) {
  const double seconds = state.counters["seconds"].value;
  if (seconds <= 0) return;
  state.counters["items_per_second"] = double(side) * side / seconds;
  state.counters["bytes_per_second"] = double(outputBytes) / seconds;
}

// Each call makes a fresh picture, as an export does; it is freed within the call.
void Decode(State& state, uint8_t pixelFormat, uint8_t dataFormat, int side) {
  const Texture texture = bench::MakeTexture(pixelFormat, dataFormat, side, 1);
  bench::Memcpy copy(RgbaBytes(side));
  bool decoded = true;
  bench::Alternate(state, CallsPerTiming(side), copy, [&] {
    std::optional<Image> picture = texture.Decode();
    decoded = decoded && picture.has_value();
    benchmark::DoNotOptimize(picture);
  });
  if (!decoded) state.SkipWithError("Decode refused the texture");
  SetRates(state, side, RgbaBytes(side));
}

// The same into one picture kept from call to call, as the window's view decodes each
// texture it shows into the picture it showed before: no fresh memory, so no page faults.
void DecodeInto(State& state, uint8_t pixelFormat, uint8_t dataFormat, int side) {
  const Texture texture = bench::MakeTexture(pixelFormat, dataFormat, side, 1);
  Image picture;
  bench::Memcpy copy(RgbaBytes(side));
  bool decoded = true;
  bench::Alternate(state, CallsPerTiming(side), copy, [&] {
    decoded = texture.DecodeInto(picture) && decoded;
    benchmark::DoNotOptimize(picture.rgba.data());
  });
  if (!decoded) state.SkipWithError("DecodeInto refused the texture");
  SetRates(state, side, RgbaBytes(side));
}

// Encodes a picture decoded from other random texels, as an import of an exported texture
// would: every call writes the whole texel data (rectangular and twiddled textures are
// encoded without first checking whether the picture is already shown).
void Encode(State& state, uint8_t pixelFormat, uint8_t dataFormat, int side) {
  Texture texture = bench::MakeTexture(pixelFormat, dataFormat, side, 2);
  const std::optional<Image> picture = bench::MakeTexture(pixelFormat, dataFormat, side, 3).Decode();
  if (!texture.Encodes() || !picture) {
    state.SkipWithError("the texture cannot be encoded");
    return;
  }
  bench::Memcpy copy(texture.data.size());
  bench::Alternate(state, CallsPerTiming(side), copy, [&] {
    texture.Encode(*picture);
    benchmark::DoNotOptimize(texture.data.data());
  });
  SetRates(state, side, texture.data.size());
}

void RegisterCodec() {
  for (const Format& d : kDataFormats) {
    for (const Format& p : kPixelFormats) {
      bench::Growth decodeGrowth{"Decode " + std::string(p.name) + " " + d.name, {}};
      bench::Growth encodeGrowth{"Encode " + std::string(p.name) + " " + d.name, {}};
      for (int side : kSides) {
        const std::string decode = Name("Texture::Decode", p, d, side);
        const std::string encode = Name("Texture::Encode", p, d, side);
        benchmark::RegisterBenchmark(decode.c_str(), Decode, p.code, d.code, side)
            ->UseRealTime()
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark(encode.c_str(), Encode, p.code, d.code, side)
            ->UseRealTime()
            ->Unit(benchmark::kMicrosecond);
        g_reporter->Add(bench::Comparison{decode, CallByCall(bench::MemcpyName(RgbaBytes(side))),
                                          kDecodeBudget, 0, "memcpy"});
        g_reporter->Add(bench::Comparison{encode, CallByCall(bench::MemcpyName(TexelBytes(side))),
                                          kEncodeBudget, 0, "memcpy"});
        if (side == kBigSide) {
          const std::string into = Name("Texture::DecodeInto", p, d, side);
          benchmark::RegisterBenchmark(into.c_str(), DecodeInto, p.code, d.code, side)
              ->UseRealTime()
              ->Unit(benchmark::kMicrosecond);
          g_reporter->Add(bench::Comparison{into, CallByCall(bench::MemcpyName(RgbaBytes(side))),
                                            kDecodeBudget, 0, "memcpy"});
        }
        decodeGrowth.bySide.emplace_back(side, decode);
        encodeGrowth.bySide.emplace_back(side, encode);
      }
      g_reporter->Add(decodeGrowth);
      g_reporter->Add(encodeGrowth);
    }
  }
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

// A read of the file into fresh memory, then Archive::Open of it, each timed on its own;
// the buffer and the archive are released outside both timings.
void Open(State& state, std::string (*archive)()) {
  const std::string path = archive();
  const size_t size = bench::FileSize(path);
  bench::AlternateTimes times;
  for (auto _ : state) {
    const auto start = Clock::now();
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[size]);
    const bool read = ReadInto(path, buffer.get(), size);
    benchmark::DoNotOptimize(buffer.get());
    const auto between = Clock::now();
    Expected<Archive> opened = Archive::Open(path);
    benchmark::DoNotOptimize(opened);
    const auto end = Clock::now();
    if (!read || !opened) {
      state.SkipWithError(read ? "Archive::Open refused the archive" : "short read");
      break;
    }
    times.Add(Since(start, between), Since(between, end));
  }
  times.Report(state);
  state.counters["bytes_per_second"] = double(size) / std::max(state.counters["seconds"].value, 1e-12);
}

// A durable write of the file's bytes to a new file beside it, then Archive::Save over the
// archive, each timed on its own; the new file is removed outside both timings.
void Save(State& state, std::string (*archive)()) {
  const std::string path = archive();
  Expected<Archive> opened = Archive::Open(path);
  if (!opened) {
    state.SkipWithError("Archive::Open refused the archive");
    return;
  }
  const std::vector<uint8_t> bytes = bench::ReadFile(path);
  const std::string target = path + ".baseline";
  bench::AlternateTimes times;
  for (auto _ : state) {
    const auto start = Clock::now();
    const bool written = WriteNew(target, bytes, Durability::FileAndFolder);
    const auto between = Clock::now();
    const Failure failure = opened->Save(path);
    const auto end = Clock::now();
    ::unlink(target.c_str());
    if (!written || failure) {
      state.SkipWithError(written ? "Archive::Save failed" : "write failed");
      break;
    }
    times.Add(Since(start, between), Since(between, end));
  }
  times.Report(state);
  state.counters["bytes_per_second"] =
      double(bytes.size()) / std::max(state.counters["seconds"].value, 1e-12);
}

// Runs this program again in a mode that only opens the archive, so that the peak resident
// size it reports belongs to the open alone and not to earlier benchmarks.
void OpenPeakMemory(State& state) {
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
    state.SkipWithError("could not measure the peak memory of Archive::Open");
    return;
  }
  state.counters["peak_bytes"] = double(peak);
  state.counters["before_open_bytes"] = double(before);
  state.counters["open_added_bytes"] = double(peak - before);
  state.counters["archive_bytes"] = double(bench::FileSize(path));
}

// The child's side: resident size before the open and the peak after it, in bytes.
int ReportOpenPeak(const std::string& path) {
  long pages = 0, resident = 0;
  std::ifstream("/proc/self/statm") >> pages >> resident;
  const long before = resident * ::sysconf(_SC_PAGESIZE);
  const Expected<Archive> opened = Archive::Open(path);
  struct rusage usage {};
  ::getrusage(RUSAGE_SELF, &usage);
  std::printf("%d %ld %ld\n", opened ? 1 : 0, before, long(usage.ru_maxrss) * 1024);
  return opened ? 0 : 1;
}

void RegisterArchives() {
  struct File {
    const char* label;
    std::string (*path)();
  };
  for (const File& a : {File{"500x256", LargeArchive}, File{"1x1024", SingleArchive}}) {
    const std::string label = a.label;
    const std::string open = "Archive::Open/" + label, save = "Archive::Save/" + label;
    RegisterFileBaselines(label, a.path);
    benchmark::RegisterBenchmark(open.c_str(), Open, a.path)
        ->UseRealTime()
        ->MinTime(1)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(save.c_str(), Save, a.path)
        ->UseRealTime()
        ->MinTime(1)
        ->Unit(benchmark::kMillisecond);
    // Opening must fill fresh memory as the read does; saving replaces the file durably, as
    // the baseline with both fsyncs writes a new one. The rows after each budget are the
    // separate runs of the other baselines, for comparison.
    g_reporter->Add(bench::Comparison{open, CallByCall("read/" + label), kOpenBudget, 0, "read"});
    g_reporter->Add(bench::Comparison{open, "read/" + label, 0, 0, ""});
    g_reporter->Add(bench::Comparison{open, "read-reused-buffer/" + label, 0, 0, ""});
    g_reporter->Add(bench::Comparison{save, CallByCall("write+fsync+folder/" + label), kSaveBudget,
                                      0, "durable write"});
    g_reporter->Add(bench::Comparison{save, "write+fsync/" + label, 0, 0, ""});
    g_reporter->Add(bench::Comparison{save, "write/" + label, 0, 0, ""});
  }
  benchmark::RegisterBenchmark("Archive::Open/500x256/peak_memory", OpenPeakMemory)
      ->Iterations(1)
      ->Repetitions(1)
      ->UseRealTime()
      ->Unit(benchmark::kMillisecond);
  // The budget is what holding the archive costs: the editor's own resident size (Qt's
  // libraries, fonts, the window) dwarfs the few megabytes of this bare program, so the
  // whole process's peak says little about the archive and is shown beside it unbudgeted.
  g_reporter->Add(bench::CounterBudget{"Archive::Open/500x256/peak_memory", "open_added_bytes",
                                       "archive_bytes", kPeakMemoryBudget,
                                       "peak resident size less the size before the open"});
  g_reporter->Add(bench::CounterBudget{"Archive::Open/500x256/peak_memory", "peak_bytes",
                                       "archive_bytes", 0, "whole process, peak resident size"});
}

// ---- Picture files -------------------------------------------------------------------

// The 1024² picture every picture-file benchmark reads or writes, at ARGB1555's precision.
const Image& Picture1024() {
  static const Image picture = *bench::MakeTexture(0, 9, kBigSide, 5).Decode();
  return picture;
}

std::string WrittenPicture(const std::string& name, PictureFiles::Export kind) {
  const std::string path = bench::ScratchPath(name);
  if (PictureFiles::Write(path, Picture1024(), kind, true, {}))
    throw std::runtime_error("cannot write " + path);
  return path;
}

std::string BitmapFile() {
  static const std::string path = WrittenPicture("picture1024.bmp", PictureFiles::Export::BmpImage);
  return path;
}

std::string MaskFile() {
  static const std::string path = WrittenPicture("picture1024_mask.bmp", PictureFiles::Export::BmpMask);
  return path;
}

std::string PngFile() {
  static const std::string path = WrittenPicture("picture1024.png", PictureFiles::Export::Png);
  return path;
}

// Writes the picture as one export, replacing the file all-or-nothing each time.
void Write(State& state, PictureFiles::Export kind, const char* fileName) {
  const std::string path = bench::ScratchPath(fileName);
  for (auto _ : state) {
    if (PictureFiles::Write(path, Picture1024(), kind, true, {})) {
      state.SkipWithError("PictureFiles::Write failed");
      break;
    }
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kBigSide * kBigSide);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bench::FileSize(path)));
}

// Reads a BMP (with its mask when `mask` is set) or a PNG into a picture.
bool ReadPicture(const std::string& image, const std::string& mask) {
  Expected<PictureFiles::Picture> read = PictureFiles::Read(image, mask);
  benchmark::DoNotOptimize(read);
  return bool(read);
}

void Read(State& state, std::string (*image)(), std::string (*mask)()) {
  const std::string imagePath = image(), maskPath = mask ? mask() : "";
  for (auto _ : state) {
    if (!ReadPicture(imagePath, maskPath)) {
      state.SkipWithError("PictureFiles::Read refused the file");
      break;
    }
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kBigSide * kBigSide);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(RgbaBytes(kBigSide)));
}

// The PNG import and the BMP import of the same picture, call by call.
void ReadPngBesideBmp(State& state) {
  const std::string png = PngFile(), bmp = BitmapFile();
  bool ok = true;
  bench::Alternate(state, [&] { ok = ReadPicture(bmp, "") && ok; }, [&] { ok = ReadPicture(png, "") && ok; });
  if (!ok) state.SkipWithError("PictureFiles::Read refused a file");
  SetRates(state, kBigSide, RgbaBytes(kBigSide));
}

void RegisterPictureFiles() {
  using PictureFiles::Export;
  const auto add = [](const std::string& name, auto fn) {
    benchmark::RegisterBenchmark(name.c_str(), fn)->UseRealTime()->Unit(benchmark::kMillisecond);
  };
  add("PictureFiles::Write/bmp/1024", [](State& s) { Write(s, Export::BmpImage, "saved1024.bmp"); });
  add("PictureFiles::Write/png/1024", [](State& s) { Write(s, Export::Png, "saved1024.png"); });
  add("PictureFiles::Read/bmp/1024", [](State& s) { Read(s, BitmapFile, nullptr); });
  add("PictureFiles::Read/bmp+mask/1024", [](State& s) { Read(s, BitmapFile, MaskFile); });
  add("PictureFiles::Read/png/1024", ReadPngBesideBmp);
  RegisterFileBaselines("bitmap1024", BitmapFile);

  const std::string write = "PictureFiles::Write/bmp/1024", read = "PictureFiles::Read/bmp/1024";
  g_reporter->Add(bench::Comparison{write, MemcpyBaseline(bench::FileSize(BitmapFile())), 0, 0, ""});
  g_reporter->Add(bench::Comparison{write, "write/bitmap1024", 0, 0, ""});
  g_reporter->Add(bench::Comparison{write, "write+fsync/bitmap1024", 0, 0, ""});
  g_reporter->Add(bench::Comparison{write, "write+fsync+folder/bitmap1024", 0, 0, ""});
  g_reporter->Add(bench::Comparison{"PictureFiles::Write/png/1024", write, 0, 0, ""});
  g_reporter->Add(bench::Comparison{read, MemcpyBaseline(RgbaBytes(kBigSide)), 0, 0, ""});
  g_reporter->Add(bench::Comparison{read, "read/bitmap1024", 0, 0, ""});
  g_reporter->Add(bench::Comparison{read, "read-reused-buffer/bitmap1024", 0, 0, ""});
  g_reporter->Add(bench::Comparison{"PictureFiles::Read/bmp+mask/1024", read, 0, 0, ""});
  g_reporter->Add(bench::Comparison{"PictureFiles::Read/png/1024", CallByCall(read),
                                    kPngImportBudget, 0, "BMP import"});
}

// ---- Export-all ----------------------------------------------------------------------

// One pass of what quarnel-cli's export-all does with the large archive: every texture
// decoded and written, as NAME.bmp and NAME_mask.bmp or as NAME.png, each file replaced
// all-or-nothing. The files of one pass replace those of the one before.
bool ExportPass(const Archive& archive, BatchFiles::FileFormat format, const std::string& folder) {
  const BatchFiles::Voice quiet{[](const std::string&) {}, [](const Error&) {}};
  const BatchFiles::Result result =
      BatchFiles::ExportAll(archive, folder, format, quiet, [](size_t, size_t) { return true; });
  return result.outcome == BatchFiles::Outcome::kDone;
}

uint64_t FolderBytes(const std::string& folder) {
  uint64_t bytes = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) bytes += entry.file_size();
  return bytes;
}

// A BMP pass and then a PNG pass, each timed on its own; output_bytes is what one PNG pass
// writes, bmp_output_bytes one BMP pass.
void ExportAll(State& state) {
  const Expected<Archive> archive = Archive::Open(LargeArchive());
  if (!archive) {
    state.SkipWithError("Archive::Open refused the archive");
    return;
  }
  const std::string bmp = bench::ScratchPath("export-all-bmp");
  const std::string png = bench::ScratchPath("export-all-png");
  bench::AlternateTimes times;
  for (auto _ : state) {
    const auto start = Clock::now();
    const bool bmpDone = ExportPass(*archive, BatchFiles::FileFormat::Bmp, bmp);
    const auto between = Clock::now();
    const bool pngDone = ExportPass(*archive, BatchFiles::FileFormat::Png, png);
    const auto end = Clock::now();
    if (!bmpDone || !pngDone) {
      state.SkipWithError("a texture was not exported");
      return;
    }
    times.Add(Since(start, between), Since(between, end));
  }
  times.Report(state);
  state.counters["output_bytes"] = double(FolderBytes(png));
  state.counters["bmp_output_bytes"] = double(FolderBytes(bmp));
}

void RegisterExportAll() {
  // A whole pass takes seconds, most of it waiting for the disk: one pair a repetition.
  benchmark::RegisterBenchmark("BatchFiles::ExportAll/png/500x256", ExportAll)
      ->Iterations(1)
      ->UseRealTime()
      ->Unit(benchmark::kMillisecond);
  g_reporter->Add(bench::Comparison{"BatchFiles::ExportAll/png/500x256",
                                    CallByCall("BatchFiles::ExportAll/bmp/500x256"),
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

  bench::BudgetReporter reporter;
  g_reporter = &reporter;
  RegisterCodec();
  RegisterPictureFiles();
  RegisterArchives();
  RegisterExportAll();
  bench::RegisterReshape(reporter, LargeArchive);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  bench::RemoveScratch();
  return 0;
}
