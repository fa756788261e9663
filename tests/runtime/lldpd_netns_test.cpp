// ctest-labels: netns
// Our agent and lldpd on the two ends of a veth pair, each in a namespace of its
// own: each learns the other by LLDP, lldpd's CDP makes our agent answer with CDP,
// each forgets the other at once when the other stops, and the event log holds
// the start line and the discovery line of lldpd. `nbrlist /j` lists lldpd and a
// neighbour whose texts hold control and non-ASCII bytes as JSON that parsers
// take, with the values of the table form.
//
// The order of the start matters: lldpd sends one CDP frame when it starts and
// its first LLDP frame only at its first regular transmission. The test starts
// lldpd first and our agent only after that CDP frame went out, so that our agent
// first hears lldpd by LLDP (and logs it as event=lldp) some 30 s later.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "common/text.h"
#include "tests/support/peer_lab.h"
#include "tests/support/temp_dir.h"

namespace torvane {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testing::ReadFileText;

// The agent's cycle with txInterval 10 and the normal 10-second pass.
constexpr auto kOurCycle = 10s;

const char kOurIf[] = "tvl0";
const char kPeerIf[] = "tvl1";
const char kOurAddress[] = "10.95.0.1";
const char kPeerAddress[] = "10.95.0.2";

// Whether text has the shape: '9' stands for a digit, '~' for a sign, every other
// character for itself.
bool HasShape(std::string_view text, std::string_view shape) {
  if (text.size() != shape.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (shape[i] == '9'   ? !std::isdigit(static_cast<unsigned char>(c))
        : shape[i] == '~' ? (c != '+' && c != '-')
                          : c != shape[i])
      return false;
  }
  return true;
}
constexpr std::string_view kLocalTimeShape = "9999-99-99 99:99:99";
constexpr std::string_view kTimestampShape = "9999-99-99 99:99:99 ~9999";

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// "aa:bb:cc:dd:ee:ff" as the log prints a MAC-address ID: "aabbccddeeff".
std::string HexId(const std::string& mac) {
  std::string out;
  for (char c : mac)
    if (c != ':') out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// ---- lldpcli's key=value output ----

using KeyValues = std::map<std::string, std::vector<std::string>>;

std::string First(const KeyValues& kv, const std::string& key) {
  auto it = kv.find(key);
  return it == kv.end() || it->second.empty() ? std::string() : it->second.front();
}

// Lines "<prefix><key>=<value>"; a key may repeat (management addresses).
KeyValues ParseKeyValues(const std::string& text, const std::string& prefix) {
  KeyValues kv;
  for (const std::string& line : Lines(text)) {
    if (line.rfind(prefix, 0) != 0) continue;
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    kv[line.substr(prefix.size(), eq - prefix.size())].push_back(line.substr(eq + 1));
  }
  return kv;
}

// "show neighbors details" lists every neighbour of the interface under the same
// "lldp.<if>." prefix; each begins with its "via" line.
std::vector<KeyValues> ParseNeighbors(const std::string& text, const std::string& ifName) {
  std::vector<KeyValues> out;
  const std::string prefix = "lldp." + ifName + ".";
  for (const std::string& line : Lines(text)) {
    if (line.rfind(prefix, 0) != 0) continue;
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string key = line.substr(prefix.size(), eq - prefix.size());
    if (key == "via" || out.empty()) out.emplace_back();
    out.back()[key].push_back(line.substr(eq + 1));
  }
  return out;
}

const KeyValues* Via(const std::vector<KeyValues>& neighbors, const std::string& protocolPrefix) {
  for (const KeyValues& n : neighbors)
    if (First(n, "via").rfind(protocolPrefix, 0) == 0) return &n;
  return nullptr;
}

std::vector<std::string> EnabledCapabilities(const KeyValues& kv) {
  std::vector<std::string> out;
  for (const auto& [key, values] : kv) {
    if (key.rfind("chassis.", 0) != 0 || key.size() < 16) continue;
    if (key.compare(key.size() - 8, 8, ".enabled") != 0) continue;
    for (const std::string& v : values) out.push_back(key.substr(8, key.size() - 16) + "=" + v);
  }
  return out;
}

// ---- our tagged lines (nbrlist /t and the event log) ----

struct TaggedLine {
  std::string timestamp;  // "YYYY-MM-DD HH:MM:SS +ZZZZ"
  std::map<std::string, std::string> items;
};

// "<date> <time> <zone> key=value key="text" ... ": quoted values end at the
// first quote followed by a blank.
std::optional<TaggedLine> ParseTagged(const std::string& line) {
  if (line.size() <= kTimestampShape.size() ||
      !HasShape(std::string_view(line).substr(0, kTimestampShape.size()), kTimestampShape) ||
      line[kTimestampShape.size()] != ' ')
    return std::nullopt;
  TaggedLine t;
  t.timestamp = line.substr(0, kTimestampShape.size());
  size_t at = kTimestampShape.size() + 1;
  while (at < line.size()) {
    size_t eq = line.find('=', at);
    if (eq == std::string::npos) return std::nullopt;
    std::string key = line.substr(at, eq - at);
    size_t end;
    if (eq + 1 < line.size() && line[eq + 1] == '"') {
      end = line.find("\" ", eq + 2);
      if (end == std::string::npos) return std::nullopt;
      t.items[key] = line.substr(eq + 2, end - eq - 2);
      end += 1;
    } else {
      end = line.find(' ', eq + 1);
      if (end == std::string::npos) return std::nullopt;
      t.items[key] = line.substr(eq + 1, end - eq - 1);
    }
    at = end + 1;
  }
  return t;
}

// ---- the JSON form of nbrlist ----

// The members of one object of `nbrlist /j`, in order; a null value is nullopt.
using JsonObject = std::vector<std::pair<std::string, std::optional<std::string>>>;

const std::vector<std::string> kJsonNames = {
    "interface",    "interface_address", "chassis_id",   "system_name",        "port_id",
    "port_description", "port_address",  "last_update",  "capabilities",       "discovered",
    "system_description", "mode",        "vlan"};

// Both parsers print each object as one line: its members joined by 0x1D, each
// "name 0x1F value", a null value as 0x1E (no sanitized text holds these).
constexpr char kPythonObjects[] = R"py(import json, sys
with open(sys.argv[1], encoding="utf-8") as f:
    document = json.load(f)
assert isinstance(document, list)
out = sys.stdout.buffer
for o in document:
    members = [k + "\x1f" + ("\x1e" if v is None else str(v)) for k, v in o.items()]
    out.write("\x1d".join(members).encode("utf-8") + b"\n")
)py";
constexpr char kJqObjects[] =
    R"jq(.[] | to_entries | map(.key + "\u001f" + (if .value == null then "\u001e" else (.value | tostring) end)) | join("\u001d"))jq";

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) return parts;
    start = end + 1;
  }
}

std::vector<JsonObject> ParseObjectLines(const std::string& text) {
  std::vector<JsonObject> objects;
  for (const std::string& line : Lines(text)) {
    JsonObject o;
    for (const std::string& member : Split(line, '\x1d')) {
      size_t us = member.find('\x1f');
      if (us == std::string::npos) return {};
      std::string value = member.substr(us + 1);
      o.emplace_back(member.substr(0, us), value == "\x1e" ? std::nullopt : std::optional(value));
    }
    objects.push_back(o);
  }
  return objects;
}

std::vector<std::string> NamesOf(const JsonObject& o) {
  std::vector<std::string> names;
  for (const auto& [name, value] : o) names.push_back(name);
  return names;
}

// A cell of the table form as the JSON form writes its text: valid UTF-8 as it
// is, any other byte the character of the same number.
std::string AsJsonText(const std::string& cell) {
  std::string out;
  for (size_t i = 0; i < cell.size();) {
    size_t n = Utf8SequenceLength(cell, i);
    if (n > 0) {
      out.append(cell, i, n);
      i += n;
      continue;
    }
    const auto b = static_cast<unsigned char>(cell[i++]);
    out.push_back(static_cast<char>(0xC0 | (b >> 6)));
    out.push_back(static_cast<char>(0x80 | (b & 0x3F)));
  }
  return out;
}

Bytes Tlv(unsigned type, const std::string& body) {
  Bytes t = {static_cast<uint8_t>((type << 1) | (body.size() >> 8)), static_cast<uint8_t>(body.size())};
  t.insert(t.end(), body.begin(), body.end());
  return t;
}

// An LLDP frame whose texts hold what a careless or hostile peer may send:
// control characters, quotes and backslashes, valid UTF-8 (two, three and four
// octets, and a C1 control written as UTF-8) and octets of no valid sequence.
// Its management address lies in our subnet; it carries a port VLAN and a MAU type.
Bytes HostileLldpFrame(const Bytes& src) {
  Bytes t;
  auto add = [&t](const Bytes& tlv) { t.insert(t.end(), tlv.begin(), tlv.end()); };
  add(Tlv(1, std::string("\x06" "eth\x1b" "[0m\xff")));               // chassis ID, interface name
  add(Tlv(2, std::string("\x05" "port\t\"1\"\\")));                     // port ID, interface name
  add(Tlv(3, std::string("\x00\x78", 2)));                              // TTL 120
  add(Tlv(4, std::string("descr \x01\x7f" " caf\xc3\xa9 \xe9t\xe9")));  // port description
  add(Tlv(5, std::string("name\"with\\quotes\n")));                     // system name
  add(Tlv(6, std::string("\xc2\x85 C1, \xe2\x82\xac euro, \xf0\x9f\x98\x80 emoji, \x80 stray, \xfe stray")));
  add(Tlv(7, std::string("\x00\x14\x00\x10", 4)));  // bridge and router supported, router enabled
  add(Tlv(8, std::string("\x05\x01\x0a\x5f\x00\x03\x02\x00\x00\x00\x01\x00", 12)));  // 10.95.0.3
  add(Tlv(127, std::string("\x00\x80\xc2\x01\x00\x2a", 6)));                         // port VLAN 42
  add(Tlv(127, std::string("\x00\x12\x0f\x01\x03\x80\x00\x00\x1e", 9)));             // MAU 30: 1000 Mb/s FD
  add(Tlv(0, ""));
  return EthernetFrame(MacBytes("01:80:c2:00:00:0e"), src, 0x88CC, t);
}

class LldpdNetns : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why = PeerLab::Unavailable({"lldpd", "lldpcli"});
    if (!why.empty()) GTEST_SKIP() << why;
    lister = PeerLab::Built("nbrlist/nbrlist");
    ASSERT_EQ(PeerLab::Unbuilt({"agent/lldp", "nbrlist/nbrlist"}), "");

    lab = std::make_unique<PeerLab>();
    ASSERT_EQ(lab->Open({"o", "p", kOurIf, kPeerIf, kOurAddress, kPeerAddress}), "");
    nsOurs = lab->ours;
    nsPeer = lab->peer;
    dir = lab->files.root;
    // The event log goes beside the agent.
    ASSERT_TRUE(lab->InstallAgent("[lldp]\ntxInterval=10\nLog=1\nDirectory=" + lab->files.AgentDir() + "/\n"));
    ourMac = lab->MacOf(nsOurs, kOurIf);
    ASSERT_EQ(ourMac.size(), 17u);
  }

  void TearDown() override {
    if (!lab) return;
    // Each side stopped as its user would, so that lldpd's privilege-separated
    // child ends with it; the lab kills whatever still runs and removes the rest.
    lab->StopAll();
    if (HasFailure()) {
      std::printf("--- agent output (last run)\n%s\n--- lldpd output\n%s\n--- event log\n%s\n",
                  AgentOutput().c_str(), lab->LastLogText("lldpd").c_str(), EventLog().c_str());
    }
    lab.reset();
  }

  pid_t StartAgent() { return lab->StartAgent(nsOurs, 0); }
  std::string AgentOutput() { return lab->LastLogText("agent"); }

  // Stops the agent as Ctrl+C does; true when it ended by itself with exit code 0.
  bool StopAgent() {
    std::optional<int> status = lab->Stop(agent, SIGINT, 10s);
    agent = -1;
    return status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0;
  }

  std::string Lldpcli(const std::string& command) { return lab->Lldpcli(nsPeer, "lldpd", command); }
  // Hidden neighbours too: lldpd's default filter shows only one protocol per
  // port and hides our CDP entry while it also hears us by LLDP.
  std::vector<KeyValues> PeerNeighbors() {
    return ParseNeighbors(Lldpcli("show neighbors details hidden"), kPeerIf);
  }

  std::vector<TaggedLine> OurNeighbors() {
    std::string out = lab->Capture(nsOurs, "TORVANE_PIPE=" + dir + "/pipe " + lister + " /t");
    std::vector<TaggedLine> rows;
    for (const std::string& line : Lines(out)) {
      auto t = ParseTagged(line);
      if (t)
        rows.push_back(*t);
      else
        ADD_FAILURE() << "nbrlist printed an unexpected line: " << line;
    }
    return rows;
  }
  std::string OurRawNeighbors() {
    return lab->Capture(nsOurs, "TORVANE_PIPE=" + dir + "/pipe " + lister + " /t");
  }
  // `nbrlist ARGS` with its standard output into `file` (in the test's folder);
  // true when it ended with status 1 (a listing).
  bool ListTo(const std::string& args, const std::string& file) {
    return lab->ShIn(nsOurs, "TORVANE_PIPE=" + dir + "/pipe " + lister + " " + args + " > " + dir + "/" +
                                 file + "; test $? -eq 1");
  }
  // The plain form's rows, each split into its cells.
  std::vector<std::vector<std::string>> TableRows() {
    std::vector<std::vector<std::string>> rows;
    for (const std::string& line : Lines(lab->Capture(nsOurs, "TORVANE_PIPE=" + dir + "/pipe " + lister)))
      rows.push_back(Split(line, '\t'));
    return rows;
  }

  std::string EventLog() {
    std::string all;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(lab->files.AgentDir(), ec)) {
      std::string name = e.path().filename().string();
      if (name.rfind("lldp", 0) == 0 && name.size() > 4 && name.substr(name.size() - 4) == ".log")
        all += ReadFileText(e.path().string());
    }
    return all;
  }

  std::unique_ptr<PeerLab> lab;
  std::string nsOurs, nsPeer, dir, lister, ourMac;
  pid_t agent = -1, lldpd = -1;
};

TEST_F(LldpdNetns, LearnEachOtherAnswerCdpAndForgetOnStop) {
  const std::string ourName = AgentSystemName();

  // lldpd: LLDP and CDP (CDPv1 sent even with no CDP peer heard), its own socket,
  // an empty configuration file so that nothing comes from /etc.
  const auto lldpdStart = Clock::now();
  lldpd = lab->StartLldpd(nsPeer, kPeerIf, "lldpd", {"-c", "-c"});
  ASSERT_GT(lldpd, 0);
  // Its start-up CDP frame is out once its interface counts one transmission.
  const std::string statsPrefix = std::string("lldp.") + kPeerIf + ".";
  ASSERT_TRUE(Eventually(
      [&] {
        std::string tx = First(ParseKeyValues(Lldpcli("show statistics"), statsPrefix), "tx.tx");
        return !tx.empty() && tx != "0";
      },
      15s))
      << Lldpcli("show statistics");

  // What lldpd advertises of itself.
  const std::string peerText = Lldpcli("show interfaces");
  const KeyValues peerSelf = ParseKeyValues(peerText, std::string("lldp.") + kPeerIf + ".");
  const std::string peerMac = First(peerSelf, "port.mac");
  const std::string peerPortDescr = First(peerSelf, "port.descr");
  const std::string peerName = First(peerSelf, "chassis.name");
  const std::string peerDescr = First(peerSelf, "chassis.descr");
  const std::string peerCaps = CapabilityLetters(peerText);
  ASSERT_EQ(peerMac.size(), 17u) << Lldpcli("show interfaces");
  ASSERT_EQ(First(peerSelf, "chassis.mac"), peerMac);
  ASSERT_FALSE(peerName.empty());
  ASSERT_FALSE(peerCaps.empty());
  // lldpd names the namespace's host, which is ours.
  char host[256] = {};
  gethostname(host, sizeof host - 1);
  EXPECT_EQ(peerName.rfind(std::string(host).substr(0, std::string(host).find('.')), 0), 0u)
      << peerName << " / " << host;

  const auto agentStart = Clock::now();
  agent = StartAgent();
  ASSERT_GT(agent, 0);
  // Its query pipe is up within moments of the start (longer under the sanitizers).
  ASSERT_TRUE(Eventually(
      [&] { return OurRawNeighbors().find("Service not active") == std::string::npos; }, 10s))
      << AgentOutput();

  // 1. Within 40 s each lists the other.
  std::optional<Clock::duration> peerLearnedUs, weLearnedPeer;
  const auto deadline = agentStart + 40s;
  while (Clock::now() < deadline && !(peerLearnedUs && weLearnedPeer)) {
    if (!peerLearnedUs && Via(PeerNeighbors(), "LLDP")) peerLearnedUs = Clock::now() - agentStart;
    if (!weLearnedPeer && !OurNeighbors().empty()) weLearnedPeer = Clock::now() - agentStart;
    std::this_thread::sleep_for(250ms);
  }
  ASSERT_TRUE(peerLearnedUs) << "lldpd did not list us in 40 s\n"
                             << Lldpcli("show neighbors details hidden");
  ASSERT_TRUE(weLearnedPeer) << "our agent did not list lldpd in 40 s\n" << OurRawNeighbors();
  std::printf("timing: lldpd listed our agent %.1f s after the agent started\n",
              Seconds(*peerLearnedUs));
  std::printf(
      "timing: our agent listed lldpd %.1f s after the agent started (%.1f s after lldpd)\n",
      Seconds(*weLearnedPeer), Seconds(*weLearnedPeer + (agentStart - lldpdStart)));
  const auto weLearnedAt = agentStart + *weLearnedPeer;

  {
    // lldpd's view of us.
    std::vector<KeyValues> seen = PeerNeighbors();
    const KeyValues* us = Via(seen, "LLDP");
    ASSERT_TRUE(us);
    EXPECT_EQ(First(*us, "chassis.name"), ourName);
    EXPECT_EQ((*us).at("chassis.mgmt-ip"), std::vector<std::string>{kOurAddress});
    EXPECT_EQ(First(*us, "port.mac"), ourMac);    // port ID: the veth's MAC address
    EXPECT_EQ(First(*us, "port.descr"), "veth");  // the adapter description: the driver's name
    EXPECT_EQ(EnabledCapabilities(*us), std::vector<std::string>{"Station=on"});
    EXPECT_EQ(First(*us, "port.ttl"), "40");  // txInterval 10 x 4
  }
  {
    // Our view of lldpd.
    std::vector<TaggedLine> rows = OurNeighbors();
    ASSERT_EQ(rows.size(), 1u);
    auto& n = rows[0].items;
    EXPECT_EQ(n["event"], "lldp");
    EXPECT_EQ(n["interface"], kOurIf);
    EXPECT_EQ(n["interface-ip-addr"], kOurAddress);
    EXPECT_EQ(n["chassisId"], HexId(peerMac));
    EXPECT_EQ(n["chassis"], peerName);
    EXPECT_EQ(n["portId"], HexId(peerMac));
    EXPECT_EQ(n["port"], peerPortDescr);
    EXPECT_EQ(n["port-ip-addr"], kPeerAddress);
    EXPECT_EQ(n["capabilities"], peerCaps);
    EXPECT_EQ(n["description"], peerDescr);
  }

  // 2. lldpd's CDP frame came with its LLDP frame: our agent (txCdp 3) answers
  // with CDP within two of its cycles, and lldpd lists us as a CDP neighbour.
  std::optional<Clock::duration> cdpListed;
  const auto cdpDeadline = weLearnedAt + 2 * kOurCycle + 3s;
  while (Clock::now() < cdpDeadline) {
    if (Via(PeerNeighbors(), "CDP")) {
      cdpListed = Clock::now() - weLearnedAt;
      break;
    }
    std::this_thread::sleep_for(250ms);
  }
  ASSERT_TRUE(cdpListed) << "lldpd did not list us by CDP\n"
                         << Lldpcli("show neighbors details hidden");
  std::printf("timing: lldpd listed our agent by CDP %.1f s after our agent heard lldpd\n",
              Seconds(*cdpListed));
  {
    std::vector<KeyValues> seen = PeerNeighbors();
    const KeyValues* us = Via(seen, "CDP");
    ASSERT_TRUE(us);
    EXPECT_EQ(First(*us, "chassis.name"), ourName);
    EXPECT_EQ(First(*us, "chassis.mgmt-ip"), kOurAddress);
    EXPECT_EQ(First(*us, "port.ifname"), "veth");  // CDP port ID: the adapter description
    EXPECT_EQ(EnabledCapabilities(*us), std::vector<std::string>{"Station=on"});
  }

  // 4. The event log: the start line, then one event=lldp line for lldpd.
  {
    std::vector<std::string> lines;
    std::string log = EventLog();
    ASSERT_FALSE(log.empty());
    ASSERT_EQ(log.back(), '\n');
    std::istringstream in(log);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 2u) << log;
    EXPECT_TRUE(
        lines[0].size() > kTimestampShape.size() &&
        HasShape(std::string_view(lines[0]).substr(0, kTimestampShape.size()), kTimestampShape) &&
        lines[0].substr(kTimestampShape.size()) == " event=start ")
        << lines[0];
    auto t = ParseTagged(lines[1]);
    ASSERT_TRUE(t) << lines[1];
    const std::string lastUpdate = t->items["lastUpdate"];
    EXPECT_TRUE(HasShape(lastUpdate, kLocalTimeShape)) << lastUpdate;
    // Every item in its place: the whole line as the log writes it.
    std::string mode =
        First(peerSelf, "port.auto-negotiation.current").empty() ? "" : t->items["mode"];
    std::string expected =
        t->timestamp + " event=lldp interface=\"" + kOurIf + "\" interface-ip-addr=" + kOurAddress +
        " chassisId=\"" + HexId(peerMac) + "\" chassis=\"" + peerName + "\" portId=\"" +
        HexId(peerMac) + "\" port=\"" + peerPortDescr + "\" port-ip-addr=" + kPeerAddress +
        " lastUpdate=\"" + lastUpdate + "\" capabilities=" + peerCaps + " discovered=\"" +
        lastUpdate + "\" description=\"" + peerDescr + "\" mode=\"" + mode + "\" ";
    EXPECT_EQ(lines[1], expected);
    // The line was written when lldpd was first heard, in the same second or the next.
    EXPECT_TRUE(t->timestamp.rfind(lastUpdate, 0) == 0 || t->timestamp > lastUpdate)
        << t->timestamp << " / " << lastUpdate;
  }

  // 3a. Stopping our agent: its shutdown frame takes us out of lldpd's LLDP
  // neighbours at once. (The CDP entry stays until its time to live runs out:
  // lldpd discards our last CDP frame, whose hold time is 0, and so it is not
  // renewed.)
  const auto ourStop = Clock::now();
  ASSERT_TRUE(StopAgent()) << AgentOutput();
  EXPECT_TRUE(Eventually([&] { return !Via(PeerNeighbors(), "LLDP"); }, 2500ms))
      << Lldpcli("show neighbors details hidden");
  std::printf("timing: lldpd dropped our agent %.2f s after the stop signal\n",
              Seconds(Clock::now() - ourStop));
  EXPECT_EQ(AgentOutput().find("AddressSanitizer"), std::string::npos) << AgentOutput();
  EXPECT_EQ(AgentOutput().find("runtime error"), std::string::npos) << AgentOutput();

  // Our agent again; lldpd is asked to send at once rather than at its next
  // regular transmission, up to 30 s away.
  agent = StartAgent();
  ASSERT_GT(agent, 0);
  ASSERT_TRUE(Eventually([&] { return AgentOutput().find("lldp sent") != std::string::npos; }, 15s))
      << AgentOutput();
  const auto update = Clock::now();
  ASSERT_TRUE(lab->LldpcliDo(nsPeer, "lldpd", "update"));
  ASSERT_TRUE(Eventually([&] { return !OurNeighbors().empty(); }, 5s)) << OurRawNeighbors();
  std::printf("timing: the restarted agent listed lldpd %.2f s after lldpd was asked to send\n",
              Seconds(Clock::now() - update));

  // 3b. Stopping lldpd: its shutdown frame takes it out of our table at once.
  const auto peerStop = Clock::now();
  std::optional<int> lldpdStatus = lab->Stop(lldpd, SIGTERM, 10s);
  lldpd = -1;
  EXPECT_TRUE(lldpdStatus) << "lldpd did not end on SIGTERM";
  std::optional<Clock::duration> forgotten;
  if (Eventually([&] { return Trimmed(OurRawNeighbors()).empty(); }, 2s))
    forgotten = Clock::now() - peerStop;
  ASSERT_TRUE(forgotten) << OurRawNeighbors();
  std::printf("timing: our agent dropped lldpd %.2f s after lldpd's stop signal\n",
              Seconds(*forgotten));
  // nbrlist printed nothing because the table is empty, not because the agent is gone.
  EXPECT_TRUE(lab->Running(agent));
  {
    std::string log = EventLog();
    size_t expired = 0;
    for (const std::string& line : Lines(log)) {
      auto t = ParseTagged(line);
      if (!t || t->items["event"] != "expired") continue;
      ++expired;
      EXPECT_EQ(t->items["interface"], kOurIf);
      EXPECT_EQ(t->items["chassisId"], HexId(peerMac));
      EXPECT_EQ(t->items["portId"], HexId(peerMac));
      // The line says which neighbour left, as it was known.
      EXPECT_EQ(t->items["chassis"], peerName);
    }
    EXPECT_EQ(expired, 1u) << log;
  }

  ASSERT_TRUE(StopAgent()) << AgentOutput();
  EXPECT_EQ(AgentOutput().find("AddressSanitizer"), std::string::npos) << AgentOutput();
  EXPECT_EQ(AgentOutput().find("runtime error"), std::string::npos) << AgentOutput();
  std::printf("timing: whole test %.1f s\n", Seconds(Clock::now() - lldpdStart));
}

// `nbrlist /j` with lldpd and with a neighbour of hostile texts: python3's json
// module (and jq, where installed) take the document, and it holds what the
// table form shows, under the stable names, nulls for empty cells, the VLAN as a
// number; /c keeps only the chosen members.
TEST_F(LldpdNetns, JsonListingParsesAndHoldsTheTableFormsValues) {
  if (access("/usr/bin/python3", X_OK) != 0) GTEST_SKIP() << "/usr/bin/python3 is needed";
  const bool haveJq = std::system("command -v jq >/dev/null 2>&1") == 0;

  agent = StartAgent();
  ASSERT_GT(agent, 0);
  ASSERT_TRUE(Eventually([&] { return AgentOutput().find("lldp sent") != std::string::npos; }, 15s))
      << AgentOutput();
  lldpd = lab->StartLldpd(nsPeer, kPeerIf, "lldpd");
  ASSERT_GT(lldpd, 0);
  // lldpd sends its first LLDP frame at once when asked to, once it runs.
  const auto deadline = Clock::now() + 20s;
  while (Clock::now() < deadline && TableRows().empty()) {
    lab->LldpcliDo(nsPeer, "lldpd", "update");
    Eventually([&] { return !TableRows().empty(); }, 1s);
  }
  ASSERT_EQ(TableRows().size(), 1u) << "our agent did not list lldpd\n" << OurRawNeighbors();

  const Bytes hostileMac = MacBytes("02:54:76:00:00:01");
  bool sent = false;
  {
    NamespaceThread peer(nsPeer, false);
    ASSERT_TRUE(peer.ok());
    ASSERT_TRUE(peer.Call([&] {
      RawPort port(kPeerIf);
      sent = port.ok() && port.Send(HostileLldpFrame(hostileMac));
    }));
  }
  ASSERT_TRUE(sent);
  ASSERT_TRUE(Eventually([&] { return TableRows().size() == 2; }, 5s)) << OurRawNeighbors();

  ASSERT_TRUE(ListTo("/j", "all.json")) << AgentOutput();
  ASSERT_TRUE(ListTo("/j /c 1,4,13", "some.json"));
  const std::vector<std::vector<std::string>> table = TableRows();
  ASSERT_EQ(table.size(), 2u);

  std::ofstream(dir + "/objects.py") << kPythonObjects;
  std::ofstream(dir + "/objects.jq") << kJqObjects;
  EXPECT_TRUE(lab->ShIn(nsOurs, "/usr/bin/python3 -m json.tool " + dir + "/all.json >/dev/null"))
      << ReadFileText(dir + "/all.json");
  EXPECT_TRUE(lab->ShIn(nsOurs, "/usr/bin/python3 -m json.tool " + dir + "/some.json >/dev/null"));
  const std::string pythonAll = lab->Capture(nsOurs, "/usr/bin/python3 " + dir + "/objects.py " + dir + "/all.json");
  const std::vector<JsonObject> all = ParseObjectLines(pythonAll);
  const std::vector<JsonObject> some =
      ParseObjectLines(lab->Capture(nsOurs, "/usr/bin/python3 " + dir + "/objects.py " + dir + "/some.json"));
  if (haveJq) {
    // A second parser reads the same document the same way.
    EXPECT_EQ(lab->Capture(nsOurs, "jq -r -f " + dir + "/objects.jq " + dir + "/all.json"), pythonAll);
    EXPECT_TRUE(lab->ShIn(nsOurs, "jq -e '[.[].vlan | type] == [\"null\", \"number\"]' " + dir + "/all.json"));
  } else {
    std::printf("jq is not installed: only python3 read the document\n");
  }
  ASSERT_EQ(all.size(), 2u) << ReadFileText(dir + "/all.json");
  ASSERT_EQ(some.size(), 2u) << ReadFileText(dir + "/some.json");

  // Every cell of the table, as the JSON form writes texts; empty cells are null.
  for (size_t n = 0; n < 2; ++n) {
    ASSERT_EQ(NamesOf(all[n]), kJsonNames);
    ASSERT_EQ(table[n].size(), 13u);
    for (size_t c = 0; c < 13; ++c) {
      const auto& value = all[n][c].second;
      if (table[n][c].empty())
        EXPECT_FALSE(value) << kJsonNames[c] << " of neighbour " << n << ": " << *value;
      else
        EXPECT_EQ(value.value_or("(null)"), AsJsonText(table[n][c])) << kJsonNames[c] << " of neighbour " << n;
    }
    EXPECT_EQ(NamesOf(some[n]), (std::vector<std::string>{"interface", "system_name", "vlan"}));
    EXPECT_EQ(some[n], (JsonObject{all[n][0], all[n][3], all[n][12]}));
  }

  // lldpd as it says it is.
  const KeyValues peerSelf = ParseKeyValues(Lldpcli("show interfaces"), std::string("lldp.") + kPeerIf + ".");
  const JsonObject& lldpdRow = all[0];
  EXPECT_EQ(lldpdRow[0].second, std::optional<std::string>(kOurIf));
  EXPECT_EQ(lldpdRow[2].second, std::optional(HexId(First(peerSelf, "port.mac"))));
  EXPECT_EQ(lldpdRow[3].second, std::optional(First(peerSelf, "chassis.name")));
  EXPECT_EQ(lldpdRow[5].second, std::optional(First(peerSelf, "port.descr")));
  EXPECT_EQ(lldpdRow[10].second, std::optional(First(peerSelf, "chassis.descr")));
  EXPECT_FALSE(lldpdRow[12].second);  // no VLAN
  // The hostile texts: control characters as '?', UTF-8 kept (a C1 control in
  // UTF-8 as '?'), stray octets as the characters of their numbers (a stray C1
  // octet as '?').
  const JsonObject& hostile = all[1];
  const std::vector<std::pair<size_t, std::string>> expected = {
      {0, "tvl0"},
      {1, "10.95.0.1"},
      {2, "eth?[0m\u00ff"},
      {3, "name\"with\\quotes?"},
      {4, "port?\"1\"\\"},
      {5, "descr ?? caf\u00e9 \u00e9t\u00e9"},
      {6, "10.95.0.3"},
      {8, "bR"},
      {10, "? C1, \u20ac euro, \U0001F600 emoji, ? stray, \u00fe stray"},
      {11, "1000M FD"},
      {12, "42"},
  };
  for (const auto& [c, text] : expected) EXPECT_EQ(hostile[c].second, std::optional(text)) << kJsonNames[c];
  EXPECT_TRUE(HasShape(hostile[7].second.value_or(""), kLocalTimeShape)) << hostile[7].second.value_or("null");
  EXPECT_EQ(hostile[9].second, hostile[7].second);  // discovered with its first frame
  // The table form keeps the bytes: the stray octet 0xfe as it came.
  EXPECT_NE(table[1][10].find("\xfe stray"), std::string::npos);

  ASSERT_TRUE(StopAgent()) << AgentOutput();
  EXPECT_EQ(AgentOutput().find("AddressSanitizer"), std::string::npos) << AgentOutput();
  EXPECT_EQ(AgentOutput().find("runtime error"), std::string::npos) << AgentOutput();
}

}  // namespace
}  // namespace torvane
