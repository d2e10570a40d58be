// Files for tests, fuzz targets and tools: a scratch folder and whole files in and out.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace testkit {

// A fresh folder under the system's temporary folder (in memory, /dev/shm, when asked and
// there is one), removed with everything in it, whatever permissions a test left on it.
class ScratchFolder {
 public:
  explicit ScratchFolder(bool inMemory = false);
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  // The path of a file in the folder.
  std::string Path(const std::string& name) const { return (path_ / name).string(); }
  std::string File(const std::string& name) const { return Path(name); }
  std::string operator/(const std::string& name) const { return Path(name); }
  // The folder itself, with a trailing separator.
  std::string Folder() const { return path_.string() + "/"; }
  const std::filesystem::path& path() const { return path_; }

  // Writes bytes to a file in the folder and returns its path.
  std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) const;

  // The names of everything in the folder, to see that no temporary file stayed.
  std::vector<std::string> Entries() const;

 private:
  std::filesystem::path path_;
};

// A whole file; empty when it cannot be read.
std::vector<uint8_t> ReadBytes(const std::string& path);

// Replaces the file with bytes; false when it cannot be written.
bool WriteBytes(const std::string& path, std::span<const uint8_t> bytes);
inline bool WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  return WriteBytes(path, std::span<const uint8_t>(bytes));
}

}  // namespace testkit
