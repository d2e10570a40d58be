// One texture: the fields of its chunk header, its data bytes, and the picture they hold.
//
//   offset  size  field
//   0       4     magic ("PVRT"; an archive's reader takes any chunk for a texture and
//                 writes back "PVRT", a .pvr file keeps what it read)
//   4       4     length, int32: 8 + the number of data bytes
//   8       1     pixel format (PvrFormat)
//   9       1     data format, the texel order (PvrFormat; DataFormats.h lays out each)
//   10      2     reserved (kept as read; 0 in every known file)
//   12      2     width, int16
//   14      2     height, int16
//   16      ...   data bytes; texel n is bytes 2n (low) and 2n + 1 (high)
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "texture/BmpFile.h"
#include "texture/Image.h"
#include "texture/Palette.h"
#include "texture/PvrChunk.h"

struct Texture {
  static constexpr size_t kHeaderSize = PvrChunkLayout::kHeaderSize;

  std::array<char, 4> magic = PvrChunkLayout::kMagic;
  int32_t length = PvrChunkLayout::kLengthBase;  // as read; 8 + data bytes for a whole chunk
  uint8_t pixelFormat = 0;
  uint8_t dataFormat = 0;
  int16_t reserved = 0;
  int16_t width = 0;
  int16_t height = 0;
  UnzeroedBytes data;  // whoever grows it writes every byte it adds

  // The resolution fields of the BMP files last imported as image and mask, which BMP
  // exports of this texture carry on, so that a picture that goes out and back keeps them.
  std::array<BmpFile::Resolution, 2> bitmapResolution{};

  // Reads the header fields (not the data) from the first 16 bytes; nullopt when there are
  // fewer.
  static std::optional<Texture> FromHeader(std::span<const uint8_t> bytes);
  // The 16 header bytes an archive writes: magic "PVRT" whatever was read, the other fields
  // as they are.
  std::array<uint8_t, kHeaderSize> Header() const;

  // Whether the codec decodes the texels: a pixel format it knows and a data format whose
  // layout holds the texture's size (DataFormats::Decodes). Other textures decode black.
  bool Decodes() const;
  // The data bytes the whole layout takes (every level, codebook and index); 0 for a texture
  // the codec does not decode.
  size_t DataBytesNeeded() const;
  // Whether the codec encodes into the texture: it encodes the formats (not a bump map, not
  // YUV422 in VQ) and the data holds the whole layout. Imports into other textures change
  // nothing.
  bool Encodes() const;
  // Makes `data` `bytes` long, every byte still to be written, in memory where the main
  // level starts on a cache line, as a texture without mipmaps does: the codec's widest steps
  // store whole lines, and the smaller levels before it would split every one of them.
  void SizeData(size_t bytes);
  // Whether the pixel format has alpha bits (a 32-bit raster always has); a texture without
  // them is opaque. A palettized texture has them: its palette may hold see-through colours.
  bool HasAlphaBits() const;

  // Palettized data formats (5 to 8) hold indices into a bank of a palette kept in a file of
  // its own. Their pixel-format byte does not decide the colours; the palette does, and any
  // value is kept as read (Decodes() does not look at it).
  bool IsPalettized() const;
  int IndexBits() const;  // 4 or 8 for a palettized texture, else 0

  // The main level as a picture at the texture's size. Texels the data does not hold, and
  // whole textures the codec does not decode, are black (opaque for a format without alpha
  // bits, transparent otherwise).
  //
  // Memory rule: nullopt unless the magic is "PVRT", both sides are at least 1, the picture
  // and its BMP export stay within 256 MiB, and the data holds every texel's two bytes or
  // the texture has at most 1024 x 1024 texels. So a header claiming 16384 x 16384 texels
  // over 32 bytes allocates nothing.
  //
  // A palettized texture shows its indices through `colours`, or as BankColours::Greys
  // without them; other textures ignore `colours`.
  std::optional<Image> Decode(const BankColours* colours = nullptr) const;
  // The same into `image`, reusing its memory where it is large enough: a window showing one
  // texture after another then spares the system a fresh block, and its page faults, each
  // time. False, leaving `image` as it was, where Decode gives nullopt.
  bool DecodeInto(Image& image, const BankColours* colours = nullptr) const;

  // Encodes a picture of exactly the texture's size into the data, in the texture's own
  // pixel and data formats: every smaller level averaged from the one above, a VQ codebook
  // built anew, deterministically; bytes outside those written and every header field kept.
  // A picture the main level already decodes to (at the format's precision) leaves the data
  // as it is, so smaller levels the file made stay and VQ is not quantised again. Returns
  // whether the data changed; false, changing nothing, for a texture that Encodes() refuses
  // or a picture of another size.
  //
  // A palettized texture maps each pixel to the nearest held colour of `colours` (measured
  // in the palette's colour format, alpha included; ties to the lowest index), smaller
  // levels averaged in colour and then mapped; without `colours`, or with colours of other
  // index bits, it refuses. A picture whose every pixel is, at the colour format's
  // precision, what the texture shows through `colours` changes nothing.
  bool Encode(const Image& picture, const BankColours* colours = nullptr);

  // A palettized texture's main level as indices, one byte each, top row first; nullopt for
  // other textures and those the codec does not decode. Indices the data does not hold are 0.
  std::optional<std::vector<uint8_t>> Indices() const;
  // Stores width x height indices (one byte each, top row first, each below 1 << IndexBits())
  // as the main level unchanged, which makes an indexed picture's import lossless; smaller
  // levels are averaged in colour through `colours` and mapped. The indices the texture
  // holds already change nothing. Returns whether the data changed; false, changing
  // nothing, for a texture Encodes() refuses, colours of other index bits, the wrong count
  // or an index out of range.
  bool EncodeIndices(std::span<const uint8_t> indices, const BankColours& colours);

  // A picture imported into this texture, made into what Encode takes: the texture keeps its
  // size; a larger picture gives its top-left part, and beyond a smaller picture's right and
  // bottom edges every texel takes the picture's bottom-left pixel. Without alpha of its own
  // (a BMP without a mask, a PNG without alpha) each texel keeps the alpha it has now.
  // nullopt when the texture does not decode. A palettized texture keeps the alpha it shows
  // through `colours`.
  std::optional<Image> Fit(const Image& picture, bool pictureHasAlpha,
                           const BankColours* colours = nullptr) const;

 private:
  // The memory rule of Decode, which Indices keeps too.
  bool WithinMemoryRule() const;
};
