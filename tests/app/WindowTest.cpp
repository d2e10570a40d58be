// The main window: layout, menus, showing a texture in its three views, zoom, the view's
// popup menu and closing.
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QScrollArea>
#include <QWheelEvent>

#include "AppTestSupport.h"

namespace apptest {
namespace {

using Mode = TextureView::Mode;

class Window : public EditorTest {
 protected:
  QLabel* Label(const char* text) const {
    for (QLabel* label : window->findChildren<QLabel*>())
      if (label->text() == text) return label;
    ADD_FAILURE() << "no label " << text;
    return nullptr;
  }
  QRect InClient(QWidget* w) const { return QRect(w->mapTo(window->centralWidget(), QPoint(0, 0)), w->size()); }
  QColor Background(QLabel* label) const { return label->palette().color(label->backgroundRole()); }
  void ClickView(const char* caption) { QTest::mouseClick(Label(caption), Qt::LeftButton); }
};

TEST_F(Window, ControlsSitWhereTheyBelongAndGrowWithTheWindow) {
  EXPECT_EQ(window->centralWidget()->size(), QSize(769, 427));
  EXPECT_EQ(window->windowTitle(), "Quarnel");
  // The filter above the list, as high as the style makes a line edit; the list below it.
  const int filterHeight = window->entryFilter()->sizeHint().height();
  EXPECT_EQ(window->entryFilter()->geometry(), QRect(8, 32, 296, filterHeight));
  EXPECT_EQ(window->entryList()->geometry(), QRect(8, 36 + filterHeight, 296, 383 - filterHeight));
  EXPECT_EQ(window->entryList()->toolTip(), "WAV data sets embedded in te DAT file");
  EXPECT_EQ(window->statusText(), "No File Loaded");
  EXPECT_EQ(Label("No File Loaded")->geometry(), QRect(8, 16, 113, 17));
  EXPECT_EQ(Label("View:")->geometry(), QRect(311, 16, 33, 17));
  EXPECT_EQ(Label("Image")->geometry(), QRect(351, 16, 65, 17));
  EXPECT_EQ(Label("Mask")->geometry(), QRect(423, 16, 65, 17));
  EXPECT_EQ(Label("Alpha")->geometry(), QRect(495, 16, 65, 17));
  EXPECT_EQ(InClient(window->textureView()), QRect(311, 40, 449, 150));

  const QSize classic = window->size();
  EXPECT_EQ(window->minimumSize(), classic);
  window->resize(classic + QSize(200, 100));
  QApplication::processEvents();
  EXPECT_EQ(window->entryList()->height(), 483 - filterHeight);
  EXPECT_EQ(window->viewArea()->size(), QSize(658, 487));
}

TEST_F(Window, StartsEmptyShowingAGreyFrameAroundNoImage) {
  EXPECT_TRUE(Drive().Rows().empty());
  EXPECT_EQ(window->textureView()->mode(), Mode::Image);
  EXPECT_EQ(Background(Label("Image")), QColor(Qt::white));
  EXPECT_EQ(Background(Label("Mask")), window->palette().color(QPalette::Window));
  const QImage picture = Drive().Grab();
  ASSERT_EQ(picture.size(), QSize(449, 150));
  const QRgb grey = qRgb(192, 192, 192);
  for (QPoint frame : {QPoint(0, 0), QPoint(11, 75), QPoint(448, 149), QPoint(437, 138)})
    EXPECT_EQ(picture.pixel(frame), grey);
  EXPECT_EQ(picture.pixel(12, 12), qRgb(255, 255, 255));
  EXPECT_EQ(picture.pixel(436, 137), qRgb(255, 255, 255));
  // The words: grey-ish pixels inside the white field, centred, capitals about 21 high.
  QRect ink;
  for (int y = 12; y < 138; ++y)
    for (int x = 12; x < 437; ++x)
      if (qRed(picture.pixel(x, y)) < 240) ink |= QRect(x, y, 1, 1);
  EXPECT_NEAR(ink.center().x(), 224, 3);
  EXPECT_GE(ink.height(), 21);  // capitals, plus the tail of the g
  EXPECT_LE(ink.height(), 34);
  EXPECT_GT(ink.width(), 100);
  // The first Open starts where the sample lies.
  Run("openArchive");
  EXPECT_EQ(dialogRequests.at(0).initialDir, dataFolder());
}

TEST_F(Window, TabMovesBetweenTheListAndTheView) {
  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  window->entryList()->setFocus(Qt::TabFocusReason);
  for (QWidget* next : {static_cast<QWidget*>(window->textureView()), static_cast<QWidget*>(window->entryFilter()),
                        static_cast<QWidget*>(window->entryList())}) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), next);
  }
}

TEST_F(Window, MenusHoldEveryCommandWithItsShortcut) {
  const QList<QAction*> bar = window->menuBar()->actions();
  ASSERT_EQ(bar.size(), 5);
  EXPECT_EQ(bar[0]->text(), "&File");
  EXPECT_EQ(bar[1]->text(), "&Edit");
  EXPECT_EQ(bar[2]->text(), "&Texture");
  EXPECT_EQ(bar[3]->text(), "&View");
  EXPECT_EQ(bar[4]->text(), "&Help");

  struct Item {
    const char* text;  // nullptr: a separator
    const char* shortcut;
  };
  const std::vector<std::vector<Item>> menus = {
      {{"&New", "Ctrl+N"}, {"&Open", "Ctrl+O"}, {"Open Re&cent", ""}, {"&Release", "Ctrl+R"}, {"&Save", "Ctrl+S"},
       {"Sa&ve As...", "Ctrl+Shift+S"}, {nullptr, ""}, {"Extract .p&vr...", ""}, {"Export &all...", ""},
       {"Export all as &PNG...", ""}, {"Import a&ll...", ""}, {"Import all from P&NG...", ""}, {nullptr, ""},
       {"Export as &texture pack...", ""}, {"New archive from texture pac&k...", ""},
       {"&Update from texture pack...", ""}, {nullptr, ""}, {"E&xit", ""}},
      {{"Undo", "Ctrl+Z"}, {"Redo", "Ctrl+Shift+Z"}, {nullptr, ""}, {"&Copy", "Ctrl+C"}, {"&Paste", "Ctrl+V"},
       {nullptr, ""}, {"&Add textures...", "Ctrl+Shift+A"}, {"Re&move", "Del"}, {"Re&name...", "F2"},
       {"Move &Up", "Ctrl+Up"}, {"Move &Down", "Ctrl+Down"}, {nullptr, ""}, {"&Properties...", "Alt+Return"},
       {nullptr, ""}, {"Pre&ferences...", ""}},
      {{"&Import...", ""}, {"&Export...", ""}, {nullptr, ""}, {"Edit in Image E&ditor", "Ctrl+E"},
       {"&Stop Editing", ""}, {nullptr, ""}, {"&Palette...", ""}},
      {{"Zoom &In", "Ctrl++"}, {"Zoom &Out", "Ctrl+-"}, {"&Actual Size", "Ctrl+0"}, {"&Fit to View", ""},
       {nullptr, ""}, {"&Before/After Import", "\\"}, {"As &List", ""}, {"As &Grid", ""}},
      {{"&Help", "F1"}, {"&About Quarnel", ""}}};
  for (size_t m = 0; m < menus.size(); ++m) {
    const QList<QAction*> actions = bar[qsizetype(m)]->menu()->actions();
    ASSERT_EQ(size_t(actions.size()), menus[m].size());
    for (size_t i = 0; i < menus[m].size(); ++i) {
      SCOPED_TRACE(actions[qsizetype(i)]->text().toStdString());
      EXPECT_EQ(actions[qsizetype(i)]->isSeparator(), menus[m][i].text == nullptr);
      if (menus[m][i].text == nullptr) continue;
      EXPECT_EQ(actions[qsizetype(i)]->text(), menus[m][i].text);
      EXPECT_EQ(actions[qsizetype(i)]->shortcut(), QKeySequence(menus[m][i].shortcut));
    }
  }
  EXPECT_TRUE(window->findChild<QAction*>("zoomIn")->shortcuts().contains(QKeySequence("Ctrl+=")));
  EXPECT_TRUE(window->findChild<QAction*>("redo")->shortcuts().contains(QKeySequence("Ctrl+Y")));
}

TEST_F(Window, RightButtonOverTheViewOffersImportAndExport) {
  auto* menu = window->findChild<QMenu*>();
  ASSERT_NE(menu, nullptr);
  QTest::mouseClick(window->textureView(), Qt::LeftButton);
  EXPECT_FALSE(menu->isVisible());
  QTest::mouseClick(window->textureView(), Qt::RightButton);
  ASSERT_TRUE(menu->isVisible());
  ASSERT_EQ(menu->actions().size(), 5);
  EXPECT_EQ(menu->actions()[0]->text(), "&Import...");
  EXPECT_EQ(menu->actions()[1]->text(), "&Export...");
  EXPECT_EQ(menu->actions()[3]->text(), "Edit in Image E&ditor");
  EXPECT_FALSE(menu->actions()[4]->isEnabled());  // Stop Editing, with nothing edited
  // With nothing open, Export warns and Import does nothing.
  menu->actions()[1]->trigger();
  menu->actions()[0]->trigger();
  menu->hide();
  EXPECT_EQ(messages.Texts(), std::vector<std::string>{"Please select a texture before Importing/Exporting"});
  EXPECT_TRUE(dialogRequests.empty());
}

TEST_F(Window, DoubleClickShowsTheRowInEveryView) {
  Open(WriteArchive("two.pvm", {HalfRedHalfGreen("halves", 16, 16), Plain("small", 1, 4, 4, 0x001F)}));
  ASSERT_EQ(Drive().Rows(), (std::vector<std::string>{"halves", "small"}));
  EXPECT_EQ(Drive().SelectedRow(), -1);

  QApplication::processEvents();  // lets the list lay its rows out
  const QRect rect = window->entryList()->visualRect(window->entryList()->model()->index(0, 0));
  // Press, release, then the double-click event and its release, as a window system sends
  // them (QTest's own double-click does not reach item views here).
  QWidget* viewport = window->entryList()->viewport();
  QTest::mouseClick(viewport, Qt::LeftButton, {}, rect.center());
  QMouseEvent dbl(QEvent::MouseButtonDblClick, rect.center(), viewport->mapToGlobal(rect.center()),
                  Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(viewport, &dbl);
  QTest::mouseRelease(viewport, Qt::LeftButton, {}, rect.center());

  EXPECT_EQ(Drive().SelectedRow(), 0);
  // Image, then mask (alpha in red), then alpha over the checkerboard.
  const std::vector<std::pair<const char*, std::array<QRgb, 3>>> views = {
      {"Image", {qRgb(248, 0, 0), qRgb(0, 248, 0), qRgb(0, 248, 0)}},
      {"Mask", {qRgb(255, 0, 0), qRgb(0, 0, 0), qRgb(0, 0, 0)}},
      {"Alpha", {qRgb(248, 0, 0), qRgb(192, 192, 192), qRgb(255, 255, 255)}}};
  for (const auto& [caption, expected] : views) {
    SCOPED_TRACE(caption);
    ClickView(caption);
    EXPECT_EQ(Background(Label(caption)), QColor(Qt::white));
    EXPECT_EQ(window->textureView()->size(), QSize(16, 16));
    const QImage shot = Drive().Grab();
    EXPECT_EQ(shot.pixel(2, 2), expected[0]);
    EXPECT_EQ(shot.pixel(10, 2), expected[1]);  // transparent: the grey checker cell
    EXPECT_EQ(shot.pixel(10, 10), expected[2]);  // and the white one
  }
  // A new archive keeps the view chosen.
  Open(WriteArchive("b.pvm", {Plain("b", 0, 8, 8, 0xFC00)}));
  Drive().ShowRow(0);
  EXPECT_EQ(window->textureView()->mode(), Mode::Alpha);
}

TEST_F(Window, ArrowKeysShowTheRowTheyReachAndEnterShowsItAgain) {
  Open(WriteArchive("a.pvm", {Plain("blue", 1, 8, 4, 0x001F), Plain("white", 1, 4, 8, 0xFFFF),
                              Plain("black", 1, 8, 8, 0x0000)}));
  window->activateWindow();
  window->entryList()->setFocus(Qt::TabFocusReason);
  // Gaining the focus picks no row, so Enter shows nothing.
  EXPECT_EQ(Drive().SelectedRow(), -1);
  QTest::keyClick(window->entryList(), Qt::Key_Return);
  EXPECT_EQ(Drive().ShownSize(), QSize(449, 150));

  QTest::keyClick(window->entryList(), Qt::Key_Down);
  EXPECT_EQ(Drive().ShownSize(), QSize(8, 4));
  QTest::keyClick(window->entryList(), Qt::Key_Down);
  EXPECT_EQ(Drive().SelectedRow(), 1);
  EXPECT_EQ(Drive().ShownSize(), QSize(4, 8));
  EXPECT_EQ(Drive().Grab().pixel(2, 5), qRgb(248, 252, 248));

  window->textureView()->showNothing();
  QTest::keyClick(window->entryList(), Qt::Key_Return);
  EXPECT_EQ(Drive().ShownSize(), QSize(4, 8));
  QTest::keyClick(window->entryList(), Qt::Key_Down);
  window->textureView()->showNothing();
  QTest::keyClick(window->entryList(), Qt::Key_Enter);
  EXPECT_EQ(Drive().ShownSize(), QSize(8, 8));
  EXPECT_EQ(Drive().Grab().pixel(2, 5), qRgb(0, 0, 0));
}

TEST_F(Window, TheViewShowsEveryTexelWhereTheCodecPutsIt) {
  // Twiddled ARGB4444: every texel different, alpha varying, so a mistake in texel order,
  // channel order, row order or placement changes some pixel.
  const uint16_t side = 16;
  Open(WriteArchive("g.pvm", {{"tw4444", 2, 1, side, side, TexelsOf(side * side, [](size_t n) {
                                 return uint16_t((n % 16) << 12 | (n / 16) << 8 | (15 - n % 16) << 4 | (n * 7) % 16);
                               })}}));
  Drive().ShowRow(0);
  const std::optional<Image> decoded = window->archive()->Entries()[0].texture.Decode();
  ASSERT_TRUE(decoded);
  for (const char* caption : {"Image", "Mask"}) {
    ClickView(caption);
    const QImage shot = Drive().Grab();
    for (int y = 0; y < side; ++y)
      for (int x = 0; x < side; ++x) {
        const uint8_t* p = decoded->Pixel(x, y);
        const QColor expected = caption[0] == 'I' ? QColor(p[0], p[1], p[2]) : QColor(p[3], 0, 0);
        ASSERT_EQ(QColor(shot.pixel(x, y)), expected) << caption << " " << x << "," << y;
      }
  }
  // Texel 0 sits top-left, texel 1 below it, texel 2 right of it (twiddled order).
  ClickView("Image");
  const QImage shot = Drive().Grab();
  EXPECT_EQ(QColor(shot.pixel(0, 0)), QColor(0, 240, 0));
  EXPECT_EQ(QColor(shot.pixel(0, 1)), QColor(0, 224, 112));
  EXPECT_EQ(QColor(shot.pixel(1, 0)), QColor(0, 208, 224));
}

TEST_F(Window, AnUndecodableTextureShowsTheStartingPicture) {
  // 2048 x 2048 claimed over 8 texels: more than its data can justify.
  Open(WriteArchive("bad.pvm", {{"short", 1, 9, 2048, 2048, Texels({1, 2, 3, 4, 5, 6, 7, 8})},
                                Plain("fine", 1, 8, 8, 0xF800)}));
  Drive().ShowRow(1);
  ASSERT_EQ(Drive().ShownSize(), QSize(8, 8));
  Drive().ShowRow(0);
  EXPECT_EQ(Drive().Shown(), TextureView::StartingPicture());
}

TEST_F(Window, ZoomScalesWithSquarePixels) {
  // 2 x 2 RGB565: red, green / blue, white.
  Open(WriteArchive("z.pvm", {Plain("big", 1, 1024, 1024, 0),
                              {"tiny", 1, 9, 2, 2, Texels({0xF800, 0x07E0, 0x001F, 0xFFFF})}}));
  Drive().ShowRow(1);
  TextureView* view = window->textureView();
  window->activateWindow();
  QTest::keyClick(window.get(), Qt::Key_Plus, Qt::ControlModifier);
  EXPECT_EQ(view->scale(), 2);
  EXPECT_EQ(view->size(), QSize(4, 4));
  const QImage shot = Drive().Grab();
  const QRgb expected[2][2] = {{qRgb(248, 0, 0), qRgb(0, 252, 0)}, {qRgb(0, 0, 248), qRgb(248, 252, 248)}};
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(shot.pixel(x, y), expected[y / 2][x / 2]) << x << "," << y;

  for (int i = 0; i < 10; ++i) QTest::keyClick(window.get(), Qt::Key_Plus, Qt::ControlModifier);
  EXPECT_EQ(view->scale(), 8);
  QTest::keyClick(window.get(), Qt::Key_0, Qt::ControlModifier);
  EXPECT_EQ(view->scale(), 1);
  // Below 1:1 is fit-to-view, which enlarges a small texture by whole steps up to 8x...
  QTest::keyClick(window.get(), Qt::Key_Minus, Qt::ControlModifier);
  EXPECT_EQ(view->scale(), 8);
  // ...and shrinks a large one into the view.
  Drive().ShowRow(0);
  const QSize room = window->viewArea()->size();
  EXPECT_DOUBLE_EQ(view->scale(), std::min(room.width(), room.height()) / 1024.0);
  EXPECT_LE(view->width(), room.width());

  Run("zoomActualSize");
  QWheelEvent wheel(QPointF(5, 5), QPointF(), QPoint(), QPoint(0, 120), Qt::NoButton,
                    Qt::ControlModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(window->viewArea()->viewport(), &wheel);
  EXPECT_EQ(view->scale(), 2);
}

TEST_F(Window, ExitAndTheCloseBoxReleaseTheArchiveWithoutAsking) {
  for (const bool exit : {true, false}) {
    window->show();
    Open(WriteArchive("a.pvm", {Plain("a", 1, 8, 8, 0x1234)}));
    Drive().ShowRow(0);
    if (exit)
      Run("exit");
    else
      EXPECT_TRUE(window->close());
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(window->archive(), nullptr);
    EXPECT_TRUE(Drive().Rows().empty());
    EXPECT_EQ(window->statusText(), "No File Loaded");
    EXPECT_TRUE(messages.shown.empty());
  }
}

}  // namespace
}  // namespace apptest
