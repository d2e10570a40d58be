#include "platform/Files.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>
#include <utility>

namespace platform {
namespace {

ReplaceFaultHook& FaultHook() {
  static ReplaceFaultHook hook;
  return hook;
}

int InjectedFault(ReplaceStep step) {
  const ReplaceFaultHook& hook = FaultHook();
  return hook ? hook(step) : 0;
}

std::string Describe(const std::string& what, const std::string& path, int err) {
  return what + " " + path + ": " + std::strerror(err);
}

constexpr const char* kTemporaryMarker = ".quarnel-";

// A name beside the target that no other save picks: same folder, so the rename stays on
// one file system and is atomic. The process id in it lets a later save tell whether the
// process that made it is still there.
std::string TemporaryNameFor(const std::string& path) {
  static std::mt19937_64 rng{std::random_device{}()};
  return path + kTemporaryMarker + std::to_string(::getpid()) + "-" +
         std::to_string(rng() % 1000000000);
}

// The process id in a temporary name "<target>.quarnel-<pid>-<digits>" of this target, or 0.
pid_t OwnerOfTemporary(const std::string& name, const std::string& target) {
  const std::string prefix = target + kTemporaryMarker;
  if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) return 0;
  const std::string rest = name.substr(prefix.size());
  const size_t dash = rest.find('-');
  if (dash == 0 || dash == std::string::npos || dash > 9 || dash + 1 == rest.size()) return 0;
  if (rest.find_first_not_of("0123456789") != dash ||
      rest.find_first_not_of("0123456789", dash + 1) != std::string::npos)
    return 0;
  return pid_t(std::stol(rest.substr(0, dash)));
}

// A save that was killed (power cut, SIGKILL) leaves its temporary file behind. Removes
// those of this target whose process no longer exists; a temporary of a live process, even
// one that merely reuses a dead saver's id, is left alone.
void RemoveStaleTemporaries(const std::string& path) {
  const std::filesystem::path target(path);
  const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
  const std::string name = target.filename().string();
  std::error_code ec;
  std::filesystem::directory_iterator it(folder, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    const pid_t owner = OwnerOfTemporary(it->path().filename().string(), name);
    if (owner <= 0 || owner == ::getpid()) continue;
    if (::kill(owner, 0) == 0 || errno != ESRCH) continue;
    std::error_code ignored;
    if (it->is_regular_file(ignored)) std::filesystem::remove(it->path(), ignored);
  }
}

bool WriteAll(int fd, const uint8_t* data, size_t size, int& err) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      err = errno;
      return false;
    }
    if (n == 0) {  // no progress and no error: give up rather than spin
      err = EIO;
      return false;
    }
    data += n;
    size -= size_t(n);
  }
  return true;
}

// Opens an ordinary file for reading; -1 with a sentence in error otherwise. Non-blocking,
// so that a FIFO or device at the path is refused instead of waiting forever for a writer;
// it changes nothing for an ordinary file.
int OpenOrdinaryFile(const std::string& path, struct stat& st, std::string& error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    error = Describe("Cannot open", path, errno);
    return -1;
  }
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    error = "Cannot read " + path + ": it is not an ordinary file";
    ::close(fd);
    return -1;
  }
  return fd;
}

// Small pieces are gathered up to this size before they are written, so that a file made
// of many short fields does not cost a system call per field.
constexpr size_t kWriteBatchBytes = size_t{1} << 20;

}  // namespace

FileReader::~FileReader() {
  if (fd_ >= 0) ::close(fd_);
}

bool FileReader::Open(const std::string& path, std::string& error) {
  if (fd_ >= 0) ::close(fd_);
  struct stat st {};
  fd_ = OpenOrdinaryFile(path, st, error);
  size_ = fd_ >= 0 ? uint64_t(st.st_size) : 0;
  path_ = path;
  return fd_ >= 0;
}

bool FileReader::ReadAt(uint64_t offset, std::span<uint8_t> out, std::string& error) const {
  size_t done = 0;
  while (done < out.size()) {
    const ssize_t n = fd_ < 0 ? -1 : ::pread(fd_, out.data() + done, out.size() - done, off_t(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = Describe("Cannot read", path_, fd_ < 0 ? EBADF : errno);
      return false;
    }
    if (n == 0) {
      error = "Cannot read " + path_ + ": the file became shorter while it was read";
      return false;
    }
    done += size_t(n);
  }
  return true;
}

bool FileExists(const std::string& path) {
  std::error_code ec;
  return !path.empty() && std::filesystem::is_regular_file(path, ec);
}

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& bytes, std::string& error,
                   uint64_t maxBytes) {
  struct stat st {};
  const int fd = OpenOrdinaryFile(path, st, error);
  if (fd < 0) return false;
  if (uint64_t(st.st_size) > maxBytes) {
    error = "Cannot read " + path + ": the file is too large";
    ::close(fd);
    return false;
  }
  std::vector<uint8_t> data(size_t(st.st_size));
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::read(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = Describe("Cannot read", path, errno);
      ::close(fd);
      return false;
    }
    if (n == 0) break;  // the file shrank while being read
    done += size_t(n);
  }
  ::close(fd);
  data.resize(done);
  bytes = std::move(data);
  return true;
}

bool ReplaceFile(const std::string& path, const std::vector<uint8_t>& bytes, std::string& error) {
  return ReplaceFileFrom(
      path, [&bytes](const ByteSink& sink, std::string&) { return sink(bytes); }, error);
}

bool ReplaceFileFrom(const std::string& path, const ByteSource& source, std::string& error) {
  // Through a symbolic link the file it names is replaced, as writing in place would; the
  // link itself stays. A dangling link is replaced by the new file.
  std::string target = path;
  std::error_code ec;
  if (std::filesystem::is_symlink(path, ec)) {
    const std::filesystem::path resolved = std::filesystem::canonical(path, ec);
    if (!ec) target = resolved.string();
  }

  struct stat st {};
  const bool existed = ::stat(target.c_str(), &st) == 0;
  // Renaming over a read-only file would succeed; writing it in place would not.
  if (existed && ::access(target.c_str(), W_OK) != 0) {
    error = Describe("Cannot write", path, errno);
    return false;
  }

  RemoveStaleTemporaries(target);
  const std::string temporary = TemporaryNameFor(target);
  int err = InjectedFault(ReplaceStep::CreateTemporary);
  // A new file gets the usual permissions less the umask; an existing one keeps its own,
  // set below once the temporary is ours.
  const int fd = err ? -1
                     : ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                              existed ? 0600 : 0666);
  if (fd < 0) {
    error = Describe("Cannot write", path, err ? err : errno);
    return false;
  }
  auto fail = [&](int e) {
    ::close(fd);
    ::unlink(temporary.c_str());
    error = Describe("Cannot write", path, e);
    return false;
  };

  const int injected = InjectedFault(ReplaceStep::Write);
  int writeError = 0;
  std::vector<uint8_t> batch;
  const auto writeBatch = [&] {
    if (writeError == 0 && !batch.empty() && !WriteAll(fd, batch.data(), batch.size(), writeError))
      return false;
    batch.clear();
    return writeError == 0;
  };
  const ByteSink sink = [&](std::span<const uint8_t> piece) {
    if (injected != 0) {
      int ignored = 0;
      WriteAll(fd, piece.data(), piece.size() / 2, ignored);
      writeError = injected;
      return false;
    }
    if (writeError != 0) return false;
    if (batch.size() + piece.size() <= kWriteBatchBytes) {
      if (batch.capacity() == 0) batch.reserve(kWriteBatchBytes);
      batch.insert(batch.end(), piece.begin(), piece.end());
      return true;
    }
    return writeBatch() && WriteAll(fd, piece.data(), piece.size(), writeError);
  };
  std::string sourceError;
  const bool produced = source(sink, sourceError) && writeBatch();
  if (injected != 0 || writeError != 0) return fail(injected != 0 ? injected : writeError);
  if (!produced) {
    fail(EIO);
    error = sourceError.empty() ? Describe("Cannot write", path, EIO) : sourceError;
    return false;
  }
  if (existed) {
    // Keeping owner and group only works for a privileged or owning user; without it the
    // file still gets its old permission bits.
    [[maybe_unused]] const int owned = ::fchown(fd, st.st_uid, st.st_gid);
    if (::fchmod(fd, st.st_mode & 07777) != 0) return fail(errno);
  }
  if ((err = InjectedFault(ReplaceStep::Flush)) != 0) return fail(err);
  if (::fsync(fd) != 0) return fail(errno);
  if (::close(fd) != 0) {
    ::unlink(temporary.c_str());
    error = Describe("Cannot write", path, errno);
    return false;
  }
  err = InjectedFault(ReplaceStep::Rename);
  if (err != 0 || ::rename(temporary.c_str(), target.c_str()) != 0) {
    if (err == 0) err = errno;
    ::unlink(temporary.c_str());
    error = Describe("Cannot write", path, err);
    return false;
  }
  // Make the rename itself durable.
  const std::string folder = std::filesystem::path(target).parent_path().string();
  const int dir = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return true;
}

bool CopyFile(const std::string& from, const std::string& to, std::string& error) {
  std::vector<uint8_t> bytes;
  return ReadWholeFile(from, bytes, error) && ReplaceFile(to, bytes, error);
}

ReplaceFaultHook SetReplaceFaultHook(ReplaceFaultHook hook) {
  return std::exchange(FaultHook(), std::move(hook));
}

}  // namespace platform
