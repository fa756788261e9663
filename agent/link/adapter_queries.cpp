#include "agent/link/adapter_queries.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>

#include "agent/link/adapter_discovery.h"
#include "common/bytes.h"
#include "common/mac.h"
#include "common/text.h"

namespace torvane {
namespace {

constexpr uint32_t kIfTypeEthernet = 6;
constexpr uint32_t kIfTypeWireless = 71;
constexpr size_t kMulticastSetLimit = 120;  // 20 addresses
constexpr size_t kDeviceAnswerSize = 1024;

// Receive speed in bit/s to the port's 100 bit/s units.
uint32_t SpeedUnits(uint64_t bitsPerSecond) {
  uint64_t units = bitsPerSecond / 100;
  return units > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(units);
}

uint32_t IfTypeOfMedium(uint32_t medium) {
  return medium == kNdisPhysicalMediumNative802_11 || medium == kNdisPhysicalMediumWirelessLan
             ? kIfTypeWireless
             : kIfTypeEthernet;
}

// The NDIS_LINK_STATE fields the agent reads.
struct LinkStateAnswer {
  uint32_t connect = 0;
  uint32_t duplex = 0;
  uint64_t xmitSpeed = 0;
  uint64_t rcvSpeed = 0;
  uint32_t pause = 0;
  uint32_t autoNeg = 0;
};

LinkStateAnswer ParseLinkState(const uint8_t* data, size_t size) {
  ByteReader r(data, size);
  LinkStateAnswer a;
  r.skip(4);
  a.connect = r.u32le();
  a.duplex = r.u32le();
  r.skip(4);
  a.xmitSpeed = r.u64le();
  a.rcvSpeed = r.u64le();
  a.pause = r.u32le();
  a.autoNeg = r.u32le();
  return a;  // fields past a short answer read as 0
}

void TraceLinkStateDetail(LinkTrace& trace, const LinkStateAnswer& a) {
  TraceFormat(trace, "  Media %x\n", a.connect);
  TraceFormat(trace, "  Duplex %x\n", a.duplex);
  TraceFormat(trace, "  XmitSpeed %" PRId64 "B/s\n", static_cast<int64_t>(a.xmitSpeed));
  TraceFormat(trace, "  RcvSpeed %" PRId64 "B/s\n", static_cast<int64_t>(a.rcvSpeed));
  TraceFormat(trace, "  PauseFunction %x\n", a.pause);
  TraceFormat(trace, "  AutoNeg %x\n", a.autoNeg);
}

// Multicast list bytes as the console shows them: "%2.2x" each, a blank before
// every sixth byte starting with the first.
std::string MulticastBytesText(const uint8_t* data, size_t size) {
  std::string text;
  char hex[3];
  for (size_t i = 0; i < size; ++i) {
    if (i % 6 == 0) text += ' ';
    std::snprintf(hex, sizeof hex, "%2.2x", data[i]);
    text += hex;
  }
  return text;
}

// One query through the packet driver; on success `answer` reads the answered bytes.
bool Query(QueryPath& q, Port& port, uint32_t oid, uint32_t size, PacketOidData& request) {
  request = PacketOidData{};
  request.Oid = oid;
  request.Length = size;
  if (!q.driver.AdapterRequest(port, false, request)) return false;
  if (request.Length > sizeof request.Data) request.Length = sizeof request.Data;
  return true;
}

bool QueryU32(QueryPath& q, Port& port, uint32_t oid, uint32_t& value) {
  PacketOidData request;
  if (!Query(q, port, oid, 4, request)) return false;
  ByteReader r(request.Data, sizeof request.Data);
  value = r.u32le();
  return true;
}

// One adapter-device query on a freshly zeroed buffer.
bool DeviceQuery(AdapterDevice& device, uint32_t oid, uint8_t* buffer, uint32_t& returned) {
  std::memset(buffer, 0, kDeviceAnswerSize);
  returned = 0;
  bool ok = device.QueryGlobalStats(oid, buffer, kDeviceAnswerSize, returned);
  if (returned > kDeviceAnswerSize) returned = kDeviceAnswerSize;
  return ok;
}

uint32_t FirstU32(const uint8_t* buffer) {
  ByteReader r(buffer, kDeviceAnswerSize);
  return r.u32le();
}

// Opened adapter device over the host's answers.
class HostAdapterDevice : public AdapterDevice {
 public:
  HostAdapterDevice(NetHost& host, std::string ifName) : host_(host), ifName_(std::move(ifName)) {}
  bool QueryGlobalStats(uint32_t oid, uint8_t* out, uint32_t room, uint32_t& returned) override {
    return AnswerOidQuery(host_, ifName_, oid, out, room, returned);
  }

 private:
  NetHost& host_;
  std::string ifName_;
};

}  // namespace

bool HostOidRequester::AdapterRequest(Port& port, bool set, PacketOidData& request) {
  std::string device = port.DeviceName();
  std::string_view name = InterfaceNameOf(device);
  uint32_t room = std::min<uint32_t>(request.Length, sizeof request.Data);
  if (set) return AnswerOidSet(host_, name, request.Oid, request.Data, room);
  uint32_t length = 0;
  if (!AnswerOidQuery(host_, name, request.Oid, request.Data, room, length)) return false;
  request.Length = length;
  return true;
}

std::unique_ptr<AdapterDevice> OpenAdapterDevice(NetHost& host, LinkTrace& trace,
                                                 const Port& port) {
  std::string device = port.DeviceName();
  std::string_view name = InterfaceNameOf(device);
  if (!name.empty() && host.ReadAttribute(name, "ifindex"))
    return std::make_unique<HostAdapterDevice>(host, std::string(name));
  TraceFormat(trace, "Cannot open driver \\\\.\\%s\n", std::string(NameFromBrace(device)).c_str());
  return nullptr;
}

bool QueryMacAddress(QueryPath& q, Port& port, uint8_t out[6]) {
  PacketOidData request;
  if (!Query(q, port, OID_802_3_CURRENT_ADDRESS, 6, request)) {
    TraceText(q.trace, "MAC address failed\n");
    return false;
  }
  std::memcpy(out, request.Data, 6);
  TraceFormat(q.trace, "MAC address: %s\n", FormatMac(out).c_str());
  return true;
}

bool QueryVendorDescription(QueryPath& q, Port& port, char* out, size_t size) {
  if (!out || size == 0) return false;
  out[0] = 0;
  PacketOidData request;
  if (!Query(q, port, OID_GEN_VENDOR_DESCRIPTION, 128, request)) {
    TraceText(q.trace, "Adapter Desc failed\n");
    return false;
  }
  const char* text = reinterpret_cast<const char*>(request.Data);
  CopyText(out, size, std::string_view(text, FieldLength(text, request.Length)));
  TraceFormat(q.trace, "Adapter Desc: %s\n", out);
  return true;
}

bool QueryPacketFilter(QueryPath& q, Port& port, uint32_t& out) {
  if (!QueryU32(q, port, OID_GEN_CURRENT_PACKET_FILTER, out)) {
    TraceText(q.trace, "Filter failed\n");
    return false;
  }
  TraceFormat(q.trace, "Filter: %x\n", out);
  return true;
}

bool QueryMacOptions(QueryPath& q, Port& port, uint32_t& out) {
  if (!QueryU32(q, port, OID_GEN_MAC_OPTIONS, out)) {
    TraceText(q.trace, "MAC options failed\n");
    return false;
  }
  TraceFormat(q.trace, "MAC options: %x\n", out);
  return true;
}

bool QueryLinkState(QueryPath& q, Port& port, uint32_t& connect, uint32_t& duplex,
                    uint32_t& speed, uint32_t& autoNeg) {
  PacketOidData request;
  if (!Query(q, port, OID_GEN_LINK_STATE, 64, request)) {
    TraceText(q.trace, "LinkState failed\n");
    return false;
  }
  LinkStateAnswer a = ParseLinkState(request.Data, sizeof request.Data);
  TraceText(q.trace, "LinkState:\n");
  TraceLinkStateDetail(q.trace, a);
  connect = a.connect;
  duplex = a.duplex;
  if (a.rcvSpeed != kNdisLinkSpeedUnknown) speed = SpeedUnits(a.rcvSpeed);
  autoNeg = a.autoNeg;
  return true;
}

bool QueryVlanId(QueryPath& q, Port& port, uint32_t& out) {
  if (!QueryU32(q, port, OID_GEN_VLAN_ID, out)) {
    TraceText(q.trace, "VlanID failed\n");
    return false;
  }
  TraceFormat(q.trace, "VlanID: %x\n", out);
  return true;
}

bool QueryPhysicalMedium(QueryPath& q, Port& port, uint32_t& out) {
  uint32_t medium = 0;
  if (!QueryU32(q, port, OID_GEN_PHYSICAL_MEDIUM, medium)) {
    TraceText(q.trace, "Phys.Medium failed\n");
    return false;
  }
  out = IfTypeOfMedium(medium);
  TraceFormat(q.trace, "Phys.Medium: %x\n", medium);
  return true;
}

bool QueryMediaInUse(QueryPath& q, Port& port, uint32_t& out) {
  PacketOidData request;
  if (!Query(q, port, OID_GEN_MEDIA_IN_USE, 256, request)) {
    TraceText(q.trace, "MediaList failed\n");
    return false;
  }
  ByteReader r(request.Data, request.Length);
  uint32_t count = request.Length / 4;
  bool ethernet = false;
  std::string text = "MediaList:";
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t medium = r.u32le();
    if (medium == kNdisMedium802_3) ethernet = true;
    text += ' ' + std::to_string(medium);
  }
  out = ethernet ? 1 : 2;
  TraceText(q.trace, text + "\n");
  return true;
}

bool QueryMulticastList(QueryPath& q, Port& port, uint32_t& out) {
  PacketOidData request;
  if (!Query(q, port, OID_802_3_MULTICAST_LIST, 256, request)) {
    TraceText(q.trace, "MulticastList failed\n");
    return false;
  }
  out = request.Length;
  std::string text = "MulticastList:";
  if (request.Length >= 6) text += MulticastBytesText(request.Data, request.Length);
  TraceText(q.trace, text + "\n");
  return true;
}

bool QueryLinkSpeed(QueryPath& q, Port& port, uint32_t& out) {
  if (!QueryU32(q, port, OID_GEN_LINK_SPEED, out)) {
    TraceText(q.trace, "LinkSpeed failed\n");
    return false;
  }
  TraceFormat(q.trace, "LinkSpeed: %uKB/s\n", out / 10);
  return true;
}

bool QueryDuplex(QueryPath& q, Port& port, uint32_t& out) {
  uint32_t value = 0;
  if (!QueryU32(q, port, OID_GEN_MEDIA_DUPLEX_STATE, value)) {
    TraceText(q.trace, "Duplex failed\n");
    return false;
  }
  out = value != 0 ? 2 : 0;
  TraceFormat(q.trace, "Duplex: %u\n", value);
  return true;
}

bool QueryMaxFrameSize(QueryPath& q, Port& port, uint32_t& out) {
  uint32_t value = 0;
  if (!QueryU32(q, port, OID_GEN_MAXIMUM_TOTAL_SIZE, value)) {
    TraceText(q.trace, "Max.Size failed\n");
    return false;
  }
  out = FrameSizeFromTotalSize(value);
  TraceFormat(q.trace, "Max.Size: %u\n", value);
  return true;
}

bool QueryHardwareStatus(QueryPath& q, Port& port, uint32_t& out) {
  uint32_t value = 0;
  if (!QueryU32(q, port, OID_GEN_HARDWARE_STATUS, value)) {
    TraceText(q.trace, "HardwareStatus failed\n");
    return false;
  }
  out = value == kNdisHardwareStatusReady ? kPortReady : kPortNotReady;
  TraceFormat(q.trace, "HardwareStatus: %x\n", value);
  return true;
}

bool QueryMediaConnect(QueryPath& q, Port& port, uint32_t& out) {
  uint32_t value = 0;
  if (!QueryU32(q, port, OID_GEN_MEDIA_CONNECT_STATUS, value)) {
    TraceText(q.trace, "MediaStatus failed\n");
    return false;
  }
  out = value == 0 ? kLinkConnected : kLinkDisconnected;
  TraceFormat(q.trace, "MediaStatus: %x\n", value);
  return true;
}

bool SetMaxLookahead(QueryPath& q, Port& port) {
  uint32_t maximum = 0;
  if (QueryU32(q, port, OID_GEN_MAXIMUM_LOOKAHEAD, maximum)) {
    PacketOidData request;
    request.Oid = OID_GEN_CURRENT_LOOKAHEAD;
    request.Length = 4;
    ByteWriter w(request.Data, sizeof request.Data);
    w.u32le(maximum);
    if (q.driver.AdapterRequest(port, true, request)) {
      TraceFormat(q.trace, "SetMaxLookahead: %u\n", maximum);
      return true;
    }
  }
  TraceText(q.trace, "SetMaxLookahead failed\n");
  return false;
}

bool SetMulticastList(QueryPath& q, Port& port, const uint8_t* list, size_t bytes) {
  PacketOidData request;
  request.Oid = OID_802_3_MULTICAST_LIST;
  if (!list) bytes = 0;
  bytes = std::min(bytes, kMulticastSetLimit);
  request.Length = static_cast<uint32_t>(bytes);
  if (bytes) std::memcpy(request.Data, list, bytes);
  if (q.driver.AdapterRequest(port, true, request)) return true;
  TraceText(q.trace, "SetMulticastList failed\n");
  return false;
}

void QueryMissingPortFacts(QueryPath& q, Port& port) {
  uint32_t v = 0;
  if (port.packetFilter == 0 && QueryPacketFilter(q, port, v)) port.packetFilter = v;
  if (port.maxFrameSize == 0 && QueryMaxFrameSize(q, port, v)) port.maxFrameSize = v;
  if (port.vlanId == 0 && QueryVlanId(q, port, v)) port.vlanId = v;
  if (port.ifType == 0 && QueryPhysicalMedium(q, port, v)) port.ifType = v;
  if (port.multicastListLen == 0 && QueryMulticastList(q, port, v)) port.multicastListLen = v;
}

bool RefreshLinkProperties(QueryPath& q, Port& port) {
  bool result = false;
  uint32_t connect = 0, duplex = 0, speed = 0, autoNeg = 0;
  if (QueryLinkState(q, port, connect, duplex, speed, autoNeg)) {
    if (port.linkStatus == 0) port.linkStatus = connect;
    if (port.duplex == 0) port.duplex = duplex;
    if (port.linkSpeed == 0) port.linkSpeed = speed;
    if (port.autoNeg == 0) port.autoNeg = autoNeg;
    result = true;
  }
  uint32_t v = 0;
  if (port.linkStatus == kLinkUnknown && QueryMediaConnect(q, port, v)) {
    port.linkStatus = v;
    result = true;
  }
  if (port.linkStatus != kLinkConnected) return result;
  if (port.duplex == 0) {
    if (QueryDuplex(q, port, v)) {
      port.duplex = v;
    } else if (QueryMacOptions(q, port, v) && (v & kNdisMacOptionFullDuplex)) {
      port.duplex = 2;
    }
  }
  if (port.linkSpeed == 0 && QueryLinkSpeed(q, port, v)) port.linkSpeed = v;
  return result;
}

int QueryAdapterDevice(AdapterDevice& device, LinkTrace& trace, Port& port) {
  uint8_t buffer[kDeviceAnswerSize];
  uint32_t n = 0;

  if (DeviceQuery(device, OID_802_3_CURRENT_ADDRESS, buffer, n)) {
    TraceFormat(trace, "MAC: %u, %s\n", n, FormatMac(buffer).c_str());
    if (n == 6) port.macAddress.store(buffer);
  } else {
    TraceText(trace, "MAC address - failed\n");
  }

  if (DeviceQuery(device, OID_GEN_VENDOR_DESCRIPTION, buffer, n)) {
    const char* raw = reinterpret_cast<const char*>(buffer);
    std::string_view text(raw, FieldLength(raw, n));
    if (text.size() > 127) text = text.substr(0, 127);
    TraceFormat(trace, "Adapter Desc: %u, %s\n", n, std::string(text).c_str());
    if (n > 0 && (text != "Microsoft" || port.Description().empty())) port.SetDescription(text);
  } else {
    TraceText(trace, "Adapter Desc - failed\n");
  }

  if (DeviceQuery(device, OID_GEN_MEDIA_IN_USE, buffer, n)) {
    ByteReader r(buffer, n);
    bool ethernet = false;
    std::string text = "MediaList: " + std::to_string(n) + ",";
    for (uint32_t i = 0; i < n / 4; ++i) {
      uint32_t medium = r.u32le();
      if (medium == kNdisMedium802_3) ethernet = true;
      text += ' ' + std::to_string(medium);
    }
    TraceText(trace, text + "\n");
    port.mediaSupported = ethernet ? 1 : 2;
  } else {
    TraceText(trace, "MediaList - failed\n");
  }

  if (DeviceQuery(device, OID_GEN_HARDWARE_STATUS, buffer, n)) {
    uint32_t value = FirstU32(buffer);
    TraceFormat(trace, "HardwareStatus: %u, %u\n", n, value);
    if (n == 4 && port.state == kPortClosed)
      port.state = value == kNdisHardwareStatusReady ? kPortReady : kPortNotReady;
  } else {
    TraceText(trace, "HardwareStatus - failed\n");
  }

  if (DeviceQuery(device, OID_GEN_CURRENT_PACKET_FILTER, buffer, n)) {
    ByteReader r(buffer, n);
    std::string text = "Filter: " + std::to_string(n) + ",";
    char hex[12];
    for (uint32_t i = 0; i < n / 4; ++i) {
      std::snprintf(hex, sizeof hex, " %x", r.u32le());
      text += hex;
    }
    TraceText(trace, text + "\n");
    if (n >= 4) port.packetFilter = FirstU32(buffer);
  } else {
    TraceText(trace, "Filter - failed\n");
  }

  if (DeviceQuery(device, OID_GEN_MAXIMUM_TOTAL_SIZE, buffer, n)) {
    uint32_t value = FirstU32(buffer);
    TraceFormat(trace, "MaxSize: %u, %u\n", n, value);
    if (n == 4) port.maxFrameSize = FrameSizeFromTotalSize(value);
  } else {
    TraceText(trace, "MaxSize - failed\n");
  }

  if (DeviceQuery(device, OID_GEN_VLAN_ID, buffer, n)) {
    uint32_t value = FirstU32(buffer);
    TraceFormat(trace, "VlanID: %u, %u\n", n, value);
    if (n == 4) port.vlanId = value;
  } else {
    TraceText(trace, "VlanID - failed\n");
  }

  if (DeviceQuery(device, OID_GEN_PHYSICAL_MEDIUM, buffer, n)) {
    uint32_t value = FirstU32(buffer);
    TraceFormat(trace, "Phys.Medium: %u, %u\n", n, value);
    if (n == 4) port.ifType = IfTypeOfMedium(value);
  } else {
    TraceText(trace, "Phys.Medium - failed\n");
  }

  if (DeviceQuery(device, OID_802_3_MULTICAST_LIST, buffer, n)) {
    TraceText(trace, "MulticastList: " + std::to_string(n) + "," + MulticastBytesText(buffer, n) + "\n");
    port.multicastListLen = n;
  } else {
    TraceText(trace, "MulticastList - failed\n");
  }
  return 1;
}

bool QueryAdapterDeviceLink(AdapterDevice& device, LinkTrace& trace, Port& port) {
  uint8_t buffer[kDeviceAnswerSize];
  uint32_t n = 0;
  bool result = false;

  if (DeviceQuery(device, OID_GEN_LINK_STATE, buffer, n)) {
    TraceFormat(trace, "LinkState: %u\n", n);
    if (n >= kNdisLinkStateSize) {
      LinkStateAnswer a = ParseLinkState(buffer, n);
      TraceLinkStateDetail(trace, a);
      port.linkStatus = a.connect;
      port.duplex = a.duplex;
      if (a.rcvSpeed != kNdisLinkSpeedUnknown) port.linkSpeed = SpeedUnits(a.rcvSpeed);
      port.autoNeg = a.autoNeg;
    }
    result = true;
  } else {
    TraceText(trace, "LinkState - failed\n");
  }

  if (port.linkStatus == kLinkUnknown) {
    if (DeviceQuery(device, OID_GEN_MEDIA_CONNECT_STATUS, buffer, n)) {
      uint32_t value = FirstU32(buffer);
      TraceFormat(trace, "MediaStatus: %u, %u\n", n, value);
      if (n == 4) port.linkStatus = value == 0 ? kLinkConnected : kLinkDisconnected;
    } else {
      TraceText(trace, "MediaStatus - failed\n");
    }
    // The device answered the open: its link path counts as working either way.
    result = true;
  }

  if (port.linkStatus != kLinkConnected) return result;

  if (port.duplex == 0) {
    if (DeviceQuery(device, OID_GEN_MEDIA_DUPLEX_STATE, buffer, n)) {
      uint32_t value = FirstU32(buffer);
      TraceFormat(trace, "Duplex: %u, %u\n", n, value);
      if (n == 4) port.duplex = value != 0 ? 2 : 1;
    } else {
      TraceText(trace, "Duplex - failed\n");
    }
    if (port.duplex == 0) {
      if (DeviceQuery(device, OID_GEN_MAC_OPTIONS, buffer, n)) {
        uint32_t value = FirstU32(buffer);
        TraceFormat(trace, "MAC options: %u, %x\n", n, value);
        if (n == 4 && (value & kNdisMacOptionFullDuplex)) port.duplex = 2;
      } else {
        TraceText(trace, "MAC options - failed\n");
      }
    }
  }

  if (port.linkSpeed == 0) {
    if (DeviceQuery(device, OID_GEN_LINK_SPEED, buffer, n)) {
      uint32_t value = FirstU32(buffer);
      TraceFormat(trace, "LinkSpeed: %u, %uKB/s\n", n, value / 10);
      if (n == 4) port.linkSpeed = value;
    } else {
      TraceText(trace, "LinkSpeed - failed\n");
    }
  }
  return result;
}

bool RefreshLinkFacts(QueryPath& q, NetHost& host, Port& port) {
  switch (port.queryMode.load()) {
    case 2:
      return RefreshLinkProperties(q, port);
    case 1: {
      auto device = OpenAdapterDevice(host, q.trace, port);
      return device ? QueryAdapterDeviceLink(*device, q.trace, port) : false;
    }
    default:
      return false;
  }
}

}  // namespace torvane
