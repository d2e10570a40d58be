#include "app/Form1.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QFileInfo>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QMouseEvent>
#include <QProgressDialog>
#include <QScrollArea>
#include <QStatusBar>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <QUrl>
#include <utility>
#include <vector>

#include "app/CommDlgs.h"
#include "app/DataFolder.h"
#include "app/PictureBox.h"
#include "archive/BatchFiles.h"
#include "archive/ParseFuncts.h"
#include "platform/Files.h"
#include "platform/Messages.h"
#include "platform/Seam.h"
#include "texture/TexelCodec.h"
#include "texture/TextureDetails.h"
#include "texture/PngFile.h"
#include "texture/cPVR.h"

namespace {

constexpr int kClientWidth = 610;
constexpr int kClientHeight = 427;

const CommDlgs::FileFilter kPvmFilter{"PVM Files", "*.pvm;*.pvr"};
const CommDlgs::FileFilter kBmpFilter{"BMP Files", "*.bmp"};
// Pictures are exported and imported as PNG or BMP; the chosen file's extension decides.
const std::vector<CommDlgs::FileFilter> kPictureFilters{{"PNG Files", "*.png"}, kBmpFilter};

// The desktop's viewer for the page. A missing page, or a desktop that cannot show it,
// stays silent: the program has nothing useful to add.
void OpenWithDesktop(const std::string& page) {
  const QString path = QString::fromStdString(page);
  if (!QFileInfo(path).isFile()) return;
  QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

}  // namespace

void EntryListBox::focusInEvent(QFocusEvent* event) {
  const bool hadCurrent = currentIndex().isValid();
  QListWidget::focusInEvent(event);
  if (!hadCurrent && selectedItems().isEmpty())
    selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
}

Form1::Form1(QWidget* parent) : QMainWindow(parent) {
  setWindowTitle(QString::fromUtf8(platform::kAppTitle));
  ProgramFolder = QCoreApplication::applicationDirPath().toStdString();
  DataFolder = app::FindDataFolder(ProgramFolder);
  BuildControls();
  BuildMenus();
  ParseFuncts::AttachWindow(this);
  setAcceptDrops(true);
  Form_Load();
}

Form1::~Form1() { ParseFuncts::AttachWindow(nullptr); }

// The controls keep their classic places at the classic size, which is also the smallest;
// a larger window gives the list more rows and the views more room.
void Form1::BuildControls() {
  auto* client = new QWidget(this);
  client->setMinimumSize(kClientWidth, kClientHeight);
  setCentralWidget(client);

  List1 = new EntryListBox(client);
  List1->setToolTip(QStringLiteral("WAV data sets embedded in te DAT file"));
  List1->setSelectionMode(QAbstractItemView::SingleSelection);
  List1->installEventFilter(this);
  connect(List1, &QListWidget::itemDoubleClicked, this, [this] { List1_DblClick(); });
  connect(List1, &QListWidget::itemSelectionChanged, this, [this] { UpdateDetails(); });

  Label1 = new QLabel(QStringLiteral("No File Loaded"), client);
  Label1->setGeometry(8, 16, 113, 17);

  Views = new QScrollArea(client);
  Views->setFrameShape(QFrame::NoFrame);
  Views->setFocusPolicy(Qt::NoFocus);
  Views->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Views->viewport()->setBackgroundRole(QPalette::Window);
  auto* stack = new QWidget;
  Views->setWidget(stack);

  Picture1[0] = new PictureBox(stack);

  Label2 = new QLabel(QStringLiteral("View:"), client);
  Label2->setGeometry(152, 16, 33, 17);

  const char* captions[] = {"Image", "Mask", "Alpha"};
  for (int16_t i = 0; i < 3; ++i) {
    lblV[i] = new QLabel(QString::fromLatin1(captions[i]), client);
    lblV[i]->setGeometry(192 + 72 * i, 16, 65, 17);
  }

  Picture1[1] = new PictureBox(stack);
  Picture1[2] = new PictureBox(stack);
  Picture1[2]->SetCheckerboard(true);

  for (int16_t i = 0; i < 3; ++i) {
    lblV[i]->setAutoFillBackground(true);
    lblV[i]->installEventFilter(this);
    Picture1[i]->setFocusPolicy(Qt::TabFocus);
    connect(Picture1[i], &PictureBox::MouseUp, this,
            [this, i](int button) { Picture1_MouseUp(i, int16_t(button)); });
  }
  // The alpha view stays out of the classic Tab order.
  Picture1[2]->setFocusPolicy(Qt::NoFocus);

  // Tab order as the controls are listed: list, status, image view, "View:", the two
  // switches, mask view. Labels take no focus, so Tab moves between list and views.
  QWidget* order[] = {List1, Label1, Picture1[0], Label2, lblV[0], lblV[1], Picture1[1]};
  for (size_t i = 0; i + 1 < std::size(order); ++i) setTabOrder(order[i], order[i + 1]);

  // The image view starts in front.
  Picture1[0]->raise();

  lblDetails = new QLabel(this);
  statusBar()->addPermanentWidget(lblDetails, 1);

  // Watched only once every control exists.
  client->installEventFilter(this);
  Views->viewport()->installEventFilter(this);
  ApplyZoom();
  LayOutControls();
  resize(minimumSizeHint());
}

void Form1::LayOutControls() {
  const QSize client = centralWidget()->size();
  const int extraHeight = std::max(0, client.height() - kClientHeight);
  List1->setGeometry(8, 32, 137, 264 + extraHeight);
  Views->setGeometry(152, 40, std::max(0, client.width() - 152), std::max(0, client.height() - 40));
  if (fitToView_) ApplyZoom();
}

void Form1::BuildMenus() {
  mnuFile = menuBar()->addMenu(QStringLiteral("&File"));
  mnuOpen = mnuFile->addAction(QStringLiteral("&Open"));
  mnuOpen->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
  mnuRelease = mnuFile->addAction(QStringLiteral("&Release"));
  mnuRelease->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
  mnuSave = mnuFile->addAction(QStringLiteral("&Save"));
  mnuSave->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
  mnuSepBatch = mnuFile->addSeparator();
  mnuExportAll = mnuFile->addAction(QStringLiteral("Export &all..."));
  mnuExportAllPng = mnuFile->addAction(QStringLiteral("Export all as &PNG..."));
  mnuImportAll = mnuFile->addAction(QStringLiteral("Import a&ll..."));
  mnuImportAllPng = mnuFile->addAction(QStringLiteral("Import all from P&NG..."));
  mnuSep01 = mnuFile->addSeparator();
  mnuExit = mnuFile->addAction(QStringLiteral("E&xit"));

  mnuView = menuBar()->addMenu(QStringLiteral("&View"));
  mnuZoomIn = mnuView->addAction(QStringLiteral("Zoom &In"));
  mnuZoomIn->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::Key_Equal)});
  mnuZoomOut = mnuView->addAction(QStringLiteral("Zoom &Out"));
  mnuZoomOut->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Minus));
  mnuZoomActual = mnuView->addAction(QStringLiteral("&Actual Size"));
  mnuZoomActual->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_0));
  mnuZoomFit = mnuView->addAction(QStringLiteral("&Fit to View"));

  mnuHelp = menuBar()->addAction(QStringLiteral("&Help"));

  mnuHide = new QMenu(QStringLiteral("Hide!"), this);
  mnuImport = mnuHide->addAction(QStringLiteral("&Import..."));
  mnuExport = mnuHide->addAction(QStringLiteral("&Export..."));

  // Shortcuts of items in a closed menu still work from anywhere in the window because
  // the actions belong to the window as well.
  addActions({mnuOpen, mnuRelease, mnuSave, mnuExit, mnuZoomIn, mnuZoomOut, mnuZoomActual,
              mnuZoomFit});

  connect(mnuOpen, &QAction::triggered, this, [this] { mnuOpen_Click(); });
  connect(mnuRelease, &QAction::triggered, this, [this] { mnuRelease_Click(); });
  connect(mnuSave, &QAction::triggered, this, [this] { mnuSave_Click(); });
  connect(mnuExit, &QAction::triggered, this, [this] { mnuExit_Click(); });
  connect(mnuExportAll, &QAction::triggered, this, [this] { mnuExportAll_Click(); });
  connect(mnuImportAll, &QAction::triggered, this, [this] { mnuImportAll_Click(); });
  connect(mnuExportAllPng, &QAction::triggered, this, [this] { mnuExportAllPng_Click(); });
  connect(mnuImportAllPng, &QAction::triggered, this, [this] { mnuImportAllPng_Click(); });
  connect(mnuZoomIn, &QAction::triggered, this, [this] { ZoomIn(); });
  connect(mnuZoomOut, &QAction::triggered, this, [this] { ZoomOut(); });
  connect(mnuZoomActual, &QAction::triggered, this, [this] { ZoomActualSize(); });
  connect(mnuZoomFit, &QAction::triggered, this, [this] { ZoomToFit(); });
  connect(mnuHelp, &QAction::triggered, this, [this] { mnuHelp_Click(); });
  connect(mnuImport, &QAction::triggered, this, [this] { mnuImport_Click(); });
  connect(mnuExport, &QAction::triggered, this, [this] { mnuExport_Click(); });
}

// ---- Window ---------------------------------------------------------------------------

void Form1::Form_Load() {
  ParseFuncts::Textures.clear();
  ParseFuncts::Textures.resize(1);  // the single empty slot 0
  SetLabelBackground(lblV[0], Qt::white);
  SetLabelBackground(lblV[1], palette().color(QPalette::Window));
  SetLabelBackground(lblV[2], palette().color(QPalette::Window));
  // The first Open starts where the sample lies, so a newcomer finds something to open.
  ArchiveFolder = DataFolder;
}

void Form1::Form_Unload() { ParseFuncts::CloseArchive(); }

void Form1::closeEvent(QCloseEvent* event) {
  if (!ConfirmDroppingChanges()) {
    event->ignore();
    return;
  }
  Form_Unload();
  setWindowModified(false);
  event->accept();
}

void Form1::UpdateTitle() {
  const std::string app = platform::kAppTitle;
  if (!ParseFuncts::ArchiveLoaded()) {
    setWindowModified(false);
    setWindowTitle(QString::fromStdString(app));
    return;
  }
  setWindowTitle(QString::fromStdString(CommDlgs::GetFileNamePart(ArchivePath)) +
                 QStringLiteral("[*] - ") + QString::fromStdString(app));
}

bool Form1::ConfirmDroppingChanges() {
  if (!isWindowModified() || !ParseFuncts::ArchiveLoaded()) return true;
  const platform::Answer answer = platform::ShowMessage(
      {"The textures imported into " + CommDlgs::GetFileNamePart(ArchivePath) +
           " have not been saved.\n\nSave the archive before it is closed?",
       "", platform::Buttons::SaveDiscardCancel, platform::Icon::Question});
  if (answer == platform::Answer::Discard) return true;
  if (answer == platform::Answer::Save) return SaveWithBackupQuestion();
  return false;
}

void Form1::SetLabelBackground(QLabel* label, const QColor& colour) {
  QPalette p = label->palette();
  p.setColor(label->backgroundRole(), colour);
  label->setPalette(p);
}

bool Form1::ImageViewCurrent() const {
  return lblV[0]->palette().color(lblV[0]->backgroundRole()) == QColor(Qt::white);
}

int16_t Form1::CurrentView() const {
  for (int16_t i = 0; i < 3; ++i)
    if (lblV[i]->palette().color(lblV[i]->backgroundRole()) == QColor(Qt::white)) return i;
  return 0;
}

// Any index but the image's and the alpha's means the mask, as it always did.
void Form1::lblV_Click(int16_t Index) {
  const int16_t view = Index == 0 || Index == 2 ? Index : 1;
  const QColor window = palette().color(QPalette::Window);
  for (int16_t i = 0; i < 3; ++i) SetLabelBackground(lblV[i], i == view ? QColor(Qt::white) : window);
  Picture1[view]->raise();
}

int16_t Form1::ListIndex() const {
  const QList<QListWidgetItem*> selected = List1->selectedItems();
  return selected.isEmpty() ? int16_t(-1) : int16_t(List1->row(selected.first()));
}

void Form1::List1_DblClick() {
  const int row = ListIndex();
  if (row == -1) return;
  TextureSelected = -1;
  for (PictureBox* view : Picture1) view->Clear();

  cPVR* texture = ParseFuncts::TextureOfRow(row);
  // A texture that cannot be decoded (no chunk, or a size its data cannot fill) leaves the
  // views at the starting picture.
  if (texture != nullptr && texture->PVR2BMP()) {
    for (PictureBox* view : Picture1) view->SetPictureSize(texture->Height(), texture->Width());
    for (int16_t mode = 0; mode < 2; ++mode) texture->Draw(mode, Picture1[mode]->Target());
  }
  // A format without alpha bits decodes to a black mask, yet its texels are opaque.
  const uint8_t format = texture != nullptr ? texture->ChunkRecord().pFormat : 0;
  ComposeAlphaView(format < TexelCodec::kPixelFormats.size() &&
                   TexelCodec::kPixelFormats[format].AMask == 0);
  ApplyZoom();
  for (PictureBox* view : Picture1) view->update();
}

void Form1::ComposeAlphaView(bool opaque) {
  const QImage& image = Picture1[0]->Image();
  const QImage& mask = Picture1[1]->Image();
  if (image.size() != mask.size() || image.size() != Picture1[2]->Image().size()) return;
  // The mask holds the alpha in its red channel.
  QImage composite(image.size(), QImage::Format_ARGB32);
  for (int y = 0; y < image.height(); ++y) {
    const auto* colour = reinterpret_cast<const QRgb*>(image.constScanLine(y));
    const auto* alpha = reinterpret_cast<const QRgb*>(mask.constScanLine(y));
    auto* out = reinterpret_cast<QRgb*>(composite.scanLine(y));
    for (int x = 0; x < image.width(); ++x)
      out[x] = qRgba(qRed(colour[x]), qGreen(colour[x]), qBlue(colour[x]),
                     opaque ? 255 : qRed(alpha[x]));
  }
  Picture1[2]->SetImage(composite);
}

// ---- Zoom -----------------------------------------------------------------------------

namespace {

constexpr int kMaxZoom = 8;

}  // namespace

double Form1::ZoomScale() const { return Picture1[0]->Scale(); }

void Form1::ApplyZoom() {
  double scale = zoom_;
  const QSize picture = Picture1[0]->Image().size();
  if (fitToView_ && !picture.isEmpty()) {
    const QSize room = Views->size();
    scale = std::min(double(room.width()) / picture.width(), double(room.height()) / picture.height());
    // Enlarged, a texel takes a whole number of screen pixels, so all texels stay one size.
    if (scale >= 1) scale = std::min<double>(kMaxZoom, std::floor(scale));
    if (scale <= 0) scale = 1;
  }
  QSize largest;
  for (PictureBox* view : Picture1) {
    view->SetScale(scale);
    largest = largest.expandedTo(view->size());
  }
  Views->widget()->setFixedSize(largest);
}

void Form1::ZoomIn() {
  const int current = int(std::floor(ZoomScale()));
  fitToView_ = false;
  zoom_ = std::min(kMaxZoom, std::max(1, current + 1));
  ApplyZoom();
}

// Below 1:1 comes fit-to-view, which shrinks only a texture larger than the view.
void Form1::ZoomOut() {
  if (fitToView_) return;
  if (zoom_ > 1) {
    --zoom_;
  } else {
    fitToView_ = true;
  }
  ApplyZoom();
}

void Form1::ZoomActualSize() {
  fitToView_ = false;
  zoom_ = 1;
  ApplyZoom();
}

void Form1::ZoomToFit() {
  fitToView_ = true;
  ApplyZoom();
}

// ---- Details --------------------------------------------------------------------------

QString Form1::DetailsText() const {
  const cPVR* texture = ParseFuncts::TextureOfRow(ListIndex());
  if (texture == nullptr) return {};
  // The same words quarnel-cli info uses.
  return QString::fromStdString(TextureDetails::Text(texture->ChunkRecord()));
}

void Form1::UpdateDetails() { lblDetails->setText(DetailsText()); }

void Form1::List1_KeyPress(int16_t KeyAscii) {
  if (KeyAscii == 13) List1_DblClick();
}

void Form1::Picture1_MouseUp(int16_t /*Index*/, int16_t Button) {
  if (Button == 2) mnuHide->popup(QCursor::pos());
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
  if (watched == List1 && event->type() == QEvent::KeyPress) {
    const QString text = static_cast<QKeyEvent*>(event)->text();
    if (text.size() == 1 && text[0].unicode() < 0x8000) {
      const int16_t code = int16_t(text[0].unicode());
      List1_KeyPress(code);
      if (code == 13) return true;  // Enter selects; the list has nothing more to do with it
    }
    return false;
  }
  if (watched == centralWidget() && event->type() == QEvent::Resize) {
    LayOutControls();
    return false;
  }
  if (watched == Views->viewport() && event->type() == QEvent::Wheel) {
    const auto* wheel = static_cast<QWheelEvent*>(event);
    if (!(wheel->modifiers() & Qt::ControlModifier)) return false;
    if (wheel->angleDelta().y() > 0) ZoomIn();
    if (wheel->angleDelta().y() < 0) ZoomOut();
    return true;
  }
  for (int16_t i = 0; i < 3; ++i) {
    if (watched == lblV[i] && event->type() == QEvent::MouseButtonRelease) {
      const auto* mouse = static_cast<QMouseEvent*>(event);
      if (mouse->button() == Qt::LeftButton && lblV[i]->rect().contains(mouse->position().toPoint()))
        lblV_Click(i);
      return false;
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

// ---- platform::EditorWindow -----------------------------------------------------------

void Form1::ListClear() { List1->clear(); }

// The archive module hands names over in UTF-8 already.
void Form1::ListAddItem(const std::string& text) { List1->addItem(QString::fromStdString(text)); }

void Form1::SetStatus(const std::string& caption) {
  Label1->setText(QString::fromStdString(caption));
}

void Form1::SetTextureSelected(int16_t value) { TextureSelected = value; }

// ---- Archive commands -----------------------------------------------------------------

void Form1::mnuOpen_Click() {
  const std::string path = CommDlgs::ShowFileDialog(this, 1, "Open Texture File", "", {kPvmFilter},
                                                    ArchiveFolder, "pvm");
  if (path.empty()) return;
  OpenArchiveFile(path);
}

void Form1::OpenArchiveFile(const std::string& path) {
  // Asked only once a new archive was chosen: a cancelled dialog loses nothing.
  if (!ConfirmDroppingChanges()) return;
  ArchiveFolder = path.substr(0, path.size() - CommDlgs::GetFileNamePart(path).size());
  ArchivePath = path;
  ParseFuncts::CloseArchive();
  Label1->setText(QStringLiteral("Loading..."));
  // Lets the status line be painted before the archive is read.
  QCoreApplication::processEvents();
  ParseFuncts::OpenArchive(path);
  setWindowModified(false);
  UpdateTitle();
}

void Form1::OpenArguments(const QStringList& arguments) {
  if (arguments.size() < 2) return;
  // The folder of the path becomes where dialogs start, so a relative path is made whole.
  OpenArchiveFile(QFileInfo(arguments[1]).absoluteFilePath().toStdString());
}

void Form1::mnuRelease_Click() {
  if (!ConfirmDroppingChanges()) return;
  ParseFuncts::CloseArchive();
  UpdateTitle();
}

void Form1::mnuSave_Click() { SaveWithBackupQuestion(); }

bool Form1::SaveWithBackupQuestion() {
  // At start, after Release and after a refused Open there is nothing to write, and
  // ArchivePath may name no archive at all: no backup name is formed, nothing is copied.
  if (!ParseFuncts::ArchiveLoaded()) {
    platform::ShowMessage({"There is no archive loaded, so there is nothing to save.", "",
                           platform::Buttons::Ok, platform::Icon::Exclamation});
    return false;
  }
  const std::string backup = ParseFuncts::BackupPathOf(ArchivePath);
  if (!platform::FileExists(backup)) {
    const platform::Answer answer = platform::ShowMessage(
        {"Would you like to make a backup of the existing DAT file first?",
         "No backup detected...", platform::Buttons::YesNoCancel, platform::Icon::None});
    if (answer == platform::Answer::Cancel) return false;
    if (answer == platform::Answer::Yes) {
      std::string error;
      // The user asked for a copy of the old file; writing over it without one would
      // lose exactly what they meant to keep.
      if (!platform::CopyFile(ArchivePath, backup, error)) {
        platform::ShowMessage({"The backup copy could not be made, so the archive was not "
                               "saved.\n\nArchive: " + ArchivePath + "\nBackup: " +
                                   backup + "\n\n" + error,
                               "", platform::Buttons::Ok, platform::Icon::Critical});
        return false;
      }
    }
  }
  if (!ParseFuncts::SaveArchive(ArchivePath)) return false;
  setWindowModified(false);
  return true;
}

void Form1::mnuExit_Click() { close(); }

void Form1::mnuHelp_Click() {
  const std::string page = DataFolder + "/docs.html";
  if (const auto& opener = platform::InstalledSeam<HelpOpener>())
    opener(page);
  else
    OpenWithDesktop(page);
}

Form1::HelpOpener Form1::SetHelpOpener(HelpOpener opener) {
  return platform::ReplaceSeam(std::move(opener));
}

// ---- Import and export ----------------------------------------------------------------

void Form1::ShowSelectionWarning() {
  platform::ShowMessage({"Please select a texture before Importing/Exporting", "",
                         platform::Buttons::Ok, platform::Icon::Exclamation});
}

bool Form1::RefuseImportWithoutCodec() {
  const std::string why = BatchFiles::WhyNotEncoded(*ParseFuncts::TextureOfRow(ListIndex()));
  if (why.empty()) return false;
  platform::ShowMessage({"The texture \"" + List1->item(ListIndex())->text().toStdString() +
                             "\" " + why + ", so nothing can be imported into it.",
                         "", platform::Buttons::Ok, platform::Icon::Exclamation});
  return true;
}

void Form1::mnuExport_Click() {
  cPVR* texture = TextureSelected != 0 ? ParseFuncts::TextureOfRow(ListIndex()) : nullptr;
  if (texture == nullptr) {
    ShowSelectionWarning();
    return;
  }
  // The alpha view shows the image, so it exports the image.
  const int16_t mode = CurrentView() == 1 ? 1 : 0;
  // A row that was moved to but never shown has no surfaces yet: decode it first, and
  // refuse rather than write a file from nothing.
  if (!texture->HasSurface(mode) && !texture->PVR2BMP()) {
    platform::ShowMessage({"The texture \"" + List1->item(ListIndex())->text().toStdString() +
                               "\" cannot be decoded, so there is nothing to export.",
                           "", platform::Buttons::Ok, platform::Icon::Exclamation});
    return;
  }
  const std::string path =
      CommDlgs::ShowFileDialog(this, 0, mode == 0 ? "Export Image" : "Export Mask", "",
                               kPictureFilters, ArchiveFolder, "png");
  if (path.empty()) return;
  // The dialog is modal, but the row is read afresh all the same.
  texture = ParseFuncts::TextureOfRow(ListIndex());
  if (texture == nullptr) return;
  // A PNG holds the image and its alpha together, whichever view is current.
  if (PngFile::NamesPng(path)) texture->SavePng(path);
  else texture->SaveBitmap(mode, path);
}

void Form1::mnuImport_Click() {
  if (List1->count() == 0) return;
  if (TextureSelected == 0 || ParseFuncts::TextureOfRow(ListIndex()) == nullptr) {
    ShowSelectionWarning();
    return;
  }
  if (RefuseImportWithoutCodec()) return;
  const std::string image = CommDlgs::ShowFileDialog(this, 1, "Import Image", "",
                                                     kPictureFilters, ArchiveFolder, "png");
  if (image.empty()) return;
  // A PNG brings its own alpha, so only a BMP is asked for a mask.
  const bool png = PngFile::NamesPng(image);
  const std::string mask =
      png ? std::string() : CommDlgs::ShowFileDialog(this, 1, "Import Mask (Optional! Cancel to skip)", "",
                                                     {kBmpFilter}, ArchiveFolder, "bmp");
  ImportIntoSelected(image, mask);
}

bool Form1::ImportIntoSelected(const std::string& image, const std::string& mask) {
  cPVR* texture = ParseFuncts::TextureOfRow(ListIndex());
  if (texture == nullptr) return false;
  // A refused file has already been reported; encoding whatever the surfaces still hold
  // would overwrite the texture with a picture the user did not choose.
  const bool loaded = PngFile::NamesPng(image) ? texture->LoadPng(image)
                                               : texture->LoadBitMap(image, mask);
  if (!loaded) return false;
  const std::vector<uint8_t> before = texture->ChunkRecord().Data;
  texture->BMP2PVR();
  if (texture->ChunkRecord().Data != before) setWindowModified(true);
  List1_DblClick();
  return true;
}

// ---- Export all and import all --------------------------------------------------------

std::vector<std::string> Form1::ListedNames() const {
  std::vector<std::string> names;
  for (int i = 0; i < List1->count(); ++i) names.push_back(List1->item(i)->text().toStdString());
  return names;
}

std::string Form1::ChooseBatchFolder(const std::string& title) {
  if (!ParseFuncts::ArchiveLoaded()) {
    platform::ShowMessage({"There is no archive loaded.", "", platform::Buttons::Ok,
                           platform::Icon::Exclamation});
    return {};
  }
  return CommDlgs::ShowFolderDialog(this, title, ArchiveFolder);
}

void Form1::ReportBatch(const std::string& summary, const std::vector<std::string>& lines,
                        bool fault) {
  std::string text = summary;
  for (const std::string& line : lines) text += (text.empty() ? "" : "\n") + line;
  if (text.empty()) return;
  platform::ShowMessage({text, "", platform::Buttons::Ok,
                         fault ? platform::Icon::Exclamation : platform::Icon::None});
}

namespace {

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

std::string Plural(size_t count, const char* word) {
  return std::to_string(count) + " " + word + (count == 1 ? "" : "s");
}

}  // namespace

void Form1::mnuExportAll_Click() { ExportAll(false); }
void Form1::mnuExportAllPng_Click() { ExportAll(true); }
void Form1::mnuImportAll_Click() { ImportAll(false); }
void Form1::mnuImportAllPng_Click() { ImportAll(true); }

void Form1::ExportAll(bool png) {
  const BatchFiles::FileFormat format = png ? BatchFiles::FileFormat::Png : BatchFiles::FileFormat::Bmp;
  const std::string folder = ChooseBatchFolder("Export All Textures");
  if (folder.empty()) return;
  const std::vector<std::string> names = ListedNames();
  size_t existing = 0;
  for (const std::string& path : BatchFiles::ExportPaths(names, folder, format))
    existing += platform::FileExists(path) ? 1 : 0;
  if (existing > 0) {
    const platform::Answer answer = platform::ShowMessage(
        {Plural(existing, "file") + " of this export already exist in " + folder +
             ".\n\nReplace them?",
         "", platform::Buttons::YesNo, platform::Icon::Exclamation});
    if (answer != platform::Answer::Yes) return;
  }
  std::vector<std::string> lines;
  BatchProgressDialog progress(this, QStringLiteral("Exporting textures..."), names.size());
  const BatchFiles::Result result = BatchFiles::ExportAll(
      names, folder, format, true, [&lines](const std::string& line) { lines.push_back(line); },
      progress.Step());
  using BatchFiles::Outcome;
  std::string summary;
  if (result.outcome == Outcome::kCancelled)
    summary = "Export all was cancelled after " + Plural(result.count, "texture") + ".";
  else if (result.outcome != Outcome::kRefused)
    summary = "Exported " + Plural(result.count, "texture") + " to " + folder;
  ReportBatch(summary, lines, result.outcome != Outcome::kDone);
}

void Form1::ImportAll(bool png) {
  const BatchFiles::FileFormat format = png ? BatchFiles::FileFormat::Png : BatchFiles::FileFormat::Bmp;
  const std::string folder = ChooseBatchFolder("Import All Textures");
  if (folder.empty()) return;
  const std::string archive = CommDlgs::GetFileNamePart(ArchivePath);
  const platform::Answer answer = platform::ShowMessage(
      {"Import every texture file in " + folder + " into " + archive +
           " and save the archive?\n\nThe textures they came from are replaced.",
       "", platform::Buttons::YesNo, platform::Icon::Question});
  if (answer != platform::Answer::Yes) return;

  const std::vector<std::string> names = ListedNames();
  std::vector<std::string> lines;
  BatchFiles::Result result;
  {
    BatchProgressDialog progress(this, QStringLiteral("Importing textures..."), names.size());
    result = BatchFiles::ImportAll(
        names, folder, format, ArchivePath, [&lines](const std::string& line) { lines.push_back(line); },
        progress.Step());
  }
  using BatchFiles::Outcome;
  if (result.outcome == Outcome::kCancelled) {
    ReportBatch("Import all was cancelled; nothing was imported and " + archive +
                    " was not written.",
                lines, false);
    return;
  }
  if (result.outcome != Outcome::kDone) {
    ReportBatch("", lines, true);
    return;
  }
  setWindowModified(true);
  if (TextureSelected != 0) List1_DblClick();
  if (!SaveWithBackupQuestion()) return;  // kept in the window, marked unsaved
  ReportBatch("Imported " + Plural(result.count, "texture") + " into " + ArchivePath, lines, false);
}

// ---- Drops ----------------------------------------------------------------------------

namespace {

enum class DroppedKind { None, Archive, Image };

// The one local file of a drop and what it is, judged by its extension as the file
// dialogs' filters judge names.
std::pair<DroppedKind, std::string> DroppedFile(const QMimeData* data) {
  if (data == nullptr || !data->hasUrls() || data->urls().size() != 1) return {};
  const QUrl url = data->urls().first();
  if (!url.isLocalFile()) return {};
  const QString path = url.toLocalFile();
  const QString suffix = QFileInfo(path).suffix().toLower();
  if (suffix == QLatin1String("pvm")) return {DroppedKind::Archive, path.toStdString()};
  if (suffix == QLatin1String("bmp") || suffix == QLatin1String("png"))
    return {DroppedKind::Image, path.toStdString()};
  return {};
}

}  // namespace

void Form1::dragEnterEvent(QDragEnterEvent* event) {
  if (DroppedFile(event->mimeData()).first != DroppedKind::None) event->acceptProposedAction();
}

void Form1::dropEvent(QDropEvent* event) {
  const auto [kind, path] = DroppedFile(event->mimeData());
  if (kind == DroppedKind::None) return;
  event->acceptProposedAction();
  if (kind == DroppedKind::Archive) {
    OpenArchiveFile(path);
    return;
  }
  // An image counts only where the texture is shown; elsewhere it is not meant for it.
  const QWidget* view = Views->viewport();
  const QPoint at = view->mapFrom(this, event->position().toPoint());
  if (view->rect().contains(at)) ImportDroppedImage(path);
}

void Form1::ImportDroppedImage(const std::string& path) {
  if (List1->count() == 0 || TextureSelected == 0 ||
      ParseFuncts::TextureOfRow(ListIndex()) == nullptr) {
    ShowSelectionWarning();
    return;
  }
  if (RefuseImportWithoutCodec()) return;
  const std::string entry = List1->item(ListIndex())->text().toStdString();
  const platform::Answer answer = platform::ShowMessage(
      {"Import " + CommDlgs::GetFileNamePart(path) + " into the texture \"" + entry + "\"?", "",
       platform::Buttons::YesNo, platform::Icon::Question});
  if (answer == platform::Answer::Yes) ImportIntoSelected(path, "");
}
