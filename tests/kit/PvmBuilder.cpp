#include "kit/PvmBuilder.h"

#include <algorithm>
#include <stdexcept>

#include "archive/PvmLayout.h"
#include "platform/ByteOrder.h"
#include "texture/PvrChunk.h"

namespace archive_builder {

void SetU16At(Bytes& b, size_t at, uint16_t v) {
  b.at(at) = uint8_t(v);
  b.at(at + 1) = uint8_t(v >> 8);
}

void SetI32At(Bytes& b, size_t at, int32_t v) {
  for (int i = 0; i < 4; ++i) b.at(at + size_t(i)) = uint8_t(uint32_t(v) >> (8 * i));
}

Bytes Pattern(size_t size, uint8_t seed) {
  Bytes out(size);
  for (size_t i = 0; i < size; ++i) out[i] = uint8_t(seed + i);
  return out;
}

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes PvmHeader::Build() const {
  const size_t n = names.size();
  const size_t needed = size_t(PvmLayout::NamesEnd({.count = int16_t(n)}));
  const int32_t H = headerLength.value_or(int32_t((needed + 15) / 16 * 16 - 8));
  // Where the reader looks for the names of this header.
  const PvmLayout::Header placed{H, attributes, int16_t(n)};
  const size_t total = size_t(std::max<int64_t>(H + PvmLayout::kHeaderLengthBase, PvmLayout::kFixedHeaderSize));
  Bytes out;
  PvmLayout::WriteHeader({H, attributes, count.value_or(int16_t(n))}, out);
  for (size_t i = out.size(); i < total; ++i) out.push_back(zeroFiller ? 0 : uint8_t(filler + i));
  for (size_t k = 1; k <= n; ++k) {
    const std::string& name = names[k - 1];
    if (name.size() > PvmLayout::kNameFieldSize) throw std::invalid_argument("a name field holds 28 bytes");
    const size_t at = PvmLayout::NameOffset(placed, int64_t(k));
    if (at + PvmLayout::kNameFieldSize > out.size()) break;  // a header too short for its names, on purpose
    if (indexes) SetU16At(out, at - 2, uint16_t(k - 1));
    for (size_t i = 0; i < PvmLayout::kNameFieldSize; ++i) out[at + i] = i < name.size() ? uint8_t(name[i]) : 0;
  }
  out.resize(total);
  return out;
}

Bytes PvrChunk::Build() const {
  Bytes out(magic.begin(), magic.end());
  out.resize(4, ' ');
  platform::LittleEndianWriter w(out);
  w.I32(length.value_or(int32_t(8 + data.size())));  // L
  w.U8(pFormat);                                      // pixel format
  w.U8(eFormat);                                      // data format
  w.U16(reserved);                                    // reserved
  w.I16(width);                                       // width
  w.I16(height);                                      // height
  w.Bytes(data);                                      // data
  return out;
}

Bytes IndexChunk(uint32_t length, const std::string& magic, uint32_t globalIndex) {
  Bytes out(magic.begin(), magic.end());
  platform::LittleEndianWriter w(out);
  w.U32(length);       // G
  w.U32(globalIndex);  // global index
  w.U32(0);       // padding
  return out;
}

Bytes BuildArchive(const std::vector<Entry>& entries) {
  const size_t n = entries.size();
  std::vector<std::string> names;
  for (const Entry& e : entries) {
    if (e.name.size() >= PvmLayout::kNameFieldSize)
      throw std::invalid_argument("entry name longer than 27 bytes");
    names.push_back(e.name);
  }
  const size_t headerEnd = (PvmLayout::kFirstEntryAt + PvmLayout::NameStep({.count = int16_t(n)}) * n + 15) / 16 * 16;
  Bytes out = PvmHeader{.names = names, .headerLength = int32_t(headerEnd - 8), .attributes = 0,
                        .indexes = true, .zeroFiller = true}.Build();
  for (size_t k = 0; k < n; ++k) {
    const Entry& e = entries[k];
    if (e.globalIndex) {
      const Bytes index = IndexChunk(8, "GBIX", *e.globalIndex);
      out.insert(out.end(), index.begin(), index.end());
    }
    const size_t o = out.size();
    const Bytes chunk = PvrChunk{.pFormat = e.pFormat, .eFormat = e.eFormat,
                                 .width = int16_t(e.width), .height = int16_t(e.height),
                                 .data = e.data}.Build();
    out.insert(out.end(), chunk.begin(), chunk.end());
    if (k + 1 == n) break;
    const int64_t next = PvmLayout::NextChunkOffset(int64_t(o), int32_t(8 + e.data.size()));
    if (size_t(next) < out.size()) throw std::invalid_argument("chunk ends off a 16-byte boundary");
    out.resize(size_t(next), 0);
  }
  return out;
}

}  // namespace archive_builder
