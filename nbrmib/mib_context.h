// Everything the subagent keeps between calls: the start time, the pipe to the
// agent, the reply buffers the object handlers read values from and write values
// into, and the records a SET wrote (so that it can be undone). The library's
// exports work on one process-wide context; tests make their own over a fake pipe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "nbrmib/error_reason.h"
#include "nbrmib/mib_pipe.h"
#include "records/pipe_records.h"

namespace torvane {

// A raw record as read just before a SET overwrote it, and the request that
// writes it back.
struct MibSnapshot {
  uint32_t code = 0;
  uint32_t length = 0;
  uint8_t bytes[kSettingsImageSize] = {};
};

struct MibContext {
  explicit MibContext(MibTransport& transport) : pipe(transport) {}

  MibPipe pipe;
  // Seconds since 1970 when the host initialised the library: the base of every
  // TimeTicks value and of the remote tables' time marks.
  uint32_t startTime = 0;

  // Reply buffers, overwritten by every request that uses them.
  AgentSettings settingsCopy{};
  LocalPortRecord portRecord{};
  AddressEntry addressEntry{};
  Neighbor neighborRecord{};

  // The records the current SET wrote, oldest first.
  std::vector<MibSnapshot> snapshots;
  // Why the last failing binding failed.
  MibErrorReason reason = MibErrorReason::kNone;
  // Set once the host announces its requests itself (a GETBULK spans queries).
  bool hostBeginsRequests = false;
  // This query found the remote address table empty from its first row: its
  // other column has no rows either (each costs one request per neighbour).
  bool noRemoteAddresses = false;
};

}  // namespace torvane
