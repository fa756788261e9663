// Neighbour table and query pipe stand-ins for worker tests: the worker calls
// them at the usual points and nothing happens.
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
