// The entry list of an archive as Qt's views see it: one row per listed entry (see
// Archive::ListedCount), its name as the display text, its size and formats (DetailsRole)
// and its thumbnail (Qt::DecorationRole, a QImage). The model shows an archive it does not
// own; whoever owns it calls setArchive() whenever that archive is replaced or goes.
//
// Changes to the entries go through the model, which calls the core and then tells the
// views exactly which rows came, went, moved or changed, so that the current row and the
// selection follow the entries rather than the row numbers.
//
// Thumbnails are made on worker threads (ThumbnailLoader) from copies of the textures,
// handed over a few at a time so that copying them never holds up the window: rows the
// views have painted without one first, then the others in order. A texture that changes
// (an import, an update, an entry added) gets a new generation; until its new thumbnail
// comes the row keeps the old one, and whatever comes back for an older generation, or
// from an archive shown before, is dropped.
#pragma once

#include <QAbstractListModel>
#include <QColor>
#include <QImage>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/PictureTransfer.h"
#include "archive/Archive.h"

class ThumbnailLoader;

class ArchiveModel : public QAbstractListModel {
  Q_OBJECT

 public:
  // "64x64, ARGB1555, twiddled": the size and the formats by TextureDetails' names.
  static constexpr int DetailsRole = Qt::UserRole + 1;

  explicit ArchiveModel(QObject* parent = nullptr);

  // Shows archive (nullptr: none), which must outlive its showing; views lose their rows,
  // current row and selection. Call setArchive(nullptr) before the archive shown goes.
  void setArchive(Archive* archive);
  const Archive* archive() const { return archive_; }

  // The core's operations of the same names on the archive shown; a refusal changes nothing
  // and tells the views nothing.
  Failure insert(size_t row, Archive::Entry entry, const std::string& archiveFileName);
  Failure remove(size_t row);
  Failure move(size_t row, size_t to);
  Failure rename(size_t row, const std::string& name);
  // After a change made to the archive elsewhere (an index, a texture, a whole update):
  // rows added at the end are inserted, any other change of count resets the views, and
  // every remaining row is repainted and gets its thumbnail made again.
  void entriesChanged();
  // After the row's texture was changed in place (an import): its details are repainted and
  // its thumbnail made again.
  void textureChanged(size_t row);

  // The largest side of the thumbnails made from now on, in pixels; 0 makes none. Those
  // made before that are larger are dropped at once, so that no thumbnail kept ever takes
  // more than side x side x 4 bytes; every row's is made again at the new size.
  void setThumbnailSize(int side);
  int thumbnailSize() const { return side_; }
  // The checkerboard's colours behind transparent pixels; every thumbnail is made again.
  void setCheckerColours(QColor first, QColor second);
  // Listed rows whose thumbnail for their texture as it is now has not come yet.
  int thumbnailsPending() const;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  // A row dragged out of the list goes as a PNG file (TextureDrag).
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QStringList mimeTypes() const override;
  QMimeData* mimeData(const QModelIndexList& indexes) const override;
  Qt::DropActions supportedDragActions() const override { return Qt::CopyAction; }

 signals:
  // Every listed row has its thumbnail, at the size asked for, of its texture as it is now.
  void thumbnailsReady();

 private:
  struct Thumbnail {
    quint64 generation = 0;  // of the texture as it is now
    QImage image;            // the last one made; of an older texture until current
    bool current = false;    // image is of this generation (null: could not be decoded)
    bool requested = false;  // a worker has this generation
  };

  // One row's thumbnail as it stands after its texture changed: a new generation.
  Thumbnail renewed(Thumbnail old);
  // Every entry's thumbnail renewed, as many as the archive has entries.
  void renewThumbnails();
  // Every thumbnail made again, those larger than side_ dropped at once.
  void remakeThumbnails();
  // Hands the workers more textures, up to the few they hold at once.
  void requestThumbnails();
  void scheduleRequests() const;
  void thumbnailMade(quint64 generation, const QImage& image);
  // The row whose thumbnail has that generation, looking at hint first.
  std::optional<size_t> rowOfGeneration(quint64 generation, size_t hint) const;
  // Tells the views the rows' count changed without a reset where it grew.
  void updateRowCount();

  Archive* archive_ = nullptr;
  // The rows the views were last told of. The core changes the archive before the views
  // hear of it, and Qt's views must go on seeing the old count until they do.
  int rows_ = 0;
  mutable TextureDrag drag_;

  ThumbnailLoader* loader_;
  int side_ = 64;
  QImage checkerTile_;
  std::vector<Thumbnail> thumbnails_;  // one per entry of the archive, in its order
  quint64 lastGeneration_ = 0;         // never reused, across archives as well
  // Requests not yet answered, stale ones included: each generation and the row it was
  // asked for, where its thumbnail is looked for first when it comes.
  std::vector<std::pair<quint64, size_t>> inFlight_;
  size_t unrequestedFrom_ = 0;         // rows before it are current or requested
  // Generations of rows painted without their thumbnail, made before the others.
  mutable std::vector<std::pair<quint64, size_t>> wanted_;
  mutable bool requestsScheduled_ = false;
  bool ready_ = false;  // thumbnailsReady was emitted since the last change
};
