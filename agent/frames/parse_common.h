// What the LLDP and CDP parsers share: their result, what they read besides the
// frame, what they report to their caller, and the fields both fill from the
// receiving port.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "agent/frames/port_facts.h"
#include "records/address_table.h"
#include "records/agent_settings.h"
#include "records/neighbor.h"

namespace torvane {

// stored: the record holds a non-zero ttl; remove: the frame was read to its end
// and ttl is 0 (a shutdown frame); malformed: the frame was refused.
enum ParseResult : int { kParseMalformed = 0, kParseStored = 1, kParseRemove = 2 };

struct ParseContext {
  // MedDevType (whether we answer LLDP-MED endpoints).
  const AgentSettings* settings = nullptr;
  // The host's addresses, for this host's address on the port and for the
  // management address that lies in one of the port's subnets.
  const AddressTable* addresses = nullptr;
};

// What a parse saw that its caller acts on, whatever the result.
struct ParseNotes {
  // An LLDP-MED endpoint (class I to III) spoke, and we are a network
  // connectivity device: the caller records the time and starts fast start.
  bool medEndpointHeard = false;
  // The CDP checksum's result when it refused the frame (0 otherwise).
  uint16_t cdpChecksum = 0;
};

// localPort, interfaceName, interfaceAddress and sourceMac, as every accepted
// frame sets them. The frame holds at least its 12 address bytes.
inline void FillPortFields(const ReceivingPort& port, Neighbor& record, const uint8_t* frame,
                           const ParseContext& context) {
  static_assert(sizeof record.interfaceName == sizeof port.interfaceName);
  record.localPort = port.number;
  std::memcpy(record.interfaceName, port.interfaceName, sizeof record.interfaceName);
  record.interfaceName[sizeof record.interfaceName - 1] = 0;
  Ipv4 own = context.addresses ? AddressOfInterface(*context.addresses, port.ifIndex) : 0;
  std::memcpy(record.interfaceAddress, &own, 4);
  std::memcpy(record.sourceMac, frame + 6, 6);
}

// Clears what a neighbour states afresh in every frame: its texts, capabilities,
// port address and management address count. VLAN, MAU type, frame size, mode and
// the address arrays keep their last values (a neighbour that stops sending those
// TLVs keeps what it said).
inline void ClearAdvertisedFields(Neighbor& record) {
  std::memset(record.portDescription, 0, sizeof record.portDescription);
  std::memset(record.systemName, 0, sizeof record.systemName);
  std::memset(record.systemDescription, 0, sizeof record.systemDescription);
  record.capSupported = 0;
  record.capEnabled = 0;
  std::memset(record.portAddress, 0, 4);
  record.manAddrCount = 0;
}

// The first non-zero stored management address, else 0.
inline void PickPortAddress(Neighbor& record) {
  uint32_t n = record.manAddrCount < 8 ? record.manAddrCount : 8;
  std::memset(record.portAddress, 0, 4);
  for (uint32_t i = 0; i < n; ++i) {
    const uint8_t* a = record.manAddr[i];
    if (a[0] | a[1] | a[2] | a[3]) {
      std::memcpy(record.portAddress, a, 4);
      return;
    }
  }
}

// The host's address of the port's interface whose subnet holds `address`, else 0.
inline Ipv4 SubnetAddress(const ReceivingPort& port, const uint8_t address[4],
                          const ParseContext& context) {
  if (!context.addresses) return 0;
  Ipv4 a;
  std::memcpy(&a, address, 4);
  return AddressInSubnet(*context.addresses, port.ifIndex, a);
}

}  // namespace torvane
