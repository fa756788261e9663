// Builds the CDP version 2 frame a port advertises, and the CDP checksum that the
// parser checks the same way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "agent/frames/port_facts.h"
#include "records/address_table.h"
#include "records/agent_settings.h"

namespace torvane {

// Returns the frame length; never writes past `size` (nor 1514 bytes, the most an
// IEEE 802.3 length field can describe). Address entries that would not fit are
// left out and the count says how many were written; a buffer smaller than the
// 26-byte header gives 0 (nothing to send).
// Mode 0 builds the last frame of a stopping agent: hold time 0, so that a peer
// that honours it forgets us at once instead of keeping us for a whole hold time.
size_t BuildCdpFrame(const PortFacts& port, const AgentSettings& settings,
                     std::string_view osVersionText, const AddressTable& addresses,
                     uint8_t* frame, size_t size, int mode = 1);

// How a sum takes an odd last octet: peers differ. kSigned widens it to a word
// as a signed octet in ones' complement (what we send, and what most receivers
// check); kPlain adds it as 0x00NN.
enum class CdpOddOctet { kSigned, kPlain };

// The CDP checksum over `length` bytes (the PDU from its version octet on).
uint16_t CdpChecksum(const uint8_t* data, size_t length, CdpOddOctet odd = CdpOddOctet::kSigned);

// True when the PDU, with its checksum in place, sums to zero by either rule.
bool CdpChecksumValid(const uint8_t* data, size_t length);

}  // namespace torvane
