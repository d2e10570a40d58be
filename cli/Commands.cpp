#include "cli/Commands.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <set>
#include <system_error>
#include <vector>

#include "archive/ParseFuncts.h"
#include "cli/ExportNames.h"
#include "platform/EditorWindow.h"
#include "platform/Files.h"
#include "platform/Messages.h"
#include "texture/PngFile.h"
#include "texture/cPVR.h"

namespace fs = std::filesystem;

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

std::string PixelFormatName(uint8_t code) {
  switch (code) {
    case PvrFormat::kARGB1555: return "ARGB1555";
    case PvrFormat::kRGB565: return "RGB565";
    case PvrFormat::kARGB4444: return "ARGB4444";
    default: return "unknown";
  }
}

std::string DataFormatName(uint8_t code) {
  switch (code) {
    case PvrFormat::kRectangle: return "rectangle";
    case PvrFormat::kTwiddled: return "twiddled";
    default: return "other";
  }
}

std::string SizeText(int64_t width, int64_t height) {
  return std::to_string(width) + "x" + std::to_string(height);
}

std::string FormatsText(const PVRChunk& chunk) {
  return "pixel format " + std::to_string(chunk.pFormat) + ", data format " +
         std::to_string(chunk.eFormat) + ", " + SizeText(chunk.Width, chunk.Height) + ", " +
         std::to_string(chunk.Data.size()) + " data bytes";
}

// Decodes a texture into its surfaces as the editor's selection does; refuses (with a
// message) one whose surfaces cannot be built, so no file is written from missing pixels.
bool Decode(cPVR& texture, uint64_t row) {
  const PVRChunk& chunk = texture.ChunkRecord();
  if (texture.PVR2BMP() && texture.HasSurface(0) && texture.HasSurface(1)) {
    if (!PvrChunkLayout::Encodes(chunk)) {
      Say("Note: the texture in row " + std::to_string(row) + " is stored in a format Quarnel " +
          "does not decode (" + FormatsText(chunk) + "); what it cannot decode is black.");
    }
    return true;
  }
  Say("The texture in row " + std::to_string(row) + " cannot be decoded: it is " +
      SizeText(chunk.Width, chunk.Height) + " texels with " + std::to_string(chunk.Data.size()) +
      " data bytes.");
  return false;
}

// The refusal for an output that exists when --force was not given.
bool RefuseExisting(const std::string& path) {
  if (!platform::FileExists(path)) return false;
  Say(path + " already exists. Use --force to replace it.");
  return true;
}

// Writes one surface as the editor's Export does, or to a PNG path the image and its
// alpha together. The overwrite question is answered by the session (Yes only with --force).
bool WriteSurface(Session& session, cPVR& texture, int16_t mode, const std::string& path) {
  const int before = session.MessagesShown();
  if (PngFile::NamesPng(path) ? texture.SavePng(path) : texture.SaveBitmap(mode, path)) return true;
  session.SayUnlessTold(before, "Cannot write " + path + ".");
  return false;
}

// Notes an image of another size than the texture: the texture keeps its own size.
void NoteImportedSize(const cPVR& texture, uint64_t row, const std::string& image) {
  const PVRChunk& chunk = texture.ChunkRecord();
  if (texture.Width() != chunk.Width || texture.Height() != chunk.Height) {
    Say("Note: " + image + " is " + SizeText(texture.Width(), texture.Height()) +
        " pixels but the texture in row " + std::to_string(row) + " is " +
        SizeText(chunk.Width, chunk.Height) + "; the texture keeps its size.");
  }
}

// The refusal for a texture the codec would leave as it is: importing into it would change
// nothing, and saying it worked would be wrong.
bool RefuseWithoutCodec(const cPVR& texture, uint64_t row, const std::string& prefix) {
  if (PvrChunkLayout::Encodes(texture.ChunkRecord())) return false;
  Say(prefix + "the texture in row " + std::to_string(row) + " is stored in a format Quarnel " +
      "does not encode (" + FormatsText(texture.ChunkRecord()) + ") and was left as it is.");
  return true;
}

// The editor's Import on one texture: load the files (a PNG alone, a BMP with its mask
// when there is one), then encode into the chunk.
bool ImportInto(Session& session, cPVR& texture, uint64_t row, const std::string& image,
                const std::string& mask) {
  const int before = session.MessagesShown();
  if (PngFile::NamesPng(image) ? !texture.LoadPng(image) : !texture.LoadBitMap(image, mask)) {
    session.SayUnlessTold(before, "Cannot load " + image + ".");
    return false;
  }
  NoteImportedSize(texture, row, image);
  texture.BMP2PVR();
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
    std::printf("%zu\t%s\t%s\t%u %s\t%u %s\t%ld\n", row, Printable(session.Rows()[row]).c_str(),
                SizeText(chunk.Width, chunk.Height).c_str(), unsigned(chunk.pFormat),
                PixelFormatName(chunk.pFormat).c_str(), unsigned(chunk.eFormat),
                DataFormatName(chunk.eFormat).c_str(), long(chunk.Length));
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
  if (!Decode(*texture, row)) return kRefused;
  if (!WriteSurface(session, *texture, 0, image)) return kRefused;
  if (!mask.empty() && !WriteSurface(session, *texture, 1, mask)) return kRefused;
  return kSuccess;
}

int ExportAllCommand(const std::string& archive, const std::string& folder, bool force,
                     FileFormat format) {
  Session session(force);
  if (!session.Open(archive)) return kRefused;
  const std::vector<std::string> bases = ExportBaseNames(session.Rows());

  std::error_code ec;
  fs::create_directories(folder, ec);
  if (!fs::is_directory(folder)) {
    Say("Cannot create the folder " + folder + (ec ? ": " + ec.message() : "") + ".");
    return kRefused;
  }
  auto pathOf = [&](const std::string& file) { return (fs::path(folder) / file).string(); };
  const bool png = format == FileFormat::Png;
  // The files of one texture: its PNG, or its image and mask BMPs.
  auto filesOf = [&](const std::string& base) {
    return png ? std::vector{pathOf(PngFileName(base))}
               : std::vector{pathOf(ImageFileName(base)), pathOf(MaskFileName(base))};
  };

  if (!force) {
    bool anyExists = false;
    for (const std::string& base : bases)
      for (const std::string& file : filesOf(base)) anyExists |= RefuseExisting(file);
    if (anyExists) return kRefused;
  }

  size_t exported = 0;
  bool allDecoded = true;
  for (size_t row = 0; row < bases.size(); ++row) {
    cPVR* texture = session.TextureOfRow(row, archive);
    if (texture == nullptr) return kRefused;
    // A texture that cannot be decoded is skipped; the others are still worth having.
    if (!Decode(*texture, row)) {
      allDecoded = false;
      continue;
    }
    const std::vector<std::string> files = filesOf(bases[row]);
    for (size_t mode = 0; mode < files.size(); ++mode) {
      if (!WriteSurface(session, *texture, int16_t(mode), files[mode])) return kRefused;
    }
    ++exported;
  }
  std::printf("Exported %s to %s\n", Plural(exported, "texture").c_str(), folder.c_str());
  return allDecoded ? kSuccess : kRefused;
}

int ImportCommand(const std::string& archive, uint64_t row, const std::string& image,
                  const std::string& mask, bool backup) {
  Session session(false);
  if (!session.Open(archive)) return kRefused;
  cPVR* texture = session.TextureOfRow(row, archive);
  if (texture == nullptr) return kRefused;
  if (RefuseWithoutCodec(*texture, row, "Nothing was imported: ")) return kRefused;
  if (!ImportInto(session, *texture, row, image, mask)) return kRefused;
  return Save(session, archive, backup) ? kSuccess : kRefused;
}

int ImportAllCommand(const std::string& archive, const std::string& folder, bool backup,
                     FileFormat format) {
  Session session(false);
  if (!session.Open(archive)) return kRefused;
  const std::vector<std::string> bases = ExportBaseNames(session.Rows());
  if (!fs::is_directory(folder)) {
    Say(folder + " is not a folder.");
    return kRefused;
  }
  auto pathOf = [&](const std::string& file) { return (fs::path(folder) / file).string(); };

  const bool png = format == FileFormat::Png;
  const std::string extension = png ? ".png" : ".bmp";
  std::set<std::string> claimed;  // file names in the folder that lead to a row
  std::set<std::string> maskNames;
  if (!png) {
    for (const std::string& base : bases) maskNames.insert(MaskFileName(base));
  }
  size_t imported = 0;
  for (size_t row = 0; row < bases.size(); ++row) {
    const std::string imageFile = png ? PngFileName(bases[row]) : ImageFileName(bases[row]);
    const std::string maskFile = MaskFileName(bases[row]);
    if (!platform::FileExists(pathOf(imageFile))) continue;
    claimed.insert(imageFile);
    const bool withMask = !png && platform::FileExists(pathOf(maskFile));
    if (withMask) claimed.insert(maskFile);

    cPVR* texture = session.TextureOfRow(row, archive);
    if (texture == nullptr) return kRefused;
    if (RefuseWithoutCodec(*texture, row, "Note: " + imageFile + " was not imported: ")) continue;
    if (!ImportInto(session, *texture, row, pathOf(imageFile), withMask ? pathOf(maskFile) : "")) {
      Say("Nothing was imported; " + archive + " was not written.");
      return kRefused;
    }
    ++imported;
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
    Say("Note: " + name + (lonelyMask ? " has no image file beside it" : " matches no entry") +
        " and was not imported.");
  }

  if (imported == 0) {
    Say("No texture files of " + archive + " were found in " + folder +
        "; the archive was not written.");
    return kRefused;
  }
  if (!Save(session, archive, backup)) return kRefused;
  std::printf("Imported %s into %s\n", Plural(imported, "texture").c_str(), archive.c_str());
  return kSuccess;
}

}  // namespace cli
