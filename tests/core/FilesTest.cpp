// Whole-file reads, reads at offsets and all-or-nothing replacement: what lets an archive be
// opened and saved without a second copy of it in memory, and a save fail without harm.
#include "platform/Files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <numeric>

#include "kit/Files.h"

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
TEST(FileReads, RefuseWhatIsNotAnOrdinaryFileAndKeepTheBuffer) {
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
    platform::FileReader file;
    error.clear();
    EXPECT_FALSE(file.Open(path, error));
    EXPECT_NE(error.find(path), std::string::npos) << error;
    EXPECT_EQ(file.Size(), 0u);
    EXPECT_FALSE(file.ReadAt(0, read, error));
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

Bytes Counting(size_t n) {
  Bytes b(n);
  std::iota(b.begin(), b.end(), uint8_t{0});
  return b;
}

TEST(FileReader, ReadsExactlyTheBytesAtAnOffset) {
  ScratchFolder folder;
  platform::FileReader file;
  std::string error;
  ASSERT_TRUE(file.Open(folder.Write("f", Counting(300)), error)) << error;
  EXPECT_EQ(file.Size(), 300u);
  Bytes piece(5);
  ASSERT_TRUE(file.ReadAt(254, piece, error)) << error;
  EXPECT_EQ(piece, (Bytes{254, 255, 0, 1, 2}));
  ASSERT_TRUE(file.ReadAt(300, std::span<uint8_t>(), error));  // nothing, at the very end
}

TEST(FileReader, ReadingPastTheEndFailsAndSaysWhichFile) {
  ScratchFolder folder;
  const std::string path = folder.Write("f", Counting(10));
  platform::FileReader file;
  std::string error;
  ASSERT_TRUE(file.Open(path, error));
  Bytes piece(4, 0xEE);
  EXPECT_FALSE(file.ReadAt(8, piece, error));
  EXPECT_NE(error.find(path), std::string::npos) << error;
  EXPECT_FALSE(file.ReadAt(uint64_t{1} << 40, piece, error));
}

// Many small pieces are gathered before they are written and large ones go straight
// through; either way the file holds them in order and nothing else.
TEST(ReplaceFileFrom, WritesThePiecesInOrder) {
  ScratchFolder folder;
  const std::string path = folder.Write("f", Bytes(5000, 9));
  const Bytes large = Counting(3 << 20);
  Bytes expected;
  std::string error;
  ASSERT_TRUE(platform::ReplaceFileFrom(
      path,
      [&](const platform::ByteSink& sink, std::string&) {
        for (int i = 0; i < 1000; ++i) {
          const Bytes small{uint8_t(i), uint8_t(i >> 8), 0xAB};
          expected.insert(expected.end(), small.begin(), small.end());
          if (!sink(small)) return false;
        }
        expected.insert(expected.end(), large.begin(), large.end());
        if (!sink(large)) return false;
        expected.push_back(0x5A);
        return sink(Bytes{0x5A});
      },
      error))
      << error;
  EXPECT_EQ(ReadBytes(path), expected);
  EXPECT_EQ(folder.Entries(), std::vector<std::string>{"f"});
}

TEST(ReplaceFileFrom, ASourceThatGivesUpLeavesTheOldFileWithItsReason) {
  ScratchFolder folder;
  const std::string path = folder.Write("f", Bytes{1, 2, 3});
  std::string error;
  EXPECT_FALSE(platform::ReplaceFileFrom(
      path,
      [](const platform::ByteSink& sink, std::string& why) {
        sink(Bytes(2 << 20, 7));
        why = "the texture went away";
        return false;
      },
      error));
  EXPECT_EQ(error, "the texture went away");
  EXPECT_EQ(ReadBytes(path), (Bytes{1, 2, 3}));
  EXPECT_EQ(folder.Entries(), std::vector<std::string>{"f"});
}

TEST(ReplaceFileFrom, AWriteFaultStopsTheSourceAndLeavesTheOldFile) {
  ScratchFolder folder;
  const std::string path = folder.Write("f", Bytes{1, 2, 3});
  auto previous = platform::SetReplaceFaultHook(
      [](platform::ReplaceStep s) { return s == platform::ReplaceStep::Write ? ENOSPC : 0; });
  int piecesAfterFailure = 0;
  std::string error;
  const bool replaced = platform::ReplaceFileFrom(
      path,
      [&](const platform::ByteSink& sink, std::string&) {
        if (sink(Bytes(100, 1))) return true;
        ++piecesAfterFailure;
        return false;
      },
      error);
  platform::SetReplaceFaultHook(previous);
  EXPECT_FALSE(replaced);
  EXPECT_EQ(piecesAfterFailure, 1);
  EXPECT_NE(error.find(path), std::string::npos) << error;
  EXPECT_EQ(ReadBytes(path), (Bytes{1, 2, 3}));
  EXPECT_EQ(folder.Entries(), std::vector<std::string>{"f"});
}

}  // namespace
