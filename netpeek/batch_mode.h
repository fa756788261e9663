// The program without its window: start-up, then with "-s" the first view is run,
// saved to "<host> - <title>.txt" in the current directory, and the program ends.
// Chosen from the arguments before any application object would exist. Host names
// of the TCP and UDP views are waited for at most 5 seconds.
#pragma once

#include <functional>
#include <string_view>

#include "netpeek/command_line.h"
#include "netpeek/udp_transport.h"

namespace torvane::netpeek {

// Exit statuses of batch mode.
inline constexpr int kExitDone = 0;         // saved (also after "-?")
inline constexpr int kExitCannotWrite = 1;  // the file could not be written, or start-up failed
inline constexpr int kExitNoAnswer = 2;     // the host could not be reached or did not answer;
                                            // also: no window in this build

struct NetpeekIo {
  std::function<void(std::string_view)> out;  // standard output: usage, "ASN.1 ..." lines
  std::function<void(std::string_view)> err;  // standard error: message-box texts, failures
  UdpTransport* transport = nullptr;
  const char* port_env = nullptr;  // NETPEEK_SNMP_PORT
  // The window, for a start without "-s"; returns the exit status. Empty in a
  // build without one.
  std::function<int(SnmpTarget&, ViewerSettings&)> run_window;
};

// Runs the first view of settings against a started target and saves it; returns
// the exit status.
int run_batch(SnmpTarget& target, const ViewerSettings& settings, NetpeekIo& io);

// The whole program: start-up, then batch mode with "-s", else the window (or, in
// a build without one, a message); returns the exit status.
int run_netpeek(int argc, const char* const* argv, NetpeekIo& io);

}  // namespace torvane::netpeek
