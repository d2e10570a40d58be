// The vector quantiser behind VQ imports, on natural pictures made from real game textures
// (the Debian package colobot-common-textures, which ./dev.sh installs): time, and the
// PSNR of the decoded result against the picture over the channels the pixel format keeps,
// as the counter PSNR_dB. Each picture takes its colour from a scene rendered with the
// game's textures (or a ground texture) and its alpha from the alpha of a planet texture,
// opaque with soft edges round a transparent outside:
//   1024²  colour: interface/intro3.png at (768, 208)
//          alpha: planets/planet-earth.png, repeated 2 x 2
//    256²  colour: interface/intro2.png at (768, 208), 4 x 4 averages
//          alpha: the planet, 2 x 2 averages
//     32²  colour: mars001.png, 8 x 8 averages
//          alpha: the planet, 16 x 16 averages
// Time is wall-clock time; the CPU column is the whole process's (the quantiser may use
// a second thread), which on a busy machine tells more than the wall clock.
// Beside each size run two baselines: a memcpy of the bytes a VQ texture of that size
// holds, and a naive quantiser (blocks spread over the picture as entries, each block
// to its nearest entry) whose PSNR shows what the real one adds.
#include <benchmark/benchmark.h>
#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "texture/TexelCodec.h"
#include "texture/VectorQuantiser.h"

namespace {

using benchmark::State;
using VectorQuantiser::Block;

const std::string kTextures = "/usr/share/games/colobot/textures/";

// 8-bit RGBA, rows top-down.
struct Picture {
  int width = 0, height = 0;
  std::vector<uint8_t> rgba;
  uint8_t* At(int x, int y) { return &rgba[(size_t(y) * width + x) * 4]; }
};

bool Load(const std::string& file, Picture& picture) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, (kTextures + file).c_str())) return false;
  image.format = PNG_FORMAT_RGBA;
  picture.width = int(image.width);
  picture.height = int(image.height);
  picture.rgba.resize(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, picture.rgba.data(), 0, nullptr)) {
    png_image_free(&image);
    return false;
  }
  return true;
}

// A side x side picture from the source at (x0, y0), each pixel the rounded average of a
// factor x factor square of the source; past its right or bottom edge the source repeats.
Picture Shrink(Picture& source, int x0, int y0, int side, int factor) {
  Picture out{side, side, std::vector<uint8_t>(size_t(side) * side * 4)};
  for (int y = 0; y < side; ++y)
    for (int x = 0; x < side; ++x)
      for (int c = 0; c < 4; ++c) {
        int sum = 0;
        for (int j = 0; j < factor; ++j)
          for (int i = 0; i < factor; ++i)
            sum += source.At((x0 + x * factor + i) % source.width,
                             (y0 + y * factor + j) % source.height)[c];
        out.At(x, y)[c] = uint8_t((sum + factor * factor / 2) / (factor * factor));
      }
  return out;
}

struct Source {
  const char* file;
  int x0, y0, factor;
};

struct PictureRecipe {
  int side;
  Source colour, alpha;
};

const PictureRecipe kPictures[] = {
    {1024, {"interface/intro3.png", 768, 208, 1}, {"planets/planet-earth.png", 0, 0, 1}},
    {256, {"interface/intro2.png", 768, 208, 4}, {"planets/planet-earth.png", 0, 0, 2}},
    {32, {"mars001.png", 0, 0, 8}, {"planets/planet-earth.png", 0, 0, 16}},
};

// The picture's 2 x 2 blocks, in the order VectorQuantiser::Block wants their texels; empty
// when a texture is missing.
const std::vector<Block>& BlocksOf(const PictureRecipe& recipe) {
  static std::map<int, std::vector<Block>> made;
  auto [it, fresh] = made.try_emplace(recipe.side);
  if (!fresh) return it->second;
  const int side = recipe.side;
  Picture colour, alpha;
  if (!Load(recipe.colour.file, colour) || !Load(recipe.alpha.file, alpha)) return it->second;
  Picture picture = Shrink(colour, recipe.colour.x0, recipe.colour.y0, side, recipe.colour.factor);
  const Picture mask = Shrink(alpha, recipe.alpha.x0, recipe.alpha.y0, side, recipe.alpha.factor);
  for (size_t k = 3; k < picture.rgba.size(); k += 4) picture.rgba[k] = mask.rgba[k];
  std::vector<Block>& blocks = it->second;
  for (int by = 0; by < side; by += 2)
    for (int bx = 0; bx < side; bx += 2) {
      Block b;
      const uint8_t* texels[4] = {picture.At(bx, by), picture.At(bx, by + 1),
                                  picture.At(bx + 1, by), picture.At(bx + 1, by + 1)};
      for (int t = 0; t < 4; ++t) std::memcpy(&b[t * 4], texels[t], 4);
      blocks.push_back(b);
    }
  return blocks;
}

// PSNR of the decoded blocks against the picture, over the channels the format keeps.
double Psnr(const std::vector<Block>& blocks, const VectorQuantiser::Result& result,
            int pixelFormat) {
  const int channels = TexelCodec::kPixelFormats[size_t(pixelFormat)].AMask != 0 ? 4 : 3;
  double sum = 0;
  for (size_t i = 0; i < blocks.size(); ++i)
    for (int t = 0; t < 4; ++t) {
      const TexelCodec::Rgba v =
          TexelCodec::DecodeTexel(pixelFormat, result.codebook.texels[result.indices[i] * 4 + t]);
      const uint8_t decoded[4] = {v.r, v.g, v.b, v.a};
      for (int c = 0; c < channels; ++c) {
        const double e = double(decoded[c]) - blocks[i][t * 4 + c];
        sum += e * e;
      }
    }
  const double mse = sum / (double(blocks.size()) * 4 * channels);
  return mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse);
}

// Blocks spread over the picture, encoded texel by texel, as the codebook; each block to its
// nearest entry.
VectorQuantiser::Result Naive(const std::vector<Block>& blocks, int pixelFormat, size_t entries) {
  VectorQuantiser::Result r;
  for (size_t e = 0; e < entries; ++e) {
    // A golden-ratio stride, so that the samples do not all fall in one column.
    const Block& b = blocks[size_t(double(e) * 0.6180339887498949 * double(blocks.size())) %
                            blocks.size()];
    for (int t = 0; t < 4; ++t)
      r.codebook.texels.push_back(TexelCodec::EncodeTexel(
          pixelFormat, {b[t * 4], b[t * 4 + 1], b[t * 4 + 2], b[t * 4 + 3]}));
  }
  for (const Block& b : blocks)
    r.indices.push_back(VectorQuantiser::NearestEntry(r.codebook, pixelFormat, b));
  return r;
}

constexpr const char* kFormatNames[] = {"ARGB1555", "RGB565", "ARGB4444"};

void Quantise(State& state, const PictureRecipe& recipe, int pixelFormat, size_t entries,
              bool naive) {
  const std::vector<Block>& blocks = BlocksOf(recipe);
  if (blocks.empty()) {
    state.SkipWithError("textures missing: install colobot-common-textures (./dev.sh does)");
    return;
  }
  VectorQuantiser::Result result;
  for (auto _ : state) {
    result = naive ? Naive(blocks, pixelFormat, entries)
                   : VectorQuantiser::Quantise(blocks, pixelFormat, entries);
    benchmark::DoNotOptimize(result.indices.data());
  }
  state.counters["PSNR_dB"] = Psnr(blocks, result, pixelFormat);
  state.counters["blocks"] = double(blocks.size());
}

// The bytes a VQ texture of the size holds: the codebook and an index per block.
void CopyOutput(State& state, size_t bytes) {
  std::vector<uint8_t> from(bytes, 1), to(bytes);
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), bytes);
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
}

const bool kRegistered = [] {
  for (const PictureRecipe& recipe : kPictures) {
    const std::string side = std::to_string(recipe.side);
    const size_t entries = recipe.side == 32 ? 32 : 256;
    const size_t blocks = size_t(recipe.side / 2) * (recipe.side / 2);
    benchmark::RegisterBenchmark(("VQ/memcpy/" + side).c_str(), CopyOutput, entries * 8 + blocks)
        ->UseRealTime();
    for (int f = 0; f < 3; ++f) {
      const std::string suffix =
          std::string(kFormatNames[f]) + "/" + side + "/" + std::to_string(entries);
      benchmark::RegisterBenchmark(("VQ/Quantise/" + suffix).c_str(), Quantise, recipe, f, entries,
                                   false)
          ->MeasureProcessCPUTime()
          ->UseRealTime()
          ->Unit(benchmark::kMillisecond);
      benchmark::RegisterBenchmark(("VQ/naive/" + suffix).c_str(), Quantise, recipe, f, entries,
                                   true)
          ->UseRealTime()
          ->Unit(benchmark::kMillisecond)
          ->Iterations(1)
          ->Repetitions(1);
    }
  }
  return true;
}();

}  // namespace
