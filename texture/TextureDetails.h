// What a texture is, in the words the editor and the command-line tool both show: its size,
// its pixel and data formats by name, and what its layout holds (mip levels, codebook
// entries), or that Quarnel does not decode it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct Texture;

namespace TextureDetails {

// "ARGB1555", "RGB565", "ARGB4444", "YUV422", "bump map", "RGB555"; "unknown" for a format
// without a codec.
std::string PixelFormatName(uint8_t pixelFormat);

// "twiddled" (1), "twiddled+mipmaps" (2), "VQ" (3), ...; "other" for a data format without
// a layout.
std::string DataFormatName(uint8_t dataFormat);

struct Details {
  bool decoded = false;        // whether the codec decodes (and so shows) the texture
  size_t mipLevels = 0;        // 1 without mipmaps; 0 when not decoded
  size_t codebookEntries = 0;  // VQ only; 0 otherwise
};

Details Of(const Texture& texture);

// One line, for example "64x64, ARGB1555, VQ+mipmaps, 7 mip levels, 256 codebook entries",
// "32x8, RGB565, rectangle" or "16x16, unknown, VQ, not decoded".
std::string Text(const Texture& texture);

}  // namespace TextureDetails
