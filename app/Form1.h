// The editor's one window: the entry list, the status line, the image and mask views with
// their switch, the menus, and the editor state every command shares. Each command is a
// public handler named after the control and event that run it, so tests can call them as
// the window would.
#pragma once

#include <QListWidget>
#include <QMainWindow>
#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/EditorWindow.h"

class PictureBox;
class QAction;
class QLabel;
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

  // The selected row of List1, -1 when none is selected.
  int16_t ListIndex() const;
  // Whether the image view is the current one: its label is the white one.
  bool ImageViewCurrent() const;

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

  // ---- Controls -------------------------------------------------------------------------
  EntryListBox* List1 = nullptr;
  QLabel* Label1 = nullptr;
  std::array<PictureBox*, 2> Picture1{};  // 0 image view, 1 mask view
  QLabel* Label2 = nullptr;
  std::array<QLabel*, 2> lblV{};          // 0 "Image", 1 "Mask"

  QMenu* mnuFile = nullptr;
  QAction* mnuOpen = nullptr;
  QAction* mnuRelease = nullptr;
  QAction* mnuSave = nullptr;
  QAction* mnuSep01 = nullptr;
  QAction* mnuExit = nullptr;
  QAction* mnuHelp = nullptr;
  QMenu* mnuHide = nullptr;  // never on the menu bar: the views' right-click menu
  QAction* mnuImport = nullptr;
  QAction* mnuExport = nullptr;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildControls();
  void BuildMenus();
  void SetLabelBackground(QLabel* label, const QColor& colour);
  void ShowSelectionWarning();
};
