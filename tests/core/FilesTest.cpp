#include "platform/Files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "kit/Files.h"
#include "kit/Seams.h"

namespace {

using Bytes = std::vector<uint8_t>;
using testkit::ReadBytes;
using testkit::ScratchFolder;

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

// Sets the umask for one scope.
struct ScopedUmask {
  explicit ScopedUmask(mode_t mask) : previous(::umask(mask)) {}
  ~ScopedUmask() { ::umask(previous); }
  mode_t previous;
};

TEST(ReadWholeFile, ReadsEveryByte) {
  ScratchFolder folder;
  const Bytes bytes{0, 1, 2, 0xFF, 0, 7};
  Bytes read;
  std::string error;
  ASSERT_TRUE(platform::ReadWholeFile(folder.Write("f", bytes), read, error)) << error;
  EXPECT_EQ(read, bytes);
  ASSERT_TRUE(platform::ReadWholeFile(folder.Write("empty", {}), read, error));
  EXPECT_TRUE(read.empty());
}

// A FIFO would block a plain open until some writer came; it is refused at once.
TEST(ReadWholeFile, RefusesWhatIsNotAnOrdinaryFileAndKeepsTheBuffer) {
  ScratchFolder folder;
  const std::string fifo = folder.Path("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path : {folder.Path("missing"), folder.Path(""), fifo}) {
    SCOPED_TRACE(path);
    Bytes read{42};
    std::string error;
    EXPECT_FALSE(platform::ReadWholeFile(path, read, error));
    EXPECT_NE(error.find(path), std::string::npos) << error;
    EXPECT_EQ(read, Bytes{42});
  }
}

TEST(ReadWholeFile, RefusesFilesLargerThanTheLimit) {
  ScratchFolder folder;
  const std::string path = folder.Write("f", Bytes(100, 1));
  Bytes read;
  std::string error;
  EXPECT_FALSE(platform::ReadWholeFile(path, read, error, 99));
  EXPECT_TRUE(read.empty());
  EXPECT_TRUE(platform::ReadWholeFile(path, read, error, 100));
  EXPECT_EQ(read.size(), 100u);
}

TEST(ReplaceFile, LeavesExactlyTheNewBytes) {
  ScratchFolder folder;
  const std::string path = folder.Write("f", Bytes(500, 9));
  std::string error;
  ASSERT_TRUE(platform::ReplaceFile(path, Bytes{1, 2, 3}, error)) << error;
  EXPECT_EQ(ReadBytes(path), (Bytes{1, 2, 3}));
  ASSERT_TRUE(platform::ReplaceFile(path, {}, error)) << error;
  EXPECT_TRUE(ReadBytes(path).empty());
  EXPECT_EQ(folder.Entries(), std::vector<std::string>{"f"});
}

TEST(ReplaceFile, ExistingFileKeepsItsModeAndNewFileFollowsTheUmask) {
  ScratchFolder folder;
  const std::string existing = folder.Write("old", Bytes{1});
  ASSERT_EQ(::chmod(existing.c_str(), 0604), 0);
  std::string error;
  ScopedUmask umask(077);
  ASSERT_TRUE(platform::ReplaceFile(existing, Bytes{2}, error)) << error;
  EXPECT_EQ(ModeOf(existing), 0604u);

  const std::string created = folder.Path("new");
  ASSERT_TRUE(platform::ReplaceFile(created, Bytes{3}, error)) << error;
  EXPECT_EQ(ModeOf(created), 0600u);
  EXPECT_EQ(ReadBytes(created), Bytes{3});
}

// Saving through a link updates the file it names, as writing in place would.
TEST(ReplaceFile, ReplacesTheFileBehindASymbolicLink) {
  ScratchFolder folder;
  std::filesystem::create_directory(folder.Path("real"));
  const std::string target = folder.Write("real/f", Bytes{1, 1});
  const std::string link = folder.Path("link");
  std::filesystem::create_symlink(target, link);
  std::string error;
  ASSERT_TRUE(platform::ReplaceFile(link, Bytes{2, 2, 2}, error)) << error;
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(ReadBytes(target), (Bytes{2, 2, 2}));
  EXPECT_EQ(folder.Entries().size(), 2u);  // "real" and "link", no temporary left
}

TEST(ReplaceFile, AFaultAtAnyStepLeavesTheOldFileAndNoTemporary) {
  ScratchFolder folder;
  const std::string path = folder.Write("f", Bytes{5, 6, 7});
  for (auto step : {platform::ReplaceStep::CreateTemporary, platform::ReplaceStep::Write,
                    platform::ReplaceStep::Flush, platform::ReplaceStep::Rename}) {
    SCOPED_TRACE(int(step));
    auto previous = platform::SetReplaceFaultHook([step](platform::ReplaceStep s) { return s == step ? EIO : 0; });
    std::string error;
    EXPECT_FALSE(platform::ReplaceFile(path, Bytes(1000, 1), error));
    platform::SetReplaceFaultHook(previous);
    EXPECT_NE(error.find(path), std::string::npos) << error;
    EXPECT_EQ(ReadBytes(path), (Bytes{5, 6, 7}));
    EXPECT_EQ(folder.Entries(), std::vector<std::string>{"f"});
  }
}

TEST(CopyFile, CopiesByteForByteOrNotAtAll) {
  ScratchFolder folder;
  const std::string from = folder.Write("a.pvm", Bytes{9, 8, 7});
  std::string error;
  ASSERT_TRUE(platform::CopyFile(from, folder.Path("a.BAK"), error)) << error;
  EXPECT_EQ(ReadBytes(folder.Path("a.BAK")), (Bytes{9, 8, 7}));

  EXPECT_FALSE(platform::CopyFile(folder.Path("missing"), folder.Path("b.BAK"), error));
  EXPECT_FALSE(std::filesystem::exists(folder.Path("b.BAK")));
}

}  // namespace
