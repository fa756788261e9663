// Builds the LLDP frame a port advertises (normal or shutdown).
#pragma once

#include <cstddef>
#include <cstdint>

#include "agent/link/interface_tables.h"
#include "records/agent_settings.h"
#include "agent/runtime/port.h"

namespace torvane {

constexpr size_t kFrameBufferSize = 1500;

// Mode 0 builds the shutdown frame (TTL 0), any other a normal one. Writes the
// port's mauType and clears an expired medEndpointSeen. Runs on the worker
// thread, the only writer of the port's texts, so it reads them in place.
// Returns the frame length; never writes past `size`. When the frame would not
// fit, Management Address TLVs are left out first (see lldp_builder.cpp); a
// buffer too small for the mandatory TLVs and End gives 0 (nothing to send).
size_t BuildLldpFrame(Port& port, const AgentSettings& settings, const AddressTable& addresses,
                      int mode, uint8_t* frame, size_t size, uint32_t now);

}  // namespace torvane
