#include "texture/PvrChunk.h"

#include <cassert>

#include "platform/ByteOrder.h"
#include "texture/DataFormats.h"

namespace PvrChunkLayout {

bool ReadHeader(std::span<const uint8_t> bytes, PVRChunk& chunk) {
  if (bytes.size() < kHeaderSize) return false;
  platform::LittleEndianReader in(bytes, 4);
  for (size_t i = 0; i < 4; ++i) chunk.Magic[i] = char(bytes[i]);
  in.Read(chunk.Length);
  in.Read(chunk.pFormat);
  in.Read(chunk.eFormat);
  in.Read(chunk.Reserved);
  in.Read(chunk.Width);
  in.Read(chunk.Height);
  return true;
}

void WriteHeader(const PVRChunk& chunk, std::vector<uint8_t>& out) {
  platform::LittleEndianWriter w(out);
  w.Text("PVRT");       // magic, whatever the file held
  w.I32(chunk.Length);  // L
  w.U8(chunk.pFormat);  // pixel format
  w.U8(chunk.eFormat);  // data format
  w.U16(0);             // reserved, always 0
  w.I16(chunk.Width);   // width
  w.I16(chunk.Height);  // height
  assert(w.Written() == kHeaderSize);
}

bool Decodes(const PVRChunk& chunk) {
  return chunk.pFormat < PvrFormat::kPixelFormatCount &&
         DataFormats::LayoutOf(chunk.eFormat, chunk.Width, chunk.Height).Handled();
}

size_t DataBytesNeeded(const PVRChunk& chunk) {
  return Decodes(chunk) ? DataFormats::LayoutOf(chunk.eFormat, chunk.Width, chunk.Height).End() : 0;
}

bool Encodes(const PVRChunk& chunk) {
  return Decodes(chunk) && chunk.Data.size() >= DataBytesNeeded(chunk);
}

}  // namespace PvrChunkLayout
