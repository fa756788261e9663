// Adapter discovery over a fake class-net tree and the capture library's list,
// connection names, the interface and address tables with their port lists, and
// the matching of ports to interface rows.
#include "agent/link/adapter_discovery.h"

#include <gtest/gtest.h>
#include <net/if.h>

#include <memory>

#include "agent/runtime/settings.h"
#include "tests/support/link/fake_net_host.h"
#include "tests/support/link/sysfs_tree.h"

namespace torvane {
namespace {

std::string Mac(uint32_t i) {
  char text[18];
  std::snprintf(text, sizeof text, "02:00:00:00:%02x:%02x", (i >> 8) & 0xff, i & 0xff);
  return text;
}

class SysfsDiscovery : public ::testing::Test {
 protected:
  SysfsDiscovery() : host(MakeLinuxNetHost(tree.Roots())), table(std::make_unique<PortTable>()) {}
  uint32_t Discover() { return count = DiscoverAdapters(*host, trace, *table, count); }
  std::vector<std::string> DeviceNames() const {
    std::vector<std::string> names;
    for (uint32_t i = 0; i < count; ++i) names.push_back((*table)[i].DeviceName());
    return names;
  }
  FakeSysfsTree tree;
  std::unique_ptr<NetHost> host;
  std::unique_ptr<PortTable> table;
  CaptureTrace trace;
  uint32_t count = 0;
};

TEST_F(SysfsDiscovery, ServesOnlyAdaptersThatCarryTheirOwnFrames) {
  tree.AddInterface("lo", 1, 772, "", "00:00:00:00:00:00", 0x49);
  tree.AddInterface("eth0", 2);
  tree.AddInterface("br0", 3, 1, "bridge");
  tree.AddInterface("bond0", 4, 1, "bond");
  tree.AddInterface("tun0", 5, 65534);
  tree.AddInterface("eth0.100", 6, 1, "vlan");
  tree.AddInterface("wlan0", 7, 1, "wlan");
  tree.AddEntry("wlan0", "wireless");
  tree.AddInterface("veth1", 8);
  tree.AddInterface("br1", 9);  // a bridge known by its folder alone
  tree.AddEntry("br1", "bridge");
  tree.WriteClassFile("bonding_masters", "bond0\n");
  EXPECT_EQ(Discover(), 4u);
  EXPECT_EQ(DeviceNames(), (std::vector<std::string>{"eth0", "eth0.100", "wlan0", "veth1"}));
  for (uint32_t i = 0; i < count; ++i) {
    EXPECT_EQ((*table)[i].number, i + 1);
    EXPECT_EQ((*table)[i].ConnectionName(), (*table)[i].DeviceName());
    EXPECT_EQ((*table)[i].state, kPortClosed);
  }
  EXPECT_EQ(table->portCount, 4u);
}

TEST_F(SysfsDiscovery, DescriptionsAndTrace) {
  tree.AddInterface("eth0", 2);
  tree.LinkDriver("eth0", "e1000e");
  tree.WriteUdev(2, "I:123\nE:ID_MODEL_FROM_DATABASE=82574L Gigabit Network Connection\nE:ID_BUS=pci\n");
  tree.AddInterface("eth1", 3);
  tree.WriteAttribute("eth1", "ifalias", "uplink to core\n");
  tree.LinkDriver("eth1", "igb");
  tree.AddInterface("veth7", 4);
  tree.AddInterface("eth2", 5);
  tree.LinkDriver("eth2", "r8169");
  ASSERT_EQ(Discover(), 4u);
  EXPECT_EQ((*table)[0].Description(), "e1000e 82574L Gigabit Network Connection");
  EXPECT_EQ((*table)[1].Description(), "uplink to core");
  EXPECT_EQ((*table)[2].Description(), "veth7");  // nothing names it
  EXPECT_EQ((*table)[3].Description(), "r8169");
  EXPECT_EQ(trace.text,
            "Adapter list:\n"
            "eth0 e1000e 82574L Gigabit Network Connection : eth0\n"
            "eth1 uplink to core : eth1\n"
            "veth7 veth7 : veth7\n"
            "eth2 r8169 : eth2\n");
  trace.on = false;
  trace.text.clear();
  Discover();
  EXPECT_EQ(trace.text, "");
}

TEST_F(SysfsDiscovery, TableHoldsAtMost128Ports) {
  for (uint32_t i = 0; i < 129; ++i) tree.AddInterface("p" + std::to_string(i), 10 + i, 1, "", Mac(i));
  EXPECT_EQ(Discover(), 128u);
  EXPECT_EQ((*table)[127].DeviceName(), "p127");  // ifindex order: p128 is the one left out
  EXPECT_EQ((*table)[127].number, 128u);
  EXPECT_EQ(Discover(), 128u);
  size_t lines = 0;
  for (char c : trace.text) lines += c == '\n';
  EXPECT_EQ(lines, 2u * 129u);  // per run: the heading and one line per port
}

TEST_F(SysfsDiscovery, NumbersStayAndVanishedAdaptersKeepTheirPorts) {
  tree.AddInterface("eth1", 11);
  tree.AddInterface("eth3", 13);
  ASSERT_EQ(Discover(), 2u);
  tree.AddInterface("eth2", 12);  // lower index than eth3, found later
  tree.RemoveInterface("eth1");
  ASSERT_EQ(Discover(), 3u);
  EXPECT_EQ(DeviceNames(), (std::vector<std::string>{"eth1", "eth3", "eth2"}));
  EXPECT_EQ((*table)[2].number, 3u);
  tree.AddInterface("eth1", 21);  // back, with a new index: the same port
  ASSERT_EQ(Discover(), 3u);
  EXPECT_EQ((*table)[0].number, 1u);
  EXPECT_EQ((*table)[1].number, 2u);
}

TEST_F(SysfsDiscovery, UnreadableFolderAddsNothingAndKeepsTheCount) {
  tree.AddInterface("eth0", 2);
  ASSERT_EQ(Discover(), 1u);
  NetHostRoots roots = tree.Roots();
  roots.classNet += "-missing";
  auto missing = MakeLinuxNetHost(roots);
  EXPECT_EQ(DiscoverAdapters(*missing, trace, *table, count), 1u);
}

TEST_F(SysfsDiscovery, LibraryListPassesOverPseudoDevicesAndNonAdapters) {
  tree.AddInterface("lo", 1, 772);
  tree.AddInterface("eth0", 2);
  tree.LinkDriver("eth0", "e1000e");
  tree.AddInterface("eth1", 3);
  tree.AddInterface("br0", 4, 1, "bridge");
  std::vector<LibraryAdapter> list = {
      {"eth0", "", 0x6},
      {"any", "Pseudo-device that captures on all interfaces", 0x36},
      {"lo", "", 0x37},
      {"br0", "", 0x6},
      {"nflog", "Linux netfilter log (NFLOG) interface", 0x30},
      {"dbus-system", "D-Bus system bus", 0x30},
      {"ghost0", "gone before it was listed", 0x6},
      {"eth1", "second port", 0x16},
      {"eth0", "listed twice", 0x6},
  };
  count = DiscoverAdapters(*host, trace, *table, 0, list);
  ASSERT_EQ(count, 2u);
  EXPECT_EQ((*table)[0].DeviceName(), "eth0");
  EXPECT_EQ((*table)[0].Description(), "e1000e");
  EXPECT_EQ((*table)[1].DeviceName(), "eth1");
  EXPECT_EQ((*table)[1].Description(), "second port");
  EXPECT_EQ(trace.text, "Adapter list:\neth0 e1000e : eth0\neth1 second port : eth1\n");
}

TEST_F(SysfsDiscovery, LibraryListTakesAtMost128Names) {
  std::vector<LibraryAdapter> list;
  for (uint32_t i = 0; i < 130; ++i) {
    tree.AddInterface("p" + std::to_string(i), 10 + i, 1, "", Mac(i));
    list.push_back({"p" + std::to_string(i), "", 0x6});
  }
  EXPECT_EQ(DiscoverAdapters(*host, trace, *table, 0, list), 128u);
  EXPECT_EQ((*table)[127].DeviceName(), "p127");
}

TEST_F(SysfsDiscovery, ConnectionNamesFollowTheInterface) {
  tree.AddInterface("eth0", 2);
  ASSERT_EQ(Discover(), 1u);
  char name[64] = "unchanged";
  EXPECT_TRUE(ReadConnectionName(*host, "\\Device\\NPF_eth0", name, sizeof name));
  EXPECT_STREQ(name, "eth0");
  Port& port = (*table)[0];
  EXPECT_TRUE(RefreshConnectionName(*host, port));
  EXPECT_EQ(port.ConnectionName(), "eth0");
  tree.RemoveInterface("eth0");
  std::strcpy(name, "unchanged");
  EXPECT_FALSE(ReadConnectionName(*host, "eth0", name, sizeof name));
  EXPECT_STREQ(name, "unchanged");
  EXPECT_FALSE(RefreshConnectionName(*host, port));
  EXPECT_EQ(port.ConnectionName(), "(Ethernet 1)");
  EXPECT_FALSE(ReadConnectionName(*host, "../eth0", name, sizeof name));
  EXPECT_FALSE(ReadConnectionName(*host, "", name, sizeof name));
}

// ---- interface and address tables ----

class InterfaceListLoad : public ::testing::Test {
 protected:
  InterfaceListLoad() {
    FakeInterface& lo = host.AddEthernet("lo", 1, {0, 0, 0, 0, 0, 0}, 65536);
    lo.attributes["type"] = "772";
    lo.hardware->family = kArpLoopback;
    lo.flags = IFF_UP | IFF_LOOPBACK | IFF_RUNNING;
    lo.link.reset();
    host.AddEthernet("eth0", 2, {0x02, 0, 0, 0, 0, 0x02});
    FakeInterface& eth1 = host.AddEthernet("eth1", 3, {0x02, 0, 0, 0, 0, 0x03});
    eth1.flags = IFF_UP | IFF_BROADCAST;  // no carrier
    eth1.link = EthtoolLink{};
    FakeInterface& veth = host.AddEthernet("veth0", 7, {0x02, 0, 0, 0, 0, 0x07}, 9000);
    veth.flags = IFF_BROADCAST;  // down
    veth.link->speedMbps = 10000;
    host.addresses = std::vector<HostIpv4>{
        {"lo", 1, MakeIpv4(127, 0, 0, 1), MakeIpv4(255, 0, 0, 0)},
        {"eth0", 2, MakeIpv4(10, 0, 0, 1), MakeIpv4(255, 255, 255, 0)},
        {"veth0", 7, MakeIpv4(10, 1, 0, 1), MakeIpv4(255, 255, 0, 0)},
    };
    lists = std::make_unique<InterfaceLists>();
  }
  bool Load() { return LoadInterfaceLists(host, trace, registry, *lists, &published); }
  void Store(const std::string& address, std::string bytes) {
    registry.Write("lldp", address, RegValue{RegType::kBinary, std::move(bytes)});
  }
  FakeNetHost host;
  CaptureTrace trace;
  MemoryRegistry registry;
  PublishedLists published;
  std::unique_ptr<InterfaceLists> lists;
};

TEST_F(InterfaceListLoad, InterfaceRowsFromTheHost) {
  ASSERT_TRUE(Load());
  const InterfaceTable& t = lists->interfaces;
  ASSERT_EQ(t.count, 4u);
  EXPECT_STREQ(t.entries[0].ifName, "lo");
  EXPECT_EQ(t.entries[0].ifType, 24u);
  EXPECT_EQ(t.entries[0].ifOperStatus, 5u);
  EXPECT_EQ(t.entries[0].ifSpeed, 0u);
  EXPECT_EQ(t.entries[0].ifMtu, 65536u);

  const InterfaceEntry& eth0 = t.entries[1];
  EXPECT_STREQ(eth0.ifName, "eth0");
  EXPECT_STREQ(eth0.ifDescr, "e1000e");
  EXPECT_EQ(eth0.ifIndex, 2u);
  EXPECT_EQ(eth0.ifType, 6u);
  EXPECT_EQ(eth0.ifMtu, 1500u);
  EXPECT_EQ(eth0.ifSpeed, 1000000000u);
  EXPECT_EQ(eth0.ifPhysAddrLen, 6u);
  EXPECT_EQ(eth0.ifPhysAddress[5], 0x02);
  EXPECT_EQ(eth0.ifAdminStatus, 1u);
  EXPECT_EQ(eth0.ifOperStatus, 5u);

  EXPECT_EQ(t.entries[2].ifOperStatus, 2u);  // up without carrier
  EXPECT_EQ(t.entries[2].ifSpeed, 0u);       // unknown
  EXPECT_EQ(t.entries[3].ifAdminStatus, 0u);
  EXPECT_EQ(t.entries[3].ifOperStatus, 0u);
  EXPECT_EQ(t.entries[3].ifSpeed, 0xFFFFFFFFu);  // 10 Gbit/s saturates
  host.interfaces["eth0"].entries.insert("wireless");
  ASSERT_TRUE(Load());
  EXPECT_EQ(lists->interfaces.entries[1].ifType, 71u);
}

TEST_F(InterfaceListLoad, AddressRowsInOrderWithComputedPortLists) {
  for (uint32_t i = 0; i < 8; ++i)
    host.AddEthernet("x" + std::to_string(i), 20 + i, {0x02, 1, 0, 0, 0, static_cast<uint8_t>(i)});
  host.addresses->push_back({"x7", 27, MakeIpv4(10, 2, 0, 1), MakeIpv4(255, 255, 255, 0)});
  ASSERT_TRUE(Load());
  const AddressTable& a = lists->addresses;
  ASSERT_EQ(a.count, 4u);
  EXPECT_EQ(a.entries[0].address, MakeIpv4(127, 0, 0, 1));
  EXPECT_EQ(a.entries[1].ifIndex, 2u);
  EXPECT_EQ(a.entries[1].mask, MakeIpv4(255, 255, 255, 0));
  // 12 interfaces: two bytes; eth0 is row 1, veth0 row 3, x7 row 11.
  EXPECT_EQ(a.entries[0].portListLength, 2u);
  EXPECT_EQ(a.entries[0].portList[0], 0x80);
  EXPECT_EQ(a.entries[1].portList[0], 0x40);
  EXPECT_EQ(a.entries[2].portList[0], 0x10);
  EXPECT_EQ(a.entries[3].portList[0], 0x00);
  EXPECT_EQ(a.entries[3].portList[1], 0x10);
  EXPECT_EQ(published.Get()->addresses.entries[3].portList[1], 0x10);
  EXPECT_EQ(published.Get()->interfaces.count, 12u);
}

TEST_F(InterfaceListLoad, StoredPortListIsUsedWhenItsLengthIsSound) {
  Store("10.0.0.1", std::string("\x01\x20", 2));
  Store("10.1.0.1", std::string("\x11", 1) + std::string(16, '\xff'));  // length 17
  Store("127.0.0.1", std::string("\x03\x01\x02", 3));                     // 3 > 2 that follow
  ASSERT_TRUE(Load());
  const AddressTable& a = lists->addresses;
  EXPECT_EQ(a.entries[1].portListLength, 1u);
  EXPECT_EQ(a.entries[1].portList[0], 0x20);
  EXPECT_EQ(a.entries[2].portListLength, 1u);  // computed: 4 interfaces
  EXPECT_EQ(a.entries[2].portList[0], 0x10);
  EXPECT_EQ(a.entries[0].portListLength, 1u);
  EXPECT_EQ(a.entries[0].portList[0], 0x80);
  EXPECT_EQ(a.entries[0].portList[1], 0x00);
}

TEST_F(InterfaceListLoad, ListsAreKeptWhileTheAddressStaysInPlace) {
  ASSERT_TRUE(Load());
  Store("10.0.0.1", std::string("\x01\x01", 2));
  ASSERT_TRUE(Load());
  EXPECT_EQ(lists->addresses.entries[1].portList[0], 0x40);  // same address: kept
  std::swap((*host.addresses)[1], (*host.addresses)[2]);
  ASSERT_TRUE(Load());
  EXPECT_EQ(lists->addresses.entries[1].address, MakeIpv4(10, 1, 0, 1));
  EXPECT_EQ(lists->addresses.entries[1].portList[0], 0x10);
  EXPECT_EQ(lists->addresses.entries[2].portList[0], 0x01);  // now read from the store
}

TEST_F(InterfaceListLoad, FailuresTraceAndKeepWhatWasLoaded) {
  ASSERT_TRUE(Load());
  host.listFails = true;
  host.interfaces.erase("eth1");
  EXPECT_FALSE(Load());
  EXPECT_EQ(trace.text, "loading interface list failed\n");
  EXPECT_EQ(lists->interfaces.count, 4u);
  EXPECT_EQ(published.Get()->interfaces.count, 4u);

  trace.text.clear();
  host.listFails = false;
  host.addresses.reset();
  EXPECT_FALSE(Load());
  EXPECT_EQ(trace.text, "loading ip address list failed\n");
  EXPECT_EQ(lists->interfaces.count, 3u);  // the interface table is already new
  EXPECT_EQ(published.Get()->interfaces.count, 3u);
  EXPECT_EQ(lists->addresses.count, 3u);
}

TEST_F(InterfaceListLoad, TakesAtMostTheRowsAsked) {
  for (uint32_t i = 0; i < 130; ++i) {
    host.AddEthernet("y" + std::to_string(i), 100 + i, {0x02, 2, 0, 0, 0, static_cast<uint8_t>(i)});
    host.addresses->push_back({"y", 100 + i, MakeIpv4(10, 3, 0, static_cast<uint8_t>(i)), 0});
  }
  ASSERT_TRUE(Load());
  EXPECT_EQ(lists->interfaces.count, 128u);
  EXPECT_EQ(lists->addresses.count, 128u);
  EXPECT_EQ(lists->addresses.entries[127].portListLength, 16u);
  ASSERT_TRUE(LoadInterfaceLists(host, trace, registry, *lists, nullptr, 5, 2));
  EXPECT_EQ(lists->interfaces.count, 5u);
  EXPECT_EQ(lists->addresses.count, 2u);
}

// ---- ports and their interface rows ----

class PortMatch : public ::testing::Test {
 protected:
  PortMatch() {
    Add("lo", 1, 24, 65536, 0, 5, 1);
    Add("eth0", 2, 6, 1500, 1000000000, 5, 1);
    Add("eth1", 3, 6, 65536, 0xFFFFFFFF, 2, 0);
    port.SetDeviceName("eth0");
  }
  void Add(const char* name, uint32_t index, uint32_t type, uint32_t mtu, uint32_t speed,
           uint32_t oper, uint32_t admin) {
    InterfaceEntry& e = table.entries[table.count++];
    CopyText(e.ifName, name);
    CopyText(e.ifDescr, std::string("driver of ") + name);
    e.ifIndex = index;
    e.ifType = type;
    e.ifMtu = mtu;
    e.ifSpeed = speed;
    e.ifPhysAddrLen = 6;
    e.ifPhysAddress[0] = 0x02;
    e.ifPhysAddress[5] = static_cast<uint8_t>(index);
    e.ifOperStatus = oper;
    e.ifAdminStatus = admin;
  }
  InterfaceTable table;
  Port port;
};

TEST_F(PortMatch, MatchesByInterfaceName) {
  uint32_t index = 99;
  ASSERT_TRUE(MatchInterface(table, port, &index));
  EXPECT_EQ(index, 1u);
  EXPECT_EQ(port.ifIndex, 2u);
  port.SetDeviceName("\\Device\\NPF_eth1");
  ASSERT_TRUE(MatchInterface(table, port, nullptr));
  EXPECT_EQ(port.ifIndex, 3u);
  port.SetDeviceName("eth");
  EXPECT_FALSE(MatchInterface(table, port, &index));
  EXPECT_EQ(port.ifIndex, 3u);  // a failed match leaves the port and the caller's index
  EXPECT_EQ(index, 1u);
}

TEST_F(PortMatch, FactsFillOnlyWhatIsUnknown) {
  FactsFromInterface(table, port);
  const uint8_t mac[6] = {0x02, 0, 0, 0, 0, 2};
  EXPECT_TRUE(port.macAddress.equals(mac));
  EXPECT_EQ(port.linkStatus, kLinkConnected);
  EXPECT_EQ(port.state, kPortReady);
  EXPECT_EQ(port.ifType, 6u);
  EXPECT_EQ(port.mediaSupported, 1u);
  EXPECT_EQ(port.linkSpeed, 10000000u);
  EXPECT_EQ(port.maxFrameSize, 1518u);

  Port known;
  known.SetDeviceName("eth1");
  const uint8_t other[6] = {0x0a, 1, 2, 3, 4, 5};
  known.macAddress.store(other);
  known.linkStatus = kLinkConnected;
  known.ifType = 71;
  known.linkSpeed = 5;
  FactsFromInterface(table, known);
  EXPECT_TRUE(known.macAddress.equals(other));
  EXPECT_EQ(known.linkStatus, kLinkConnected);
  EXPECT_EQ(known.state, kPortNotReady);  // administratively down
  EXPECT_EQ(known.ifType, 71u);
  EXPECT_EQ(known.mediaSupported, 0u);    // not an Ethernet type
  EXPECT_EQ(known.linkSpeed, 5u);
  EXPECT_EQ(known.maxFrameSize, 65535u);  // 65536 + 18 saturates
}

TEST_F(PortMatch, DescriptionComesFromTheRow) {
  DescriptionFromInterface(table, port);
  EXPECT_EQ(port.Description(), "driver of eth0");
  Port none;
  none.SetDeviceName("eth7");
  none.SetDescription("kept");
  DescriptionFromInterface(table, none);
  EXPECT_EQ(none.Description(), "kept");
}

TEST_F(PortMatch, RefreshReportsLinkChanges) {
  EXPECT_FALSE(RefreshFromInterface(table, port));  // unknown -> up
  EXPECT_EQ(port.linkStatus, kLinkConnected);
  EXPECT_EQ(port.linkSpeed, 10000000u);
  EXPECT_EQ(port.maxFrameSize, 1518u);
  EXPECT_TRUE(RefreshFromInterface(table, port));   // up -> up
  table.entries[1].ifOperStatus = 2;
  EXPECT_FALSE(RefreshFromInterface(table, port));  // up -> down
  EXPECT_EQ(port.linkStatus, kLinkDisconnected);
  EXPECT_TRUE(RefreshFromInterface(table, port));   // down -> down
  table.entries[1].ifAdminStatus = 0;
  port.state = kPortReady;
  RefreshFromInterface(table, port);
  EXPECT_EQ(port.state, kPortNotReady);
  Port none;
  none.SetDeviceName("eth7");
  none.linkStatus = kLinkConnected;
  EXPECT_FALSE(RefreshFromInterface(table, none));
  EXPECT_EQ(none.linkStatus, kLinkConnected);
}

}  // namespace
}  // namespace torvane
