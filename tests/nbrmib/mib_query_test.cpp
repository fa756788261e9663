// GET and GETNEXT through the whole extension over a fake agent: the walk of
// every object in order (the next chain, the GET-only columns, the remote
// address column across a neighbour without addresses), the end of the view,
// the error index, the values as served, and an agent that is down or hangs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "nbrmib/mib_table.h"
#include "nbrmib/oid.h"
#include "tests/nbrmib/support/fake_agent.h"

namespace torvane {
namespace {

using mibtest::Bindings;
using mibtest::FakeAgent;
using mibtest::Lldp;
using mibtest::OctetsOf;
using mibtest::OidText;

constexpr uint32_t kStart = 2000;
const std::vector<UINT> kEndOfView = {1, 0, 8802, 1, 1, 2, 2};

class MibQueryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    agent.Populate();
    ctx.startTime = kStart;
  }

  // One query of one binding; the status.
  int Query(BYTE type, Bindings& b, AsnInteger32* index = nullptr) {
    AsnInteger32 status = -1, at = -1;
    EXPECT_EQ(MibQuery(ctx, type, b.list(), &status, &at), 1);
    if (index) *index = at;
    return status;
  }

  // GETNEXT from `from` until the end of the view (bounded): every name on the way.
  std::vector<std::vector<UINT>> Walk(std::vector<UINT> from) {
    std::vector<std::vector<UINT>> names;
    for (int i = 0; i < 500; ++i) {
      Bindings b({from});
      if (Query(SNMP_PDU_GETNEXT, b) != 0) {
        ADD_FAILURE() << "GETNEXT failed after " << OidText(from);
        break;
      }
      from = b.Name(0);
      if (from == kEndOfView) break;
      names.push_back(from);
    }
    return names;
  }

  FakeAgent agent;
  MibContext ctx{agent};
};

TEST_F(MibQueryTest, GetNextOnTheRootServesTheFirstObject) {
  Bindings b({Lldp({})});
  ASSERT_EQ(Query(SNMP_PDU_GETNEXT, b), 0);
  EXPECT_EQ(b.Name(0), Lldp({1, 1, 0}));
  EXPECT_EQ(b[0].value.asnType, ASN_INTEGER);
  EXPECT_EQ(b[0].value.asnValue.number, 30);
}

TEST_F(MibQueryTest, WalkVisitsEveryInstanceInOrderAndEndsAtTheViewsEnd) {
  // A name below the view (as a walk from 1 sends it) starts at the first object.
  std::vector<std::vector<UINT>> names = Walk({1});
  // 5 settings, 2 x 3 port settings, 2 address port lists, 5 statistics, 6 local
  // system, 2 x 3 local ports, 2 x 3 local addresses, 3 x 9 remote systems,
  // 3 x 2 remote addresses, 3 local extension columns x 2 ports and 3 remote
  // ones x 3 neighbours.
  EXPECT_EQ(names.size(), 84u);
  for (size_t i = 1; i < names.size(); ++i)
    ASSERT_TRUE(std::lexicographical_compare(names[i - 1].begin(), names[i - 1].end(), names[i].begin(),
                                             names[i].end()))
        << OidText(names[i - 1]) << " then " << OidText(names[i]);
  auto under = [](const std::vector<UINT>& name, const std::vector<UINT>& column) {
    return name.size() > column.size() && std::equal(column.begin(), column.end(), name.begin());
  };
  // The OBJECT IDENTIFIER columns answer GET only.
  for (const auto& name : names) {
    EXPECT_FALSE(under(name, Lldp({3, 8, 1, 6}))) << OidText(name);
    EXPECT_FALSE(under(name, Lldp({4, 2, 1, 5}))) << OidText(name);
  }
  // The remote address column: the first neighbour's two addresses in address
  // order although the agent lists 10.9.0.20 first, nothing for the neighbour
  // without addresses, then the third neighbour (time mark 5 s after start).
  std::vector<std::vector<UINT>> column;
  for (const auto& name : names)
    if (under(name, Lldp({4, 2, 1, 3}))) column.push_back(name);
  EXPECT_EQ(column, (std::vector<std::vector<UINT>>{Lldp({4, 2, 1, 3, 0, 1, 1, 1, 10, 9, 0, 3}),
                                                     Lldp({4, 2, 1, 3, 0, 1, 1, 1, 10, 9, 0, 20}),
                                                     Lldp({4, 2, 1, 3, 500, 2, 3, 1, 10, 9, 1, 1})}));
  EXPECT_EQ(names.back(), Lldp({5, 32962, 1, 3, 1, 1, 1, 500, 2, 3}));
}

TEST_F(MibQueryTest, GetNextPastTheLastObjectAnswersTheEndOfTheView) {
  for (const auto& from : {Lldp({5, 32962, 1, 3, 1, 1, 1, 500, 2, 3}), Lldp({6}), Lldp({5, 40000})}) {
    Bindings b({from});
    ASSERT_EQ(Query(SNMP_PDU_GETNEXT, b), 0) << OidText(from);
    EXPECT_EQ(b.Name(0), kEndOfView) << OidText(from);
  }
}

TEST_F(MibQueryTest, ObjectIdentifierColumnsAnswerGetOnly) {
  Bindings get({Lldp({3, 8, 1, 6, 1, 10, 1, 0, 5}), Lldp({4, 2, 1, 5, 0, 1, 1, 1, 10, 9, 0, 3})});
  ASSERT_EQ(Query(SNMP_PDU_GET, get), 0);
  for (size_t i = 0; i < 2; ++i) {
    ASSERT_EQ(get[i].value.asnType, ASN_OBJECTIDENTIFIER);
    const AsnObjectIdentifier& o = get[i].value.asnValue.object;
    EXPECT_EQ(std::vector<UINT>(o.ids, o.ids + o.idLength), (std::vector<UINT>{1, 3, 6}));
  }
  // GETNEXT inside that column moves on to the next one.
  Bindings next({Lldp({3, 8, 1, 6, 1, 10, 1, 0, 5})});
  ASSERT_EQ(Query(SNMP_PDU_GETNEXT, next), 0);
  EXPECT_EQ(next.Name(0), Lldp({4, 1, 1, 4, 0, 1, 1}));
}

TEST_F(MibQueryTest, FailingSecondBindingReportsIndexTwoAndTheFirstKeepsItsAnswer) {
  Bindings b({Lldp({1, 1, 0}), Lldp({1, 9, 0}), Lldp({3, 3, 0})});
  AsnInteger32 index = 0;
  EXPECT_EQ(Query(SNMP_PDU_GET, b, &index), SNMP_ERRORSTATUS_NOSUCHNAME);
  EXPECT_EQ(index, 2);
  EXPECT_EQ(ctx.reason, MibErrorReason::kNoEntry);
  EXPECT_EQ(b[0].value.asnValue.number, 30);
  EXPECT_EQ(b[2].value.asnType, ASN_NULL);
}

TEST_F(MibQueryTest, ValuesAsServed) {
  agent.settings.CapSupported = 0x114;
  agent.settings.remTablesLastChange = kStart + 7;
  agent.settings.chassisId.length = 200;  // beyond its 67 bytes
  std::memset(agent.settings.systemName, 'x', sizeof agent.settings.systemName);  // no terminator
  Bindings b({Lldp({3, 5, 0}), Lldp({3, 6, 0}), Lldp({2, 1, 0}), Lldp({3, 2, 0}), Lldp({3, 3, 0}),
              Lldp({1, 6, 1, 4, 1}), Lldp({3, 8, 1, 3, 1, 10, 1, 0, 5}), Lldp({3, 8, 1, 5, 1, 192, 168, 7, 1}),
              Lldp({4, 1, 1, 9, 500, 2, 3}), Lldp({3, 7, 1, 3, 2})});
  ASSERT_EQ(Query(SNMP_PDU_GET, b), 0);
  EXPECT_EQ(OctetsOf(b[0]), (std::vector<uint8_t>{0x01, 0x14}));
  EXPECT_EQ(OctetsOf(b[1]), (std::vector<uint8_t>{0x80}));
  EXPECT_EQ(b[2].value.asnType, ASN_TIMETICKS);
  EXPECT_EQ(b[2].value.asnValue.ticks, 700u);
  EXPECT_EQ(OctetsOf(b[3]).size(), 67u);
  EXPECT_EQ(OctetsOf(b[4]).size(), 64u);
  EXPECT_EQ(OctetsOf(b[5]), (std::vector<uint8_t>{0xF0}));
  EXPECT_EQ(b[6].value.asnValue.number, 5);
  EXPECT_EQ(b[7].value.asnValue.number, 2);
  EXPECT_EQ(OctetsOf(b[8]), (std::vector<uint8_t>{'s', 'w', 'i', 't', 'c', 'h', '-', '3'}));
  EXPECT_EQ(OctetsOf(b[9]), (std::vector<uint8_t>{0x02, 0, 0, 0, 0, 0x02}));
}

TEST_F(MibQueryTest, CapabilityMapIsTheShortestBigEndianString) {
  struct Case {
    uint32_t value;
    std::vector<uint8_t> bytes;
  };
  const Case cases[] = {{0, {0x00}},          {0x14, {0x14}},
                        {0x114, {0x01, 0x14}}, {0x10000, {0x01, 0x00, 0x00}},
                        {0xFFFFFF, {0xFF, 0xFF, 0xFF}}, {0x1000000, {0x01, 0x00, 0x00, 0x00}}};
  for (const Case& c : cases) {
    ctx.settingsCopy.CapEnabled = c.value;
    Bindings b({Lldp({3, 6, 0})});
    ASSERT_EQ(EncodeValue(ctx, MibTable[19], &b[0]), 0);
    EXPECT_EQ(OctetsOf(b[0]), c.bytes) << std::hex << c.value;
  }
}

TEST_F(MibQueryTest, GetOfMissingInstances) {
  struct Case {
    std::vector<UINT> name;
    int status;
    MibErrorReason reason;
  };
  const Case cases[] = {
      {Lldp({1, 1, 1}), SNMP_ERRORSTATUS_NOSUCHNAME, MibErrorReason::kNoInstance},  // scalar, not .0
      {Lldp({9}), SNMP_ERRORSTATUS_NOSUCHNAME, MibErrorReason::kNoEntry},
      {Lldp({3, 7, 1, 4, 3}), SNMP_ERRORSTATUS_GENERR, MibErrorReason::kNoInstance},  // no port 3
      {Lldp({3, 7, 1, 4}), SNMP_ERRORSTATUS_GENERR, MibErrorReason::kNoInstance},     // no index
      {Lldp({3, 8, 1, 3, 2, 10, 1, 0, 5}), SNMP_ERRORSTATUS_GENERR, MibErrorReason::kNoInstance},  // subtype 2
      {Lldp({4, 1, 1, 9, 0, 2, 1}), SNMP_ERRORSTATUS_GENERR, MibErrorReason::kNoInstance},  // row 1 is on port 1
  };
  for (const Case& c : cases) {
    Bindings b({c.name});
    EXPECT_EQ(Query(SNMP_PDU_GET, b), c.status) << OidText(c.name);
    EXPECT_EQ(ctx.reason, c.reason) << OidText(c.name);
  }
}

TEST_F(MibQueryTest, EmptyRemoteAddressTableIsCrossedOnce) {
  for (Neighbor& n : agent.neighbors) n.manAddrCount = 0;
  // From the last remote row to the first local extension object: one request
  // ends lldpRemTable's last column, one per neighbour and one more cross the
  // address table (its second column needs none), one finds port 1.
  Bindings b({Lldp({4, 1, 1, 12, 500, 2, 3})});
  ASSERT_EQ(Query(SNMP_PDU_GETNEXT, b), 0);
  EXPECT_EQ(b.Name(0), Lldp({5, 4623, 1, 2, 1, 1, 4, 1}));
  EXPECT_EQ(agent.transactions, 1 + 3 + 1 + 1);
}

TEST_F(MibQueryTest, AgentDownWalkShowsNothing) {
  agent.state = FakeAgent::State::kDown;
  EXPECT_TRUE(Walk(Lldp({})).empty());
  Bindings scalar({Lldp({1, 1, 0})});
  EXPECT_EQ(Query(SNMP_PDU_GET, scalar), SNMP_ERRORSTATUS_NOSUCHNAME);
  Bindings row({Lldp({3, 7, 1, 4, 1})});
  EXPECT_EQ(Query(SNMP_PDU_GET, row), SNMP_ERRORSTATUS_GENERR);
  // Back up: the next request works.
  agent.state = FakeAgent::State::kUp;
  Bindings again({Lldp({1, 1, 0})});
  EXPECT_EQ(Query(SNMP_PDU_GET, again), 0);
}

TEST_F(MibQueryTest, HungAgentCostsOneWaitPerRequest) {
  agent.state = FakeAgent::State::kHung;
  // From a table column the walk would try every following column; after the
  // first time-out the rest of the request fails without asking.
  Bindings b({Lldp({3, 7, 1, 3})});
  ASSERT_EQ(Query(SNMP_PDU_GETNEXT, b), 0);
  EXPECT_EQ(b.Name(0), kEndOfView);
  EXPECT_EQ(agent.transactions, 1);
  // A new query is a new request: it asks again.
  Bindings c({Lldp({3, 7, 1, 3})});
  Query(SNMP_PDU_GETNEXT, c);
  EXPECT_EQ(agent.transactions, 2);
  // A host that announces its requests (a GETBULK is one request over many
  // queries) gets no second wait until its next request.
  ctx.hostBeginsRequests = true;
  ctx.pipe.BeginRequest();
  Bindings d({Lldp({3, 7, 1, 3})}), e({Lldp({4, 1, 1, 4})});
  Query(SNMP_PDU_GETNEXT, d);
  Query(SNMP_PDU_GETNEXT, e);
  EXPECT_EQ(agent.transactions, 3);
}

TEST(OidTest, CompareAndPad) {
  struct Case {
    std::vector<UINT> a, b;
    UINT n;
    int order;
  };
  const Case cases[] = {
      {{1, 2, 3}, {1, 2, 3}, 3, 0}, {{1, 2}, {1, 2, 3}, 3, -1}, {{1, 2, 4}, {1, 2, 3}, 3, 1},
      {{1, 2, 3, 9}, {1, 2, 3}, 3, 0}, {{1, 3}, {1, 2, 3}, 3, 1}, {{1, 2, 9}, {1, 2, 3}, 2, 0},
  };
  for (const Case& c : cases) {
    AsnObjectIdentifier a{static_cast<UINT>(c.a.size()), const_cast<UINT*>(c.a.data())};
    AsnObjectIdentifier b{static_cast<UINT>(c.b.size()), const_cast<UINT*>(c.b.data())};
    EXPECT_EQ(OidCompare(&a, &b, c.n), c.order) << OidText(c.a) << " vs " << OidText(c.b);
  }
  Bindings p({{1, 2}});
  EXPECT_EQ(OidPad(&p[0].name, 2, 3), 5u);
  EXPECT_EQ(p.Name(0), (std::vector<UINT>{1, 2, 0, 0, 0}));
  EXPECT_EQ(OidPad(&p[0].name, 2, 1), 5u);  // long enough already
}

}  // namespace
}  // namespace torvane
