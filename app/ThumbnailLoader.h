// Makes the entry list's thumbnails on worker threads, so that a list of hundreds of
// textures is painted at once and fills in while the window stays responsive.
//
// A worker is handed its own copy of a texture and never sees the archive, which only the
// window's thread touches. Each request carries a generation that comes back with its
// thumbnail: the caller keeps the generation of each entry's texture as it is now and drops
// whatever comes back for another (an older texture, an archive since closed).
#pragma once

#include <QImage>
#include <QObject>
#include <QSize>
#include <QThreadPool>

#include "texture/Texture.h"

class ThumbnailLoader : public QObject {
  Q_OBJECT

 public:
  explicit ThumbnailLoader(QObject* parent = nullptr);
  // Waits for the thumbnails being made, which are then dropped.
  ~ThumbnailLoader() override;

  // Makes the texture's thumbnail at most side x side, over the checkerboard's tile.
  // made() follows on this object's thread for every request, with a null image when the
  // texture cannot be decoded.
  void request(quint64 generation, int side, Texture texture, QImage checkerTile);
  // How many requests the workers take at once; more wait their turn.
  int workers() const { return pool_.maxThreadCount(); }

  // A texture's thumbnail: its decoded picture over the checkerboard, opaque, 4 bytes a
  // pixel, within side x side (see Fit). Null when it cannot be decoded or side < 1.
  static QImage Make(const Texture& texture, int side, const QImage& checkerTile);
  // The size of a picture's thumbnail: one larger than side x side is made smaller keeping
  // its aspect (each side at least 1); a smaller one is enlarged by the largest whole factor
  // that stays within it, so its texels stay square and sharp, as the view shows them.
  static QSize Fit(QSize picture, int side);

 signals:
  void made(quint64 generation, QImage thumbnail);

 private:
  QThreadPool pool_;
};
