// System Information (command 40001): the system group, the host's own uptime,
// date, users and processes, and its workgroup.
#pragma once

#include <cstdint>
#include <string>

#include "netpeek/views.h"

namespace torvane::netpeek {

// The system group; all zero and empty when the agent did not answer it.
struct SystemGroup {
  std::string descr, contact, name, location;  // up to 255 characters each
  uint32_t uptime = 0;                          // hundredths of a second
  uint32_t services = 0;
};
SystemGroup read_system_group(ViewContext& context);

int system_view(ViewContext& context);

}  // namespace torvane::netpeek
