// The picture files a texture is exported to and imported from: one 8-bit RGBA PNG, or a
// 24-bit BMP of the colours with a 24-bit BMP mask that holds alpha in its red bytes.
// Reading gives an Image, writing takes one; failures come back as errors in the words the
// editor shows. Nothing here asks before replacing a file: the caller does.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "texture/BmpFile.h"
#include "texture/Error.h"
#include "texture/Image.h"

namespace PictureFiles {

// A picture read for an import.
struct Picture {
  Image image;
  // Whether the files give alpha: a mask file, or a PNG with an alpha channel or tRNS.
  // Without it each texel keeps the alpha it has (Texture::Fit).
  bool hasAlpha = false;
  // What the BMP files said of their resolution; nullopt for a PNG or an absent mask.
  std::optional<BmpFile::Resolution> imageResolution, maskResolution;
};

// Reads a PNG (the mask path is then ignored) or a 24-bit BMP with, when maskPath is not
// empty, a mask BMP of the same size. Refused: missing files ("This file does not exist."),
// unreadable ones, BMPs that are not 24-bit ("Lazy coder alert: ..."), damaged or
// oversized files, and a mask of another size, each with the file's path.
Expected<Picture> Read(const std::string& imagePath, const std::string& maskPath);

// The size of the picture a PNG or BMP file holds, from its headers alone, after the checks
// reading it would make of them; `label` names it in messages.
struct Size {
  int32_t width = 0;
  int32_t height = 0;
};
Expected<Size> Measure(std::span<const uint8_t> file, const std::string& label);

// A PNG held in memory; `label` names it in messages.
Expected<Picture> ReadPng(std::span<const uint8_t> file, const std::string& label);

// What kind of file a path names: a PNG when it ends in ".png" in any letter case, else a
// BMP.
bool NamesPng(const std::string& path);

// The file bytes of an export of `decoded` (Texture::Decode's picture):
//  - Png: 8-bit RGBA;
//  - BmpImage: the colours;
//  - BmpMask: alpha in the red bytes, black for a texture without alpha bits.
// A BMP holds its rows bottom-up, padded to four bytes, and then as many zero bytes again as
// the classic editor's surfaces held (the file is 54 + (padding + width) x height x 4
// bytes), with `resolution` in its header. nullopt when memory runs out.
enum class Export { Png, BmpImage, BmpMask };
std::optional<std::vector<uint8_t>> Encode(const Image& decoded, Export kind, bool hasAlphaBits,
                                           BmpFile::Resolution resolution);

// Encodes and writes an export, replacing the file whole or not at all. The error is
// "Whoops" with the path and the reason.
Failure Write(const std::string& path, const Image& decoded, Export kind, bool hasAlphaBits,
              BmpFile::Resolution resolution);

}  // namespace PictureFiles
