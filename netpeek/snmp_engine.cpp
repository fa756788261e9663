#include "netpeek/snmp_engine.h"

#include <cerrno>
#include <cstdlib>

#include "common/text.h"
#include "netpeek/snmp_text.h"

namespace torvane::netpeek {

uint16_t agent_port_from_environment(const char* value) {
  if (!value || !*value) return kSnmpPort;
  char* end = nullptr;
  errno = 0;
  unsigned long port = std::strtoul(value, &end, 10);
  if (errno != 0 || !end || *end != '\0' || port == 0 || port > 65535) return kSnmpPort;
  return static_cast<uint16_t>(port);
}

void snmp_set_status(SnmpTarget& target, std::string text) {
  target.status_text = std::move(text);
  if (target.show_status) target.show_status(target.status_text);
}

bool snmp_connect(SnmpTarget& target, std::string_view name) {
  uint32_t address = target.socket ? target.socket->resolve(name) : 0;
  target.connected = address != 0 && address != 0xFFFFFFFFu && target.socket->connect(address, target.agent_port);
  if (target.connected)
    snmp_set_status(target, std::string(name));
  else
    snmp_set_status(target, std::string(name) + " connect failed");
  return target.connected;
}

namespace {

enum class Verdict { kAnswer, kDrop };

int Finish(SnmpTarget& target, SnmpOutcome outcome, std::string status) {
  target.last_outcome = outcome;
  if (!status.empty()) snmp_set_status(target, std::move(status));
  return outcome == SnmpOutcome::kAnswered ? 1 : 0;
}

// Whether a received datagram is the answer to the request in flight; adopts the
// response's version and community only when it is.
Verdict Judge(SnmpTarget& target, std::span<const uint8_t> datagram, int32_t request_id,
              size_t binding_count, BerLog& log) {
  ByteReader in(datagram);
  MessageHeader header;
  ByteReader pduBytes;
  if (!snmp_parse_message_header(in, header, pduBytes, log)) {
    ++target.counters.unparsable;
    snmp_set_status(target, "SNMP Packet authentication error");
    return Verdict::kDrop;
  }
  int code = snmp_parse_pdu(target.response, pduBytes, log);
  if (code != 0) {
    ++target.counters.unparsable;
    if (code != -11) snmp_set_status(target, FormatText("SNMP parsing packet failed %d", code));
    varbind_release(target.response.storage, true);
    return Verdict::kDrop;
  }
  const Pdu& r = target.response;
  Verdict verdict = Verdict::kAnswer;
  if (r.type != asn::kGetResponse) {
    ++target.counters.not_response;
    verdict = Verdict::kDrop;
  } else if (r.request_id != request_id) {
    ++target.counters.wrong_id;
    verdict = Verdict::kDrop;
  } else if (r.binding_count() != binding_count) {
    ++target.counters.wrong_count;
    verdict = Verdict::kDrop;
  } else if (header.version != 0 && header.version != 1) {
    ++target.counters.wrong_version;
    verdict = Verdict::kDrop;
  }
  if (verdict == Verdict::kDrop) {
    varbind_release(target.response.storage, true);
    return verdict;
  }
  target.version = header.version;
  target.community = header.community;
  if (header.version != 0)
    snmp_set_status(target, FormatText("SNMP wrong version: %u, continuing anyway",
                                       static_cast<unsigned>(header.version)));
  return Verdict::kAnswer;
}

}  // namespace

int snmp_request(SnmpTarget& target, uint8_t pdu_type, std::span<VarBind>& bindings,
                 int32_t& error_status, int32_t& error_index) {
  BerLog quiet;
  BerLog& log = target.log ? *target.log : quiet;
  if (!target.socket || !target.connected) return Finish(target, SnmpOutcome::kNotConnected, "");

  ++target.request_counter;
  const int32_t requestId = static_cast<int32_t>(target.request_counter);
  snmp_set_status(target, target.host);

  uint8_t message[kSnmpDatagramMax];
  size_t length = 0;
  {
    Pdu request;
    request.type = pdu_type;
    request.request_id = requestId;
    request.error_status = error_status;
    request.error_index = error_index;
    request.bindings = bindings;
    int code = snmp_build_request(request, target.community, target.version, message, length, log);
    if (code != 0) return Finish(target, SnmpOutcome::kSetupFailed, FormatText("SNMP request setup failed %d", code));
  }
  const size_t askedCount = bindings.size();
  // The request is built: the previous response, which may have named it, goes.
  varbind_release(target.response.storage, true);
  target.response.bindings = {};

  UdpTransport& io = *target.socket;
  const std::span<const uint8_t> datagram(message, length);
  // Sends the request; a refusal reported for an earlier datagram is consumed by
  // the failed send, so it is tried once more.
  auto send = [&]() -> bool {
    for (int attempt = 0; attempt < 2; ++attempt) {
      IoResult r = io.send(datagram);
      if (r.status == IoStatus::kOk) {
        ++target.counters.sent;
        return true;
      }
      if (r.status != IoStatus::kRefused) return false;
      ++target.counters.refusals;
    }
    return true;  // still refused: no answer for this try
  };

  const int64_t timeout = target.timeout_ms;
  const int64_t start = io.now_ms();
  if (!send()) return Finish(target, SnmpOutcome::kSendFailed, "SNMP sending request failed");
  uint32_t tryNumber = 0;
  int64_t tryEnd = start + timeout;
  bool resentThisTry = false;
  uint8_t buffer[kSnmpDatagramMax];

  for (;;) {
    int64_t now = io.now_ms();
    if (now >= tryEnd) {
      if (tryNumber >= target.retries) return Finish(target, SnmpOutcome::kNoAnswer, "SNMP retry count exceeded");
      ++tryNumber;
      tryEnd = start + static_cast<int64_t>(tryNumber + 1) * timeout;
      resentThisTry = false;
      if (!send()) return Finish(target, SnmpOutcome::kSendFailed, "SNMP sending request failed");
      continue;
    }
    WaitResult w = io.wait_readable(tryEnd - now);
    if (w.status == WaitStatus::kFailed)
      return Finish(target, SnmpOutcome::kReceiveFailed, FormatText("SNMP receive failed %d", -w.error));
    if (w.status == WaitStatus::kTimeout) continue;

    IoResult r = io.receive(buffer);
    if (r.status == IoStatus::kNothing) continue;
    if (r.status == IoStatus::kRefused) {
      // No agent at the port (yet): no answer for this try, which runs its time.
      ++target.counters.refusals;
      continue;
    }
    if (r.status == IoStatus::kFailed)
      return Finish(target, SnmpOutcome::kReceiveFailed, FormatText("SNMP receive failed %d", -r.error));
    Verdict v = Verdict::kDrop;
    if (r.status == IoStatus::kOversize)
      ++target.counters.oversize;
    else
      v = Judge(target, {buffer, r.size}, requestId, askedCount, log);
    if (v == Verdict::kAnswer) break;
    // A late answer to an earlier send, or junk: the request goes out once more in
    // this try (an answer to it may have been lost), never more often.
    if (!resentThisTry) {
      resentThisTry = true;
      ++target.counters.stale_resends;
      if (!send()) return Finish(target, SnmpOutcome::kSendFailed, "SNMP sending request failed");
    }
  }

  bindings = target.response.bindings;
  error_status = target.response.error_status;
  error_index = target.response.error_index;
  return Finish(target, SnmpOutcome::kAnswered, "");
}

int snmp_walk_to_file(SnmpTarget& target, uint8_t pdu_type, std::string_view oid_text, bool numeric,
                      std::FILE* stream) {
  if (!target.connected || !stream) {
    if (!target.connected) target.last_outcome = SnmpOutcome::kNotConnected;
    return 0;
  }
  const bool walk = pdu_type == asn::kGetNextRequest;
  VarBind first;
  first.name = oid_from_text(oid_text);
  first.type = asn::kNull;
  const Oid start = first.name;
  std::fprintf(stream, "%s\n", oid_to_text(start).c_str());

  std::span<VarBind> list(&first, 1);
  int32_t errorStatus = 0, errorIndex = 0;
  Oid asked = start;
  int answered = snmp_request(target, pdu_type, list, errorStatus, errorIndex);
  while (answered && errorStatus == 0 && errorIndex == 0) {
    const VarBind& got = list[0];
    if (walk) {
      // An agent that hands back the same or an earlier name would keep the walk
      // going for ever: it ends here as after an error status.
      if (oid_compare(got.name, asked) <= 0) break;
      if (!oid_starts_with(got.name, start)) {
        std::fputs("end of MIB tree\n", stream);
        break;
      }
    }
    ValueText value = value_to_text(got, numeric);
    std::fprintf(stream, "%s\n%s\n%s\n", oid_to_text(got.name).c_str(), value.type_name.c_str(),
                 value.text.c_str());
    if (!walk) break;
    asked = got.name;
    varbind_release(list, false);
    errorStatus = errorIndex = 0;
    answered = snmp_request(target, pdu_type, list, errorStatus, errorIndex);
  }
  varbind_release(list, true);
  return 3;
}

}  // namespace torvane::netpeek
