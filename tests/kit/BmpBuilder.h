// Assembles BMP files field by field, so tests can build the plain files image editors write
// and every kind of broken one.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

namespace testkit {

// The fields of a BMP file to build; the defaults make a plain 24-bit bottom-up file.
struct BmpFields {
  int32_t width = 1;
  int32_t height = 1;      // stored as given: negative for top-down rows
  uint32_t infoSize = 40;  // bytes of info header written (filled with 0x5A past 40)
  uint16_t planes = 1;
  uint16_t bitCount = 24;
  uint32_t compression = 0;
  uint32_t sizeImage = 0;
  int32_t xPelsPerMeter = 0;
  int32_t yPelsPerMeter = 0;
  uint32_t clrUsed = 0;
  uint32_t clrImportant = 0;
  uint32_t gap = 0;        // bytes (0x5A) between the headers and the rows
  int64_t offBits = -1;    // -1: right after the headers and the gap
};

// Blue, green and red of the pixel at column x of row y, y = 0 being the top row.
using BmpPixel = std::function<std::array<uint8_t, 3>(int x, int y)>;

// Bytes in one stored row of a 24-bit picture.
inline size_t BmpStride(int width) { return (size_t(width) * 3 + 3) / 4 * 4; }

// The 14-byte file header and the first 40 bytes of the info header as the fields say,
// bfSize being fileSize.
std::vector<uint8_t> BmpHeaders(const BmpFields& fields, uint32_t fileSize);

// The file: headers, then the rows (padded with zeros to 4 bytes) in the order the height's
// sign asks for, starting at offBits when that lies further on; no rows for a width or
// height of 0 or less. Zeros follow up to `length` bytes when it is longer; bfSize is the
// file's size.
std::vector<uint8_t> BuildBmp(const BmpFields& fields, const BmpPixel& pixel, size_t length = 0);

}  // namespace testkit
