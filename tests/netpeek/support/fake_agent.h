// Agents for the engine's tests, benchmarks and fuzz targets.
// - FakeAgent: a UDP agent on 127.0.0.1 in this process whose answers a script
//   gives, each after its own delay; it records every request it received.
// - ScriptedTransport: the engine's socket replaced by a timeline of datagrams in
//   virtual time, for fuzzing snmp_request without waiting.
// - Builders of responses and bindings, and a port that nobody listens on.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "netpeek/ber_codec.h"
#include "netpeek/udp_transport.h"

namespace torvane::netpeek::testing {

using Bytes = std::vector<uint8_t>;

struct ReceivedRequest {
  Bytes bytes;
  bool parsed = false;
  int32_t version = 0;
  std::string community;
  uint8_t type = 0;
  int32_t request_id = 0;
  std::vector<Oid> names;
  int64_t at_ms = 0;  // since the agent started
};

struct Reply {
  int delay_ms = 0;
  Bytes bytes;
};

// Called for every request (index counts from 0); returns what to send back.
using AgentScript = std::function<std::vector<Reply>(const ReceivedRequest& request, size_t index)>;

class FakeAgent {
 public:
  explicit FakeAgent(AgentScript script);
  ~FakeAgent();
  FakeAgent(const FakeAgent&) = delete;
  FakeAgent& operator=(const FakeAgent&) = delete;
  uint16_t port() const { return port_; }
  std::vector<ReceivedRequest> requests() const;
  void stop();

 private:
  void Run();
  AgentScript script_;
  int fd_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::vector<ReceivedRequest> requests_;
  std::thread thread_;
};

struct ResponseOptions {
  std::string community = "tarlow";
  int32_t version = 0;
  uint8_t type = asn::kGetResponse;
  int32_t error_status = 0;
  int32_t error_index = 0;
};

Bytes make_response(int32_t request_id, const std::vector<VarBind>& bindings, const ResponseOptions& options = {});
VarBind integer_binding(const std::string& oid, uint8_t type, uint32_t value);
VarBind octets_binding(const std::string& oid, const std::string& value, uint8_t type = asn::kOctetString);
VarBind oid_binding(const std::string& oid, const std::string& value);
// The request parsed back (for scripts); parsed is false when it does not parse.
ReceivedRequest parse_request(const Bytes& bytes);
// An agent over a sorted table: Get and GetNext answered from it, noSuchName (2)
// past its end; requests with another community are not answered (as snmpd does).
using MibTable = std::map<std::vector<uint32_t>, VarBind>;
AgentScript mib_script(MibTable mib, std::string community = "tarlow");
MibTable small_mib();  // a system description, an interface table of one row, ip

// A UDP port on 127.0.0.1 that was free a moment ago and has no listener.
uint16_t closed_udp_port();

class ScriptedTransport final : public UdpTransport {
 public:
  struct Arrival {
    int64_t at_ms = 0;
    IoStatus status = IoStatus::kOk;  // kOk (a datagram), kRefused, kOversize or kFailed
    Bytes bytes;
  };
  void push(Arrival arrival) { arrivals_.push_back(std::move(arrival)); }
  const std::vector<int64_t>& sends() const { return sends_; }
  const std::vector<Bytes>& sent() const { return sent_; }
  bool keep_sent = false;

  bool open() override { return true; }
  uint32_t resolve(std::string_view name) override { return name.empty() ? 0 : 0x0100007Fu; }
  bool connect(uint32_t, uint16_t) override { return true; }
  IoResult send(std::span<const uint8_t> datagram) override;
  WaitResult wait_readable(int64_t timeout_ms) override;
  IoResult receive(std::span<uint8_t> buffer) override;
  int64_t now_ms() override { return now_; }

 private:
  int64_t now_ = 0;
  std::deque<Arrival> arrivals_;
  std::vector<int64_t> sends_;
  std::vector<Bytes> sent_;
};

// The engine's socket with an agent behind it in virtual time: each request sent
// is parsed and answered at once with the datagrams respond makes of it (none:
// the request goes unanswered and the wait runs its time-out without waiting).
class RespondingTransport final : public UdpTransport {
 public:
  using Respond = std::function<std::vector<Bytes>(const ReceivedRequest& request)>;
  explicit RespondingTransport(Respond respond) : respond_(std::move(respond)) {}
  size_t requests() const { return requests_; }

  bool open() override { return true; }
  uint32_t resolve(std::string_view name) override { return name.empty() ? 0 : 0x0100007Fu; }
  bool connect(uint32_t, uint16_t) override { return true; }
  IoResult send(std::span<const uint8_t> datagram) override;
  WaitResult wait_readable(int64_t timeout_ms) override;
  IoResult receive(std::span<uint8_t> buffer) override;
  int64_t now_ms() override { return now_; }

 private:
  Respond respond_;
  std::deque<Bytes> replies_;
  size_t requests_ = 0;
  int64_t now_ = 0;
};

}  // namespace torvane::netpeek::testing
