// What the window offers beyond the classic commands: the question before unsaved work is
// dropped, the title bar, ways to open and import without dialogs, the resizable window,
// zoom, the alpha view and the texture details.
#include <QLabel>
#include <QMimeData>
#include <QProgressDialog>
#include <QTimer>
#include <QScrollArea>
#include <QStatusBar>
#include <QTest>
#include <QUrl>

#include "AppTestSupport.h"

namespace apptest {
namespace {

using platform::Answer;

class EditorFeatures : public EditorTest {
 protected:
  // Opens a two-texture archive and imports a blue BMP into row 0, which changes it.
  std::string OpenAndImport() {
    const std::string archive = WriteArchive("a.pvm", {Plain("one", 1, 4, 4, 0xF800), Plain("two", 1, 4, 4, 0)});
    Open(archive);
    ShowRow(0);
    const std::string bmp = dir.File("blue.bmp");
    WriteBytes(bmp, Bmp24(4, 4, [](int, int) { return QColor(0, 0, 255); }));
    dialogs.answers = {bmp, ""};
    form->mnuImport_Click();
    return archive;
  }

  void Drop(const std::string& path, QPoint at) {
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(path))});
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form.get(), &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form.get(), &drop);
  }

  QPoint OverTheView() const { return form->Views->mapTo(form.get(), QPoint(5, 5)); }
};

TEST_F(EditorFeatures, TitleNamesTheArchiveAndMarksAnImport) {
  const std::string archive = OpenAndImport();
  const std::vector<uint8_t> before = ReadBytes(archive);
  EXPECT_EQ(form->windowTitle(), "a.pvm[*] - Quarnel");
  EXPECT_TRUE(form->isWindowModified());
  form->mnuSave_Click();  // the backup question takes its safe answer, Cancel
  EXPECT_TRUE(form->isWindowModified());
  messages.answers = {Answer::No};
  form->mnuSave_Click();
  EXPECT_FALSE(form->isWindowModified());
  EXPECT_NE(ReadBytes(archive), before);
}

// Each way of dropping the archive, with each answer to the question it asks first.
TEST_F(EditorFeatures, UnsavedChangesAreNeverDroppedWithoutAsking) {
  struct Case {
    const char* action;
    Answer answer;
    bool dropped;  // the archive was let go
    bool saved;    // the file holds the import
  };
  const Case cases[] = {
      {"close", Answer::Cancel, false, false}, {"close", Answer::Discard, true, false},
      {"close", Answer::Save, true, true},     {"release", Answer::Cancel, false, false},
      {"release", Answer::Discard, true, false}, {"release", Answer::Save, true, true},
      {"open", Answer::Cancel, false, false},  {"open", Answer::Discard, true, false},
      {"open", Answer::Save, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.action) + " " + std::to_string(int(c.answer)));
    form->show();
    const std::string archive = OpenAndImport();
    const std::vector<uint8_t> before = ReadBytes(archive);
    const std::string other = WriteArchive("b.pvm", {Plain("other", 1, 4, 4, 0)});
    messages.shown.clear();
    messages.answers = {c.answer, Answer::No};  // No: no backup
    if (std::string(c.action) == "close") form->close();
    if (std::string(c.action) == "release") form->mnuRelease_Click();
    if (std::string(c.action) == "open") Open(other);

    ASSERT_FALSE(messages.shown.empty());
    EXPECT_EQ(messages.shown[0].buttons, platform::Buttons::SaveDiscardCancel);
    EXPECT_EQ(messages.shown[0].text,
              "The textures imported into a.pvm have not been saved.\n\nSave the archive "
              "before it is closed?");
    EXPECT_EQ(form->List1->count() == 2, !c.dropped);
    EXPECT_EQ(form->isWindowModified(), !c.dropped);
    EXPECT_EQ(ReadBytes(archive) != before, c.saved);
    messages.answers.clear();
  }
}

TEST_F(EditorFeatures, NothingImportedMeansNothingAsked) {
  Open(WriteArchive("a.pvm", {Plain("one", 1, 4, 4, 0)}));
  ShowRow(0);
  form->mnuRelease_Click();
  EXPECT_TRUE(messages.shown.empty());
  EXPECT_EQ(form->windowTitle(), "Quarnel");
}

TEST_F(EditorFeatures, TheFirstArgumentIsOpenedAtStart) {
  const std::string archive = WriteArchive("start.pvm", {Plain("one", 1, 4, 4, 0)});
  form->OpenArguments({"quarnel"});
  EXPECT_EQ(form->List1->count(), 0);
  form->OpenArguments({"quarnel", QString::fromStdString(archive)});
  EXPECT_EQ(ListRows(), std::vector<std::string>{"one"});
  EXPECT_EQ(form->ArchivePath, archive);
  EXPECT_EQ(form->windowTitle(), "start.pvm[*] - Quarnel");
}

TEST_F(EditorFeatures, DropsOpenArchivesAndImportIntoTheShownTexture) {
  Drop(WriteArchive("drop.pvm", {Plain("one", 1, 4, 4, 0xF800)}), QPoint(20, 100));
  EXPECT_EQ(ListRows(), std::vector<std::string>{"one"});
  const std::string bmp = dir.File("white.BMP");
  WriteBytes(bmp, Bmp24(4, 4, [](int, int) { return QColor(255, 255, 255); }));

  Drop(bmp, OverTheView());  // nothing shown yet
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].text, "Please select a texture before Importing/Exporting");

  ShowRow(0);
  messages.shown.clear();
  Drop(bmp, OverTheView());  // answered No
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].text, "Import white.BMP into the texture \"one\"?");
  EXPECT_EQ(TexelAt(TextureOfRow(0)->ChunkRecord().Data, 0), 0xF800);
  messages.answers = {Answer::Yes};
  Drop(bmp, OverTheView());
  EXPECT_EQ(TexelAt(TextureOfRow(0)->ChunkRecord().Data, 0), 0xFFFF);
  EXPECT_TRUE(form->isWindowModified());
  // An image dropped on the list is not meant for the texture.
  messages.shown.clear();
  Drop(bmp, QPoint(20, 100));
  EXPECT_TRUE(messages.shown.empty());
}

TEST_F(EditorFeatures, TheListAndTheViewsGrowWithTheWindow) {
  const QSize classic = form->size();
  EXPECT_EQ(form->minimumSize(), classic);
  form->resize(classic + QSize(200, 100));
  QApplication::processEvents();
  EXPECT_EQ(form->List1->height(), 364);
  EXPECT_EQ(form->Views->size(), QSize(658, 487));
}

TEST_F(EditorFeatures, ZoomKeysScaleWithSquarePixels) {
  // 2 x 2 RGB565: red, green / blue, white.
  Open(WriteArchive("z.pvm", {{"tiny", 1, 9, 2, 2, Texels({0xF800, 0x07E0, 0x001F, 0xFFFF})}}));
  ShowRow(0);
  form->activateWindow();
  QTest::keyClick(form.get(), Qt::Key_Plus, Qt::ControlModifier);
  EXPECT_EQ(form->ZoomScale(), 2);
  EXPECT_EQ(form->Picture1[0]->size(), QSize(4, 4));
  const QImage shot = form->Picture1[0]->grab().toImage();
  const QRgb expected[2][2] = {{qRgb(248, 0, 0), qRgb(0, 252, 0)}, {qRgb(0, 0, 248), qRgb(248, 252, 248)}};
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(shot.pixel(x, y), expected[y / 2][x / 2]) << x << "," << y;

  for (int i = 0; i < 10; ++i) QTest::keyClick(form.get(), Qt::Key_Plus, Qt::ControlModifier);
  EXPECT_EQ(form->ZoomScale(), 8);
  QTest::keyClick(form.get(), Qt::Key_0, Qt::ControlModifier);
  EXPECT_EQ(form->ZoomScale(), 1);
  // Below 1:1 is fit-to-view, which enlarges a small texture by whole steps up to 8x.
  QTest::keyClick(form.get(), Qt::Key_Minus, Qt::ControlModifier);
  EXPECT_EQ(form->ZoomScale(), 8);
  QWheelEvent wheel(QPointF(5, 5), QPointF(), QPoint(), QPoint(0, 120), Qt::NoButton,
                    Qt::ControlModifier, Qt::NoScrollPhase, false);
  form->ZoomActualSize();
  QApplication::sendEvent(form->Views->viewport(), &wheel);
  EXPECT_EQ(form->ZoomScale(), 2);
}

TEST_F(EditorFeatures, FitToViewShrinksALargeTexture) {
  Open(WriteArchive("big.pvm", {Plain("big", 1, 1024, 1024, 0)}));
  ShowRow(0);
  form->ZoomToFit();
  const QSize room = form->Views->size();
  EXPECT_DOUBLE_EQ(form->ZoomScale(), std::min(room.width(), room.height()) / 1024.0);
  EXPECT_LE(form->Picture1[0]->width(), room.width());
}

TEST_F(EditorFeatures, AlphaViewShowsTheCheckerboardThroughTransparentTexels) {
  Open(WriteArchive("h.pvm", {HalfRedHalfGreen("halves", 16, 16), Plain("solid", 1, 16, 16, 0x001F)}));
  ShowRow(0);
  QTest::mouseClick(form->lblV[2], Qt::LeftButton);
  EXPECT_EQ(form->CurrentView(), 2);
  EXPECT_FALSE(form->ImageViewCurrent());
  const QImage shot = form->Picture1[2]->grab().toImage();
  EXPECT_EQ(shot.pixel(2, 2), qRgb(248, 0, 0));      // opaque red
  EXPECT_EQ(shot.pixel(10, 2), qRgb(192, 192, 192));  // transparent: the grey cell
  EXPECT_EQ(shot.pixel(10, 10), qRgb(255, 255, 255));  // and the white one
  // A format without alpha bits is opaque, though its mask is black.
  ShowRow(1);
  EXPECT_EQ(form->Picture1[2]->grab().toImage().pixel(10, 2), qRgb(0, 0, 248));
}

TEST_F(EditorFeatures, DetailsShowTheSelectedTextureBesideTheStatus) {
  Open(WriteArchive("d.pvm", {Plain("one", 1, 8, 4, 0), {"tw", 2, 1, 8, 8, Texels(std::vector<uint16_t>(64))}}));
  EXPECT_EQ(form->DetailsText(), "");
  SelectRow(1);
  EXPECT_EQ(form->lblDetails->text(), "8x8, ARGB4444, twiddled");
  EXPECT_EQ(form->Label1->text().toStdString().rfind("Loaded", 0), 0u);
  form->mnuRelease_Click();
  EXPECT_EQ(form->lblDetails->text(), "");
}

TEST_F(EditorFeatures, ExportAllAsksBeforeReplacingAndWritesWhatTheCliWrites) {
  Open(WriteArchive("a.pvm", {Plain("one", 1, 4, 4, 0xF800), Plain("b/c", 1, 4, 4, 0)}));
  const std::string folder = dir.File("out");
  fs::create_directory(folder);
  WriteBytes(folder + "/one.bmp", {1, 2, 3});
  dialogs.answers = {folder};
  form->mnuExportAll_Click();  // answered No
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].text, "1 file of this export already exist in " + folder + ".\n\nReplace them?");
  EXPECT_EQ(ReadBytes(folder + "/one.bmp"), (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_EQ(dialogs.requests.back().mode, 2);

  messages.shown.clear();
  messages.answers = {Answer::Yes};
  dialogs.answers = {folder};
  form->mnuExportAll_Click();
  ASSERT_EQ(messages.shown.size(), 2u);
  EXPECT_EQ(messages.shown[1].text, "Exported 2 textures to " + folder);
  for (const char* file : {"one.bmp", "one_mask.bmp", "@1.bmp", "@1_mask.bmp"})
    EXPECT_GT(ReadBytes(folder + "/" + file).size(), 54u) << file;

  // As PNG: one file per texture, which Import all from PNG takes back unchanged.
  const std::string pngFolder = dir.File("png");
  dialogs.answers = {pngFolder};
  form->mnuExportAllPng_Click();
  EXPECT_EQ(messages.shown.back().text, "Exported 2 textures to " + pngFolder);
  const std::vector<uint8_t> before = ReadBytes(dir.File("a.pvm"));
  messages.answers = {Answer::Yes, Answer::No};  // import, no backup
  dialogs.answers = {pngFolder};
  form->mnuImportAllPng_Click();
  EXPECT_EQ(messages.shown.back().text, "Imported 2 textures into " + dir.File("a.pvm"));
  EXPECT_EQ(ReadBytes(dir.File("a.pvm")), before);
}

TEST_F(EditorFeatures, ImportAllSavesOnceAndACancelledOneSavesNothing) {
  const std::string archive = WriteArchive("a.pvm", {Plain("one", 1, 4, 4, 0xF800), Plain("two", 1, 4, 4, 0)});
  Open(archive);
  const std::string folder = dir.File("in");
  fs::create_directory(folder);
  for (const char* name : {"/one.bmp", "/two.bmp"})
    WriteBytes(folder + name, Bmp24(4, 4, [](int, int) { return QColor(255, 255, 255); }));
  const std::vector<uint8_t> before = ReadBytes(archive);

  // Cancel on the first step: nothing changes, on disk or in the window.
  QTimer::singleShot(0, form.get(), [this] {
    if (auto* progress = form->findChild<QProgressDialog*>()) progress->cancel();
  });
  messages.answers = {Answer::Yes};
  dialogs.answers = {folder};
  form->mnuImportAll_Click();
  EXPECT_EQ(ReadBytes(archive), before);
  EXPECT_FALSE(form->isWindowModified());
  EXPECT_EQ(TexelAt(TextureOfRow(0)->ChunkRecord().Data, 0), 0xF800);
  EXPECT_EQ(messages.shown.back().text,
            "Import all was cancelled; nothing was imported and a.pvm was not written.");

  messages.answers = {Answer::Yes, Answer::No};  // import, no backup
  dialogs.answers = {folder};
  form->mnuImportAll_Click();
  EXPECT_EQ(messages.shown.back().text, "Imported 2 textures into " + archive);
  EXPECT_NE(ReadBytes(archive), before);
  EXPECT_FALSE(form->isWindowModified());
  EXPECT_EQ(TexelAt(TextureOfRow(1)->ChunkRecord().Data, 0), 0xFFFF);
}

}  // namespace
}  // namespace apptest
