// The archive reader on arbitrary bytes, then decode, save, reopen and compare.
#include <cstdio>
#include <cstdlib>

#include "kit/Replay.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const harness::Outcome outcome = harness::RunArchive({data, size});
  if (!outcome.fault.empty()) {
    std::fprintf(stderr, "fuzz_archive: %s\n", outcome.fault.c_str());
    std::abort();
  }
  return 0;
}
