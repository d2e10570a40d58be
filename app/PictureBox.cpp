#include "app/PictureBox.h"

#include <QFont>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>

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
  if (height == image_.height() && width == image_.width()) {
    setFixedSize(width, height);
    return;
  }
  QImage resized = BlankImage(width, height);
  if (!resized.isNull()) {
    QPainter painter(&resized);
    painter.drawImage(0, 0, image_);
  }
  image_ = std::move(resized);
  setFixedSize(width, height);
}

PixelTarget PictureBox::Target() {
  if (image_.isNull()) return {};
  // bits() detaches a shared image, so Draw always paints into the image shown.
  return {image_.bits(), image_.width(), image_.height(), int(image_.bytesPerLine())};
}

void PictureBox::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.drawImage(0, 0, image_);
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
