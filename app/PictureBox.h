// A picture box: a borderless widget that shows a persistent image, at its own size or
// zoomed with square pixels and no smoothing; the box is always the zoomed image's size.
// Drawing goes into the image's pixels (Target) and appears on screen at the next refresh;
// covering and uncovering the box never loses it.
#pragma once

#include <QImage>
#include <QWidget>

struct PixelTarget;

class PictureBox : public QWidget {
  Q_OBJECT

 public:
  explicit PictureBox(QWidget* parent = nullptr);

  // The picture every box starts with and returns to on Clear(): 449 x 150, a light grey
  // 12-pixel frame around a white field with "No Image" centred in it.
  static const QImage& StartingPicture();

  // Resets the image to the starting picture at the box's current size: the picture at the
  // top-left, cut off or surrounded by the window colour.
  void Clear();

  // Gives the box and its image a new size in pixels (height first, as the handlers call
  // it). What was drawn stays where it fits; new area takes the window colour.
  void SetPictureSize(int height, int width);

  // The image's pixels, for cPVR::Draw. They stay valid until the image is next resized
  // or cleared; the box owns them. No pixels (null) while the box has no area.
  PixelTarget Target();

  // The persistent image, for readers that only look.
  const QImage& Image() const { return image_; }

  // Replaces the persistent image with one of the same size, for pictures made apart (the
  // alpha view's composite). An image with alpha shows what lies behind it.
  void SetImage(const QImage& image);

  // Screen pixels per image pixel: a whole number from 1 up, or below 1 to fit a large
  // image into a view. The box takes the zoomed size; the image is unchanged.
  void SetScale(double scale);
  double Scale() const { return scale_; }

  // Whether a grey and white checkerboard, fixed to the screen, lies behind the image.
  void SetCheckerboard(bool on);

 signals:
  // A mouse button was released over the box: 1 left, 2 right, 4 middle.
  void MouseUp(int button);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  QImage BlankImage(int width, int height) const;
  // Sizes the box to the image at the current scale.
  void FitToImage();

  QImage image_;
  double scale_ = 1.0;
  bool checkerboard_ = false;
};
