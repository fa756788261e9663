// Where every frame a receive thread captures goes: the agent's own frames and
// frames the settings exclude are dropped, LLDP is told from CDP, and the record
// the frame speaks for is found or made, filled by its parser and refreshed,
// inserted or removed in the neighbour table. What a parse reports about the
// port (an LLDP-MED endpoint heard, a refused CDP checksum) is acted on here.
#pragma once

#include <cstddef>
#include <cstdint>

#include "agent/frames/parse_common.h"
#include "agent/state/console_trace.h"
#include "agent/state/frame_dispatcher.h"
#include "agent/state/interface_tables.h"
#include "agent/state/port.h"
#include "agent/state/settings_store.h"
#include "agent/store/neighbor_table.h"
#include "agent/store/worker_interfaces.h"
#include "platform/clock.h"

namespace torvane {

// What the dispatcher reads and writes besides the frame. Everything is borrowed
// and must outlive the dispatcher.
struct DispatchParts {
  PortTable& ports;                 // own-address test over the ports in use
  const SettingsStore& settings;    // a consistent snapshot per frame
  const PublishedLists& lists;      // the host's addresses
  NeighborTable& table;
  Clock& clock;
  CycleRequests& cycles;            // LLDP-MED fast start
  ConsoleTrace& trace;              // refused CDP checksums
};

class FrameDispatch : public FrameDispatcher {
 public:
  explicit FrameDispatch(const DispatchParts& parts) : parts_(parts) {}

  // Called by the receive thread of `port` for each captured frame in buffer
  // order; `length` is the number of bytes captured, and nothing beyond it is
  // read. Dropped frames leave no trace; frames that neither store nor refresh
  // a record are counted in remTablesDrops.
  void DispatchFrame(Port& port, const uint8_t* frame, size_t length) override;

 private:
  // Lookup, parse and decision for one LLDP or CDP frame.
  void Receive(Port& port, const uint8_t* frame, size_t length, uint32_t now, int kind,
               const AgentSettings& settings);
  // What the parse reported about the port.
  void ApplyNotes(Port& port, const ParseNotes& notes, const uint8_t* frame, size_t length,
                  uint32_t now, const AgentSettings& settings);

  DispatchParts parts_;
};

}  // namespace torvane
