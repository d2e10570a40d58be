#include "texture/Palette.h"

// Placeholders: the palette reader, writer and quantiser land next.
BankColours BankColours::Greys(int indexBits) {
  BankColours bank;
  bank.indexBits = indexBits;
  for (size_t i = 0; i < bank.Entries(); ++i) {
    const uint8_t grey = uint8_t(indexBits == 4 ? i * 17 : i);
    bank.rgba[4 * i] = bank.rgba[4 * i + 1] = bank.rgba[4 * i + 2] = grey;
    bank.rgba[4 * i + 3] = 255;
    bank.held.set(i);
  }
  return bank;
}

Expected<Palette> Palette::Read(std::span<const uint8_t>, const std::string& name) {
  return Error{"", "Palette files cannot be read yet: " + name, Icon::Critical};
}
Expected<Palette> Palette::Open(const std::string& path) { return Read({}, path); }
std::vector<uint8_t> Palette::Bytes() const { return {}; }
Failure Palette::Write(const std::string& path) const {
  return Error{"", "Palette files cannot be written yet: " + path, Icon::Critical};
}
std::array<uint8_t, 4> Palette::Rgba(size_t) const { return {}; }
Expected<BankColours> Palette::Bank(int, int indexBits) const { return BankColours::Greys(indexBits); }
Palette Palette::FromPicture(const Image&, uint16_t colourFormat, int) {
  Palette p;
  p.colourFormat = colourFormat;
  return p;
}
