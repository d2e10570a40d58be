#include <gtest/gtest.h>

#include "texture/PvrChunk.h"
#include "texture/TextureDetails.h"

namespace {

PVRChunk Chunk(uint8_t pFormat, uint8_t eFormat, int16_t width, int16_t height) {
  PVRChunk c;
  c.pFormat = pFormat;
  c.eFormat = eFormat;
  c.Width = width;
  c.Height = height;
  return c;
}

// The words follow the layout, not the data format's number alone: a shape the layout cannot
// hold, or a pixel format without a codec, is not decoded.
TEST(TextureDetails, DescribesWhatTheLayoutHolds) {
  const struct {
    PVRChunk chunk;
    const char* text;
  } cases[] = {
      {Chunk(0, 9, 32, 8), "32x8, ARGB1555, rectangle"},
      {Chunk(1, 2, 64, 64), "64x64, RGB565, twiddled+mipmaps, 7 mip levels"},
      {Chunk(2, 4, 128, 128), "128x128, ARGB4444, VQ+mipmaps, 8 mip levels, 256 codebook entries"},
      {Chunk(0, 16, 16, 16), "16x16, ARGB1555, small VQ, 16 codebook entries"},
      {Chunk(0, 13, 16, 64), "16x64, ARGB1555, rectangular twiddled"},
      {Chunk(0, 3, 4, 4), "4x4, ARGB1555, VQ, not decoded"},
      {Chunk(0, 1, 16, 8), "16x8, ARGB1555, twiddled, not decoded"},
      {Chunk(5, 1, 8, 8), "8x8, unknown, twiddled, not decoded"},
      {Chunk(0, 5, 8, 8), "8x8, ARGB1555, other, not decoded"},
  };
  for (const auto& c : cases) EXPECT_EQ(TextureDetails::Text(c.chunk), c.text);
}

}  // namespace
