// Saves that fail at each step of replacing the file, saves into files or folders that may
// not be written, and savers killed part way: afterwards the archive on disk holds exactly
// its old bytes or exactly its new ones, the failure names the file, and no temporary file
// stays beside it.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <set>
#include <thread>

#include "archive/Archive.h"
#include "core/ChildProcess.h"
#include "kit/Files.h"
#include "kit/PvmBuilder.h"
#include "platform/Files.h"

namespace {

using namespace archive_builder;
using platform::ReplaceStep;

// An archive of `count` rectangular RGB565 textures of side x side texels, each filled
// with its own pattern, laid out as the editor writes it (so an unchanged save is exact).
Bytes MakeArchive(int count, int16_t side) {
  PvmHeader header;
  for (int k = 1; k <= count; ++k) header.names.push_back("texture" + std::to_string(k));
  Bytes out = header.Build();
  for (int k = 1; k <= count; ++k) {
    const Bytes chunk = PvrChunk{.width = side, .height = side,
                                 .data = Pattern(size_t(side) * size_t(side) * 2, uint8_t(k))}
                            .Build();
    out.insert(out.end(), chunk.begin(), chunk.end());
  }
  return out;
}

// Where texture k's data begins in an archive made by MakeArchive.
size_t DataOffset(const Bytes& archive, int k, int16_t side) {
  const size_t headerSize = size_t(archive[4] | archive[5] << 8 | archive[6] << 16) + 8;
  return headerSize + size_t(k - 1) * (16 + size_t(side) * size_t(side) * 2) + 16;
}

// The same archive after texture k's data became `data` and was saved.
Bytes WithData(Bytes archive, int k, int16_t side, const Bytes& data) {
  std::copy(data.begin(), data.end(), archive.begin() + std::ptrdiff_t(DataOffset(archive, k, side)));
  return archive;
}

// The archive at path with texture k's data replaced; an empty one if it cannot be read.
Archive OpenAndEdit(const std::string& path, int k, const Bytes& data) {
  Expected<Archive> archive = Archive::Open(path);
  if (!archive) return {};
  archive->Entries().at(size_t(k - 1)).texture.data = TexelData(data);
  return std::move(*archive);
}

// The file's bytes, read in one go (a byte-wise stream read of the large archive below
// is slow under the sanitizers).
Bytes FileBytes(const std::string& path) {
  Bytes bytes;
  std::string error;
  EXPECT_TRUE(platform::ReadWholeFile(path, bytes, error)) << error;
  return bytes;
}

class SaveFaults : public ::testing::Test {
 protected:
  static constexpr int16_t kSide = 8;

  void SetUp() override {
    oldBytes_ = MakeArchive(3, kSide);
    path_ = folder_.Write("level.pvm", oldBytes_);
    const Bytes newData = Pattern(size_t(kSide) * kSide * 2, 0xC0);
    newBytes_ = WithData(oldBytes_, 2, kSide, newData);
    archive_ = OpenAndEdit(path_, 2, newData);
    ASSERT_EQ(archive_.EntryCount(), 3u);
  }
  void TearDown() override { platform::SetReplaceFaultHook({}); }

  std::set<std::string> Entries() const {
    const auto names = folder_.Entries();
    return {names.begin(), names.end()};
  }

  testkit::ScratchFolder folder_;
  std::string path_;
  Bytes oldBytes_, newBytes_;
  Archive archive_;
};

TEST_F(SaveFaults, EachFailingStepLeavesTheOldArchiveAndSaysSo) {
  struct Case {
    const char* what;
    ReplaceStep step;
    int error;
  };
  const Case cases[] = {
      {"the temporary file cannot be created", ReplaceStep::CreateTemporary, EACCES},
      {"too many open files", ReplaceStep::CreateTemporary, EMFILE},
      {"a write fails part way", ReplaceStep::Write, EIO},
      {"the disk is full", ReplaceStep::Write, ENOSPC},
      {"the flush to disk fails", ReplaceStep::Flush, EIO},
      {"the replace fails", ReplaceStep::Rename, EACCES},
      {"the replace crosses devices", ReplaceStep::Rename, EXDEV},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    bool injected = false;
    platform::SetReplaceFaultHook([&](ReplaceStep step) {
      if (step != c.step) return 0;
      injected = true;
      return c.error;
    });
    const Failure failure = archive_.Save(path_);
    EXPECT_TRUE(injected);
    EXPECT_EQ(FileBytes(path_), oldBytes_);
    EXPECT_EQ(Entries(), std::set<std::string>{"level.pvm"});
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->title, "Whoops");
    EXPECT_EQ(failure->text.rfind(path_ + "\n\nThis file could not be written", 0), 0u) << failure->text;
    EXPECT_NE(failure->text.find(std::strerror(c.error)), std::string::npos) << failure->text;
  }

  // The edit is still there to save once the fault is gone.
  platform::SetReplaceFaultHook({});
  EXPECT_FALSE(archive_.Save(path_));
  EXPECT_EQ(FileBytes(path_), newBytes_);
  EXPECT_EQ(Entries(), std::set<std::string>{"level.pvm"});
}

// Runs a save in a child that may not write what root could: as root the child first
// becomes the unprivileged user "nobody" (65534), since root ignores permission bits.
// Returns 0 when the save failed and the error named the file. (A folder that refuses
// the temporary file is also imitated through the fault hook above, EACCES on creating
// it, which needs no second user.)
constexpr int kCannotDropPrivileges = 10;

child_process::ChildEnd SaveWithoutPrivileges(const Archive& archive, const std::string& path) {
  return child_process::RunInChild([&] {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
      return kCannotDropPrivileges;
    const Failure failure = archive.Save(path);
    if (!failure) return 1;
    return failure->text.find(path) != std::string::npos ? 0 : 2;
  });
}

TEST_F(SaveFaults, ReadOnlyArchiveIsRefusedAndKept) {
  ::chmod(folder_.Path("").c_str(), 0777);
  ::chmod(path_.c_str(), 0444);
  const child_process::ChildEnd end = SaveWithoutPrivileges(archive_, path_);
  ASSERT_TRUE(end.exited);
  if (end.code == kCannotDropPrivileges) GTEST_SKIP() << "root here cannot become another user";
  EXPECT_EQ(end.code, 0) << "1: the save went through; 2: the error did not name the file";
  EXPECT_EQ(FileBytes(path_), oldBytes_);
  EXPECT_EQ(Entries(), std::set<std::string>{"level.pvm"});
  struct stat st {};
  ASSERT_EQ(::stat(path_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0444u);
}

TEST_F(SaveFaults, ArchiveInReadOnlyFolderIsRefusedAndKept) {
  ::chmod(path_.c_str(), 0666);
  ::chmod(folder_.Path("").c_str(), 0555);
  const child_process::ChildEnd end = SaveWithoutPrivileges(archive_, path_);
  ::chmod(folder_.Path("").c_str(), 0700);
  ASSERT_TRUE(end.exited);
  if (end.code == kCannotDropPrivileges) GTEST_SKIP() << "root here cannot become another user";
  EXPECT_EQ(end.code, 0) << "1: the save went through; 2: the error did not name the file";
  EXPECT_EQ(FileBytes(path_), oldBytes_);
  EXPECT_EQ(Entries(), std::set<std::string>{"level.pvm"});
}

// ---- Killed savers ----------------------------------------------------------------------

// Forks a child that opens the archive, edits texture `k`, tells the parent through a pipe
// that it is about to save, and saves. With killAt, the child kills itself with SIGKILL as
// the save reaches that step. Returns the child's id once it is about to save.
pid_t StartSaver(const std::string& path, int k, const Bytes& data,
                 std::optional<ReplaceStep> killAt) {
  int fds[2];
  if (::pipe(fds) != 0) return -1;
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    const Archive archive = OpenAndEdit(path, k, data);
    if (archive.EntryCount() == 0) ::_exit(2);
    if (killAt) {
      platform::SetReplaceFaultHook([step = *killAt](ReplaceStep s) {
        if (s == step) ::raise(SIGKILL);
        return 0;
      });
    }
    if (::write(fds[1], "s", 1) != 1) ::_exit(3);
    ::_exit(archive.Save(path) ? 1 : 0);
  }
  ::close(fds[1]);
  char ready = 0;
  const bool told = ::read(fds[0], &ready, 1) == 1;
  ::close(fds[0]);
  if (!told && pid > 0) {
    child_process::WaitFor(pid);
    return -1;
  }
  return pid;
}

TEST(SaveKilled, KilledSaverLeavesOldOrNewArchiveAndNextSaveClearsItsTemporary) {
  // 12 textures of 1024 x 1024 texels: a 24 MB archive.
  constexpr int16_t kSide = 1024;
  constexpr int kEdited = 7;
  testkit::ScratchFolder folder;
  const Bytes oldBytes = MakeArchive(12, kSide);
  const Bytes newData = Pattern(size_t(kSide) * kSide * 2, 0x99);
  const Bytes newBytes = WithData(oldBytes, kEdited, kSide, newData);
  const std::string path = folder.Path("big.pvm");

  auto isOldOrNew = [&] {
    const Bytes now = FileBytes(path);
    return now == oldBytes ? "old" : now == newBytes ? "new" : "a mix";
  };

  // Killed as the save reaches each step: before the temporary exists, with it empty,
  // written but not flushed, and flushed but not renamed. Each save first removes the
  // temporary the previous killed one left.
  for (ReplaceStep step : {ReplaceStep::CreateTemporary, ReplaceStep::Write, ReplaceStep::Flush,
                           ReplaceStep::Rename}) {
    SCOPED_TRACE(int(step));
    folder.Write("big.pvm", oldBytes);
    const pid_t pid = StartSaver(path, kEdited, newData, step);
    ASSERT_GT(pid, 0);
    EXPECT_EQ(child_process::WaitFor(pid).signal, SIGKILL);
    EXPECT_STREQ(isOldOrNew(), "old");
    EXPECT_EQ(folder.Entries().size(), step == ReplaceStep::CreateTemporary ? 1u : 2u);
  }

  // Killed after a delay, wherever the save has got to by then.
  for (int delayMs : {0, 3, 8, 15, 25, 40, 60, 90}) {
    SCOPED_TRACE(delayMs);
    folder.Write("big.pvm", oldBytes);
    const pid_t pid = StartSaver(path, kEdited, newData, std::nullopt);
    ASSERT_GT(pid, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    ::kill(pid, SIGKILL);
    const child_process::ChildEnd end = child_process::WaitFor(pid);
    EXPECT_TRUE(end.signal == SIGKILL || (end.exited && end.code == 0));
    EXPECT_STRNE(isOldOrNew(), "a mix");
  }

  // A save that runs to the end writes the new archive and removes what dead savers left.
  folder.Write("big.pvm", oldBytes);
  const pid_t pid = StartSaver(path, kEdited, newData, std::nullopt);
  ASSERT_GT(pid, 0);
  const child_process::ChildEnd end = child_process::WaitFor(pid);
  EXPECT_TRUE(end.exited && end.code == 0);
  EXPECT_EQ(FileBytes(path), newBytes);
  EXPECT_EQ(folder.Entries(), std::vector<std::string>{"big.pvm"});
}

// ---- Temporaries of other savers --------------------------------------------------------

// The id of a process that has ended and been reaped.
pid_t DeadProcessId() {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(0);
  child_process::WaitFor(pid);
  return pid;
}

TEST(ReplaceFileTemporaries, OnlyThoseOfDeadSaversOfTheSameFileAreRemoved) {
  testkit::ScratchFolder folder;
  const std::string path = folder.Write("a.pvm", {1, 2, 3});
  const std::string dead = std::to_string(DeadProcessId());
  const std::string live = std::to_string(::getppid());
  const std::vector<std::string> kept = {
      "a.pvm.quarnel-" + live + "-17",     // its saver may still be writing it
      "b.pvm.quarnel-" + dead + "-17",     // another file's
      "a.pvm.quarnel-" + dead + "-",       // not a name a save makes
      "a.pvm.quarnel-" + dead + "-17.bak",
      "a.pvm.quarnel-x" + dead + "-17",
  };
  for (const std::string& name : kept) folder.Write(name, {9});
  folder.Write("a.pvm.quarnel-" + dead + "-17", {9, 9});

  std::string error;
  ASSERT_TRUE(platform::ReplaceFile(path, {4, 5}, error)) << error;
  EXPECT_EQ(FileBytes(path), (Bytes{4, 5}));
  std::vector<std::string> expected = kept;
  expected.push_back("a.pvm");
  std::sort(expected.begin(), expected.end());
  std::vector<std::string> entries = folder.Entries();
  std::sort(entries.begin(), entries.end());
  EXPECT_EQ(entries, expected);
}

}  // namespace
