#include "texture/Texture.h"

#include <algorithm>
#include <cstring>

#include "platform/ByteOrder.h"
#include "texture/DataFormats.h"
#include "texture/IndexedFormats.h"
#include "texture/TexelCodec.h"

namespace {

using PvrChunkLayout::kMagic;

// Textures up to this many texels are shown even when their data is shorter (the missing
// texels stay black), so that formats with shorter data still show.
constexpr uint64_t kAlwaysShownTexels = 1024 * 1024;

DataFormats::Layout LayoutOf(const Texture& t) { return DataFormats::LayoutOf(t.dataFormat, t.width, t.height); }

}  // namespace

std::optional<Texture> Texture::FromHeader(std::span<const uint8_t> bytes) {
  if (bytes.size() < kHeaderSize) return std::nullopt;
  Texture t;
  platform::LittleEndianReader in(bytes, 4);
  for (size_t i = 0; i < 4; ++i) t.magic[i] = char(bytes[i]);
  in.Read(t.length);
  in.Read(t.pixelFormat);
  in.Read(t.dataFormat);
  in.Read(t.reserved);
  in.Read(t.width);
  in.Read(t.height);
  return t;
}

std::array<uint8_t, Texture::kHeaderSize> Texture::Header() const {
  std::vector<uint8_t> out;
  platform::LittleEndianWriter w(out);
  w.Text("PVRT");      // magic, whatever was read
  w.I32(length);       // length
  w.U8(pixelFormat);   // pixel format
  w.U8(dataFormat);    // data format
  w.I16(reserved);     // reserved, as read (0 in every known file)
  w.I16(width);        // width
  w.I16(height);       // height
  std::array<uint8_t, kHeaderSize> header{};
  std::copy_n(out.begin(), kHeaderSize, header.begin());
  return header;
}

bool Texture::Decodes() const { return DataFormats::Decodes(LayoutOf(*this), pixelFormat); }

size_t Texture::DataBytesNeeded() const { return Decodes() ? LayoutOf(*this).End() : 0; }

bool Texture::Encodes() const {
  return DataFormats::Encodes(LayoutOf(*this), pixelFormat) && data.size() >= DataBytesNeeded();
}

void Texture::SizeData(size_t bytes) {
  data = UnzeroedBytes(bytes, UnzeroedAllocator<uint8_t>(LayoutOf(*this).main.offset));
}

bool Texture::HasAlphaBits() const {
  // A palettized texture's palette may hold see-through colours.
  if (IsPalettized()) return true;
  return dataFormat == PvrFormat::kRaster32 || pixelFormat >= TexelCodec::kPixelFormats.size() ||
         TexelCodec::kPixelFormats[pixelFormat].AMask != 0;
}

std::optional<Image> Texture::Decode(const BankColours* colours) const {
  Image image;
  if (!DecodeInto(image, colours)) return std::nullopt;
  return image;
}

bool Texture::WithinMemoryRule() const {
  if (magic != kMagic || width < 1 || height < 1) return false;
  const uint64_t texels = uint64_t(width) * uint64_t(height);
  if (data.size() / 2 < texels && texels > kAlwaysShownTexels) return false;
  // Within the limit of the picture and of its BMP export, which is a little larger.
  return BmpFile::ExportPixelBytes(width, height) != 0 && Image::SizeAllowed(width, height);
}

bool Texture::DecodeInto(Image& image, const BankColours* colours) const {
  if (!WithinMemoryRule()) return false;
  const uint64_t texels = uint64_t(width) * uint64_t(height);
  image.width = width;
  image.height = height;
  image.rgba.resize(size_t(texels) * 4);
  const DataFormats::Layout layout = LayoutOf(*this);
  if (DataFormats::Decodes(layout, pixelFormat) &&
      DataFormats::DecodeMainLevel(layout, pixelFormat, data, image.rgba.data(), colours))
    return true;
  // Black: opaque where the format cannot say otherwise.
  const uint8_t alpha = HasAlphaBits() ? 0 : 255;
  for (size_t i = 0; i < image.rgba.size(); i += 4) image.rgba[i] = image.rgba[i + 1] = image.rgba[i + 2] = 0, image.rgba[i + 3] = alpha;
  return true;
}

std::optional<Image> Texture::Fit(const Image& picture, bool pictureHasAlpha,
                                  const BankColours* colours) const {
  std::optional<Image> fitted = Decode(colours);
  if (!fitted || picture.Empty()) return std::nullopt;
  // Beyond a smaller picture's edges texels take its bottom-left pixel, where the classic
  // editor's bottom-up surfaces had their first byte.
  const uint8_t* corner = picture.Pixel(0, picture.height - 1);
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      const uint8_t* from = x < picture.width && y < picture.height ? picture.Pixel(x, y) : corner;
      uint8_t* to = fitted->Pixel(x, y);
      std::memcpy(to, from, pictureHasAlpha ? 4 : 3);
    }
  }
  return fitted;
}

bool Texture::Encode(const Image& picture, const BankColours* colours) {
  if (magic != kMagic || !Encodes() || picture.width != width || picture.height != height) return false;
  if (IsPalettized() && (colours == nullptr || colours->indexBits != IndexBits())) return false;
  const DataFormats::Layout layout = LayoutOf(*this);
  // A picture the texture already shows changes nothing: its smaller levels stay as the
  // file made them, and a VQ texture is not quantised again, which would lose a little each
  // time it goes round. Plain texels need no check: they encode back to the bytes they came
  // from. (A mipmapped 1 x 1 texture has one level, but the spare slots of its space count
  // too.)
  // Indices are checked too: a palette may hold one colour twice, and the nearest is the
  // first of them.
  if (!DataFormats::EncodesExactly(layout, pixelFormat) &&
      DataFormats::DecodesTo(layout, pixelFormat, data, picture.rgba.data(), colours))
    return false;
  const std::vector<uint8_t> before(data.begin(), data.begin() + std::ptrdiff_t(layout.End()));
  DataFormats::Encode(layout, pixelFormat, picture.rgba.data(), data, colours);
  return !std::equal(before.begin(), before.end(), data.begin());
}

bool Texture::IsPalettized() const { return dataFormat >= 5 && dataFormat <= 8; }

int Texture::IndexBits() const {
  if (!IsPalettized()) return 0;
  return dataFormat <= 6 ? 4 : 8;
}

std::optional<std::vector<uint8_t>> Texture::Indices() const {
  if (!IsPalettized() || !Decodes() || !WithinMemoryRule()) return std::nullopt;
  std::vector<uint8_t> indices(size_t(width) * size_t(height));
  IndexedFormats::ReadIndices(LayoutOf(*this), data, indices.data());
  return indices;
}

bool Texture::EncodeIndices(std::span<const uint8_t> indices, const BankColours& colours) {
  if (magic != kMagic || !IsPalettized() || !Encodes() || colours.indexBits != IndexBits() ||
      indices.size() != size_t(width) * size_t(height))
    return false;
  // The indices the texture holds already leave it as it is, smaller levels included.
  if (const std::optional<std::vector<uint8_t>> current = Indices();
      current && std::equal(current->begin(), current->end(), indices.begin()))
    return false;
  const DataFormats::Layout layout = LayoutOf(*this);
  const std::vector<uint8_t> before(data.begin(), data.begin() + std::ptrdiff_t(layout.End()));
  if (!IndexedFormats::EncodeIndices(layout, indices.data(), colours, data)) return false;
  return !std::equal(before.begin(), before.end(), data.begin());
}
