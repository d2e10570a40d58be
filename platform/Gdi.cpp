#include "platform/Gdi.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace platform {

struct DibSection {
  BITMAPINFOHEADER header;    // biHeight > 0
  size_t stride = 0;
  size_t size = 0;            // stride x height
  // Bottom row first. Empty until something is drawn into the section: a section nobody
  // drew into is black, and surfaces rebuilt at every selection then cost no memory here.
  std::vector<uint8_t> bits;
};

struct DeviceContext {
  // A memory device context draws into its selected section...
  DibSection* selected = nullptr;
  // ...a target device context into caller-owned 32-bit pixels.
  uint8_t* pixels = nullptr;
  int width = 0;
  int height = 0;
  int bytesPerLine = 0;
};

namespace {

constexpr uint64_t kMaxSectionBytes = uint64_t{1} << 30;

uint64_t StrideOf(int64_t width) { return ((uint64_t(width) * 24 + 31) / 32) * 4; }

// What a device context draws into, addressed with the top row first whatever the memory
// order: row y starts at top + y * pitch.
struct Canvas {
  uint8_t* top = nullptr;
  ptrdiff_t pitch = 0;
  int width = 0;
  int height = 0;
  int bytesPerPixel = 0;
};

bool CanvasOf(HDC dc, Canvas& canvas) {
  if (dc == nullptr) return false;
  if (dc->pixels != nullptr) {
    canvas = {dc->pixels, dc->bytesPerLine, dc->width, dc->height, 4};
    return true;
  }
  DibSection* s = dc->selected;
  if (s == nullptr) return false;
  if (s->bits.empty()) s->bits.assign(s->size, 0);
  const int h = s->header.biHeight;
  canvas = {s->bits.data() + size_t(h - 1) * s->stride, -ptrdiff_t(s->stride), s->header.biWidth,
            h, 3};
  return true;
}

}  // namespace

HDC CreateCompatibleDC() { return new DeviceContext; }

HBITMAP CreateDIBSection(HDC dc, const BITMAPINFOHEADER& header) {
  if (dc == nullptr || header.biBitCount != 24 || header.biWidth <= 0 || header.biHeight <= 0)
    return nullptr;
  const uint64_t stride = StrideOf(header.biWidth);
  const uint64_t size = stride * uint64_t(header.biHeight);
  if (size > kMaxSectionBytes) return nullptr;
  auto* section = new DibSection;
  section->header = header;
  section->stride = size_t(stride);
  section->size = size_t(size);
  return section;
}

void SelectObject(HDC dc, HBITMAP section) {
  if (dc != nullptr && dc->pixels == nullptr) dc->selected = section;
}

HBITMAP GetCurrentObject(HDC dc) { return dc != nullptr ? dc->selected : nullptr; }

HDC CreateTargetDC(uint8_t* pixels, int width, int height, int bytesPerLine) {
  if (pixels == nullptr || width < 0 || height < 0 || int64_t(bytesPerLine) < int64_t(width) * 4)
    return nullptr;
  auto* dc = new DeviceContext;
  dc->pixels = pixels;
  dc->width = width;
  dc->height = height;
  dc->bytesPerLine = bytesPerLine;
  return dc;
}

int GetDIBits(HDC dc, HBITMAP section, int startScan, int lines, uint8_t* bits, size_t bitsSize,
              const BITMAPINFOHEADER& header) {
  if (dc == nullptr || section == nullptr || bits == nullptr || startScan < 0 || lines <= 0)
    return 0;
  if (header.biWidth != section->header.biWidth || header.biBitCount != 24) return 0;
  const size_t stride = section->stride;
  const int available = section->header.biHeight - std::min(startScan, section->header.biHeight);
  const size_t copied = std::min({size_t(lines), size_t(available), bitsSize / stride});
  if (copied == 0) return 0;
  if (section->bits.empty())
    std::memset(bits, 0, copied * stride);
  else
    std::memcpy(bits, section->bits.data() + size_t(startScan) * stride, copied * stride);
  return int(copied);
}

int SetDIBitsToDevice(HDC target, int destX, int destY, int width, int height, int srcX, int srcY,
                      int startScan, int lines, const uint8_t* bits, size_t bitsSize,
                      const BITMAPINFOHEADER& header) {
  if (bits == nullptr || startScan != 0 || lines <= 0 || width <= 0 || height <= 0) return 0;
  if (header.biBitCount != 24 || header.biWidth <= 0 || header.biHeight == 0) return 0;
  Canvas canvas;
  if (!CanvasOf(target, canvas)) return 0;
  const int64_t pictureHeight = header.biHeight > 0 ? int64_t(header.biHeight)
                                                    : -int64_t(header.biHeight);
  const uint64_t stride = StrideOf(header.biWidth);
  const int64_t rowsHeld =
      int64_t(std::min<uint64_t>({uint64_t(lines), uint64_t(pictureHeight), bitsSize / stride}));
  const bool bottomUp = header.biHeight > 0;

  // Clip the rectangle: first to the picture's columns and the target's columns...
  const int64_t x0 = std::max<int64_t>({0, -int64_t(srcX), -int64_t(destX)});
  const int64_t x1 = std::min<int64_t>({int64_t(width), int64_t(header.biWidth) - srcX,
                                        int64_t(canvas.width) - destX});
  if (x1 <= x0) return 0;
  // ...then row by row to the picture, the rows held and the target.
  int painted = 0;
  const size_t columns = size_t(x1 - x0);
  for (int64_t y = std::max<int64_t>(0, -int64_t(destY)); y < height; ++y) {
    const int64_t dy = destY + y;
    const int64_t sy = srcY + y;  // picture row as seen, from the top
    if (dy >= canvas.height) break;
    if (sy < 0) continue;
    if (sy >= pictureHeight) break;
    const int64_t memoryRow = bottomUp ? pictureHeight - 1 - sy : sy;
    if (memoryRow >= rowsHeld) continue;
    const uint8_t* s = bits + uint64_t(memoryRow) * stride + uint64_t(srcX + x0) * 3;
    uint8_t* d = canvas.top + ptrdiff_t(dy) * canvas.pitch + (destX + x0) * canvas.bytesPerPixel;
    if (canvas.bytesPerPixel == 3) {
      std::memcpy(d, s, columns * 3);
    } else {
      for (size_t x = 0; x < columns; ++x, s += 3, d += 4) {
        d[0] = s[0];
        d[1] = s[1];
        d[2] = s[2];
        d[3] = 0xFF;
      }
    }
    ++painted;
  }
  return painted;
}

void DeleteDC(HDC dc) { delete dc; }

void DeleteObject(HBITMAP section) { delete section; }

void GdiFlush() {}

}  // namespace platform
