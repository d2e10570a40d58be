// The window's palette commands: Texture > Palette..., and the palette behind every view,
// export and import of a palettized texture.
#include <QFileInfo>
#include <QString>
#include <string>
#include <utility>
#include <vector>

#include "app/FileDialogs.h"
#include "app/MainWindow.h"
#include "app/MessageBoxes.h"
#include "app/PaletteDialog.h"
#include "platform/Files.h"
#include "texture/Palette.h"
#include "texture/PictureFiles.h"
#include "texture/Texture.h"

namespace {

const FileDialogs::Filter kPaletteFilter{"PVP Files", "*.pvp"};

void Tell(const std::string& text, Icon icon = Icon::Exclamation) {
  MessageBoxes::Show({text, "", MessageBoxes::Buttons::Ok, icon});
}

// The backup of a palette file: its whole name then ".BAK", so that it never takes the name
// of the archive's own backup (sample.pvm and sample.pvp would both give sample.BAK).
std::string PaletteBackupPathOf(const std::string& path) { return path + ".BAK"; }

}  // namespace

PaletteLookup MainWindow::paletteLookup() const {
  const auto chosen = paletteChoices_.find(archivePath_);
  return PaletteLookup(archivePath_, chosen == paletteChoices_.end() ? PaletteLookup::Choice{} : chosen->second);
}

std::optional<PaletteLookup::Found> MainWindow::paletteOfRow(size_t row, bool tell) const {
  if (!archive_ || row >= archive_->Entries().size()) return std::nullopt;
  const Archive::Entry& entry = archive_->Entries()[row];
  Expected<PaletteLookup::Found> found = paletteLookup().For(entry.texture, entry.name);
  if (found) return std::move(*found);
  if (tell) MessageBoxes::Show(found.error());
  return std::nullopt;
}

void MainWindow::choosePalette() {
  if (!archive_) {
    Tell("There is no archive loaded.");
    return;
  }
  const PaletteLookup::Choice now =
      paletteChoices_.count(archivePath_) ? paletteChoices_.at(archivePath_) : PaletteLookup::Choice{};
  const std::string path =
      FileDialogs::Ask({this, FileDialogs::Kind::Open, "Palette", {kPaletteFilter}, dialogFolder_, "pvp"});
  if (path.empty()) return;
  const std::optional<int> bank = PaletteDialog::AskBank(this, path, path == now.path ? now.bank : 0);
  if (!bank) return;
  // A palette that is refused, or a bank beyond it, leaves the choice as it was.
  const Expected<Palette> palette = Palette::Open(path);
  if (!palette) {
    MessageBoxes::Show(palette.error());
    return;
  }
  for (const int bits : {4, 8}) {
    bool used = false;
    for (const Archive::Entry& entry : archive_->Entries()) used |= entry.texture.IndexBits() == bits;
    if (!used) continue;
    if (const Expected<BankColours> colours = palette->Bank(*bank, bits); !colours) {
      MessageBoxes::Show(colours.error());
      return;
    }
  }
  paletteChoices_[archivePath_] = {path, *bank};
  if (rowShown_) showSelectedRow();
  updateDetails();
}

void MainWindow::importThroughNewPalette(const std::string& image, const std::string& mask) {
  const std::optional<size_t> row = selectedRow();
  if (!row) return;
  const std::optional<PaletteLookup::Found> found = paletteOfRow(*row, true);
  if (!found) return;
  const std::string path = FileDialogs::Ask(
      {this, FileDialogs::Kind::Save, "Save New Palette", {kPaletteFilter}, dialogFolder_, "pvp"});
  if (path.empty()) return;
  // Written over the archive or the picture, the palette would lose one or the other.
  for (const std::string& input : {archivePath_, image, mask}) {
    if (!input.empty() && QFileInfo(QString::fromStdString(input)) == QFileInfo(QString::fromStdString(path))) {
      Tell("The new palette cannot go to " + path + ", which is an input of this import. Nothing was imported.");
      return;
    }
  }
  // Another palette file is never written: other textures share them. The one named here
  // may be, and is offered a backup first, as Save offers the archive one.
  const std::string backup = PaletteBackupPathOf(path);
  if (platform::FileExists(path) && !platform::FileExists(backup)) {
    const MessageBoxes::Answer answer =
        MessageBoxes::Show({"Would you like to make a backup of the existing palette file first?\n\n" + path,
                            "No backup detected...", MessageBoxes::Buttons::YesNoCancel, Icon::None});
    if (answer == MessageBoxes::Answer::Cancel) return;
    std::string error;
    if (answer == MessageBoxes::Answer::Yes && !platform::CopyFile(path, backup, error)) {
      Tell("The backup copy could not be made, so nothing was imported.\n\nPalette: " + path + "\nBackup: " +
               backup + "\n\n" + error,
           Icon::Critical);
      return;
    }
  }
  const Expected<PictureFiles::Picture> picture = PictureFiles::Read(image, mask);
  if (!picture) {
    MessageBoxes::Show(picture.error());
    return;
  }
  Texture& texture = archive_->Entries()[*row].texture;
  const int bits = texture.IndexBits();
  Palette made = Palette::FromPicture(picture->image, found->colourFormat, bits);
  // The game picks the bank, so the colours go where that bank lies in palette memory.
  made.firstColour = uint16_t(size_t(found->bank) << bits);
  const Expected<BankColours> bank = made.Bank(found->bank, bits);
  if (!bank) {
    MessageBoxes::Show(bank.error());
    return;
  }
  const Texture before = texture;
  const bool wasModified = isWindowModified();
  if (!importIntoSelected(image, mask, nullptr, &*bank)) return;
  if (const Failure failure = made.Write(path)) {
    // The texture would name colours that no file holds.
    texture = before;
    setWindowModified(wasModified);
    showSelectedRow();
    MessageBoxes::Show(*failure);
    return;
  }
  paletteChoices_[archivePath_] = {path, found->bank};
  showSelectedRow();
  updateDetails();
}
