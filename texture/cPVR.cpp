// The chunk record and the codec: storing and handing back a PVR chunk, decoding it into
// the surfaces and encoding the surfaces back into it.
#include "texture/cPVR.h"

#include <algorithm>
#include <utility>

#include "texture/TexelCodec.h"

namespace {

using PvrChunkLayout::kMagic;
using TexelCodec::kPixelFormats;

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
// The texel conversions themselves, and the move between data order and twiddled position,
// are in TexelCodec; here is what decides which texels go where.

namespace {

// Textures up to this many texels get surfaces even when their data is shorter (the
// missing texels stay black), so that formats with shorter data still show.
constexpr uint64_t kAlwaysShownTexels = 1024 * 1024;

bool IsPowerOfTwo(int32_t v) { return v > 0 && (v & (v - 1)) == 0; }

}  // namespace

void cPVR::DecodeTexels(Surface& image, Surface& mask, size_t count) {
  // Both surfaces were just built at the texture's size, so a pixel sits at the same offset
  // in both buffers. Display row i is memory row height - 1 - i.
  const size_t width = size_t(Chunk.Width);
  const size_t height = size_t(Chunk.Height);
  const ptrdiff_t stride = ptrdiff_t(Stride(image));
  const size_t top = (height - 1) * size_t(stride);
  const size_t fullRows = std::min(height, count / width);
  TexelCodec::DecodeRows(Chunk.pFormat, Chunk.Data.data(), width, fullRows,
                         image.Bits.data() + top, mask.Bits.data() + top, -stride);
  if (fullRows < height && count % width != 0) {  // short data ends inside this row
    const size_t row = top - fullRows * size_t(stride);
    TexelCodec::DecodeRows(Chunk.pFormat, Chunk.Data.data() + 2 * width * fullRows,
                           count % width, 1, image.Bits.data() + row, mask.Bits.data() + row,
                           -stride);
  }
}

void cPVR::DecodeChunk(Surface& image, Surface& mask) {
  if (!PvrChunkLayout::Decodes(Chunk)) return;  // black surfaces of the texture's size
  if (Chunk.eFormat == PvrFormat::kTwiddled) {
    Twiddle(1, image, mask);  // each texel straight to its twiddled position
  } else {
    const uint64_t texels = uint64_t(Chunk.Width) * uint64_t(Chunk.Height);
    DecodeTexels(image, mask, size_t(std::min<uint64_t>(texels, Chunk.Data.size() / 2)));
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

namespace {

// Blocks up to this side are converted by one call; larger ones are split into quadrants.
// An aligned block of a twiddled square holds one run of consecutive twiddle indexes, laid
// out as a twiddled square of its own, so each block is converted like a small texture.
constexpr int32_t kTwiddleTile = 64;

}  // namespace

void cPVR::Twiddle(int16_t Mode, Surface& image, Surface& mask) {
  const int32_t side = image.Info.biWidth;
  if (image.Bits.empty() || side != image.Info.biHeight || !IsPowerOfTwo(side)) return;
  TwiddlePos = 0;
  TwiddleBlock(0, 0, side, Mode, image, mask);
}

// X is the column and Y the memory row (counted from the bottom) of the block's lower-left
// pixel. The quadrants are visited top-left, bottom-left, top-right, bottom-right as seen,
// which is twiddle-index order.
void cPVR::TwiddleBlock(int32_t X, int32_t Y, int32_t Size, int16_t Mode, Surface& image,
                        Surface& mask) {
  if (Size > kTwiddleTile) {
    const int32_t h = Size / 2;
    TwiddleBlock(X, Y + h, h, Mode, image, mask);
    TwiddleBlock(X, Y, h, Mode, image, mask);
    TwiddleBlock(X + h, Y + h, h, Mode, image, mask);
    TwiddleBlock(X + h, Y, h, Mode, image, mask);
    return;
  }
  const size_t stride = Stride(image);
  const size_t corner = size_t(Y) * stride + size_t(X) * 3;
  const uint64_t texels = uint64_t(Size) * uint64_t(Size);
  const uint64_t held = Chunk.Data.size() / 2;
  // Decoding stops where short data ends (the rest stays black); encoding is only asked
  // for when the data holds every texel.
  const uint64_t count = held > TwiddlePos ? std::min(texels, held - TwiddlePos) : 0;
  if (count > 0) {
    uint8_t* data = Chunk.Data.data() + 2 * TwiddlePos;
    if (Mode != 0) {
      TexelCodec::DecodeTwiddled(Chunk.pFormat, data, size_t(count), image.Bits.data() + corner,
                                 mask.Bits.data() + corner, stride, size_t(Size));
    } else if (count == texels) {
      TexelCodec::EncodeTwiddled(Chunk.pFormat, image.Bits.data() + corner,
                                 mask.Bits.data() + corner, stride, size_t(Size), data);
    }
  }
  TwiddlePos += texels;
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

void cPVR::EncodeTexels(const Surface& image, const Surface& mask) {
  const size_t width = size_t(Chunk.Width);
  const size_t height = size_t(Chunk.Height);
  const ptrdiff_t stride = ptrdiff_t(Stride(image));
  const size_t top = (height - 1) * size_t(stride);
  TexelCodec::EncodeRows(Chunk.pFormat, image.Bits.data() + top, mask.Bits.data() + top,
                         -stride, width, height, Chunk.Data.data(), 2 * width);
}

// The surfaces are only read: a twiddled texture is encoded straight from the twiddled
// positions, so they keep showing the picture that was encoded.
void cPVR::BMP2PVR() {
  if (Chunk.Magic != kMagic || !PvrChunkLayout::Encodes(Chunk) || !HasSurface(0)) return;
  const int32_t width = Chunk.Width;
  const int32_t height = Chunk.Height;
  const bool twiddled = Chunk.eFormat == PvrFormat::kTwiddled;

  // The encoders read an image and a mask of the texture's size laid out alike. Surfaces
  // that are not that (a bitmap of another size, no alpha from the mask) are first made
  // into it aside.
  Surface fittedImage;
  Surface fittedMask;
  Surface* image = &Image;
  Surface* mask = &Mask;
  if (Width() != width || Height() != height || !MaskShapedLikeImage()) {
    if (!FitForEncoding(fittedImage, fittedMask)) return;
    image = &fittedImage;
    mask = &fittedMask;
  }
  if (twiddled)
    Twiddle(0, *image, *mask);
  else
    EncodeTexels(*image, *mask);
}
