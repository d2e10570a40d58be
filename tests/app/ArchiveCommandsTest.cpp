// The archive's commands: Open (by dialog or argument), Release, Save with the backup
// offer, the question before unsaved imports are dropped, the title bar, details and Help.
#include "AppTestSupport.h"
#include "platform/Files.h"

namespace apptest {
namespace {

class ArchiveCommands : public EditorTest {
 protected:
  // Opens an archive of two entries and imports a white picture into the second; returns
  // the bytes a save must leave in the file.
  std::vector<uint8_t> OpenAndImport(const std::string& name) {
    entries = {Plain("one", 1, 8, 8, 0x1111), Plain("two", 2, 8, 8, 0x2222)};
    path = WriteArchive(name, entries);
    original = ReadBytes(path);
    Open(path);
    Import(1, 0x2FFF);  // ARGB4444 white, keeping the texel's alpha
    return archive_builder::BuildArchive(entries);
  }

  void Import(int row, uint16_t expectedTexel) {
    Drive().ShowRow(row);
    chosenPaths = {WriteBmp("white.bmp", 8, 8, Qt::white)};  // no mask
    Run("importTexture");
    entries[size_t(row)].data = Texels(std::vector<uint16_t>(64, expectedTexel));
  }

  const MessageBoxes::Message* BackupQuestion() const {
    for (const MessageBoxes::Message& m : messages.shown)
      if (m.title == "No backup detected...") return &m;
    return nullptr;
  }

  std::vector<archive_builder::Entry> entries;
  std::string path;
  std::vector<uint8_t> original;
};

TEST_F(ArchiveCommands, OpenAsksForAPvmFileAndListsItsEntries) {
  const std::string archive = WriteArchive("OBJ_TEX.PVM", {Plain("first", 1, 8, 8, 0), Plain("", 1, 8, 8, 0),
                                                           Plain("third", 1, 8, 8, 0)});
  Open(archive);
  ASSERT_EQ(dialogRequests.size(), 1u);
  const FileDialogs::Request& r = dialogRequests[0];
  EXPECT_EQ(r.owner, window.get());
  EXPECT_EQ(r.kind, FileDialogs::Kind::Open);
  EXPECT_EQ(r.title, "Open Texture File");
  EXPECT_EQ(r.filters, (std::vector<FileDialogs::Filter>{{"PVM Files", "*.pvm;*.pvr"}, {"PVMX Files", "*.pvmx"}}));
  EXPECT_EQ(r.defaultExt, "pvm");

  EXPECT_EQ(Drive().Rows(), (std::vector<std::string>{"first", "", "third"}));
  EXPECT_EQ(window->statusText(), "Loaded 3 sets...");
  EXPECT_EQ(window->archivePath(), archive);
  EXPECT_EQ(window->windowTitle(), "OBJ_TEX.PVM[*] - Quarnel");
  EXPECT_EQ(Drive().SelectedRow(), -1);

  // A cancelled dialog changes nothing; the next one starts in the archive's folder.
  Drive().ShowRow(0);
  Run("openArchive");
  EXPECT_EQ(dialogRequests.back().initialDir, dir.Folder());
  EXPECT_EQ(Drive().Rows().size(), 3u);
  EXPECT_EQ(Drive().ShownSize(), QSize(8, 8));
}

TEST_F(ArchiveCommands, ANameWithoutItsEndEndsTheListAndLeavesLoadingShown) {
  using namespace archive_builder;
  const Bytes chunk = PvrChunk{.width = 4, .height = 4, .data = Pattern(32, 1)}.Build();
  const std::string path = dir.File("cut.pvm");
  WriteBytes(path, Join({PvmHeader{.names = {"good", std::string(28, 'x'), "after"}}.Build(), chunk, chunk, chunk}));
  Open(path);
  EXPECT_TRUE(messages.shown.empty());
  EXPECT_EQ(Drive().Rows(), std::vector<std::string>{"good"});
  EXPECT_EQ(window->statusText(), "Loading...");
}

TEST_F(ArchiveCommands, LoadingIsShownWhileTheFileIsRead) {
  const std::string path = WriteArchive("a.pvm", {Plain("one", 1, 8, 8, 0)});
  Open(WriteArchive("old.pvm", {Plain("old", 1, 8, 8, 0)}));
  QString statusSeen;
  int rowsSeen = -1;
  duringDialog = [&] {
    QMetaObject::invokeMethod(window.get(), [&] {
      statusSeen = window->statusText();
      rowsSeen = window->entryList()->model()->rowCount();
    }, Qt::QueuedConnection);
  };
  Open(path);
  EXPECT_EQ(statusSeen, "Loading...");
  EXPECT_EQ(rowsSeen, 0);
  EXPECT_EQ(window->statusText(), "Loaded 1 sets...");
}

TEST_F(ArchiveCommands, ARefusedFileLeavesNothingLoadedButIsRemembered) {
  Open(WriteArchive("good.pvm", {Plain("good", 1, 8, 8, 0x1111)}));
  Drive().ShowRow(0);
  TempDir other;
  const std::string bad = other.File("notes.pvm");
  WriteBytes(bad, {'N', 'O', 'P', 'E', 0, 0, 0, 0});
  Open(bad);

  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].text, "This is not a valid PVM file!");
  EXPECT_EQ(messages.shown[0].title, "Hey!");
  EXPECT_EQ(messages.shown[0].icon, Icon::Critical);
  EXPECT_EQ(window->archive(), nullptr);
  EXPECT_TRUE(Drive().Rows().empty());
  EXPECT_EQ(window->statusText(), "Loading...");
  EXPECT_EQ(window->archivePath(), bad);
  EXPECT_EQ(window->windowTitle(), "Quarnel");
  Run("openArchive");
  EXPECT_EQ(dialogRequests.back().initialDir, other.Folder());
  // The view still shows the first archive's texture.
  EXPECT_EQ(Drive().ShownSize(), QSize(8, 8));
}

TEST_F(ArchiveCommands, ShortcutsRunTheFileCommandsFromAnywhereInTheWindow) {
  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  chosenPaths = {WriteArchive("a.pvm", {Plain("one", 1, 8, 8, 0)})};
  window->entryList()->setFocus();
  QTest::keyClick(window->entryList(), Qt::Key_O, Qt::ControlModifier);
  EXPECT_EQ(Drive().Rows().size(), 1u);
  QTest::keyClick(window.get(), Qt::Key_S, Qt::ControlModifier);
  EXPECT_NE(BackupQuestion(), nullptr);  // cancelled
  QTest::keyClick(window->entryList(), Qt::Key_R, Qt::ControlModifier);
  EXPECT_TRUE(Drive().Rows().empty());
  EXPECT_EQ(window->statusText(), "No File Loaded");
}

TEST_F(ArchiveCommands, TheFirstArgumentIsOpenedAtStart) {
  const std::string archive = WriteArchive("start.pvm", {Plain("one", 1, 4, 4, 0)});
  window->openArguments({"quarnel"});
  EXPECT_TRUE(Drive().Rows().empty());
  window->openArguments({"quarnel", QString::fromStdString(archive)});
  EXPECT_EQ(Drive().Rows(), std::vector<std::string>{"one"});
  EXPECT_EQ(window->archivePath(), archive);
}

TEST_F(ArchiveCommands, ReleaseEmptiesTheListAndTheDetailsButKeepsThePathAndTheView) {
  const std::string archive = WriteArchive("a.pvm", {Plain("a", 1, 8, 4, 0xF800), Plain("b", 1, 8, 8, 0)});
  Open(archive);
  EXPECT_EQ(window->detailsText(), "");
  Drive().ShowRow(0);
  EXPECT_EQ(window->detailsText(), "8x4, RGB565, rectangle");
  Drive().SelectRow(1);  // the details and the view follow the selection
  EXPECT_EQ(window->detailsText(), "8x8, RGB565, rectangle");
  Run("releaseArchive");
  EXPECT_TRUE(Drive().Rows().empty());
  EXPECT_EQ(window->statusText(), "No File Loaded");
  EXPECT_EQ(window->detailsText(), "");
  EXPECT_EQ(window->windowTitle(), "Quarnel");
  EXPECT_EQ(window->archivePath(), archive);
  EXPECT_EQ(Drive().Grab().pixel(1, 1), qRgb(0, 0, 0));
  EXPECT_TRUE(messages.shown.empty());
}

TEST_F(ArchiveCommands, SaveWithNothingLoadedCopiesAndWritesNothing) {
  const std::string archive = WriteArchive("a.pvm", {Plain("a", 1, 8, 8, 0x1111)});
  const std::vector<uint8_t> bytes = ReadBytes(archive);
  WriteBytes(dir.File("junk.pvm"), {'J', 'U', 'N', 'K'});
  const std::vector<std::function<void()>> ways = {
      [] {}, [&] {
        Open(archive);
        Run("releaseArchive");
      },
      [&] {
        Open(archive);
        Open(dir.File("junk.pvm"));
      }};
  for (size_t way = 0; way < ways.size(); ++way) {
    SCOPED_TRACE(way);
    ways[way]();
    messages.shown.clear();
    Run("saveArchive");
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].text, "There is no archive loaded, so there is nothing to save.");
    EXPECT_EQ(messages.shown[0].title, "Quarnel");
    EXPECT_EQ(messages.shown[0].icon, Icon::Exclamation);
    EXPECT_EQ(ReadBytes(archive), bytes);
    EXPECT_EQ(dir.Entries().size(), 2u);
  }
}

TEST_F(ArchiveCommands, SaveOffersABackupOnceAndWritesOnlyWhenAllowed) {
  const std::vector<uint8_t> changed = OpenAndImport("OBJ_TEX.PVM");
  const std::string backup = dir.File("OBJ_TEX.BAK");
  EXPECT_TRUE(window->isWindowModified());
  EXPECT_EQ(window->windowTitle(), "OBJ_TEX.PVM[*] - Quarnel");

  messages.answers = {Answer::Cancel};
  Run("saveArchive");
  const MessageBoxes::Message* question = BackupQuestion();
  ASSERT_NE(question, nullptr);
  EXPECT_EQ(question->text, "Would you like to make a backup of the existing DAT file first?");
  EXPECT_EQ(question->buttons, MessageBoxes::Buttons::YesNoCancel);
  EXPECT_EQ(question->icon, Icon::None);
  EXPECT_EQ(ReadBytes(path), original);
  EXPECT_TRUE(window->isWindowModified());

  messages.answers = {Answer::Yes};
  Run("saveArchive");
  EXPECT_EQ(ReadBytes(backup), original);
  EXPECT_EQ(ReadBytes(path), changed);
  EXPECT_FALSE(window->isWindowModified());
  EXPECT_EQ(messages.shown.size(), 2u);  // the questions only; a save has no message of its own

  // With a backup there, later saves ask nothing and keep it.
  Import(0, 0xFFFF);
  messages.shown.clear();
  Run("saveArchive");
  EXPECT_TRUE(messages.shown.empty());
  EXPECT_EQ(ReadBytes(path), archive_builder::BuildArchive(entries));
  EXPECT_EQ(ReadBytes(backup), original);
}

TEST_F(ArchiveCommands, SaveWithoutABackupAsksAgainNextTime) {
  const std::vector<uint8_t> changed = OpenAndImport("a.pvm");
  messages.answers = {Answer::No};
  Run("saveArchive");
  EXPECT_EQ(ReadBytes(path), changed);
  EXPECT_FALSE(platform::FileExists(dir.File("a.BAK")));
  messages.shown.clear();
  Run("saveArchive");
  EXPECT_NE(BackupQuestion(), nullptr);
}

TEST_F(ArchiveCommands, AFailedBackupOrWriteIsReportedAndTheFileKeepsItsBytes) {
  OpenAndImport("a.pvm");
  fs::create_directory(dir.File("a.BAK"));  // a folder: no backup file, and none can be made
  messages.answers = {Answer::Yes};
  Run("saveArchive");
  ASSERT_EQ(messages.shown.size(), 2u);
  const std::string& told = messages.shown[1].text;
  EXPECT_NE(told.find("not saved"), std::string::npos) << told;
  EXPECT_NE(told.find(path), std::string::npos) << told;
  EXPECT_NE(told.find(dir.File("a.BAK")), std::string::npos) << told;
  EXPECT_EQ(ReadBytes(path), original);

  fs::remove(dir.File("a.BAK"));
  messages.shown.clear();
  messages.answers = {Answer::No};
  const platform::ReplaceFaultHook previous = platform::SetReplaceFaultHook(
      [](platform::ReplaceStep step) { return step == platform::ReplaceStep::Write ? 28 /* ENOSPC */ : 0; });
  Run("saveArchive");
  platform::SetReplaceFaultHook(previous);
  ASSERT_EQ(messages.shown.size(), 2u);  // the question, then the core's error
  EXPECT_EQ(messages.shown[1].title, "Whoops");
  EXPECT_EQ(messages.shown[1].icon, Icon::Critical);
  EXPECT_EQ(ReadBytes(path), original);
  EXPECT_TRUE(window->isWindowModified());
}

// Each way of letting the archive go, with each answer to the question it asks first.
TEST_F(ArchiveCommands, UnsavedImportsAreNeverDroppedWithoutAsking) {
  struct Case {
    const char* action;
    Answer answer;
    bool dropped;  // the archive was let go
    bool saved;    // the file holds the import
  };
  const Case cases[] = {
      {"close", Answer::Cancel, false, false},   {"close", Answer::Discard, true, false},
      {"close", Answer::Save, true, true},       {"release", Answer::Cancel, false, false},
      {"release", Answer::Discard, true, false}, {"release", Answer::Save, true, true},
      {"open", Answer::Cancel, false, false},    {"open", Answer::Discard, true, false},
      {"open", Answer::Save, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.action) + " " + std::to_string(int(c.answer)));
    window->show();
    const std::vector<uint8_t> changed = OpenAndImport("a.pvm");
    const std::string other = WriteArchive("b.pvm", {Plain("other", 1, 4, 4, 0)});
    messages.shown.clear();
    messages.answers = {c.answer, Answer::No};  // No: no backup
    if (std::string(c.action) == "close") window->close();
    if (std::string(c.action) == "release") Run("releaseArchive");
    if (std::string(c.action) == "open") Open(other);

    ASSERT_FALSE(messages.shown.empty());
    EXPECT_EQ(messages.shown[0].buttons, MessageBoxes::Buttons::SaveDiscardCancel);
    EXPECT_EQ(messages.shown[0].text,
              "The changes to a.pvm have not been saved.\n\nSave the archive before it is closed?");
    EXPECT_EQ(Drive().Rows().size() == 2, !c.dropped);
    EXPECT_EQ(window->isWindowModified(), !c.dropped);
    EXPECT_EQ(ReadBytes(path), c.saved ? changed : original);
    messages.answers.clear();
  }
}

TEST_F(ArchiveCommands, HelpOpensDocsHtmlInTheDataFolderAndAMissingPageStaysSilent) {
  Run("showHelp");
  EXPECT_EQ(helpOpened, std::vector<std::string>{dataFolder() + "/docs.html"});
  MainWindow::SetHelpOpener({});  // the desktop's viewer, which finds no page there
  Run("showHelp");
  EXPECT_TRUE(messages.shown.empty());
}

}  // namespace
}  // namespace apptest
