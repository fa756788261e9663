// The port level of link access: bringing an adapter up for discovery traffic
// (OpenPort, which also starts the port's receive thread), sending, closing, and
// the packet service. Each call goes to the back-end chosen by the agent's
// usePacketLibrary; an open port stays with the back-end that opened it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "agent/link/adapter_queries.h"
#include "agent/state/interface_tables.h"
#include "agent/link/link_layer.h"
#include "agent/link/link_trace.h"
#include "agent/link/net_host.h"
#include "agent/link/packet_backend.h"
#include "agent/state/settings_store.h"

namespace torvane {

// OpenPort's results.
enum OpenResult : int { kOpenFailed = 0, kOpenReceiverStopped = 1, kOpenReceiving = 2 };

// Receive modes of OpenPort.
constexpr uint32_t kReceivePromiscuous = 0;
constexpr uint32_t kReceiveNormal = 1;
constexpr uint32_t kReceiveMulticastList = 3;

class PacketDriver : public OidRequester {
 public:
  using LibraryLoader = std::function<std::unique_ptr<PacketBackend>()>;

  // `settings` gives the link facts' sources and the receive filter at each
  // open; `usePacketLibrary` chooses the back-end. `interfaces` is the worker's
  // own interface table (read by the open's fallbacks). `loadLibrary` binds the
  // capture library and makes its back-end, or returns null.
  PacketDriver(const SettingsStore& settings, const std::atomic<bool>& usePacketLibrary,
               NetHost& host, LinkTrace& trace, FrameDispatcher& dispatcher,
               const InterfaceTable& interfaces, std::unique_ptr<PacketBackend> device,
               LibraryLoader loadLibrary);
  ~PacketDriver() override;
  PacketDriver(const PacketDriver&) = delete;
  PacketDriver& operator=(const PacketDriver&) = delete;

  // 1 when packet access can be had through the active back-end.
  int StartPacketDriver();
  int StopPacketDriver();
  // Binds the library once; 1 when its back-end is usable. Does not itself set
  // usePacketLibrary: the worker stores the result there.
  int LoadPacketLibrary();

  // 0 failed, 1 opened but the receiver stopped during start-up (everything is
  // closed again), 2 opened and receiving.
  int OpenPort(Port& port, uint32_t receiveMode, const uint8_t* list, size_t listBytes);
  // The length sent, or 0 (counted in sendFailures).
  size_t SendFrame(Port& port, const uint8_t* frame, size_t length);
  // Stops the receive thread (joined before anything of it is freed), frees the
  // send packet, closes the adapter; state and linkStatus 0.
  void ClosePort(Port& port);
  // Closes every port of the table that is open or ready.
  void CloseAllPorts(PortTable& table);
  bool IsAdapterOpen(const Port& port) const { return port.link != nullptr; }
  // Closes a port whose receive thread ended on a failed read; true when it did.
  bool ReapFailedPort(Port& port);

  // OID requests through the port's open adapter: the packet filter and the
  // multicast list become socket memberships, everything else is answered from
  // the host.
  bool AdapterRequest(Port& port, bool set, PacketOidData& request) override;

  // Sets the hardware packet filter and traces "SetFilter: %4.4x %s\n".
  bool SetPacketFilter(Port& port, uint32_t filter);

  PacketBackend& Active();
  LinkTrace& trace() { return trace_; }

 private:
  void CloseAdapter(Port& port);

  const SettingsStore& settings_;
  const std::atomic<bool>& usePacketLibrary_;
  NetHost& host_;
  LinkTrace& trace_;
  FrameDispatcher& dispatcher_;
  const InterfaceTable& interfaces_;
  std::unique_ptr<PacketBackend> device_;
  std::unique_ptr<PacketBackend> library_;
  LibraryLoader loadLibrary_;
  bool libraryTried_ = false;
  bool driverStartTried_ = false;
};

}  // namespace torvane
