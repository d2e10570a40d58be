// A small stand-in for the drawing calls the texture surfaces are built on: memory device
// contexts holding zero-filled 24-bit device-independent sections, and target device
// contexts over caller-owned 32-bit pixels (a picture box's persistent image in the window,
// plain memory in tests). Only what the surfaces need is here.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// The 40-byte info header of a device-independent bitmap, field for field.
struct BITMAPINFOHEADER {
  uint32_t biSize = 0;
  int32_t biWidth = 0;
  int32_t biHeight = 0;  // positive: rows stored bottom-up
  uint16_t biPlanes = 0;
  uint16_t biBitCount = 0;
  uint32_t biCompression = 0;
  uint32_t biSizeImage = 0;
  int32_t biXPelsPerMeter = 0;
  int32_t biYPelsPerMeter = 0;
  uint32_t biClrUsed = 0;
  uint32_t biClrImportant = 0;
};

inline constexpr uint32_t kBitmapInfoHeaderSize = 40;
inline constexpr uint32_t BI_RGB = 0;

struct DeviceContext;
struct DibSection;
using HDC = DeviceContext*;
using HBITMAP = DibSection*;

// A memory device context with nothing selected into it.
HDC CreateCompatibleDC();

// A 24-bit, bottom-up, zero-filled section of the header's width and height; nullptr when
// the header is not 24-bit, its width or height is not positive, or the size is absurd.
HBITMAP CreateDIBSection(HDC dc, const BITMAPINFOHEADER& header);

// Makes the section the drawing target of a memory device context.
void SelectObject(HDC dc, HBITMAP section);

// A device context that draws into pixels the caller owns and keeps alive while the context
// exists: width x height pixels of 4 bytes (blue, green, red, unused), top row first, rows
// bytesPerLine apart. This is how a picture box's image, or a test's buffer, is drawn into.
HDC CreateTargetDC(uint8_t* pixels, int width, int height, int bytesPerLine);

// Copies `lines` rows of the section from scan line `startScan` (counted from the bottom)
// into `bits` as 24-bit rows of the header's stride, bottom row first; never writes past
// bitsSize. Returns the number of rows copied.
int GetDIBits(HDC dc, HBITMAP section, int startScan, int lines, uint8_t* bits, size_t bitsSize,
              const BITMAPINFOHEADER& header);

// Paints 24-bit bottom-up rows (`header` describes them, `bitsSize` bounds them) into the
// target with the source's bottom-left at row startScan. The destination rectangle is
// clipped to the target. Returns the number of scan lines painted.
int SetDIBitsToDevice(HDC target, int destX, int destY, int width, int height, int srcX, int srcY,
                      int startScan, int lines, const uint8_t* bits, size_t bitsSize,
                      const BITMAPINFOHEADER& header);

// Combines `source`'s selected section onto `dest`'s with OR (the only raster operation used).
bool BitBltOr(HDC dest, int destX, int destY, int width, int height, HDC source, int srcX,
              int srcY);

// Releases a device context (never the section selected into it) or a section.
void DeleteDC(HDC dc);
void DeleteObject(HBITMAP section);

// Completes batched drawing work. Drawing here is never batched; kept for the call order.
void GdiFlush();

}  // namespace platform
