// Texture packs: the index.txt grammar, the PVMX file, and packs made from archives and back.
#include <gtest/gtest.h>

#include "archive/Archive.h"
#include "archive/TexturePack.h"
#include "kit/Files.h"
#include "texture/FormatChoice.h"

namespace {

using testkit::ScratchFolder;

const BatchFiles::Voice kQuiet{[](const std::string&) {}, [](const Error&) {}};

TEST(TexturePackIndex, Grammar) {
  struct Case {
    const char* text;
    std::vector<TexturePack::Line> lines;  // empty: refused, with `words`
    const char* words;
  };
  using L = TexturePack::Line;
  const Case cases[] = {
      {"1,a.png\n", {L{1, 1, "a.png", {}}}, nullptr},
      {"# packs\r\n\r\n4294967295,sub/b c.png,8X4\r\n", {L{3, 4294967295u, "sub/b c.png", TexturePack::Size{8, 4}}}, nullptr},
      {" 7 , a.png , 2x2 \n8,b.png", {L{1, 7, "a.png", TexturePack::Size{2, 2}}, L{2, 8, "b.png", {}}}, nullptr},
      {"1\n", {}, "line 1: \"1\" is not GBIX,FILE"},
      {"1,a.png,2x2,extra\n", {}, "is not GBIX,FILE"},
      {"\n4294967296,a.png\n", {}, "line 2: the global index 4294967296 is not a number"},
      {"-1,a.png\n", {}, "the global index -1"},
      {"1,a.png,0x4\n", {}, "the size 0x4 is not WxH with sides from 1 to 8192"},
      {"1,a.png,8193x4\n", {}, "8193x4"},
      {"1,a.png,4by4\n", {}, "4by4"},
      {"1,/etc/a.png\n", {}, "lies outside the pack's folder"},
      {"1,x/../../a.png\n", {}, "lies outside"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> notes;
    const auto parsed = TexturePack::ParseIndex(c.text, notes);
    if (c.words != nullptr) {
      ASSERT_FALSE(parsed) << c.text;
      EXPECT_NE(parsed.error().text.find(c.words), std::string::npos) << parsed.error().text;
      continue;
    }
    ASSERT_TRUE(parsed) << parsed.error().text;
    ASSERT_EQ(parsed->size(), c.lines.size()) << c.text;
    for (size_t i = 0; i < c.lines.size(); ++i) {
      EXPECT_EQ((*parsed)[i].number, c.lines[i].number) << c.text;
      EXPECT_EQ((*parsed)[i].globalIndex, c.lines[i].globalIndex) << c.text;
      EXPECT_EQ((*parsed)[i].file, c.lines[i].file) << c.text;
      EXPECT_EQ((*parsed)[i].size, c.lines[i].size) << c.text;
    }
  }
  std::vector<std::string> notes;
  ASSERT_TRUE(TexturePack::ParseIndex("5,a.png\n5,b.png\n", notes));
  ASSERT_EQ(notes.size(), 1u) << "a global index given twice is allowed, with a note";
}

Archive SmallArchive() {
  Archive archive = Archive::New();
  for (int k = 0; k < 3; ++k) {
    Image picture = *Image::Blank(8 << k, 8, 255);
    for (size_t i = 0; i < picture.rgba.size(); ++i) picture.rgba[i] = uint8_t(i * (k + 3)) | (i % 4 == 3 ? 0x80 : 0);
    Archive::Entry entry;
    entry.name = "tex" + std::to_string(k);
    entry.globalIndex = 1000 + k;
    entry.texture = *FormatChoice::Make(picture, {});
    EXPECT_FALSE(archive.Insert(size_t(k), std::move(entry), "small.pvm"));
  }
  return archive;
}

TEST(TexturePack, AnUneditedRoundTripChangesNothingInAFolderOrAPvmx) {
  const ScratchFolder scratch;
  const Archive original = SmallArchive();
  for (const std::string& pack : {scratch / "pack", scratch / "pack.pvmx"}) {
    ASSERT_TRUE(TexturePack::Write(original, pack, kQuiet));
    std::vector<std::string> notes;
    const auto read = TexturePack::Read(pack, notes);
    ASSERT_TRUE(read) << read.error().text;
    ASSERT_EQ(read->size(), 3u);
    EXPECT_EQ((*read)[2].line.size, (TexturePack::Size{32, 8}));

    Archive updated = original;
    ASSERT_TRUE(TexturePack::Update(updated, *read, BatchFiles::SizeChoice::Keep, false, "small.pvm", kQuiet));
    for (size_t k = 0; k < 3; ++k) EXPECT_EQ(updated.Entries()[k].texture.data, original.Entries()[k].texture.data) << pack;

    const auto made = TexturePack::MakeArchive(*read, {}, false, "made.pvm", kQuiet);
    ASSERT_TRUE(made) << made.error().text;
    for (size_t k = 0; k < 3; ++k) {
      EXPECT_EQ(made->Entries()[k].globalIndex, 1000 + k);
      EXPECT_EQ(made->Entries()[k].name, "tex" + std::to_string(k));
      EXPECT_EQ(made->Entries()[k].texture.Decode(), original.Entries()[k].texture.Decode()) << pack;
    }
  }
}

TEST(TexturePack, APictureIsScaledToTheSizeItsLineGives) {
  const ScratchFolder scratch;
  ASSERT_TRUE(TexturePack::Write(SmallArchive(), scratch / "pack", kQuiet));
  testkit::WriteBytes(scratch / "pack/index.txt", std::vector<uint8_t>{'9', ',', 't', 'e', 'x', '0', '.', 'p', 'n', 'g',
                                                                       ',', '4', 'x', '2', '\n'});
  std::vector<std::string> notes, said;
  const auto read = TexturePack::Read(scratch / "pack", notes);
  ASSERT_TRUE(read);
  const BatchFiles::Voice voice{[&](const std::string& line) { said.push_back(line); }, [](const Error&) {}};
  const auto scaled = TexturePack::MakeArchive(*read, {}, false, "a.pvm", voice);
  ASSERT_TRUE(scaled);
  EXPECT_EQ(scaled->Entries()[0].texture.width, 4);
  EXPECT_EQ(scaled->Entries()[0].texture.height, 2);
  ASSERT_EQ(said.size(), 1u);
  EXPECT_NE(said[0].find("scaled to 4x2"), std::string::npos) << said[0];
  const auto kept = TexturePack::MakeArchive(*read, {}, true, "a.pvm", kQuiet);
  EXPECT_EQ(kept->Entries()[0].texture.width, 8);
}

TEST(TexturePack, DamagedPacksAreRefusedWithTheirFault) {
  const ScratchFolder scratch;
  ASSERT_TRUE(TexturePack::Write(SmallArchive(), scratch / "p.pvmx", kQuiet));
  const std::vector<uint8_t> pvmx = testkit::ReadBytes(scratch / "p.pvmx");
  ASSERT_TRUE(TexturePack::ReadPvmx(pvmx, "p.pvmx"));
  // Every cut of the file is refused cleanly; a lying size too.
  for (size_t cut = 0; cut + 1 < pvmx.size(); cut += 97)
    EXPECT_FALSE(TexturePack::ReadPvmx(std::span(pvmx).first(cut), "p.pvmx")) << cut;
  std::vector<uint8_t> lying = pvmx;
  const size_t sizeField = 5 + 5 + 6 + 9 + 1 + 8;  // header, index, name "tex0", size, end, offset
  lying[sizeField + 4] = 0x7F;
  const auto refused = TexturePack::ReadPvmx(lying, "p.pvmx");
  ASSERT_FALSE(refused);
  EXPECT_NE(refused.error().text.find("lies outside the file"), std::string::npos) << refused.error().text;

  std::vector<std::string> notes;
  EXPECT_FALSE(TexturePack::Read(scratch / "nowhere", notes));
  std::filesystem::create_directory(scratch / "big");
  testkit::WriteBytes(scratch / "big/index.txt", std::vector<uint8_t>(TexturePack::kMaxIndexBytes + 1, '#'));
  const auto big = TexturePack::Read(scratch / "big", notes);
  ASSERT_FALSE(big);
  EXPECT_NE(big.error().text.find("larger than 1 MiB"), std::string::npos) << big.error().text;
}

}  // namespace
