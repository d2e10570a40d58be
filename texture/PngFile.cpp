#include "texture/PngFile.h"

#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <new>

namespace PngFile {
namespace {

constexpr uint8_t kSignature[8] = {137, 'P', 'N', 'G', 13, 10, 26, 10};
constexpr uint32_t kMaxChunkLength = 0x7FFFFFFF;
constexpr size_t kChunkOverhead = 12;  // length, type, CRC
constexpr uint32_t kIhdrLength = 13;

// Deflate gives at most 258 bytes for a match coded in two bits, so one compressed byte
// expands to at most 1032: image data shorter than its picture's bytes / 1032 cannot fill
// it, however it was compressed.
constexpr uint64_t kMaxInflateRatio = 1032;
// libpng keeps two rows of the file's format while decoding, at up to 8 bytes a pixel
// (16-bit RGBA); the width is bounded so that these stay within the limit as well.
constexpr uint64_t kDecoderBytesPerColumn = 2 * 8;
// Only PLTE and tRNS are ever held whole (768 and 256 bytes at most); every other
// ancillary chunk is skipped unread.
constexpr png_alloc_size_t kMaxHeldChunk = 64 * 1024;

uint32_t BigEndian32(std::span<const uint8_t> bytes, size_t pos) {
  return uint32_t(bytes[pos]) << 24 | uint32_t(bytes[pos + 1]) << 16 |
         uint32_t(bytes[pos + 2]) << 8 | uint32_t(bytes[pos + 3]);
}

bool TypeIs(std::span<const uint8_t> bytes, size_t pos, const char (&type)[5]) {
  return std::memcmp(bytes.data() + pos, type, 4) == 0;
}

// Samples per pixel of a colour type; 0 for a colour type PNG does not have.
uint32_t Channels(uint8_t colourType) {
  switch (colourType) {
    case PNG_COLOR_TYPE_GRAY: return 1;
    case PNG_COLOR_TYPE_RGB: return 3;
    case PNG_COLOR_TYPE_PALETTE: return 1;
    case PNG_COLOR_TYPE_GRAY_ALPHA: return 2;
    case PNG_COLOR_TYPE_RGB_ALPHA: return 4;
  }
  return 0;
}

// ---- The libpng boundary --------------------------------------------------------------
// libpng reports errors by longjmp back to the setjmp of the function that called it.
// Everything from here to the end of the boundary is C-style: no local or callback frame
// that a longjmp can cross holds an object with a destructor, and no local changes
// between setjmp and the calls that may jump.

struct Source {
  const uint8_t* bytes;
  size_t size;
  size_t pos;
};

struct Sink {
  std::vector<uint8_t>* file;
  bool outOfMemory;
};

[[noreturn]] void OnError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void OnWarning(png_structp, png_const_charp) {}

void ReadFromSource(png_structp png, png_bytep out, size_t count) {
  Source* source = static_cast<Source*>(png_get_io_ptr(png));
  // Inspect has seen every chunk up to IEND, so this is only reached by a damaged file.
  if (source->size - source->pos < count) png_error(png, "read past the end");
  std::memcpy(out, source->bytes + source->pos, count);
  source->pos += count;
}

void WriteToSink(png_structp png, png_bytep bytes, size_t count) {
  Sink* sink = static_cast<Sink*>(png_get_io_ptr(png));
  try {
    sink->file->insert(sink->file->end(), bytes, bytes + count);
  } catch (const std::bad_alloc&) {
    sink->outOfMemory = true;
  }
  if (sink->outOfMemory) png_error(png, "out of memory");
}

void FlushNothing(png_structp) {}

// Reads up to the image data and sets the transformations that give 8-bit RGBA.
bool StartDecoding(png_structp png, png_infop info, bool* hasAlpha, bool* interlaced) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_read_info(png, info);
  const png_byte colourType = png_get_color_type(png, info);
  *hasAlpha = (colourType & PNG_COLOR_MASK_ALPHA) != 0 || png_get_valid(png, info, PNG_INFO_tRNS);
  *interlaced = png_get_interlace_type(png, info) != PNG_INTERLACE_NONE;
  png_set_expand(png);     // palette to RGB, grey below 8 bits to 8, tRNS to alpha
  png_set_scale_16(png);   // v x 255 / 65535, rounded
  png_set_gray_to_rgb(png);
  png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);  // only where there is no alpha yet
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  return true;
}

bool DecodeRow(png_structp png, png_bytep row) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_read_row(png, row, nullptr);
  return true;
}

bool DecodeImage(png_structp png, png_bytepp rows) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_read_image(png, rows);
  return true;
}

bool FinishDecoding(png_structp png) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_read_end(png, nullptr);
  return true;
}

bool EncodeRows(png_structp png, png_infop info, uint32_t width, uint32_t height,
                const uint8_t* rgba) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  // Stored, not compressed: decoded textures compress poorly (random texels by a third at
  // zlib's fastest level) while inflating them costs many times what reading a BMP does, so
  // an exported file reads back nearly as fast as a BMP and is still smaller than the BMP
  // image and mask together. Filters only help compression, so there are none.
  png_set_compression_level(png, Z_NO_COMPRESSION);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
  png_write_info(png, info);
  for (uint32_t y = 0; y < height; ++y) png_write_row(png, rgba + size_t(y) * width * 4);
  png_write_end(png, nullptr);
  return true;
}

// Reads up to the image data of a palette-colour PNG, one index a byte whatever the bit
// depth, and takes its colours: red, green, blue from PLTE, alpha from tRNS or 255.
bool StartIndexed(png_structp png, png_infop info, uint8_t* colours, int* colourCount,
                  bool* interlaced) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_read_info(png, info);
  if (png_get_color_type(png, info) != PNG_COLOR_TYPE_PALETTE) return false;
  png_colorp plte = nullptr;
  int entries = 0;
  if (png_get_PLTE(png, info, &plte, &entries) == 0 || entries < 1 || entries > 256) return false;
  png_bytep alpha = nullptr;
  int alphas = 0;
  if (png_get_tRNS(png, info, &alpha, &alphas, nullptr) == 0 || alpha == nullptr) alphas = 0;
  for (int i = 0; i < entries; ++i) {
    colours[4 * i] = plte[i].red;
    colours[4 * i + 1] = plte[i].green;
    colours[4 * i + 2] = plte[i].blue;
    colours[4 * i + 3] = i < alphas ? alpha[i] : 255;
  }
  *colourCount = entries;
  *interlaced = png_get_interlace_type(png, info) != PNG_INTERLACE_NONE;
  png_set_packing(png);  // 1, 2 and 4-bit indices to a byte each
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  return true;
}

bool EncodeIndexedRows(png_structp png, png_infop info, uint32_t width, uint32_t height,
                       const uint8_t* indices, const png_color* plte, int entries,
                       const uint8_t* alpha, int alphas) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_PLTE(png, info, plte, entries);
  if (alphas > 0) png_set_tRNS(png, info, alpha, alphas, nullptr);
  // Indices compress well and are a quarter of an RGBA picture; zlib's fastest level keeps
  // the export quick. Filters do not help indices, so there are none.
  png_set_compression_level(png, Z_BEST_SPEED);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
  png_write_info(png, info);
  for (uint32_t y = 0; y < height; ++y) png_write_row(png, indices + size_t(y) * width);
  png_write_end(png, nullptr);
  return true;
}

// ---- End of the libpng boundary --------------------------------------------------------

struct ReadStructs {
  png_structp png = nullptr;
  png_infop info = nullptr;
  ~ReadStructs() { png_destroy_read_struct(&png, &info, nullptr); }
};

struct WriteStructs {
  png_structp png = nullptr;
  png_infop info = nullptr;
  ~WriteStructs() { png_destroy_write_struct(&png, &info); }
};

// Makes a reader of `source` with the limits and skips every read here takes; false when
// memory runs out. Nothing in it can fail inside libpng, so it needs no jump target.
bool OpenReader(ReadStructs& structs, Source& source) {
  structs.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, OnError, OnWarning);
  if (structs.png == nullptr) return false;
  structs.info = png_create_info_struct(structs.png);
  if (structs.info == nullptr) return false;
  png_structp png = structs.png;
  png_set_read_fn(png, &source, ReadFromSource);
  png_set_user_limits(png, kMaxChunkLength, kMaxChunkLength);  // Inspect has the real limit
  png_set_chunk_malloc_max(png, kMaxHeldChunk);
  // Text, colour profiles and the rest are never used: skipping them unread also skips
  // any compressed text that would inflate to gigabytes.
  png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
  // Inspect has checked every CRC already, and they cover the image data more strongly
  // than zlib's own checksum does: neither is worked out a second time.
  png_set_crc_action(png, PNG_CRC_QUIET_USE, PNG_CRC_QUIET_USE);
  png_set_option(png, PNG_IGNORE_ADLER32, PNG_OPTION_ON);
  return true;
}

// Makes a writer into `sink`; false when memory runs out.
bool OpenWriter(WriteStructs& structs, Sink& sink) {
  structs.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, OnError, OnWarning);
  if (structs.png == nullptr) return false;
  structs.info = png_create_info_struct(structs.png);
  if (structs.info == nullptr) return false;
  png_set_write_fn(structs.png, &sink, WriteToSink, FlushNothing);
  return true;
}

}  // namespace

Fault Inspect(std::span<const uint8_t> file, uint64_t maxRgbaBytes, Header& header) {
  if (file.empty()) return Fault::Truncated;
  const size_t signatureBytes = std::min(file.size(), sizeof kSignature);
  if (std::memcmp(file.data(), kSignature, signatureBytes) != 0) return Fault::NotAPng;
  if (file.size() < sizeof kSignature) return Fault::Truncated;

  Header h;
  size_t pos = sizeof kSignature;
  for (bool first = true;; first = false) {
    if (file.size() - pos < kChunkOverhead) return Fault::Truncated;
    const uint32_t length = BigEndian32(file, pos);
    if (length > kMaxChunkLength) return Fault::Damaged;
    if (file.size() - pos - kChunkOverhead < length) return Fault::Truncated;
    const size_t data = pos + 8;
    const uint32_t crc = uint32_t(crc32_z(0, file.data() + pos + 4, size_t(length) + 4));
    if (crc != BigEndian32(file, data + length)) return Fault::BadChecksum;

    if (first) {
      if (!TypeIs(file, pos + 4, "IHDR") || length != kIhdrLength) return Fault::Damaged;
      h.Width = BigEndian32(file, data);
      h.Height = BigEndian32(file, data + 4);
      h.BitDepth = file[data + 8];
      h.ColourType = file[data + 9];
      if (h.Width == 0 || h.Height == 0 || h.Width > kMaxChunkLength || h.Height > kMaxChunkLength)
        return Fault::BadSize;
      if (uint64_t(h.Width) * h.Height > maxRgbaBytes / 4 ||
          uint64_t(h.Width) > maxRgbaBytes / kDecoderBytesPerColumn)
        return Fault::TooLarge;
      const bool knownDepth = h.BitDepth == 1 || h.BitDepth == 2 || h.BitDepth == 4 ||
                              h.BitDepth == 8 || h.BitDepth == 16;
      if (Channels(h.ColourType) == 0 || !knownDepth) return Fault::Damaged;
    } else if (TypeIs(file, pos + 4, "IDAT")) {
      h.CompressedBytes += length;
    } else if (TypeIs(file, pos + 4, "IEND")) {
      break;
    }
    pos = data + length + 4;
  }

  // Interlaced or not, the rows hold at least every pixel's bits.
  const uint64_t leastImageBytes =
      uint64_t(h.Width) * h.Height * Channels(h.ColourType) * h.BitDepth / 8;
  if (leastImageBytes > kMaxInflateRatio * (h.CompressedBytes + 1)) return Fault::MissingPixels;
  header = h;
  return Fault::None;
}

Fault Decode(std::span<const uint8_t> file, uint64_t maxRgbaBytes, const StartFn& start,
             const RowFn& row) {
  Header header;
  if (const Fault fault = Inspect(file, maxRgbaBytes, header); fault != Fault::None) return fault;

  ReadStructs structs;
  Source source{file.data(), file.size(), 0};
  if (!OpenReader(structs, source)) return Fault::TooLarge;
  png_structp png = structs.png;

  Shape shape{header.Width, header.Height, false};
  bool interlaced = false;
  if (!StartDecoding(png, structs.info, &shape.HasAlpha, &interlaced)) return Fault::Damaged;
  const size_t rowBytes = size_t(header.Width) * 4;
  if (png_get_rowbytes(png, structs.info) != rowBytes) return Fault::Damaged;
  try {
    if (!start(shape)) return Fault::TooLarge;
    if (interlaced) {
      // Each pass fills in some pixels of every row, so all rows are needed at once.
      std::vector<uint8_t> rgba(rowBytes * header.Height);
      std::vector<png_bytep> rows(header.Height);
      for (size_t y = 0; y < rows.size(); ++y) rows[y] = rgba.data() + y * rowBytes;
      if (!DecodeImage(png, rows.data())) return Fault::Damaged;
      for (uint32_t y = 0; y < header.Height; ++y) row(y, rows[y]);
    } else {
      std::vector<uint8_t> line(rowBytes);
      for (uint32_t y = 0; y < header.Height; ++y) {
        if (!DecodeRow(png, line.data())) return Fault::Damaged;
        row(y, line.data());
      }
    }
  } catch (const std::bad_alloc&) {
    return Fault::TooLarge;
  }
  return FinishDecoding(png) ? Fault::None : Fault::Damaged;
}

Fault Read(std::span<const uint8_t> file, uint64_t maxRgbaBytes, Picture& picture) {
  Picture read;
  const Fault fault = Decode(
      file, maxRgbaBytes,
      [&](const Shape& shape) {
        read.Width = shape.Width;
        read.Height = shape.Height;
        read.HasAlpha = shape.HasAlpha;
        read.Rgba.resize(size_t(shape.Width) * shape.Height * 4);
        return true;
      },
      [&](uint32_t y, const uint8_t* rgba) {
        std::memcpy(read.Rgba.data() + size_t(y) * read.Width * 4, rgba, size_t(read.Width) * 4);
      });
  if (fault == Fault::None) picture = std::move(read);
  return fault;
}

bool NamesPng(std::string_view path) {
  constexpr std::string_view kExtension = ".png";
  if (path.size() < kExtension.size()) return false;
  const std::string_view end = path.substr(path.size() - kExtension.size());
  return std::equal(end.begin(), end.end(), kExtension.begin(),
                    [](char a, char b) { return (a >= 'A' && a <= 'Z' ? a + 32 : a) == b; });
}

const char* Explain(Fault fault) {
  switch (fault) {
    case Fault::None: return "";
    case Fault::NotAPng: return "This file is not a PNG picture.";
    case Fault::Truncated: return "This PNG file ends before its last chunk; it may be cut short.";
    case Fault::BadChecksum:
      return "This PNG file is damaged: a chunk's checksum does not match its contents.";
    case Fault::Damaged: return "This PNG file is damaged or malformed and cannot be read.";
    case Fault::BadSize: return "This PNG file's width or height is zero or impossibly large.";
    case Fault::TooLarge: return "This picture is too large to import.";
    case Fault::MissingPixels:
      return "This PNG file holds too little image data for its width and height; it may be "
             "damaged.";
  }
  return "This PNG file cannot be imported.";
}

bool Write(uint32_t width, uint32_t height, std::span<const uint8_t> rgba,
           std::vector<uint8_t>& file) {
  file.clear();
  if (width == 0 || height == 0 || rgba.size() != uint64_t(width) * height * 4) return false;
  WriteStructs structs;
  Sink sink{&file, false};
  if (!OpenWriter(structs, sink)) return false;
  if (!EncodeRows(structs.png, structs.info, width, height, rgba.data())) {
    file.clear();
    return false;
  }
  return true;
}

std::string LibraryVersion() {
  // libpng reports itself without looking at a read or write struct, so none is made.
  const char* version = png_get_libpng_ver(nullptr);
  return version != nullptr ? version : "";
}

}  // namespace PngFile


namespace PngFile {

Fault ReadIndexed(std::span<const uint8_t> file, uint64_t maxRgbaBytes, IndexedPicture& picture) {
  Header header;
  if (const Fault fault = Inspect(file, maxRgbaBytes, header); fault != Fault::None) return fault;
  if (header.ColourType != PNG_COLOR_TYPE_PALETTE) return Fault::Damaged;

  ReadStructs structs;
  Source source{file.data(), file.size(), 0};
  if (!OpenReader(structs, source)) return Fault::TooLarge;
  png_structp png = structs.png;

  uint8_t colours[256 * 4];
  int colourCount = 0;
  bool interlaced = false;
  if (!StartIndexed(png, structs.info, colours, &colourCount, &interlaced)) return Fault::Damaged;
  const size_t width = header.Width;
  if (png_get_rowbytes(png, structs.info) != width) return Fault::Damaged;
  IndexedPicture read;
  try {
    read.Width = header.Width;
    read.Height = header.Height;
    read.Indices.resize(width * header.Height);
    read.Palette.assign(colours, colours + 4 * colourCount);
    std::vector<png_bytep> rows(interlaced ? header.Height : 1);
    if (interlaced) {
      // Each pass fills in some pixels of every row, so all rows are needed at once.
      for (size_t y = 0; y < rows.size(); ++y) rows[y] = read.Indices.data() + y * width;
      if (!DecodeImage(png, rows.data())) return Fault::Damaged;
    } else {
      for (size_t y = 0; y < header.Height; ++y)
        if (!DecodeRow(png, read.Indices.data() + y * width)) return Fault::Damaged;
    }
  } catch (const std::bad_alloc&) {
    return Fault::TooLarge;
  }
  if (!FinishDecoding(png)) return Fault::Damaged;
  // An index past PLTE names no colour: the file is broken, whatever a viewer makes of it.
  if (std::any_of(read.Indices.begin(), read.Indices.end(),
                  [colourCount](uint8_t i) { return i >= colourCount; }))
    return Fault::Damaged;
  picture = std::move(read);
  return Fault::None;
}

bool WriteIndexed(const IndexedPicture& picture, std::vector<uint8_t>& file) {
  file.clear();
  const size_t colours = picture.Palette.size() / 4;
  if (picture.Width == 0 || picture.Height == 0 || picture.Width > kMaxChunkLength ||
      picture.Height > kMaxChunkLength ||
      picture.Indices.size() != uint64_t(picture.Width) * picture.Height ||
      picture.Palette.size() % 4 != 0 || colours < 1 || colours > 256)
    return false;
  if (std::any_of(picture.Indices.begin(), picture.Indices.end(),
                  [colours](uint8_t i) { return i >= colours; }))
    return false;
  png_color plte[256];
  uint8_t alpha[256];
  int alphas = 0;  // tRNS stops after the last colour that is not opaque
  for (size_t i = 0; i < colours; ++i) {
    plte[i] = {picture.Palette[4 * i], picture.Palette[4 * i + 1], picture.Palette[4 * i + 2]};
    alpha[i] = picture.Palette[4 * i + 3];
    if (alpha[i] != 255) alphas = int(i) + 1;
  }
  WriteStructs structs;
  Sink sink{&file, false};
  if (!OpenWriter(structs, sink)) return false;
  if (!EncodeIndexedRows(structs.png, structs.info, picture.Width, picture.Height,
                         picture.Indices.data(), plte, int(colours), alpha, alphas)) {
    file.clear();
    return false;
  }
  return true;
}

}  // namespace PngFile
