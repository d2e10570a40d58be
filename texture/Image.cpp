#include "texture/Image.h"

bool Image::SizeAllowed(int64_t width, int64_t height) {
  if (width < 1 || height < 1) return false;
  if (uint64_t(width) > kMaxBytes || uint64_t(height) > kMaxBytes) return false;
  return uint64_t(width) * uint64_t(height) * 4 <= kMaxBytes;
}

std::optional<Image> Image::Blank(int64_t width, int64_t height, uint8_t fill) {
  if (!SizeAllowed(width, height)) return std::nullopt;
  Image image;
  image.width = int32_t(width);
  image.height = int32_t(height);
  image.rgba.assign(size_t(width) * size_t(height) * 4, fill);
  return image;
}
