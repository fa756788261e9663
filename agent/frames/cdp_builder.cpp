#include "agent/frames/cdp_builder.h"

#include <algorithm>

#include "agent/frames/wire_format.h"
#include "common/bytes.h"
#include "common/text.h"

namespace torvane {
namespace {

constexpr size_t kCdpTlvHeaderSize = 4;
constexpr size_t kCdpAddressesHeaderSize = kCdpTlvHeaderSize + 4;  // + the count

void TlvHeader(ByteWriter& w, uint16_t type, size_t valueLength) {
  w.u16be(type);
  w.u16be(static_cast<uint16_t>(kCdpTlvHeaderSize + valueLength));
}

// Every TLV is written whole or left out (with the TLV length field of 16 bits).
bool Fits(const ByteWriter& w, size_t valueLength) {
  return valueLength <= 0xFFFF - kCdpTlvHeaderSize && w.room() >= kCdpTlvHeaderSize + valueLength;
}

void TextTlv(ByteWriter& w, uint16_t type, std::string_view text) {
  if (!Fits(w, text.size())) return;
  TlvHeader(w, type, text.size());
  w.bytes(text.data(), text.size());
}

size_t TextTlvSize(std::string_view text) { return kCdpTlvHeaderSize + text.size(); }

}  // namespace

size_t BuildCdpFrame(const PortFacts& port, const AgentSettings& settings,
                     std::string_view osVersionText, const AddressTable& addresses,
                     uint8_t* frame, size_t size, int mode) {
  ByteWriter w(frame, std::min(size, kEthernetHeaderSize + kIeee8023MaxPayload));
  const Mac& mac = port.mac;

  w.bytes(kCdpMulticast.data(), kCdpMulticast.size());
  w.bytes(mac.data(), mac.size());
  const size_t lengthAt = w.reserve(2);
  w.bytes(kCdpLlcSnap.data(), kCdpLlcSnap.size());
  w.u8(kCdpVersion);
  w.u8(mode == 0 ? 0 : CdpHoldTime(settings.txInterval, settings.txHoldMultiplier));
  const size_t checksumAt = w.reserve(2);
  if (!w.ok()) return 0;

  TextTlv(w, kCdpDeviceId, FieldText(settings.systemName));

  const std::string_view portId = settings.txPname != 0 ? port.connectionName : port.description;
  const std::string_view version = FieldText(settings.systemDescription);
  const uint32_t vlanId = port.vlanId;
  const uint32_t duplex = port.duplex;
  const bool sendDuplex = settings.Duplex != 0 && duplex != 0;

  // Address entries are the one unbounded part of the frame: they get only the
  // room that the TLVs after them leave, and entries that would not fit are left
  // out (the count says how many were written).
  const size_t after = TextTlvSize(portId) + (kCdpTlvHeaderSize + 4) + TextTlvSize(version) +
                       TextTlvSize(osVersionText) + (vlanId != 0 ? kCdpTlvHeaderSize + 2 : 0) +
                       (sendDuplex ? kCdpTlvHeaderSize + 1 : 0);
  if (w.room() >= kCdpAddressesHeaderSize) {
    const size_t addressesAt = w.reserve(kCdpAddressesHeaderSize);
    uint32_t written = 0;
    const uint32_t ifIndex = port.ifIndex;
    if (ifIndex != 0) {
      const uint32_t count = std::min<uint32_t>(addresses.count, kMaxAddresses);
      for (uint32_t i = 0; i < count; ++i) {
        const AddressEntry& e = addresses.entries[i];
        if (e.ifIndex != ifIndex || e.portListLength == 0) continue;
        if (w.room() < kCdpAddressEntrySize + after) break;
        w.u8(kCdpProtocolTypeNlpid);
        w.u8(1);  // protocol length
        w.u8(kCdpProtocolIp);
        w.u16be(4);  // address length
        w.bytes(&e.address, 4);  // already in network order
        ++written;
      }
    }
    w.patch_u16be(addressesAt, kCdpAddresses);
    w.patch_u16be(addressesAt + 2,
                  static_cast<uint16_t>(kCdpAddressesHeaderSize + written * kCdpAddressEntrySize));
    w.patch_u16be(addressesAt + 4, static_cast<uint16_t>(written >> 16));
    w.patch_u16be(addressesAt + 6, static_cast<uint16_t>(written));
  }

  TextTlv(w, kCdpPortId, portId);
  if (Fits(w, 4)) {
    TlvHeader(w, kCdpCapabilities, 4);
    w.u32be(CdpCapabilitiesFromLldp(settings.CapEnabled));
  }
  TextTlv(w, kCdpVersionText, version);
  TextTlv(w, kCdpPlatform, osVersionText);
  if (vlanId != 0 && Fits(w, 2)) {
    TlvHeader(w, kCdpNativeVlan, 2);
    w.u16be(static_cast<uint16_t>(vlanId));
  }
  if (sendDuplex && Fits(w, 1)) {
    TlvHeader(w, kCdpDuplex, 1);
    w.u8(duplex == 2 ? 1 : 0);
  }

  w.patch_u16be(lengthAt, static_cast<uint16_t>(w.size() - kEthernetHeaderSize));
  w.patch_u16be(checksumAt, CdpChecksum(frame + kCdpPduOffset, w.size() - kCdpPduOffset));
  return w.size();
}

// Ones' complement sum of 16-bit words, high octet first. An odd last octet is
// not padded as RFC 1071 would have it: most receivers widen it to a word as a
// signed octet in ones' complement, so an octet below 0x80 counts as 0x00NN and
// one of 0x80 or above as 0xFF00 + NN - 1; others add it as 0x00NN whatever it
// is. Summing a frame with its checksum in place gives 0 for a correct frame.
uint16_t CdpChecksum(const uint8_t* data, size_t length, CdpOddOctet odd) {
  uint64_t sum = 0;
  size_t i = 0;
  for (; i + 1 < length; i += 2) sum += (uint32_t{data[i]} << 8) | data[i + 1];
  if (i < length) {
    const uint8_t last = data[i];
    sum += last < 0x80 || odd == CdpOddOctet::kPlain ? last : 0xFF00u + last - 1u;
  }
  // A fold can carry again (0xFFFF + 0xFFFF + 1 folds to 0x10000).
  while (sum > 0xFFFF) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint16_t>(~sum);
}

bool CdpChecksumValid(const uint8_t* data, size_t length) {
  return CdpChecksum(data, length, CdpOddOctet::kSigned) == 0 ||
         CdpChecksum(data, length, CdpOddOctet::kPlain) == 0;
}

}  // namespace torvane
