// Where the editor looks for its help page and sample: beside the program in a build
// folder, at bin/../share/quarnel wherever an install tree lies, else at the configured prefix.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/DataFolder.h"
#include "kit/Files.h"

namespace {

namespace fs = std::filesystem;

struct DataFolderCase {
  const char* what;
  std::vector<std::string> files;  // under the scratch root; a trailing '/' makes a folder
  const char* expected;            // relative to the root
};

TEST(FindDataFolder, TakesTheFirstFolderHoldingThePageOrTheSample) {
  const DataFolderCase cases[] = {
      {"build folder", {"bin/docs.html", "share/quarnel/docs.html"}, "bin"},
      {"build folder, sample only", {"bin/sample.pvm", "prefix/docs.html"}, "bin"},
      {"installed tree", {"share/quarnel/docs.html", "prefix/docs.html"}, "share/quarnel"},
      {"installed tree, sample only", {"share/quarnel/sample.pvm"}, "share/quarnel"},
      {"moved away from the tree", {"prefix/sample.pvm"}, "prefix"},
      {"a folder named like the page", {"share/quarnel/docs.html/", "prefix/docs.html"}, "prefix"},
      {"nothing anywhere", {"share/quarnel/other.txt"}, "bin"},
  };
  for (const DataFolderCase& c : cases) {
    SCOPED_TRACE(c.what);
    testkit::ScratchFolder scratch;
    const fs::path root = scratch.path();
    fs::create_directories(root / "bin");
    for (const std::string& file : c.files) {
      if (file.ends_with('/')) {
        fs::create_directories(root / file);
      } else {
        fs::create_directories((root / file).parent_path());
        testkit::WriteBytes((root / file).string(), std::vector<uint8_t>{'x'});
      }
    }
    EXPECT_EQ(app::FindDataFolder((root / "bin").string(), "../share/quarnel",
                                  (root / "prefix").string()),
              (root / c.expected).string());
  }
}

}  // namespace
