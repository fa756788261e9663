// ctest-labels: netns
// Link access on real links: two namespaces joined by a veth pair, the link layer
// driven from a thread inside the first, a raw socket in the second as the peer.
// Run once with each packet back-end.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "agent/link/linux_link_layer.h"
#include "platform/console.h"
#include "platform/registry_store.h"
#include "tests/support/peer_lab.h"
#include "tests/support/link/recording_dispatcher.h"

namespace torvane {
namespace {

using namespace std::chrono_literals;

const Bytes kLldpGroup = {0x01, 0x80, 0xC2, 0x00, 0x00, 0x0E};
const Bytes kCdpGroup = {0x01, 0x00, 0x0C, 0xCC, 0xCC, 0xCC};
const uint8_t kGroups[12] = {0x01, 0x80, 0xC2, 0x00, 0x00, 0x0E, 0x01, 0x00, 0x0C, 0xCC, 0xCC, 0xCC};

class LinkNetns : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    std::string why = NetnsLab::Unavailable();
    if (!why.empty()) GTEST_SKIP() << why;
    lab = std::make_unique<PeerLab>();
    LabLink veth{"a", "b", "tva0", "tvb0", "10.93.0.1", "10.93.0.2"};
    veth.mtu = 2000;
    ASSERT_EQ(lab->Open(veth), "");
    nsA = lab->ours;
    nsB = lab->peer;
    worker = std::make_unique<NamespaceThread>(nsA, true);
    peer = std::make_unique<NamespaceThread>(nsB, false);
    ASSERT_TRUE(worker->ok());
    ASSERT_TRUE(peer->ok());
    ASSERT_TRUE(peer->Call([&] { peerPort = std::make_unique<RawPort>("tvb0"); }));
    ASSERT_TRUE(peerPort && peerPort->ok());
    ourMac = MacBytes(lab->Capture(nsA, "cat /sys/class/net/tva0/address"));
    peerMac = MacBytes(lab->Capture(nsB, "cat /sys/class/net/tvb0/address"));
    ASSERT_EQ(ourMac.size(), 6u);

    agent.debugLevel = 1;
    agent.settings.Update([](AgentSettings& s, OutsideSettings& o) {
      s.ioctl = 7;
      o.BugFilter = 1;
    });
    bool library = false;
    ASSERT_TRUE(worker->Call([&] {
      link = std::make_unique<LinuxLinkLayer>(
          LinkContext{agent.ports, agent.settings, agent.lists, registry, agent.usePacketLibrary, consoleTrace},
          dispatcher);
      if (GetParam() == 1) agent.usePacketLibrary = library = link->LoadPacketLibrary();
      started = link->StartPacketDriver();
      uint8_t buffer[8192];
      agent.ports.portCount = link->DiscoverAdapters(agent.ports, 0, buffer, sizeof buffer);
      link->LoadInterfaceLists();
    }));
    if (GetParam() == 1 && !library) GTEST_SKIP() << "libpcap is not installed";
    ASSERT_TRUE(started);
    for (uint32_t i = 0; i < agent.ports.portCount; ++i)
      if (agent.ports[i].ConnectionName() == "tva0") port = &agent.ports[i];
    ASSERT_NE(port, nullptr) << console.Text();
  }

  void TearDown() override {
    if (worker) {
      worker->Call([&] {
        if (link) link->CloseAllPorts(agent.ports);
        link.reset();
      });
    }
    if (peer) peer->Call([&] { peerPort.reset(); });
    worker.reset();
    peer.reset();
    lab.reset();
  }

  bool Open() {
    bool ok = false;
    worker->Call([&] { ok = link->OpenPort(*port, 3, kGroups, sizeof kGroups); });
    return ok && port->receiverState == kReceiverRunning;
  }

  bool PeerSend(const Bytes& frame) {
    bool ok = false;
    peer->Call([&] { ok = peerPort->Send(frame); });
    return ok;
  }

  std::unique_ptr<PeerLab> lab;
  std::string nsA, nsB;
  std::unique_ptr<NamespaceThread> worker, peer;
  std::unique_ptr<RawPort> peerPort;
  Bytes ourMac, peerMac;

  // What link access shares with the rest of an agent.
  struct {
    SettingsStore settings;
    PortTable ports;
    PublishedLists lists;
    std::atomic<bool> usePacketLibrary{false};
    std::atomic<int> debugLevel{0};
  } agent;
  MemoryRegistry registry;
  CaptureConsole console;
  std::mutex logLock;
  ConsoleTrace consoleTrace{console, logLock, agent.debugLevel};
  RecordingDispatcher dispatcher;
  std::unique_ptr<LinuxLinkLayer> link;
  bool started = false;
  Port* port = nullptr;
};

TEST_P(LinkNetns, OpenLearnsTheVethAndSetsTheAdapterUp) {
  ASSERT_TRUE(Open()) << console.Text();
  EXPECT_EQ(port->state, kPortReady);
  EXPECT_EQ(port->linkStatus, kLinkConnected);
  Mac mac = port->macAddress.load();
  EXPECT_TRUE(std::equal(mac.begin(), mac.end(), ourMac.begin()));
  EXPECT_EQ(port->linkSpeed, 100000000u);  // 10 Gbit/s in units of 100 bit/s
  EXPECT_EQ(port->duplex, 2u);
  EXPECT_EQ(port->maxFrameSize, 2018u);  // MTU + 18
  std::string trace = console.Text();
  EXPECT_EQ(CountOf(trace, "SetBuffserSize"), 0u) << "kernel buffer short of what was asked";
  EXPECT_EQ(CountOf(trace, "Loading protocol filter failed"), 0u);
  EXPECT_EQ(CountOf(trace, "MulticastMode list\n"), 1u);
  EXPECT_EQ(CountOf(trace, "tva0 started receiver\n"), 1u);
  // The group addresses are on the interface's multicast list while it is open.
  std::string mcast = lab->Capture(nsA, "ip maddr show dev tva0");
  EXPECT_NE(mcast.find("01:80:c2:00:00:0e"), std::string::npos) << mcast;
  EXPECT_NE(mcast.find("01:00:0c:cc:cc:cc"), std::string::npos) << mcast;
}

TEST_P(LinkNetns, DiscoveryFramesArriveInOrderAndCompleteOthersAreDropped) {
  ASSERT_TRUE(Open()) << console.Text();
  Bytes lldp1 = LldpFrame(kLldpGroup, peerMac, "one");
  Bytes ipv4 = EthernetFrame(ourMac, peerMac, 0x0800, {0x45, 0, 0, 20, 0, 0, 0, 0, 64, 17});
  Bytes cdp = CdpFrame(kCdpGroup, peerMac, "switch-1");
  Bytes arp = EthernetFrame({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, peerMac, 0x0806, {0, 1, 8, 0});
  Bytes stp = EthernetFrame({0x01, 0x80, 0xC2, 0x00, 0x00, 0x00}, peerMac, 0x0026, {0x42, 0x42, 3});
  Bytes big = LldpFrame(kLldpGroup, peerMac, "big", 2000);  // longer than the capture length
  Bytes lldp2 = LldpFrame(ourMac, peerMac, "two");
  for (const Bytes* f : {&lldp1, &ipv4, &cdp, &arp, &stp, &big, &lldp2}) ASSERT_TRUE(PeerSend(*f));
  ASSERT_TRUE(dispatcher.WaitFor(4, 3s)) << dispatcher.Count();
  std::this_thread::sleep_for(300ms);  // nothing else may follow
  auto got = dispatcher.Frames();
  ASSERT_EQ(got.size(), 4u);
  EXPECT_EQ(got[0].bytes, lldp1);
  EXPECT_EQ(got[1].bytes, cdp);
  ASSERT_EQ(got[2].bytes.size(), 1514u);  // cut to what was captured, never more
  EXPECT_TRUE(std::equal(got[2].bytes.begin(), got[2].bytes.end(), big.begin()));
  EXPECT_EQ(got[3].bytes, lldp2);
  for (auto& f : got) EXPECT_EQ(f.port, port);
}

TEST_P(LinkNetns, OwnFramesGoOutPaddedAndAreNotDeliveredBack) {
  ASSERT_TRUE(Open()) << console.Text();
  Bytes shortFrame = LldpFrame(kLldpGroup, ourMac, "x", 0);
  ASSERT_LT(shortFrame.size(), 60u);
  Bytes cdp = CdpFrame(kCdpGroup, ourMac, "me");
  bool sent = false;
  ASSERT_TRUE(worker->Call([&] {
    sent = link->SendFrame(*port, shortFrame.data(), shortFrame.size()) &&
           link->SendFrame(*port, cdp.data(), cdp.size());
  }));
  ASSERT_TRUE(sent);
  std::optional<Bytes> first, second;
  peer->Call([&] {
    first = peerPort->Receive(2s);
    while (first && (*first)[12] == 0x86 && (*first)[13] == 0xDD) first = peerPort->Receive(2s);
    second = peerPort->Receive(2s);
  });
  ASSERT_TRUE(first);
  ASSERT_EQ(first->size(), 60u);
  EXPECT_TRUE(std::equal(shortFrame.begin(), shortFrame.end(), first->begin()));
  EXPECT_TRUE(std::all_of(first->begin() + static_cast<long>(shortFrame.size()), first->end(),
                          [](uint8_t b) { return b == 0; }));
  ASSERT_TRUE(second);
  EXPECT_EQ(*second, cdp);
  // Whatever leaves this interface is outgoing, also when another socket of this
  // host sent it.
  ASSERT_TRUE(worker->Call([&] {
    RawPort other("tva0");
    other.Send(LldpFrame(kLldpGroup, ourMac, "other"));
  }));
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(dispatcher.Count(), 0u);
  // The reader is alive: the peer's frame still arrives.
  Bytes lldp = LldpFrame(kLldpGroup, peerMac, "peer");
  ASSERT_TRUE(PeerSend(lldp));
  ASSERT_TRUE(dispatcher.WaitFor(1, 3s));
  EXPECT_EQ(dispatcher.Frames()[0].bytes, lldp);
  EXPECT_EQ(port->sendFailures, 0u);
}

TEST_P(LinkNetns, BurstOfFullSizeFramesArrivesWholeAndInOrder) {
  ASSERT_TRUE(Open()) << console.Text();
  constexpr int kFrames = 150;
  peer->Call([&] {
    for (int i = 0; i < kFrames; ++i) {
      char id[16];
      std::snprintf(id, sizeof id, "f%03d", i);
      peerPort->Send(LldpFrame(kLldpGroup, peerMac, id, 1514));
    }
  });
  ASSERT_TRUE(dispatcher.WaitFor(kFrames, 5s)) << dispatcher.Count();
  auto got = dispatcher.Frames();
  ASSERT_EQ(got.size(), static_cast<size_t>(kFrames));
  for (int i = 0; i < kFrames; ++i) {
    char id[16];
    std::snprintf(id, sizeof id, "f%03d", i);
    auto portId = LldpTlv(got[i].bytes, 2);
    ASSERT_TRUE(portId);
    EXPECT_EQ(std::string(portId->begin() + 1, portId->end()), id);
    EXPECT_EQ(got[i].bytes.size(), 1514u);
  }
}

TEST_P(LinkNetns, ClosingAPortEndsItsWaitingReaderWithinASecond) {
  ASSERT_TRUE(Open()) << console.Text();
  std::this_thread::sleep_for(100ms);  // the reader is waiting now
  auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(worker->Call([&] { link->ClosePort(*port); }, 5s));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
  EXPECT_EQ(port->link, nullptr);
  EXPECT_FALSE(link->IsAdapterOpen(*port));
  std::string trace = console.Text();
  EXPECT_EQ(CountOf(trace, "tva0 stopped\n"), 1u);
  EXPECT_EQ(CountOf(trace, "recv data failed"), 0u);
  // Its memberships went with it.
  std::string mcast = lab->Capture(nsA, "ip maddr show dev tva0");
  EXPECT_EQ(mcast.find("01:00:0c:cc:cc:cc"), std::string::npos) << mcast;
}

TEST_P(LinkNetns, DeletedInterfaceIsClosedAtItsTurnAndReopenedWhenBack) {
  ASSERT_TRUE(Open()) << console.Text();
  ASSERT_TRUE(lab->Sh("ip -n " + nsA + " link del tva0"));
  ASSERT_TRUE(Eventually([&] { return port->link && port->link->readerFailed.load(); }, 3s))
      << console.Text();
  // The reader ended without closing its port; the worker's turn does.
  bool named = true;
  ASSERT_TRUE(worker->Call([&] { named = link->RefreshConnectionName(*port); }));
  EXPECT_FALSE(named);
  EXPECT_EQ(port->link, nullptr);
  EXPECT_EQ(port->state, kPortClosed);
  std::string trace = console.Text();
  EXPECT_EQ(CountOf(trace, "tva0 recv data failed\n"), 1u);
  EXPECT_EQ(CountOf(trace, "tva0 stopped\n"), 1u);

  peer->Call([&] { peerPort.reset(); });
  ASSERT_TRUE(lab->Relink());
  peer->Call([&] { peerPort = std::make_unique<RawPort>("tvb0"); });
  peerMac = MacBytes(lab->Capture(nsB, "cat /sys/class/net/tvb0/address"));
  bool reopened = false;
  ASSERT_TRUE(worker->Call([&] {
    link->LoadInterfaceLists();
    if (link->RefreshConnectionName(*port) && port->state == kPortClosed &&
        !link->IsAdapterOpen(*port))
      reopened = link->OpenPort(*port, 3, kGroups, sizeof kGroups);
  }));
  ASSERT_TRUE(reopened) << console.Text();
  Bytes lldp = LldpFrame(kLldpGroup, peerMac, "again");
  ASSERT_TRUE(PeerSend(lldp));
  ASSERT_TRUE(dispatcher.WaitFor(1, 3s));
  EXPECT_EQ(dispatcher.Frames().back().bytes, lldp);
}

TEST_P(LinkNetns, LoopbackIsNeverServed) {
  Port& lo = agent.ports[agent.ports.portCount];
  lo.number = agent.ports.portCount + 1;
  lo.SetDeviceName("lo");
  lo.SetConnectionName("lo");
  bool opened = true;
  ASSERT_TRUE(worker->Call([&] { opened = link->OpenPort(lo, 3, kGroups, sizeof kGroups); }));
  EXPECT_FALSE(opened);
  EXPECT_EQ(lo.state, kPortUnusable);
  EXPECT_EQ(lo.link, nullptr);
}

INSTANTIATE_TEST_SUITE_P(BackEnds, LinkNetns, ::testing::Values(0, 1),
                         [](const ::testing::TestParamInfo<int>& p) {
                           return p.param ? "Library" : "Sockets";
                         });

}  // namespace
}  // namespace torvane
