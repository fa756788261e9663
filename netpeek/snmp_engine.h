// netpeek's SNMPv1 manager core: the one target being asked, connecting to it, the
// request/response exchange with its time-out and retries, and the "get" and
// "dump" operations that write what they fetch to a stream.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "netpeek/ber_codec.h"
#include "netpeek/udp_transport.h"

namespace torvane::netpeek {

inline constexpr uint16_t kSnmpPort = 161;
inline constexpr size_t kHostMax = 255;

// How the last exchange ended; batch mode turns it into its exit status.
enum class SnmpOutcome : uint8_t {
  kNone,
  kAnswered,
  kNotConnected,
  kSetupFailed,    // "SNMP request setup failed %d"
  kSendFailed,     // "SNMP sending request failed"
  kReceiveFailed,  // "SNMP receive failed %d"
  kNoAnswer,       // "SNMP retry count exceeded"
};

// What the exchanges saw, for tests and traces.
struct SnmpCounters {
  uint64_t sent = 0;               // datagrams sent, resends included
  uint64_t stale_resends = 0;      // resends caused by a dropped datagram
  uint64_t refusals = 0;           // ICMP unreachable reports
  uint64_t oversize = 0;           // datagrams over 1460 bytes
  uint64_t unparsable = 0;         // header or PDU did not parse
  uint64_t not_response = 0;       // a PDU other than GetResponse (an echoed request)
  uint64_t wrong_id = 0;           // another request-id: a late answer
  uint64_t wrong_count = 0;        // another number of bindings than asked
  uint64_t wrong_version = 0;      // a version other than 0 or 1
};

// The agent being asked, and the engine's state. One per viewer.
struct SnmpTarget {
  // Each request first increments it; the request-id is its bits as a signed
  // 32-bit number, so it wraps instead of overflowing.
  uint32_t request_counter = 0;
  std::string status_text;     // the text last put into the status line
  std::string host = "localhost";
  UdpTransport* socket = nullptr;  // not owned
  uint32_t retries = 2;            // retransmissions after the first send
  uint32_t timeout_ms = 1000;      // wait per send (the original's 1 second)
  bool connected = false;
  int32_t version = 0;             // 0: SNMPv1
  std::string community = "tarlow";
  uint16_t agent_port = kSnmpPort;

  // Where the status line texts go as they are set (the window's status line);
  // may be empty.
  std::function<void(std::string_view)> show_status;
  BerLog* log = nullptr;  // the codec's diagnostics; may be null
  SnmpOutcome last_outcome = SnmpOutcome::kNone;
  SnmpCounters counters;
  // The last response: the bindings handed back by snmp_request live here until
  // the next request has been built (from them, in a walk).
  Pdu response;
};

// The port from NETPEEK_SNMP_PORT's value (tests point the viewer at a private
// agent with it): 1..65535, else 161.
uint16_t agent_port_from_environment(const char* value);

// Sets the status text and shows it.
void snmp_set_status(SnmpTarget& target, std::string text);

// Resolves name and connects the socket to it at target.agent_port. Status text:
// the name, or "<name> connect failed". Returns target.connected.
bool snmp_connect(SnmpTarget& target, std::string_view name);

// One exchange. pdu_type is GetRequest or GetNextRequest; bindings names the
// objects (type NULL). On an answer returns 1, points bindings at the response's
// bindings (valid until the next request) and sets the error fields; else returns
// 0 with the reason in the status text and target.last_outcome.
//
// A datagram counts as the answer only when it parses, is a GetResponse, carries
// the current request-id and as many bindings as the request; only then are its
// version (0 or 1) and community adopted. Anything else is dropped, and the first
// drop of each try sends the request again. Tries are timeout_ms apart; after
// (retries + 1) x timeout_ms from the first send the exchange ends with "SNMP retry
// count exceeded", whatever keeps arriving. An ICMP error (port or host
// unreachable) is no answer.
int snmp_request(SnmpTarget& target, uint8_t pdu_type, std::span<VarBind>& bindings,
                 int32_t& error_status, int32_t& error_index);

// "get" (GetRequest) and "dump" (GetNextRequest): writes the start identifier's
// text, then per object its name, type name and value text, one line each, and
// "end of MIB tree" when a walk leaves the start's subtree. A walk also stops,
// without that line, on a failed request, an error status, or a returned name that
// is not after the one asked for. Returns 3 when it ran, 0 when not connected or
// without a stream.
int snmp_walk_to_file(SnmpTarget& target, uint8_t pdu_type, std::string_view oid_text, bool numeric,
                      std::FILE* stream);

}  // namespace torvane::netpeek
