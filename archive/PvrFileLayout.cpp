#include "archive/PvrFileLayout.h"

#include <algorithm>
#include <array>

#include "platform/ByteOrder.h"
#include "texture/PvrChunk.h"

namespace PvrFileLayout {
namespace {

constexpr std::array<std::array<char, 4>, 2> kIndexMagics{{{'G', 'B', 'I', 'X'}, {'G', 'C', 'I', 'X'}}};

bool Matches(std::span<const uint8_t> bytes, const std::array<char, 4>& magic) {
  return bytes.size() >= 4 && std::equal(magic.begin(), magic.end(), bytes.begin(),
                                         [](char m, uint8_t b) { return uint8_t(m) == b; });
}

}  // namespace

Start Recognise(std::span<const uint8_t> first) {
  if (IsChunkMagic(first)) return Start::Chunk;
  return IsIndexChunkMagic(first) ? Start::IndexChunk : Start::NotPvr;
}

bool IsIndexChunkMagic(std::span<const uint8_t> four) {
  return std::any_of(kIndexMagics.begin(), kIndexMagics.end(),
                     [&](const std::array<char, 4>& magic) { return Matches(four, magic); });
}

std::string FirstMagic(std::span<const uint8_t> first) {
  return first.size() < 4 ? std::string() : std::string(first.begin(), first.begin() + 4);
}

bool IndexedChunkOffset(std::span<const uint8_t> indexChunk, int64_t& offset) {
  platform::LittleEndianReader in(indexChunk, 4);
  uint32_t G = 0;
  if (!in.Read(G)) return false;
  offset = int64_t(kIndexChunkFixedSize) + int64_t(G);
  return true;
}

bool IsChunkMagic(std::span<const uint8_t> four) { return Matches(four, PvrChunkLayout::kMagic); }

}  // namespace PvrFileLayout
