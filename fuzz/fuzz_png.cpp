// PngFile::Read on arbitrary bytes under the import's picture limit, as they are and again
// with every chunk's CRC made right (a mutation nearly always breaks one, which would stop
// the input before libpng sees it). A picture it accepts must be whole and consistent, and
// must come back unchanged through Write and Read. The repaired bytes are then read as an
// import with PictureFiles::Read, fitted to a texture and encoded: taken exactly when
// PngFile::Read takes them, and refused with words otherwise.
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "kit/Files.h"
#include "texture/PictureFiles.h"
#include "texture/PngFile.h"
#include "texture/Texture.h"

namespace {

constexpr uint64_t kLimit = uint64_t{256} << 20;

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "fuzz_png: %s\n", what);
  std::abort();
}

uint32_t BigEndian32(const std::vector<uint8_t>& bytes, size_t pos) {
  return uint32_t(bytes[pos]) << 24 | uint32_t(bytes[pos + 1]) << 16 |
         uint32_t(bytes[pos + 2]) << 8 | uint32_t(bytes[pos + 3]);
}

// Rewrites the CRC of every whole chunk after the signature.
void RepairChecksums(std::vector<uint8_t>& file) {
  for (size_t pos = 8; file.size() >= pos + 12;) {
    const uint32_t length = BigEndian32(file, pos);
    if (file.size() - pos - 12 < length) break;
    const uint32_t crc = uint32_t(crc32(0, file.data() + pos + 4, length + 4));
    for (int i = 0; i < 4; ++i) file[pos + 8 + length + size_t(i)] = uint8_t(crc >> (24 - 8 * i));
    pos += size_t(length) + 12;
  }
}

// Imports the file into a 16 x 16 ARGB4444 texture, which is then encoded.
void Import(std::span<const uint8_t> bytes, bool accepted) {
  static const testkit::ScratchFolder folder(true);
  const std::string path = folder / "input.png";
  if (!testkit::WriteBytes(path, bytes)) return;
  Texture texture;
  texture.pixelFormat = 2;
  texture.dataFormat = 9;
  texture.width = texture.height = 16;
  texture.data.assign(512, 0x5A);
  texture.length = 520;
  const Expected<PictureFiles::Picture> picture = PictureFiles::Read(path, "");
  if (picture.has_value() != accepted) Fail("PictureFiles::Read and PngFile::Read disagree");
  if (!picture) {
    if (picture.error().text.find(path) == std::string::npos) Fail("a refused import does not name its file");
    return;
  }
  const std::optional<Image> fitted = texture.Fit(picture->image, picture->hasAlpha);
  if (!fitted) Fail("a texture that decodes could not take a picture");
  texture.Encode(*fitted);
  if (texture.data.size() != 512) Fail("encoding changed the data's length");
}

bool Check(std::span<const uint8_t> bytes) {
  PngFile::Picture picture;
  const PngFile::Fault fault = PngFile::Read(bytes, kLimit, picture);
  if (fault != PngFile::Fault::None) {
    if (!picture.Rgba.empty()) Fail("a refused file left pixels behind");
    return false;
  }
  if (picture.Rgba.size() != uint64_t(picture.Width) * picture.Height * 4)
    Fail("the picture's buffer is not 4 x width x height bytes");
  if (!picture.HasAlpha)
    for (size_t i = 3; i < picture.Rgba.size(); i += 4)
      if (picture.Rgba[i] != 255) Fail("a picture without alpha has a pixel that is not opaque");

  std::vector<uint8_t> file;
  if (!PngFile::Write(picture.Width, picture.Height, picture.Rgba, file)) Fail("Write failed");
  PngFile::Picture again;
  if (PngFile::Read(file, kLimit, again) != PngFile::Fault::None) Fail("a written file was refused");
  if (again.Rgba != picture.Rgba || again.Width != picture.Width || again.Height != picture.Height)
    Fail("a written file reads back other pixels");
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Check({data, size});
  std::vector<uint8_t> repaired(data, data + size);
  RepairChecksums(repaired);
  const bool accepted = Check(repaired);
  // Pictures of up to 64 K pixels: the import of a larger one only costs time.
  PngFile::Header header;
  if (PngFile::Inspect(repaired, kLimit, header) != PngFile::Fault::None ||
      uint64_t(header.Width) * header.Height <= 65536)
    Import(repaired, accepted);
  return 0;
}
