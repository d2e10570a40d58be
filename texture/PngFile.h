// Reading and writing PNG files as 8-bit RGBA pictures, through libpng.
//
// Before libpng sees a file, Inspect walks its chunks itself and refuses what would make
// decoding unsafe or pointless:
//
//   offset  size  field
//   0       8     signature       137 'P' 'N' 'G' 13 10 26 10
//   8       ...   chunks          length (4, big-endian, at most 2^31 - 1), type (4),
//                                 data (length bytes), CRC-32 of type and data (4)
//   first chunk:  IHDR, 13 bytes: width (4), height (4), bit depth, colour type,
//                 compression, filter, interlace (1 each)
//   last chunk:   IEND; anything after it is ignored
//
// so that the picture buffer is allocated only for a size within the caller's limit and
// only when the IDAT chunks hold enough compressed bytes to fill it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace PngFile {

// Why a file cannot be read.
enum class Fault {
  None,
  NotAPng,      // does not start with the PNG signature
  Truncated,    // a chunk runs past the end, or the file ends before IEND
  BadChecksum,  // a chunk's CRC does not match its bytes
  Damaged,      // headers, chunk order or compressed data that libpng refuses
  BadSize,      // width or height zero or beyond 2^31 - 1
  TooLarge,     // the RGBA picture would pass the caller's limit
  MissingPixels,  // the compressed image data is too short to fill the picture
};

// What Inspect learns from the chunks.
struct Header {
  uint32_t Width = 0;
  uint32_t Height = 0;
  uint8_t BitDepth = 0;
  uint8_t ColourType = 0;
  uint64_t CompressedBytes = 0;  // the IDAT chunks' data, summed
};

// What Decode tells its caller before the first row.
struct Shape {
  uint32_t Width = 0;
  uint32_t Height = 0;
  // The file has an alpha channel or a transparency chunk (tRNS). When false, every alpha
  // byte is 255 and means nothing.
  bool HasAlpha = false;
};

// Checks the signature, every chunk's bounds and CRC, the header's size against
// maxRgbaBytes (4 x width x height may not pass it) and the image data's length against
// the least the picture needs. Allocates nothing. On success fills `header`.
Fault Inspect(std::span<const uint8_t> file, uint64_t maxRgbaBytes, Header& header);

// Inspects the file, then decodes it: palettes and grey expanded, tRNS turned into alpha,
// 16-bit samples scaled to 8 bits, interlacing undone; no gamma or colour-space change.
// `start` is called once with the picture's shape before any pixel buffer is allocated;
// returning false refuses the picture as TooLarge. `row` is then called for each row in
// order, top row first, with width x 4 bytes of red, green, blue, alpha that stay valid
// only during the call. A fault found after rows were handed over still comes back, and
// the caller must then drop what it has built from them. A callback may throw nothing
// but std::bad_alloc, which refuses the picture as TooLarge.
using StartFn = std::function<bool(const Shape&)>;
using RowFn = std::function<void(uint32_t y, const uint8_t* rgba)>;
Fault Decode(std::span<const uint8_t> file, uint64_t maxRgbaBytes, const StartFn& start,
             const RowFn& row);

// A whole decoded picture: Width x Height pixels of RGBA, top row first.
struct Picture {
  uint32_t Width = 0;
  uint32_t Height = 0;
  std::vector<uint8_t> Rgba;
  bool HasAlpha = false;  // as in Shape
};

// Decode into one buffer. On failure `picture` is left as it was.
Fault Read(std::span<const uint8_t> file, uint64_t maxRgbaBytes, Picture& picture);

// Whether a path names a PNG file: it ends in ".png", in any letter case. The editor and
// quarnel-cli write and read every other name as BMP.
bool NamesPng(std::string_view path);

// A sentence that tells a modder what is wrong with the file.
const char* Explain(Fault fault);

// Encodes width x height RGBA pixels, top row first (rgba holds exactly 4 x width x height
// bytes, width and height at least 1), as an 8-bit RGBA PNG with no ancillary chunks and
// its image data stored uncompressed, for speed. False, with `file` left empty, when the
// size does not match or libpng fails (memory runs out).
bool Write(uint32_t width, uint32_t height, std::span<const uint8_t> rgba,
           std::vector<uint8_t>& file);

// An indexed picture: one byte per pixel, top row first, naming colours of `Palette`
// (4 bytes each: red, green, blue, alpha).
struct IndexedPicture {
  uint32_t Width = 0;
  uint32_t Height = 0;
  std::vector<uint8_t> Indices;
  std::vector<uint8_t> Palette;
};

// Reads a palette-colour PNG (colour type 3, any bit depth) as its indices and its PLTE
// colours, alpha from tRNS (255 where tRNS says nothing), after the same checks as Read
// (Inspect), with the same faults. A PNG of any other colour type, one without PLTE and one
// with an index past PLTE's colours give Fault::Damaged. On failure `picture` is left as
// it was.
Fault ReadIndexed(std::span<const uint8_t> file, uint64_t maxRgbaBytes, IndexedPicture& picture);

// Encodes an indexed picture as an 8-bit palette-colour PNG with PLTE and, when any colour
// is not opaque, tRNS. False, with `file` left empty, when sizes do not match, the palette
// has more than 256 colours, or an index names no colour.
bool WriteIndexed(const IndexedPicture& picture, std::vector<uint8_t>& file);

// The version of the libpng loaded at run time (say "1.6.39"), which may be newer than the
// headers this was built with.
std::string LibraryVersion();

}  // namespace PngFile
