// Drawing wide surfaces into 32-bit targets, which goes sixteen pixels a step where the
// processor allows: every pixel of a row, the last few that do not fill a step, and a row
// cut short by a narrower target must land exactly, and nothing outside the target's
// width and height may be written.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <utility>
#include <vector>

#include "texture/cPVR.h"

namespace {

TEST(PaintRows, WideSurfacesLandPixelForPixel) {
  constexpr int kWidth = 37, kHeight = 3;
  cPVR t;
  t.MakeNew(kHeight, kWidth, 0);
  t.MakeNew(kHeight, kWidth, 1);
  std::mt19937 rng(37);
  std::vector<uint8_t> rgb(size_t(kWidth) * kHeight * 3);
  for (auto& v : rgb) v = uint8_t(rng());
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      const uint8_t* c = &rgb[(size_t(y) * kWidth + size_t(x)) * 3];
      t.SetPixel(x, y, c[0], c[1], c[2], 0);
    }

  // Whole rows; cut inside the second step of sixteen and one row short; wider and taller.
  for (auto [width, height] : {std::pair{kWidth, kHeight}, {21, kHeight - 1}, {50, kHeight + 1}}) {
    SCOPED_TRACE(width);
    const int bytesPerLine = width * 4 + 4;  // a spare pixel ends every row
    std::vector<uint8_t> target(size_t(bytesPerLine) * size_t(height), 0x11);
    t.Draw(0, PixelTarget{target.data(), width, height, bytesPerLine});
    for (int y = 0; y < height; ++y)
      for (int x = 0; x <= width; ++x) {
        const uint8_t* got = &target[size_t(y) * size_t(bytesPerLine) + size_t(x) * 4];
        std::vector<uint8_t> want(4, 0x11);
        if (x < std::min(width, kWidth) && y < kHeight) {
          const uint8_t* c = &rgb[(size_t(y) * kWidth + size_t(x)) * 3];
          want = {c[2], c[1], c[0], 0xFF};
        }
        ASSERT_EQ(std::vector<uint8_t>(got, got + 4), want) << "pixel " << x << ", " << y;
      }
  }
}

}  // namespace
