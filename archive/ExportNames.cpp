#include "archive/ExportNames.h"

#include <algorithm>
#include <array>
#include <map>
#include <string_view>

namespace BatchFiles {
namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

std::string Folded(std::string_view text) {
  std::string folded(text);
  std::transform(folded.begin(), folded.end(), folded.begin(), Lower);
  return folded;
}

bool AllowedCharacter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
         c == ' ' || c == '.' || c == '_' || c == '-';
}

// Names some file systems refuse, or hand to a device, whatever extension follows.
bool IsDeviceName(std::string_view name) {
  const std::string stem = Folded(name.substr(0, name.find('.')));
  static constexpr std::array<std::string_view, 4> kPlain{"con", "prn", "aux", "nul"};
  if (std::find(kPlain.begin(), kPlain.end(), stem) != kPlain.end()) return true;
  return stem.size() == 4 && (stem.starts_with("com") || stem.starts_with("lpt")) &&
         stem[3] >= '1' && stem[3] <= '9';
}

// Whether a name can stand as a file name on its own; uniqueness is checked apart.
bool UsableAsIs(std::string_view name) {
  if (name.empty()) return false;
  if (!std::all_of(name.begin(), name.end(), AllowedCharacter)) return false;
  if (name.front() == '.' || name.front() == ' ') return false;
  if (name.back() == '.' || name.back() == ' ') return false;
  if (Folded(name).ends_with("_mask")) return false;
  return !IsDeviceName(name);
}

}  // namespace

std::vector<std::string> ExportBaseNames(const std::vector<std::string>& listedNames) {
  std::map<std::string, int> uses;  // folded name -> how many entries carry it
  for (const std::string& name : listedNames) ++uses[Folded(name)];

  std::vector<std::string> bases;
  bases.reserve(listedNames.size());
  for (size_t row = 0; row < listedNames.size(); ++row) {
    const std::string& name = listedNames[row];
    const bool keep = UsableAsIs(name) && uses[Folded(name)] == 1;
    bases.push_back(keep ? name : "@" + std::to_string(row));
  }
  return bases;
}

}  // namespace BatchFiles
