#include "texture/VectorQuantiser.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <numeric>
#include <system_error>
#include <thread>

#include "texture/TexelCodec.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define QUARNEL_VQ_AVX2 1
#endif

namespace VectorQuantiser {
namespace {

constexpr size_t kMaxEntries = 256;

// Rounds of each refinement: fixed counts, ending sooner only when almost nothing moves, so
// that the result does not depend on the machine's speed.
constexpr int kCentroidRounds = 12;
constexpr int kQuantisedRounds = 6;
constexpr int kPowerIterations = 16;
constexpr size_t kAxisSample = 8192;
// Every kShiftEvery-th round of Lloyd's, up to kShiftAttempts entries may move elsewhere.
constexpr int kShiftEvery = 4;
constexpr size_t kShiftAttempts = 64;

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
      if (TexelCodec::kTexels[f] != TexelCodec::Texels::Fields) continue;  // never quantised
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
  const auto above =
      std::lower_bound(levels.begin(), levels.end(), sum,
                       [weight](uint8_t l, int64_t s) { return int64_t(l) * weight < s; });
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
      : dims(dimensions),
        count(n),
        padded((n + kLanes - 1) / kLanes * kLanes),
        rows(size_t(dimensions) * padded, kFar) {}
  float& At(size_t c, size_t d) { return rows[d * padded + c]; }
};

struct Nearest {
  std::vector<uint8_t> index;
  std::vector<float> distance;
};

// Two points a pass share each load of the centroids; an odd last point goes with itself.
template <int D>
[[gnu::always_inline]] inline void NearestBody(const uint8_t* points, size_t first, size_t last,
                                               const float* rows, size_t padded, uint8_t* index,
                                               float* distance) {
  for (size_t i = first; i < last; i += 2) {
    const size_t j = i + 1 < last ? i + 1 : i;
    Lanes x[D], y[D];
    for (int d = 0; d < D; ++d) {
      const float u = points[i * D + d], v = points[j * D + d];
      x[d] = Lanes{u, u, u, u, u, u, u, u};
      y[d] = Lanes{v, v, v, v, v, v, v, v};
    }
    const float huge = 3.0e38f;
    Lanes bestX = {huge, huge, huge, huge, huge, huge, huge, huge}, bestY = bestX;
    Lanes indexX = {}, indexY = {};
    Lanes column = {0, 1, 2, 3, 4, 5, 6, 7};
    const Lanes step = {8, 8, 8, 8, 8, 8, 8, 8};
    for (size_t c = 0; c < padded; c += kLanes) {
      Lanes sumX = {}, sumY = {};
      for (int d = 0; d < D; ++d) {
        Lanes row;
        std::memcpy(&row, rows + size_t(d) * padded + c, sizeof row);
        const Lanes dx = row - x[d], dy = row - y[d];
        sumX += dx * dx;
        sumY += dy * dy;
      }
      // Strictly nearer only, so each lane keeps the lowest column among equals.
      const Mask nearerX = sumX < bestX, nearerY = sumY < bestY;
      bestX = Lanes((Mask(sumX) & nearerX) | (Mask(bestX) & ~nearerX));
      indexX = Lanes((Mask(column) & nearerX) | (Mask(indexX) & ~nearerX));
      bestY = Lanes((Mask(sumY) & nearerY) | (Mask(bestY) & ~nearerY));
      indexY = Lanes((Mask(column) & nearerY) | (Mask(indexY) & ~nearerY));
      column += step;
    }
    const auto reduce = [&](const Lanes& best, const Lanes& at, size_t point) {
      float d = best[0], k = at[0];
      for (size_t l = 1; l < kLanes; ++l)
        if (best[l] < d || (best[l] == d && at[l] < k)) d = best[l], k = at[l];
      index[point] = uint8_t(k);
      distance[point] = d;
    };
    reduce(bestX, indexX, i);
    reduce(bestY, indexY, j);
  }
}

template <int D>
void NearestPlain(const uint8_t* points, size_t first, size_t last, const float* rows,
                  size_t padded, uint8_t* index, float* distance) {
  NearestBody<D>(points, first, last, rows, padded, index, distance);
}

#ifdef QUARNEL_VQ_AVX2
template <int D>
__attribute__((target("avx2"))) void NearestAvx2(const uint8_t* points, size_t first, size_t last,
                                                 const float* rows, size_t padded, uint8_t* index,
                                                 float* distance) {
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

std::atomic<bool> g_allowVectorUnit{true};

// Below this many points a second thread costs more than it saves; a point weighs more
// when an entry may move, since it is measured against every mean.
constexpr size_t kPointsPerThread = 4096;
constexpr size_t kShiftPointsPerThread = 256;

size_t Cores() { return std::max<size_t>(1, std::thread::hardware_concurrency()); }

// Runs part(0) .. part(parts - 1): part 0 on this thread, each other on a thread of its own.
// The parts must write apart, so the result does not depend on how they were run.
template <typename Part>
void InParallel(size_t parts, const Part& part) {
  std::vector<std::thread> helpers;
  for (size_t t = 1; t < parts; ++t) {
    try {
      helpers.emplace_back(part, t);
    } catch (const std::system_error&) {
      part(t);  // no thread to be had: this one does the part itself
    }
  }
  part(0);
  for (std::thread& h : helpers) h.join();
}

// Every point's nearest centroid and its squared distance. The points are split between
// threads, each writing only its own range, so the result is the same for any count.
template <int D>
void FindNearest(const std::vector<uint8_t>& points, const Centroids& centroids, Nearest& out) {
  const size_t n = points.size() / D;
  out.index.resize(n);
  out.distance.resize(n);
  auto run = &NearestPlain<D>;
#ifdef QUARNEL_VQ_AVX2
  if (g_allowVectorUnit && HasAvx2()) run = &NearestAvx2<D>;
#endif
  const size_t threads = std::min(Cores(), std::max<size_t>(1, n / kPointsPerThread));
  InParallel(threads, [&](size_t t) {
    run(points.data(), n * t / threads, n * (t + 1) / threads, centroids.rows.data(),
        centroids.padded, out.index.data(), out.distance.data());
  });
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
    const int c = std::memcmp(&keys[size_t(a) * D], &keys[size_t(b) * D], D);
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
  // The moments of the points these hold and `part` does not.
  Moments Without(const Moments& part) const {
    Moments rest = *this;
    rest.weight -= part.weight, rest.squares -= part.squares;
    for (int d = 0; d < D; ++d) rest.sum[d] -= part.sum[d];
    return rest;
  }
  // Summed squared distance of the points from their mean.
  double Error() const {
    if (weight == 0) return 0;
    double kept = 0;
    for (int d = 0; d < D; ++d) kept += double(sum[d]) * double(sum[d]);
    return double(squares) - kept / double(weight);
  }
};

template <int D>
Moments<D> MomentsOf(const Points& p, const uint32_t* first, const uint32_t* last) {
  Moments<D> m;
  for (const uint32_t* i = first; i != last; ++i) m.Add(&p.values[size_t(*i) * D], p.weight[*i]);
  return m;
}

// Points being cut, laid out one after another: D values each, and each one's weight and
// id. Cutting reads them many times over, so they move with their ids rather than being
// looked up by them all over the picture.
template <int D>
struct Run {
  uint8_t* values;
  uint32_t* weight;
  uint32_t* id;
  size_t n;

  const uint8_t* Values(size_t k) const { return values + k * D; }
  Run Part(size_t begin, size_t end) const {
    return {values + begin * D, weight + begin, id + begin, end - begin};
  }
  Moments<D> MomentsOf() const {
    Moments<D> m;
    for (size_t k = 0; k < n; ++k) m.Add(Values(k), weight[k]);
    return m;
  }
};

// The principal axis of the points, by power iteration on their covariance. Of many points
// every few thousandth is enough to find it.
template <int D>
void PrincipalAxis(const Run<D>& run, double axis[D]) {
  int64_t w = 0, s[D] = {}, m[D][D] = {};
  const size_t stride = std::max<size_t>(1, run.n / kAxisSample);
  for (size_t k = 0; k < run.n; k += stride) {
    const uint8_t* x = run.Values(k);
    const int64_t wk = run.weight[k];
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

template <int D>
struct Cut {
  size_t at = 0;  // the first half's size
  Moments<D> first, second;
};

// What a cut works in, kept from one cut to the next.
struct CutScratch {
  struct Keyed {
    double t;  // along the axis
    uint32_t id, at;
    bool operator<(const Keyed& o) const { return t != o.t ? t < o.t : id < o.id; }
  };
  std::vector<Keyed> keyed;
  std::vector<uint8_t> values;
  std::vector<uint32_t> weight;
};

// Cuts a run of two or more points, whose moments are `all`, in two across their principal
// axis, where the two halves' errors sum least: reorders the run so that its first `at`
// points are one half.
template <int D>
Cut<D> CutAcrossAxis(const Run<D>& run, const Moments<D>& all, CutScratch& scratch) {
  double axis[D];
  PrincipalAxis<D>(run, axis);
  const size_t n = run.n;
  scratch.keyed.resize(n);
  for (size_t k = 0; k < n; ++k) {
    const uint8_t* x = run.Values(k);
    double t = 0;
    for (int d = 0; d < D; ++d) t += axis[d] * x[d];
    scratch.keyed[k] = {t, run.id[k], uint32_t(k)};
  }
  std::sort(scratch.keyed.begin(), scratch.keyed.end());
  scratch.values.assign(run.values, run.values + n * D);
  scratch.weight.assign(run.weight, run.weight + n);
  for (size_t k = 0; k < n; ++k) {
    const CutScratch::Keyed& from = scratch.keyed[k];
    std::memcpy(run.values + k * D, &scratch.values[size_t(from.at) * D], D);
    run.weight[k] = scratch.weight[from.at];
    run.id[k] = from.id;
  }

  // The halves' errors sum least where |S1|^2 / W1 + |S2|^2 / W2 is largest (S the sums of
  // a half's points, W its weight), since the squares of the points do not change.
  int64_t leftWeight = 0, leftSum[D] = {};
  Cut<D> cut;
  double best = -1;
  for (size_t k = 0; k + 1 < n; ++k) {
    const uint8_t* x = run.Values(k);
    const int64_t w = run.weight[k];
    leftWeight += w;
    double left = 0, right = 0;
    for (int d = 0; d < D; ++d) {
      leftSum[d] += w * x[d];
      const double a = double(leftSum[d]), b = double(all.sum[d] - leftSum[d]);
      left += a * a, right += b * b;
    }
    const double kept = left / double(leftWeight) + right / double(all.weight - leftWeight);
    if (kept > best) best = kept, cut.at = k + 1;
  }
  cut.first = run.Part(0, cut.at).MomentsOf();
  cut.second = all.Without(cut.first);
  return cut;
}

// First codebook by division: starting from one cluster, the cluster whose best cut lowers
// the error most is cut in two, until there are `clusters` or no cut helps. A cluster's
// cut is found when the cluster is made. Returns each point's cluster.
template <int D>
std::vector<uint8_t> Divide(const Points& p, size_t clusters) {
  struct Range {
    size_t begin, end;
    Moments<D> moments;
    Cut<D> cut;
    double gain = 0;
  };
  std::vector<uint32_t> order(p.Count());
  std::iota(order.begin(), order.end(), 0u);
  std::vector<uint8_t> values = p.values;
  std::vector<uint32_t> weight = p.weight;
  const Run<D> run{values.data(), weight.data(), order.data(), order.size()};
  CutScratch scratch[2];  // one per half being cut
  const auto propose = [&](Range& r, CutScratch& s) {
    r.gain = 0;
    const double error = r.moments.Error();
    if (r.end - r.begin < 2 || !(error > 0)) return;
    r.cut = CutAcrossAxis<D>(run.Part(r.begin, r.end), r.moments, s);
    r.gain = error - r.cut.first.Error() - r.cut.second.Error();
  };
  std::vector<Range> ranges{{0, order.size(), run.MomentsOf(), {}}};
  propose(ranges[0], scratch[0]);
  while (ranges.size() < clusters) {
    size_t best = 0;
    for (size_t r = 1; r < ranges.size(); ++r)
      if (ranges[r].gain > ranges[best].gain) best = r;
    if (!(ranges[best].gain > 0)) break;
    const Range parent = ranges[best];
    const size_t middle = parent.begin + parent.cut.at;
    ranges[best] = {parent.begin, middle, parent.cut.first, {}};
    ranges.push_back({middle, parent.end, parent.cut.second, {}});
    // Each half is cut in its own part of the run: on two cores at once when both are big.
    Range* const halves[2] = {&ranges[best], &ranges.back()};
    const bool big = std::min(middle - parent.begin, parent.end - middle) >= kPointsPerThread;
    const size_t parts = big ? std::min<size_t>(2, Cores()) : 1;
    InParallel(parts, [&](size_t t) {
      for (size_t h = t; h < 2; h += parts) propose(*halves[h], scratch[h]);
    });
  }
  std::vector<uint8_t> cluster(order.size());
  for (size_t r = 0; r < ranges.size(); ++r)
    for (size_t k = ranges[r].begin; k < ranges[r].end; ++k) cluster[order[k]] = uint8_t(r);
  return cluster;
}

// Moves entries that do little to where they would do more: the cluster that costs least
// to lose (an empty one costs nothing) gives its points to their nearest other clusters
// and takes half of the cluster with the largest error, cut across its principal axis,
// whenever that lowers the error. The loss is counted with the receiving means unmoved,
// which can only overstate it.
template <int D>
void ShiftEntries(const Points& p, size_t entries, std::vector<uint8_t>& index) {
  std::vector<std::vector<uint32_t>> members(entries);
  for (size_t i = 0; i < index.size(); ++i) members[index[i]].push_back(uint32_t(i));
  std::vector<Moments<D>> moments(entries);
  // The means dimension after dimension, in rows of `padded`, so that a point's distances to
  // sixteen means at a time are worked out side by side, each summed over the dimensions in
  // order.
  constexpr size_t kSideBySide = 16;
  const size_t padded = (entries + kSideBySide - 1) / kSideBySide * kSideBySide;
  std::vector<double> error(entries), mean(D * padded, 0.0);
  const auto update = [&](size_t c) {
    moments[c] = MomentsOf<D>(p, members[c].data(), members[c].data() + members[c].size());
    error[c] = moments[c].Error();
    for (size_t d = 0; d < D; ++d)
      mean[d * padded + c] =
          moments[c].weight == 0 ? 0 : double(moments[c].sum[d]) / double(moments[c].weight);
  };
  for (size_t c = 0; c < entries; ++c) update(c);
  const auto distancesFrom = [&](const uint8_t* x, std::vector<double>& distances) {
    distances.resize(padded);
    for (size_t first = 0; first < padded; first += kSideBySide) {
      double sum[kSideBySide] = {};
      for (size_t d = 0; d < D; ++d) {
        const double v = x[d];
        const double* m = &mean[d * padded + first];
        for (size_t k = 0; k < kSideBySide; ++k) sum[k] += (v - m[k]) * (v - m[k]);
      }
      std::copy(sum, sum + kSideBySide, &distances[first]);
    }
  };

  std::vector<bool> tried(entries, false);
  CutScratch scratch;
  std::vector<uint8_t> to, open(entries), splitValues;
  std::vector<double> costs, distances[2];
  std::vector<uint32_t> splitWeight;
  for (size_t attempt = 0; attempt < kShiftAttempts; ++attempt) {
    size_t high = entries, low = entries;
    for (size_t c = 0; c < entries; ++c)
      if (members[c].size() >= 2 && (high == entries || error[c] > error[high])) high = c;
    if (high == entries || !(error[high] > 0)) break;
    for (size_t c = 0; c < entries; ++c)
      if (c != high && !tried[c] && (low == entries || error[c] < error[low])) low = c;
    if (low == entries) break;
    tried[low] = true;

    // Where each point of the cluster given up would go and what that costs, on two cores
    // for a big cluster; the costs are added up in order.
    const std::vector<uint32_t>& leaving = members[low];
    for (size_t c = 0; c < entries; ++c) open[c] = c != low && c != high && !members[c].empty();
    if (!leaving.empty() && std::find(open.begin(), open.end(), 1) == open.end()) continue;
    to.resize(leaving.size());
    costs.resize(leaving.size());
    const size_t parts = leaving.size() >= kShiftPointsPerThread ? std::min<size_t>(2, Cores()) : 1;
    InParallel(parts, [&](size_t t) {
      for (size_t k = leaving.size() * t / parts; k < leaving.size() * (t + 1) / parts; ++k) {
        distancesFrom(&p.values[size_t(leaving[k]) * D], distances[t]);
        const std::vector<double>& distance = distances[t];
        size_t nearest = entries;
        double best = 0;
        for (size_t c = 0; c < entries; ++c)
          if (open[c] && (nearest == entries || distance[c] < best)) best = distance[c], nearest = c;
        to[k] = uint8_t(nearest);
        costs[k] = (best - distance[low]) * p.weight[leaving[k]];
      }
    });
    double loss = 0;
    for (double cost : costs) loss += cost;
    std::vector<uint32_t>& split = members[high];
    splitValues.resize(split.size() * D);
    splitWeight.resize(split.size());
    for (size_t k = 0; k < split.size(); ++k) {
      std::memcpy(&splitValues[k * D], &p.values[size_t(split[k]) * D], D);
      splitWeight[k] = p.weight[split[k]];
    }
    const Cut<D> cut = CutAcrossAxis<D>(
        {splitValues.data(), splitWeight.data(), split.data(), split.size()}, moments[high], scratch);
    if (!(error[high] - cut.first.Error() - cut.second.Error() > loss)) continue;

    std::vector<size_t> changed{low, high};
    for (size_t k = 0; k < to.size(); ++k) {
      members[to[k]].push_back(members[low][k]);
      index[members[low][k]] = to[k];
      changed.push_back(to[k]);
    }
    members[low].assign(split.begin() + ptrdiff_t(cut.at), split.end());
    split.resize(cut.at);
    for (uint32_t i : members[low]) index[i] = uint8_t(low);
    std::sort(changed.begin(), changed.end());
    changed.erase(std::unique(changed.begin(), changed.end()), changed.end());
    for (size_t c : changed) update(c);
    std::fill(tried.begin(), tried.end(), false);
  }
}

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
    const int c = std::memcmp(&own[size_t(a) * D], &own[size_t(b) * D], D);
    return c != 0 ? c < 0 : a < b;
  });
  size_t distinctOwn = 0;
  for (size_t k = 0; k < n && distinctOwn <= entries; ++k)
    if (k == 0 || std::memcmp(&own[size_t(byOwn[k]) * D], &own[size_t(byOwn[k - 1]) * D], D) != 0) {
      if (distinctOwn < entries)
        std::memcpy(&codebook[distinctOwn * D], &own[size_t(byOwn[k]) * D], D);
      ++distinctOwn;
    }

  if (distinctOwn > entries) {
    std::fill(codebook.begin(), codebook.end(), uint8_t(0));
    // Lloyd's iterations on unquantised centroids, from the split clusters.
    index = Divide<D>(p, entries);
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
      bool moved = !Settled(index, nearest.index);
      index = nearest.index;
      if (round % kShiftEvery == kShiftEvery - 1 && round + 1 < kCentroidRounds) {
        ShiftEntries<D>(p, entries, index);
        moved = true;
      }
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
        for (size_t i : reseeded) std::memcpy(&codebook[size_t(index[i]) * D], &own[i * D], D);
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
  // Each pass clears at least one entry for good, so this ends.
  for (;;) {
    Centroids finalEntries(D, entries);
    for (size_t c = 0; c < entries; ++c)
      for (size_t d = 0; d < D; ++d) finalEntries.At(c, d) = codebook[c * D + d];
    FindNearest<D>(p.values, finalEntries, nearest);
    std::vector<bool> used(entries, false);
    for (uint8_t c : nearest.index) used[c] = true;
    bool cleared = false;
    for (size_t c = 0; c < entries; ++c)
      if (!used[c] &&
          std::any_of(&codebook[c * D], &codebook[c * D] + D, [](uint8_t v) { return v != 0; })) {
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

// Only formats of bit fields: a YUV entry would pair its texels, and bump maps are not encoded.
bool Quantisable(int pixelFormat) {
  return pixelFormat >= 0 && size_t(pixelFormat) < TexelCodec::kPixelFormats.size() &&
         TexelCodec::kTexels[size_t(pixelFormat)] == TexelCodec::Texels::Fields;
}

}  // namespace

Result Quantise(std::span<const Block> blocks, int pixelFormat, size_t entries) {
  if (!Quantisable(pixelFormat)) return {};
  entries = std::clamp<size_t>(entries, 1, kMaxEntries);
  if (blocks.empty()) {
    Result r;
    r.codebook.texels.assign(entries * 4, 0);
    return r;
  }
  return LevelsOf(pixelFormat).dims == 16 ? QuantiseIn<16>(blocks, pixelFormat, entries)
                                          : QuantiseIn<12>(blocks, pixelFormat, entries);
}

bool AllowVectorUnit(bool allow) { return g_allowVectorUnit.exchange(allow); }

uint8_t NearestEntry(const Codebook& codebook, int pixelFormat, const Block& block) {
  if (!Quantisable(pixelFormat)) return 0;
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
