// Reads a received LLDP frame into a neighbour record.
#pragma once

#include <cstddef>
#include <cstdint>

#include "agent/frames/parse_common.h"

namespace torvane {

// Fills `record` (a zeroed record for a new sender, or the table's record of a
// known one, under tableLock) from an LLDP frame of `length` captured bytes.
// Malformed: shorter than 30 bytes (record untouched), or the Chassis ID, Port ID
// and TTL TLVs not first and in that order (the walk stops there; what the TLVs
// before wrote stays). A TLV that runs past the frame ends the walk quietly.
// An LLDP-MED endpoint heard by a network connectivity device is reported in
// `notes` (when given); the port's fast start is its caller's to run.
ParseResult ParseLldpFrame(const ReceivingPort& port, Neighbor& record, const uint8_t* frame,
                           size_t length, uint32_t now, const ParseContext& context,
                           ParseNotes* notes = nullptr);

// The mode bits (bit 0 full duplex, bits 1..2 speed class) of an operational MAU type.
uint32_t ModeFromMauType(uint32_t mauType);

}  // namespace torvane
