#include "texture/PictureFiles.h"

#include <cstring>

#include "platform/Files.h"
#include "texture/PngFile.h"

namespace PictureFiles {
namespace {

// A picture file is read whole; anything that could become a picture within the limit is
// smaller.
constexpr uint64_t kMaxFileBytes = 2 * Image::kMaxBytes;

Error FileProblem(const std::string& path, const std::string& sentence) {
  return {"Whoops", path + "\n\n" + sentence, Icon::Critical};
}

// A picture may be imported when its BMP export would stay within the limit: the classic
// editor judged every picture by that larger buffer.
bool ImportableSize(int64_t width, int64_t height) { return BmpFile::ExportPixelBytes(width, height) != 0; }

Expected<std::vector<uint8_t>> ReadFile(const std::string& path) {
  std::vector<uint8_t> file;
  std::string error;
  if (!platform::ReadWholeFile(path, file, error, kMaxFileBytes))
    return FileProblem(path, "This file could not be read.\n" + error);
  return file;
}

struct Bitmap {
  Image image;  // alpha 255; a mask's alpha is its red bytes
  BmpFile::Resolution resolution;
};

Expected<Bitmap> ReadBitmap(const std::string& path) {
  Expected<std::vector<uint8_t>> file = ReadFile(path);
  if (!file) return file.error();
  BmpFile::Layout layout;
  const BmpFile::Fault fault = BmpFile::Inspect(*file, layout);
  if (fault == BmpFile::Fault::NotTwentyFourBit)
    return Error{"", "Lazy coder alert: Only 24 bit bitmaps are supported...", Icon::None};
  if (fault != BmpFile::Fault::None) return FileProblem(path, BmpFile::Explain(fault));
  const int32_t width = layout.Info.biWidth;
  const int32_t height = layout.Info.biHeight;
  std::optional<Image> image = ImportableSize(width, height) ? Image::Blank(width, height, 255) : std::nullopt;
  if (!image) return FileProblem(path, "This picture is too large to import.");

  const size_t stride = size_t(BmpFile::Stride(uint64_t(width)));
  const uint8_t* rows = file->data() + layout.PixelsAt;
  for (int32_t r = 0; r < height; ++r) {
    const uint8_t* from = rows + size_t(r) * stride;
    uint8_t* to = image->Pixel(0, layout.TopDown ? r : height - 1 - r);
    for (int32_t x = 0; x < width; ++x, from += 3, to += 4) {
      to[0] = from[2];
      to[1] = from[1];
      to[2] = from[0];
    }
  }
  return Bitmap{std::move(*image), {layout.Info.biXPelsPerMeter, layout.Info.biYPelsPerMeter}};
}

Expected<Picture> ReadPngFile(const std::string& path) {
  Expected<std::vector<uint8_t>> file = ReadFile(path);
  if (!file) return file.error();
  return ReadPng(*file, path);
}

}  // namespace

Expected<Size> Measure(std::span<const uint8_t> file, const std::string& label) {
  if (file.size() >= 2 && file[0] == 'B' && file[1] == 'M') {
    BmpFile::Layout layout;
    const BmpFile::Fault fault = BmpFile::Inspect(file, layout);
    if (fault != BmpFile::Fault::None) return FileProblem(label, BmpFile::Explain(fault));
    if (!ImportableSize(layout.Info.biWidth, layout.Info.biHeight))
      return FileProblem(label, "This picture is too large to import.");
    return Size{layout.Info.biWidth, layout.Info.biHeight};
  }
  PngFile::Header header;
  const PngFile::Fault fault = PngFile::Inspect(file, Image::kMaxBytes, header);
  if (fault != PngFile::Fault::None) return FileProblem(label, PngFile::Explain(fault));
  if (!ImportableSize(header.Width, header.Height)) return FileProblem(label, PngFile::Explain(PngFile::Fault::TooLarge));
  return Size{int32_t(header.Width), int32_t(header.Height)};
}

Expected<Picture> ReadPng(std::span<const uint8_t> file, const std::string& path) {
  Picture picture;
  const auto start = [&](const PngFile::Shape& shape) {
    if (!ImportableSize(shape.Width, shape.Height)) return false;
    picture.hasAlpha = shape.HasAlpha;
    picture.image.width = int32_t(shape.Width);
    picture.image.height = int32_t(shape.Height);
    picture.image.rgba.resize(size_t(shape.Width) * shape.Height * 4);
    return true;
  };
  const auto row = [&](uint32_t y, const uint8_t* rgba) {
    std::memcpy(picture.image.Pixel(0, int32_t(y)), rgba, picture.image.RowBytes());
  };
  const PngFile::Fault fault = PngFile::Decode(file, Image::kMaxBytes, start, row);
  if (fault != PngFile::Fault::None) return FileProblem(path, PngFile::Explain(fault));
  return picture;
}

bool NamesPng(const std::string& path) { return PngFile::NamesPng(path); }

Expected<Picture> Read(const std::string& imagePath, const std::string& maskPath) {
  if (!platform::FileExists(imagePath)) return FileProblem(imagePath, "This file does not exist.");
  if (NamesPng(imagePath)) return ReadPngFile(imagePath);
  const bool withMask = !maskPath.empty();
  if (withMask && !platform::FileExists(maskPath)) return FileProblem(maskPath, "This file does not exist.");

  Expected<Bitmap> image = ReadBitmap(imagePath);
  if (!image) return image.error();
  Picture picture{std::move(image->image), withMask, image->resolution, std::nullopt};
  if (!withMask) return picture;

  Expected<Bitmap> mask = ReadBitmap(maskPath);
  if (!mask) return mask.error();
  // Alpha is read at the image pixel's own position, so a mask of another size would pair
  // pixels wrongly (or not at all).
  const Image& m = mask->image;
  if (m.width != picture.image.width || m.height != picture.image.height) {
    return FileProblem(maskPath, "This mask is " + std::to_string(m.width) + " x " + std::to_string(m.height) +
                                     " pixels, but the image is " + std::to_string(picture.image.width) + " x " +
                                     std::to_string(picture.image.height) + ". A mask must have the image's size.");
  }
  for (size_t i = 0; i < m.rgba.size(); i += 4) picture.image.rgba[i + 3] = m.rgba[i];
  picture.maskResolution = mask->resolution;
  return picture;
}

std::optional<std::vector<uint8_t>> Encode(const Image& decoded, Export kind, bool hasAlphaBits,
                                           BmpFile::Resolution resolution) {
  if (decoded.Empty()) return std::nullopt;
  if (kind == Export::Png) {
    std::vector<uint8_t> file;
    if (!PngFile::Write(uint32_t(decoded.width), uint32_t(decoded.height), decoded.rgba, file)) return std::nullopt;
    return file;
  }
  const uint64_t bytes = BmpFile::ExportPixelBytes(decoded.width, decoded.height);
  if (bytes == 0) return std::nullopt;
  BmpFile::BITMAPINFOHEADER info;
  info.biSize = BmpFile::kInfoHeaderSize;
  info.biWidth = decoded.width;
  info.biHeight = decoded.height;
  info.biPlanes = 1;
  info.biBitCount = 24;
  info.biCompression = BmpFile::kUncompressed;
  info.biXPelsPerMeter = resolution.x;
  info.biYPelsPerMeter = resolution.y;
  // Rows bottom-up; beyond them the buffer stays zero.
  std::vector<uint8_t> bits(size_t(bytes), 0);
  const size_t stride = size_t(BmpFile::Stride(uint64_t(decoded.width)));
  const bool mask = kind == Export::BmpMask;
  for (int32_t y = 0; y < decoded.height; ++y) {
    const uint8_t* from = decoded.Pixel(0, y);
    uint8_t* to = bits.data() + size_t(decoded.height - 1 - y) * stride;
    for (int32_t x = 0; x < decoded.width; ++x, from += 4, to += 3) {
      if (mask) {
        to[2] = hasAlphaBits ? from[3] : 0;
      } else {
        to[0] = from[2];
        to[1] = from[1];
        to[2] = from[0];
      }
    }
  }
  std::vector<uint8_t> file = BmpFile::Write(info, bits);
  if (file.empty()) return std::nullopt;
  return file;
}

Failure Write(const std::string& path, const Image& decoded, Export kind, bool hasAlphaBits,
              BmpFile::Resolution resolution) {
  std::string error;
  const std::optional<std::vector<uint8_t>> file = Encode(decoded, kind, hasAlphaBits, resolution);
  if (!file) error = "There is not enough memory.";
  if (file && platform::ReplaceFile(path, *file, error)) return std::nullopt;
  return FileProblem(path, "This file could not be written.\n" + error);
}

}  // namespace PictureFiles
