#include "archive/PaletteLookup.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>
#include <utility>

#include "texture/Texture.h"

namespace fs = std::filesystem;

namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

PaletteLookup::PaletteLookup(std::string archivePath, Choice chosen) : chosen_(std::move(chosen)) {
  if (archivePath.empty()) return;
  const fs::path path(archivePath);
  folder_ = path.parent_path().string();
  stem_ = path.stem().string();
}

std::string PaletteLookup::Beside(const std::string& name) const {
  if (stem_.empty() || name.empty()) return {};
  if (!listing_) {
    listing_.emplace();
    std::error_code ec;
    const fs::path folder = folder_.empty() ? fs::path(".") : fs::path(folder_);
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
      std::error_code typeError;
      if (it->is_regular_file(typeError)) listing_->push_back(it->path().filename().string());
    }
    // Sorted, so that of two names differing in case alone the same one wins every time.
    std::sort(listing_->begin(), listing_->end());
  }
  const std::string wanted = Lower(name);
  std::string found;
  for (const std::string& file : *listing_) {
    if (file == name) {
      found = file;
      break;
    }
    if (found.empty() && Lower(file) == wanted) found = file;
  }
  if (found.empty()) return {};
  return folder_.empty() ? found : (fs::path(folder_) / found).string();
}

std::string PaletteLookup::PathFor(const std::string& textureName) const {
  if (!chosen_.path.empty()) return chosen_.path;
  // A name that could leave the folder names no file beside the archive.
  if (!textureName.empty() && textureName.find_first_of("/\\") == std::string::npos) {
    if (std::string path = Beside(textureName + ".pvp"); !path.empty()) return path;
  }
  return Beside(stem_ + ".pvp");
}

Expected<Palette> PaletteLookup::Opened(const std::string& path) const {
  auto it = opened_.find(path);
  if (it == opened_.end())
    it = opened_.emplace(path, std::make_shared<const Expected<Palette>>(Palette::Open(path))).first;
  return *it->second;
}

Expected<PaletteLookup::Found> PaletteLookup::For(const Texture& texture, const std::string& textureName) const {
  Found found;
  if (!texture.IsPalettized()) return found;
  const int bits = texture.IndexBits();
  found.bank = chosen_.bank;
  const uint8_t own = texture.pixelFormat;
  if (own == Palette::kARGB1555 || own == Palette::kRGB565 || own == Palette::kARGB4444) found.colourFormat = own;
  found.path = PathFor(textureName);
  if (found.path.empty()) {
    found.bank = 0;
    found.colours = BankColours::Greys(bits);
    return found;
  }
  const Expected<Palette> palette = Opened(found.path);
  if (!palette) return palette.error();
  Expected<BankColours> bank = palette->Bank(found.bank, bits);
  if (!bank) return bank.error();
  found.colourFormat = palette->colourFormat;
  found.colours = std::move(*bank);
  return found;
}

std::string PaletteLookup::Describe(const Found& found) {
  if (found.path.empty()) return "no palette";
  return "palette " + fs::path(found.path).filename().string() + ", bank " + std::to_string(found.bank);
}

std::string PaletteLookup::Note(const Texture& texture, const Found& found, size_t row) {
  if (!texture.IsPalettized()) return {};
  if (found.path.empty())
    return "Note: the texture in row " + std::to_string(row) + " has no palette; its indices show as greys.";
  if (!found.colours.Incomplete()) return {};
  const std::optional<std::vector<uint8_t>> indices = texture.Indices();
  if (!indices) return {};
  size_t beyond = 0;
  for (uint8_t index : *indices) beyond += index < found.colours.Entries() && found.colours.held.test(index) ? 0 : 1;
  if (beyond == 0) return {};
  return "Note: " + std::to_string(beyond) + " texels of the texture in row " + std::to_string(row) +
         " name colours beyond " + fs::path(found.path).filename().string() + " (bank " +
         std::to_string(found.bank) + " holds " + std::to_string(found.colours.held.count()) +
         "); they show transparent black.";
}
