// The editor's one window: the open archive's entry list, the status line, the texture view
// with its Image / Mask / Alpha switch, and the commands on the menus. The window owns the
// open archive. The core reads, converts and writes it and gives back errors as values; the
// window asks the questions, before or after it calls the core, and shows the errors.
//
// Every command is an action named after its handler (openArchive, exportAll, zoomIn, ...),
// so tests and tools can find it with findChild<QAction*>(name) and trigger it.
#pragma once

#include <QMainWindow>
#include <QPersistentModelIndex>
#include <QStringList>
#include <array>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "app/Settings.h"
#include "app/TextureView.h"
#include "archive/Archive.h"
#include "archive/BatchFiles.h"
#include "archive/PaletteLookup.h"

class ArchiveModel;
class ExternalEditor;
class RecentFiles;
class QLabel;
class QListView;
class QMenu;
class QScrollArea;

class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  // dataFolder holds the help page and the sample archive; the first Open starts there.
  explicit MainWindow(std::string dataFolder, QWidget* parent = nullptr);
  ~MainWindow() override;

  // Open's steps after its dialog, for a path chosen another way (the command line, a
  // drop): asks about unsaved changes first, then releases the archive and reads the new one.
  // A texture pack (a .pvmx file, or a pack folder's index.txt) gives a new, untitled
  // archive made from it instead.
  void openArchiveFile(const std::string& path);
  // Opens the archive named by the first argument after the program's own, if any.
  void openArguments(const QStringList& arguments);
  // Decodes the selected row's texture and shows it, as a double-click or Enter on the list
  // does; nothing happens while no row is selected.
  void showSelectedRow();
  // Brings a view to the front, as a click on its switch does.
  void setView(TextureView::Mode mode);

  // ---- What the window shows --------------------------------------------------------------
  const Archive* archive() const { return archive_ ? &*archive_ : nullptr; }
  // The archive chosen last, kept by Release and by an Open that was refused; "" while the
  // archive shown is a new one not saved yet.
  const std::string& archivePath() const { return archivePath_; }
  QListView* entryList() const { return list_; }
  TextureView* textureView() const { return view_; }
  QScrollArea* viewArea() const { return viewArea_; }
  QString statusText() const;
  // The selected texture's details in the status bar ("" while no row is selected).
  QString detailsText() const;

  // Replaces how the help page is opened: the opener gets the page's full path. An empty
  // function restores the desktop's viewer. Returns the opener installed before.
  using HelpOpener = std::function<void(const std::string& page)>;
  static HelpOpener SetHelpOpener(HelpOpener opener);

 signals:
  // The thumbnail size chosen in Preferences (or remembered), in pixels a side.
  void thumbnailSizeChanged(int pixels);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  // ---- Handlers -------------------------------------------------------------------------
  void newArchive();
  void openArchive();
  void releaseArchive();
  bool saveArchive();    // true when the archive was written
  bool saveArchiveAs();  // the same, to a path asked for, which the window then works on
  void extractPvr();
  void exportTexturePack();
  void newArchiveFromPack();
  void updateFromPack();
  void addTextures();
  void removeEntry();
  void renameEntry();
  void moveEntry(int step);  // -1 up, +1 down
  void editProperties();
  void showAbout();
  void exportTexture();
  void importTexture();
  void exportAll(BatchFiles::FileFormat format);
  void importAll(BatchFiles::FileFormat format);
  void showHelp();
  void showPreferences();
  // The shown texture goes to an image editor as a PNG, and each save comes back in
  // through importIntoSelected, until another texture is picked, the archive goes, or
  // stopEditing.
  void editExternally();
  void stopEditing();
  // Zoom runs from fit-to-view through 1:1 up to 8x. In and out step between fit-to-view
  // and the whole-number scales; fit-to-view follows the view's size and the texture.
  void zoomIn();
  void zoomOut();
  void zoomActualSize();
  void zoomToFit();

  // ---- Steps they share -----------------------------------------------------------------
  void buildControls();
  void buildActions();
  void layOutControls();
  void applyZoom();
  void updateTitle();
  void updateDetails();
  // Lets go of the open archive: an empty list, "No File Loaded", no row shown.
  void dropArchive();
  // Shows an archive made here (New, a texture pack) in place of the open one, untitled.
  void showNewArchive(Archive archive, bool unsaved);
  void openTexturePack(const std::string& path);
  // The archive's file name, or "Untitled" before its first save.
  std::string archiveName() const;
  // Selects the row (and makes it current), showing it when a row was shown before.
  void selectRow(size_t row);
  // The selected row, or nullopt after saying that a row must be chosen first.
  std::optional<size_t> rowToChange();
  // Asks before a file is replaced; true when it does not exist or the user agreed.
  bool confirmReplacing(const std::string& path);
  // Asks, when there are unsaved changes, whether to save them first. True when the caller
  // may go on and drop the archive: nothing to lose, Discard, or a save that went through.
  bool confirmDroppingChanges();
  // The selected row, nullopt when none is.
  std::optional<size_t> selectedRow() const;
  // The selected row's entry when a row was shown since the archive was opened, as Import
  // and Export need; else says so and gives nullptr.
  Archive::Entry* entryToImportOrExport();
  // Says so and returns true when the codec cannot encode the entry's texture, so that no
  // file is asked for in vain.
  bool refuseImportWithoutCodec(const Archive::Entry& entry);
  // True when the picture went in. sizeAnswer, when given, answers the size question once
  // it holds an answer, and keeps the answer the user gives. A palettized texture takes the
  // picture through `colours`, else through the palette its archive finds for it.
  bool importIntoSelected(const std::string& image, const std::string& mask,
                          std::optional<BatchFiles::SizeChoice>* sizeAnswer = nullptr,
                          const BankColours* colours = nullptr);
  void importDroppedPicture(const std::string& path);
  // A loaded archive's folder chosen for a batch; "" when there is no archive or no folder.
  std::string chooseBatchFolder(const std::string& title);
  // What the last run left: the window's place, its view and zoom, the preferences.
  void restoreSettings();
  void applyPreferences(const Settings::Preferences& preferences);
  // Hands the thumbnail size to the list's thumbnails. The list draws none yet, so for now
  // it only emits thumbnailSizeChanged; the setting is stored either way.
  void applyThumbnailSize(int pixels);
  void importExternalSave(const QString& snapshot, QSize pictureSize);
  // The note on the external editing in the status bar; "" hides it.
  void showEditingNote(const QString& note);

  // ---- Palettes (MainWindowPalettes.cpp) -----------------------------------------------
  // Texture > Palette...: a .pvp and its bank for this archive's palettized textures,
  // remembered by the archive's path while the window lives.
  void choosePalette();
  // Where this archive's palettized textures find their palettes (PaletteLookup).
  PaletteLookup paletteLookup() const;
  // The palette of a row's texture (an empty Found for one that is not palettized); nullopt
  // when its palette file is refused, after showing why when `tell`.
  std::optional<PaletteLookup::Found> paletteOfRow(size_t row, bool tell) const;
  // Import's "Build a new palette": a palette made from the picture, saved where the user
  // says, the picture imported through it, and the palette chosen for this archive.
  void importThroughNewPalette(const std::string& image, const std::string& mask);

  std::map<std::string, PaletteLookup::Choice> paletteChoices_;  // by archive path
  std::optional<Archive> archive_;
  std::string archivePath_;
  std::string dialogFolder_;  // where every file dialog starts
  std::string dataFolder_;
  bool rowShown_ = false;     // a row was shown since the archive was opened or released
  bool fitToView_ = false;    // fit-to-view, else zoom_ screen pixels per texel
  int zoom_ = 1;

  ArchiveModel* model_ = nullptr;
  QListView* list_ = nullptr;
  QLabel* status_ = nullptr;
  QLabel* viewCaption_ = nullptr;
  std::array<QLabel*, 3> viewSwitch_{};  // Image, Mask, Alpha
  QScrollArea* viewArea_ = nullptr;
  TextureView* view_ = nullptr;
  QLabel* details_ = nullptr;
  QMenu* textureMenu_ = nullptr;  // Import, Export and the editing, on the view's right button
  QLabel* editingNote_ = nullptr;
  ExternalEditor* editor_ = nullptr;
  QPersistentModelIndex editedRow_;  // the entry the editor's saves go into
  QAction* stopEditing_ = nullptr;  // available while a texture is being edited
  std::unique_ptr<RecentFiles> recent_;
};
