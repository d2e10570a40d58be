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
#include "texture/PvrChunk.h"

// Channel masks and power-of-two factors of one 16-bit pixel format.
struct PixelFormatInfo {
  int32_t AMask, RMask, GMask, BMask;
  int32_t ADiv, RDiv, GDiv, BMul;
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
  // colours, mask alpha (in the mask's red bytes), twiddled textures reordered. Pixel
  // formats 3 and above, data formats other than 9 and 1, and twiddled textures that are
  // not square powers of two give black surfaces; texels missing from a short Data stay
  // black. The chunk is never changed.
  //
  // Memory rule: surfaces are built only when Magic is "PVRT", Width >= 1, Height >= 1,
  // and either Data holds all 2 x Width x Height texel bytes or Width x Height is at most
  // 1024 x 1024 (so a header claiming 16384 x 16384 texels over 32 bytes allocates
  // nothing), and each surface buffer stays within 256 MiB. Otherwise returns false and
  // leaves the surfaces as they were; true when they were rebuilt.
  bool PVR2BMP();

  // Rewrites the 2 x Width x Height texel bytes of Data from the surfaces, in the chunk's
  // own pixel format and texel order; bytes past the texels and every header field are
  // kept. The texture's size rules: a larger bitmap gives its top-left part, and beyond a
  // smaller bitmap's right and bottom edges every texel takes its bottom-left pixel. Alpha
  // comes from the mask only while both surface buffers have one length (not after an
  // import without a mask file); otherwise it is 0.
  // Leaves Data unchanged without a "PVRT" magic, for pixel formats 3 and above, data
  // formats other than 9 and 1, twiddled textures that are not square powers of two, Data
  // shorter than the texels, or an image surface never built.
  // A twiddled encode leaves both surfaces at the texture's size in data order (they look
  // scrambled until the texture is decoded again).
  void BMP2PVR();

  // ---- Surfaces ------------------------------------------------------------------------

  // Builds the surface of Mode anew, black, at nWidth x nHeight, with a buffer of
  // (RowPadding + nWidth) x nHeight x 4 bytes. Other modes, sizes that are not positive and
  // buffers beyond 256 MiB build nothing and change nothing.
  void MakeNew(int32_t nHeight, int32_t nWidth, int16_t Mode);

  // The memory device context of a surface, nullptr when not built or for another Mode.
  platform::HDC hDC(int16_t Mode) const;

  // The image surface's width and height (the mask has no size of its own).
  int32_t Width() const;
  int32_t Height() const;

  // Colour of the image and, when the two buffers have the same length, alpha of the mask
  // at (X, Y); A is left alone otherwise. Outside the surface both address the bottom-left
  // pixel. Each surface is addressed with its own size and row padding, and nothing
  // outside a buffer is touched (with no image surface, nothing is). Always returns 0.
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

  // Loads an uncompressed 24-bit BMP (info header of 40 bytes or a later, longer version;
  // rows bottom-up or top-down) into the image surface and, when MaskFile is not empty,
  // another of the same size into the mask surface (alpha in its red bytes); without a
  // mask file the mask becomes black at the image's size and gives the encoder no alpha.
  // An empty FromFile reloads the last image path. Problems are shown to the user; the
  // result says whether the surfaces were loaded. A refused image or mask file leaves both
  // surfaces exactly as they were; the path of a missing or refused file is forgotten.
  bool LoadBitMap(const std::string& FromFile, const std::string& MaskFile);

  // Writes the surface of Mode as a 24-bit BMP of exactly 54 + buffer-length bytes, asking
  // before it replaces a file; the file is replaced whole or not at all. An empty ToFile
  // writes to the last path of that surface. True when the file was written; a surface
  // never built, an empty path or the answer No write nothing and give false.
  bool SaveBitmap(int16_t Mode, const std::string& ToFile);

  // The last image (0) and mask (1) paths loaded or saved.
  const std::string& BitmapPath(int16_t Mode) const;

 private:
  // One drawable surface: header, memory device context with its section, and the pixel
  // buffer that every pixel operation works on. Once built, Info describes Bits: Bits holds
  // at least biHeight rows of Stride() bytes. Handles are owned by the cPVR holding it.
  struct Surface {
    platform::BITMAPINFOHEADER Info;
    platform::HDC DC = nullptr;
    platform::HBITMAP Bitmap = nullptr;
    std::vector<uint8_t> Bits;  // bottom row first, rows of stride bytes
    int16_t RowPadding = 0;     // each surface keeps its own
  };

  const Surface* SurfaceFor(int16_t Mode) const;  // nullptr for modes other than 0 and 1
  static void ReleaseSurface(Surface& surface);
  // Prepares `fresh` (holding nothing yet) as MakeNew builds a surface: header, row
  // padding, device context and black section, but no buffer. False, holding nothing, for
  // sizes that are not positive or too large. Keeps the pixels-per-metre and colour-count
  // fields of `kept`.
  static bool PrepareBlank(Surface& fresh, int32_t nHeight, int32_t nWidth,
                           const platform::BITMAPINFOHEADER& kept);
  // Gives a prepared surface its zero-filled buffer of (RowPadding + width) x height x 4
  // bytes, taking over the storage of `old` (a buffer about to be dropped) when it fits.
  static void FillBlank(Surface& fresh, std::vector<uint8_t>& old);
  // Reads and checks one BMP file and builds `fresh` from it; shows the user what is wrong
  // and returns false when it cannot.
  static bool BuildFromFile(Surface& fresh, const std::string& path);
  // Replaces `target` by `fresh`, releasing the handles `target` held.
  static void Install(Surface& target, Surface& fresh);
  static size_t Stride(const Surface& surface) {
    return size_t(surface.Info.biWidth) * 3 + size_t(surface.RowPadding);
  }
  // Byte offset of pixel (X, Y) in the surface's buffer; 0 (the bottom-left pixel) for a
  // pixel outside it.
  static size_t PixelOffset(const Surface& surface, int32_t X, int32_t Y);
  // The mask's alpha takes part in pixel access only while both buffers have one length.
  bool AlphaTakesPart() const { return Mask.Bits.size() == Image.Bits.size(); }
  bool MaskShapedLikeImage() const;

  // Rebuilds both surfaces at the given size holding what GetPixel reads there (alpha 0
  // where the mask gives none). False, changing nothing, when the size is too large.
  bool FitSurfacesTo(int32_t width, int32_t height);
  // The texel passes of a rectangular texture: `count` texels into the surfaces just
  // built, and the surfaces (whatever their size, as GetPixel reads them) into Data.
  void DecodeTexels(size_t count);
  void EncodeTexels();

  // Moves texels between data order and their places in a square twiddled texture, whose
  // side is the image surface's: Mode 1 decodes the data's texels onto the pixels whose
  // twiddle index they carry, Mode 0 encodes those pixels back into data order. The walk
  // (TwiddleBlock) splits the square into quadrants in twiddle-index order, so TwiddlePos,
  // the running texel index, meets each block's own run of texels.
  void Twiddle(int16_t Mode);
  void TwiddleBlock(int32_t X, int32_t Y, int32_t Size, int16_t Mode);

  Surface Image;
  Surface Mask;
  std::array<std::string, 2> BitmapPaths;
  uint64_t TwiddlePos = 0;
  std::array<PixelFormatInfo, 3> PixelFormats{};
  PVRChunk Chunk;
};
