// Palette files byte by byte: what is read, what is written back, what is refused, and which
// colours a bank gives a texture.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "texture/Palette.h"

namespace {

using Bytes = std::vector<uint8_t>;

void PutU16(Bytes& b, size_t at, uint16_t v) {
  b[at] = uint8_t(v), b[at + 1] = uint8_t(v >> 8);
}

// A palette file: header fields, then `colourBytes` (already in the file's order), then
// `padding` bytes the length field does not count.
Bytes PaletteFile(uint16_t format, uint16_t first, uint16_t count, const Bytes& colourBytes,
                  size_t padding = 0) {
  Bytes b = {'P', 'V', 'P', 'L', 0, 0, 0, 0, 0, 0, 0x34, 0x12, 0, 0, 0, 0};
  const uint32_t length = uint32_t(8 + colourBytes.size());
  for (int i = 0; i < 4; ++i) b[4 + i] = uint8_t(length >> (8 * i));
  PutU16(b, 8, format);
  PutU16(b, 12, first);
  PutU16(b, 14, count);
  b.insert(b.end(), colourBytes.begin(), colourBytes.end());
  b.insert(b.end(), padding, 0xEE);
  return b;
}

TEST(Palette, ReadsEachColourFormatAndWritesTheSameBytes) {
  const struct {
    uint16_t format;
    Bytes colour;  // one colour as stored
    std::array<uint8_t, 4> rgba;
  } cases[] = {
      {Palette::kARGB1555, {0x1F, 0x7C}, {248, 0, 248, 0}},
      {Palette::kRGB565, {0xE0, 0x07}, {0, 252, 0, 255}},
      {Palette::kARGB4444, {0x21, 0xF3}, {48, 32, 16, 240}},
      {Palette::kRGB555, {0x1F, 0x00}, {0, 0, 248, 255}},  // bit 15 clear, still opaque
      {Palette::kARGB8888, {0x10, 0x20, 0x30, 0x40}, {0x30, 0x20, 0x10, 0x40}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.format);
    for (size_t padding : {0, 3}) {
      const Bytes file = PaletteFile(c.format, 16, 1, c.colour, padding);
      const Expected<Palette> p = Palette::Read(file, "a.pvp");
      ASSERT_TRUE(p) << p.error().text;
      EXPECT_EQ(p->Rgba(0), c.rgba);
      EXPECT_EQ(p->bankField, 0x1234);
      EXPECT_EQ(p->Bytes(), file);
    }
  }
}

TEST(Palette, RefusesMalformedFilesWithAMessage) {
  const Bytes good = PaletteFile(Palette::kRGB565, 0, 2, {1, 2, 3, 4});
  const struct {
    const char* what;
    std::function<void(Bytes&)> change;
  } cases[] = {
      {"not a palette", [](Bytes& b) { b[0] = 'X'; }},
      {"length past the end", [](Bytes& b) { b[4] = 13; }},
      {"length shorter than the colours", [](Bytes& b) { b[4] = 11; }},
      {"count past the length", [](Bytes& b) { PutU16(b, 14, 3); }},
      {"count of 65535", [](Bytes& b) { PutU16(b, 14, 0xFFFF); }},
      {"unknown colour format", [](Bytes& b) { PutU16(b, 8, 3); }},
      {"colours past palette memory", [](Bytes& b) { PutU16(b, 12, 1023); }},
  };
  for (const auto& c : cases) {
    Bytes file = good;
    c.change(file);
    const Expected<Palette> p = Palette::Read(file, "bad.pvp");
    ASSERT_FALSE(p) << c.what;
    EXPECT_NE(p.error().text.find("bad.pvp\n\n"), std::string::npos) << c.what;
    EXPECT_GT(p.error().text.size(), 20u) << c.what;
  }
  for (size_t n = 0; n < good.size(); ++n)
    EXPECT_FALSE(Palette::Read(std::span(good).first(n), "cut.pvp")) << n;
}

TEST(Palette, BankTakesMemoryColoursFromFirstColour) {
  // 20 colours in memory from 12: colour i stored as i + 1.
  Bytes colours;
  for (uint16_t i = 0; i < 20; ++i) colours.insert(colours.end(), {uint8_t(i + 1), 0x80});
  const Expected<Palette> p = Palette::Read(PaletteFile(Palette::kARGB1555, 12, 20, colours), "p");
  ASSERT_TRUE(p);
  const struct {
    int bank, bits;
    bool accepted;
    size_t firstHeld, held;  // bank entry of the first held colour, and how many are held
    uint32_t firstStored;
  } cases[] = {
      {0, 4, true, 12, 4, 1},    // memory 0..15: 12..15 held
      {1, 4, true, 0, 16, 5},    // memory 16..31: all held from file colour 4
      {2, 4, false, 0, 0, 0},    // memory 32..47: past the last colour (31)
      {64, 4, false, 0, 0, 0},   // beyond the 64 banks of 16
      {0, 8, true, 12, 20, 1},   // memory 0..255: 12..31 held
      {1, 8, false, 0, 0, 0},    // memory 256..511
      {4, 8, false, 0, 0, 0},    // beyond the 4 banks of 256
      {-1, 4, false, 0, 0, 0},
  };
  // A palette of no colours has no bank at all.
  EXPECT_FALSE(Palette::Read(PaletteFile(Palette::kARGB1555, 5, 0, {}), "p")->Bank(0, 4));
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.bank) + " of " + std::to_string(c.bits));
    const Expected<BankColours> bank = p->Bank(c.bank, c.bits);
    ASSERT_EQ(bool(bank), c.accepted);
    if (!bank) {
      EXPECT_FALSE(bank.error().text.empty());
      continue;
    }
    EXPECT_EQ(bank->held.count(), c.held);
    EXPECT_TRUE(bank->held[c.firstHeld]);
    EXPECT_EQ(bank->stored[c.firstHeld], 0x8000u + c.firstStored);
    EXPECT_EQ(bank->Incomplete(), c.held < bank->Entries());
    if (c.firstHeld > 0) {
      EXPECT_FALSE(bank->held[c.firstHeld - 1]);
      EXPECT_EQ(bank->rgba[4 * (c.firstHeld - 1) + 3], 0);  // transparent black
    }
  }
}

}  // namespace
