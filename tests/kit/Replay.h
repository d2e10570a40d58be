// What the fuzz targets do with one input, shared with the regression test that replays
// the inputs they once tripped over. Each Run* function drives the core as the editor does,
// checks what must hold whatever the input, and reports:
//   accepted - the archive was opened, the picture files read, the texture decoded;
//   told     - the refusal came with an error a modder can read;
//   fault    - empty, or the first broken promise, in words.
// A fuzz target aborts on a fault; the regression test fails on one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace harness {

struct Outcome {
  bool accepted = false;
  bool told = false;
  std::string fault;
};

// The bytes as an archive, read from memory and from a file: both give the same. An
// accepted one decodes every texture, saves, reopens with the same entries and chunks, and
// saves again to the same bytes; laid out anew, it reads back with the same textures.
Outcome RunArchive(std::span<const uint8_t> bytes);

// Input layout: byte 0 picks the texture's side, bytes 1-2 (little-endian) say how many of
// the remaining bytes are the image file; the rest is the mask file. The files are read
// with and without the mask, fitted to textures of every pixel format and texel order, and
// encoded.
Outcome RunBitmap(std::span<const uint8_t> bytes);

// Input layout: width (2 bytes), height (2), pixel format (1), data format (1), length (4),
// all little-endian, then the data bytes.
inline constexpr size_t kCodecHeaderSize = 10;

// Decodes and encodes an arbitrary texture, and checks that one the codec encodes survives
// decode then encode unchanged.
Outcome RunCodec(std::span<const uint8_t> bytes);

// Input layout: bank (1 byte); shape (1: data format 5 + bits 0-1, width 8 << bits 2-3,
// height 8 << bits 4-5 for formats 5 and 7, else the width); the palette file's length
// (2, little-endian), the palette file, then the texture's data. The palette is read and
// written back; through its bank, the texture shows, keeps a picture it shows, exports its
// indices to an indexed PNG and back, and imports an edited picture to held colours.
inline constexpr size_t kPaletteHeaderSize = 4;
Outcome RunPalette(std::span<const uint8_t> bytes);

}  // namespace harness
