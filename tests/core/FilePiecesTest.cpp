// Reading a file at offsets and replacing one from pieces: what lets the archive module
// open and save an archive without holding a second copy of it in memory.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <numeric>

#include "kit/Files.h"
#include "kit/Seams.h"
#include "platform/Files.h"

namespace {

using Bytes = std::vector<uint8_t>;
using testkit::ReadBytes;
using testkit::ScratchFolder;

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

// A FIFO would block a plain open until some writer came; it is refused at once.
TEST(FileReader, RefusesWhatIsNotAnOrdinaryFile) {
  ScratchFolder folder;
  const std::string fifo = folder.Path("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path : {folder.Path("missing"), folder.Path(""), fifo}) {
    SCOPED_TRACE(path);
    platform::FileReader file;
    std::string error;
    EXPECT_FALSE(file.Open(path, error));
    EXPECT_NE(error.find(path), std::string::npos) << error;
    EXPECT_EQ(file.Size(), 0u);
    Bytes piece(1);
    EXPECT_FALSE(file.ReadAt(0, piece, error));
  }
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
