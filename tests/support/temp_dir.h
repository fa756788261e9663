// A scratch folder for one test, removed with everything in it at the end.
#pragma once

#include <string>
#include <vector>

namespace torvane::testing {

class TempDir {
 public:
  TempDir();
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
