// What the worker asks of link access: adapter discovery, the interface lists,
// opening, sending on and closing ports. The Linux implementation (packet sockets
// or libpcap) lives beside this header; tests drive the worker with a fake that
// records every frame sent.
#pragma once

#include <cstddef>
#include <cstdint>

#include "agent/state/frame_dispatcher.h"
#include "agent/state/port.h"

namespace torvane {

class LinkLayer {
 public:
  virtual ~LinkLayer() = default;

  // The packet service: true when packet access can be had.
  virtual bool StartPacketDriver() = 0;
  virtual void StopPacketDriver() = 0;
  // Binds the capture library; true when it is usable.
  virtual bool LoadPacketLibrary() = 0;

  // Appends newly found adapters to the table; returns the new count.
  virtual uint32_t DiscoverAdapters(PortTable& table, uint32_t count, uint8_t* buffer,
                                    size_t bufferSize) = 0;
  // Reloads the interface and address tables and publishes them whole.
  virtual bool LoadInterfaceLists() = 0;

  virtual bool RefreshConnectionName(Port& port) = 0;
  virtual bool MatchInterface(Port& port, uint32_t* entryIndex) = 0;
  // False when the port has no interface row or its link went up or down.
  virtual bool RefreshFromInterface(Port& port) = 0;
  // Re-reads the link facts along the port's queryMode (after RefreshFromInterface
  // returned false).
  virtual void QueryLinkFacts(Port& port) = 0;
  // True when the port's adapter carries another MAC address than the one the port
  // was opened with, as the interface lists of this cycle show it.
  virtual bool AdapterAddressChanged(Port& port) = 0;

  virtual bool IsAdapterOpen(const Port& port) = 0;
  virtual bool OpenPort(Port& port, uint32_t multicastMode, const uint8_t* addressList,
                        size_t listLength) = 0;
  virtual bool SendFrame(Port& port, const uint8_t* frame, size_t length) = 0;
  virtual void ClosePort(Port& port) = 0;
  virtual void CloseAllPorts(PortTable& table) = 0;
};

}  // namespace torvane
