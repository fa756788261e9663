// Whole-file reads and crash-safe replacement, shared by the profile and the value
// store: a reader sees the old file or the new one, never a half-written or empty one.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace torvane {

enum class FileRead { kOk, kMissing, kFailed };

// Reads the whole file into `out`. kMissing when it does not exist; kFailed when it
// exists but cannot be read, is not a regular file or is larger than `limit`.
FileRead ReadWholeFile(const std::string& path, std::string& out, size_t limit);

// Writes `text` to a temporary file with a unique name in the same folder, gives it
// `mode`, flushes it to disk and renames it over `path`. On failure the temporary
// file is removed and `path` is left as it was.
bool ReplaceFileAtomically(const std::string& path, std::string_view text, mode_t mode);

}  // namespace torvane
