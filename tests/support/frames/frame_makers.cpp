#include "tests/support/frames/frame_makers.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>

#include "agent/frames/cdp_builder.h"

namespace torvane::nbrtest {

Bytes ReadFixture(std::string_view name) {
  std::ifstream in(std::string(LLDP_SOURCE_DIR) + "/tests/fixtures/" + std::string(name),
                   std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// ---- LLDP ----

LldpFrame::LldpFrame() {
  bytes_ = {0x01, 0x80, 0xC2, 0x00, 0x00, 0x0E, 0x02, 0x00, 0x00, 0x00, 0x00, 0x01, 0x88, 0xCC};
}

LldpFrame& LldpFrame::Destination(std::initializer_list<uint8_t> mac) {
  std::copy(mac.begin(), mac.end(), bytes_.begin());
  return *this;
}

LldpFrame& LldpFrame::Source(const uint8_t mac[6]) {
  std::copy(mac, mac + 6, bytes_.begin() + 6);
  return *this;
}

LldpFrame& LldpFrame::Source(std::initializer_list<uint8_t> mac) {
  std::copy(mac.begin(), mac.end(), bytes_.begin() + 6);
  return *this;
}

LldpFrame& LldpFrame::Tlv(unsigned type, const Bytes& value) {
  bytes_.push_back(static_cast<uint8_t>((type << 1) | ((value.size() >> 8) & 1)));
  bytes_.push_back(static_cast<uint8_t>(value.size()));
  bytes_.insert(bytes_.end(), value.begin(), value.end());
  return *this;
}

LldpFrame& LldpFrame::Tlv(unsigned type, std::string_view text) {
  return Tlv(type, Bytes(text.begin(), text.end()));
}

LldpFrame& LldpFrame::Chassis(uint8_t subtype, std::string_view id) {
  Bytes v{subtype};
  v.insert(v.end(), id.begin(), id.end());
  return Tlv(1, v);
}

LldpFrame& LldpFrame::PortId(uint8_t subtype, std::string_view id) {
  Bytes v{subtype};
  v.insert(v.end(), id.begin(), id.end());
  return Tlv(2, v);
}

LldpFrame& LldpFrame::Ttl(uint16_t seconds) {
  return Tlv(3, Bytes{static_cast<uint8_t>(seconds >> 8), static_cast<uint8_t>(seconds)});
}

LldpFrame& LldpFrame::Mandatory(uint16_t ttl) {
  return Chassis(7, "chassis-1").PortId(5, "ge-0/0/1").Ttl(ttl);
}

LldpFrame& LldpFrame::ManagementIpv4(std::initializer_list<uint8_t> address, uint8_t ifSubtype,
                                     uint32_t ifNumber) {
  Bytes v{5, 1};
  v.insert(v.end(), address.begin(), address.end());
  v.push_back(ifSubtype);
  for (int s = 24; s >= 0; s -= 8) v.push_back(static_cast<uint8_t>(ifNumber >> s));
  v.push_back(0);  // OID length
  return Tlv(8, v);
}

LldpFrame& LldpFrame::Org(std::initializer_list<uint8_t> oui, uint8_t subtype, const Bytes& data) {
  Bytes v(oui);
  v.push_back(subtype);
  v.insert(v.end(), data.begin(), data.end());
  return Tlv(127, v);
}

LldpFrame& LldpFrame::End() {
  bytes_.push_back(0);
  bytes_.push_back(0);
  return *this;
}

LldpFrame& LldpFrame::Raw(const Bytes& bytes) {
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
  return *this;
}

// ---- CDP ----

CdpFrame::CdpFrame(uint8_t version, uint8_t ttl) {
  bytes_ = {0x01, 0x00, 0x0C, 0xCC, 0xCC, 0xCC, 0x02, 0x00, 0x00, 0x00, 0x00, 0x01,
            0x00, 0x00, 0xAA, 0xAA, 0x03, 0x00, 0x00, 0x0C, 0x20, 0x00, version, ttl,
            0x00, 0x00};
}

CdpFrame& CdpFrame::Source(std::initializer_list<uint8_t> mac) {
  std::copy(mac.begin(), mac.end(), bytes_.begin() + 6);
  return *this;
}

CdpFrame& CdpFrame::Tlv(uint16_t type, const Bytes& value) {
  size_t length = value.size() + 4;
  bytes_.push_back(static_cast<uint8_t>(type >> 8));
  bytes_.push_back(static_cast<uint8_t>(type));
  bytes_.push_back(static_cast<uint8_t>(length >> 8));
  bytes_.push_back(static_cast<uint8_t>(length));
  bytes_.insert(bytes_.end(), value.begin(), value.end());
  return *this;
}

CdpFrame& CdpFrame::Tlv(uint16_t type, std::string_view text) {
  return Tlv(type, Bytes(text.begin(), text.end()));
}

CdpFrame& CdpFrame::Raw(const Bytes& bytes) {
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
  return *this;
}

Bytes CdpFrame::Unsealed() const {
  Bytes out = bytes_;
  size_t l = out.size() - 14;
  out[12] = static_cast<uint8_t>(l >> 8);
  out[13] = static_cast<uint8_t>(l);
  return out;
}

Bytes CdpFrame::Seal(uint16_t result, CdpOddOctet odd) const {
  Bytes out = Unsealed();
  SealCdpChecksum(out, result, odd);
  return out;
}

void SealCdpChecksum(Bytes& frame, uint16_t result, CdpOddOctet odd) {
  auto check = [&](uint16_t field) {
    frame[24] = static_cast<uint8_t>(field >> 8);
    frame[25] = static_cast<uint8_t>(field);
    return CdpChecksum(frame.data() + 22, frame.size() - 22, odd);
  };
  // Every field value is tried; the check is a sum, so one of them gives result.
  for (uint32_t field = 0; field <= 0xFFFF; ++field)
    if (check(static_cast<uint16_t>(field)) == result) return;
}

Bytes CdpIpv4Record(std::initializer_list<uint8_t> address) {
  Bytes r{0x01, 0x01, 0xCC, 0x00, 0x04};
  r.insert(r.end(), address.begin(), address.end());
  return r;
}

Bytes CdpIpv6Record(const uint8_t address[16]) {
  // Protocol type 2 (802.2), protocol length 8, the IPv6 SNAP protocol id.
  Bytes r{0x02, 0x08, 0xAA, 0xAA, 0x03, 0x00, 0x00, 0x00, 0x86, 0xDD, 0x00, 0x10};
  r.insert(r.end(), address, address + 16);
  return r;
}

Bytes CdpAddresses(uint32_t count, const std::vector<Bytes>& records) {
  Bytes v;
  for (int s = 24; s >= 0; s -= 8) v.push_back(static_cast<uint8_t>(count >> s));
  for (const auto& r : records) v.insert(v.end(), r.begin(), r.end());
  return v;
}

}  // namespace torvane::nbrtest
