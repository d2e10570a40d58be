// Little-endian fields, the byte order of every file Quarnel reads and writes.
//
// LittleEndianReader is a cursor whose every read checks that the bytes are there first;
// LittleEndianWriter appends fields and lets a writer compare what it wrote with the size
// it computed up front. Standard library only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <type_traits>
#include <vector>

namespace platform {

class LittleEndianReader {
 public:
  explicit LittleEndianReader(std::span<const uint8_t> bytes, size_t pos = 0)
      : bytes_(bytes), pos_(pos) {}

  // Reads an integer field of v's size (1, 2 or 4 bytes) into v and advances, only when
  // the whole field is there; false otherwise.
  template <typename Integer>
  bool Read(Integer& v) {
    static_assert(std::is_integral_v<Integer> && sizeof v <= 4);
    if (!Has(sizeof v)) return false;
    uint32_t u = 0;
    for (size_t i = 0; i < sizeof v; ++i) u |= uint32_t(bytes_[pos_ + i]) << (8 * i);
    v = Integer(u);
    pos_ += sizeof v;
    return true;
  }

 private:
  bool Has(size_t n) const { return pos_ <= bytes_.size() && bytes_.size() - pos_ >= n; }

  std::span<const uint8_t> bytes_;
  size_t pos_;
};

class LittleEndianWriter {
 public:
  // Appends to out; Written() counts from out's size at this point.
  explicit LittleEndianWriter(std::vector<uint8_t>& out) : out_(out), start_(out.size()) {}

  void U8(uint8_t v) { out_.push_back(v); }
  void U16(uint16_t v) {
    out_.push_back(uint8_t(v));
    out_.push_back(uint8_t(v >> 8));
  }
  void I16(int16_t v) { U16(uint16_t(v)); }
  void U32(uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8) out_.push_back(uint8_t(v >> shift));
  }
  void I32(int32_t v) { U32(uint32_t(v)); }
  void Bytes(std::span<const uint8_t> bytes) { out_.insert(out_.end(), bytes.begin(), bytes.end()); }
  // Text as its bytes, without a terminator (magic numbers).
  void Text(const char* text) {
    while (*text != '\0') out_.push_back(uint8_t(*text++));
  }

  size_t Written() const { return out_.size() - start_; }

 private:
  std::vector<uint8_t>& out_;
  size_t start_;
};

}  // namespace platform
