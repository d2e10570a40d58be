#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "archive/ParseFuncts.h"
#include "kit/Files.h"
#include "kit/PvmBuilder.h"
#include "kit/Seams.h"

namespace {

using namespace archive_builder;
using testkit::MessageLog;

const std::string kNotValid = "This is not a valid PVM file!";

// Everything OpenArchive may change, to show that a refused file changed none of it.
struct ModuleState {
  std::vector<const cPVR*> slots;
  Bytes header;
  std::vector<std::string> rows;
  std::string status;
  bool loaded;

  bool operator==(const ModuleState&) const = default;
};

class ArchiveReader : public ::testing::Test {
 protected:
  void SetUp() override { window.status = "Loading..."; }  // as the Open command shows it

  ModuleState State() const {
    ModuleState s{{}, ParseFuncts::ArchiveHeader, window.rows, window.status, ParseFuncts::ArchiveLoaded()};
    for (const auto& t : ParseFuncts::Textures) s.slots.push_back(t.get());
    return s;
  }

  const PVRChunk& Chunk(size_t slot) const { return ParseFuncts::Textures.at(slot)->ChunkRecord(); }

  // Opens an archive, closes it and shows "Loading..." again, as the Open command leaves
  // things just before it reads the next file.
  void LeaveAClosedArchiveBehind() {
    const Bytes pvm = Join({PvmHeader{.names = {"old1", "old2", "old3"}}.Build(),
                            PvrChunk{.width = 4, .height = 2, .data = Pattern(16, 1)}.Build(),
                            PvrChunk{.width = 4, .height = 2, .data = Pattern(16, 2)}.Build(),
                            PvrChunk{.width = 4, .height = 2, .data = Pattern(16, 3)}.Build()});
    ASSERT_TRUE(ParseFuncts::OpenArchive(folder.Write("old.pvm", pvm)));
    ParseFuncts::CloseArchive();
    window.status = "Loading...";
  }

  testkit::AttachedWindow window;
  testkit::ScratchFolder folder;
};

TEST_F(ArchiveReader, ListsNamesAndHandsEachChunkToItsTexture) {
  const Bytes header = PvmHeader{.names = {"grass", "rock", "water"}}.Build();
  const Bytes pvm = Join({header,
                          PvrChunk{.pFormat = 0, .eFormat = 9, .width = 4, .height = 2, .data = Pattern(16, 10)}.Build(),
                          PvrChunk{.pFormat = 2, .eFormat = 1, .width = 2, .height = 4, .data = Pattern(16, 20)}.Build(),
                          PvrChunk{.pFormat = 1, .eFormat = 3, .width = 3, .height = 1, .data = Pattern(6, 30)}.Build()});
  window.rows = {"stale row"};

  ASSERT_TRUE(ParseFuncts::OpenArchive(folder.Write("a.pvm", pvm)));

  EXPECT_EQ(window.rows, (std::vector<std::string>{"grass", "rock", "water"}));
  EXPECT_EQ(window.status, "Loaded 3 sets...");
  EXPECT_EQ(ParseFuncts::ArchiveHeader, header);
  EXPECT_TRUE(ParseFuncts::ArchiveLoaded());
  ASSERT_EQ(ParseFuncts::Textures.size(), 4u);
  EXPECT_EQ(ParseFuncts::Textures[0], nullptr);

  const PVRChunk& second = Chunk(2);
  EXPECT_EQ(std::string(second.Magic.data(), 4), "PVRT");
  EXPECT_EQ(second.Length, 24);
  EXPECT_EQ(second.pFormat, 2);
  EXPECT_EQ(second.eFormat, 1);
  EXPECT_EQ(second.Width, 2);
  EXPECT_EQ(second.Height, 4);
  EXPECT_EQ(second.Data, Pattern(16, 20));
  EXPECT_EQ(Chunk(1).Data, Pattern(16, 10));
  EXPECT_EQ(Chunk(3).Data, Pattern(6, 30));
  EXPECT_EQ(Chunk(3).eFormat, 3);

  // List row i stands for slot i + 1; rows past the textures have none.
  EXPECT_EQ(ParseFuncts::TextureOfRow(0), ParseFuncts::Textures[1].get());
  EXPECT_EQ(ParseFuncts::TextureOfRow(2), ParseFuncts::Textures[3].get());
  EXPECT_EQ(ParseFuncts::TextureOfRow(3), nullptr);
  EXPECT_EQ(ParseFuncts::TextureOfRow(-1), nullptr);
}

TEST(BackupName, TheLastThreeCharactersBecomeBAK) {
  const std::pair<std::string, std::string> cases[] = {
      {"/d/OBJ_TEX.PVM", "/d/OBJ_TEX.BAK"},
      {"/d/x.pv\xC3\xA9", "/d/x.BAK"},              // a two-byte character goes whole
      {"/d/x.\xE2\x82\xAC\xF0\x9F\x99\x82p", "/d/x.BAK"},  // three- and four-byte ones too
      {"ab", "BAK"},
  };
  for (const auto& [archive, backup] : cases) EXPECT_EQ(ParseFuncts::BackupPathOf(archive), backup);
}

// Names written by hand at their offsets, so the step is checked against the layout itself.
TEST_F(ArchiveReader, NameFieldsAre38BytesApartExceptFor34WithTwoEntries) {
  Bytes two = PvmHeader{.names = {}, .headerLength = 72, .count = 2}.Build();
  std::memcpy(&two[14], "first\0", 6);
  std::memcpy(&two[48], "second\0", 7);  // a reader stepping 38 would read "nd" at 52
  const Bytes twoPvm = Join({two, PvrChunk{.data = Pattern(16, 1)}.Build(), PvrChunk{.data = Pattern(16, 2)}.Build()});
  ASSERT_TRUE(ParseFuncts::OpenArchive(folder.Write("two.pvm", twoPvm)));
  EXPECT_EQ(window.rows, (std::vector<std::string>{"first", "second"}));
  EXPECT_EQ(window.status, "Loaded 2 sets...");

  Bytes three = PvmHeader{.names = {}, .headerLength = 120, .count = 3}.Build();
  std::memcpy(&three[14], "one\0", 4);
  std::memcpy(&three[48], "bad\0", 4);
  std::memcpy(&three[52], "two\0", 4);
  std::memcpy(&three[90], "three\0", 6);
  const Bytes threePvm = Join({three, PvrChunk{.data = Pattern(16, 1)}.Build(), PvrChunk{.data = Pattern(16, 2)}.Build(),
                               PvrChunk{.data = Pattern(16, 3)}.Build()});
  ASSERT_TRUE(ParseFuncts::OpenArchive(folder.Write("three.pvm", threePvm)));
  EXPECT_EQ(window.rows, (std::vector<std::string>{"one", "two", "three"}));
  EXPECT_EQ(window.status, "Loaded 3 sets...");
}

// The attribute word places the names when it lists them and its table fits the header
// (a header too short for it is in the test above). A save writes the header back as read.
TEST_F(ArchiveReader, AttributeWordSetsTheNameStepWhenItsTableFits) {
  const std::pair<uint16_t, std::vector<size_t>> cases[] = {
      {0x000F, {14, 52}},      // 38 bytes
      {0x000D, {14, 50}},      // no size bytes: 36
      {0x0008, {14, 44, 74}},  // names alone: 30
      {0x0007, {14, 48}},      // no name bit: 34 for two entries
  };
  for (const auto& [attributes, nameAt] : cases) {
    SCOPED_TRACE(attributes);
    Bytes pvm = PvmHeader{.headerLength = 120, .count = int16_t(nameAt.size()), .attributes = attributes}.Build();
    std::vector<std::string> names;
    for (size_t at : nameAt) {
      names.push_back("at" + std::to_string(at));
      std::memcpy(&pvm[at], names.back().c_str(), names.back().size() + 1);
    }
    for (size_t at : nameAt) pvm = Join({pvm, PvrChunk{.data = Pattern(16, uint8_t(at))}.Build()});
    const std::string path = folder.Write("flags.pvm", pvm);
    ASSERT_TRUE(ParseFuncts::OpenArchive(path));
    EXPECT_EQ(window.rows, names);
    ASSERT_TRUE(ParseFuncts::SaveArchive(path));
    EXPECT_EQ(testkit::ReadBytes(path), pvm);
  }
}

// Told apart by its content, whatever its extension; saved with every byte but the texels
// as read.
TEST_F(ArchiveReader, PvrFileIsOneEntryAndSavesOnlyItsTexels) {
  const Bytes chunk = PvrChunk{.reserved = 0xBEEF, .width = 4, .height = 4, .data = Pattern(32, 1)}.Build();
  const Bytes end{'e', 'n', 'd'};
  for (const Bytes& index : {IndexChunk(), IndexChunk(8, "GCIX"), Bytes{}}) {
    const std::string path = folder.Write("Wall 2.pvm", Join({index, chunk, end}));
    ASSERT_TRUE(ParseFuncts::OpenArchive(path));
    EXPECT_EQ(window.rows, std::vector<std::string>{"Wall 2.pvm"});
    EXPECT_EQ(window.status, "Loaded 1 sets...");
    ASSERT_EQ(ParseFuncts::Textures.size(), 2u);
    EXPECT_EQ(Chunk(1).Data, Pattern(32, 1));

    ASSERT_TRUE(ParseFuncts::SaveArchive(path));
    EXPECT_EQ(testkit::ReadBytes(path), Join({index, chunk, end}));
    ParseFuncts::Textures[1]->SetPVRData(40, 1, 9, 4, 4, Pattern(32, 9));
    ASSERT_TRUE(ParseFuncts::SaveArchive(path));
    EXPECT_EQ(testkit::ReadBytes(path), Join({index, Bytes(chunk.begin(), chunk.begin() + 16), Pattern(32, 9), end}));
  }
}

// Saves keep the index chunks as read, also into a file that has gone since it was opened.
TEST_F(ArchiveReader, TexturesAfterIndexChunksAreReadAndSavedWithThem) {
  std::vector<Entry> entries = {{"grass", 1, 9, 4, 4, Pattern(32, 1), 7}, {"plain", 2, 9, 4, 2, Pattern(16, 2)},
                                {"rock", 0, 1, 4, 4, Pattern(32, 3), 0xFFFFFFF8}};
  const Bytes pvm = BuildArchive(entries);
  const std::string path = folder.Write("indexed.pvm", pvm);
  ASSERT_TRUE(ParseFuncts::OpenArchive(path));
  EXPECT_EQ(window.rows, (std::vector<std::string>{"grass", "plain", "rock"}));
  for (size_t k = 1; k <= entries.size(); ++k) {
    EXPECT_EQ(Chunk(k).Data, entries[k - 1].data);
    EXPECT_TRUE(ParseFuncts::Textures[k]->PVR2BMP());
  }
  ASSERT_TRUE(ParseFuncts::SaveArchive(path));
  EXPECT_EQ(testkit::ReadBytes(path), pvm);
  ParseFuncts::Textures[3]->SetPVRData(40, 0, 1, 4, 4, Pattern(32, 9));
  std::filesystem::remove(path);
  ASSERT_TRUE(ParseFuncts::SaveArchive(path));
  entries[2].data = Pattern(32, 9);
  EXPECT_EQ(testkit::ReadBytes(path), BuildArchive(entries));
}

TEST_F(ArchiveReader, EmptyArchiveHasOnlySlotZero) {
  LeaveAClosedArchiveBehind();
  const Bytes header = PvmHeader{.names = {}}.Build();
  ASSERT_TRUE(ParseFuncts::OpenArchive(folder.Write("empty.pvm", Join({header, Bytes{'j', 'u', 'n', 'k'}}))));
  EXPECT_EQ(ParseFuncts::Textures.size(), 1u);
  EXPECT_EQ(ParseFuncts::Textures[0], nullptr);
  EXPECT_TRUE(window.rows.empty());
  EXPECT_EQ(window.status, "Loaded 0 sets...");
  EXPECT_EQ(ParseFuncts::ArchiveHeader, header);
}

// H = 56 puts the first chunk at 64, where a 16 x 16 chunk (L = 520) ends at 592.
TEST_F(ArchiveReader, FirstChunkStartsRightAfterTheHeader) {
  const Bytes pvm = Join({PvmHeader{.names = {"big"}, .headerLength = 56}.Build(),
                          PvrChunk{.width = 16, .height = 16, .data = Pattern(512, 7)}.Build(), Bytes{'e', 'n', 'd'}});
  ASSERT_TRUE(ParseFuncts::OpenArchive(folder.Write("h56.pvm", pvm)));
  EXPECT_EQ(Chunk(1).Length, 520);
  EXPECT_EQ(Chunk(1).Data, Bytes(pvm.begin() + 80, pvm.begin() + 592));
}

// A 16 x 16 chunk at 128 (L = 520) ends at 656, where the next one is read, and so it is
// when its length field counts the whole chunk (L = 528).
TEST_F(ArchiveReader, FindsTheNextChunkByThe16ByteRule) {
  const Bytes header = PvmHeader{.names = {"big", "next", "last"}}.Build();
  ASSERT_EQ(header.size(), 128u);
  const Bytes big = Pattern(512, 7);
  const Bytes next = PvrChunk{.pFormat = 2, .width = 4, .height = 2, .data = Pattern(16, 99)}.Build();
  const Bytes last = PvrChunk{.width = 1, .height = 1, .data = Pattern(2, 42)}.Build();

  for (int32_t L : {520, 528}) {
    SCOPED_TRACE(L);
    const Bytes pvm = Join({header, PvrChunk{.length = L, .width = 16, .height = 16, .data = big}.Build(), next, last});
    ASSERT_TRUE(ParseFuncts::OpenArchive(folder.Write("rule.pvm", pvm)));
    EXPECT_EQ(Chunk(1).Length, L);
    EXPECT_EQ(Chunk(2).pFormat, 2);
    EXPECT_EQ(Chunk(2).Data, Pattern(16, 99));
    EXPECT_EQ(Chunk(3).Data, Pattern(2, 42));
    // L - 8 data bytes from offset 16 of the chunk: with the whole-chunk count they run on
    // into the next chunk's magic and length.
    EXPECT_EQ(Chunk(1).Data, Bytes(pvm.begin() + 144, pvm.begin() + 144 + (L - 8)));
  }
}

TEST_F(ArchiveReader, LastChunkWithWholeChunkLengthReadsItsFinalBytesAsZeros) {
  const Bytes pvm = Join({PvmHeader{.names = {"a", "b"}}.Build(), PvrChunk{.length = 32, .data = Pattern(16, 1)}.Build(),
                          PvrChunk{.length = 32, .data = Pattern(16, 2)}.Build()});
  ASSERT_TRUE(ParseFuncts::OpenArchive(folder.Write("whole.pvm", pvm)));
  EXPECT_EQ(Chunk(2).Data, Join({Pattern(16, 2), Bytes(8, 0)}));
  // The first chunk's last 8 data bytes are the second chunk's magic and length.
  EXPECT_EQ(Chunk(1).Data, Join({Pattern(16, 1), Bytes{'P', 'V', 'R', 'T', 32, 0, 0, 0}}));
}

// A chunk that ends 3 bytes short of the rule's position leaves a gap that is skipped.
TEST_F(ArchiveReader, SkipsTheGapTheRuleLeavesAfterAChunk) {
  // First chunk at 80 with L = 27 (19 data bytes): next = 80 + 27 - 1 + (108 mod 16) = 118,
  // three bytes after its end at 115.
  const Bytes pvm = Join({PvmHeader{.names = {"odd", "after"}}.Build(),
                          PvrChunk{.data = Pattern(19, 1)}.Build(), Bytes{0xAB, 0xAB, 0xAB},
                          PvrChunk{.width = 2, .data = Pattern(4, 50)}.Build()});
  ASSERT_TRUE(ParseFuncts::OpenArchive(folder.Write("gap.pvm", pvm)));
  EXPECT_EQ(Chunk(1).Data, Pattern(19, 1));
  EXPECT_EQ(Chunk(2).Width, 2);
  EXPECT_EQ(Chunk(2).Data, Pattern(4, 50));
}

TEST_F(ArchiveReader, ReadsChunksWhateverTheirMagicAndReservedField) {
  const Bytes pvm = Join({PvmHeader{.names = {"x"}}.Build(),
                          PvrChunk{.magic = "ABCD", .reserved = 0xBEEF, .width = 8, .data = Pattern(16, 3)}.Build()});
  ASSERT_TRUE(ParseFuncts::OpenArchive(folder.Write("magic.pvm", pvm)));
  EXPECT_EQ(std::string(Chunk(1).Magic.data(), 4), "PVRT");
  EXPECT_EQ(Chunk(1).Width, 8);
  EXPECT_EQ(Chunk(1).Data, Pattern(16, 3));
}

TEST_F(ArchiveReader, SingleDataByteChunkIsKept) {
  const Bytes pvm = Join({PvmHeader{.names = {"a", "tiny"}}.Build(), PvrChunk{.data = Pattern(16, 1)}.Build(),
                          PvrChunk{.data = Bytes{0x5A}}.Build()});
  ASSERT_TRUE(ParseFuncts::OpenArchive(folder.Write("tiny.pvm", pvm)));
  EXPECT_EQ(std::string(Chunk(2).Magic.data(), 4), "PVRT");
  EXPECT_EQ(Chunk(2).Length, 9);
  EXPECT_EQ(Chunk(2).Data, Bytes{0x5A});
}

TEST_F(ArchiveReader, NameWithoutNulEndsTheListingButEveryTextureExists) {
  const std::string full(28, 'N');
  const Bytes pvm = Join({PvmHeader{.names = {"", "b", full, "d"}}.Build(), PvrChunk{.data = Pattern(16, 1)}.Build(),
                          PvrChunk{.data = Pattern(16, 2)}.Build(), PvrChunk{.data = Pattern(16, 3)}.Build(),
                          PvrChunk{.data = Pattern(16, 4)}.Build()});
  ASSERT_TRUE(ParseFuncts::OpenArchive(folder.Write("nonul.pvm", pvm)));
  EXPECT_EQ(window.rows, (std::vector<std::string>{"", "b"}));
  EXPECT_EQ(window.status, "Loading...");
  ASSERT_EQ(ParseFuncts::Textures.size(), 5u);
  EXPECT_EQ(Chunk(4).Data, Pattern(16, 4));
}

TEST_F(ArchiveReader, NamesAreReadAsWindows1252) {
  const Bytes pvm = Join({PvmHeader{.names = {"caf\xE9", "\x80" "5\x9F", "\x81~"}}.Build(),
                          PvrChunk{.data = Pattern(16, 1)}.Build(), PvrChunk{.data = Pattern(16, 2)}.Build(),
                          PvrChunk{.data = Pattern(16, 3)}.Build()});
  ASSERT_TRUE(ParseFuncts::OpenArchive(folder.Write("names.pvm", pvm)));
  EXPECT_EQ(window.rows, (std::vector<std::string>{"caf\xC3\xA9", "\xE2\x82\xAC" "5\xC5\xB8", "\xC2\x81~"}));
}

TEST_F(ArchiveReader, RefusesAFileWithoutTheMagicAndChangesNothing) {
  LeaveAClosedArchiveBehind();
  const ModuleState before = State();
  ASSERT_EQ(before.slots.size(), 4u);

  for (const Bytes& bytes : {Bytes{}, Bytes{'P', 'V', 'M'}, Bytes{'P', 'V', 'M', 'h', 8, 0, 0, 0, 0, 0, 0, 0},
                             PvrChunk{.magic = "PVRt", .data = Pattern(16, 1)}.Build()}) {
    MessageLog log;
    EXPECT_FALSE(ParseFuncts::OpenArchive(folder.Write("bad.pvm", bytes)));
    ASSERT_EQ(log.messages.size(), 1u);
    EXPECT_EQ(log.messages[0].text, kNotValid);
    EXPECT_EQ(log.messages[0].title, "Hey!");
    EXPECT_EQ(log.messages[0].icon, platform::Icon::Critical);
    EXPECT_EQ(log.messages[0].buttons, platform::Buttons::Ok);
    EXPECT_EQ(State(), before);
  }
}

TEST_F(ArchiveReader, ReportsAFileThatCannotBeReadByItsPath) {
  LeaveAClosedArchiveBehind();
  const ModuleState before = State();
  for (const std::string& path : {folder.Path("missing.pvm"), folder.Path("")}) {
    MessageLog log;
    EXPECT_FALSE(ParseFuncts::OpenArchive(path));
    ASSERT_EQ(log.messages.size(), 1u);
    EXPECT_EQ(log.messages[0].text.rfind(path + "\n\nThis file could not be read.\n", 0), 0u)
        << log.messages[0].text;
    EXPECT_EQ(log.messages[0].title, "Whoops");
    EXPECT_EQ(log.messages[0].icon, platform::Icon::Critical);
    EXPECT_EQ(State(), before);
  }
}

// Two entries: header 80 bytes (H = 72), chunks of 48 bytes (L = 40) at 80 and 128, file
// 176 bytes.
Bytes TwoEntryArchive() {
  return Join({PvmHeader{.names = {"a", "b"}}.Build(), PvrChunk{.width = 4, .height = 4, .data = Pattern(32, 1)}.Build(),
               PvrChunk{.width = 4, .height = 4, .data = Pattern(32, 2)}.Build()});
}

struct Malformed {
  const char* what;
  Bytes bytes;
  std::string reason;
};

std::vector<Malformed> MalformedArchives() {
  std::vector<Malformed> cases;
  auto with = [](auto change) {
    Bytes b = TwoEntryArchive();
    change(b);
    return b;
  };
  cases.push_back({"header cut before the count", Bytes{'P', 'V', 'M', 'H', 72, 0, 0, 0, 0, 0, 2},
                   "The file ends inside the header, before its entry count."});
  cases.push_back({"negative header length", with([](Bytes& b) { SetI32At(b, 4, -1); }),
                   "The header length is negative (-1)."});
  cases.push_back({"header too short for the count", with([](Bytes& b) { SetI32At(b, 4, 3); }),
                   "The header is 11 bytes long, too short to hold its entry count."});
  cases.push_back({"header too short for the names", with([](Bytes& b) { SetI32At(b, 4, 60); }),
                   "The header is 68 bytes long, too short for the names of its 2 entries (76 bytes)."});
  cases.push_back({"header past the end", with([](Bytes& b) { SetI32At(b, 4, 1000); }),
                   "The header is 1008 bytes long, but the file has only 176 bytes."});
  cases.push_back({"negative count", with([](Bytes& b) { SetU16At(b, 10, 0xFFFF); }),
                   "The entry count is negative (-1)."});
  for (int32_t L : {8, 0, -100}) {
    cases.push_back({"chunk length below 9", with([L](Bytes& b) { SetI32At(b, 84, L); }),
                     "Texture 1 (at offset 80) has a chunk length of " + std::to_string(L) +
                         ", too small to hold any texel data."});
  }
  cases.push_back({"fewer chunks than entries",
                   Join({PvmHeader{.names = {"a", "b", "c"}}.Build(), PvrChunk{.data = Pattern(16, 1)}.Build(),
                         PvrChunk{.data = Pattern(16, 2)}.Build()}),
                   "The header says it has 3 entries, but the file ends before texture 3."});
  {
    Bytes cut = TwoEntryArchive();
    cut.resize(128 + 10);  // the second chunk's header itself is cut
    cases.push_back({"second chunk header cut", cut, "The header says it has 2 entries, but the file ends before texture 2."});
  }
  cases.push_back({"last chunk 9 bytes past the end", with([](Bytes& b) { SetI32At(b, 132, 40 + 9); }),
                   "Texture 2 (at offset 128) is 57 bytes long and runs 9 bytes past the end of the file."});
  cases.push_back({"absurd chunk length", with([](Bytes& b) { SetI32At(b, 132, 0x7FFFFFFF); }),
                   "Texture 2 (at offset 128) is 2147483655 bytes long and runs 2147483607 bytes past the end of "
                   "the file."});
  // Only the last chunk may run past the end, and only by the whole-chunk convention's 8.
  cases.push_back({"first chunk 8 bytes past the end",
                   Join({PvmHeader{.names = {"a", "b"}}.Build(), PvrChunk{.length = 32, .data = Pattern(16, 1)}.Build()}),
                   "Texture 1 (at offset 80) is 40 bytes long and runs 8 bytes past the end of the file."});
  // 15 texels (30 bytes) at 80: L = 38, the rule gives 124, inside the chunk (it ends at 126).
  cases.push_back({"chunk off the 16-byte boundary",
                   Join({PvmHeader{.names = {"a", "b"}}.Build(), PvrChunk{.width = 15, .data = Pattern(30, 1)}.Build(),
                         PvrChunk{.data = Pattern(16, 2)}.Build()}),
                   "Texture 1 (at offset 80) does not end on a 16-byte boundary, so the next texture would be read "
                   "from inside it."});
  // L = 9 at 87: the rule gives 96 = o + L, which a whole-chunk count would mean, but a
  // whole chunk of 9 bytes cannot even hold its header.
  cases.push_back({"short chunk read as a whole-chunk length",
                   Join({PvmHeader{.names = {"a", "b"}, .headerLength = 79}.Build(), PvrChunk{.data = Bytes{1}}.Build(),
                         PvrChunk{.data = Pattern(16, 2)}.Build()}),
                   "Texture 1 (at offset 87) does not end on a 16-byte boundary, so the next texture would be read "
                   "from inside it."});
  // Index chunks at 80 and 144 (then PVRT chunks at 96 and 160) whose length lies.
  const std::string second = "Texture 2's GBIX chunk (at offset 144) is ";
  const std::string noRoom = " bytes long, so the file (208 bytes) has no room for the PVRT chunk after it.";
  for (const auto& [G, reason] : std::vector<std::pair<int32_t, std::string>>{
           {-8, second + "4294967296" + noRoom}, {56, second + "64" + noRoom},
           {0, second + "8 bytes long, but no PVRT chunk follows it at offset 152."}}) {
    Bytes b = BuildArchive({{"a", 1, 9, 4, 4, Pattern(32, 1), 5}, {"b", 1, 9, 4, 4, Pattern(32, 2), 6}});
    SetI32At(b, 148, G);
    cases.push_back({"index length leading nowhere", b, reason});
  }
  // .pvr files whose index chunk or chunk length lies.
  const Bytes chunk = PvrChunk{.data = Pattern(32, 1)}.Build();
  cases.push_back({"GBIX length past the end", Join({IndexChunk(0xFFFFFFF0), chunk}),
                   "The GBIX chunk is 4294967288 bytes long, so the file (64 bytes) has no room for the PVRT chunk "
                   "after it."});
  cases.push_back({"GCIX not followed by PVRT", Join({IndexChunk(4, "GCIX"), chunk}),
                   "The GCIX chunk is 12 bytes long, but no PVRT chunk follows it at offset 12."});
  cases.push_back({"PVRT chunk 9 bytes past the end", PvrChunk{.length = 49, .data = Pattern(32, 1)}.Build(),
                   "The texture (at offset 0) is 57 bytes long and runs 9 bytes past the end of the file."});
  return cases;
}

TEST_F(ArchiveReader, RefusesMalformedArchivesSayingWhatIsWrong) {
  LeaveAClosedArchiveBehind();
  const ModuleState before = State();
  for (const Malformed& c : MalformedArchives()) {
    SCOPED_TRACE(c.what);
    MessageLog log;
    const std::string path = folder.Write("broken.pvm", c.bytes);
    EXPECT_FALSE(ParseFuncts::OpenArchive(path));
    ASSERT_EQ(log.messages.size(), 1u);
    EXPECT_EQ(log.messages[0].text, kNotValid + "\n\n" + path + "\n" + c.reason);
    EXPECT_EQ(log.messages[0].title, "Hey!");
    EXPECT_EQ(log.messages[0].icon, platform::Icon::Critical);
    EXPECT_EQ(State(), before);
  }
}

// Cutting the file anywhere is refused, except within the last chunk's final 8 bytes, which
// then read as zeros.
TEST_F(ArchiveReader, EveryPrefixIsRefusedOrReadWithZerosForTheMissingTail) {
  const Bytes full = TwoEntryArchive();
  LeaveAClosedArchiveBehind();
  const ModuleState closed = State();
  for (size_t size = 0; size < full.size(); ++size) {
    SCOPED_TRACE(size);
    const Bytes prefix(full.begin(), full.begin() + std::ptrdiff_t(size));
    MessageLog log;
    if (ParseFuncts::OpenArchive(folder.Write("prefix.pvm", prefix))) {
      EXPECT_GE(size, full.size() - 8);
      EXPECT_TRUE(log.messages.empty());
      Bytes expected(full.begin() + 144, full.end());
      std::fill(expected.begin() + std::ptrdiff_t(size - 144), expected.end(), 0);
      EXPECT_EQ(Chunk(2).Data, expected);
      EXPECT_EQ(Chunk(1).Data, Pattern(32, 1));
      ParseFuncts::CloseArchive();
      ParseFuncts::Textures.resize(4);
      ParseFuncts::ArchiveHeader = closed.header;
      window.status = "Loading...";
    } else {
      EXPECT_LT(size, full.size() - 8);
      EXPECT_EQ(log.messages.size(), 1u);
      EXPECT_EQ(State(), closed);
    }
  }
}

}  // namespace
