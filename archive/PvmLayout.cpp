#include "archive/PvmLayout.h"

#include <cassert>

#include "platform/ByteOrder.h"

namespace PvmLayout {

bool ReadHeader(std::span<const uint8_t> bytes, Header& header) {
  platform::LittleEndianReader in(bytes, 4);
  Header read;
  if (!in.Read(read.headerLength) || !in.Read(read.attributes) || !in.Read(read.count)) return false;
  header = read;
  return true;
}

void WriteHeader(const Header& header, std::vector<uint8_t>& out) {
  platform::LittleEndianWriter w(out);
  w.Text(kMagic);              // magic
  w.I32(header.headerLength);  // H
  w.U16(header.attributes);    // attribute word
  w.I16(header.count);         // N
  assert(w.Written() == kFixedHeaderSize);
}

size_t NameStep(int64_t count) { return count == 2 ? 34 : 38; }

size_t NameOffset(int64_t count, int64_t k) {
  return kFirstEntryAt + 2 + NameStep(count) * size_t(k - 1);
}

int64_t NamesEnd(int64_t count) {
  return count <= 0 ? int64_t(kFixedHeaderSize) : int64_t(NameOffset(count, count) + kNameFieldSize);
}

int64_t NextChunkOffset(int64_t o, int32_t L) {
  const int64_t end = o + L;
  return end - 1 + (end + 1) % 16;
}

}  // namespace PvmLayout
