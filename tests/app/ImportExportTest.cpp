// Import and Export of one texture (from the view's menu and by drops), Export all and
// Import all, and a newcomer's whole round trip on the sample archive.
#include <QMimeData>
#include <QProgressDialog>
#include <QScrollArea>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <set>

#include "AppTestSupport.h"
#include "platform/Files.h"
#include "texture/PictureFiles.h"

namespace apptest {
namespace {

const FileDialogs::Filter kBmpFilter{"BMP Files", "*.bmp"};
const std::vector<FileDialogs::Filter> kPictureFilters{{"PNG Files", "*.png"}, kBmpFilter};

// The RGBA bytes of a PNG file.
std::vector<uint8_t> PngRgba(const std::string& path) {
  Expected<PictureFiles::Picture> picture = PictureFiles::Read(path, "");
  if (!picture) return {};
  return {picture->image.rgba.begin(), picture->image.rgba.end()};
}

class ImportExport : public EditorTest {
 protected:
  // Row 0: 8 x 4 ARGB1555, left half opaque red, right half transparent green.
  // Row 1: 4 x 4 ARGB4444 of one texel, shown nowhere until a test shows it.
  void OpenTwo() {
    Open(WriteArchive("a.pvm", {HalfRedHalfGreen("halves", 8, 4), Plain("plain", 2, 4, 4, 0x8C3F)}));
    dialogRequests.clear();
  }

  void ExpectOnly(const std::string& text) {
    ASSERT_EQ(messages.Texts(), std::vector<std::string>{text});
    messages.shown.clear();
  }
  void ExpectSelectionWarning() { ExpectOnly("Please select a texture before Importing/Exporting"); }

  // A drop of one file at a point of the window, which the window must accept.
  void Drop(const std::string& path, QPoint at) {
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(path))});
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &drop);
  }
  QPoint OverTheView() const { return window->viewArea()->mapTo(window.get(), QPoint(5, 5)); }
  QPoint OverTheList() const { return window->entryList()->mapTo(window.get(), QPoint(5, 5)); }
};

TEST_F(ImportExport, BothWarnUntilARowWasShown) {
  OpenTwo();  // nothing selected, so nothing shown
  Run("exportTexture");
  ExpectSelectionWarning();
  Run("importTexture");
  ExpectSelectionWarning();
  // After Release Export warns and Import, with no rows, does nothing.
  Drive().ShowRow(0);
  Run("releaseArchive");
  Run("importTexture");
  Run("exportTexture");
  ExpectSelectionWarning();
  EXPECT_TRUE(dialogRequests.empty());
}

TEST_F(ImportExport, ExportWritesTheCurrentViewAndAsksBeforeReplacing) {
  OpenTwo();
  Drive().ShowRow(0);
  const std::string image = dir.File("image.bmp"), mask = dir.File("mask.bmp");
  Run("exportTexture");  // cancelled
  EXPECT_FALSE(platform::FileExists(image));
  chosenPaths = {image};
  Run("exportTexture");
  ASSERT_EQ(dialogRequests.size(), 2u);
  const FileDialogs::Request& r = dialogRequests[1];
  EXPECT_EQ(r.owner, window.get());
  EXPECT_EQ(r.kind, FileDialogs::Kind::Save);
  EXPECT_EQ(r.title, "Export Image");
  EXPECT_EQ(r.filters, kPictureFilters);
  EXPECT_EQ(r.initialDir, dir.Folder());
  EXPECT_EQ(r.defaultExt, "png");

  window->setView(TextureView::Mode::Mask);
  chosenPaths = {mask};
  Run("exportTexture");
  EXPECT_EQ(dialogRequests.back().title, "Export Mask");
  EXPECT_TRUE(messages.shown.empty());

  const std::vector<uint8_t> imageBmp = ReadBytes(image), maskBmp = ReadBytes(mask);
  ASSERT_GE(imageBmp.size(), 54u + 4 * 24);
  ASSERT_GE(maskBmp.size(), 54u + 4 * 24);
  EXPECT_EQ(imageBmp[28], 24);
  EXPECT_EQ(BmpPixel(imageBmp, 0, 0), QColor(248, 0, 0));
  EXPECT_EQ(BmpPixel(imageBmp, 7, 3), QColor(0, 248, 0));
  EXPECT_EQ(BmpPixel(maskBmp, 0, 0), QColor(255, 0, 0));
  EXPECT_EQ(BmpPixel(maskBmp, 7, 3), QColor(0, 0, 0));

  // Over an existing file: No keeps it, Yes replaces it.
  for (const Answer answer : {Answer::No, Answer::Yes}) {
    WriteBytes(mask, {1, 2, 3});
    chosenPaths = {mask};
    messages.answers = {answer};
    Run("exportTexture");
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].text, "Do you want to over write the file:\n\n" + mask);
    EXPECT_EQ(messages.shown[0].title, "Hold up!");
    EXPECT_EQ(messages.shown[0].buttons, MessageBoxes::Buttons::YesNo);
    EXPECT_EQ(messages.shown[0].icon, Icon::Question);
    EXPECT_EQ(ReadBytes(mask) == maskBmp, answer == Answer::Yes);
    messages.shown.clear();
  }
}

TEST_F(ImportExport, ExportDecodesTheSelectedRowAndRefusesWhatCannotBeDecoded) {
  // 2048 x 2048 claimed over one texel: more than its data can justify.
  Open(WriteArchive("a.pvm", {HalfRedHalfGreen("halves", 8, 4), Plain("plain", 2, 4, 4, 0x8C3F),
                              {"short", 1, 9, 2048, 2048, Texels({1, 2})}}));
  Drive().ShowRow(0);
  Drive().SelectRow(1);
  const std::string out = dir.File("plain.bmp");
  chosenPaths = {out};
  Run("exportTexture");
  const std::vector<uint8_t> bmp = ReadBytes(out);
  ASSERT_GE(bmp.size(), 54u);
  EXPECT_EQ(bmp[18], 4);  // the row's own texture, not the one in the view
  // 0x8C3F: alpha 8, red 12, green 3, blue 15.
  EXPECT_EQ(BmpPixel(bmp, 2, 2), QColor(192, 48, 240));
  EXPECT_EQ(Drive().ShownSize(), QSize(4, 4));  // selecting it showed it

  dialogRequests.clear();
  Drive().SelectRow(2);
  Run("exportTexture");
  ExpectOnly("The texture \"short\" cannot be decoded, so there is nothing to export.");
  EXPECT_TRUE(dialogRequests.empty());
}

TEST_F(ImportExport, ImportWithAMaskEncodesAndRedraws) {
  OpenTwo();
  Drive().ShowRow(0);
  const std::string image = dir.File("in.bmp"), mask = dir.File("in_mask.bmp");
  WriteBytes(image, Bmp24(8, 4, [](int x, int) { return x < 4 ? QColor(0, 0, 255) : QColor(255, 255, 255); }));
  WriteBytes(mask, Bmp24(8, 4, [](int, int y) { return y < 2 ? QColor(255, 0, 0) : QColor(0, 0, 0); }));
  chosenPaths = {image, mask};
  Run("importTexture");

  ASSERT_EQ(dialogRequests.size(), 2u);
  EXPECT_EQ(dialogRequests[0].title, "Import Image");
  EXPECT_EQ(dialogRequests[0].filters, kPictureFilters);
  EXPECT_EQ(dialogRequests[0].defaultExt, "png");
  EXPECT_EQ(dialogRequests[1].title, "Import Mask (Optional! Cancel to skip)");
  EXPECT_EQ(dialogRequests[1].filters, std::vector{kBmpFilter});
  EXPECT_EQ(dialogRequests[1].defaultExt, "bmp");
  for (const auto& r : dialogRequests) {
    EXPECT_EQ(r.kind, FileDialogs::Kind::Open);
    EXPECT_EQ(r.initialDir, dir.Folder());
  }

  const UnzeroedBytes& data = Drive().DataOfRow(0);
  EXPECT_EQ(TexelAt(data, 0), 0x801F);          // blue, opaque
  EXPECT_EQ(TexelAt(data, 7), 0xFFFF);          // white, opaque
  EXPECT_EQ(TexelAt(data, 3 * 8 + 0), 0x001F);  // blue, transparent
  EXPECT_EQ(TexelAt(data, 3 * 8 + 7), 0x7FFF);  // white, transparent
  EXPECT_TRUE(window->isWindowModified());
  EXPECT_EQ(Drive().Grab().pixel(0, 0), qRgb(0, 0, 248));
  window->setView(TextureView::Mode::Mask);
  EXPECT_EQ(Drive().Grab().pixel(0, 3), qRgb(0, 0, 0));
  EXPECT_EQ(Drive().Grab().pixel(0, 0), qRgb(255, 0, 0));
}

TEST_F(ImportExport, ImportWithoutAMaskKeepsEachTexelsAlphaAndActsOnTheSelectedRow) {
  OpenTwo();
  Drive().ShowRow(1);
  Drive().SelectRow(0);  // the import acts on row 0, the row selected
  const UnzeroedBytes row0 = Drive().DataOfRow(0), row1 = Drive().DataOfRow(1);
  Run("importTexture");  // the picture dialog is cancelled
  EXPECT_EQ(Drive().DataOfRow(0), row0);
  chosenPaths = {WriteBmp("red.bmp", 8, 4, QColor(255, 0, 0))};  // the mask dialog is cancelled
  Run("importTexture");
  EXPECT_EQ(dialogRequests.size(), 3u);
  // Red everywhere; the left half stays opaque, the right half transparent.
  for (size_t n = 0; n < 32; ++n) ASSERT_EQ(TexelAt(Drive().DataOfRow(0), n), n % 8 < 4 ? 0xFC00 : 0x7C00) << n;
  EXPECT_EQ(Drive().DataOfRow(1), row1);
  EXPECT_EQ(Drive().ShownSize(), QSize(8, 4));  // row 0 is shown now
}

TEST_F(ImportExport, APngExportHoldsImageAndAlphaAndItsImportAsksForNoMask) {
  OpenTwo();
  Drive().ShowRow(0);
  window->setView(TextureView::Mode::Mask);  // a PNG holds both all the same
  chosenPaths = {dir.File("halves.PNG")};
  Run("exportTexture");
  const std::vector<uint8_t> rgba = PngRgba(dir.File("halves.PNG"));
  ASSERT_EQ(rgba.size(), 8u * 4 * 4);
  EXPECT_EQ(std::vector<uint8_t>(rgba.begin() + 12, rgba.begin() + 20),
            (std::vector<uint8_t>{248, 0, 0, 255, 0, 248, 0, 0}));

  // Into the 4 x 4 ARGB4444 row: its top-left part, opaque red, the PNG's alpha taken.
  Drive().ShowRow(1);
  dialogRequests.clear();
  chosenPaths = {dir.File("halves.PNG")};
  Run("importTexture");
  EXPECT_EQ(dialogRequests.size(), 1u);
  for (size_t n = 0; n < 16; ++n) ASSERT_EQ(TexelAt(Drive().DataOfRow(1), n), 0xFF00) << n;
}

// A format without alpha bits decodes opaque: the alpha view shows its colours, the mask
// view and the mask export are black, and its PNG export is opaque.
TEST_F(ImportExport, AnRgb565TextureIsOpaqueInTheAlphaViewAndItsPng) {
  Open(WriteArchive("o.pvm", {Plain("blue", 1, 16, 16, 0x001F)}));
  Drive().ShowRow(0);
  const std::vector<std::pair<TextureView::Mode, QRgb>> views = {
      {TextureView::Mode::Alpha, qRgb(0, 0, 248)}, {TextureView::Mode::Mask, qRgb(0, 0, 0)}};
  for (const auto& [mode, expected] : views) {
    window->setView(mode);
    const QImage shot = Drive().Grab();
    EXPECT_EQ(shot.pixel(2, 2), expected);
    EXPECT_EQ(shot.pixel(10, 2), expected);
  }
  chosenPaths = {dir.File("blue.png"), dir.File("blue_mask.bmp")};
  Run("exportTexture");
  Run("exportTexture");
  const std::vector<uint8_t> rgba = PngRgba(dir.File("blue.png"));
  ASSERT_EQ(rgba.size(), 16u * 16 * 4);
  for (size_t i = 0; i < rgba.size(); i += 4) ASSERT_EQ(rgba[i + 3], 255) << i / 4;
  EXPECT_EQ(BmpPixel(ReadBytes(dir.File("blue_mask.bmp")), 3, 3), QColor(0, 0, 0));
}

TEST_F(ImportExport, ARefusedPictureIsNeitherEncodedNorShown) {
  OpenTwo();
  Drive().ShowRow(0);
  const UnzeroedBytes before = Drive().DataOfRow(0);
  const std::string eightBit = dir.File("8bit.bmp");
  WriteBytes(eightBit, Bmp24(8, 4, [](int, int) { return QColor(1, 2, 3); }, 8));
  for (const std::string& picture : {eightBit, dir.File("missing.bmp")}) {
    SCOPED_TRACE(picture);
    chosenPaths = {picture};
    Run("importTexture");
    EXPECT_EQ(messages.shown.size(), 1u);  // the core's words
    EXPECT_EQ(Drive().DataOfRow(0), before);
    EXPECT_EQ(Drive().Grab().pixel(0, 0), qRgb(248, 0, 0));
    EXPECT_FALSE(window->isWindowModified());
    messages.shown.clear();
  }
  EXPECT_EQ(Drive().DataOfRow(0), before);
}

TEST_F(ImportExport, ImportIntoATextureTheCodecCannotEncodeSaysWhyAndAsksForNoFile) {
  // Data format 15 has no codec; a mipmapped 4 x 4 texture takes 44 bytes, not 32.
  const auto data = TexelsOf(16, [](size_t) { return uint16_t(0x1234); });
  Open(WriteArchive("x.pvm", {{"other", 2, 15, 4, 4, data}, {"short", 1, 2, 4, 4, data}}));
  dialogRequests.clear();
  for (const auto& [row, why] : {std::pair{0, "\"other\" is stored in a format Quarnel does not encode ("},
                                 std::pair{1, "holds 32 data bytes where its format"}}) {
    Drive().ShowRow(row);
    Run("importTexture");
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_NE(messages.shown[0].text.find(why), std::string::npos) << messages.shown[0].text;
    messages.shown.clear();
  }
  EXPECT_TRUE(dialogRequests.empty());
}

TEST_F(ImportExport, DropsOpenArchivesAndImportIntoTheShownTexture) {
  Drop(WriteArchive("drop.pvm", {Plain("one", 1, 4, 4, 0xF800)}), OverTheList());
  EXPECT_EQ(Drive().Rows(), std::vector<std::string>{"one"});
  const std::string bmp = WriteBmp("white.BMP", 4, 4, Qt::white);

  Drop(bmp, OverTheView());  // nothing shown yet
  ExpectSelectionWarning();

  Drive().ShowRow(0);
  Drop(bmp, OverTheView());  // answered No
  ExpectOnly("Import white.BMP into the texture \"one\"?");
  EXPECT_EQ(TexelAt(Drive().DataOfRow(0), 0), 0xF800);
  messages.answers = {Answer::Yes};
  Drop(bmp, OverTheView());
  EXPECT_EQ(TexelAt(Drive().DataOfRow(0), 0), 0xFFFF);
  EXPECT_TRUE(window->isWindowModified());
  // A picture dropped on the list is not meant for the texture.
  messages.shown.clear();
  Drop(bmp, OverTheList());
  EXPECT_TRUE(messages.shown.empty());
}

TEST_F(ImportExport, ExportAllAsksBeforeReplacingAndImportAllTakesItBack) {
  const std::string archive = WriteArchive("a.pvm", {Plain("one", 1, 4, 4, 0xF800), Plain("b/c", 1, 4, 4, 0)});
  Run("exportAll");
  ExpectOnly("There is no archive loaded.");
  Open(archive);
  const std::string folder = dir.File("out");
  fs::create_directory(folder);
  WriteBytes(folder + "/one.bmp", {1, 2, 3});
  chosenPaths = {folder};
  Run("exportAll");  // answered No
  EXPECT_EQ(dialogRequests.back().kind, FileDialogs::Kind::Folder);
  ExpectOnly("1 file of this export already exist in " + folder + ".\n\nReplace them?");
  EXPECT_EQ(ReadBytes(folder + "/one.bmp"), (std::vector<uint8_t>{1, 2, 3}));

  messages.answers = {Answer::Yes};
  chosenPaths = {folder};
  Run("exportAll");
  ASSERT_EQ(messages.shown.size(), 2u);
  EXPECT_EQ(messages.shown[1].text, "Exported 2 textures to " + folder);
  for (const char* file : {"one.bmp", "one_mask.bmp", "@1.bmp", "@1_mask.bmp"})
    EXPECT_GT(ReadBytes(folder + "/" + file).size(), 54u) << file;

  // As PNG: one file per texture, which Import all from PNG takes back unchanged.
  const std::string pngFolder = dir.File("png");
  chosenPaths = {pngFolder};
  Run("exportAllPng");
  EXPECT_EQ(messages.shown.back().text, "Exported 2 textures to " + pngFolder);
  const std::vector<uint8_t> before = ReadBytes(archive);
  messages.answers = {Answer::Yes, Answer::No};  // import, no backup
  chosenPaths = {pngFolder};
  Run("importAllPng");
  EXPECT_EQ(messages.shown.back().text, "Imported 2 textures into " + archive);
  EXPECT_EQ(ReadBytes(archive), before);
}

TEST_F(ImportExport, ImportAllSavesOnceAndACancelledOneChangesNothing) {
  const std::string archive = WriteArchive("a.pvm", {Plain("one", 1, 4, 4, 0xF800), Plain("two", 1, 4, 4, 0)});
  Open(archive);
  Drive().ShowRow(0);
  const std::string folder = dir.File("in");
  fs::create_directory(folder);
  for (const char* name : {"/one.bmp", "/two.bmp"}) WriteBytes(folder + name, Bmp24(4, 4, Qt::white));
  const std::vector<uint8_t> before = ReadBytes(archive);

  // Cancel on the first step: nothing changes, on disk or in the window.
  QTimer::singleShot(0, window.get(), [this] {
    if (auto* progress = window->findChild<QProgressDialog*>()) progress->cancel();
  });
  messages.answers = {Answer::Yes};
  chosenPaths = {folder};
  Run("importAll");
  EXPECT_EQ(messages.shown[0].text, "Import every texture file in " + folder +
                                        " into a.pvm and save the archive?\n\nThe textures they came from are replaced.");
  EXPECT_EQ(messages.shown.back().text, "Import all was cancelled; nothing was imported and a.pvm was not written.");
  EXPECT_EQ(ReadBytes(archive), before);
  EXPECT_FALSE(window->isWindowModified());
  EXPECT_EQ(TexelAt(Drive().DataOfRow(0), 0), 0xF800);

  messages.answers = {Answer::Yes, Answer::No};  // import, no backup
  chosenPaths = {folder};
  Run("importAll");
  EXPECT_EQ(messages.shown.back().text, "Imported 2 textures into " + archive);
  EXPECT_NE(ReadBytes(archive), before);
  EXPECT_FALSE(window->isWindowModified());
  EXPECT_EQ(TexelAt(Drive().DataOfRow(1), 0), 0xFFFF);
  EXPECT_EQ(Drive().Grab().pixel(1, 1), qRgb(248, 252, 248));  // the view shows the import
}

// What a newcomer does first: open the sample beside the program, look at every texture,
// export one, import it back changed, save, and open the saved archive again.
TEST(SampleArchive, OpensShowsExportsImportsAndSaves) {
  const std::string sample = QUARNEL_SAMPLE_ARCHIVE;
  ASSERT_TRUE(platform::FileExists(sample)) << sample;
  TempDir dir;
  const std::string copy = dir.File("sample.pvm");
  fs::copy_file(sample, copy);
  ScriptedSeams seams;
  MainWindow window(dir.path().string());
  window.show();
  WindowDriver drive{window};

  seams.chosenPaths = {copy};
  drive.Run("openArchive");
  ASSERT_GE(drive.Rows().size(), 4u);
  std::set<std::pair<int, int>> formats;
  int rowsWithSeeThrough = 0;  // masks holding both opaque and transparent pixels
  window.setView(TextureView::Mode::Mask);
  for (int row = 0; row < int(drive.Rows().size()); ++row) {
    drive.ShowRow(row);
    const Texture& texture = window.archive()->Entries()[size_t(row)].texture;
    formats.insert({texture.pixelFormat, texture.dataFormat});
    EXPECT_EQ(drive.ShownSize(), QSize(texture.width, texture.height));
    std::set<int> alphas;
    const QImage mask = drive.Shown();
    for (int y = 0; y < mask.height(); ++y)
      for (int x = 0; x < mask.width(); ++x) alphas.insert(qRed(mask.pixel(x, y)));
    if (alphas.count(0) && *alphas.rbegin() >= 128) ++rowsWithSeeThrough;
  }
  EXPECT_GE(rowsWithSeeThrough, 2);
  for (int p = 0; p < 3; ++p) EXPECT_TRUE(formats.count({p, 1}) + formats.count({p, 9}) > 0) << "pixel format " << p;
  EXPECT_TRUE(std::any_of(formats.begin(), formats.end(), [](auto f) { return f.second == 1; }));
  EXPECT_TRUE(std::any_of(formats.begin(), formats.end(), [](auto f) { return f.second == 9; }));

  // Export image and mask of row 0, import them back: the texture is unchanged.
  drive.ShowRow(0);
  const UnzeroedBytes before = drive.DataOfRow(0);
  const std::string image = dir.File("img.bmp"), mask = dir.File("mask.bmp");
  seams.chosenPaths = {mask};
  drive.Run("exportTexture");
  window.setView(TextureView::Mode::Image);
  seams.chosenPaths = {image};
  drive.Run("exportTexture");
  seams.chosenPaths = {image, mask};
  drive.Run("importTexture");
  EXPECT_EQ(drive.DataOfRow(0), before);

  // Now a changed picture: all white, opaque.
  const QSize size = drive.ShownSize();
  WriteBytes(image, Bmp24(size.width(), size.height(), Qt::white));
  WriteBytes(mask, Bmp24(size.width(), size.height(), Qt::red));
  seams.chosenPaths = {image, mask};
  drive.Run("importTexture");
  seams.messages.answers = {Answer::Yes};
  drive.Run("saveArchive");
  EXPECT_TRUE(platform::FileExists(dir.File("sample.BAK")));

  drive.Run("releaseArchive");
  seams.chosenPaths = {copy};
  drive.Run("openArchive");
  drive.ShowRow(0);
  EXPECT_EQ(drive.Grab().pixel(size.width() / 2, size.height() / 2), qRgb(248, 248, 248));
  window.setView(TextureView::Mode::Mask);
  EXPECT_EQ(drive.Grab().pixel(size.width() / 2, size.height() / 2), qRgb(255, 0, 0));
  EXPECT_EQ(seams.messages.shown.size(), 1u);  // the backup question
}

}  // namespace
}  // namespace apptest
