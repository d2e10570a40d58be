// Which palette file a palettized texture's indices name, and the colours of its bank.
//
// Palettes live in .pvp files of their own beside the archive, shared by many textures. A
// texture's palette is, in this order:
//   1. the palette the user chose (a path and a bank);
//   2. NAME.pvp beside the archive, NAME being the texture's name;
//   3. STEM.pvp beside the archive, STEM being the archive's own stem (or a standalone
//      .pvr file's).
// File names are matched with their letter case ignored, as the game's files come in any
// case. The bank is the chosen one, else 0. Without a palette, indices show as greys.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "texture/Error.h"
#include "texture/Palette.h"

struct Texture;

class PaletteLookup {
 public:
  struct Choice {
    std::string path;  // "" : none chosen, the files beside the archive decide
    int bank = 0;
    bool operator==(const Choice&) const = default;
  };

  // What a texture's indices are read through.
  struct Found {
    std::string path;  // the .pvp used; "" when none was found (greys)
    int bank = 0;
    // The palette's colour format, which a new palette made for the texture keeps; without a
    // palette the texture's own pixel format when it names one of a palette's, else ARGB1555.
    uint16_t colourFormat = Palette::kARGB1555;
    BankColours colours;
  };

  // archivePath names the archive (or standalone .pvr) on disk; "" for one that is not, whose
  // textures find only a chosen palette.
  PaletteLookup(std::string archivePath, Choice chosen);
  explicit PaletteLookup(std::string archivePath = {}) : PaletteLookup(std::move(archivePath), Choice{}) {}

  // The palette file rules 1 to 3 give for a texture named textureName, "" when none exists.
  std::string PathFor(const std::string& textureName) const;

  // The colours of a palettized texture: its palette's bank, or greys without a palette.
  // Refused, with the words the core gives, for a palette file that cannot be read or a bank
  // beyond it. A texture that is not palettized gets an empty Found.
  Expected<Found> For(const Texture& texture, const std::string& textureName) const;

  // "palette NAME.pvp, bank N" or "no palette": the words the details line and info use.
  static std::string Describe(const Found& found);

  // What to note of a palettized texture's colours: that it has no palette (greys), or that
  // its indices name colours the bank lacks (shown transparent black); "" when neither.
  static std::string Note(const Texture& texture, const Found& found, size_t row);

 private:
  // The file in the archive's folder whose name is `name` with letter case ignored; "" if
  // none. An exact match wins over one in another case.
  std::string Beside(const std::string& name) const;
  Expected<Palette> Opened(const std::string& path) const;

  std::string folder_;
  std::string stem_;
  Choice chosen_;
  // The folder's file names, read once; and each palette opened once, for batches.
  mutable std::optional<std::vector<std::string>> listing_;
  mutable std::map<std::string, std::shared_ptr<const Expected<Palette>>> opened_;
};
