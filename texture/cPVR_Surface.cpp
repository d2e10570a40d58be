// The surfaces and BMP files: building, addressing and drawing the image and mask
// surfaces, and reading and writing them as 24-bit BMP files.
#include <utility>

#include "platform/Files.h"
#include "platform/Messages.h"
#include "texture/BmpFile.h"
#include "texture/cPVR.h"

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

}  // namespace

// ---- Building and releasing ---------------------------------------------------------------

void cPVR::ReleaseSurface(Surface& surface) {
  // The device context goes before the section selected into it.
  if (surface.DC != nullptr) platform::DeleteDC(surface.DC);
  surface.DC = nullptr;
  if (surface.Bitmap != nullptr) platform::DeleteObject(surface.Bitmap);
  surface.Bitmap = nullptr;
}

void cPVR::Install(Surface& target, Surface& fresh) {
  std::swap(target, fresh);
  ReleaseSurface(fresh);
  fresh.Bits = {};
}

bool cPVR::PrepareBlank(Surface& fresh, int32_t nHeight, int32_t nWidth,
                        const platform::BITMAPINFOHEADER& kept) {
  if (BufferLength(nWidth, nHeight, 4) == 0) return false;
  const uint64_t stride = BmpFile::Stride(uint64_t(nWidth));

  fresh.Info = kept;  // keeps the pixels-per-metre and colour counts last read from a file
  fresh.Info.biSize = platform::kBitmapInfoHeaderSize;
  fresh.Info.biWidth = nWidth;
  fresh.Info.biHeight = nHeight;
  fresh.Info.biPlanes = 1;
  fresh.Info.biBitCount = 24;
  fresh.Info.biCompression = platform::BI_RGB;
  fresh.Info.biSizeImage = uint32_t(stride * uint64_t(nHeight));
  fresh.RowPadding = int16_t(stride - 3 * uint64_t(nWidth));

  fresh.DC = platform::CreateCompatibleDC();
  fresh.Bitmap = platform::CreateDIBSection(fresh.DC, fresh.Info);
  if (fresh.Bitmap == nullptr) {
    ReleaseSurface(fresh);
    return false;
  }
  platform::SelectObject(fresh.DC, fresh.Bitmap);
  return true;
}

void cPVR::FillBlank(Surface& fresh, std::vector<uint8_t>& old) {
  const size_t length = size_t(BufferLength(fresh.Info.biWidth, fresh.Info.biHeight, 4));
  // A texture selected again rebuilds its surfaces at the same size: reusing the storage
  // spares the allocator a fresh, page-faulting block each time.
  if (old.capacity() >= length && old.capacity() / 2 <= length) fresh.Bits.swap(old);
  // The section was created black and is never drawn into afterwards, so copying its rows
  // into the buffer would only write these same zeros a second time.
  fresh.Bits.assign(length, 0);
}

void cPVR::MakeNew(int32_t nHeight, int32_t nWidth, int16_t Mode) {
  if (Mode == 0 || Mode == 1) {
    Surface& target = Mode == 0 ? Image : Mask;
    Surface fresh;
    if (PrepareBlank(fresh, nHeight, nWidth, target.Info)) {
      FillBlank(fresh, target.Bits);
      Install(target, fresh);
    }
  }
  platform::GdiFlush();
}

// ---- Access -------------------------------------------------------------------------------

const cPVR::Surface* cPVR::SurfaceFor(int16_t Mode) const {
  if (Mode == 0) return &Image;
  if (Mode == 1) return &Mask;
  return nullptr;
}

platform::HDC cPVR::hDC(int16_t Mode) const {
  const Surface* surface = SurfaceFor(Mode);
  return surface != nullptr ? surface->DC : nullptr;
}

int32_t cPVR::Width() const { return Image.Info.biWidth; }

int32_t cPVR::Height() const { return Image.Info.biHeight; }

bool cPVR::HasSurface(int16_t Mode) const {
  const Surface* surface = SurfaceFor(Mode);
  return surface != nullptr && surface->DC != nullptr && !surface->Bits.empty();
}

const platform::BITMAPINFOHEADER& cPVR::SurfaceInfo(int16_t Mode) const {
  static const platform::BITMAPINFOHEADER none;
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

void cPVR::Draw(int16_t Mode, platform::HDC TargetHDC) const {
  const Surface* surface = SurfaceFor(Mode);
  if (surface == nullptr || surface->DC == nullptr) return;
  // The image's size also when the mask is drawn: the window draws only after decoding,
  // when both have the texture's size (and the painting stays inside the mask regardless).
  platform::SetDIBitsToDevice(TargetHDC, 0, 0, Image.Info.biWidth, Image.Info.biHeight, 0, 0, 0,
                              Image.Info.biHeight, surface->Bits.data(), surface->Bits.size(),
                              surface->Info);
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
  fresh.RowPadding = int16_t(BmpFile::Stride(uint64_t(width)) - 3 * uint64_t(width));
  fresh.Bits.assign(size_t(BufferLength(width, height, 3)), 0);
  fresh.DC = platform::CreateCompatibleDC();
  fresh.Bitmap = platform::CreateDIBSection(fresh.DC, fresh.Info);
  if (fresh.Bitmap == nullptr) {
    ReleaseSurface(fresh);
    fresh.Bits = {};
    ShowFileProblem(path, "This picture is too large to import.");
    return false;
  }
  platform::SelectObject(fresh.DC, fresh.Bitmap);

  // The file's rows are painted onto the new black section, and the section's rows copied
  // into the buffer: the section then shows the loaded picture, the buffer holds it as
  // bottom-up rows whatever the file's row order, and padding bytes are zero.
  platform::BITMAPINFOHEADER stored = layout.Info;
  if (layout.TopDown) stored.biHeight = -height;
  const std::span<const uint8_t> rows = std::span<const uint8_t>(file).subspan(layout.PixelsAt);
  platform::SetDIBitsToDevice(fresh.DC, 0, 0, width, height, 0, 0, 0, height, rows.data(),
                              rows.size(), stored);
  platform::GetDIBits(fresh.DC, fresh.Bitmap, 0, height, fresh.Bits.data(), fresh.Bits.size(),
                      fresh.Info);
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
  if (!maskBuilt) {
    ReleaseSurface(image);
    ReleaseSurface(mask);
    return false;
  }

  if (!withMask) FillBlank(mask, Mask.Bits);
  Install(Image, image);
  Install(Mask, mask);
  platform::GdiFlush();
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
