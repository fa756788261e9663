#include "records/address_table.h"

namespace torvane {

Ipv4 AddressOfInterface(const AddressTable& table, uint32_t ifIndex) {
  for (uint32_t i = 0; i < table.count && i < kMaxAddresses; ++i)
    if (table.entries[i].ifIndex == ifIndex) return table.entries[i].address;
  return 0;
}

Ipv4 AddressInSubnet(const AddressTable& table, uint32_t ifIndex, Ipv4 address) {
  for (uint32_t i = 0; i < table.count && i < kMaxAddresses; ++i) {
    const AddressEntry& e = table.entries[i];
    if (e.ifIndex == ifIndex && (e.mask & e.address) == (e.mask & address)) return e.address;
  }
  return 0;
}

}  // namespace torvane
