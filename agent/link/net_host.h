// Everything link access reads of the Linux host goes through NetHost: the
// class-net folder of sysfs, /proc/net, udev's device database, the interface
// ioctls (flags, hardware address, ethtool, VLAN) and getifaddrs. The Linux
// implementation takes its folders as roots, so that tests can point it at a fake
// tree; the in-memory fake for unit tests lives in tests/support.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "agent/state/interface_tables.h"

namespace torvane {

// ARPHRD_* values of sysfs "type" that the agent cares about.
constexpr uint32_t kArpEther = 1;
constexpr uint32_t kArpLoopback = 772;

// SIOCGIFHWADDR: the link-layer family (ARPHRD_*) and address.
struct HardwareAddress {
  uint32_t family = 0;
  uint8_t length = 0;  // bytes of `bytes` that are meaningful (6 for Ethernet)
  uint8_t bytes[16] = {};
};

// ethtool link settings.
struct EthtoolLink {
  static constexpr uint32_t kUnknownSpeed = 0xFFFFFFFF;
  static constexpr uint8_t kHalf = 0, kFull = 1, kUnknownDuplex = 0xFF;
  uint32_t speedMbps = kUnknownSpeed;  // Mbit/s; kUnknownSpeed (or 0) when not known
  uint8_t duplex = kUnknownDuplex;
  bool autoneg = false;
};

// ETHTOOL_GDRVINFO.
struct DriverInfo {
  std::string driver;
  std::string busInfo;
};

// One AF_INET entry of getifaddrs.
struct HostIpv4 {
  std::string ifName;
  uint32_t ifIndex = 0;
  Ipv4 address = 0;  // network order
  Ipv4 mask = 0;     // network order
};

class NetHost {
 public:
  virtual ~NetHost() = default;
  // The entries of the class-net folder (interface names), in no particular order;
  // nullopt when the folder cannot be read.
  virtual std::optional<std::vector<std::string>> InterfaceNames() = 0;
  // One attribute file of an interface ("type", "ifindex", "mtu", "ifalias",
  // "uevent", "address", "carrier", "speed", "duplex", "flags"), with trailing
  // white space removed; nullopt when missing or unreadable (sysfs fails reads of
  // carrier, speed and duplex on an interface that is down).
  virtual std::optional<std::string> ReadAttribute(std::string_view ifName,
                                                   std::string_view attribute) = 0;
  // Whether an entry exists in the interface's folder ("wireless", "phy80211").
  virtual bool HasEntry(std::string_view ifName, std::string_view entry) = 0;
  // SIOCGIFFLAGS (IFF_UP, IFF_RUNNING, IFF_PROMISC, IFF_ALLMULTI, ...).
  virtual std::optional<uint32_t> InterfaceFlags(std::string_view ifName) = 0;
  // SIOCGIFHWADDR.
  virtual std::optional<HardwareAddress> HardwareAddressOf(std::string_view ifName) = 0;
  // ETHTOOL_GLINKSETTINGS, else ETHTOOL_GSET.
  virtual std::optional<EthtoolLink> LinkSettings(std::string_view ifName) = 0;
  // ETHTOOL_GDRVINFO.
  virtual std::optional<DriverInfo> DriverInfoOf(std::string_view ifName) = 0;
  // The VLAN id of a VLAN device (SIOCGIFVLAN, else /proc/net/vlan/config);
  // nullopt for every other device.
  virtual std::optional<uint32_t> VlanIdOf(std::string_view ifName) = 0;
  // The link-layer multicast addresses of the interface (/proc/net/dev_mcast);
  // nullopt when the list cannot be read.
  virtual std::optional<std::vector<std::array<uint8_t, 6>>> MulticastAddresses(
      std::string_view ifName) = 0;
  // ID_MODEL_FROM_DATABASE of udev's record n<ifIndex>, when there is one.
  virtual std::optional<std::string> UdevModel(uint32_t ifIndex) = 0;
  // getifaddrs AF_INET entries in their order; nullopt when the call fails.
  virtual std::optional<std::vector<HostIpv4>> Ipv4Addresses() = 0;
};

// Where the Linux implementation reads. kernelCalls false: no ioctl and no
// getifaddrs; every answer then comes from the files below the roots (the sysfs
// flags, address, speed and duplex attributes stand in for the ioctls), which is
// how tests drive a fake tree without touching the host's own interfaces.
struct NetHostRoots {
  std::string classNet = "/sys/class/net";
  // Per thread, so that a thread that entered another network namespace sees that
  // namespace's lists.
  std::string procNet = "/proc/thread-self/net";
  std::string udevData = "/run/udev/data";
  bool kernelCalls = true;
};

std::unique_ptr<NetHost> MakeLinuxNetHost(NetHostRoots roots = {});

// What the agent makes of one interface, read through NetHost.
struct InterfaceFacts {
  std::string name;
  uint32_t ifIndex = 0;
  uint32_t arpType = 0;   // ARPHRD_*; 0 when unreadable
  uint32_t mtu = 0;
  uint32_t flags = 0;     // IFF_*
  bool flagsKnown = false;
  HardwareAddress hardware;
  std::optional<EthtoolLink> link;
  bool wireless = false;
  std::string devType;    // DEVTYPE of uevent ("bridge", "bond", "vlan", ...), may be empty
};

// Reads the facts of one interface; nullopt when it does not exist.
std::optional<InterfaceFacts> ReadInterfaceFacts(NetHost& host, std::string_view ifName);

// Speed in bit/s from Mbit/s, 0 when unknown, saturating at 0xFFFFFFFF.
uint32_t SpeedBitsPerSecond(const std::optional<EthtoolLink>& link);

}  // namespace torvane
