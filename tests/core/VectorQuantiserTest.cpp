#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "texture/TexelCodec.h"
#include "texture/VectorQuantiser.h"

namespace {

using VectorQuantiser::Block;
using VectorQuantiser::Codebook;

// The decoded entry as a block, in the Block's byte order.
Block DecodedEntry(const Codebook& codebook, int pixelFormat, size_t entry) {
  Block b{};
  for (size_t t = 0; t < 4; ++t) {
    const TexelCodec::Rgba v = TexelCodec::DecodeTexel(pixelFormat, codebook.texels[entry * 4 + t]);
    b[t * 4 + 0] = v.r, b[t * 4 + 1] = v.g, b[t * 4 + 2] = v.b, b[t * 4 + 3] = v.a;
  }
  return b;
}

// Squared error over the channels the format keeps.
int Distance(int pixelFormat, const Block& a, const Block& b) {
  const bool alpha = TexelCodec::kPixelFormats[size_t(pixelFormat)].AMask != 0;
  int sum = 0;
  for (size_t i = 0; i < 16; ++i)
    if (alpha || i % 4 != 3) sum += (int(a[i]) - int(b[i])) * (int(a[i]) - int(b[i]));
  return sum;
}

std::vector<Block> RandomBlocks(size_t count, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<Block> blocks(count);
  for (Block& b : blocks)
    for (uint8_t& v : b) v = uint8_t(random());
  return blocks;
}

struct Case {
  int pixelFormat;
  size_t entries, blocks;
};
// The last case is big enough for cuts and entry shifts to run on two cores.
constexpr Case kCases[] = {{0, 256, 1200}, {1, 256, 1200}, {2, 256, 1200}, {1, 16, 1},
                           {2, 32, 20},    {0, 1, 50},     {1, 128, 127},  {0, 16, 20000}};

TEST(VectorQuantiser, SameBlocksGiveSameBytesAndIndicesAreNearestEntries) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::Message() << "format " << c.pixelFormat << ", " << c.entries
                                    << " entries, " << c.blocks << " blocks");
    const std::vector<Block> blocks = RandomBlocks(c.blocks, 11);
    const auto first = VectorQuantiser::Quantise(blocks, c.pixelFormat, c.entries);
    const auto second = VectorQuantiser::Quantise(blocks, c.pixelFormat, c.entries);
    EXPECT_EQ(first.codebook.texels, second.codebook.texels);
    EXPECT_EQ(first.indices, second.indices);
    ASSERT_EQ(first.codebook.Entries(), c.entries);
    ASSERT_EQ(first.indices.size(), blocks.size());
    std::vector<bool> used(c.entries, false);
    for (size_t i = 0; i < blocks.size(); ++i) {
      ASSERT_LT(first.indices[i], c.entries);
      used[first.indices[i]] = true;
      EXPECT_EQ(first.indices[i],
                VectorQuantiser::NearestEntry(first.codebook, c.pixelFormat, blocks[i]));
    }
    for (size_t e = 0; e < c.entries; ++e) {
      if (used[e]) continue;
      for (size_t t = 0; t < 4; ++t) EXPECT_EQ(first.codebook.texels[e * 4 + t], 0) << e;
    }
  }
}

// Blocks of at most `entries` distinct decoded values, each channel nudged by less than half
// a step, come back exactly as those values.
TEST(VectorQuantiser, FewDistinctQuantisedBlocksComeBackExactly) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::Message() << "format " << c.pixelFormat << ", " << c.entries);
    std::mt19937 random(5);
    std::vector<Block> distinct(c.entries);
    for (Block& b : distinct) {
      Codebook one{{}};
      for (int t = 0; t < 4; ++t) one.texels.push_back(uint16_t(random()));
      b = DecodedEntry(one, c.pixelFormat, 0);
    }
    std::vector<Block> blocks(c.blocks), nudged(c.blocks);
    for (size_t i = 0; i < blocks.size(); ++i) {
      blocks[i] = distinct[random() % distinct.size()];
      for (size_t k = 0; k < 16; ++k)
        nudged[i][k] = uint8_t(std::min<uint32_t>(255, blocks[i][k] + random() % 3));
    }
    const auto result = VectorQuantiser::Quantise(nudged, c.pixelFormat, c.entries);
    for (size_t i = 0; i < blocks.size(); ++i)
      ASSERT_EQ(Distance(c.pixelFormat, blocks[i],
                         DecodedEntry(result.codebook, c.pixelFormat, result.indices[i])),
                0)
          << "block " << i;
  }
}

TEST(VectorQuantiser, Rgb565IgnoresAlpha) {
  std::vector<Block> blocks = RandomBlocks(2000, 3), opaque = blocks;
  for (Block& b : opaque)
    for (size_t t = 0; t < 4; ++t) b[t * 4 + 3] = 255;
  const auto a = VectorQuantiser::Quantise(blocks, 1, 64);
  const auto b = VectorQuantiser::Quantise(opaque, 1, 64);
  EXPECT_EQ(a.codebook.texels, b.codebook.texels);
  EXPECT_EQ(a.indices, b.indices);
}

// Against every entry by brute force: the nearest, the lowest index among equals (the
// codebook repeats entries on purpose).
TEST(VectorQuantiser, NearestEntryIsTheFirstOfTheNearest) {
  std::mt19937 random(9);
  for (int pixelFormat = 0; pixelFormat < 3; ++pixelFormat) {
    Codebook codebook;
    for (int i = 0; i < 200 * 4; ++i) codebook.texels.push_back(uint16_t(random()));
    codebook.texels.insert(codebook.texels.end(), codebook.texels.begin(),
                           codebook.texels.begin() + 56 * 4);
    for (const Block& block : RandomBlocks(300, uint32_t(pixelFormat))) {
      size_t best = 0;
      for (size_t e = 1; e < codebook.Entries(); ++e)
        if (Distance(pixelFormat, block, DecodedEntry(codebook, pixelFormat, e)) <
            Distance(pixelFormat, block, DecodedEntry(codebook, pixelFormat, best)))
          best = e;
      ASSERT_EQ(VectorQuantiser::NearestEntry(codebook, pixelFormat, block), best);
    }
  }
}

// A smooth picture with noise and patches of clear alpha, enough blocks for the search to be shared
// between threads.
std::vector<Block> Picture(size_t side, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<Block> blocks;
  for (size_t y = 0; y < side; ++y)
    for (size_t x = 0; x < side; ++x) {
      Block b;
      for (size_t k = 0; k < 16; ++k)
        b[k] = k % 4 == 3 ? uint8_t((x / 8 + y / 8) % 2 * 255)
                          : uint8_t((x * (k % 4 + 1) + y * (4 - k % 4)) % 256 / 2 + random() % 16);
      blocks.push_back(b);
    }
  return blocks;
}

TEST(VectorQuantiser, PlainPathGivesTheSameBytes) {
  const std::vector<Block> blocks = Picture(91, 1);
  for (int pixelFormat = 0; pixelFormat < 3; ++pixelFormat) {
    const auto wide = VectorQuantiser::Quantise(blocks, pixelFormat, 16);
    const bool before = VectorQuantiser::AllowVectorUnit(false);
    const auto plain = VectorQuantiser::Quantise(blocks, pixelFormat, 16);
    VectorQuantiser::AllowVectorUnit(before);
    EXPECT_EQ(wide.codebook.texels, plain.codebook.texels) << pixelFormat;
    EXPECT_EQ(wide.indices, plain.indices) << pixelFormat;
  }
}

// Far better than a codebook of every k-th block: catches a search or refinement that
// has stopped improving anything.
TEST(VectorQuantiser, BeatsEveryKthBlockByFar) {
  const std::vector<Block> blocks = Picture(48, 2);
  for (int pixelFormat = 0; pixelFormat < 3; ++pixelFormat) {
    const auto result = VectorQuantiser::Quantise(blocks, pixelFormat, 64);
    Codebook sampled;
    for (size_t e = 0; e < 64; ++e)
      for (size_t t = 0; t < 4; ++t) {
        const uint8_t* v = &blocks[e * blocks.size() / 64][t * 4];
        sampled.texels.push_back(TexelCodec::EncodeTexel(pixelFormat, {v[0], v[1], v[2], v[3]}));
      }
    int64_t quantised = 0, naive = 0;
    for (size_t i = 0; i < blocks.size(); ++i) {
      quantised += Distance(pixelFormat, blocks[i],
                            DecodedEntry(result.codebook, pixelFormat, result.indices[i]));
      const size_t e = VectorQuantiser::NearestEntry(sampled, pixelFormat, blocks[i]);
      naive += Distance(pixelFormat, blocks[i], DecodedEntry(sampled, pixelFormat, e));
    }
    EXPECT_LT(quantised * 3, naive * 2) << pixelFormat;
  }
}

TEST(VectorQuantiser, NoBlocksGiveAZeroCodebook) {
  const auto result = VectorQuantiser::Quantise({}, 2, 16);
  EXPECT_EQ(result.codebook.texels, std::vector<uint16_t>(64, 0));
  EXPECT_TRUE(result.indices.empty());
}

}  // namespace
