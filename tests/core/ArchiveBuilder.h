// Assembles PVM archives and PVR chunks byte by byte for tests, from parts a reader can
// check against the file layout:
//
//   PVM header                          PVR chunk
//   0   "PVMH"                          0   magic ("PVRT")
//   4   H, int32 (bytes after it)       4   L, int32 (8 + data bytes)
//   8   attribute word, u16             8   pixel format, u8
//   10  N, int16                        9   data format, u8
//   14  name fields, 28 bytes each,     10  reserved, u16
//       every 38 bytes (34 when N = 2)  12  width, int16
//   H+8 the first chunk                 14  height, int16
//                                       16  L - 8 data bytes
//
// Nothing here validates: a malformed archive is built by giving the wrong number on
// purpose (a length, a count) or by cutting the bytes. Example:
//
//   using namespace archive_builder;
//   Bytes pvm = Join({PvmHeader{.names = {"grass", "rock"}}.Build(),
//                     PvrChunk{.width = 4, .height = 4, .data = Pattern(32, 1)}.Build(),
//                     PvrChunk{.width = 4, .height = 4, .data = Pattern(32, 2)}.Build()});
#pragma once

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace archive_builder {

using Bytes = std::vector<uint8_t>;

inline void PutU16(Bytes& out, uint16_t v) {
  out.push_back(uint8_t(v));
  out.push_back(uint8_t(v >> 8));
}

inline void PutI32(Bytes& out, int32_t v) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(uint8_t(uint32_t(v) >> shift));
}

// Overwrites a little-endian field in bytes already built (to break an archive on purpose).
inline void SetU16At(Bytes& b, size_t at, uint16_t v) {
  b.at(at) = uint8_t(v);
  b.at(at + 1) = uint8_t(v >> 8);
}
inline void SetI32At(Bytes& b, size_t at, int32_t v) {
  for (int i = 0; i < 4; ++i) b.at(at + size_t(i)) = uint8_t(uint32_t(v) >> (8 * i));
}

// size bytes counting up from seed (wrapping), so every chunk's data is recognisable.
inline Bytes Pattern(size_t size, uint8_t seed) {
  Bytes out(size);
  for (size_t i = 0; i < size; ++i) out[i] = uint8_t(seed + i);
  return out;
}

inline Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// Where the k-th name field (k from 1) of an archive with `count` entries begins.
inline size_t NameOffset(size_t count, size_t k) { return 14 + (count == 2 ? 34 : 38) * (k - 1); }

struct PvmHeader {
  // Each name goes in a 28-byte field, padded with NULs; a name of exactly 28 bytes has no
  // NUL. Bytes are written as given (Windows-1252 in real archives).
  std::vector<std::string> names = {};
  // H. By default the smallest that holds every name field and puts the first chunk on a
  // 16-byte boundary.
  std::optional<int32_t> headerLength = std::nullopt;
  // N. By default the number of names; the names are placed for names.size() entries
  // whatever N says.
  std::optional<int16_t> count = std::nullopt;
  uint16_t attributes = 0x000F;

  // The header chunk, H + 8 bytes. Bytes that are neither a field nor a name (the rest of
  // each entry, padding) hold 0xA0 + their offset, so tests see them carried unchanged.
  Bytes Build() const {
    const size_t n = names.size();
    const size_t needed = n == 0 ? 12 : NameOffset(n, n) + 28;
    const int32_t H = headerLength.value_or(int32_t((needed + 15) / 16 * 16 - 8));
    const size_t total = size_t(std::max<int64_t>(int64_t(H) + 8, 12));
    Bytes out{'P', 'V', 'M', 'H'};
    PutI32(out, H);
    PutU16(out, attributes);
    PutU16(out, uint16_t(count.value_or(int16_t(n))));
    for (size_t i = out.size(); i < total; ++i) out.push_back(uint8_t(0xA0 + i));
    for (size_t k = 1; k <= n; ++k) {
      const std::string& name = names[k - 1];
      if (name.size() > 28) throw std::invalid_argument("a name field holds 28 bytes");
      const size_t at = NameOffset(n, k);
      if (at + 28 > out.size()) break;  // a header too short for its names, on purpose
      for (size_t i = 0; i < 28; ++i) out[at + i] = i < name.size() ? uint8_t(name[i]) : 0;
    }
    out.resize(total);
    return out;
  }
};

struct PvrChunk {
  std::string magic = "PVRT";  // four bytes
  // L. By default 8 + the data bytes (the length counts what follows the field).
  std::optional<int32_t> length = std::nullopt;
  uint8_t pFormat = 1;
  uint8_t eFormat = 9;
  uint16_t reserved = 0;
  int16_t width = 0;
  int16_t height = 0;
  Bytes data = {};

  // The chunk, 16 + data bytes, whatever length field it was given.
  Bytes Build() const {
    Bytes out(magic.begin(), magic.end());
    out.resize(4, ' ');
    PutI32(out, length.value_or(int32_t(8 + data.size())));
    out.push_back(pFormat);
    out.push_back(eFormat);
    PutU16(out, reserved);
    PutU16(out, uint16_t(width));
    PutU16(out, uint16_t(height));
    out.insert(out.end(), data.begin(), data.end());
    return out;
  }
};

}  // namespace archive_builder
