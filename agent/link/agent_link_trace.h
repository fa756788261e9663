// Link access traces written through the agent's console trace (under its log
// lock, only in "-debug" mode).
#pragma once

#include "agent/link/link_trace.h"
#include "agent/state/console_trace.h"

namespace torvane {

class AgentLinkTrace : public LinkTrace {
 public:
  explicit AgentLinkTrace(ConsoleTrace& trace) : trace_(trace) {}
  bool Enabled() const override { return trace_.Enabled(); }
  void Write(std::string_view text) override { trace_.Write(text); }

 private:
  ConsoleTrace& trace_;
};

}  // namespace torvane
