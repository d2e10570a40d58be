// The main window: layout, start-up, showing a texture, the view switch, the popup menu
// and closing.
#include <QAction>
#include <QLabel>
#include <QMenuBar>
#include <QMouseEvent>
#include <QTest>

#include "AppTestSupport.h"

namespace apptest {
namespace {

using WindowLayout = EditorTest;

TEST_F(WindowLayout, ControlsSitWhereTheyBelong) {
  EXPECT_EQ(form->centralWidget()->size(), QSize(610, 427));
  EXPECT_EQ(form->windowTitle(), "Quarnel");
  EXPECT_EQ(form->List1->geometry(), QRect(8, 32, 137, 264));
  EXPECT_EQ(form->Label1->geometry(), QRect(8, 16, 113, 17));
  auto inClient = [this](QWidget* w) {
    return QRect(w->mapTo(form->centralWidget(), QPoint(0, 0)), w->size());
  };
  EXPECT_EQ(inClient(form->Picture1[0]), QRect(152, 40, 449, 150));
  EXPECT_EQ(form->Label2->geometry(), QRect(152, 16, 33, 17));
  EXPECT_EQ(form->lblV[0]->geometry(), QRect(192, 16, 65, 17));
  EXPECT_EQ(form->lblV[1]->geometry(), QRect(264, 16, 65, 17));
  EXPECT_EQ(inClient(form->Picture1[1]), QRect(152, 40, 449, 150));
  EXPECT_EQ(form->lblV[2]->geometry(), QRect(336, 16, 65, 17));
  EXPECT_EQ(form->List1->toolTip(), "WAV data sets embedded in te DAT file");
  EXPECT_EQ(form->Label1->text(), "No File Loaded");
  EXPECT_EQ(form->Label2->text(), "View:");
  EXPECT_EQ(form->lblV[0]->text(), "Image");
  EXPECT_EQ(form->lblV[1]->text(), "Mask");
  EXPECT_EQ(form->lblV[2]->text(), "Alpha");
}

TEST_F(WindowLayout, TabMovesFromTheListToTheViewsInOrder) {
  form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
  form->List1->setFocus(Qt::TabFocusReason);
  // The labels between them take no focus.
  const std::vector<QWidget*> expected = {form->Picture1[0], form->Picture1[1], form->List1};
  for (QWidget* next : expected) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), next);
  }
}

TEST_F(WindowLayout, MenuBarHoldsFileAndHelpButNeverHide) {
  const QList<QAction*> bar = form->menuBar()->actions();
  ASSERT_EQ(bar.size(), 3);
  EXPECT_EQ(bar[0]->text(), "&File");
  EXPECT_EQ(bar[1]->menu(), form->mnuView);
  EXPECT_EQ(bar[2], form->mnuHelp);
  EXPECT_EQ(form->mnuHelp->text(), "&Help");
  EXPECT_EQ(form->mnuHelp->menu(), nullptr);

  const QList<QAction*> file = form->mnuFile->actions();
  ASSERT_EQ(file.size(), 10);
  EXPECT_EQ(file[0]->text(), "&Open");
  EXPECT_EQ(file[0]->shortcut(), QKeySequence("Ctrl+O"));
  EXPECT_EQ(file[1]->text(), "&Release");
  EXPECT_EQ(file[1]->shortcut(), QKeySequence("Ctrl+R"));
  EXPECT_EQ(file[2]->text(), "&Save");
  EXPECT_EQ(file[2]->shortcut(), QKeySequence("Ctrl+S"));
  EXPECT_TRUE(file[3]->isSeparator());
  EXPECT_EQ(file[4], form->mnuExportAll);
  EXPECT_EQ(file[5], form->mnuExportAllPng);
  EXPECT_EQ(file[6], form->mnuImportAll);
  EXPECT_EQ(file[7], form->mnuImportAllPng);
  EXPECT_TRUE(file[8]->isSeparator());
  EXPECT_EQ(file[9]->text(), "E&xit");

  EXPECT_EQ(form->mnuHide->title(), "Hide!");
  const QList<QAction*> hide = form->mnuHide->actions();
  ASSERT_EQ(hide.size(), 2);
  EXPECT_EQ(hide[0]->text(), "&Import...");
  EXPECT_EQ(hide[1]->text(), "&Export...");
}

TEST_F(WindowLayout, StartsEmptyWithTheImageViewInFront) {
  EXPECT_EQ(form->List1->count(), 0);
  EXPECT_EQ(form->TextureSelected, 0);
  ASSERT_EQ(ParseFuncts::Textures.size(), 1u);
  EXPECT_EQ(ParseFuncts::Textures[0], nullptr);
  EXPECT_TRUE(form->ImageViewCurrent());
  EXPECT_EQ(form->lblV[0]->palette().color(form->lblV[0]->backgroundRole()), QColor(Qt::white));
  EXPECT_EQ(form->lblV[1]->palette().color(form->lblV[1]->backgroundRole()),
            form->palette().color(QPalette::Window));
  EXPECT_EQ(WidgetAt(300, 100), form->Picture1[0]);
  EXPECT_EQ(form->ArchiveFolder, form->DataFolder);
  EXPECT_EQ(form->ProgramFolder, QCoreApplication::applicationDirPath().toStdString());
}

TEST_F(WindowLayout, StartingPictureIsAGreyFrameAroundNoImage) {
  const QImage& picture = form->Picture1[0]->Image();
  ASSERT_EQ(picture.size(), QSize(449, 150));
  const QRgb grey = qRgb(192, 192, 192);
  EXPECT_EQ(picture.pixel(0, 0), grey);
  EXPECT_EQ(picture.pixel(11, 75), grey);
  EXPECT_EQ(picture.pixel(448, 149), grey);
  EXPECT_EQ(picture.pixel(437, 138), grey);
  EXPECT_EQ(picture.pixel(12, 12), qRgb(255, 255, 255));
  EXPECT_EQ(picture.pixel(436, 137), qRgb(255, 255, 255));

  // The words: grey-ish pixels inside the white field, centred, capitals about 21 high.
  QRect ink;
  for (int y = 12; y < 138; ++y)
    for (int x = 12; x < 437; ++x)
      if (qRed(picture.pixel(x, y)) < 240) ink |= QRect(x, y, 1, 1);
  ASSERT_FALSE(ink.isEmpty());
  EXPECT_NEAR(ink.center().x(), 224, 3);
  EXPECT_GE(ink.height(), 21);  // capitals, plus the tail of the g
  EXPECT_LE(ink.height(), 34);
  EXPECT_GT(ink.width(), 100);
  EXPECT_EQ(form->Picture1[1]->Image(), picture);
}

using ShowingTextures = EditorTest;

TEST_F(ShowingTextures, DoubleClickShowsTheRowInBothViewsAtItsSize) {
  Open(WriteArchive("two.pvm", {HalfRedHalfGreen("wide", 16, 8), Plain("small", 1, 4, 4, 0x001F),
                                Plain("third", 1, 8, 8, 0xFFFF)}));
  ASSERT_EQ(ListRows(), (std::vector<std::string>{"wide", "small", "third"}));
  EXPECT_EQ(form->ListIndex(), -1);

  QApplication::processEvents();  // lets the list lay its rows out
  QListWidgetItem* item = form->List1->item(0);
  const QRect rect = form->List1->visualItemRect(item);
  // Press, release, then the double-click event and its release, as a window system sends
  // them (QTest's own double-click does not reach item views here).
  QWidget* viewport = form->List1->viewport();
  QTest::mouseClick(viewport, Qt::LeftButton, {}, rect.center());
  QMouseEvent dbl(QEvent::MouseButtonDblClick, rect.center(), viewport->mapToGlobal(rect.center()),
                  Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(viewport, &dbl);
  QTest::mouseRelease(viewport, Qt::LeftButton, {}, rect.center());

  EXPECT_EQ(form->ListIndex(), 0);
  EXPECT_EQ(form->TextureSelected, -1);
  for (int mode = 0; mode < 2; ++mode) {
    EXPECT_EQ(form->Picture1[mode]->size(), QSize(16, 8));
    EXPECT_EQ(form->Picture1[mode]->Image().size(), QSize(16, 8));
  }
  EXPECT_EQ(form->Picture1[0]->Image().pixel(0, 0), qRgb(248, 0, 0));
  EXPECT_EQ(form->Picture1[0]->Image().pixel(15, 7), qRgb(0, 248, 0));
  EXPECT_EQ(form->Picture1[1]->Image().pixel(0, 0), qRgb(255, 0, 0));
  EXPECT_EQ(form->Picture1[1]->Image().pixel(15, 7), qRgb(0, 0, 0));
}

TEST_F(ShowingTextures, EnterShowsArrowKeysOnlyMove) {
  Open(WriteArchive("a.pvm", {Plain("blue", 1, 8, 4, 0x001F), Plain("white", 1, 4, 8, 0xFFFF),
                              Plain("black", 1, 8, 8, 0x0000)}));
  form->activateWindow();
  form->List1->setFocus(Qt::TabFocusReason);
  // Gaining the focus picks no row.
  EXPECT_EQ(form->ListIndex(), -1);
  QTest::keyClick(form->List1, Qt::Key_Return);
  EXPECT_EQ(form->TextureSelected, 0);

  QTest::keyClick(form->List1, Qt::Key_Down);
  QTest::keyClick(form->List1, Qt::Key_Down);
  EXPECT_EQ(form->ListIndex(), 1);
  EXPECT_EQ(form->TextureSelected, 0);
  EXPECT_EQ(form->Picture1[0]->Image(), PictureBox::StartingPicture());

  QTest::keyClick(form->List1, Qt::Key_Return);
  EXPECT_EQ(form->TextureSelected, -1);
  EXPECT_EQ(form->Picture1[0]->size(), QSize(4, 8));
  EXPECT_EQ(form->Picture1[0]->Image().pixel(2, 5), qRgb(248, 252, 248));

  // Moving on shows nothing new; the views keep the texture shown.
  QTest::keyClick(form->List1, Qt::Key_Down);
  EXPECT_EQ(form->ListIndex(), 2);
  EXPECT_EQ(form->Picture1[0]->size(), QSize(4, 8));
  QTest::keyClick(form->List1, Qt::Key_Enter);
  EXPECT_EQ(form->Picture1[0]->size(), QSize(8, 8));
  EXPECT_EQ(form->Picture1[0]->Image().pixel(2, 5), qRgb(0, 0, 0));
}

TEST_F(ShowingTextures, NothingSelectedMeansNothingHappens) {
  form->List1_DblClick();
  form->List1_KeyPress(13);
  EXPECT_EQ(form->TextureSelected, 0);
  Open(WriteArchive("a.pvm", {Plain("one", 1, 8, 8, 0x001F)}));
  form->List1_DblClick();
  EXPECT_EQ(form->TextureSelected, 0);
  EXPECT_EQ(form->Picture1[0]->size(), QSize(449, 150));
  SelectRow(0);
  form->List1_KeyPress('a');
  EXPECT_EQ(form->TextureSelected, 0);
}

TEST_F(ShowingTextures, GrabbedWindowShowsTheDecodedTextureInBothViews) {
  // Twiddled ARGB4444: every texel different, alpha varying, so a mistake in texel order,
  // channel order, row order or placement changes some pixel.
  const uint16_t side = 16;
  archive_builder::Entry entry{"tw4444", 2, 1, side, side,
                         TexelsOf(side * side, [](size_t n) {
                           return uint16_t((n % 16) << 12 | (n / 16) << 8 | (15 - n % 16) << 4 |
                                           (n * 7) % 16);
                         })};
  Open(WriteArchive("g.pvm", {entry}));
  ShowRow(0);
  const cPVR* texture = TextureOfRow(0);
  ASSERT_EQ(texture->Width(), side);

  const QPoint origin = form->Picture1[0]->mapTo(form->centralWidget(), QPoint(0, 0));
  QImage shot = form->centralWidget()->grab().toImage();
  for (int y = 0; y < side; ++y)
    for (int x = 0; x < side; ++x) {
      uint8_t r = 0, g = 0, b = 0, a = 0;
      texture->GetPixel(x, y, r, g, b, a);
      ASSERT_EQ(QColor(shot.pixel(origin + QPoint(x, y))), QColor(r, g, b)) << x << "," << y;
    }
  // Texel 0 sits top-left, texel 1 below it, texel 2 right of it (twiddled order).
  EXPECT_EQ(QColor(shot.pixel(origin)), QColor(0, 240, 0));
  EXPECT_EQ(QColor(shot.pixel(origin + QPoint(0, 1))), QColor(0, 224, 112));
  EXPECT_EQ(QColor(shot.pixel(origin + QPoint(1, 0))), QColor(0, 208, 224));
  // Right of the texture is the window, not the picture.
  EXPECT_NE(QColor(shot.pixel(origin + QPoint(side + 2, 2))), QColor(shot.pixel(origin + QPoint(side - 1, 2))));

  form->lblV_Click(1);
  shot = form->centralWidget()->grab().toImage();
  for (int y = 0; y < side; ++y)
    for (int x = 0; x < side; ++x) {
      uint8_t r = 0, g = 0, b = 0, a = 0;
      texture->GetPixel(x, y, r, g, b, a);
      ASSERT_EQ(QColor(shot.pixel(origin + QPoint(x, y))), QColor(a, 0, 0)) << x << "," << y;
    }
  EXPECT_EQ(QColor(shot.pixel(origin + QPoint(0, 1))), QColor(16, 0, 0));
  EXPECT_EQ(QColor(shot.pixel(origin + QPoint(1, 0))), QColor(32, 0, 0));
}

TEST_F(ShowingTextures, AnUndecodableTextureLeavesTheStartingPicture) {
  // 2048 x 2048 claimed over 8 texels: more than its data can justify.
  Open(WriteArchive("bad.pvm", {{"short", 1, 9, 2048, 2048, Texels({1, 2, 3, 4, 5, 6, 7, 8})},
                                Plain("fine", 1, 8, 8, 0xF800)}));
  ShowRow(1);
  ASSERT_EQ(form->Picture1[0]->size(), QSize(8, 8));
  ShowRow(0);
  EXPECT_EQ(form->TextureSelected, -1);
  EXPECT_EQ(form->Picture1[0]->size(), QSize(8, 8));
  EXPECT_EQ(form->Picture1[0]->Image(), PictureBox::StartingPicture().copy(0, 0, 8, 8));
  EXPECT_EQ(form->Picture1[1]->Image(), PictureBox::StartingPicture().copy(0, 0, 8, 8));
}

using ViewSwitch = EditorTest;

TEST_F(ViewSwitch, LabelsHighlightAndBringTheirViewToFront) {
  QTest::mouseClick(form->lblV[1], Qt::LeftButton);
  EXPECT_FALSE(form->ImageViewCurrent());
  EXPECT_EQ(form->lblV[1]->palette().color(form->lblV[1]->backgroundRole()), QColor(Qt::white));
  EXPECT_EQ(form->lblV[0]->palette().color(form->lblV[0]->backgroundRole()),
            form->palette().color(QPalette::Window));
  EXPECT_EQ(WidgetAt(300, 100), form->Picture1[1]);

  form->lblV_Click(1);  // again: no change
  EXPECT_FALSE(form->ImageViewCurrent());
  EXPECT_EQ(WidgetAt(300, 100), form->Picture1[1]);

  QTest::mouseClick(form->lblV[0], Qt::LeftButton);
  EXPECT_TRUE(form->ImageViewCurrent());
  EXPECT_EQ(WidgetAt(300, 100), form->Picture1[0]);
}

TEST_F(ViewSwitch, ANewOpenKeepsTheCurrentView) {
  const std::string first = WriteArchive("a.pvm", {Plain("a", 0, 8, 8, 0x801F)});
  const std::string second = WriteArchive("b.pvm", {Plain("b", 0, 8, 8, 0xFC00)});
  Open(first);
  form->lblV_Click(1);
  Open(second);
  EXPECT_FALSE(form->ImageViewCurrent());
  ShowRow(0);
  EXPECT_EQ(WidgetAt(155, 43), form->Picture1[1]);
  EXPECT_EQ(form->Picture1[1]->Image().pixel(3, 3), qRgb(255, 0, 0));
}

using PopupMenu = EditorTest;

TEST_F(PopupMenu, RightButtonReleaseOverAViewShowsImportAndExport) {
  QTest::mouseClick(form->Picture1[0], Qt::LeftButton);
  EXPECT_FALSE(form->mnuHide->isVisible());
  QTest::mouseClick(form->Picture1[0], Qt::RightButton);
  EXPECT_TRUE(form->mnuHide->isVisible());
  form->mnuHide->hide();

  form->Picture1_MouseUp(1, 4);
  EXPECT_FALSE(form->mnuHide->isVisible());
  form->Picture1_MouseUp(1, 2);
  EXPECT_TRUE(form->mnuHide->isVisible());
  // With nothing open, Export from the popup warns and Import does nothing.
  form->mnuExport->trigger();
  form->mnuHide->hide();
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].text, "Please select a texture before Importing/Exporting");
  form->mnuImport->trigger();
  EXPECT_EQ(messages.shown.size(), 1u);
  EXPECT_TRUE(dialogs.requests.empty());
}

using Closing = EditorTest;

TEST_F(Closing, ExitReleasesTheArchiveWithoutAsking) {
  Open(WriteArchive("a.pvm", {Plain("a", 1, 8, 8, 0x1234)}));
  ShowRow(0);
  form->mnuExit_Click();
  EXPECT_FALSE(form->isVisible());
  EXPECT_EQ(form->List1->count(), 0);
  EXPECT_EQ(form->Label1->text(), "No File Loaded");
  EXPECT_EQ(form->TextureSelected, 0);
  EXPECT_FALSE(ParseFuncts::ArchiveLoaded());
  EXPECT_TRUE(messages.shown.empty());
}

TEST_F(Closing, CloseBoxDoesTheSame) {
  Open(WriteArchive("a.pvm", {Plain("a", 1, 8, 8, 0x1234)}));
  EXPECT_TRUE(form->close());
  EXPECT_FALSE(ParseFuncts::ArchiveLoaded());
  EXPECT_EQ(form->List1->count(), 0);
}

}  // namespace
}  // namespace apptest
