// Inputs for the benchmarks: textures of random texels, PVM archives and picture files
// written into a scratch folder that is removed when the program ends.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "texture/Texture.h"

namespace bench {

// A fresh folder under $TMPDIR (or /tmp), created on first use; RemoveScratch deletes it
// with everything in it and also runs at exit.
const std::string& ScratchDir();
std::string ScratchPath(const std::string& name);
void RemoveScratch();

// `count` bytes from a fixed-seed generator, so every run measures the same input.
std::vector<uint8_t> RandomBytes(size_t count, uint32_t seed);

// A texture of side x side random texels in the given formats, its header as an archive
// would read it.
Texture MakeTexture(uint8_t pixelFormat, uint8_t dataFormat, int side, uint32_t seed);

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

// Times of two operations taken in turn; Report sets the counters "baseline_seconds" and
// "seconds" to the median of each, which BudgetReporter holds against each other.
class AlternateTimes {
 public:
  void Add(double baselineSeconds, double seconds) {
    baseline_.push_back(baselineSeconds);
    own_.push_back(seconds);
  }
  void Report(benchmark::State& state) {
    state.counters["baseline_seconds"] = Median(baseline_);
    state.counters["seconds"] = Median(own_);
  }

 private:
  static double Median(std::vector<double>& v) {
    if (v.empty()) return 0.0;
    std::nth_element(v.begin(), v.begin() + long(v.size() / 2), v.end());
    return v[v.size() / 2];
  }
  std::vector<double> baseline_, own_;
};

// Runs `baseline` and `operation` in turn, call by call, each timed on its own, and sets the
// counters "baseline_seconds" and "seconds" to the median time of each. Both thus meet the
// machine in the same state, which on a shared machine two runs a few seconds apart do not:
// there they differ by a fifth and more. With `calls` above 1 each timing covers that many
// calls in a row and counts a call as its share, so that calls of a few hundred nanoseconds
// are not measured mostly by the clock.
template <typename Baseline, typename Operation>
void Alternate(benchmark::State& state, int calls, Baseline&& baseline, Operation&& operation) {
  using Clock = std::chrono::steady_clock;
  AlternateTimes times;
  for (auto _ : state) {
    const auto start = Clock::now();
    for (int i = 0; i < calls; ++i) baseline();
    benchmark::ClobberMemory();
    const auto between = Clock::now();
    for (int i = 0; i < calls; ++i) operation();
    benchmark::ClobberMemory();
    const auto end = Clock::now();
    times.Add(std::chrono::duration<double>(between - start).count() / calls,
              std::chrono::duration<double>(end - between).count() / calls);
  }
  times.Report(state);
}

template <typename Baseline, typename Operation>
void Alternate(benchmark::State& state, Baseline&& baseline, Operation&& operation) {
  Alternate(state, 1, std::forward<Baseline>(baseline), std::forward<Operation>(operation));
}

}  // namespace bench
