// A scratch folder for one test, removed with everything in it at the end.
#pragma once

#include <string>
#include <vector>

namespace torvane::testing {

class TempDir {
 public:
  enum class Reach {
    kOwner,
    // Mode 0755 and under /tmp whatever TMPDIR says (a private TMPDIR may lie in
    // a folder that others cannot enter): another user reaches a socket inside.
    kOtherUsers,
  };
  explicit TempDir(Reach reach = Reach::kOwner);
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  // Names in the folder (hidden ones included), sorted.
  std::vector<std::string> Names() const;

 private:
  std::string path_;
};

// Whole-file helpers for fixtures.
std::string ReadFileText(const std::string& path);
void WriteFileText(const std::string& path, const std::string& text);

}  // namespace torvane::testing
