// The Linux host facts source read from a fake tree (no kernel calls): attribute
// files, the flags and carrier, VLAN and multicast lists from proc, udev's model
// names, wireless folders, and names that must never reach a path.
#include "agent/link/net_host.h"

#include <gtest/gtest.h>
#include <net/if.h>

#include <algorithm>

#include "agent/link/oid_answers.h"
#include "tests/support/link/sysfs_tree.h"

namespace torvane {
namespace {

class LinuxNetHostTree : public ::testing::Test {
 protected:
  LinuxNetHostTree() : host(MakeLinuxNetHost(tree.Roots())) {}
  FakeSysfsTree tree;
  std::unique_ptr<NetHost> host;
};

TEST_F(LinuxNetHostTree, ListsInterfaceFoldersOnly) {
  tree.AddInterface("eth0", 2);
  tree.AddInterface("eth0.7", 3, 1, "vlan");
  tree.WriteClassFile("bonding_masters", "\n");
  auto names = host->InterfaceNames();
  ASSERT_TRUE(names);
  std::sort(names->begin(), names->end());
  EXPECT_EQ(*names, (std::vector<std::string>{"eth0", "eth0.7"}));
  NetHostRoots roots = tree.Roots();
  roots.classNet = tree.root() + "/nowhere";
  EXPECT_FALSE(MakeLinuxNetHost(roots)->InterfaceNames());
}

TEST_F(LinuxNetHostTree, FlagsTakeRunningFromTheCarrier) {
  tree.AddInterface("up", 2, 1, "", "02:00:00:00:00:01", IFF_UP | IFF_BROADCAST, true);
  tree.AddInterface("nocarrier", 3, 1, "", "02:00:00:00:00:02", IFF_UP, false);
  tree.AddInterface("down", 4, 1, "", "02:00:00:00:00:03", IFF_BROADCAST | IFF_RUNNING, true);
  EXPECT_EQ(host->InterfaceFlags("up"), uint32_t{IFF_UP | IFF_BROADCAST | IFF_RUNNING});
  EXPECT_EQ(host->InterfaceFlags("nocarrier"), uint32_t{IFF_UP});
  EXPECT_EQ(host->InterfaceFlags("down"), uint32_t{IFF_BROADCAST});
  EXPECT_FALSE(host->InterfaceFlags("missing"));
  tree.WriteAttribute("up", "flags", "garbage\n");
  EXPECT_FALSE(host->InterfaceFlags("up"));
}

TEST_F(LinuxNetHostTree, HardwareAddressAndLinkFromAttributes) {
  tree.AddInterface("eth0", 2, 1, "", "00:1B:21:0a:0b:0c");
  auto hw = host->HardwareAddressOf("eth0");
  ASSERT_TRUE(hw);
  EXPECT_EQ(hw->family, kArpEther);
  ASSERT_EQ(hw->length, 6);
  EXPECT_EQ(hw->bytes[1], 0x1b);
  EXPECT_EQ(hw->bytes[5], 0x0c);
  tree.WriteAttribute("eth0", "address", "00:1b:21:0a:0b:\n");
  EXPECT_EQ(host->HardwareAddressOf("eth0")->length, 0);

  EXPECT_FALSE(host->LinkSettings("eth0"));  // a down link fails both reads
  tree.WriteAttribute("eth0", "speed", "100\n");
  tree.WriteAttribute("eth0", "duplex", "half\n");
  auto link = host->LinkSettings("eth0");
  ASSERT_TRUE(link);
  EXPECT_EQ(link->speedMbps, 100u);
  EXPECT_EQ(link->duplex, EthtoolLink::kHalf);
  tree.WriteAttribute("eth0", "speed", "-1\n");
  tree.WriteAttribute("eth0", "duplex", "unknown\n");
  link = host->LinkSettings("eth0");
  ASSERT_TRUE(link);
  EXPECT_EQ(link->speedMbps, EthtoolLink::kUnknownSpeed);
  EXPECT_EQ(link->duplex, EthtoolLink::kUnknownDuplex);
}

TEST_F(LinuxNetHostTree, VlanIdFromTheVlanList) {
  tree.AddInterface("eth0", 2);
  tree.AddInterface("eth0.100", 3, 1, "vlan");
  tree.AddInterface("vlan7", 4, 1, "vlan");
  EXPECT_FALSE(host->VlanIdOf("eth0.100"));  // no VLAN list: no VLAN devices
  tree.WriteProcNet("vlan/config",
                    "VLAN Dev name\t | VLAN ID\n"
                    "Name-Type: VLAN_NAME_TYPE_RAW_PLUS_VID_NO_PAD\n"
                    "eth0.100       | 100  | eth0\n"
                    "vlan7          | 4095  | eth0\n"
                    "bad            | x  | eth0\n");
  EXPECT_EQ(host->VlanIdOf("eth0.100"), 100u);
  EXPECT_EQ(host->VlanIdOf("vlan7"), 4095u);
  EXPECT_FALSE(host->VlanIdOf("eth0"));
  EXPECT_FALSE(host->VlanIdOf("bad"));
  uint8_t data[4];
  uint32_t length = 0;
  ASSERT_TRUE(AnswerOidQuery(*host, "eth0.100", OID_GEN_VLAN_ID, data, 4, length));
  EXPECT_EQ(length, 4u);
  EXPECT_EQ(data[0], 100);
}

TEST_F(LinuxNetHostTree, WirelessDevicesAnswerTheWirelessMedium) {
  tree.AddInterface("wlan0", 2, 1, "wlan");
  tree.AddEntry("wlan0", "phy80211");
  tree.AddInterface("wlan1", 3, 1, "wlan");
  tree.AddEntry("wlan1", "wireless");
  tree.AddInterface("eth0", 4);
  auto facts = ReadInterfaceFacts(*host, "wlan0");
  ASSERT_TRUE(facts);
  EXPECT_TRUE(facts->wireless);
  EXPECT_EQ(facts->devType, "wlan");
  EXPECT_TRUE(ReadInterfaceFacts(*host, "wlan1")->wireless);
  EXPECT_FALSE(ReadInterfaceFacts(*host, "eth0")->wireless);
  uint8_t data[4];
  uint32_t length = 0;
  ASSERT_TRUE(AnswerOidQuery(*host, "wlan0", OID_GEN_PHYSICAL_MEDIUM, data, 4, length));
  EXPECT_EQ(data[0], kNdisPhysicalMediumNative802_11);
}

TEST_F(LinuxNetHostTree, MulticastListOfOneInterface) {
  tree.AddInterface("eth0", 2);
  EXPECT_FALSE(host->MulticastAddresses("eth0"));
  tree.WriteProcNet("dev_mcast",
                    "2    eth0            1     0     333300000001\n"
                    "2    eth0            1     0     01005e000001\n"
                    "3    eth1            1     0     01005e0000fb\n"
                    "2    eth0            1     0     01005e00zz01\n"
                    "2    eth0            1     0     0100\n"
                    "2    eth0\n");
  auto list = host->MulticastAddresses("eth0");
  ASSERT_TRUE(list);
  ASSERT_EQ(list->size(), 2u);
  EXPECT_EQ((*list)[0], (std::array<uint8_t, 6>{0x33, 0x33, 0, 0, 0, 1}));
  EXPECT_EQ((*list)[1], (std::array<uint8_t, 6>{0x01, 0x00, 0x5e, 0, 0, 1}));
  EXPECT_TRUE(host->MulticastAddresses("eth9")->empty());
}

TEST_F(LinuxNetHostTree, UdevModelName) {
  tree.WriteUdev(2, "I:5\nE:ID_MODEL_FROM_DATABASE=\nE:ID_MODEL_FROM_DATABASE=I210 Gigabit\n");
  EXPECT_EQ(host->UdevModel(2), "I210 Gigabit");
  tree.WriteUdev(3, "I:5\nE:ID_VENDOR_FROM_DATABASE=Intel\n");
  EXPECT_FALSE(host->UdevModel(3));
  EXPECT_FALSE(host->UdevModel(4));
}

TEST_F(LinuxNetHostTree, NamesThatAreNotOnePathComponentAreRefused) {
  tree.AddInterface("eth0", 2);
  tree.WriteClassFile("secret", "x\n");
  EXPECT_FALSE(host->ReadAttribute("..", "class/net/eth0/ifindex"));
  EXPECT_FALSE(host->ReadAttribute("eth0/../secret", "ifindex"));
  EXPECT_FALSE(host->ReadAttribute("eth0", "../secret"));
  EXPECT_FALSE(host->ReadAttribute("averyveryverylongname", "ifindex"));
  EXPECT_FALSE(host->InterfaceFlags("../eth0"));
  EXPECT_FALSE(host->HasEntry("eth0", ".."));
  EXPECT_EQ(host->ReadAttribute("eth0", "ifindex"), "2");
  EXPECT_FALSE(ReadInterfaceFacts(*host, "eth1"));
}

}  // namespace
}  // namespace torvane
