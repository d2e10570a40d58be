// Vector quantisation for VQ textures: a codebook of 2 x 2 texel blocks and one index per
// block of the picture, chosen so that the decoded texture comes as close as it can to the
// picture, counting colour and alpha after the pixel format's own quantisation.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace VectorQuantiser {

// One 2 x 2 block of the picture: four pixels in codebook order (top-left, bottom-left,
// top-right, bottom-right), each red, green, blue, alpha.
using Block = std::array<uint8_t, 16>;

struct Codebook {
  // entries x 4 texels in the pixel format, entry after entry, each in block order.
  std::vector<uint16_t> texels;
  size_t Entries() const { return texels.size() / 4; }
};

struct Result {
  Codebook codebook;
  std::vector<uint8_t> indices;  // one per block, in the order the blocks were given
};

// Chooses at most `entries` (1 to 256) codebook entries in pixelFormat (0, 1 or 2) and an
// index per block, minimising the summed squared error of every channel the format keeps
// (alpha only where the format has alpha bits) between the decoded blocks and the given
// ones. The same blocks always give the same result, on any processor and with any number
// of threads. The codebook always has `entries` entries (a count out of range is brought
// into it); entries no block uses are zero texels. Each index is NearestEntry of its block.
// When the blocks hold no more than `entries` distinct blocks after the format's own
// quantisation (each channel at its nearest level), each block gets exactly that quantised
// block. An unknown pixel format gives an empty result.
// Time grows with blocks x entries; memory is about a hundred bytes a block.
Result Quantise(std::span<const Block> blocks, int pixelFormat, size_t entries);

// The index of the entry whose decoded block is nearest to `block`, by the same measure;
// the lowest such index on a tie. Looks at no more than the first 256 entries; 0 for an
// empty codebook or an unknown pixel format.
uint8_t NearestEntry(const Codebook& codebook, int pixelFormat, const Block& block);

// For tests: whether the search for nearest entries may use the processor's wider vector
// instructions where it has them (the default); the result is the same either way. Returns
// the setting it replaces.
bool AllowVectorUnit(bool allow);

}  // namespace VectorQuantiser
