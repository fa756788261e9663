// netpeek: the SNMPv1 viewer. This build runs batch mode ("-s") only.
#include <cstdio>
#include <cstdlib>

#include "netpeek/batch_mode.h"

int main(int argc, char** argv) {
  auto transport = torvane::netpeek::make_linux_udp_transport();
  torvane::netpeek::NetpeekIo io;
  io.out = [](std::string_view text) { std::fwrite(text.data(), 1, text.size(), stdout); };
  io.err = [](std::string_view text) { std::fwrite(text.data(), 1, text.size(), stderr); };
  io.transport = transport.get();
  io.port_env = std::getenv("NETPEEK_SNMP_PORT");
  int status = torvane::netpeek::run_netpeek(argc, argv, io);
  std::fflush(stdout);
  return status;
}
