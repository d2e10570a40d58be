// The File menu and Help: Open, Release, Save with the backup offer, Exit and Help.
#include <QLabel>
#include <QTest>

#include "AppTestSupport.h"
#include "platform/Files.h"

namespace apptest {
namespace {

using OpenCommand = EditorTest;

TEST_F(OpenCommand, AsksForAPvmFileAndListsItsEntries) {
  const std::string path = WriteArchive("OBJ_TEX.PVM", {Plain("first", 1, 8, 8, 0), Plain("", 1, 8, 8, 0),
                                                        Plain("third", 1, 8, 8, 0)});
  const std::string startFolder = form->ArchiveFolder;
  Open(path);

  ASSERT_EQ(dialogs.requests.size(), 1u);
  const CommDlgs::FileDialogRequest& r = dialogs.requests[0];
  EXPECT_EQ(r.owner, form.get());
  EXPECT_EQ(r.mode, 1);
  EXPECT_EQ(r.title, "Open Texture File");
  EXPECT_EQ(r.initialFileName, "");
  EXPECT_EQ(r.filters, (std::vector<CommDlgs::FileFilter>{{"PVM Files", "*.pvm;*.pvr"}}));
  EXPECT_EQ(r.initialDir, startFolder);
  EXPECT_EQ(r.defaultExt, "pvm");

  EXPECT_EQ(ListRows(), (std::vector<std::string>{"first", "", "third"}));
  EXPECT_EQ(form->Label1->text(), "Loaded 3 sets...");
  EXPECT_EQ(form->ArchivePath, path);
  EXPECT_EQ(form->ArchiveFolder, dir.Folder());
  EXPECT_EQ(form->TextureSelected, 0);
  EXPECT_EQ(form->ListIndex(), -1);

  // The next dialog starts in the archive's folder.
  form->mnuOpen_Click();
  EXPECT_EQ(dialogs.requests.back().initialDir, dir.Folder());
}

TEST_F(OpenCommand, CancelChangesNothing) {
  Open(WriteArchive("a.pvm", {Plain("kept", 1, 8, 8, 0x1234)}));
  ShowRow(0);
  const std::string folder = form->ArchiveFolder;
  form->mnuOpen_Click();  // the script is empty: the dialog is cancelled
  EXPECT_EQ(ListRows(), std::vector<std::string>{"kept"});
  EXPECT_EQ(form->TextureSelected, -1);
  EXPECT_EQ(form->ArchiveFolder, folder);
  EXPECT_TRUE(ParseFuncts::ArchiveLoaded());
}

TEST_F(OpenCommand, PendingEventsRunOnceWhileLoadingIsShown) {
  const std::string path = WriteArchive("a.pvm", {Plain("one", 1, 8, 8, 0)});
  Open(WriteArchive("old.pvm", {Plain("old", 1, 8, 8, 0)}));
  ShowRow(0);
  QString statusSeen;
  int rowsSeen = -1;
  int16_t selectedSeen = 1;
  dialogs.duringDialog = [&] {
    QMetaObject::invokeMethod(
        form.get(),
        [&] {
          statusSeen = form->Label1->text();
          rowsSeen = form->List1->count();
          selectedSeen = form->TextureSelected;
        },
        Qt::QueuedConnection);
  };
  Open(path);
  EXPECT_EQ(statusSeen, "Loading...");
  EXPECT_EQ(rowsSeen, 0);
  EXPECT_EQ(selectedSeen, 0);
  EXPECT_EQ(form->Label1->text(), "Loaded 1 sets...");
}

TEST_F(OpenCommand, ARefusedFileLeavesNothingLoadedButIsRemembered) {
  Open(WriteArchive("good.pvm", {Plain("good", 1, 8, 8, 0x1111)}));
  ShowRow(0);
  TempDir other;
  const std::string bad = other.File("notes.pvm");
  WriteBytes(bad, {'N', 'O', 'P', 'E', 0, 0, 0, 0});
  Open(bad);

  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].text, "This is not a valid PVM file!");
  EXPECT_EQ(messages.shown[0].title, "Hey!");
  EXPECT_EQ(form->List1->count(), 0);
  EXPECT_EQ(form->Label1->text(), "Loading...");
  EXPECT_EQ(form->TextureSelected, 0);
  EXPECT_EQ(form->ArchivePath, bad);
  EXPECT_EQ(form->ArchiveFolder, other.Folder());
  EXPECT_FALSE(ParseFuncts::ArchiveLoaded());
  // The views still show the first archive's texture.
  EXPECT_EQ(form->Picture1[0]->size(), QSize(8, 8));
}

TEST_F(OpenCommand, ShortcutsRunTheFileCommandsFromAnywhereInTheWindow) {
  form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
  const std::string path = WriteArchive("a.pvm", {Plain("one", 1, 8, 8, 0)});
  dialogs.answers.push_back(path);
  form->List1->setFocus();
  QTest::keyClick(form->List1, Qt::Key_O, Qt::ControlModifier);
  ASSERT_EQ(dialogs.requests.size(), 1u);
  EXPECT_EQ(form->List1->count(), 1);

  QTest::keyClick(form.get(), Qt::Key_S, Qt::ControlModifier);
  ASSERT_EQ(messages.shown.size(), 1u);  // the backup question, cancelled
  EXPECT_EQ(messages.shown[0].title, "No backup detected...");

  QTest::keyClick(form->List1, Qt::Key_R, Qt::ControlModifier);
  EXPECT_EQ(form->List1->count(), 0);
  EXPECT_EQ(form->Label1->text(), "No File Loaded");
}

using ReleaseCommand = EditorTest;

TEST_F(ReleaseCommand, EmptiesTheListButKeepsPathFolderAndViews) {
  const std::string path = WriteArchive("a.pvm", {Plain("a", 1, 8, 4, 0xF800), Plain("b", 1, 8, 8, 0)});
  Open(path);
  ShowRow(0);
  form->mnuRelease_Click();
  EXPECT_EQ(form->List1->count(), 0);
  EXPECT_EQ(form->Label1->text(), "No File Loaded");
  EXPECT_EQ(form->TextureSelected, 0);
  EXPECT_EQ(form->ArchivePath, path);
  EXPECT_EQ(form->ArchiveFolder, dir.Folder());
  EXPECT_EQ(form->Picture1[0]->size(), QSize(8, 4));
  EXPECT_EQ(form->Picture1[0]->Image().pixel(1, 1), qRgb(248, 0, 0));

  // Opening the same file again gives the same list.
  Open(path);
  EXPECT_EQ(ListRows(), (std::vector<std::string>{"a", "b"}));
}

class SaveCommand : public EditorTest {
 protected:
  // Opens an archive of two entries and changes the second texture in memory; returns
  // the bytes a save must leave in the file.
  std::vector<uint8_t> OpenAndChange(const std::string& name) {
    entries = {Plain("one", 1, 8, 8, 0x1111), Plain("two", 2, 8, 8, 0x2222)};
    path = WriteArchive(name, entries);
    original = ReadBytes(path);
    Open(path);
    entries[1].data = Texels(std::vector<uint16_t>(64, 0xABCD));
    TextureOfRow(1)->SetPVRData(8 + 128, 2, 9, 8, 8, entries[1].data);
    return archive_builder::BuildArchive(entries);
  }

  const platform::Message* BackupQuestion() const {
    for (const platform::Message& m : messages.shown)
      if (m.title == "No backup detected...") return &m;
    return nullptr;
  }

  std::vector<archive_builder::Entry> entries;
  std::string path;
  std::vector<uint8_t> original;
};

TEST_F(SaveCommand, WithNothingLoadedNothingIsCopiedOrWritten) {
  const std::string archive = WriteArchive("a.pvm", {Plain("a", 1, 8, 8, 0x1111)});
  const std::vector<uint8_t> bytes = ReadBytes(archive);
  auto expectRefused = [&](const char* when) {
    messages.shown.clear();
    form->mnuSave_Click();
    ASSERT_EQ(messages.shown.size(), 1u) << when;
    EXPECT_EQ(messages.shown[0].text, "There is no archive loaded, so there is nothing to save.") << when;
    EXPECT_EQ(messages.shown[0].title, "Quarnel") << when;
    EXPECT_EQ(messages.shown[0].icon, platform::Icon::Exclamation) << when;
    EXPECT_EQ(ReadBytes(archive), bytes) << when;
    EXPECT_FALSE(platform::FileExists(dir.File("a.BAK"))) << when;
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Folder()), fs::directory_iterator()), 2) << when;
  };
  WriteBytes(dir.File("junk.pvm"), {'J', 'U', 'N', 'K'});

  expectRefused("at start");
  Open(archive);
  form->mnuRelease_Click();
  expectRefused("after Release");
  Open(archive);
  Open(dir.File("junk.pvm"));
  expectRefused("after a refused Open");
}

TEST_F(SaveCommand, CancelOnTheBackupQuestionSavesNothing) {
  OpenAndChange("a.pvm");
  messages.answers = {platform::Answer::Cancel};
  form->mnuSave_Click();
  const platform::Message* question = BackupQuestion();
  ASSERT_NE(question, nullptr);
  EXPECT_EQ(question->text, "Would you like to make a backup of the existing DAT file first?");
  EXPECT_EQ(question->buttons, platform::Buttons::YesNoCancel);
  EXPECT_EQ(question->icon, platform::Icon::None);
  EXPECT_EQ(ReadBytes(path), original);
  EXPECT_FALSE(platform::FileExists(dir.File("a.BAK")));
}

TEST_F(SaveCommand, NoSavesWithoutACopyAndAsksAgainNextTime) {
  const std::vector<uint8_t> changed = OpenAndChange("a.pvm");
  messages.answers = {platform::Answer::No};
  form->mnuSave_Click();
  EXPECT_EQ(ReadBytes(path), changed);
  EXPECT_FALSE(platform::FileExists(dir.File("a.BAK")));

  messages.shown.clear();
  form->mnuSave_Click();
  EXPECT_NE(BackupQuestion(), nullptr);
}

TEST_F(SaveCommand, YesCopiesTheOldFileOnceAndLaterSavesDoNotAsk) {
  const std::vector<uint8_t> changed = OpenAndChange("OBJ_TEX.PVM");
  messages.answers = {platform::Answer::Yes};
  form->mnuSave_Click();
  EXPECT_EQ(ReadBytes(dir.File("OBJ_TEX.BAK")), original);
  EXPECT_EQ(ReadBytes(path), changed);
  EXPECT_EQ(messages.shown.size(), 1u);  // the question only; a save has no message of its own

  // A second change and save: no question, and the backup keeps the first content.
  entries[0].data = Texels(std::vector<uint16_t>(64, 0x0F0F));
  TextureOfRow(0)->SetPVRData(8 + 128, 1, 9, 8, 8, entries[0].data);
  messages.shown.clear();
  form->mnuSave_Click();
  EXPECT_TRUE(messages.shown.empty());
  EXPECT_EQ(ReadBytes(path), archive_builder::BuildArchive(entries));
  EXPECT_EQ(ReadBytes(dir.File("OBJ_TEX.BAK")), original);
}

TEST_F(SaveCommand, BackupNameReplacesTheLastThreeCharacters) {
  OpenAndChange("x.pvmz");
  messages.answers = {platform::Answer::Yes};
  form->mnuSave_Click();
  EXPECT_EQ(ReadBytes(dir.File("x.pBAK")), original);
}

TEST_F(SaveCommand, AFailedBackupCopyIsReportedAndTheArchiveIsNotWritten) {
  OpenAndChange("a.pvm");
  fs::create_directory(dir.File("a.BAK"));  // a folder: no backup file, and none can be made
  messages.answers = {platform::Answer::Yes};
  form->mnuSave_Click();
  ASSERT_EQ(messages.shown.size(), 2u);
  const std::string& told = messages.shown[1].text;
  EXPECT_NE(told.find("not saved"), std::string::npos) << told;
  EXPECT_NE(told.find(path), std::string::npos) << told;
  EXPECT_NE(told.find(dir.File("a.BAK")), std::string::npos) << told;
  EXPECT_EQ(ReadBytes(path), original);
}

TEST_F(SaveCommand, AFailedWriteIsReportedAndTheFileKeepsItsBytes) {
  OpenAndChange("a.pvm");
  messages.answers = {platform::Answer::No};
  const platform::ReplaceFaultHook previous =
      platform::SetReplaceFaultHook([](platform::ReplaceStep step) {
        return step == platform::ReplaceStep::Write ? 28 /* ENOSPC */ : 0;
      });
  form->mnuSave_Click();
  platform::SetReplaceFaultHook(previous);
  EXPECT_EQ(messages.shown.size(), 2u);  // the question, then the failure
  EXPECT_EQ(ReadBytes(path), original);
}

using HelpCommand = EditorTest;

TEST_F(HelpCommand, OpensDocsHtmlInTheDataFolder) {
  form->DataFolder = dir.Folder() + "share";
  form->mnuHelp->trigger();
  ASSERT_EQ(helpOpened.size(), 1u);
  EXPECT_EQ(helpOpened[0], dir.Folder() + "share/docs.html");
  EXPECT_TRUE(messages.shown.empty());
}

TEST_F(HelpCommand, AMissingPageStaysSilent) {
  Form1::SetHelpOpener({});  // the desktop's viewer
  form->DataFolder = dir.Folder() + "nowhere";
  form->mnuHelp_Click();
  EXPECT_TRUE(messages.shown.empty());
}

}  // namespace
}  // namespace apptest
