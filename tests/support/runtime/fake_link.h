// A link layer for tests: scripted adapters instead of real ones, and a record of
// every frame sent (port number, bytes, fake time, pass). Script the adapters
// before the run or from the clock's hooks (they run on the worker's thread);
// the recorded frames and the call counts may be read from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "agent/state/interface_tables.h"
#include "agent/link/link_layer.h"
#include "tests/support/fake_clock.h"

namespace torvane {

struct FakeAdapter {
  std::string deviceName;  // the key the fake finds the adapter by
  std::string connectionName;
  std::string description = "Fake Ethernet Adapter";
  Mac mac{};
  uint32_t ifIndex = 0;
  bool present = true;          // discovery finds it and its connection name resolves
  bool failOpen = false;        // OpenPort fails
  uint32_t openState = kPortReady;  // the state OpenPort gives the port (1, 2 or 3)
  uint32_t linkStatus = kLinkConnected;
  bool hasInterfaceRow = true;  // RefreshFromInterface answers true
  bool sendFails = false;
};

struct SentFrame {
  uint32_t port = 0;  // the port's number
  std::vector<uint8_t> bytes;
  uint32_t time = 0;  // the fake clock's Now() at the send
  uint32_t pass = 0;  // 1 for a frame sent before the first wait, 2 after it, ...
};

class FakeLinkLayer : public LinkLayer {
 public:
  explicit FakeLinkLayer(FakeClock& clock, PublishedLists* lists = nullptr)
      : clock_(clock), lists_(lists) {}

  bool StartPacketDriver() override;
  void StopPacketDriver() override;
  bool LoadPacketLibrary() override;
  uint32_t DiscoverAdapters(PortTable& table, uint32_t count, uint8_t* buffer,
                            size_t bufferSize) override;
  bool LoadInterfaceLists() override;
  bool RefreshConnectionName(Port& port) override;
  bool MatchInterface(Port& port, uint32_t* entryIndex) override;
  bool RefreshFromInterface(Port& port) override;
  void QueryLinkFacts(Port& port) override;
  bool AdapterAddressChanged(Port& port) override;
  bool IsAdapterOpen(const Port& port) override;
  bool OpenPort(Port& port, uint32_t multicastMode, const uint8_t* addressList,
                size_t listLength) override;
  bool SendFrame(Port& port, const uint8_t* frame, size_t length) override;
  void ClosePort(Port& port) override;
  void CloseAllPorts(PortTable& table) override;

  // A copy of the frames sent so far.
  std::vector<SentFrame> Frames() const;
  // Adapters, by device name; null when there is none of that name.
  FakeAdapter* Adapter(const std::string& deviceName);

  // Script.
  std::vector<FakeAdapter> adapters;
  InterfaceLists tables;      // published by LoadInterfaceLists
  bool driverStarts = true;   // StartPacketDriver's answer
  bool libraryLoads = true;   // LoadPacketLibrary's answer

  // What the worker asked for.
  std::atomic<uint32_t> driverStartCalls{0};
  std::atomic<uint32_t> driverStops{0};
  std::atomic<uint32_t> libraryLoadCalls{0};
  std::atomic<uint32_t> discoveries{0};
  std::atomic<uint32_t> closeAlls{0};
  std::atomic<uint32_t> opens{0};
  std::atomic<uint32_t> linkQueries{0};
  std::atomic<uint32_t> matches{0};
  // Ports still open when StartPacketDriver was called (must stay 0: a restart
  // closes every port first).
  std::atomic<uint32_t> openAtDriverStart{0};
  // The arguments of the last OpenPort.
  uint32_t lastMulticastMode = 0;
  std::vector<uint8_t> lastAddressList;

 private:
  const FakeAdapter* Find(const Port& port) const;

  FakeClock& clock_;
  PublishedLists* lists_;
  mutable std::mutex mutex_;  // guards frames_ and open_
  std::vector<SentFrame> frames_;
  std::set<const Port*> open_;
};

}  // namespace torvane
