#include "app/ThumbnailLoader.h"

#include <QMetaObject>
#include <QPainter>
#include <QThread>
#include <algorithm>
#include <utility>

#include "app/Checkerboard.h"

namespace {

// A worker keeps the picture it decoded into for the next texture, sparing fresh memory's
// page faults each time, but not one this large: a rare huge texture's picture goes.
constexpr size_t kKeptPictureBytes = size_t(4) << 20;

}  // namespace

ThumbnailLoader::ThumbnailLoader(QObject* parent) : QObject(parent) {
  // One core stays for the window's own thread, which must not wait on the workers.
  pool_.setMaxThreadCount(std::clamp(QThread::idealThreadCount() - 1, 1, 4));
}

ThumbnailLoader::~ThumbnailLoader() {
  pool_.clear();
  // After this no worker can post to this object; what they posted goes with it.
  pool_.waitForDone();
}

void ThumbnailLoader::request(quint64 generation, int side, Texture texture, QImage checkerTile) {
  pool_.start([this, generation, side, texture = std::move(texture), checkerTile] {
    QImage thumbnail = Make(texture, side, checkerTile);
    QMetaObject::invokeMethod(
        this, [this, generation, thumbnail] { emit made(generation, thumbnail); },
        Qt::QueuedConnection);
  });
}

QSize ThumbnailLoader::Fit(QSize picture, int side) {
  if (picture.isEmpty() || side < 1) return {};
  if (picture.width() <= side && picture.height() <= side) {
    const int factor = std::min(side / picture.width(), side / picture.height());
    return picture * factor;
  }
  const QSize fitted = picture.scaled(side, side, Qt::KeepAspectRatio);
  return {std::max(1, fitted.width()), std::max(1, fitted.height())};
}

QImage ThumbnailLoader::Make(const Texture& texture, int side, const QImage& checkerTile) {
  if (side < 1) return {};
  thread_local Image picture;
  if (!texture.DecodeInto(picture)) return {};
  QImage thumbnail;
  {
    // Wraps the kept picture's bytes; gone before the picture may be.
    const QImage decoded(picture.rgba.data(), picture.width, picture.height,
                         qsizetype(picture.RowBytes()), QImage::Format_RGBA8888);
    const QSize size = Fit(decoded.size(), side);
    // Smaller by averaging; larger by repeating texels.
    const Qt::TransformationMode mode =
        size.width() < decoded.width() ? Qt::SmoothTransformation : Qt::FastTransformation;
    const QImage scaled = size == decoded.size() ? decoded : decoded.scaled(size, Qt::IgnoreAspectRatio, mode);
    thumbnail = QImage(size, QImage::Format_RGB32);
    QPainter painter(&thumbnail);
    PaintCheckerboard(painter, thumbnail.rect(), checkerTile);
    painter.drawImage(0, 0, scaled);
  }
  if (picture.rgba.size() > kKeptPictureBytes) picture = Image{};
  return thumbnail;
}
