// The palettized data formats: indices into a bank of a palette, 4 or 8 bits each.
//
//   format  indices  layout                                      main level starts at
//   5       4-bit    twiddled squares: a square whole; a         0
//   7       8-bit    rectangle cut into squares of its shorter
//                    side along the longer one, each twiddled,
//                    one after another
//   6       4-bit    twiddled levels, smallest first: the 1 x 1  2 + (W^2 - 4) / 6
//   8       8-bit    sized as a 2 x 2 level (2 or 4 bytes), its  4 + (W^2 - 4) / 3
//                    index at twiddled place 3; then s x s in
//                    s^2 x bits / 8 bytes up to W / 2
//
// Index t of a square is at byte t (8-bit), or in byte t >> 1 (4-bit), the low nibble for
// an even t, the high one for an odd t. Sides are powers of two up to 1024; rectangles have
// sides of 8 and up; the mipmapped formats are square.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "texture/DataFormats.h"
#include "texture/Palette.h"
#include "texture/TexelCodec.h"

namespace IndexedFormats {

// DataFormats::LayoutOf for formats 5 to 8.
DataFormats::Layout LayoutOf(int dataFormat, int width, int height);

// DataFormats::LevelRange for an indexed layout. The 1 x 1 level is its whole space.
DataFormats::ByteRange LevelRange(const DataFormats::Layout& layout, size_t level);

// The main level's indices, one byte each, top row first (layout.width x layout.height of
// them). Indices the data does not hold are 0; nothing outside `data` is read.
void ReadIndices(const DataFormats::Layout& layout, std::span<const uint8_t> data,
                 uint8_t* indices);

// The main level through `colours` (BankColours::Greys of the layout's bits when null) into
// the picture, as DataFormats::DecodeMainLevel.
bool DecodeMainLevel(const DataFormats::Layout& layout, std::span<const uint8_t> data,
                     const BankColours* colours, uint8_t* rgba);

// Stores the main level's indices (top row first, each below 1 << layout.indexBits) as
// they are, and every smaller level averaged in colour from what they show through
// `colours` and mapped to its nearest colours. False, changing nothing, when `data` is
// shorter than the layout, `colours` has other index bits or an index is out of range.
bool EncodeIndices(const DataFormats::Layout& layout, const uint8_t* indices,
                   const BankColours& colours, std::span<uint8_t> data);

// Maps the picture to the nearest held colours of `colours` (ColourMatcher), smaller levels
// averaged from the picture first; otherwise as EncodeIndices.
bool Encode(const DataFormats::Layout& layout, const uint8_t* rgba, const BankColours& colours,
            std::span<uint8_t> data);

// Whether every pixel of the picture has the key (ColourMatcher::Key) of the colour the
// main level shows through `colours`.
bool DecodesTo(const DataFormats::Layout& layout, std::span<const uint8_t> data,
               const BankColours& colours, const uint8_t* rgba);

// For tests: the widest vector path decoding may take (AVX2 gathers, or AVX-512 VBMI
// byte permutations; the default is the widest the processor has). Returns the setting it
// replaces. The bytes are the same on every path.
TexelCodec::Path LimitPath(TexelCodec::Path widest);

}  // namespace IndexedFormats
