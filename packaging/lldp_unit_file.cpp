// lldp_unit_file: prints the agent's systemd unit for an installed layout, as
// "lldp -install" would write it for that layout, so that the package's unit and
// the one the agent writes come from the same text. Used by the build only.
//
//   lldp_unit_file AGENT SETTINGS_FILE SETTINGS_TEXT_FILE HEADING
//
// AGENT is the agent's installed path, SETTINGS_FILE where its lldp.ini leads to
// once installed, SETTINGS_TEXT_FILE a file holding what that lldp.ini will hold
// (read now), HEADING the unit's first comment line.
#include <cstdio>
#include <fstream>
#include <sstream>

#include "agent/runtime/service_host.h"
#include "platform/console.h"
#include "platform/registry_store.h"
#include "records/pipe_client.h"

int main(int argc, char** argv) {
  using namespace torvane;
  if (argc != 5) {
    std::fprintf(stderr, "usage: lldp_unit_file AGENT SETTINGS_FILE SETTINGS_TEXT_FILE HEADING\n");
    return 2;
  }
  std::ifstream in(argv[3]);
  if (!in) {
    std::fprintf(stderr, "lldp_unit_file: cannot read %s\n", argv[3]);
    return 1;
  }
  std::stringstream text;
  text << in.rdbuf();

  StdoutConsole console;
  SyslogSink errors;
  ProcessRunner commands;
  ServiceEnvironment env{console, errors, commands};
  env.executablePath = argv[1];
  // The installed defaults, whatever this build's environment names.
  env.writablePaths = ServiceWritablePaths(argv[1], argv[2], text.str(), kRegistryRoot, kDefaultPipePath);
  const std::string unit = UnitFileText(env, std::string("# ") + argv[4]);
  std::fwrite(unit.data(), 1, unit.size(), stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}
