// The device back-end: one raw packet socket per adapter, opened by the agent
// itself. The protocol filter runs in the kernel, reads take whole batches and
// hand them on as capture records.
#pragma once

#include <memory>

#include "agent/link/packet_backend.h"

namespace torvane {

class Console;

std::unique_ptr<PacketBackend> MakePacketSocketBackend();

// The install and remove commands of the packet service. There is no service to
// install: install checks that the kernel has packet sockets and says so, remove
// has nothing to remove. Both always print; 1 on success.
int InstallPacketDriver(Console& console);
int RemovePacketDriver(Console& console);

}  // namespace torvane
