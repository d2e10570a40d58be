#include "app/ArchiveModel.h"

#include <QMimeData>
#include <QString>
#include <QStringList>

void ArchiveModel::setArchive(Archive* archive) {
  beginResetModel();
  archive_ = archive;
  rows_ = archive ? int(archive->ListedCount()) : 0;
  endResetModel();
}

Failure ArchiveModel::insert(size_t row, Archive::Entry entry, const std::string& archiveFileName) {
  if (archive_ == nullptr) return Error{"", "There is no archive loaded.", Icon::Exclamation};
  if (Failure refused = archive_->Insert(row, std::move(entry), archiveFileName)) return refused;
  // An insert lists every entry, which may bring unlisted ones into view as well.
  if (int(archive_->ListedCount()) != rows_ + 1 || int(row) > rows_) {
    entriesChanged();
    return std::nullopt;
  }
  beginInsertRows(QModelIndex(), int(row), int(row));
  ++rows_;
  endInsertRows();
  return std::nullopt;
}

Failure ArchiveModel::remove(size_t row) {
  if (archive_ == nullptr) return Error{"", "There is no archive loaded.", Icon::Exclamation};
  if (Failure refused = archive_->Remove(row)) return refused;
  if (int(row) >= rows_) return std::nullopt;  // an unlisted entry: no row went
  beginRemoveRows(QModelIndex(), int(row), int(row));
  --rows_;
  endRemoveRows();
  return std::nullopt;
}

Failure ArchiveModel::move(size_t row, size_t to) {
  if (archive_ == nullptr) return Error{"", "There is no archive loaded.", Icon::Exclamation};
  if (row == to) return std::nullopt;
  if (Failure refused = archive_->Move(row, to)) return refused;
  if (int(row) >= rows_ || int(to) >= rows_) {
    entriesChanged();
    return std::nullopt;
  }
  // Qt names the row the moved one goes before, counted before the move.
  beginMoveRows(QModelIndex(), int(row), int(row), QModelIndex(), int(to > row ? to + 1 : to));
  endMoveRows();
  return std::nullopt;
}

Failure ArchiveModel::rename(size_t row, const std::string& name) {
  if (archive_ == nullptr) return Error{"", "There is no archive loaded.", Icon::Exclamation};
  if (Failure refused = archive_->Rename(row, name)) return refused;
  if (int(row) < rows_) emit dataChanged(index(int(row)), index(int(row)));
  return std::nullopt;
}

void ArchiveModel::entriesChanged() {
  const int now = archive_ ? int(archive_->ListedCount()) : 0;
  if (now > rows_) {
    beginInsertRows(QModelIndex(), rows_, now - 1);
    rows_ = now;
    endInsertRows();
  } else if (now < rows_) {
    setArchive(archive_);
    return;
  }
  if (rows_ > 0) emit dataChanged(index(0), index(rows_ - 1));
}

int ArchiveModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid() || archive_ == nullptr) return 0;
  return rows_;
}

QVariant ArchiveModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !checkIndex(index, CheckIndexOption::IndexIsValid)) return {};
  const size_t row = size_t(index.row());
  if (row >= archive_->EntryCount()) return {};
  // The archive holds names in UTF-8 already.
  return QString::fromStdString(archive_->Entries()[row].name);
}

Qt::ItemFlags ArchiveModel::flags(const QModelIndex& index) const {
  const Qt::ItemFlags flags = QAbstractListModel::flags(index);
  return index.isValid() ? flags | Qt::ItemIsDragEnabled : flags;
}

QStringList ArchiveModel::mimeTypes() const { return {QStringLiteral("text/uri-list")}; }

QMimeData* ArchiveModel::mimeData(const QModelIndexList& indexes) const {
  if (archive_ == nullptr || indexes.size() != 1 || !indexes.first().isValid()) return nullptr;
  return drag_.mimeData(*archive_, size_t(indexes.first().row()));
}
