// The adapter property queries: what the agent advertises about each of its
// ports (MAC address, description, speed, duplex, auto-negotiation, VLAN,
// maximum frame size, interface type) and whether it may use a port at all
// (802.3 medium, hardware ready, link connected). Two query paths feed the same
// Port fields: the adapter's own device (queryMode 1) and OID requests through the
// open packet driver (queryMode 2). On Linux both are answered by oid_answers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "agent/link/link_trace.h"
#include "agent/link/net_host.h"
#include "agent/link/oid_answers.h"
#include "agent/state/port.h"

namespace torvane {

// The packet driver's OID request record.
struct PacketOidData {
  uint32_t Oid = 0;
  uint32_t Length = 0;  // bytes of Data: the room on a query, the answer's size after it
  uint8_t Data[256] = {};
};

// OID requests through a port's open packet driver (AdapterRequest).
class OidRequester {
 public:
  virtual ~OidRequester() = default;
  virtual bool AdapterRequest(Port& port, bool set, PacketOidData& request) = 0;
};

// Answers queries from the host for the port's interface, and the lookahead set.
// The packet back-ends handle the packet filter and multicast list sets on their
// socket and hand every other request to AnswerOidQuery / AnswerOidSet as this does.
class HostOidRequester : public OidRequester {
 public:
  explicit HostOidRequester(NetHost& host) : host_(host) {}
  bool AdapterRequest(Port& port, bool set, PacketOidData& request) override;

 private:
  NetHost& host_;
};

// The adapter's own device, opened for direct statistics queries.
class AdapterDevice {
 public:
  virtual ~AdapterDevice() = default;
  // One query: the OID's raw data into out[0..room) (zero-filled by the caller),
  // the byte count into `returned`.
  virtual bool QueryGlobalStats(uint32_t oid, uint8_t* out, uint32_t room,
                                uint32_t& returned) = 0;
};

// Opens the adapter device of the port's interface (the part of deviceName from its
// first "{"); null, with the trace "Cannot open driver \\.\<name>\n", when the
// interface does not exist.
std::unique_ptr<AdapterDevice> OpenAdapterDevice(NetHost& host, LinkTrace& trace,
                                                 const Port& port);

// What the packet-driver queries run over.
struct QueryPath {
  OidRequester& driver;
  LinkTrace& trace;
};

// Packet-driver path. Each returns the request's success and stores into `out` only
// on success; traces as the agent's console shows them.
bool QueryMacAddress(QueryPath& q, Port& port, uint8_t out[6]);
bool QueryVendorDescription(QueryPath& q, Port& port, char* out, size_t size);
bool QueryPacketFilter(QueryPath& q, Port& port, uint32_t& out);
bool QueryMacOptions(QueryPath& q, Port& port, uint32_t& out);
// speed (100 bit/s units) is left as it was when the receive speed is unknown.
bool QueryLinkState(QueryPath& q, Port& port, uint32_t& connect, uint32_t& duplex,
                    uint32_t& speed, uint32_t& autoNeg);
bool QueryVlanId(QueryPath& q, Port& port, uint32_t& out);
bool QueryPhysicalMedium(QueryPath& q, Port& port, uint32_t& out);  // out = 71 or 6
bool QueryMediaInUse(QueryPath& q, Port& port, uint32_t& out);      // out = 1 or 2
bool QueryMulticastList(QueryPath& q, Port& port, uint32_t& out);   // out = bytes
bool QueryLinkSpeed(QueryPath& q, Port& port, uint32_t& out);
bool QueryDuplex(QueryPath& q, Port& port, uint32_t& out);          // out = 2 or 0
bool QueryMaxFrameSize(QueryPath& q, Port& port, uint32_t& out);    // out = total + 4
bool QueryHardwareStatus(QueryPath& q, Port& port, uint32_t& out);  // out = 1 or 2
bool QueryMediaConnect(QueryPath& q, Port& port, uint32_t& out);    // out = 1 or 2
// Queries the maximum lookahead and sets the current lookahead to it.
bool SetMaxLookahead(QueryPath& q, Port& port);
// Sets the adapter's multicast list, cut to 120 bytes (20 addresses).
bool SetMulticastList(QueryPath& q, Port& port, const uint8_t* list, size_t bytes);
// For each of packet filter, maximum frame size, VLAN id, physical medium (into
// ifType) and multicast list length that is still 0: query it and store it.
void QueryMissingPortFacts(QueryPath& q, Port& port);
// The link refresh through the packet driver: fills linkStatus, duplex, linkSpeed
// and autoNeg where they are 0. True when the link state or connect status answered.
bool RefreshLinkProperties(QueryPath& q, Port& port);

// Adapter-device path: the general properties (always 1) and the link properties
// (true when the link state answered, or when the connect status had to be asked).
int QueryAdapterDevice(AdapterDevice& device, LinkTrace& trace, Port& port);
bool QueryAdapterDeviceLink(AdapterDevice& device, LinkTrace& trace, Port& port);

// The port cycle's re-read of the link facts along the port's queryMode: 2 through
// the packet driver, 1 through the adapter device (opened and closed here), other
// values nothing. Returns what the link routine returned (false when nothing ran).
bool RefreshLinkFacts(QueryPath& q, NetHost& host, Port& port);

}  // namespace torvane
