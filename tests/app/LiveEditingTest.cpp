// Editing a texture in another program (a scripted one, or a real one that fails), File >
// Open Recent, the preferences and what the window remembers for the next run.
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QDialog>
#include <QLineEdit>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTimer>

#include "AppTestSupport.h"
#include "app/ExternalEditor.h"
#include "app/PreferencesDialog.h"
#include "app/RecentFiles.h"
#include "texture/PngFile.h"

namespace apptest {
namespace {

std::vector<uint8_t> Png(int width, int height, QColor c) {
  std::vector<uint8_t> rgba, file;
  for (int n = 0; n < width * height; ++n)
    rgba.insert(rgba.end(), {uint8_t(c.red()), uint8_t(c.green()), uint8_t(c.blue()), 255});
  PngFile::Write(uint32_t(width), uint32_t(height), rgba, file);
  return file;
}

class LiveEditing : public EditorTest {
 protected:
  void SetUp() override {
    EditorTest::SetUp();
    previous_ = ExternalEditor::SetLauncher([this](const ExternalEditor::Launch& l, ExternalEditor::FailureReport later) {
      launched.push_back(l.file);
      failLater = std::move(later);
      return refusal;
    });
    // Row 0: 8 x 8 RGB565, black. Row 1: 4 x 4 RGB565, white.
    Open(WriteArchive("a.pvm", {Plain("wall", 1, 8, 8, 0x0000), Plain("sky", 1, 4, 4, 0xFFFF)}));
    Drive().ShowRow(0);
  }
  void TearDown() override {
    EditorTest::TearDown();
    ExternalEditor::SetLauncher(std::move(previous_));
  }

  // As most editors save: a new file renamed over the old one.
  void Save(const std::vector<uint8_t>& bytes) {
    WriteBytes(launched.back() + ".part", bytes);
    fs::rename(launched.back() + ".part", launched.back());
  }
  QString Note() const { return window->findChild<QLabel*>("editingNote")->text(); }
  bool WaitForNote(const char* part) { return QTest::qWaitFor([&] { return Note().contains(part); }, 5000); }
  bool WaitForTexel(uint16_t texel) {
    return QTest::qWaitFor([&] { return TexelAt(Drive().DataOfRow(0), 0) == texel; }, 5000);
  }
  bool Editing() const { return window->findChild<ExternalEditor*>()->editing(); }

  std::vector<std::string> launched;
  std::string refusal;
  ExternalEditor::FailureReport failLater;
  ExternalEditor::Launcher previous_;
};

TEST_F(LiveEditing, EachWholeSaveIsImportedAndAnythingElseOnlyNoted) {
  Run("editExternally");
  ASSERT_EQ(launched.size(), 1u);
  EXPECT_EQ(QFileInfo(QString::fromStdString(launched[0])).fileName(), "wall.png");
  EXPECT_EQ(PictureFiles::Read(launched[0], "")->image.width, 8);

  const std::vector<uint8_t> red = Png(8, 8, Qt::red);
  WriteBytes(launched[0], std::vector<uint8_t>(red.begin(), red.begin() + red.size() / 2));
  ASSERT_TRUE(WaitForNote("not complete"));
  EXPECT_EQ(TexelAt(Drive().DataOfRow(0), 0), 0x0000);
  EXPECT_TRUE(messages.shown.empty());

  Save(red);
  ASSERT_TRUE(WaitForTexel(0xF800));
  EXPECT_EQ(Drive().Shown().pixel(7, 7), qRgb(248, 0, 0));  // decoded from the stored texture
  EXPECT_TRUE(window->isWindowModified());
  EXPECT_TRUE(Note().contains("wall.png imported at"));
  EXPECT_EQ(window->findChild<QAction*>("undo")->text(), "Undo Import into wall");  // a step like any

  // Neither a non-picture nor a deleted file changes the texture, and each is noted.
  Save({'h', 'e', 'l', 'l', 'o'});
  ASSERT_TRUE(WaitForNote("no longer a PNG"));
  fs::remove(launched[0]);
  ASSERT_TRUE(WaitForNote("was deleted"));
  EXPECT_EQ(TexelAt(Drive().DataOfRow(0), 0), 0xF800);

  // Another size is asked about once; the answer holds for the later saves.
  sizeAnswer = BatchFiles::SizeChoice::Scale;
  Save(Png(16, 16, Qt::blue));
  ASSERT_TRUE(WaitForTexel(0x001F));
  EXPECT_TRUE(Note().contains("16 x 16")) << Note().toStdString();
  Save(Png(16, 16, Qt::green));
  ASSERT_TRUE(WaitForTexel(0x07E0));
  EXPECT_EQ(sizeQuestions.size(), 1u);
  EXPECT_TRUE(messages.shown.empty());
}

TEST_F(LiveEditing, UndoAndRedoRedrawTheTextureOnScreen) {
  Run("editExternally");
  Save(Png(8, 8, Qt::red));
  ASSERT_TRUE(WaitForTexel(0xF800));
  ASSERT_EQ(Drive().Shown().pixel(7, 7), qRgb(248, 0, 0));
  // The row stays selected through both, so only the step itself can show it anew.
  Run("undo");
  EXPECT_EQ(TexelAt(Drive().DataOfRow(0), 0), 0x0000);
  EXPECT_EQ(Drive().Shown().pixel(7, 7), qRgb(0, 0, 0));
  Run("redo");
  EXPECT_EQ(Drive().Shown().pixel(7, 7), qRgb(248, 0, 0));
}

TEST_F(LiveEditing, EndsAndRemovesItsFolderWhenTheTextureIsLeft) {
  const std::vector<std::pair<const char*, std::function<void()>>> ways{
      {"another texture picked", [&] { Drive().ShowRow(1); }},
      {"Stop Editing", [&] { Run("stopEditing"); }},
      {"Release", [&] { Run("releaseArchive"); }},
      {"another archive opened", [&] { Open(WriteArchive("b.pvm", {Plain("b", 1, 4, 4, 0)})); }},
  };
  for (const auto& [way, leave] : ways) {
    if (!window->archive()) Open(dir.File("a.pvm"));
    Drive().ShowRow(0);
    Run("editExternally");
    const QString folder = QFileInfo(QString::fromStdString(launched.back())).absolutePath();
    ASSERT_TRUE(QFileInfo(folder).isDir()) << way;
    leave();
    EXPECT_FALSE(Editing()) << way;
    EXPECT_FALSE(QFileInfo::exists(folder)) << way;
    EXPECT_EQ(Note(), "") << way;
  }
}

TEST_F(LiveEditing, AnEditorThatFailsIsSaid) {
  refusal = "The image editor could not be started.";
  Run("editExternally");
  EXPECT_EQ(messages.Texts(), std::vector<std::string>{refusal});
  EXPECT_FALSE(QFileInfo::exists(QFileInfo(QString::fromStdString(launched[0])).absolutePath()));

  refusal.clear();
  Run("editExternally");
  failLater("It ended at once.");
  EXPECT_FALSE(Editing());
  EXPECT_EQ(messages.Texts().back(), "It ended at once.");

  // The real launcher: a program that cannot start, and one that ends at once with an error.
  ExternalEditor::SetLauncher({});
  for (const char* program : {"/no/such/editor", "/bin/false"}) {
    messages.shown.clear();
    Settings::SavePreferences({program});
    Run("editExternally");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !messages.shown.empty(); }, 5000)) << program;
    EXPECT_TRUE(messages.shown[0].text.find(program) != std::string::npos) << messages.shown[0].text;
    EXPECT_FALSE(Editing()) << program;
  }
}

TEST_F(LiveEditing, RecentFilesAreNewestFirstAndGoneOnesGreyed) {
  auto* menu = window->findChild<QMenu*>("openRecentMenu");
  auto listed = [&] {
    emit menu->aboutToShow();
    std::vector<std::pair<std::string, bool>> items;  // file name, enabled
    for (QAction* a : menu->actions())
      if (a->objectName() == "openRecentFile")
        items.emplace_back(QFileInfo(a->data().toString()).fileName().toStdString(), a->isEnabled());
    return items;
  };
  for (const char* name : {"b.pvm", "c.pvm", "a.pvm"}) Open(WriteArchive(name, {Plain("x", 1, 4, 4, 0)}));
  fs::remove(dir.File("c.pvm"));
  using Items = std::vector<std::pair<std::string, bool>>;
  EXPECT_EQ(listed(), (Items{{"a.pvm", true}, {"c.pvm", false}, {"b.pvm", true}}));

  for (QAction* a : menu->actions())
    if (a->data().toString().endsWith("b.pvm")) a->trigger();
  EXPECT_EQ(window->archivePath(), dir.File("b.pvm"));
  EXPECT_EQ(listed().front().first, "b.pvm");

  for (int n = 0; n < 12; ++n) Open(WriteArchive("n" + std::to_string(n) + ".pvm", {Plain("x", 1, 4, 4, 0)}));
  EXPECT_EQ(listed().size(), size_t(RecentFiles::kMaxFiles));
  EXPECT_EQ(listed().front().first, "n11.pvm");
  Run("clearRecentFiles");
  EXPECT_TRUE(listed().empty());
}

TEST_F(LiveEditing, PreferencesAreStoredAppliedAndKeptWithTheWindow) {
  const Settings::Preferences chosen{"editor --new", 96, QColor(255, 0, 0), QColor(0, 0, 255)};
  const PreferencesDialog::Hook previous = PreferencesDialog::SetHook([&](const Settings::Preferences& now) {
    EXPECT_EQ(now, Settings::Preferences{});
    return chosen;
  });
  QSignalSpy thumbnails(window.get(), &MainWindow::thumbnailSizeChanged);
  Run("showPreferences");
  PreferencesDialog::SetHook(previous);
  EXPECT_EQ(Settings::LoadPreferences(), chosen);
  EXPECT_EQ(thumbnails.takeFirst().at(0).toInt(), 96);

  // Closed in the alpha view at 3x; a new window comes back so, with the same checkerboard
  // behind the transparent texture, and its Open dialog starts where the last one chose.
  Open(WriteArchive("clear.pvm", {Plain("glass", 2, 16, 16, 0x0000)}));  // ARGB4444, clear
  Drive().ShowRow(0);
  window->setView(TextureView::Mode::Alpha);
  Run("zoomIn");
  Run("zoomIn");
  window->close();
  window = std::make_unique<MainWindow>(dataFolder());
  window->show();
  Open(dir.File("clear.pvm"));
  Drive().ShowRow(0);
  EXPECT_EQ(window->textureView()->mode(), TextureView::Mode::Alpha);
  EXPECT_EQ(window->textureView()->scale(), 3.0);
  const QImage grab = Drive().Grab();
  EXPECT_EQ(grab.pixel(1, 1), qRgb(255, 0, 0));
  EXPECT_EQ(grab.pixel(3 * 8 + 1, 1), qRgb(0, 0, 255));
  Run("openArchive");
  EXPECT_EQ(dialogRequests.back().initialDir, dir.Folder());
}

TEST_F(LiveEditing, ThePreferencesDialogStartsFromWhatIsStored) {
  Settings::SavePreferences({"paint", 48, QColor(0, 0, 0), QColor(255, 255, 0)});
  QTimer poll;
  poll.callOnTimeout([&] {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr) return;
    poll.stop();
    EXPECT_EQ(dialog->findChild<QLineEdit*>()->text(), "paint");
    dialog->findChild<QSpinBox*>()->setValue(1000);  // beyond the largest
    dialog->accept();
  });
  poll.start(10);
  Run("showPreferences");
  EXPECT_EQ(Settings::LoadPreferences(),
            (Settings::Preferences{"paint", Settings::kMaxThumbnail, QColor(0, 0, 0), QColor(255, 255, 0)}));
}

}  // namespace
}  // namespace apptest
