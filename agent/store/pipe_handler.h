// What each query pipe request does: read and write the settings, walk the
// address table, read and change the local ports, list, read and delete
// neighbours, write values of the agent's store. Pure over the agent's state: no
// socket, no lock of its own (the server holds the pipe lock around each call).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "agent/state/interface_tables.h"
#include "agent/state/port.h"
#include "agent/state/settings_store.h"
#include "agent/store/neighbor_table.h"
#include "agent/store/pipe_server.h"
#include "agent/store/worker_interfaces.h"
#include "platform/registry_store.h"

namespace torvane {

// The parts of the agent a request reaches; all borrowed.
struct PipeState {
  SettingsStore& settings;
  PortTable& ports;
  PublishedLists& lists;          // the host's addresses and their port lists
  RegistryStore& registry;        // the agent's store
  SettingsWriter& settingsFile;   // lldp.ini (code 2)
  CycleRequests& cycles;          // LLDP-MED restarted by code 2
  NeighborTable& table;
};

// Handles the request in `message` (`length` bytes received; the buffer holds
// kPipeMessageMax bytes) and builds the reply in place. Returns the reply's length:
// 4 for a status-only reply, else 8 + the reply's data length. Never fails as a
// whole; every refusal is a status. Reads nothing past `length`.
size_t HandleRequest(PipeState& state, uint8_t* message, size_t length, bool mayWrite);

class AgentPipeHandler : public PipeRequestHandler {
 public:
  explicit AgentPipeHandler(PipeState state) : state_(state) {}
  size_t Handle(uint8_t* message, size_t length, bool mayWrite) override {
    return HandleRequest(state_, message, length, mayWrite);
  }

 private:
  PipeState state_;
};

}  // namespace torvane
