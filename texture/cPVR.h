// One texture of an open archive: its PVR chunk record and two 24-bit surfaces (image and
// alpha mask) that the chunk decodes into and encodes back from.
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

#include "texture/BmpFile.h"
#include "texture/PvrChunk.h"

// Caller-owned pixels that Draw paints into (a picture box's persistent image, or plain
// memory): width x height pixels of 4 bytes (blue, green, red, 0xFF), top row first, rows
// bytesPerLine apart.
struct PixelTarget {
  uint8_t* pixels = nullptr;
  int width = 0;
  int height = 0;
  int bytesPerLine = 0;
};

class cPVR {
 public:
  cPVR() = default;
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

  // The chunk as stored, for readers that only look (writers go through SavePVR).
  const PVRChunk& ChunkRecord() const { return Chunk; }

  // ---- Codec ---------------------------------------------------------------------------

  // Rebuilds both surfaces at the texture's size and fills them from the chunk: image
  // colours, mask alpha (in the mask's red bytes), the main level of every data format
  // PvrChunkLayout::Decodes names (mip levels and VQ codebooks as DataFormats lays them out).
  // Other pixel or data formats, and sizes their layout cannot hold, give black surfaces;
  // texels missing from a short Data, and VQ blocks whose index is beyond the codebook,
  // stay black. The chunk is never changed.
  //
  // Memory rule: surfaces are built only when Magic is "PVRT", Width >= 1, Height >= 1,
  // and either Data holds all 2 x Width x Height texel bytes or Width x Height is at most
  // 1024 x 1024 (so a header claiming 16384 x 16384 texels over 32 bytes allocates
  // nothing), and each surface buffer stays within 256 MiB. Otherwise returns false and
  // leaves the surfaces as they were; true when they were rebuilt.
  bool PVR2BMP();

  // Rewrites the texels, mip levels, codebook and indices of Data from the surfaces, in the
  // chunk's own pixel format and data format (DataFormats::Encode): every smaller level
  // averaged from the one above, a VQ codebook built anew, deterministically. Bytes outside
  // those written and every header field are kept. The texture's size rules: a larger bitmap
  // gives its top-left part, and beyond a smaller bitmap's right and bottom edges every texel
  // takes its bottom-left pixel. Alpha comes from the mask only while both surface buffers
  // have one length (not after an import without a mask file); otherwise texel (X, Y) keeps
  // the alpha it has, so an opaque texture stays opaque.
  // A picture (with its alpha) that the main level already decodes to leaves Data as it is.
  // Data is also left unchanged without a "PVRT" magic, for a chunk PvrChunkLayout::Encodes
  // refuses (unknown pixel or data format, a size the layout cannot hold, Data shorter than
  // the layout), an image surface never built, or a texture too large to have surfaces.
  // The surfaces are only read.
  void BMP2PVR();

  // ---- Surfaces ------------------------------------------------------------------------

  // Builds the surface of Mode anew, black, at nWidth x nHeight, with a buffer of
  // (RowPadding + nWidth) x nHeight x 4 bytes. Other modes, sizes that are not positive and
  // buffers beyond 256 MiB build nothing and change nothing.
  void MakeNew(int32_t nHeight, int32_t nWidth, int16_t Mode);

  // The image surface's width and height (the mask has no size of its own).
  int32_t Width() const;
  int32_t Height() const;

  // Colour of the image and, when the two buffers have the same length, alpha of the mask
  // at (X, Y); A is left alone otherwise. Outside the surface both address the bottom-left
  // pixel. Each surface is addressed with its own size and row padding, and nothing
  // outside a buffer is touched (with no image surface, nothing is). Always returns 0.
  int32_t GetPixel(int32_t X, int32_t Y, uint8_t& R, uint8_t& G, uint8_t& B, uint8_t& A) const;
  void SetPixel(int32_t X, int32_t Y, uint8_t R, uint8_t G, uint8_t B, uint8_t A);

  // Paints the surface of Mode at the target's top-left: no more than the image surface's
  // width and height (the window draws only after decoding, when both surfaces have the
  // texture's size), cut to the surface and to the target. Nothing is painted when the
  // surface is not built or the target has no pixels or rows too short for its width.
  void Draw(int16_t Mode, const PixelTarget& Target) const;

  // Whether the surface of Mode is built (has a buffer).
  bool HasSurface(int16_t Mode) const;

  // The surface's header and pixel buffer, for readers that only look.
  const BmpFile::BITMAPINFOHEADER& SurfaceInfo(int16_t Mode) const;
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

  // ---- PNG files -----------------------------------------------------------------------

  // Loads a PNG of any kind libpng expands to 8-bit RGBA (palette, grey, 16-bit,
  // interlaced) into the image surface and, when the file has alpha (an alpha channel or a
  // tRNS chunk), that alpha into the mask surface, as an image and mask BMP pair of the
  // same pixels would load. Without alpha the mask is what an import without a mask file
  // builds, so encoding keeps each texel's alpha. Problems are shown to the user; a refused
  // file leaves both surfaces exactly as they were. The BMP paths are left alone.
  bool LoadPng(const std::string& FromFile);

  // Writes the image surface's colours with the mask's alpha (its red bytes, as the mask
  // BMP holds them; 0 where the mask has no pixel) as one 8-bit RGBA PNG, asking before it
  // replaces a file; the file is replaced whole or not at all. True when it was written; an
  // image surface never built, an empty path or the answer No write nothing and give false.
  bool SavePng(const std::string& ToFile);

 private:
  // One surface: its header values, its row padding and its bytes. Once built, Info
  // describes Bits: Bits holds at least biHeight rows of Stride() bytes.
  struct Surface {
    BmpFile::BITMAPINFOHEADER Info;
    std::vector<uint8_t> Bits;  // bottom row first, rows of stride bytes
    int16_t RowPadding = 0;     // each surface keeps its own
  };

  const Surface* SurfaceFor(int16_t Mode) const;  // nullptr for modes other than 0 and 1
  // Prepares `fresh` (holding nothing yet) as MakeNew builds a surface: header and row
  // padding, but no buffer. False for sizes that are not positive or too large. Keeps the
  // pixels-per-metre and colour-count fields of `kept`.
  static bool PrepareBlank(Surface& fresh, int32_t nHeight, int32_t nWidth,
                           const BmpFile::BITMAPINFOHEADER& kept);
  // Gives a prepared surface its zero-filled buffer of (RowPadding + width) x height x 4
  // bytes, taking over the storage of `old` (a buffer about to be dropped) when it fits.
  static void FillBlank(Surface& fresh, std::vector<uint8_t>& old);
  // Reads and checks one BMP file and builds `fresh` from it; shows the user what is wrong
  // and returns false when it cannot.
  static bool BuildFromFile(Surface& fresh, const std::string& path);
  static size_t Stride(const Surface& surface) {
    return size_t(surface.Info.biWidth) * 3 + size_t(surface.RowPadding);
  }
  // Byte offset of pixel (X, Y) in the surface's buffer; 0 (the bottom-left pixel) for a
  // pixel outside it.
  static size_t PixelOffset(const Surface& surface, int32_t X, int32_t Y);
  // The mask's alpha takes part in pixel access only while both buffers have one length.
  bool AlphaTakesPart() const { return Mask.Bits.size() == Image.Bits.size(); }
  bool MaskShapedLikeImage() const;

  // Fills black surfaces just built at the texture's size from the chunk, as PVR2BMP
  // describes: the main level of every data format the codec decodes.
  void DecodeChunk(Surface& image, Surface& mask);
  // Builds, at the texture's size, what the encoder reads: each texel's colour as GetPixel
  // reads it, and its alpha as GetPixel reads it from the mask or, where the mask gives
  // none, the alpha the texel has now. False, building nothing, when the size is too large.
  bool FitForEncoding(Surface& image, Surface& mask);

  Surface Image;
  Surface Mask;
  std::array<std::string, 2> BitmapPaths;
  PVRChunk Chunk;
};
