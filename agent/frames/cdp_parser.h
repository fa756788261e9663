// Reads a received CDP frame into the same neighbour record that LLDP fills, so
// that CDP-only switches show up like LLDP neighbours.
#pragma once

#include <cstddef>
#include <cstdint>

#include "agent/frames/parse_common.h"

namespace torvane {

// `frame` is the CDP frame as the dispatcher lays it out: addresses at 0..11, the
// 802.3 length at 12, LLC/SNAP at 14, version at 22, TTL at 23, checksum at 24,
// TLVs from 26; `length` is the 802.3 length + 14. Malformed (record untouched):
// shorter than 26 bytes, version above 2, a checksum that neither way of summing
// an odd last octet validates (its result goes to `notes`), or a record that
// already holds LLDP management addresses (a sender speaking both keeps what
// LLDP gave).
ParseResult ParseCdpFrame(const ReceivingPort& port, Neighbor& record, const uint8_t* frame,
                          size_t length, uint32_t now, const ParseContext& context,
                          ParseNotes* notes = nullptr);

// CDP capability bits to LLDP ones: router 0x01 -> 0x10, transparent bridge 0x02
// and switch 0x08 -> bridge 0x04, host 0x10 -> station 0x80, repeater 0x40 ->
// 0x02; other bits are dropped.
uint32_t CdpToLldpCapabilities(uint32_t cdp);

}  // namespace torvane
