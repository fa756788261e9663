// Helpers of the pipe, nbrlist and service host tests: scratch folders, environment
// overrides and running a piece of test code as another user in a child process.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "tests/support/temp_dir.h"

namespace torvane::testing {

// A fresh folder that another user may reach a socket inside, removed with
// everything in it at the end.
class ScratchDir : public TempDir {
 public:
  ScratchDir() : TempDir(Reach::kOtherUsers) {}
};

// Sets (or, with nullopt, unsets) one environment variable for the scope.
class EnvOverride {
 public:
  EnvOverride(std::string name, std::optional<std::string> value);
  ~EnvOverride();
  EnvOverride(const EnvOverride&) = delete;
  EnvOverride& operator=(const EnvOverride&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

bool RunningAsRoot();

// Forks; the child takes on uid/gid (and no supplementary groups), runs `body`
// and exits with its result. Returns the child's exit status, or -1 when it did
// not exit within `limit` (it is then killed) or could not be started.
int RunInChildAs(uid_t uid, gid_t gid, const std::function<int()>& body,
                 std::chrono::milliseconds limit = std::chrono::seconds(20));

// The whole content of a file; nullopt when it cannot be read.
std::optional<std::string> ReadWholeFile(const std::string& path);
bool WriteWholeFile(const std::string& path, const std::string& text, mode_t mode = 0644);

}  // namespace torvane::testing
