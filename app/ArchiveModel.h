// The entry list of an archive as Qt's views see it: one row per listed entry (see
// Archive::ListedCount), its name as the display text. The model shows an archive it does
// not own; whoever owns it calls setArchive() whenever that archive changes or goes.
#pragma once

#include <QAbstractListModel>

class Archive;

class ArchiveModel : public QAbstractListModel {
  Q_OBJECT

 public:
  using QAbstractListModel::QAbstractListModel;

  // Shows archive (nullptr: none), which must outlive its showing; views lose their rows,
  // current row and selection. Call setArchive(nullptr) before the archive shown goes.
  void setArchive(const Archive* archive);
  const Archive* archive() const { return archive_; }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

 private:
  const Archive* archive_ = nullptr;
};
