// netpeek as a window. Qt ends the process when its platform cannot start (no
// display, a display that refuses us), so the display is checked before Qt starts
// and its absence reported as an ordinary failure.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "netpeek/command_line.h"
#include "netpeek/snmp_engine.h"

namespace torvane::netpeek {

// Exit status of window mode when no window can be opened.
inline constexpr int kExitNoDisplay = 1;

// Why no window can be opened here, or "" when one can: the platform Qt would load
// (QT_QPA_PLATFORM, else X11) and, for X11, a display that accepts a connection.
std::string window_unavailable_reason();

// Runs the window over a started target until it is closed; returns the exit
// status. Without a display, says so through err and returns kExitNoDisplay.
int run_window(SnmpTarget& target, ViewerSettings& settings, const char* program,
               const std::function<void(std::string_view)>& err);

}  // namespace torvane::netpeek
