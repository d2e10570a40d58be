// A palette file (.pvp): the colours that the indices of palettized textures name.
//
//   offset  size  field
//   0       4     "PVPL"
//   4       4     u32, the bytes after this field (some tools pad past them: accepted, and
//                 only the colours that the count asks for are read)
//   8       2     u16, colour format (the k... codes below)
//   10      2     u16, a field kept as read; the game, not the file, picks a texture's bank
//   12      2     u16, the first colour: where the file's colours start in palette memory
//   14      2     u16, colour count
//   16      ...   colours: 2 bytes each (the texture layouts of TexelCodec, or RGB555), or
//                 4 bytes in the order B, G, R, A for ARGB8888
//
// Palette memory holds 1024 colours: 64 banks of 16 for 4-bit indices, or 4 banks of 256
// for 8-bit ones. A texture with bank b reads memory colour 16 b + index (4-bit) or
// 256 b + index (8-bit).
#pragma once

#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "texture/Error.h"
#include "texture/Image.h"

// The colours one bank of a palette gives a texture's indices, as the codec uses them.
struct BankColours {
  int indexBits = 8;                    // 4 or 8: the bank has 1 << indexBits entries
  uint16_t colourFormat = 0;            // Palette::k...; what "nearest" is measured in
  std::array<uint8_t, 256 * 4> rgba{};  // entry i at 4 i: red, green, blue, alpha
  std::array<uint32_t, 256> stored{};   // entry i as the palette file stores it
  std::bitset<256> held;                // entries the palette holds; the others are
                                        // transparent black and never chosen by an import
  size_t Entries() const { return size_t(1) << indexBits; }
  // Whether any entry of the bank lies beyond the palette's colours.
  bool Incomplete() const { return held.count() < Entries(); }

  // What a texture shows without a palette: greys, opaque (index x 17 for 4-bit indices,
  // the index itself for 8-bit ones). Every entry held.
  static BankColours Greys(int indexBits);
};

struct Palette {
  static constexpr uint16_t kARGB1555 = 0;
  static constexpr uint16_t kRGB565 = 1;
  static constexpr uint16_t kARGB4444 = 2;
  static constexpr uint16_t kRGB555 = 5;
  static constexpr uint16_t kARGB8888 = 6;
  static constexpr size_t kMemoryColours = 1024;
  static constexpr size_t kHeaderSize = 16;

  uint16_t colourFormat = kARGB1555;
  uint16_t bankField = 0;
  uint16_t firstColour = 0;
  std::vector<uint32_t> colours;  // as stored: 16-bit values, or 0xAARRGGBB for ARGB8888
  std::vector<uint8_t> trailing;  // bytes past the colours (padding), written back as read
  size_t trailingCounted = 0;     // how many of `trailing` the length field counts

  // Reads a palette file; `name` is how the messages name it. Refuses, with a message, a file
  // that is short, whose length or count runs past its bytes, whose colours pass palette
  // memory, or whose colour format is unknown.
  static Expected<Palette> Read(std::span<const uint8_t> bytes, const std::string& name);
  static Expected<Palette> Open(const std::string& path);
  // Whether Bytes can write the palette: a known colour format, colours within palette
  // memory from firstColour, trailingCounted within `trailing`.
  bool Writable() const;
  // The file's bytes: what Read took gives back the same bytes. Empty when not Writable().
  std::vector<uint8_t> Bytes() const;
  // Writes the file, replacing it whole or not at all; refused, with a message, when not
  // Writable().
  Failure Write(const std::string& path) const;

  size_t BytesPerColour() const { return colourFormat == kARGB8888 ? 4 : 2; }
  // Colour i of the file as red, green, blue, alpha.
  std::array<uint8_t, 4> Rgba(size_t i) const;
  // The bank that a texture of 4-bit or 8-bit indices reads. Refused, with a message, for a
  // bank beyond palette memory (64 of 16, 4 of 256) or one that holds none of the palette's
  // colours (past its last, before its first, or a palette of none), so that a bank given
  // always has a colour an import can choose.
  Expected<BankColours> Bank(int bank, int indexBits) const;

  // A new palette of (1 << indexBits) colours in `colourFormat` for the picture, made by a
  // deterministic quantiser: the same picture always gives the same palette.
  static Palette FromPicture(const Image& picture, uint16_t colourFormat, int indexBits);
};
