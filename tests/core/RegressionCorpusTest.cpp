// Replays every input that once crashed, hung or tripped a sanitizer, through the same
// steps the fuzz targets take. Files live in tests/data/regressions/<kind>/, where kind is
// archive, bmp or codec (the fuzz target's input layout, see tests/kit/Replay.h), and each
// name starts with the outcome it must have:
//   accepted-...  read (opened, read, decoded) and consistent afterwards;
//   refused-...   refused, with words for the user for archives and bitmaps (the codec says
//                 nothing: it only declines to decode).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "kit/Files.h"
#include "kit/Replay.h"

namespace {

namespace fs = std::filesystem;

harness::Outcome Replay(const std::string& kind, std::span<const uint8_t> bytes) {
  if (kind == "archive") return harness::RunArchive(bytes);
  if (kind == "bmp") return harness::RunBitmap(bytes);
  return harness::RunCodec(bytes);
}

TEST(RegressionCorpus, EveryInputHasItsRecordedOutcome) {
  const fs::path root = fs::path(QUARNEL_TEST_DATA_DIR) / "regressions";
  size_t replayed = 0;
  for (const std::string kind : {"archive", "bmp", "codec"}) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(root / kind)) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    for (const fs::path& file : files) {
      const std::string name = file.filename().string();
      SCOPED_TRACE(kind + "/" + name);
      const bool expectAccepted = name.starts_with("accepted-");
      ASSERT_TRUE(expectAccepted || name.starts_with("refused-"))
          << "a regression file's name starts with accepted- or refused-";

      const harness::Outcome outcome = Replay(kind, testkit::ReadBytes(file.string()));
      EXPECT_EQ(outcome.fault, "");
      EXPECT_EQ(outcome.accepted, expectAccepted);
      if (!expectAccepted && kind != "codec") {
        EXPECT_TRUE(outcome.told);
      }
      ++replayed;
    }
  }
  EXPECT_GT(replayed, 0u);
}

}  // namespace
