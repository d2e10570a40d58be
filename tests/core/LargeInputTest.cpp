// Large archives and headers that promise far more than their files hold: each is read or
// refused in bounded time, and the memory it takes is bounded by what the file really
// holds. Every case runs in a child process, which measures its own peak memory and is
// killed by an alarm if it hangs.
#include <gtest/gtest.h>

#include "archive/Archive.h"
#include "core/ChildProcess.h"
#include "kit/BmpBuilder.h"
#include "kit/Files.h"
#include "kit/PvmBuilder.h"
#include "texture/PictureFiles.h"

namespace {

using namespace archive_builder;

// What a process may need beyond the input itself: the sanitizers' bookkeeping, the
// allocator's caches, and the pictures of one small texture.
constexpr uint64_t kAllowance = uint64_t{24} << 20;
constexpr unsigned kSecondsAllowed = 60;

// Child exit codes, so a failure says which step went wrong.
enum Step : int { kDone = 0, kOpenFailed = 1, kWrongListing = 2, kDecodeFailed = 3, kRefusalSilent = 4 };

Bytes ArchiveOf(const std::vector<PvrChunk>& chunks) {
  PvmHeader header;
  for (size_t k = 1; k <= chunks.size(); ++k) header.names.push_back("e" + std::to_string(k));
  Bytes out = header.Build();
  for (const PvrChunk& c : chunks) {
    const Bytes b = c.Build();
    out.insert(out.end(), b.begin(), b.end());
  }
  return out;
}

TEST(LargeInput, ArchiveOfThousandsOfEntriesIsReadWithinItsSize) {
  constexpr int kEntries = 4000;
  std::vector<PvrChunk> chunks;
  for (int k = 0; k < kEntries; ++k)
    chunks.push_back({.width = 32, .height = 32, .data = Pattern(32 * 32 * 2, uint8_t(k))});
  const Bytes archive = ArchiveOf(chunks);
  testkit::ScratchFolder folder;
  const std::string path = folder.Write("many.pvm", archive);

  const child_process::Measured m = child_process::MeasureInChild(
      [&] {
        const Expected<Archive> archive = Archive::Open(path);
        if (!archive) return kOpenFailed;
        if (archive->ListedCount() != size_t(kEntries) || archive->Entries().back().name != "e4000" ||
            archive->LoadedStatus() != "Loaded 4000 sets...")
          return kWrongListing;
        // What selecting the first and the last entry does.
        if (!archive->Entries().front().texture.Decode() || !archive->Entries().back().texture.Decode())
          return kDecodeFailed;
        return kDone;
      },
      kSecondsAllowed);
  ASSERT_TRUE(m.end.exited) << "ended by signal " << m.end.signal;
  EXPECT_EQ(m.end.code, kDone);
  // The file's bytes, once as read and once in the textures, with room for the objects.
  EXPECT_LE(m.peakRise, 4 * archive.size() + kAllowance)
      << "peak rose by " << (m.peakRise >> 20) << " MB for a file of " << (archive.size() >> 20)
      << " MB";
}

// Archives whose fields promise more than the file holds. Each is either refused with words
// or read, and decoding what was read stays within the file's measure.
TEST(LargeInput, HeadersPromisingMoreThanTheFileAreBoundedByTheFile) {
  struct Case {
    const char* what;
    Bytes archive;
  };
  Bytes hugeLength = ArchiveOf({{.width = 4, .height = 4, .data = Pattern(32, 1)}});
  SetI32At(hugeLength, 48 + 4, 0x7FFFFFF0);  // L of the only chunk
  Bytes hugeHeader = ArchiveOf({{.width = 4, .height = 4, .data = Pattern(32, 1)}});
  SetI32At(hugeHeader, 4, 0x7FFFFFF0);  // H
  Bytes hugeCount = ArchiveOf({{.width = 4, .height = 4, .data = Pattern(32, 1)}});
  SetU16At(hugeCount, 10, 0x7FFF);  // N
  const Case cases[] = {
      {"a 32767 x 32767 texture with 64 bytes of data",
       ArchiveOf({{.width = 32767, .height = 32767, .data = Pattern(64, 1)}})},
      {"a twiddled 32767 x 32767 texture with 64 bytes of data",
       ArchiveOf({{.eFormat = 1, .width = 32767, .height = 32767, .data = Pattern(64, 1)}})},
      {"a 32767 x 1 texture with 64 bytes of data",
       ArchiveOf({{.width = 32767, .height = 1, .data = Pattern(64, 1)}})},
      {"a 32767 x 2 texture with all its data",
       ArchiveOf({{.width = 32767, .height = 2, .data = Pattern(32767 * 2 * 2, 1)}})},
      {"a chunk length of 2 GB", hugeLength},
      {"a header length of 2 GB", hugeHeader},
      {"an entry count of 32767", hugeCount},
  };
  testkit::ScratchFolder folder;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = folder.Write("claims.pvm", c.archive);
    const child_process::Measured m = child_process::MeasureInChild(
        [&] {
          const Expected<Archive> archive = Archive::Open(path);
          if (!archive) return archive.error().text.empty() ? kRefusalSilent : kDone;
          // Decoding may show black for missing texels, or refuse; the memory it takes is
          // what is measured.
          for (const Archive::Entry& entry : archive->Entries()) entry.texture.Decode();
          return kDone;
        },
        kSecondsAllowed);
    ASSERT_TRUE(m.end.exited) << "ended by signal " << m.end.signal;
    EXPECT_EQ(m.end.code, kDone);
    EXPECT_LE(m.peakRise, 16 * c.archive.size() + kAllowance)
        << "peak rose by " << (m.peakRise >> 20) << " MB";
  }
}

// A 24-bit BMP whose header claims width x height with only `pixelBytes` of pixels.
Bytes BitmapClaiming(int32_t width, int32_t height, size_t pixelBytes) {
  testkit::BmpFields f;
  f.width = width;
  f.height = height;
  Bytes out = testkit::BmpHeaders(f, uint32_t(54 + pixelBytes));
  const Bytes pixels = Pattern(pixelBytes, 7);
  out.insert(out.end(), pixels.begin(), pixels.end());
  return out;
}

TEST(LargeInput, BitmapHeaderPromisingMoreThanTheFileIsBoundedByTheFile) {
  struct Case {
    const char* what;
    Bytes bitmap;
  };
  const Case cases[] = {
      {"32767 x 32767 with 96 bytes of pixels", BitmapClaiming(32767, 32767, 96)},
      {"2147483647 x 1 with 96 bytes of pixels", BitmapClaiming(INT32_MAX, 1, 96)},
      {"1 x -2147483648 with 96 bytes of pixels", BitmapClaiming(1, INT32_MIN, 96)},
      {"65536 x 65536 with 96 bytes of pixels", BitmapClaiming(65536, 65536, 96)},
  };
  testkit::ScratchFolder folder;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = folder.Write("claims.bmp", c.bitmap);
    const child_process::Measured m = child_process::MeasureInChild(
        [&] {
          const Expected<PictureFiles::Picture> picture = PictureFiles::Read(path, "");
          if (!picture) return picture.error().text.empty() ? kRefusalSilent : kDone;
          Texture texture;
          texture.width = texture.height = 32;
          texture.data.assign(32 * 32 * 2, 0);
          texture.length = int32_t(texture.data.size() + 8);
          texture.Encode(*texture.Fit(picture->image, picture->hasAlpha));
          return kDone;
        },
        kSecondsAllowed);
    ASSERT_TRUE(m.end.exited) << "ended by signal " << m.end.signal;
    EXPECT_EQ(m.end.code, kDone);
    EXPECT_LE(m.peakRise, 16 * c.bitmap.size() + kAllowance)
        << "peak rose by " << (m.peakRise >> 20) << " MB";
  }
}

}  // namespace
