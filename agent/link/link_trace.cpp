#include "agent/link/link_trace.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "common/text.h"

namespace torvane {

void TraceFormat(LinkTrace& trace, const char* format, ...) {
  if (!trace.Enabled()) return;
  va_list args;
  va_start(args, format);
  std::string text = VFormatText(format, args);
  va_end(args);
  if (!text.empty()) trace.Write(text);
}

}  // namespace torvane
