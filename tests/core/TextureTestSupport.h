// Helpers for the texture tests: a scratch folder, a message recorder, a BMP file builder
// that spells out every field, and a texture loaded from a chunk.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/Messages.h"
#include "texture/cPVR.h"
#include "TextureModel.h"

namespace testing_support {

// A fresh folder for one test, removed with everything in it afterwards.
class ScratchFolder {
 public:
  ScratchFolder() {
    static int counter = 0;
    path_ = std::filesystem::temp_directory_path() /
            ("quarnel-codec-" + std::to_string(::getpid()) + "-" + std::to_string(++counter));
    std::filesystem::create_directories(path_);
  }
  ~ScratchFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// Records every message box and answers questions with `answer`.
class MessageRecorder {
 public:
  explicit MessageRecorder(platform::Answer answer = platform::Answer::Yes) {
    previous_ = platform::SetMessageHook([this, answer](const platform::Message& m) {
      seen.push_back(m);
      return m.buttons == platform::Buttons::Ok ? platform::Answer::Ok : answer;
    });
  }
  ~MessageRecorder() { platform::SetMessageHook(previous_); }
  std::vector<platform::Message> seen;

 private:
  platform::MessageHook previous_;
};

inline void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline void PutU16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(uint8_t(v));
  out.push_back(uint8_t(v >> 8));
}
inline void PutU32(std::vector<uint8_t>& out, uint32_t v) {
  for (int s = 0; s < 32; s += 8) out.push_back(uint8_t(v >> s));
}

// The fields of a BMP file to build; the defaults make a plain 24-bit bottom-up file.
struct BmpFields {
  int32_t width = 1;
  int32_t height = 1;      // stored as given: negative for top-down rows
  uint32_t infoSize = 40;  // bytes of info header written (zero-filled past 40)
  uint16_t planes = 1;
  uint16_t bitCount = 24;
  uint32_t compression = 0;
  uint32_t sizeImage = 0;
  int32_t xPelsPerMeter = 0;
  int32_t yPelsPerMeter = 0;
  uint32_t clrUsed = 0;
  uint32_t clrImportant = 0;
  uint32_t gap = 0;        // bytes between the headers and the rows
  int64_t offBits = -1;    // -1: right after the headers and the gap
};

// A BMP file of the picture's colours (or its alpha as red, for a mask), rows padded to 4
// bytes, in the order the height's sign asks for. The rows follow the headers and the gap,
// or start at offBits when that lies further on; no rows for a width or height of 0 or less.
inline std::vector<uint8_t> MakeBmp(const BmpFields& f, const model::Picture& p,
                                    bool mask = false) {
  const uint32_t headersEnd = 14 + f.infoSize + f.gap;
  const uint32_t offBits = f.offBits >= 0 ? uint32_t(f.offBits) : headersEnd;
  std::vector<uint8_t> out;
  out.push_back('B');
  out.push_back('M');
  PutU32(out, 0);  // bfSize, patched below
  PutU16(out, 0);
  PutU16(out, 0);
  PutU32(out, offBits);
  PutU32(out, f.infoSize);
  PutU32(out, uint32_t(f.width));
  PutU32(out, uint32_t(f.height));
  PutU16(out, f.planes);
  PutU16(out, f.bitCount);
  PutU32(out, f.compression);
  PutU32(out, f.sizeImage);
  PutU32(out, uint32_t(f.xPelsPerMeter));
  PutU32(out, uint32_t(f.yPelsPerMeter));
  PutU32(out, f.clrUsed);
  PutU32(out, f.clrImportant);
  out.resize(headersEnd, 0x5A);  // later header fields and the gap (or a shorter header)
  if (offBits > out.size()) out.resize(offBits, 0x5A);
  const int columns = f.width > 0 ? f.width : 0;
  const int rows = f.height < 0 ? -f.height : f.height;
  const size_t stride = model::Stride(columns);
  for (int r = 0; r < rows; ++r) {
    const int y = f.height < 0 ? r : rows - 1 - r;  // picture row stored r-th
    for (int x = 0; x < columns; ++x) {
      const model::Rgba c = p.at(x, y);
      out.push_back(mask ? 0 : c.b);
      out.push_back(mask ? 0 : c.g);
      out.push_back(mask ? c.a : c.r);
    }
    for (size_t pad = size_t(columns) * 3; pad < stride; ++pad) out.push_back(0);
  }
  const uint32_t size = uint32_t(out.size());
  for (int s = 0; s < 4; ++s) out[2 + size_t(s)] = uint8_t(size >> (8 * s));
  return out;
}

inline std::vector<uint8_t> MakeBmp(const model::Picture& p, bool mask = false) {
  BmpFields f;
  f.width = p.w;
  f.height = p.h;
  return MakeBmp(f, p, mask);
}

// A texture holding a chunk of the given formats and size over `data`.
inline std::unique_ptr<cPVR> Texture(int pixelFormat, int dataFormat, int w, int h,
                                     const std::vector<uint8_t>& data) {
  auto t = std::make_unique<cPVR>();
  t->LoadPVR(data, int16_t(h), int16_t(w), uint8_t(pixelFormat), uint8_t(dataFormat),
             int32_t(data.size() + 8));
  return t;
}

// Everything a surface consists of, to check that a refused operation changed nothing.
struct SurfaceState {
  explicit SurfaceState(const cPVR& t, int16_t mode)
      : info(t.SurfaceInfo(mode)), bits(t.SurfaceBits(mode)),
        padding(t.SurfaceRowPadding(mode)) {}
  bool operator==(const SurfaceState& o) const {
    return std::memcmp(&info, &o.info, sizeof info) == 0 && bits == o.bits &&
           padding == o.padding;
  }
  BmpFile::BITMAPINFOHEADER info;
  std::vector<uint8_t> bits;
  int16_t padding;
};

}  // namespace testing_support
