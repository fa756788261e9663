// Whole-file reads and crash-safe replacement, shared by the profile and the value
// store: a reader sees the old file or the new one, never a half-written or empty one.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <optional>
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

// The same for a file a person may have made a symbolic link: the file that `path`
// resolves to is replaced (the link stays a link), keeping that file's mode and,
// where this process may give it, its owner. A file that does not exist yet is
// made at `path` with `mode`. A link that leads nowhere is not replaced.
bool ReplaceResolvedFile(const std::string& path, std::string_view text, mode_t mode);

// The temporary files of the replacements above are named "." + the target's name
// + "." + six letters or digits. When `entry` is such a name, its target's name.
std::optional<std::string_view> TemporaryTarget(std::string_view entry);

// Removes from `folder` the regular files of that naming whose target `ours`
// accepts: what a replacement interrupted by a crash left behind. A temporary file
// that a live replacement is still writing is left alone. Returns how many went.
size_t RemoveLeftoverTemporaries(const std::string& folder,
                                 const std::function<bool(std::string_view target)>& ours);
// The same for the temporary files of `path` itself, in its folder.
size_t RemoveLeftoverTemporariesOf(const std::string& path);

}  // namespace torvane
