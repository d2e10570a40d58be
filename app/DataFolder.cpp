#include "app/DataFolder.h"

#include <filesystem>
#include <system_error>

namespace app {
namespace {

bool HoldsData(const std::filesystem::path& folder) {
  std::error_code error;
  return std::filesystem::is_regular_file(folder / "docs.html", error) ||
         std::filesystem::is_regular_file(folder / "sample.pvm", error);
}

}  // namespace

std::string FindDataFolder(const std::string& programFolder, const std::string& relativeFolder,
                           const std::string& installedFolder) {
  const std::filesystem::path program(programFolder);
  if (HoldsData(program)) return programFolder;
  if (!relativeFolder.empty()) {
    const std::filesystem::path beside = (program / relativeFolder).lexically_normal();
    if (HoldsData(beside)) return beside.string();
  }
  if (!installedFolder.empty() && HoldsData(installedFolder)) return installedFolder;
  return programFolder;
}

std::string FindDataFolder(const std::string& programFolder) {
  return FindDataFolder(programFolder, QUARNEL_DATA_FROM_BIN, QUARNEL_DATA_DIR);
}

}  // namespace app
