#include "platform/file_io.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace torvane {

namespace {

// Closes a descriptor on every way out of a scope.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  // Closes now and reports the result (a failed close can mean lost data).
  bool Close() {
    int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

bool WriteAll(int fd, std::string_view text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace

FileRead ReadWholeFile(const std::string& path, std::string& out, size_t limit) {
  out.clear();
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return errno == ENOENT ? FileRead::kMissing : FileRead::kFailed;
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return FileRead::kFailed;
  char chunk[4096];
  for (;;) {
    ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      return FileRead::kFailed;
    }
    if (n == 0) break;
    if (out.size() + static_cast<size_t>(n) > limit) return FileRead::kFailed;
    out.append(chunk, static_cast<size_t>(n));
  }
  return FileRead::kOk;
}

namespace {

// Writes the temporary file beside `path` and renames it over. `owner`, when
// given, is the file being replaced: the new one takes its owner where this
// process may give it. The temporary file is locked while it is written, so that
// a clean-up at another agent's start leaves a live replacement alone.
bool Replace(const std::string& path, std::string_view text, mode_t mode, const struct stat* owner) {
  if (path.empty() || path.back() == '/') return false;
  std::string folder = FolderOf(path);
  size_t slash = path.rfind('/');
  std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  // A hidden name beside the target: same file system, so the rename is atomic.
  std::string temp = folder + "/." + base + ".XXXXXX";
  Fd fd(::mkostemp(temp.data(), O_CLOEXEC));
  if (fd.get() < 0) return false;
  ::flock(fd.get(), LOCK_EX | LOCK_NB);
  // Owner before mode: a change of owner clears the set-id bits.
  if (owner && (owner->st_uid != ::geteuid() || owner->st_gid != ::getegid()))
    (void)::fchown(fd.get(), owner->st_uid, owner->st_gid);
  bool ok = ::fchmod(fd.get(), mode) == 0 && WriteAll(fd.get(), text) && ::fsync(fd.get()) == 0;
  // Renamed while still open and locked; after the fsync the data is on disk,
  // whatever the close reports.
  if (ok) ok = ::rename(temp.c_str(), path.c_str()) == 0;
  fd.Close();
  if (!ok) {
    ::unlink(temp.c_str());
    return false;
  }
  // The rename itself reaches the disk only with the folder's entry.
  Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) ::fsync(dir.get());
  return true;
}

bool IsTemporarySuffix(std::string_view s) {
  if (s.size() != 6) return false;
  for (char c : s)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))) return false;
  return true;
}

}  // namespace

bool ReplaceFileAtomically(const std::string& path, std::string_view text, mode_t mode) {
  return Replace(path, text, mode, nullptr);
}

bool ReplaceResolvedFile(const std::string& path, std::string_view text, mode_t mode) {
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (!resolved) {
    if (errno != ENOENT) return false;
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) return false;  // a link that leads nowhere
    return Replace(path, text, mode, nullptr);
  }
  std::string target = resolved;
  ::free(resolved);
  struct stat st {};
  if (::stat(target.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  return Replace(target, text, st.st_mode & 07777, &st);
}

std::optional<std::string_view> TemporaryTarget(std::string_view entry) {
  // "." + at least one character + "." + six.
  if (entry.size() < 9 || entry.front() != '.' || entry[entry.size() - 7] != '.') return std::nullopt;
  if (!IsTemporarySuffix(entry.substr(entry.size() - 6))) return std::nullopt;
  return entry.substr(1, entry.size() - 8);
}

size_t RemoveLeftoverTemporaries(const std::string& folder,
                                 const std::function<bool(std::string_view target)>& ours) {
  Fd dirFd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dirFd.get() < 0) return 0;
  DIR* dir = ::fdopendir(::dup(dirFd.get()));
  if (!dir) return 0;
  std::vector<std::string> names;
  while (dirent* e = ::readdir(dir)) {
    std::optional<std::string_view> target = TemporaryTarget(e->d_name);
    if (target && ours(*target)) names.emplace_back(e->d_name);
  }
  ::closedir(dir);
  size_t removed = 0;
  for (const std::string& name : names) {
    Fd fd(::openat(dirFd.get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) continue;  // still being written
    if (::unlinkat(dirFd.get(), name.c_str(), 0) == 0) ++removed;
  }
  return removed;
}

size_t RemoveLeftoverTemporariesOf(const std::string& path) {
  size_t slash = path.rfind('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  return RemoveLeftoverTemporaries(FolderOf(path),
                                   [&](std::string_view target) { return target == name; });
}

}  // namespace torvane
