// Frames for the parser, dispatch and peer tests, written field by field, and
// the captured frames of tests/fixtures.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <vector>

#include "agent/frames/cdp_builder.h"

namespace torvane::nbrtest {

using Bytes = std::vector<uint8_t>;

Bytes ReadFixture(std::string_view name);  // tests/fixtures/<name>

// An LLDP frame, TLV by TLV. Source 02:00:00:00:00:01 to the nearest-bridge
// address unless told otherwise.
class LldpFrame {
 public:
  LldpFrame();
  LldpFrame& Destination(std::initializer_list<uint8_t> mac);
  LldpFrame& Source(const uint8_t mac[6]);
  LldpFrame& Source(std::initializer_list<uint8_t> mac);
  LldpFrame& Tlv(unsigned type, const Bytes& value);
  LldpFrame& Tlv(unsigned type, std::string_view text);
  LldpFrame& Chassis(uint8_t subtype, std::string_view id);
  LldpFrame& PortId(uint8_t subtype, std::string_view id);
  LldpFrame& Ttl(uint16_t seconds);
  // The three mandatory TLVs: chassis "chassis-1" (local), port "ge-0/0/1"
  // (interface name), TTL.
  LldpFrame& Mandatory(uint16_t ttl = 120);
  LldpFrame& ManagementIpv4(std::initializer_list<uint8_t> address, uint8_t ifSubtype = 2,
                            uint32_t ifNumber = 7);
  LldpFrame& Org(std::initializer_list<uint8_t> oui, uint8_t subtype, const Bytes& data);
  LldpFrame& End();
  LldpFrame& Raw(const Bytes& bytes);
  const Bytes& bytes() const { return bytes_; }

 private:
  Bytes bytes_;
};

// A CDP frame: 802.3 length and checksum filled in by Seal. Source
// 02:00:00:00:00:01, like LldpFrame's, unless told otherwise.
class CdpFrame {
 public:
  explicit CdpFrame(uint8_t version = 2, uint8_t ttl = 180);
  CdpFrame& Source(std::initializer_list<uint8_t> mac);
  CdpFrame& Tlv(uint16_t type, const Bytes& value);
  CdpFrame& Tlv(uint16_t type, std::string_view text);
  CdpFrame& Raw(const Bytes& bytes);
  // Fills the 802.3 length and a checksum field that makes the check over the
  // PDU come out as `result` (0 for a correctly summed frame) by the given way of
  // summing an odd last octet.
  Bytes Seal(uint16_t result = 0, CdpOddOctet odd = CdpOddOctet::kSigned) const;
  // Fills the length and leaves the checksum field as it is.
  Bytes Unsealed() const;

 private:
  Bytes bytes_;
};

// An address record of a CDP Addresses TLV.
Bytes CdpIpv4Record(std::initializer_list<uint8_t> address);
Bytes CdpIpv6Record(const uint8_t address[16]);
Bytes CdpAddresses(uint32_t count, const std::vector<Bytes>& records);

// Sets the checksum field of a CDP frame so that the check gives `result`.
void SealCdpChecksum(Bytes& frame, uint16_t result, CdpOddOctet odd = CdpOddOctet::kSigned);

}  // namespace torvane::nbrtest
