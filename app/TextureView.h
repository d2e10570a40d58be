// Shows a decoded texture zoomed with square pixels and no smoothing, in one of three ways:
// its colours, its mask (alpha in red, as the BMP mask export holds it) or its colours over
// a checkerboard (white and light grey unless set otherwise) that its alpha lets through. The widget is always the size
// of the zoomed picture. With no texture it shows the starting picture, a grey frame around
// "No Image".
#pragma once

#include <QImage>
#include <QWidget>

#include "texture/Image.h"

struct BankColours;
struct Texture;

class TextureView : public QWidget {
  Q_OBJECT

 public:
  enum class Mode { Image, Mask, Alpha };

  explicit TextureView(QWidget* parent = nullptr);

  // Shows a texture's decoded picture. The view keeps it, so the QImages it paints can wrap
  // its bytes rather than copy them. hasAlphaBits false gives a black mask, whatever the
  // picture's alpha says.
  void showTexture(Image picture, bool hasAlphaBits);
  // Decodes the texture into the picture shown before, reusing its memory: showing one large
  // texture after another then spares the system a fresh block, and its page faults, each
  // time. A texture that cannot be decoded shows the starting picture; returns false then.
  // A palettized texture shows its indices through `colours` (greys without them).
  bool showTexture(const Texture& texture, const BankColours* colours = nullptr);
  // Shows the starting picture instead.
  void showNothing();

  // The checkerboard's colours, the first at the top-left cell.
  void setCheckerColours(QColor first, QColor second);

  void setMode(Mode mode);
  Mode mode() const { return mode_; }

  // Screen pixels per picture pixel: a whole number from 1 up, or below 1 to fit a large
  // picture into a view. The widget takes the zoomed size.
  void setScale(double scale);
  double scale() const { return scale_; }

  // The size of the picture shown, before zoom.
  QSize pictureSize() const;
  // What the current mode paints, before zoom and without the checkerboard. It may share
  // the bytes of the picture shown: it is good until the view is given another.
  QImage picture() const;

  // 449 x 150: a light grey 12-pixel frame around a white field with "No Image" centred.
  static const QImage& StartingPicture();

 signals:
  // The right mouse button was released over the view, at that point of the screen.
  void menuWanted(QPoint globalPosition);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  void fitToPicture();
  // Wraps texture_'s bytes in the QImages painted and takes the picture's size.
  void wrapPicture(bool hasAlphaBits);

  Image texture_;           // empty while the starting picture is shown
  bool hasAlphaBits_ = false;
  // texture_'s bytes, not copies: seen with alpha ignored, and with it.
  QImage opaque_, translucent_;
  mutable QImage mask_;     // built when first asked for, since few look at it
  QImage checker_;          // two cells each way, tiled behind the alpha view
  Mode mode_ = Mode::Image;
  double scale_ = 1.0;
};
