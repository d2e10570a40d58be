// Helpers for the command-line tests: a scratch folder, a way to run the real binary, and
// a model of the archive and BMP formats written from their layouts, apart from the core,
// so the tests compare the program's bytes with bytes built another way.
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace clitest {

using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

// ---- Files ------------------------------------------------------------------------------

// A fresh folder under the system's temporary folder, removed with everything in it.
class ScratchFolder {
 public:
  ScratchFolder() {
    std::string pattern = (fs::temp_directory_path() / "quarnel-cli-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    path_ = pattern;
  }
  ~ScratchFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  std::string operator/(const std::string& name) const { return (path_ / name).string(); }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

inline Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

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

// ---- Little-endian writing ----------------------------------------------------------------

inline void PutU16(Bytes& b, uint32_t v) {
  b.push_back(uint8_t(v));
  b.push_back(uint8_t(v >> 8));
}
inline void PutU32(Bytes& b, uint32_t v) {
  PutU16(b, v & 0xFFFF);
  PutU16(b, v >> 16);
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
  const size_t step = count == 2 ? 34 : 38;  // the game's files use 34 for two entries
  Bytes table;
  for (size_t k = 0; k < count; ++k) {
    Bytes entry;
    PutU16(entry, uint32_t(k));                                    // entry index
    std::string name = textures[k].name;
    name.resize(28, '\0');
    entry.insert(entry.end(), name.begin(), name.end());           // name field
    while (entry.size() < step) entry.push_back(uint8_t(0xA0 + k));  // format, size, ...
    table.insert(table.end(), entry.begin(), entry.end());
  }
  size_t headerEnd = 12 + table.size();
  headerEnd = (headerEnd + 15) / 16 * 16;

  Bytes file{'P', 'V', 'M', 'H'};
  PutU32(file, uint32_t(headerEnd - 8));  // H: header bytes after this field
  PutU16(file, 0x000F);                   // attribute word
  PutU16(file, uint32_t(count));          // N
  file.insert(file.end(), table.begin(), table.end());
  file.resize(headerEnd, 0);

  for (const ModelTexture& t : textures) {
    Bytes data;
    for (uint16_t texel : t.texels) PutU16(data, texel);
    while ((16 + data.size()) % 16 != 0) data.push_back(t.padByte);
    file.insert(file.end(), t.magic.begin(), t.magic.end());  // magic
    PutU32(file, uint32_t(8 + data.size()));                  // L
    file.push_back(t.pixelFormat);                            // pixel format
    file.push_back(t.dataFormat);                             // data format
    PutU16(file, t.reserved);                                 // reserved
    PutU16(file, uint16_t(t.width));                          // width
    PutU16(file, uint16_t(t.height));                         // height
    file.insert(file.end(), data.begin(), data.end());        // texels and padding
  }
  return file;
}

// The same archive as the editor writes it back: every chunk magic "PVRT", reserved 0.
inline Bytes Normalised(std::vector<ModelTexture> textures) {
  for (ModelTexture& t : textures) {
    t.magic = {'P', 'V', 'R', 'T'};
    t.reserved = 0;
  }
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

inline uint32_t Stride(int width) { return uint32_t((width * 24 + 31) / 32 * 4); }

// A 24-bit BMP: 14-byte file header, 40-byte info header, rows bottom-up; bufferLength
// bytes of rows and trailing zeros (at least height x stride).
inline Bytes BuildBmp(int width, int height, const std::vector<Rgba>& pixels, bool alphaInRed,
                      uint32_t bufferLength) {
  const uint32_t stride = Stride(width);
  Bytes b{'B', 'M'};
  PutU32(b, 54 + bufferLength);            // bfSize
  PutU16(b, 0);                            // bfReserved1
  PutU16(b, 0);                            // bfReserved2
  PutU32(b, 54);                           // bfOffBits
  PutU32(b, 40);                           // biSize
  PutU32(b, uint32_t(width));              // biWidth
  PutU32(b, uint32_t(height));             // biHeight
  PutU16(b, 1);                            // biPlanes
  PutU16(b, 24);                           // biBitCount
  PutU32(b, 0);                            // biCompression
  PutU32(b, uint32_t(height) * stride);    // biSizeImage
  for (int i = 0; i < 4; ++i) PutU32(b, 0);  // pels per metre x and y, colours used, important
  for (int row = height - 1; row >= 0; --row) {
    for (int x = 0; x < width; ++x) {
      const Rgba& p = pixels[size_t(row) * size_t(width) + size_t(x)];
      if (alphaInRed) {
        b.insert(b.end(), {0, 0, p.a});
      } else {
        b.insert(b.end(), {p.b, p.g, p.r});
      }
    }
    b.resize(b.size() + stride - 3 * uint32_t(width), 0);
  }
  b.resize(54 + bufferLength, 0);
  return b;
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
