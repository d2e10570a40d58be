#include "app/ArchiveModel.h"

#include <QString>

#include "archive/Archive.h"

void ArchiveModel::setArchive(const Archive* archive) {
  beginResetModel();
  archive_ = archive;
  endResetModel();
}

int ArchiveModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid() || archive_ == nullptr) return 0;
  return int(archive_->ListedCount());
}

QVariant ArchiveModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !checkIndex(index, CheckIndexOption::IndexIsValid)) return {};
  // The archive holds names in UTF-8 already.
  return QString::fromStdString(archive_->Entries()[size_t(index.row())].name);
}
