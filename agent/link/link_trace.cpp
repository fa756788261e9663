#include "agent/link/link_trace.h"

#include <cstdarg>
#include <cstdio>
#include <string>

namespace torvane {

void TraceFormat(LinkTrace& trace, const char* format, ...) {
  if (!trace.Enabled()) return;
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  int n = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  if (n > 0) {
    std::string text(static_cast<size_t>(n) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, again);
    text.resize(static_cast<size_t>(n));
    trace.Write(text);
  }
  va_end(again);
}

}  // namespace torvane
