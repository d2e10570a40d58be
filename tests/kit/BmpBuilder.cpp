#include "kit/BmpBuilder.h"

#include "platform/ByteOrder.h"

namespace testkit {

namespace {

uint32_t HeadersEnd(const BmpFields& f) { return 14 + f.infoSize + f.gap; }
uint32_t OffBits(const BmpFields& f) { return f.offBits >= 0 ? uint32_t(f.offBits) : HeadersEnd(f); }

}  // namespace

std::vector<uint8_t> BmpHeaders(const BmpFields& f, uint32_t fileSize) {
  std::vector<uint8_t> out;
  platform::LittleEndianWriter w(out);
  w.Text("BM");                  // bfType
  w.U32(fileSize);               // bfSize
  w.U16(0);                      // bfReserved1
  w.U16(0);                      // bfReserved2
  w.U32(OffBits(f));             // bfOffBits
  w.U32(f.infoSize);             // biSize
  w.I32(f.width);                // biWidth
  w.I32(f.height);               // biHeight
  w.U16(f.planes);               // biPlanes
  w.U16(f.bitCount);             // biBitCount
  w.U32(f.compression);          // biCompression
  w.U32(f.sizeImage);            // biSizeImage
  w.I32(f.xPelsPerMeter);        // biXPelsPerMeter
  w.I32(f.yPelsPerMeter);        // biYPelsPerMeter
  w.U32(f.clrUsed);              // biClrUsed
  w.U32(f.clrImportant);         // biClrImportant
  return out;
}

std::vector<uint8_t> BuildBmp(const BmpFields& f, const BmpPixel& pixel, size_t length) {
  const uint32_t headersEnd = HeadersEnd(f);
  const uint32_t offBits = OffBits(f);
  std::vector<uint8_t> out = BmpHeaders(f, 0);  // bfSize set below
  out.resize(headersEnd, 0x5A);  // later header fields and the gap (or a shorter header)
  if (offBits > out.size()) out.resize(offBits, 0x5A);
  const int columns = f.width > 0 ? f.width : 0;
  const int rows = f.height < 0 ? -f.height : f.height;
  for (int r = 0; r < rows; ++r) {
    const int y = f.height < 0 ? r : rows - 1 - r;  // picture row stored r-th
    for (int x = 0; x < columns; ++x) {
      const std::array<uint8_t, 3> bgr = pixel(x, y);
      out.insert(out.end(), bgr.begin(), bgr.end());
    }
    out.resize(out.size() + BmpStride(columns) - size_t(columns) * 3, 0);
  }
  if (out.size() < length) out.resize(length, 0);
  const uint32_t size = uint32_t(out.size());
  for (int s = 0; s < 4; ++s) out[2 + size_t(s)] = uint8_t(size >> (8 * s));
  return out;
}

}  // namespace testkit
