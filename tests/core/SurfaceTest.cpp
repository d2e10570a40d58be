#include <gtest/gtest.h>

#include <vector>

#include "TextureTestSupport.h"
#include "texture/cPVR.h"

using testing_support::SurfaceState;

namespace {

struct Rgba8 {
  uint8_t r = 0, g = 0, b = 0, a = 0;
};

Rgba8 Get(const cPVR& t, int32_t x, int32_t y, uint8_t aBefore = 0x77) {
  Rgba8 c;
  c.a = aBefore;
  t.GetPixel(x, y, c.r, c.g, c.b, c.a);
  return c;
}

void BuildBoth(cPVR& t, int32_t height, int32_t width) {
  t.MakeNew(height, width, 0);
  t.MakeNew(height, width, 1);
}

}  // namespace

TEST(Surface, StrideAndPaddingForWidthsOneToFive) {
  const int strides[] = {4, 8, 12, 12, 16};
  const int paddings[] = {1, 2, 3, 0, 1};
  for (int w = 1; w <= 5; ++w) {
    cPVR t;
    t.MakeNew(3, w, 0);
    const auto& info = t.SurfaceInfo(0);
    EXPECT_EQ(info.biSizeImage, uint32_t(3 * strides[w - 1])) << "width " << w;
    EXPECT_EQ(t.SurfaceRowPadding(0), paddings[w - 1]) << "width " << w;
    EXPECT_EQ(t.SurfaceBits(0).size(), size_t((paddings[w - 1] + w) * 3 * 4)) << "width " << w;
  }
}

TEST(Surface, MakeNewBuildsABlackBottomUpHeader) {
  cPVR t;
  t.MakeNew(64, 64, 0);
  const auto& info = t.SurfaceInfo(0);
  EXPECT_EQ(info.biSize, 40u);
  EXPECT_EQ(info.biWidth, 64);
  EXPECT_EQ(info.biHeight, 64);
  EXPECT_EQ(info.biPlanes, 1);
  EXPECT_EQ(info.biBitCount, 24);
  EXPECT_EQ(info.biCompression, 0u);
  EXPECT_EQ(info.biSizeImage, 12288u);
  EXPECT_EQ(t.SurfaceRowPadding(0), 0);
  EXPECT_EQ(t.SurfaceBits(0), std::vector<uint8_t>(16384, 0));
  EXPECT_EQ(t.Width(), 64);
  EXPECT_EQ(t.Height(), 64);
  EXPECT_TRUE(t.HasSurface(0));
  EXPECT_FALSE(t.HasSurface(1));
}

TEST(Surface, EachSurfaceKeepsItsOwnPadding) {
  cPVR t;
  t.MakeNew(2, 4, 0);  // padding 0
  t.MakeNew(2, 3, 1);  // padding 3
  EXPECT_EQ(t.SurfaceRowPadding(0), 0);
  EXPECT_EQ(t.SurfaceRowPadding(1), 3);
  // Width and Height are the image's.
  EXPECT_EQ(t.Width(), 4);
}

TEST(Surface, PixelsOutsideAddressTheBottomLeftPixel) {
  cPVR t;
  BuildBoth(t, 3, 5);
  t.SetPixel(0, 2, 10, 20, 30, 40);  // bottom-left, buffer offset 0
  for (auto [x, y] : {std::pair{-1, 0}, {5, 0}, {0, -1}, {0, 3}, {-100000, 100000}}) {
    const Rgba8 c = Get(t, x, y);
    EXPECT_EQ(c.r, 10);
    EXPECT_EQ(c.g, 20);
    EXPECT_EQ(c.b, 30);
    EXPECT_EQ(c.a, 40);
  }
  t.SetPixel(7, -3, 1, 2, 3, 4);
  EXPECT_EQ(t.SurfaceBits(0)[0], 3);  // blue
  EXPECT_EQ(t.SurfaceBits(0)[2], 1);  // red
  EXPECT_EQ(t.SurfaceBits(1)[2], 4);  // alpha
}

TEST(Surface, TopRowIsTheLastRowOfTheBuffer) {
  cPVR t;
  BuildBoth(t, 3, 2);  // stride 8
  t.SetPixel(0, 0, 0xAA, 0xBB, 0xCC, 0xDD);
  t.SetPixel(1, 2, 1, 2, 3, 4);
  const auto& image = t.SurfaceBits(0);
  EXPECT_EQ(image[16], 0xCC);  // (height - 1) x stride: blue, green, red
  EXPECT_EQ(image[17], 0xBB);
  EXPECT_EQ(image[18], 0xAA);
  EXPECT_EQ(image[3], 3);      // bottom row, second pixel
  EXPECT_EQ(image[5], 1);
  EXPECT_EQ(t.SurfaceBits(1)[18], 0xDD);
}

TEST(Surface, SetPixelThenGetPixelGivesTheValuesBack) {
  cPVR t;
  BuildBoth(t, 7, 5);
  uint8_t n = 1;
  for (int y = 0; y < 7; ++y)
    for (int x = 0; x < 5; ++x, n += 4) t.SetPixel(x, y, n, uint8_t(n + 1), uint8_t(n + 2), uint8_t(n + 3));
  n = 1;
  for (int y = 0; y < 7; ++y)
    for (int x = 0; x < 5; ++x, n += 4) {
      const Rgba8 c = Get(t, x, y);
      ASSERT_EQ(c.r, n);
      ASSERT_EQ(c.g, uint8_t(n + 1));
      ASSERT_EQ(c.b, uint8_t(n + 2));
      ASSERT_EQ(c.a, uint8_t(n + 3));
    }
  // The mask holds alpha in red only; blue, green, padding and the bytes past the rows
  // (7 rows of 16) stay 0.
  const auto& mask = t.SurfaceBits(1);
  for (size_t o = 0; o < mask.size(); ++o) {
    const size_t inRow = o % 16;
    if (o >= 7 * 16 || inRow == 15 || inRow % 3 != 2) {
      ASSERT_EQ(mask[o], 0) << "offset " << o;
    }
  }
}

TEST(Surface, AlphaTakesPartOnlyWhenBothBuffersHaveOneLength) {
  cPVR t;
  t.MakeNew(4, 4, 0);
  t.MakeNew(2, 2, 1);  // another length
  const auto maskBefore = t.SurfaceBits(1);
  t.SetPixel(0, 0, 1, 2, 3, 99);
  EXPECT_EQ(t.SurfaceBits(1), maskBefore);
  EXPECT_EQ(Get(t, 0, 0, 0x77).a, 0x77);  // left as the caller had it
  EXPECT_EQ(Get(t, 0, 0).r, 1);
}

TEST(Surface, OtherModesBuildAndDrawNothing) {
  cPVR t;
  BuildBoth(t, 2, 2);
  const SurfaceState image(t, 0), mask(t, 1);
  t.MakeNew(8, 8, 2);
  t.MakeNew(8, 8, -1);
  EXPECT_TRUE(SurfaceState(t, 0) == image);
  EXPECT_TRUE(SurfaceState(t, 1) == mask);

  std::vector<uint8_t> pixels(16, 0x11);
  t.Draw(2, PixelTarget{pixels.data(), 2, 2, 8});
  EXPECT_EQ(pixels, std::vector<uint8_t>(16, 0x11));
}

TEST(Surface, SizesItCannotHoldBuildNothing) {
  cPVR t;
  BuildBoth(t, 2, 3);
  const SurfaceState before(t, 0);
  t.MakeNew(0, 3, 0);
  t.MakeNew(2, 0, 0);
  t.MakeNew(-2, 3, 0);
  t.MakeNew(32767, 32767, 0);  // 4 GiB of buffer
  t.MakeNew(2, INT32_MAX, 0);
  EXPECT_TRUE(SurfaceState(t, 0) == before);
}

TEST(Surface, PixelAccessWithoutSurfacesTouchesNothing) {
  cPVR t;
  const Rgba8 c = Get(t, 0, 0, 5);
  EXPECT_EQ(c.r, 0);
  EXPECT_EQ(c.a, 5);
  t.SetPixel(0, 0, 1, 2, 3, 4);
  EXPECT_TRUE(t.SurfaceBits(0).empty());
  std::vector<uint8_t> pixels(4, 0x11);
  t.Draw(0, PixelTarget{pixels.data(), 1, 1, 4});
  t.Draw(1, PixelTarget{pixels.data(), 1, 1, 4});
  EXPECT_EQ(pixels, std::vector<uint8_t>(4, 0x11));
}

TEST(Surface, DrawPaintsTheBuffersIntoTheTarget) {
  cPVR t;
  BuildBoth(t, 2, 3);
  t.SetPixel(0, 0, 10, 20, 30, 200);
  t.SetPixel(2, 1, 40, 50, 60, 100);
  std::vector<uint8_t> pixels(4 * 4 * 3, 0x11);  // a 4 x 3 target, larger than the surface
  const PixelTarget target{pixels.data(), 4, 3, 16};
  t.Draw(0, target);
  auto at = [&](int x, int y) {
    const uint8_t* p = pixels.data() + y * 16 + x * 4;
    return std::vector<uint8_t>{p[0], p[1], p[2], p[3]};
  };
  EXPECT_EQ(at(0, 0), (std::vector<uint8_t>{30, 20, 10, 0xFF}));
  EXPECT_EQ(at(2, 1), (std::vector<uint8_t>{60, 50, 40, 0xFF}));
  EXPECT_EQ(at(1, 0), (std::vector<uint8_t>{0, 0, 0, 0xFF}));
  EXPECT_EQ(at(3, 0), (std::vector<uint8_t>{0x11, 0x11, 0x11, 0x11}));  // beyond the surface
  EXPECT_EQ(at(0, 2), (std::vector<uint8_t>{0x11, 0x11, 0x11, 0x11}));
  t.Draw(1, target);  // the mask shows its alpha as shades of red
  EXPECT_EQ(at(0, 0), (std::vector<uint8_t>{0, 0, 200, 0xFF}));
  EXPECT_EQ(at(2, 1), (std::vector<uint8_t>{0, 0, 100, 0xFF}));
}

TEST(Surface, DrawLeavesTargetsWithoutRoomForAPixelAlone) {
  cPVR t;
  BuildBoth(t, 2, 2);
  struct Case {
    bool pixels;
    int width, height, bytesPerLine;
  };
  for (const Case& c : {Case{false, 2, 2, 8}, Case{true, 2, 2, 7}, Case{true, 0, 2, 8},
                        Case{true, 2, -1, 8}, Case{true, 2, 2, -8}}) {
    std::vector<uint8_t> pixels(24, 0x11);
    t.Draw(0, PixelTarget{c.pixels ? pixels.data() + 8 : nullptr, c.width, c.height,
                          c.bytesPerLine});
    EXPECT_EQ(pixels, std::vector<uint8_t>(24, 0x11)) << c.width << " x " << c.height;
  }
}

TEST(Surface, RebuildingStartsBlackAgain) {
  cPVR t;
  BuildBoth(t, 4, 4);
  t.SetPixel(1, 1, 9, 9, 9, 9);
  t.MakeNew(4, 4, 0);
  EXPECT_EQ(t.SurfaceBits(0), std::vector<uint8_t>(4 * 4 * 4, 0));
}
