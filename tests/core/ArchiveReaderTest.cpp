#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "archive/Archive.h"
#include "kit/Files.h"
#include "kit/PvmBuilder.h"

namespace {

using namespace archive_builder;

const std::string kNotValid = "This is not a valid PVM file!";

// The archive the bytes hold, named a.pvm in messages; an empty one (and a failure) when
// they are refused.
Archive Read(const Bytes& bytes, const std::string& name = "a.pvm") {
  Expected<Archive> archive = Archive::Read(bytes, name);
  EXPECT_TRUE(archive) << archive.error().text;
  return archive ? std::move(*archive) : Archive{};
}

// The rows a list of the archive shows.
std::vector<std::string> Rows(const Archive& archive) {
  std::vector<std::string> rows;
  for (size_t k = 0; k < archive.ListedCount(); ++k) rows.push_back(archive.Entries()[k].name);
  return rows;
}

const UnzeroedBytes& DataOf(const Archive& archive, size_t k) { return archive.Entries().at(k).texture.data; }

TEST(ArchiveReader, ListsNamesAndHandsEachChunkToItsTexture) {
  const Bytes pvm = Join({PvmHeader{.names = {"grass", "rock", "water"}}.Build(),
                          PvrChunk{.pFormat = 0, .eFormat = 9, .width = 4, .height = 2, .data = Pattern(16, 10)}.Build(),
                          PvrChunk{.pFormat = 2, .eFormat = 1, .width = 2, .height = 4, .data = Pattern(16, 20)}.Build(),
                          PvrChunk{.pFormat = 1, .eFormat = 3, .width = 3, .height = 1, .data = Pattern(6, 30)}.Build()});
  const Archive archive = Read(pvm);
  EXPECT_EQ(Rows(archive), (std::vector<std::string>{"grass", "rock", "water"}));
  EXPECT_EQ(archive.LoadedStatus(), "Loaded 3 sets...");
  EXPECT_FALSE(archive.IsStandaloneTexture());
  const Texture& second = archive.Entries()[1].texture;
  EXPECT_EQ(second.length, 24);
  EXPECT_EQ(second.pixelFormat, 2);
  EXPECT_EQ(second.dataFormat, 1);
  EXPECT_EQ(second.width, 2);
  EXPECT_EQ(second.height, 4);
  EXPECT_EQ(DataOf(archive, 0), Pattern(16, 10));
  EXPECT_EQ(DataOf(archive, 1), Pattern(16, 20));
  EXPECT_EQ(DataOf(archive, 2), Pattern(6, 30));
}

// Each archive is a value of its own: reading, editing or saving one leaves the other.
TEST(ArchiveReader, TwoArchivesOpenAtOnceAreIndependent) {
  testkit::ScratchFolder folder;
  const Bytes first = BuildArchive({{"grass", 1, 9, 4, 4, Pattern(32, 1)}});
  const Bytes second = BuildArchive({{"rock", 2, 9, 4, 2, Pattern(16, 2)}, {"sand", 0, 9, 4, 2, Pattern(16, 3)}});
  Expected<Archive> a = Archive::Open(folder.Write("first.pvm", first));
  Expected<Archive> b = Archive::Open(folder.Write("second.pvm", second));
  ASSERT_TRUE(a && b);
  EXPECT_EQ(Rows(*a), std::vector<std::string>{"grass"});
  EXPECT_EQ(Rows(*b), (std::vector<std::string>{"rock", "sand"}));
  a->Entries()[0].texture.data = TexelData(Pattern(32, 9));
  EXPECT_EQ(DataOf(*b, 0), Pattern(16, 2));
  ASSERT_FALSE(a->Save(folder / "first.pvm"));
  EXPECT_EQ(testkit::ReadBytes(folder / "second.pvm"), second);
  ASSERT_FALSE(b->Save(folder / "second.pvm"));
  EXPECT_EQ(testkit::ReadBytes(folder / "second.pvm"), second);
  EXPECT_EQ(DataOf(*Archive::Open(folder / "first.pvm"), 0), Pattern(32, 9));
}

TEST(BackupName, TheLastThreeCharactersBecomeBAK) {
  const std::pair<std::string, std::string> cases[] = {
      {"/d/OBJ_TEX.PVM", "/d/OBJ_TEX.BAK"},
      {"/d/x.pv\xC3\xA9", "/d/x.BAK"},                     // a two-byte character goes whole
      {"/d/x.\xE2\x82\xAC\xF0\x9F\x99\x82p", "/d/x.BAK"},  // three- and four-byte ones too
      {"ab", "BAK"},
  };
  for (const auto& [archive, backup] : cases) EXPECT_EQ(BackupPathOf(archive), backup);
}

// Names written by hand at their offsets, so the step is checked against the layout itself.
TEST(ArchiveReader, NameFieldsAre38BytesApartExceptFor34WithTwoEntries) {
  Bytes two = PvmHeader{.names = {}, .headerLength = 72, .count = 2}.Build();
  std::memcpy(&two[14], "first\0", 6);
  std::memcpy(&two[48], "second\0", 7);  // a reader stepping 38 would read "nd" at 52
  EXPECT_EQ(Rows(Read(Join({two, PvrChunk{.data = Pattern(16, 1)}.Build(), PvrChunk{.data = Pattern(16, 2)}.Build()}))),
            (std::vector<std::string>{"first", "second"}));

  Bytes three = PvmHeader{.names = {}, .headerLength = 120, .count = 3}.Build();
  std::memcpy(&three[14], "one\0", 4);
  std::memcpy(&three[48], "bad\0", 4);
  std::memcpy(&three[52], "two\0", 4);
  std::memcpy(&three[90], "three\0", 6);
  const Archive archive = Read(Join({three, PvrChunk{.data = Pattern(16, 1)}.Build(),
                                     PvrChunk{.data = Pattern(16, 2)}.Build(), PvrChunk{.data = Pattern(16, 3)}.Build()}));
  EXPECT_EQ(Rows(archive), (std::vector<std::string>{"one", "two", "three"}));
  EXPECT_EQ(archive.LoadedStatus(), "Loaded 3 sets...");
}

// The attribute word places the names when it lists them and its table fits the header
// (a header too short for it is in the test above). A save writes the header back as read.
TEST(ArchiveReader, AttributeWordSetsTheNameStepWhenItsTableFits) {
  const std::pair<uint16_t, std::vector<size_t>> cases[] = {
      {0x000F, {14, 52}},      // 38 bytes
      {0x000D, {14, 50}},      // no size bytes: 36
      {0x0008, {14, 44, 74}},  // names alone: 30
      {0x0007, {14, 48}},      // no name bit: 34 for two entries
  };
  testkit::ScratchFolder folder;
  for (const auto& [attributes, nameAt] : cases) {
    SCOPED_TRACE(attributes);
    Bytes pvm = PvmHeader{.headerLength = 120, .count = int16_t(nameAt.size()), .attributes = attributes}.Build();
    std::vector<std::string> names;
    for (size_t at : nameAt) {
      names.push_back("at" + std::to_string(at));
      std::memcpy(&pvm[at], names.back().c_str(), names.back().size() + 1);
    }
    for (size_t at : nameAt) pvm = Join({pvm, PvrChunk{.data = Pattern(16, uint8_t(at))}.Build()});
    const Archive archive = Read(pvm);
    EXPECT_EQ(Rows(archive), names);
    ASSERT_FALSE(archive.Save(folder / "flags.pvm"));
    EXPECT_EQ(testkit::ReadBytes(folder / "flags.pvm"), pvm);
  }
}

// Told apart by its content, whatever its extension; saved with every byte but the texels
// as read.
TEST(ArchiveReader, PvrFileIsOneEntryAndSavesOnlyItsTexels) {
  testkit::ScratchFolder folder;
  const Bytes chunk = PvrChunk{.reserved = 0xBEEF, .width = 4, .height = 4, .data = Pattern(32, 1)}.Build();
  const Bytes end{'e', 'n', 'd'};
  for (const Bytes& index : {IndexChunk(8, "GBIX", 77), IndexChunk(8, "GCIX"), Bytes{}}) {
    const std::string path = folder.Write("Wall 2.pvm", Join({index, chunk, end}));
    Expected<Archive> archive = Archive::Open(path);
    ASSERT_TRUE(archive);
    EXPECT_TRUE(archive->IsStandaloneTexture());
    EXPECT_EQ(Rows(*archive), std::vector<std::string>{"Wall 2.pvm"});
    EXPECT_EQ(archive->LoadedStatus(), "Loaded 1 sets...");
    EXPECT_EQ(DataOf(*archive, 0), Pattern(32, 1));
    EXPECT_EQ(archive->Entries()[0].globalIndex, index.empty() ? std::nullopt : std::optional<uint32_t>(index[8]));

    ASSERT_FALSE(archive->Save(path));
    EXPECT_EQ(testkit::ReadBytes(path), Join({index, chunk, end}));
    archive->Entries()[0].texture.data = TexelData(Pattern(32, 9));
    ASSERT_FALSE(archive->Save(path));
    EXPECT_EQ(testkit::ReadBytes(path), Join({index, Bytes(chunk.begin(), chunk.begin() + 16), Pattern(32, 9), end}));
  }
}

// Saves keep the index chunks as read, also into a file that has gone since it was opened.
TEST(ArchiveReader, TexturesAfterIndexChunksAreReadAndSavedWithThem) {
  std::vector<Entry> entries = {{"grass", 1, 9, 4, 4, Pattern(32, 1), 7}, {"plain", 2, 9, 4, 2, Pattern(16, 2)},
                                {"rock", 0, 1, 4, 4, Pattern(32, 3), 0xFFFFFFF8}};
  const Bytes pvm = BuildArchive(entries);
  testkit::ScratchFolder folder;
  const std::string path = folder.Write("indexed.pvm", pvm);
  Expected<Archive> archive = Archive::Open(path);
  ASSERT_TRUE(archive);
  EXPECT_EQ(Rows(*archive), (std::vector<std::string>{"grass", "plain", "rock"}));
  for (size_t k = 0; k < entries.size(); ++k) {
    EXPECT_EQ(DataOf(*archive, k), entries[k].data);
    EXPECT_TRUE(archive->Entries()[k].texture.Decode());
  }
  EXPECT_EQ(archive->Entries()[0].indexChunk, IndexChunk(8, "GBIX", 7));
  EXPECT_TRUE(archive->Entries()[1].indexChunk.empty());
  ASSERT_FALSE(archive->Save(path));
  EXPECT_EQ(testkit::ReadBytes(path), pvm);
  archive->Entries()[2].texture.data = TexelData(Pattern(32, 9));
  std::filesystem::remove(path);
  ASSERT_FALSE(archive->Save(path));
  entries[2].data = Pattern(32, 9);
  EXPECT_EQ(testkit::ReadBytes(path), BuildArchive(entries));
}

TEST(ArchiveReader, EmptyArchiveHasNoEntries) {
  const Archive archive = Read(Join({PvmHeader{.names = {}}.Build(), Bytes{'j', 'u', 'n', 'k'}}));
  EXPECT_EQ(archive.EntryCount(), 0u);
  EXPECT_EQ(archive.LoadedStatus(), "Loaded 0 sets...");
}

// H = 56 puts the first chunk at 64, where a 16 x 16 chunk (L = 520) ends at 592.
TEST(ArchiveReader, FirstChunkStartsRightAfterTheHeader) {
  const Bytes pvm = Join({PvmHeader{.names = {"big"}, .headerLength = 56}.Build(),
                          PvrChunk{.width = 16, .height = 16, .data = Pattern(512, 7)}.Build(), Bytes{'e', 'n', 'd'}});
  const Archive archive = Read(pvm);
  EXPECT_EQ(archive.Entries()[0].texture.length, 520);
  EXPECT_EQ(DataOf(archive, 0), Bytes(pvm.begin() + 80, pvm.begin() + 592));
}

// A 16 x 16 chunk at 128 (L = 520) ends at 656, where the next one is read, and so it is
// when its length field counts the whole chunk (L = 528).
TEST(ArchiveReader, FindsTheNextChunkByThe16ByteRule) {
  const Bytes header = PvmHeader{.names = {"big", "next", "last"}}.Build();
  ASSERT_EQ(header.size(), 128u);
  const Bytes next = PvrChunk{.pFormat = 2, .width = 4, .height = 2, .data = Pattern(16, 99)}.Build();
  const Bytes last = PvrChunk{.width = 1, .height = 1, .data = Pattern(2, 42)}.Build();
  for (int32_t L : {520, 528}) {
    SCOPED_TRACE(L);
    const Bytes pvm =
        Join({header, PvrChunk{.length = L, .width = 16, .height = 16, .data = Pattern(512, 7)}.Build(), next, last});
    const Archive archive = Read(pvm);
    EXPECT_EQ(archive.Entries()[0].texture.length, L);
    EXPECT_EQ(archive.Entries()[1].texture.pixelFormat, 2);
    EXPECT_EQ(DataOf(archive, 1), Pattern(16, 99));
    EXPECT_EQ(DataOf(archive, 2), Pattern(2, 42));
    // L - 8 data bytes from offset 16 of the chunk: with the whole-chunk count they run on
    // into the next chunk's magic and length.
    EXPECT_EQ(DataOf(archive, 0), Bytes(pvm.begin() + 144, pvm.begin() + 144 + (L - 8)));
  }
}

TEST(ArchiveReader, LastChunkWithWholeChunkLengthReadsItsFinalBytesAsZeros) {
  const Archive archive = Read(Join({PvmHeader{.names = {"a", "b"}}.Build(),
                                     PvrChunk{.length = 32, .data = Pattern(16, 1)}.Build(),
                                     PvrChunk{.length = 32, .data = Pattern(16, 2)}.Build()}));
  EXPECT_EQ(DataOf(archive, 1), Join({Pattern(16, 2), Bytes(8, 0)}));
  EXPECT_EQ(DataOf(archive, 0), Join({Pattern(16, 1), Bytes{'P', 'V', 'R', 'T', 32, 0, 0, 0}}));
}

// First chunk at 80 with L = 27 (19 data bytes): next = 80 + 27 - 1 + (108 mod 16) = 118,
// three bytes after its end at 115.
TEST(ArchiveReader, SkipsTheGapTheRuleLeavesAfterAChunk) {
  const Archive archive =
      Read(Join({PvmHeader{.names = {"odd", "after"}}.Build(), PvrChunk{.data = Pattern(19, 1)}.Build(),
                 Bytes{0xAB, 0xAB, 0xAB}, PvrChunk{.width = 2, .data = Pattern(4, 50)}.Build()}));
  EXPECT_EQ(DataOf(archive, 0), Pattern(19, 1));
  EXPECT_EQ(archive.Entries()[1].texture.width, 2);
  EXPECT_EQ(DataOf(archive, 1), Pattern(4, 50));
}

// The classic reader took every archive chunk for a texture, whatever its magic said.
TEST(ArchiveReader, ChunksDecodeWhateverTheirMagicAndReservedField) {
  for (const char* magic : {"ABCD", "PVRT"}) {
    SCOPED_TRACE(magic);
    const Archive archive = Read(Join({PvmHeader{.names = {"x", "y"}}.Build(),
                                       PvrChunk{.magic = magic, .reserved = 0xBEEF, .width = 8, .height = 1, .data = Pattern(16, 3)}.Build(),
                                       PvrChunk{.data = Bytes{0x5A}}.Build()}));
    const Texture& texture = archive.Entries()[0].texture;
    EXPECT_EQ(texture.width, 8);
    EXPECT_EQ(DataOf(archive, 0), Pattern(16, 3));
    EXPECT_TRUE(texture.Decode());
    EXPECT_TRUE(texture.Encodes());
    // One data byte (L = 9) is a chunk like any other.
    EXPECT_EQ(archive.Entries()[1].texture.length, 9);
    EXPECT_EQ(DataOf(archive, 1), Bytes{0x5A});
  }
}

TEST(ArchiveReader, NameWithoutNulEndsTheListingButEveryTextureExists) {
  const Archive archive =
      Read(Join({PvmHeader{.names = {"", "b", std::string(28, 'N'), "d"}}.Build(), PvrChunk{.data = Pattern(16, 1)}.Build(),
                 PvrChunk{.data = Pattern(16, 2)}.Build(), PvrChunk{.data = Pattern(16, 3)}.Build(),
                 PvrChunk{.data = Pattern(16, 4)}.Build()}));
  EXPECT_EQ(Rows(archive), (std::vector<std::string>{"", "b"}));
  EXPECT_EQ(archive.LoadedStatus(), std::nullopt);  // the status stays "Loading..."
  ASSERT_EQ(archive.EntryCount(), 4u);
  EXPECT_EQ(DataOf(archive, 3), Pattern(16, 4));
}

TEST(ArchiveReader, NamesAreReadAsWindows1252) {
  const Archive archive = Read(Join({PvmHeader{.names = {"caf\xE9", "\x80" "5\x9F", "\x81~"}}.Build(),
                                     PvrChunk{.data = Pattern(16, 1)}.Build(), PvrChunk{.data = Pattern(16, 2)}.Build(),
                                     PvrChunk{.data = Pattern(16, 3)}.Build()}));
  EXPECT_EQ(Rows(archive), (std::vector<std::string>{"caf\xC3\xA9", "\xE2\x82\xAC" "5\xC5\xB8", "\xC2\x81~"}));
}

// ---- Refusals, in the words the editor shows -------------------------------------------

TEST(ArchiveReader, RefusesAFileWithoutTheMagicInFewWords) {
  for (const Bytes& bytes : {Bytes{}, Bytes{'P', 'V', 'M'}, Bytes{'P', 'V', 'M', 'h', 8, 0, 0, 0, 0, 0, 0, 0},
                             PvrChunk{.magic = "PVRt", .data = Pattern(16, 1)}.Build()}) {
    const Expected<Archive> archive = Archive::Read(bytes, "bad.pvm");
    ASSERT_FALSE(archive);
    EXPECT_EQ(archive.error(), (Error{"Hey!", kNotValid, Icon::Critical}));
  }
}

TEST(ArchiveReader, ReportsAFileThatCannotBeReadByItsPath) {
  testkit::ScratchFolder folder;
  for (const std::string& path : {folder.Path("missing.pvm"), folder.Path("")}) {
    const Expected<Archive> archive = Archive::Open(path);
    ASSERT_FALSE(archive);
    EXPECT_EQ(archive.error().title, "Whoops");
    EXPECT_EQ(archive.error().icon, Icon::Critical);
    EXPECT_EQ(archive.error().text.rfind(path + "\n\nThis file could not be read.\n", 0), 0u) << archive.error().text;
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
  cases.push_back({"second chunk header cut", with([](Bytes& b) { b.resize(128 + 10); }),
                   "The header says it has 2 entries, but the file ends before texture 2."});
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

// The same words from a file as from memory, the path standing where the file is named.
TEST(ArchiveReader, RefusesMalformedArchivesSayingWhatIsWrong) {
  testkit::ScratchFolder folder;
  for (const Malformed& c : MalformedArchives()) {
    SCOPED_TRACE(c.what);
    const std::string path = folder.Write("broken.pvm", c.bytes);
    for (const Expected<Archive>& archive : {Archive::Open(path), Archive::Read(c.bytes, path)}) {
      ASSERT_FALSE(archive);
      EXPECT_EQ(archive.error(), (Error{"Hey!", kNotValid + "\n\n" + path + "\n" + c.reason, Icon::Critical}));
    }
  }
}

// Cutting the file anywhere is refused, except within the last chunk's final 8 bytes, which
// then read as zeros.
TEST(ArchiveReader, EveryPrefixIsRefusedOrReadWithZerosForTheMissingTail) {
  const Bytes full = TwoEntryArchive();
  for (size_t size = 0; size < full.size(); ++size) {
    SCOPED_TRACE(size);
    const Expected<Archive> archive = Archive::Read(std::span(full).first(size), "prefix.pvm");
    EXPECT_EQ(archive.has_value(), size >= full.size() - 8);
    if (!archive) continue;
    Bytes expected(full.begin() + 144, full.end());
    std::fill(expected.begin() + std::ptrdiff_t(size - 144), expected.end(), 0);
    EXPECT_EQ(DataOf(*archive, 1), expected);
    EXPECT_EQ(DataOf(*archive, 0), Pattern(32, 1));
  }
}

}  // namespace
