// Changing an archive's entries: the layout a changed archive is written in, the invariants
// that keep real archives byte-identical where nothing changed, the automatic formats and
// the refusals.
#include <gtest/gtest.h>

#include "archive/Archive.h"
#include "kit/Files.h"
#include "kit/PvmBuilder.h"
#include "texture/DataFormats.h"
#include "texture/FormatChoice.h"

namespace {

using archive_builder::Bytes;
using testkit::ReadBytes;
using testkit::ScratchFolder;

Image Picture(int32_t width, int32_t height, uint8_t alpha, uint8_t otherAlpha = 255) {
  Image image = *Image::Blank(width, height);
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x) {
      uint8_t* p = image.Pixel(x, y);
      p[0] = uint8_t(x * 7), p[1] = uint8_t(y * 5), p[2] = uint8_t(x ^ y), p[3] = (x + y) % 2 ? alpha : otherAlpha;
    }
  return image;
}

Archive::Entry EntryOf(const std::string& name, const Image& picture, FormatChoice::Choice choice = {}) {
  Archive::Entry entry;
  entry.name = name;
  entry.texture = *FormatChoice::Make(picture, choice);
  return entry;
}

// Two archives that are already in a layout the writer keeps: one as the classic tools lay
// them out (attribute word 0, index chunks), one that Quarnel made (attribute word 0x000F).
std::vector<Bytes> LaidOutArchives(const ScratchFolder& scratch) {
  Bytes classic = archive_builder::BuildArchive({
      {"grass", 1, 1, 8, 8, Bytes(128, 0x11), 500},
      {"rock", 0, 9, 4, 2, Bytes(16, 0x22), 501},
      {"sky", 2, 1, 4, 4, Bytes(32, 0x33), 502},
  });
  // Every chunk of a laid-out archive ends on 16 bytes, the last one too.
  classic.resize((classic.size() + 15) / 16 * 16, 0);
  Archive made = Archive::New();
  for (const char* name : {"one", "two", "three"})
    EXPECT_FALSE(made.Insert(made.EntryCount(), EntryOf(name, Picture(16, 16, 0)), "made.pvm"));
  EXPECT_FALSE(made.Save(scratch / "made.pvm"));
  return {classic, ReadBytes(scratch / "made.pvm")};
}

Bytes SaveOf(const Archive& archive, const ScratchFolder& scratch) {
  EXPECT_FALSE(archive.Save(scratch / "out.pvm"));
  return ReadBytes(scratch / "out.pvm");
}

TEST(Reshape, ChangesUndoneGiveTheFileBackAndARenameChangesOnlyItsName) {
  const ScratchFolder scratch;
  for (const Bytes& original : LaidOutArchives(scratch)) {
    const Archive read = *Archive::Read(original, "a.pvm");

    Archive moved = read;
    ASSERT_FALSE(moved.Move(0, 2));
    ASSERT_FALSE(moved.Move(2, 0));
    EXPECT_EQ(SaveOf(moved, scratch), original);

    Archive readded = read;
    const Bytes pvr = *readded.ExtractPvr(1);
    const std::string name = readded.Entries()[1].name;
    ASSERT_FALSE(readded.Remove(1));
    Expected<Archive::Entry> entry = Archive::FromPvr(pvr, "x.pvr");
    ASSERT_TRUE(entry);
    entry->name = name;
    ASSERT_FALSE(readded.Insert(1, std::move(*entry), "a.pvm"));
    EXPECT_EQ(SaveOf(readded, scratch), original);

    Archive renamed = read;
    ASSERT_FALSE(renamed.Rename(1, "stone"));
    const Bytes saved = SaveOf(renamed, scratch);
    ASSERT_EQ(saved.size(), original.size());
    std::vector<size_t> changed;
    for (size_t i = 0; i < saved.size(); ++i)
      if (saved[i] != original[i]) changed.push_back(i);
    const size_t nameAt = 12 + 2 + (read.Entries()[1].tableEntry.size());
    ASSERT_FALSE(changed.empty());
    EXPECT_GE(changed.front(), nameAt) << "the first entry's bytes changed";
    EXPECT_LT(changed.back(), nameAt + 28) << "bytes past the name changed";
  }
}

TEST(Reshape, ANewLayoutFollowsTheGameArchivesRules) {
  const ScratchFolder scratch;
  Archive archive = Archive::New();
  ASSERT_FALSE(archive.Insert(0, EntryOf("wide", Picture(8, 4, 0)), "new.pvm"));
  ASSERT_FALSE(archive.Insert(1, EntryOf("square", Picture(32, 32, 255)), "new.pvm"));
  ASSERT_FALSE(archive.SetGlobalIndex(1, 0xA1B2C3D4));
  const Bytes file = SaveOf(archive, scratch);

  // Two 38-byte entries after the 12 fixed bytes end at 88; the first chunk at 96.
  const uint32_t H = file[4] | file[5] << 8 | file[6] << 16 | uint32_t(file[7]) << 24;
  EXPECT_EQ(H, 96u - 8);
  EXPECT_EQ(file[8] | file[9] << 8, 0x000F);
  const size_t second = 12 + 38;
  EXPECT_EQ(file[second] | file[second + 1] << 8, 1) << "index field";
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&file[second + 2])), "square");
  EXPECT_EQ(file[second + 30], PvrFormat::kRGB565);
  EXPECT_EQ(file[second + 31], PvrFormat::kTwiddledMipmaps);
  EXPECT_EQ(file[second + 32], (5 - 2) | (5 - 2) << 4) << "dimensions code of 32 x 32";
  EXPECT_EQ(Bytes(file.begin() + second + 34, file.begin() + second + 38), (Bytes{0xD4, 0xC3, 0xB2, 0xA1}));

  const Archive reread = *Archive::Read(file, "new.pvm");
  ASSERT_EQ(reread.EntryCount(), 2u);
  EXPECT_EQ(reread.Entries()[1].globalIndex, 0xA1B2C3D4);
  for (const Archive::Entry& e : reread.Entries()) {
    EXPECT_EQ(e.placement->offset % 16, 0) << e.name;
    EXPECT_EQ((e.texture.length + 8) % 16, 0) << e.name << ": length counts the padding";
  }
  EXPECT_EQ(reread.Entries()[1].texture.Decode(), archive.Entries()[1].texture.Decode());
}

TEST(Reshape, AutomaticFormatsAndSizeRules) {
  struct Case {
    int32_t width, height;
    uint8_t alpha, otherAlpha;
    FormatChoice::Choice choice;
    uint8_t pixelFormat, dataFormat;  // expected, or a refusal naming `rule`
    const char* rule;
  };
  const Case cases[] = {
      {16, 16, 255, 255, {}, PvrFormat::kRGB565, PvrFormat::kTwiddledMipmaps, nullptr},
      {16, 8, 0, 255, {}, PvrFormat::kARGB1555, PvrFormat::kRectangle, nullptr},
      {12, 12, 128, 255, {}, PvrFormat::kARGB4444, PvrFormat::kRectangle, nullptr},
      {16, 16, 255, 255, {{}, {}, false}, PvrFormat::kRGB565, PvrFormat::kTwiddled, nullptr},
      {64, 64, 255, 255, {{}, PvrFormat::kVq, true}, 1, PvrFormat::kVqMipmaps, nullptr},
      {4, 4, 255, 255, {{}, PvrFormat::kVq, {}}, 0, 0, "VQ needs a square whose side is a power of two from 8 to 1024"},
      {16, 8, 255, 255, {{}, PvrFormat::kTwiddled, {}}, 0, 0, "twiddled needs a square"},
      {12, 8, 255, 255, {{}, PvrFormat::kRectangularTwiddled, {}}, 0, 0, "sides that are powers of two"},
      {16, 8, 255, 255, {{}, PvrFormat::kRectangle, true}, 0, 0, "has no mipmaps"},
  };
  for (const Case& c : cases) {
    const Expected<Texture> made = FormatChoice::Make(Picture(c.width, c.height, c.alpha, c.otherAlpha), c.choice);
    if (c.rule != nullptr) {
      ASSERT_FALSE(made) << c.rule;
      EXPECT_NE(made.error().text.find(c.rule), std::string::npos) << made.error().text;
      continue;
    }
    ASSERT_TRUE(made) << made.error().text;
    EXPECT_EQ(made->pixelFormat, c.pixelFormat) << c.width << "x" << c.height;
    EXPECT_EQ(made->dataFormat, c.dataFormat) << c.width << "x" << c.height;
    EXPECT_TRUE(made->Encodes());
  }
}

TEST(Reshape, RefusalsChangeNothing) {
  const ScratchFolder scratch;
  Archive archive = *Archive::Read(LaidOutArchives(scratch)[1], "a.pvm");
  const Archive before = archive;
  const Bytes saved = SaveOf(before, scratch);
  const std::pair<Failure, const char*> refusals[] = {
      {archive.Rename(0, "a name of twenty-eight bytes"), "at most 27 bytes"},
      {archive.Rename(0, "caf\xC3\xA9"), "not printable ASCII"},
      {archive.Rename(0, ""), "needs a name"},
      {archive.Remove(3), "rows 0 to 2"},
      {archive.Move(0, 3), "rows 0 to 2"},
      {archive.Insert(4, EntryOf("late", Picture(8, 8, 255)), "a.pvm"), "past the end"},
  };
  for (const auto& [failure, words] : refusals) {
    ASSERT_TRUE(failure) << words;
    EXPECT_NE(failure->text.find(words), std::string::npos) << failure->text;
  }
  EXPECT_EQ(SaveOf(archive, scratch), saved);
  EXPECT_FALSE(Archive::FromPvr(Bytes{'P', 'V', 'R', 'T', 1, 0}, "short.pvr"));
}

TEST(Reshape, GlobalIndicesOfNewEntries) {
  Archive empty = Archive::New();
  const uint32_t first = empty.NextGlobalIndex("/some/where/mine.pvm");
  EXPECT_GE(first, 100000u);
  EXPECT_LE(first, 9999999u);
  EXPECT_EQ(first, Archive::New().NextGlobalIndex("elsewhere/mine.pvm")) << "taken from the file name alone";
  EXPECT_NE(first, empty.NextGlobalIndex("yours.pvm"));

  ASSERT_FALSE(empty.Insert(0, EntryOf("a", Picture(8, 8, 255)), "mine.pvm"));
  EXPECT_EQ(empty.Entries()[0].globalIndex, first);
  Archive::Entry kept = EntryOf("b", Picture(8, 8, 255));
  kept.globalIndex = 7;
  ASSERT_FALSE(empty.Insert(1, std::move(kept), "mine.pvm"));
  EXPECT_EQ(empty.Entries()[1].globalIndex, 7u) << "a .pvr file's own index is kept";
  EXPECT_EQ(empty.NextGlobalIndex("mine.pvm"), first + 1);
  EXPECT_TRUE(empty.GlobalIndexTaken(7, 0));
}

// The codec stores whole cache lines into the main level, which the smaller levels precede.
TEST(Reshape, MainLevelsStartOnACacheLineInMadeReadAndCopiedTextures) {
  const ScratchFolder scratch;
  Archive made = Archive::New();
  for (uint8_t format : {PvrFormat::kTwiddled, PvrFormat::kVq})
    ASSERT_FALSE(made.Insert(0, EntryOf("t", Picture(64, 64, 255), {{}, format, true}), "a.pvm"));
  const Archive read = *Archive::Read(SaveOf(made, scratch), "a.pvm");
  for (const Texture& copied : {made.Entries()[0].texture, made.Entries()[1].texture, read.Entries()[0].texture,
                                read.Entries()[1].texture}) {
    Texture assigned;
    assigned = copied;
    for (const Texture* t : {&copied, static_cast<const Texture*>(&assigned)})
      EXPECT_EQ(uintptr_t(t->data.data() + DataFormats::LayoutOf(t->dataFormat, t->width, t->height).main.offset) % 64,
                0u);
  }
}

TEST(Reshape, AnArchiveHoldsAtMost65535Entries) {
  Archive archive = Archive::New();
  Archive::Entry tiny = EntryOf("t", Picture(1, 1, 255));
  tiny.globalIndex = 1;  // spares a search for the next index each time
  for (size_t k = 0; k < Archive::kMaxEntries; ++k) ASSERT_FALSE(archive.Insert(k, tiny, "big.pvm"));
  const Failure refused = archive.Insert(0, tiny, "big.pvm");
  ASSERT_TRUE(refused);
  EXPECT_NE(refused->text.find("65535"), std::string::npos);
  EXPECT_EQ(archive.EntryCount(), Archive::kMaxEntries);
}

}  // namespace
