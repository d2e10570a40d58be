#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <random>

#include "archive/ParseFuncts.h"
#include "kit/Files.h"
#include "kit/PvmBuilder.h"
#include "kit/Seams.h"
#include "platform/Files.h"

namespace {

using namespace archive_builder;
using testkit::MessageLog;
using testkit::ReadBytes;

class ArchiveWriter : public ::testing::Test {
 protected:
  // Writes the archive, opens it, saves it unchanged and returns the bytes saved.
  Bytes OpenAndSave(const Bytes& pvm) {
    const std::string path = folder.Write("a.pvm", pvm);
    EXPECT_TRUE(ParseFuncts::OpenArchive(path));
    EXPECT_TRUE(ParseFuncts::SaveArchive(path));
    return ReadBytes(path);
  }

  testkit::AttachedWindow window;
  testkit::ScratchFolder folder;
};

// Three textures whose chunks carry odd magics and reserved fields, then bytes that belong
// to no chunk. `normalised` builds the same archive as the writer gives it back.
Bytes ThreeTextureArchive(bool normalised) {
  auto magic = [&](const char* m) { return std::string(normalised ? "PVRT" : m); };
  auto reserved = [&](uint16_t r) { return uint16_t(normalised ? 0 : r); };
  return Join({PvmHeader{.names = {"grass", "rock", "water"}}.Build(),
               PvrChunk{.magic = magic("pvrt"), .reserved = reserved(0x1234), .width = 4, .height = 4,
                        .data = Pattern(32, 1)}.Build(),
               PvrChunk{.magic = magic("XXXX"), .pFormat = 2, .eFormat = 1, .reserved = reserved(0xFFFF), .width = 4,
                        .height = 2, .data = Pattern(16, 2)}.Build(),
               PvrChunk{.pFormat = 0, .eFormat = 3, .reserved = reserved(1), .width = 3, .height = 1,
                        .data = Pattern(6, 3)}.Build(),
               Bytes{'t', 'a', 'i', 'l'}});
}

TEST_F(ArchiveWriter, SavingUnchangedGivesTheSameBytesWithMagicAndReservedNormalised) {
  EXPECT_EQ(OpenAndSave(ThreeTextureArchive(false)), ThreeTextureArchive(true));
  // And a second round changes nothing more.
  EXPECT_EQ(OpenAndSave(ThreeTextureArchive(true)), ThreeTextureArchive(true));
  EXPECT_EQ(folder.Entries(), std::vector<std::string>{"a.pvm"});
}

// With lengths that count the whole chunk, each chunk's data covers the next chunk's first
// 8 bytes, which the next chunk then writes again; the last one adds 8 zero bytes.
TEST_F(ArchiveWriter, WholeChunkLengthsGoBackInPlaceAndTheLastAddsEightZeros) {
  auto archive = [](const char* secondMagic) {
    return Join({PvmHeader{.names = {"a", "b"}}.Build(), PvrChunk{.length = 48, .data = Pattern(32, 1)}.Build(),
                 PvrChunk{.magic = secondMagic, .length = 32, .data = Pattern(16, 2)}.Build()});
  };
  EXPECT_EQ(OpenAndSave(archive("ABCD")), Join({archive("PVRT"), Bytes(8, 0)}));
  EXPECT_EQ(OpenAndSave(Join({archive("PVRT"), Bytes(8, 0)})), Join({archive("PVRT"), Bytes(8, 0)}));
}

TEST_F(ArchiveWriter, EmptyArchiveWritesItsHeaderAndLeavesTheRest) {
  const Bytes header = PvmHeader{.names = {}}.Build();
  const Bytes rest = Pattern(40, 9);
  const std::string path = folder.Write("empty.pvm", Join({header, rest}));
  ASSERT_TRUE(ParseFuncts::OpenArchive(path));
  folder.Write("empty.pvm", Join({Bytes(header.size(), 0), rest}));  // the header damaged meanwhile
  ASSERT_TRUE(ParseFuncts::SaveArchive(path));
  EXPECT_EQ(ReadBytes(path), Join({header, rest}));
}

// Bytes the writer does not own, such as a gap the next-chunk rule skips, keep whatever the
// file holds at the time of the save.
TEST_F(ArchiveWriter, LeavesGapBytesAsTheFileHoldsThem) {
  auto archive = [](uint8_t gap) {
    return Join({PvmHeader{.names = {"odd", "after"}}.Build(), PvrChunk{.data = Pattern(19, 1)}.Build(),
                 Bytes(3, gap), PvrChunk{.data = Pattern(4, 2)}.Build()});
  };
  const std::string path = folder.Write("gap.pvm", archive(0xAB));
  ASSERT_TRUE(ParseFuncts::OpenArchive(path));
  Bytes changed = archive(0xCD);
  changed[80 + 16] ^= 0xFF;  // and a texel of the first chunk, which the save restores
  folder.Write("gap.pvm", changed);
  ASSERT_TRUE(ParseFuncts::SaveArchive(path));
  EXPECT_EQ(ReadBytes(path), archive(0xCD));
}

TEST_F(ArchiveWriter, ChangedTexelsAreTheOnlyBytesThatChange) {
  const Bytes original = ThreeTextureArchive(true);
  const std::string path = folder.Write("a.pvm", original);
  ASSERT_TRUE(ParseFuncts::OpenArchive(path));
  const PVRChunk& second = ParseFuncts::Textures[2]->ChunkRecord();
  ParseFuncts::Textures[2]->SetPVRData(second.Length, second.pFormat, second.eFormat, second.Width, second.Height,
                                       Pattern(16, 200));
  ASSERT_TRUE(ParseFuncts::SaveArchive(path));

  // The second chunk starts at 128 + 48; its data at 16 into it.
  Bytes expected = original;
  const Bytes texels = Pattern(16, 200);
  std::copy(texels.begin(), texels.end(), expected.begin() + 176 + 16);
  EXPECT_EQ(ReadBytes(path), expected);
}

// A chunk with one data byte in the middle: dropping it would shift every later chunk.
TEST_F(ArchiveWriter, SingleDataByteChunkIsWrittenBack) {
  // Header of 79 bytes puts the 17-byte chunk at 79, ending at 96, where the rule puts the next.
  const Bytes pvm = Join({PvmHeader{.names = {"tiny", "b"}, .headerLength = 71}.Build(),
                          PvrChunk{.width = 1, .height = 1, .data = Bytes{0x77}}.Build(),
                          PvrChunk{.data = Pattern(16, 2)}.Build()});
  EXPECT_EQ(OpenAndSave(pvm), pvm);
}

TEST_F(ArchiveWriter, WritesNothingWithoutALoadedArchive) {
  MessageLog log;
  const Bytes bytes = ThreeTextureArchive(false);
  const std::string path = folder.Write("a.pvm", bytes);

  // At start, and for a path nobody opened.
  EXPECT_FALSE(ParseFuncts::SaveArchive(path));
  EXPECT_FALSE(ParseFuncts::SaveArchive(folder.Path("new.pvm")));

  // After a release.
  ASSERT_TRUE(ParseFuncts::OpenArchive(path));
  ParseFuncts::CloseArchive();
  EXPECT_FALSE(ParseFuncts::ArchiveLoaded());
  EXPECT_FALSE(ParseFuncts::SaveArchive(path));

  // A loaded archive is never written into another file.
  ASSERT_TRUE(ParseFuncts::OpenArchive(path));
  const std::string other = folder.Write("other.pvm", Pattern(300, 5));
  EXPECT_FALSE(ParseFuncts::SaveArchive(other));
  EXPECT_EQ(ReadBytes(other), Pattern(300, 5));

  // After a refused open the path names the refused file, the header the old archive's.
  ParseFuncts::CloseArchive();
  const std::string broken = folder.Write("broken.pvm", Join({PvmHeader{.names = {"a", "b"}}.Build(), Pattern(10, 1)}));
  EXPECT_FALSE(ParseFuncts::OpenArchive(broken));
  EXPECT_FALSE(ParseFuncts::SaveArchive(broken));
  EXPECT_EQ(ReadBytes(broken), Join({PvmHeader{.names = {"a", "b"}}.Build(), Pattern(10, 1)}));

  EXPECT_EQ(ReadBytes(path), bytes);
  EXPECT_FALSE(std::filesystem::exists(folder.Path("new.pvm")));
  EXPECT_EQ(log.messages.size(), 1u);  // only the refusal of broken.pvm
}

// Even a caller that skips the release before opening must not write the old header into
// its own file once that file has been refused.
TEST_F(ArchiveWriter, AFileRefusedOnReopeningIsNotWrittenWithTheOldArchive) {
  MessageLog log;
  const std::string path = folder.Write("a.pvm", ThreeTextureArchive(false));
  ASSERT_TRUE(ParseFuncts::OpenArchive(path));
  folder.Write("a.pvm", Pattern(100, 1));
  EXPECT_FALSE(ParseFuncts::OpenArchive(path));
  EXPECT_FALSE(ParseFuncts::ArchiveLoaded());
  EXPECT_FALSE(ParseFuncts::SaveArchive(path));
  EXPECT_EQ(ReadBytes(path), Pattern(100, 1));
}

TEST_F(ArchiveWriter, RefusesATextureWhoseSizeChanged) {
  MessageLog log;
  const Bytes bytes = ThreeTextureArchive(false);
  const std::string path = folder.Write("a.pvm", bytes);
  ASSERT_TRUE(ParseFuncts::OpenArchive(path));
  const PVRChunk& first = ParseFuncts::Textures[1]->ChunkRecord();
  ParseFuncts::Textures[1]->SetPVRData(first.Length, first.pFormat, first.eFormat, first.Width, first.Height,
                                       Pattern(48, 1));  // 16 more bytes than the chunk holds
  EXPECT_FALSE(ParseFuncts::SaveArchive(path));
  EXPECT_EQ(ReadBytes(path), bytes);
  ASSERT_EQ(log.messages.size(), 1u);
  EXPECT_EQ(log.messages[0].title, "Whoops");
  EXPECT_EQ(log.messages[0].text.rfind(path + "\n\n", 0), 0u);
}

TEST_F(ArchiveWriter, FailedSaveLeavesTheFileAsItWasAndSaysSo) {
  const Bytes bytes = ThreeTextureArchive(false);
  const std::string path = folder.Write("a.pvm", bytes);
  ASSERT_TRUE(ParseFuncts::OpenArchive(path));
  for (auto step : {platform::ReplaceStep::CreateTemporary, platform::ReplaceStep::Write,
                    platform::ReplaceStep::Flush, platform::ReplaceStep::Rename}) {
    SCOPED_TRACE(int(step));
    MessageLog log;
    auto previous = platform::SetReplaceFaultHook([step](platform::ReplaceStep s) { return s == step ? ENOSPC : 0; });
    EXPECT_FALSE(ParseFuncts::SaveArchive(path));
    platform::SetReplaceFaultHook(previous);
    EXPECT_EQ(ReadBytes(path), bytes);
    EXPECT_EQ(folder.Entries(), std::vector<std::string>{"a.pvm"});
    ASSERT_EQ(log.messages.size(), 1u);
    EXPECT_EQ(log.messages[0].title, "Whoops");
    EXPECT_EQ(log.messages[0].icon, platform::Icon::Critical);
    EXPECT_EQ(log.messages[0].text.rfind(path + "\n\nThis file could not be written", 0), 0u);
  }
  // The archive is still loaded and saves once the fault is gone.
  EXPECT_TRUE(ParseFuncts::SaveArchive(path));
  EXPECT_EQ(ReadBytes(path), ThreeTextureArchive(true));
}

TEST_F(ArchiveWriter, SaveIntoAVanishedFolderFails) {
  MessageLog log;
  std::filesystem::create_directory(folder.Path("sub"));
  const std::string path = folder.Write("sub/a.pvm", ThreeTextureArchive(false));
  ASSERT_TRUE(ParseFuncts::OpenArchive(path));
  std::filesystem::remove_all(folder.Path("sub"));
  EXPECT_FALSE(ParseFuncts::SaveArchive(path));
  EXPECT_EQ(log.messages.size(), 1u);
  EXPECT_FALSE(std::filesystem::exists(folder.Path("sub")));
}

TEST_F(ArchiveWriter, FileDeletedSinceOpeningIsWrittenAnew) {
  const std::string path = folder.Write("a.pvm", ThreeTextureArchive(false));
  ASSERT_TRUE(ParseFuncts::OpenArchive(path));
  std::filesystem::remove(path);
  ASSERT_TRUE(ParseFuncts::SaveArchive(path));
  Bytes expected = ThreeTextureArchive(true);
  expected.resize(expected.size() - 4);  // the tail belonged to no chunk
  EXPECT_EQ(ReadBytes(path), expected);
}

TEST_F(ArchiveWriter, SaveKeepsThePermissions) {
  const std::string path = folder.Write("a.pvm", ThreeTextureArchive(false));
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  ASSERT_TRUE(ParseFuncts::OpenArchive(path));
  ASSERT_TRUE(ParseFuncts::SaveArchive(path));
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

}  // namespace

namespace {

// Damaged archives are either refused or, once saved, read back to what was saved: a second
// open and save gives the same bytes again.
TEST_F(ArchiveWriter, DamagedArchivesAreRefusedOrSaveStably) {
  MessageLog log;
  const Bytes original = Join({PvmHeader{.names = {"a", "b", "c"}}.Build(),
                               PvrChunk{.length = 48, .data = Pattern(32, 1)}.Build(),
                               PvrChunk{.data = Pattern(19, 2)}.Build(), Bytes(3, 0xAB),
                               PvrChunk{.data = Pattern(9, 3)}.Build()});
  std::mt19937 rng(1234);
  const std::string path = folder.Path("d.pvm");
  int accepted = 0;
  for (int round = 0; round < 1500; ++round) {
    Bytes damaged = original;
    for (int flips = 1 + int(rng() % 3); flips > 0; --flips) {
      damaged[rng() % damaged.size()] = uint8_t(rng());
    }
    damaged.resize(damaged.size() - rng() % 12);
    folder.Write("d.pvm", damaged);
    if (!ParseFuncts::OpenArchive(path)) continue;
    ++accepted;
    ASSERT_TRUE(ParseFuncts::SaveArchive(path));
    const Bytes once = ReadBytes(path);
    ASSERT_TRUE(ParseFuncts::OpenArchive(path));
    ASSERT_TRUE(ParseFuncts::SaveArchive(path));
    ASSERT_EQ(ReadBytes(path), once) << "round " << round;
  }
  EXPECT_GT(accepted, 100);  // the damage must leave many archives readable to prove anything
}

}  // namespace
