#include "tests/support/link/fake_net_host.h"

#include <net/if.h>

#include <cstring>

namespace torvane {

FakeInterface& FakeNetHost::AddEthernet(const std::string& name, uint32_t ifIndex,
                                        std::array<uint8_t, 6> mac, uint32_t mtu) {
  FakeInterface& f = interfaces[name];
  f.attributes["type"] = "1";
  f.attributes["ifindex"] = std::to_string(ifIndex);
  f.attributes["mtu"] = std::to_string(mtu);
  f.attributes["uevent"] = "INTERFACE=" + name + "\nIFINDEX=" + std::to_string(ifIndex);
  f.flags = IFF_UP | IFF_BROADCAST | IFF_RUNNING | IFF_MULTICAST;
  HardwareAddress hw;
  hw.family = kArpEther;
  hw.length = 6;
  std::memcpy(hw.bytes, mac.data(), 6);
  f.hardware = hw;
  EthtoolLink link;
  link.speedMbps = 1000;
  link.duplex = EthtoolLink::kFull;
  link.autoneg = true;
  f.link = link;
  f.driver = DriverInfo{"e1000e", "0000:00:19.0"};
  return f;
}

FakeInterface* FakeNetHost::Find(std::string_view name) {
  auto it = interfaces.find(name);
  return it == interfaces.end() ? nullptr : &it->second;
}

std::optional<std::vector<std::string>> FakeNetHost::InterfaceNames() {
  if (listFails) return std::nullopt;
  std::vector<std::string> names;
  for (const auto& [name, f] : interfaces) names.push_back(name);
  return names;
}

std::optional<std::string> FakeNetHost::ReadAttribute(std::string_view ifName,
                                                      std::string_view attribute) {
  FakeInterface* f = Find(ifName);
  if (!f) return std::nullopt;
  auto it = f->attributes.find(attribute);
  if (it == f->attributes.end()) return std::nullopt;
  return it->second;
}

bool FakeNetHost::HasEntry(std::string_view ifName, std::string_view entry) {
  FakeInterface* f = Find(ifName);
  return f && f->entries.count(entry) > 0;
}

std::optional<uint32_t> FakeNetHost::InterfaceFlags(std::string_view ifName) {
  FakeInterface* f = Find(ifName);
  return f ? f->flags : std::nullopt;
}

std::optional<HardwareAddress> FakeNetHost::HardwareAddressOf(std::string_view ifName) {
  FakeInterface* f = Find(ifName);
  return f ? f->hardware : std::nullopt;
}

std::optional<EthtoolLink> FakeNetHost::LinkSettings(std::string_view ifName) {
  FakeInterface* f = Find(ifName);
  return f ? f->link : std::nullopt;
}

std::optional<DriverInfo> FakeNetHost::DriverInfoOf(std::string_view ifName) {
  FakeInterface* f = Find(ifName);
  return f ? f->driver : std::nullopt;
}

std::optional<uint32_t> FakeNetHost::VlanIdOf(std::string_view ifName) {
  FakeInterface* f = Find(ifName);
  return f ? f->vlanId : std::nullopt;
}

std::optional<std::vector<std::array<uint8_t, 6>>> FakeNetHost::MulticastAddresses(
    std::string_view ifName) {
  FakeInterface* f = Find(ifName);
  return f ? f->multicast : std::nullopt;
}

std::optional<std::string> FakeNetHost::UdevModel(uint32_t ifIndex) {
  auto it = udevModels.find(ifIndex);
  if (it == udevModels.end()) return std::nullopt;
  return it->second;
}

std::optional<std::vector<HostIpv4>> FakeNetHost::Ipv4Addresses() { return addresses; }

}  // namespace torvane
