// Link access on Linux as the worker sees it: adapter discovery and the interface
// lists over the host's sysfs, ioctls and address list; ports opened, sent on and
// closed through the packet back-ends (packet sockets, or the capture library
// when the agent chose it); frames received handed to the dispatcher.
#pragma once

#include <memory>

#include "agent/link/agent_link_trace.h"
#include "agent/state/interface_tables.h"
#include "agent/link/link_layer.h"
#include "agent/link/link_trace.h"
#include "agent/link/net_host.h"
#include "agent/link/packet_driver.h"
#include "agent/link/pcap_library.h"
#include "agent/state/console_trace.h"
#include "agent/state/port.h"
#include "agent/state/settings_store.h"
#include "platform/registry_store.h"

namespace torvane {

// What link access shares with the rest of the agent; all borrowed.
struct LinkContext {
  PortTable& ports;                          // closed at the end
  const SettingsStore& settings;
  PublishedLists& lists;                     // where the interface lists are published
  RegistryStore& registry;                   // the stored port lists of the addresses
  const std::atomic<bool>& usePacketLibrary;
  ConsoleTrace& trace;
};

class LinuxLinkLayer : public LinkLayer {
 public:
  LinuxLinkLayer(const LinkContext& context, FrameDispatcher& dispatcher);
  // With another host view (a fake tree, other roots).
  LinuxLinkLayer(const LinkContext& context, FrameDispatcher& dispatcher,
                 std::unique_ptr<NetHost> host);
  // Closes every port it still has open.
  ~LinuxLinkLayer() override;

  bool StartPacketDriver() override;
  void StopPacketDriver() override;
  bool LoadPacketLibrary() override;

  uint32_t DiscoverAdapters(PortTable& table, uint32_t count, uint8_t* buffer,
                            size_t bufferSize) override;
  bool LoadInterfaceLists() override;

  // Also the start of the port's turn in the cycle: a port whose receive thread
  // failed is closed here, so that the cycle opens it anew.
  bool RefreshConnectionName(Port& port) override;
  bool MatchInterface(Port& port, uint32_t* entryIndex) override;
  bool RefreshFromInterface(Port& port) override;
  bool AdapterAddressChanged(Port& port) override;
  void QueryLinkFacts(Port& port) override;

  bool IsAdapterOpen(const Port& port) override;
  bool OpenPort(Port& port, uint32_t multicastMode, const uint8_t* addressList,
                size_t listLength) override;
  bool SendFrame(Port& port, const uint8_t* frame, size_t length) override;
  void ClosePort(Port& port) override;
  void CloseAllPorts(PortTable& table) override;

  PacketDriver& driver() { return *driver_; }
  const InterfaceLists& lists() const { return working_; }

 private:
  LinkContext context_;
  std::unique_ptr<NetHost> host_;
  AgentLinkTrace trace_;
  PcapLibrary pcap_;
  InterfaceLists working_;
  std::unique_ptr<PacketDriver> driver_;
};

}  // namespace torvane
