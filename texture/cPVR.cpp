// The chunk record and the codec: storing and handing back a PVR chunk, decoding it into
// the surfaces and encoding the surfaces back into it.
#include "texture/cPVR.h"

#include <algorithm>

namespace {

constexpr std::array<char, 4> kChunkMagic{'P', 'V', 'R', 'T'};

// One row per pixel-format code. Channels are shifted, not bit-replicated: decoding divides
// (or, for blue, multiplies) the masked bits so they land at the top of an 8-bit value, and
// encoding takes those top bits back, which makes decode then encode exact.
constexpr std::array<PixelFormatInfo, 3> kPixelFormats{{
    // AMask   RMask   GMask   BMask   ADiv     RDiv    GDiv    BMul
    {0x8000, 0x7C00, 0x03E0, 0x001F, 1 << 15, 1 << 7, 1 << 2, 1 << 3},  // 0: ARGB 1-5-5-5
    {0x0000, 0xF800, 0x07E0, 0x001F, 1, 1 << 8, 1 << 3, 1 << 3},        // 1: RGB 5-6-5
    {0xF000, 0x0F00, 0x00F0, 0x000F, 1 << 12, 1 << 4, 1, 1 << 4},       // 2: ARGB 4-4-4-4
}};

}  // namespace

cPVR::cPVR() { InitVars(); }

cPVR::~cPVR() {
  // Mask first, then image; each releases its device context before its section.
  ReleaseSurface(Mask);
  ReleaseSurface(Image);
}

void cPVR::InitVars() { PixelFormats = kPixelFormats; }

void cPVR::SavePVR(std::vector<uint8_t>& Dataset, int16_t& Height, int16_t& Width,
                   uint8_t& pmat, uint8_t& emat, int32_t& Length) const {
  Dataset = Chunk.Data;
  Height = Chunk.Height;
  Width = Chunk.Width;
  pmat = Chunk.pFormat;
  emat = Chunk.eFormat;
  Length = Chunk.Length;
}

void cPVR::SetPVRData(int32_t Length, uint8_t pFormat, uint8_t eFormat, int16_t Width,
                      int16_t Height, std::span<const uint8_t> Data) {
  Chunk.Length = Length;
  Chunk.pFormat = pFormat;
  Chunk.eFormat = eFormat;
  Chunk.Width = Width;
  Chunk.Height = Height;
  Chunk.Magic = kChunkMagic;
  Chunk.Data.assign(Data.begin(), Data.end());
}

// A chunk with a single data byte is stored like any other, so that a later save writes it
// back instead of an empty chunk.
void cPVR::LoadPVR(std::span<const uint8_t> Dataset, int16_t Height, int16_t Width,
                   uint8_t pmat, uint8_t emat, int32_t Length) {
  SetPVRData(Length, pmat, emat, Width, Height, Dataset);
}
