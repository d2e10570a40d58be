#include "Fixtures.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <set>
#include <cstring>
#include <stdexcept>

#include "kit/PvmBuilder.h"

namespace bench {
namespace {

std::string& ScratchStorage() {
  static std::string dir;
  return dir;
}

}  // namespace

const std::string& ScratchDir() {
  std::string& dir = ScratchStorage();
  if (dir.empty()) {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/quarnel-bench-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr)
      throw std::runtime_error("cannot create a scratch folder under " + pattern);
    dir = pattern;
    std::atexit(RemoveScratch);
  }
  return dir;
}

std::string ScratchPath(const std::string& name) { return ScratchDir() + "/" + name; }

void RemoveScratch() {
  std::string& dir = ScratchStorage();
  if (dir.empty()) return;
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  dir.clear();
}

std::vector<uint8_t> RandomBytes(size_t count, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> bytes(count);
  for (size_t i = 0; i < count; i += 4) {
    const uint32_t r = rng();
    for (size_t b = 0; b < 4 && i + b < count; ++b) bytes[i + b] = uint8_t(r >> (8 * b));
  }
  return bytes;
}

Texture MakeTexture(uint8_t pixelFormat, uint8_t dataFormat, int side, uint32_t seed) {
  Texture texture;
  const std::vector<uint8_t> data = RandomBytes(size_t(side) * size_t(side) * 2, seed);
  texture.data.assign(data.begin(), data.end());
  texture.length = int32_t(texture.data.size() + 8);
  texture.pixelFormat = pixelFormat;
  texture.dataFormat = dataFormat;
  texture.width = texture.height = int16_t(side);
  return texture;
}

uint64_t WriteArchive(const std::string& path, int count, int side) {
  const size_t dataBytes = size_t(side) * size_t(side) * 2;
  // Three different texel blocks in turn keep neighbouring chunks unlike each other.
  const std::vector<uint8_t> texels = RandomBytes(dataBytes * 3, 0xA5C3u);
  std::vector<archive_builder::Entry> entries;
  for (int k = 0; k < count; ++k) {
    const auto block = texels.begin() + long(dataBytes * size_t(k % 3));
    entries.push_back({"bench_" + std::to_string(k + 1), uint8_t(k % 3), uint8_t(k % 2 ? 1 : 9),
                       uint16_t(side), uint16_t(side), {block, block + long(dataBytes)}});
  }
  const std::vector<uint8_t> file = archive_builder::BuildArchive(entries);
  if (!WriteFile(path, file.data(), file.size(), false))
    throw std::runtime_error("cannot write " + path);
  return file.size();
}

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::vector<uint8_t> bytes(FileSize(path));
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += size_t(n);
  }
  ::close(fd);
  bytes.resize(done);
  return bytes;
}

bool WriteFile(const std::string& path, const uint8_t* bytes, size_t size, bool sync) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = true;
  while (ok && size > 0) {
    const ssize_t n = ::write(fd, bytes, size);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) bytes += n, size -= size_t(n);
  }
  if (ok && sync) ok = ::fsync(fd) == 0;
  return ::close(fd) == 0 && ok;
}

uint64_t FileSize(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? uint64_t(st.st_size) : 0;
}

// ---- Baselines -----------------------------------------------------------------------

std::string MemcpyName(size_t bytes) { return "memcpy/" + std::to_string(bytes) + "B"; }

Memcpy::Memcpy(size_t bytes) : bytes_(bytes) {
  const size_t gap = (bytes + 4095) / 4096 * 4096 + 2048;
  memory_.resize(gap + bytes + 64);
  from_ = memory_.data() + (64 - reinterpret_cast<uintptr_t>(memory_.data()) % 64);
  to_ = from_ + gap;
  const std::vector<uint8_t> content = RandomBytes(bytes, 7);
  std::memcpy(from_, content.data(), bytes);
}

void Memcpy::operator()() {
  std::memcpy(to_, from_, bytes_);
  benchmark::DoNotOptimize(to_);
}

std::string MemcpyBaseline(size_t bytes) {
  static std::set<size_t> registered;
  const std::string name = MemcpyName(bytes);
  if (registered.insert(bytes).second) {
    benchmark::RegisterBenchmark(name.c_str(), [bytes](benchmark::State& state) {
      Memcpy copy(bytes);
      for (auto _ : state) {
        copy();
        benchmark::ClobberMemory();
      }
      state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes));
    })->UseRealTime();
  }
  return name;
}

namespace {

bool HasFlag(int argc, char** argv, const char* prefix) {
  for (int i = 1; i < argc; ++i)
    if (std::strncmp(argv[i], prefix, std::strlen(prefix)) == 0) return true;
  return false;
}

}  // namespace

bool InitializeBenchmarks(int argc, char** argv) {
  std::vector<char*> args(argv, argv + argc);
  std::string repetitions = "--benchmark_repetitions=5";
  std::string aggregatesOnly = "--benchmark_report_aggregates_only=true";
  std::string warmUp = "--benchmark_min_warmup_time=0.2";
  if (!HasFlag(argc, argv, "--benchmark_min_warmup_time")) args.push_back(warmUp.data());
  if (!HasFlag(argc, argv, "--benchmark_repetitions")) {
    args.push_back(repetitions.data());
    if (!HasFlag(argc, argv, "--benchmark_report_aggregates_only") &&
        !HasFlag(argc, argv, "--benchmark_display_aggregates_only"))
      args.push_back(aggregatesOnly.data());
  }
  int count = int(args.size());
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return false;
  return true;
}

}  // namespace bench
