#include "agent/store/agent_pipe.h"

#include "platform/registry_values.h"
#include "records/pipe_client.h"

namespace torvane {

bool WriteUsedValue(RegistryStore& registry) {
  static const uint8_t kOne[] = "1";
  return RegWriteValue(registry, "lldp", "Used", kOne, -1) != 0;
}

AgentPipe::AgentPipe(const PipeState& state, std::string path, PipeServerOptions options)
    : handler_(state),
      right_([&registry = state.registry] { return WriteUsedValue(registry); }),
      server_(path.empty() ? PipePath() : std::move(path), handler_, right_, options) {}

}  // namespace torvane
