// The surfaces and their files: building, addressing and drawing the image and mask
// surfaces, and reading and writing them as 24-bit BMP files and as RGBA PNG files.
#include <algorithm>
#include <cstring>
#include <utility>

#include "platform/Files.h"
#include "platform/Messages.h"
#include "texture/BmpFile.h"
#include "texture/PngFile.h"
#include "texture/cPVR.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace {

// No surface buffer grows beyond this (an 8192 x 8192 surface just fits), so that a size
// read from a file or a chunk can never make the editor allocate gigabytes.
constexpr uint64_t kMaxSurfaceBytes = uint64_t{256} << 20;
// A BMP file is read whole; anything that could become a surface within the limit is smaller.
constexpr uint64_t kMaxBitmapFileBytes = 2 * kMaxSurfaceBytes;

// The buffer length of a surface: (RowPadding + width) x height x factor, where factor is
// 4 for a surface built blank and 3 for one loaded from a file. Only height x stride bytes
// hold pixels; the rest stay zero but are written to BMP files. 0 when the width or height
// is not positive or the buffer would pass the limit.
uint64_t BufferLength(int64_t width, int64_t height, uint64_t factor) {
  if (width < 1 || height < 1) return 0;
  if (uint64_t(width) > kMaxSurfaceBytes || uint64_t(height) > kMaxSurfaceBytes) return 0;
  const uint64_t padding = BmpFile::Stride(uint64_t(width)) - 3 * uint64_t(width);
  const uint64_t length = (padding + uint64_t(width)) * uint64_t(height) * factor;
  return length <= kMaxSurfaceBytes ? length : 0;
}

void ShowFileProblem(const std::string& path, const std::string& sentence) {
  platform::ShowMessage({path + "\n\n" + sentence, "Whoops", platform::Buttons::Ok,
                         platform::Icon::Critical});
}

// Widens `count` pixels of blue, green, red to 4 bytes each, the fourth 0xFF. This is most
// of what painting a surface into a window costs.
void WidenPlain(const uint8_t* s, uint8_t* d, size_t count) {
  for (size_t x = 0; x < count; ++x, s += 3, d += 4) {
    d[0] = s[0];
    d[1] = s[1];
    d[2] = s[2];
    d[3] = 0xFF;
  }
}

#if defined(__x86_64__) || defined(__i386__)
// Sixteen pixels a step: 48 bytes in, 64 out, with byte shuffles (SSSE3, checked at run time).
__attribute__((target("ssse3"))) void WidenVector(const uint8_t* s, uint8_t* d, size_t count) {
  const __m128i spread = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
  const __m128i opaque = _mm_set1_epi32(int32_t(0xFF000000u));
  size_t x = 0;
  for (; x + 16 <= count; x += 16, s += 48, d += 64) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 16));
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 32));
    const __m128i quads[4] = {a, _mm_alignr_epi8(b, a, 12), _mm_alignr_epi8(c, b, 8),
                              _mm_srli_si128(c, 4)};
    for (int q = 0; q < 4; ++q)
      _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 16 * q),
                       _mm_or_si128(_mm_shuffle_epi8(quads[q], spread), opaque));
  }
  WidenPlain(s, d, count - x);
}

void Widen(const uint8_t* s, uint8_t* d, size_t count) {
  static const bool hasSsse3 = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("ssse3") != 0;
  }();
  if (hasSsse3) return WidenVector(s, d, count);
  WidenPlain(s, d, count);
}
#else
void Widen(const uint8_t* s, uint8_t* d, size_t count) { WidenPlain(s, d, count); }
#endif

}  // namespace

// ---- Building ----------------------------------------------------------------------------

bool cPVR::PrepareBlank(Surface& fresh, int32_t nHeight, int32_t nWidth,
                        const BmpFile::BITMAPINFOHEADER& kept) {
  if (BufferLength(nWidth, nHeight, 4) == 0) return false;
  const uint64_t stride = BmpFile::Stride(uint64_t(nWidth));

  fresh.Info = kept;  // keeps the pixels-per-metre and colour counts last read from a file
  fresh.Info.biSize = BmpFile::kInfoHeaderSize;
  fresh.Info.biWidth = nWidth;
  fresh.Info.biHeight = nHeight;
  fresh.Info.biPlanes = 1;
  fresh.Info.biBitCount = 24;
  fresh.Info.biCompression = BmpFile::kUncompressed;
  fresh.Info.biSizeImage = uint32_t(stride * uint64_t(nHeight));
  fresh.RowPadding = int16_t(stride - 3 * uint64_t(nWidth));
  return true;
}

void cPVR::FillBlank(Surface& fresh, std::vector<uint8_t>& old) {
  const size_t length = size_t(BufferLength(fresh.Info.biWidth, fresh.Info.biHeight, 4));
  // A texture selected again rebuilds its surfaces at the same size: reusing the storage
  // spares the allocator a fresh, page-faulting block each time.
  if (old.capacity() >= length && old.capacity() / 2 <= length) fresh.Bits.swap(old);
  fresh.Bits.assign(length, 0);
}

void cPVR::MakeNew(int32_t nHeight, int32_t nWidth, int16_t Mode) {
  if (Mode != 0 && Mode != 1) return;
  Surface& target = Mode == 0 ? Image : Mask;
  Surface fresh;
  if (!PrepareBlank(fresh, nHeight, nWidth, target.Info)) return;
  FillBlank(fresh, target.Bits);
  target = std::move(fresh);
}

// ---- Access -------------------------------------------------------------------------------

const cPVR::Surface* cPVR::SurfaceFor(int16_t Mode) const {
  if (Mode == 0) return &Image;
  if (Mode == 1) return &Mask;
  return nullptr;
}

int32_t cPVR::Width() const { return Image.Info.biWidth; }

int32_t cPVR::Height() const { return Image.Info.biHeight; }

bool cPVR::HasSurface(int16_t Mode) const {
  const Surface* surface = SurfaceFor(Mode);
  return surface != nullptr && !surface->Bits.empty();
}

const BmpFile::BITMAPINFOHEADER& cPVR::SurfaceInfo(int16_t Mode) const {
  static const BmpFile::BITMAPINFOHEADER none;
  const Surface* surface = SurfaceFor(Mode);
  return surface != nullptr ? surface->Info : none;
}

const std::vector<uint8_t>& cPVR::SurfaceBits(int16_t Mode) const {
  static const std::vector<uint8_t> none;
  const Surface* surface = SurfaceFor(Mode);
  return surface != nullptr ? surface->Bits : none;
}

int16_t cPVR::SurfaceRowPadding(int16_t Mode) const {
  const Surface* surface = SurfaceFor(Mode);
  return surface != nullptr ? surface->RowPadding : 0;
}

const std::string& cPVR::BitmapPath(int16_t Mode) const {
  static const std::string none;
  return Mode == 0 || Mode == 1 ? BitmapPaths[size_t(Mode)] : none;
}

size_t cPVR::PixelOffset(const Surface& surface, int32_t X, int32_t Y) {
  const int32_t width = surface.Info.biWidth;
  const int32_t height = surface.Info.biHeight;
  if (X < 0 || Y < 0 || X >= width || Y >= height) return 0;
  // Rows are stored bottom-up: display row Y is memory row height - 1 - Y.
  return size_t(height - 1 - Y) * Stride(surface) + size_t(X) * 3;
}

bool cPVR::MaskShapedLikeImage() const {
  return AlphaTakesPart() && Mask.Info.biWidth == Image.Info.biWidth &&
         Mask.Info.biHeight == Image.Info.biHeight && Mask.RowPadding == Image.RowPadding;
}

int32_t cPVR::GetPixel(int32_t X, int32_t Y, uint8_t& R, uint8_t& G, uint8_t& B,
                       uint8_t& A) const {
  const size_t o = PixelOffset(Image, X, Y);
  if (o + 3 > Image.Bits.size()) return 0;  // never built
  B = Image.Bits[o];
  G = Image.Bits[o + 1];
  R = Image.Bits[o + 2];
  if (AlphaTakesPart()) {
    const size_t m = PixelOffset(Mask, X, Y);
    if (m + 3 <= Mask.Bits.size()) A = Mask.Bits[m + 2];
  }
  return 0;
}

void cPVR::SetPixel(int32_t X, int32_t Y, uint8_t R, uint8_t G, uint8_t B, uint8_t A) {
  const size_t o = PixelOffset(Image, X, Y);
  if (o + 3 > Image.Bits.size()) return;
  Image.Bits[o] = B;
  Image.Bits[o + 1] = G;
  Image.Bits[o + 2] = R;
  if (AlphaTakesPart()) {
    const size_t m = PixelOffset(Mask, X, Y);
    if (m + 3 <= Mask.Bits.size()) Mask.Bits[m + 2] = A;
  }
}

void cPVR::Draw(int16_t Mode, const PixelTarget& Target) const {
  if (!HasSurface(Mode)) return;
  const Surface& surface = *SurfaceFor(Mode);
  if (Target.pixels == nullptr || Target.width <= 0 || Target.height <= 0 ||
      int64_t(Target.bytesPerLine) < int64_t(Target.width) * 4)
    return;
  const size_t columns = size_t(std::min({Image.Info.biWidth, surface.Info.biWidth, Target.width}));
  const int32_t rows = std::min({Image.Info.biHeight, surface.Info.biHeight, Target.height});
  const size_t stride = Stride(surface);
  // Display row y is memory row height - 1 - y: the target fills from the surface's top.
  const uint8_t* from = surface.Bits.data() + size_t(surface.Info.biHeight - 1) * stride;
  uint8_t* to = Target.pixels;
  for (int32_t y = 0; y < rows; ++y, from -= stride, to += Target.bytesPerLine)
    Widen(from, to, columns);
}

// ---- BMP files ----------------------------------------------------------------------------

bool cPVR::BuildFromFile(Surface& fresh, const std::string& path) {
  std::vector<uint8_t> file;
  std::string error;
  if (!platform::ReadWholeFile(path, file, error, kMaxBitmapFileBytes)) {
    ShowFileProblem(path, "This file could not be read.\n" + error);
    return false;
  }
  BmpFile::Layout layout;
  const BmpFile::Fault fault = BmpFile::Inspect(file, layout);
  if (fault == BmpFile::Fault::NotTwentyFourBit) {
    platform::ShowMessage({"Lazy coder alert: Only 24 bit bitmaps are supported...", "",
                           platform::Buttons::Ok, platform::Icon::None});
    return false;
  }
  if (fault != BmpFile::Fault::None) {
    ShowFileProblem(path, BmpFile::Explain(fault));
    return false;
  }
  const int32_t width = layout.Info.biWidth;
  const int32_t height = layout.Info.biHeight;
  // Judged at the blank mask's larger length, which an import without a mask file builds
  // at the image's size.
  if (BufferLength(width, height, 4) == 0) {
    ShowFileProblem(path, "This picture is too large to import.");
    return false;
  }

  fresh.Info = layout.Info;
  const size_t stride = size_t(BmpFile::Stride(uint64_t(width)));
  fresh.RowPadding = int16_t(stride - 3 * size_t(width));
  fresh.Bits.assign(size_t(BufferLength(width, height, 3)), 0);
  // The buffer's rows run bottom-up whatever the file's order; padding bytes stay zero.
  const uint8_t* rows = file.data() + layout.PixelsAt;
  for (int32_t r = 0; r < height; ++r) {
    const size_t to = size_t(layout.TopDown ? height - 1 - r : r) * stride;
    std::memcpy(fresh.Bits.data() + to, rows + size_t(r) * stride, 3 * size_t(width));
  }
  return true;
}

bool cPVR::LoadBitMap(const std::string& FromFile, const std::string& MaskFile) {
  if (!FromFile.empty()) BitmapPaths[0] = FromFile;
  if (!platform::FileExists(BitmapPaths[0])) {
    ShowFileProblem(BitmapPaths[0], "This file does not exist.");
    BitmapPaths[0].clear();
    return false;
  }
  const bool withMask = !MaskFile.empty();
  if (withMask) {
    BitmapPaths[1] = MaskFile;
    if (!platform::FileExists(BitmapPaths[1])) {
      ShowFileProblem(BitmapPaths[1], "This file does not exist.");
      BitmapPaths[1].clear();
      return false;
    }
  }

  // Both surfaces are built aside and installed only when both are good, so a refused
  // file leaves the surfaces exactly as they were.
  Surface image;
  if (!BuildFromFile(image, BitmapPaths[0])) {
    BitmapPaths[0].clear();
    return false;
  }
  const int32_t width = image.Info.biWidth;
  const int32_t height = image.Info.biHeight;
  Surface mask;
  bool maskBuilt = false;
  if (withMask) {
    maskBuilt = BuildFromFile(mask, BitmapPaths[1]);
    // Alpha is read at the image pixel's own position, so a mask of another size would
    // pair pixels wrongly (or not at all).
    if (maskBuilt && (mask.Info.biWidth != width || mask.Info.biHeight != height)) {
      ShowFileProblem(BitmapPaths[1],
                      "This mask is " + std::to_string(mask.Info.biWidth) + " x " +
                          std::to_string(mask.Info.biHeight) + " pixels, but the image is " +
                          std::to_string(width) + " x " + std::to_string(height) +
                          ". A mask must have the image's size.");
      maskBuilt = false;
    }
    if (!maskBuilt) BitmapPaths[1].clear();
  } else {
    maskBuilt = PrepareBlank(mask, height, width, Mask.Info);
  }
  if (!maskBuilt) return false;

  if (!withMask) FillBlank(mask, Mask.Bits);
  Image = std::move(image);
  Mask = std::move(mask);
  return true;
}

bool cPVR::SaveBitmap(int16_t Mode, const std::string& ToFile) {
  if (!HasSurface(Mode)) return false;
  const Surface& surface = *SurfaceFor(Mode);
  const std::string target = ToFile.empty() ? BitmapPaths[size_t(Mode)] : ToFile;
  if (target.empty()) return false;

  if (platform::FileExists(target) &&
      platform::ShowMessage({"Do you want to over write the file:\n\n" + target, "Hold up!",
                             platform::Buttons::YesNo, platform::Icon::Question}) !=
          platform::Answer::Yes)
    return false;

  std::string error;
  if (!platform::ReplaceFile(target, BmpFile::Write(surface.Info, surface.Bits), error)) {
    ShowFileProblem(target, "This file could not be written.\n" + error);
    return false;
  }
  BitmapPaths[size_t(Mode)] = target;
  return true;
}

// ---- PNG files ----------------------------------------------------------------------------

namespace {

// One decoded row into the surfaces' layout: blue, green, red into the image row and, when
// there is a mask row (zero-filled), alpha into its red bytes, as decoding leaves a mask.
void SplitPlain(const uint8_t* rgba, uint8_t* image, uint8_t* mask, size_t count) {
  for (size_t x = 0; x < count; ++x, rgba += 4, image += 3) {
    image[0] = rgba[2];
    image[1] = rgba[1];
    image[2] = rgba[0];
    if (mask != nullptr) mask[3 * x + 2] = rgba[3];
  }
}

#if defined(__x86_64__) || defined(__i386__)
// Sixteen pixels a step: 64 bytes in, 48 out to each row, with byte shuffles (SSSE3,
// checked at run time). Each quad of pixels becomes 12 bytes, and three stores take four.
__attribute__((target("ssse3"))) void SplitVector(const uint8_t* rgba, uint8_t* image,
                                                  uint8_t* mask, size_t count) {
  const __m128i colour = _mm_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1);
  const __m128i alpha = _mm_setr_epi8(-1, -1, 3, -1, -1, 7, -1, -1, 11, -1, -1, 15, -1, -1, -1, -1);
  const auto store = [](uint8_t* to, const __m128i (&p)[4]) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to), _mm_or_si128(p[0], _mm_slli_si128(p[1], 12)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to + 16),
                     _mm_or_si128(_mm_srli_si128(p[1], 4), _mm_slli_si128(p[2], 8)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to + 32),
                     _mm_or_si128(_mm_srli_si128(p[2], 8), _mm_slli_si128(p[3], 4)));
  };
  size_t x = 0;
  for (; x + 16 <= count; x += 16, rgba += 64, image += 48) {
    __m128i quads[4], colours[4], alphas[4];
    for (int q = 0; q < 4; ++q) {
      quads[q] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rgba + 16 * q));
      colours[q] = _mm_shuffle_epi8(quads[q], colour);
      alphas[q] = _mm_shuffle_epi8(quads[q], alpha);
    }
    store(image, colours);
    if (mask != nullptr) store(mask + 3 * x, alphas);
  }
  SplitPlain(rgba, image, mask != nullptr ? mask + 3 * x : nullptr, count - x);
}

void SplitRow(const uint8_t* rgba, uint8_t* image, uint8_t* mask, size_t count) {
  static const bool hasSsse3 = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("ssse3") != 0;
  }();
  if (hasSsse3) return SplitVector(rgba, image, mask, count);
  SplitPlain(rgba, image, mask, count);
}
#else
void SplitRow(const uint8_t* rgba, uint8_t* image, uint8_t* mask, size_t count) {
  SplitPlain(rgba, image, mask, count);
}
#endif

}  // namespace

bool cPVR::LoadPng(const std::string& FromFile) {
  if (!platform::FileExists(FromFile)) {
    ShowFileProblem(FromFile, "This file does not exist.");
    return false;
  }
  std::vector<uint8_t> file;
  std::string error;
  if (!platform::ReadWholeFile(FromFile, file, error, kMaxBitmapFileBytes)) {
    ShowFileProblem(FromFile, "This file could not be read.\n" + error);
    return false;
  }

  // Both surfaces are built aside and installed only once the whole file has decoded, so
  // a refused file leaves them exactly as they were.
  Surface image, mask;
  bool withAlpha = false;
  const auto start = [&](const PngFile::Shape& shape) {
    const int32_t width = int32_t(shape.Width);
    const int32_t height = int32_t(shape.Height);
    // Judged at the blank mask's larger length, as the BMP import judges it.
    if (BufferLength(width, height, 4) == 0) return false;
    withAlpha = shape.HasAlpha;
    PrepareBlank(image, height, width, Image.Info);
    PrepareBlank(mask, height, width, Mask.Info);
    // Laid out as a BMP file loads, the mask like the image when it holds the file's alpha,
    // so that encoding takes that alpha.
    image.Bits.assign(size_t(BufferLength(width, height, 3)), 0);
    if (withAlpha) mask.Bits.assign(image.Bits.size(), 0);
    return true;
  };
  const auto row = [&](uint32_t y, const uint8_t* rgba) {
    // Rows arrive top row first; the surfaces keep theirs bottom-up.
    const size_t at = size_t(image.Info.biHeight - 1 - int32_t(y)) * Stride(image);
    SplitRow(rgba, image.Bits.data() + at, withAlpha ? mask.Bits.data() + at : nullptr,
             size_t(image.Info.biWidth));
  };
  const PngFile::Fault fault = PngFile::Decode(file, kMaxSurfaceBytes, start, row);
  if (fault != PngFile::Fault::None) {
    ShowFileProblem(FromFile, PngFile::Explain(fault));
    return false;
  }
  // Without alpha in the file, the mask is the black one an import without a mask file
  // builds, and encoding keeps each texel's alpha.
  if (!withAlpha) FillBlank(mask, Mask.Bits);
  Image = std::move(image);
  Mask = std::move(mask);
  return true;
}

bool cPVR::SavePng(const std::string& ToFile) {
  if (!HasSurface(0) || ToFile.empty()) return false;
  if (platform::FileExists(ToFile) &&
      platform::ShowMessage({"Do you want to over write the file:\n\n" + ToFile, "Hold up!",
                             platform::Buttons::YesNo, platform::Icon::Question}) !=
          platform::Answer::Yes)
    return false;

  const size_t width = size_t(Image.Info.biWidth);
  const size_t height = size_t(Image.Info.biHeight);
  std::vector<uint8_t> rgba(width * height * 4);
  const size_t maskWidth = Mask.Bits.empty() ? 0 : size_t(std::max(Mask.Info.biWidth, 0));
  const size_t maskHeight = Mask.Bits.empty() ? 0 : size_t(std::max(Mask.Info.biHeight, 0));
  for (size_t y = 0; y < height; ++y) {
    const uint8_t* from = Image.Bits.data() + (height - 1 - y) * Stride(Image);
    const uint8_t* alpha = y < maskHeight ? Mask.Bits.data() + (maskHeight - 1 - y) * Stride(Mask) + 2 : nullptr;
    uint8_t* to = rgba.data() + y * width * 4;
    for (size_t x = 0; x < width; ++x, from += 3, to += 4) {
      to[0] = from[2];
      to[1] = from[1];
      to[2] = from[0];
      to[3] = alpha != nullptr && x < maskWidth ? alpha[3 * x] : 0;
    }
  }
  std::vector<uint8_t> file;
  std::string error;
  if (!PngFile::Write(uint32_t(width), uint32_t(height), rgba, file)) error = "There is not enough memory.";
  if (error.empty() && platform::ReplaceFile(ToFile, file, error)) return true;
  ShowFileProblem(ToFile, "This file could not be written.\n" + error);
  return false;
}
