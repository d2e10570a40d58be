#include "app/PictureTransfer.h"

#include <QMimeData>
#include <QTemporaryDir>
#include <QUrl>
#include <cstring>

#include "archive/Archive.h"
#include "archive/BatchFiles.h"
#include "archive/ExportNames.h"

namespace PictureTransfer {

QImage ToQImage(const Image& picture) {
  QImage image(picture.width, picture.height, QImage::Format_RGBA8888);
  for (int32_t y = 0; y < picture.height; ++y)
    std::memcpy(image.scanLine(y), picture.Pixel(0, y), picture.RowBytes());
  return image;
}

Expected<PictureFiles::Picture> FromClipboard(const QImage& image) {
  if (image.isNull()) return Error{"", "There is no picture on the clipboard to paste.", Icon::Exclamation};
  if (!Image::SizeAllowed(image.width(), image.height())) {
    return Error{"", "The picture on the clipboard is " + std::to_string(image.width()) + "x" +
                         std::to_string(image.height()) + " pixels, larger than Quarnel can import.",
                 Icon::Exclamation};
  }
  const QImage rgba = image.convertToFormat(QImage::Format_RGBA8888);
  std::optional<Image> pixels = Image::Blank(rgba.width(), rgba.height());
  if (!pixels || rgba.isNull()) return Error{"", "There is not enough memory to paste the picture.", Icon::Critical};
  for (int32_t y = 0; y < pixels->height; ++y)
    std::memcpy(pixels->Pixel(0, y), rgba.constScanLine(y), pixels->RowBytes());
  // A picture without an alpha channel leaves each texel its alpha, as a BMP without a mask does.
  return PictureFiles::Picture{std::move(*pixels), image.hasAlphaChannel(), std::nullopt, std::nullopt};
}

}  // namespace PictureTransfer

TextureDrag::TextureDrag() = default;
TextureDrag::~TextureDrag() = default;

QMimeData* TextureDrag::mimeData(const Archive& archive, size_t row) {
  if (row >= archive.ListedCount()) return nullptr;
  const Texture& texture = archive.Entries()[row].texture;
  const std::optional<Image> picture = texture.Decode();
  if (!picture) return nullptr;
  if (!folder_) folder_ = std::make_unique<QTemporaryDir>();
  if (!folder_->isValid()) return nullptr;
  // Export names never hold a separator or "..", so the file stays in the folder whatever
  // the entry is called.
  const std::string base = BatchFiles::ExportBaseNames(BatchFiles::ListedNames(archive))[row];
  const QString path = folder_->filePath(QString::fromStdString(BatchFiles::PngFileName(base)));
  if (PictureFiles::Write(path.toStdString(), *picture, PictureFiles::Export::Png, texture.HasAlphaBits(), {}))
    return nullptr;
  auto* data = new QMimeData;
  data->setUrls({QUrl::fromLocalFile(path)});
  return data;
}
