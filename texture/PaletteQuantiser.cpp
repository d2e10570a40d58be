// Palette::FromPicture: a new palette for a picture, by a deterministic quantiser.
//
// The picture's colours are gathered into bins (the colour format's own colours for the
// 16-bit formats, 5 bits a channel for ARGB8888), each with its weight and exact sums. The
// bins are divided as the VQ quantiser divides blocks: the cluster whose best cut lowers the
// squared error most is cut, across the channel along which it spreads most, until there are
// as many clusters as colours. Then rounds of Lloyd's, each colour at the format's levels
// nearest its members' mean and each bin to its nearest colour as an import measures it
// (ColourMatcher), a cluster left empty taking the bin that costs most.
#include <algorithm>
#include <array>
#include <cmath>
#include <numeric>
#include <vector>

#include "texture/ColourMatcher.h"
#include "texture/Palette.h"
#include "texture/TexelCodec.h"

namespace {

constexpr int kRounds = 8;

// The 8-bit values a channel of the format decodes to, ascending, per channel (r, g, b, a).
using Levels = std::array<std::vector<uint8_t>, 4>;

Levels LevelsOf(uint16_t colourFormat) {
  Levels levels;
  if (colourFormat == Palette::kARGB8888) {
    for (auto& l : levels) {
      l.resize(256);
      std::iota(l.begin(), l.end(), uint8_t(0));
    }
    return levels;
  }
  // Learnt from the codec, as the VQ quantiser learns them; RGB555 is ARGB1555, opaque.
  const int format = colourFormat == Palette::kRGB555 ? Palette::kARGB1555 : colourFormat;
  std::array<std::array<bool, 256>, 4> seen{};
  for (uint32_t v = 0; v <= 0xFFFF; ++v) {
    const TexelCodec::Rgba c = TexelCodec::DecodeTexel(format, uint16_t(v));
    seen[0][c.r] = seen[1][c.g] = seen[2][c.b] = seen[3][c.a] = true;
  }
  if (colourFormat == Palette::kRGB555) seen[3].fill(false), seen[3][255] = true;
  for (size_t ch = 0; ch < 4; ++ch)
    for (int value = 0; value < 256; ++value)
      if (seen[ch][size_t(value)]) levels[ch].push_back(uint8_t(value));
  return levels;
}

// The level nearest to sum / weight (weight > 0), the lower of two equally near.
uint8_t NearestLevel(const std::vector<uint8_t>& levels, int64_t sum, int64_t weight) {
  const auto above = std::lower_bound(levels.begin(), levels.end(), sum,
                                      [weight](uint8_t l, int64_t s) { return int64_t(l) * weight < s; });
  if (above == levels.begin()) return *above;
  if (above == levels.end()) return levels.back();
  const int64_t up = int64_t(*above) * weight - sum, down = sum - int64_t(*(above - 1)) * weight;
  return down <= up ? *(above - 1) : *above;
}

bool HasAlpha(uint16_t colourFormat) {
  return colourFormat != Palette::kRGB565 && colourFormat != Palette::kRGB555;
}

// Colours that look alike to the format share a bin.
uint32_t BinOf(uint16_t colourFormat, const uint8_t* p) {
  if (colourFormat == Palette::kARGB8888)
    return uint32_t(p[0] >> 3) << 15 | uint32_t(p[1] >> 3) << 10 | uint32_t(p[2] >> 3) << 5 | uint32_t(p[3] >> 3);
  const int format = colourFormat == Palette::kRGB555 ? Palette::kARGB1555 : colourFormat;
  const uint8_t alpha = HasAlpha(colourFormat) ? p[3] : 255;
  return TexelCodec::EncodeTexel(format, {p[0], p[1], p[2], alpha});
}

struct Bin {
  int64_t weight = 0;
  std::array<int64_t, 4> sum{};
  std::array<uint8_t, 4> Mean() const {
    std::array<uint8_t, 4> m;
    for (size_t c = 0; c < 4; ++c) m[c] = uint8_t((sum[c] + weight / 2) / weight);
    return m;
  }
};

// Sums of a set of bins: enough for its mean and its squared error.
struct Moments {
  int64_t weight = 0;
  std::array<double, 4> sum{}, squares{};
  void Add(const Bin& b) {
    weight += b.weight;
    for (size_t c = 0; c < 4; ++c) {
      const double mean = double(b.sum[c]) / double(b.weight);
      sum[c] += double(b.sum[c]);
      squares[c] += mean * double(b.sum[c]);
    }
  }
  double Error(size_t c) const { return weight == 0 ? 0 : squares[c] - sum[c] * sum[c] / double(weight); }
  double Error() const { return Error(0) + Error(1) + Error(2) + Error(3); }
};

// A cluster: a range of `order`, and where cutting it would help most.
struct Cluster {
  size_t begin = 0, end = 0;
  double gain = 0;
  size_t cutChannel = 0;
  size_t cutAt = 0;
};

// Finds the best cut of a cluster across its widest-spread channel; sorts its range by it.
void ProposeCut(const std::vector<Bin>& bins, std::vector<uint32_t>& order, Cluster& cluster) {
  cluster.gain = 0;
  if (cluster.end - cluster.begin < 2) return;
  Moments all;
  for (size_t k = cluster.begin; k < cluster.end; ++k) all.Add(bins[order[k]]);
  size_t channel = 0;
  for (size_t c = 1; c < 4; ++c)
    if (all.Error(c) > all.Error(channel)) channel = c;
  if (!(all.Error(channel) > 0)) return;
  const auto first = order.begin() + ptrdiff_t(cluster.begin), last = order.begin() + ptrdiff_t(cluster.end);
  std::sort(first, last, [&](uint32_t a, uint32_t b) {
    const double ma = double(bins[a].sum[channel]) / double(bins[a].weight);
    const double mb = double(bins[b].sum[channel]) / double(bins[b].weight);
    return ma != mb ? ma < mb : a < b;
  });
  Moments left;
  const double error = all.Error();
  for (size_t k = cluster.begin; k + 1 < cluster.end; ++k) {
    left.Add(bins[order[k]]);
    Moments right = all;
    right.weight -= left.weight;
    for (size_t c = 0; c < 4; ++c) right.sum[c] -= left.sum[c], right.squares[c] -= left.squares[c];
    const double gain = error - left.Error() - right.Error();
    if (gain > cluster.gain) cluster.gain = gain, cluster.cutAt = k + 1, cluster.cutChannel = channel;
  }
}

std::vector<uint32_t> Divide(const std::vector<Bin>& bins, size_t clusters) {
  std::vector<uint32_t> order(bins.size());
  std::iota(order.begin(), order.end(), 0u);
  std::vector<Cluster> list{{0, bins.size()}};
  ProposeCut(bins, order, list[0]);
  while (list.size() < clusters) {
    size_t best = 0;
    for (size_t c = 1; c < list.size(); ++c)
      if (list[c].gain > list[best].gain) best = c;
    if (!(list[best].gain > 0)) break;
    const Cluster parent = list[best];
    list[best] = {parent.begin, parent.cutAt};
    list.push_back({parent.cutAt, parent.end});
    ProposeCut(bins, order, list[best]);
    ProposeCut(bins, order, list.back());
  }
  std::vector<uint32_t> of(bins.size());
  for (size_t c = 0; c < list.size(); ++c)
    for (size_t k = list[c].begin; k < list[c].end; ++k) of[order[k]] = uint32_t(c);
  return of;
}

uint32_t Stored(uint16_t colourFormat, const std::array<uint8_t, 4>& c) {
  switch (colourFormat) {
    case Palette::kARGB8888:
      return uint32_t(c[3]) << 24 | uint32_t(c[0]) << 16 | uint32_t(c[1]) << 8 | c[2];
    case Palette::kRGB555:
      return TexelCodec::EncodeTexel(Palette::kARGB1555, {c[0], c[1], c[2], 0});
  }
  return TexelCodec::EncodeTexel(colourFormat, {c[0], c[1], c[2], c[3]});
}

}  // namespace

Palette Palette::FromPicture(const Image& picture, uint16_t colourFormat, int indexBits) {
  Palette palette;
  palette.colourFormat = colourFormat;
  const size_t entries = indexBits == 4 ? 16 : 256;
  palette.colours.assign(entries, 0);
  if (colourFormat != kARGB1555 && colourFormat != kRGB565 && colourFormat != kARGB4444 &&
      colourFormat != kRGB555 && colourFormat != kARGB8888)
    return palette;
  const size_t pixels = picture.rgba.size() / 4;
  if (pixels == 0) return palette;

  // Few enough colours, as the format tells them apart: each gets an entry, in the order of
  // their stored values, which no quantiser can beat.
  const bool alpha = HasAlpha(colourFormat);
  std::vector<uint32_t> distinct;
  for (size_t i = 0; i < pixels && distinct.size() <= entries; ++i) {
    const uint8_t* p = &picture.rgba[4 * i];
    const uint32_t stored = Stored(colourFormat, {p[0], p[1], p[2], alpha ? p[3] : uint8_t(255)});
    const auto at = std::lower_bound(distinct.begin(), distinct.end(), stored);
    if (at == distinct.end() || *at != stored) distinct.insert(at, stored);
  }
  if (distinct.size() <= entries) {
    std::copy(distinct.begin(), distinct.end(), palette.colours.begin());
    return palette;
  }

  // The bins the picture fills, in the order of their keys.
  const size_t keys = colourFormat == kARGB8888 ? size_t(1) << 20 : size_t(1) << 16;
  std::vector<uint32_t> binOfKey(keys, 0);
  for (size_t i = 0; i < pixels; ++i) binOfKey[BinOf(colourFormat, &picture.rgba[4 * i])] = 1;
  uint32_t count = 0;
  for (uint32_t& b : binOfKey) b = b != 0 ? ++count : 0;  // 1-based; 0 is no bin
  std::vector<Bin> bins(count);
  for (size_t i = 0; i < pixels; ++i) {
    const uint8_t* p = &picture.rgba[4 * i];
    Bin& bin = bins[binOfKey[BinOf(colourFormat, p)] - 1];
    ++bin.weight;
    for (size_t c = 0; c < 3; ++c) bin.sum[c] += p[c];
    bin.sum[3] += alpha ? p[3] : 255;
  }
  binOfKey = {};

  const Levels levels = LevelsOf(colourFormat);
  std::vector<uint32_t> of = Divide(bins, entries);
  BankColours bank;
  bank.indexBits = indexBits == 4 ? 4 : 8;
  bank.colourFormat = colourFormat;
  std::vector<uint8_t> nearest(bins.size());
  for (int round = 0; round <= kRounds; ++round) {
    // Each colour at the levels nearest its members' mean.
    std::vector<Bin> members(entries);
    for (size_t b = 0; b < bins.size(); ++b) {
      Bin& m = members[of[b]];
      m.weight += bins[b].weight;
      for (size_t c = 0; c < 4; ++c) m.sum[c] += bins[b].sum[c];
    }
    bank.held.reset();
    for (size_t e = 0; e < entries; ++e) {
      if (members[e].weight == 0) continue;
      for (size_t c = 0; c < 4; ++c)
        bank.rgba[4 * e + c] = NearestLevel(levels[c], members[e].sum[c], members[e].weight);
      bank.held.set(e);
    }
    if (round == kRounds) break;
    // Each bin to its nearest colour; a colour no bin chose takes the bin that is farthest
    // from its own, weighed by its pixels.
    ColourMatcher matcher(bank);
    std::vector<double> cost(bins.size());
    bool moved = false;
    for (size_t b = 0; b < bins.size(); ++b) {
      const std::array<uint8_t, 4> mean = bins[b].Mean();
      const uint32_t to = matcher.Nearest(mean.data());
      moved = moved || to != of[b];
      of[b] = to;
      double d = 0;
      for (size_t c = 0; c < 4; ++c) d += std::pow(double(mean[c]) - bank.rgba[4 * to + c], 2);
      cost[b] = d * double(bins[b].weight);
    }
    std::vector<bool> used(entries, false);
    for (uint32_t e : of) used[e] = true;
    for (size_t e = 0; e < entries; ++e) {
      if (used[e]) continue;
      size_t pick = bins.size();
      for (size_t b = 0; b < bins.size(); ++b)
        if (cost[b] > 0 && (pick == bins.size() || cost[b] > cost[pick])) pick = b;
      if (pick == bins.size()) break;
      of[pick] = uint32_t(e);
      cost[pick] = 0;
      used[e] = moved = true;
    }
    if (!moved) round = kRounds - 1;
  }
  for (size_t e = 0; e < entries; ++e)
    if (bank.held[e])
      palette.colours[e] = Stored(colourFormat, {bank.rgba[4 * e], bank.rgba[4 * e + 1],
                                                 bank.rgba[4 * e + 2], bank.rgba[4 * e + 3]});
  return palette;
}
