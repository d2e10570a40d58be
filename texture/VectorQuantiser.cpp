#include "texture/VectorQuantiser.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>
#include <thread>

#include "texture/TexelCodec.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define QUARNEL_VQ_AVX2 1
#endif

namespace VectorQuantiser {
namespace {

constexpr size_t kMaxEntries = 256;

// Rounds of each refinement. Fixed counts (ending sooner only when nothing moves) keep the
// result independent of the machine's speed.
constexpr int kCentroidRounds = 12;
constexpr int kQuantisedRounds = 6;
constexpr int kPowerIterations = 16;

// ---- What a pixel format keeps --------------------------------------------------------
//
// A block is D values: with alpha all 16 bytes of the Block, without it the red, green and
// blue of each texel (12). Dimension d is channel d % C of texel d / C, C being 4 or 3.

struct FormatLevels {
  int dims = 0;
  // Per channel (r, g, b, a), the 8-bit values the format decodes to, ascending.
  std::array<std::vector<uint8_t>, 4> levels;
};

// Learnt from the codec itself, so that this file holds no second copy of the arithmetic.
const FormatLevels& LevelsOf(int pixelFormat) {
  static const std::array<FormatLevels, TexelCodec::kPixelFormats.size()> table = [] {
    std::array<FormatLevels, TexelCodec::kPixelFormats.size()> t;
    for (size_t f = 0; f < t.size(); ++f) {
      std::array<std::array<bool, 256>, 4> seen{};
      for (uint32_t v = 0; v <= 0xFFFF; ++v) {
        const TexelCodec::Rgba c = TexelCodec::DecodeTexel(int(f), uint16_t(v));
        seen[0][c.r] = seen[1][c.g] = seen[2][c.b] = seen[3][c.a] = true;
      }
      for (size_t ch = 0; ch < 4; ++ch)
        for (int value = 0; value < 256; ++value)
          if (seen[ch][value]) t[f].levels[ch].push_back(uint8_t(value));
      t[f].dims = TexelCodec::kPixelFormats[f].AMask != 0 ? 16 : 12;
    }
    return t;
  }();
  return table[size_t(pixelFormat)];
}

constexpr size_t Channel(int dims, size_t d) { return dims == 16 ? d % 4 : d % 3; }
constexpr size_t BlockByte(int dims, size_t d) { return dims == 16 ? d : d / 3 * 4 + d % 3; }

// The level nearest to sum / weight (weight > 0), the lower of two equally near; it is the
// level that minimises the weighted squared error of the values that make up the sum.
uint8_t NearestLevel(const std::vector<uint8_t>& levels, int64_t sum, int64_t weight) {
  const auto above = std::lower_bound(levels.begin(), levels.end(), sum, [weight](uint8_t l, int64_t s) {
    return int64_t(l) * weight < s;
  });
  if (above == levels.begin()) return *above;
  if (above == levels.end()) return levels.back();
  const int64_t up = int64_t(*above) * weight - sum, down = sum - int64_t(*(above - 1)) * weight;
  return down <= up ? *(above - 1) : *above;
}

// ---- Nearest centroid ------------------------------------------------------------------
//
// The centroids lie dimension after dimension, each a row of `padded` floats (a multiple of
// the lane count); padding columns hold kFar, beyond any point. Values are whole numbers
// below 256 once the codebook is quantised, so the float sums are then exact integers and
// agree with NearestEntry; in every case each lane does the same operations in the same
// order whichever path runs, so both paths give the same bits.

constexpr size_t kLanes = 8;
constexpr float kFar = 16384.0f;
using Lanes = float __attribute__((vector_size(kLanes * sizeof(float))));
using Mask = int32_t __attribute__((vector_size(kLanes * sizeof(int32_t))));

struct Centroids {
  int dims = 0;
  size_t count = 0, padded = 0;
  std::vector<float> rows;

  Centroids(int dimensions, size_t n)
      : dims(dimensions), count(n), padded((n + kLanes - 1) / kLanes * kLanes),
        rows(size_t(dimensions) * padded, kFar) {}
  float& At(size_t c, size_t d) { return rows[d * padded + c]; }
};

struct Nearest {
  std::vector<uint8_t> index;
  std::vector<float> distance;
};

template <int D>
[[gnu::always_inline]] inline void NearestBody(const uint8_t* points, size_t first, size_t last,
                                               const float* rows, size_t padded,
                                               uint8_t* index, float* distance) {
  for (size_t i = first; i < last; ++i) {
    Lanes x[D];
    for (int d = 0; d < D; ++d) {
      const float v = points[i * D + d];
      x[d] = Lanes{v, v, v, v, v, v, v, v};
    }
    const float huge = 3.0e38f;
    Lanes best = {huge, huge, huge, huge, huge, huge, huge, huge};
    Lanes bestIndex = {};
    Lanes column = {0, 1, 2, 3, 4, 5, 6, 7};
    const Lanes step = {8, 8, 8, 8, 8, 8, 8, 8};
    for (size_t c = 0; c < padded; c += kLanes) {
      Lanes sum = {};
      for (int d = 0; d < D; ++d) {
        Lanes row;
        std::memcpy(&row, rows + size_t(d) * padded + c, sizeof row);
        const Lanes diff = row - x[d];
        sum += diff * diff;
      }
      // Strictly nearer only, so each lane keeps the lowest column among equals.
      const Mask nearer = sum < best;
      best = Lanes((Mask(sum) & nearer) | (Mask(best) & ~nearer));
      bestIndex = Lanes((Mask(column) & nearer) | (Mask(bestIndex) & ~nearer));
      column += step;
    }
    float d = best[0], k = bestIndex[0];
    for (size_t l = 1; l < kLanes; ++l)
      if (best[l] < d || (best[l] == d && bestIndex[l] < k)) d = best[l], k = bestIndex[l];
    index[i] = uint8_t(k);
    distance[i] = d;
  }
}

template <int D>
void NearestPlain(const uint8_t* points, size_t first, size_t last, const float* rows,
                  size_t padded, uint8_t* index, float* distance) {
  NearestBody<D>(points, first, last, rows, padded, index, distance);
}

#ifdef QUARNEL_VQ_AVX2
template <int D>
__attribute__((target("avx2"))) void NearestAvx2(const uint8_t* points, size_t first,
                                                 size_t last, const float* rows, size_t padded,
                                                 uint8_t* index, float* distance) {
  NearestBody<D>(points, first, last, rows, padded, index, distance);
}

bool HasAvx2() {
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
  }();
  return has;
}
#endif

// Below this many points a second thread costs more than it saves.
constexpr size_t kPointsPerThread = 4096;

// Every point's nearest centroid and its squared distance. The points are split between
// threads, each writing only its own range, so the result is the same for any count.
template <int D>
void FindNearest(const std::vector<uint8_t>& points, const Centroids& centroids, Nearest& out) {
  const size_t n = points.size() / D;
  out.index.resize(n);
  out.distance.resize(n);
  auto run = &NearestPlain<D>;
#ifdef QUARNEL_VQ_AVX2
  if (HasAvx2()) run = &NearestAvx2<D>;
#endif
  const size_t hardware = std::max<size_t>(1, std::thread::hardware_concurrency());
  const size_t threads = std::min(hardware, std::max<size_t>(1, n / kPointsPerThread));
  const auto part = [&](size_t t) {
    run(points.data(), n * t / threads, n * (t + 1) / threads, centroids.rows.data(),
        centroids.padded, out.index.data(), out.distance.data());
  };
  std::vector<std::thread> helpers;
  for (size_t t = 1; t < threads; ++t) helpers.emplace_back(part, t);
  part(0);
  for (std::thread& h : helpers) h.join();
}

// ---- Clusters --------------------------------------------------------------------------

// Weighted sums of the points in each cluster, exact in integers.
struct Sums {
  int dims;
  std::vector<int64_t> weight, sum;  // per cluster; per cluster and dimension

  Sums(int dimensions, size_t clusters)
      : dims(dimensions), weight(clusters, 0), sum(clusters * size_t(dimensions), 0) {}
};

Sums Accumulate(int dims, size_t clusters, const std::vector<uint8_t>& points,
                const std::vector<uint32_t>& weights, const std::vector<uint8_t>& index) {
  Sums s(dims, clusters);
  for (size_t i = 0; i < weights.size(); ++i) {
    const size_t c = index[i];
    s.weight[c] += weights[i];
    int64_t* sum = &s.sum[c * size_t(dims)];
    for (int d = 0; d < dims; ++d) sum[d] += int64_t(weights[i]) * points[i * size_t(dims) + d];
  }
  return s;
}

// The deduplicated picture: D values a point, how many blocks each stands for, and which
// point each block became.
struct Points {
  std::vector<uint8_t> values;
  std::vector<uint32_t> weight;
  std::vector<uint32_t> ofBlock;
  size_t Count() const { return weight.size(); }
};

template <int D>
Points Deduplicate(std::span<const Block> blocks) {
  std::vector<uint8_t> keys(blocks.size() * D);
  for (size_t i = 0; i < blocks.size(); ++i)
    for (size_t d = 0; d < D; ++d) keys[i * D + d] = blocks[i][BlockByte(D, d)];
  std::vector<uint32_t> order(blocks.size());
  std::iota(order.begin(), order.end(), 0u);
  std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
    const int c = std::memcmp(&keys[a * D], &keys[b * D], D);
    return c != 0 ? c < 0 : a < b;
  });
  Points p;
  p.ofBlock.resize(blocks.size());
  for (size_t i = 0; i < order.size(); ++i) {
    const uint8_t* key = &keys[size_t(order[i]) * D];
    if (i == 0 || std::memcmp(key, &keys[size_t(order[i - 1]) * D], D) != 0) {
      p.values.insert(p.values.end(), key, key + D);
      p.weight.push_back(0);
    }
    ++p.weight.back();
    p.ofBlock[order[i]] = uint32_t(p.weight.size() - 1);
  }
  return p;
}

// Integer moments of a set of points: enough for its mean and its squared error.
template <int D>
struct Moments {
  int64_t weight = 0, squares = 0;
  int64_t sum[D] = {};

  void Add(const uint8_t* x, int64_t w) {
    weight += w;
    for (int d = 0; d < D; ++d) sum[d] += w * x[d], squares += w * x[d] * x[d];
  }
  // Summed squared distance of the points from their mean.
  double Error() const {
    if (weight == 0) return 0;
    double kept = 0;
    for (int d = 0; d < D; ++d) kept += double(sum[d]) * double(sum[d]);
    return double(squares) - kept / double(weight);
  }
};

// First codebook by division: starting from one cluster, the cluster whose best cut lowers
// the error most is cut in two, until there are `clusters` or no cut helps. A cluster's
// cut is found when the cluster is made: across its principal axis, where the two halves'
// errors sum least.
template <int D>
class Divider {
 public:
  explicit Divider(const Points& p) : p_(p), order_(p.Count()) {
    std::iota(order_.begin(), order_.end(), 0u);
  }

  std::vector<uint8_t> Divide(size_t clusters) {
    Range all{0, order_.size()};
    all.error = MomentsOf(0, order_.size()).Error();
    Propose(all);
    ranges_.assign(1, all);
    while (ranges_.size() < clusters) {
      size_t best = 0;
      for (size_t r = 1; r < ranges_.size(); ++r)
        if (ranges_[r].gain > ranges_[best].gain) best = r;
      if (!(ranges_[best].gain > 0)) break;
      const Range parent = ranges_[best];
      Range left{parent.begin, parent.cut}, right{parent.cut, parent.end};
      left.error = parent.leftError;
      right.error = parent.rightError;
      Propose(left);
      Propose(right);
      ranges_[best] = left;
      ranges_.push_back(right);
    }
    std::vector<uint8_t> cluster(order_.size());
    for (size_t r = 0; r < ranges_.size(); ++r)
      for (size_t k = ranges_[r].begin; k < ranges_[r].end; ++k) cluster[order_[k]] = uint8_t(r);
    return cluster;
  }

 private:
  struct Range {
    size_t begin, end;
    double error = 0;
    size_t cut = 0;  // the proposed halves are [begin, cut) and [cut, end) of order_
    double leftError = 0, rightError = 0, gain = 0;
  };

  const uint8_t* At(size_t k) const { return &p_.values[size_t(order_[k]) * D]; }
  int64_t WeightAt(size_t k) const { return p_.weight[order_[k]]; }

  Moments<D> MomentsOf(size_t begin, size_t end) const {
    Moments<D> m;
    for (size_t k = begin; k < end; ++k) m.Add(At(k), WeightAt(k));
    return m;
  }

  // The principal axis of the range's points, by power iteration on their covariance.
  void PrincipalAxis(const Range& r, double axis[D]) const {
    int64_t w = 0, s[D] = {}, m[D][D] = {};
    for (size_t k = r.begin; k < r.end; ++k) {
      const uint8_t* x = At(k);
      const int64_t wk = WeightAt(k);
      w += wk;
      for (int i = 0; i < D; ++i) {
        s[i] += wk * x[i];
        for (int j = i; j < D; ++j) m[i][j] += wk * x[i] * x[j];
      }
    }
    double cov[D][D];
    for (int i = 0; i < D; ++i)
      for (int j = i; j < D; ++j)
        cov[i][j] = cov[j][i] = double(m[i][j]) - double(s[i]) * double(s[j]) / double(w);
    int start = 0;
    for (int i = 1; i < D; ++i)
      if (cov[i][i] > cov[start][start]) start = i;
    for (int i = 0; i < D; ++i) axis[i] = cov[i][start];
    for (int it = 0; it < kPowerIterations; ++it) {
      double next[D] = {}, norm = 0;
      for (int i = 0; i < D; ++i) {
        for (int j = 0; j < D; ++j) next[i] += cov[i][j] * axis[j];
        norm = std::max(norm, std::abs(next[i]));
      }
      if (!(norm > 0)) break;
      for (int i = 0; i < D; ++i) axis[i] = next[i] / norm;
    }
  }

  void Propose(Range& r) {
    r.gain = 0;
    if (r.end - r.begin < 2 || !(r.error > 0)) return;
    double axis[D];
    PrincipalAxis(r, axis);
    keyed_.clear();
    for (size_t k = r.begin; k < r.end; ++k) {
      double t = 0;
      for (int d = 0; d < D; ++d) t += axis[d] * At(k)[d];
      keyed_.emplace_back(t, order_[k]);
    }
    std::sort(keyed_.begin(), keyed_.end());
    for (size_t k = r.begin; k < r.end; ++k) order_[k] = keyed_[k - r.begin].second;

    // The cut along the axis that leaves the least error.
    const Moments<D> all = MomentsOf(r.begin, r.end);
    Moments<D> left;
    double best = 0;
    for (size_t k = r.begin; k + 1 < r.end; ++k) {
      left.Add(At(k), WeightAt(k));
      Moments<D> right = all;
      right.weight -= left.weight, right.squares -= left.squares;
      for (int d = 0; d < D; ++d) right.sum[d] -= left.sum[d];
      const double error = left.Error() + right.Error();
      if (k == r.begin || error < best) best = error, r.cut = k + 1;
    }

    r.leftError = MomentsOf(r.begin, r.cut).Error();
    r.rightError = MomentsOf(r.cut, r.end).Error();
    r.gain = r.error - r.leftError - r.rightError;
  }

  const Points& p_;
  std::vector<uint32_t> order_;
  std::vector<Range> ranges_;
  std::vector<std::pair<double, uint32_t>> keyed_;
};

// Whether so few points changed cluster (one in a thousand) that another round would not
// pay for itself.
bool Settled(const std::vector<uint8_t>& before, const std::vector<uint8_t>& after) {
  size_t changed = 0;
  for (size_t i = 0; i < after.size(); ++i) changed += before[i] != after[i];
  return changed * 1000 <= after.size();
}

// Points that lost their cluster's every member are given the point that costs the most,
// one different point per empty cluster. Returns whether any cluster was empty.
bool ReseedEmpty(const Sums& sums, const std::vector<uint32_t>& weights,
                 const std::vector<double>& cost, std::vector<uint8_t>& index,
                 std::vector<size_t>& reseeded) {
  reseeded.clear();
  std::vector<bool> taken(weights.size(), false);
  for (size_t c = 0; c < sums.weight.size(); ++c) {
    if (sums.weight[c] != 0) continue;
    size_t pick = weights.size();
    for (size_t i = 0; i < weights.size(); ++i)
      if (!taken[i] && cost[i] > 0 && (pick == weights.size() || cost[i] > cost[pick])) pick = i;
    if (pick == weights.size()) break;
    taken[pick] = true;
    index[pick] = uint8_t(c);
    reseeded.push_back(pick);
  }
  return !reseeded.empty();
}

template <int D>
Result QuantiseIn(std::span<const Block> blocks, int pixelFormat, size_t entries) {
  const FormatLevels& format = LevelsOf(pixelFormat);
  const Points p = Deduplicate<D>(blocks);
  const size_t n = p.Count();

  // Each point at its own nearest levels, the least error it can have.
  std::vector<uint8_t> own(p.values.size());
  std::vector<double> ownError(n, 0);
  for (size_t i = 0; i < n; ++i)
    for (size_t d = 0; d < D; ++d) {
      own[i * D + d] = NearestLevel(format.levels[Channel(D, d)], p.values[i * D + d], 1);
      const int e = int(own[i * D + d]) - int(p.values[i * D + d]);
      ownError[i] += double(e * e);
    }

  std::vector<uint8_t> codebook(entries * D, 0);  // decoded values, entry after entry
  Nearest nearest;
  std::vector<uint8_t> index;

  // Few enough distinct quantised blocks: each gets an entry, which no codebook can beat.
  std::vector<uint32_t> byOwn(n);
  std::iota(byOwn.begin(), byOwn.end(), 0u);
  std::sort(byOwn.begin(), byOwn.end(), [&](uint32_t a, uint32_t b) {
    const int c = std::memcmp(&own[a * D], &own[b * D], D);
    return c != 0 ? c < 0 : a < b;
  });
  size_t distinctOwn = 0;
  for (size_t k = 0; k < n && distinctOwn <= entries; ++k)
    if (k == 0 || std::memcmp(&own[byOwn[k] * D], &own[byOwn[k - 1] * D], D) != 0) {
      if (distinctOwn < entries)
        std::memcpy(&codebook[distinctOwn * D], &own[byOwn[k] * D], D);
      ++distinctOwn;
    }

  if (distinctOwn > entries) {
    // Lloyd's iterations on unquantised centroids, from the split clusters.
    index = Divider<D>(p).Divide(entries);
    Centroids centroids(D, entries);
    std::vector<size_t> reseeded;
    std::vector<double> cost(n);
    Sums sums = Accumulate(D, entries, p.values, p.weight, index);
    for (int round = 0;; ++round) {
      for (size_t c = 0; c < entries; ++c)
        for (size_t d = 0; d < D; ++d)
          centroids.At(c, d) = sums.weight[c] == 0
                                   ? kFar
                                   : float(double(sums.sum[c * D + d]) / double(sums.weight[c]));
      if (round == kCentroidRounds) break;
      FindNearest<D>(p.values, centroids, nearest);
      const bool moved = !Settled(index, nearest.index);
      index = nearest.index;
      sums = Accumulate(D, entries, p.values, p.weight, index);
      for (size_t i = 0; i < n; ++i) cost[i] = double(nearest.distance[i]) * p.weight[i];
      if (ReseedEmpty(sums, p.weight, cost, index, reseeded))
        sums = Accumulate(D, entries, p.values, p.weight, index);
      else if (!moved)
        break;
    }

    // The same in quantised space: each entry at the levels nearest its members' mean, then
    // every point to its nearest quantised entry.
    for (int round = 0; round < kQuantisedRounds; ++round) {
      for (size_t c = 0; c < entries; ++c)
        if (sums.weight[c] != 0)
          for (size_t d = 0; d < D; ++d)
            codebook[c * D + d] =
                NearestLevel(format.levels[Channel(D, d)], sums.sum[c * D + d], sums.weight[c]);
      Centroids quantised(D, entries);
      for (size_t c = 0; c < entries; ++c)
        for (size_t d = 0; d < D; ++d) quantised.At(c, d) = codebook[c * D + d];
      FindNearest<D>(p.values, quantised, nearest);
      const bool moved = !Settled(index, nearest.index);
      index = nearest.index;
      sums = Accumulate(D, entries, p.values, p.weight, index);
      // An empty entry takes the point that would gain most from having its own levels.
      for (size_t i = 0; i < n; ++i)
        cost[i] = (double(nearest.distance[i]) - ownError[i]) * p.weight[i];
      if (ReseedEmpty(sums, p.weight, cost, index, reseeded)) {
        for (size_t i : reseeded) std::memcpy(&codebook[index[i] * D], &own[i * D], D);
        sums = Accumulate(D, entries, p.values, p.weight, index);
      } else if (!moved) {
        break;
      }
    }
    for (size_t c = 0; c < entries; ++c)
      if (sums.weight[c] != 0)
        for (size_t d = 0; d < D; ++d)
          codebook[c * D + d] =
              NearestLevel(format.levels[Channel(D, d)], sums.sum[c * D + d], sums.weight[c]);
  }

  // Every point to its nearest entry of the codebook as returned, so the indices are what
  // NearestEntry gives; entries nothing chose are cleared and the points looked at again.
  for (int pass = 0; pass < 2; ++pass) {
    Centroids finalEntries(D, entries);
    for (size_t c = 0; c < entries; ++c)
      for (size_t d = 0; d < D; ++d) finalEntries.At(c, d) = codebook[c * D + d];
    FindNearest<D>(p.values, finalEntries, nearest);
    std::vector<bool> used(entries, false);
    for (uint8_t c : nearest.index) used[c] = true;
    bool cleared = false;
    for (size_t c = 0; c < entries; ++c)
      if (!used[c] && std::any_of(&codebook[c * D], &codebook[c * D] + D, [](uint8_t v) { return v != 0; })) {
        std::fill(&codebook[c * D], &codebook[c * D] + D, uint8_t(0));
        cleared = true;
      }
    if (!cleared) break;
  }

  Result result;
  result.codebook.texels.resize(entries * 4);
  for (size_t c = 0; c < entries; ++c)
    for (size_t t = 0; t < 4; ++t) {
      const uint8_t* v = &codebook[c * D + t * (D / 4)];
      const TexelCodec::Rgba pixel{v[0], v[1], v[2], D == 16 ? v[3] : uint8_t(0)};
      result.codebook.texels[c * 4 + t] = TexelCodec::EncodeTexel(pixelFormat, pixel);
    }
  result.indices.resize(blocks.size());
  for (size_t b = 0; b < blocks.size(); ++b) result.indices[b] = nearest.index[p.ofBlock[b]];
  return result;
}

}  // namespace

Result Quantise(std::span<const Block> blocks, int pixelFormat, size_t entries) {
  if (pixelFormat < 0 || size_t(pixelFormat) >= TexelCodec::kPixelFormats.size()) return {};
  entries = std::clamp<size_t>(entries, 1, kMaxEntries);
  if (blocks.empty()) {
    Result r;
    r.codebook.texels.assign(entries * 4, 0);
    return r;
  }
  return LevelsOf(pixelFormat).dims == 16 ? QuantiseIn<16>(blocks, pixelFormat, entries)
                                          : QuantiseIn<12>(blocks, pixelFormat, entries);
}

uint8_t NearestEntry(const Codebook& codebook, int pixelFormat, const Block& block) {
  if (pixelFormat < 0 || size_t(pixelFormat) >= TexelCodec::kPixelFormats.size()) return 0;
  const int dims = LevelsOf(pixelFormat).dims;
  const size_t entries = std::min(codebook.Entries(), kMaxEntries);
  uint8_t best = 0;
  int64_t bestDistance = -1;
  for (size_t c = 0; c < entries; ++c) {
    int64_t distance = 0;
    for (size_t t = 0; t < 4; ++t) {
      const TexelCodec::Rgba v = TexelCodec::DecodeTexel(pixelFormat, codebook.texels[c * 4 + t]);
      const uint8_t decoded[4] = {v.r, v.g, v.b, v.a};
      for (int ch = 0; ch < dims / 4; ++ch) {
        const int e = int(decoded[ch]) - int(block[t * 4 + ch]);
        distance += e * e;
      }
    }
    if (bestDistance < 0 || distance < bestDistance) bestDistance = distance, best = uint8_t(c);
  }
  return best;
}

}  // namespace VectorQuantiser
