// A fake class-net / proc-net / udev tree in a temporary folder, for driving the
// Linux host facts source (with kernel calls off) without the host's own
// interfaces. Removed with everything in it when the object goes.
#pragma once

#include <cstdint>
#include <string>

#include "agent/link/net_host.h"

namespace torvane {

class FakeSysfsTree {
 public:
  FakeSysfsTree();
  ~FakeSysfsTree();
  FakeSysfsTree(const FakeSysfsTree&) = delete;
  FakeSysfsTree& operator=(const FakeSysfsTree&) = delete;

  // An interface folder with type, ifindex, mtu, flags (hex), carrier, address and
  // a uevent naming DEVTYPE when devType is not empty.
  void AddInterface(const std::string& name, uint32_t ifIndex, uint32_t type = 1,
                    const std::string& devType = "", const std::string& mac = "02:00:00:00:00:01",
                    uint32_t flags = 0x1003, bool carrier = true);
  void RemoveInterface(const std::string& name);
  // Writes (or replaces) one file below the interface's folder.
  void WriteAttribute(const std::string& name, const std::string& attribute,
                      const std::string& text);
  // A folder below the interface's folder ("wireless", "bridge").
  void AddEntry(const std::string& name, const std::string& entry);
  // A device/driver link whose last component is the driver's name.
  void LinkDriver(const std::string& name, const std::string& driver);
  void WriteProcNet(const std::string& relative, const std::string& text);
  void WriteUdev(uint32_t ifIndex, const std::string& text);
  // A plain file in the class-net folder (as bonding_masters is).
  void WriteClassFile(const std::string& name, const std::string& text);

  NetHostRoots Roots() const;
  const std::string& root() const { return root_; }

 private:
  std::string root_;
};

}  // namespace torvane
