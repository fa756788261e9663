#include "platform/console.h"

#include <cstdio>

namespace torvane {

void StdoutConsole::Write(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

}  // namespace torvane
