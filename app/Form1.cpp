#include "app/Form1.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QFileInfo>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QUrl>
#include <utility>

#include "app/CommDlgs.h"
#include "app/PictureBox.h"
#include "archive/ParseFuncts.h"
#include "platform/Files.h"
#include "platform/Messages.h"
#include "platform/Seam.h"
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
  BuildControls();
  BuildMenus();
  ParseFuncts::AttachWindow(this);
  Form_Load();
}

Form1::~Form1() { ParseFuncts::AttachWindow(nullptr); }

// Every control sits at a fixed place in a fixed client area; nothing follows the window's
// size, so the window cannot be resized.
void Form1::BuildControls() {
  auto* client = new QWidget(this);
  client->setFixedSize(kClientWidth, kClientHeight);
  setCentralWidget(client);

  List1 = new EntryListBox(client);
  List1->setGeometry(8, 32, 137, 264);
  List1->setToolTip(QStringLiteral("WAV data sets embedded in te DAT file"));
  List1->setSelectionMode(QAbstractItemView::SingleSelection);
  List1->installEventFilter(this);
  connect(List1, &QListWidget::itemDoubleClicked, this, [this] { List1_DblClick(); });

  Label1 = new QLabel(QStringLiteral("No File Loaded"), client);
  Label1->setGeometry(8, 16, 113, 17);

  Picture1[0] = new PictureBox(client);
  Picture1[0]->move(152, 40);

  Label2 = new QLabel(QStringLiteral("View:"), client);
  Label2->setGeometry(152, 16, 33, 17);

  lblV[0] = new QLabel(QStringLiteral("Image"), client);
  lblV[0]->setGeometry(192, 16, 65, 17);
  lblV[1] = new QLabel(QStringLiteral("Mask"), client);
  lblV[1]->setGeometry(264, 16, 65, 17);

  Picture1[1] = new PictureBox(client);
  Picture1[1]->move(152, 40);

  for (int16_t i = 0; i < 2; ++i) {
    lblV[i]->setAutoFillBackground(true);
    lblV[i]->installEventFilter(this);
    Picture1[i]->setFocusPolicy(Qt::TabFocus);
    connect(Picture1[i], &PictureBox::MouseUp, this,
            [this, i](int button) { Picture1_MouseUp(i, int16_t(button)); });
  }

  // Tab order as the controls are listed: list, status, image view, "View:", the two
  // switches, mask view. Labels take no focus, so Tab moves between list and views.
  QWidget* order[] = {List1, Label1, Picture1[0], Label2, lblV[0], lblV[1], Picture1[1]};
  for (size_t i = 0; i + 1 < std::size(order); ++i) setTabOrder(order[i], order[i + 1]);

  // The image view starts in front.
  Picture1[0]->raise();

  layout()->setSizeConstraint(QLayout::SetFixedSize);
}

void Form1::BuildMenus() {
  mnuFile = menuBar()->addMenu(QStringLiteral("&File"));
  mnuOpen = mnuFile->addAction(QStringLiteral("&Open"));
  mnuOpen->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
  mnuRelease = mnuFile->addAction(QStringLiteral("&Release"));
  mnuRelease->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
  mnuSave = mnuFile->addAction(QStringLiteral("&Save"));
  mnuSave->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
  mnuSep01 = mnuFile->addSeparator();
  mnuExit = mnuFile->addAction(QStringLiteral("E&xit"));

  mnuHelp = menuBar()->addAction(QStringLiteral("&Help"));

  mnuHide = new QMenu(QStringLiteral("Hide!"), this);
  mnuImport = mnuHide->addAction(QStringLiteral("&Import..."));
  mnuExport = mnuHide->addAction(QStringLiteral("&Export..."));

  // Shortcuts of items in a closed menu still work from anywhere in the window because
  // the actions belong to the window as well.
  addActions({mnuOpen, mnuRelease, mnuSave, mnuExit});

  connect(mnuOpen, &QAction::triggered, this, [this] { mnuOpen_Click(); });
  connect(mnuRelease, &QAction::triggered, this, [this] { mnuRelease_Click(); });
  connect(mnuSave, &QAction::triggered, this, [this] { mnuSave_Click(); });
  connect(mnuExit, &QAction::triggered, this, [this] { mnuExit_Click(); });
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
  ArchiveFolder = ProgramFolder;
}

void Form1::Form_Unload() { ParseFuncts::CloseArchive(); }

void Form1::closeEvent(QCloseEvent* event) {
  Form_Unload();
  event->accept();
}

void Form1::SetLabelBackground(QLabel* label, const QColor& colour) {
  QPalette p = label->palette();
  p.setColor(label->backgroundRole(), colour);
  label->setPalette(p);
}

bool Form1::ImageViewCurrent() const {
  return lblV[0]->palette().color(lblV[0]->backgroundRole()) == QColor(Qt::white);
}

void Form1::lblV_Click(int16_t Index) {
  const QColor window = palette().color(QPalette::Window);
  SetLabelBackground(lblV[0], Index == 0 ? QColor(Qt::white) : window);
  SetLabelBackground(lblV[1], Index == 0 ? window : QColor(Qt::white));
  Picture1[Index == 0 ? 0 : 1]->raise();
}

int16_t Form1::ListIndex() const {
  const QList<QListWidgetItem*> selected = List1->selectedItems();
  return selected.isEmpty() ? int16_t(-1) : int16_t(List1->row(selected.first()));
}

void Form1::List1_DblClick() {
  const int row = ListIndex();
  if (row == -1) return;
  TextureSelected = -1;
  Picture1[0]->Clear();
  Picture1[1]->Clear();

  cPVR* texture = ParseFuncts::TextureOfRow(row);
  // A texture that cannot be decoded (no chunk, or a size its data cannot fill) leaves the
  // views at the starting picture.
  if (texture != nullptr && texture->PVR2BMP()) {
    for (int16_t mode = 0; mode < 2; ++mode)
      Picture1[mode]->SetPictureSize(texture->Height(), texture->Width());
    for (int16_t mode = 0; mode < 2; ++mode) texture->Draw(mode, Picture1[mode]->Target());
  }
  Picture1[0]->update();
  Picture1[1]->update();
}

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
  for (int16_t i = 0; i < 2; ++i) {
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
  ArchiveFolder = path.substr(0, path.size() - CommDlgs::GetFileNamePart(path).size());
  ArchivePath = path;
  ParseFuncts::CloseArchive();
  Label1->setText(QStringLiteral("Loading..."));
  // Lets the status line be painted before the archive is read.
  QCoreApplication::processEvents();
  ParseFuncts::OpenArchive(path);
}

void Form1::mnuRelease_Click() { ParseFuncts::CloseArchive(); }

void Form1::mnuSave_Click() {
  // At start, after Release and after a refused Open there is nothing to write, and
  // ArchivePath may name no archive at all: no backup name is formed, nothing is copied.
  if (!ParseFuncts::ArchiveLoaded()) {
    platform::ShowMessage({"There is no archive loaded, so there is nothing to save.", "",
                           platform::Buttons::Ok, platform::Icon::Exclamation});
    return;
  }
  const std::string backup = ParseFuncts::BackupPathOf(ArchivePath);
  if (!platform::FileExists(backup)) {
    const platform::Answer answer = platform::ShowMessage(
        {"Would you like to make a backup of the existing DAT file first?",
         "No backup detected...", platform::Buttons::YesNoCancel, platform::Icon::None});
    if (answer == platform::Answer::Cancel) return;
    if (answer == platform::Answer::Yes) {
      std::string error;
      // The user asked for a copy of the old file; writing over it without one would
      // lose exactly what they meant to keep.
      if (!platform::CopyFile(ArchivePath, backup, error)) {
        platform::ShowMessage({"The backup copy could not be made, so the archive was not "
                               "saved.\n\nArchive: " + ArchivePath + "\nBackup: " +
                                   backup + "\n\n" + error,
                               "", platform::Buttons::Ok, platform::Icon::Critical});
        return;
      }
    }
  }
  ParseFuncts::SaveArchive(ArchivePath);
}

void Form1::mnuExit_Click() { close(); }

void Form1::mnuHelp_Click() {
  const std::string page = ProgramFolder + "/docs.html";
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

void Form1::mnuExport_Click() {
  cPVR* texture = TextureSelected != 0 ? ParseFuncts::TextureOfRow(ListIndex()) : nullptr;
  if (texture == nullptr) {
    ShowSelectionWarning();
    return;
  }
  const int16_t mode = ImageViewCurrent() ? 0 : 1;
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
  const std::string image = CommDlgs::ShowFileDialog(this, 1, "Import Image", "",
                                                     kPictureFilters, ArchiveFolder, "png");
  if (image.empty()) return;
  // A PNG brings its own alpha, so only a BMP is asked for a mask.
  const bool png = PngFile::NamesPng(image);
  const std::string mask =
      png ? std::string() : CommDlgs::ShowFileDialog(this, 1, "Import Mask (Optional! Cancel to skip)", "",
                                                     {kBmpFilter}, ArchiveFolder, "bmp");

  cPVR* texture = ParseFuncts::TextureOfRow(ListIndex());
  if (texture == nullptr) return;
  // A refused file has already been reported; encoding whatever the surfaces still hold
  // would overwrite the texture with a picture the user did not choose.
  if (png ? !texture->LoadPng(image) : !texture->LoadBitMap(image, mask)) return;
  texture->BMP2PVR();
  List1_DblClick();
}
