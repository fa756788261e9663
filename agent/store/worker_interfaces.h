// Where the neighbour store and the query pipe meet the agent's worker: what they
// ask of the worker and its settings (the runtime implements it), and what the
// worker drives of them.
#pragma once

#include "records/agent_settings.h"

namespace torvane {

// A port cycle at once (LLDP-MED fast start): the worker wakes and runs a cycle
// on its next pass, whatever its transmit interval.
class CycleRequests {
 public:
  virtual ~CycleRequests() = default;
  virtual void RunCycleNow() = 0;
};

// Pipe code 2: the changeable keys of a settings block written to lldp.ini, and
// the settings read back from it (which derives everything else).
class SettingsWriter {
 public:
  virtual ~SettingsWriter() = default;
  // False when lldp.ini could not be written.
  virtual bool SaveSettings(const AgentSettings& block) = 0;
  virtual void ReloadSettings() = 0;
};

// The neighbour table as the worker drives it.
class NeighborService {
 public:
  virtual ~NeighborService() = default;
  virtual void InitNeighborTable() = 0;  // writes the start line of the event log
  virtual void AgeNeighbors() = 0;
};

// The query pipe listener as the worker starts and stops it.
class PipeService {
 public:
  virtual ~PipeService() = default;
  virtual void Start() = 0;  // starts the listener thread
  virtual void Stop() = 0;   // ends the listener and its clients, joins them
};

}  // namespace torvane
