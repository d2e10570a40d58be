// Reading and writing the uncompressed 24-bit BMP files that texture surfaces are imported
// from and exported to.
//
// BMP file layout (all numbers little-endian):
//
//   offset  size  field
//   0       2     bfType          "BM"
//   2       4     bfSize          (not relied on when reading)
//   6       4     bfReserved1, 2
//   10      4     bfOffBits       where the pixel rows start
//   14      4     biSize          40, or a later header version's size (52, 56, 108, 124...)
//   18      36    the rest of the 40-byte info header (BITMAPINFOHEADER below)
//   14+biSize     anything a later header version adds (masks, colour space): ignored
//   bfOffBits     |biHeight| rows of stride bytes: width x (blue, green, red), padded to a
//                 multiple of 4; bottom row first when biHeight > 0, top row first when < 0
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace BmpFile {

// The file's 40-byte info header, field for field.
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

inline constexpr uint32_t kInfoHeaderSize = 40;

// The resolution fields of a file, in pixels per metre.
struct Resolution {
  int32_t x = 0;
  int32_t y = 0;
  bool operator==(const Resolution&) const = default;
};
inline constexpr uint32_t kUncompressed = 0;  // biCompression of plain rows

// Bytes in one stored row of a 24-bit picture: 3 x width rounded up to a multiple of 4.
constexpr uint64_t Stride(uint64_t width) { return (width * 24 + 31) / 32 * 4; }

// The pixel bytes of an exported file: its rows, then as many zero bytes again as the
// classic editor's surfaces held, (padding + width) x height x 4 in all, which files made
// before depend on being matched byte for byte. 0 for sides below 1 or beyond 256 MiB.
uint64_t ExportPixelBytes(int64_t width, int64_t height);

// Why a file cannot be imported.
enum class Fault {
  None,
  NotABitmap,        // does not start with "BM"
  Truncated,         // ends inside its headers
  UnknownHeader,     // info header shorter than 40 bytes (an old or foreign variant)
  NotTwentyFourBit,  // biBitCount is not 24
  Compressed,        // biCompression is not 0
  Damaged,           // biPlanes not 1, or pixel rows said to start inside the headers
  BadSize,           // width 0 or less, height 0
  MissingPixels,     // fewer pixel bytes after bfOffBits than the rows need
};

// Where the pixels of an importable file are, and the header a surface keeps for them.
struct Layout {
  // biSize 40 and a positive biHeight whatever the file held (a surface describes its own
  // bottom-up rows), biSizeImage = height x stride; the other fields as in the file.
  BITMAPINFOHEADER Info;
  bool TopDown = false;   // the file's rows run top row first
  size_t PixelsAt = 0;    // bfOffBits
};

// Checks that `file` is an uncompressed 24-bit BMP whose rows are all there. On success
// fills `layout`; on failure returns the first fault found, in the order listed above
// (a file that is both 8-bit and compressed is NotTwentyFourBit).
Fault Inspect(std::span<const uint8_t> file, Layout& layout);

// A sentence that tells a modder what is wrong with the file.
const char* Explain(Fault fault);

// The file for a surface: a 14-byte file header, a 40-byte info header taken from `info`
// (biSize 40, biBitCount 24, biSizeImage height x stride, biClrUsed and biClrImportant 0:
// no colour table) and then `bits` whole, so that the file is 54 + bits.size() bytes.
// `info` must describe a positive width and height.
std::vector<uint8_t> Write(const BITMAPINFOHEADER& info, std::span<const uint8_t> bits);

}  // namespace BmpFile
