#include "texture/Palette.h"

#include <algorithm>

#include "platform/ByteOrder.h"
#include "platform/Files.h"
#include "texture/TexelCodec.h"

namespace {

constexpr char kMagic[4] = {'P', 'V', 'P', 'L'};
// The length field counts the fields from colour format on: 8 bytes, then the colours.
constexpr uint32_t kCountedHeaderBytes = 8;
// A palette file is read whole; a real one holds at most 4 KiB of colours, so anything far
// larger is not one.
constexpr uint64_t kMaxFileBytes = uint64_t{1} << 20;

bool KnownFormat(uint16_t format) {
  switch (format) {
    case Palette::kARGB1555:
    case Palette::kRGB565:
    case Palette::kARGB4444:
    case Palette::kRGB555:
    case Palette::kARGB8888:
      return true;
  }
  return false;
}

Error Refusal(const std::string& name, const std::string& sentence) {
  return {"Whoops", name + "\n\n" + sentence, Icon::Critical};
}

}  // namespace

BankColours BankColours::Greys(int indexBits) {
  BankColours bank;
  bank.indexBits = indexBits == 4 ? 4 : 8;
  for (size_t i = 0; i < bank.Entries(); ++i) {
    const uint8_t grey = uint8_t(bank.indexBits == 4 ? i * 17 : i);
    bank.rgba[4 * i] = bank.rgba[4 * i + 1] = bank.rgba[4 * i + 2] = grey;
    bank.rgba[4 * i + 3] = 255;
    bank.held.set(i);
  }
  // As an ARGB8888 palette would store them, so that an import measures in full precision.
  bank.colourFormat = Palette::kARGB8888;
  for (size_t i = 0; i < bank.Entries(); ++i)
    bank.stored[i] = 0xFF000000u | uint32_t(bank.rgba[4 * i]) * 0x010101u;
  return bank;
}

Expected<Palette> Palette::Read(std::span<const uint8_t> bytes, const std::string& name) {
  if (bytes.size() < kHeaderSize)
    return Refusal(name, "This palette file is too short to hold a palette header; it may be cut short.");
  if (!std::equal(bytes.begin(), bytes.begin() + 4, kMagic))
    return Refusal(name, "This file is not a palette file: it does not start with PVPL.");
  Palette p;
  uint32_t length = 0;
  uint16_t count = 0;
  platform::LittleEndianReader in(bytes, 4);
  in.Read(length);
  in.Read(p.colourFormat);
  in.Read(p.bankField);
  in.Read(p.firstColour);
  in.Read(count);
  if (!KnownFormat(p.colourFormat))
    return Refusal(name, "This palette file's colour format (" + std::to_string(p.colourFormat) +
                             ") is not one Quarnel knows: only 0 (ARGB1555), 1 (RGB565), "
                             "2 (ARGB4444), 5 (RGB555) and 6 (ARGB8888) are.");
  const size_t colourBytes = size_t(count) * p.BytesPerColour();
  if (length > bytes.size() - 8)
    return Refusal(name, "This palette file says it is " + std::to_string(uint64_t(length) + 8) +
                             " bytes long, but it has only " + std::to_string(bytes.size()) +
                             "; it may be cut short.");
  if (length < kCountedHeaderBytes || length - kCountedHeaderBytes < colourBytes)
    return Refusal(name, "This palette file says it holds " + std::to_string(count) +
                             " colours, but its length leaves room for fewer; it is damaged.");
  if (size_t(p.firstColour) + count > kMemoryColours)
    return Refusal(name, "This palette file's colours (from " + std::to_string(p.firstColour) +
                             ", " + std::to_string(count) + " of them) pass the " +
                             std::to_string(kMemoryColours) + " colours of palette memory.");
  p.colours.resize(count);
  for (uint32_t& colour : p.colours) {
    if (p.colourFormat == kARGB8888) {
      in.Read(colour);
    } else {
      uint16_t v = 0;
      in.Read(v);
      colour = v;
    }
  }
  p.trailing.assign(bytes.begin() + ptrdiff_t(kHeaderSize + colourBytes), bytes.end());
  p.trailingCounted = length - kCountedHeaderBytes - colourBytes;
  return p;
}

Expected<Palette> Palette::Open(const std::string& path) {
  std::vector<uint8_t> bytes;
  std::string error;
  if (!platform::ReadWholeFile(path, bytes, error, kMaxFileBytes))
    return Refusal(path, "This file could not be read.\n" + error);
  return Read(bytes, path);
}

bool Palette::Writable() const {
  return KnownFormat(colourFormat) && size_t(firstColour) + colours.size() <= kMemoryColours &&
         trailingCounted <= trailing.size() &&
         colours.size() * BytesPerColour() + kCountedHeaderBytes + trailingCounted <= UINT32_MAX;
}

std::vector<uint8_t> Palette::Bytes() const {
  if (!Writable()) return {};
  const size_t colourBytes = colours.size() * BytesPerColour();
  std::vector<uint8_t> out;
  out.reserve(kHeaderSize + colourBytes + trailing.size());
  platform::LittleEndianWriter w(out);
  w.Text("PVPL");                                                         // magic
  w.U32(uint32_t(kCountedHeaderBytes + colourBytes + trailingCounted));  // length
  w.U16(colourFormat);                                                    // colour format
  w.U16(bankField);                                                       // kept as read
  w.U16(firstColour);                                                     // first colour
  w.U16(uint16_t(colours.size()));                                        // colour count
  for (uint32_t colour : colours)                                         // colours
    colourFormat == kARGB8888 ? w.U32(colour) : w.U16(uint16_t(colour));
  w.Bytes(trailing);                                                      // padding
  if (w.Written() != kHeaderSize + colourBytes + trailing.size()) return {};
  return out;
}

Failure Palette::Write(const std::string& path) const {
  const std::vector<uint8_t> bytes = Bytes();
  if (bytes.empty())
    return Refusal(path, "This palette cannot be written: its colours pass the " +
                             std::to_string(kMemoryColours) +
                             " colours of palette memory or its colour format is unknown.");
  std::string error;
  if (!platform::ReplaceFile(path, bytes, error))
    return Refusal(path, "This file could not be written.\n" + error);
  return std::nullopt;
}

std::array<uint8_t, 4> Palette::Rgba(size_t i) const {
  if (i >= colours.size()) return {};
  const uint32_t v = colours[i];
  switch (colourFormat) {
    case kARGB1555:
    case kRGB565:
    case kARGB4444: {
      const TexelCodec::Rgba c = TexelCodec::DecodeTexel(colourFormat, uint16_t(v));
      return {c.r, c.g, c.b, c.a};
    }
    case kRGB555: {
      // ARGB1555 with the alpha bit set, whatever the file holds there.
      const TexelCodec::Rgba c = TexelCodec::DecodeTexel(kARGB1555, uint16_t(v | 0x8000));
      return {c.r, c.g, c.b, c.a};
    }
    case kARGB8888:
      return {uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v), uint8_t(v >> 24)};
  }
  return {};
}

Expected<BankColours> Palette::Bank(int bank, int indexBits) const {
  const std::string bankName = "bank " + std::to_string(bank);
  if (indexBits != 4 && indexBits != 8)
    return Error{"Whoops", "Only textures of 4-bit or 8-bit indices read a palette bank.", Icon::Critical};
  BankColours out;
  out.indexBits = indexBits;
  out.colourFormat = colourFormat;
  const size_t entries = out.Entries(), banks = kMemoryColours / entries;
  if (bank < 0 || size_t(bank) >= banks)
    return Error{"Whoops",
                 "There is no " + bankName + " for " + std::to_string(indexBits) +
                     "-bit textures: palette memory holds " + std::to_string(banks) +
                     " banks of " + std::to_string(entries) + " colours, 0 to " +
                     std::to_string(banks - 1) + ".",
                 Icon::Critical};
  const size_t start = size_t(bank) * entries, first = firstColour, end = first + colours.size();
  if (colours.empty() || start >= end || start + entries <= first)
    return Error{"Whoops",
                 "The palette holds no colour of " + bankName + " (memory colours " +
                     std::to_string(start) + " to " + std::to_string(start + entries - 1) +
                     "): " + (colours.empty() ? std::string("it holds no colours at all.")
                                              : "its colours are memory colours " + std::to_string(first) + " to " +
                                                    std::to_string(end - 1) + "."),
                 Icon::Critical};
  for (size_t i = 0; i < entries; ++i) {
    const size_t memory = start + i;
    if (memory < first || memory >= end) continue;  // transparent black, never chosen
    const std::array<uint8_t, 4> c = Rgba(memory - first);
    std::copy(c.begin(), c.end(), out.rgba.begin() + ptrdiff_t(4 * i));
    out.stored[i] = colours[memory - first];
    out.held.set(i);
  }
  return out;
}

