// Inputs for the benchmarks: textures of random texels, PVM archives and BMP files written
// into a scratch folder that is removed when the program ends.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "texture/cPVR.h"

namespace bench {

// A fresh folder under $TMPDIR (or /tmp), created on first use; RemoveScratch deletes it
// with everything in it and also runs at exit.
const std::string& ScratchDir();
std::string ScratchPath(const std::string& name);
void RemoveScratch();

// `count` bytes from a fixed-seed generator, so every run measures the same input.
std::vector<uint8_t> RandomBytes(size_t count, uint32_t seed);

// A texture holding side x side random texels in the given formats, loaded the way the
// archive reader loads one.
std::unique_ptr<cPVR> MakeTexture(uint8_t pFormat, uint8_t eFormat, int side, uint32_t seed);

// Writes a PVM archive of `count` square textures of side x side texels to path: pixel
// formats cycle through 0, 1, 2 and data formats alternate rectangular and twiddled, every
// chunk ends on a 16-byte boundary (side 4 and up). Returns the file's size in bytes.
uint64_t WriteArchive(const std::string& path, int count, int side);

// Reads a whole file; empty when it cannot be read.
std::vector<uint8_t> ReadFile(const std::string& path);

// Writes bytes to a new file at path (replacing one that is there); fsyncs it when asked.
// Returns false when any step fails.
bool WriteFile(const std::string& path, const uint8_t* bytes, size_t size, bool sync);

uint64_t FileSize(const std::string& path);

// Google Benchmark's set-up with this project's defaults unless the command line sets
// them: medians of 5 repetitions, aggregates only, a short warm-up so the first benchmarks
// do not meet a cold processor. False when an argument is not understood.
bool InitializeBenchmarks(int argc, char** argv);

// The name a memcpy baseline of `bytes` is registered under.
std::string MemcpyName(size_t bytes);

// Registers a memcpy of `bytes` as a benchmark (once per size) and returns its name: the
// baseline operations are held against.
std::string MemcpyBaseline(size_t bytes);

// The copy that baseline times, as a call: `bytes` of random content from one buffer to
// another, 64-byte aligned and half a page apart modulo 4096 (when the two addresses agree
// in their low 12 bits the processor takes the stores for stores to the loads' addresses
// and a copy can run at half speed, which would flatter every ratio).
class Memcpy {
 public:
  explicit Memcpy(size_t bytes);
  void operator()();

 private:
  size_t bytes_;
  std::vector<uint8_t> memory_;
  uint8_t *from_, *to_;
};

// Runs `baseline` and `operation` in turn, call by call, each timed on its own, and sets the
// counters "baseline_seconds" and "seconds" to the median time of each. Both thus meet the
// machine in the same state, which on a shared machine two runs a few seconds apart do not:
// there they differ by a fifth and more.
template <typename Baseline, typename Operation>
void Alternate(benchmark::State& state, Baseline&& baseline, Operation&& operation) {
  using Clock = std::chrono::steady_clock;
  std::vector<double> baselineTimes, times;
  for (auto _ : state) {
    const auto start = Clock::now();
    baseline();
    benchmark::ClobberMemory();
    const auto between = Clock::now();
    operation();
    benchmark::ClobberMemory();
    const auto end = Clock::now();
    baselineTimes.push_back(std::chrono::duration<double>(between - start).count());
    times.push_back(std::chrono::duration<double>(end - between).count());
  }
  const auto median = [](std::vector<double>& v) {
    if (v.empty()) return 0.0;
    std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
    return v[v.size() / 2];
  };
  state.counters["baseline_seconds"] = median(baselineTimes);
  state.counters["seconds"] = median(times);
}

}  // namespace bench
