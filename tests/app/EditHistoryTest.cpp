// Undo and redo of every kind of edit, back to the bytes the archive was opened with; the
// unsaved mark following the undo stack; copy and paste, and the Before/After toggle.
#include <QClipboard>
#include <QMimeData>
#include <QUndoStack>

#include "AppTestSupport.h"
#include "texture/PictureFiles.h"

namespace apptest {
namespace {

class EditHistory : public EditorTest {
 protected:
  // Rows one (RGB565), two (ARGB4444), three (ARGB1555 halves), the last shown.
  void OpenThree() {
    using namespace archive_builder;
    // Filler in the table where a save laid out anew writes indexes: only a save in place
    // gives these bytes back, so the layout must come back with the entries.
    opened = PvmHeader{.names = {"one", "two", "three"}}.Build();
    for (const Entry& e :
         {Plain("one", 1, 8, 8, 0x1111), Plain("two", 2, 8, 8, 0x2222), HalfRedHalfGreen("three", 8, 8)})
      opened = Join({opened, PvrChunk{.pFormat = e.pFormat, .eFormat = e.eFormat, .width = int16_t(e.width),
                                      .height = int16_t(e.height), .data = e.data}.Build()});
    path = dir.File("a.pvm");
    WriteBytes(path, opened);
    Open(path);
    Drive().ShowRow(2);
  }
  std::vector<uint8_t> SavedNow() {
    const std::string file = dir.File("now.pvm");
    EXPECT_FALSE(window->archive()->Save(file));
    return ReadBytes(file);
  }
  void RunWhile(const char* action, bool (QUndoStack::*can)() const) {
    for (int steps = 0; (window->history()->*can)() && steps < 20; ++steps) Run(action);
  }
  // One colour, but for a pixel no 16-bit format keeps.
  std::string WritePng(const std::string& name, int width, int height, QColor colour) {
    QImage picture(width, height, QImage::Format_ARGB32);
    picture.fill(colour);
    picture.setPixelColor(0, 0, QColor(10, 200, 30, 77));
    return picture.save(QString::fromStdString(dir.File(name))), dir.File(name);
  }

  std::string path;
  std::vector<uint8_t> opened;
};

struct EditCase {
  const char* what;
  std::function<void()> edit;
  const char* undoText;
};

TEST_F(EditHistory, UndoingEveryKindOfEditGivesBackTheOpenedBytesAndRedoTheEdited) {
  const std::vector<EditCase> cases = {
      {"import a picture at its own, other size", [&] {
         chosenPaths = {WritePng("big.png", 16, 8, Qt::blue)}, sizeAnswer = BatchFiles::SizeChoice::Picture;
         Run("importTexture");
       }, "Undo Import into three"},
      {"import all from PNG, which saves", [&] {
         fs::create_directories(dir.File("png"));
         WritePng("png/one.png", 8, 8, Qt::red), WritePng("png/two.png", 8, 8, Qt::green);
         messages.answers = {Answer::Yes, Answer::No}, chosenPaths = {dir.File("png")};  // import, no backup
         Run("importAllPng");
       }, "Undo Import all into a.pvm"},
      {"paste", [&] {
         QGuiApplication::clipboard()->setImage(QImage(WritePng("p.png", 8, 8, Qt::red).c_str()));
         Run("pasteTexture");
       }, "Undo Import into three"},
      {"add two after the first", [&] {
         Drive().SelectRow(0);
         chosenPaths = {WritePng("x.png", 8, 8, Qt::red) + "\n" + WritePng("y.png", 4, 4, Qt::gray)};
         Run("addTextures");
       }, "Undo Add textures"},
      {"update from a pack: one replaced, one added", [&] {
         fs::create_directories(dir.File("hd"));
         const std::string index = "7,b.png\n8,three.png\n";
         WriteBytes(dir.File("hd/index.txt"), {index.begin(), index.end()});
         WritePng("hd/b.png", 8, 8, Qt::white), WritePng("hd/three.png", 8, 8, Qt::red);
         chosenPaths = {dir.File("hd/index.txt")}, messages.answers = {Answer::Yes};  // add
         Run("updateFromPack");
       }, "Undo Update from hd"},
      {"remove the middle", [&] { Drive().SelectRow(1), messages.answers = {Answer::Yes}, Run("removeEntry"); },
       "Undo Remove two"},
      {"rename", [&] { nameAnswer = "stone", Run("renameEntry"); }, "Undo Rename three"},
      {"move up", [&] { Run("moveEntryUp"); }, "Undo Move three"},
      {"properties: name, index and formats", [&] {
         editProperties = [](EntryDialogs::Properties p) {
           p.name = "first", p.globalIndex = 77, p.pixelFormat = 2, p.dataFormat = 1, p.mipmaps = true;
           return std::optional(p);
         };
         Run("editProperties");
       }, "Undo Properties of three"},
  };
  for (const EditCase& c : cases) {
    SCOPED_TRACE(c.what);
    OpenThree();
    c.edit();
    ASSERT_TRUE(window->history()->canUndo());
    EXPECT_EQ(window->findChild<QAction*>("undo")->text().toStdString(), c.undoText);
    const std::vector<uint8_t> edited = SavedNow();
    ASSERT_NE(edited, opened);
    // Twice over, so that a redo followed by an undo holds what it swapped back.
    for (int round = 0; round < 2; ++round) {
      RunWhile("undo", &QUndoStack::canUndo);
      EXPECT_EQ(SavedNow(), opened);
      RunWhile("redo", &QUndoStack::canRedo);
      EXPECT_EQ(SavedNow(), edited);
    }
    TearDown();
    messages = {};
    editProperties = nullptr;
    SetUp();
  }
}

TEST_F(EditHistory, TheUnsavedMarkFollowsTheStacksCleanState) {
  OpenThree();
  nameAnswer = "stone";
  Run("renameEntry");
  EXPECT_TRUE(window->isWindowModified());
  Run("undo");
  EXPECT_FALSE(window->isWindowModified());
  Run("redo");
  EXPECT_TRUE(window->isWindowModified());
  messages.answers = {Answer::No};  // no backup
  Run("saveArchive");
  EXPECT_FALSE(window->isWindowModified());
  Run("undo");
  EXPECT_TRUE(window->isWindowModified());
  EXPECT_EQ(Drive().Rows(), (std::vector<std::string>{"one", "two", "three"}));
  messages.shown.clear();
  messages.answers = {Answer::Discard};
  Open(path);
  EXPECT_EQ(messages.shown.size(), 1u);
  EXPECT_FALSE(window->history()->canUndo() || window->history()->canRedo());
  // Undoing every step leaves nothing to lose, so opening asks nothing.
  Drive().SelectRow(0);
  Run("renameEntry");
  Run("undo");
  messages.shown.clear();
  Open(path);
  EXPECT_TRUE(messages.shown.empty());
}

TEST_F(EditHistory, CopyThenPasteKeepsALosslessTextureAndBeforeAfterFlipsTheView) {
  OpenThree();
  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  // By their keys, which the list must not take for copying its row's name.
  QTest::keyClick(Drive().List(), Qt::Key_C, Qt::ControlModifier);
  ASSERT_FALSE(QGuiApplication::clipboard()->image().isNull());
  const UnzeroedBytes texels = Drive().DataOfRow(2);
  QTest::keyClick(Drive().List(), Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(Drive().DataOfRow(2), texels);
  EXPECT_EQ(window->importLossText().toStdString(), "Imported into three: lossless");
  EXPECT_FALSE(window->history()->canUndo());  // nothing changed

  const QImage old = Drive().Shown().copy();
  chosenPaths = {WritePng("blue.png", 8, 8, Qt::blue)};
  Run("importTexture");
  EXPECT_NE(window->importLossText().indexOf("PSNR"), -1) << window->importLossText().toStdString();
  const QImage now = Drive().Shown().copy();
  ASSERT_NE(now, old);
  Run("toggleBeforeAfter");
  EXPECT_EQ(Drive().Shown(), old);
  EXPECT_EQ(window->importLossText().toStdString(), "Before the import (\\ shows it after)");
  Run("toggleBeforeAfter");
  EXPECT_EQ(Drive().Shown(), now);
  Run("toggleBeforeAfter");
  Run("undo");  // the next edit ends the comparison, showing the texture as it is
  EXPECT_EQ(Drive().Shown(), old);
  Run("toggleBeforeAfter");
  EXPECT_EQ(Drive().Shown(), old);

  messages.shown.clear();
  QGuiApplication::clipboard()->setText("words");
  Run("pasteTexture");
  EXPECT_EQ(messages.Texts(), std::vector<std::string>{"There is no picture on the clipboard to paste."});
}

TEST_F(EditHistory, ARowDraggedOutIsAPngOfItsTexture) {
  OpenThree();
  const QModelIndex row = Drive().List()->model()->index(2, 0);
  std::unique_ptr<QMimeData> data(Drive().List()->model()->mimeData({row}));
  ASSERT_TRUE(data && data->hasUrls());
  const std::string file = data->urls().first().toLocalFile().toStdString();
  EXPECT_EQ(fs::path(file).filename(), "three.png");
  EXPECT_EQ(PictureFiles::Read(file, "")->image, *window->archive()->Entries()[2].texture.Decode());
}

}  // namespace
}  // namespace apptest
