#include "archive/BatchFiles.h"

#include <filesystem>
#include <set>
#include <system_error>
#include <utility>

#include "archive/ExportNames.h"
#include "archive/ParseFuncts.h"
#include "platform/Files.h"
#include "platform/Messages.h"
#include "texture/PngFile.h"
#include "texture/cPVR.h"

namespace fs = std::filesystem;

namespace BatchFiles {
namespace {

// While it lives, counts the messages the core shows and passes them on to the hook that
// was installed before; with answerYes a Yes/No question is answered Yes without being
// passed on.
class CountingHook {
 public:
  explicit CountingHook(bool answerYes = false) {
    previous_ = platform::SetMessageHook([this, answerYes](const platform::Message& message) {
      ++shown_;
      if (answerYes && message.buttons == platform::Buttons::YesNo) return platform::Answer::Yes;
      // ShowMessage restores the default when no hook was installed before.
      platform::MessageHook outer = platform::SetMessageHook(previous_);
      const platform::Answer answer = platform::ShowMessage(message);
      platform::SetMessageHook(std::move(outer));
      return answer;
    });
  }
  ~CountingHook() { platform::SetMessageHook(std::move(previous_)); }
  CountingHook(const CountingHook&) = delete;
  CountingHook& operator=(const CountingHook&) = delete;

  // Says text only when nothing was shown, so a failure is explained once and never twice.
  void SayUnlessTold(const Say& say, const std::string& text) const {
    if (shown_ == 0) say(text);
  }

 private:
  platform::MessageHook previous_;
  int shown_ = 0;
};

std::string SizeText(int64_t width, int64_t height) {
  return std::to_string(width) + "x" + std::to_string(height);
}

std::string FormatsText(const PVRChunk& chunk) {
  return "pixel format " + std::to_string(chunk.pFormat) + ", data format " +
         std::to_string(chunk.eFormat) + ", " + SizeText(chunk.Width, chunk.Height);
}

std::string FormatsAndLengthText(const PVRChunk& chunk) {
  return FormatsText(chunk) + ", " + std::to_string(chunk.Data.size()) + " data bytes";
}

// A chunk of a format the codec knows whose data ends before its layout does.
std::string ShortDataText(const PVRChunk& chunk) {
  return "holds " + std::to_string(chunk.Data.size()) + " data bytes where its format (" +
         FormatsText(chunk) + ") needs " + std::to_string(PvrChunkLayout::DataBytesNeeded(chunk));
}

// Notes an image of another size than the texture: the texture keeps its own size.
void NoteImportedSize(const cPVR& texture, size_t row, const std::string& image, const Say& say) {
  const PVRChunk& chunk = texture.ChunkRecord();
  if (texture.Width() != chunk.Width || texture.Height() != chunk.Height) {
    say("Note: " + image + " is " + SizeText(texture.Width(), texture.Height()) +
        " pixels but the texture in row " + std::to_string(row) + " is " +
        SizeText(chunk.Width, chunk.Height) + "; the texture keeps its size.");
  }
}

std::string PathIn(const std::string& folder, const std::string& file) {
  return (fs::path(folder) / file).string();
}

// The chunk data of the textures an import-all changed, put back when it does not finish.
class ChunkSnapshots {
 public:
  void Keep(cPVR& texture) { kept_.emplace_back(&texture, texture.ChunkRecord().Data); }

  void Restore() {
    for (auto& [texture, data] : kept_) {
      const PVRChunk& chunk = texture->ChunkRecord();
      texture->SetPVRData(chunk.Length, chunk.pFormat, chunk.eFormat, chunk.Width, chunk.Height,
                          data);
      // The surfaces hold the files just loaded; an export must not write them.
      texture->PVR2BMP();
    }
    kept_.clear();
  }

 private:
  std::vector<std::pair<cPVR*, std::vector<uint8_t>>> kept_;
};

}  // namespace

bool Decode(cPVR& texture, size_t row, const Say& say) {
  const PVRChunk& chunk = texture.ChunkRecord();
  if (texture.PVR2BMP() && texture.HasSurface(0) && texture.HasSurface(1)) {
    const std::string note = "Note: the texture in row " + std::to_string(row) + " ";
    if (!PvrChunkLayout::Decodes(chunk)) {
      say(note + "is stored in a format Quarnel does not decode (" + FormatsAndLengthText(chunk) +
          "); what it cannot decode is black.");
    } else if (!PvrChunkLayout::Encodes(chunk)) {
      say(note + ShortDataText(chunk) + "; what it lacks is black.");
    }
    return true;
  }
  say("The texture in row " + std::to_string(row) + " cannot be decoded: it is " +
      SizeText(chunk.Width, chunk.Height) + " texels with " + std::to_string(chunk.Data.size()) +
      " data bytes.");
  return false;
}

bool WriteSurface(cPVR& texture, int16_t mode, const std::string& path, bool replace,
                  const Say& say) {
  const CountingHook messages(replace);
  if (PngFile::NamesPng(path) ? texture.SavePng(path) : texture.SaveBitmap(mode, path)) return true;
  messages.SayUnlessTold(say, "Cannot write " + path + ".");
  return false;
}

std::string WhyNotEncoded(const cPVR& texture) {
  const PVRChunk& chunk = texture.ChunkRecord();
  if (PvrChunkLayout::Encodes(chunk)) return {};
  if (PvrChunkLayout::Decodes(chunk)) return ShortDataText(chunk);
  return "is stored in a format Quarnel does not encode (" + FormatsAndLengthText(chunk) + ")";
}

bool RefuseWithoutCodec(const cPVR& texture, size_t row, const std::string& prefix,
                        const Say& say) {
  const std::string why = WhyNotEncoded(texture);
  if (why.empty()) return false;
  say(prefix + "the texture in row " + std::to_string(row) + " " + why + " and was left as it is.");
  return true;
}

bool ImportInto(cPVR& texture, size_t row, const std::string& image, const std::string& mask,
                const Say& say) {
  const CountingHook messages;
  if (PngFile::NamesPng(image) ? !texture.LoadPng(image) : !texture.LoadBitMap(image, mask)) {
    messages.SayUnlessTold(say, "Cannot load " + image + ".");
    return false;
  }
  NoteImportedSize(texture, row, image, say);
  texture.BMP2PVR();
  return true;
}

std::vector<std::string> ExportPaths(const std::vector<std::string>& listedNames,
                                     const std::string& folder, FileFormat format) {
  std::vector<std::string> paths;
  for (const std::string& base : ExportBaseNames(listedNames)) {
    if (format == FileFormat::Png) {
      paths.push_back(PathIn(folder, PngFileName(base)));
      continue;
    }
    paths.push_back(PathIn(folder, ImageFileName(base)));
    paths.push_back(PathIn(folder, MaskFileName(base)));
  }
  return paths;
}

Result ExportAll(const std::vector<std::string>& listedNames, const std::string& folder,
                 FileFormat format, bool replace, const Say& say, const Progress& progress) {
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (!fs::is_directory(folder)) {
    say("Cannot create the folder " + folder + (ec ? ": " + ec.message() : "") + ".");
    return {Outcome::kRefused, 0};
  }
  const std::vector<std::string> paths = ExportPaths(listedNames, folder, format);
  const size_t filesPerRow = format == FileFormat::Png ? 1 : 2;

  Result result;
  for (size_t row = 0; row < listedNames.size(); ++row) {
    if (progress && !progress(row, listedNames.size())) return {Outcome::kCancelled, result.count};
    cPVR* texture = ParseFuncts::TextureOfRow(int64_t(row));
    if (texture == nullptr) {
      say("Row " + std::to_string(row) + " has no texture behind it.");
      return {Outcome::kRefused, result.count};
    }
    // A texture that cannot be decoded is skipped; the others are still worth having.
    if (!Decode(*texture, row, say)) {
      result.outcome = Outcome::kSomeSkipped;
      continue;
    }
    for (size_t mode = 0; mode < filesPerRow; ++mode) {
      if (!WriteSurface(*texture, int16_t(mode), paths[filesPerRow * row + mode], replace, say))
        return {Outcome::kRefused, result.count};
    }
    ++result.count;
  }
  return result;
}

Result ImportAll(const std::vector<std::string>& listedNames, const std::string& folder,
                 FileFormat format, const std::string& archive, const Say& say,
                 const Progress& progress) {
  if (!fs::is_directory(folder)) {
    say(folder + " is not a folder.");
    return {Outcome::kRefused, 0};
  }
  const std::vector<std::string> bases = ExportBaseNames(listedNames);
  const bool png = format == FileFormat::Png;
  const std::string extension = png ? ".png" : ".bmp";
  std::set<std::string> claimed;  // file names in the folder that lead to a row
  std::set<std::string> maskNames;
  if (!png) {
    for (const std::string& base : bases) maskNames.insert(MaskFileName(base));
  }

  ChunkSnapshots snapshots;
  Result result;
  for (size_t row = 0; row < bases.size(); ++row) {
    const std::string imageFile = png ? PngFileName(bases[row]) : ImageFileName(bases[row]);
    const std::string maskFile = MaskFileName(bases[row]);
    if (!platform::FileExists(PathIn(folder, imageFile))) continue;
    claimed.insert(imageFile);
    const bool withMask = !png && platform::FileExists(PathIn(folder, maskFile));
    if (withMask) claimed.insert(maskFile);

    if (progress && !progress(row, bases.size())) {
      snapshots.Restore();
      return {Outcome::kCancelled, 0};
    }
    cPVR* texture = ParseFuncts::TextureOfRow(int64_t(row));
    if (texture == nullptr) {
      say("Row " + std::to_string(row) + " has no texture behind it.");
      snapshots.Restore();
      return {Outcome::kRefused, 0};
    }
    if (RefuseWithoutCodec(*texture, row, "Note: " + imageFile + " was not imported: ", say)) continue;
    snapshots.Keep(*texture);
    if (!ImportInto(*texture, row, PathIn(folder, imageFile),
                    withMask ? PathIn(folder, maskFile) : "", say)) {
      say("Nothing was imported; " + archive + " was not written.");
      snapshots.Restore();
      return {Outcome::kRefused, 0};
    }
    ++result.count;
  }

  // Files that look like ours but lead nowhere are most likely renamed by hand: say so
  // rather than drop them silently.
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (!name.ends_with(extension) || claimed.count(name) != 0 ||
        !platform::FileExists(it->path().string())) {
      continue;
    }
    const bool lonelyMask = maskNames.count(name) != 0;
    say("Note: " + name + (lonelyMask ? " has no image file beside it" : " matches no entry") +
        " and was not imported.");
  }

  if (result.count == 0) {
    say("No texture files of " + archive + " were found in " + folder +
        "; the archive was not written.");
    return {Outcome::kRefused, 0};
  }
  return result;
}

}  // namespace BatchFiles
