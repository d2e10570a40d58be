#include "platform/Gdi.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

namespace platform {

struct DibSection {
  BITMAPINFOHEADER header;
  size_t stride = 0;
  std::vector<uint8_t> bits;  // bottom row first
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

// Sections larger than this are refused rather than allocated (about 1.5 GB of pixels).
constexpr uint64_t kMaxSectionBytes = uint64_t{1} << 30;

uint64_t StrideOf(int32_t width) { return ((uint64_t(width) * 24 + 31) / 32) * 4; }

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
  section->bits.assign(size_t(size), 0);
  return section;
}

void SelectObject(HDC dc, HBITMAP section) {
  if (dc != nullptr) dc->selected = section;
}

HDC CreateTargetDC(uint8_t* pixels, int width, int height, int bytesPerLine) {
  if (pixels == nullptr || width < 0 || height < 0 || bytesPerLine < width * 4) return nullptr;
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
  const int available = section->header.biHeight - startScan;
  int copied = std::min(lines, available);
  if (copied <= 0) return 0;
  copied = int(std::min<size_t>(size_t(copied), bitsSize / stride));
  std::memcpy(bits, section->bits.data() + size_t(startScan) * stride, size_t(copied) * stride);
  return copied;
}

int SetDIBitsToDevice(HDC target, int destX, int destY, int width, int height, int srcX, int srcY,
                      int startScan, int lines, const uint8_t* bits, size_t bitsSize,
                      const BITMAPINFOHEADER& header) {
  if (target == nullptr || target->pixels == nullptr || bits == nullptr) return 0;
  if (header.biBitCount != 24 || header.biWidth <= 0 || header.biHeight <= 0) return 0;
  if (width <= 0 || height <= 0 || lines <= 0 || srcX < 0 || srcY < 0 || startScan != 0)
    return 0;
  const size_t stride = size_t(StrideOf(header.biWidth));
  const int rowsInBits = int(std::min<uint64_t>(uint64_t(lines), bitsSize / stride));
  const int srcWidth = header.biWidth;
  const int srcHeight = std::min(header.biHeight, rowsInBits);
  // Source row srcY counts from the top of the picture, as the destination rows do.
  for (int y = 0; y < height; ++y) {
    const int dy = destY + y;
    const int sy = srcY + y;  // from the top
    if (dy < 0 || dy >= target->height) continue;
    const int memoryRow = header.biHeight - 1 - sy;
    if (sy >= header.biHeight || memoryRow < 0 || memoryRow >= srcHeight) continue;
    const uint8_t* srcRow = bits + size_t(memoryRow) * stride;
    uint8_t* dstRow = target->pixels + size_t(dy) * size_t(target->bytesPerLine);
    for (int x = 0; x < width; ++x) {
      const int dx = destX + x;
      const int sx = srcX + x;
      if (dx < 0 || dx >= target->width || sx >= srcWidth) continue;
      const uint8_t* s = srcRow + size_t(sx) * 3;
      uint8_t* d = dstRow + size_t(dx) * 4;
      d[0] = s[0];
      d[1] = s[1];
      d[2] = s[2];
      d[3] = 0xFF;
    }
  }
  return lines;
}

bool BitBltOr(HDC dest, int destX, int destY, int width, int height, HDC source, int srcX,
              int srcY) {
  if (dest == nullptr || source == nullptr || dest->selected == nullptr ||
      source->selected == nullptr)
    return false;
  const DibSection& s = *source->selected;
  DibSection& d = *dest->selected;
  // Rows are addressed from the top, as the picture is seen.
  for (int y = 0; y < height; ++y) {
    const int sy = srcY + y, dy = destY + y;
    if (sy < 0 || dy < 0 || sy >= s.header.biHeight || dy >= d.header.biHeight) continue;
    const uint8_t* srow = s.bits.data() + size_t(s.header.biHeight - 1 - sy) * s.stride;
    uint8_t* drow = d.bits.data() + size_t(d.header.biHeight - 1 - dy) * d.stride;
    for (int x = 0; x < width; ++x) {
      const int sx = srcX + x, dx = destX + x;
      if (sx < 0 || dx < 0 || sx >= s.header.biWidth || dx >= d.header.biWidth) continue;
      for (int c = 0; c < 3; ++c) drow[size_t(dx) * 3 + c] |= srow[size_t(sx) * 3 + c];
    }
  }
  return true;
}

void DeleteDC(HDC dc) { delete dc; }

void DeleteObject(HBITMAP section) { delete section; }

void GdiFlush() {}

}  // namespace platform
