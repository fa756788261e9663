#include "tests/netpeek/support/fake_agent.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <stdexcept>

#include "netpeek/snmp_text.h"

namespace torvane::netpeek::testing {

namespace {

int64_t SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

FakeAgent::FakeAgent(AgentScript script) : script_(std::move(script)) {
  fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
    throw std::runtime_error("fake agent: no socket");
  port_ = ntohs(a.sin_port);
  thread_ = std::thread([this] { Run(); });
}

FakeAgent::~FakeAgent() {
  stop();
  if (fd_ >= 0) ::close(fd_);
}

void FakeAgent::stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

std::vector<ReceivedRequest> FakeAgent::requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

void FakeAgent::Run() {
  struct Pending {
    int64_t due;
    Bytes bytes;
    sockaddr_in to;
  };
  std::vector<Pending> pending;
  const int64_t start = SteadyMs();
  size_t index = 0;
  while (!stop_) {
    int64_t now = SteadyMs();
    // Send what is due, in order of due time.
    std::stable_sort(pending.begin(), pending.end(), [](const Pending& a, const Pending& b) { return a.due < b.due; });
    while (!pending.empty() && pending.front().due <= now) {
      const Pending& p = pending.front();
      ::sendto(fd_, p.bytes.data(), p.bytes.size(), 0, reinterpret_cast<const sockaddr*>(&p.to), sizeof p.to);
      pending.erase(pending.begin());
    }
    int wait = 10;
    if (!pending.empty()) wait = static_cast<int>(std::clamp<int64_t>(pending.front().due - now, 0, 10));
    pollfd pfd{fd_, POLLIN, 0};
    if (::poll(&pfd, 1, wait) <= 0) continue;
    uint8_t buffer[2048];
    sockaddr_in from{};
    socklen_t len = sizeof from;
    ssize_t n = ::recvfrom(fd_, buffer, sizeof buffer, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &len);
    if (n < 0) continue;
    ReceivedRequest request = parse_request(Bytes(buffer, buffer + n));
    request.at_ms = SteadyMs() - start;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      requests_.push_back(request);
    }
    for (Reply& r : script_(request, index++))
      pending.push_back({SteadyMs() + r.delay_ms, std::move(r.bytes), from});
  }
}

ReceivedRequest parse_request(const Bytes& bytes) {
  ReceivedRequest r;
  r.bytes = bytes;
  BerLog log;
  ByteReader in(bytes.data(), bytes.size());
  MessageHeader header;
  ByteReader pdu;
  if (!snmp_parse_message_header(in, header, pdu, log)) return r;
  Pdu p;
  if (snmp_parse_pdu(p, pdu, log) != 0) return r;
  r.parsed = true;
  r.version = header.version;
  r.community = header.community;
  r.type = p.type;
  r.request_id = p.request_id;
  for (const VarBind& v : p.bindings) r.names.push_back(v.name);
  return r;
}

Bytes make_response(int32_t request_id, const std::vector<VarBind>& bindings, const ResponseOptions& options) {
  std::vector<VarBind> copy = bindings;
  Pdu pdu;
  pdu.type = options.type;
  pdu.request_id = request_id;
  pdu.error_status = options.error_status;
  pdu.error_index = options.error_index;
  pdu.bindings = copy;
  uint8_t out[kSnmpDatagramMax];
  size_t length = 0;
  BerLog log;
  if (snmp_build_request(pdu, options.community, options.version, out, length, log) != 0)
    throw std::runtime_error("fake agent: response does not encode");
  return Bytes(out, out + length);
}

VarBind integer_binding(const std::string& oid, uint8_t type, uint32_t value) {
  VarBind v;
  v.name = oid_from_text(oid);
  v.type = type;
  v.number = value;
  return v;
}

VarBind octets_binding(const std::string& oid, const std::string& value, uint8_t type) {
  VarBind v;
  v.name = oid_from_text(oid);
  v.type = type;
  v.octets.assign(value.begin(), value.end());
  return v;
}

VarBind oid_binding(const std::string& oid, const std::string& value) {
  VarBind v;
  v.name = oid_from_text(oid);
  v.type = asn::kObjectId;
  v.oid = oid_from_text(value);
  return v;
}

AgentScript mib_script(MibTable mib, std::string community) {
  return [mib = std::move(mib), community = std::move(community)](const ReceivedRequest& r, size_t) {
    if (!r.parsed || r.community != community) return std::vector<Reply>{};
    std::vector<VarBind> out;
    for (const Oid& name : r.names) {
      auto it = r.type == asn::kGetNextRequest ? mib.upper_bound(name.subids) : mib.find(name.subids);
      if (it == mib.end()) {
        std::vector<VarBind> asked;
        for (const Oid& n : r.names) {
          VarBind v;
          v.name = n;
          asked.push_back(v);
        }
        ResponseOptions error;
        error.community = community;
        error.error_status = 2;  // noSuchName
        error.error_index = static_cast<int32_t>(out.size() + 1);
        return std::vector<Reply>{{0, make_response(r.request_id, asked, error)}};
      }
      out.push_back(it->second);
    }
    ResponseOptions ok;
    ok.community = community;
    return std::vector<Reply>{{0, make_response(r.request_id, out, ok)}};
  };
}

MibTable small_mib() {
  MibTable mib;
  auto add = [&](VarBind v) { mib[v.name.subids] = v; };
  add(octets_binding("1.3.6.1.2.1.1.1.0", "box"));
  add(integer_binding("1.3.6.1.2.1.2.1.0", asn::kInteger, 2));
  add(octets_binding("1.3.6.1.2.1.2.2.1.2.1", "lo"));
  add(integer_binding("1.3.6.1.2.1.2.2.1.10.1", asn::kCounter, 4000000000u));
  add(oid_binding("1.3.6.1.2.1.2.2.1.22.1", "0.0"));
  add(integer_binding("1.3.6.1.2.1.4.1.0", asn::kInteger, 1));
  return mib;
}

uint16_t closed_udp_port() {
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(fd);
  return ntohs(a.sin_port);
}

IoResult ScriptedTransport::send(std::span<const uint8_t> datagram) {
  sends_.push_back(now_);
  if (keep_sent) sent_.emplace_back(datagram.begin(), datagram.end());
  return {IoStatus::kOk, datagram.size(), 0};
}

WaitResult ScriptedTransport::wait_readable(int64_t timeout_ms) {
  if (timeout_ms < 0) timeout_ms = 0;
  if (!arrivals_.empty() && arrivals_.front().at_ms <= now_ + timeout_ms) {
    now_ = std::max(now_, arrivals_.front().at_ms);
    return {WaitStatus::kReadable, 0};
  }
  now_ += timeout_ms;
  return {WaitStatus::kTimeout, 0};
}

IoResult ScriptedTransport::receive(std::span<uint8_t> buffer) {
  if (arrivals_.empty() || arrivals_.front().at_ms > now_) return {IoStatus::kNothing, 0, 0};
  Arrival a = std::move(arrivals_.front());
  arrivals_.pop_front();
  if (a.status != IoStatus::kOk) return {a.status, 0, a.status == IoStatus::kRefused ? 111 : 5};
  if (a.bytes.size() > buffer.size()) return {IoStatus::kOversize, a.bytes.size(), 0};
  std::copy(a.bytes.begin(), a.bytes.end(), buffer.begin());
  return {IoStatus::kOk, a.bytes.size(), 0};
}

IoResult RespondingTransport::send(std::span<const uint8_t> datagram) {
  ++requests_;
  for (Bytes& b : respond_(parse_request(Bytes(datagram.begin(), datagram.end())))) replies_.push_back(std::move(b));
  return {IoStatus::kOk, datagram.size(), 0};
}

WaitResult RespondingTransport::wait_readable(int64_t timeout_ms) {
  if (!replies_.empty()) return {WaitStatus::kReadable, 0};
  now_ += std::max<int64_t>(timeout_ms, 0);
  return {WaitStatus::kTimeout, 0};
}

IoResult RespondingTransport::receive(std::span<uint8_t> buffer) {
  if (replies_.empty()) return {IoStatus::kNothing, 0, 0};
  Bytes b = std::move(replies_.front());
  replies_.pop_front();
  if (b.size() > buffer.size()) return {IoStatus::kOversize, b.size(), 0};
  std::copy(b.begin(), b.end(), buffer.begin());
  return {IoStatus::kOk, b.size(), 0};
}

}  // namespace torvane::netpeek::testing
