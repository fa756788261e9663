// The agent's program entry: "-install", "-remove", "-debug" (console mode) or,
// without an argument, the service under the service manager. It wires the Linux
// implementations together and hands over to the service host.
#include <memory>

#include "agent/store/frame_dispatch.h"
#include "agent/link/linux_link_layer.h"
#include "agent/link/packet_socket.h"
#include "agent/runtime/agent.h"
#include "agent/runtime/console_host.h"
#include "agent/runtime/service_host.h"
#include "agent/store/agent_pipe.h"
#include "agent/store/event_log.h"
#include "agent/store/neighbor_table.h"
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
  std::unique_ptr<Profile> profile = MakeFileProfile();
  std::unique_ptr<RegistryStore> registry = MakeFileRegistry(DefaultRegistryRoot());
  std::unique_ptr<SystemFacts> facts = MakeLinuxSystemFacts();
  SystemClock clock;

  Agent agent(SettingsHost{*profile, *registry, *facts}, clock, console);
  ApplyTestTiming(agent.timing);
  EventLog log(agent.settings, *facts, clock, agent.logLock);
  NeighborTable table(log, clock);
  FrameDispatch dispatch(
      DispatchParts{agent.ports, agent.settings, agent.lists, table, clock, agent, agent.trace});
  LinuxLinkLayer link(LinkContext{agent.ports, agent.settings, agent.lists, *registry,
                                  agent.usePacketLibrary, agent.trace},
                      dispatch);
  AgentPipe pipe(PipeState{agent.settings, agent.ports, agent.lists, *registry, agent, agent, table});
  agent.link = &link;
  agent.neighbors = &table;
  agent.pipe = &pipe;

  SyslogSink syslog;
  ProcessRunner commands;
  ServiceEnvironment env{console, syslog, commands};
  FillServiceEnvironment(env);
  env.runAgent = [&](int c, char** v) { return RunAgent(agent, c, v); };
  env.requestStop = [&] { RequestStop(agent); };
  env.runDebug = [&](int c, char** v) { return RunConsole(agent, c, v); };
  env.installPacketDriver = [&] { return InstallPacketDriver(console); };
  env.removePacketDriver = [&] { return RemovePacketDriver(console); };
  return ServiceEntry(argc, argv, env);
}
