// The agent's program entry: "-debug" runs it as a console program; anything
// else prints the usage.
#include <memory>

#include "agent/link/counting_dispatcher.h"
#include "agent/link/linux_link_layer.h"
#include "agent/runtime/agent.h"
#include "agent/runtime/console_host.h"
#include "agent/runtime/noop_services.h"
#include "common/text.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/profile.h"
#include "platform/registry_store.h"
#include "platform/system_facts.h"

int main(int argc, char** argv) {
  using namespace torvane;
  // Before any thread exists, so that every thread inherits the mask.
  BlockStopSignals();
  StdoutConsole console;
  if (argc < 2 || !EqualsNoCase(argv[1], "-debug")) {
    PrintUsage(console);
    return 0;
  }
  std::unique_ptr<Profile> profile = MakeFileProfile();
  std::unique_ptr<RegistryStore> registry = MakeFileRegistry(DefaultRegistryRoot());
  std::unique_ptr<SystemFacts> facts = MakeLinuxSystemFacts();
  SystemClock clock;
  Agent agent(SettingsHost{*profile, *registry, *facts}, clock, console);
  ApplyTestTiming(agent.timing);
  CountingDispatcher dispatcher;
  LinuxLinkLayer link(agent, dispatcher);
  NoopNeighborService neighbors;
  NoopPipeService pipe;
  agent.link = &link;
  agent.neighbors = &neighbors;
  agent.pipe = &pipe;
  return RunConsole(agent, argc, argv);
}
