#include "texture/ColourMatcher.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <numeric>

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

// The finest cells have at most this many coordinate bits a channel: 32 values a channel,
// where a photograph's palette leaves about three candidates a cell; alpha, which most
// pictures leave at one value, gets one bit fewer, which keeps the table at 2 MB.
constexpr std::array<int, 4> kCellBits{5, 5, 5, 4};

int64_t Square(int64_t v) { return v * v; }

}  // namespace

ColourMatcher::ColourMatcher(const BankColours& bank) : depth_(DepthsOf(bank.colourFormat)) {
  int keyBits = 0;
  for (size_t c = 0; c < 4; ++c) keyBits += depth_[c];
  for (size_t level = 0; level < kLevels; ++level) {
    int bits = 0;
    for (size_t c = 0; c < 4; ++c) {
      const int fine = std::min(depth_[c], kCellBits[c]);
      levels_[level].bits[c] = std::max(0, fine - int(kLevels - 1 - level));
      bits += levels_[level].bits[c];
    }
    levels_[level].cells = size_t(1) << bits;
    // Bit b of channel c's coordinate goes where CellOf's order puts it: coordinate bits
    // from the highest down, channels in turn, the first placed highest.
    Level& l = levels_[level];
    int position = bits;
    for (int b = kMaxCellBits - 1; b >= 0; --b)
      for (size_t c = 0; c < 4; ++c)
        if (b < l.bits[c]) {
          --position;
          for (size_t v = 0; v < (size_t(1) << depth_[c]); ++v)
            if ((v >> (depth_[c] - l.bits[c] + b)) & 1) l.spread[c][v] |= 1u << position;
        }
  }
  for (size_t i = 0; i < bank.Entries() && i < bank.held.size(); ++i) {
    if (!bank.held[i]) continue;
    entries_.push_back(UnitsOf(&bank.rgba[4 * i]));
    entryIndex_.push_back(uint8_t(i));
  }
  all_.resize(entries_.size());
  std::iota(all_.begin(), all_.end(), uint8_t(0));
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

// The channels' coordinate bits interleaved, highest first, so that cells of neighbouring
// colours lie close together in the tables: each channel's part comes from a table.
uint32_t ColourMatcher::CellOf(const Units& u, const Level& level) const {
  return level.spread[0][size_t(u[0])] | level.spread[1][size_t(u[1])] |
         level.spread[2][size_t(u[2])] | level.spread[3][size_t(u[3])];
}

// The candidates of the cell of `level` that holds `u`, among `from` (positions in
// entries_), appended to candidates_ in the order of `from`. A cell within a larger one has
// among its candidates only candidates of the larger one, and its reach is reached by one of
// them: so a cell searches the few candidates of the cell around it rather than every entry.
void ColourMatcher::Candidates(const Units& u, const Level& level, const uint8_t* from, size_t count) {
  // The cell's box in units.
  Units lo, hi;
  for (size_t c = 0; c < 4; ++c) {
    const int shift = depth_[c] - level.bits[c];
    lo[c] = u[c] >> shift << shift;
    hi[c] = lo[c] + (1 << shift) - 1;
  }
  // No colour of the cell is farther from its nearest entry than `reach`, so an entry whose
  // least distance from the cell is beyond it is never nearest there.
  least_.resize(count);
  int64_t reach = INT64_MAX;
  for (size_t k = 0; k < count; ++k) {
    const Units& e = entries_[from[k]];
    int64_t near = 0, far = 0;
    for (size_t c = 0; c < 4; ++c) {
      near += Square(e[c] < lo[c] ? lo[c] - e[c] : e[c] > hi[c] ? e[c] - hi[c] : 0);
      far += Square(std::max(e[c] - lo[c], hi[c] - e[c]));
    }
    least_[k] = near;
    reach = std::min(reach, far);
  }
  for (size_t k = 0; k < count; ++k)
    if (least_[k] <= reach) candidates_.push_back(from[k]);
}

ColourMatcher::List ColourMatcher::ListOf(Cell cell) const {
  if (cell & kAnswer) return {&all_[cell & ~kAnswer], 1};
  return {&candidates_[cell + 1], size_t(candidates_[cell]) + 1};
}

ColourMatcher::Cell ColourMatcher::CellAt(const Units& u, size_t level) {
  Level& l = levels_[level];
  // The tables come with the first search, so that a matcher asked only for keys is cheap.
  if (l.table.empty()) l.table.assign(l.cells, 0);
  const uint32_t at = CellOf(u, l);
  if (l.table[at] != 0) return l.table[at];
  if (level == 0) {
    from_ = all_;
  } else {
    const Cell outer = CellAt(u, level - 1);
    // A lone candidate of the cell around is the lone candidate of every cell within it.
    if (outer & kAnswer) return l.table[at] = outer;
    // candidates_ may move as it grows: the candidates around are copied out first.
    const List around = ListOf(outer);
    from_.assign(around.positions, around.positions + around.count);
  }
  if (candidates_.empty()) candidates_.push_back(0);
  const size_t start = candidates_.size();
  candidates_.push_back(0);
  Candidates(u, l, from_.data(), from_.size());
  const size_t count = candidates_.size() - start - 1;
  Cell cell;
  if (count == 1) {
    cell = kAnswer | candidates_.back();
    candidates_.resize(start);
  } else {
    candidates_[start] = uint8_t(count - 1);
    cell = Cell(start);
  }
  l.table[at] = cell;
  return cell;
}

uint8_t ColourMatcher::Search(const uint8_t* rgba) {
  if (entries_.empty()) return 0;
  const Units u = UnitsOf(rgba);
  const Level& finest = levels_[kLevels - 1];
  Cell cell = finest.table.empty() ? 0 : finest.table[CellOf(u, finest)];
  if (cell == 0) cell = CellAt(u, kLevels - 1);
  if (cell & kAnswer) return entryIndex_[cell & ~kAnswer];
  const List list = ListOf(cell);
  // Candidates come in index order: the distance with the candidate's place below it makes
  // the least value the nearest, and the first of equally near ones.
  uint32_t best = UINT32_MAX;
  for (size_t k = 0; k < list.count; ++k) {
    const Units& e = entries_[list.positions[k]];
    const uint32_t d = uint32_t((e[0] - u[0]) * (e[0] - u[0]) + (e[1] - u[1]) * (e[1] - u[1]) +
                                (e[2] - u[2]) * (e[2] - u[2]) + (e[3] - u[3]) * (e[3] - u[3]));
    best = std::min(best, d << 8 | uint32_t(k));
  }
  return entryIndex_[list.positions[best & 0xFF]];
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
