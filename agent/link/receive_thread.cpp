#include "agent/link/receive_thread.h"

#include <cstring>

#include "agent/link/capture_buffer.h"

namespace torvane {

bool ReadPacket(ReceiveContext& context, Packet& packet) {
  PacketBackend& backend = *context.link->backend;
  if (backend.ReadPacket(*context.link, packet)) return true;
  if (packet.readError && backend.TracesDeviceErrors())
    TraceFormat(*context.trace, "ReadFile Error: %u\n", static_cast<unsigned>(packet.readError));
  return false;
}

void ReceiveThread(ReceiveContext context) {
  Port& port = *context.port;
  PortLink& link = *context.link;
  PacketBackend& backend = *link.backend;

  std::unique_ptr<Packet> packet = backend.AllocatePacket();
  if (!packet) {
    TraceFormat(*context.trace, "%s recv init failed\n", port.ConnectionName().c_str());
    port.receiverState = kReceiverStopped;  // the opener closes the adapter
    return;
  }
  // One read's batch, on this thread's own stack.
  alignas(8) uint8_t buffer[kReceiveBufferBytes];
  InitPacket(*packet, buffer, sizeof buffer);
  if (!backend.SetReadEvent(link, *packet)) {
    if (backend.TracesDeviceErrors()) TraceFormat(*context.trace, "SetEventHandle failed\n");
    packet.reset();
    port.receiverState = kReceiverStopped;
    return;
  }
  packet->bytesReceived = 0;
  port.receiverState = kReceiverRunning;

  for (;;) {
    if (port.receiverState == kReceiverStopped) break;
    // A batch of 14 bytes or fewer cannot hold a frame.
    if (packet->bytesReceived > 14) {
      DispatchBuffer(port, buffer, packet->bytesReceived, *context.dispatcher);
      std::memset(buffer, 0, 32);
    }
    if (port.receiverState == kReceiverStopped) break;
    if (!ReadPacket(context, *packet)) {
      if (port.receiverState != kReceiverStopped) {
        TraceFormat(*context.trace, "%s recv data failed\n", port.ConnectionName().c_str());
        // The worker may be sending on this port or closing it: it closes the
        // port at its next turn, after joining this thread.
        link.readerFailed = true;
        port.receiverState = kReceiverStopped;
      }
      break;
    }
  }
  packet.reset();
}

}  // namespace torvane
