// Texture > Palette... and the palette behind the view, the details line, and an indexed
// export and its import, driven through the scripted dialogs.
#include "AppTestSupport.h"
#include "app/PaletteDialog.h"
#include "platform/ByteOrder.h"
#include "texture/DataFormats.h"
#include "texture/Palette.h"
#include "texture/PngFile.h"
#include "texture/Texture.h"

namespace apptest {
namespace {

// A palette file of `count` different opaque ARGB1555 colours, starting at `seed`.
std::vector<uint8_t> Pvp(size_t count, uint16_t seed) {
  std::vector<uint8_t> b{'P', 'V', 'P', 'L'};
  platform::LittleEndianWriter put(b);
  put.U32(uint32_t(8 + 2 * count));
  for (uint16_t field : {uint16_t(0), uint16_t(0), uint16_t(0), uint16_t(count)}) put.U16(field);
  for (size_t i = 0; i < count; ++i) put.U16(uint16_t(0x8000 | ((seed + i * 37) % 0x8000)));
  return b;
}

class PaletteWindow : public EditorTest {
 protected:
  void SetUp() override {
    EditorTest::SetUp();
    previousBank_ = PaletteDialog::SetHook([this](const std::string&, int) { return bankAnswer; });
    previousBox_ = FileDialogs::SetCheckBoxHook([this](const FileDialogs::Request&, const std::string&) { return checked; });
  }
  void TearDown() override {
    FileDialogs::SetCheckBoxHook(std::move(previousBox_));
    PaletteDialog::SetHook(std::move(previousBank_));
    EditorTest::TearDown();
  }
  // The colour the view shows at (0, 0), against the core's decoding through that bank.
  void ExpectShownThrough(const std::string& palette, int bank) {
    const Expected<Palette> opened = Palette::Open(palette);
    ASSERT_TRUE(opened) << opened.error().text;
    const Expected<BankColours> colours = opened->Bank(bank, 4);
    ASSERT_TRUE(colours);
    const std::optional<Image> expected = window->archive()->Entries()[1].texture.Decode(&*colours);
    ASSERT_TRUE(expected);
    const uint8_t* p = expected->Pixel(0, 0);
    EXPECT_EQ(Drive().Shown().pixel(0, 0), qRgba(p[0], p[1], p[2], p[3]));
  }

  std::optional<int> bankAnswer = 0;
  bool checked = false;

 private:
  PaletteDialog::Hook previousBank_;
  FileDialogs::CheckBoxHook previousBox_;
};

TEST_F(PaletteWindow, ChosenPaletteIsShownRememberedAndUsedByExportAndImport) {
  const size_t bytes = (std::max<size_t>(DataFormats::LayoutOf(5, 8, 8).End(), 32) + 15) / 16 * 16;
  const std::string archive =
      WriteArchive("a.pvm", {Plain("plain", 1, 4, 4, 0x1234), {"pal4", 0, 5, 8, 8, archive_builder::Pattern(bytes, 3)}});
  WriteBytes(dir.File("A.PVP"), Pvp(16, 100));  // found by the archive's stem, case ignored
  WriteBytes(dir.File("other.pvp"), Pvp(32, 900));
  WriteBytes(dir.File("bad.pvp"), {'P', 'V', 'P', 'L', 4});
  Open(archive);
  Drive().ShowRow(1);
  EXPECT_TRUE(window->detailsText().endsWith("palette A.PVP, bank 0")) << window->detailsText().toStdString();
  ExpectShownThrough(dir.File("A.PVP"), 0);

  chosenPaths = {dir.File("other.pvp")};
  bankAnswer = 1;
  Run("choosePalette");
  EXPECT_TRUE(window->detailsText().endsWith("palette other.pvp, bank 1")) << window->detailsText().toStdString();
  ExpectShownThrough(dir.File("other.pvp"), 1);

  // A refused file, or a bank beyond the palette, is said and changes nothing.
  for (const auto& [file, bank] : {std::pair{"bad.pvp", 0}, std::pair{"other.pvp", 2}}) {
    chosenPaths = {dir.File(file)};
    bankAnswer = bank;
    messages.shown.clear();
    Run("choosePalette");
    EXPECT_EQ(messages.shown.size(), 1u) << file;
    EXPECT_TRUE(window->detailsText().endsWith("palette other.pvp, bank 1")) << file;
  }

  // Remembered for the archive when it is opened again.
  Run("releaseArchive");
  Open(archive);
  Drive().ShowRow(1);
  EXPECT_TRUE(window->detailsText().endsWith("palette other.pvp, bank 1"));

  // The indexed PNG holds the bank's colours and the indices, which go back in unchanged.
  const UnzeroedBytes before = Drive().DataOfRow(1);
  checked = true;
  chosenPaths = {dir.File("i.png")};
  Run("exportTexture");
  PngFile::IndexedPicture picture;
  ASSERT_EQ(PngFile::ReadIndexed(ReadBytes(dir.File("i.png")), 1 << 20, picture), PngFile::Fault::None);
  EXPECT_EQ(picture.Palette.size(), 16u * 4);
  checked = false;
  chosenPaths = {dir.File("i.png")};
  Run("importTexture");
  EXPECT_EQ(Drive().DataOfRow(1), before);
  EXPECT_FALSE(window->isWindowModified());

  // A new palette goes where it is asked to, the one in use untouched, and is chosen then.
  const std::vector<uint8_t> shared = ReadBytes(dir.File("other.pvp"));
  checked = true;
  chosenPaths = {dir.File("i.png"), dir.File("new.pvp")};
  Run("importTexture");
  EXPECT_TRUE(Palette::Open(dir.File("new.pvp"))) << "no new palette";
  EXPECT_EQ(ReadBytes(dir.File("other.pvp")), shared);
  EXPECT_TRUE(window->detailsText().endsWith("palette new.pvp, bank 1")) << window->detailsText().toStdString();
  ExpectShownThrough(dir.File("new.pvp"), 1);
}

}  // namespace
}  // namespace apptest
