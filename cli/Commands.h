// The editor's commands without its window: each opens the archive with the core's reader,
// acts on it as the editor's menu command would, and says what went wrong on standard
// error. Each returns the process exit status.
#pragma once

#include <cstdint>
#include <string>

#include "archive/BatchFiles.h"

namespace cli {

enum ExitStatus : int { kSuccess = 0, kRefused = 1, kUsageError = 2 };

using BatchFiles::FileFormat;

// Rows count from 0 as in the editor's list. A row number too large for uint64_t is passed
// as UINT64_MAX and refused like any row past the list.
int ListCommand(const std::string& archive);
int InfoCommand(const std::string& archive);
int ExportCommand(const std::string& archive, uint64_t row, const std::string& image,
                  const std::string& mask, bool force);
int ExportAllCommand(const std::string& archive, const std::string& folder, bool force,
                     FileFormat format);
int ImportCommand(const std::string& archive, uint64_t row, const std::string& image,
                  const std::string& mask, bool backup);
int ImportAllCommand(const std::string& archive, const std::string& folder, bool backup,
                     FileFormat format);

// Writes one message to standard error, followed by a line break.
void Say(const std::string& text);

}  // namespace cli
