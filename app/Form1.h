// The editor's one window: the entry list, the status line, the image and mask views with
// their switch, the menus, and the editor state every command shares. Each command is a
// public handler named after the control and event that run it, so tests can call them as
// the window would.
#pragma once

#include <QListWidget>
#include <QMainWindow>
#include <QStringList>
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/EditorWindow.h"

class PictureBox;
class QAction;
class QLabel;
class QScrollArea;
class QMenu;
class cPVR;

// The entry list. Unlike a plain QListWidget it does not make its first row current when
// it gains the focus, so no row counts as chosen until the user picks one.
class EntryListBox : public QListWidget {
 public:
  using QListWidget::QListWidget;

 protected:
  void focusInEvent(QFocusEvent* event) override;
};

class Form1 : public QMainWindow, public platform::EditorWindow {
  Q_OBJECT

 public:
  explicit Form1(QWidget* parent = nullptr);
  ~Form1() override;

  // ---- Handlers -------------------------------------------------------------------------
  void Form_Load();
  void Form_Unload();
  void lblV_Click(int16_t Index);
  void List1_DblClick();               // the selection handler: decodes and shows a row
  void List1_KeyPress(int16_t KeyAscii);
  void Picture1_MouseUp(int16_t Index, int16_t Button);
  void mnuOpen_Click();
  void mnuRelease_Click();
  void mnuSave_Click();
  void mnuExit_Click();
  void mnuHelp_Click();
  void mnuImport_Click();
  void mnuExport_Click();
  void mnuExportAll_Click();     // BMP image and mask files, as quarnel-cli's default
  void mnuExportAllPng_Click();  // one PNG per texture, as quarnel-cli's --format png
  void mnuImportAll_Click();
  void mnuImportAllPng_Click();

  // The Open command's steps after its dialog, for a path chosen another way (the command
  // line, a drop): asks about unsaved changes first, then releases and reads the archive.
  void OpenArchiveFile(const std::string& path);
  // Opens the archive named by the first argument after the program's own, if any.
  void OpenArguments(const QStringList& arguments);

  // The Import command's steps after its dialogs: loads the files into the selected row's
  // texture and encodes them into its chunk. A changed chunk marks the archive modified.
  // False when there is no such texture or a file was refused (already reported).
  bool ImportIntoSelected(const std::string& image, const std::string& mask);

  // Whether textures were imported since the archive was opened or last saved.
  bool HasUnsavedChanges() const { return isWindowModified(); }

  // The selected row of List1, -1 when none is selected.
  int16_t ListIndex() const;
  // Whether the image view is the current one: its label is the white one.
  bool ImageViewCurrent() const;
  // The current view: 0 image, 1 mask, 2 alpha over a checkerboard.
  int16_t CurrentView() const;

  // ---- Zoom -----------------------------------------------------------------------------
  // Zoom runs from fit-to-view through 1:1 up to 8x. In and out step between fit-to-view
  // and the whole-number scales; fit-to-view follows the view's size and the texture.
  void ZoomIn();
  void ZoomOut();
  void ZoomActualSize();
  void ZoomToFit();
  // Screen pixels per texture pixel in the views now.
  double ZoomScale() const;
  // The details line of the selected texture ("" when no texture is selected).
  QString DetailsText() const;

  // Replaces how the help page is opened: the opener gets the page's full path. An empty
  // function restores the desktop's viewer. Returns the opener installed before.
  using HelpOpener = std::function<void(const std::string& page)>;
  static HelpOpener SetHelpOpener(HelpOpener opener);

  // ---- platform::EditorWindow -----------------------------------------------------------
  void ListClear() override;
  void ListAddItem(const std::string& text) override;
  void SetStatus(const std::string& caption) override;
  void SetTextureSelected(int16_t value) override;

  // ---- Editor state ---------------------------------------------------------------------
  std::string ArchivePath;    // the archive chosen last with Open; kept by Release
  std::string ArchiveFolder;  // where every file dialog starts
  int16_t TextureSelected = 0;  // -1 once a texture was shown since the last Open/Release
  std::string ProgramFolder;  // the folder the program runs from
  std::string DataFolder;     // the folder of docs.html and sample.pvm (see FindDataFolder)

  // ---- Controls -------------------------------------------------------------------------
  EntryListBox* List1 = nullptr;
  QLabel* Label1 = nullptr;
  std::array<PictureBox*, 3> Picture1{};  // 0 image view, 1 mask view, 2 alpha view
  QLabel* Label2 = nullptr;
  std::array<QLabel*, 3> lblV{};          // 0 "Image", 1 "Mask", 2 "Alpha"
  QScrollArea* Views = nullptr;           // scrolls the stacked views
  QLabel* lblDetails = nullptr;           // the status bar's texture details

  QMenu* mnuFile = nullptr;
  QAction* mnuOpen = nullptr;
  QAction* mnuRelease = nullptr;
  QAction* mnuSave = nullptr;
  QAction* mnuSepBatch = nullptr;
  QAction* mnuExportAll = nullptr;
  QAction* mnuExportAllPng = nullptr;
  QAction* mnuImportAll = nullptr;
  QAction* mnuImportAllPng = nullptr;
  QAction* mnuSep01 = nullptr;
  QAction* mnuExit = nullptr;
  QMenu* mnuView = nullptr;
  QAction* mnuZoomIn = nullptr;
  QAction* mnuZoomOut = nullptr;
  QAction* mnuZoomActual = nullptr;
  QAction* mnuZoomFit = nullptr;
  QAction* mnuHelp = nullptr;
  QMenu* mnuHide = nullptr;  // never on the menu bar: the views' right-click menu
  QAction* mnuImport = nullptr;
  QAction* mnuExport = nullptr;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  // Asks, when there are unsaved changes, whether to save them first. True when the
  // caller may go on and drop the archive: nothing to lose, the user chose Discard, or the
  // save went through. False on Cancel or a failed save.
  bool ConfirmDroppingChanges();
  // The Save command; true when the archive was written.
  bool SaveWithBackupQuestion();
  // The title bar: the open archive's file name with Qt's modified marker.
  void UpdateTitle();
  // A dropped image file, confirmed, goes into the selected texture.
  void ImportDroppedImage(const std::string& path);
  void BuildControls();
  void BuildMenus();
  // Places the controls for the client area's size: the list and the views take what the
  // window has beyond its classic size.
  void LayOutControls();
  // Gives every view the zoom scale and the scroll area the size of the largest view.
  void ApplyZoom();
  // Rebuilds the alpha view from the image and mask views; opaque ignores the mask.
  void ComposeAlphaView(bool opaque);
  void UpdateDetails();
  // The batch commands' shared steps: a loaded archive, a folder; "" when either is missing.
  std::string ChooseBatchFolder(const std::string& title);
  // The batch commands in either file type (true: PNG).
  void ExportAll(bool png);
  void ImportAll(bool png);
  std::vector<std::string> ListedNames() const;
  // Shows what a batch had to say, after its summary line.
  void ReportBatch(const std::string& summary, const std::vector<std::string>& lines, bool fault);

  bool fitToView_ = false;  // fit-to-view, else zoom_ whole screen pixels per texel
  int zoom_ = 1;
  void SetLabelBackground(QLabel* label, const QColor& colour);
  void ShowSelectionWarning();
  // Says so and returns true when the selected texture is one the codec cannot encode, so
  // that no file is asked for in vain.
  bool RefuseImportWithoutCodec();
};
