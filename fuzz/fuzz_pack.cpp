// A texture pack's two untrusted inputs on arbitrary bytes: index.txt through ParseIndex,
// and a PVMX file through ReadPvmx. Whatever they accept must hold together: index lines
// written back and parsed again give the same lines, and a PVMX file's textures written
// and read again give the same textures.
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "archive/TexturePack.h"

namespace {

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "fuzz_pack: %s\n", what);
  std::abort();
}

bool SameLines(const std::vector<TexturePack::Line>& a, const std::vector<TexturePack::Line>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i].globalIndex != b[i].globalIndex || a[i].file != b[i].file || a[i].size != b[i].size) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  std::vector<std::string> notes;
  const auto lines = TexturePack::ParseIndex(std::string_view(reinterpret_cast<const char*>(data), size), notes);
  if (lines) {
    // A FILE may hold spaces inside it, but one that ends in a space or a tab reads back
    // trimmed; only lines that write back as they read are compared.
    bool comparable = true;
    for (const TexturePack::Line& line : *lines)
      comparable &= line.file.find_first_of("\n\r,") == std::string::npos && !line.file.ends_with(' ');
    std::vector<std::string> again;
    const auto reread = TexturePack::ParseIndex(TexturePack::WriteIndex(*lines), again);
    if (comparable && (!reread || !SameLines(*lines, *reread))) Fail("index lines written back read differently");
  } else if (lines.error().text.empty()) {
    Fail("a refused index says nothing");
  }

  const auto textures = TexturePack::ReadPvmx(bytes, "fuzz.pvmx");
  if (!textures) {
    if (textures.error().text.empty()) Fail("a refused PVMX file says nothing");
    return 0;
  }
  for (const TexturePack::PvmxTexture& t : *textures)
    if (t.png.size() > size) Fail("a texture holds more bytes than the file");
  const auto reread = TexturePack::ReadPvmx(TexturePack::WritePvmx(*textures), "again.pvmx");
  if (!reread || reread->size() != textures->size()) Fail("a PVMX file written back does not read");
  for (size_t i = 0; i < textures->size(); ++i) {
    const auto& a = (*textures)[i];
    const auto& b = (*reread)[i];
    // A name is read up to its NUL, so one with a NUL inside cannot be told from a shorter one.
    if (a.globalIndex != b.globalIndex || a.size != b.size || a.png != b.png || a.name != b.name)
      Fail("a PVMX texture written back reads differently");
  }
  return 0;
}
