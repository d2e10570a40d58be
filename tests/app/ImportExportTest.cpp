// The views' popup commands, Import and Export, and a newcomer's whole round trip on the
// sample archive.
#include <QLabel>
#include <algorithm>
#include <set>

#include "AppTestSupport.h"
#include "platform/Files.h"
#include "texture/PngFile.h"

namespace apptest {
namespace {

const CommDlgs::FileFilter kBmpFilter{"BMP Files", "*.bmp"};
const std::vector<CommDlgs::FileFilter> kPictureFilters{{"PNG Files", "*.png"}, kBmpFilter};

class ImportExport : public EditorTest {
 protected:
  void OpenTwo() {
    // Row 0: 8 x 4 ARGB1555, left half opaque red, right half transparent green.
    // Row 1: 4 x 4 ARGB4444 of one texel, shown nowhere until a test shows it.
    Open(WriteArchive("a.pvm", {HalfRedHalfGreen("halves", 8, 4), Plain("plain", 2, 4, 4, 0x8C3F)}));
    dialogs.requests.clear();
  }

  void ExpectSelectionWarning() {
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].text, "Please select a texture before Importing/Exporting");
    EXPECT_EQ(messages.shown[0].title, "Quarnel");
    EXPECT_EQ(messages.shown[0].buttons, platform::Buttons::Ok);
    EXPECT_EQ(messages.shown[0].icon, platform::Icon::Exclamation);
  }

  std::vector<uint8_t> DataOfRow(int row) { return TextureOfRow(row)->ChunkRecord().Data; }
};

TEST_F(ImportExport, BothWarnWhenNoTextureWasShown) {
  OpenTwo();
  SelectRow(0);  // selected, never shown
  form->mnuExport_Click();
  ExpectSelectionWarning();
  messages.shown.clear();
  form->mnuImport_Click();
  ExpectSelectionWarning();
  EXPECT_TRUE(dialogs.requests.empty());
}

TEST_F(ImportExport, AfterReleaseExportWarnsAndImportDoesNothing) {
  OpenTwo();
  ShowRow(0);
  form->mnuRelease_Click();
  form->mnuImport_Click();
  EXPECT_TRUE(messages.shown.empty());
  form->mnuExport_Click();
  ExpectSelectionWarning();
  EXPECT_TRUE(dialogs.requests.empty());
}

TEST_F(ImportExport, ExportWritesTheCurrentView) {
  OpenTwo();
  ShowRow(0);
  const std::string image = dir.File("image.bmp"), mask = dir.File("mask.bmp");
  dialogs.answers = {image};
  form->mnuExport_Click();
  ASSERT_EQ(dialogs.requests.size(), 1u);
  const CommDlgs::FileDialogRequest& r = dialogs.requests[0];
  EXPECT_EQ(r.owner, form.get());
  EXPECT_EQ(r.mode, 0);
  EXPECT_EQ(r.title, "Export Image");
  EXPECT_EQ(r.filters, kPictureFilters);
  EXPECT_EQ(r.initialDir, form->ArchiveFolder);
  EXPECT_EQ(r.defaultExt, "png");

  form->lblV_Click(1);
  dialogs.answers = {mask};
  form->mnuExport_Click();
  EXPECT_EQ(dialogs.requests.back().title, "Export Mask");

  const std::vector<uint8_t> imageBmp = ReadBytes(image), maskBmp = ReadBytes(mask);
  ASSERT_GE(imageBmp.size(), 54u + 4 * 24);
  ASSERT_GE(maskBmp.size(), 54u + 4 * 24);
  EXPECT_EQ(imageBmp[28], 24);
  EXPECT_EQ(BmpPixel(imageBmp, 0, 0), QColor(248, 0, 0));
  EXPECT_EQ(BmpPixel(imageBmp, 7, 3), QColor(0, 248, 0));
  EXPECT_EQ(BmpPixel(maskBmp, 0, 0), QColor(255, 0, 0));
  EXPECT_EQ(BmpPixel(maskBmp, 7, 3), QColor(0, 0, 0));
  EXPECT_TRUE(messages.shown.empty());
}

TEST_F(ImportExport, ExportCancelledWritesNothing) {
  OpenTwo();
  ShowRow(0);
  form->mnuExport_Click();
  EXPECT_EQ(dialogs.requests.size(), 1u);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.Folder()), fs::directory_iterator()), 1);
}

TEST_F(ImportExport, ExportOfARowMovedToButNeverShownDecodesItFirst) {
  OpenTwo();
  ShowRow(0);
  SelectRow(1);  // moved with the keys: not shown
  ASSERT_FALSE(TextureOfRow(1)->HasSurface(0));
  const std::string out = dir.File("plain.bmp");
  dialogs.answers = {out};
  form->mnuExport_Click();
  const std::vector<uint8_t> bmp = ReadBytes(out);
  ASSERT_GE(bmp.size(), 54u);
  EXPECT_EQ(bmp[18], 4);  // the row's own texture, not the one in the views
  // 0x8C3F: alpha 8, red 12, green 3, blue 15.
  EXPECT_EQ(BmpPixel(bmp, 2, 2), QColor(192, 48, 240));
  // The views still show row 0.
  EXPECT_EQ(form->Picture1[0]->size(), QSize(8, 4));
}

TEST_F(ImportExport, ExportRefusesATextureThatCannotBeDecoded) {
  // 2048 x 2048 claimed over one texel: more than its data can justify.
  Open(WriteArchive("bad.pvm", {Plain("fine", 1, 8, 8, 0), {"short", 1, 9, 2048, 2048, Texels({1, 2})}}));
  dialogs.requests.clear();
  ShowRow(0);
  SelectRow(1);
  form->mnuExport_Click();
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_NE(messages.shown[0].text.find("\"short\""), std::string::npos);
  EXPECT_TRUE(dialogs.requests.empty());
}

TEST_F(ImportExport, ImportWithAMaskEncodesAndRedraws) {
  OpenTwo();
  ShowRow(0);
  const std::string image = dir.File("in.bmp"), mask = dir.File("in_mask.bmp");
  WriteBytes(image, Bmp24(8, 4, [](int x, int) { return x < 4 ? QColor(0, 0, 255) : QColor(255, 255, 255); }));
  WriteBytes(mask, Bmp24(8, 4, [](int, int y) { return y < 2 ? QColor(255, 0, 0) : QColor(0, 0, 0); }));
  dialogs.answers = {image, mask};
  form->mnuImport_Click();

  ASSERT_EQ(dialogs.requests.size(), 2u);
  EXPECT_EQ(dialogs.requests[0].title, "Import Image");
  EXPECT_EQ(dialogs.requests[0].mode, 1);
  EXPECT_EQ(dialogs.requests[1].title, "Import Mask (Optional! Cancel to skip)");
  EXPECT_EQ(dialogs.requests[1].mode, 1);
  EXPECT_EQ(dialogs.requests[0].filters, kPictureFilters);
  EXPECT_EQ(dialogs.requests[0].defaultExt, "png");
  EXPECT_EQ(dialogs.requests[1].filters, std::vector{kBmpFilter});
  EXPECT_EQ(dialogs.requests[1].defaultExt, "bmp");
  for (const auto& r : dialogs.requests) EXPECT_EQ(r.initialDir, form->ArchiveFolder);

  const std::vector<uint8_t> data = DataOfRow(0);
  EXPECT_EQ(TexelAt(data, 0), 0x801F);       // blue, opaque
  EXPECT_EQ(TexelAt(data, 7), 0xFFFF);       // white, opaque
  EXPECT_EQ(TexelAt(data, 3 * 8 + 0), 0x001F);  // blue, transparent
  EXPECT_EQ(TexelAt(data, 3 * 8 + 7), 0x7FFF);  // white, transparent
  EXPECT_EQ(form->TextureSelected, -1);
  EXPECT_EQ(form->Picture1[0]->Image().pixel(0, 0), qRgb(0, 0, 248));
  EXPECT_EQ(form->Picture1[1]->Image().pixel(0, 3), qRgb(0, 0, 0));
  EXPECT_EQ(form->Picture1[1]->Image().pixel(0, 0), qRgb(255, 0, 0));
}

TEST_F(ImportExport, ImportWithoutAMaskKeepsEachTexelsAlpha) {
  OpenTwo();
  ShowRow(0);
  const std::string image = dir.File("in.bmp");
  WriteBytes(image, Bmp24(8, 4, [](int, int) { return QColor(255, 0, 0); }));
  dialogs.answers = {image};  // the mask dialog is cancelled
  form->mnuImport_Click();
  EXPECT_EQ(dialogs.requests.size(), 2u);
  const std::vector<uint8_t> data = DataOfRow(0);
  // Red everywhere; the left half stays opaque, the right half transparent.
  for (size_t n = 0; n < 32; ++n) ASSERT_EQ(TexelAt(data, n), n % 8 < 4 ? 0xFC00 : 0x7C00) << n;
}

TEST_F(ImportExport, APngExportHoldsImageAndAlphaAndItsImportAsksForNoMask) {
  OpenTwo();
  ShowRow(0);
  form->lblV_Click(1);  // the mask view: a PNG holds both all the same
  dialogs.answers = {dir.File("halves.PNG")};
  form->mnuExport_Click();
  PngFile::Picture out;
  ASSERT_EQ(PngFile::Read(ReadBytes(dir.File("halves.PNG")), 1 << 20, out), PngFile::Fault::None);
  EXPECT_EQ(std::vector<uint8_t>(out.Rgba.begin() + 12, out.Rgba.begin() + 20),
            (std::vector<uint8_t>{248, 0, 0, 255, 0, 248, 0, 0}));

  // Into the 4 x 4 ARGB4444 row: its top-left part, opaque red, the PNG's alpha taken.
  ShowRow(1);
  dialogs.requests.clear();
  dialogs.answers = {dir.File("halves.PNG")};
  form->mnuImport_Click();
  EXPECT_EQ(dialogs.requests.size(), 1u);
  for (size_t n = 0; n < 16; ++n) ASSERT_EQ(TexelAt(DataOfRow(1), n), 0xFF00) << n;
}

TEST_F(ImportExport, ImportCancelledChangesNothing) {
  OpenTwo();
  ShowRow(0);
  const std::vector<uint8_t> before = DataOfRow(0);
  form->mnuImport_Click();
  EXPECT_EQ(dialogs.requests.size(), 1u);
  EXPECT_EQ(DataOfRow(0), before);
}

TEST_F(ImportExport, ARefusedBitmapIsNeitherEncodedNorDrawn) {
  OpenTwo();
  ShowRow(0);
  SelectRow(1);  // the import acts on row 1; the views show row 0
  const std::vector<uint8_t> before = DataOfRow(1);
  const std::string eightBit = dir.File("8bit.bmp");
  WriteBytes(eightBit, Bmp24(4, 4, [](int, int) { return QColor(1, 2, 3); }, 8));
  dialogs.answers = {eightBit};
  form->mnuImport_Click();
  EXPECT_FALSE(messages.shown.empty());  // the texture says why, in its own words
  EXPECT_EQ(DataOfRow(1), before);
  EXPECT_EQ(form->Picture1[0]->size(), QSize(8, 4));

  messages.shown.clear();
  dialogs.answers = {dir.File("missing.bmp")};
  form->mnuImport_Click();
  EXPECT_FALSE(messages.shown.empty());
  EXPECT_EQ(DataOfRow(1), before);
  EXPECT_EQ(form->Picture1[0]->size(), QSize(8, 4));
}

TEST_F(ImportExport, ImportIntoATextureTheCodecCannotEncodeSaysWhyAndAsksForNoFile) {
  // Data format 5 has no codec; a mipmapped 4 x 4 texture takes 44 bytes, not 32.
  const auto data = TexelsOf(16, [](size_t) { return uint16_t(0x1234); });
  Open(WriteArchive("x.pvm", {{"other", 2, 5, 4, 4, data}, {"short", 1, 2, 4, 4, data}}));
  dialogs.requests.clear();
  for (const auto& [row, why] : {std::pair{0, "\"other\" is stored in a format Quarnel does not encode ("},
                                 std::pair{1, "holds 32 data bytes where its format"}}) {
    messages.shown.clear();
    ShowRow(row);
    form->mnuImport_Click();
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_NE(messages.shown[0].text.find(why), std::string::npos) << messages.shown[0].text;
  }
  EXPECT_TRUE(dialogs.requests.empty());
}

TEST_F(ImportExport, ImportActsOnTheRowSelectedNow) {
  OpenTwo();
  ShowRow(0);
  SelectRow(1);
  const std::string image = dir.File("in.bmp");
  WriteBytes(image, Bmp24(4, 4, [](int, int) { return QColor(0, 255, 0); }));
  dialogs.answers = {image};
  const std::vector<uint8_t> row0 = DataOfRow(0);
  form->mnuImport_Click();
  EXPECT_EQ(DataOfRow(0), row0);
  EXPECT_EQ(TexelAt(DataOfRow(1), 5), 0x80F0);  // green, keeping the texel's alpha
  EXPECT_EQ(form->Picture1[0]->size(), QSize(4, 4));  // the selection handler showed row 1
}

// What a newcomer does first: open the sample beside the program, look at every texture,
// export one, import it back changed, save, and open the saved archive again.
TEST(SampleArchive, OpensShowsExportsImportsAndSaves) {
  const std::string sample = QUARNEL_SAMPLE_ARCHIVE;
  ASSERT_TRUE(platform::FileExists(sample)) << sample;
  TempDir dir;
  const std::string copy = dir.File("sample.pvm");
  fs::copy_file(sample, copy);

  ScriptedDialogs dialogs;
  ScriptedMessages messages;
  const auto oldDialogs = CommDlgs::SetFileDialogHook([&](const CommDlgs::FileDialogRequest& r) { return dialogs.Answer(r); });
  const auto oldMessages = platform::SetMessageHook([&](const platform::Message& m) { return messages.Answer(m); });
  {
    Form1 form;
    form.show();
    dialogs.answers = {copy};
    form.mnuOpen_Click();
    ASSERT_GE(form.List1->count(), 4);
    std::set<std::pair<int, int>> formats;
    int rowsWithSeeThrough = 0;  // masks holding both opaque and transparent pixels
    for (int row = 0; row < form.List1->count(); ++row) {
      form.List1->setCurrentRow(row);
      form.List1_DblClick();
      const cPVR* texture = ParseFuncts::Textures[size_t(row) + 1].get();
      const PVRChunk& chunk = texture->ChunkRecord();
      formats.insert({chunk.pFormat, chunk.eFormat});
      EXPECT_EQ(form.Picture1[0]->size(), QSize(chunk.Width, chunk.Height));
      EXPECT_NE(form.Picture1[0]->Image(), PictureBox::StartingPicture());
      std::set<int> alphas;
      const QImage& maskView = form.Picture1[1]->Image();
      for (int y = 0; y < maskView.height(); ++y)
        for (int x = 0; x < maskView.width(); ++x) alphas.insert(qRed(maskView.pixel(x, y)));
      if (alphas.count(0) && *alphas.rbegin() >= 128) ++rowsWithSeeThrough;
    }
    EXPECT_GE(rowsWithSeeThrough, 2);
    for (int p = 0; p < 3; ++p)
      EXPECT_TRUE(formats.count({p, 1}) + formats.count({p, 9}) > 0) << "pixel format " << p;
    EXPECT_TRUE(std::any_of(formats.begin(), formats.end(), [](auto f) { return f.second == 1; }));
    EXPECT_TRUE(std::any_of(formats.begin(), formats.end(), [](auto f) { return f.second == 9; }));

    // Export image and mask of row 0, import them back: the texture is unchanged.
    form.List1->setCurrentRow(0);
    form.List1_DblClick();
    const std::vector<uint8_t> before = ParseFuncts::Textures[1]->ChunkRecord().Data;
    const std::string image = dir.File("img.bmp"), mask = dir.File("mask.bmp");
    dialogs.answers = {image};
    form.mnuExport_Click();
    form.lblV_Click(1);
    dialogs.answers = {mask};
    form.mnuExport_Click();
    form.lblV_Click(0);
    dialogs.answers = {image, mask};
    form.mnuImport_Click();
    EXPECT_EQ(ParseFuncts::Textures[1]->ChunkRecord().Data, before);

    // Now a changed picture: all white, opaque.
    const int w = ParseFuncts::Textures[1]->ChunkRecord().Width;
    const int h = ParseFuncts::Textures[1]->ChunkRecord().Height;
    WriteBytes(image, Bmp24(w, h, [](int, int) { return QColor(255, 255, 255); }));
    WriteBytes(mask, Bmp24(w, h, [](int, int) { return QColor(255, 0, 0); }));
    dialogs.answers = {image, mask};
    form.mnuImport_Click();
    messages.answers = {platform::Answer::Yes};
    form.mnuSave_Click();
    EXPECT_TRUE(platform::FileExists(dir.File("sample.BAK")));

    form.mnuRelease_Click();
    dialogs.answers = {copy};
    form.mnuOpen_Click();
    form.List1->setCurrentRow(0);
    form.List1_DblClick();
    EXPECT_EQ(form.Picture1[0]->Image().pixel(w / 2, h / 2), qRgb(248, 248, 248));
    EXPECT_EQ(form.Picture1[1]->Image().pixel(w / 2, h / 2), qRgb(255, 0, 0));
  }
  ParseFuncts::CloseArchive();
  ParseFuncts::Textures.clear();
  platform::SetMessageHook(oldMessages);
  CommDlgs::SetFileDialogHook(oldDialogs);
}

}  // namespace
}  // namespace apptest
