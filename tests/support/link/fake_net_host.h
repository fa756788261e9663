// In-memory host facts for link access tests: interfaces with their attribute
// files, flags, hardware address, ethtool answers and lists, and a trace sink
// that keeps the text.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "agent/link/link_trace.h"
#include "agent/link/net_host.h"

namespace torvane {

struct FakeInterface {
  std::map<std::string, std::string, std::less<>> attributes;  // "type", "ifindex", "mtu", ...
  std::set<std::string, std::less<>> entries;                  // "wireless", "bridge", ...
  std::optional<uint32_t> flags;
  std::optional<HardwareAddress> hardware;
  std::optional<EthtoolLink> link;
  std::optional<DriverInfo> driver;
  std::optional<uint32_t> vlanId;
  std::optional<std::vector<std::array<uint8_t, 6>>> multicast =
      std::vector<std::array<uint8_t, 6>>{};
};

class FakeNetHost : public NetHost {
 public:
  // An Ethernet interface that is up with carrier: type 1, the index, MTU, MAC,
  // flags UP|BROADCAST|RUNNING|MULTICAST, 1000 Mbit/s full duplex with
  // auto-negotiation, driver "e1000e".
  FakeInterface& AddEthernet(const std::string& name, uint32_t ifIndex,
                             std::array<uint8_t, 6> mac, uint32_t mtu = 1500);

  std::optional<std::vector<std::string>> InterfaceNames() override;
  std::optional<std::string> ReadAttribute(std::string_view ifName,
                                           std::string_view attribute) override;
  bool HasEntry(std::string_view ifName, std::string_view entry) override;
  std::optional<uint32_t> InterfaceFlags(std::string_view ifName) override;
  std::optional<HardwareAddress> HardwareAddressOf(std::string_view ifName) override;
  std::optional<EthtoolLink> LinkSettings(std::string_view ifName) override;
  std::optional<DriverInfo> DriverInfoOf(std::string_view ifName) override;
  std::optional<uint32_t> VlanIdOf(std::string_view ifName) override;
  std::optional<std::vector<std::array<uint8_t, 6>>> MulticastAddresses(
      std::string_view ifName) override;
  std::optional<std::string> UdevModel(uint32_t ifIndex) override;
  std::optional<std::vector<HostIpv4>> Ipv4Addresses() override;

  std::map<std::string, FakeInterface, std::less<>> interfaces;
  std::map<uint32_t, std::string> udevModels;
  std::optional<std::vector<HostIpv4>> addresses = std::vector<HostIpv4>{};
  bool listFails = false;

 private:
  FakeInterface* Find(std::string_view name);
};

// Keeps every trace line; Enabled() follows `on`.
class CaptureTrace : public LinkTrace {
 public:
  bool Enabled() const override { return on; }
  void Write(std::string_view line) override { text.append(line); }
  bool on = true;
  std::string text;
};

// An IPv4 address in network order from its four octets.

}  // namespace torvane
