// Stand-ins for the neighbour table and the query pipe while the agent runs
// without them: the worker calls them at the usual points and nothing happens.
#pragma once

#include "agent/runtime/agent.h"

namespace torvane {

class NoopNeighborService : public NeighborService {
 public:
  void InitNeighborTable() override {}
  void AgeNeighbors() override {}
};

class NoopPipeService : public PipeService {
 public:
  void Start() override {}
  void Stop() override {}
};

}  // namespace torvane
