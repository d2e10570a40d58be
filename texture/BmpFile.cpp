#include "texture/BmpFile.h"

#include "platform/ByteOrder.h"

namespace BmpFile {
namespace {

using platform::LittleEndianReader;
using platform::LittleEndianWriter;

constexpr size_t kFileHeaderSize = 14;

}  // namespace

Fault Inspect(std::span<const uint8_t> file, Layout& layout) {
  if (file.size() >= 2 && (file[0] != 'B' || file[1] != 'M')) return Fault::NotABitmap;

  LittleEndianReader fileHeader(file, 10);
  uint32_t offBits = 0;
  if (!fileHeader.Read(offBits)) return Fault::Truncated;

  BITMAPINFOHEADER h;
  LittleEndianReader info(file, kFileHeaderSize);
  if (!info.Read(h.biSize)) return Fault::Truncated;
  if (h.biSize < kInfoHeaderSize) return Fault::UnknownHeader;
  if (file.size() - kFileHeaderSize < h.biSize) return Fault::Truncated;
  // The whole 40 bytes are known to be there now.
  info.Read(h.biWidth);
  info.Read(h.biHeight);
  info.Read(h.biPlanes);
  info.Read(h.biBitCount);
  info.Read(h.biCompression);
  info.Read(h.biSizeImage);
  info.Read(h.biXPelsPerMeter);
  info.Read(h.biYPelsPerMeter);
  info.Read(h.biClrUsed);
  info.Read(h.biClrImportant);

  if (h.biBitCount != 24) return Fault::NotTwentyFourBit;
  if (h.biCompression != kUncompressed) return Fault::Compressed;
  if (h.biPlanes != 1 || uint64_t(offBits) < kFileHeaderSize + uint64_t(h.biSize))
    return Fault::Damaged;
  if (h.biWidth <= 0 || h.biHeight == 0) return Fault::BadSize;

  const uint64_t height = h.biHeight > 0 ? uint64_t(h.biHeight) : uint64_t(-int64_t(h.biHeight));
  const uint64_t stride = Stride(uint64_t(h.biWidth));
  if (offBits > file.size() || (file.size() - offBits) / stride < height)
    return Fault::MissingPixels;

  layout.TopDown = h.biHeight < 0;
  layout.PixelsAt = offBits;
  h.biSize = kInfoHeaderSize;
  h.biHeight = int32_t(height);  // below 2^31 here: a height of -2^31 cannot fit in a file
  h.biSizeImage = uint32_t(height * stride);
  layout.Info = h;
  return Fault::None;
}

uint64_t ExportPixelBytes(int64_t width, int64_t height) {
  constexpr uint64_t kMax = uint64_t{256} << 20;
  if (width < 1 || height < 1 || uint64_t(width) > kMax || uint64_t(height) > kMax) return 0;
  const uint64_t padding = Stride(uint64_t(width)) - 3 * uint64_t(width);
  const uint64_t bytes = (padding + uint64_t(width)) * uint64_t(height) * 4;
  return bytes <= kMax ? bytes : 0;
}

const char* Explain(Fault fault) {
  switch (fault) {
    case Fault::None: return "";
    case Fault::NotABitmap: return "This file is not a BMP picture.";
    case Fault::Truncated: return "This BMP file ends before its headers do; it may be cut short.";
    case Fault::UnknownHeader:
      return "This BMP file uses an old header version that cannot be imported.";
    case Fault::NotTwentyFourBit: return "This BMP file is not a 24 bit picture.";
    case Fault::Compressed:
      return "This BMP file is compressed; only uncompressed 24 bit files can be imported.";
    case Fault::Damaged: return "This BMP file's header is damaged.";
    case Fault::BadSize: return "This BMP file's width or height is zero or negative.";
    case Fault::MissingPixels:
      return "This BMP file holds fewer pixels than its header says; it may be cut short.";
  }
  return "This BMP file cannot be imported.";
}

std::vector<uint8_t> Write(const BITMAPINFOHEADER& info, std::span<const uint8_t> bits) {
  const uint32_t headers = kFileHeaderSize + kInfoHeaderSize;
  const uint32_t sizeImage = uint32_t(uint64_t(info.biHeight) * Stride(uint64_t(info.biWidth)));
  const size_t total = headers + bits.size();
  std::vector<uint8_t> out;
  out.reserve(total);
  LittleEndianWriter w(out);
  w.U16(0x4D42);                                   // bfType "BM"
  w.U32(uint32_t(headers + bits.size()));          // bfSize
  w.U16(0);                                        // bfReserved1
  w.U16(0);                                        // bfReserved2
  w.U32(headers);                                  // bfOffBits
  w.U32(kInfoHeaderSize);                          // biSize
  w.I32(info.biWidth);                             // biWidth
  w.I32(info.biHeight);                            // biHeight, rows bottom-up
  w.U16(info.biPlanes);                            // biPlanes
  w.U16(24);                                       // biBitCount
  w.U32(info.biCompression);                       // biCompression
  w.U32(sizeImage);                                // biSizeImage
  w.I32(info.biXPelsPerMeter);                     // biXPelsPerMeter
  w.I32(info.biYPelsPerMeter);                     // biYPelsPerMeter
  // 24-bit rows need no colour table and none follows; a count carried over from an
  // imported file would make readers look for one and misplace the pixels.
  w.U32(0);                                        // biClrUsed
  w.U32(0);                                        // biClrImportant
  w.Bytes(bits);                                   // the whole buffer, trailing zeros too
  if (w.Written() != total) return {};
  return out;
}

}  // namespace BmpFile
