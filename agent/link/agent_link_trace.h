// Link access traces written through the agent's console trace (under its log
// lock, only in "-debug" mode).
#pragma once

#include "agent/link/link_trace.h"
#include "agent/runtime/agent.h"

namespace torvane {

class AgentLinkTrace : public LinkTrace {
 public:
  explicit AgentLinkTrace(Agent& agent) : agent_(agent) {}
  bool Enabled() const override { return agent_.debugLevel.load() != 0; }
  void Write(std::string_view text) override { agent_.Trace(text); }

 private:
  Agent& agent_;
};

}  // namespace torvane
