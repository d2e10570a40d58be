#include "app/PictureBox.h"

#include <QFont>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <QPaintEvent>
#include <algorithm>
#include <cmath>

#include "texture/cPVR.h"

namespace {

constexpr int kStartWidth = 449;
constexpr int kStartHeight = 150;
constexpr int kFrame = 12;
const QColor kLightGrey(192, 192, 192);

QImage MakeStartingPicture() {
  QImage picture(kStartWidth, kStartHeight, QImage::Format_RGB32);
  picture.fill(kLightGrey);
  QPainter painter(&picture);
  const QRect field(kFrame, kFrame, kStartWidth - 2 * kFrame, kStartHeight - 2 * kFrame);
  painter.fillRect(field, Qt::white);

  // The words are sized by the height of their capitals, whatever sans-serif face is here.
  QFont font(QStringLiteral("Sans Serif"));
  font.setStyleHint(QFont::SansSerif);
  font.setBold(true);
  int pixelSize = 21;
  font.setPixelSize(pixelSize);
  while (QFontMetrics(font).capHeight() < 21 && pixelSize < 60) font.setPixelSize(++pixelSize);
  painter.setFont(font);
  painter.setPen(kLightGrey);
  painter.drawText(field, Qt::AlignCenter, QStringLiteral("No Image"));
  return picture;
}

}  // namespace

PictureBox::PictureBox(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFixedSize(kStartWidth, kStartHeight);
  image_ = StartingPicture().copy();
}

const QImage& PictureBox::StartingPicture() {
  static const QImage picture = MakeStartingPicture();
  return picture;
}

QImage PictureBox::BlankImage(int width, int height) const {
  QImage blank(std::max(width, 0), std::max(height, 0), QImage::Format_RGB32);
  blank.fill(palette().color(QPalette::Window));
  return blank;
}

void PictureBox::Clear() {
  image_ = BlankImage(width(), height());
  if (image_.isNull()) return;
  QPainter painter(&image_);
  painter.drawImage(0, 0, StartingPicture());
}

void PictureBox::SetPictureSize(int height, int width) {
  height = std::max(height, 0);
  width = std::max(width, 0);
  if (height != image_.height() || width != image_.width()) {
    QImage resized = BlankImage(width, height);
    if (!resized.isNull()) {
      QPainter painter(&resized);
      painter.drawImage(0, 0, image_);
    }
    image_ = std::move(resized);
  }
  FitToImage();
}

void PictureBox::SetImage(const QImage& image) {
  if (image.size() != image_.size()) return;
  image_ = image;
  update();
}

void PictureBox::SetScale(double scale) {
  if (!(scale > 0)) return;
  scale_ = scale;
  FitToImage();
  update();
}

void PictureBox::SetCheckerboard(bool on) {
  checkerboard_ = on;
  update();
}

void PictureBox::FitToImage() {
  // A scaled-down image keeps at least one screen pixel per side, so it stays clickable.
  auto side = [this](int pixels) {
    if (pixels == 0) return 0;
    return std::max(1, int(std::lround(pixels * scale_)));
  };
  setFixedSize(side(image_.width()), side(image_.height()));
}

PixelTarget PictureBox::Target() {
  if (image_.isNull()) return {};
  // bits() detaches a shared image, so Draw always paints into the image shown.
  return {image_.bits(), image_.width(), image_.height(), int(image_.bytesPerLine())};
}

void PictureBox::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  const QRect exposed = event->rect();
  if (checkerboard_) {
    constexpr int kCell = 8;
    for (int y = exposed.top() / kCell * kCell; y <= exposed.bottom(); y += kCell)
      for (int x = exposed.left() / kCell * kCell; x <= exposed.right(); x += kCell)
        painter.fillRect(x, y, kCell, kCell, ((x + y) / kCell) % 2 ? kLightGrey : Qt::white);
  }
  if (scale_ == 1.0) {
    painter.drawImage(exposed.topLeft(), image_, exposed);
    return;
  }
  // Rounding can leave a fraction of a pixel at the far edges of a scaled-down image.
  if (scale_ < 1.0 && !checkerboard_) painter.fillRect(exposed, palette().color(QPalette::Window));
  // Only the image pixels under the exposed area are scaled: at 8x a 1024 x 1024 texture
  // would otherwise mean 64 million screen pixels for every repaint of a small view.
  const int left = std::max(0, int(std::floor(exposed.left() / scale_)));
  const int top = std::max(0, int(std::floor(exposed.top() / scale_)));
  const int right = std::min(image_.width(), int(std::ceil((exposed.right() + 1) / scale_)));
  const int bottom = std::min(image_.height(), int(std::ceil((exposed.bottom() + 1) / scale_)));
  if (right <= left || bottom <= top) return;
  const QRectF target(left * scale_, top * scale_, (right - left) * scale_, (bottom - top) * scale_);
  painter.drawImage(target, image_, QRect(left, top, right - left, bottom - top));
}

void PictureBox::mouseReleaseEvent(QMouseEvent* event) {
  switch (event->button()) {
    case Qt::LeftButton: emit MouseUp(1); break;
    case Qt::RightButton: emit MouseUp(2); break;
    case Qt::MiddleButton: emit MouseUp(4); break;
    default: break;
  }
  event->accept();
}
