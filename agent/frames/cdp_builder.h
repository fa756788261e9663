// Builds the CDP version 2 frame a port advertises, and the CDP checksum that the
// parser checks the same way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "agent/link/interface_tables.h"
#include "agent/runtime/agent_settings.h"
#include "agent/runtime/port.h"

namespace torvane {

// Returns the frame length; never writes past `size`.
size_t BuildCdpFrame(const Port& port, const AgentSettings& settings,
                     std::string_view osVersionText, const AddressTable& addresses,
                     uint8_t* frame, size_t size);

// The CDP checksum over `length` bytes (the PDU from its version octet on).
uint16_t CdpChecksum(const uint8_t* data, size_t length);

}  // namespace torvane
