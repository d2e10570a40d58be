#include <gtest/gtest.h>

#include "archive/ParseFuncts.h"
#include "kit/Files.h"
#include "kit/PvmBuilder.h"
#include "kit/Seams.h"

namespace {

using namespace archive_builder;
using testkit::MessageLog;

class StandalonePvr : public ::testing::Test {
 protected:
  testkit::AttachedWindow window;
  testkit::ScratchFolder folder;
};

// Opened by content whatever the extension; saved with every byte but the texels as read.
TEST_F(StandalonePvr, OpensAsOneEntryAndSavesOnlyItsTexels) {
  const Bytes chunk = PvrChunk{.pFormat = 2, .eFormat = 1, .reserved = 0xBEEF, .width = 4, .height = 4,
                               .data = Pattern(32, 1)}.Build();
  for (const Bytes& index : {IndexChunk{.index = 77}.Build(), IndexChunk{.magic = "GCIX"}.Build(), Bytes{}}) {
    SCOPED_TRACE(index.size());
    const Bytes file = Join({index, chunk, Bytes{'e', 'n', 'd'}});
    const std::string path = folder.Write("Wall 2.pvm", file);
    ASSERT_TRUE(ParseFuncts::OpenArchive(path));
    EXPECT_EQ(window.rows, std::vector<std::string>{"Wall 2.pvm"});
    EXPECT_EQ(window.status, "Loaded 1 sets...");
    EXPECT_EQ(ParseFuncts::ArchiveHeader, index);
    ASSERT_EQ(ParseFuncts::Textures.size(), 2u);
    cPVR& texture = *ParseFuncts::TextureOfRow(0);
    EXPECT_EQ(texture.ChunkRecord().Width, 4);
    EXPECT_EQ(texture.ChunkRecord().Data, Pattern(32, 1));

    ASSERT_TRUE(ParseFuncts::SaveArchive(path));
    EXPECT_EQ(testkit::ReadBytes(path), file);
    texture.SetPVRData(40, 2, 1, 4, 4, Pattern(32, 9));
    ASSERT_TRUE(ParseFuncts::SaveArchive(path));
    Bytes edited = file;
    std::copy_n(Pattern(32, 9).begin(), 32, edited.begin() + std::ptrdiff_t(index.size() + 16));
    EXPECT_EQ(testkit::ReadBytes(path), edited);
  }
}

TEST_F(StandalonePvr, RefusesBrokenFilesSayingWhatIsWrong) {
  const Bytes chunk = PvrChunk{.data = Pattern(32, 1)}.Build();
  const std::pair<Bytes, std::string> cases[] = {
      {Bytes{'G', 'B', 'I', 'X', 8, 0}, "The file ends inside its GBIX chunk."},
      {Join({IndexChunk{.length = 0xFFFFFFF0}.Build(), chunk}),
       "The GBIX chunk is 4294967288 bytes long, so the file (64 bytes) has no room for the PVRT chunk after it."},
      {Join({IndexChunk{.magic = "GCIX", .length = 4}.Build(), chunk}),
       "The GCIX chunk is 12 bytes long, but no PVRT chunk follows it at offset 12."},
      {Bytes{'P', 'V', 'R', 'T', 8, 0, 0, 0}, "The file ends inside the header of its PVRT chunk."},
      {Join({IndexChunk{}.Build(), PvrChunk{.length = 8, .data = Pattern(32, 1)}.Build()}),
       "The texture (at offset 16) has a chunk length of 8, too small to hold any texel data."},
      {PvrChunk{.length = 49, .data = Pattern(32, 1)}.Build(),
       "The texture (at offset 0) is 57 bytes long and runs 9 bytes past the end of the file."},
  };
  for (const auto& [bytes, reason] : cases) {
    MessageLog log;
    const std::string path = folder.Write("bad.pvr", bytes);
    EXPECT_FALSE(ParseFuncts::OpenArchive(path));
    ASSERT_EQ(log.messages.size(), 1u);
    EXPECT_EQ(log.messages[0].text, "This is not a valid PVM file!\n\n" + path + "\n" + reason);
    EXPECT_EQ(log.messages[0].title, "Hey!");
    EXPECT_FALSE(ParseFuncts::ArchiveLoaded());
  }
  // Cut anywhere but in the last 8 data bytes (read as zeros), a file is refused.
  const Bytes full = Join({IndexChunk{}.Build(), chunk});
  for (size_t size = 0; size < full.size(); ++size) {
    MessageLog log;
    const bool opened = ParseFuncts::OpenArchive(folder.Write("cut.pvr", Bytes(full.begin(), full.begin() + long(size))));
    EXPECT_EQ(opened, size >= full.size() - 8) << size;
    EXPECT_EQ(log.messages.size(), opened ? 0u : 1u) << size;
  }
}

}  // namespace
