// Where console trace lines go ("-debug" mode). Tests capture them.
#pragma once

#include <mutex>
#include <string>
#include <string_view>

namespace torvane {

class Console {
 public:
  virtual ~Console() = default;
  virtual void Write(std::string_view text) = 0;
};

// Standard output, flushed per write.
class StdoutConsole : public Console {
 public:
  void Write(std::string_view text) override;
};

// Drops everything (benchmarks and fuzzing, where nothing reads the traces).
class NullConsole : public Console {
 public:
  void Write(std::string_view) override {}
};

class CaptureConsole : public Console {
 public:
  void Write(std::string_view text) override {
    std::lock_guard<std::mutex> lock(mutex_);
    text_.append(text);
  }
  std::string Text() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return text_;
  }

 private:
  mutable std::mutex mutex_;
  std::string text_;
};

}  // namespace torvane
