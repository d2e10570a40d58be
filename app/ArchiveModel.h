// The entry list of an archive as Qt's views see it: one row per listed entry (see
// Archive::ListedCount), its name as the display text. The model shows an archive it does
// not own; whoever owns it calls setArchive() whenever that archive is replaced or goes.
//
// Changes to the entries go through the model, which calls the core and then tells the
// views exactly which rows came, went, moved or changed, so that the current row and the
// selection follow the entries rather than the row numbers.
#pragma once

#include <QAbstractListModel>
#include <string>

#include "app/PictureTransfer.h"
#include "archive/Archive.h"

class ArchiveModel : public QAbstractListModel {
  Q_OBJECT

 public:
  using QAbstractListModel::QAbstractListModel;

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
  // every remaining row is repainted.
  void entriesChanged();

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  // A row dragged out of the list goes as a PNG file (TextureDrag).
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QStringList mimeTypes() const override;
  QMimeData* mimeData(const QModelIndexList& indexes) const override;
  Qt::DropActions supportedDragActions() const override { return Qt::CopyAction; }

 private:
  Archive* archive_ = nullptr;
  // The rows the views were last told of. The core changes the archive before the views
  // hear of it, and Qt's views must go on seeing the old count until they do.
  int rows_ = 0;
  mutable TextureDrag drag_;
};
