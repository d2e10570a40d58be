#include "Fixtures.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <stdexcept>

namespace bench {
namespace {

std::string& ScratchStorage() {
  static std::string dir;
  return dir;
}

void PutU16(std::vector<uint8_t>& out, size_t pos, uint16_t v) {
  out[pos] = uint8_t(v);
  out[pos + 1] = uint8_t(v >> 8);
}

void PutU32(std::vector<uint8_t>& out, size_t pos, uint32_t v) {
  for (int i = 0; i < 4; ++i) out[pos + i] = uint8_t(v >> (8 * i));
}

size_t RoundUp16(size_t n) { return (n + 15) / 16 * 16; }

}  // namespace

const std::string& ScratchDir() {
  std::string& dir = ScratchStorage();
  if (dir.empty()) {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/quarnel-bench-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr)
      throw std::runtime_error("cannot create a scratch folder under " + pattern);
    dir = pattern;
    std::atexit(RemoveScratch);
  }
  return dir;
}

std::string ScratchPath(const std::string& name) { return ScratchDir() + "/" + name; }

void RemoveScratch() {
  std::string& dir = ScratchStorage();
  if (dir.empty()) return;
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  dir.clear();
}

std::vector<uint8_t> RandomBytes(size_t count, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> bytes(count);
  for (size_t i = 0; i < count; i += 4) {
    const uint32_t r = rng();
    for (size_t b = 0; b < 4 && i + b < count; ++b) bytes[i + b] = uint8_t(r >> (8 * b));
  }
  return bytes;
}

std::unique_ptr<cPVR> MakeTexture(uint8_t pFormat, uint8_t eFormat, int side, uint32_t seed) {
  const size_t dataBytes = size_t(side) * size_t(side) * 2;
  const std::vector<uint8_t> data = RandomBytes(dataBytes, seed);
  auto texture = std::make_unique<cPVR>();
  texture->LoadPVR(data, int16_t(side), int16_t(side), pFormat, eFormat,
                   int32_t(dataBytes + 8));
  return texture;
}

uint64_t WriteArchive(const std::string& path, int count, int side) {
  // Header: "PVMH", H, attribute word, N, then a 38-byte entry per texture whose first
  // 28 bytes after a 2-byte index are its name. The header is padded so the first chunk,
  // and with it every chunk, starts on a 16-byte boundary.
  constexpr size_t kEntryStep = 38;
  const size_t headerBytes = RoundUp16(14 + kEntryStep * size_t(count));
  const size_t dataBytes = size_t(side) * size_t(side) * 2;
  const size_t chunkBytes = 16 + dataBytes;
  std::vector<uint8_t> file(headerBytes + chunkBytes * size_t(count), 0);

  file[0] = 'P', file[1] = 'V', file[2] = 'M', file[3] = 'H';
  PutU32(file, 4, uint32_t(headerBytes - 8));  // H
  PutU16(file, 8, 0x000F);                     // attribute word
  PutU16(file, 10, uint16_t(count));           // N
  for (int k = 0; k < count; ++k) {
    const size_t entry = 12 + kEntryStep * size_t(k);
    PutU16(file, entry, uint16_t(k));
    const std::string name = "bench_" + std::to_string(k + 1);
    std::copy(name.begin(), name.end(), file.begin() + long(entry + 2));
  }

  const std::vector<uint8_t> texels = RandomBytes(dataBytes * 3, 0xA5C3u);
  for (int k = 0; k < count; ++k) {
    const size_t at = headerBytes + chunkBytes * size_t(k);
    file[at] = 'P', file[at + 1] = 'V', file[at + 2] = 'R', file[at + 3] = 'T';
    PutU32(file, at + 4, uint32_t(dataBytes + 8));  // L
    file[at + 8] = uint8_t(k % 3);                  // pixel format
    file[at + 9] = (k % 2) ? 1 : 9;                 // data format
    PutU16(file, at + 12, uint16_t(side));          // width
    PutU16(file, at + 14, uint16_t(side));          // height
    // Three different texel blocks in turn keep neighbouring chunks unlike each other.
    std::copy_n(texels.begin() + long(dataBytes * size_t(k % 3)), dataBytes,
                file.begin() + long(at + 16));
  }
  if (!WriteFile(path, file.data(), file.size(), false))
    throw std::runtime_error("cannot write " + path);
  return file.size();
}

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::vector<uint8_t> bytes(FileSize(path));
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += size_t(n);
  }
  ::close(fd);
  bytes.resize(done);
  return bytes;
}

bool WriteFile(const std::string& path, const uint8_t* bytes, size_t size, bool sync) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = true;
  while (ok && size > 0) {
    const ssize_t n = ::write(fd, bytes, size);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) bytes += n, size -= size_t(n);
  }
  if (ok && sync) ok = ::fsync(fd) == 0;
  return ::close(fd) == 0 && ok;
}

uint64_t FileSize(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? uint64_t(st.st_size) : 0;
}

}  // namespace bench
