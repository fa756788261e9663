#include "tests/support/frames/port_fixture.h"

namespace torvane {

PortFacts GigabitPortFacts() {
  PortFacts port;
  port.mac = Mac{0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
  port.ifIndex = 2;
  port.connectionName = "eth0";
  port.description = "Intel PRO/1000";
  port.adminStatus = 3;
  port.tlvsTxEnable = 0xF0;
  port.linkSpeed = 10000000;  // 1 Gbit/s in units of 100 bit/s
  port.duplex = 2;
  port.autoNeg = 1;
  port.maxFrameSize = 1518;
  port.ifType = 6;
  return port;
}

void AddAddress(AddressTable& table, uint32_t ifIndex, Ipv4 address, uint8_t portListLength) {
  if (table.count >= kMaxAddresses) return;
  AddressEntry& e = table.entries[table.count++];
  e = AddressEntry{};
  e.ifIndex = ifIndex;
  e.address = address;
  e.mask = MakeIpv4(255, 255, 255, 0);
  e.portListLength = portListLength;
  if (portListLength) e.portList[0] = 0x80;
}

}  // namespace torvane
