// Helpers for the command-line tests: a way to run the real binary, and a model of the
// archive's textures and of the pictures they show, written apart from the codec, so the
// tests compare the program's bytes with bytes built another way.
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "archive/PvmLayout.h"
#include "kit/BmpBuilder.h"
#include "kit/Files.h"
#include "kit/PvmBuilder.h"
#include "platform/ByteOrder.h"

namespace clitest {

using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

using testkit::ScratchFolder;

inline Bytes ReadFile(const std::string& path) { return testkit::ReadBytes(path); }
inline void WriteFile(const std::string& path, const Bytes& bytes) { testkit::WriteBytes(path, bytes); }

// ---- Running the binary -----------------------------------------------------------------

struct Outcome {
  int status = -1;  // exit status, -1 when the program did not exit normally
  std::string out;  // standard output
  std::string err;  // standard error
};

// Runs quarnel-cli with the arguments exactly as given (no shell), its output captured in
// files of `scratch`.
inline Outcome RunCli(const ScratchFolder& scratch, std::vector<std::string> args) {
  const std::string outPath = scratch / ".stdout";
  const std::string errPath = scratch / ".stderr";
  args.insert(args.begin(), QUARNEL_CLI_PATH);
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  const pid_t child = ::fork();
  if (child == 0) {
    const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out < 0 || err < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0) ::_exit(127);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  Outcome outcome;
  int wstatus = 0;
  if (child > 0 && ::waitpid(child, &wstatus, 0) == child && WIFEXITED(wstatus)) {
    outcome.status = WEXITSTATUS(wstatus);
  }
  const Bytes out = ReadFile(outPath);
  const Bytes err = ReadFile(errPath);
  outcome.out.assign(out.begin(), out.end());
  outcome.err.assign(err.begin(), err.end());
  return outcome;
}

// ---- The archive ----------------------------------------------------------------------------

struct ModelTexture {
  std::string name;  // up to 27 bytes; 28 bytes leave the field without a NUL
  uint8_t pixelFormat = 0;
  uint8_t dataFormat = 9;
  int16_t width = 0;
  int16_t height = 0;
  std::vector<uint16_t> texels;            // in data order
  uint8_t padByte = 0;                     // fills the data up to the next 16-byte boundary
  std::array<char, 4> magic{'P', 'V', 'R', 'T'};
  uint16_t reserved = 0;
};

// An archive laid out as the game's files are: header chunk with the entry table (index,
// 28-byte name, 8 more bytes per entry, given recognisable values so carrying them through
// is checked), padded to 16 bytes, then one chunk per texture, each ending on a 16-byte
// boundary.
inline Bytes BuildArchive(const std::vector<ModelTexture>& textures) {
  const size_t count = textures.size();
  std::vector<std::string> names;
  for (const ModelTexture& t : textures) names.push_back(t.name);
  const size_t headerEnd = (12 + PvmLayout::NameStep({.count = int16_t(count)}) * count + 15) / 16 * 16;
  Bytes file = archive_builder::PvmHeader{.names = names, .headerLength = int32_t(headerEnd - 8),
                                          .indexes = true}.Build();
  for (const ModelTexture& t : textures) {
    Bytes data;
    platform::LittleEndianWriter put(data);
    for (uint16_t texel : t.texels) put.U16(texel);
    while ((16 + data.size()) % 16 != 0) data.push_back(t.padByte);
    const Bytes chunk = archive_builder::PvrChunk{
        .magic = std::string(t.magic.begin(), t.magic.end()), .pFormat = t.pixelFormat,
        .eFormat = t.dataFormat, .reserved = t.reserved, .width = t.width, .height = t.height,
        .data = data}.Build();
    file.insert(file.end(), chunk.begin(), chunk.end());
  }
  return file;
}

// The same archive as the editor writes it back: every chunk magic "PVRT", the reserved
// field as read.
inline Bytes Normalised(std::vector<ModelTexture> textures) {
  for (ModelTexture& t : textures) t.magic = {'P', 'V', 'R', 'T'};
  return BuildArchive(textures);
}

// ---- Pixels ---------------------------------------------------------------------------------

struct Rgba {
  uint8_t r = 0, g = 0, b = 0, a = 0;
};

// One texel as 8-bit channels: the field's bits moved to the top, low bits 0; one-bit
// alpha becomes 0 or 255, four-bit alpha field x 16. Unknown formats are black.
inline Rgba DecodeTexel(uint8_t pixelFormat, uint16_t v) {
  auto top = [](uint32_t field, int bits) { return uint8_t(field << (8 - bits)); };
  switch (pixelFormat) {
    case 0: return {top(v >> 10 & 31, 5), top(v >> 5 & 31, 5), top(v & 31, 5), uint8_t(v >> 15 ? 255 : 0)};
    case 1: return {top(v >> 11 & 31, 5), top(v >> 5 & 63, 6), top(v & 31, 5), 0};
    case 2: return {top(v >> 8 & 15, 4), top(v >> 4 & 15, 4), top(v & 15, 4), top(v >> 12 & 15, 4)};
    default: return {};
  }
}

// The inverse of DecodeTexel for values it produces; other values keep their top bits.
inline uint16_t EncodeTexel(uint8_t pixelFormat, Rgba p) {
  switch (pixelFormat) {
    case 0: return uint16_t((p.a / 255) << 15 | (p.r >> 3) << 10 | (p.g >> 3) << 5 | p.b >> 3);
    case 1: return uint16_t((p.r >> 3) << 11 | (p.g >> 2) << 5 | p.b >> 3);
    case 2: return uint16_t((p.a >> 4) << 12 | (p.r >> 4) << 8 | (p.g >> 4) << 4 | p.b >> 4);
    default: return 0;
  }
}

// Index of the data texel shown at column x, row y of a twiddled texture: the bits of y
// and x interleaved, y in the even bits.
inline uint32_t TwiddleIndex(uint32_t x, uint32_t y) {
  uint32_t index = 0;
  for (int bit = 0; bit < 16; ++bit) {
    index |= ((y >> bit) & 1u) << (2 * bit);
    index |= ((x >> bit) & 1u) << (2 * bit + 1);
  }
  return index;
}

// The texture as shown: width x height pixels, top row first.
inline std::vector<Rgba> Picture(const ModelTexture& t) {
  std::vector<Rgba> pixels(size_t(t.width) * size_t(t.height));
  for (int y = 0; y < t.height; ++y) {
    for (int x = 0; x < t.width; ++x) {
      size_t n = 0;
      if (t.dataFormat == 9) n = size_t(y) * size_t(t.width) + size_t(x);
      else if (t.dataFormat == 1) n = TwiddleIndex(uint32_t(x), uint32_t(y));
      else continue;  // no decoder: black
      pixels[size_t(y) * size_t(t.width) + size_t(x)] = DecodeTexel(t.pixelFormat, t.texels[n]);
    }
  }
  return pixels;
}

// ---- BMP files ------------------------------------------------------------------------------

inline uint32_t Stride(int width) { return uint32_t(testkit::BmpStride(width)); }

// A 24-bit BMP: 14-byte file header, 40-byte info header, rows bottom-up; bufferLength
// bytes of rows and trailing zeros (at least height x stride).
inline Bytes BuildBmp(int width, int height, const std::vector<Rgba>& pixels, bool alphaInRed,
                      uint32_t bufferLength) {
  testkit::BmpFields f;
  f.width = width;
  f.height = height;
  f.sizeImage = uint32_t(height) * Stride(width);
  return testkit::BuildBmp(f, [&](int x, int y) {
    const Rgba& p = pixels[size_t(y) * size_t(width) + size_t(x)];
    return alphaInRed ? std::array<uint8_t, 3>{0, 0, p.a} : std::array<uint8_t, 3>{p.b, p.g, p.r};
  }, 54 + size_t(bufferLength));
}

// What the editor's Export writes for a decoded texture: the surface's whole buffer, which
// is (padding + width) x height x 4 bytes, so zeros follow the rows.
inline Bytes ExportedBmp(const ModelTexture& t, bool mask) {
  const uint32_t padding = Stride(t.width) - 3 * uint32_t(t.width);
  const uint32_t length = (padding + uint32_t(t.width)) * uint32_t(t.height) * 4;
  return BuildBmp(t.width, t.height, Picture(t), mask, length);
}

// A plain 24-bit BMP file as image editors write it.
inline Bytes PlainBmp(int width, int height, const std::vector<Rgba>& pixels, bool alphaInRed = false) {
  return BuildBmp(width, height, pixels, alphaInRed, Stride(width) * uint32_t(height));
}

}  // namespace clitest
