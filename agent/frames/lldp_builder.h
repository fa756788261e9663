// Builds the LLDP frame a port advertises (normal or shutdown).
#pragma once

#include <cstddef>
#include <cstdint>

#include "agent/frames/port_facts.h"
#include "records/address_table.h"
#include "records/agent_settings.h"

namespace torvane {

constexpr size_t kFrameBufferSize = 1500;

// What building a normal frame found out about the port, for the caller to keep.
struct LldpBuildNotes {
  bool mauTypeSet = false;
  uint16_t mauType = 0;  // the operational MAU type advertised
  // The endpoint time is older than one of our TTLs: the endpoint is gone, and
  // the frame was built as if none had been heard.
  bool medEndpointExpired = false;
};

// Mode 0 builds the shutdown frame (TTL 0), any other a normal one. Returns the
// frame length; never writes past `size`. When the frame would not fit,
// Management Address TLVs are left out first (see lldp_builder.cpp); a buffer
// too small for the mandatory TLVs and End gives 0 (nothing to send).
size_t BuildLldpFrame(const PortFacts& port, const AgentSettings& settings,
                      const AddressTable& addresses, int mode, uint8_t* frame, size_t size,
                      uint32_t now, LldpBuildNotes* notes = nullptr);

}  // namespace torvane
