// Helpers for the texture tests: BMP files of a model picture, and a texture loaded from a
// chunk.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "TextureModel.h"
#include "kit/BmpBuilder.h"
#include "texture/TexelCodec.h"
#include "texture/cPVR.h"

namespace testing_support {

// A BMP file of the picture's colours (or its alpha as red, for a mask), rows padded to 4
// bytes, in the order the height's sign asks for. The rows follow the headers and the gap,
// or start at offBits when that lies further on; no rows for a width or height of 0 or less.
inline std::vector<uint8_t> MakeBmp(const testkit::BmpFields& f, const model::Picture& p,
                                    bool mask = false) {
  return testkit::BuildBmp(f, [&](int x, int y) {
    const model::Rgba c = p.at(x, y);
    return mask ? std::array<uint8_t, 3>{0, 0, c.a} : std::array<uint8_t, 3>{c.b, c.g, c.r};
  });
}

inline std::vector<uint8_t> MakeBmp(const model::Picture& p, bool mask = false) {
  testkit::BmpFields f;
  f.width = p.w;
  f.height = p.h;
  return MakeBmp(f, p, mask);
}

// A texture holding a chunk of the given formats and size over `data`.
inline std::unique_ptr<cPVR> Texture(int pixelFormat, int dataFormat, int w, int h,
                                     const std::vector<uint8_t>& data) {
  auto t = std::make_unique<cPVR>();
  t->LoadPVR(data, int16_t(h), int16_t(w), uint8_t(pixelFormat), uint8_t(dataFormat),
             int32_t(data.size() + 8));
  return t;
}

// Paints a picture into surfaces built at its size (image colours, mask alpha).
inline void Paint(cPVR& t, const model::Picture& p) {
  t.MakeNew(p.h, p.w, 0);
  t.MakeNew(p.h, p.w, 1);
  for (int y = 0; y < p.h; ++y)
    for (int x = 0; x < p.w; ++x) {
      const model::Rgba& c = p.at(x, y);
      t.SetPixel(x, y, c.r, c.g, c.b, c.a);
    }
}

// Everything a surface consists of, to check that a refused operation changed nothing.
struct SurfaceState {
  explicit SurfaceState(const cPVR& t, int16_t mode)
      : info(t.SurfaceInfo(mode)), bits(t.SurfaceBits(mode)),
        padding(t.SurfaceRowPadding(mode)) {}
  bool operator==(const SurfaceState& o) const {
    return std::memcmp(&info, &o.info, sizeof info) == 0 && bits == o.bits &&
           padding == o.padding;
  }
  BmpFile::BITMAPINFOHEADER info;
  std::vector<uint8_t> bits;
  int16_t padding;
};

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
