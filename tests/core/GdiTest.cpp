#include "platform/Gdi.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

using namespace platform;

namespace {

BITMAPINFOHEADER Header24(int32_t width, int32_t height) {
  BITMAPINFOHEADER h;
  h.biSize = 40;
  h.biWidth = width;
  h.biHeight = height;
  h.biPlanes = 1;
  h.biBitCount = 24;
  return h;
}

// A 32-bit target of w x h pixels with one guard row above and below it.
struct Target {
  Target(int w, int h, uint8_t fill = 0x11)
      : width(w), height(h), memory(size_t(w) * 4 * size_t(h + 2), fill) {
    dc = CreateTargetDC(memory.data() + size_t(w) * 4, w, h, w * 4);
  }
  ~Target() { DeleteDC(dc); }
  // Blue, green, red and the unused byte of pixel (x, y), y from the top.
  std::vector<uint8_t> Pixel(int x, int y) const {
    const uint8_t* p = memory.data() + size_t(w4()) * size_t(y + 1) + size_t(x) * 4;
    return {p[0], p[1], p[2], p[3]};
  }
  bool GuardsIntact(uint8_t fill = 0x11) const {
    for (size_t i = 0; i < size_t(w4()); ++i)
      if (memory[i] != fill || memory[memory.size() - 1 - i] != fill) return false;
    return true;
  }
  int w4() const { return width * 4; }

  int width, height;
  std::vector<uint8_t> memory;
  HDC dc = nullptr;
};

// A memory device context holding a fresh section of the header's size.
struct MemorySurface {
  explicit MemorySurface(const BITMAPINFOHEADER& h) : header(h) {
    dc = CreateCompatibleDC();
    section = CreateDIBSection(dc, header);
    SelectObject(dc, section);
  }
  ~MemorySurface() {
    DeleteDC(dc);
    DeleteObject(section);
  }
  BITMAPINFOHEADER header;
  HDC dc = nullptr;
  HBITMAP section = nullptr;
};

// 2 x 2 picture rows, bottom row first (stride 8): bottom-left is 1,2,3, bottom-right
// 4,5,6, top-left 7,8,9, top-right 10,11,12.
const std::vector<uint8_t> kBottomUp2x2 = {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12, 0, 0};

}  // namespace

TEST(Gdi, RefusesSectionsItCannotHold) {
  HDC dc = CreateCompatibleDC();
  EXPECT_EQ(CreateDIBSection(nullptr, Header24(2, 2)), nullptr);
  BITMAPINFOHEADER eight = Header24(2, 2);
  eight.biBitCount = 8;
  EXPECT_EQ(CreateDIBSection(dc, eight), nullptr);
  EXPECT_EQ(CreateDIBSection(dc, Header24(0, 2)), nullptr);
  EXPECT_EQ(CreateDIBSection(dc, Header24(2, 0)), nullptr);
  EXPECT_EQ(CreateDIBSection(dc, Header24(2, -2)), nullptr);
  EXPECT_EQ(CreateDIBSection(dc, Header24(32767, 32767)), nullptr);  // over 1 GiB
  DeleteDC(dc);
}

TEST(Gdi, NewSectionIsBlackAndCopiesOnlyWholeRowsThatFit) {
  MemorySurface s(Header24(3, 4));  // stride 12
  ASSERT_NE(s.section, nullptr);
  EXPECT_EQ(GetCurrentObject(s.dc), s.section);

  std::vector<uint8_t> bits(12 * 4, 0xAA);
  EXPECT_EQ(GetDIBits(s.dc, s.section, 0, 4, bits.data(), bits.size(), s.header), 4);
  EXPECT_EQ(bits, std::vector<uint8_t>(48, 0));

  // Room for two and a half rows: two are copied, the rest of the buffer is left alone.
  std::vector<uint8_t> shortBits(30, 0xAA);
  EXPECT_EQ(GetDIBits(s.dc, s.section, 0, 4, shortBits.data(), shortBits.size(), s.header), 2);
  EXPECT_EQ(std::vector<uint8_t>(shortBits.begin(), shortBits.begin() + 24),
            std::vector<uint8_t>(24, 0));
  EXPECT_EQ(shortBits[24], 0xAA);
  EXPECT_EQ(shortBits[29], 0xAA);

  // A header of another width, or a start beyond the last row, copies nothing.
  EXPECT_EQ(GetDIBits(s.dc, s.section, 0, 4, bits.data(), bits.size(), Header24(4, 4)), 0);
  EXPECT_EQ(GetDIBits(s.dc, s.section, 4, 1, bits.data(), bits.size(), s.header), 0);
}

TEST(Gdi, PaintsBottomUpRowsTopRowFirstIntoATarget) {
  Target t(2, 2);
  EXPECT_EQ(SetDIBitsToDevice(t.dc, 0, 0, 2, 2, 0, 0, 0, 2, kBottomUp2x2.data(),
                              kBottomUp2x2.size(), Header24(2, 2)),
            2);
  EXPECT_EQ(t.Pixel(0, 0), (std::vector<uint8_t>{7, 8, 9, 0xFF}));
  EXPECT_EQ(t.Pixel(1, 0), (std::vector<uint8_t>{10, 11, 12, 0xFF}));
  EXPECT_EQ(t.Pixel(0, 1), (std::vector<uint8_t>{1, 2, 3, 0xFF}));
  EXPECT_EQ(t.Pixel(1, 1), (std::vector<uint8_t>{4, 5, 6, 0xFF}));
  EXPECT_TRUE(t.GuardsIntact());
}

TEST(Gdi, PaintsTopDownRowsInTheirOwnOrder) {
  Target t(2, 2);
  // The same bytes read as a top-down picture: the first row is the top one.
  SetDIBitsToDevice(t.dc, 0, 0, 2, 2, 0, 0, 0, 2, kBottomUp2x2.data(), kBottomUp2x2.size(),
                    Header24(2, -2));
  EXPECT_EQ(t.Pixel(0, 0), (std::vector<uint8_t>{1, 2, 3, 0xFF}));
  EXPECT_EQ(t.Pixel(1, 1), (std::vector<uint8_t>{10, 11, 12, 0xFF}));
}

TEST(Gdi, ClipsToTheTargetAndThePicture) {
  {
    // A 2 x 2 picture placed at (1, 1) of a 2 x 2 target: only its top-left pixel lands.
    Target t(2, 2);
    EXPECT_EQ(SetDIBitsToDevice(t.dc, 1, 1, 2, 2, 0, 0, 0, 2, kBottomUp2x2.data(),
                                kBottomUp2x2.size(), Header24(2, 2)),
              1);
    EXPECT_EQ(t.Pixel(1, 1), (std::vector<uint8_t>{7, 8, 9, 0xFF}));
    EXPECT_EQ(t.Pixel(0, 0), (std::vector<uint8_t>{0x11, 0x11, 0x11, 0x11}));
    EXPECT_TRUE(t.GuardsIntact());
  }
  {
    // Placed at (-1, -1): only its bottom-right pixel lands, at the target's top-left.
    Target t(2, 2);
    SetDIBitsToDevice(t.dc, -1, -1, 2, 2, 0, 0, 0, 2, kBottomUp2x2.data(), kBottomUp2x2.size(),
                      Header24(2, 2));
    EXPECT_EQ(t.Pixel(0, 0), (std::vector<uint8_t>{4, 5, 6, 0xFF}));
    EXPECT_EQ(t.Pixel(1, 0), (std::vector<uint8_t>{0x11, 0x11, 0x11, 0x11}));
    EXPECT_TRUE(t.GuardsIntact());
  }
  {
    // A rectangle larger than the picture paints the picture only.
    Target t(4, 4);
    EXPECT_EQ(SetDIBitsToDevice(t.dc, 0, 0, 4, 4, 0, 0, 0, 4, kBottomUp2x2.data(),
                                kBottomUp2x2.size(), Header24(2, 2)),
              2);
    EXPECT_EQ(t.Pixel(1, 1), (std::vector<uint8_t>{4, 5, 6, 0xFF}));
    EXPECT_EQ(t.Pixel(2, 1), (std::vector<uint8_t>{0x11, 0x11, 0x11, 0x11}));
    EXPECT_EQ(t.Pixel(0, 2), (std::vector<uint8_t>{0x11, 0x11, 0x11, 0x11}));
  }
}

TEST(Gdi, ReadsNoMoreThanTheBitsItIsGiven) {
  // The header claims 2 x 2 but only the bottom row is there (exactly 8 bytes on the heap,
  // so a read past them shows under AddressSanitizer).
  auto bits = std::make_unique<uint8_t[]>(8);
  std::copy(kBottomUp2x2.begin(), kBottomUp2x2.begin() + 8, bits.get());
  Target t(2, 2);
  EXPECT_EQ(SetDIBitsToDevice(t.dc, 0, 0, 2, 2, 0, 0, 0, 2, bits.get(), 8, Header24(2, 2)), 1);
  EXPECT_EQ(t.Pixel(0, 1), (std::vector<uint8_t>{1, 2, 3, 0xFF}));
  EXPECT_EQ(t.Pixel(0, 0), (std::vector<uint8_t>{0x11, 0x11, 0x11, 0x11}));

  // Nothing at all for bits that do not hold one row, or a wrong bit count.
  EXPECT_EQ(SetDIBitsToDevice(t.dc, 0, 0, 2, 2, 0, 0, 0, 2, bits.get(), 7, Header24(2, 2)), 0);
  BITMAPINFOHEADER eight = Header24(2, 2);
  eight.biBitCount = 8;
  EXPECT_EQ(SetDIBitsToDevice(t.dc, 0, 0, 2, 2, 0, 0, 0, 2, bits.get(), 8, eight), 0);
  EXPECT_EQ(SetDIBitsToDevice(nullptr, 0, 0, 2, 2, 0, 0, 0, 2, bits.get(), 8, Header24(2, 2)), 0);
}

TEST(Gdi, PaintingIntoAMemoryContextFillsItsSection) {
  MemorySurface s(Header24(2, 2));
  EXPECT_EQ(SetDIBitsToDevice(s.dc, 0, 0, 2, 2, 0, 0, 0, 2, kBottomUp2x2.data(),
                              kBottomUp2x2.size(), Header24(2, 2)),
            2);
  std::vector<uint8_t> bits(16, 0xAA);
  EXPECT_EQ(GetDIBits(s.dc, s.section, 0, 2, bits.data(), bits.size(), s.header), 2);
  EXPECT_EQ(bits, kBottomUp2x2);  // padding bytes stay zero

  // A top-down picture lands the right way up in the bottom-up section.
  MemorySurface flipped(Header24(2, 2));
  SetDIBitsToDevice(flipped.dc, 0, 0, 2, 2, 0, 0, 0, 2, kBottomUp2x2.data(), kBottomUp2x2.size(),
                    Header24(2, -2));
  GetDIBits(flipped.dc, flipped.section, 0, 2, bits.data(), bits.size(), flipped.header);
  EXPECT_EQ(bits, (std::vector<uint8_t>{7, 8, 9, 10, 11, 12, 0, 0, 1, 2, 3, 4, 5, 6, 0, 0}));
}

TEST(Gdi, TargetContextNeedsRowsThatFit) {
  uint8_t pixels[16] = {};
  EXPECT_EQ(CreateTargetDC(nullptr, 1, 1, 4), nullptr);
  EXPECT_EQ(CreateTargetDC(pixels, 2, 2, 7), nullptr);
  EXPECT_EQ(CreateTargetDC(pixels, -1, 2, 8), nullptr);
  HDC dc = CreateTargetDC(pixels, 2, 2, 8);
  EXPECT_NE(dc, nullptr);
  // A target has no section to select or read back.
  EXPECT_EQ(GetCurrentObject(dc), nullptr);
  DeleteDC(dc);
}
