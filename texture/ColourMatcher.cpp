#include "texture/ColourMatcher.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace {

// Channel depths by colour format, red, green, blue, alpha.
std::array<int, 4> DepthsOf(uint16_t colourFormat) {
  switch (colourFormat) {
    case Palette::kARGB1555: return {5, 5, 5, 1};
    case Palette::kRGB565: return {5, 6, 5, 0};
    case Palette::kARGB4444: return {4, 4, 4, 4};
    case Palette::kRGB555: return {5, 5, 5, 0};
  }
  return {8, 8, 8, 8};
}

// Cells have at most this many coordinate bits a channel: 16 a channel at most, so a cell
// holds few entries; alpha, which most pictures leave at one value, gets fewer.
constexpr std::array<int, 4> kCellBits{5, 5, 5, 3};

int64_t Square(int64_t v) { return v * v; }

}  // namespace

ColourMatcher::ColourMatcher(const BankColours& bank) : depth_(DepthsOf(bank.colourFormat)) {
  int keyBits = 0, cellBits = 0;
  for (size_t c = 0; c < 4; ++c) {
    cellBits_[c] = std::min(depth_[c], kCellBits[c]);
    cellShift_[c] = depth_[c] - cellBits_[c];
    keyBits += depth_[c];
    cellBits += cellBits_[c];
  }
  for (size_t i = 0; i < bank.Entries() && i < bank.held.size(); ++i) {
    if (!bank.held[i]) continue;
    entries_.push_back(UnitsOf(&bank.rgba[4 * i]));
    entryIndex_.push_back(uint8_t(i));
  }
  cells_ = size_t(1) << cellBits;
  keys_ = keyBits <= 16 ? size_t(1) << keyBits : 0;
}

ColourMatcher::Units ColourMatcher::UnitsOf(const uint8_t* rgba) const {
  Units u;
  for (size_t c = 0; c < 4; ++c) u[c] = depth_[c] == 0 ? 0 : rgba[c] >> (8 - depth_[c]);
  return u;
}

uint32_t ColourMatcher::Key(const uint8_t* rgba) const {
  uint32_t key = 0;
  for (size_t c = 0; c < 4; ++c)
    if (depth_[c] != 0) key = key << depth_[c] | uint32_t(rgba[c] >> (8 - depth_[c]));
  return key;
}

uint32_t ColourMatcher::CellOf(const Units& u) const {
  uint32_t cell = 0;
  for (size_t c = 0; c < 4; ++c) cell = cell << cellBits_[c] | uint32_t(u[c] >> cellShift_[c]);
  return cell;
}

void ColourMatcher::BuildCell(uint32_t cell) {
  // The cell's box in units, channel by channel; the last channel is packed lowest.
  Units lo, hi;
  uint32_t rest = cell;
  for (size_t c = 4; c-- > 0;) {
    const uint32_t coordinate = rest & ((1u << cellBits_[c]) - 1);
    rest >>= cellBits_[c];
    lo[c] = int32_t(coordinate << cellShift_[c]);
    hi[c] = lo[c] + (1 << cellShift_[c]) - 1;
  }
  // No colour of the cell is farther from its nearest entry than `reach`, so an entry whose
  // least distance from the cell is beyond it is never nearest there.
  least_.resize(entries_.size());
  int64_t reach = INT64_MAX;
  for (size_t e = 0; e < entries_.size(); ++e) {
    int64_t near = 0, far = 0;
    for (size_t c = 0; c < 4; ++c) {
      const int32_t v = entries_[e][c];
      near += Square(v < lo[c] ? lo[c] - v : v > hi[c] ? v - hi[c] : 0);
      far += Square(std::max(v - lo[c], hi[c] - v));
    }
    least_[e] = near;
    reach = std::min(reach, far);
  }
  cellStart_[cell] = uint32_t(candidates_.size());
  for (size_t e = 0; e < entries_.size(); ++e)
    if (least_[e] <= reach) candidates_.push_back(uint8_t(e));
  cellCount_[cell] = uint16_t(candidates_.size() - cellStart_[cell]);
}

uint8_t ColourMatcher::Search(const uint8_t* rgba) {
  if (entries_.empty()) return 0;
  const Units u = UnitsOf(rgba);
  const uint32_t cell = CellOf(u);
  // The tables come with the first search, so that a matcher asked only for keys is cheap.
  if (cellStart_.empty()) cellStart_.assign(cells_, kUnbuilt), cellCount_.assign(cells_, 0);
  if (cellStart_[cell] == kUnbuilt) BuildCell(cell);
  // Candidates come in index order, so a strictly nearer one is needed to replace the best.
  const uint8_t* candidate = candidates_.data() + cellStart_[cell];
  size_t best = candidate[0];
  int32_t bestDistance = INT32_MAX;
  for (size_t k = 0; k < cellCount_[cell]; ++k) {
    const Units& e = entries_[candidate[k]];
    const int32_t d = (e[0] - u[0]) * (e[0] - u[0]) + (e[1] - u[1]) * (e[1] - u[1]) +
                      (e[2] - u[2]) * (e[2] - u[2]) + (e[3] - u[3]) * (e[3] - u[3]);
    if (d < bestDistance) bestDistance = d, best = candidate[k];
  }
  return entryIndex_[best];
}

uint8_t ColourMatcher::Nearest(const uint8_t* rgba) {
  if (keys_ == 0) return Search(rgba);
  if (byKey_.empty()) byKey_.assign(keys_, kUnknown);
  uint16_t& known = byKey_[Key(rgba)];
  if (known == kUnknown) known = Search(rgba);
  return uint8_t(known);
}

void ColourMatcher::Map(const uint8_t* rgba, size_t count, uint8_t* indices) {
  // Neighbouring pixels are often the same colour: each run is searched once.
  uint32_t last = 0;
  uint8_t lastIndex = 0;
  for (size_t i = 0; i < count; ++i) {
    uint32_t pixel;
    std::memcpy(&pixel, rgba + 4 * i, 4);
    if (i == 0 || pixel != last) last = pixel, lastIndex = Nearest(rgba + 4 * i);
    indices[i] = lastIndex;
  }
}
