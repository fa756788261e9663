// SET through the whole extension over a fake agent: the checks of each object
// (one table), a SET acting as a whole (a failing binding puts back what the
// earlier ones wrote, byte for byte), values the agent accepts but does not keep,
// and the host's undo of a SET that failed elsewhere.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "nbrmib/mib_table.h"
#include "tests/nbrmib/support/fake_agent.h"

namespace torvane {
namespace {

using mibtest::Bindings;
using mibtest::FakeAgent;
using mibtest::Lldp;
using mibtest::OidText;

class MibSetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    agent.Populate();
    ctx.startTime = 2000;
  }

  int Set(Bindings& b, AsnInteger32* index = nullptr) {
    AsnInteger32 status = -1, at = -1;
    EXPECT_EQ(MibQuery(ctx, SNMP_PDU_SET, b.list(), &status, &at), 1);
    if (index) *index = at;
    return status;
  }

  FakeAgent agent;
  MibContext ctx{agent};
};

TEST_F(MibSetTest, ChecksOfEachObject) {
  enum Kind { kInt, kOctets };
  struct Case {
    std::vector<UINT> name;
    Kind kind;
    AsnInteger32 number;
    std::vector<uint8_t> bytes;
    int status;
    MibErrorReason reason;
  };
  const std::vector<uint8_t> sixteen(16, 0xAA), seventeen(17, 0xAA);
  const Case cases[] = {
      {Lldp({1, 1, 0}), kInt, 4, {}, SNMP_ERRORSTATUS_BADVALUE, MibErrorReason::kWrongValue},
      {Lldp({1, 1, 0}), kInt, 32769, {}, SNMP_ERRORSTATUS_BADVALUE, MibErrorReason::kWrongValue},
      {Lldp({1, 1, 0}), kInt, -1, {}, SNMP_ERRORSTATUS_BADVALUE, MibErrorReason::kWrongValue},
      {Lldp({1, 1, 0}), kOctets, 0, {5}, SNMP_ERRORSTATUS_BADVALUE, MibErrorReason::kWrongType},
      {Lldp({1, 2, 0}), kInt, 11, {}, SNMP_ERRORSTATUS_BADVALUE, MibErrorReason::kWrongValue},
      {Lldp({1, 2, 0}), kInt, 10, {}, SNMP_ERRORSTATUS_NOERROR, MibErrorReason::kNone},
      {Lldp({3, 3, 0}), kOctets, 0, {'x'}, SNMP_ERRORSTATUS_NOSUCHNAME, MibErrorReason::kNotWritable},
      {Lldp({3, 8, 1, 5, 1, 10, 1, 0, 5}), kInt, 1, {}, SNMP_ERRORSTATUS_NOSUCHNAME, MibErrorReason::kNotWritable},
      {Lldp({4, 1, 1, 9, 0, 1, 1}), kOctets, 0, {'x'}, SNMP_ERRORSTATUS_NOSUCHNAME, MibErrorReason::kNotWritable},
      {Lldp({9, 0}), kInt, 1, {}, SNMP_ERRORSTATUS_NOSUCHNAME, MibErrorReason::kNoEntry},
      {Lldp({1, 6, 1, 2, 1}), kInt, 5, {}, SNMP_ERRORSTATUS_BADVALUE, MibErrorReason::kWrongValue},
      {Lldp({1, 6, 1, 2, 9}), kInt, 3, {}, SNMP_ERRORSTATUS_GENERR, MibErrorReason::kNoInstance},
      {Lldp({1, 6, 1, 2}), kInt, 3, {}, SNMP_ERRORSTATUS_GENERR, MibErrorReason::kNoInstance},
      {Lldp({1, 6, 1, 4, 1}), kOctets, 0, {0x80, 0x40, 0x20}, SNMP_ERRORSTATUS_BADVALUE, MibErrorReason::kWrongLength},
      {Lldp({1, 7, 1, 1, 1, 10, 1, 0, 5}), kOctets, 0, seventeen, SNMP_ERRORSTATUS_BADVALUE, MibErrorReason::kWrongLength},
      {Lldp({1, 7, 1, 1, 1, 10, 1, 0, 5}), kOctets, 0, sixteen, SNMP_ERRORSTATUS_NOERROR, MibErrorReason::kNone},
      {Lldp({1, 7, 1, 1, 2, 10, 1, 0, 5}), kOctets, 0, sixteen, SNMP_ERRORSTATUS_GENERR, MibErrorReason::kNoInstance},
  };
  for (const Case& c : cases) {
    Bindings b({c.name});
    if (c.kind == kInt)
      b.SetInteger(0, c.number);
    else
      b.SetOctets(0, c.bytes);
    EXPECT_EQ(Set(b), c.status) << OidText(c.name);
    if (c.status != SNMP_ERRORSTATUS_NOERROR) {
      EXPECT_EQ(ctx.reason, c.reason) << OidText(c.name);
    }
  }
  EXPECT_EQ(agent.settings.txHoldMultiplier, 10u);
  EXPECT_EQ(agent.addresses[0].portListLength, 16);
  EXPECT_EQ(agent.addresses[0].portList[15], 0xAA);
}

TEST_F(MibSetTest, PortSwitchesReachTheAgentAndNotificationEnableIsNotKept) {
  Bindings b({Lldp({1, 6, 1, 2, 2}), Lldp({1, 6, 1, 4, 2}), Lldp({1, 6, 1, 3, 2})});
  b.SetInteger(0, 4);
  b.SetOctets(1, {});
  b.SetInteger(2, 1);
  ASSERT_EQ(Set(b), SNMP_ERRORSTATUS_NOERROR);
  EXPECT_EQ(agent.ports[1].adminStatus, 4u);
  EXPECT_EQ(agent.ports[1].tlvsTxEnable, 0);
  EXPECT_EQ(agent.ports[0].adminStatus, 3u);
  // The agent keeps only the admin status and the TLV byte.
  EXPECT_EQ(agent.ports[1].always2, 2u);
}

TEST_F(MibSetTest, FailingSecondBindingPutsBackTheFirstByteForByte) {
  // A value outside what SET may write, as lldp.ini may hold it: a restore that
  // set the old values again would be refused; the raw record goes back.
  agent.settings.txHoldMultiplier = 40;
  const AgentSettings before = agent.settings;
  agent.refusePortWrites = true;
  Bindings b({Lldp({1, 1, 0}), Lldp({1, 6, 1, 2, 1})});
  b.SetInteger(0, 60);
  b.SetInteger(1, 2);
  AsnInteger32 index = 0;
  EXPECT_EQ(Set(b, &index), SNMP_ERRORSTATUS_GENERR);
  EXPECT_EQ(index, 2);
  EXPECT_EQ(std::memcmp(&agent.settings, &before, sizeof before), 0);
  EXPECT_EQ(agent.writes, (std::vector<uint32_t>{kPipeSetSettings, kPipeSetPort, kPipeSetPort, kPipeSetSettings}));
  EXPECT_TRUE(ctx.snapshots.empty());
}

TEST_F(MibSetTest, SettingTheAgentDoesNotKeepAnswersGenErrAndIsUndone) {
  // The interval is kept rounded up to the 10-second pass: that is success.
  Bindings ok({Lldp({1, 1, 0})});
  ok.SetInteger(0, 5);
  EXPECT_EQ(Set(ok), SNMP_ERRORSTATUS_NOERROR);
  EXPECT_EQ(agent.settings.txInterval, 10u);

  // The hold multiplier is kept, the reinit delay is not stored at all.
  const AgentSettings before = agent.settings;
  Bindings b({Lldp({1, 2, 0}), Lldp({1, 3, 0})});
  b.SetInteger(0, 3);
  b.SetInteger(1, 5);
  AsnInteger32 index = 0;
  EXPECT_EQ(Set(b, &index), SNMP_ERRORSTATUS_GENERR);
  EXPECT_EQ(index, 2);
  EXPECT_EQ(ctx.reason, MibErrorReason::kGeneral);
  EXPECT_EQ(agent.settings.txHoldMultiplier, 4u);
  EXPECT_EQ(std::memcmp(&agent.settings, &before, sizeof before), 0);
}

TEST_F(MibSetTest, HostUndoesASetThatFailedElsewhere) {
  Bindings b({Lldp({1, 2, 0}), Lldp({1, 6, 1, 2, 1})});
  b.SetInteger(0, 3);
  b.SetInteger(1, 1);
  ASSERT_EQ(Set(b), SNMP_ERRORSTATUS_NOERROR);
  EXPECT_EQ(agent.settings.txHoldMultiplier, 3u);
  EXPECT_EQ(agent.ports[0].adminStatus, 1u);
  EndSet(ctx, true);
  EXPECT_EQ(agent.settings.txHoldMultiplier, 4u);
  EXPECT_EQ(agent.ports[0].adminStatus, 3u);

  // Once the host keeps a SET, a late undo changes nothing.
  Bindings c({Lldp({1, 2, 0})});
  c.SetInteger(0, 6);
  ASSERT_EQ(Set(c), SNMP_ERRORSTATUS_NOERROR);
  EndSet(ctx, false);
  EndSet(ctx, true);
  EXPECT_EQ(agent.settings.txHoldMultiplier, 6u);
}

TEST_F(MibSetTest, AgentDownOrRefusingAnswersGenErr) {
  agent.state = FakeAgent::State::kDown;
  Bindings b({Lldp({1, 2, 0})});
  b.SetInteger(0, 3);
  EXPECT_EQ(Set(b), SNMP_ERRORSTATUS_GENERR);
  agent.state = FakeAgent::State::kUp;
  agent.refusePortWrites = true;
  Bindings c({Lldp({1, 6, 1, 2, 1})});
  c.SetInteger(0, 1);
  EXPECT_EQ(Set(c), SNMP_ERRORSTATUS_GENERR);
  EXPECT_EQ(agent.ports[0].adminStatus, 3u);
}

}  // namespace
}  // namespace torvane
