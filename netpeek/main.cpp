// netpeek: the SNMPv1 viewer. Batch mode ("-s") is chosen from the arguments
// before anything of the window exists, so it runs without a display; otherwise
// the window opens.
#include <cstdio>
#include <cstdlib>

#include "netpeek/batch_mode.h"
#ifdef NETPEEK_WITH_WINDOW
#include "netpeek/window/window_mode.h"
#endif

int main(int argc, char** argv) {
  auto transport = torvane::netpeek::make_linux_udp_transport();
  torvane::netpeek::NetpeekIo io;
  io.out = [](std::string_view text) { std::fwrite(text.data(), 1, text.size(), stdout); };
  io.err = [](std::string_view text) { std::fwrite(text.data(), 1, text.size(), stderr); };
  io.transport = transport.get();
  io.port_env = std::getenv("NETPEEK_SNMP_PORT");
#ifdef NETPEEK_WITH_WINDOW
  const char* program = argc > 0 && argv[0] ? argv[0] : "netpeek";
  io.run_window = [&io, program](torvane::netpeek::SnmpTarget& target, torvane::netpeek::ViewerSettings& settings) {
    return torvane::netpeek::run_window(target, settings, program, io.err);
  };
#endif
  int status = torvane::netpeek::run_netpeek(argc, argv, io);
  std::fflush(stdout);
  return status;
}
