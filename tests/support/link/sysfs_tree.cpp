#include "tests/support/link/sysfs_tree.h"

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace torvane {
namespace fs = std::filesystem;

namespace {
void WriteFile(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}
}  // namespace

FakeSysfsTree::FakeSysfsTree() {
  std::string pattern = (fs::temp_directory_path() / "torvane-sysfs-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  root_ = pattern;
  fs::create_directories(fs::path(root_) / "class/net");
  fs::create_directories(fs::path(root_) / "proc/net");
  fs::create_directories(fs::path(root_) / "udev");
}

FakeSysfsTree::~FakeSysfsTree() {
  std::error_code ec;
  fs::remove_all(root_, ec);
}

void FakeSysfsTree::AddInterface(const std::string& name, uint32_t ifIndex, uint32_t type,
                                 const std::string& devType, const std::string& mac,
                                 uint32_t flags, bool carrier) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%x", flags);
  WriteAttribute(name, "type", std::to_string(type) + "\n");
  WriteAttribute(name, "ifindex", std::to_string(ifIndex) + "\n");
  WriteAttribute(name, "mtu", "1500\n");
  WriteAttribute(name, "flags", std::string(hex) + "\n");
  WriteAttribute(name, "carrier", carrier ? "1\n" : "0\n");
  WriteAttribute(name, "address", mac + "\n");
  WriteAttribute(name, "addr_len", "6\n");
  std::string uevent = "INTERFACE=" + name + "\nIFINDEX=" + std::to_string(ifIndex) + "\n";
  if (!devType.empty()) uevent = "DEVTYPE=" + devType + "\n" + uevent;
  WriteAttribute(name, "uevent", uevent);
}

void FakeSysfsTree::RemoveInterface(const std::string& name) {
  fs::remove_all(fs::path(root_) / "class/net" / name);
}

void FakeSysfsTree::WriteAttribute(const std::string& name, const std::string& attribute,
                                   const std::string& text) {
  WriteFile(fs::path(root_) / "class/net" / name / attribute, text);
}

void FakeSysfsTree::AddEntry(const std::string& name, const std::string& entry) {
  fs::create_directories(fs::path(root_) / "class/net" / name / entry);
}

void FakeSysfsTree::LinkDriver(const std::string& name, const std::string& driver) {
  fs::path device = fs::path(root_) / "class/net" / name / "device";
  fs::create_directories(device);
  fs::path target = fs::path(root_) / "bus/pci/drivers" / driver;
  fs::create_directories(target);
  fs::create_directory_symlink(target, device / "driver");
}

void FakeSysfsTree::WriteProcNet(const std::string& relative, const std::string& text) {
  WriteFile(fs::path(root_) / "proc/net" / relative, text);
}

void FakeSysfsTree::WriteUdev(uint32_t ifIndex, const std::string& text) {
  WriteFile(fs::path(root_) / "udev" / ("n" + std::to_string(ifIndex)), text);
}

void FakeSysfsTree::WriteClassFile(const std::string& name, const std::string& text) {
  WriteFile(fs::path(root_) / "class/net" / name, text);
}

NetHostRoots FakeSysfsTree::Roots() const {
  NetHostRoots roots;
  roots.classNet = root_ + "/class/net";
  roots.procNet = root_ + "/proc/net";
  roots.udevData = root_ + "/udev";
  roots.kernelCalls = false;
  return roots;
}

}  // namespace torvane
