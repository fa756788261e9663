// ctest-labels: netns
// The Linux answers on real devices: a namespace of the test's own with a veth
// pair and a tap device (100 Mbit/s half duplex, held open so that it has
// carrier). Every Linux call runs on a thread that entered the namespace; that
// thread also mounts a sysfs of the namespace in a mount namespace of its own,
// so discovery sees the namespace's devices and nothing of the host's.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/if_tun.h>
#include <net/if.h>
#include <sched.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <thread>

#include "agent/link/adapter_discovery.h"
#include "agent/link/adapter_queries.h"
#include "agent/link/net_host.h"
#include "platform/registry_store.h"
#include "tests/support/link/fake_net_host.h"

namespace torvane {
namespace {

bool RunQuietly(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// The test's namespace, removed (with every device in it) on every way out.
class TestNamespace {
 public:
  TestNamespace() : name_("tvadapt" + std::to_string(::getpid())) {
    RunQuietly("ip netns del " + name_);
    created_ = RunQuietly("ip netns add " + name_);
  }
  ~TestNamespace() {
    if (created_) RunQuietly("ip netns del " + name_);
  }
  bool created() const { return created_; }
  const std::string& name() const { return name_; }
  bool Ip(const std::string& args) const { return RunQuietly("ip -n " + name_ + " " + args); }
  bool Exec(const std::string& command) const {
    return RunQuietly("ip netns exec " + name_ + " " + command);
  }

 private:
  std::string name_;
  bool created_ = false;
};

// Runs `body` on a thread inside the namespace with a sysfs of that namespace
// mounted at a temporary folder (passed to body as the class-net root).
template <class Body>
void InNamespace(const TestNamespace& ns, Body body) {
  std::string mountPoint = (std::filesystem::temp_directory_path() / "torvane-nsys-XXXXXX").string();
  ASSERT_NE(::mkdtemp(mountPoint.data()), nullptr);
  std::thread worker([&] {
    int fd = ::open(("/run/netns/" + ns.name()).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || ::setns(fd, CLONE_NEWNET) != 0) {
      ADD_FAILURE() << "cannot enter the namespace";
      if (fd >= 0) ::close(fd);
      return;
    }
    ::close(fd);
    // The mount lives in this thread's own mount namespace and goes with it.
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("sysfs", mountPoint.c_str(), "sysfs", 0, nullptr) != 0) {
      ADD_FAILURE() << "cannot mount the namespace's sysfs: " << std::strerror(errno);
      return;
    }
    body(mountPoint + "/class/net");
  });
  worker.join();
  std::filesystem::remove(mountPoint);
}

bool WaitRunning(NetHost& host, const std::vector<std::string>& names) {
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  for (int i = 0; i < 300 && std::chrono::steady_clock::now() < until; ++i) {
    bool all = true;
    for (const auto& n : names) {
      auto flags = host.InterfaceFlags(n);
      all = all && flags && (*flags & IFF_RUNNING);
    }
    if (all) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

TEST(AdaptersInNamespace, VethAndTapAnswersFromTheKernel) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to create namespaces";
  if (!RunQuietly("command -v ip") || !RunQuietly("command -v ethtool")) GTEST_SKIP() << "needs ip and ethtool";
  TestNamespace ns;
  ASSERT_TRUE(ns.created());
  ASSERT_TRUE(ns.Ip("link set lo up"));
  ASSERT_TRUE(ns.Ip("link add tva type veth peer name tvb"));
  ASSERT_TRUE(ns.Ip("link set tva mtu 1400"));
  ASSERT_TRUE(ns.Ip("addr add 10.77.1.1/24 dev tva"));
  ASSERT_TRUE(ns.Ip("addr add 10.77.1.2/24 dev tvb"));
  ASSERT_TRUE(ns.Ip("link set tva up"));
  ASSERT_TRUE(ns.Ip("link set tvb up"));

  InNamespace(ns, [&](const std::string& classNet) {
    // The tap device: created by this thread in the namespace and held open.
    int tap = ::open("/dev/net/tun", O_RDWR | O_CLOEXEC);
    ASSERT_GE(tap, 0);
    std::unique_ptr<int, void (*)(int*)> closeTap(&tap, [](int* fd) { ::close(*fd); });
    ifreq ifr{};
    std::strcpy(ifr.ifr_name, "tvtap0");
    ifr.ifr_flags = IFF_TAP | IFF_NO_PI;
    ASSERT_EQ(::ioctl(tap, TUNSETIFF, &ifr), 0) << std::strerror(errno);
    ASSERT_TRUE(ns.Ip("addr add 10.77.2.1/24 dev tvtap0"));
    ASSERT_TRUE(ns.Ip("link set tvtap0 up"));
    ASSERT_TRUE(ns.Exec("ethtool -s tvtap0 speed 100 duplex half autoneg off"));

    NetHostRoots roots;
    roots.classNet = classNet;
    auto host = MakeLinuxNetHost(roots);
    ASSERT_TRUE(WaitRunning(*host, {"tva", "tvb", "tvtap0"}));
    CaptureTrace trace;

    // Discovery: the two veth ends and the tap, not the loopback, nothing of the host.
    auto table = std::make_unique<PortTable>();
    uint32_t count = DiscoverAdapters(*host, trace, *table, 0);
    std::set<std::string> names;
    for (uint32_t i = 0; i < count; ++i) names.insert((*table)[i].DeviceName());
    EXPECT_EQ(names, (std::set<std::string>{"tva", "tvb", "tvtap0"}));

    // ethtool through both calls of the link settings.
    auto veth = host->LinkSettings("tva");
    ASSERT_TRUE(veth);
    EXPECT_EQ(veth->speedMbps, 10000u);
    EXPECT_EQ(veth->duplex, EthtoolLink::kFull);
    EXPECT_FALSE(veth->autoneg);
    auto tapLink = host->LinkSettings("tvtap0");
    ASSERT_TRUE(tapLink);
    EXPECT_EQ(tapLink->speedMbps, 100u);
    EXPECT_EQ(tapLink->duplex, EthtoolLink::kHalf);
    EXPECT_EQ(host->DriverInfoOf("tva")->driver, "veth");
    EXPECT_EQ(host->DriverInfoOf("tvtap0")->driver, "tun");

    // The interface and address tables.
    MemoryRegistry registry;
    auto lists = std::make_unique<InterfaceLists>();
    ASSERT_TRUE(LoadInterfaceLists(*host, trace, registry, *lists, nullptr));
    std::map<std::string, const InterfaceEntry*> rows;
    for (uint32_t i = 0; i < lists->interfaces.count; ++i)
      rows[lists->interfaces.entries[i].ifName] = &lists->interfaces.entries[i];
    ASSERT_EQ(rows.size(), 4u);
    ASSERT_TRUE(rows.count("lo") && rows.count("tva") && rows.count("tvtap0"));
    EXPECT_EQ(rows["lo"]->ifType, 24u);
    const InterfaceEntry& tva = *rows["tva"];
    EXPECT_EQ(tva.ifType, 6u);
    EXPECT_EQ(tva.ifMtu, 1400u);
    EXPECT_EQ(tva.ifSpeed, 0xFFFFFFFFu);
    EXPECT_EQ(tva.ifAdminStatus, 1u);
    EXPECT_EQ(tva.ifOperStatus, 5u);
    EXPECT_EQ(tva.ifIndex, ::if_nametoindex("tva"));
    EXPECT_EQ(tva.ifPhysAddrLen, 6u);
    auto sysAddress = host->ReadAttribute("tva", "address");
    char macText[18];
    std::snprintf(macText, sizeof macText, "%02x:%02x:%02x:%02x:%02x:%02x", tva.ifPhysAddress[0],
                  tva.ifPhysAddress[1], tva.ifPhysAddress[2], tva.ifPhysAddress[3],
                  tva.ifPhysAddress[4], tva.ifPhysAddress[5]);
    EXPECT_EQ(sysAddress, std::string(macText));
    EXPECT_STREQ(tva.ifDescr, "veth");
    EXPECT_EQ(rows["tvtap0"]->ifSpeed, 100000000u);
    EXPECT_EQ(rows["tvtap0"]->ifOperStatus, 5u);

    std::map<Ipv4, uint32_t> addresses;
    for (uint32_t i = 0; i < lists->addresses.count; ++i)
      addresses[lists->addresses.entries[i].address] = lists->addresses.entries[i].ifIndex;
    EXPECT_EQ(addresses.size(), 4u);
    EXPECT_EQ(addresses[MakeIpv4(127, 0, 0, 1)], rows["lo"]->ifIndex);
    EXPECT_EQ(addresses[MakeIpv4(10, 77, 1, 1)], tva.ifIndex);
    EXPECT_EQ(addresses[MakeIpv4(10, 77, 1, 2)], rows["tvb"]->ifIndex);
    EXPECT_EQ(addresses[MakeIpv4(10, 77, 2, 1)], rows["tvtap0"]->ifIndex);
    EXPECT_EQ(AddressOfInterface(lists->addresses, tva.ifIndex), MakeIpv4(10, 77, 1, 1));

    // The veth through the adapter device path.
    Port& va = (*table)[0].DeviceName() == "tva" ? (*table)[0] : (*table)[1];
    ASSERT_EQ(va.DeviceName(), "tva");
    auto device = OpenAdapterDevice(*host, trace, va);
    ASSERT_TRUE(device);
    EXPECT_EQ(QueryAdapterDevice(*device, trace, va), 1);
    EXPECT_TRUE(QueryAdapterDeviceLink(*device, trace, va));
    EXPECT_TRUE(va.macAddress.equals(tva.ifPhysAddress));
    EXPECT_EQ(va.mediaSupported, 1u);
    EXPECT_EQ(va.state, kPortReady);
    EXPECT_EQ(va.ifType, 6u);
    EXPECT_EQ(va.maxFrameSize, 1418u);  // MTU + 14 + 4
    EXPECT_EQ(va.linkStatus, kLinkConnected);
    EXPECT_EQ(va.linkSpeed, 100000000u);  // 10 Gbit/s in 100 bit/s
    EXPECT_EQ(va.duplex, 2u);
    EXPECT_EQ(va.autoNeg, 0u);
    EXPECT_EQ(va.vlanId, 0u);
    EXPECT_EQ(va.Description(), "veth");

    // The tap through the packet driver path.
    Port tapPort;
    tapPort.SetDeviceName("tvtap0");
    HostOidRequester requester(*host);
    QueryPath q{requester, trace};
    uint8_t mac[6];
    EXPECT_TRUE(QueryMacAddress(q, tapPort, mac));
    EXPECT_TRUE(RefreshLinkProperties(q, tapPort));
    EXPECT_EQ(tapPort.linkStatus, kLinkConnected);
    EXPECT_EQ(tapPort.linkSpeed, 1000000u);  // 100 Mbit/s
    EXPECT_EQ(tapPort.duplex, 1u);            // half, from the link state
    uint32_t multicastBytes = 0;
    EXPECT_TRUE(QueryMulticastList(q, tapPort, multicastBytes));
    EXPECT_GE(multicastBytes, 6u);  // at least the all-hosts group of its IPv4 address
    EXPECT_NE(trace.text.find("01005e000001"), std::string::npos);

    // The peer down takes the carrier: the table reports it, the refresh sees it.
    ASSERT_TRUE(ns.Ip("link set tvb down"));
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while ((host->InterfaceFlags("tva").value_or(0) & IFF_RUNNING) &&
           std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(LoadInterfaceLists(*host, trace, registry, *lists, nullptr));
    EXPECT_FALSE(RefreshFromInterface(lists->interfaces, va));  // went down
    EXPECT_EQ(va.linkStatus, kLinkDisconnected);
    Port vb;
    vb.SetDeviceName("tvb");
    FactsFromInterface(lists->interfaces, vb);
    EXPECT_EQ(vb.state, kPortNotReady);  // administratively down
    uint8_t status[4];
    uint32_t length = 0;
    ASSERT_TRUE(AnswerOidQuery(*host, "tva", OID_GEN_MEDIA_CONNECT_STATUS, status, 4, length));
    EXPECT_EQ(status[0], 1);  // disconnected
  });
}

}  // namespace
}  // namespace torvane
