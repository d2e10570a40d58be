// The entry list: thumbnails made in the background for every row and made again when a
// texture changes, the filter and the commands that act through it, the list and the grid.
#include <QLineEdit>

#include "AppTestSupport.h"
#include "app/ArchiveModel.h"
#include "app/ThumbnailLoader.h"

namespace apptest {
namespace {

class EntryList : public EditorTest {
 protected:
  ArchiveModel& Model() const { return *window->archiveModel(); }
  // Waits until every row has the thumbnail of its texture as it is now.
  void WaitForThumbnails() { QTRY_COMPARE_WITH_TIMEOUT(Model().thumbnailsPending(), 0, 10000); }
  QImage Thumbnail(int archiveRow) const {
    return Model().index(archiveRow).data(Qt::DecorationRole).value<QImage>();
  }
  void Filter(const char* text) { QTest::keyClicks(window->entryFilter(), text); }
  QAction* Action(const char* name) const { return window->findChild<QAction*>(name); }
};

TEST(ThumbnailSize, ShrinksKeepingTheAspectAndEnlargesByWholeFactors) {
  struct Case {
    QSize picture;
    int side;
    QSize thumbnail;
  };
  for (const Case& c : std::vector<Case>{{{256, 64}, 64, {64, 16}},
                                         {{1024, 8}, 64, {64, 1}},
                                         {{64, 64}, 64, {64, 64}},
                                         {{4, 4}, 64, {64, 64}},
                                         {{40, 40}, 64, {40, 40}},
                                         {{3, 5}, 64, {36, 60}},
                                         {{8, 4}, 128, {128, 64}},
                                         {{8, 4}, 0, {}}})
    EXPECT_EQ(ThumbnailLoader::Fit(c.picture, c.side), c.thumbnail) << c.picture.width() << "x" << c.picture.height();
}

TEST_F(EntryList, EveryRowGetsItsThumbnailOverTheCheckerboard) {
  Open(WriteArchive("a.pvm", {HalfRedHalfGreen("halves", 16, 16), Plain("wide", 1, 256, 64, 0x001F),
                              {"short", 1, 9, 2048, 2048, Texels({1, 2})}}));
  EXPECT_EQ(Model().index(1).data(ArchiveModel::DetailsRole).toString(), "256x64, RGB565, rectangle");
  WaitForThumbnails();
  const QImage halves = Thumbnail(0), wide = Thumbnail(1);
  ASSERT_EQ(halves.size(), QSize(64, 64));
  EXPECT_EQ(halves.pixel(4, 4), qRgb(248, 0, 0));
  EXPECT_EQ(halves.pixel(40, 4), qRgb(192, 192, 192));  // transparent: the grey cell
  EXPECT_EQ(halves.pixel(40, 12), qRgb(255, 255, 255));  // and the white one
  ASSERT_EQ(wide.size(), QSize(64, 16));
  EXPECT_EQ(wide.pixel(30, 8), qRgb(0, 0, 248));
  EXPECT_TRUE(Thumbnail(2).isNull());  // cannot be decoded: none, and nothing left to wait for
  // Other checkerboard colours, as Preferences sets them, make every thumbnail again.
  Model().setCheckerColours(QColor(255, 0, 0), QColor(0, 0, 255));
  WaitForThumbnails();
  EXPECT_EQ(Thumbnail(0).pixel(40, 4), qRgb(0, 0, 255));
}

TEST_F(EntryList, ChangedTexturesGetNewThumbnailsAndAnEarlierArchivesAreDropped) {
  // Large enough that the first archive's thumbnails are still being made when the second
  // one opens; none of them may ever show in it, even for a moment.
  Open(WriteArchive("reds.pvm", std::vector(3, Plain("red", 1, 1024, 1024, 0xF800))));
  std::vector<archive_builder::Entry> blues;
  for (int i = 0; i < 40; ++i) blues.push_back(Plain("blue" + std::to_string(i), 1, 128, 128, 0x001F));
  Open(WriteArchive("blues.pvm", blues));
  int reds = 0;
  QObject::connect(&Model(), &ArchiveModel::dataChanged, window.get(), [&](const QModelIndex& at) {
    const QImage thumbnail = Thumbnail(at.row());
    reds += !thumbnail.isNull() && thumbnail.pixel(8, 8) == qRgb(248, 0, 0);
  });
  WaitForThumbnails();
  EXPECT_EQ(reds, 0);
  for (int row = 0; row < 40; ++row) ASSERT_EQ(Thumbnail(row).pixel(8, 8), qRgb(0, 0, 248)) << row;

  Drive().ShowRow(3);
  chosenPaths = {WriteBmp("green.bmp", 128, 128, QColor(0, 255, 0))};
  Run("importTexture");
  EXPECT_EQ(Model().thumbnailsPending(), 1);
  WaitForThumbnails();
  EXPECT_EQ(Thumbnail(3).pixel(8, 8), qRgb(0, 252, 0));
  EXPECT_EQ(Thumbnail(4).pixel(8, 8), qRgb(0, 0, 248));
}

TEST_F(EntryList, TheFilterNarrowsByNameAndCommandsActOnTheEntryItShows) {
  // Each entry of its own size, so an export tells which one it took.
  const auto open = [this] {
    TearDown();  // a fresh window, with nothing unsaved to ask about
    SetUp();
    Open(WriteArchive("a.pvm", {Plain("Grass", 1, 8, 8, 0), Plain("rock", 1, 16, 8, 0),
                                Plain("GRAVEL", 1, 32, 8, 0), Plain("sand", 1, 4, 4, 0)}));
    Filter("gRa");
    ASSERT_EQ(Drive().Rows(), (std::vector<std::string>{"Grass", "GRAVEL"}));
    Drive().SelectRow(1);  // GRAVEL, the archive's row 2
  };
  struct Case {
    const char* command;
    std::function<void()> answer;
    std::vector<std::string> names;
  };
  const std::vector<Case> cases = {
      {"removeEntry", [this] { messages.answers = {Answer::Yes}; }, {"Grass", "rock", "sand"}},
      {"renameEntry", [this] { nameAnswer = "gravel2"; }, {"Grass", "rock", "gravel2", "sand"}},
      {"moveEntryUp", [] {}, {"GRAVEL", "Grass", "rock", "sand"}},
      {"moveEntryDown", [] {}, {"Grass", "rock", "GRAVEL", "sand"}},  // already last shown
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    open();
    c.answer();
    Run(c.command);
    std::vector<std::string> names;
    for (const Archive::Entry& e : window->archive()->Entries()) names.push_back(e.name);
    EXPECT_EQ(names, c.names);
  }
  open();
  EXPECT_EQ(Drive().ShownSize(), QSize(32, 8));
  chosenPaths = {dir.File("out.bmp")};
  Run("exportTexture");
  EXPECT_EQ(ReadBytes(dir.File("out.bmp")).at(18), 32);
  // Adding selects the new entry, which the filter would hide: the filter goes.
  chosenPaths = {WriteBmp("new.bmp", 8, 8, Qt::red)};
  Run("addTextures");
  EXPECT_EQ(window->entryFilter()->text(), "");
  EXPECT_EQ(Drive().Rows().size(), 5u);
  EXPECT_EQ(Drive().SelectedRow(), 3);
}

TEST_F(EntryList, ListAndGridSwitchAndKeepThumbnailsWithinTheirSize) {
  Open(WriteArchive("a.pvm", {Plain("big", 1, 256, 256, 0xF800), Plain("small", 1, 8, 8, 0x07E0)}));
  const auto largest = [this] { return std::max(Thumbnail(0).width(), Thumbnail(0).height()); };
  QAction* list = Action("showAsList");
  QAction* grid = Action("showAsGrid");
  ASSERT_TRUE(list && grid);
  EXPECT_TRUE(list->isChecked());
  WaitForThumbnails();
  EXPECT_EQ(largest(), 64);

  Run("showAsGrid");
  EXPECT_TRUE(grid->isChecked());
  EXPECT_FALSE(list->isChecked());
  EXPECT_EQ(Drive().List()->viewMode(), QListView::IconMode);
  WaitForThumbnails();
  EXPECT_EQ(largest(), 128);
  EXPECT_EQ(Thumbnail(1).size(), QSize(128, 128));

  Run("showAsList");
  EXPECT_EQ(Drive().List()->viewMode(), QListView::ListMode);
  EXPECT_LE(largest(), 64);  // the grid's larger ones went at once
  WaitForThumbnails();
  EXPECT_EQ(largest(), 64);

  window->setThumbnailSize(0);
  EXPECT_TRUE(Thumbnail(0).isNull());
  EXPECT_EQ(Drive().Rows(), (std::vector<std::string>{"big", "small"}));
}

}  // namespace
}  // namespace apptest
