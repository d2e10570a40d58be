// PictureFiles::Read on arbitrary BMP files, with and without a mask file, then Fit and
// Encode into textures of each pixel format and texel order.
#include <cstdio>
#include <cstdlib>

#include "kit/Replay.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const harness::Outcome outcome = harness::RunBitmap({data, size});
  if (!outcome.fault.empty()) {
    std::fprintf(stderr, "fuzz_bmp: %s\n", outcome.fault.c_str());
    std::abort();
  }
  return 0;
}
