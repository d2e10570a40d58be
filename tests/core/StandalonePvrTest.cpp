#include <gtest/gtest.h>

#include "archive/ParseFuncts.h"
#include "kit/Files.h"
#include "kit/PvmBuilder.h"
#include "kit/Seams.h"

namespace {

using namespace archive_builder;

class StandalonePvr : public ::testing::Test {
 protected:
  testkit::AttachedWindow window;
  testkit::ScratchFolder folder;
  const Bytes chunk = PvrChunk{.reserved = 0xBEEF, .width = 4, .height = 4, .data = Pattern(32, 1)}.Build();
};

// Told apart by content, whatever the extension; saved with every byte but the texels as read.
TEST_F(StandalonePvr, OpensAsOneEntryAndSavesOnlyItsTexels) {
  const Bytes end{'e', 'n', 'd'};
  for (const Bytes& index : {IndexChunk(), IndexChunk(8, "GCIX"), Bytes{}}) {
    const std::string path = folder.Write("Wall 2.pvm", Join({index, chunk, end}));
    ASSERT_TRUE(ParseFuncts::OpenArchive(path));
    EXPECT_EQ(window.rows, std::vector<std::string>{"Wall 2.pvm"});
    EXPECT_EQ(window.status, "Loaded 1 sets...");
    ASSERT_EQ(ParseFuncts::Textures.size(), 2u);
    EXPECT_EQ(ParseFuncts::Textures[1]->ChunkRecord().Data, Pattern(32, 1));

    ASSERT_TRUE(ParseFuncts::SaveArchive(path));
    EXPECT_EQ(testkit::ReadBytes(path), Join({index, chunk, end}));
    ParseFuncts::Textures[1]->SetPVRData(40, 1, 9, 4, 4, Pattern(32, 9));
    ASSERT_TRUE(ParseFuncts::SaveArchive(path));
    EXPECT_EQ(testkit::ReadBytes(path), Join({index, Bytes(chunk.begin(), chunk.begin() + 16), Pattern(32, 9), end}));
  }
}

TEST_F(StandalonePvr, RefusesALyingIndexChunkOrChunkLength) {
  const std::pair<Bytes, std::string> cases[] = {
      {Join({IndexChunk(0xFFFFFFF0), chunk}),
       "The GBIX chunk is 4294967288 bytes long, so the file (64 bytes) has no room for the PVRT chunk after it."},
      {Join({IndexChunk(4, "GCIX"), chunk}), "The GCIX chunk is 12 bytes long, but no PVRT chunk follows it at offset 12."},
      {PvrChunk{.length = 49, .data = Pattern(32, 1)}.Build(),
       "The texture (at offset 0) is 57 bytes long and runs 9 bytes past the end of the file."},
  };
  for (const auto& [bytes, reason] : cases) {
    testkit::MessageLog log;
    const std::string path = folder.Write("bad.pvr", bytes);
    EXPECT_FALSE(ParseFuncts::OpenArchive(path));
    ASSERT_EQ(log.messages.size(), 1u);
    EXPECT_EQ(log.messages[0].text, "This is not a valid PVM file!\n\n" + path + "\n" + reason);
    EXPECT_EQ(log.messages[0].title, "Hey!");
  }
  // Cut anywhere but in the last 8 data bytes (read as zeros), a file is refused.
  const Bytes full = Join({IndexChunk(), chunk});
  for (size_t size = 0; size < full.size(); ++size) {
    testkit::MessageLog log;
    const bool opened = ParseFuncts::OpenArchive(folder.Write("cut.pvr", Bytes(full.begin(), full.begin() + long(size))));
    EXPECT_EQ(opened, size >= full.size() - 8) << size;
    EXPECT_EQ(log.messages.size(), opened ? 0u : 1u) << size;
  }
}

}  // namespace
