// Helpers for the texture tests: a texture over given data, and a check run on every path
// of the codec.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "texture/TexelCodec.h"
#include "texture/Texture.h"

namespace testing_support {

// A texture of the given formats and size over `data`, its length field that of a whole
// chunk.
inline Texture MakeTexture(int pixelFormat, int dataFormat, int w, int h, std::vector<uint8_t> data) {
  Texture t;
  t.pixelFormat = uint8_t(pixelFormat);
  t.dataFormat = uint8_t(dataFormat);
  t.width = int16_t(w);
  t.height = int16_t(h);
  t.length = int32_t(data.size() + 8);
  t.data.assign(data.begin(), data.end());
  return t;
}

// Runs a check on every path this processor offers, widest first.
template <typename Check>
inline void OnEveryPath(Check check) {
  using TexelCodec::Path;
  const char* names[] = {"plain loops", "SSSE3", "AVX2", "AVX-512 VBMI"};
  for (Path path : {Path::Avx512Vbmi, Path::Avx2, Path::Ssse3, Path::Plain}) {
    if (path > TexelCodec::WidestPathAvailable()) continue;
    SCOPED_TRACE(names[int(path)]);
    const Path previous = TexelCodec::LimitPath(path);
    check();
    TexelCodec::LimitPath(previous);
  }
}

}  // namespace testing_support
