// The texture object on mipmapped, VQ and rectangular twiddled textures: what it shows, the
// levels an edit writes, and the alpha an import without a mask keeps. The layouts themselves
// are DataFormatsTest's.
#include <gtest/gtest.h>

#include <vector>

#include "TextureModel.h"
#include "TextureTestSupport.h"
#include "texture/DataFormats.h"
#include "texture/cPVR.h"

using model::Rgba;
using testing_support::Texture;

namespace {

void Paint(cPVR& t, const model::Picture& p) {
  t.MakeNew(p.h, p.w, 0);
  t.MakeNew(p.h, p.w, 1);
  for (int y = 0; y < p.h; ++y)
    for (int x = 0; x < p.w; ++x) {
      const Rgba& c = p.at(x, y);
      t.SetPixel(x, y, c.r, c.g, c.b, c.a);
    }
}

model::Picture Shown(const cPVR& t) {
  model::Picture p(t.Width(), t.Height());
  for (int y = 0; y < p.h; ++y)
    for (int x = 0; x < p.w; ++x) {
      Rgba& c = p.at(x, y);
      t.GetPixel(x, y, c.r, c.g, c.b, c.a);
    }
  return p;
}

void Put(std::vector<uint8_t>& data, size_t at, uint16_t texel) {
  data[at] = uint8_t(texel);
  data[at + 1] = uint8_t(texel >> 8);
}

// Data of a mipmapped twiddled texture (2 or 18) holding the picture: each level the 2 x 2
// average of the one above, (a + b + c + d + 2) >> 2 per channel, the 1 x 1 texel in every
// slot of its space; other bytes of `data` as they were.
std::vector<uint8_t> MipmappedData(int dataFormat, int pixelFormat, model::Picture level,
                                   std::vector<uint8_t> data) {
  const size_t oneByOne = dataFormat == 2 ? 4 : 8;
  for (int side = level.w;; side /= 2) {
    size_t start = oneByOne;
    for (int s = 2; s < side; s *= 2) start += 2 * size_t(s) * size_t(s);
    if (side == 1) {
      for (size_t at = 0; at < oneByOne; at += 2)
        Put(data, at, model::EncodeTexel(pixelFormat, level.at(0, 0)));
      return data;
    }
    for (int y = 0; y < side; ++y)
      for (int x = 0; x < side; ++x)
        Put(data, start + 2 * model::TwiddleIndex(uint32_t(x), uint32_t(y)),
            model::EncodeTexel(pixelFormat, level.at(x, y)));
    model::Picture half(side / 2, side / 2);
    for (int y = 0; y < side / 2; ++y)
      for (int x = 0; x < side / 2; ++x) {
        const Rgba q[4] = {level.at(2 * x, 2 * y), level.at(2 * x + 1, 2 * y),
                           level.at(2 * x, 2 * y + 1), level.at(2 * x + 1, 2 * y + 1)};
        const auto avg = [&](uint8_t Rgba::*ch) {
          return uint8_t((q[0].*ch + q[1].*ch + q[2].*ch + q[3].*ch + 2) >> 2);
        };
        half.at(x, y) = {avg(&Rgba::r), avg(&Rgba::g), avg(&Rgba::b), avg(&Rgba::a)};
      }
    level = half;
  }
}

struct Shape {
  int dataFormat, w, h;
};
// Every new layout once; 2 x 8 has padded surface rows.
const Shape kShapes[] = {{2, 16, 16}, {18, 8, 8},  {3, 16, 16}, {4, 16, 16},
                         {16, 16, 16}, {17, 32, 32}, {13, 16, 4}, {13, 2, 8}};

}  // namespace

// Full data and data cut short, in every pixel format: the surfaces hold the main level as
// the layout decodes it into surfaces of their row padding.
TEST(TextureFormats, SurfacesShowTheMainLevelTheLayoutDecodes) {
  for (const Shape& s : kShapes) {
    const auto layout = DataFormats::LayoutOf(s.dataFormat, s.w, s.h);
    ASSERT_TRUE(layout.Handled());
    for (int pf = 0; pf <= 2; ++pf)
      for (const size_t bytes : {layout.End() + 6, layout.End() / 2 + 1}) {
        SCOPED_TRACE(testing::Message() << s.dataFormat << " " << s.w << "x" << s.h << " pf " << pf
                                        << " " << bytes << " bytes");
        const auto data = model::RandomBytes(bytes, uint32_t(s.dataFormat * 7 + pf));
        auto t = Texture(pf, s.dataFormat, s.w, s.h, data);
        ASSERT_TRUE(t->PVR2BMP());
        std::vector<uint8_t> image(t->SurfaceBits(0).size()), mask(image.size());
        DataFormats::DecodeMainLevel(layout, pf, data,
                                     {image.data(), mask.data(), model::Stride(s.w)});
        EXPECT_EQ(t->SurfaceBits(0), image);
        EXPECT_EQ(t->SurfaceBits(1), mask);
      }
  }
}

TEST(TextureFormats, SmallCodebookIndexPastItsEntriesShowsBlack) {
  // 16 x 16 small VQ: 16 entries, all white and opaque; block 0 names entry 16.
  std::vector<uint8_t> data(16 * 8 + 64, 0xFF);
  for (size_t k = 0; k < 64; ++k) data[128 + k] = k == 0 ? 16 : uint8_t(k % 16);
  auto t = Texture(2, 16, 16, 16, data);
  ASSERT_TRUE(t->PVR2BMP());
  const model::Picture shown = Shown(*t);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 4; ++x)
      EXPECT_EQ(shown.at(x, y), (x < 2 ? Rgba{} : Rgba{240, 240, 240, 240})) << x << "," << y;
}

// An edited picture replaces every level by the averaging rule; the bytes after the layout
// stay.
TEST(TextureFormats, EditedMipmapsGetExactlyTheAveragedLevels) {
  for (const int format : {2, 18})
    for (int pf = 0; pf <= 2; ++pf) {
      SCOPED_TRACE(testing::Message() << format << " pf " << pf);
      const auto layout = DataFormats::LayoutOf(format, 16, 16);
      const auto before = model::RandomBytes(layout.End() + 4, uint32_t(format + pf));
      const model::Picture p = model::RandomPicture(16, 16, uint32_t(pf + 5));
      auto t = Texture(pf, format, 16, 16, before);
      Paint(*t, p);
      t->BMP2PVR();
      EXPECT_EQ(t->ChunkRecord().Data, MipmappedData(format, pf, p, before));
    }
}

// Without alpha from a mask each texel keeps the alpha it shows, in every level (averaged from
// the kept alpha) and in a VQ texture (whose 64 blocks the codebook holds exactly).
TEST(TextureFormats, ImportWithoutAMaskKeepsEachTexelsAlpha) {
  for (const int format : {2, 3}) {
    SCOPED_TRACE(format);
    const auto layout = DataFormats::LayoutOf(format, 16, 16);
    auto t = Texture(2, format, 16, 16, std::vector<uint8_t>(layout.End(), 0));
    Paint(*t, model::RandomPicture(16, 16, 1));
    t->BMP2PVR();
    ASSERT_TRUE(t->PVR2BMP());
    const model::Picture before = Shown(*t);
    const std::vector<uint8_t> dataBefore = t->ChunkRecord().Data;

    const model::Picture edit = model::RandomPicture(16, 16, 2);
    Paint(*t, edit);
    t->MakeNew(2, 2, 1);  // a mask of another length gives no alpha
    t->BMP2PVR();
    model::Picture kept = edit;
    for (size_t i = 0; i < kept.px.size(); ++i) kept.px[i].a = before.px[i].a;
    if (format == 2) {
      EXPECT_EQ(t->ChunkRecord().Data, MipmappedData(2, 2, kept, dataBefore));
    }
    // The kept alpha is a level the format holds, so even VQ (which rounds colours to the
    // nearest level) gives it back exactly.
    ASSERT_TRUE(t->PVR2BMP());
    const model::Picture shown = Shown(*t);
    for (size_t i = 0; i < kept.px.size(); ++i) ASSERT_EQ(shown.px[i].a, kept.px[i].a) << i;
  }
}

// The picture a texture shows, imported again, leaves its bytes alone even where they are not
// what an encode would write (random smaller levels, a random codebook); one changed pixel
// re-encodes.
TEST(TextureFormats, UnchangedPictureKeepsTheBytes) {
  for (const Shape& s : kShapes) {
    SCOPED_TRACE(testing::Message() << s.dataFormat << " " << s.w << "x" << s.h);
    const auto data =
        model::RandomBytes(DataFormats::LayoutOf(s.dataFormat, s.w, s.h).End(), uint32_t(s.w));
    auto t = Texture(2, s.dataFormat, s.w, s.h, data);
    ASSERT_TRUE(t->PVR2BMP());
    t->BMP2PVR();
    EXPECT_EQ(t->ChunkRecord().Data, data);
    Rgba c;
    t->GetPixel(0, 0, c.r, c.g, c.b, c.a);
    t->SetPixel(0, 0, uint8_t(c.r ^ 0x80), c.g, c.b, c.a);
    t->BMP2PVR();
    EXPECT_NE(t->ChunkRecord().Data, data);
  }
}
