// Archives larger than the pieces the reader and writer move at a time: chunks of several
// megabytes, whole-chunk lengths between them and a long tail after the last chunk still
// open and save byte for byte.
#include <gtest/gtest.h>

#include "archive/ParseFuncts.h"
#include "kit/Files.h"
#include "kit/PvmBuilder.h"
#include "kit/Seams.h"

namespace {

using namespace archive_builder;
using testkit::ReadBytes;

class ArchivePieces : public ::testing::Test {
 protected:
  void SetUp() override { ParseFuncts::CloseArchive(); }
  void TearDown() override { ParseFuncts::CloseArchive(); }
  testkit::ScratchFolder folder;
};

TEST_F(ArchivePieces, LargeChunksAndALongTailSaveByteForByte) {
  const Bytes big = Pattern(2 << 20, 3);  // a 1024 x 1024 texture
  // The middle chunk's length counts the whole chunk: its data as read ends with the first
  // 8 bytes of the chunk after it, which that chunk's own header then writes again.
  const Bytes pvm = Join({PvmHeader{.names = {"big", "whole", "last"}}.Build(),
                          PvrChunk{.width = 1024, .height = 1024, .data = big}.Build(),
                          PvrChunk{.length = 16 + 32, .width = 4, .height = 4, .data = Pattern(32, 4)}.Build(),
                          PvrChunk{.pFormat = 2, .eFormat = 1, .width = 512, .height = 512,
                                   .data = Pattern(512 * 512 * 2, 5)}.Build(),
                          Pattern((5 << 20) / 2 + 7, 6)});
  const std::string path = folder.Write("big.pvm", pvm);
  ASSERT_TRUE(ParseFuncts::OpenArchive(path));
  ASSERT_EQ(ParseFuncts::Textures.size(), 4u);
  EXPECT_EQ(ParseFuncts::Textures[1]->ChunkRecord().Data, big);
  const Bytes& whole = ParseFuncts::Textures[2]->ChunkRecord().Data;
  ASSERT_EQ(whole.size(), 40u);
  EXPECT_EQ(Bytes(whole.end() - 8, whole.end()), (Bytes{'P', 'V', 'R', 'T', 8, 0, 8, 0}));

  folder.Write("big.pvm", Bytes(pvm.size(), 0));  // the save must put every byte back
  Bytes tail(pvm.end() - ((5 << 20) / 2 + 7), pvm.end());
  Bytes expected = pvm;
  std::fill(expected.end() - long(tail.size()), expected.end(), uint8_t{0});
  ASSERT_TRUE(ParseFuncts::SaveArchive(path));
  EXPECT_EQ(ReadBytes(path), expected);

  folder.Write("big.pvm", pvm);
  ASSERT_TRUE(ParseFuncts::SaveArchive(path));
  EXPECT_EQ(ReadBytes(path), pvm);
}

}  // namespace
