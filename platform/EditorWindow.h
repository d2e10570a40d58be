// The parts of the main window that the archive module fills and resets: the entry list
// List1, the status label Label1 and the TextureSelected flag. The Qt window implements it
// over its widgets; tests and the command-line tool implement it over plain containers.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

class EditorWindow {
 public:
  virtual ~EditorWindow() = default;

  // List1: remove every row; append one row at the end.
  virtual void ListClear() = 0;
  virtual void ListAddItem(const std::string& text) = 0;

  // Label1: the one-line status caption.
  virtual void SetStatus(const std::string& caption) = 0;

  // TextureSelected: 0 false, -1 true.
  virtual void SetTextureSelected(int16_t value) = 0;
};

}  // namespace platform
