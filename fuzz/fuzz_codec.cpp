// Decode and encode of arbitrary textures, and pictures of other sizes fitted to them.
#include <cstdio>
#include <cstdlib>

#include "kit/Replay.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const harness::Outcome outcome = harness::RunCodec({data, size});
  if (!outcome.fault.empty()) {
    std::fprintf(stderr, "fuzz_codec: %s\n", outcome.fault.c_str());
    std::abort();
  }
  return 0;
}
