// Palette files, and palettized textures shown, exported and imported through their banks.
#include <cstdio>
#include <cstdlib>

#include "kit/Replay.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const harness::Outcome outcome = harness::RunPalette({data, size});
  if (!outcome.fault.empty()) {
    std::fprintf(stderr, "fuzz_palette: %s\n", outcome.fault.c_str());
    std::abort();
  }
  return 0;
}
