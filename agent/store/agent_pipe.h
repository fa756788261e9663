// The agent's query pipe as the worker starts and stops it: the server at the
// socket path ($TORVANE_PIPE or /run/torvane_lldp), the request handler over the
// agent's state, and the write right taken from a write of "Used" to the agent's
// store under the client's identity.
#pragma once

#include <string>

#include "agent/store/neighbor_table.h"
#include "agent/store/pipe_handler.h"
#include "agent/store/pipe_server.h"

namespace torvane {

class AgentPipe : public PipeService {
 public:
  explicit AgentPipe(const PipeState& state, std::string path = {}, PipeServerOptions options = {});
  void Start() override { server_.Start(); }
  void Stop() override { server_.Stop(); }
  PipeServer& server() { return server_; }

 private:
  AgentPipeHandler handler_;
  ImpersonatedWriteRight right_;
  PipeServer server_;
};

// The write-right probe: "Used" = "1" in the agent's store subkey "lldp".
bool WriteUsedValue(RegistryStore& registry);

}  // namespace torvane
