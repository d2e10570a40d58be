// The chunk record and the codec: storing and handing back a PVR chunk, decoding it into
// the surfaces and encoding the surfaces back into it.
#include "texture/cPVR.h"

#include <algorithm>

#include "texture/TexelCodec.h"

namespace {

using PvrChunkLayout::kMagic;
using TexelCodec::kPixelFormats;

}  // namespace

cPVR::cPVR() { InitVars(); }

cPVR::~cPVR() {
  // Mask first, then image; each releases its device context before its section.
  ReleaseSurface(Mask);
  ReleaseSurface(Image);
}

void cPVR::InitVars() { PixelFormats = kPixelFormats; }

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

void cPVR::DecodeTexels(size_t count) {
  // Both surfaces were just built at the texture's size, so a pixel sits at the same offset
  // in both buffers. Display row i is memory row height - 1 - i.
  const size_t width = size_t(Chunk.Width);
  const size_t height = size_t(Chunk.Height);
  const ptrdiff_t stride = ptrdiff_t(Stride(Image));
  const size_t top = (height - 1) * size_t(stride);
  const size_t fullRows = std::min(height, count / width);
  TexelCodec::DecodeRows(Chunk.pFormat, Chunk.Data.data(), width, fullRows,
                         Image.Bits.data() + top, Mask.Bits.data() + top, -stride);
  if (fullRows < height && count % width != 0) {  // short data ends inside this row
    const size_t row = top - fullRows * size_t(stride);
    TexelCodec::DecodeRows(Chunk.pFormat, Chunk.Data.data() + 2 * width * fullRows,
                           count % width, 1, Image.Bits.data() + row, Mask.Bits.data() + row,
                           -stride);
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
  if (!PrepareBlank(image, height, width, Image.Info)) return false;
  if (!PrepareBlank(mask, height, width, Mask.Info)) {
    ReleaseSurface(image);
    return false;
  }
  FillBlank(image, Image.Bits);
  FillBlank(mask, Mask.Bits);
  Install(Image, image);
  Install(Mask, mask);
  platform::GdiFlush();

  if (!PvrChunkLayout::Decodes(Chunk)) return true;  // black surfaces of the texture's size
  const bool twiddled = Chunk.eFormat == PvrFormat::kTwiddled;
  const size_t count = size_t(std::min(texels, held));
  if (twiddled) {
    Twiddle(1);  // each texel straight to its twiddled position
  } else {
    DecodeTexels(count);
  }
  return true;
}

namespace {

// Blocks up to this side are converted by one call; larger ones are split into quadrants.
// An aligned block of a twiddled square holds one run of consecutive twiddle indexes, laid
// out as a twiddled square of its own, so each block is converted like a small texture.
constexpr int32_t kTwiddleTile = 64;

}  // namespace

void cPVR::Twiddle(int16_t Mode) {
  const int32_t side = Image.Info.biWidth;
  if (Image.Bits.empty() || side != Image.Info.biHeight || !IsPowerOfTwo(side)) return;
  TwiddlePos = 0;
  TwiddleBlock(0, 0, side, Mode);
}

// X is the column and Y the memory row (counted from the bottom) of the block's lower-left
// pixel. The quadrants are visited top-left, bottom-left, top-right, bottom-right as seen,
// which is twiddle-index order.
void cPVR::TwiddleBlock(int32_t X, int32_t Y, int32_t Size, int16_t Mode) {
  if (Size > kTwiddleTile) {
    const int32_t h = Size / 2;
    TwiddleBlock(X, Y + h, h, Mode);
    TwiddleBlock(X, Y, h, Mode);
    TwiddleBlock(X + h, Y + h, h, Mode);
    TwiddleBlock(X + h, Y, h, Mode);
    return;
  }
  const size_t stride = Stride(Image);
  const size_t corner = size_t(Y) * stride + size_t(X) * 3;
  const uint64_t texels = uint64_t(Size) * uint64_t(Size);
  const uint64_t held = Chunk.Data.size() / 2;
  // Decoding stops where short data ends (the rest stays black); encoding is only asked
  // for when the data holds every texel.
  const uint64_t count = held > TwiddlePos ? std::min(texels, held - TwiddlePos) : 0;
  if (count > 0) {
    uint8_t* data = Chunk.Data.data() + 2 * TwiddlePos;
    if (Mode != 0) {
      TexelCodec::DecodeTwiddled(Chunk.pFormat, data, size_t(count), Image.Bits.data() + corner,
                                 Mask.Bits.data() + corner, stride, size_t(Size));
    } else if (count == texels) {
      TexelCodec::EncodeTwiddled(Chunk.pFormat, Image.Bits.data() + corner,
                                 AlphaTakesPart() ? Mask.Bits.data() + corner : nullptr, stride,
                                 size_t(Size), data);
    }
  }
  TwiddlePos += texels;
}

bool cPVR::FitSurfacesTo(int32_t width, int32_t height) {
  Surface image;
  Surface mask;
  if (!PrepareBlank(image, height, width, Image.Info)) return false;
  if (!PrepareBlank(mask, height, width, Mask.Info)) {
    ReleaseSurface(image);
    return false;
  }
  std::vector<uint8_t> none;  // the old buffers are still read below
  FillBlank(image, none);
  FillBlank(mask, none);
  uint8_t R = 0, G = 0, B = 0, A = 0;  // A stays 0 when the mask gives no alpha
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      GetPixel(x, y, R, G, B, A);
      const size_t o = PixelOffset(image, x, y);
      image.Bits[o] = B;
      image.Bits[o + 1] = G;
      image.Bits[o + 2] = R;
      mask.Bits[o + 2] = A;
    }
  }
  Install(Image, image);
  Install(Mask, mask);
  return true;
}

void cPVR::EncodeTexels() {
  const int format = Chunk.pFormat;
  const size_t width = size_t(Chunk.Width);
  const size_t height = size_t(Chunk.Height);
  uint8_t* out = Chunk.Data.data();

  if (AlphaTakesPart() && !MaskShapedLikeImage()) {
    // A mask of another shape than the image: only GetPixel knows where its alpha is.
    uint8_t R = 0, G = 0, B = 0, A = 0;
    for (size_t i = 0; i < height; ++i)
      for (size_t j = 0; j < width; ++j, out += 2) {
        GetPixel(int32_t(j), int32_t(i), R, G, B, A);
        const uint8_t pixel[3] = {B, G, R}, alpha[3] = {0, 0, A};
        TexelCodec::EncodeRows(format, pixel, alpha, 0, 1, 1, out, 2);
      }
    return;
  }

  // What GetPixel reads: the surface's own pixels where the texture overlaps it, its
  // bottom-left pixel (offset 0) beyond its right and bottom edges.
  const bool alpha = AlphaTakesPart();
  const uint8_t* image = Image.Bits.data();
  const uint8_t* mask = alpha ? Mask.Bits.data() : nullptr;
  const size_t surfaceWidth = size_t(Image.Info.biWidth);
  const size_t surfaceHeight = size_t(Image.Info.biHeight);
  const ptrdiff_t stride = ptrdiff_t(Stride(Image));
  const size_t top = (surfaceHeight - 1) * size_t(stride);
  const size_t rows = std::min(height, surfaceHeight), columns = std::min(width, surfaceWidth);
  TexelCodec::EncodeRows(format, image + top, alpha ? mask + top : nullptr, -stride, columns,
                         rows, out, 2 * width);
  if (rows == height && columns == width) return;
  uint8_t outside[2];
  TexelCodec::EncodeRows(format, image, mask, 0, 1, 1, outside, 2);
  for (size_t i = 0; i < height; ++i)
    for (size_t j = i < rows ? columns : 0; j < width; ++j) {
      out[2 * (i * width + j)] = outside[0];
      out[2 * (i * width + j) + 1] = outside[1];
    }
}

// The surfaces are only read: a twiddled texture is encoded straight from the twiddled
// positions, so they keep showing the picture that was encoded.
void cPVR::BMP2PVR() {
  if (Chunk.Magic != kMagic || !PvrChunkLayout::Encodes(Chunk) || !HasSurface(0)) return;
  const int32_t width = Chunk.Width;
  const int32_t height = Chunk.Height;
  const bool twiddled = Chunk.eFormat == PvrFormat::kTwiddled;

  if (!twiddled) return EncodeTexels();
  // Twiddled order is defined on the texture's own square, so a bitmap of another size is
  // first made what a rectangular texture would read from it at the texture's size.
  if ((Width() != width || Height() != height || (AlphaTakesPart() && !MaskShapedLikeImage())) &&
      !FitSurfacesTo(width, height))
    return;
  Twiddle(0);
}
