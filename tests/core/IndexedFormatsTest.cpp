// The palettized layouts against a model written from their byte tables: index places by bit
// interleaving, nibbles low first, squares of rectangles one after another, levels smallest
// first with the 1 x 1 sized as a 2 x 2. And the import rules on top of them.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <span>
#include <vector>

#include "TextureModel.h"
#include "TextureTestSupport.h"
#include "texture/ColourMatcher.h"
#include "texture/DataFormats.h"
#include "texture/IndexedFormats.h"
#include "texture/PngFile.h"

namespace {

using testing_support::MakeTexture;

struct Shape {
  int format, w, h;
};
constexpr Shape kShapes[] = {{5, 8, 8},  {5, 16, 8}, {5, 8, 32}, {5, 1, 1},  {7, 8, 8},
                             {7, 32, 8}, {7, 8, 16}, {6, 1, 1},  {6, 2, 2},  {6, 16, 16},
                             {8, 1, 1},  {8, 4, 4},  {8, 32, 32}};

int Bits(int format) { return format <= 6 ? 4 : 8; }
bool Mipmapped(int format) { return format == 6 || format == 8; }

size_t Twiddle(size_t x, size_t y) {
  size_t t = 0;
  for (size_t bit = 0; bit < 11; ++bit) t |= ((y >> bit) & 1) << (2 * bit) | ((x >> bit) & 1) << (2 * bit + 1);
  return t;
}

// Where index (x, y) of the main level lies: its place counted in indices from the data's
// start.
size_t Place(const Shape& s, size_t x, size_t y) {
  const size_t w = size_t(s.w), bits = size_t(Bits(s.format));
  if (Mipmapped(s.format)) {
    if (w == 1) return 3;
    const size_t mainByte = bits == 4 ? 2 + (w * w - 4) / 6 : 4 + (w * w - 4) / 3;
    return mainByte * 8 / bits + Twiddle(x, y);
  }
  const size_t m = std::min<size_t>(s.w, s.h);
  return (x / m + y / m) * m * m + Twiddle(x % m, y % m);
}

uint8_t IndexAtPlace(std::span<const uint8_t> data, int bits, size_t place) {
  if (bits == 8) return data[place];
  return uint8_t(place % 2 == 0 ? data[place / 2] & 15 : data[place / 2] >> 4);
}

TEST(IndexedFormats, IndicesLieWhereTheLayoutSays) {
  for (const Shape& s : kShapes) {
    SCOPED_TRACE(std::to_string(s.format) + ": " + std::to_string(s.w) + "x" + std::to_string(s.h));
    const size_t end = DataFormats::LayoutOf(s.format, s.w, s.h).End();
    ASSERT_GT(end, 0u);
    Texture t = MakeTexture(200, s.format, s.w, s.h, model::RandomBytes(end, uint32_t(end)));
    const std::vector<uint8_t> indices = t.Indices().value();
    for (size_t y = 0; y < size_t(s.h); ++y)
      for (size_t x = 0; x < size_t(s.w); ++x)
        ASSERT_EQ(indices[y * size_t(s.w) + x], IndexAtPlace(t.data, Bits(s.format), Place(s, x, y)))
            << x << "," << y;
    // Decoding shows those indices, on every path.
    BankColours bank = BankColours::Greys(Bits(s.format));
    std::copy_n(model::RandomBytes(1024, 1).begin(), 1024, bank.rgba.begin());
    for (TexelCodec::Path path : {TexelCodec::Path::Avx512Vbmi, TexelCodec::Path::Avx2, TexelCodec::Path::Plain}) {
      const TexelCodec::Path previous = IndexedFormats::LimitPath(path);
      const Image shown = t.Decode(&bank).value();
      IndexedFormats::LimitPath(previous);
      for (size_t i = 0; i < indices.size(); ++i)
        ASSERT_EQ(std::memcmp(&shown.rgba[4 * i], &bank.rgba[4 * indices[i]], 4), 0) << i << " " << int(path);
    }

    // Storing other indices puts each in its place, and reads back the same.
    std::vector<uint8_t> fresh = model::RandomBytes(indices.size(), 7);
    for (uint8_t& i : fresh) i = uint8_t(i % (1u << Bits(s.format)));
    if (fresh == indices) fresh[0] ^= 1;
    ASSERT_TRUE(t.EncodeIndices(fresh, BankColours::Greys(Bits(s.format))));
    EXPECT_EQ(t.Indices().value(), fresh);
    for (size_t y = 0; y < size_t(s.h); ++y)
      for (size_t x = 0; x < size_t(s.w); ++x)
        ASSERT_EQ(fresh[y * size_t(s.w) + x], IndexAtPlace(t.data, Bits(s.format), Place(s, x, y)));
  }
}

TEST(IndexedFormats, SmallerLevelsAreAveragedInColourSmallestFirst) {
  // Left half black (index 0), right half white (the last index), through greys: each smaller
  // level keeps the halves until the 1 x 1, which is mid-grey, (0 + 0 + 255 + 255 + 2) >> 2.
  const struct {
    int format;
    std::vector<uint8_t> levelsBelowMain;  // the 1 x 1 space, then 2 x 2 ..
  } cases[] = {
      {8, {128, 128, 128, 128, /*2x2*/ 0, 0, 255, 255}},
      // 4-bit greys are index x 17: 128 lies nearest 136, index 8, in every nibble of its
      // space; the 2 x 2 level's places 0, 1 are black and 2, 3 white.
      {6, {0x88, 0x88, /*2x2*/ 0x00, 0xFF}},
  };
  for (const auto& c : cases) {
    const int top = (1 << Bits(c.format)) - 1;
    std::vector<uint8_t> indices(16);
    for (size_t i = 0; i < 16; ++i) indices[i] = i % 4 < 2 ? 0 : uint8_t(top);
    const size_t end = DataFormats::LayoutOf(c.format, 4, 4).End();
    Texture t = MakeTexture(0, c.format, 4, 4, std::vector<uint8_t>(end + 3, 0xA5));
    ASSERT_TRUE(t.EncodeIndices(indices, BankColours::Greys(Bits(c.format))));
    EXPECT_EQ(std::vector<uint8_t>(t.data.begin(), t.data.begin() + ptrdiff_t(c.levelsBelowMain.size())),
              c.levelsBelowMain);
    EXPECT_EQ(t.data[end], 0xA5);  // past the layout, kept
  }
}

TEST(IndexedFormats, ShortDataShowsIndexZeroAndRefusesEncoding) {
  for (const Shape& s : kShapes) {
    const size_t end = DataFormats::LayoutOf(s.format, s.w, s.h).End();
    Texture t = MakeTexture(1, s.format, s.w, s.h, std::vector<uint8_t>(end / 2, 0xFF));
    const std::vector<uint8_t> indices = t.Indices().value();
    for (size_t y = 0; y < size_t(s.h); ++y)
      for (size_t x = 0; x < size_t(s.w); ++x)
        ASSERT_EQ(indices[y * size_t(s.w) + x], Place(s, x, y) < t.data.size() * 8 / size_t(Bits(s.format)) ? (1 << Bits(s.format)) - 1 : 0);
    EXPECT_FALSE(t.EncodeIndices(indices, BankColours::Greys(Bits(s.format))));
  }
}

TEST(IndexedFormats, APictureTheTextureShowsChangesNothing) {
  // Bank entries 1 and 3 are the same colour; the data uses 3, which a new mapping would not.
  BankColours bank = BankColours::Greys(8);
  bank.colourFormat = Palette::kRGB565;
  for (size_t c = 0; c < 4; ++c) bank.rgba[4 * 3 + c] = bank.rgba[4 * 1 + c];
  for (int format : {7, 8}) {
    const size_t end = DataFormats::LayoutOf(format, 8, 8).End();
    Texture t = MakeTexture(1, format, 8, 8, std::vector<uint8_t>(end, 3));
    const Texture before = t;
    Image shown = t.Decode(&bank).value();
    EXPECT_FALSE(t.Encode(shown, &bank));
    // Alpha is not part of an RGB565 colour: changing it changes nothing either.
    for (size_t i = 3; i < shown.rgba.size(); i += 4) shown.rgba[i] = 7;
    EXPECT_FALSE(t.Encode(shown, &bank));
    EXPECT_FALSE(t.EncodeIndices(t.Indices().value(), bank));
    EXPECT_EQ(t.data, before.data);
  }
}

TEST(ColourMatcher, PicksTheNearestHeldColourInTheFormatsOwnPrecision) {
  using Colour = std::array<uint8_t, 4>;
  const struct {
    const char* what;
    uint16_t format;
    std::vector<Colour> entries;  // 4-bit bank; entries beyond are not held
    std::vector<int> unheld;
    Colour pixel;
    int expected;
  } cases[] = {
      {"exact", Palette::kARGB8888, {{0, 0, 0, 255}, {10, 20, 30, 255}}, {}, {10, 20, 30, 255}, 1},
      {"alpha counts", Palette::kARGB8888, {{200, 0, 0, 255}, {190, 0, 0, 0}}, {}, {200, 0, 0, 0}, 1},
      {"alpha ignored by RGB565", Palette::kRGB565, {{200, 0, 0, 255}, {184, 0, 0, 0}}, {}, {200, 0, 0, 0}, 0},
      {"a tie goes to the lower index", Palette::kARGB8888, {{0, 0, 0, 255}, {20, 0, 0, 255}, {0, 0, 0, 255}}, {}, {10, 0, 0, 255}, 0},
      // 4444 sees 0x10 and 0x1F alike: 17 and 31 are both 1, as entry 1 is.
      {"equal at the format's depth", Palette::kARGB4444, {{0, 0, 0, 240}, {16, 0, 0, 240}}, {}, {31, 15, 15, 255}, 1},
      {"1-bit alpha: 128 is opaque", Palette::kARGB1555, {{0, 0, 0, 0}, {0, 0, 0, 255}}, {}, {7, 0, 0, 128}, 1},
      {"unheld never chosen", Palette::kARGB8888, {{0, 0, 0, 0}, {255, 255, 255, 255}}, {0}, {0, 0, 0, 0}, 1},
  };
  for (const auto& c : cases) {
    BankColours bank;
    bank.indexBits = 4;
    bank.colourFormat = c.format;
    for (size_t i = 0; i < c.entries.size(); ++i) {
      std::copy(c.entries[i].begin(), c.entries[i].end(), bank.rgba.begin() + ptrdiff_t(4 * i));
      bank.held.set(i);
    }
    for (int i : c.unheld) bank.held.reset(size_t(i));
    ColourMatcher matcher(bank);
    EXPECT_EQ(matcher.Nearest(c.pixel.data()), c.expected) << c.what;
  }
}

}  // namespace

namespace {

// Indices out to an indexed PNG whose colours are the bank's, and back: the same bytes.
TEST(IndexedFormats, IndexedPngRoundTripIsLossless) {
  for (int format : {5, 6, 7, 8}) {
    SCOPED_TRACE(format);
    const int bits = Bits(format);
    BankColours bank;
    bank.indexBits = bits;
    bank.colourFormat = Palette::kARGB4444;
    const std::vector<uint8_t> colours = model::RandomBytes(4 * bank.Entries(), uint32_t(format));
    std::copy(colours.begin(), colours.end(), bank.rgba.begin());
    for (size_t i = 0; i < bank.Entries(); ++i) bank.held.set(i);
    const size_t end = DataFormats::LayoutOf(format, 16, 16).End();
    Texture made = MakeTexture(0, format, 16, 16, std::vector<uint8_t>(end));
    std::vector<uint8_t> indices = model::RandomBytes(256, 9);
    for (uint8_t& i : indices) i = uint8_t(i % bank.Entries());
    ASSERT_TRUE(made.EncodeIndices(indices, bank));

    const PngFile::IndexedPicture out{16, 16, made.Indices().value(), colours};
    std::vector<uint8_t> file;
    ASSERT_TRUE(PngFile::WriteIndexed(out, file));
    PngFile::IndexedPicture in;
    ASSERT_EQ(PngFile::ReadIndexed(file, 1 << 20, in), PngFile::Fault::None);
    ASSERT_EQ(in.Palette, colours);
    Texture imported = MakeTexture(0, format, 16, 16, std::vector<uint8_t>(end));
    ASSERT_TRUE(imported.EncodeIndices(in.Indices, bank));
    EXPECT_EQ(imported.data, made.data);
  }
}

}  // namespace

namespace {

// The bank of a colour format: random colours, about one in five not held.
BankColours RandomBank(uint16_t format) {
  BankColours bank;
  bank.colourFormat = format;
  const std::vector<uint8_t> colours = model::RandomBytes(1024, format);
  std::copy(colours.begin(), colours.end(), bank.rgba.begin());
  for (size_t i = 0; i < 256; ++i) bank.held.set(i, colours[i] % 5 != 0);
  return bank;
}

// The nearest held entry to a pixel found by trying every one, the lowest of equals.
int NearestByTryingEvery(const BankColours& bank, const uint8_t* pixel) {
  const std::array<std::array<int, 4>, 7> depths = {
      {{5, 5, 5, 1}, {5, 6, 5, 0}, {4, 4, 4, 4}, {}, {}, {5, 5, 5, 0}, {8, 8, 8, 8}}};
  const std::array<int, 4> depth = depths[bank.colourFormat];
  const auto unit = [&](const uint8_t* p, size_t c) { return depth[c] == 0 ? 0 : p[c] >> (8 - depth[c]); };
  int best = -1, bestDistance = 0;
  for (size_t e = 0; e < 256; ++e) {
    int d = 0;
    for (size_t c = 0; c < 4; ++c) d += (unit(pixel, c) - unit(&bank.rgba[4 * e], c)) * (unit(pixel, c) - unit(&bank.rgba[4 * e], c));
    if (bank.held[e] && (best < 0 || d < bestDistance)) best = int(e), bestDistance = d;
  }
  return best;
}

constexpr uint16_t kColourFormats[] = {Palette::kARGB1555, Palette::kRGB565, Palette::kARGB4444,
                                       Palette::kRGB555, Palette::kARGB8888};

// The search's cells and tables against trying every entry, in every colour format.
TEST(ColourMatcher, FindsWhatTryingEveryEntryFinds) {
  for (uint16_t format : kColourFormats) {
    const BankColours bank = RandomBank(format);
    ColourMatcher matcher(bank);
    const std::vector<uint8_t> pixels = model::RandomBytes(4 * 5000, 3);
    for (size_t i = 0; i < pixels.size(); i += 4)
      ASSERT_EQ(matcher.Nearest(&pixels[i]), NearestByTryingEvery(bank, &pixels[i])) << format << " pixel " << i / 4;
  }
}

// Map reuses answers within a run and keeps cells met in an earlier call: pictures of 1 to
// 3000 colours in runs, mapped in two calls.
TEST(ColourMatcher, MapsRepeatedColoursAsTryingEveryEntryDoes) {
  for (uint16_t format : kColourFormats)
    for (size_t colourCount : {1, 300, 3000}) {
      const BankColours bank = RandomBank(format);
      ColourMatcher matcher(bank);
      const std::vector<uint8_t> colours = model::RandomBytes(4 * colourCount, 6), pick = model::RandomBytes(8000, 7);
      std::vector<uint8_t> pixels;
      for (size_t i = 0; i < 8000; i += 2)
        for (size_t c = (pick[i] << 8 | pick[i + 1]) % colourCount, run = 0; run < 1 + pick[i] % 3u; ++run)
          pixels.insert(pixels.end(), &colours[4 * c], &colours[4 * c] + 4);
      std::vector<uint8_t> indices(pixels.size() / 4);
      matcher.Map(pixels.data(), 99, indices.data());
      matcher.Map(&pixels[4 * 99], indices.size() - 99, &indices[99]);
      for (size_t i = 0; i < indices.size(); ++i)
        ASSERT_EQ(indices[i], NearestByTryingEvery(bank, &pixels[4 * i])) << format << ", " << colourCount << " colours, pixel " << i;
    }
}

}  // namespace
