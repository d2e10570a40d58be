// The commands that reshape an archive (Add, Remove, Rename, Move, Properties, New, Save As,
// Extract), the size question on import, texture packs and About, each checked against what
// the same core calls give, as quarnel-cli makes them.
#include "AppTestSupport.h"
#include "app/About.h"
#include "archive/TexturePack.h"
#include "platform/Files.h"
#include "texture/PictureFiles.h"

namespace apptest {
namespace {

using BatchFiles::SizeChoice;

class EntryCommands : public EditorTest {
 protected:
  // Rows one (RGB565), two (ARGB4444), three (RGB565), all 8 x 8 rectangles.
  void OpenThree() {
    path = WriteArchive("a.pvm", {Plain("one", 1, 8, 8, 0x1111), Plain("two", 2, 8, 8, 0x2222),
                                  Plain("three", 1, 8, 8, 0x3333)});
    Open(path);
    core = *Archive::Open(path);
  }
  std::string WritePng(const std::string& name, int width, int height, QColor colour) {
    QImage picture(width, height, QImage::Format_ARGB32);
    picture.fill(colour);
    const std::string file = dir.File(name);
    picture.save(QString::fromStdString(file));
    return file;
  }
  // A fresh window and script for the next case of a table.
  void Restart() {
    TearDown();
    messages = {};
    sizeQuestions.clear();
    editProperties = nullptr;
    SetUp();
  }
  // Saves the window's archive (no backup) and gives its bytes.
  std::vector<uint8_t> SavedInWindow() {
    messages.answers = {Answer::No};
    Run("saveArchive");
    return ReadBytes(window->archivePath());
  }
  std::vector<uint8_t> SavedFromCore(const Archive& archive) {
    const std::string file = dir.File("core.pvm");
    EXPECT_FALSE(archive.Save(file));
    return ReadBytes(file);
  }
  static Archive::Entry EntryOf(const std::string& png, const std::string& name, const FormatChoice::Choice& choice) {
    Archive::Entry entry;
    entry.name = name;
    entry.texture = *FormatChoice::Make(PictureFiles::Read(png, "")->image, choice);
    return entry;
  }

  std::string path;
  Archive core;
};

struct EntryCase {
  const char* what;
  std::function<void()> inWindow;
  std::function<void(Archive&, const std::string& folder)> inCore;
  int selectedAfter;
  std::vector<std::string> said;
  bool changes = true;
};

TEST_F(EntryCommands, EachOperationSavesWhatTheCoreCallsGive) {
  const FormatChoice::Choice argb4444{2, std::nullopt, std::nullopt};
  const std::vector<EntryCase> cases = {
      {"add a picture and a .pvr after the selected row",
       [&] {
         WriteBytes(dir.File("three.pvr"), *core.ExtractPvr(2));
         WritePng("red.png", 8, 8, Qt::red);
         formatsAnswer = argb4444;
         Drive().SelectRow(0);
         chosenPaths = {dir.File("red.png") + "\n" + dir.File("three.pvr")};
         Run("addTextures");
       },
       [&](Archive& a, const std::string& folder) {
         a.Insert(1, EntryOf(folder + "red.png", "red", argb4444), "a.pvm");
         a.Insert(2, *Archive::FromPvr(ReadBytes(folder + "three.pvr"), "three"), "a.pvm");
         a.Entries()[2].name = "three";
       },
       2, {"Added 2 textures to a.pvm\nNote: another entry is named \"three\" too."}},
      {"remove the selected row",
       [this] { Drive().SelectRow(1), messages.answers = {Answer::Yes}, Run("removeEntry"); },
       [](Archive& a, const std::string&) { a.Remove(1); }, 1, {"Remove the texture \"two\" from a.pvm?"}},
      {"rename", [this] { Drive().SelectRow(2), nameAnswer = "stone", Run("renameEntry"); },
       [](Archive& a, const std::string&) { a.Rename(2, "stone"); }, 2, {}},
      {"a refused name changes nothing",
       [this] { Drive().SelectRow(2), nameAnswer = "", Run("renameEntry"); },
       [](Archive&, const std::string&) {}, 2, {"A texture needs a name."}, false},
      {"move up by its keys, which the list must not take for itself",
       [this] {
         window->activateWindow();
         ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
         Drive().SelectRow(2);
         QTest::keyClick(Drive().List(), Qt::Key_Up, Qt::ControlModifier);
       },
       [](Archive& a, const std::string&) { a.Move(2, 1); }, 1, {}},
      {"move down", [this] { Drive().SelectRow(0), Run("moveEntryDown"); },
       [](Archive& a, const std::string&) { a.Move(0, 1); }, 1, {}},
      {"properties: name, index and formats",
       [this] {
         Drive().SelectRow(0);
         editProperties = [](EntryDialogs::Properties p) {
           EXPECT_EQ(p, (EntryDialogs::Properties{"one", std::nullopt, 1, 9, false, 8, 8}));
           p.name = "first", p.globalIndex = 77, p.pixelFormat = 2, p.dataFormat = 1, p.mipmaps = true;
           return std::optional(p);
         };
         Run("editProperties");
       },
       [](Archive& a, const std::string&) {
         a.Rename(0, "first");
         a.SetGlobalIndex(0, 77);
         a.Replace(0, *FormatChoice::Convert(a.Entries()[0].texture, {2, 1, true}));
       },
       0, {}},
      {"properties refused as a whole",
       [this] {
         Drive().SelectRow(0);
         editProperties = [](EntryDialogs::Properties p) {
           p.name = "first", p.mipmaps = true;  // a rectangle has no mipmaps
           return std::optional(p);
         };
         Run("editProperties");
       },
       [](Archive&, const std::string&) {}, 0, {"Nothing was changed: A rectangle texture has no mipmaps."}, false},
  };
  for (const EntryCase& c : cases) {
    SCOPED_TRACE(c.what);
    Restart();
    OpenThree();
    c.inWindow();
    c.inCore(core, dir.Folder());
    EXPECT_EQ(messages.Texts(), c.said);
    std::vector<std::string> names;
    for (const Archive::Entry& e : core.Entries()) names.push_back(e.name);
    EXPECT_EQ(Drive().Rows(), names);
    EXPECT_EQ(Drive().SelectedRow(), c.selectedAfter);
    EXPECT_EQ(window->isWindowModified(), c.changes);
    EXPECT_EQ(SavedInWindow(), SavedFromCore(core));
  }
}

TEST_F(EntryCommands, NewSavesThroughSaveAsAndExtractAsksBeforeReplacing) {
  Run("newArchive");
  EXPECT_EQ(window->windowTitle(), "Untitled[*] - Quarnel");
  chosenPaths = {WritePng("red.png", 8, 8, Qt::red)};
  Run("addTextures");
  const std::string saved = dir.File("new.pvm");
  chosenPaths = {saved};
  Run("saveArchive");  // untitled: Save asks where
  EXPECT_EQ(dialogRequests.back().title, "Save Archive As");
  Archive expected = Archive::New();
  expected.Insert(0, EntryOf(dir.File("red.png"), "red", {}), "Untitled");
  EXPECT_EQ(ReadBytes(saved), SavedFromCore(expected));
  EXPECT_EQ(window->archivePath(), saved);
  EXPECT_FALSE(window->isWindowModified());

  const std::string pvr = dir.File("red.pvr");
  chosenPaths = {pvr, pvr};
  Run("extractPvr");
  EXPECT_EQ(ReadBytes(pvr), *expected.ExtractPvr(0));
  WriteBytes(pvr, {1, 2, 3});
  messages.shown.clear();
  Run("extractPvr");  // the replace question answered No
  EXPECT_EQ(messages.shown.at(0).title, "Hold up!");
  EXPECT_EQ(ReadBytes(pvr), (std::vector<uint8_t>{1, 2, 3}));
}

TEST_F(EntryCommands, AnImportOfAnotherSizeAsksWhatToDo) {
  const struct {
    std::optional<SizeChoice> answer;
    int16_t width;
  } cases[] = {{std::nullopt, 8}, {SizeChoice::Keep, 8}, {SizeChoice::Picture, 16}, {SizeChoice::Scale, 8}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.answer ? int(*c.answer) : -1);
    Restart();
    OpenThree();
    Drive().ShowRow(1);
    const std::string png = WritePng("big.png", 16, 16, Qt::blue);
    chosenPaths = {png};
    sizeAnswer = c.answer;
    Run("importTexture");
    ASSERT_EQ(sizeQuestions.size(), 1u);
    EXPECT_EQ(sizeQuestions[0].picture, png);
    const EntryDialogs::SizeQuestion& q = sizeQuestions[0];
    EXPECT_EQ((std::array{q.pictureWidth, q.pictureHeight, q.textureWidth, q.textureHeight}),
              (std::array<int32_t, 4>{16, 16, 8, 8}));
    Texture expected = core.Entries()[1].texture;
    if (c.answer) BatchFiles::ImportPicture(expected, 1, *PictureFiles::Read(png, ""), png, {[](auto&) {}, [](auto&) {}}, *c.answer);
    const Texture& got = window->archive()->Entries()[1].texture;
    EXPECT_EQ(got.width, c.width);
    EXPECT_EQ(got.data, expected.data);
    EXPECT_EQ(window->isWindowModified(), c.answer.has_value());
  }
}

TEST_F(EntryCommands, APackExportedAndReadBackGivesThePicturesAgain) {
  const std::string archive = WriteArchive(
      "a.pvm", {{"halves", 0, 9, 8, 4, HalfRedHalfGreen("", 8, 4).data, 1000}, {"plain", 2, 9, 4, 4, Plain("", 2, 4, 4, 0x8C3F).data, 1001}});
  for (const std::string& chosen : {dir.File("pack.pvmx"), dir.File("folder/index.txt")}) {
    SCOPED_TRACE(chosen);
    Open(archive);
    const Archive original = *Archive::Open(archive);
    chosenPaths = {chosen};
    Run("exportTexturePack");
    chosenPaths = {chosen};
    Run("newArchiveFromPack");
    EXPECT_EQ(window->windowTitle(), "Untitled[*] - Quarnel");
    EXPECT_TRUE(window->isWindowModified());
    ASSERT_EQ(Drive().Rows(), (std::vector<std::string>{"halves", "plain"}));
    for (size_t row = 0; row < 2; ++row) {
      EXPECT_EQ(window->archive()->Entries()[row].globalIndex, original.Entries()[row].globalIndex);
      EXPECT_EQ(window->archive()->Entries()[row].texture.Decode(), original.Entries()[row].texture.Decode());
    }
    messages.answers = {Answer::Discard};
  }
  EXPECT_EQ(messages.Texts().at(0), "Exported 2 textures to " + dir.File("pack.pvmx"));

  // An update from a pack whose picture is larger asks the size question once and scales.
  Open(archive);
  std::filesystem::create_directories(dir.File("hd"));
  WriteBytes(dir.File("hd/index.txt"), {'1', '0', '0', '1', ',', 'b', '.', 'p', 'n', 'g', '\n'});
  WritePng("hd/b.png", 16, 16, Qt::white);
  sizeAnswer = SizeChoice::Scale;
  chosenPaths = {dir.File("hd/index.txt")};
  messages.shown.clear();
  Run("updateFromPack");
  EXPECT_EQ(sizeQuestions.size(), 1u);
  EXPECT_EQ(messages.Texts(), std::vector<std::string>{"Imported 1 texture from " + dir.File("hd")});
  EXPECT_EQ(window->archive()->Entries()[1].texture.width, 4);
  EXPECT_TRUE(window->isWindowModified());

  // A picture that matches no entry is added only when the user says so, as --add does.
  WriteBytes(dir.File("hd/index.txt"), {'7', ',', 'b', '.', 'p', 'n', 'g', '\n'});
  for (const Answer answer : {Answer::No, Answer::Yes}) {
    chosenPaths = {dir.File("hd/index.txt")};
    messages.answers = {answer};
    Run("updateFromPack");
  }
  ASSERT_EQ(window->archive()->EntryCount(), 3u);
  EXPECT_EQ(window->archive()->Entries()[2].globalIndex, 7u);
}

TEST_F(EntryCommands, AboutShowsTheAboutText) {
  Run("showAbout");
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].title, "About Quarnel");
  EXPECT_EQ(messages.shown[0].text, AboutText().toStdString());
}

}  // namespace
}  // namespace apptest
