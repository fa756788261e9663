#include "agent/link/packet_driver.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <system_error>
#include <thread>

#include "agent/link/adapter_discovery.h"
#include "agent/link/oid_answers.h"
#include "agent/link/receive_thread.h"

namespace torvane {
namespace {

bool MacIsZero(const Port& port) { return port.macAddress.zero(); }

uint32_t ReadU32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

}  // namespace

PacketDriver::PacketDriver(const SettingsStore& settings,
                           const std::atomic<bool>& usePacketLibrary, NetHost& host,
                           LinkTrace& trace, FrameDispatcher& dispatcher,
                           const InterfaceTable& interfaces, std::unique_ptr<PacketBackend> device,
                           LibraryLoader loadLibrary)
    : settings_(settings),
      usePacketLibrary_(usePacketLibrary),
      host_(host),
      trace_(trace),
      dispatcher_(dispatcher),
      interfaces_(interfaces),
      device_(std::move(device)),
      loadLibrary_(std::move(loadLibrary)) {}

PacketDriver::~PacketDriver() = default;

PacketBackend& PacketDriver::Active() {
  if (usePacketLibrary_ && library_) return *library_;
  return *device_;
}

int PacketDriver::StartPacketDriver() {
  std::string version;
  if (usePacketLibrary_ && library_) {
    library_->StartDriver(version);
    TraceFormat(trace_, "PCAP %s\n", version.c_str());
    return 1;
  }
  bool ok = device_->StartDriver(version);
  const char* name = device_->Name();
  if (ok) {
    if (!driverStartTried_) TraceFormat(trace_, "%s driver started\n", name);
  } else if (!driverStartTried_) {
    TraceFormat(trace_, "%s driver start failed\n", name);
  } else {
    TraceFormat(trace_, "%s driver restart failed\n", name);
  }
  driverStartTried_ = true;
  return ok ? 1 : 0;
}

int PacketDriver::StopPacketDriver() { return Active().StopDriver() ? 1 : 0; }

int PacketDriver::LoadPacketLibrary() {
  if (!library_ && loadLibrary_) library_ = loadLibrary_();
  libraryTried_ = true;
  return library_ ? 1 : 0;
}

bool PacketDriver::SetPacketFilter(Port& port, uint32_t filter) {
  bool ok = port.link && port.link->backend->SetPacketFilter(*port.link, filter);
  TraceFormat(trace_, "SetFilter: %4.4x %s\n", filter, ok ? "" : "failed");
  return ok;
}

bool PacketDriver::AdapterRequest(Port& port, bool set, PacketOidData& request) {
  PortLink* link = port.link;
  if (!link) return false;
  uint32_t length = request.Length < sizeof request.Data ? request.Length
                                                         : static_cast<uint32_t>(sizeof request.Data);
  if (set) {
    if (request.Oid == OID_GEN_CURRENT_PACKET_FILTER) {
      return length >= 4 && link->backend->SetPacketFilter(*link, ReadU32(request.Data));
    }
    if (request.Oid == OID_802_3_MULTICAST_LIST) {
      return link->backend->SetMulticastList(*link, request.Data, length);
    }
    return AnswerOidSet(host_, link->ifName, request.Oid, request.Data, length);
  }
  uint32_t answered = 0;
  if (!AnswerOidQuery(host_, link->ifName, request.Oid, request.Data, length, answered))
    return false;
  request.Length = answered;
  return true;
}

void PacketDriver::CloseAdapter(Port& port) {
  PortLink* link = port.link;
  if (!link) return;
  link->backend->ReleaseReader(*link);
  if (link->reader.joinable()) link->reader.join();
  link->sendPacket.reset();
  link->backend->CloseAdapter(*link);
  port.link = nullptr;
  delete link;
}

int PacketDriver::OpenPort(Port& port, uint32_t receiveMode, const uint8_t* list,
                           size_t listBytes) {
  // A port whose reader failed is closed before it is opened anew.
  ReapFailedPort(port);
  if (port.link) return kOpenFailed;

  AgentSettings settings = settings_.Get();
  OutsideSettings outside = settings_.GetOutside();
  PacketBackend& backend = Active();

  OpenFailure why = OpenFailure::kNone;
  std::unique_ptr<PortLink> opened = backend.OpenAdapter(port.DeviceName(), why);
  if (!opened) {
    // An adapter that can never carry Ethernet frames is not tried again until
    // the port table is rebuilt.
    if (why == OpenFailure::kUnusable) port.state = kPortUnusable;
    return kOpenFailed;
  }
  port.link = opened.release();
  std::string name = port.ConnectionName();
  TraceFormat(trace_, "--- %u %s\n", port.number.load(), name.c_str());

  if (settings.ioctl & 1) {
    std::unique_ptr<AdapterDevice> device = OpenAdapterDevice(host_, trace_, port);
    if (device) {
      QueryAdapterDevice(*device, trace_, port);
      if (QueryAdapterDeviceLink(*device, trace_, port)) port.queryMode = 1;
    }
  }
  TraceFormat(trace_, "---\n");

  QueryPath q{*this, trace_};
  if (settings.ioctl & 2) {
    if (MacIsZero(port)) {
      uint8_t mac[6] = {};
      if (QueryMacAddress(q, port, mac)) port.macAddress.store(mac);
    }
    if (port.Description().empty()) {
      char text[128] = {};
      QueryVendorDescription(q, port, text, sizeof text);
      port.SetDescription(FieldText(text));
    }
  }
  if (port.Description() == "Microsoft") DescriptionFromInterface(interfaces_, port);
  if ((settings.ioctl & 4) && MacIsZero(port)) FactsFromInterface(interfaces_, port);
  if (MacIsZero(port)) {
    CloseAdapter(port);
    port.state = kPortUnusable;
    return kOpenFailed;
  }
  if ((settings.ioctl & 2) && port.mediaSupported == 0) {
    uint32_t media = 0;
    if (QueryMediaInUse(q, port, media)) port.mediaSupported = media;
  }
  if (port.mediaSupported >= 2) {
    CloseAdapter(port);
    port.state = kPortUnusable;
    TraceFormat(trace_, " media not supported\n");
    return kOpenFailed;
  }
  if ((settings.ioctl & 2) && port.state == kPortClosed) {
    uint32_t status = 0;
    if (QueryHardwareStatus(q, port, status)) port.state = status;
  }
  if (port.state == kPortClosed || port.state == kPortUnusable) {
    CloseAdapter(port);
    TraceFormat(trace_, " hardware status %x\n", port.state.load());
    return kOpenFailed;
  }
  if (settings.ioctl & 2) {
    QueryMissingPortFacts(q, port);
    if (RefreshLinkProperties(q, port)) port.queryMode = 2;
  }
  TraceFormat(trace_, "---\n");

  SetMaxLookahead(q, port);
  if (!backend.SetKernelBuffer(*port.link, kKernelBufferBytes))
    TraceFormat(trace_, "SetBuffserSize %u failed\n", kKernelBufferBytes);

  switch (receiveMode) {
    case kReceivePromiscuous:
      SetPacketFilter(port, kFilterPromiscuous);
      TraceFormat(trace_, "ReceiveMode promiscuous\n");
      break;
    case kReceiveNormal:
      SetPacketFilter(port, kFilterDirected | kFilterBroadcast);
      TraceFormat(trace_, "ReceiveMode normal\n");
      break;
    case kReceiveMulticastList:
      if (SetMulticastList(q, port, list, listBytes)) {
        SetPacketFilter(port, kFilterDirected | kFilterMulticast | kFilterBroadcast);
        TraceFormat(trace_, "MulticastMode list\n");
      } else {
        SetPacketFilter(port, kFilterDirected | kFilterAllMulticast | kFilterBroadcast);
        TraceFormat(trace_, "MulticastMode all \n");
      }
      break;
    default:
      break;
  }

  if (!backend.SetProtocolFilter(*port.link, ProtocolFilter(outside.BugFilter))) {
    TraceFormat(trace_, "Loading protocol filter failed\n");
    if (backend.ProtocolFilterRequired()) {
      CloseAdapter(port);
      return kOpenFailed;
    }
  }

  port.link->sendPacket = backend.AllocatePacket();
  if (!port.link->sendPacket) {
    CloseAdapter(port);
    TraceFormat(trace_, " event setup failed\n");
    port.state = kPortClosed;
    port.linkStatus = kLinkUnknown;
    return kOpenFailed;
  }

  TraceFormat(trace_, "\n%s starting receiver\n", name.c_str());
  port.receiverState = kReceiverStarting;
  try {
    port.link->reader = std::thread(ReceiveThread, ReceiveContext{&port, port.link, &dispatcher_, &trace_});
  } catch (const std::system_error&) {
    TraceFormat(trace_, " failed to create receiver thread\n");
    ClosePort(port);
    return kOpenFailed;
  }
  for (unsigned spins = 0; port.receiverState == kReceiverStarting; ++spins) {
    if (spins < 1000)
      std::this_thread::yield();
    else
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (port.receiverState != kReceiverStopped) {
    TraceFormat(trace_, "%s started receiver\n\n", name.c_str());
    return kOpenReceiving;
  }
  // The receiver could not arm: nothing of the open outlives it.
  CloseAdapter(port);
  port.state = kPortClosed;
  return kOpenReceiverStopped;
}

size_t PacketDriver::SendFrame(Port& port, const uint8_t* frame, size_t length) {
  if (length > kMaxSendLength) {
    ++port.sendFailures;
    return 0;
  }
  PortLink* link = port.link;
  bool ok = false;
  if (link && link->sendPacket && frame) {
    InitPacket(*link->sendPacket, const_cast<uint8_t*>(frame), static_cast<uint32_t>(length));
    ok = link->backend->WritePacket(*link, *link->sendPacket);
  }
  if (!ok) {
    TraceFormat(trace_, "%s send failed\n", port.ConnectionName().c_str());
    ++port.sendFailures;
    return 0;
  }
  return length;
}

void PacketDriver::ClosePort(Port& port) {
  // receiverState first: the reader then ends without treating its failing
  // read as a fault.
  port.receiverState = kReceiverStopped;
  port.state = kPortClosed;
  port.linkStatus = kLinkUnknown;
  CloseAdapter(port);
  TraceFormat(trace_, "%s stopped\n", port.ConnectionName().c_str());
}

void PacketDriver::CloseAllPorts(PortTable& table) {
  for (Port& port : table.ports)
    if (port.link || port.state == kPortReady) ClosePort(port);
}

bool PacketDriver::ReapFailedPort(Port& port) {
  if (!port.link || !port.link->readerFailed) return false;
  ClosePort(port);
  return true;
}

}  // namespace torvane
