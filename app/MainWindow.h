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
#include "texture/PictureFiles.h"
#include "archive/PaletteLookup.h"

class ArchiveEdit;
class ArchiveModel;
class EntryDelegate;
class ExternalEditor;
class RecentFiles;
class QLabel;
class QLineEdit;
class QListView;
class QMenu;
class QScrollArea;
class QUndoStack;
class QSortFilterProxyModel;

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
  // Decodes the selected row's texture and shows it, as selecting a row, a double-click or
  // Enter on the list does; nothing happens while no row is selected.
  void showSelectedRow();
  // Brings a view to the front, as a click on its switch does.
  void setView(TextureView::Mode mode);
  // The side of the grid's thumbnails in pixels, 16 to 256 (others are clamped); the list's
  // are at most 64. 0 lists the names alone and makes no thumbnails.
  void setThumbnailSize(int side);
  int thumbnailSize() const { return thumbnailSize_; }

  // ---- What the window shows --------------------------------------------------------------
  const Archive* archive() const { return archive_ ? &*archive_ : nullptr; }
  // The archive chosen last, kept by Release and by an Open that was refused; "" while the
  // archive shown is a new one not saved yet.
  const std::string& archivePath() const { return archivePath_; }
  // The list's model is a filter over the ArchiveModel: its rows are not the archive's.
  QListView* entryList() const { return list_; }
  QLineEdit* entryFilter() const { return filter_; }
  ArchiveModel* archiveModel() const { return model_; }
  TextureView* textureView() const { return view_; }
  QScrollArea* viewArea() const { return viewArea_; }
  QString statusText() const;
  // The selected texture's details in the status bar ("" while no row is selected).
  QString detailsText() const;
  // What the last import lost, in the status bar: "Imported into NAME: lossless", or its PSNR.
  QString importLossText() const;
  // The edits since the archive was opened; clean where it was opened or last saved.
  const QUndoStack* history() const { return history_; }

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
  void undo();
  void redo();
  // The shown texture's picture onto the clipboard, with its alpha.
  void copyTexture();
  // The clipboard's picture imported into the shown texture, as Import does with a file.
  void pasteTexture();
  // After an import, flips the view between the texture before it and after it, until the
  // next edit.
  void toggleBeforeAfter();

  // ---- Edits ------------------------------------------------------------------------------
  // Every edit of the open archive goes through here, so that it can be undone: any command,
  // and any other code that changes the archive (an image editor's save comes in through
  // importIntoSelected and importPicture, which call this). `edit` makes the change, through
  // the model so that the views follow or else through the core, and tells the step what it
  // changes (ArchiveEdit: keep... before, note... after). It returns false when the change
  // was refused or changed nothing: the step is then dropped. Otherwise the step goes on the
  // undo stack, named `text` ("Rename one" gives "Undo Rename one"), and the stack's clean
  // state is the title's unsaved mark. Returns what `edit` returned.
  bool recordEdit(const QString& text, const std::function<bool(ArchiveEdit& step)>& edit);
  // What the window shows after an undo or redo: the rows anew, the step's row selected.
  void showEditedRow(size_t row);
  // Import, a dropped picture, a paste, an image editor's save: the picture into the selected
  // entry, with the size question for a picture of another size (answered by sizeAnswer as
  // importIntoSelected says); `label` names it there and in notes. A picture that went in is
  // an undo step, what the format lost is said in the status bar, and the Before/After toggle
  // shows the texture before it. A palettized texture takes the picture through `colours`,
  // else through the palette its archive finds for it. True when the picture went in.
  bool importPicture(PictureFiles::Picture picture, const std::string& label,
                     std::optional<BatchFiles::SizeChoice>* sizeAnswer = nullptr,
                     const BankColours* colours = nullptr);
  void endBeforeAfter();
  void showAsList();
  void showAsGrid();

  // ---- Steps they share -----------------------------------------------------------------
  void buildControls();
  void buildActions();
  void layOutControls();
  void applyZoom();
  // Lays the entry list out as a list or a grid, at the thumbnail size asked for.
  void applyEntryLayout();
  void updateTitle();
  void updateDetails();
  // Lets go of the open archive: an empty list, "No File Loaded", no row shown.
  void dropArchive();
  // Shows an archive made here (New, a texture pack) in place of the open one, untitled.
  void showNewArchive(Archive archive, bool unsaved);
  void openTexturePack(const std::string& path);
  // The archive's file name, or "Untitled" before its first save.
  std::string archiveName() const;
  // Selects the archive's row (and makes it current), which shows it; a filter that hides
  // the row is cleared first.
  void selectRow(size_t row);
  // The archive's row that an index of the list stands for, and the list's index of an
  // archive's row (invalid while the filter hides it). Every way from the list's rows to
  // the archive's and back goes through these two.
  std::optional<size_t> archiveRowOf(const QModelIndex& listIndex) const;
  QModelIndex listIndexOf(size_t row) const;
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
  // Hands the thumbnail size to the list (setThumbnailSize) and emits thumbnailSizeChanged;
  // the setting is stored either way.
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
  bool grid_ = false;         // the entries as a grid of thumbnails, else as a list
  int thumbnailSize_ = 128;

  ArchiveModel* model_ = nullptr;
  QSortFilterProxyModel* filtered_ = nullptr;  // model_ narrowed by filter_
  EntryDelegate* delegate_ = nullptr;
  QLineEdit* filter_ = nullptr;
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
  QLabel* importLoss_ = nullptr;
  QUndoStack* history_ = nullptr;
  // The row the last import went into while the toggle can show what it held before.
  std::optional<size_t> comparedRow_;
  bool showingBefore_ = false;
  QString importLossText_;  // what importLoss_ says while the texture after it is shown
};
