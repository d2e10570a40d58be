#include "texture/FormatChoice.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>

#include "texture/DataFormats.h"
#include "texture/TextureDetails.h"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#define STB_IMAGE_RESIZE_IMPLEMENTATION
#define STB_IMAGE_RESIZE_STATIC
#include <stb/stb_image_resize.h>
#pragma GCC diagnostic pop

namespace FormatChoice {
namespace {

bool IsPowerOfTwo(int64_t v) { return v > 0 && (v & (v - 1)) == 0; }

// The data formats Quarnel encodes, each with its twin with or without mipmaps (itself when
// it has none).
struct DataFormatPair {
  uint8_t code;
  uint8_t withMipmaps;
  uint8_t withoutMipmaps;
};
constexpr std::array<DataFormatPair, 13> kDataFormats{{
    {PvrFormat::kTwiddled, PvrFormat::kTwiddledMipmaps, PvrFormat::kTwiddled},
    {PvrFormat::kTwiddledMipmaps, PvrFormat::kTwiddledMipmaps, PvrFormat::kTwiddled},
    {PvrFormat::kTwiddledMipmapsWide1x1, PvrFormat::kTwiddledMipmapsWide1x1, PvrFormat::kTwiddled},
    {PvrFormat::kVq, PvrFormat::kVqMipmaps, PvrFormat::kVq},
    {PvrFormat::kVqMipmaps, PvrFormat::kVqMipmaps, PvrFormat::kVq},
    {PvrFormat::kSmallVq, PvrFormat::kSmallVqMipmaps, PvrFormat::kSmallVq},
    {PvrFormat::kSmallVqMipmaps, PvrFormat::kSmallVqMipmaps, PvrFormat::kSmallVq},
    {PvrFormat::kRectangle, 0, PvrFormat::kRectangle},
    {PvrFormat::kRectangularTwiddled, 0, PvrFormat::kRectangularTwiddled},
    {PvrFormat::kRectangle10, 0, PvrFormat::kRectangle10},
    {PvrFormat::kStride, 0, PvrFormat::kStride},
    {PvrFormat::kStride12, 0, PvrFormat::kStride12},
    {PvrFormat::kRaster32, 0, PvrFormat::kRaster32},
}};

const DataFormatPair* Find(uint8_t code) {
  for (const DataFormatPair& pair : kDataFormats)
    if (pair.code == code) return &pair;
  return nullptr;
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::tolower(c)); });
  return text;
}

Error Refused(const std::string& text) { return {"", text, Icon::Exclamation}; }

}  // namespace

uint8_t AutomaticPixelFormat(const Image& picture) {
  bool opaque = true, twoLevels = true;
  for (size_t i = 3; i < picture.rgba.size(); i += 4) {
    const uint8_t a = picture.rgba[i];
    opaque &= a == 255;
    twoLevels &= a == 0 || a == 255;
  }
  return opaque ? PvrFormat::kRGB565 : twoLevels ? PvrFormat::kARGB1555 : PvrFormat::kARGB4444;
}

Expected<uint8_t> DataFormatFor(const Choice& choice, int64_t width, int64_t height) {
  const bool twiddledSquare = width == height && IsPowerOfTwo(width);
  if (!choice.dataFormat) {
    if (!twiddledSquare) {
      if (choice.mipmaps.value_or(false))
        return Refused("Only a square whose side is a power of two can have mipmaps.");
      return PvrFormat::kRectangle;
    }
    return choice.mipmaps.value_or(true) ? PvrFormat::kTwiddledMipmaps : PvrFormat::kTwiddled;
  }
  const DataFormatPair* pair = Find(*choice.dataFormat);
  if (pair == nullptr) return Refused("Quarnel does not encode data format " + std::to_string(*choice.dataFormat) + ".");
  if (!choice.mipmaps) return pair->code;
  if (*choice.mipmaps && pair->withMipmaps == 0)
    return Refused("A " + TextureDetails::DataFormatName(pair->code) + " texture has no mipmaps.");
  return *choice.mipmaps ? pair->withMipmaps : pair->withoutMipmaps;
}

std::optional<std::string> SizeRule(uint8_t dataFormat, int64_t width, int64_t height) {
  const std::string name = TextureDetails::DataFormatName(dataFormat);
  if (width < 1 || height < 1 || width > 8192 || height > 8192 || !Image::SizeAllowed(width, height))
    return "A texture's sides must be from 1 to 8192 pixels.";
  if (DataFormats::LayoutOf(dataFormat, int(width), int(height)).Handled()) return std::nullopt;
  switch (dataFormat) {
    case PvrFormat::kVq:
    case PvrFormat::kVqMipmaps:
    case PvrFormat::kSmallVq:
    case PvrFormat::kSmallVqMipmaps:
      return name + " needs a square whose side is a power of two from 8 to 1024.";
    case PvrFormat::kRectangularTwiddled:
      return name + " needs sides that are powers of two.";
    case PvrFormat::kStride:
    case PvrFormat::kStride12:
      return name + " needs a width that is a multiple of 32, from 32 to 992.";
    default:
      return name + " needs a square whose side is a power of two.";
  }
}

Expected<Texture> Make(const Image& picture, const Choice& choice) {
  const Expected<uint8_t> dataFormat = DataFormatFor(choice, picture.width, picture.height);
  if (!dataFormat) return dataFormat.error();
  if (const auto rule = SizeRule(*dataFormat, picture.width, picture.height)) return Refused(*rule);
  Texture texture;
  texture.pixelFormat = choice.pixelFormat.value_or(AutomaticPixelFormat(picture));
  texture.dataFormat = *dataFormat;
  texture.width = int16_t(picture.width);
  texture.height = int16_t(picture.height);
  if (const auto rule = PixelRule(texture.pixelFormat, texture.dataFormat, texture.width)) return Refused(*rule);
  if (!texture.Decodes()) return Refused("Quarnel does not encode pixel format " + std::to_string(texture.pixelFormat) + ".");
  // The chunk (16 header bytes and the data) ends on a 16-byte boundary, as the game's own
  // archives lay theirs out.
  const size_t layoutBytes = texture.DataBytesNeeded();
  texture.SizeData((layoutBytes + 15) / 16 * 16);
  std::fill(texture.data.begin(), texture.data.end(), uint8_t{0});
  texture.length = int32_t(PvrChunkLayout::kLengthBase + texture.data.size());
  // A picture that blank data already decodes to leaves the data blank, which is right.
  texture.Encode(picture);
  return texture;
}

Expected<Texture> Convert(const Texture& texture, const Choice& choice) {
  // Without its palette a palettized texture decodes to greys, which a conversion would keep
  // as if they were its colours.
  if (texture.IsPalettized())
    return Refused("This texture's colours are in a palette file; Quarnel cannot convert it without its palette.");
  const std::optional<Image> picture = texture.Decode();
  if (!picture || !texture.Decodes()) return Refused("Quarnel does not decode this texture, so it cannot re-encode it.");
  Choice kept = choice;
  if (!kept.pixelFormat) kept.pixelFormat = texture.pixelFormat;
  if (!kept.dataFormat) kept.dataFormat = texture.dataFormat;
  return Make(*picture, kept);
}

std::optional<std::string> PixelRule(uint8_t pixelFormat, uint8_t dataFormat, int64_t width) {
  if (dataFormat == PvrFormat::kRaster32) return std::nullopt;  // its own four channels
  if (pixelFormat == PvrFormat::kBumpMap)
    return "Quarnel shows a bump map as a normal map but does not encode one: a picture holds no angles and elevations.";
  if (pixelFormat != PvrFormat::kYUV422) return std::nullopt;
  if (width % 2 != 0)
    return "YUV422 needs an even width: its texels come in pairs, two pixels side by side sharing U and V.";
  if (dataFormat == PvrFormat::kVq || dataFormat == PvrFormat::kVqMipmaps || dataFormat == PvrFormat::kSmallVq ||
      dataFormat == PvrFormat::kSmallVqMipmaps)
    return "Quarnel does not encode YUV422 in VQ: its codebooks are built texel by texel, and YUV texels come in pairs.";
  return std::nullopt;
}

std::optional<uint8_t> ParsePixelFormat(const std::string& text) {
  for (uint8_t code = 0; code < PvrFormat::kPixelFormatCount; ++code)
    if (code != PvrFormat::kBumpMap && Lower(TextureDetails::PixelFormatName(code)) == Lower(text)) return code;
  return std::nullopt;
}

std::optional<uint8_t> ParseDataFormat(const std::string& text) {
  unsigned code = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), code);
  if (ec == std::errc() && end == text.data() + text.size()) {
    if (code <= 255 && Find(uint8_t(code)) != nullptr) return uint8_t(code);
    return std::nullopt;
  }
  for (const DataFormatPair& pair : kDataFormats)
    if (Lower(TextureDetails::DataFormatName(pair.code)) == Lower(text)) return pair.code;
  return std::nullopt;
}

std::optional<Image> Scale(const Image& picture, int32_t width, int32_t height) {
  std::optional<Image> scaled = Image::Blank(width, height);
  if (!scaled || picture.Empty()) return std::nullopt;
  if (!stbir_resize_uint8_srgb(picture.rgba.data(), picture.width, picture.height, 0, scaled->rgba.data(), width,
                               height, 0, 4, 3, 0))
    return std::nullopt;
  return scaled;
}

}  // namespace FormatChoice
