// The chunk record and the codec: storing and handing back a PVR chunk, decoding it into
// the surfaces and encoding the surfaces back into it.
#include "texture/cPVR.h"

#include <algorithm>
#include <utility>

#include "texture/DataFormats.h"
#include "texture/TexelCodec.h"

namespace {

using PvrChunkLayout::kMagic;

}  // namespace

void cPVR::SavePVR(std::vector<uint8_t>& Dataset, int16_t& Height, int16_t& Width,
                   uint8_t& pmat, uint8_t& emat, int32_t& Length) const {
  Dataset = Chunk.Data;
  Height = Chunk.Height;
  Width = Chunk.Width;
  pmat = Chunk.pFormat;
  emat = Chunk.eFormat;
  Length = Chunk.Length;
}

void cPVR::SetPVRData(int32_t Length, uint8_t pFormat, uint8_t eFormat, int16_t Width,
                      int16_t Height, std::span<const uint8_t> Data) {
  Chunk.Length = Length;
  Chunk.pFormat = pFormat;
  Chunk.eFormat = eFormat;
  Chunk.Width = Width;
  Chunk.Height = Height;
  Chunk.Magic = kMagic;
  Chunk.Data.assign(Data.begin(), Data.end());
}

// A chunk with a single data byte is stored like any other, so that a later save writes it
// back instead of an empty chunk.
void cPVR::LoadPVR(std::span<const uint8_t> Dataset, int16_t Height, int16_t Width,
                   uint8_t pmat, uint8_t emat, int32_t Length) {
  SetPVRData(Length, pmat, emat, Width, Height, Dataset);
}

// ---- Codec --------------------------------------------------------------------------------
//
// Where each data format keeps its texels, and how a picture becomes levels and codebooks,
// is DataFormats'; here is which surfaces go in and out, and when the chunk is left alone.

namespace {

// Textures up to this many texels get surfaces even when their data is shorter (the
// missing texels stay black), so that formats with shorter data still show.
constexpr uint64_t kAlwaysShownTexels = 1024 * 1024;

DataFormats::Layout LayoutOfChunk(const PVRChunk& chunk) {
  return DataFormats::LayoutOf(chunk.eFormat, chunk.Width, chunk.Height);
}

}  // namespace

void cPVR::DecodeChunk(Surface& image, Surface& mask) {
  if (!PvrChunkLayout::Decodes(Chunk)) return;  // black surfaces of the texture's size
  // The codec decodes into a picture; the surfaces take its colours, and the mask its alpha
  // where the pixel format has alpha bits (it stays black otherwise, as it always has).
  const DataFormats::Layout layout = LayoutOfChunk(Chunk);
  std::vector<uint8_t> rgba(layout.width * layout.height * 4);
  if (!DataFormats::DecodeMainLevel(layout, Chunk.pFormat, Chunk.Data, rgba.data())) return;
  const bool alpha = TexelCodec::kPixelFormats[Chunk.pFormat].AMask != 0;
  // Both surfaces were just built at the texture's size, so they are laid out alike.
  const size_t stride = Stride(image);
  for (size_t y = 0; y < layout.height; ++y)
    for (size_t x = 0; x < layout.width; ++x) {
      const uint8_t* p = &rgba[4 * (y * layout.width + x)];
      const size_t o = (layout.height - 1 - y) * stride + 3 * x;
      image.Bits[o] = p[2], image.Bits[o + 1] = p[1], image.Bits[o + 2] = p[0];
      if (alpha) mask.Bits[o + 2] = p[3];
    }
}

bool cPVR::PVR2BMP() {
  if (Chunk.Magic != kMagic) return false;
  const int32_t width = Chunk.Width;
  const int32_t height = Chunk.Height;
  if (width < 1 || height < 1) return false;
  const uint64_t texels = uint64_t(width) * uint64_t(height);
  const uint64_t held = Chunk.Data.size() / 2;
  if (held < texels && texels > kAlwaysShownTexels) return false;

  Surface image;
  Surface mask;
  if (!PrepareBlank(image, height, width, Image.Info) ||
      !PrepareBlank(mask, height, width, Mask.Info))
    return false;
  FillBlank(image, Image.Bits);
  FillBlank(mask, Mask.Bits);
  DecodeChunk(image, mask);
  Image = std::move(image);
  Mask = std::move(mask);
  return true;
}

bool cPVR::FitForEncoding(Surface& image, Surface& mask) {
  std::vector<uint8_t> none;  // the surfaces' buffers are still read below
  if (!PrepareBlank(image, Chunk.Height, Chunk.Width, Image.Info) ||
      !PrepareBlank(mask, Chunk.Height, Chunk.Width, Mask.Info))
    return false;
  FillBlank(image, none);
  FillBlank(mask, none);
  // Decoding first gives every texel the alpha it has now; GetPixel replaces it only where
  // the mask gives alpha. Without a mask file an opaque texture thus stays opaque.
  DecodeChunk(image, mask);
  uint8_t R = 0, G = 0, B = 0;
  for (int32_t y = 0; y < Chunk.Height; ++y) {
    for (int32_t x = 0; x < Chunk.Width; ++x) {
      const size_t o = PixelOffset(image, x, y);
      GetPixel(x, y, R, G, B, mask.Bits[o + 2]);
      image.Bits[o] = B;
      image.Bits[o + 1] = G;
      image.Bits[o + 2] = R;
    }
  }
  return true;
}

// The surfaces are only read, so they keep showing the picture that was encoded.
void cPVR::BMP2PVR() {
  if (Chunk.Magic != kMagic || !PvrChunkLayout::Encodes(Chunk) || !HasSurface(0)) return;

  // The encoder reads an image and a mask of the texture's size laid out alike. Surfaces
  // that are not that (a bitmap of another size, no alpha from the mask) are first made
  // into it aside.
  Surface fittedImage;
  Surface fittedMask;
  Surface* image = &Image;
  Surface* mask = &Mask;
  if (Width() != Chunk.Width || Height() != Chunk.Height || !MaskShapedLikeImage()) {
    if (!FitForEncoding(fittedImage, fittedMask)) return;
    image = &fittedImage;
    mask = &fittedMask;
  }
  const DataFormats::Layout layout = LayoutOfChunk(Chunk);
  // The codec reads one picture: colours from the image, alpha from the mask's red bytes.
  std::vector<uint8_t> rgba(layout.width * layout.height * 4);
  const size_t stride = Stride(*image);
  for (size_t y = 0; y < layout.height; ++y)
    for (size_t x = 0; x < layout.width; ++x) {
      uint8_t* p = &rgba[4 * (y * layout.width + x)];
      const size_t o = (layout.height - 1 - y) * stride + 3 * x;
      p[0] = image->Bits[o + 2], p[1] = image->Bits[o + 1], p[2] = image->Bits[o];
      p[3] = mask->Bits[o + 2];
    }
  const uint8_t* const picture = rgba.data();
  // A picture the texture already shows changes nothing: its smaller levels stay as the file
  // made them, and a VQ texture is not quantised again, which would lose a little each time
  // it goes round. Plain texels need no check: they encode back to the bytes they came from.
  // (A mipmapped 1 x 1 texture has one level, but the spare slots of its space count too.)
  const bool plainTexels = layout.kind == DataFormats::Kind::Rectangle ||
                           layout.kind == DataFormats::Kind::Twiddled ||
                           layout.kind == DataFormats::Kind::RectangularTwiddled;
  if (!plainTexels &&
      DataFormats::DecodesTo(layout, Chunk.pFormat, Chunk.Data, picture))
    return;
  DataFormats::Encode(layout, Chunk.pFormat, picture, Chunk.Data);
}
