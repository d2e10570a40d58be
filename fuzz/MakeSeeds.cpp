// Writes the fuzz targets' seed corpora: small valid archives assembled as the archive
// tests assemble them, BMP files exported by the texture object itself, and chunk records
// of every pixel and data format. Run it from the repository root after a change to the
// input layouts in fuzz/Harness.h:
//   build-fuzz/fuzz/fuzz_make_seeds fuzz/corpus
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "core/ArchiveBuilder.h"
#include "fuzz/Harness.h"
#include "texture/cPVR.h"

namespace {

namespace fs = std::filesystem;
using namespace archive_builder;

void Put(const fs::path& folder, const std::string& name, const Bytes& bytes) {
  fs::create_directories(folder);
  if (!harness::WriteBytes(folder / name, bytes)) {
    std::fprintf(stderr, "cannot write %s\n", (folder / name).c_str());
    std::exit(1);
  }
}

PvrChunk Chunk(uint8_t pmat, uint8_t emat, int16_t w, int16_t h, uint8_t seed) {
  return {.pFormat = pmat, .eFormat = emat, .width = w, .height = h,
          .data = Pattern(size_t(w) * size_t(h) * 2, seed)};
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
  Put(dir, "name-without-nul",
      Archive({"abcdefghijklmnopqrstuvwxyz01", "x"}, {Chunk(1, 9, 4, 4, 8), Chunk(1, 9, 4, 4, 9)}));

  // Lengths counting the whole chunk: the data as read runs 8 bytes into what follows.
  PvrChunk whole = Chunk(1, 9, 4, 4, 10);
  whole.length = int32_t(16 + whole.data.size());
  Put(dir, "whole-chunk-lengths", Archive({"p", "q"}, {whole, whole}));
}

// The editor's own exports of a decoded texture: image and mask BMPs.
std::pair<Bytes, Bytes> Exported(uint8_t pmat, uint8_t emat, int16_t w, int16_t h, uint8_t seed) {
  cPVR t;
  const Bytes data = Pattern(size_t(w) * size_t(h) * 2, seed);
  t.SetPVRData(int32_t(data.size() + 8), pmat, emat, w, h, data);
  t.PVR2BMP();
  const fs::path image = harness::ScratchFolder() / "seed-image.bmp";
  const fs::path mask = harness::ScratchFolder() / "seed-mask.bmp";
  fs::remove(image);
  fs::remove(mask);
  if (!t.SaveBitmap(0, image.string()) || !t.SaveBitmap(1, mask.string())) {
    std::fprintf(stderr, "cannot export a %dx%d texture\n", w, h);
    std::exit(1);
  }
  return {harness::ReadBytes(image), harness::ReadBytes(mask)};
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
  PutU16(out, uint16_t(w));
  PutU16(out, uint16_t(h));
  out.push_back(pmat);
  out.push_back(emat);
  PutI32(out, int32_t(data.size() + 8));
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

void CodecSeeds(const fs::path& dir) {
  for (uint8_t pmat : {0, 1, 2}) {
    const std::string p = std::to_string(pmat);
    Put(dir, "rect-8x4-p" + p, CodecInput(8, 4, pmat, 9, Pattern(64, uint8_t(20 + pmat))));
    Put(dir, "twiddled-8x8-p" + p, CodecInput(8, 8, pmat, 1, Pattern(128, uint8_t(30 + pmat))));
  }
  Put(dir, "rect-3x5-short", CodecInput(3, 5, 1, 9, Pattern(20, 40)));
  Put(dir, "twiddled-1x1", CodecInput(1, 1, 2, 1, Pattern(2, 41)));
  Put(dir, "vq-4x4", CodecInput(4, 4, 1, 3, Pattern(32, 42)));
  Put(dir, "pixel-format-3", CodecInput(4, 4, 3, 9, Pattern(32, 43)));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s CORPUS_FOLDER\n", argv[0]);
    return 2;
  }
  const fs::path root = argv[1];
  harness::MessageCounter quiet;
  ArchiveSeeds(root / "fuzz_archive");
  BitmapSeeds(root / "fuzz_bmp");
  CodecSeeds(root / "fuzz_codec");
  return 0;
}
