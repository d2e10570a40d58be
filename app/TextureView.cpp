#include "app/TextureView.h"

#include <QFont>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QVector>
#include <algorithm>
#include <cmath>
#include <utility>

#include "app/Checkerboard.h"
#include "texture/Texture.h"

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

// The BMP mask export's picture: alpha as red, green and blue 0. Qt takes the alpha plane
// out of the RGBA bytes, and a colour table of reds turns each alpha byte into its pixel.
QImage MaskOf(const QImage& rgba, bool hasAlphaBits) {
  if (!hasAlphaBits) {
    QImage black(rgba.size(), QImage::Format_RGB32);
    black.fill(Qt::black);
    return black;
  }
  QImage alpha = rgba.convertToFormat(QImage::Format_Alpha8);
  alpha.reinterpretAsFormat(QImage::Format_Indexed8);
  QList<QRgb> reds(256);
  for (int a = 0; a < 256; ++a) reds[a] = qRgb(a, 0, 0);
  alpha.setColorTable(reds);
  return alpha.convertToFormat(QImage::Format_RGB32);
}

}  // namespace

TextureView::TextureView(QWidget* parent) : QWidget(parent), checker_(CheckerTile()) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  fitToPicture();
}

const QImage& TextureView::StartingPicture() {
  static const QImage picture = MakeStartingPicture();
  return picture;
}

void TextureView::showTexture(Image picture, bool hasAlphaBits) {
  // The old wrap goes before the bytes it points into.
  opaque_ = translucent_ = mask_ = QImage();
  texture_ = std::move(picture);
  wrapPicture(hasAlphaBits);
}

bool TextureView::showTexture(const Texture& texture, const BankColours* colours) {
  opaque_ = translucent_ = mask_ = QImage();
  const bool decoded = texture.DecodeInto(texture_, colours);
  if (!decoded) texture_ = Image{};
  // A palette's colours bring their own alpha, whatever the pixel-format byte says.
  wrapPicture(texture.IsPalettized() || texture.HasAlphaBits());
  return decoded;
}

void TextureView::wrapPicture(bool hasAlphaBits) {
  hasAlphaBits_ = hasAlphaBits;
  if (!texture_.Empty()) {
    auto wrap = [this](QImage::Format format) {
      return QImage(texture_.rgba.data(), texture_.width, texture_.height,
                    qsizetype(texture_.RowBytes()), format);
    };
    opaque_ = wrap(QImage::Format_RGBX8888);
    translucent_ = wrap(QImage::Format_RGBA8888);
  }
  fitToPicture();
  update();
}

void TextureView::showNothing() { showTexture(Image{}, false); }

void TextureView::setCheckerColours(QColor first, QColor second) {
  checker_ = CheckerTile(first, second);
  update();
}

void TextureView::setMode(Mode mode) {
  mode_ = mode;
  update();
}

void TextureView::setScale(double scale) {
  if (!(scale > 0)) return;
  scale_ = scale;
  fitToPicture();
  update();
}

QSize TextureView::pictureSize() const {
  return texture_.Empty() ? StartingPicture().size() : QSize(texture_.width, texture_.height);
}

QImage TextureView::picture() const {
  if (texture_.Empty()) return StartingPicture();
  switch (mode_) {
    case Mode::Image: break;
    case Mode::Mask:
      if (mask_.isNull()) mask_ = MaskOf(translucent_, hasAlphaBits_);
      return mask_;
    case Mode::Alpha: return translucent_;
  }
  return opaque_;
}

void TextureView::fitToPicture() {
  // A scaled-down picture keeps at least one screen pixel per side, so it stays clickable.
  auto side = [this](int pixels) { return std::max(1, int(std::lround(pixels * scale_))); };
  const QSize size = pictureSize();
  setFixedSize(side(size.width()), side(size.height()));
}

void TextureView::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  const QRect exposed = event->rect();
  const QImage shown = picture();
  const bool checkerboard = mode_ == Mode::Alpha && !texture_.Empty();
  if (checkerboard) PaintCheckerboard(painter, exposed, checker_);
  if (scale_ == 1.0) {
    painter.drawImage(exposed.topLeft(), shown, exposed);
    return;
  }
  // Rounding can leave a fraction of a pixel at the far edges of a scaled-down picture.
  if (scale_ < 1.0 && !checkerboard) painter.fillRect(exposed, palette().color(QPalette::Window));
  // Only the picture's pixels under the exposed area are scaled: at 8x a 1024 x 1024 texture
  // would otherwise mean 64 million screen pixels for every repaint of a small view.
  const int left = std::max(0, int(std::floor(exposed.left() / scale_)));
  const int top = std::max(0, int(std::floor(exposed.top() / scale_)));
  const int right = std::min(shown.width(), int(std::ceil((exposed.right() + 1) / scale_)));
  const int bottom = std::min(shown.height(), int(std::ceil((exposed.bottom() + 1) / scale_)));
  if (right <= left || bottom <= top) return;
  const QRectF target(left * scale_, top * scale_, (right - left) * scale_, (bottom - top) * scale_);
  painter.drawImage(target, shown, QRect(left, top, right - left, bottom - top));
}

void TextureView::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::RightButton) emit menuWanted(event->globalPosition().toPoint());
  event->accept();
}
