#include "app/MainWindow.h"

#include <QAction>
#include <QClipboard>
#include <QActionGroup>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QMouseEvent>
#include <QProgressDialog>
#include <QScrollArea>
#include <QSortFilterProxyModel>
#include <QStatusBar>
#include <QTime>
#include <QUndoStack>
#include <QUrl>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <set>
#include <utility>
#include <vector>

#include "app/About.h"
#include "app/ArchiveModel.h"
#include "app/EditHistory.h"
#include "app/EntryDelegate.h"
#include "app/EntryDialogs.h"
#include "app/ExternalEditor.h"
#include "app/FileDialogs.h"
#include "app/MessageBoxes.h"
#include "app/PictureTransfer.h"
#include "app/PreferencesDialog.h"
#include "app/RecentFiles.h"
#include "app/Seam.h"
#include "archive/TexturePack.h"
#include "platform/Files.h"
#include "texture/PictureCompare.h"
#include "texture/PictureFiles.h"
#include "texture/TextureDetails.h"

namespace {

using MessageBoxes::Answer;
using MessageBoxes::Buttons;

// The entry list is wide enough for two columns of the grid's 128-pixel thumbnails, or a
// list's 64-pixel ones beside their details; the view and its switch sit right of it.
constexpr int kListWidth = 296;
constexpr int kViewLeft = kListWidth + 15;
constexpr int kClientWidth = kViewLeft + 458;
constexpr int kClientHeight = 427;
constexpr int kMaxZoom = 8;
// The list's thumbnails are never larger than this, the grid's as large as asked.
constexpr int kListThumbnail = 64;

const FileDialogs::Filter kArchiveFilter{"PVM Files", "*.pvm;*.pvr"};
// A pack is a .pvmx file or a folder, which a file dialog chooses by its index.txt.
const FileDialogs::Filter kPvmxFilter{"PVMX Files", "*.pvmx"};
const FileDialogs::Filter kPackFilter{"Texture Packs", "*.pvmx;index.txt"};
const FileDialogs::Filter kBmpFilter{"BMP Files", "*.bmp"};
// Pictures are exported and imported as PNG or BMP; the chosen file's extension decides.
const std::vector<FileDialogs::Filter> kPictureFilters{{"PNG Files", "*.png"}, kBmpFilter};

constexpr std::array<TextureView::Mode, 3> kViewModes{
    TextureView::Mode::Image, TextureView::Mode::Mask, TextureView::Mode::Alpha};

Answer Ask(const std::string& text, Buttons buttons, Icon icon, const std::string& title = "") {
  return MessageBoxes::Show({text, title, buttons, icon});
}

void Tell(const std::string& text, Icon icon = Icon::Exclamation) {
  MessageBoxes::Show({text, "", Buttons::Ok, icon});
}

void WarnNoSelection() { Tell("Please select a texture before Importing/Exporting"); }

bool EndsWithNoCase(const std::string& path, const char* ending) {
  return QString::fromStdString(path).endsWith(QLatin1String(ending), Qt::CaseInsensitive);
}

// The pack a chosen file stands for: a .pvmx file itself, or the folder of an index.txt.
std::string PackPath(const std::string& chosen) {
  if (EndsWithNoCase(chosen, ".pvmx")) return chosen;
  return QFileInfo(QString::fromStdString(chosen)).absolutePath().toStdString();
}

// Properties' view of an entry: its data format without mipmaps, and whether it has them.
EntryDialogs::Properties PropertiesOf(const Archive::Entry& entry) {
  const Texture& t = entry.texture;
  const Expected<uint8_t> plain = FormatChoice::DataFormatFor({t.pixelFormat, t.dataFormat, false}, t.width, t.height);
  const uint8_t dataFormat = plain ? *plain : t.dataFormat;
  return {entry.name, entry.globalIndex, t.pixelFormat, dataFormat, dataFormat != t.dataFormat, t.width, t.height};
}

std::string FileNameOf(const std::string& path) {
  const size_t cut = path.find_last_of('/');
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

// The folder of a path with its trailing separator.
std::string FolderOf(const std::string& path) {
  return path.substr(0, path.size() - FileNameOf(path).size());
}

std::string Plural(size_t count, const char* word) {
  return std::to_string(count) + " " + word + (count == 1 ? "" : "s");
}

// The desktop's viewer for the page. A missing page, or a desktop that cannot show it,
// stays silent: the program has nothing useful to add.
void OpenWithDesktop(const std::string& page) {
  const QString path = QString::fromStdString(page);
  if (QFileInfo(path).isFile()) QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

// The entry list. Unlike a plain QListView it does not make its first row current when it
// gains the focus, so no row counts as chosen until the user picks one; Enter shows the
// selected row, as a double-click does.
class EntryList : public QListView {
 public:
  EntryList(QWidget* parent, std::function<void()> showSelected)
      : QListView(parent), showSelected_(std::move(showSelected)) {}

 protected:
  void focusInEvent(QFocusEvent* event) override {
    const bool hadCurrent = currentIndex().isValid();
    QListView::focusInEvent(event);
    if (!hadCurrent && !selectionModel()->hasSelection())
      selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
  }

  void keyPressEvent(QKeyEvent* event) override {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
      showSelected_();
      return;
    }
    QListView::keyPressEvent(event);
  }

 private:
  std::function<void()> showSelected_;
};

// A cancellable progress dialog over the window, as a batch's Progress.
class BatchProgressDialog {
 public:
  BatchProgressDialog(QWidget* owner, const QString& label, size_t total)
      : dialog_(label, QStringLiteral("Cancel"), 0, int(total), owner) {
    dialog_.setWindowModality(Qt::WindowModal);
    dialog_.setMinimumDuration(0);
    dialog_.setAutoClose(false);
  }

  BatchFiles::Progress Step() {
    return [this](size_t done, size_t) {
      dialog_.setValue(int(done));
      // Lets a click on Cancel through, however fast the textures go.
      QCoreApplication::processEvents();
      return !dialog_.wasCanceled();
    };
  }

 private:
  QProgressDialog dialog_;
};

// What the core had to say, one line each, shown after a summary in one box; the errors it
// gives are shown at once.
struct Report {
  std::vector<std::string> lines;

  BatchFiles::Voice Voice() {
    return {[this](const std::string& line) { lines.push_back(line); },
            [](const Error& error) { MessageBoxes::Show(error); }};
  }

  void Show(const std::string& summary, bool fault) const {
    std::string text = summary;
    for (const std::string& line : lines) text += (text.empty() ? "" : "\n") + line;
    if (!text.empty()) Tell(text, fault ? Icon::Exclamation : Icon::None);
  }

  // Shows an error after the lines said so far, as a fault.
  void Refuse(const Error& error) {
    lines.push_back(error.text);
    Show("", true);
  }
};

// The pack a chosen file stands for, read; nullopt when it was refused (and shown).
std::optional<TexturePack::Pack> ReadPack(const std::string& pack, Report& report) {
  Expected<TexturePack::Pack> read = TexturePack::Read(pack, report.lines);
  if (read) return std::move(*read);
  report.Refuse(read.error());
  return std::nullopt;
}

enum class DroppedKind { None, Archive, Picture };

// The one local file of a drop and what it is, judged by its extension as the file
// dialogs' filters judge names.
std::pair<DroppedKind, std::string> DroppedFile(const QMimeData* data) {
  if (data == nullptr || !data->hasUrls() || data->urls().size() != 1) return {};
  const QUrl url = data->urls().first();
  if (!url.isLocalFile()) return {};
  const QString path = url.toLocalFile();
  const QString suffix = QFileInfo(path).suffix().toLower();
  if (suffix == QLatin1String("pvm") || suffix == QLatin1String("pvmx"))
    return {DroppedKind::Archive, path.toStdString()};
  if (suffix == QLatin1String("bmp") || suffix == QLatin1String("png"))
    return {DroppedKind::Picture, path.toStdString()};
  return {};
}

}  // namespace

// The first Open starts where the sample lies, so a newcomer finds something to open.
MainWindow::MainWindow(std::string dataFolder, QWidget* parent)
    : QMainWindow(parent), dialogFolder_(dataFolder), dataFolder_(std::move(dataFolder)) {
  setWindowTitle(QString::fromUtf8(MessageBoxes::kAppTitle));
  history_ = new QUndoStack(this);
  connect(history_, &QUndoStack::cleanChanged, this, [this](bool clean) { setWindowModified(!clean); });
  connect(history_, &QUndoStack::indexChanged, this, [this] { endBeforeAfter(); });
  buildControls();
  buildActions();
  setAcceptDrops(true);
  restoreSettings();
}

MainWindow::~MainWindow() {
  // The steps point into the archive, and the stack's last signals come to this window.
  delete history_;
  // The archive goes before the model and the list, which must not look at it after.
  model_->setArchive(nullptr);
}

// ---- Building -------------------------------------------------------------------------

// The controls keep their classic places at the classic size, which is also the smallest;
// a larger window gives the list more rows and the view more room.
void MainWindow::buildControls() {
  auto* client = new QWidget(this);
  client->setMinimumSize(kClientWidth, kClientHeight);
  setCentralWidget(client);

  model_ = new ArchiveModel(this);
  filtered_ = new QSortFilterProxyModel(this);
  filtered_->setSourceModel(model_);
  filtered_->setFilterCaseSensitivity(Qt::CaseInsensitive);
  filter_ = new QLineEdit(client);
  filter_->setObjectName(QStringLiteral("entryFilter"));
  filter_->setPlaceholderText(QStringLiteral("Filter by name"));
  filter_->setClearButtonEnabled(true);
  connect(filter_, &QLineEdit::textChanged, filtered_, &QSortFilterProxyModel::setFilterFixedString);
  list_ = new EntryList(client, [this] { showSelectedRow(); });
  list_->setModel(filtered_);
  connect(filter_, &QLineEdit::returnPressed, list_, [this] { list_->setFocus(Qt::OtherFocusReason); });
  delegate_ = new EntryDelegate(list_);
  list_->setItemDelegate(delegate_);
  list_->setUniformItemSizes(true);
  list_->setToolTip(QStringLiteral("WAV data sets embedded in te DAT file"));
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  // A row dragged onto a file manager leaves a PNG there.
  list_->setDragEnabled(true);
  list_->setDragDropMode(QAbstractItemView::DragOnly);
  list_->setDefaultDropAction(Qt::CopyAction);
  connect(list_, &QListView::doubleClicked, this, [this] { showSelectedRow(); });
  connect(list_->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
    showSelectedRow();
    updateDetails();
  });

  status_ = new QLabel(QStringLiteral("No File Loaded"), client);
  status_->setGeometry(8, 16, 113, 17);
  viewCaption_ = new QLabel(QStringLiteral("View:"), client);
  viewCaption_->setGeometry(kViewLeft, 16, 33, 17);
  const char* captions[] = {"Image", "Mask", "Alpha"};
  for (size_t i = 0; i < viewSwitch_.size(); ++i) {
    viewSwitch_[i] = new QLabel(QString::fromLatin1(captions[i]), client);
    viewSwitch_[i]->setGeometry(kViewLeft + 40 + 72 * int(i), 16, 65, 17);
    viewSwitch_[i]->setAutoFillBackground(true);
    viewSwitch_[i]->installEventFilter(this);
  }

  viewArea_ = new QScrollArea(client);
  viewArea_->setFrameShape(QFrame::NoFrame);
  viewArea_->setFocusPolicy(Qt::NoFocus);
  viewArea_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  viewArea_->viewport()->setBackgroundRole(QPalette::Window);
  view_ = new TextureView;
  view_->setFocusPolicy(Qt::TabFocus);
  viewArea_->setWidget(view_);
  connect(view_, &TextureView::menuWanted, this, [this](QPoint at) { textureMenu_->popup(at); });

  details_ = new QLabel(this);
  statusBar()->addPermanentWidget(details_, 1);
  editingNote_ = new QLabel(this);
  editingNote_->setObjectName(QStringLiteral("editingNote"));
  // A long note may be cut, but must not make the window wider; the tip holds all of it.
  editingNote_->setMinimumWidth(1);
  editingNote_->setContentsMargins(0, 0, 16, 0);
  editingNote_->hide();
  statusBar()->insertPermanentWidget(0, editingNote_);
  editor_ = new ExternalEditor(this);
  connect(editor_, &ExternalEditor::saved, this, &MainWindow::importExternalSave);
  connect(editor_, &ExternalEditor::note, this, &MainWindow::showEditingNote);
  connect(editor_, &ExternalEditor::editorFailed, this, [this](const QString& why) {
    stopEditing();
    Tell(why.toStdString(), Icon::Critical);
  });
  // Picking another texture ends the editing; the model keeps editedRow_ on its entry when
  // rows move, so a move alone does not.
  connect(list_->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
    const std::optional<size_t> row = selectedRow();
    if (editor_->editing() && (!row || !editedRow_.isValid() || size_t(editedRow_.row()) != *row)) stopEditing();
  });
  importLoss_ = new QLabel(this);
  statusBar()->addPermanentWidget(importLoss_);

  // Watched only once every control exists.
  client->installEventFilter(this);
  viewArea_->viewport()->installEventFilter(this);
  setView(TextureView::Mode::Image);
  applyZoom();
  applyEntryLayout();
  layOutControls();
  // The list, not the filter above it, has the keys first.
  list_->setFocus();
  resize(minimumSizeHint());
}

void MainWindow::buildActions() {
  // Adds an action named after its handler, so tests and tools find it by that name. Those
  // with shortcuts belong to the window as well, so the keys work while the menus are closed.
  auto add = [this](QWidget* where, const char* name, const QString& text,
                    std::function<void()> handler, QList<QKeySequence> keys = {}) {
    auto* action = new QAction(text, this);
    action->setObjectName(QString::fromLatin1(name));
    action->setShortcuts(keys);
    where->addAction(action);
    if (!keys.isEmpty()) addAction(action);
    connect(action, &QAction::triggered, this, std::move(handler));
    return action;
  };
  using BatchFiles::FileFormat;

  QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
  add(file, "newArchive", QStringLiteral("&New"), [this] { newArchive(); }, {Qt::CTRL | Qt::Key_N});
  add(file, "openArchive", QStringLiteral("&Open"), [this] { openArchive(); }, {Qt::CTRL | Qt::Key_O});
  QMenu* recent = file->addMenu(QStringLiteral("Open Re&cent"));
  recent->setObjectName(QStringLiteral("openRecentMenu"));
  QAction* clearRecent = add(recent, "clearRecentFiles", QStringLiteral("&Clear"), [this] { recent_->clear(); });
  recent_ = std::make_unique<RecentFiles>(recent, clearRecent, [this](const std::string& path) { openArchiveFile(path); });
  add(file, "releaseArchive", QStringLiteral("&Release"), [this] { releaseArchive(); },
      {Qt::CTRL | Qt::Key_R});
  add(file, "saveArchive", QStringLiteral("&Save"), [this] { saveArchive(); }, {Qt::CTRL | Qt::Key_S});
  add(file, "saveArchiveAs", QStringLiteral("Sa&ve As..."), [this] { saveArchiveAs(); },
      {Qt::CTRL | Qt::SHIFT | Qt::Key_S});
  file->addSeparator();
  add(file, "extractPvr", QStringLiteral("Extract .p&vr..."), [this] { extractPvr(); });
  add(file, "exportAll", QStringLiteral("Export &all..."), [this] { exportAll(FileFormat::Bmp); });
  add(file, "exportAllPng", QStringLiteral("Export all as &PNG..."),
      [this] { exportAll(FileFormat::Png); });
  add(file, "importAll", QStringLiteral("Import a&ll..."), [this] { importAll(FileFormat::Bmp); });
  add(file, "importAllPng", QStringLiteral("Import all from P&NG..."),
      [this] { importAll(FileFormat::Png); });
  file->addSeparator();
  add(file, "exportTexturePack", QStringLiteral("Export as &texture pack..."), [this] { exportTexturePack(); });
  add(file, "newArchiveFromPack", QStringLiteral("New archive from texture pac&k..."),
      [this] { newArchiveFromPack(); });
  add(file, "updateFromPack", QStringLiteral("&Update from texture pack..."), [this] { updateFromPack(); });
  file->addSeparator();
  add(file, "exit", QStringLiteral("E&xit"), [this] { close(); });

  QMenu* edit = menuBar()->addMenu(QStringLiteral("&Edit"));
  // Named for the step they undo and redo: "Undo Rename one".
  const auto follow = [this](QAction* action, const QString& verb, auto canChanged, auto textChanged) {
    action->setEnabled(false);
    connect(history_, canChanged, action, &QAction::setEnabled);
    connect(history_, textChanged, action,
            [action, verb](const QString& step) { action->setText(step.isEmpty() ? verb : verb + u' ' + step); });
  };
  follow(add(edit, "undo", QStringLiteral("Undo"), [this] { undo(); }, {Qt::CTRL | Qt::Key_Z}),
         QStringLiteral("Undo"), &QUndoStack::canUndoChanged, &QUndoStack::undoTextChanged);
  follow(add(edit, "redo", QStringLiteral("Redo"), [this] { redo(); },
             {Qt::CTRL | Qt::SHIFT | Qt::Key_Z, Qt::CTRL | Qt::Key_Y}),
         QStringLiteral("Redo"), &QUndoStack::canRedoChanged, &QUndoStack::redoTextChanged);
  edit->addSeparator();
  add(edit, "copyTexture", QStringLiteral("&Copy"), [this] { copyTexture(); }, {Qt::CTRL | Qt::Key_C});
  add(edit, "pasteTexture", QStringLiteral("&Paste"), [this] { pasteTexture(); }, {Qt::CTRL | Qt::Key_V});
  edit->addSeparator();
  add(edit, "addTextures", QStringLiteral("&Add textures..."), [this] { addTextures(); },
      {Qt::CTRL | Qt::SHIFT | Qt::Key_A});
  add(edit, "removeEntry", QStringLiteral("Re&move"), [this] { removeEntry(); }, {Qt::Key_Delete});
  add(edit, "renameEntry", QStringLiteral("Re&name..."), [this] { renameEntry(); }, {Qt::Key_F2});
  add(edit, "moveEntryUp", QStringLiteral("Move &Up"), [this] { moveEntry(-1); }, {Qt::CTRL | Qt::Key_Up});
  add(edit, "moveEntryDown", QStringLiteral("Move &Down"), [this] { moveEntry(+1); },
      {Qt::CTRL | Qt::Key_Down});
  edit->addSeparator();
  add(edit, "editProperties", QStringLiteral("&Properties..."), [this] { editProperties(); },
      {Qt::ALT | Qt::Key_Return});
  edit->addSeparator();
  add(edit, "showPreferences", QStringLiteral("Pre&ferences..."), [this] { showPreferences(); });

  QMenu* texture = menuBar()->addMenu(QStringLiteral("&Texture"));
  QAction* editExternallyAction = add(texture, "editExternally", QStringLiteral("Edit in Image E&ditor"),
                                      [this] { editExternally(); }, {Qt::CTRL | Qt::Key_E});
  stopEditing_ = add(texture, "stopEditing", QStringLiteral("&Stop Editing"), [this] { stopEditing(); });
  stopEditing_->setEnabled(false);
  texture->addSeparator();
  add(texture, "choosePalette", QStringLiteral("&Palette..."), [this] { choosePalette(); });

  QMenu* view = menuBar()->addMenu(QStringLiteral("&View"));
  add(view, "zoomIn", QStringLiteral("Zoom &In"), [this] { zoomIn(); },
      {Qt::CTRL | Qt::Key_Plus, Qt::CTRL | Qt::Key_Equal});
  add(view, "zoomOut", QStringLiteral("Zoom &Out"), [this] { zoomOut(); }, {Qt::CTRL | Qt::Key_Minus});
  add(view, "zoomActualSize", QStringLiteral("&Actual Size"), [this] { zoomActualSize(); },
      {Qt::CTRL | Qt::Key_0});
  add(view, "zoomToFit", QStringLiteral("&Fit to View"), [this] { zoomToFit(); });
  view->addSeparator();
  add(view, "toggleBeforeAfter", QStringLiteral("&Before/After Import"), [this] { toggleBeforeAfter(); },
      {Qt::Key_Backslash});
  auto* layouts = new QActionGroup(this);
  for (QAction* layout : {add(view, "showAsList", QStringLiteral("As &List"), [this] { showAsList(); }),
                          add(view, "showAsGrid", QStringLiteral("As &Grid"), [this] { showAsGrid(); })}) {
    layout->setCheckable(true);
    layout->setChecked(layout->objectName() == QLatin1String(grid_ ? "showAsGrid" : "showAsList"));
    layouts->addAction(layout);
  }

  QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
  add(help, "showHelp", QStringLiteral("&Help"), [this] { showHelp(); }, {Qt::Key_F1});
  add(help, "showAbout", QStringLiteral("&About Quarnel"), [this] { showAbout(); });

  textureMenu_ = new QMenu(this);
  add(textureMenu_, "importTexture", QStringLiteral("&Import..."), [this] { importTexture(); });
  add(textureMenu_, "exportTexture", QStringLiteral("&Export..."), [this] { exportTexture(); });
  textureMenu_->addSeparator();
  textureMenu_->addAction(editExternallyAction);
  textureMenu_->addAction(stopEditing_);
  // Import and Export sit on the Texture menu too, above the editing.
  texture->insertActions(editExternallyAction, textureMenu_->actions().mid(0, 3));
}

void MainWindow::layOutControls() {
  const QSize client = centralWidget()->size();
  const int filterHeight = filter_->sizeHint().height();
  filter_->setGeometry(8, 32, kListWidth, filterHeight);
  const int listTop = 32 + filterHeight + 4;
  list_->setGeometry(8, listTop, kListWidth, std::max(0, client.height() - listTop - 8));
  viewArea_->setGeometry(kViewLeft, 40, std::max(0, client.width() - kViewLeft), std::max(0, client.height() - 40));
  if (fitToView_) applyZoom();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == centralWidget() && event->type() == QEvent::Resize) {
    layOutControls();
    return false;
  }
  if (watched == viewArea_->viewport() && event->type() == QEvent::Wheel) {
    const auto* wheel = static_cast<QWheelEvent*>(event);
    if (!(wheel->modifiers() & Qt::ControlModifier)) return false;
    if (wheel->angleDelta().y() > 0) zoomIn();
    if (wheel->angleDelta().y() < 0) zoomOut();
    return true;
  }
  for (size_t i = 0; i < viewSwitch_.size(); ++i) {
    if (watched == viewSwitch_[i] && event->type() == QEvent::MouseButtonRelease) {
      const auto* mouse = static_cast<QMouseEvent*>(event);
      if (mouse->button() == Qt::LeftButton &&
          viewSwitch_[i]->rect().contains(mouse->position().toPoint()))
        setView(kViewModes[i]);
      return false;
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

// ---- What the window shows ------------------------------------------------------------

QString MainWindow::statusText() const { return status_->text(); }

QString MainWindow::detailsText() const { return details_->text(); }

QString MainWindow::importLossText() const { return importLoss_->text(); }

void MainWindow::updateDetails() {
  const std::optional<size_t> row = selectedRow();
  // The same words quarnel-cli info uses.
  const Texture* texture = row ? &archive_->Entries()[*row].texture : nullptr;
  std::string text = texture ? TextureDetails::Text(*texture) : "";
  if (texture && texture->IsPalettized()) {
    const std::optional<PaletteLookup::Found> palette = paletteOfRow(*row, false);
    text += ", " + (palette ? PaletteLookup::Describe(*palette) : std::string("palette refused"));
    if (palette && !palette->path.empty() && !PaletteLookup::Note(*texture, *palette, *row).empty())
      text += ", indices past its colours (transparent black)";
  }
  details_->setText(QString::fromStdString(text));
}

void MainWindow::updateTitle() {
  if (!archive_) {
    setWindowModified(false);
    setWindowTitle(QString::fromUtf8(MessageBoxes::kAppTitle));
    return;
  }
  setWindowTitle(QString::fromStdString(archiveName()) + QStringLiteral("[*] - ") +
                 QString::fromUtf8(MessageBoxes::kAppTitle));
}

std::string MainWindow::archiveName() const {
  return archivePath_.empty() ? std::string("Untitled") : FileNameOf(archivePath_);
}

std::optional<size_t> MainWindow::selectedRow() const {
  const QModelIndexList selected = list_->selectionModel()->selectedIndexes();
  if (!archive_ || selected.isEmpty()) return std::nullopt;
  return archiveRowOf(selected.first());
}

std::optional<size_t> MainWindow::archiveRowOf(const QModelIndex& listIndex) const {
  const QModelIndex row = filtered_->mapToSource(listIndex);
  if (!row.isValid()) return std::nullopt;
  return size_t(row.row());
}

QModelIndex MainWindow::listIndexOf(size_t row) const {
  return filtered_->mapFromSource(model_->index(int(row)));
}

void MainWindow::showSelectedRow() {
  const std::optional<size_t> row = selectedRow();
  if (!row) return;
  rowShown_ = true;
  if (std::exchange(showingBefore_, false)) importLoss_->setText(importLossText_);
  // A texture that cannot be decoded shows the starting picture; one whose palette is refused
  // shows greys, and the details line says so.
  const Texture& texture = archive_->Entries()[*row].texture;
  const std::optional<PaletteLookup::Found> palette = paletteOfRow(*row, false);
  view_->showTexture(texture, palette && texture.IsPalettized() ? &palette->colours : nullptr);
  applyZoom();
}

void MainWindow::showAsList() {
  grid_ = false;
  applyEntryLayout();
}

void MainWindow::showAsGrid() {
  grid_ = true;
  applyEntryLayout();
}

void MainWindow::setThumbnailSize(int side) {
  thumbnailSize_ = side == 0 ? 0 : std::clamp(side, Settings::kMinThumbnail, Settings::kMaxThumbnail);
  applyEntryLayout();
}

void MainWindow::applyEntryLayout() {
  const int side = grid_ ? thumbnailSize_ : std::min(thumbnailSize_, kListThumbnail);
  delegate_->setLayout(grid_ ? EntryDelegate::Layout::Grid : EntryDelegate::Layout::List, side);
  model_->setThumbnailSize(side);
  // Each mode sets what the other changed; the entries stay where the archive has them.
  list_->setViewMode(grid_ ? QListView::IconMode : QListView::ListMode);
  list_->setMovement(QListView::Static);
  list_->setResizeMode(QListView::Adjust);
  list_->setWrapping(grid_);
  list_->setFlow(grid_ ? QListView::LeftToRight : QListView::TopToBottom);
  QStyleOptionViewItem option;
  option.initFrom(list_);
  list_->setGridSize(grid_ ? delegate_->sizeHint(option, QModelIndex()) : QSize());
  list_->doItemsLayout();
  if (list_->currentIndex().isValid()) list_->scrollTo(list_->currentIndex());
}

void MainWindow::setView(TextureView::Mode mode) {
  for (size_t i = 0; i < viewSwitch_.size(); ++i) {
    QPalette palette = viewSwitch_[i]->palette();
    palette.setColor(viewSwitch_[i]->backgroundRole(),
                     kViewModes[i] == mode ? QColor(Qt::white) : this->palette().color(QPalette::Window));
    viewSwitch_[i]->setPalette(palette);
  }
  view_->setMode(mode);
}

// ---- Zoom -----------------------------------------------------------------------------

void MainWindow::applyZoom() {
  double scale = zoom_;
  const QSize picture = view_->pictureSize();
  if (fitToView_ && !picture.isEmpty()) {
    const QSize room = viewArea_->size();
    scale = std::min(double(room.width()) / picture.width(), double(room.height()) / picture.height());
    // Enlarged, a texel takes a whole number of screen pixels, so all texels stay one size.
    if (scale >= 1) scale = std::min<double>(kMaxZoom, std::floor(scale));
    if (scale <= 0) scale = 1;
  }
  view_->setScale(scale);
}

void MainWindow::zoomIn() {
  fitToView_ = false;
  zoom_ = std::clamp(int(std::floor(view_->scale())) + 1, 1, kMaxZoom);
  applyZoom();
}

// Below 1:1 comes fit-to-view, which shrinks only a texture larger than the view.
void MainWindow::zoomOut() {
  if (fitToView_) return;
  if (zoom_ > 1)
    --zoom_;
  else
    fitToView_ = true;
  applyZoom();
}

void MainWindow::zoomActualSize() {
  fitToView_ = false;
  zoom_ = 1;
  applyZoom();
}

void MainWindow::zoomToFit() {
  fitToView_ = true;
  applyZoom();
}

// ---- Opening, releasing, saving -------------------------------------------------------

void MainWindow::openArchive() {
  const std::string path = FileDialogs::Ask(
      {this, FileDialogs::Kind::Open, "Open Texture File", {kArchiveFilter, kPvmxFilter}, dialogFolder_, "pvm"});
  if (!path.empty()) openArchiveFile(path);
}

void MainWindow::openArchiveFile(const std::string& path) {
  if (EndsWithNoCase(path, ".pvmx") || FileNameOf(path) == "index.txt") {
    openTexturePack(path);
    return;
  }
  // Asked only once a new archive was chosen: a cancelled dialog loses nothing.
  if (!confirmDroppingChanges()) return;
  dialogFolder_ = FolderOf(path);
  archivePath_ = path;
  dropArchive();
  status_->setText(QStringLiteral("Loading..."));
  // Lets the status line be painted before the archive is read.
  QCoreApplication::processEvents();
  Expected<Archive> opened = Archive::Open(path);
  if (opened) {
    archive_ = std::move(opened).value();
    model_->setArchive(&*archive_);
    recent_->add(path);
    // Names cut short leave "Loading..." standing, as a sign that not all is listed.
    if (const std::optional<std::string> loaded = archive_->LoadedStatus())
      status_->setText(QString::fromStdString(*loaded));
  } else {
    MessageBoxes::Show(opened.error());
  }
  setWindowModified(false);
  updateTitle();
}

void MainWindow::openArguments(const QStringList& arguments) {
  if (arguments.size() < 2) return;
  // The folder of the path becomes where dialogs start, so a relative path is made whole.
  openArchiveFile(QFileInfo(arguments[1]).absoluteFilePath().toStdString());
}

void MainWindow::dropArchive() {
  stopEditing();
  // The steps point into the archive. An empty stack keeps a clean state that was reset, so
  // it is set anew.
  history_->clear();
  history_->setClean();
  endBeforeAfter();
  model_->setArchive(nullptr);
  // A filter typed for one archive would hide most of the next.
  filter_->clear();
  archive_.reset();
  rowShown_ = false;
  status_->setText(QStringLiteral("No File Loaded"));
  updateDetails();
}

void MainWindow::releaseArchive() {
  if (!confirmDroppingChanges()) return;
  // The view keeps the texture it shows.
  dropArchive();
  updateTitle();
}

bool MainWindow::confirmDroppingChanges() {
  if (!isWindowModified() || !archive_) return true;
  const Answer answer = Ask("The changes to " + archiveName() +
                                " have not been saved.\n\nSave the archive before it is closed?",
                            Buttons::SaveDiscardCancel, Icon::Question);
  if (answer == Answer::Discard) return true;
  return answer == Answer::Save && saveArchive();
}

bool MainWindow::saveArchive() {
  if (!archive_) {
    Tell("There is no archive loaded, so there is nothing to save.");
    return false;
  }
  if (archivePath_.empty()) return saveArchiveAs();
  const std::string backup = BackupPathOf(archivePath_);
  if (!platform::FileExists(backup)) {
    const Answer answer = Ask("Would you like to make a backup of the existing DAT file first?",
                              Buttons::YesNoCancel, Icon::None, "No backup detected...");
    if (answer == Answer::Cancel) return false;
    std::string error;
    // The user asked for a copy of the old file; writing over it without one would lose
    // exactly what they meant to keep.
    if (answer == Answer::Yes && !platform::CopyFile(archivePath_, backup, error)) {
      Tell("The backup copy could not be made, so the archive was not saved.\n\nArchive: " +
               archivePath_ + "\nBackup: " + backup + "\n\n" + error,
           Icon::Critical);
      return false;
    }
  }
  if (const Failure failure = archive_->Save(archivePath_)) {
    MessageBoxes::Show(*failure);
    return false;
  }
  history_->setClean();
  return true;
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (!confirmDroppingChanges()) {
    event->ignore();
    return;
  }
  dropArchive();
  setWindowModified(false);
  Settings::SaveWindowState({saveGeometry(), view_->mode(), fitToView_ ? 0 : zoom_});
  event->accept();
}

void MainWindow::showHelp() {
  const std::string page = dataFolder_ + "/docs.html";
  if (const HelpOpener& opener = app::InstalledSeam<HelpOpener>())
    opener(page);
  else
    OpenWithDesktop(page);
}

MainWindow::HelpOpener MainWindow::SetHelpOpener(HelpOpener opener) {
  return app::ReplaceSeam(std::move(opener));
}

// ---- One texture ----------------------------------------------------------------------

Archive::Entry* MainWindow::entryToImportOrExport() {
  const std::optional<size_t> row = selectedRow();
  if (!rowShown_ || !row) {
    WarnNoSelection();
    return nullptr;
  }
  return &archive_->Entries()[*row];
}

bool MainWindow::refuseImportWithoutCodec(const Archive::Entry& entry) {
  const std::string why = BatchFiles::WhyNotEncoded(entry.texture);
  if (why.empty()) return false;
  Tell("The texture \"" + entry.name + "\" " + why + ", so nothing can be imported into it.");
  return true;
}

void MainWindow::exportTexture() {
  const Archive::Entry* entry = entryToImportOrExport();
  if (entry == nullptr) return;
  // The alpha view shows the image, so it exports the image.
  const bool mask = view_->mode() == TextureView::Mode::Mask;
  const std::optional<PaletteLookup::Found> palette = paletteOfRow(*selectedRow(), true);
  if (!palette) return;
  const bool palettized = entry->texture.IsPalettized();
  // Decoded afresh: the row selected may not be the one shown.
  const std::optional<Image> picture = entry->texture.Decode(palettized ? &palette->colours : nullptr);
  if (!picture) {
    Tell("The texture \"" + entry->name + "\" cannot be decoded, so there is nothing to export.");
    return;
  }
  const FileDialogs::Request request{this, FileDialogs::Kind::Save, mask ? "Export Mask" : "Export Image",
                                     kPictureFilters, dialogFolder_, "png"};
  const FileDialogs::Checked chosen = palettized ? FileDialogs::AskWithCheckBox(request, "Indexed PNG")
                                                 : FileDialogs::Checked{FileDialogs::Ask(request), false};
  const std::string& path = chosen.path;
  if (path.empty()) return;
  if (chosen.checked && !PictureFiles::NamesPng(path)) {
    Tell("An indexed picture is written as a PNG, so " + FileNameOf(path) + " was not written.");
    return;
  }
  if (platform::FileExists(path) &&
      Ask("Do you want to over write the file:\n\n" + path, Buttons::YesNo, Icon::Question,
          "Hold up!") != Answer::Yes)
    return;
  // A PNG holds the image and its alpha together, whichever view is current.
  Report report;
  const bool written = chosen.checked
                           ? BatchFiles::WriteIndexedExport(entry->texture, palette->colours, path, report.Voice())
                           : BatchFiles::WriteExport(entry->texture, *picture, mask, path, report.Voice());
  if (!written) report.Show("", true);
}

void MainWindow::importTexture() {
  if (model_->rowCount() == 0) return;
  const Archive::Entry* entry = entryToImportOrExport();
  if (entry == nullptr || refuseImportWithoutCodec(*entry)) return;
  const FileDialogs::Request request{this, FileDialogs::Kind::Open, "Import Image", kPictureFilters, dialogFolder_, "png"};
  const FileDialogs::Checked chosen = entry->texture.IsPalettized()
                                          ? FileDialogs::AskWithCheckBox(request, "Build a new palette from the picture")
                                          : FileDialogs::Checked{FileDialogs::Ask(request), false};
  const std::string& image = chosen.path;
  if (image.empty()) return;
  // A PNG brings its own alpha, so only a BMP is asked for a mask.
  const std::string mask =
      PictureFiles::NamesPng(image)
          ? std::string()
          : FileDialogs::Ask({this, FileDialogs::Kind::Open,
                              "Import Mask (Optional! Cancel to skip)", {kBmpFilter},
                              dialogFolder_, "bmp"});
  if (chosen.checked)
    importThroughNewPalette(image, mask);
  else
    importIntoSelected(image, mask);
}

bool MainWindow::importIntoSelected(const std::string& image, const std::string& mask,
                                    std::optional<BatchFiles::SizeChoice>* sizeAnswer, const BankColours* colours) {
  const std::optional<size_t> row = selectedRow();
  if (!row) return false;
  Archive::Entry& entry = archive_->Entries()[*row];
  std::optional<PaletteLookup::Found> palette;
  if (entry.texture.IsPalettized() && colours == nullptr) {
    palette = paletteOfRow(*row, true);
    if (!palette) return false;
    colours = &palette->colours;
  }
  // An indexed picture in the bank's own colours goes in as it is, with nothing to ask.
  if (colours != nullptr) {
    std::optional<bool> indexed;
    recordEdit(QString::fromStdString("Import into " + entry.name), [&](ArchiveEdit& step) {
      step.keepTexture(*row);
      indexed = BatchFiles::ImportIndices(entry.texture, image, *colours);
      return indexed.value_or(false);
    });
    if (indexed) {
      if (*indexed) model_->textureChanged(*row);
      showSelectedRow();
      updateDetails();
      return true;
    }
  }
  // A refused file leaves the texture and the view as they were.
  Expected<PictureFiles::Picture> picture = PictureFiles::Read(image, mask);
  if (!picture) {
    MessageBoxes::Show(picture.error());
    return false;
  }
  return importPicture(std::move(*picture), image, sizeAnswer, colours);
}

// A picture that went in is shown at once, which says more than the core's notes on its size.
bool MainWindow::importPicture(PictureFiles::Picture picture, const std::string& label,
                               std::optional<BatchFiles::SizeChoice>* sizeAnswer, const BankColours* colours) {
  const std::optional<size_t> row = selectedRow();
  if (!row) return false;
  Archive::Entry& entry = archive_->Entries()[*row];
  const Texture& texture = entry.texture;
  std::optional<PaletteLookup::Found> palette;
  if (texture.IsPalettized() && colours == nullptr) {
    palette = paletteOfRow(*row, true);
    if (!palette) return false;
    colours = &palette->colours;
  }
  BatchFiles::SizeChoice size = BatchFiles::SizeChoice::Keep;
  const Image& pixels = picture.image;
  if (pixels.width != texture.width || pixels.height != texture.height) {
    const std::optional<BatchFiles::SizeChoice> chosen =
        sizeAnswer && *sizeAnswer ? **sizeAnswer
                                  : EntryDialogs::AskSize(this, {label, pixels.width, pixels.height,
                                                                 texture.width, texture.height});
    if (!chosen) return false;
    size = *chosen;
    if (sizeAnswer) *sizeAnswer = size;
  }
  Report report;
  std::optional<BatchFiles::Imported> imported;
  const bool changed = recordEdit(QString::fromStdString("Import into " + entry.name), [&](ArchiveEdit& step) {
    step.keepTexture(*row);
    imported = BatchFiles::ImportPictureKeeping(entry.texture, *row, std::move(picture), label, report.Voice(), size,
                                                colours);
    return imported && imported->changed;
  });
  if (!imported) {
    report.Show("", true);
    return false;
  }
  if (changed) model_->textureChanged(*row);
  showSelectedRow();
  updateDetails();
  // Measured on the texture as stored, decoded again: what a save writes and the game shows.
  const std::optional<Image> stored = entry.texture.Decode();
  const std::optional<PictureCompare::Loss> loss =
      stored ? PictureCompare::Compare(imported->encoded, *stored, entry.texture.HasAlphaBits()) : std::nullopt;
  if (loss) {
    importLossText_ = QString::fromStdString("Imported into " + entry.name + ": " + PictureCompare::Text(*loss));
    importLoss_->setText(importLossText_);
  }
  if (changed) comparedRow_ = *row;
  return true;
}

bool MainWindow::recordEdit(const QString& text, const std::function<bool(ArchiveEdit& step)>& edit) {
  if (!archive_) return false;
  auto step = std::make_unique<ArchiveEdit>(*archive_, text, [this](size_t row) { showEditedRow(row); });
  if (!edit(*step) || step->changesNothing()) return false;
  step->finish();
  history_->push(step.release());
  return true;
}

void MainWindow::showEditedRow(size_t row) {
  model_->entriesChanged();
  if (model_->rowCount() > 0) {
    const size_t target = std::min(row, size_t(model_->rowCount() - 1));
    // Selecting the row already selected changes no selection, so nothing else would show
    // its texture anew: undoing an import into the texture on screen left the import shown.
    const bool alreadySelected = selectedRow() == target;
    selectRow(target);
    if (alreadySelected) showSelectedRow();
  } else if (rowShown_)
    view_->showNothing();
  updateDetails();
}

// A note on the image editor's last save would speak of a picture no longer shown.
void MainWindow::undo() {
  history_->undo();
  showEditingNote({});
}

void MainWindow::redo() {
  history_->redo();
  showEditingNote({});
}

void MainWindow::endBeforeAfter() {
  if (showingBefore_ && rowShown_) showSelectedRow();
  importLossText_.clear();
  importLoss_->clear();
  comparedRow_.reset();
  showingBefore_ = false;
}

void MainWindow::toggleBeforeAfter() {
  const auto* step = comparedRow_ && history_->index() > 0
                         ? dynamic_cast<const ArchiveEdit*>(history_->command(history_->index() - 1))
                         : nullptr;
  const Texture* before = step ? step->textureBefore(*comparedRow_) : nullptr;
  if (before == nullptr || selectedRow() != comparedRow_) return;
  if (showingBefore_) {
    showSelectedRow();
    return;
  }
  view_->showTexture(*before);
  applyZoom();
  showingBefore_ = true;
  importLoss_->setText(QStringLiteral("Before the import (\\ shows it after)"));
}

void MainWindow::copyTexture() {
  const Archive::Entry* entry = entryToImportOrExport();
  if (entry == nullptr) return;
  const std::optional<Image> picture = entry->texture.Decode();
  if (!picture) {
    Tell("The texture \"" + entry->name + "\" cannot be decoded, so there is nothing to copy.");
    return;
  }
  QGuiApplication::clipboard()->setImage(PictureTransfer::ToQImage(*picture));
}

void MainWindow::pasteTexture() {
  if (model_->rowCount() == 0) return;
  const Archive::Entry* entry = entryToImportOrExport();
  if (entry == nullptr || refuseImportWithoutCodec(*entry)) return;
  Expected<PictureFiles::Picture> picture = PictureTransfer::FromClipboard(QGuiApplication::clipboard()->image());
  if (!picture) {
    MessageBoxes::Show(picture.error());
    return;
  }
  importPicture(std::move(*picture), "The picture on the clipboard");
}

// ---- Every texture --------------------------------------------------------------------

std::string MainWindow::chooseBatchFolder(const std::string& title) {
  if (!archive_) {
    Tell("There is no archive loaded.");
    return {};
  }
  return FileDialogs::Ask({this, FileDialogs::Kind::Folder, title, {}, dialogFolder_, ""});
}

void MainWindow::exportAll(BatchFiles::FileFormat format) {
  const std::string folder = chooseBatchFolder("Export All Textures");
  if (folder.empty()) return;
  size_t existing = 0;
  for (const std::string& path :
       BatchFiles::ExportPaths(BatchFiles::ListedNames(*archive_), folder, format))
    existing += platform::FileExists(path) ? 1 : 0;
  if (existing > 0 &&
      Ask(Plural(existing, "file") + " of this export already exist in " + folder +
              ".\n\nReplace them?",
          Buttons::YesNo, Icon::Exclamation) != Answer::Yes)
    return;

  Report report;
  BatchProgressDialog progress(this, QStringLiteral("Exporting textures..."), archive_->ListedCount());
  const PaletteLookup palettes = paletteLookup();
  const BatchFiles::Result result =
      BatchFiles::ExportAll(*archive_, folder, format, report.Voice(), progress.Step(), &palettes);
  using BatchFiles::Outcome;
  std::string summary;
  if (result.outcome == Outcome::kCancelled)
    summary = "Export all was cancelled after " + Plural(result.count, "texture") + ".";
  else if (result.outcome != Outcome::kRefused)
    summary = "Exported " + Plural(result.count, "texture") + " to " + folder;
  report.Show(summary, result.outcome != Outcome::kDone);
}

void MainWindow::importAll(BatchFiles::FileFormat format) {
  const std::string folder = chooseBatchFolder("Import All Textures");
  if (folder.empty()) return;
  const std::string archiveName = FileNameOf(archivePath_);
  if (Ask("Import every texture file in " + folder + " into " + archiveName +
              " and save the archive?\n\nThe textures they came from are replaced.",
          Buttons::YesNo, Icon::Question) != Answer::Yes)
    return;

  Report report;
  BatchFiles::Result result;
  using BatchFiles::Outcome;
  recordEdit(QString::fromStdString("Import all into " + archiveName), [&](ArchiveEdit& step) {
    BatchProgressDialog progress(this, QStringLiteral("Importing textures..."), archive_->ListedCount());
    const PaletteLookup palettes = paletteLookup();
    result = BatchFiles::ImportAll(*archive_, folder, format, archivePath_, report.Voice(),
                                   progress.Step(), BatchFiles::SizeChoice::Keep, &palettes);
    for (auto& [row, before] : result.replaced) step.keepTexture(row, std::move(before));
    return result.outcome == Outcome::kDone;
  });
  if (result.outcome == Outcome::kCancelled) {
    report.Show("Import all was cancelled; nothing was imported and " + archiveName +
                    " was not written.",
                false);
    return;
  }
  if (result.outcome != Outcome::kDone) {
    report.Show("", true);
    return;
  }
  model_->entriesChanged();
  if (rowShown_) showSelectedRow();
  if (!saveArchive()) return;  // kept in the window, marked unsaved
  report.Show("Imported " + Plural(result.count, "texture") + " into " + archivePath_, false);
}

// ---- Drops ----------------------------------------------------------------------------

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (DroppedFile(event->mimeData()).first != DroppedKind::None) event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
  const auto [kind, path] = DroppedFile(event->mimeData());
  if (kind == DroppedKind::None) return;
  event->acceptProposedAction();
  if (kind == DroppedKind::Archive) {
    openArchiveFile(path);
    return;
  }
  // A picture counts only where the texture is shown; elsewhere it is not meant for it.
  const QWidget* viewport = viewArea_->viewport();
  if (viewport->rect().contains(viewport->mapFrom(this, event->position().toPoint())))
    importDroppedPicture(path);
}

void MainWindow::importDroppedPicture(const std::string& path) {
  if (model_->rowCount() == 0) {
    WarnNoSelection();
    return;
  }
  const Archive::Entry* entry = entryToImportOrExport();
  if (entry == nullptr || refuseImportWithoutCodec(*entry)) return;
  if (Ask("Import " + FileNameOf(path) + " into the texture \"" + entry->name + "\"?",
          Buttons::YesNo, Icon::Question) == Answer::Yes)
    importIntoSelected(path, "");
}

// ---- New archives and saving elsewhere ------------------------------------------------

void MainWindow::showNewArchive(Archive archive, bool unsaved) {
  dropArchive();
  archivePath_.clear();
  archive_ = std::move(archive);
  model_->setArchive(&*archive_);
  status_->setText(QStringLiteral("New archive"));
  // No step leads back to the empty window, so only a save makes the archive clean.
  if (unsaved) history_->resetClean();
  setWindowModified(unsaved);
  updateTitle();
}

// An empty archive has nothing to lose, so it counts as saved until something goes in.
void MainWindow::newArchive() {
  if (!confirmDroppingChanges()) return;
  showNewArchive(Archive::New(), false);
}

bool MainWindow::saveArchiveAs() {
  if (!archive_) {
    Tell("There is no archive loaded, so there is nothing to save.");
    return false;
  }
  const std::string path = FileDialogs::Ask(
      {this, FileDialogs::Kind::Save, "Save Archive As", {kArchiveFilter}, dialogFolder_, "pvm"});
  if (path.empty()) return false;
  if (const Failure failure = archive_->Save(path)) {
    MessageBoxes::Show(*failure);
    return false;
  }
  // The palette chosen for the archive goes with it to its new name.
  if (const auto chosen = paletteChoices_.find(archivePath_); chosen != paletteChoices_.end())
    paletteChoices_[path] = chosen->second;
  archivePath_ = path;
  dialogFolder_ = FolderOf(path);
  recent_->add(path);
  history_->setClean();
  updateTitle();
  return true;
}

bool MainWindow::confirmReplacing(const std::string& path) {
  return !platform::FileExists(path) ||
         Ask("Do you want to over write the file:\n\n" + path, Buttons::YesNo, Icon::Question, "Hold up!") ==
             Answer::Yes;
}

void MainWindow::extractPvr() {
  const std::optional<size_t> row = rowToChange();
  if (!row) return;
  const std::string path = FileDialogs::Ask(
      {this, FileDialogs::Kind::Save, "Extract Texture File", {{"PVR Files", "*.pvr"}}, dialogFolder_, "pvr"});
  if (path.empty() || !confirmReplacing(path)) return;
  const Expected<std::vector<uint8_t>> file = archive_->ExtractPvr(*row);
  std::string error;
  if (!file)
    MessageBoxes::Show(file.error());
  else if (!platform::ReplaceFile(path, *file, error))
    Tell(path + "\n\nThis file could not be written.\n" + error, Icon::Critical);
}

// ---- Texture packs --------------------------------------------------------------------

void MainWindow::exportTexturePack() {
  if (!archive_) {
    Tell("There is no archive loaded.");
    return;
  }
  const std::string chosen =
      FileDialogs::Ask({this, FileDialogs::Kind::Save, "Export as Texture Pack",
                        {kPvmxFilter, {"Texture Pack Folders", "index.txt"}}, dialogFolder_, "pvmx"});
  if (chosen.empty()) return;
  const std::string pack = PackPath(chosen);
  if (pack == chosen) {
    if (!confirmReplacing(pack)) return;
  } else {
    size_t existing = 0;
    for (const std::string& path : TexturePack::FolderFiles(*archive_, pack))
      existing += platform::FileExists(path) ? 1 : 0;
    if (existing > 0 && Ask(Plural(existing, "file") + " of this export already exist in " + pack +
                                ".\n\nReplace them?",
                            Buttons::YesNo, Icon::Exclamation) != Answer::Yes)
      return;
  }
  Report report;
  const PaletteLookup palettes = paletteLookup();
  const Expected<size_t> written = TexturePack::Write(*archive_, pack, report.Voice(), &palettes);
  if (!written) {
    report.lines.push_back(written.error().text);
    report.Show("", true);
    return;
  }
  report.Show("Exported " + Plural(*written, "texture") + " to " + pack, false);
}

void MainWindow::newArchiveFromPack() {
  const std::string chosen = FileDialogs::Ask(
      {this, FileDialogs::Kind::Open, "New Archive from Texture Pack", {kPackFilter}, dialogFolder_, "pvmx"});
  if (!chosen.empty()) openTexturePack(chosen);
}

void MainWindow::openTexturePack(const std::string& chosen) {
  if (!confirmDroppingChanges()) return;
  const std::string pack = PackPath(chosen);
  dialogFolder_ = FolderOf(chosen);
  Report report;
  const std::optional<TexturePack::Pack> read = ReadPack(pack, report);
  if (!read) return;
  Expected<Archive> made = TexturePack::MakeArchive(*read, {}, false, "Untitled", report.Voice());
  if (!made) return report.Refuse(made.error());
  showNewArchive(std::move(*made), true);
  recent_->add(chosen);
  report.Show("", false);
}

void MainWindow::updateFromPack() {
  if (!archive_) {
    Tell("There is no archive loaded.");
    return;
  }
  const std::string chosen = FileDialogs::Ask(
      {this, FileDialogs::Kind::Open, "Update from Texture Pack", {kPackFilter}, dialogFolder_, "pvmx"});
  if (chosen.empty()) return;
  const std::string pack = PackPath(chosen);
  Report report;
  const std::optional<TexturePack::Pack> read = ReadPack(pack, report);
  if (!read) return;
  // Asked once, for the first picture whose entry (as Update matches them: by global index,
  // else by name) has another size.
  BatchFiles::SizeChoice size = BatchFiles::SizeChoice::Keep;
  const std::vector<Archive::Entry>& entries = archive_->Entries();
  for (const TexturePack::Entry& t : *read) {
    const std::optional<size_t> row = TexturePack::MatchingRow(*archive_, t);
    if (!row) continue;
    const Archive::Entry* match = &entries[*row];
    const PictureFiles::Size& picture = t.pictureSize;
    if (picture.width == match->texture.width && picture.height == match->texture.height) continue;
    const std::optional<BatchFiles::SizeChoice> chosenSize = EntryDialogs::AskSize(
        this, {t.line.file, picture.width, picture.height, match->texture.width, match->texture.height});
    if (!chosenSize) return;
    size = *chosenSize;
    break;
  }
  // Textures that match no entry are added only when the user says so, as --add does.
  size_t unmatched = 0;
  for (const TexturePack::Entry& t : *read) unmatched += TexturePack::MatchingRow(*archive_, t) ? 0 : 1;
  bool add = false;
  if (unmatched > 0) {
    const Answer answer = Ask(Plural(unmatched, "texture") + " of the pack match no entry of " + archiveName() +
                                  ".\n\nAdd them as new entries?",
                              Buttons::YesNoCancel, Icon::Question);
    if (answer == Answer::Cancel) return;
    add = answer == Answer::Yes;
  }
  Expected<size_t> imported = size_t{0};
  recordEdit(QString::fromStdString("Update from " + FileNameOf(pack)), [&](ArchiveEdit& step) {
    // Every row a texture of the pack may replace, as Update matches them; rows it appends
    // come after the archive's own.
    std::set<size_t> matched;
    for (const TexturePack::Entry& t : *read)
      if (const std::optional<size_t> row = TexturePack::MatchingRow(*archive_, t)) matched.insert(*row);
    for (size_t row : matched) step.keepTexture(row);
    const size_t before = archive_->EntryCount();
    imported = TexturePack::Update(*archive_, *read, size, add, archiveName(), report.Voice());
    for (size_t row = before; imported && row < archive_->EntryCount(); ++row) step.noteInserted(row);
    return imported && *imported > 0;
  });
  if (!imported) return report.Refuse(imported.error());
  model_->entriesChanged();
  if (rowShown_) showSelectedRow();
  updateDetails();
  report.Show("Imported " + Plural(*imported, "texture") + " from " + pack, false);
}

// ---- Changing the entries -------------------------------------------------------------

void MainWindow::selectRow(size_t row) {
  if (!listIndexOf(row).isValid()) filter_->clear();
  list_->selectionModel()->setCurrentIndex(listIndexOf(row), QItemSelectionModel::ClearAndSelect);
}

std::optional<size_t> MainWindow::rowToChange() {
  const std::optional<size_t> row = selectedRow();
  if (!row) Tell(archive_ ? "Please select a texture first." : "There is no archive loaded.");
  return row;
}

void MainWindow::addTextures() {
  if (!archive_) {
    Tell("There is no archive loaded.");
    return;
  }
  const std::vector<std::string> files = FileDialogs::AskSeveral(
      {this, FileDialogs::Kind::OpenSeveral, "Add Textures",
       {{"Textures and Pictures", "*.png;*.bmp;*.pvr"}, {"PNG Files", "*.png"}, {"BMP Files", "*.bmp"},
        {"PVR Files", "*.pvr"}},
       dialogFolder_, "png"});
  if (files.empty()) return;
  const std::optional<FormatChoice::Choice> formats = EntryDialogs::AskFormats(this);
  if (!formats) return;
  const std::optional<size_t> selected = selectedRow();
  size_t at = selected ? *selected + 1 : archive_->EntryCount();
  // What went in stays in when a later file is refused; the report says which.
  Report report;
  size_t added = 0;
  recordEdit(QStringLiteral("Add textures"), [&](ArchiveEdit& step) {
    for (const std::string& file : files) {
      Expected<Archive::Entry> entry = BatchFiles::EntryFromFile(file, *formats);
      Failure refused = entry ? model_->insert(at, std::move(*entry), archiveName()) : Failure(entry.error());
      if (refused) {
        report.lines.push_back(refused->text);
        break;
      }
      step.noteInserted(at);
      for (std::string& note : BatchFiles::SharedNotes(*archive_, at)) report.lines.push_back(std::move(note));
      ++at;
      ++added;
    }
    if (added == 1) step.setText(QString::fromStdString("Add " + archive_->Entries()[at - 1].name));
    return added > 0;
  });
  if (added > 0) selectRow(at - 1);
  report.Show("Added " + Plural(added, "texture") + " to " + archiveName(), added < files.size());
}

void MainWindow::removeEntry() {
  const std::optional<size_t> row = rowToChange();
  if (!row) return;
  const std::string name = archive_->Entries()[*row].name;
  if (Ask("Remove the texture \"" + name + "\" from " + archiveName() + "?", Buttons::YesNo, Icon::Question) !=
      Answer::Yes)
    return;
  const int listRow = listIndexOf(*row).row();
  const bool removed = recordEdit(QString::fromStdString("Remove " + name), [&](ArchiveEdit& step) {
    step.keepEntry(*row);
    const Failure refused = model_->remove(*row);
    if (refused) MessageBoxes::Show(*refused);
    return !refused;
  });
  if (!removed) return;
  // The next entry the list shows takes the removed one's place, so that Delete can go on
  // down the list, filtered or not.
  const int left = filtered_->rowCount();
  if (left > 0)
    selectRow(*archiveRowOf(filtered_->index(std::min(listRow, left - 1), 0)));
  else if (rowShown_)
    view_->showNothing();
  updateDetails();
}

void MainWindow::renameEntry() {
  const std::optional<size_t> row = rowToChange();
  if (!row) return;
  const std::optional<std::string> name = EntryDialogs::AskName(this, archive_->Entries()[*row].name);
  if (!name || *name == archive_->Entries()[*row].name) return;
  const QString text = QString::fromStdString("Rename " + archive_->Entries()[*row].name);
  const bool renamed = recordEdit(text, [&](ArchiveEdit& step) {
    step.keepName(*row);
    const Failure refused = model_->rename(*row, *name);
    if (refused) MessageBoxes::Show(*refused);
    return !refused;
  });
  if (!renamed) return;
  Report report;
  report.lines = BatchFiles::SharedNotes(*archive_, *row);
  report.Show("", false);
}

void MainWindow::moveEntry(int step) {
  const std::optional<size_t> row = rowToChange();
  if (!row) return;
  // It takes the place of the entry the list shows next to it, which a filter may put
  // several rows away in the archive.
  const QModelIndex neighbour = listIndexOf(*row).siblingAtRow(listIndexOf(*row).row() + step);
  if (!neighbour.isValid()) return;  // already first or last
  const size_t to = *archiveRowOf(neighbour);
  // The selection follows the entry: the model moves the row rather than renaming rows.
  const QString text = QString::fromStdString("Move " + archive_->Entries()[*row].name);
  const bool moved = recordEdit(text, [&](ArchiveEdit& step) {
    const Failure refused = model_->move(*row, size_t(to));
    if (refused) MessageBoxes::Show(*refused);
    else step.noteMoved(*row, size_t(to));
    return !refused;
  });
  if (!moved) return;
  list_->scrollTo(list_->currentIndex());
}

// Every change is checked before the first is made, so a refusal leaves the entry whole.
void MainWindow::editProperties() {
  const std::optional<size_t> row = rowToChange();
  if (!row) return;
  const Archive::Entry& entry = archive_->Entries()[*row];
  const EntryDialogs::Properties now = PropertiesOf(entry);
  const std::optional<EntryDialogs::Properties> wanted = EntryDialogs::AskProperties(this, now);
  if (!wanted || *wanted == now) return;

  std::optional<Texture> converted;
  if (wanted->pixelFormat != now.pixelFormat || wanted->dataFormat != now.dataFormat ||
      wanted->mipmaps != now.mipmaps) {
    Expected<Texture> made =
        FormatChoice::Convert(entry.texture, {wanted->pixelFormat, wanted->dataFormat, wanted->mipmaps});
    if (!made) {
      Tell("Nothing was changed: " + made.error().text);
      return;
    }
    converted = std::move(*made);
  }
  const bool changed = recordEdit(QString::fromStdString("Properties of " + now.name), [&](ArchiveEdit& step) {
    if (wanted->name != now.name) {
      step.keepName(*row);
      if (const Failure refused = model_->rename(*row, wanted->name)) {
        MessageBoxes::Show(*refused);
        return false;
      }
    }
    // Neither can refuse a row that exists.
    if (wanted->globalIndex && wanted->globalIndex != now.globalIndex) {
      step.keepGlobalIndex(*row);
      archive_->SetGlobalIndex(*row, *wanted->globalIndex);
    }
    if (converted) {
      step.keepTexture(*row);
      archive_->Replace(*row, std::move(*converted));
    }
    return !step.changesNothing();
  });
  if (!changed) return;
  model_->entriesChanged();
  if (converted && rowShown_) showSelectedRow();
  updateDetails();
  Report report;
  report.lines = BatchFiles::SharedNotes(*archive_, *row);
  report.Show("", false);
}

void MainWindow::showAbout() {
  MessageBoxes::Show({AboutText().toStdString(), "About Quarnel", Buttons::Ok, Icon::None});
}

// ---- Editing in another program, preferences, what is remembered -----------------------

void MainWindow::editExternally() {
  const Archive::Entry* entry = entryToImportOrExport();
  if (entry == nullptr || refuseImportWithoutCodec(*entry)) return;
  const std::optional<PaletteLookup::Found> palette = paletteOfRow(*selectedRow(), true);
  if (!palette) return;
  stopEditing();
  const std::string why = editor_->start(entry->texture, entry->name, Settings::LoadPreferences().editorProgram,
                                         entry->texture.IsPalettized() ? &palette->colours : nullptr);
  if (!why.empty()) {
    Tell(why, Icon::Critical);
    return;
  }
  editedRow_ = model_->index(int(*selectedRow()));
  stopEditing_->setEnabled(true);
  showEditingNote(QStringLiteral("Editing %1 in the image editor: each save is imported.")
                      .arg(QFileInfo(editor_->file()).fileName()));
}

void MainWindow::stopEditing() {
  editor_->stop();
  editedRow_ = QPersistentModelIndex();
  stopEditing_->setEnabled(false);
  showEditingNote({});
}

void MainWindow::importExternalSave(const QString& snapshot, QSize pictureSize) {
  const std::optional<size_t> row = selectedRow();
  if (!row || !editedRow_.isValid() || size_t(editedRow_.row()) != *row) {
    stopEditing();  // the selection handler ends the editing first; this is the backstop
    return;
  }
  const QString name = QFileInfo(snapshot).fileName();
  const Texture& texture = archive_->Entries()[*row].texture;
  const QSize textureSize(texture.width, texture.height);
  if (!importIntoSelected(snapshot.toStdString(), "", &editor_->sizeAnswer)) {
    // An answer that was refused (a size the format cannot take) is asked again next time.
    editor_->sizeAnswer.reset();
    showEditingNote(name + QStringLiteral(" was not imported; the texture is as it was. The next save will be."));
    return;
  }
  QString note = name + QStringLiteral(" imported at ") + QTime::currentTime().toString(QStringLiteral("HH:mm:ss"));
  if (pictureSize != textureSize && editor_->sizeAnswer) {
    using BatchFiles::SizeChoice;
    const SizeChoice size = *editor_->sizeAnswer;
    note += QStringLiteral(": it is %1 x %2 and the texture was %3 x %4, so %5")
                .arg(pictureSize.width())
                .arg(pictureSize.height())
                .arg(textureSize.width())
                .arg(textureSize.height())
                .arg(size == SizeChoice::Keep      ? QStringLiteral("the texture kept its size")
                     : size == SizeChoice::Picture ? QStringLiteral("the texture took the picture's size")
                                                   : QStringLiteral("the picture was scaled to the texture"));
  }
  showEditingNote(note + '.');
}

void MainWindow::showEditingNote(const QString& note) {
  editingNote_->setText(note);
  editingNote_->setToolTip(note);
  editingNote_->setVisible(!note.isEmpty());
}

void MainWindow::showPreferences() {
  const std::optional<Settings::Preferences> chosen = PreferencesDialog::Ask(this, Settings::LoadPreferences());
  if (!chosen) return;
  Settings::SavePreferences(*chosen);
  applyPreferences(Settings::LoadPreferences());  // as stored, sizes kept within their range
}

void MainWindow::applyPreferences(const Settings::Preferences& preferences) {
  view_->setCheckerColours(preferences.checkerLight, preferences.checkerDark);
  model_->setCheckerColours(preferences.checkerLight, preferences.checkerDark);
  applyThumbnailSize(preferences.thumbnailSize);
}

void MainWindow::applyThumbnailSize(int pixels) {
  setThumbnailSize(pixels);
  emit thumbnailSizeChanged(pixels);
}

void MainWindow::restoreSettings() {
  const Settings::WindowState state = Settings::LoadWindowState();
  if (!state.geometry.isEmpty()) restoreGeometry(state.geometry);
  setView(state.mode);
  fitToView_ = state.zoom == 0;
  zoom_ = std::max(1, state.zoom);
  applyZoom();
  applyPreferences(Settings::LoadPreferences());
}
