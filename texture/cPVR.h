// One texture of an open archive: its PVR chunk record, the pixel-format table, and two
// 24-bit surfaces (image and alpha mask) that the chunk decodes into and encodes back from.
//
// The object owns everything it holds: data handed in is copied, data handed out is a copy.
// Mode 0 selects the image surface and Mode 1 the mask surface wherever an operation takes one.
// Pixel coordinates count X from the left and Y from the top, both from 0; the surfaces
// store rows bottom-up.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/Gdi.h"

// Channel masks and power-of-two factors of one 16-bit pixel format.
struct PixelFormatInfo {
  int32_t AMask, RMask, GMask, BMask;
  int32_t ADiv, RDiv, GDiv, BMul;
};

// A PVR chunk as the archive holds it. Data holds Length - 8 bytes once loaded from an archive.
struct PVRChunk {
  std::array<char, 4> Magic{};  // "PVRT" once a chunk has been stored
  int32_t Length = 0;           // 8 + the number of data bytes
  uint8_t pFormat = 0;          // 0 ARGB1555, 1 RGB565, 2 ARGB4444
  uint8_t eFormat = 0;          // 9 rectangular, 1 square twiddled; others carried unchanged
  int16_t Reserved = 0;
  int16_t Width = 0;
  int16_t Height = 0;
  std::vector<uint8_t> Data;    // texel n is bytes 2n (low) and 2n + 1 (high)
};

class cPVR {
 public:
  cPVR();
  ~cPVR();
  cPVR(const cPVR&) = delete;
  cPVR& operator=(const cPVR&) = delete;

  // ---- Chunk record --------------------------------------------------------------------

  // Hands out a copy of the data and the header values as they stand; an object that was
  // never loaded gives an empty array and zeros.
  void SavePVR(std::vector<uint8_t>& Dataset, int16_t& Height, int16_t& Width, uint8_t& pmat,
               uint8_t& emat, int32_t& Length) const;

  // Stores a chunk: copies the data, sets Magic to "PVRT". Nothing is validated here; the
  // codec guards itself against values it cannot handle.
  void SetPVRData(int32_t Length, uint8_t pFormat, uint8_t eFormat, int16_t Width,
                  int16_t Height, std::span<const uint8_t> Data);
  void LoadPVR(std::span<const uint8_t> Dataset, int16_t Height, int16_t Width, uint8_t pmat,
               uint8_t emat, int32_t Length);

  // Fills the pixel-format table; the constructor calls it, calling it again is harmless.
  void InitVars();

  // The chunk as stored, for readers that only look (writers go through SavePVR).
  const PVRChunk& ChunkRecord() const { return Chunk; }

  // ---- Codec ---------------------------------------------------------------------------

  // Rebuilds both surfaces at the texture's size and fills them from the chunk: image
  // colours and mask alpha, twiddled textures reordered. Does nothing when no chunk is
  // stored. Formats it cannot decode give black surfaces. Returns false, leaving the
  // surfaces as they were, when there is no chunk or the texture's size is beyond what its
  // data and memory can justify.
  bool PVR2BMP();

  // Rewrites the texel bytes of Data from the surfaces, in the chunk's own pixel format and
  // texel order; bytes past the texels and every header field are kept. Leaves Data
  // unchanged when the formats have no encoder or the surfaces were never built.
  void BMP2PVR();

  // ---- Surfaces ------------------------------------------------------------------------

  // Builds the surface of Mode anew, black, at nWidth x nHeight; other modes build nothing.
  void MakeNew(int32_t nHeight, int32_t nWidth, int16_t Mode);

  // The memory device context of a surface, nullptr when not built or for another Mode.
  platform::HDC hDC(int16_t Mode) const;

  // The image surface's width and height (the mask has no size of its own).
  int32_t Width() const;
  int32_t Height() const;

  // Colour of the image and, when the two buffers have the same length, alpha of the mask
  // at (X, Y); A is left alone otherwise. Outside the surface both address the bottom-left
  // pixel. Always returns 0.
  int32_t GetPixel(int32_t X, int32_t Y, uint8_t& R, uint8_t& G, uint8_t& B, uint8_t& A) const;
  void SetPixel(int32_t X, int32_t Y, uint8_t R, uint8_t G, uint8_t B, uint8_t A);

  // Paints the surface of Mode at the target's top-left; nothing when it is not built.
  void Draw(int16_t Mode, platform::HDC TargetHDC) const;

  // Whether the surface of Mode is built (has a device context and a buffer).
  bool HasSurface(int16_t Mode) const;

  // The surface's header and pixel buffer, for readers that only look.
  const platform::BITMAPINFOHEADER& SurfaceInfo(int16_t Mode) const;
  const std::vector<uint8_t>& SurfaceBits(int16_t Mode) const;
  int16_t SurfaceRowPadding(int16_t Mode) const;

  // ---- BMP files -----------------------------------------------------------------------

  // Loads an uncompressed 24-bit BMP into the image surface and, when MaskFile is not
  // empty, another into the mask surface (alpha in its red bytes); without a mask file the
  // mask becomes black at the image's size and gives the encoder no alpha. An empty
  // FromFile reloads the last image path. Problems are shown to the user; the result says
  // whether the surfaces were loaded, and a refused file leaves that surface as it was.
  bool LoadBitMap(const std::string& FromFile, const std::string& MaskFile);

  // Writes the surface of Mode as a 24-bit BMP, asking before it replaces a file. An empty
  // ToFile writes to the last path of that surface. True when the file was written.
  bool SaveBitmap(int16_t Mode, const std::string& ToFile);

  // The last image (0) and mask (1) paths loaded or saved.
  const std::string& BitmapPath(int16_t Mode) const;

 private:
  // One drawable surface: header, memory device context with its section, and the pixel
  // buffer that every pixel operation works on.
  struct Surface {
    platform::BITMAPINFOHEADER Info;
    platform::HDC DC = nullptr;
    platform::HBITMAP Bitmap = nullptr;
    std::vector<uint8_t> Bits;  // bottom row first, rows of stride bytes
    int16_t RowPadding = 0;     // each surface keeps its own
  };

  Surface& SurfaceFor(int16_t Mode);
  const Surface& SurfaceFor(int16_t Mode) const;
  static void ReleaseSurface(Surface& surface);
  int32_t PixelOffset(int32_t X, int32_t Y) const;
  void Twiddle(int16_t Mode);
  void TwiddleBlock(int32_t X, int32_t Y, int32_t Size, int16_t Mode);

  Surface Image;
  Surface Mask;
  std::vector<uint8_t> TwiddleMask;
  std::vector<uint8_t> TwiddleImage;
  std::array<std::string, 2> BitmapPaths;
  int32_t TwiddlePos = 0;
  std::array<PixelFormatInfo, 3> PixelFormats{};
  PVRChunk Chunk;
};
