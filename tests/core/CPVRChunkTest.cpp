#include <gtest/gtest.h>

#include "texture/cPVR.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Handed {
  Bytes data;
  int16_t height = -1, width = -1;
  uint8_t pmat = 0xFF, emat = 0xFF;
  int32_t length = -1;
};

Handed Save(const cPVR& t) {
  Handed h;
  t.SavePVR(h.data, h.height, h.width, h.pmat, h.emat, h.length);
  return h;
}

bool HoldsAChunk(const cPVR& t) { return std::string(t.ChunkRecord().Magic.data(), 4) == "PVRT"; }

TEST(TextureChunk, NewObjectHandsBackNothing) {
  const cPVR t;
  EXPECT_FALSE(HoldsAChunk(t));
  const Handed h = Save(t);
  EXPECT_TRUE(h.data.empty());
  EXPECT_EQ(h.height, 0);
  EXPECT_EQ(h.width, 0);
  EXPECT_EQ(h.pmat, 0);
  EXPECT_EQ(h.emat, 0);
  EXPECT_EQ(h.length, 0);
}

// LoadPVR takes height before width and the formats pixel-first; SavePVR hands them back in
// the same order.
TEST(TextureChunk, LoadThenSaveHandsBackEveryField) {
  cPVR t;
  t.LoadPVR(Bytes{1, 2, 3, 4, 5, 6}, /*Height=*/1, /*Width=*/3, /*pmat=*/2, /*emat=*/9, /*Length=*/14);
  EXPECT_TRUE(HoldsAChunk(t));
  const Handed h = Save(t);
  EXPECT_EQ(h.data, (Bytes{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(h.height, 1);
  EXPECT_EQ(h.width, 3);
  EXPECT_EQ(h.pmat, 2);
  EXPECT_EQ(h.emat, 9);
  EXPECT_EQ(h.length, 14);
}

TEST(TextureChunk, KeepsItsOwnCopyOfTheData) {
  cPVR t;
  Bytes given{10, 20, 30, 40};
  t.LoadPVR(given, 1, 2, 1, 9, 12);
  given[0] = 99;
  EXPECT_EQ(Save(t).data, (Bytes{10, 20, 30, 40}));

  Handed out = Save(t);
  out.data[1] = 99;
  EXPECT_EQ(Save(t).data, (Bytes{10, 20, 30, 40}));

  Bytes replacement{7, 8, 9, 10};
  t.SetPVRData(12, 1, 9, 2, 1, replacement);
  replacement[3] = 99;
  EXPECT_EQ(Save(t).data, (Bytes{7, 8, 9, 10}));
}

// One data byte (L = 9) is a chunk like any other: dropping it would make a save write an
// empty chunk in its place.
TEST(TextureChunk, StoresASingleDataByte) {
  cPVR t;
  t.LoadPVR(Bytes{0x42}, 0, 0, 3, 7, 9);
  EXPECT_TRUE(HoldsAChunk(t));
  const Handed h = Save(t);
  EXPECT_EQ(h.data, Bytes{0x42});
  EXPECT_EQ(h.length, 9);
  EXPECT_EQ(h.pmat, 3);
  EXPECT_EQ(h.emat, 7);
}

}  // namespace
