// ctest-labels: unit;threaded
// What the viewer shows and saves: the command line, the text forms of values,
// the walk view reading a walk file back, saving a view, and batch mode end to end
// against an agent in this process.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "netpeek/batch_mode.h"
#include "netpeek/command_line.h"
#include "netpeek/snmp_text.h"
#include "netpeek/view_save.h"
#include "netpeek/walk_view.h"
#include "tests/netpeek/support/fake_agent.h"
#include "tests/netpeek/support/private_snmpd.h"

namespace torvane::netpeek {
namespace {

// ---- command line ----

struct CommandLine {
  std::vector<const char*> args;
  const char* host;
  const char* community;
  uint32_t view;
  const char* oid_text;
  bool numeric;
  bool batch;
};

const CommandLine kCommandLines[] = {
    {{}, "localhost", "tarlow", view_id::kSystem, "", false, false},
    {{"-c", "pub", "node", "interfaces"}, "node", "pub", view_id::kInterfaces, "", false, false},
    {{"node", "Interfaces"}, "node", "tarlow", view_id::kInterfaces, "", false, false},
    {{"-C", "x", "interfaces"}, "x", "tarlow", view_id::kInterfaces, "", false, false},
    {{"/c", "x"}, "x", "tarlow", view_id::kSystem, "", false, false},
    {{"node", "dump", "in", "2"}, "node", "tarlow", view_id::kWalk, "1.3.6.1.2.1.2", false, false},
    {{"node", "dump", "lldp"}, "node", "tarlow", view_id::kWalk, "1.0.8802", false, false},
    {{"node", "dump"}, "node", "tarlow", view_id::kWalk, "1.3.6", false, false},
    {{"node", "DUMP", "inet"}, "node", "tarlow", view_id::kWalk, "1.3.6", false, false},
    {{"-n", "-s", "node", "dump", "ep", "2021"}, "node", "tarlow", view_id::kWalk, "1.3.6.1.4.1.2021", true, true},
    {{"node", "dump", "1.3.6.1.2.1.4", "20"}, "node", "tarlow", view_id::kWalk, "1.3.6.1.2.1.4.20", false, false},
    {{"node", "get"}, "node", "tarlow", view_id::kGet, "1.3.6.1.2.1.1.1.0", false, false},
    {{"node", "get", "1.3.6.1.2.1.1.5.0"}, "node", "tarlow", view_id::kGet, "1.3.6.1.2.1.1.5.0", false, false},
    {{"node", "system"}, "node", "tarlow", view_id::kSystem, "", false, false},
    {{"node", "nonsense"}, "node", "tarlow", view_id::kSystem, "", false, false},
    {{"node", "users"}, "node", "tarlow", view_id::kUsers, "", false, false},
    {{"-c"}, "localhost", "tarlow", view_id::kSystem, "", false, false},
};

class CommandLineCase : public ::testing::TestWithParam<CommandLine> {};

TEST_P(CommandLineCase, SetsTargetAndFirstView) {
  const CommandLine& c = GetParam();
  std::vector<const char*> argv = {"netpeek"};
  argv.insert(argv.end(), c.args.begin(), c.args.end());
  SnmpTarget target;
  ViewerSettings settings;
  EXPECT_FALSE(parse_command_line(static_cast<int>(argv.size()), argv.data(), target, settings));
  EXPECT_EQ(target.host, c.host);
  EXPECT_EQ(target.community, c.community);
  EXPECT_EQ(settings.current_view, c.view);
  EXPECT_EQ(settings.walk_oid_text, c.oid_text);
  EXPECT_EQ(settings.numeric, c.numeric);
  EXPECT_EQ(settings.batch_save, c.batch);
}

INSTANTIATE_TEST_SUITE_P(Arguments, CommandLineCase, ::testing::ValuesIn(kCommandLines));

TEST(CommandLine, UsageAndLongArguments) {
  SnmpTarget target;
  ViewerSettings settings;
  const char* usage[] = {"netpeek", "-n", "/?"};
  EXPECT_TRUE(parse_command_line(3, usage, target, settings));
  std::string longHost(300, 'h'), longCommunity(200, 'c');
  const char* args[] = {"netpeek", "-c", longCommunity.c_str(), longHost.c_str()};
  EXPECT_FALSE(parse_command_line(4, args, target, settings));
  EXPECT_EQ(target.host.size(), 255u);
  EXPECT_EQ(target.community.size(), 127u);
}

// ---- text forms ----

TEST(OidText, ReadsDottedText) {
  EXPECT_EQ(oid_to_text(oid_from_text("1.3.6.1")), "1.3.6.1");
  EXPECT_EQ(oid_to_text(oid_from_text(".1.3.6")), "1.3.6");
  EXPECT_EQ(oid_to_text(oid_from_text("1..3")), "1.3");
  EXPECT_EQ(oid_to_text(oid_from_text("1.99999999999")), "1.4294967295");
  EXPECT_EQ(oid_from_text("").count(), 0u);
  std::string many = "1";
  for (int i = 0; i < 299; ++i) many += ".1";
  EXPECT_EQ(oid_from_text(many).count(), 256u);
}

struct Shown {
  const char* name;
  VarBind binding;
  bool numeric;
  const char* type_name;
  const char* text;
};

VarBind Octets(const std::string& bytes, uint8_t type = asn::kOctetString) {
  VarBind v;
  v.type = type;
  v.octets.assign(bytes.begin(), bytes.end());
  return v;
}
VarBind Number(uint8_t type, uint32_t n) {
  VarBind v;
  v.type = type;
  v.number = n;
  return v;
}

const Shown kShown[] = {
    {"TwoLettersAsText", Octets("ab"), false, "Octetstring", "ab"},
    {"OneLetterAsHex", Octets("a"), false, "Octetstring", "61 "},
    {"TabInsideAsHex", Octets("a\tb"), false, "Octetstring", "61 09 62 "},
    {"TrailingZeroAsText", Octets(std::string("abc\0", 4)), false, "Octetstring", "abc"},
    {"InnerZeroAsHex", Octets(std::string("a\0b", 3)), false, "Octetstring", "61 00 62 "},
    {"NumericAsHex", Octets("ab"), true, "Octetstring", "61 62 "},
    {"HighBytesEscapedBackslashDoubled", Octets("a\\b\xE9"), false, "Octetstring", "a\\\\b\\0xe9"},
    {"BackslashAloneKept", Octets("a\\b"), false, "Octetstring", "a\\b"},
    {"MostlyHighAsHex", Octets("\xE9\xE9z"), false, "Octetstring", "e9 e9 7a "},
    {"EmptyAsHex", Octets(""), false, "Octetstring", ""},
    {"Integer", Number(asn::kInteger, 255), false, "Integer", "255 ( 0xff )"},
    {"Counter", Number(asn::kCounter, 4000000000u), false, "Counter", "4000000000"},
    {"Gauge", Number(asn::kGauge, 7), false, "Gauge", "7"},
    {"TimeTicks", Number(asn::kTimeTicks, 12345), false, "TimeTicks", "12345"},
    {"Bits", Octets("\x80\x01", asn::kBitString), false, "Bits", "80 01 "},
    {"IpAddress", Octets(std::string("\x7F\x00\x00\x01", 4), asn::kIpAddress), false, "IP-Address", "127.0.0.1"},
    {"Null", VarBind{}, false, "NULL", ""},
    {"Opaque", Octets("x", asn::kOpaque), false, "0x44", ""},
    {"Exception", Number(0x80, 0), false, "0x80", ""},
};

class ValueTextCase : public ::testing::TestWithParam<Shown> {};

TEST_P(ValueTextCase, ShowsTypeAndText) {
  const Shown& s = GetParam();
  ValueText t = value_to_text(s.binding, s.numeric);
  EXPECT_EQ(t.type_name, s.type_name);
  EXPECT_EQ(t.text, s.text);
}

INSTANTIATE_TEST_SUITE_P(Values, ValueTextCase, ::testing::ValuesIn(kShown),
                         [](const ::testing::TestParamInfo<Shown>& p) { return std::string(p.param.name); });

TEST(ValueText, OidValue) {
  VarBind v;
  v.type = asn::kObjectId;
  v.oid = oid_from_text("1.3.6.1.4.1.8072.3.2.10");
  EXPECT_EQ(value_to_text(v, false).text, "1.3.6.1.4.1.8072.3.2.10");
}

TEST(ValueText, AsNumberAndString) {
  uint32_t n = 1;
  EXPECT_TRUE(value_as_number(Octets(std::string("\x0A\x00\x00\x02", 4), asn::kIpAddress), n, 9));
  EXPECT_EQ(n, 0x0A000002u);  // the first byte shifted out of the old value
  EXPECT_FALSE(value_as_number(Octets(std::string("\x0A\x00\x00", 3), asn::kIpAddress), n, 9));
  EXPECT_EQ(n, 9u);
  n = 0;
  EXPECT_TRUE(value_as_number(Octets("\x01\x02", asn::kBitString), n, 9));
  EXPECT_EQ(n, 0x0102u);
  EXPECT_FALSE(value_as_number(Octets("12345", asn::kBitString), n, 4));
  EXPECT_EQ(value_as_string(Octets("abcdef"), 4), "abc");
  EXPECT_EQ(value_as_string(Number(asn::kInteger, 1), 4), "");
}

// ---- walk view and saving ----

std::FILE* FileWith(const std::string& text) {
  std::FILE* f = std::tmpfile();
  std::fwrite(text.data(), 1, text.size(), f);
  std::rewind(f);
  return f;
}

TEST(WalkView, ThreeLinesPerRowAndTheClosingLine) {
  ReportModel model;
  std::FILE* f = FileWith("1.3.6.1.2.1.2\n1.3.6.1.2.1.2.1.0\nInteger\n2 ( 0x2 )\n"
                          "1.3.6.1.2.1.2.2.1.2.1\nOctetstring\nlo\nend of MIB tree\n");
  EXPECT_EQ(walk_view(model, f), 3);
  std::fclose(f);
  EXPECT_EQ(model.title(), "1.3.6.1.2.1.2");
  ASSERT_EQ(model.columns().size(), 3u);
  EXPECT_EQ(model.columns()[1].header, "Type ID");
  EXPECT_EQ(model.columns()[1].width_percent, 20);
  ASSERT_EQ(model.row_count(), 3u);
  EXPECT_EQ(model.cell(1, 2), "lo");
  EXPECT_EQ(model.cell(2, 0), "end of MIB tree");
  EXPECT_EQ(model.cell(2, 1), "");
}

TEST(WalkView, LongValueDoesNotShiftRows) {
  ReportModel model;
  std::string value(9000, 'v');
  std::FILE* f = FileWith("1.3\n1.3.1\nOctetstring\n" + value + "\n1.3.2\nInteger\n1 ( 0x1 )");
  walk_view(model, f);
  std::fclose(f);
  ASSERT_EQ(model.row_count(), 2u);
  EXPECT_EQ(model.cell(0, 2).size(), 9000u);
  EXPECT_EQ(model.cell(1, 2), "1 ( 0x1 )");  // last line without its newline, kept whole
}

TEST(WalkView, NoFileFails) {
  ReportModel model;
  EXPECT_EQ(walk_view(model, nullptr), 0);
  EXPECT_EQ(model.title(), "...failed");
  EXPECT_EQ(model.row_count(), 0u);
}

TEST(ViewSave, EachRowOneLineWithCountMinusOneTabs) {
  testing::ScratchDir dir;
  ReportModel model;
  model.add_row("a\tb");
  model.set_cell(0, 1, "line\r\nbreak");
  model.set_cell(0, 2, std::string(300, 'w'));
  model.add_row("only first");
  model.set_save_column_count(3);
  ASSERT_EQ(save_view_to_path(model, dir / "out.txt").status, SaveStatus::kSaved);
  EXPECT_EQ(testing::read_file(dir / "out.txt"),
            "a b\tline  break\t" + std::string(300, 'w') + "\nonly first\t\t\n");
}

TEST(ViewSave, ProposedNameAndUnwritablePath) {
  EXPECT_EQ(proposed_file_name("host", "1.3.6.1.2.1.2"), "host - 1.3.6.1.2.1.2");
  EXPECT_EQ(proposed_file_name("h", std::string(100, 't')), "h - " + std::string(63, 't'));
  EXPECT_EQ(proposed_file_name(std::string(300, 'h'), "t").size(), 259u);
  ReportModel model;
  SaveResult r = save_view_to_path(model, "/proc/netpeek-cannot-write.txt");
  EXPECT_EQ(r.status, SaveStatus::kCannotOpen);
  EXPECT_NE(r.error, 0);
}

// ---- batch mode against an agent in this process ----

struct Batch {
  int status = -1;
  std::string out, err, file;
};

// Runs the program in a scratch folder (it saves into the current directory).
Batch RunBatch(std::vector<const char*> args, uint16_t port, const std::string& expected_file) {
  testing::ScratchDir dir;
  char previous[4096];
  EXPECT_NE(::getcwd(previous, sizeof previous), nullptr);
  EXPECT_EQ(::chdir(dir.path().c_str()), 0);
  auto socket = make_linux_udp_transport();
  Batch b;
  NetpeekIo io;
  io.out = [&b](std::string_view t) { b.out += t; };
  io.err = [&b](std::string_view t) { b.err += t; };
  io.transport = socket.get();
  std::string portText = std::to_string(port);
  io.port_env = portText.c_str();
  args.insert(args.begin(), "netpeek");
  b.status = run_netpeek(static_cast<int>(args.size()), args.data(), io);
  if (!expected_file.empty()) b.file = testing::read_file(dir / expected_file);
  EXPECT_EQ(::chdir(previous), 0);
  return b;
}

TEST(BatchMode, DumpSavesTheWalk) {
  testing::FakeAgent agent(testing::mib_script(testing::small_mib()));
  Batch b = RunBatch({"-s", "127.0.0.1", "dump", "in", "2"}, agent.port(), "127.0.0.1 - 1.3.6.1.2.1.2.txt");
  EXPECT_EQ(b.status, kExitDone);
  EXPECT_EQ(b.err, "");
  EXPECT_EQ(b.file,
            "1.3.6.1.2.1.2.1.0\tInteger\t2 ( 0x2 )\n"
            "1.3.6.1.2.1.2.2.1.2.1\tOctetstring\tlo\n"
            "1.3.6.1.2.1.2.2.1.10.1\tCounter\t4000000000\n"
            "1.3.6.1.2.1.2.2.1.22.1\tOID\t0.0\n"
            "end of MIB tree\t\t\n");
}

TEST(BatchMode, NumericGetSavesHex) {
  testing::FakeAgent agent(testing::mib_script(testing::small_mib()));
  Batch b = RunBatch({"-n", "-s", "127.0.0.1", "get"}, agent.port(), "127.0.0.1 - 1.3.6.1.2.1.1.1.0.txt");
  EXPECT_EQ(b.status, kExitDone);
  EXPECT_EQ(b.file, "1.3.6.1.2.1.1.1.0\tOctetstring\t62 6f 78 \n");
}

TEST(BatchMode, UsageAndNoWindow) {
  Batch usage = RunBatch({"-?"}, 161, "");
  EXPECT_EQ(usage.status, kExitDone);
  EXPECT_EQ(usage.out, std::string(kUsageText) + "\n");
  Batch window = RunBatch({"127.0.0.1"}, 161, "");
  EXPECT_EQ(window.status, kExitNoAnswer);
  EXPECT_NE(window.err.find("no window"), std::string::npos);
}

TEST(BatchMode, UnresolvableHostExits2) {
  Batch b = RunBatch({"-s", "no-such-host.invalid", "get"}, 161, "");
  EXPECT_EQ(b.status, kExitNoAnswer);
  EXPECT_EQ(b.err, "no-such-host.invalid connect failed\n");
}

TEST(BatchMode, UnwritableFolderExits1WithReason) {
  // The program itself, run where no file can be created.
  testing::FakeAgent agent(testing::mib_script(testing::small_mib()));
  testing::RunResult r = testing::run_program({NETPEEK_BINARY, "-s", "127.0.0.1", "get"},
                                              {"NETPEEK_SNMP_PORT=" + std::to_string(agent.port())}, "/proc");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("netpeek: cannot write \"127.0.0.1 - 1.3.6.1.2.1.1.1.0.txt\""), std::string::npos) << r.err;
}

}  // namespace
}  // namespace torvane::netpeek
