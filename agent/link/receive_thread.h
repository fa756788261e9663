// The receive thread of an open port: it waits for captured frames, reads them a
// batch at a time and hands each frame to the dispatcher. It never closes its
// port: when a read fails while the port is meant to run, it marks the port's
// link failed and ends, and the worker closes the port at its next turn.
#pragma once

#include "agent/link/link_layer.h"
#include "agent/link/link_trace.h"
#include "agent/link/packet_backend.h"

namespace torvane {

struct ReceiveContext {
  Port* port;
  PortLink* link;
  FrameDispatcher* dispatcher;
  LinkTrace* trace;
};

// The thread's entry. Sets receiverState 2 once armed (0 when it cannot arm),
// then reads until the state turns 0 or a read fails.
void ReceiveThread(ReceiveContext context);

// One read on the port's adapter; traces "ReadFile Error: %u\n" for a failed read
// of the device back-end (not for a read ended by the port closing).
bool ReadPacket(ReceiveContext& context, Packet& packet);

}  // namespace torvane
