// What the fuzz targets do with one input, shared with the regression test that replays
// the inputs they once tripped over. Each Run* function drives the core the way the editor
// does (messages answered Yes/Ok), checks what must hold whatever the input, and reports:
//   accepted - the archive / bitmap / chunk was taken (opened, loaded, decoded);
//   told     - the user was shown at least one message;
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

// The bytes as an archive file: open it; when it is accepted, decode every texture, save
// it in place, reopen it and expect the same rows and chunks, and expect a second save to
// change nothing.
Outcome RunArchive(std::span<const uint8_t> bytes);

// Input layout: byte 0 picks the texture's side, bytes 1-2 (little-endian) say how many of
// the remaining bytes are the image file; the rest is the mask file. The image is imported
// with and without the mask into textures of every pixel format and texel order.
Outcome RunBitmap(std::span<const uint8_t> bytes);

// Input layout: width (2 bytes), height (2), pixel format (1), data format (1), length (4),
// all little-endian, then the data bytes.
inline constexpr size_t kCodecHeaderSize = 10;

// Decodes and encodes an arbitrary chunk record, probes pixels at odd coordinates, and
// checks that a chunk the codec fully understands survives decode then encode unchanged.
Outcome RunCodec(std::span<const uint8_t> bytes);

}  // namespace harness
