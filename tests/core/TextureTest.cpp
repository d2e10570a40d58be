// A texture's picture: decoding its texels into RGBA and encoding RGBA back, against the
// independent model in TextureModel.h, and its chunk header.
#include <gtest/gtest.h>

#include <vector>

#include "TextureModel.h"
#include "TextureTestSupport.h"
#include "texture/Texture.h"

namespace {

using Bytes = std::vector<uint8_t>;
using model::Rgba;

Texture Make(int pixelFormat, int dataFormat, int w, int h, Bytes data) {
  return testing_support::MakeTexture(pixelFormat, dataFormat, w, h, std::move(data));
}

// Texel data, low byte first.
Bytes Texels(std::initializer_list<uint16_t> values) {
  Bytes data;
  for (uint16_t v : values) data.insert(data.end(), {uint8_t(v & 0xFF), uint8_t(v >> 8)});
  return data;
}

Rgba PixelOf(const Image& image, int x, int y) {
  const uint8_t* p = image.Pixel(x, y);
  return {p[0], p[1], p[2], p[3]};
}

Image Expected(int pixelFormat, int dataFormat, int w, int h, const Bytes& data) {
  return model::ToImage(model::Decode(pixelFormat, dataFormat, w, h, data));
}

// Channels are shifted, not bit-replicated: full intensity decodes to 248 (5 bits) or 240
// (4 bits), and encoding keeps the top bits, so decode then encode is exact.
TEST(TextureCodec, ChannelValuesOfEachPixelFormat) {
  const struct {
    int format;
    uint16_t texel;
    Rgba rgba;
  } cases[] = {
      {0, 0x8000, {0, 0, 0, 255}},      {0, 0x7FFF, {248, 248, 248, 0}}, {0, 0x001F, {0, 0, 248, 0}},
      {0, 0x7C00, {248, 0, 0, 0}},      {1, 0xFFFF, {248, 252, 248, 255}}, {1, 0x07E0, {0, 252, 0, 255}},
      {1, 0x0000, {0, 0, 0, 255}},      {2, 0xF0F0, {0, 240, 0, 240}},   {2, 0x0F00, {240, 0, 0, 0}},
      {2, 0x1234, {32, 48, 64, 16}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "format " << c.format << " texel " << c.texel);
    Texture t = Make(c.format, 9, 1, 1, Texels({c.texel}));
    const std::optional<Image> image = t.Decode();
    ASSERT_TRUE(image);
    EXPECT_EQ(PixelOf(*image, 0, 0), c.rgba);
    t.data = {0x5A, 0x5A};
    EXPECT_TRUE(t.Encode(*image));
    EXPECT_EQ(t.data, Texels({c.texel}));
  }
}

TEST(TextureCodec, EncodingKeepsEachChannelsTopBits) {
  const struct {
    int format;
    Rgba rgba;
    uint16_t texel;
  } cases[] = {
      {0, {255, 255, 255, 255}, 0xFFFF}, {0, {0, 0, 0, 254}, 0x0000},  // only 255 sets the alpha bit
      {0, {7, 0, 0, 0}, 0x0000},         {0, {8, 0, 0, 0}, 0x0400},   {1, {0, 3, 0, 0}, 0x0000},
      {1, {0, 4, 0, 0}, 0x0020},         {1, {0, 0, 0, 0}, 0x0000},   // 5-6-5 has no alpha
      {2, {0x1F, 0x2F, 0x3F, 0x4F}, 0x4123},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "format " << c.format << " texel " << c.texel);
    Texture t = Make(c.format, 9, 1, 1, {0x5A, 0x5A});
    model::Picture p(1, 1, c.rgba);
    t.Encode(model::ToImage(p));
    EXPECT_EQ(t.data, Texels({c.texel}));
  }
}

TEST(TextureCodec, FormatWithoutAlphaBitsIsOpaque) {
  EXPECT_FALSE(Make(1, 9, 1, 1, {}).HasAlphaBits());
  EXPECT_TRUE(Make(0, 9, 1, 1, {}).HasAlphaBits());
  EXPECT_TRUE(Make(2, 9, 1, 1, {}).HasAlphaBits());
  // Texels the data does not hold are black: opaque for 5-6-5, see-through otherwise.
  EXPECT_EQ(PixelOf(*Make(1, 9, 2, 1, Texels({0x001F})).Decode(), 1, 0), (Rgba{0, 0, 0, 255}));
  EXPECT_EQ(PixelOf(*Make(0, 9, 2, 1, Texels({0x801F})).Decode(), 1, 0), (Rgba{0, 0, 0, 0}));
}

TEST(TextureCodec, TexelsTakeTheirPlacesRowByRowOrByMortonOrder) {
  // Texel n has blue n x 8 and green (n >> 5) x 4.
  const auto numbered = [](int count) {
    Bytes data;
    for (int n = 0; n < count; ++n) {
      const uint16_t v = uint16_t((n & 31) | ((n >> 5) & 63) << 5);
      data.insert(data.end(), {uint8_t(v), uint8_t(v >> 8)});
    }
    return data;
  };
  const auto numberAt = [](const Image& image, int x, int y) { return image.Pixel(x, y)[2] / 8 + image.Pixel(x, y)[1] / 4 * 32; };
  const Image rect = *Make(1, 9, 4, 2, numbered(8)).Decode();
  for (int n = 0; n < 8; ++n) EXPECT_EQ(numberAt(rect, n % 4, n / 4), n);
  const Image twiddled = *Make(1, 1, 4, 4, numbered(16)).Decode();
  const int expected[4][4] = {{0, 2, 8, 10}, {1, 3, 9, 11}, {4, 6, 12, 14}, {5, 7, 13, 15}};
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(numberAt(twiddled, x, y), expected[y][x]) << x << "," << y;
}

TEST(TextureCodec, DecodeMatchesTheModelAndEncodeGivesEveryTexelBack) {
  struct Size {
    int order, w, h;
  };
  const Size sizes[] = {{9, 1, 1},  {9, 3, 5}, {9, 7, 2},  {9, 64, 64},   {9, 1024, 1024},
                        {1, 1, 1}, {1, 2, 2}, {1, 8, 8}, {1, 64, 64}, {1, 1024, 1024}};
  uint32_t seed = 1;
  for (int format = 0; format <= 2; ++format) {
    for (const Size& s : sizes) {
      SCOPED_TRACE(testing::Message() << "format " << format << " order " << s.order << " " << s.w << "x" << s.h);
      const Bytes data = model::RandomBytes(size_t(s.w) * size_t(s.h) * 2, seed++);
      Texture t = Make(format, s.order, s.w, s.h, data);
      const std::optional<Image> image = t.Decode();
      ASSERT_TRUE(image);
      EXPECT_TRUE(*image == Expected(format, s.order, s.w, s.h, data));
      EXPECT_FALSE(t.Encode(*image));  // what the texture shows changes nothing
      // From zeros, so that an encoder that did nothing could not pass.
      t.data.assign(data.size(), 0);
      t.Encode(*image);
      EXPECT_TRUE(t.data == data);
    }
  }
}

TEST(TextureCodec, EncodeMatchesTheModelForAnyPixelValues) {
  struct Size {
    int order, w, h;
  };
  const Size sizes[] = {{9, 1, 1}, {9, 7, 5}, {9, 33, 2}, {1, 1, 1}, {1, 4, 4}, {1, 32, 32}};
  uint32_t seed = 200;
  for (int format = 0; format <= 2; ++format)
    for (const Size& s : sizes) {
      SCOPED_TRACE(testing::Message() << "format " << format << " order " << s.order << " " << s.w << "x" << s.h);
      const model::Picture picture = model::RandomPicture(s.w, s.h, seed++);
      const Bytes before = model::RandomBytes(size_t(s.w * s.h * 2), seed++);
      Texture t = Make(format, s.order, s.w, s.h, before);
      t.Encode(model::ToImage(picture));
      EXPECT_EQ(t.data, model::Encode(format, s.order, picture, before));
    }
}

TEST(TextureCodec, TexturesWithoutACodecDecodeBlackAndEncodeNothing) {
  const struct {
    const char* what;
    int pixelFormat, dataFormat, w, h;
    size_t bytes;
  } cases[] = {
      {"data format without a layout", 0, 15, 8, 8, 128},
      {"palettized rectangle below 8", 0, 5, 8, 4, 16},
      {"5-6-5, data format 14", 1, 14, 4, 2, 16},
      {"rectangular twiddled, sides not powers of two", 1, 13, 6, 4, 48},
      {"VQ below 8 x 8", 2, 3, 4, 4, 32},
      {"mipmaps, not square", 0, 2, 8, 4, 64},
      {"pixel format 6", 6, 9, 4, 4, 32},
      {"bump map", 4, 9, 4, 4, 32},
      {"YUV422 of odd width", 3, 9, 3, 4, 24},
      {"pixel format 255", 255, 1, 4, 4, 32},
      {"twiddled, not square", 1, 1, 8, 4, 64},
      {"twiddled, not a power of two", 2, 1, 6, 6, 72},
      {"data format 2 with too little data", 0, 2, 4, 4, 32},
      {"rectangle with too little data", 0, 9, 4, 4, 31},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const Bytes data = model::RandomBytes(c.bytes, 11);
    Texture t = Make(c.pixelFormat, c.dataFormat, c.w, c.h, data);
    const std::optional<Image> image = t.Decode();
    ASSERT_TRUE(image);
    if (!t.Decodes()) {
      EXPECT_TRUE(*image == model::ToImage(model::Decode(c.pixelFormat, 5, c.w, c.h, {})));
    }
    EXPECT_FALSE(t.Encodes());
    EXPECT_FALSE(t.Encode(model::ToImage(model::RandomPicture(c.w, c.h, 12))));
    EXPECT_EQ(t.data, data);
  }
}

TEST(TextureCodec, ShortDataDecodesTheTexelsThatAreThere) {
  const Bytes data = model::RandomBytes(11, 3);  // five and a half texels of 4 x 4
  for (int order : {9, 1}) EXPECT_TRUE(*Make(2, order, 4, 4, data).Decode() == Expected(2, order, 4, 4, data));
  EXPECT_TRUE(*Make(0, 9, 3, 3, {}).Decode() == Expected(0, 9, 3, 3, {}));
}

// A fresh picture's bytes are not zeroed (Image::Bytes), so every decode writes all of them:
// over two different leftovers it gives the same picture, short data and textures without a
// codec included.
TEST(TextureCodec, DecodingWritesEveryByteOfThePicture) {
  const struct {
    int pixelFormat, dataFormat, w, h;
  } shapes[] = {{1, 1, 16, 16}, {2, 2, 16, 16}, {0, 3, 16, 16}, {1, 4, 16, 16}, {0, 5, 16, 16},
                {0, 6, 16, 16}, {0, 7, 16, 16}, {0, 8, 16, 16}, {3, 9, 6, 5},   {1, 10, 34, 3},
                {2, 11, 32, 3}, {1, 13, 32, 8}, {0, 14, 4, 4},  {1, 16, 16, 16}, {2, 17, 32, 32},
                {1, 18, 16, 16}, {0, 15, 8, 8}};
  for (const auto& s : shapes)
    for (const size_t bytes : {size_t(0), size_t(37), size_t(4096 + 8 * s.w * s.h)}) {
      SCOPED_TRACE(testing::Message() << s.pixelFormat << " " << s.dataFormat << " " << bytes);
      const Texture t = Make(s.pixelFormat, s.dataFormat, s.w, s.h, model::RandomBytes(bytes, 5));
      const BankColours greys = BankColours::Greys(t.IsPalettized() ? t.IndexBits() : 8);
      const BankColours* colours = t.IsPalettized() ? &greys : nullptr;
      Image over5A = *Image::Blank(s.w, s.h, 0x5A), overA5 = *Image::Blank(s.w, s.h, 0xA5);
      ASSERT_TRUE(t.DecodeInto(over5A, colours) && t.DecodeInto(overA5, colours));
      EXPECT_TRUE(over5A == overA5);
    }
}

// The memory rule: a header claiming 16384 x 16384 texels over 32 bytes allocates nothing.
TEST(TextureCodec, RefusesSizesItsDataCannotJustify) {
  const Bytes few(32, 0xFF);
  const struct {
    int w, h;
  } refused[] = {{16384, 16384}, {1025, 1024}, {0, 4}, {4, 0}, {-4, 4}, {4, -32768}};
  for (const auto& s : refused) EXPECT_FALSE(Make(0, 9, s.w, s.h, few).Decode()) << s.w << "x" << s.h;
  Texture foreign = Make(0, 9, 4, 4, few);
  foreign.magic = {'A', 'B', 'C', 'D'};
  EXPECT_FALSE(foreign.Decode());
  // Up to 1024 x 1024 texels the picture is made all the same, black past the data.
  const std::optional<Image> image = Make(0, 9, 1024, 1024, few).Decode();
  ASSERT_TRUE(image);
  EXPECT_EQ(PixelOf(*image, 15, 0), (Rgba{248, 248, 248, 255}));
  EXPECT_EQ(PixelOf(*image, 16, 0), (Rgba{0, 0, 0, 0}));
}

TEST(TextureCodec, EncodeKeepsTheBytesBeyondTheTexelsAndEveryHeaderField) {
  for (int order : {9, 1}) {
    Bytes data = model::RandomBytes(4 * 4 * 2, 9);
    data.insert(data.end(), 6, 0xEE);  // padding to the chunk's end
    Texture t = Make(0, order, 4, 4, data);
    t.reserved = 0x1234;
    const Texture before = t;
    EXPECT_TRUE(t.Encode(model::ToImage(model::Picture(4, 4))));  // all black
    Bytes black(32, 0);
    black.insert(black.end(), 6, 0xEE);
    EXPECT_EQ(t.data, black);
    EXPECT_FALSE(t.Encode(model::ToImage(model::Picture(4, 5))));  // another size
    t.data = before.data;
    EXPECT_EQ(t.Header(), before.Header());
    EXPECT_EQ(t.reserved, 0x1234);
  }
}

// An archive writes each chunk header with magic "PVRT", whatever it read, and the other
// fields as read.
TEST(TextureHeader, ReadsEveryFieldAndWritesMagicAfresh) {
  const Bytes header = {'A', 'B', 'C', 'D', 40, 0, 0, 0, 2, 13, 0xEF, 0xBE, 8, 0, 0xFC, 0xFF};
  const std::optional<Texture> t = Texture::FromHeader(header);
  ASSERT_TRUE(t);
  EXPECT_EQ(t->magic, (std::array<char, 4>{'A', 'B', 'C', 'D'}));
  EXPECT_EQ(t->length, 40);
  EXPECT_EQ(t->pixelFormat, 2);
  EXPECT_EQ(t->dataFormat, 13);
  EXPECT_EQ(t->reserved, int16_t(0xBEEF));
  EXPECT_EQ(t->width, 8);
  EXPECT_EQ(t->height, -4);
  EXPECT_TRUE(t->data.empty());
  const std::array<uint8_t, 16> written = t->Header();
  EXPECT_EQ(Bytes(written.begin(), written.end()),
            (Bytes{'P', 'V', 'R', 'T', 40, 0, 0, 0, 2, 13, 0xEF, 0xBE, 8, 0, 0xFC, 0xFF}));
  EXPECT_FALSE(Texture::FromHeader(std::span(header).first(15)));
}

}  // namespace
