// Writes the fuzz targets' seed corpora: small valid archives assembled as the archive
// tests assemble them, BMP files exported from decoded textures, and chunk records
// of every pixel and data format. Given a second folder, also writes there the malformed
// inputs of the reader, BMP and codec tests as regression files (tests/data/regressions),
// named for the outcome each must have. Run it from the repository root after a change to
// the input layouts in tests/kit/Replay.h:
//   build-fuzz/fuzz/fuzz_make_seeds fuzz/corpus tests/data/regressions
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "kit/BmpBuilder.h"
#include "kit/Files.h"
#include "kit/PvmBuilder.h"
#include "platform/ByteOrder.h"
#include "texture/DataFormats.h"
#include "texture/Palette.h"
#include "texture/PictureFiles.h"
#include "texture/Texture.h"

namespace {

namespace fs = std::filesystem;
using namespace archive_builder;

void Put(const fs::path& folder, const std::string& name, const Bytes& bytes) {
  fs::create_directories(folder);
  if (!testkit::WriteBytes((folder / name).string(), bytes)) {
    std::fprintf(stderr, "cannot write %s\n", (folder / name).c_str());
    std::exit(1);
  }
}

PvrChunk Chunk(uint8_t pmat, uint8_t emat, int16_t w, int16_t h, uint8_t seed) {
  return {.pFormat = pmat, .eFormat = emat, .width = w, .height = h,
          .data = Pattern(size_t(w) * size_t(h) * 2, seed)};
}

// A chunk of a layout's whole data and a few bytes more up to a 16-byte boundary, as real
// files carry after it.
PvrChunk LaidOut(uint8_t pmat, uint8_t emat, int16_t w, int16_t h, uint8_t seed) {
  return {.pFormat = pmat, .eFormat = emat, .width = w, .height = h,
          .data = Pattern((DataFormats::LayoutOf(emat, w, h).End() + 4 + 15) / 16 * 16, seed)};
}

Bytes Archive(const std::vector<std::string>& names, const std::vector<PvrChunk>& chunks) {
  Bytes out = PvmHeader{.names = names}.Build();
  for (const PvrChunk& c : chunks) {
    const Bytes b = c.Build();
    out.insert(out.end(), b.begin(), b.end());
  }
  return out;
}

void ArchiveSeeds(const fs::path& dir) {
  Put(dir, "one-rgb565", Archive({"grass"}, {Chunk(1, 9, 4, 4, 1)}));
  Put(dir, "three-formats", Archive({"a", "b", "c"}, {Chunk(0, 9, 8, 4, 2), Chunk(2, 1, 4, 4, 3),
                                                      Chunk(1, 1, 8, 8, 4)}));
  Put(dir, "two-entries", Archive({"left", "right"}, {Chunk(0, 9, 4, 2, 5), Chunk(2, 9, 2, 4, 6)}));
  Put(dir, "no-entries", Archive({}, {}));
  Put(dir, "vq-format", Archive({"vq"}, {Chunk(1, 3, 4, 4, 7)}));
  Put(dir, "mipmapped-vq-and-rect-twiddled",
      Archive({"mip", "vq", "smallvq", "rect"},
              {LaidOut(2, 2, 8, 8, 11), LaidOut(1, 4, 8, 8, 12), LaidOut(0, 16, 16, 16, 13),
               LaidOut(2, 13, 8, 2, 14)}));
  Put(dir, "name-without-nul",
      Archive({"abcdefghijklmnopqrstuvwxyz01", "x"}, {Chunk(1, 9, 4, 4, 8), Chunk(1, 9, 4, 4, 9)}));

  // Lengths counting the whole chunk: the data as read runs 8 bytes into what follows.
  PvrChunk whole = Chunk(1, 9, 4, 4, 10);
  whole.length = int32_t(16 + whole.data.size());
  Put(dir, "whole-chunk-lengths", Archive({"p", "q"}, {whole, whole}));

  // Two entries whose 38-byte table the attribute word describes and the header holds.
  Bytes described = PvmHeader{.names = {"left", "right"}, .headerLength = 88}.Build();
  for (const PvrChunk& c : {Chunk(0, 9, 4, 2, 13), Chunk(2, 9, 2, 4, 14)}) described = Join({described, c.Build()});
  Put(dir, "two-entries-described-table", described);

  // Index chunks before some textures' chunks, and after a whole-chunk length.
  Put(dir, "index-chunks", BuildArchive({{"gbix", 1, 9, 4, 4, Pattern(32, 15), 100},
                                         {"none", 2, 1, 4, 4, Pattern(32, 16)},
                                         {"gbix2", 0, 9, 8, 2, Pattern(32, 17), 0xFFFFFFFF}}));
  Put(dir, "index-chunk-after-whole-chunk-length",
      Join({Archive({"p", "q"}, {whole}), IndexChunk(8, "GCIX", 42), whole.Build()}));

  // Standalone .pvr files, with and without the index chunk.
  Put(dir, "pvr-with-gbix", Join({IndexChunk(), Chunk(2, 1, 8, 8, 11).Build()}));
  Put(dir, "pvr-alone", Chunk(1, 9, 4, 4, 12).Build());
}

// The editor's own exports of a decoded texture: image and mask BMPs.
std::pair<Bytes, Bytes> Exported(uint8_t pmat, uint8_t emat, int16_t w, int16_t h, uint8_t seed) {
  Texture t;
  t.pixelFormat = pmat;
  t.dataFormat = emat;
  t.width = w;
  t.height = h;
  t.data = TexelData(Pattern(size_t(w) * size_t(h) * 2, seed));
  t.length = int32_t(t.data.size() + 8);
  const std::optional<Image> decoded = t.Decode();
  using PictureFiles::Export;
  const auto image = decoded ? PictureFiles::Encode(*decoded, Export::BmpImage, t.HasAlphaBits(), {}) : std::nullopt;
  const auto mask = decoded ? PictureFiles::Encode(*decoded, Export::BmpMask, t.HasAlphaBits(), {}) : std::nullopt;
  if (!image || !mask) {
    std::fprintf(stderr, "cannot export a %dx%d texture\n", w, h);
    std::exit(1);
  }
  return {*image, *mask};
}

// Bitmap target input: shape byte, image length (2 bytes), image file, mask file.
Bytes BitmapInput(uint8_t shape, const Bytes& image, const Bytes& mask) {
  Bytes out = {shape, uint8_t(image.size()), uint8_t(image.size() >> 8)};
  out.insert(out.end(), image.begin(), image.end());
  out.insert(out.end(), mask.begin(), mask.end());
  return out;
}

void BitmapSeeds(const fs::path& dir) {
  auto [image4, mask4] = Exported(2, 9, 4, 4, 11);
  Put(dir, "4x4-with-mask", BitmapInput(0x33, image4, mask4));
  auto [image3, mask3] = Exported(0, 9, 3, 2, 12);
  Put(dir, "3x2-with-mask", BitmapInput(0x12, image3, mask3));
  auto [image5, mask5] = Exported(1, 9, 5, 3, 13);
  Put(dir, "5x3-without-mask", BitmapInput(0x24, image5, {}));
  Put(dir, "4x4-mask-3x2", BitmapInput(0x02, image4, mask3));
  Bytes eightBit = image4;
  eightBit[28] = 8;  // biBitCount
  Put(dir, "8-bit", BitmapInput(0x33, eightBit, mask4));
}

// Codec target input: width, height, pixel format, data format, length, data.
Bytes CodecInput(int16_t w, int16_t h, uint8_t pmat, uint8_t emat, const Bytes& data) {
  Bytes out;
  platform::LittleEndianWriter put(out);
  put.I16(w);                             // width
  put.I16(h);                             // height
  put.U8(pmat);                           // pixel format
  put.U8(emat);                           // data format
  put.I32(int32_t(data.size() + 8));      // length
  put.Bytes(data);                        // data
  return out;
}

void CodecSeeds(const fs::path& dir) {
  for (uint8_t pmat : {0, 1, 2, 3, 4, 5}) {
    const std::string p = std::to_string(pmat);
    Put(dir, "rect-8x4-p" + p, CodecInput(8, 4, pmat, 9, Pattern(64, uint8_t(20 + pmat))));
    Put(dir, "twiddled-8x8-p" + p, CodecInput(8, 8, pmat, 1, Pattern(128, uint8_t(30 + pmat))));
  }
  Put(dir, "rect-3x5-short", CodecInput(3, 5, 1, 9, Pattern(20, 40)));
  Put(dir, "twiddled-1x1", CodecInput(1, 1, 2, 1, Pattern(2, 41)));
  Put(dir, "vq-4x4", CodecInput(4, 4, 1, 3, Pattern(32, 42)));
  // Every other layout whole (with 4 bytes after it), in turn through the pixel formats.
  const struct {
    uint8_t format;
    int16_t w, h;
  } layouts[] = {{2, 16, 16},  {18, 8, 8},  {3, 16, 16}, {4, 16, 16},  {16, 32, 32}, {17, 32, 32},
                 {13, 16, 4},  {13, 2, 8},  {10, 6, 4},  {11, 32, 2},  {12, 64, 1},  {14, 4, 3},
                 {2, 32, 32},  {3, 8, 8},   {13, 32, 16}, {18, 16, 16}, {11, 96, 3}, {14, 3, 3}};
  uint8_t pmat = 0;
  for (const auto& l : layouts) {
    const size_t bytes = DataFormats::LayoutOf(l.format, l.w, l.h).End() + 4;
    Put(dir, "format" + std::to_string(l.format) + "-" + std::to_string(l.w) + "x" +
                 std::to_string(l.h) + "-p" + std::to_string(pmat),
        CodecInput(l.w, l.h, pmat, l.format, Pattern(bytes, uint8_t(50 + l.format))));
    pmat = uint8_t((pmat + 1) % 6);
  }
  Put(dir, "mipmapped-1x1", CodecInput(1, 1, 2, 18, Pattern(10, 44)));
  Put(dir, "mipmapped-short", CodecInput(16, 16, 1, 2, Pattern(100, 45)));
  Put(dir, "vq-mipmapped-short", CodecInput(16, 16, 2, 4, Pattern(1000, 46)));
  // Indices from 0xF0 up, past the 16 entries of a 16 x 16 small VQ codebook.
  Put(dir, "small-vq-indices-past-codebook", CodecInput(16, 16, 0, 16, Pattern(128 + 64, 0xF0)));
  Put(dir, "pixel-format-3", CodecInput(4, 4, 3, 9, Pattern(32, 43)));
  Put(dir, "pixel-format-6", CodecInput(4, 4, 6, 9, Pattern(32, 43)));
  // Shapes the new formats refuse, and their data cut short.
  Put(dir, "yuv-odd-width", CodecInput(5, 2, 3, 9, Pattern(20, 47)));
  Put(dir, "yuv-short-pair", CodecInput(4, 4, 3, 1, Pattern(13, 48)));
  Put(dir, "stride-40-wide", CodecInput(40, 2, 1, 11, Pattern(160, 49)));
  Put(dir, "raster-short", CodecInput(4, 4, 0, 14, Pattern(37, 50)));
  // Palettized layouts whole, a rectangle of squares, and short.
  Put(dir, "format5-16x8", CodecInput(16, 8, 7, 5, Pattern(64 + 4, 60)));
  Put(dir, "format6-16x16", CodecInput(16, 16, 0, 6, Pattern(DataFormats::LayoutOf(6, 16, 16).End(), 61)));
  Put(dir, "format7-8x32", CodecInput(8, 32, 1, 7, Pattern(256, 62)));
  Put(dir, "format8-8x8-short", CodecInput(8, 8, 2, 8, Pattern(30, 63)));
}

// Palette target input: bank, shape, palette length, palette file, texture data.
Bytes PaletteInput(uint8_t bank, uint8_t shape, const Palette& palette, size_t dataBytes, uint8_t seed) {
  const Bytes file = palette.Bytes();
  Bytes out = {bank, shape, uint8_t(file.size()), uint8_t(file.size() >> 8)};
  out.insert(out.end(), file.begin(), file.end());
  const Bytes data = Pattern(dataBytes, seed);
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

void PaletteSeeds(const fs::path& dir) {
  const struct {
    uint16_t format;
    const char* name;
  } formats[] = {{Palette::kARGB1555, "argb1555"}, {Palette::kRGB565, "rgb565"}, {Palette::kARGB4444, "argb4444"},
                 {Palette::kRGB555, "rgb555"},     {Palette::kARGB8888, "argb8888"}};
  uint8_t seed = 70;
  for (const auto& f : formats) {
    for (uint8_t shape : {0x00, 0x01, 0x02, 0x07}) {  // formats 5, 6, 7 at 8 x 8; 8 at 16 x 16
      Palette palette;
      palette.colourFormat = f.format;
      palette.firstColour = shape == 0x00 ? 16 : 0;
      const Bytes colours = Pattern(shape & 2 ? 256 : 32, seed++);
      for (uint8_t c : colours) palette.colours.push_back(uint32_t(c) * 0x01030507u);
      const auto l = DataFormats::LayoutOf(5 + (shape & 3), 8 << (shape >> 2 & 3), 8 << (shape >> 2 & 3));
      Put(dir, std::string(f.name) + "-format" + std::to_string(5 + (shape & 3)),
          PaletteInput(shape == 0x00 ? 1 : 0, shape, palette, l.End(), seed));
    }
  }
  Palette padded;
  padded.colours.assign(16, 0x8000);
  padded.trailing = Bytes(12, 0);
  padded.trailingCounted = 4;
  Put(dir, "padded", PaletteInput(0, 0, padded, 32, 90));
}

// ---- Regression inputs ------------------------------------------------------------------

// The two-entry archive of the reader tests: header 80 bytes, chunks of 48 at 80 and 128.
Bytes TwoEntryArchive() {
  return Archive({"a", "b"}, {Chunk(1, 9, 4, 4, 1), Chunk(1, 9, 4, 4, 2)});
}

template <typename Change>
Bytes Changed(Bytes b, Change change) {
  change(b);
  return b;
}

void ArchiveRegressions(const fs::path& dir) {
  Put(dir, "refused-no-magic", Changed(TwoEntryArchive(), [](Bytes& b) { b[3] = 'X'; }));
  Put(dir, "refused-shorter-than-magic", Bytes{'P', 'V', 'M'});
  Put(dir, "refused-empty-file", Bytes{});
  Put(dir, "refused-header-cut-before-count", Bytes{'P', 'V', 'M', 'H', 72, 0, 0, 0, 0, 0, 2});
  Put(dir, "refused-negative-header-length",
      Changed(TwoEntryArchive(), [](Bytes& b) { SetI32At(b, 4, -1); }));
  Put(dir, "refused-header-too-short-for-count",
      Changed(TwoEntryArchive(), [](Bytes& b) { SetI32At(b, 4, 3); }));
  Put(dir, "refused-header-too-short-for-names",
      Changed(TwoEntryArchive(), [](Bytes& b) { SetI32At(b, 4, 60); }));
  Put(dir, "refused-header-past-end", Changed(TwoEntryArchive(), [](Bytes& b) { SetI32At(b, 4, 1000); }));
  Put(dir, "refused-header-length-2gb",
      Changed(TwoEntryArchive(), [](Bytes& b) { SetI32At(b, 4, 0x7FFFFFF0); }));
  Put(dir, "refused-negative-count", Changed(TwoEntryArchive(), [](Bytes& b) { SetU16At(b, 10, 0xFFFF); }));
  Put(dir, "refused-count-32767", Changed(TwoEntryArchive(), [](Bytes& b) { SetU16At(b, 10, 0x7FFF); }));
  for (int32_t L : {8, 0, -100, INT32_MIN}) {
    Put(dir, "refused-chunk-length-" + std::to_string(L),
        Changed(TwoEntryArchive(), [L](Bytes& b) { SetI32At(b, 84, L); }));
  }
  Put(dir, "refused-fewer-chunks-than-entries",
      Archive({"a", "b", "c"}, {Chunk(1, 9, 4, 2, 1), Chunk(1, 9, 4, 2, 2)}));
  Put(dir, "refused-second-chunk-header-cut", Changed(TwoEntryArchive(), [](Bytes& b) { b.resize(138); }));
  Put(dir, "refused-last-chunk-9-past-end",
      Changed(TwoEntryArchive(), [](Bytes& b) { SetI32At(b, 132, 49); }));
  Put(dir, "refused-chunk-length-2gb",
      Changed(TwoEntryArchive(), [](Bytes& b) { SetI32At(b, 132, 0x7FFFFFFF); }));
  {
    PvrChunk first = Chunk(1, 9, 4, 2, 1);
    first.length = 32;
    Put(dir, "refused-first-chunk-8-past-end", Archive({"a", "b"}, {first}));
  }
  Put(dir, "refused-chunk-off-16-byte-boundary",
      Archive({"a", "b"}, {Chunk(1, 9, 15, 1, 1), Chunk(1, 9, 4, 2, 2)}));
  {
    Bytes b = PvmHeader{.names = {"a", "b"}, .headerLength = 79}.Build();
    for (const PvrChunk& c : {PvrChunk{.data = Bytes{1}}, Chunk(1, 9, 4, 2, 2)}) {
      const Bytes chunk = c.Build();
      b.insert(b.end(), chunk.begin(), chunk.end());
    }
    Put(dir, "refused-short-chunk-as-whole-length", b);
  }

  // Standalone .pvr files whose index chunk or chunk length lies.
  const Bytes pvrChunk = Chunk(1, 9, 4, 4, 3).Build();
  Put(dir, "refused-pvr-gbix-cut", Bytes{'G', 'B', 'I', 'X', 8, 0});
  Put(dir, "refused-pvr-gbix-length-past-end", Join({IndexChunk(0xFFFFFFF8), pvrChunk}));
  Put(dir, "refused-pvr-gcix-not-followed-by-pvrt", Join({IndexChunk(4, "GCIX"), pvrChunk}));
  Put(dir, "refused-pvr-chunk-9-past-end", Changed(pvrChunk, [](Bytes& b) { SetI32At(b, 4, 8 + 32 + 9); }));
  Put(dir, "accepted-pvr-whole-chunk-length",
      Join({IndexChunk(), Changed(pvrChunk, [](Bytes& b) { SetI32At(b, 4, 16 + 32); })}));
  Put(dir, "accepted-pvr-gbix-length-0", Join({Bytes{'G', 'B', 'I', 'X', 0, 0, 0, 0}, pvrChunk}));

  Put(dir, "accepted-32767-square-with-64-bytes",
      Archive({"huge"}, {PvrChunk{.width = 32767, .height = 32767, .data = Pattern(64, 1)}}));
  Put(dir, "accepted-negative-size", Archive({"neg"}, {PvrChunk{.width = -4, .height = 4, .data = Pattern(32, 1)}}));
  Put(dir, "accepted-single-data-byte", Archive({"one"}, {PvrChunk{.data = Bytes{7}}}));
  {
    // Whole-chunk lengths with a foreign magic on the second chunk: the first chunk's data
    // holds that magic, and a save writes "PVRT" over it.
    PvrChunk whole = Chunk(1, 9, 4, 4, 10);
    whole.length = int32_t(16 + whole.data.size());
    PvrChunk foreign = whole;
    foreign.magic = "ABCD";
    Put(dir, "accepted-whole-chunk-lengths-foreign-magic", Archive({"p", "q"}, {whole, foreign}));
    // "GBIX" there is an index chunk whose length leads past the end of the file.
    foreign.magic = "GBIX";
    Put(dir, "refused-whole-chunk-lengths-gbix-as-chunk-magic", Archive({"p", "q"}, {whole, foreign}));
  }

  // Index chunks before an archive's second texture whose length lies.
  const Bytes indexed = BuildArchive({{"a", 1, 9, 4, 4, Pattern(32, 1), 5}, {"b", 1, 9, 4, 4, Pattern(32, 2), 6}});
  for (int32_t G : {-8, 0, 56}) {
    Put(dir, "refused-index-length-" + std::to_string(G), Changed(indexed, [G](Bytes& b) { SetI32At(b, 148, G); }));
  }
}

void BitmapRegressions(const fs::path& dir) {
  using testkit::BmpFields;
  // The pictures are of no interest here, only the files' layouts.
  const auto black = [](int, int) { return std::array<uint8_t, 3>{}; };
  // A 3 x 2 picture of fixed-seed noise: red, green, blue and alpha of each pixel, row by row.
  std::mt19937 rng(11);
  std::array<std::array<uint8_t, 4>, 6> noise;
  for (auto& p : noise) p = {uint8_t(rng()), uint8_t(rng()), uint8_t(rng()), uint8_t(rng())};
  const auto colours = [&](int x, int y) {
    const auto& p = noise[size_t(y * 3 + x)];
    return std::array<uint8_t, 3>{p[2], p[1], p[0]};
  };
  const auto alpha = [&](int x, int y) { return std::array<uint8_t, 3>{0, 0, noise[size_t(y * 3 + x)][3]}; };
  auto bmp = [&](auto fields, auto bytes) {
    BmpFields f;
    f.width = 3;
    f.height = 2;
    fields(f);
    Bytes b = testkit::BuildBmp(f, black);
    bytes(b);
    return BitmapInput(0x33, b, {});
  };
  const auto same = [](BmpFields&) {};
  const auto none = [](Bytes&) {};
  Put(dir, "refused-empty-file", BitmapInput(0x33, {}, {}));
  Put(dir, "refused-not-bm", bmp(same, [](Bytes& b) { b[0] = 'P'; }));
  Put(dir, "refused-12-byte-header", bmp([](BmpFields& f) { f.infoSize = 12; }, none));
  Put(dir, "refused-compressed", bmp([](BmpFields& f) { f.compression = 1; }, none));
  Put(dir, "refused-bit-fields", bmp([](BmpFields& f) { f.compression = 3; }, none));
  Put(dir, "refused-two-planes", bmp([](BmpFields& f) { f.planes = 2; }, none));
  Put(dir, "refused-8-bit", bmp([](BmpFields& f) { f.bitCount = 8; }, none));
  Put(dir, "refused-width-0", bmp([](BmpFields& f) { f.width = 0; }, none));
  Put(dir, "refused-negative-width", bmp([](BmpFields& f) { f.width = -3; }, none));
  Put(dir, "refused-height-0", bmp([](BmpFields& f) { f.height = 0; }, none));
  Put(dir, "refused-rows-inside-header", bmp([](BmpFields& f) { f.offBits = 20; }, none));
  Put(dir, "refused-rows-past-end", bmp(same, [](Bytes& b) {
        b[10] = uint8_t(b.size() + 1);
        b[11] = 0;
      }));
  Put(dir, "refused-more-rows-than-file", bmp(same, [](Bytes& b) { b[22] = 3; }));
  Put(dir, "refused-absurd-width", bmp(same, [](Bytes& b) { b[18] = b[19] = b[20] = 0xFF, b[21] = 0x7F; }));
  Put(dir, "refused-height-min", bmp(same, [](Bytes& b) { b[22] = b[23] = b[24] = 0, b[25] = 0x80; }));
  Put(dir, "refused-header-size-max", bmp(same, [](Bytes& b) { b[14] = b[15] = b[16] = b[17] = 0xFF; }));
  Put(dir, "refused-32767-square-with-18-bytes", bmp(same, [](Bytes& b) {
        SetI32At(b, 18, 32767);
        SetI32At(b, 22, 32767);
      }));
  Put(dir, "accepted-top-down-rows", bmp([](BmpFields& f) { f.height = -2; }, none));
  Put(dir, "accepted-longer-info-header", bmp([](BmpFields& f) { f.infoSize = 124; }, none));
  {
    BmpFields f;
    f.width = 3;
    f.height = 2;
    const Bytes image = testkit::BuildBmp(f, colours);
    f.width = 2;
    Put(dir, "accepted-mask-of-another-size", BitmapInput(0x33, image, testkit::BuildBmp(f, alpha)));
  }
}

void CodecRegressions(const fs::path& dir) {
  Put(dir, "refused-32767-square-with-64-bytes", CodecInput(32767, 32767, 1, 9, Pattern(64, 1)));
  Put(dir, "refused-32767-square-twiddled", CodecInput(32767, 32767, 0, 1, Pattern(64, 1)));
  Put(dir, "refused-negative-width", CodecInput(-4, 4, 1, 9, Pattern(32, 1)));
  Put(dir, "refused-min-height", CodecInput(4, -32768, 2, 9, Pattern(32, 1)));
  Put(dir, "refused-zero-size", CodecInput(0, 0, 1, 9, Pattern(32, 1)));
  Put(dir, "accepted-twiddled-not-square", CodecInput(8, 4, 1, 1, Pattern(64, 1)));
  Put(dir, "accepted-twiddled-side-6", CodecInput(6, 6, 2, 1, Pattern(72, 1)));
  Put(dir, "accepted-no-data", CodecInput(2, 2, 0, 9, {}));
  Put(dir, "accepted-pixel-format-255", CodecInput(4, 4, 255, 9, Pattern(32, 1)));
  Put(dir, "accepted-vq-codebook-only", CodecInput(64, 64, 2, 3, Pattern(2048, 1)));
  Put(dir, "accepted-vq-1024-without-indices", CodecInput(1024, 1024, 1, 4, Pattern(64, 1)));
  Put(dir, "refused-mipmapped-2048-short", CodecInput(2048, 2048, 0, 18, Pattern(64, 1)));
  Put(dir, "refused-rect-twiddled-16384-by-8192", CodecInput(16384, 8192, 0, 13, Pattern(64, 1)));
  {
    Bytes lying = CodecInput(4, 4, 1, 9, Pattern(32, 1));
    SetI32At(lying, 6, 0x7FFFFFFF);  // a length far beyond the data
    Put(dir, "accepted-length-beyond-data", lying);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: %s CORPUS_FOLDER [REGRESSIONS_FOLDER]\n", argv[0]);
    return 2;
  }
  const fs::path root = argv[1];
  ArchiveSeeds(root / "fuzz_archive");
  BitmapSeeds(root / "fuzz_bmp");
  CodecSeeds(root / "fuzz_codec");
  PaletteSeeds(root / "fuzz_palette");
  if (argc == 3) {
    const fs::path regressions = argv[2];
    ArchiveRegressions(regressions / "archive");
    BitmapRegressions(regressions / "bmp");
    CodecRegressions(regressions / "codec");
  }
  return 0;
}
