// Entry changes and texture packs, each against what it costs beside, call by call:
//   - saving the 64 MB archive after one entry is removed (laid out anew) against a durable
//     write of as many bytes;
//   - adding 100 pictures of 256 x 256 as twiddled with mipmaps against encoding them alone;
//   - unpack and import-pack of the 64 MB archive against export-all and import-all as PNG.
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>

#include "BudgetReporter.h"
#include "Fixtures.h"
#include "archive/Archive.h"
#include "archive/BatchFiles.h"
#include "archive/TexturePack.h"
#include "texture/FormatChoice.h"

namespace bench {
namespace {

using benchmark::State;

constexpr double kSaveAnewBudget = 1.3;  // x a durable write of the same bytes
constexpr double kAddBudget = 1.2;       // x encoding the pictures alone
constexpr double kPackBudget = 1.2;      // x export-all / import-all as PNG

const BatchFiles::Voice kQuiet{[](const std::string&) {}, [](const Error&) {}};
std::string (*g_largeArchive)() = nullptr;

// Writes bytes to a new file, then flushes it and its folder to the disk, as a save does.
bool DurableWrite(const std::string& path, const std::vector<uint8_t>& bytes) {
  if (!WriteFile(path, bytes.data(), bytes.size(), true)) return false;
  const int folder = ::open(std::filesystem::path(path).parent_path().c_str(), O_RDONLY | O_DIRECTORY);
  const bool synced = folder >= 0 && ::fsync(folder) == 0;
  if (folder >= 0) ::close(folder);
  return synced;
}

void SaveAnew(State& state) {
  Expected<Archive> archive = Archive::Open(g_largeArchive());
  if (!archive || archive->Remove(0)) {
    state.SkipWithError("the archive could not be opened or changed");
    return;
  }
  const std::string saved = ScratchPath("anew.pvm"), baseline = ScratchPath("anew.baseline");
  if (archive->Save(saved)) {
    state.SkipWithError("Archive::Save failed");
    return;
  }
  const std::vector<uint8_t> bytes = ReadFile(saved);
  bool ok = true;
  Alternate(state, [&] { ok = DurableWrite(baseline, bytes) && ok; }, [&] { ok = !archive->Save(saved) && ok; });
  if (!ok) state.SkipWithError("a write failed");
  state.counters["bytes"] = double(bytes.size());
}

std::vector<Image> Pictures() {
  std::vector<Image> pictures;
  for (uint32_t k = 0; k < 100; ++k) {
    Image picture = *Image::Blank(256, 256);
    const std::vector<uint8_t> noise = RandomBytes(picture.rgba.size(), k + 1);
    picture.rgba.assign(noise.begin(), noise.end());
    for (size_t i = 3; i < picture.rgba.size(); i += 4) picture.rgba[i] = 255;
    pictures.push_back(std::move(picture));
  }
  return pictures;
}

void AddPictures(State& state) {
  const std::vector<Image> pictures = Pictures();
  // Encoding alone makes the same textures, each into memory of its own as an archive's
  // are, and keeps them all: both sides then pay for the same fresh memory.
  std::vector<Texture> shapes;
  for (const Image& picture : pictures) shapes.push_back(*FormatChoice::Make(picture, {}));
  for (Texture& shape : shapes) std::fill(shape.data.begin(), shape.data.end(), 0);
  bool ok = true;
  Alternate(
      state,
      [&] {
        std::vector<Texture> encoded;
        encoded.reserve(pictures.size());
        for (size_t k = 0; k < pictures.size(); ++k) {
          Texture texture = shapes[k];
          ok = texture.Encode(pictures[k]) && ok;
          encoded.push_back(std::move(texture));
        }
        benchmark::DoNotOptimize(encoded);
      },
      [&] {
        Archive archive = Archive::New();
        for (const Image& picture : pictures) {
          Expected<Texture> texture = FormatChoice::Make(picture, {});
          ok = texture.has_value() && ok;
          if (!texture) continue;
          Archive::Entry entry;
          entry.name = "picture";
          entry.texture = std::move(*texture);
          ok = !archive.Insert(archive.EntryCount(), std::move(entry), "new.pvm") && ok;
        }
        benchmark::DoNotOptimize(archive);
      });
  if (!ok) state.SkipWithError("a picture was not encoded");
}

void Unpack(State& state) {
  const Expected<Archive> archive = Archive::Open(g_largeArchive());
  if (!archive) {
    state.SkipWithError("Archive::Open refused the archive");
    return;
  }
  const std::string exported = ScratchPath("pack-export-all"), pack = ScratchPath("pack-unpacked");
  bool ok = true;
  Alternate(
      state,
      [&] {
        ok = BatchFiles::ExportAll(*archive, exported, BatchFiles::FileFormat::Png, kQuiet, nullptr).outcome ==
                 BatchFiles::Outcome::kDone &&
             ok;
      },
      [&] { ok = TexturePack::Write(*archive, pack, kQuiet).has_value() && ok; });
  if (!ok) state.SkipWithError("a texture was not written");
}

void ImportPack(State& state) {
  const Expected<Archive> archive = Archive::Open(g_largeArchive());
  const std::string pack = ScratchPath("pack-unpacked");
  if (!archive || !TexturePack::Write(*archive, pack, kQuiet)) {
    state.SkipWithError("the pack could not be made");
    return;
  }
  bool ok = true;
  Alternate(
      state,
      [&] {
        Archive target = *archive;
        ok = BatchFiles::ImportAll(target, pack, BatchFiles::FileFormat::Png, "large.pvm", kQuiet, nullptr).outcome ==
                 BatchFiles::Outcome::kDone &&
             ok;
      },
      [&] {
        Archive target = *archive;
        std::vector<std::string> notes;
        const Expected<TexturePack::Pack> read = TexturePack::Read(pack, notes);
        ok = read && TexturePack::Update(target, *read, BatchFiles::SizeChoice::Keep, false, "large.pvm", kQuiet) && ok;
      });
  if (!ok) state.SkipWithError("the pack was not imported");
}

}  // namespace

void RegisterReshape(BudgetReporter& reporter, std::string (*largeArchive)()) {
  g_largeArchive = largeArchive;
  const auto add = [](const char* name, void (*fn)(State&)) {
    // A pass takes from milliseconds to seconds, mostly the disk's: one pair a repetition.
    benchmark::RegisterBenchmark(name, fn)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
  };
  add("Archive::Save/anew/500x256", SaveAnew);
  add("Archive::Insert/100x256", AddPictures);
  add("TexturePack::Write/500x256", Unpack);
  add("TexturePack::Update/500x256", ImportPack);
  reporter.Add(Comparison{"Archive::Save/anew/500x256", "write+fsync+folder of the same bytes, call by call",
                          kSaveAnewBudget, 0, "durable write"});
  reporter.Add(Comparison{"Archive::Insert/100x256", "Texture::Encode of the pictures, call by call", kAddBudget, 0,
                          "encoding alone"});
  reporter.Add(Comparison{"TexturePack::Write/500x256", "BatchFiles::ExportAll/png, call by call", kPackBudget, 0,
                          "export-all as PNG"});
  reporter.Add(Comparison{"TexturePack::Update/500x256", "BatchFiles::ImportAll/png, call by call", kPackBudget, 0,
                          "import-all as PNG"});
}

}  // namespace bench
