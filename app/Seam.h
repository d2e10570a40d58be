// The program-wide slot behind each seam that tests replace (message boxes, file dialogs,
// the help viewer): one per function type, empty until something is installed.
#pragma once

#include <utility>

namespace app {

template <typename Function>
Function& InstalledSeam() {
  static Function installed;
  return installed;
}

// Installs f for every later use and returns what was installed before.
template <typename Function>
Function ReplaceSeam(Function f) {
  return std::exchange(InstalledSeam<Function>(), std::move(f));
}

}  // namespace app
