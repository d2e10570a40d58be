#include "texture/BmpFile.h"

namespace BmpFile {
namespace {

constexpr size_t kFileHeaderSize = 14;

// A cursor over the file's bytes; every read checks that the bytes are there.
class ByteReader {
 public:
  ByteReader(std::span<const uint8_t> bytes, size_t pos) : bytes_(bytes), pos_(pos) {}

  bool U16(uint16_t& v) {
    if (!Has(2)) return false;
    v = uint16_t(bytes_[pos_] | bytes_[pos_ + 1] << 8);
    pos_ += 2;
    return true;
  }
  bool U32(uint32_t& v) {
    if (!Has(4)) return false;
    v = uint32_t(bytes_[pos_]) | uint32_t(bytes_[pos_ + 1]) << 8 |
        uint32_t(bytes_[pos_ + 2]) << 16 | uint32_t(bytes_[pos_ + 3]) << 24;
    pos_ += 4;
    return true;
  }
  bool I32(int32_t& v) {
    uint32_t u = 0;
    if (!U32(u)) return false;
    v = int32_t(u);
    return true;
  }

 private:
  bool Has(size_t n) const { return pos_ <= bytes_.size() && bytes_.size() - pos_ >= n; }

  std::span<const uint8_t> bytes_;
  size_t pos_;
};

class ByteWriter {
 public:
  explicit ByteWriter(std::vector<uint8_t>& out) : out_(out) {}
  void U16(uint16_t v) {
    out_.push_back(uint8_t(v));
    out_.push_back(uint8_t(v >> 8));
  }
  void U32(uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8) out_.push_back(uint8_t(v >> shift));
  }
  void I32(int32_t v) { U32(uint32_t(v)); }

 private:
  std::vector<uint8_t>& out_;
};

}  // namespace

Fault Inspect(std::span<const uint8_t> file, Layout& layout) {
  if (file.size() >= 2 && (file[0] != 'B' || file[1] != 'M')) return Fault::NotABitmap;

  ByteReader fileHeader(file, 10);
  uint32_t offBits = 0;
  if (!fileHeader.U32(offBits)) return Fault::Truncated;

  BITMAPINFOHEADER h;
  ByteReader info(file, kFileHeaderSize);
  if (!info.U32(h.biSize)) return Fault::Truncated;
  if (h.biSize < kInfoHeaderSize) return Fault::UnknownHeader;
  if (file.size() - kFileHeaderSize < h.biSize) return Fault::Truncated;
  // The whole 40 bytes are known to be there now.
  info.I32(h.biWidth);
  info.I32(h.biHeight);
  info.U16(h.biPlanes);
  info.U16(h.biBitCount);
  info.U32(h.biCompression);
  info.U32(h.biSizeImage);
  info.I32(h.biXPelsPerMeter);
  info.I32(h.biYPelsPerMeter);
  info.U32(h.biClrUsed);
  info.U32(h.biClrImportant);

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
  std::vector<uint8_t> out;
  out.reserve(headers + bits.size());
  ByteWriter w(out);
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
  w.U32(info.biClrUsed);                           // biClrUsed
  w.U32(info.biClrImportant);                      // biClrImportant
  out.insert(out.end(), bits.begin(), bits.end()); // the whole buffer, trailing zeros too
  return out;
}

}  // namespace BmpFile
