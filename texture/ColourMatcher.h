// The nearest colour of a palette bank for each pixel of a picture, as an import into a
// palettized texture chooses it.
//
// Distance is measured in the palette's colour format: each channel taken to the format's
// bit depth (its top bits, as encoding a texel takes them), the squared differences summed,
// alpha included where the format has it. Only held entries are chosen; among equally near
// ones, the lowest index. So the result depends on the bank and the pixel alone.
//
// The search is exact and fast in practice: the colour space is cut into cells, and each
// cell met keeps the few entries that can be nearest to a colour in it (every entry whose
// least distance from the cell is within the smallest greatest distance of any entry).
// Formats of 16 bits or less also remember the answer for every key they have seen, which
// covers every colour they can tell apart.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "texture/Palette.h"

class ColourMatcher {
 public:
  explicit ColourMatcher(const BankColours& bank);

  // The pixel (red, green, blue, alpha) at the colour format's precision: two pixels with
  // the same key are the same colour to the format, and to the search.
  uint32_t Key(const uint8_t* rgba) const;

  // The index of the nearest held entry; 0 when the bank holds none.
  uint8_t Nearest(const uint8_t* rgba);

  // Nearest for `count` pixels in a row, one index each.
  void Map(const uint8_t* rgba, size_t count, uint8_t* indices);

 private:
  using Units = std::array<int32_t, 4>;
  // Cells of three sizes, each within one of the next coarser size; a channel's cell
  // coordinate has at most kMaxCellBits bits.
  static constexpr size_t kLevels = 3;
  static constexpr int kMaxCellBits = 5;
  // A cell in 4 bytes, so that the finest table, which a photograph's noise visits all
  // over, is 2 MB rather than 4: 0 until the cell is first met; with kAnswer set, the
  // position in entries_ of its only candidate; otherwise where its list starts in
  // candidates_ (a byte holding the count less one, then the positions in entries_). The
  // lists never reach kAnswer: some 600 000 cells of at most 257 bytes are 155 MB.
  using Cell = uint32_t;
  static constexpr Cell kAnswer = 0x80000000u;
  struct Level {
    std::array<int, 4> bits{};  // coordinate bits a channel (red, green, blue, alpha)
    size_t cells = 0;
    std::array<std::array<uint32_t, 256>, 4> spread{};  // a unit value's part of the cell
    std::vector<Cell> table;
  };
  struct List {
    const uint8_t* positions;
    size_t count;
  };

  Units UnitsOf(const uint8_t* rgba) const;
  uint32_t CellOf(const Units& u, const Level& level) const;
  Cell CellAt(const Units& u, size_t level);
  List ListOf(Cell cell) const;
  void Candidates(const Units& u, const Level& level, const uint8_t* from, size_t count);
  uint8_t Search(const uint8_t* rgba);

  std::array<int, 4> depth_{};       // bits per channel (red, green, blue, alpha); 0: ignored
  std::array<Level, kLevels> levels_;
  std::vector<Units> entries_;       // held entries, at the format's depth
  std::vector<uint8_t> entryIndex_;  // their indices in the bank, ascending
  std::vector<uint8_t> candidates_;  // lists, as Cell says; one byte first, so none is at 0
  std::vector<uint8_t> all_, from_;  // every position; the candidates of a cell around
  std::vector<int64_t> least_;       // Candidates' scratch
  // Formats of up to 16 key bits: the answer per key, kUnknown until searched.
  static constexpr uint16_t kUnknown = 0xFFFF;
  size_t keys_ = 0;
  std::vector<uint16_t> byKey_;
};
