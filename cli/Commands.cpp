#include "cli/Commands.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <set>
#include <system_error>
#include <vector>

#include "archive/ParseFuncts.h"
#include "archive/BatchFiles.h"
#include "archive/ExportNames.h"
#include "platform/EditorWindow.h"
#include "platform/Files.h"
#include "platform/Messages.h"
#include "texture/PngFile.h"
#include "texture/TextureDetails.h"
#include "texture/cPVR.h"

namespace fs = std::filesystem;
using namespace BatchFiles;

namespace cli {
namespace {

// Stands in for the editor's window while one command runs: collects the list rows and the
// status caption the archive module fills in, and answers the core's questions. The
// archive is released when the session ends.
class Session : public platform::EditorWindow {
 public:
  // answerYes: how the core's Yes/No questions (the overwrite question) are answered.
  explicit Session(bool answerYes) : answerYes_(answerYes) {
    previousHook_ = platform::SetMessageHook([this](const platform::Message& message) {
      ++messagesShown_;
      Say(message.text);
      if (message.buttons == platform::Buttons::YesNo && answerYes_) return platform::Answer::Yes;
      return platform::SafeAnswer(message.buttons);
    });
    ParseFuncts::AttachWindow(this);
  }

  ~Session() override {
    ParseFuncts::CloseArchive();
    ParseFuncts::AttachWindow(nullptr);
    platform::SetMessageHook(std::move(previousHook_));
  }

  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // The editor's Open: release, show "Loading...", read. False when the reader refused.
  bool Open(const std::string& path) {
    ParseFuncts::CloseArchive();
    SetStatus("Loading...");
    const int before = messagesShown_;
    if (ParseFuncts::OpenArchive(path)) return true;
    SayUnlessTold(before, "Cannot read the archive " + path + ".");
    return false;
  }

  // The texture behind a list row, or nullptr (and a message) when the row is not listed.
  cPVR* TextureOfRow(uint64_t row, const std::string& archive) {
    if (row < rows_.size()) {
      if (cPVR* texture = ParseFuncts::TextureOfRow(int64_t(row))) return texture;
    }
    if (rows_.empty()) {
      Say("Row " + std::to_string(row) + " is not listed: " + archive + " lists no entries.");
    } else {
      Say("Row " + std::to_string(row) + " is not listed: " + archive + " lists rows 0 to " +
          std::to_string(rows_.size() - 1) + ".");
    }
    return nullptr;
  }

  // Says text only when the core has said nothing since `before` (a count of messages),
  // so a failure is always explained once and never twice.
  void SayUnlessTold(int before, const std::string& text) const {
    if (messagesShown_ == before) Say(text);
  }

  int MessagesShown() const { return messagesShown_; }
  const std::vector<std::string>& Rows() const { return rows_; }
  const std::string& Status() const { return status_; }

  void ListClear() override { rows_.clear(); }
  void ListAddItem(const std::string& text) override { rows_.push_back(text); }
  void SetStatus(const std::string& caption) override { status_ = caption; }
  void SetTextureSelected(int16_t) override {}

 private:
  bool answerYes_;
  int messagesShown_ = 0;
  platform::MessageHook previousHook_;
  std::vector<std::string> rows_;
  std::string status_;
};

// A name as one field of a tab-separated line: control bytes (a tab or a line break would
// split the line) are shown as \xHH; every other byte is written as the archive holds it.
std::string Printable(const std::string& name) {
  std::string out;
  for (unsigned char c : name) {
    if (c < 0x20 || c == 0x7F) {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      out += escaped;
    } else {
      out += char(c);
    }
  }
  return out;
}

std::string SizeText(int64_t width, int64_t height) {
  return std::to_string(width) + "x" + std::to_string(height);
}

// The refusal for an output that exists when --force was not given.
bool RefuseExisting(const std::string& path) {
  if (!platform::FileExists(path)) return false;
  Say(path + " already exists. Use --force to replace it.");
  return true;
}

// The editor's Save: a backup first when asked for and none exists, then the archive
// written back in place. A failed backup stops before the archive is touched.
bool Save(Session& session, const std::string& archive, bool backup) {
  if (backup) {
    // A file name shorter than three characters would take the folder's name with it, so
    // no backup is named for it.
    const std::string backupPath = ParseFuncts::BackupPathOf(archive);
    const size_t kept = backupPath.size() - 3;
    const auto characters = std::count_if(archive.begin(), archive.end(),
                                          [](char c) { return (uint8_t(c) & 0xC0) != 0x80; });
    if (characters < 3 || archive.find('/', kept) != std::string::npos) {
      Say("Cannot name a backup of " + archive +
          ": its file name is shorter than three characters. The archive was not written.");
      return false;
    }
    // An existing backup keeps the older content, as in the editor.
    if (!platform::FileExists(backupPath)) {
      std::string error;
      if (!platform::CopyFile(archive, backupPath, error)) {
        Say(error + "\nNo backup was made, and the archive was not written.");
        return false;
      }
    }
  }
  const int before = session.MessagesShown();
  if (ParseFuncts::SaveArchive(archive)) return true;
  session.SayUnlessTold(before, "Cannot write the archive " + archive + ".");
  return false;
}

std::string Plural(size_t count, const char* word) {
  return std::to_string(count) + " " + word + (count == 1 ? "" : "s");
}

}  // namespace

void Say(const std::string& text) {
  std::fprintf(stderr, "%s\n", text.c_str());
  std::fflush(stderr);
}

int ListCommand(const std::string& archive) {
  Session session(false);
  if (!session.Open(archive)) return kRefused;
  for (size_t row = 0; row < session.Rows().size(); ++row) {
    std::printf("%zu\t%s\n", row, Printable(session.Rows()[row]).c_str());
  }
  std::printf("%s\n", session.Status().c_str());
  return kSuccess;
}

int InfoCommand(const std::string& archive) {
  Session session(false);
  if (!session.Open(archive)) return kRefused;
  const size_t listed = session.Rows().size();
  for (size_t row = 0; row < listed; ++row) {
    cPVR* texture = session.TextureOfRow(row, archive);
    if (texture == nullptr) return kRefused;
    const PVRChunk& chunk = texture->ChunkRecord();
    const TextureDetails::Details details = TextureDetails::Of(chunk);
    std::printf("%zu\t%s\t%s\t%u %s\t%u %s\t%ld\t%zu\t%zu\n", row,
                Printable(session.Rows()[row]).c_str(), SizeText(chunk.Width, chunk.Height).c_str(),
                unsigned(chunk.pFormat), TextureDetails::PixelFormatName(chunk.pFormat).c_str(),
                unsigned(chunk.eFormat), TextureDetails::DataFormatName(chunk.eFormat).c_str(),
                long(chunk.Length), details.mipLevels, details.codebookEntries);
  }
  const size_t textures = ParseFuncts::Textures.empty() ? 0 : ParseFuncts::Textures.size() - 1;
  if (textures > listed) {
    Say("Note: the archive holds " + std::to_string(textures - listed) + " more textures after " +
        "the listed rows; a name field without an end stops the list, so they cannot be " +
        "exported or imported.");
  }
  return kSuccess;
}

int ExportCommand(const std::string& archive, uint64_t row, const std::string& image,
                  const std::string& mask, bool force) {
  Session session(force);
  if (!session.Open(archive)) return kRefused;
  cPVR* texture = session.TextureOfRow(row, archive);
  if (texture == nullptr) return kRefused;
  if (!force) {
    // Both outputs are checked before either is written.
    const bool imageExists = RefuseExisting(image);
    const bool maskExists = !mask.empty() && RefuseExisting(mask);
    if (imageExists || maskExists) return kRefused;
  }
  if (!Decode(*texture, row, Say)) return kRefused;
  if (!WriteSurface(*texture, 0, image, force, Say)) return kRefused;
  if (!mask.empty() && !WriteSurface(*texture, 1, mask, force, Say)) return kRefused;
  return kSuccess;
}

int ExportAllCommand(const std::string& archive, const std::string& folder, bool force,
                     FileFormat format) {
  Session session(force);
  if (!session.Open(archive)) return kRefused;
  if (!force) {
    bool anyExists = false;
    for (const std::string& path : ExportPaths(session.Rows(), folder, format))
      anyExists |= RefuseExisting(path);
    if (anyExists) return kRefused;
  }
  const Result result = ExportAll(session.Rows(), folder, format, force, Say, nullptr);
  if (result.outcome == Outcome::kRefused) return kRefused;
  std::printf("Exported %s to %s\n", Plural(result.count, "texture").c_str(), folder.c_str());
  return result.outcome == Outcome::kDone ? kSuccess : kRefused;
}

int ImportCommand(const std::string& archive, uint64_t row, const std::string& image,
                  const std::string& mask, bool backup) {
  Session session(false);
  if (!session.Open(archive)) return kRefused;
  cPVR* texture = session.TextureOfRow(row, archive);
  if (texture == nullptr) return kRefused;
  if (RefuseWithoutCodec(*texture, row, "Nothing was imported: ", Say)) return kRefused;
  if (!ImportInto(*texture, row, image, mask, Say)) return kRefused;
  return Save(session, archive, backup) ? kSuccess : kRefused;
}

int ImportAllCommand(const std::string& archive, const std::string& folder, bool backup,
                     FileFormat format) {
  Session session(false);
  if (!session.Open(archive)) return kRefused;
  const Result result = ImportAll(session.Rows(), folder, format, archive, Say, nullptr);
  if (result.outcome != Outcome::kDone) return kRefused;
  if (!Save(session, archive, backup)) return kRefused;
  std::printf("Imported %s into %s\n", Plural(result.count, "texture").c_str(), archive.c_str());
  return kSuccess;
}

}  // namespace cli
