// An independent model of the texture rules, written from the formats' definitions (bit
// fields, bit-interleaved twiddle indexes, bottom-up padded BMP rows) rather than from the
// code under test, which uses channel masks, lookup tables and a recursive walk instead.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <span>
#include <utility>
#include <vector>

#include "texture/Image.h"

namespace model {

struct Rgba {
  uint8_t r = 0, g = 0, b = 0, a = 0;
  bool operator==(const Rgba&) const = default;
};

// The 8-bit colour and alpha of one texel; 5-6-5 has no alpha bits and is opaque.
inline Rgba DecodeTexel(int pixelFormat, uint16_t v) {
  switch (pixelFormat) {
    case 0:  // A1 R5 G5 B5
      return {uint8_t(((v >> 10) & 31) << 3), uint8_t(((v >> 5) & 31) << 3),
              uint8_t((v & 31) << 3), uint8_t(v >> 15 ? 255 : 0)};
    case 1:  // R5 G6 B5
      return {uint8_t((v >> 11) << 3), uint8_t(((v >> 5) & 63) << 2), uint8_t((v & 31) << 3), 255};
    case 2:  // A4 R4 G4 B4
      return {uint8_t(((v >> 8) & 15) << 4), uint8_t(((v >> 4) & 15) << 4),
              uint8_t((v & 15) << 4), uint8_t((v >> 12) << 4)};
    case 5:  // x1 R5 G5 B5: the top bit says nothing
      return {uint8_t(((v >> 10) & 31) << 3), uint8_t(((v >> 5) & 31) << 3), uint8_t((v & 31) << 3), 255};
  }
  return {};
}

// Where the data holds no texel: black, transparent where the format has alpha bits (or is
// unknown).
inline Rgba Missing(int pixelFormat) {
  return {0, 0, 0, uint8_t(pixelFormat == 1 || (pixelFormat >= 3 && pixelFormat <= 5) ? 255 : 0)};
}

// A bump-map texel as a normal: theta from the elevation (high byte), phi from the angle.
inline Rgba DecodeBump(uint16_t v) {
  const double pi = 3.14159265358979323846, theta = (1 - (v >> 8) / 255.0) * pi / 2, phi = (v & 255) / 255.0 * 2 * pi;
  const auto level = [](double c) { return uint8_t(std::floor((c + 1) / 2 * 255 + 0.5)); };
  return {level(std::sin(theta) * std::cos(phi)), level(std::sin(theta) * std::sin(phi)), level(std::cos(theta)), 255};
}

// The two pixels of a YUV pair (texels U | Y0 << 8 and V | Y1 << 8): BT.601 with its
// constants in millionths, rounded half up, clamped.
inline std::pair<Rgba, Rgba> DecodeYuv(uint16_t first, uint16_t second) {
  const int64_t u = (first & 255) - 128, v = (second & 255) - 128;
  const auto channel = [](int64_t millionths) {
    const int64_t n = millionths + 500000;
    const int64_t c = n >= 0 ? n / 1000000 : -((-n + 999999) / 1000000);
    return uint8_t(std::clamp<int64_t>(c, 0, 255));
  };
  const auto pixel = [&](int64_t y) {
    return Rgba{channel(y * 1000000 + 1402000 * v), channel(y * 1000000 - 344136 * u - 714136 * v),
                channel(y * 1000000 + 1772000 * u), 255};
  };
  return {pixel(first >> 8), pixel(second >> 8)};
}

// The texels of a YUV pair: luma per pixel, U and V each the mean of the pair's, by the
// inverse of DecodeYuv (Y = 0.299 R + 0.587 G + 0.114 B).
inline std::pair<uint16_t, uint16_t> EncodeYuv(Rgba a, Rgba b) {
  const auto round = [](int64_t n, int64_t d) {  // n / d to the nearest, a half up; d > 0
    const int64_t m = 2 * n + d;
    return m >= 0 ? m / (2 * d) : -((-m + 2 * d - 1) / (2 * d));
  };
  const auto clamp = [](int64_t v) { return uint16_t(std::clamp<int64_t>(v, 0, 255)); };
  const auto luma = [](Rgba c) { return 299000 * c.r + 587000 * c.g + 114000 * c.b; };
  const int64_t u = 1000000 * (a.b + b.b) - luma(a) - luma(b), v = 1000000 * (a.r + b.r) - luma(a) - luma(b);
  return {uint16_t(clamp(128 + round(u, 2 * 1772000)) | clamp(round(luma(a), 1000000)) << 8),
          uint16_t(clamp(128 + round(v, 2 * 1402000)) | clamp(round(luma(b), 1000000)) << 8)};
}

inline uint16_t EncodeTexel(int pixelFormat, Rgba c) {
  switch (pixelFormat) {
    case 0: return uint16_t((c.a == 255) << 15 | (c.r >> 3) << 10 | (c.g >> 3) << 5 | c.b >> 3);
    case 1: return uint16_t((c.r >> 3) << 11 | (c.g >> 2) << 5 | c.b >> 3);
    case 2: return uint16_t((c.a >> 4) << 12 | (c.r >> 4) << 8 | (c.g >> 4) << 4 | c.b >> 4);
    case 5: return uint16_t((c.r >> 3) << 10 | (c.g >> 3) << 5 | c.b >> 3);
  }
  return 0;
}

// Bit 2i of the index is bit i of y (rows from the top), bit 2i + 1 is bit i of x.
inline uint32_t TwiddleIndex(uint32_t x, uint32_t y) {
  uint32_t k = 0;
  for (int i = 0; i < 16; ++i) k |= ((y >> i) & 1u) << (2 * i) | ((x >> i) & 1u) << (2 * i + 1);
  return k;
}

inline bool IsSquarePowerOfTwo(int w, int h) { return w == h && w > 0 && (w & (w - 1)) == 0; }

// A picture as seen: pixel (x, y) with y from the top.
struct Picture {
  Picture(int width, int height, Rgba fill = {})
      : w(width), h(height), px(size_t(width) * size_t(height), fill) {}
  Rgba& at(int x, int y) { return px[size_t(y) * size_t(w) + size_t(x)]; }
  const Rgba& at(int x, int y) const { return px[size_t(y) * size_t(w) + size_t(x)]; }
  int w, h;
  std::vector<Rgba> px;
};

inline Image ToImage(const Picture& p) {
  Image image{p.w, p.h, {}};
  for (const Rgba& c : p.px) image.rgba.insert(image.rgba.end(), {c.r, c.g, c.b, c.a});
  return image;
}

// Which data texel the pixel at (x, y) shows: row by row, or by twiddle index.
inline uint32_t TexelAt(int dataFormat, int w, int x, int y) {
  return dataFormat == 1 ? TwiddleIndex(uint32_t(x), uint32_t(y)) : uint32_t(y * w + x);
}

// Black for what the codec does not handle and for texels beyond the data: opaque for 5-6-5.
inline Picture Decode(int pixelFormat, int dataFormat, int w, int h, std::span<const uint8_t> data) {
  Picture p(w, h, Missing(pixelFormat));
  const bool supported = (pixelFormat <= 2 || pixelFormat == 5) &&
                         (dataFormat == 9 || (dataFormat == 1 && IsSquarePowerOfTwo(w, h)));
  if (!supported) return p;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const size_t n = TexelAt(dataFormat, w, x, y);
      if (2 * n + 1 < data.size())
        p.at(x, y) = DecodeTexel(pixelFormat, uint16_t(data[2 * n] | data[2 * n + 1] << 8));
    }
  return p;
}

// Data after encoding a picture of the texture's size over `data`.
inline std::vector<uint8_t> Encode(int pixelFormat, int dataFormat, const Picture& source,
                                   std::vector<uint8_t> data) {
  for (int y = 0; y < source.h; ++y)
    for (int x = 0; x < source.w; ++x) {
      const uint16_t v = EncodeTexel(pixelFormat, source.at(x, y));
      const size_t n = TexelAt(dataFormat, source.w, x, y);
      data[2 * n] = uint8_t(v & 0xFF);
      data[2 * n + 1] = uint8_t(v >> 8);
    }
  return data;
}

inline size_t Stride(int w) { return (size_t(w) * 3 + 3) / 4 * 4; }

// The pixel bytes of a BMP export of the picture (or of its alpha as red, for a mask):
// bottom row first, rows of Stride(w) bytes, then zeros up to (padding + w) x h x 4 bytes.
inline std::vector<uint8_t> BmpBits(const Picture& p, bool mask) {
  const size_t stride = Stride(p.w);
  const size_t padding = stride - 3 * size_t(p.w);
  std::vector<uint8_t> bytes((padding + size_t(p.w)) * size_t(p.h) * 4, 0);
  for (int y = 0; y < p.h; ++y)
    for (int x = 0; x < p.w; ++x) {
      uint8_t* o = &bytes[size_t(p.h - 1 - y) * stride + size_t(x) * 3];
      const Rgba& c = p.at(x, y);
      if (mask) {
        o[2] = c.a;
      } else {
        o[0] = c.b, o[1] = c.g, o[2] = c.r;
      }
    }
  return bytes;
}

inline std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> bytes(n);
  for (auto& b : bytes) b = uint8_t(rng());
  return bytes;
}

inline Picture RandomPicture(int w, int h, uint32_t seed) {
  std::mt19937 rng(seed);
  Picture p(w, h);
  for (auto& c : p.px) c = {uint8_t(rng()), uint8_t(rng()), uint8_t(rng()), uint8_t(rng())};
  return p;
}

}  // namespace model
