// nbrmib-agentx: serves an SNMP extension library to snmpd as an AgentX
// subagent. It loads the library by name and binds its exports as the SNMP
// service does; a fault in the library then ends this process, never snmpd.
// When snmpd restarts, the subagent connects again (every ping interval) and
// initialises the library once more, so that its times start with snmpd's.
//
//   nbrmib-agentx [-x AGENTX_SOCKET] [-l LIBRARY] [-p PING_SECONDS] [-q]
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <net-snmp/agent/net-snmp-agent-includes.h>
#include <net-snmp/agent/agent_callbacks.h>

#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "nbrmib/bridge.h"

namespace {

volatile sig_atomic_t stopRequested = 0;

void OnStop(int) { stopRequested = 1; }

// The library beside this program, where `cmake --install` puts both.
std::string DefaultLibrary() {
  char self[PATH_MAX] = {};
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return "libnbrmib.so";
  std::string path(self, static_cast<size_t>(n));
  size_t slash = path.rfind('/');
  return path.substr(0, slash + 1) + "libnbrmib.so";
}

int OnConnected(int, int, void*, void*) {
  torvane::ReinitBridge();
  return SNMPERR_SUCCESS;
}

void Usage() {
  std::fprintf(stderr, "usage: nbrmib-agentx [-x AGENTX_SOCKET] [-l LIBRARY] [-p PING_SECONDS] [-q]\n");
}

}  // namespace

int main(int argc, char** argv) {
  std::string socketPath;
  std::string library = DefaultLibrary();
  int ping = 5;
  bool quiet = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "-q") {
      quiet = true;
    } else if ((a == "-x" || a == "-l" || a == "-p") && i + 1 < argc) {
      const char* v = argv[++i];
      if (a == "-x") socketPath = v;
      if (a == "-l") library = v;
      if (a == "-p") {
        ping = std::atoi(v);
        if (ping < 1 || ping > 3600) {
          Usage();
          return 2;
        }
      }
    } else {
      Usage();
      return 2;
    }
  }

  struct sigaction sa{};
  sa.sa_handler = OnStop;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);

  if (!quiet) snmp_enable_stderrlog();
  netsnmp_ds_set_boolean(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_ROLE, 1);
  if (!socketPath.empty())
    netsnmp_ds_set_string(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_X_SOCKET, socketPath.c_str());
  // Connecting again after a master restart rides on the ping.
  netsnmp_ds_set_int(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_AGENTX_PING_INTERVAL, ping);
  // A subagent has no state of its own to keep between runs.
  netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_PERSIST_STATE, 1);
  netsnmp_ds_set_boolean(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_NO_CONNECTION_WARNINGS, 1);

  std::string error;
  std::unique_ptr<torvane::Extension> extension = torvane::LoadExtension(library, error);
  if (!extension) {
    std::fprintf(stderr, "nbrmib-agentx: %s\n", error.c_str());
    return 1;
  }

  init_agent("nbrmib-agentx");
  snmp_register_callback(SNMP_CALLBACK_APPLICATION, SNMPD_CALLBACK_INDEX_START, OnConnected, nullptr);
  if (!torvane::RegisterBridge(std::move(extension), "nbrmib")) {
    std::fprintf(stderr, "nbrmib-agentx: cannot register %s\n", library.c_str());
    snmp_shutdown("nbrmib-agentx");
    return 1;
  }
  init_snmp("nbrmib-agentx");
  // Reading the configuration set the ping interval to its default: ours again,
  // for the reconnects to come.
  netsnmp_ds_set_int(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_AGENTX_PING_INTERVAL, ping);

  while (!stopRequested) agent_check_and_process(1);

  torvane::UnregisterBridge();
  snmp_shutdown("nbrmib-agentx");
  return 0;
}
