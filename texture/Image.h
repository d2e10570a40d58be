// A picture as Quarnel holds it everywhere past the file formats: width x height pixels of
// four bytes (red, green, blue, alpha), top row first, rows tightly packed. Decoding a
// texture gives one, encoding takes one, PNG files are one, and the window shows one
// without copying it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "texture/UnzeroedBytes.h"

struct Image {
  using Bytes = UnzeroedBytes;

  // No picture grows beyond this (an 8192 x 8192 one just fits), so that a size read from a
  // file or a chunk can never make Quarnel allocate gigabytes.
  static constexpr uint64_t kMaxBytes = uint64_t{256} << 20;

  int32_t width = 0;
  int32_t height = 0;
  Bytes rgba;  // 4 x width x height bytes

  // A picture of that size, every byte `fill`; nullopt for sides below 1 or beyond kMaxBytes.
  static std::optional<Image> Blank(int64_t width, int64_t height, uint8_t fill = 0);
  // Whether a width x height picture stays within kMaxBytes (sides of at least 1).
  static bool SizeAllowed(int64_t width, int64_t height);

  bool Empty() const { return rgba.empty(); }
  size_t RowBytes() const { return size_t(width) * 4; }
  uint8_t* Pixel(int32_t x, int32_t y) { return rgba.data() + (size_t(y) * size_t(width) + size_t(x)) * 4; }
  const uint8_t* Pixel(int32_t x, int32_t y) const {
    return rgba.data() + (size_t(y) * size_t(width) + size_t(x)) * 4;
  }

  bool operator==(const Image&) const = default;
};
