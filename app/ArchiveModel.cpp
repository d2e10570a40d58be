#include "app/ArchiveModel.h"

#include <QMimeData>
#include <QString>
#include <QStringList>
#include <QMetaObject>
#include <QString>
#include <algorithm>

#include "app/Checkerboard.h"
#include "app/ThumbnailLoader.h"
#include "texture/TextureDetails.h"

namespace {

// More rows than any view shows at once.
constexpr size_t kMostWanted = 1024;

}  // namespace

ArchiveModel::ArchiveModel(QObject* parent)
    : QAbstractListModel(parent), loader_(new ThumbnailLoader(this)), checkerTile_(CheckerTile()) {
  connect(loader_, &ThumbnailLoader::made, this, &ArchiveModel::thumbnailMade);
}

void ArchiveModel::setArchive(Archive* archive) {
  beginResetModel();
  archive_ = archive;
  rows_ = archive ? int(archive->ListedCount()) : 0;
  // Nothing of the archive shown before stays, its generations least of all.
  thumbnails_.clear();
  wanted_.clear();
  renewThumbnails();
  endResetModel();
  requestThumbnails();
}

Failure ArchiveModel::insert(size_t row, Archive::Entry entry, const std::string& archiveFileName) {
  if (archive_ == nullptr) return Error{"", "There is no archive loaded.", Icon::Exclamation};
  if (Failure refused = archive_->Insert(row, std::move(entry), archiveFileName)) return refused;
  thumbnails_.insert(thumbnails_.begin() + ptrdiff_t(row), renewed({}));
  unrequestedFrom_ = std::min(unrequestedFrom_, row);
  // An insert lists every entry, which may bring unlisted ones into view as well.
  if (int(archive_->ListedCount()) != rows_ + 1 || int(row) > rows_) {
    updateRowCount();
  } else {
    beginInsertRows(QModelIndex(), int(row), int(row));
    ++rows_;
    endInsertRows();
  }
  requestThumbnails();
  return std::nullopt;
}

Failure ArchiveModel::remove(size_t row) {
  if (archive_ == nullptr) return Error{"", "There is no archive loaded.", Icon::Exclamation};
  if (Failure refused = archive_->Remove(row)) return refused;
  // A request for it still out finds no row when it comes back.
  thumbnails_.erase(thumbnails_.begin() + ptrdiff_t(row));
  if (row < unrequestedFrom_) --unrequestedFrom_;
  if (int(row) >= rows_) return std::nullopt;  // an unlisted entry: no row went
  beginRemoveRows(QModelIndex(), int(row), int(row));
  --rows_;
  endRemoveRows();
  requestThumbnails();  // the last one missing may have gone
  return std::nullopt;
}

Failure ArchiveModel::move(size_t row, size_t to) {
  if (archive_ == nullptr) return Error{"", "There is no archive loaded.", Icon::Exclamation};
  if (row == to) return std::nullopt;
  if (Failure refused = archive_->Move(row, to)) return refused;
  // The thumbnail goes with its texture, which did not change.
  Thumbnail moved = std::move(thumbnails_[row]);
  thumbnails_.erase(thumbnails_.begin() + ptrdiff_t(row));
  thumbnails_.insert(thumbnails_.begin() + ptrdiff_t(to), std::move(moved));
  unrequestedFrom_ = std::min({unrequestedFrom_, row, to});
  if (int(row) >= rows_ || int(to) >= rows_) {
    updateRowCount();
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
  if (int(row) < rows_) emit dataChanged(index(int(row)), index(int(row)), {Qt::DisplayRole});
  return std::nullopt;
}

void ArchiveModel::entriesChanged() {
  renewThumbnails();
  updateRowCount();
  requestThumbnails();
}

void ArchiveModel::textureChanged(size_t row) {
  if (archive_ == nullptr || row >= thumbnails_.size()) return;
  thumbnails_[row] = renewed(std::move(thumbnails_[row]));
  unrequestedFrom_ = std::min(unrequestedFrom_, row);
  if (int(row) < rows_) emit dataChanged(index(int(row)), index(int(row)));
  requestThumbnails();
}

void ArchiveModel::updateRowCount() {
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

// ---- Thumbnails -----------------------------------------------------------------------

ArchiveModel::Thumbnail ArchiveModel::renewed(Thumbnail old) {
  ready_ = false;
  return {++lastGeneration_, std::move(old.image), false, false};
}

void ArchiveModel::renewThumbnails() {
  const size_t entries = archive_ ? archive_->EntryCount() : 0;
  thumbnails_.resize(entries);
  for (Thumbnail& t : thumbnails_) t = renewed(std::move(t));
  unrequestedFrom_ = 0;
}

void ArchiveModel::setThumbnailSize(int side) {
  side = std::max(0, side);
  if (side == side_) return;
  side_ = side;
  remakeThumbnails();
}

void ArchiveModel::setCheckerColours(QColor first, QColor second) {
  QImage tile = CheckerTile(first, second);
  if (tile == checkerTile_) return;
  checkerTile_ = std::move(tile);
  remakeThumbnails();
}

void ArchiveModel::remakeThumbnails() {
  for (Thumbnail& t : thumbnails_) {
    if (t.image.width() > side_ || t.image.height() > side_) t.image = QImage();
    t = renewed(std::move(t));
  }
  unrequestedFrom_ = 0;
  wanted_.clear();
  if (rows_ > 0) emit dataChanged(index(0), index(rows_ - 1), {Qt::DecorationRole});
  requestThumbnails();
}

int ArchiveModel::thumbnailsPending() const {
  if (side_ == 0) return 0;
  const size_t listed = std::min(size_t(rows_), thumbnails_.size());
  return int(std::count_if(thumbnails_.begin(), thumbnails_.begin() + ptrdiff_t(listed),
                           [](const Thumbnail& t) { return !t.current; }));
}

std::optional<size_t> ArchiveModel::rowOfGeneration(quint64 generation, size_t hint) const {
  if (hint < thumbnails_.size() && thumbnails_[hint].generation == generation) return hint;
  // Rows moved since: an edit while thumbnails were being made, so rare enough to search.
  for (size_t row = 0; row < thumbnails_.size(); ++row)
    if (thumbnails_[row].generation == generation) return row;
  return std::nullopt;
}

void ArchiveModel::scheduleRequests() const {
  if (requestsScheduled_) return;
  requestsScheduled_ = true;
  // data() is asked while a view paints; the copies wait until the paint is done.
  QMetaObject::invokeMethod(
      const_cast<ArchiveModel*>(this),
      [this] {
        requestsScheduled_ = false;
        const_cast<ArchiveModel*>(this)->requestThumbnails();
      },
      Qt::QueuedConnection);
}

void ArchiveModel::requestThumbnails() {
  if (archive_ == nullptr || side_ == 0) return;
  // A few at a time: enough to keep every worker busy while the next one is copied, few
  // enough that each copy, made as a thumbnail comes back, costs the window next to nothing.
  const size_t most = size_t(2 * loader_->workers() + 1);
  const auto request = [&](size_t row) {
    Thumbnail& t = thumbnails_[row];
    t.requested = true;
    inFlight_.emplace_back(t.generation, row);
    loader_->request(t.generation, side_, archive_->Entries()[row].texture, checkerTile_);
  };
  while (inFlight_.size() < most && !wanted_.empty()) {
    const auto [generation, hint] = wanted_.back();
    wanted_.pop_back();
    const std::optional<size_t> row = rowOfGeneration(generation, hint);
    if (row && int(*row) < rows_ && !thumbnails_[*row].current && !thumbnails_[*row].requested) request(*row);
  }
  const size_t listed = std::min(size_t(rows_), thumbnails_.size());
  while (inFlight_.size() < most && unrequestedFrom_ < listed) {
    const Thumbnail& t = thumbnails_[unrequestedFrom_];
    if (!t.current && !t.requested) request(unrequestedFrom_);
    ++unrequestedFrom_;
  }
  if (!ready_ && inFlight_.empty() && unrequestedFrom_ >= listed && thumbnailsPending() == 0) {
    ready_ = true;
    emit thumbnailsReady();
  }
}

void ArchiveModel::thumbnailMade(quint64 generation, const QImage& image) {
  const auto asked = std::find_if(inFlight_.begin(), inFlight_.end(),
                                  [generation](const auto& r) { return r.first == generation; });
  if (asked == inFlight_.end()) return;
  const size_t hint = asked->second;
  inFlight_.erase(asked);
  const std::optional<size_t> row = rowOfGeneration(generation, hint);
  if (row) {
    Thumbnail& t = thumbnails_[*row];
    t.image = image;
    t.current = true;
    t.requested = false;
    if (int(*row) < rows_) emit dataChanged(index(int(*row)), index(int(*row)), {Qt::DecorationRole});
  }
  requestThumbnails();
}

// ---- What the views ask ---------------------------------------------------------------

int ArchiveModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid() || archive_ == nullptr) return 0;
  return rows_;
}

QVariant ArchiveModel::data(const QModelIndex& index, int role) const {
  if (!checkIndex(index, CheckIndexOption::IndexIsValid)) return {};
  const size_t row = size_t(index.row());
  if (row >= archive_->EntryCount()) return {};
  const Archive::Entry& entry = archive_->Entries()[row];
  switch (role) {
    case Qt::DisplayRole:
      // The archive holds names in UTF-8 already.
      return QString::fromStdString(entry.name);
    case DetailsRole: {
      const Texture& t = entry.texture;
      return QStringLiteral("%1x%2, %3, %4")
          .arg(t.width)
          .arg(t.height)
          .arg(QString::fromStdString(TextureDetails::PixelFormatName(t.pixelFormat)),
               QString::fromStdString(TextureDetails::DataFormatName(t.dataFormat)));
    }
    case Qt::DecorationRole: {
      if (side_ == 0 || row >= thumbnails_.size()) return {};
      const Thumbnail& t = thumbnails_[row];
      if (!t.current && !t.requested) {
        // A view that repaints while the workers are busy asks again; the oldest asks go.
        if (wanted_.size() >= kMostWanted) wanted_.erase(wanted_.begin(), wanted_.begin() + kMostWanted / 2);
        wanted_.emplace_back(t.generation, row);
        scheduleRequests();
      }
      return QVariant::fromValue(t.image);
    }
    default: return {};
  }
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
