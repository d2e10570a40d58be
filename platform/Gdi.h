// A small stand-in for the drawing calls the texture surfaces are built on: memory device
// contexts holding zero-filled 24-bit device-independent sections, and target device
// contexts over caller-owned 32-bit pixels (a picture box's persistent image in the window,
// plain memory in tests). Only what the surfaces need is here.
//
// Every call accepts null handles and out-of-range rectangles: it then does nothing (or only
// the part that lies inside), and never reads or writes outside the memory it was given.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// The 40-byte info header of a device-independent bitmap, field for field.
struct BITMAPINFOHEADER {
  uint32_t biSize = 0;
  int32_t biWidth = 0;
  int32_t biHeight = 0;  // positive: rows stored bottom-up; negative: top-down
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
// dc is null, the header is not 24-bit, its width or height is not positive, or the
// section would take more than 1 GiB. Its memory is taken only when something is first
// drawn into it; until then it reads as black.
HBITMAP CreateDIBSection(HDC dc, const BITMAPINFOHEADER& header);

// Makes the section the drawing target of a memory device context. The section must stay
// alive while it is selected (delete the device context first).
void SelectObject(HDC dc, HBITMAP section);

// The section selected into a memory device context, nullptr when there is none.
HBITMAP GetCurrentObject(HDC dc);

// A device context that draws into pixels the caller owns and keeps alive while the context
// exists: width x height pixels of 4 bytes (blue, green, red, unused), top row first, rows
// bytesPerLine apart. This is how a picture box's image, or a test's buffer, is drawn into.
// nullptr when pixels is null, a size is negative or a row would not fit in bytesPerLine.
HDC CreateTargetDC(uint8_t* pixels, int width, int height, int bytesPerLine);

// Copies `lines` rows of the section, from scan line `startScan` (counted from the bottom),
// into `bits` as 24-bit rows of the section's stride, bottom row first. `header` must
// describe the section's width at 24 bits. Copies only whole rows that fit in bitsSize and
// leaves the rest of `bits` alone. Returns the number of rows copied.
int GetDIBits(HDC dc, HBITMAP section, int startScan, int lines, uint8_t* bits, size_t bitsSize,
              const BITMAPINFOHEADER& header);

// Paints a width x height rectangle of a 24-bit picture into the target (a target device
// context, or a memory device context's section) with its top-left at destX, destY. The
// picture is `header`'s width and height in rows of its stride, bottom row first when
// biHeight > 0 and top row first when biHeight < 0; `bits` holds `lines` of those rows
// (only whole pictures are passed here: startScan must be 0), and no more than bitsSize
// bytes are read. srcX, srcY place the rectangle in the picture as it is seen (srcY counts
// from the top). The rectangle is clipped to the picture, to the rows `bits` holds and to
// the target. The unused byte of 32-bit targets is set to 0xFF. Returns the number of rows
// painted.
int SetDIBitsToDevice(HDC target, int destX, int destY, int width, int height, int srcX, int srcY,
                      int startScan, int lines, const uint8_t* bits, size_t bitsSize,
                      const BITMAPINFOHEADER& header);

// Releases a device context (never the section selected into it) or a section.
void DeleteDC(HDC dc);
void DeleteObject(HBITMAP section);

// Completes batched drawing work. Drawing here is never batched; kept for the call order.
void GdiFlush();

}  // namespace platform
