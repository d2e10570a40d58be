// Choosing the formats of a new texture, and making one from a picture: the automatic
// choice, the names users give formats by, and the sizes each data format can hold.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "texture/Error.h"
#include "texture/Image.h"
#include "texture/Texture.h"

namespace FormatChoice {

// What a user asked for; nullopt fields are chosen automatically:
//  - pixel format: every alpha 255 gives RGB565, every alpha 0 or 255 ARGB1555, else ARGB4444;
//  - data format: a square picture with a power-of-two side is twiddled, anything else a
//    rectangle;
//  - mipmaps: on for twiddled squares, and kept as the named data format says otherwise.
struct Choice {
  std::optional<uint8_t> pixelFormat;
  std::optional<uint8_t> dataFormat;
  std::optional<bool> mipmaps;
};

// The pixel format the automatic choice gives a picture.
uint8_t AutomaticPixelFormat(const Image& picture);

// The data format a choice gives a picture of that size, with mipmaps turned on or off as
// asked; an error when the choice cannot be had (mipmaps for a format without them).
Expected<uint8_t> DataFormatFor(const Choice& choice, int64_t width, int64_t height);

// Why a data format cannot hold a texture of that size, in words ("VQ needs a square whose
// side is a power of two from 8 to 1024"); nullopt when it can.
std::optional<std::string> SizeRule(uint8_t dataFormat, int64_t width, int64_t height);

// Why the pixel format cannot be encoded in a texture of that data format and width, in
// words: a bump map never, YUV422 not at an odd width nor in VQ; nullopt when it can.
std::optional<std::string> PixelRule(uint8_t pixelFormat, uint8_t dataFormat, int64_t width);

// A texture of the picture's size in the chosen formats, encoded from it. Its data is the
// layout's bytes, padded with zeros so that its chunk is a multiple of 16 bytes long.
Expected<Texture> Make(const Image& picture, const Choice& choice);

// The same texture re-encoded in other formats (those the choice leaves open stay as they
// are), from the picture it shows now. A palettized texture is refused: what it shows
// depends on a palette this does not have.
Expected<Texture> Convert(const Texture& texture, const Choice& choice);

// Names as users type them: "argb1555", "rgb565", "argb4444", "yuv422", "rgb555" (any
// letter case) for pixel formats; a data format's name as `info` gives it ("twiddled", "VQ+mipmaps", ...) or its
// code in decimal. nullopt for anything else, or a format Quarnel does not encode.
std::optional<uint8_t> ParsePixelFormat(const std::string& text);
std::optional<uint8_t> ParseDataFormat(const std::string& text);

// A picture resampled to width x height with a proper filter (alpha-weighted), for imports
// that keep the texture's size but not the picture's framing.
std::optional<Image> Scale(const Image& picture, int32_t width, int32_t height);

}  // namespace FormatChoice
