// ctest-labels: unit;threaded
// The request engine against an agent in this process on 127.0.0.1, with short
// time-outs: one table of scripted answers (what the agent sends back, what the
// exchange must end with), then walks over a small MIB.
#include "netpeek/snmp_engine.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "netpeek/snmp_text.h"
#include "tests/netpeek/support/fake_agent.h"

namespace torvane::netpeek {
namespace {

using testing::AgentScript;
using testing::Bytes;
using testing::FakeAgent;
using testing::ReceivedRequest;
using testing::Reply;
using testing::ResponseOptions;
using testing::make_response;
using testing::octets_binding;

constexpr uint32_t kTimeoutMs = 200;
constexpr uint32_t kRetries = 2;
// The engine's clock counts whole milliseconds: its deadline may come up to 1 ms
// early on a finer clock.
constexpr int64_t kDeadlineMs = (kRetries + 1) * kTimeoutMs - 1;
constexpr char kSysDescr[] = "1.3.6.1.2.1.1.1.0";

// The engine with the real socket, pointed at a port on 127.0.0.1.
struct Engine {
  std::unique_ptr<UdpTransport> socket = make_linux_udp_transport();
  BerLog log;
  SnmpTarget target;
  explicit Engine(uint16_t port) {
    target.socket = socket.get();
    target.log = &log;
    target.agent_port = port;
    target.host = "127.0.0.1";
    target.timeout_ms = kTimeoutMs;
    target.retries = kRetries;
    EXPECT_TRUE(socket->open());
    EXPECT_TRUE(snmp_connect(target, target.host));
  }
};

std::vector<VarBind> Answer(const ReceivedRequest& r) {
  std::vector<VarBind> out;
  for (const Oid& name : r.names) {
    VarBind v = octets_binding(oid_to_text(name), "answer");
    out.push_back(v);
  }
  return out;
}

Reply Now(Bytes b, int delay = 0) { return {delay, std::move(b)}; }

struct Scripted {
  const char* name;
  AgentScript script;
  int result;
  const char* status;       // status text at the end
  size_t min_requests;      // requests the agent saw
  size_t max_requests;
  int64_t min_ms, max_ms;   // how long the exchange took
  const char* community;    // the target's community afterwards
  int32_t version;          // and version
};

const Scripted kScripts[] = {
    {"AnswerToFirstSend",
     [](const ReceivedRequest& r, size_t) { return std::vector<Reply>{Now(make_response(r.request_id, Answer(r)))}; },
     1, "127.0.0.1", 1, 1, 0, 150, "tarlow", 0},
    {"SilentAgentRetriesThenGivesUp", [](const ReceivedRequest&, size_t) { return std::vector<Reply>{}; },
     0, "SNMP retry count exceeded", 3, 3, kDeadlineMs, kDeadlineMs + 150, "tarlow", 0},
    {"AnswerToSecondSendOnly",
     [](const ReceivedRequest& r, size_t i) {
       return i == 0 ? std::vector<Reply>{} : std::vector<Reply>{Now(make_response(r.request_id, Answer(r)))};
     },
     1, "127.0.0.1", 2, 2, kTimeoutMs - 1, kTimeoutMs + 150, "tarlow", 0},
    {"StaleAnswerResendsOnceUncharged",
     [](const ReceivedRequest& r, size_t i) {
       return i == 0 ? std::vector<Reply>{Now(make_response(r.request_id - 1, Answer(r)))}
                     : std::vector<Reply>{Now(make_response(r.request_id, Answer(r)))};
     },
     1, "127.0.0.1", 2, 2, 0, 150, "tarlow", 0},
    {"StaleFloodEndsByDeadline",
     [](const ReceivedRequest& r, size_t) {
       std::vector<Reply> flood;
       for (int k = 0; k < 60; ++k) flood.push_back(Now(make_response(r.request_id + 1000, Answer(r)), k * 10));
       return flood;
     },
     0, "SNMP retry count exceeded", 3, 6, kDeadlineMs, kDeadlineMs + 150, "tarlow", 0},
    {"CommunityAndVersionOnlyFromMatch",
     [](const ReceivedRequest& r, size_t) {
       return std::vector<Reply>{Now(make_response(r.request_id + 1, Answer(r), {"evil", 1})),
                                 Now(make_response(r.request_id, Answer(r), {"other", 0}), 20)};
     },
     1, "127.0.0.1", 2, 2, 0, 150, "other", 0},
    {"VersionOneAdoptedWithWarning",
     [](const ReceivedRequest& r, size_t) {
       return std::vector<Reply>{Now(make_response(r.request_id, Answer(r), {"tarlow", 1}))};
     },
     1, "SNMP wrong version: 1, continuing anyway", 1, 1, 0, 150, "tarlow", 1},
    {"VersionThreeDropped",
     [](const ReceivedRequest& r, size_t) {
       return std::vector<Reply>{Now(make_response(r.request_id, Answer(r), {"evil", 3}))};
     },
     0, "SNMP retry count exceeded", 3, 6, kDeadlineMs, kDeadlineMs + 150, "tarlow", 0},
    {"EchoedRequestRefused", [](const ReceivedRequest& r, size_t) { return std::vector<Reply>{Now(r.bytes)}; },
     0, "SNMP retry count exceeded", 3, 6, kDeadlineMs, kDeadlineMs + 150, "tarlow", 0},
    {"WrongBindingCountRefused",
     [](const ReceivedRequest& r, size_t) {
       std::vector<VarBind> two = Answer(r);
       two.push_back(two.front());
       return std::vector<Reply>{Now(make_response(r.request_id, two, {"evil", 0}))};
     },
     0, "SNMP retry count exceeded", 3, 6, kDeadlineMs, kDeadlineMs + 150, "tarlow", 0},
    {"GarbageThenAnswer",
     [](const ReceivedRequest& r, size_t i) {
       return i == 0 ? std::vector<Reply>{Now(Bytes{'h', 'e', 'l', 'l', 'o'})}
                     : std::vector<Reply>{Now(make_response(r.request_id, Answer(r)))};
     },
     1, "SNMP Packet authentication error", 2, 2, 0, 150, "tarlow", 0},
    {"SetRequestTypeRefused",
     [](const ReceivedRequest& r, size_t) {
       return std::vector<Reply>{Now(make_response(r.request_id, Answer(r), {"tarlow", 0, asn::kSetRequest}))};
     },
     0, "SNMP retry count exceeded", 3, 6, kDeadlineMs, kDeadlineMs + 150, "tarlow", 0},
};

class ScriptedAgent : public ::testing::TestWithParam<Scripted> {};

TEST_P(ScriptedAgent, ExchangeEndsAsScripted) {
  const Scripted& s = GetParam();
  FakeAgent agent(s.script);
  Engine e(agent.port());
  VarBind request;
  request.name = oid_from_text(kSysDescr);
  std::span<VarBind> list(&request, 1);
  int32_t errorStatus = 0, errorIndex = 0;
  auto started = std::chrono::steady_clock::now();
  int result = snmp_request(e.target, asn::kGetRequest, list, errorStatus, errorIndex);
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count();
  EXPECT_EQ(result, s.result);
  EXPECT_EQ(e.target.status_text, s.status);
  EXPECT_GE(ms, s.min_ms);
  EXPECT_LT(ms, s.max_ms);
  EXPECT_EQ(e.target.community, s.community);
  EXPECT_EQ(e.target.version, s.version);
  // Let late datagrams land, then count what the agent saw.
  agent.stop();
  auto seen = agent.requests();
  EXPECT_GE(seen.size(), s.min_requests);
  EXPECT_LE(seen.size(), s.max_requests);
  for (const ReceivedRequest& r : seen) {
    ASSERT_TRUE(r.parsed);
    EXPECT_EQ(r.request_id, 1);  // resends carry the same request
    EXPECT_EQ(r.community, "tarlow");
  }
  if (result) {
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(oid_to_text(list[0].name), kSysDescr);
    EXPECT_EQ(std::string(list[0].octets.begin(), list[0].octets.end()), "answer");
  } else {
    EXPECT_EQ(e.target.last_outcome, SnmpOutcome::kNoAnswer);
  }
}

INSTANTIATE_TEST_SUITE_P(Answers, ScriptedAgent, ::testing::ValuesIn(kScripts),
                         [](const ::testing::TestParamInfo<Scripted>& p) { return std::string(p.param.name); });

TEST(SnmpRequest, ConnectionRefusedCountsAsNoAnswer) {
  Engine e(testing::closed_udp_port());
  VarBind request;
  request.name = oid_from_text(kSysDescr);
  std::span<VarBind> list(&request, 1);
  int32_t es = 0, ei = 0;
  auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(snmp_request(e.target, asn::kGetRequest, list, es, ei), 0);
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count();
  EXPECT_EQ(e.target.status_text, "SNMP retry count exceeded");
  EXPECT_GE(ms, kDeadlineMs);
  EXPECT_GE(e.target.counters.refusals, 1u);
  EXPECT_EQ(e.target.last_outcome, SnmpOutcome::kNoAnswer);
}

TEST(SnmpRequest, LaterRequestsCarryTheAdoptedCommunityAndVersion) {
  FakeAgent agent([](const ReceivedRequest& r, size_t) {
    return std::vector<Reply>{Now(make_response(r.request_id, Answer(r), {"other", 1}))};
  });
  Engine e(agent.port());
  for (int i = 0; i < 2; ++i) {
    VarBind request;
    request.name = oid_from_text(kSysDescr);
    std::span<VarBind> list(&request, 1);
    int32_t es = 0, ei = 0;
    ASSERT_EQ(snmp_request(e.target, asn::kGetRequest, list, es, ei), 1);
  }
  agent.stop();
  auto seen = agent.requests();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[1].community, "other");
  EXPECT_EQ(seen[1].version, 1);
  EXPECT_EQ(seen[1].request_id, 2);
}

TEST(SnmpRequest, RequestIdWrapsAsUnsigned) {
  FakeAgent agent([](const ReceivedRequest& r, size_t) {
    return std::vector<Reply>{Now(make_response(r.request_id, Answer(r)))};
  });
  Engine e(agent.port());
  e.target.request_counter = 0x7FFFFFFF;
  VarBind request;
  request.name = oid_from_text(kSysDescr);
  std::span<VarBind> list(&request, 1);
  int32_t es = 0, ei = 0;
  ASSERT_EQ(snmp_request(e.target, asn::kGetRequest, list, es, ei), 1);
  agent.stop();
  auto seen = agent.requests();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].request_id, INT32_MIN);
}

// ---- walks over a small MIB ----

std::string Walk(Engine& e, uint8_t type, const std::string& start) {
  std::FILE* f = std::tmpfile();
  EXPECT_EQ(snmp_walk_to_file(e.target, type, start, false, f), 3);
  std::rewind(f);
  std::string text;
  int c;
  while ((c = std::fgetc(f)) != EOF) text += static_cast<char>(c);
  std::fclose(f);
  return text;
}

TEST(SnmpWalk, WritesEachObjectAndEndsAtSubtreeEnd) {
  FakeAgent agent(testing::mib_script(testing::small_mib()));
  Engine e(agent.port());
  EXPECT_EQ(Walk(e, asn::kGetNextRequest, "1.3.6.1.2.1.2"),
            "1.3.6.1.2.1.2\n"
            "1.3.6.1.2.1.2.1.0\nInteger\n2 ( 0x2 )\n"
            "1.3.6.1.2.1.2.2.1.2.1\nOctetstring\nlo\n"
            "1.3.6.1.2.1.2.2.1.10.1\nCounter\n4000000000\n"
            "1.3.6.1.2.1.2.2.1.22.1\nOID\n0.0\n"
            "end of MIB tree\n");
  EXPECT_EQ(agent.requests().size(), 5u);
}

TEST(SnmpWalk, ErrorStatusEndsWithoutEndLine) {
  FakeAgent agent(testing::mib_script(testing::small_mib()));
  Engine e(agent.port());
  EXPECT_EQ(Walk(e, asn::kGetNextRequest, "1.3.6.1.2.1.4"), "1.3.6.1.2.1.4\n1.3.6.1.2.1.4.1.0\nInteger\n1 ( 0x1 )\n");
}

TEST(SnmpWalk, LoopingAgentStopsAtFirstRepeat) {
  FakeAgent agent([](const ReceivedRequest& r, size_t) {
    return std::vector<Reply>{Now(make_response(r.request_id, {octets_binding("1.3.6.1.2.1.2.1.0", "again")}))};
  });
  Engine e(agent.port());
  EXPECT_EQ(Walk(e, asn::kGetNextRequest, "1.3.6.1.2.1.2"), "1.3.6.1.2.1.2\n1.3.6.1.2.1.2.1.0\nOctetstring\nagain\n");
  EXPECT_EQ(agent.requests().size(), 2u);
}

TEST(SnmpWalk, AgentGoingBackwardsStops) {
  FakeAgent agent([](const ReceivedRequest& r, size_t i) {
    const char* name = i == 0 ? "1.3.6.1.2.1.2.5" : "1.3.6.1.2.1.2.3";
    return std::vector<Reply>{Now(make_response(r.request_id, {octets_binding(name, "x")}))};
  });
  Engine e(agent.port());
  EXPECT_EQ(Walk(e, asn::kGetNextRequest, "1.3.6.1.2.1.2"), "1.3.6.1.2.1.2\n1.3.6.1.2.1.2.5\nOctetstring\n78 \n");
}

TEST(SnmpWalk, GetReadsOneObject) {
  FakeAgent agent(testing::mib_script(testing::small_mib()));
  Engine e(agent.port());
  EXPECT_EQ(Walk(e, asn::kGetRequest, kSysDescr), "1.3.6.1.2.1.1.1.0\n1.3.6.1.2.1.1.1.0\nOctetstring\nbox\n");
}

TEST(SnmpWalk, StartTooLongToSendEndsAtSetup) {
  FakeAgent agent(testing::mib_script(testing::small_mib()));
  Engine e(agent.port());
  std::string start = "1.3";
  for (int i = 0; i < 127; ++i) start += ".1";  // 129 sub-identifiers
  EXPECT_EQ(Walk(e, asn::kGetNextRequest, start), start + "\n");
  EXPECT_EQ(e.target.status_text, "SNMP request setup failed -1");
  EXPECT_EQ(e.target.last_outcome, SnmpOutcome::kSetupFailed);
  EXPECT_TRUE(agent.requests().empty());
}

TEST(SnmpWalk, NotConnectedDoesNothing) {
  Engine e(testing::closed_udp_port());
  e.target.connected = false;
  std::FILE* f = std::tmpfile();
  EXPECT_EQ(snmp_walk_to_file(e.target, asn::kGetNextRequest, "1.3.6", false, f), 0);
  EXPECT_EQ(std::ftell(f), 0);
  std::fclose(f);
}

TEST(SnmpConnect, UnresolvableHostFails) {
  Engine e(testing::closed_udp_port());
  EXPECT_FALSE(snmp_connect(e.target, "no-such-host.invalid"));
  EXPECT_EQ(e.target.status_text, "no-such-host.invalid connect failed");
  EXPECT_FALSE(snmp_connect(e.target, ""));
  EXPECT_FALSE(snmp_connect(e.target, "255.255.255.255"));
}

}  // namespace
}  // namespace torvane::netpeek
