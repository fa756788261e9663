// ctest-labels: unit;threaded
// The port level of link access over a scripted back-end: the open sequence and
// its failure exits, the hand-over with the receive thread, and that nothing of a
// port (adapter, packets, thread) outlives it on any path.
#include "agent/link/packet_driver.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "agent/link/capture_buffer.h"
#include "agent/link/oid_answers.h"
#include "platform/console.h"
#include "tests/support/link/recording_dispatcher.h"

namespace torvane {
namespace {

using namespace std::chrono_literals;

// A host with no interfaces at all: every OID query fails.
class EmptyHost : public NetHost {
 public:
  std::optional<std::vector<std::string>> InterfaceNames() override { return std::nullopt; }
  std::optional<std::string> ReadAttribute(std::string_view, std::string_view) override {
    return std::nullopt;
  }
  bool HasEntry(std::string_view, std::string_view) override { return false; }
  std::optional<uint32_t> InterfaceFlags(std::string_view) override { return std::nullopt; }
  std::optional<HardwareAddress> HardwareAddressOf(std::string_view) override {
    return std::nullopt;
  }
  std::optional<EthtoolLink> LinkSettings(std::string_view) override { return std::nullopt; }
  std::optional<DriverInfo> DriverInfoOf(std::string_view) override { return std::nullopt; }
  std::optional<uint32_t> VlanIdOf(std::string_view) override { return std::nullopt; }
  std::optional<std::vector<std::array<uint8_t, 6>>> MulticastAddresses(
      std::string_view) override {
    return std::nullopt;
  }
  std::optional<std::string> UdevModel(uint32_t) override { return std::nullopt; }
  std::optional<std::vector<HostIpv4>> Ipv4Addresses() override { return std::nullopt; }
};

class CaptureTrace : public LinkTrace {
 public:
  bool Enabled() const override { return true; }
  void Write(std::string_view text) override {
    std::lock_guard<std::mutex> lock(mutex_);
    text_.append(text);
  }
  std::string Text() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return text_;
  }
  size_t Count(std::string_view needle) const {
    std::string t = Text();
    size_t n = 0;
    for (size_t at = t.find(needle); at != std::string::npos; at = t.find(needle, at + 1)) ++n;
    return n;
  }

 private:
  mutable std::mutex mutex_;
  std::string text_;
};

// What the scripted back-end was asked, and how it answers.
struct Script {
  std::mutex mutex;
  std::condition_variable cv;
  // answers
  bool driverStarts = true;
  OpenFailure openFailure = OpenFailure::kNone;
  bool readEventFails = false;
  bool filterFails = false;
  bool filterRequired = false;
  bool listFails = false;
  bool writeFails = false;
  std::deque<std::vector<uint8_t>> pending;  // frames the next read returns
  bool failRead = false;
  // record
  int opens = 0, closes = 0, packetsAlive = 0, releases = 0, reads = 0;
  std::vector<uint32_t> filters;
  std::vector<uint8_t> list;
  std::vector<std::vector<uint8_t>> written;

  void Deliver(std::vector<uint8_t> frame) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      pending.push_back(std::move(frame));
    }
    cv.notify_all();
  }
  void FailNextRead() {
    {
      std::lock_guard<std::mutex> lock(mutex);
      failRead = true;
    }
    cv.notify_all();
  }
};

struct ScriptPacket : Packet {
  explicit ScriptPacket(Script& s) : script(s) {
    std::lock_guard<std::mutex> lock(script.mutex);
    ++script.packetsAlive;
  }
  ~ScriptPacket() override {
    std::lock_guard<std::mutex> lock(script.mutex);
    --script.packetsAlive;
  }
  Script& script;
};

struct ScriptLink : PortLink {
  bool released = false;
  bool open = true;
};

class ScriptBackend : public PacketBackend {
 public:
  explicit ScriptBackend(Script& s, const char* name = "af_packet") : s_(s), name_(name) {}
  const char* Name() const override { return name_; }
  bool StartDriver(std::string& version) override {
    version = "scripted 1.0";
    return s_.driverStarts;
  }
  bool StopDriver() override { return true; }
  std::unique_ptr<PortLink> OpenAdapter(std::string_view name, OpenFailure& why) override {
    std::lock_guard<std::mutex> lock(s_.mutex);
    why = s_.openFailure;
    if (why != OpenFailure::kNone) return nullptr;
    ++s_.opens;
    auto link = std::make_unique<ScriptLink>();
    link->backend = this;
    link->ifName = std::string(name);
    return link;
  }
  void CloseAdapter(PortLink& link) override {
    std::lock_guard<std::mutex> lock(s_.mutex);
    auto& l = static_cast<ScriptLink&>(link);
    EXPECT_TRUE(l.open) << "adapter closed twice";
    l.open = false;
    ++s_.closes;
  }
  std::unique_ptr<Packet> AllocatePacket() override { return std::make_unique<ScriptPacket>(s_); }
  bool WritePacket(PortLink&, Packet& packet) override {
    std::lock_guard<std::mutex> lock(s_.mutex);
    if (s_.writeFails) return false;
    s_.written.emplace_back(packet.buffer, packet.buffer + packet.length);
    return true;
  }
  bool ReadPacket(PortLink& link, Packet& packet) override {
    auto& l = static_cast<ScriptLink&>(link);
    std::unique_lock<std::mutex> lock(s_.mutex);
    ++s_.reads;
    packet.bytesReceived = 0;
    packet.readError = 0;
    s_.cv.wait(lock, [&] { return l.released || s_.failRead || !s_.pending.empty(); });
    if (l.released) return false;
    if (s_.failRead) {
      s_.failRead = false;
      packet.readError = 5;
      return false;
    }
    size_t used = 0;
    while (!s_.pending.empty()) {
      auto& f = s_.pending.front();
      if (!AppendCaptureRecord(packet.buffer, packet.length, used, 0, 0, f.data(),
                               static_cast<uint32_t>(f.size()), static_cast<uint32_t>(f.size())))
        break;
      s_.pending.pop_front();
    }
    packet.bytesReceived = static_cast<uint32_t>(used);
    return true;
  }
  bool SetReadEvent(PortLink&, Packet& packet) override {
    packet.readEvent = 1;
    return !s_.readEventFails;
  }
  void ReleaseReader(PortLink& link) override {
    {
      std::lock_guard<std::mutex> lock(s_.mutex);
      static_cast<ScriptLink&>(link).released = true;
      ++s_.releases;
    }
    s_.cv.notify_all();
  }
  bool SetPacketFilter(PortLink&, uint32_t filter) override {
    std::lock_guard<std::mutex> lock(s_.mutex);
    s_.filters.push_back(filter);
    return true;
  }
  bool SetMulticastList(PortLink&, const uint8_t* list, size_t bytes) override {
    std::lock_guard<std::mutex> lock(s_.mutex);
    s_.list.assign(list, list + bytes);
    return !s_.listFails;
  }
  bool SetProtocolFilter(PortLink&, std::span<const BpfInstruction>) override {
    return !s_.filterFails;
  }
  bool ProtocolFilterRequired() const override { return s_.filterRequired; }
  bool SetKernelBuffer(PortLink&, uint32_t) override { return true; }
  bool TracesDeviceErrors() const override { return true; }

 private:
  Script& s_;
  const char* name_;
};

const uint8_t kGroups[12] = {0x01, 0x80, 0xC2, 0x00, 0x00, 0x0E, 0x01, 0x00, 0x0C, 0xCC, 0xCC, 0xCC};

class PacketDriverTest : public ::testing::Test {
 protected:
  PacketDriverTest()
      : driver(settings, usePacketLibrary, host, trace, dispatcher, interfaces,
               std::make_unique<ScriptBackend>(script),
               [this] { return std::make_unique<ScriptBackend>(library, "libpcap"); }) {
    // No property queries: the test gives each port its facts.
    settings.Update([](AgentSettings& s, OutsideSettings& o) {
      s.ioctl = 0;
      o.BugFilter = 1;
    });
    for (int i = 0; i < 2; ++i) {
      Port& p = ports[i];
      p.number = static_cast<uint32_t>(i + 1);
      p.SetDeviceName(i == 0 ? "veth0" : "veth1");
      p.SetConnectionName(i == 0 ? "veth0" : "veth1");
      p.macAddress.store(Mac{0x02, 0, 0, 0, 0, static_cast<uint8_t>(i + 1)});
      p.state = kPortReady;
    }
  }
  ~PacketDriverTest() override {
    for (Port& p : ports.ports)
      if (p.link) driver.ClosePort(p);
  }

  // Bounded wait for a condition polled every millisecond.
  template <class F>
  static bool Eventually(F done, std::chrono::milliseconds limit = 2000ms) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(1ms);
    }
    return true;
  }
  int Alive() {
    std::lock_guard<std::mutex> lock(script.mutex);
    return script.packetsAlive;
  }
  int Closes() {
    std::lock_guard<std::mutex> lock(script.mutex);
    return script.closes;
  }

  SettingsStore settings;
  PortTable ports;
  std::atomic<bool> usePacketLibrary{false};
  EmptyHost host;
  CaptureTrace trace;
  RecordingDispatcher dispatcher;
  InterfaceTable interfaces;
  Script script;
  Script library;
  PacketDriver driver;
};

TEST_F(PacketDriverTest, OpenStartsTheReaderWhichHandsFramesOnInOrder) {
  Port& port = ports[0];
  ASSERT_EQ(driver.OpenPort(port, kReceiveMulticastList, kGroups, sizeof kGroups), kOpenReceiving);
  EXPECT_EQ(port.receiverState, kReceiverRunning);
  EXPECT_TRUE(driver.IsAdapterOpen(port));
  std::vector<uint8_t> a(60, 0xA1), b(61, 0xB2), c(300, 0xC3);
  script.Deliver(a);
  script.Deliver(b);
  script.Deliver(c);
  ASSERT_TRUE(dispatcher.WaitFor(3, 2000ms));
  auto got = dispatcher.Frames();
  EXPECT_EQ(got[0].bytes, a);
  EXPECT_EQ(got[1].bytes, b);
  EXPECT_EQ(got[2].bytes, c);
  EXPECT_EQ(got[0].port, &port);
  EXPECT_EQ(script.list, std::vector<uint8_t>(kGroups, kGroups + 12));
  EXPECT_EQ(script.filters, std::vector<uint32_t>{0x0B});
  EXPECT_NE(trace.Text().find("MulticastMode list\n"), std::string::npos);
  EXPECT_NE(trace.Text().find("veth0 started receiver\n\n"), std::string::npos);
}

TEST_F(PacketDriverTest, ClosingReleasesTheWaitingReaderAndFreesEverythingOnce) {
  Port& port = ports[0];
  ASSERT_EQ(driver.OpenPort(port, kReceiveMulticastList, kGroups, sizeof kGroups), kOpenReceiving);
  ASSERT_TRUE(Eventually([&] {
    std::lock_guard<std::mutex> lock(script.mutex);
    return script.reads > 0;
  }));
  EXPECT_EQ(Alive(), 2);  // send packet and the reader's packet
  auto start = std::chrono::steady_clock::now();
  driver.ClosePort(port);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
  EXPECT_EQ(port.link, nullptr);
  EXPECT_EQ(port.state, kPortClosed);
  EXPECT_EQ(port.receiverState, kReceiverStopped);
  EXPECT_EQ(Closes(), 1);
  EXPECT_EQ(Alive(), 0);
  EXPECT_EQ(trace.Count("veth0 stopped\n"), 1u);
  EXPECT_EQ(trace.Count("recv data failed"), 0u);
}

TEST_F(PacketDriverTest, FailedReadLeavesClosingToTheWorkerWhichReopens) {
  Port& port = ports[0];
  ASSERT_EQ(driver.OpenPort(port, kReceiveMulticastList, kGroups, sizeof kGroups), kOpenReceiving);
  script.FailNextRead();
  ASSERT_TRUE(Eventually([&] { return port.link->readerFailed.load(); }));
  // The reader ended without closing anything: the worker may still be sending.
  EXPECT_EQ(Closes(), 0);
  EXPECT_TRUE(driver.IsAdapterOpen(port));
  EXPECT_EQ(driver.SendFrame(port, std::vector<uint8_t>(60, 1).data(), 60), 60u);
  EXPECT_EQ(trace.Count("ReadFile Error: 5\n"), 1u);
  EXPECT_EQ(trace.Count("veth0 recv data failed\n"), 1u);

  EXPECT_TRUE(driver.ReapFailedPort(port));
  EXPECT_FALSE(driver.ReapFailedPort(port));
  EXPECT_EQ(port.link, nullptr);
  EXPECT_EQ(port.state, kPortClosed);
  EXPECT_EQ(Closes(), 1);
  EXPECT_EQ(Alive(), 0);
  EXPECT_EQ(trace.Count("veth0 stopped\n"), 1u);

  port.state = kPortReady;
  EXPECT_EQ(driver.OpenPort(port, kReceiveMulticastList, kGroups, sizeof kGroups), kOpenReceiving);
  script.Deliver(std::vector<uint8_t>(64, 7));
  EXPECT_TRUE(dispatcher.WaitFor(1, 2000ms));
}

TEST_F(PacketDriverTest, OpenAfterAFailedReaderClosesTheOldLinkFirst) {
  Port& port = ports[0];
  ASSERT_EQ(driver.OpenPort(port, kReceiveMulticastList, kGroups, sizeof kGroups), kOpenReceiving);
  script.FailNextRead();
  ASSERT_TRUE(Eventually([&] { return port.link->readerFailed.load(); }));
  // The old link is closed (state 0); without queries the hardware status then
  // stays unknown and this open fails too, leaving nothing behind.
  EXPECT_EQ(driver.OpenPort(port, kReceiveMulticastList, kGroups, sizeof kGroups), kOpenFailed);
  EXPECT_EQ(Closes(), 2);
  EXPECT_EQ(Alive(), 0);
  EXPECT_EQ(port.link, nullptr);
  port.state = kPortReady;
  EXPECT_EQ(driver.OpenPort(port, kReceiveMulticastList, kGroups, sizeof kGroups), kOpenReceiving);
}

TEST_F(PacketDriverTest, ReaderThatCannotArmLeavesNothingOpen) {
  script.readEventFails = true;
  Port& port = ports[0];
  EXPECT_EQ(driver.OpenPort(port, kReceiveMulticastList, kGroups, sizeof kGroups),
            kOpenReceiverStopped);
  EXPECT_EQ(port.link, nullptr);
  EXPECT_EQ(port.state, kPortClosed);
  EXPECT_EQ(port.receiverState, kReceiverStopped);
  EXPECT_EQ(Closes(), 1);
  EXPECT_EQ(Alive(), 0);
  EXPECT_EQ(trace.Count("SetEventHandle failed\n"), 1u);
}

TEST_F(PacketDriverTest, AdapterFailuresSetTheStateTheCycleExpects) {
  Port& port = ports[0];
  script.openFailure = OpenFailure::kCannotOpen;
  EXPECT_EQ(driver.OpenPort(port, 3, kGroups, 12), kOpenFailed);
  EXPECT_EQ(port.state, kPortReady);  // untouched: tried again next cycle
  script.openFailure = OpenFailure::kUnusable;
  EXPECT_EQ(driver.OpenPort(port, 3, kGroups, 12), kOpenFailed);
  EXPECT_EQ(port.state, kPortUnusable);
  EXPECT_EQ(Closes(), 0);
}

TEST_F(PacketDriverTest, UnknownMacMakesThePortUnusable) {
  Port& port = ports[0];
  port.macAddress.store(Mac{});
  EXPECT_EQ(driver.OpenPort(port, 3, kGroups, 12), kOpenFailed);
  EXPECT_EQ(port.state, kPortUnusable);
  EXPECT_EQ(port.link, nullptr);
  EXPECT_EQ(Closes(), 1);
}

TEST_F(PacketDriverTest, UnknownHardwareStatusClosesAndKeepsTheState) {
  Port& port = ports[0];
  port.state = kPortClosed;
  EXPECT_EQ(driver.OpenPort(port, 3, kGroups, 12), kOpenFailed);
  EXPECT_EQ(port.state, kPortClosed);
  EXPECT_EQ(Closes(), 1);
  EXPECT_EQ(trace.Count(" hardware status 0\n"), 1u);
  // Not ready still opens.
  port.state = kPortNotReady;
  EXPECT_EQ(driver.OpenPort(port, 3, kGroups, 12), kOpenReceiving);
}

TEST_F(PacketDriverTest, RefusedMulticastListFallsBackToAllMulticast) {
  script.listFails = true;
  ASSERT_EQ(driver.OpenPort(ports[0], 3, kGroups, 12), kOpenReceiving);
  EXPECT_EQ(script.filters, std::vector<uint32_t>{0x0D});
  EXPECT_NE(trace.Text().find("SetMulticastList failed\nSetFilter: 000d \nMulticastMode all \n"),
            std::string::npos);
  ASSERT_EQ(driver.OpenPort(ports[1], 0, nullptr, 0), kOpenReceiving);
  ASSERT_EQ(script.filters.size(), 2u);
  EXPECT_EQ(script.filters[1], 0x20u);
}

TEST_F(PacketDriverTest, ProtocolFilterFailureEndsTheOpenOnlyWhereCaptureWouldBeUnfiltered) {
  script.filterFails = true;
  Port& port = ports[0];
  EXPECT_EQ(driver.OpenPort(port, 3, kGroups, 12), kOpenReceiving);
  EXPECT_EQ(trace.Count("Loading protocol filter failed\n"), 1u);
  driver.ClosePort(port);
  script.filterRequired = true;
  port.state = kPortReady;
  EXPECT_EQ(driver.OpenPort(port, 3, kGroups, 12), kOpenFailed);
  EXPECT_EQ(port.link, nullptr);
  EXPECT_EQ(Closes(), 2);
  EXPECT_EQ(Alive(), 0);
}

TEST_F(PacketDriverTest, SendFrameLimitsAndCountsFailures) {
  Port& port = ports[0];
  std::vector<uint8_t> frame(1527, 0x55);
  EXPECT_EQ(driver.SendFrame(port, frame.data(), 100), 0u);  // not open
  EXPECT_EQ(port.sendFailures, 1u);
  EXPECT_EQ(trace.Count("veth0 send failed\n"), 1u);
  ASSERT_EQ(driver.OpenPort(port, 3, kGroups, 12), kOpenReceiving);
  EXPECT_EQ(driver.SendFrame(port, frame.data(), 1526), 1526u);
  EXPECT_EQ(driver.SendFrame(port, frame.data(), 1527), 0u);
  EXPECT_EQ(port.sendFailures, 2u);
  script.writeFails = true;
  EXPECT_EQ(driver.SendFrame(port, frame.data(), 60), 0u);
  EXPECT_EQ(port.sendFailures, 3u);
  std::lock_guard<std::mutex> lock(script.mutex);
  ASSERT_EQ(script.written.size(), 1u);
  EXPECT_EQ(script.written[0].size(), 1526u);
}

TEST_F(PacketDriverTest, CloseAllPortsClosesEveryOpenPortWhateverItsState) {
  ports[1].state = kPortNotReady;
  ASSERT_EQ(driver.OpenPort(ports[0], 3, kGroups, 12), kOpenReceiving);
  ASSERT_EQ(driver.OpenPort(ports[1], 3, kGroups, 12), kOpenReceiving);
  EXPECT_EQ(ports[1].state, kPortNotReady);
  driver.CloseAllPorts(ports);
  EXPECT_EQ(ports[0].link, nullptr);
  EXPECT_EQ(ports[1].link, nullptr);
  EXPECT_EQ(Closes(), 2);
  EXPECT_EQ(Alive(), 0);
  // Now the table may be cleared.
  ports.Reset();
}

TEST_F(PacketDriverTest, AdapterRequestMapsFilterAndListSetsToTheAdapter) {
  Port& port = ports[0];
  PacketOidData request;
  request.Oid = OID_GEN_CURRENT_PACKET_FILTER;
  request.Length = 4;
  request.Data[0] = 0x20;
  EXPECT_FALSE(driver.AdapterRequest(port, true, request));  // not open
  ASSERT_EQ(driver.OpenPort(port, 1, nullptr, 0), kOpenReceiving);
  EXPECT_TRUE(driver.AdapterRequest(port, true, request));
  request.Oid = OID_802_3_MULTICAST_LIST;
  request.Length = 6;
  std::memcpy(request.Data, kGroups, 6);
  EXPECT_TRUE(driver.AdapterRequest(port, true, request));
  EXPECT_EQ(script.filters, (std::vector<uint32_t>{0x09, 0x20}));
  EXPECT_EQ(script.list, std::vector<uint8_t>(kGroups, kGroups + 6));
  // Queries go to the host, which has no such interface.
  PacketOidData query;
  query.Oid = OID_GEN_MAXIMUM_TOTAL_SIZE;
  query.Length = 4;
  EXPECT_FALSE(driver.AdapterRequest(port, false, query));
}

TEST_F(PacketDriverTest, DriverStartTracesFirstAndLaterFailures) {
  script.driverStarts = false;
  EXPECT_EQ(driver.StartPacketDriver(), 0);
  EXPECT_EQ(driver.StartPacketDriver(), 0);
  script.driverStarts = true;
  EXPECT_EQ(driver.StartPacketDriver(), 1);
  EXPECT_EQ(trace.Text(), "af_packet driver start failed\naf_packet driver restart failed\n");

  EXPECT_EQ(driver.LoadPacketLibrary(), 1);
  usePacketLibrary = true;
  EXPECT_EQ(driver.StartPacketDriver(), 1);
  EXPECT_NE(trace.Text().find("PCAP scripted 1.0\n"), std::string::npos);
  EXPECT_STREQ(driver.Active().Name(), "libpcap");
}

TEST_F(PacketDriverTest, PortKeepsTheBackEndThatOpenedIt) {
  Port& port = ports[0];
  ASSERT_EQ(driver.OpenPort(port, 3, kGroups, 12), kOpenReceiving);
  ASSERT_EQ(driver.LoadPacketLibrary(), 1);
  usePacketLibrary = true;
  driver.ClosePort(port);
  EXPECT_EQ(Closes(), 1);  // closed by the device back-end that opened it
  std::lock_guard<std::mutex> lock(library.mutex);
  EXPECT_EQ(library.closes, 0);
}

}  // namespace
}  // namespace torvane
