// Whole-file reads, existence tests, copies and all-or-nothing replacement of a file.
// Every failure comes back as false with a sentence for the user in `error`.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace platform {

// True when an ordinary file exists at path (a folder, or nothing, is false).
bool FileExists(const std::string& path);

// Reads the whole file. Refuses files larger than maxBytes rather than allocate for them,
// and anything that is not an ordinary file (a folder, a FIFO) without waiting on it.
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& bytes, std::string& error,
                   uint64_t maxBytes = uint64_t{4} << 30);

// An ordinary file opened for reads at absolute offsets, so that a large file can be taken
// in pieces instead of whole. Closed when the object goes.
class FileReader {
 public:
  FileReader() = default;
  ~FileReader();
  FileReader(const FileReader&) = delete;
  FileReader& operator=(const FileReader&) = delete;

  // Opens the file at path. Refuses anything that is not an ordinary file (a folder, a
  // FIFO) without waiting on it. False, with a sentence in error, when it cannot be read.
  bool Open(const std::string& path, std::string& error);

  // The file's size when it was opened.
  uint64_t Size() const { return size_; }

  // Reads exactly out.size() bytes from offset. False, with a sentence in error, when they
  // cannot all be read, also when the file has become shorter since it was opened.
  bool ReadAt(uint64_t offset, std::span<uint8_t> out, std::string& error) const;

 private:
  int fd_ = -1;
  uint64_t size_ = 0;
  std::string path_;
};

// Replaces the file at path with exactly `bytes`, or leaves it as it was: the bytes go to a
// temporary file beside it, which is flushed to disk and then renamed over it. An existing
// file keeps its permissions; through a symbolic link the linked file is replaced and the
// link stays. A new file gets 0666 less the umask. No temporary file is left behind,
// whatever fails, and one left by an earlier save whose process was killed is removed
// first. A file that may not be written is refused even where renaming would work.
bool ReplaceFile(const std::string& path, const std::vector<uint8_t>& bytes, std::string& error);

// The same replacement for a file too large to assemble in memory first: `source` hands the
// new file's bytes to the sink in order, in pieces of any size, and returns true when it
// has handed all of them. A sink that returns false has failed to write; the source then
// stops and returns false. A source that fails for a reason of its own returns false with a
// sentence in its error, which becomes the error of the replacement.
using ByteSink = std::function<bool(std::span<const uint8_t>)>;
using ByteSource = std::function<bool(const ByteSink& sink, std::string& error)>;
bool ReplaceFileFrom(const std::string& path, const ByteSource& source, std::string& error);

// Copies a file byte for byte to a new path, by the same all-or-nothing route.
bool CopyFile(const std::string& from, const std::string& to, std::string& error);

// Steps of ReplaceFile at which tests can make it fail, as the operating system would.
enum class ReplaceStep { CreateTemporary, Write, Flush, Rename };

// Called before each step; returning a nonzero errno makes that step fail with it. For
// Write, the first half of the first piece (all of the bytes, for ReplaceFile) is written
// before the failure, as a full disk would.
// An empty function (the default) injects nothing. Returns the hook installed before.
using ReplaceFaultHook = std::function<int(ReplaceStep)>;
ReplaceFaultHook SetReplaceFaultHook(ReplaceFaultHook hook);

}  // namespace platform
