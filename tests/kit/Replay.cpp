// What the fuzz targets do with one input, shared with the regression test that replays
// the inputs they once tripped over (see Replay.h).
#include "kit/Replay.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "archive/ParseFuncts.h"
#include "kit/Files.h"
#include "kit/Seams.h"
#include "platform/Messages.h"
#include "texture/cPVR.h"

namespace harness {
namespace {

using testkit::MessageLog;
using testkit::ReadBytes;
using testkit::WriteBytes;

// This process's folder, in memory where it can be, since every save flushes its file.
const std::filesystem::path& Scratch() {
  static const testkit::ScratchFolder folder(true);
  return folder.path();
}

// How many messages the core showed during a run, and the last one's text.
int Count(const MessageLog& log) { return int(log.messages.size()); }
std::string Last(const MessageLog& log) { return log.messages.empty() ? "" : log.messages.back().text; }

// A texture's chunk as SavePVR hands it out.
struct ChunkValues {
  std::vector<uint8_t> data;
  int16_t height = 0, width = 0;
  uint8_t pmat = 0, emat = 0;
  int32_t length = 0;
  bool operator==(const ChunkValues&) const = default;
};

ChunkValues ValuesOf(const cPVR& texture) {
  ChunkValues v;
  texture.SavePVR(v.data, v.height, v.width, v.pmat, v.emat, v.length);
  return v;
}

std::vector<ChunkValues> LoadedChunks() {
  std::vector<ChunkValues> chunks;
  for (size_t k = 1; k < ParseFuncts::Textures.size(); ++k) {
    const auto& texture = ParseFuncts::Textures[k];
    chunks.push_back(texture ? ValuesOf(*texture) : ChunkValues{});
  }
  return chunks;
}

// ---- Archive --------------------------------------------------------------------------

// Whether a chunk read back from a saved archive is the one that was saved. A chunk whose
// length counts the whole chunk holds the next chunk's magic and length as its last 8 data
// bytes; the save writes that header over them, so those 4 magic bytes come back "PVRT".
bool SameAfterSave(const ChunkValues& saved, const ChunkValues& read) {
  if (saved == read) return true;
  ChunkValues normalised = saved;
  const size_t n = normalised.data.size();
  if (n < 8) return false;
  const char magic[] = {'P', 'V', 'R', 'T'};
  std::copy(magic, magic + 4, normalised.data.begin() + std::ptrdiff_t(n - 8));
  return normalised == read;
}

}  // namespace

// The bytes as an archive file: open it; when it is accepted, decode every texture, save
// it in place, reopen it and expect the same rows and chunks, and expect a second save to
// change nothing.
Outcome RunArchive(std::span<const uint8_t> bytes) {
  Outcome outcome;
  MessageLog messages(platform::Answer::Yes);
  testkit::AttachedWindow window;

  const std::string path = (Scratch() / "archive.pvm").string();
  if (!WriteBytes(path, bytes)) return outcome;  // scratch trouble is not the core's fault

  ParseFuncts::CloseArchive();
  window.status = "Loading...";
  outcome.accepted = ParseFuncts::OpenArchive(path);
  outcome.told = Count(messages) > 0;
  if (!outcome.accepted) {
    if (!outcome.told) outcome.fault = "the archive was refused without a message";
    else if (ParseFuncts::ArchiveLoaded()) outcome.fault = "a refused archive counts as loaded";
    else if (!window.rows.empty()) outcome.fault = "a refused archive filled the list";
    return outcome;
  }
  if (!ParseFuncts::ArchiveLoaded()) {
    outcome.fault = "an opened archive does not count as loaded";
    return outcome;
  }

  const std::vector<std::string> rows = window.rows;
  const std::vector<ChunkValues> chunks = LoadedChunks();
  for (size_t k = 1; k < ParseFuncts::Textures.size(); ++k) {
    if (!ParseFuncts::Textures[k]) {
      outcome.fault = "slot " + std::to_string(k) + " of an opened archive is empty";
      return outcome;
    }
    ParseFuncts::Textures[k]->PVR2BMP();
  }
  if (LoadedChunks() != chunks) {
    outcome.fault = "decoding changed a chunk";
    return outcome;
  }

  if (!ParseFuncts::SaveArchive(path)) {
    outcome.fault = "saving an opened archive failed: " + Last(messages);
    return outcome;
  }
  const std::vector<uint8_t> saved = ReadBytes(path);
  // Nothing was edited, so the save rewrites the file as it was but for each chunk's magic
  // and reserved field (6 bytes a chunk); a last chunk whose length counts the whole chunk
  // adds the 8 zero bytes that were read from past the end.
  {
    const size_t common = std::min(saved.size(), bytes.size());
    size_t changed = 0;
    for (size_t i = 0; i < common; ++i) changed += saved[i] != bytes[i];
    const bool grewByZeros =
        saved.size() >= bytes.size() && saved.size() - bytes.size() <= 8 &&
        std::all_of(saved.begin() + std::ptrdiff_t(common), saved.end(), [](uint8_t b) { return b == 0; });
    if (!grewByZeros) {
      outcome.fault = "an unchanged save changed the file's length";
      return outcome;
    }
    if (changed > 6 * chunks.size()) {
      outcome.fault = "an unchanged save changed " + std::to_string(changed) + " bytes";
      return outcome;
    }
  }

  ParseFuncts::CloseArchive();
  if (!ParseFuncts::OpenArchive(path)) {
    outcome.fault = "the saved archive was refused: " + Last(messages);
    return outcome;
  }
  if (window.rows != rows) {
    outcome.fault = "the saved archive lists other rows";
    return outcome;
  }
  const std::vector<ChunkValues> reread = LoadedChunks();
  if (reread.size() != chunks.size()) {
    outcome.fault = "the saved archive holds another number of chunks";
    return outcome;
  }
  for (size_t k = 0; k < chunks.size(); ++k) {
    if (!SameAfterSave(chunks[k], reread[k])) {
      outcome.fault = "chunk " + std::to_string(k + 1) + " of the saved archive differs";
      return outcome;
    }
  }
  if (!ParseFuncts::SaveArchive(path) || ReadBytes(path) != saved) {
    outcome.fault = "saving the saved archive again changed it";
    return outcome;
  }
  return outcome;
}

namespace {

// ---- Bitmap ---------------------------------------------------------------------------

// Texture shapes a bitmap is imported into: every pixel format (and one without a row in
// the table) in both texel orders (and one without an encoder).
constexpr uint8_t kImportPixelFormats[] = {0, 1, 2, 3};
constexpr uint8_t kImportDataFormats[] = {9, 1, 2};

// Whether a built surface's buffer holds every row its header promises.
bool SurfaceFitsItsBuffer(const cPVR& t, int16_t mode) {
  const BmpFile::BITMAPINFOHEADER& info = t.SurfaceInfo(mode);
  if (info.biWidth <= 0 || info.biHeight <= 0) return false;
  const uint64_t stride = (uint64_t(info.biWidth) * 3 + 3) / 4 * 4;
  return uint64_t(t.SurfaceBits(mode).size()) >= stride * uint64_t(info.biHeight);
}

// Imports the image (and optionally the mask) into `t`, encodes, decodes, and checks what
// an import must keep. Returns the fault, empty when none.
std::string ImportInto(cPVR& t, const std::string& image, const std::string& mask,
                              bool& accepted, MessageLog& messages) {
  const ChunkValues before = ValuesOf(t);
  const int told = Count(messages);
  accepted = t.LoadBitMap(image, mask);
  if (!accepted && Count(messages) == told) return "a bitmap was refused without a message";
  if (accepted) {
    if (!t.HasSurface(0) || !t.HasSurface(1)) return "a loaded bitmap left a surface unbuilt";
    if (!SurfaceFitsItsBuffer(t, 0)) return "the image header promises more than its buffer";
    if (mask.empty() && (t.SurfaceInfo(1).biWidth != t.SurfaceInfo(0).biWidth ||
                         t.SurfaceInfo(1).biHeight != t.SurfaceInfo(0).biHeight))
      return "the blank mask is not the image's size";
  }
  t.BMP2PVR();
  const ChunkValues after = ValuesOf(t);
  if (after.length != before.length || after.width != before.width ||
      after.height != before.height || after.pmat != before.pmat || after.emat != before.emat)
    return "encoding changed a chunk header field";
  if (after.data.size() != before.data.size()) return "encoding changed the data length";
  t.PVR2BMP();
  if (ValuesOf(t) != after) return "decoding changed the chunk";
  return {};
}

}  // namespace

// Input layout: byte 0 picks the texture's side, bytes 1-2 (little-endian) say how many of
// the remaining bytes are the image file; the rest is the mask file.
Outcome RunBitmap(std::span<const uint8_t> bytes) {
  Outcome outcome;
  if (bytes.size() < 3) return outcome;
  MessageLog messages(platform::Answer::Yes);
  const uint8_t shape = bytes[0];
  const std::span<const uint8_t> files = bytes.subspan(3);
  const size_t split = std::min<size_t>(bytes[1] | (bytes[2] << 8), files.size());
  const auto image = Scratch() / "image.bmp";
  const auto mask = Scratch() / "mask.bmp";
  if (!WriteBytes(image.string(), files.first(split)) || !WriteBytes(mask.string(), files.subspan(split)))
    return outcome;

  bool first = true;
  for (uint8_t pmat : kImportPixelFormats) {
    for (uint8_t emat : kImportDataFormats) {
      // Twiddled textures are square with a power-of-two side; the others any small size.
      const int16_t width = emat == 1 ? int16_t(1 << (shape % 6)) : int16_t(1 + (shape & 15));
      const int16_t height = emat == 1 ? width : int16_t(1 + (shape >> 4));
      std::vector<uint8_t> data(size_t(width) * size_t(height) * 2 + (shape & 1), 0x5A);
      cPVR texture;
      texture.SetPVRData(int32_t(data.size() + 8), pmat, emat, width, height, data);

      bool withoutMask = false, withMask = false;
      outcome.fault = ImportInto(texture, image.string(), "", withoutMask, messages);
      if (outcome.fault.empty())
        outcome.fault = ImportInto(texture, image.string(), mask.string(), withMask, messages);
      if (!outcome.fault.empty()) return outcome;
      if (first) outcome.accepted = withoutMask;
      else if (withoutMask != outcome.accepted) {
        outcome.fault = "the same bitmap was taken by one texture and refused by another";
        return outcome;
      }
      first = false;
    }
  }
  outcome.told = Count(messages) > 0;
  return outcome;
}

// ---- Codec ----------------------------------------------------------------------------

// Input layout: width (2 bytes), height (2), pixel format (1), data format (1), length (4),
// all little-endian, then the data bytes.

// Decodes and encodes an arbitrary chunk record, probes pixels at odd coordinates, and
// checks that a chunk the codec fully understands survives decode then encode unchanged.
Outcome RunCodec(std::span<const uint8_t> bytes) {
  Outcome outcome;
  if (bytes.size() < kCodecHeaderSize) return outcome;
  MessageLog messages(platform::Answer::Yes);
  const int16_t width = int16_t(bytes[0] | (bytes[1] << 8));
  const int16_t height = int16_t(bytes[2] | (bytes[3] << 8));
  const uint8_t pmat = bytes[4];
  const uint8_t emat = bytes[5];
  const int32_t length =
      int32_t(uint32_t(bytes[6]) | uint32_t(bytes[7]) << 8 | uint32_t(bytes[8]) << 16 |
              uint32_t(bytes[9]) << 24);
  const std::span<const uint8_t> data = bytes.subspan(kCodecHeaderSize);

  cPVR texture;
  texture.SetPVRData(length, pmat, emat, width, height, data);
  const ChunkValues stored = ValuesOf(texture);
  if (stored.data.size() != data.size() || stored.length != length)
    return outcome.fault = "the chunk was not stored as given", outcome;

  outcome.accepted = texture.PVR2BMP();
  if (ValuesOf(texture) != stored) return outcome.fault = "decoding changed the chunk", outcome;
  if (outcome.accepted != (texture.HasSurface(0) && texture.HasSurface(1)))
    return outcome.fault = "decoding's result does not match the surfaces it built", outcome;

  if (outcome.accepted) {
    if (texture.Width() != width || texture.Height() != height)
      return outcome.fault = "the surfaces are not the texture's size", outcome;
    texture.BMP2PVR();
    const ChunkValues encoded = ValuesOf(texture);
    if (encoded.length != stored.length || encoded.width != stored.width ||
        encoded.height != stored.height || encoded.pmat != stored.pmat ||
        encoded.emat != stored.emat || encoded.data.size() != stored.data.size())
      return outcome.fault = "encoding changed the chunk's header or data length", outcome;
    // An unedited picture leaves the bytes of every layout the codec encodes as they were:
    // plain texels encode back exactly, and other layouts are not rewritten.
    if (PvrChunkLayout::Encodes(texture.ChunkRecord()) && encoded != stored)
      return outcome.fault = "decode then encode changed the texels", outcome;

    // Fresh surfaces, then pixels at coordinates on and off the surface: everything off it
    // lands on the bottom-left pixel, and nothing reaches outside the buffers.
    texture.PVR2BMP();
    const int32_t w = width, h = height;
    const std::pair<int32_t, int32_t> offSurface[] = {
        {-1, 0}, {0, -1}, {w, 0}, {0, h}, {INT32_MIN, INT32_MAX}, {INT32_MAX, INT32_MIN},
        {w * 2 + 1, -h - 3}};
    uint8_t value = 1;
    for (auto [x, y] : offSurface) {
      texture.SetPixel(x, y, value, uint8_t(value + 1), uint8_t(value + 2), uint8_t(value + 3));
      uint8_t r = 0, g = 0, b = 0, a = 0;
      texture.GetPixel(0, h - 1, r, g, b, a);
      if (r != value || g != value + 1 || b != value + 2 || a != value + 3)
        return outcome.fault = "a pixel off the surface did not land bottom-left", outcome;
      uint8_t r2 = 0, g2 = 0, b2 = 0, a2 = 0;
      texture.GetPixel(x, y, r2, g2, b2, a2);
      if (r2 != r || g2 != g || b2 != b || a2 != a)
        return outcome.fault = "a pixel off the surface did not read bottom-left", outcome;
      value = uint8_t(value + 4);
    }
    const std::pair<int32_t, int32_t> onSurface[] = {{w - 1, 0}, {0, 0}, {w - 1, h - 1},
                                                     {w / 2, h / 2}};
    for (auto [x, y] : onSurface) {
      texture.SetPixel(x, y, 9, 8, 7, 6);
      uint8_t r = 0, g = 0, b = 0, a = 0;
      texture.GetPixel(x, y, r, g, b, a);
      if (r != 9 || g != 8 || b != 7 || a != 6)
        return outcome.fault = "a pixel did not read back as written", outcome;
    }
    texture.BMP2PVR();
    if (ValuesOf(texture).data.size() != stored.data.size())
      return outcome.fault = "encoding changed the data length", outcome;
  }
  outcome.told = Count(messages) > 0;
  return outcome;
}

}  // namespace harness
