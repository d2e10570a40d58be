// Painting wide pictures into 32-bit targets, which goes sixteen pixels a step where the
// processor allows: every pixel of a row, the last few that do not fill a step, and a row
// that starts part-way into the picture must land exactly, without reading past the bits.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <vector>

#include "platform/Gdi.h"

namespace {

TEST(PaintRows, WidePicturesLandPixelForPixel) {
  constexpr int kWidth = 37, kHeight = 3;
  constexpr size_t kStride = (kWidth * 3 + 3) / 4 * 4;
  // Exactly the picture's bytes on the heap, so that a read past them shows under
  // AddressSanitizer.
  const size_t size = kStride * kHeight;
  auto bits = std::make_unique<uint8_t[]>(size);
  std::mt19937 rng(37);
  for (size_t i = 0; i < size; ++i) bits[i] = uint8_t(rng());
  platform::BITMAPINFOHEADER header;
  header.biSize = 40;
  header.biWidth = kWidth;
  header.biHeight = kHeight;
  header.biPlanes = 1;
  header.biBitCount = 24;

  for (int destX : {0, -5, 3}) {
    SCOPED_TRACE(destX);
    std::vector<uint8_t> target(size_t(kWidth) * 4 * kHeight, 0x11);
    platform::HDC dc = platform::CreateTargetDC(target.data(), kWidth, kHeight, kWidth * 4);
    EXPECT_EQ(platform::SetDIBitsToDevice(dc, destX, 0, kWidth, kHeight, 0, 0, 0, kHeight,
                                          bits.get(), size, header),
              kHeight);
    platform::DeleteDC(dc);
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x) {
        const uint8_t* got = &target[(size_t(y) * kWidth + size_t(x)) * 4];
        const int sx = x - destX;
        if (sx < 0 || sx >= kWidth) {
          EXPECT_EQ(std::vector<uint8_t>(got, got + 4), std::vector<uint8_t>(4, 0x11));
          continue;
        }
        const uint8_t* want = &bits[size_t(kHeight - 1 - y) * kStride + size_t(sx) * 3];
        ASSERT_EQ(std::vector<uint8_t>(got, got + 4),
                  (std::vector<uint8_t>{want[0], want[1], want[2], 0xFF}))
            << "pixel " << x << ", " << y;
      }
  }
}

}  // namespace
