#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <random>

#include "archive/Archive.h"
#include "kit/Files.h"
#include "kit/PvmBuilder.h"
#include "kit/Replay.h"

namespace {

using namespace archive_builder;
using testkit::ReadBytes;

class ArchiveWriter : public ::testing::Test {
 protected:
  // Opens the bytes as a file and returns the archive.
  Archive Open(const Bytes& pvm, const std::string& name = "a.pvm") {
    Expected<Archive> archive = Archive::Open(folder.Write(name, pvm));
    EXPECT_TRUE(archive) << archive.error().text;
    return archive ? std::move(*archive) : Archive{};
  }
  // Opens the bytes, saves them unchanged into another file and returns what was written.
  Bytes OpenAndSave(const Bytes& pvm) {
    EXPECT_FALSE(Open(pvm).Save(folder / "saved.pvm"));
    return ReadBytes(folder / "saved.pvm");
  }

  testkit::ScratchFolder folder;
};

// Three textures whose chunks carry odd magics and reserved fields, then bytes that belong
// to no chunk. `normalised` builds the same archive as the writer gives it back: magic
// "PVRT", the reserved fields as they were.
Bytes ThreeTextureArchive(bool normalised) {
  auto magic = [&](const char* m) { return std::string(normalised ? "PVRT" : m); };
  return Join({PvmHeader{.names = {"grass", "rock", "water"}}.Build(),
               PvrChunk{.magic = magic("pvrt"), .reserved = 0x1234, .width = 4, .height = 4,
                        .data = Pattern(32, 1)}.Build(),
               PvrChunk{.magic = magic("XXXX"), .pFormat = 2, .eFormat = 1, .reserved = 0xFFFF, .width = 4,
                        .height = 2, .data = Pattern(16, 2)}.Build(),
               PvrChunk{.pFormat = 0, .eFormat = 3, .reserved = 1, .width = 3, .height = 1,
                        .data = Pattern(6, 3)}.Build(),
               Bytes{'t', 'a', 'i', 'l'}});
}

TEST_F(ArchiveWriter, SavingUnchangedGivesTheSameBytesWithMagicNormalised) {
  EXPECT_EQ(OpenAndSave(ThreeTextureArchive(false)), ThreeTextureArchive(true));
  EXPECT_EQ(OpenAndSave(ThreeTextureArchive(true)), ThreeTextureArchive(true));
  EXPECT_EQ(folder.Entries().size(), 2u);  // a.pvm and saved.pvm, no temporary left
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

// Bytes no chunk holds (after an empty archive's header, a gap the next-chunk rule skips, a
// tail) are written back as read, whatever the file holds by the time of the save.
TEST_F(ArchiveWriter, WritesEveryOtherByteAsRead) {
  const Bytes empty = Join({PvmHeader{.names = {}}.Build(), Pattern(40, 9)});
  const Bytes gap = Join({PvmHeader{.names = {"odd", "after"}}.Build(), PvrChunk{.data = Pattern(19, 1)}.Build(),
                          Bytes(3, 0xAB), PvrChunk{.data = Pattern(4, 2)}.Build(), Bytes{'t', 'a', 'i', 'l'}});
  for (const Bytes& pvm : {empty, gap}) {
    const Archive archive = Open(pvm);
    folder.Write("a.pvm", Bytes(pvm.size(), 0xCD));
    ASSERT_FALSE(archive.Save(folder / "a.pvm"));
    EXPECT_EQ(ReadBytes(folder / "a.pvm"), pvm);
    std::filesystem::remove(folder / "a.pvm");
    ASSERT_FALSE(archive.Save(folder / "a.pvm"));
    EXPECT_EQ(ReadBytes(folder / "a.pvm"), pvm);
  }
}

TEST_F(ArchiveWriter, ChangedTexelsAreTheOnlyBytesThatChange) {
  const Bytes original = ThreeTextureArchive(true);
  Archive archive = Open(original);
  archive.Entries()[1].texture.data = TexelData(Pattern(16, 200));
  ASSERT_FALSE(archive.Save(folder / "a.pvm"));
  // The second chunk starts at 128 + 48; its data at 16 into it.
  Bytes expected = original;
  const Bytes texels = Pattern(16, 200);
  std::copy(texels.begin(), texels.end(), expected.begin() + 176 + 16);
  EXPECT_EQ(ReadBytes(folder / "a.pvm"), expected);
}

// A chunk with one data byte in the middle: dropping it would shift every later chunk.
TEST_F(ArchiveWriter, SingleDataByteChunkIsWrittenBack) {
  // Header of 79 bytes puts the 17-byte chunk at 79, ending at 96, where the rule puts the next.
  const Bytes pvm = Join({PvmHeader{.names = {"tiny", "b"}, .headerLength = 71}.Build(),
                          PvrChunk{.width = 1, .height = 1, .data = Bytes{0x77}}.Build(),
                          PvrChunk{.data = Pattern(16, 2)}.Build()});
  EXPECT_EQ(OpenAndSave(pvm), pvm);
}

// Written in place, a chunk of another size would overwrite its neighbour; an added entry
// has no place at all. Either way every entry reads back as it was left (chunks laid out
// anew are padded with zeros to 16 bytes).
TEST_F(ArchiveWriter, ATextureOfAnotherSizeOrANewEntryLeavesTheOthersWhole) {
  Archive archive = Open(ThreeTextureArchive(false));
  Texture& first = archive.Entries()[0].texture;
  first.data = TexelData(Pattern(48, 7));  // 16 more bytes than the chunk holds
  first.length = 56;
  Archive::Entry added;
  added.name = "new";
  added.texture = archive.Entries()[2].texture;
  archive.Entries().push_back(added);
  ASSERT_FALSE(archive.Save(folder / "a.pvm"));
  const Expected<Archive> reopened = Archive::Open(folder / "a.pvm");
  ASSERT_TRUE(reopened);
  ASSERT_EQ(reopened->EntryCount(), 4u);
  for (size_t k = 0; k < 4; ++k) {
    EXPECT_EQ(reopened->Entries()[k].name, archive.Entries()[k].name);
    const UnzeroedBytes& left = archive.Entries()[k].texture.data;
    UnzeroedBytes read = reopened->Entries()[k].texture.data;
    ASSERT_GE(read.size(), left.size());
    EXPECT_EQ(Bytes(read.begin() + std::ptrdiff_t(left.size()), read.end()), Bytes(read.size() - left.size(), 0));
    read.resize(left.size());
    EXPECT_EQ(read, left);
  }
}

TEST_F(ArchiveWriter, SaveIntoAVanishedFolderFailsAndKeepsPermissionsOtherwise) {
  std::filesystem::create_directory(folder / "sub");
  const Archive archive = Open(ThreeTextureArchive(false), "sub/a.pvm");
  std::filesystem::remove_all(folder / "sub");
  const Failure failure = archive.Save(folder / "sub/a.pvm");
  ASSERT_TRUE(failure);
  EXPECT_EQ(failure->text.rfind(folder / "sub/a.pvm" + "\n\nThis file could not be written", 0), 0u);
  EXPECT_FALSE(std::filesystem::exists(folder / "sub"));

  const std::string path = folder.Write("b.pvm", ThreeTextureArchive(false));
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  ASSERT_FALSE(archive.Save(path));
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

// Chunks larger than the pieces the reader and writer move at a time, a whole-chunk length
// between them and a long tail after the last chunk save byte for byte.
TEST_F(ArchiveWriter, LargeChunksAndALongTailSaveByteForByte) {
  const Bytes big = Pattern(2 << 20, 3);  // a 1024 x 1024 texture
  const Bytes pvm = Join({PvmHeader{.names = {"big", "whole", "last"}}.Build(),
                          PvrChunk{.width = 1024, .height = 1024, .data = big}.Build(),
                          PvrChunk{.length = 16 + 32, .width = 4, .height = 4, .data = Pattern(32, 4)}.Build(),
                          PvrChunk{.pFormat = 2, .eFormat = 1, .width = 512, .height = 512,
                                   .data = Pattern(512 * 512 * 2, 5)}.Build(),
                          Pattern((5 << 20) / 2 + 7, 6)});
  const Archive archive = Open(pvm, "big.pvm");
  ASSERT_EQ(archive.EntryCount(), 3u);
  EXPECT_EQ(archive.Entries()[0].texture.data, big);
  const UnzeroedBytes& whole = archive.Entries()[1].texture.data;
  ASSERT_EQ(whole.size(), 40u);
  EXPECT_EQ(Bytes(whole.end() - 8, whole.end()), (Bytes{'P', 'V', 'R', 'T', 8, 0, 8, 0}));
  folder.Write("big.pvm", Bytes(pvm.size(), 0));  // the save must put every byte back
  ASSERT_FALSE(archive.Save(folder / "big.pvm"));
  EXPECT_EQ(ReadBytes(folder / "big.pvm"), pvm);
}

// Damaged archives are either refused or, once saved, read back to what was saved: a second
// open and save gives the same bytes again (the fuzz target's run).
TEST(ArchiveRoundTrip, DamagedArchivesAreRefusedOrSaveStably) {
  const Bytes original = Join({PvmHeader{.names = {"a", "b", "c"}}.Build(),
                               PvrChunk{.length = 48, .data = Pattern(32, 1)}.Build(),
                               PvrChunk{.data = Pattern(19, 2)}.Build(), Bytes(3, 0xAB),
                               PvrChunk{.data = Pattern(9, 3)}.Build()});
  std::mt19937 rng(1234);
  int accepted = 0;
  for (int round = 0; round < 1500; ++round) {
    Bytes damaged = original;
    for (int flips = 1 + int(rng() % 3); flips > 0; --flips) damaged[rng() % damaged.size()] = uint8_t(rng());
    damaged.resize(damaged.size() - rng() % 12);
    const harness::Outcome outcome = harness::RunArchive(damaged);
    ASSERT_EQ(outcome.fault, "") << "round " << round;
    accepted += outcome.accepted;
  }
  EXPECT_GT(accepted, 100);  // the damage must leave many archives readable to prove anything
}

}  // namespace
