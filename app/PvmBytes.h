// Assembles the bytes of a PVM archive from whole entries, for the sample archive and for
// tests that need an archive on disk. Standard library only.
//
//   0    "PVMH"
//   4    H, int32: header bytes after this field (padded so chunks start on 16 bytes)
//   8    attribute word, 0
//   10   N, int16
//   12   per entry: index (u16), name (28 bytes, NUL-padded), then zeros up to the step
//        (38 bytes per entry, 34 when N is 2)
//   H+8  one chunk per entry: "PVRT", L = 8 + data bytes, pixel format, data format,
//        0 (u16), width (u16), height (u16), data
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace pvm_bytes {

struct Entry {
  std::string name;       // at most 27 bytes, so its field keeps a NUL
  uint8_t pFormat = 0;    // 0 ARGB1555, 1 RGB565, 2 ARGB4444
  uint8_t eFormat = 9;    // 9 rectangular, 1 square twiddled
  uint16_t width = 0;
  uint16_t height = 0;
  std::vector<uint8_t> data;  // texel n at bytes 2n (low) and 2n + 1 (high)
};

inline void PutU16(std::vector<uint8_t>& out, size_t at, uint16_t v) {
  out[at] = uint8_t(v);
  out[at + 1] = uint8_t(v >> 8);
}

inline void PutU32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + i] = uint8_t(v >> (8 * i));
}

// Where a reader looks for the chunk after the one at offset o with length field L.
inline size_t NextChunkOffset(size_t o, size_t L) { return o + L - 1 + (o + L + 1) % 16; }

// The archive's bytes. Throws std::invalid_argument for an entry whose name does not fit
// or whose chunk would end where a reader cannot find the next one (only the last chunk
// may end off a 16-byte boundary).
inline std::vector<uint8_t> Build(const std::vector<Entry>& entries) {
  const size_t n = entries.size();
  const size_t step = n == 2 ? 34 : 38;
  size_t headerEnd = 12 + step * n;
  headerEnd = (headerEnd + 15) / 16 * 16;  // first chunk on a 16-byte boundary

  std::vector<uint8_t> out(headerEnd, 0);
  out[0] = 'P'; out[1] = 'V'; out[2] = 'M'; out[3] = 'H';
  PutU32(out, 4, uint32_t(headerEnd - 8));   // H
  PutU16(out, 8, 0);                         // attribute word
  PutU16(out, 10, uint16_t(n));              // N
  for (size_t k = 0; k < n; ++k) {
    const std::string& name = entries[k].name;
    if (name.size() > 27) throw std::invalid_argument("entry name longer than 27 bytes");
    const size_t at = 12 + step * k;
    PutU16(out, at, uint16_t(k));            // index
    for (size_t i = 0; i < name.size(); ++i) out[at + 2 + i] = uint8_t(name[i]);
  }

  size_t o = headerEnd;
  for (size_t k = 0; k < n; ++k) {
    const Entry& e = entries[k];
    const size_t L = 8 + e.data.size();
    out.resize(o + 16 + e.data.size(), 0);
    out[o] = 'P'; out[o + 1] = 'V'; out[o + 2] = 'R'; out[o + 3] = 'T';
    PutU32(out, o + 4, uint32_t(L));         // length
    out[o + 8] = e.pFormat;                  // pixel format
    out[o + 9] = e.eFormat;                  // data format
    PutU16(out, o + 10, 0);                  // reserved
    PutU16(out, o + 12, e.width);            // width
    PutU16(out, o + 14, e.height);           // height
    std::copy(e.data.begin(), e.data.end(), out.begin() + std::ptrdiff_t(o + 16));
    if (k + 1 == n) break;
    const size_t next = NextChunkOffset(o, L);
    if (next < out.size()) throw std::invalid_argument("chunk ends off a 16-byte boundary");
    out.resize(next, 0);
    o = next;
  }
  return out;
}

}  // namespace pvm_bytes
