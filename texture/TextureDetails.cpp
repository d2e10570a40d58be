#include "texture/TextureDetails.h"

#include <array>
#include <string_view>

#include "texture/DataFormats.h"
#include "texture/PvrChunk.h"
#include "texture/Texture.h"

namespace TextureDetails {
namespace {

struct Name {
  uint8_t code;
  std::string_view name;
};

constexpr std::array<Name, 6> kPixelFormatNames{{
    {PvrFormat::kARGB1555, "ARGB1555"},
    {PvrFormat::kRGB565, "RGB565"},
    {PvrFormat::kARGB4444, "ARGB4444"},
    {PvrFormat::kYUV422, "YUV422"},
    {PvrFormat::kBumpMap, "bump map"},
    {PvrFormat::kRGB555, "RGB555"},
}};

// Scripts read these from `quarnel-cli info`: names once given stay as they are.
constexpr std::array<Name, 17> kDataFormatNames{{
    {PvrFormat::kTwiddled, "twiddled"},
    {PvrFormat::kTwiddledMipmaps, "twiddled+mipmaps"},
    {PvrFormat::kTwiddledMipmapsWide1x1, "twiddled+mipmaps (8-byte 1x1)"},
    {PvrFormat::kVq, "VQ"},
    {PvrFormat::kVqMipmaps, "VQ+mipmaps"},
    {PvrFormat::kSmallVq, "small VQ"},
    {PvrFormat::kSmallVqMipmaps, "small VQ+mipmaps"},
    {PvrFormat::kRectangularTwiddled, "rectangular twiddled"},
    {PvrFormat::kRectangle, "rectangle"},
    {5, "palettized 4-bit"},
    {6, "palettized 4-bit+mipmaps"},
    {7, "palettized 8-bit"},
    {8, "palettized 8-bit+mipmaps"},
    {PvrFormat::kRectangle10, "rectangle (10)"},
    {PvrFormat::kStride, "stride"},
    {PvrFormat::kStride12, "stride (12)"},
    {PvrFormat::kRaster32, "32-bit raster"},
}};

template <size_t N>
std::string Find(const std::array<Name, N>& names, uint8_t code, std::string_view otherwise) {
  for (const Name& n : names)
    if (n.code == code) return std::string(n.name);
  return std::string(otherwise);
}

std::string Count(size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

std::string PixelFormatName(uint8_t pixelFormat) {
  return Find(kPixelFormatNames, pixelFormat, "unknown");
}

std::string DataFormatName(uint8_t dataFormat) {
  return Find(kDataFormatNames, dataFormat, "other");
}

Details Of(const Texture& texture) {
  Details details;
  if (!texture.Decodes()) return details;
  const DataFormats::Layout layout = DataFormats::LayoutOf(texture.dataFormat, texture.width, texture.height);
  details.decoded = true;
  details.mipLevels = layout.levels;
  details.codebookEntries = layout.codebookEntries;
  return details;
}

std::string Text(const Texture& texture) {
  std::string text = std::to_string(texture.width) + "x" + std::to_string(texture.height) + ", " +
                     PixelFormatName(texture.pixelFormat) + ", " + DataFormatName(texture.dataFormat);
  const Details details = Of(texture);
  if (!details.decoded) return text + ", not decoded";
  if (details.mipLevels > 1) text += ", " + Count(details.mipLevels, "mip level", "mip levels");
  if (details.codebookEntries > 0) text += ", " + Count(details.codebookEntries, "codebook entry", "codebook entries");
  // What short data lacks shows black; say why, so it is not taken for the picture.
  if (const size_t needed = texture.DataBytesNeeded(); texture.data.size() < needed)
    text += ", data ends early (" + std::to_string(texture.data.size()) + " of " + std::to_string(needed) + " bytes)";
  return text;
}

}  // namespace TextureDetails
