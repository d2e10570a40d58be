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

size_t NameStep(const Header& header) {
  const uint16_t a = header.attributes;
  const size_t described = 2 + kNameFieldSize + ((a & kHasFormats) ? 2 : 0) + ((a & kHasSize) ? 2 : 0) +
                           ((a & kHasGlobalIndex) ? 4 : 0);
  const int64_t tableEnd = int64_t(kFirstEntryAt) + int64_t(header.count) * int64_t(described);
  if ((a & kHasName) && tableEnd <= int64_t(header.headerLength) + kHeaderLengthBase) return described;
  return header.count == 2 ? 34 : 38;
}

EntryFields FieldsOf(const Header& header) {
  const uint16_t a = header.attributes;
  EntryFields fields;
  const size_t described = 2 + kNameFieldSize + ((a & kHasFormats) ? 2 : 0) + ((a & kHasSize) ? 2 : 0);
  if ((a & kHasGlobalIndex) && NameStep(header) == described + 4) fields.globalIndexAt = described;
  return fields;
}

size_t NameOffset(const Header& header, int64_t k) {
  return kFirstEntryAt + 2 + NameStep(header) * size_t(k - 1);
}

int64_t NamesEnd(const Header& header) {
  return header.count <= 0 ? int64_t(kFixedHeaderSize)
                           : int64_t(NameOffset(header, header.count) + kNameFieldSize);
}

int64_t NextChunkOffset(int64_t o, int32_t L) {
  const int64_t end = o + L;
  return end - 1 + (end + 1) % 16;
}

}  // namespace PvmLayout
