// What the LLDP and CDP parsers are given in their tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "agent/frames/parse_common.h"
#include "agent/frames/port_facts.h"
#include "records/address_table.h"
#include "records/agent_settings.h"
#include "records/neighbor.h"

namespace torvane {

// The receiving port "eth0" (number 1, ifIndex 2), the default settings and two
// addresses on ifIndex 2 (192.168.1.10 and 10.77.0.5).
class ParseRig {
 public:
  using Parser = ParseResult (*)(const ReceivingPort&, Neighbor&, const uint8_t*, size_t, uint32_t,
                                 const ParseContext&, ParseNotes*);

  ParseRig();
  ParseRig(const ParseRig&) = delete;  // the context points into the rig
  ParseRig& operator=(const ParseRig&) = delete;

  // The frame is handed over in a buffer of exactly its size, so that a read
  // past it is caught under the address sanitizer; `notes` then hold this parse's.
  ParseResult ParseWith(Parser parser, const std::vector<uint8_t>& frame, Neighbor& record, uint32_t now);

  ReceivingPort port;
  AgentSettings settings;
  AddressTable addresses;
  ParseContext context;
  ParseNotes notes;
};

// An ID field's bytes.
std::string IdText(const IdField& id);

}  // namespace torvane
