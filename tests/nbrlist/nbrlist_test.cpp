// ctest-labels: unit;threaded
// nbrlist against a running pipe server over a fixture table: both output forms
// byte for byte, column choices, exit statuses, texts from the wire kept in their
// fields and free of control characters, and the program itself end to end.
#include "nbrlist/nbrlist.h"

#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "agent/runtime/service_host.h"
#include "agent/store/agent_pipe.h"
#include "tests/support/runtime/pipe_fixture.h"
#include "tests/support/pipe_test_support.h"

namespace torvane {
namespace {

using pipetest::AgentFixture;
using pipetest::MakeNeighbor;
using testing::EnvOverride;
using testing::ScratchDir;

constexpr uint32_t kHeard = 1700000000;  // 2023-11-14 22:13:20 UTC, 23:13:20 at +0100
constexpr time_t kNow = 1700003600;      // 2023-11-15 00:13:20 at +0100

class NbrlistTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Neighbor a = MakeNeighbor(1, 0x11, "switch-a", kHeard);
    const uint8_t ifAddr[4] = {10, 0, 0, 5}, portAddr[4] = {10, 0, 0, 99};
    std::memcpy(a.interfaceAddress, ifAddr, 4);
    std::memcpy(a.portAddress, portAddr, 4);
    Neighbor b = MakeNeighbor(2, 0x12, "phone-b", kHeard + 60);
    // Heard by CDP: its address entry carries interface subtype 1, number 0.
    b.manAddrIfSubtype[0] = 1;
    b.manAddrIfNumber[0] = 0;
    b.chassisIdSubtype = 7;
    pipetest::SetId(b.chassisId, "SEP0011");
    b.portIdSubtype = 5;
    pipetest::SetId(b.portId, "Port 1");
    b.portVlanId = 0;
    b.mode = 2 * 2;  // 100M half duplex
    b.capSupported = 0x24;
    b.capEnabled = 0x24;
    f.AddNeighbor(a);
    f.AddNeighbor(b, kNeighborCdp);
    pipe.emplace(f.state, path);
    pipe->Start();
    ASSERT_TRUE(pipe->server().Listening());
  }

  int Run(std::vector<const char*> args) {
    args.insert(args.begin(), "nbrlist");
    out.clear();
    PipeConnection connection;
    NbrlistContext ctx{f.facts, kNow, [this](std::string_view t) { out.append(t); }};
    int status = RunNbrlist(static_cast<int>(args.size()), args.data(), connection, ctx);
    return status;
  }

  ScratchDir dir;
  std::string path = dir / "pipe";
  EnvOverride env{"TORVANE_PIPE", path};
  AgentFixture f;
  std::optional<AgentPipe> pipe;
  std::string out;
};

const char kRowA[] =
    "eth0\t10.0.0.5\t02000000aa11\tswitch-a\tge-0/0/17\tuplink 17\t10.0.0.99\t2023-11-14 23:13:50\tBr\t"
    "2023-11-14 23:13:20\tSwitch OS 1.0\t1000M FD\t100\n";
const char kRowB[] =
    "eth1\t\t53455030303131\tphone-b\tPort 1\tuplink 18\t\t2023-11-14 23:14:50\tBT\t"
    "2023-11-14 23:14:20\tSwitch OS 1.0\t100M \t\n";

TEST_F(NbrlistTest, TableForm) {
  EXPECT_EQ(Run({}), 1);
  EXPECT_EQ(out, std::string(kRowA) + kRowB);
}

TEST_F(NbrlistTest, TaggedForm) {
  EXPECT_EQ(Run({"/t"}), 1);
  EXPECT_EQ(out,
            "2023-11-15 00:13:20 +0100 event=lldp interface=\"eth0\" interface-ip-addr=10.0.0.5 "
            "chassisId=\"02000000aa11\" chassis=\"switch-a\" portId=\"ge-0/0/17\" port=\"uplink 17\" "
            "port-ip-addr=10.0.0.99 lastUpdate=\"2023-11-14 23:13:50\" capabilities=Br "
            "discovered=\"2023-11-14 23:13:20\" description=\"Switch OS 1.0\" mode=\"1000M FD\" vLanId=100 \n"
            "2023-11-15 00:13:20 +0100 event=cdp interface=\"eth1\" interface-ip-addr= "
            "chassisId=\"53455030303131\" chassis=\"phone-b\" portId=\"Port 1\" port=\"uplink 18\" "
            "port-ip-addr= lastUpdate=\"2023-11-14 23:14:50\" capabilities=BT "
            "discovered=\"2023-11-14 23:14:20\" description=\"Switch OS 1.0\" mode=\"100M \" vLanId= \n");
}

TEST_F(NbrlistTest, ColumnsPrintInColumnOrder) {
  EXPECT_EQ(Run({"/c", "3,1"}), 1);
  EXPECT_EQ(out, "eth0\t02000000aa11\t\neth1\t53455030303131\t\n");
  EXPECT_EQ(Run({"-t", "-c", "13,4"}), 1);
  EXPECT_EQ(out, "chassis=\"switch-a\" vLanId=100 \nchassis=\"phone-b\" vLanId= \n");
}

TEST_F(NbrlistTest, ColumnListsThatSelectNothingPrintEverything) {
  for (const char* list : {"0", "40", "x", ",3"}) {
    EXPECT_EQ(Run({"/c", list}), 1);
    EXPECT_EQ(out, std::string(kRowA) + kRowB) << list;
  }
}

TEST_F(NbrlistTest, ColumnListStopsAtZeroAndAtATrailingComma) {
  EXPECT_EQ(Run({"/c", "2,0,5"}), 1);
  EXPECT_EQ(out, "10.0.0.5\t\n\t\n");
  EXPECT_EQ(Run({"/c", "2,"}), 1);
  EXPECT_EQ(out, "10.0.0.5\t\n\t\n");
  EXPECT_EQ(Run({"/c", "2,13,99,4"}), 1);  // stops at 99
  EXPECT_EQ(out, "10.0.0.5\t100\n\t\n");
}

TEST_F(NbrlistTest, SlashAfterColumnOptionIsTheNextOption) {
  Run({"/t"});
  const std::string tagged = out;
  EXPECT_EQ(Run({"/c", "/t"}), 1);
  EXPECT_EQ(out, tagged);  // /t honoured, every column including the time
  EXPECT_EQ(Run({"/t", "/c"}), 1);  // /c last: parsing stops
  EXPECT_EQ(out, tagged);
  EXPECT_EQ(Run({"/T", "t", "--t"}), 1);  // compared exactly: all ignored
  EXPECT_EQ(out, std::string(kRowA) + kRowB);
}

TEST_F(NbrlistTest, LldpNeighbourWithoutManagementAddressIsTaggedCdp) {
  f.table.ClearNeighbors();
  Neighbor n = MakeNeighbor(1, 0x20, "no-mgmt", kHeard);
  n.manAddrCount = 0;
  f.AddNeighbor(n);
  EXPECT_EQ(Run({"/t", "/c", "4"}), 1);
  EXPECT_EQ(out, "chassis=\"no-mgmt\" \n");
  Run({"/t"});
  EXPECT_EQ(out.substr(0, 36), "2023-11-15 00:13:20 +0100 event=cdp ");
}

TEST_F(NbrlistTest, EmptyTablePrintsNothing) {
  f.table.ClearNeighbors();
  EXPECT_EQ(Run({}), 1);
  EXPECT_EQ(out, "");
}

TEST_F(NbrlistTest, UsageText) {
  EXPECT_EQ(Run({"/?"}), 1);
  EXPECT_EQ(out,
            "nbrlist for Linux\nWritten by Torvane\nList LLDP agent neighbor table\n"
            "    Options: /t - list entries in tagged format\n"
            "    Options: /c n[,m,...] - list numbered columns only\n"
            "    Options: /j - list entries as one JSON array\n");
  EXPECT_EQ(Run({"/t", "/?"}), 1);  // only as the first argument
  EXPECT_NE(out.find("event=lldp"), std::string::npos);
}

TEST_F(NbrlistTest, NoAgentListening) {
  pipe->Stop();
  EXPECT_EQ(Run({}), 0);
  EXPECT_EQ(out, "Service not active\n");
}

TEST_F(NbrlistTest, RecordRemovedDuringTheListingEndsIt) {
  Neighbor first{};
  f.table.CopyFirstNeighbor(first);
  PipeConnection connection;
  NbrlistContext ctx{f.facts, kNow, [&](std::string_view t) {
                       out.append(t);
                       f.table.RemoveNeighbor(first.nextHandle);  // the next one ages out meanwhile
                     }};
  NbrlistOptions options = ParseNbrlistArguments(1, std::vector<const char*>{"nbrlist"}.data());
  EXPECT_EQ(ListNeighbors(connection, options, ctx), 1u);
  EXPECT_EQ(out, kRowA);
}

TEST_F(NbrlistTest, WireTextsStayInTheirFieldsAndLoseControlCharacters) {
  f.table.ClearNeighbors();
  Neighbor n = MakeNeighbor(1, 0x30, "", kHeard);
  CopyText(n.systemName, "evil\x1b[2J\nsecond line\t");
  // A description that fills its field to the last byte, no terminator.
  std::memset(n.systemDescription, 'D', sizeof n.systemDescription);
  n.systemDescription[5] = '\r';
  // A text ID whose length byte claims more than the field holds.
  n.chassisIdSubtype = 6;
  std::memset(n.chassisId.bytes, 'C', sizeof n.chassisId.bytes);
  n.chassisId.length = 200;
  n.portIdSubtype = 1;
  pipetest::SetId(n.portId, "p\x07" "1\xc2\x9b" "x");  // BEL and a C1 CSI in UTF-8
  CopyText(n.portDescription, "caf\xc3\xa9");          // valid UTF-8 stays
  f.AddNeighbor(n);
  EXPECT_EQ(Run({"/c", "3,4,5,6,11"}), 1);
  std::string description(128, 'D');
  description[5] = '?';
  EXPECT_EQ(out, std::string(67, 'C') + "\tevil?[2J?second line?\tp?1?x\tcaf\xc3\xa9\t" + description + "\t\n");
}

TEST_F(NbrlistTest, JsonFormHoldsTheTableValuesWithAbsentOnesNull) {
  EXPECT_EQ(Run({"/j"}), 1);
  EXPECT_EQ(out,
            "[\n"
            "  {\"interface\": \"eth0\", \"interface_address\": \"10.0.0.5\", \"chassis_id\": \"02000000aa11\", "
            "\"system_name\": \"switch-a\", \"port_id\": \"ge-0/0/17\", \"port_description\": \"uplink 17\", "
            "\"port_address\": \"10.0.0.99\", \"last_update\": \"2023-11-14 23:13:50\", \"capabilities\": \"Br\", "
            "\"discovered\": \"2023-11-14 23:13:20\", \"system_description\": \"Switch OS 1.0\", "
            "\"mode\": \"1000M FD\", \"vlan\": 100},\n"
            "  {\"interface\": \"eth1\", \"interface_address\": null, \"chassis_id\": \"53455030303131\", "
            "\"system_name\": \"phone-b\", \"port_id\": \"Port 1\", \"port_description\": \"uplink 18\", "
            "\"port_address\": null, \"last_update\": \"2023-11-14 23:14:50\", \"capabilities\": \"BT\", "
            "\"discovered\": \"2023-11-14 23:14:20\", \"system_description\": \"Switch OS 1.0\", "
            "\"mode\": \"100M \", \"vlan\": null}\n"
            "]\n");
  // Columns chosen as for the other forms; /j wins over /t.
  EXPECT_EQ(Run({"/t", "-j", "/c", "13,4"}), 1);
  EXPECT_EQ(out, "[\n  {\"system_name\": \"switch-a\", \"vlan\": 100},\n  {\"system_name\": \"phone-b\", \"vlan\": null}\n]\n");
  f.table.ClearNeighbors();
  EXPECT_EQ(Run({"/j"}), 1);
  EXPECT_EQ(out, "[]\n");
}

TEST_F(NbrlistTest, JsonStringsStayValidWhateverTheBytes) {
  const struct {
    std::string text;
    const char* json;
  } cases[] = {
      {"plain", "\"plain\""},
      {"q\"b\\s/", "\"q\\\"b\\\\s/\""},
      {std::string("nul\0tab\t\x1f\x7f", 10), "\"nul\\u0000tab\\u0009\\u001f\\u007f\""},
      {"caf\xc3\xa9 \xe2\x82\xac", "\"caf\xc3\xa9 \xe2\x82\xac\""},  // valid UTF-8 kept
      {"latin \xe9\xff", "\"latin \xc3\xa9\xc3\xbf\""},                  // stray bytes read as Latin-1
      {"cut \xe2\x82", "\"cut \xc3\xa2\xc2\x82\""},                       // a sequence cut short
      {"surrogate \xed\xa0\x80", "\"surrogate \xc3\xad\xc2\xa0\xc2\x80\""},
  };
  for (const auto& c : cases) EXPECT_EQ(JsonString(c.text), c.json) << c.text;
}

TEST_F(NbrlistTest, JsonWithoutAnAgentPrintsNoDocument) {
  pipe->Stop();
  std::string err;
  PipeConnection connection;
  NbrlistContext ctx{f.facts, kNow, [this](std::string_view t) { out.append(t); },
                     [&err](std::string_view t) { err.append(t); }};
  std::vector<const char*> args{"nbrlist", "/j"};
  out.clear();
  EXPECT_EQ(RunNbrlist(2, args.data(), connection, ctx), 0);
  EXPECT_EQ(out, "");
  EXPECT_EQ(err, "Service not active\n");
}

TEST_F(NbrlistTest, TheProgramEndToEnd) {
  const std::string program = std::string(LLDP_BINARY_DIR) + "/nbrlist/nbrlist";
  if (access(program.c_str(), X_OK) != 0) GTEST_SKIP() << "nbrlist not built";
  ProcessRunner runner;
  std::string text;
  EXPECT_EQ(runner.Run({program, "/c", "4"}, &text), 1);
  EXPECT_EQ(text, "switch-a\t\nphone-b\t\n");
  pipe->Stop();
  EXPECT_EQ(runner.Run({program}, &text), 0);
  EXPECT_EQ(text, "Service not active\n");
}

}  // namespace
}  // namespace torvane
