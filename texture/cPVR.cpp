// The chunk record and the codec: storing and handing back a PVR chunk, decoding it into
// the surfaces and encoding the surfaces back into it.
#include "texture/cPVR.h"

#include <algorithm>

namespace {

constexpr std::array<char, 4> kChunkMagic{'P', 'V', 'R', 'T'};

// One row per pixel-format code. Channels are shifted, not bit-replicated: decoding divides
// (or, for blue, multiplies) the masked bits so they land at the top of an 8-bit value, and
// encoding takes those top bits back, which makes decode then encode exact.
constexpr std::array<PixelFormatInfo, 3> kPixelFormats{{
    // AMask   RMask   GMask   BMask   ADiv     RDiv    GDiv    BMul
    {0x8000, 0x7C00, 0x03E0, 0x001F, 1 << 15, 1 << 7, 1 << 2, 1 << 3},  // 0: ARGB 1-5-5-5
    {0x0000, 0xF800, 0x07E0, 0x001F, 1, 1 << 8, 1 << 3, 1 << 3},        // 1: RGB 5-6-5
    {0xF000, 0x0F00, 0x00F0, 0x000F, 1 << 12, 1 << 4, 1, 1 << 4},       // 2: ARGB 4-4-4-4
}};

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
  Chunk.Magic = kChunkMagic;
  Chunk.Data.assign(Data.begin(), Data.end());
}

// A chunk with a single data byte is stored like any other, so that a later save writes it
// back instead of an empty chunk.
void cPVR::LoadPVR(std::span<const uint8_t> Dataset, int16_t Height, int16_t Width,
                   uint8_t pmat, uint8_t emat, int32_t Length) {
  SetPVRData(Length, pmat, emat, Width, Height, Dataset);
}

// ---- Codec --------------------------------------------------------------------------------

namespace {

constexpr uint8_t kTwiddled = 1;
constexpr uint8_t kRectangular = 9;

// The factor by which decoding stretches an alpha field to 8 bits and encoding shrinks it
// back, per pixel-format code; 5-6-5 has no alpha bits, so its alpha is always 0.
constexpr std::array<int32_t, 3> kAlphaScale{255, 1, 16};

// Textures up to this many texels get surfaces even when their data is shorter (the
// missing texels stay black), so that formats with shorter data still show.
constexpr uint64_t kAlwaysShownTexels = 1024 * 1024;

bool IsPowerOfTwo(int32_t v) { return v > 0 && (v & (v - 1)) == 0; }

}  // namespace

// The texel passes take their row of the format table (the rows PixelFormats holds) as a
// constant, so the divisions by powers of two and by 255 compile to shifts and multiplies.
template <int Code>
void cPVR::DecodeTexels(size_t count) {
  static constexpr PixelFormatInfo f = kPixelFormats[Code];
  constexpr int32_t E = kAlphaScale[Code];
  // Both surfaces were just built at the texture's size, so a pixel sits at the same offset
  // in both buffers.
  const size_t width = size_t(Chunk.Width);
  const size_t height = size_t(Chunk.Height);
  const size_t stride = Stride(Image);
  const uint8_t* texel = Chunk.Data.data();
  for (size_t i = 0, n = 0; i < height && n < count; ++i) {
    const size_t rowStart = (height - 1 - i) * stride;  // display row i, stored bottom-up
    uint8_t* image = Image.Bits.data() + rowStart;
    uint8_t* mask = Mask.Bits.data() + rowStart;
    const size_t columns = std::min(width, count - n);
    for (size_t j = 0; j < columns; ++j, texel += 2, image += 3, mask += 3) {
      const int32_t v = texel[0] | texel[1] << 8;
      image[0] = uint8_t((v & f.BMask) * f.BMul);
      image[1] = uint8_t((v & f.GMask) / f.GDiv);
      image[2] = uint8_t((v & f.RMask) / f.RDiv);
      mask[2] = uint8_t((v & f.AMask) / f.ADiv * E);
    }
    n += columns;
  }
}

bool cPVR::PVR2BMP() {
  if (Chunk.Magic != kChunkMagic) return false;
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

  const bool twiddled =
      Chunk.eFormat == kTwiddled && width == height && IsPowerOfTwo(width);
  if (Chunk.pFormat >= kPixelFormats.size() || (Chunk.eFormat != kRectangular && !twiddled))
    return true;  // black surfaces of the texture's size
  const size_t count = size_t(std::min(texels, held));
  switch (Chunk.pFormat) {
    case 0: DecodeTexels<0>(count); break;
    case 1: DecodeTexels<1>(count); break;
    case 2: DecodeTexels<2>(count); break;
  }
  if (twiddled) Twiddle(1);
  return true;
}

void cPVR::Twiddle(int16_t Mode) {
  const int32_t side = Image.Info.biWidth;
  // The walk is defined for square power-of-two surfaces only.
  if (Image.Bits.empty() || side != Image.Info.biHeight || !IsPowerOfTwo(side)) return;
  Walk.Side = side;
  Walk.Stride = Stride(Image);
  Walk.Alpha = MaskShapedLikeImage();
  // The walk writes every pixel of the scratch copies before anything reads them, so their
  // old contents (kept from the last call to save a fill) never show.
  TwiddleImage.resize(Image.Bits.size());
  TwiddleMask.resize(Walk.Alpha ? Mask.Bits.size() : 0);

  // Start at the first pixel of the top display row, which is the last row in memory.
  TwiddlePos = int64_t(side - 1) * side;
  Walk.PosOffset = int64_t(side - 1) * int64_t(Walk.Stride);
  TwiddleBlock(0, 0, side, Mode);

  // Copy back only pixel bytes, and of the mask only the alpha: padding, and the blue and
  // green of a mask read from a file, stay where they are.
  const size_t rowBytes = size_t(side) * 3;
  for (size_t row = 0; row < size_t(side); ++row) {
    const size_t start = row * Walk.Stride;
    std::copy_n(TwiddleImage.begin() + ptrdiff_t(start), rowBytes,
                Image.Bits.begin() + ptrdiff_t(start));
    if (Walk.Alpha)
      for (size_t o = start + 2; o < start + rowBytes; o += 3) Mask.Bits[o] = TwiddleMask[o];
  }
}

namespace {

// The walk's state while a tile is walked, held apart from the object so that the
// compiler can keep it in registers: a byte store could alias any member of the object.
struct TileWalk {
  const uint8_t* image;
  const uint8_t* mask;
  uint8_t* scratchImage;
  uint8_t* scratchMask;
  size_t stride;
  int64_t side;
  int64_t pos;        // TwiddlePos
  int64_t posOffset;  // byte offset of the pixel at pos
};

// Moves the pixel at memory column x, memory row y (or to it) and advances the running
// position along its display row; past the row's end it jumps to the start of the next
// display row down, which is the memory row below the one just finished.
// ToTwiddled is Mode 1; Alpha says whether the mask's alpha moves along.
template <bool ToTwiddled, bool Alpha>
[[gnu::always_inline]] inline void TwiddleLeaf(TileWalk& w, int32_t x, int32_t y) {
  const size_t p = size_t(y) * w.stride + size_t(x) * 3;
  const size_t q = size_t(w.posOffset);
  const size_t from = ToTwiddled ? q : p;
  const size_t to = ToTwiddled ? p : q;
  w.scratchImage[to] = w.image[from];
  w.scratchImage[to + 1] = w.image[from + 1];
  w.scratchImage[to + 2] = w.image[from + 2];
  if constexpr (Alpha) w.scratchMask[to + 2] = w.mask[from + 2];
  ++w.pos;
  w.posOffset += 3;
  if ((w.pos & (w.side - 1)) == 0) {
    w.pos -= 2 * w.side;
    w.posOffset -= 3 * w.side + int64_t(w.stride);
  }
}

// The lowest levels of TwiddleBlock's walk, in the same order, unrolled at compile time.
template <int Size, bool ToTwiddled, bool Alpha>
[[gnu::always_inline]] inline void TwiddleTile(TileWalk& w, int32_t x, int32_t y) {
  if constexpr (Size == 1) {
    TwiddleLeaf<ToTwiddled, Alpha>(w, x, y);
  } else {
    constexpr int32_t h = Size / 2;
    TwiddleTile<h, ToTwiddled, Alpha>(w, x, y + h);
    TwiddleTile<h, ToTwiddled, Alpha>(w, x, y);
    TwiddleTile<h, ToTwiddled, Alpha>(w, x + h, y + h);
    TwiddleTile<h, ToTwiddled, Alpha>(w, x + h, y);
  }
}

// Takes and gives back the state by value: a local whose address never escapes can live
// in registers through the unrolled leaves.
template <bool ToTwiddled, bool Alpha>
TileWalk WalkTile(TileWalk w, int32_t x, int32_t y, int32_t size) {
  switch (size) {
    case 8: TwiddleTile<8, ToTwiddled, Alpha>(w, x, y); break;
    case 4: TwiddleTile<4, ToTwiddled, Alpha>(w, x, y); break;
    case 2: TwiddleTile<2, ToTwiddled, Alpha>(w, x, y); break;
    default: TwiddleTile<1, ToTwiddled, Alpha>(w, x, y); break;
  }
  return w;
}

// Blocks of this side and below are walked by TwiddleTile. A call per leaf, or per 2 x 2
// block, costs more than moving the pixels does.
constexpr int32_t kTwiddleTile = 8;

}  // namespace

// X is the column and Y the memory row (from the bottom) of the block's lower-left pixel.
// The four quadrants are visited top-left, bottom-left, top-right, bottom-right as seen,
// so the leaves come in twiddle-index order, while TwiddlePos runs through the pixels in
// row-by-row display order: the k-th leaf meets the k-th pixel of that order.
void cPVR::TwiddleBlock(int32_t X, int32_t Y, int32_t Size, int16_t Mode) {
  if (Size > kTwiddleTile) {
    const int32_t h = Size / 2;
    TwiddleBlock(X, Y + h, h, Mode);
    TwiddleBlock(X, Y, h, Mode);
    TwiddleBlock(X + h, Y + h, h, Mode);
    TwiddleBlock(X + h, Y, h, Mode);
    return;
  }
  TileWalk w{Image.Bits.data(), Mask.Bits.data(), TwiddleImage.data(), TwiddleMask.data(),
             Walk.Stride,       Walk.Side,        TwiddlePos,          Walk.PosOffset};
  if (Mode != 0)
    w = Walk.Alpha ? WalkTile<true, true>(w, X, Y, Size) : WalkTile<true, false>(w, X, Y, Size);
  else
    w = Walk.Alpha ? WalkTile<false, true>(w, X, Y, Size) : WalkTile<false, false>(w, X, Y, Size);
  TwiddlePos = w.pos;
  Walk.PosOffset = w.posOffset;
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

template <int Code>
void cPVR::EncodeTexels() {
  static constexpr PixelFormatInfo f = kPixelFormats[Code];
  constexpr int32_t E = kAlphaScale[Code];
  // Each channel keeps its top bits and alpha is divided by its stretch factor, the exact
  // inverse of decoding.
  const auto texel = [](uint8_t R, uint8_t G, uint8_t B, uint8_t A) {
    return uint16_t(((A / E * f.ADiv) & f.AMask) + ((R * f.RDiv) & f.RMask) +
                    ((G * f.GDiv) & f.GMask) + ((B / f.BMul) & f.BMask));
  };
  const size_t width = size_t(Chunk.Width);
  const size_t height = size_t(Chunk.Height);
  uint8_t* out = Chunk.Data.data();

  if (AlphaTakesPart() && !MaskShapedLikeImage()) {
    // A mask of another shape than the image: only GetPixel knows where its alpha is.
    uint8_t R = 0, G = 0, B = 0, A = 0;
    for (size_t i = 0; i < height; ++i)
      for (size_t j = 0; j < width; ++j, out += 2) {
        GetPixel(int32_t(j), int32_t(i), R, G, B, A);
        const uint16_t v = texel(R, G, B, A);
        out[0] = uint8_t(v);
        out[1] = uint8_t(v >> 8);
      }
    return;
  }

  // What GetPixel reads, row by row: the surface's own pixels where the texture overlaps
  // it, its bottom-left pixel (offset 0) beyond its right and bottom edges.
  const bool alpha = AlphaTakesPart();
  const uint8_t* image = Image.Bits.data();
  const uint8_t* mask = alpha ? Mask.Bits.data() : nullptr;
  const size_t surfaceWidth = size_t(Image.Info.biWidth);
  const size_t surfaceHeight = size_t(Image.Info.biHeight);
  const size_t stride = Stride(Image);
  const uint16_t outside = texel(image[2], image[1], image[0], alpha ? mask[2] : 0);
  for (size_t i = 0; i < height; ++i) {
    size_t j = 0;
    if (i < surfaceHeight) {
      const size_t rowStart = (surfaceHeight - 1 - i) * stride;
      const uint8_t* px = image + rowStart;
      const size_t inside = std::min(width, surfaceWidth);
      if (alpha) {
        const uint8_t* m = mask + rowStart;
        for (; j < inside; ++j, px += 3, m += 3, out += 2) {
          const uint16_t v = texel(px[2], px[1], px[0], m[2]);
          out[0] = uint8_t(v);
          out[1] = uint8_t(v >> 8);
        }
      } else {
        for (; j < inside; ++j, px += 3, out += 2) {
          const uint16_t v = texel(px[2], px[1], px[0], 0);
          out[0] = uint8_t(v);
          out[1] = uint8_t(v >> 8);
        }
      }
    }
    for (; j < width; ++j, out += 2) {
      out[0] = uint8_t(outside);
      out[1] = uint8_t(outside >> 8);
    }
  }
}

void cPVR::BMP2PVR() {
  if (Chunk.Magic != kChunkMagic || Chunk.pFormat >= kPixelFormats.size()) return;
  const int32_t width = Chunk.Width;
  const int32_t height = Chunk.Height;
  if (width < 1 || height < 1) return;
  if (Chunk.Data.size() / 2 < uint64_t(width) * uint64_t(height)) return;
  const bool twiddled = Chunk.eFormat == kTwiddled;
  if (!twiddled && Chunk.eFormat != kRectangular) return;
  if (twiddled && (width != height || !IsPowerOfTwo(width))) return;
  if (!HasSurface(0)) return;

  if (twiddled) {
    // The walk covers the surface's own size, so a bitmap of another size is first made
    // what a rectangular texture would read from it at the texture's size.
    if ((Width() != width || Height() != height || (AlphaTakesPart() && !MaskShapedLikeImage())) &&
        !FitSurfacesTo(width, height))
      return;
    Twiddle(0);
  }
  switch (Chunk.pFormat) {
    case 0: EncodeTexels<0>(); break;
    case 1: EncodeTexels<1>(); break;
    case 2: EncodeTexels<2>(); break;
  }
}
