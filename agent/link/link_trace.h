// Console trace lines of link access ("-debug" mode). The worker's sink writes
// under the log lock; tests capture the text. Formatting is skipped entirely
// while tracing is off.
#pragma once

#include <string_view>

namespace torvane {

class LinkTrace {
 public:
  virtual ~LinkTrace() = default;
  virtual bool Enabled() const = 0;
  virtual void Write(std::string_view text) = 0;
};

// printf-style trace line; does nothing while the sink is disabled.
void TraceFormat(LinkTrace& trace, const char* format, ...) __attribute__((format(printf, 2, 3)));

// A fixed trace text; does nothing while the sink is disabled.
inline void TraceText(LinkTrace& trace, std::string_view text) {
  if (trace.Enabled()) trace.Write(text);
}

// A sink that drops everything.
class SilentTrace : public LinkTrace {
 public:
  bool Enabled() const override { return false; }
  void Write(std::string_view) override {}
};

}  // namespace torvane
