// The questions the entry commands ask beyond files and message boxes: the formats of new
// textures, what to do with a picture of another size, an entry's new name, and an entry's
// properties. Each is a modal dialog, or a hook that tests install to answer from a script.
// nullopt always means the user cancelled.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "archive/BatchFiles.h"
#include "texture/FormatChoice.h"

class QWidget;

namespace EntryDialogs {

// Add textures: pixel format and data format offered with "Automatic" chosen, and a
// mipmaps check box left in its third, automatic state.
std::optional<FormatChoice::Choice> AskFormats(QWidget* owner);

// An import whose picture is not the texture's size.
struct SizeQuestion {
  std::string picture;  // a file's path, or what stands for it
  int32_t pictureWidth = 0, pictureHeight = 0;
  int32_t textureWidth = 0, textureHeight = 0;
};
std::optional<BatchFiles::SizeChoice> AskSize(QWidget* owner, const SizeQuestion& question);

// Rename: the name offered is the entry's own.
std::optional<std::string> AskName(QWidget* owner, const std::string& current);

// What Properties shows and lets the user change. The data format is named without its
// mipmaps, which the check box turns on and off (twiddled+mipmaps is twiddled, checked).
struct Properties {
  std::string name;
  std::optional<uint32_t> globalIndex;  // an empty field keeps none
  uint8_t pixelFormat = 0;
  uint8_t dataFormat = 0;
  bool mipmaps = false;
  int32_t width = 0, height = 0;  // shown, not changed here
  bool operator==(const Properties&) const = default;
};
std::optional<Properties> AskProperties(QWidget* owner, const Properties& now);

// Replaces the real dialogs: each Ask whose hook is set hands its question to it. Returns the
// hooks installed before; empty functions restore the real dialogs.
struct Hooks {
  std::function<std::optional<FormatChoice::Choice>()> formats;
  std::function<std::optional<BatchFiles::SizeChoice>(const SizeQuestion&)> size;
  std::function<std::optional<std::string>(const std::string& current)> name;
  std::function<std::optional<Properties>(const Properties& now)> properties;
};
Hooks SetHooks(Hooks hooks);

}  // namespace EntryDialogs
