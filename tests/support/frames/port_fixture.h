// Ports and address tables as the frame tests and their peers need them.
#pragma once

#include <cstdint>

#include "agent/frames/port_facts.h"
#include "records/address_table.h"

namespace torvane {

// A ready, connected gigabit Ethernet port: MAC 00:11:22:33:44:55, connection
// name "eth0", description "Intel PRO/1000", ifIndex 2, 1 Gbit/s full duplex with
// auto-negotiation, maximum frame size 1518, no VLAN, transmit and receive on,
// every optional TLV on.
PortFacts GigabitPortFacts();

// Appends an entry (portListLength 0 means "not advertised on any port").
void AddAddress(AddressTable& table, uint32_t ifIndex, Ipv4 address, uint8_t portListLength = 1);

}  // namespace torvane
