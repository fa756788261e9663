// ctest-labels: unit;tshark
// The frames our builders produce, read back by an independent decoder: they are
// written to a capture file and decoded by tshark, which must find nothing
// malformed, report no expert warning or error, find every CDP checksum good and
// decode the field values we put in.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "agent/frames/cdp_builder.h"
#include "agent/frames/lldp_builder.h"
#include "tests/support/frames/port_fixture.h"
#include "tests/support/frames/settings_fixture.h"

namespace torvane {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kNow = 1700000000;
constexpr char kPlatform[] = "Linux 6.1";

std::string FindTshark() {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  std::stringstream ss(dirs);
  std::string dir;
  while (std::getline(ss, dir, ':')) {
    std::string candidate = (dir.empty() ? std::string(".") : dir) + "/tshark";
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return {};
}

void Put32(std::ofstream& out, uint32_t v) {
  char b[4] = {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
               static_cast<char>(v >> 24)};
  out.write(b, 4);
}
void Put16(std::ofstream& out, uint16_t v) {
  char b[2] = {static_cast<char>(v), static_cast<char>(v >> 8)};
  out.write(b, 2);
}

// Classic pcap, little-endian, microsecond stamps, Ethernet link type.
bool WritePcap(const fs::path& file, const std::vector<Bytes>& frames) {
  std::ofstream out(file, std::ios::binary);
  Put32(out, 0xA1B2C3D4);
  Put16(out, 2);
  Put16(out, 4);
  Put32(out, 0);       // this zone
  Put32(out, 0);       // accuracy
  Put32(out, 65535);   // snap length
  Put32(out, 1);       // LINKTYPE_ETHERNET
  uint32_t second = kNow;
  for (const Bytes& f : frames) {
    Put32(out, second++);
    Put32(out, 0);
    Put32(out, static_cast<uint32_t>(f.size()));
    Put32(out, static_cast<uint32_t>(f.size()));
    out.write(reinterpret_cast<const char*>(f.data()), static_cast<std::streamsize>(f.size()));
  }
  return static_cast<bool>(out);
}

// One decoded frame: field name -> value text (several occurrences joined by ',').
using Decoded = std::map<std::string, std::string>;

const std::vector<std::string> kFields = {
    "frame.number",
    "_ws.malformed",
    "_ws.expert.severity",
    "_ws.expert.message",
    "lldp.chassis.subtype",
    "lldp.chassis.id",
    "lldp.chassis.id.mac",
    "lldp.port.subtype",
    "lldp.port.id",
    "lldp.port.id.mac",
    "lldp.time_to_live",
    "lldp.port.desc",
    "lldp.tlv.system.name",
    "lldp.tlv.system.desc",
    "lldp.tlv.system_cap",
    "lldp.tlv.enable_system_cap",
    "lldp.mgn.addr.ip4",
    "lldp.mgn.addr.hex",
    "lldp.mgn.interface.number",
    "lldp.ieee.802_1.port_vlan.id",
    "lldp.ieee.802_3.mac_phy_auto_neg_status",
    "lldp.ieee.802_3.pmd_mau_type",
    "lldp.ieee.802_3.max_frame_size",
    "lldp.media.subtype.caps",
    "lldp.media.subtype.class",
    "lldp.media.app_type",
    "lldp.media.tag_flag",
    "lldp.media.vlan_id",
    "lldp.media.l2_prio",
    "lldp.media.dscp",
    "lldp.media.power.type",
    "lldp.media.power.source",
    "lldp.media.power.prio",
    "lldp.media.power.value",
    "llc.dsap",
    "cdp.version",
    "cdp.ttl",
    "cdp.checksum",
    "cdp.checksum.status",
    "cdp.deviceid",
    "cdp.number_of_addresses",
    "cdp.nrgyz.ip_address",
    "cdp.portid",
    "cdp.capabilities",
    "cdp.software_version",
    "cdp.platform",
    "cdp.native_vlan",
    "cdp.duplex",
};

class FramesTsharkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tshark_ = FindTshark();
    if (tshark_.empty()) GTEST_SKIP() << "tshark is not installed";
    std::string pattern = (fs::temp_directory_path() / "frames_tshark_XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    // tshark writes its profile and caches under these: keep them in our folder.
    for (const char* sub : {"home", "config", "cache", "data"}) fs::create_directories(dir_ / sub);
  }
  void TearDown() override {
    if (!dir_.empty()) {
      std::error_code ec;
      fs::remove_all(dir_, ec);
    }
  }

  // Runs tshark with `args` on the capture; returns its standard output.
  std::string Tshark(const std::string& args) {
    std::string cmd = "env -i PATH=/usr/bin:/bin HOME='" + (dir_ / "home").string() +
                      "' XDG_CONFIG_HOME='" + (dir_ / "config").string() + "' XDG_CACHE_HOME='" +
                      (dir_ / "cache").string() + "' XDG_DATA_HOME='" + (dir_ / "data").string() +
                      "' timeout 60 '" + tshark_ + "' -n -r '" + (dir_ / "frames.pcap").string() +
                      "' " + args + " 2>'" + (dir_ / "stderr").string() + "'";
    std::string out;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    int status = pclose(p);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "tshark failed: " << ReadFile(dir_ / "stderr");
    return out;
  }

  static std::string ReadFile(const fs::path& file) {
    std::ifstream in(file);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }

  std::vector<Decoded> Decode(const std::vector<Bytes>& frames) {
    EXPECT_TRUE(WritePcap(dir_ / "frames.pcap", frames));
    std::string args = "-T fields -E separator=/t -E occurrence=a -E aggregator=,";
    for (const std::string& f : kFields) args += " -e " + f;
    std::string out = Tshark(args);
    std::vector<Decoded> rows;
    std::stringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
      Decoded row;
      std::stringstream cells(line);
      std::string cell;
      for (const std::string& f : kFields) {
        if (!std::getline(cells, cell, '\t')) cell.clear();
        row[f] = cell;
      }
      rows.push_back(row);
    }
    return rows;
  }

  std::string tshark_;
  fs::path dir_;
};

AgentSettings Settings() {
  AgentSettings s = DefaultSettingsForTest();
  s.chassisIdSubtype = 7;
  s.chassisId.length = 8;
  std::memcpy(s.chassisId.bytes, "Wq3Kvxqz", 8);
  std::memset(s.systemName, 0, sizeof s.systemName);
  std::memcpy(s.systemName, "host1", 5);
  std::memset(s.systemDescription, 0, sizeof s.systemDescription);
  std::memcpy(s.systemDescription, "x86_64 - Linux 6.1", 18);
  return s;
}

Bytes Lldp(const PortFacts& port, const AgentSettings& s, const AddressTable& a, int mode = 1) {
  Bytes f(kFrameBufferSize);
  f.resize(BuildLldpFrame(port, s, a, mode, f.data(), f.size(), kNow));
  return f;
}

Bytes Cdp(const PortFacts& port, const AgentSettings& s, const AddressTable& a) {
  Bytes f(kFrameBufferSize);
  f.resize(BuildCdpFrame(port, s, kPlatform, a, f.data(), f.size()));
  return f;
}

TEST_F(FramesTsharkTest, DecoderAgreesWithEveryFrameWeBuild) {
  std::vector<Bytes> frames;
  AddressTable one;
  AddAddress(one, 2, MakeIpv4(10, 0, 0, 5));
  AddressTable two = one;
  AddAddress(two, 2, MakeIpv4(10, 0, 1, 7));

  {  // 1: LLDP with the default settings on a connected gigabit port
    PortFacts port = GigabitPortFacts();
    frames.push_back(Lldp(port, Settings(), one));
  }
  {  // 2: LLDP-MED class 3 with two policies and power
    PortFacts port = GigabitPortFacts();
    port.medActive = 1;
    AgentSettings s = Settings();
    s.MedDevType = 3;
    s.MedPolicy[0] = 0x6EC94001;  // voice: tagged, VLAN 100, priority 5, DSCP 46
    s.MedPolicy[1] = 0xDAC84002;  // voice signalling: tagged, VLAN 100, priority 3, DSCP 26
    s.MedPowerState = 0x53;       // powered device, from the PSE, low priority
    s.MedPowerValue = 50;         // 5.0 W
    frames.push_back(Lldp(port, s, one));
  }
  {  // 3: a port on VLAN 10
    PortFacts port = GigabitPortFacts();
    port.vlanId = 10;
    frames.push_back(Lldp(port, Settings(), one));
  }
  {  // 4: Port ID by connection name, no interface index (MAC management address)
    PortFacts port = GigabitPortFacts();
    port.ifIndex = 0;
    AgentSettings s = Settings();
    s.txPIDname = 1;
    frames.push_back(Lldp(port, s, one));
  }
  {  // 5: a wireless port
    PortFacts port = GigabitPortFacts();
    port.ifType = 71;
    port.linkSpeed = 540000;
    frames.push_back(Lldp(port, Settings(), one));
  }
  {  // 6: shutdown frame with a MAC chassis ID
    PortFacts port = GigabitPortFacts();
    AgentSettings s = Settings();
    s.chassisIdSubtype = 4;
    s.chassisId.length = 6;
    const uint8_t mac[6] = {0x00, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE};
    std::memcpy(s.chassisId.bytes, mac, 6);
    frames.push_back(Lldp(port, s, one, 0));
  }
  {  // 7: CDP without addresses (odd payload ending in the duplex octet 0x01)
    PortFacts port = GigabitPortFacts();
    port.ifIndex = 0;
    frames.push_back(Cdp(port, Settings(), one));
  }
  {  // 8: CDP with two addresses, unknown duplex, router and bridge (even payload)
    PortFacts port = GigabitPortFacts();
    port.duplex = 0;
    AgentSettings s = Settings();
    s.CapEnabled = 0x14;
    frames.push_back(Cdp(port, s, two));
  }
  {  // 9: CDP whose odd payload ends in a native VLAN of 200 (last octet 0xC8)
    PortFacts port = GigabitPortFacts();
    port.duplex = 0;
    port.vlanId = 200;
    frames.push_back(Cdp(port, Settings(), one));
  }
  ASSERT_EQ(frames[6].size() % 2, 1u);
  ASSERT_EQ(frames[6].back(), 0x01);
  ASSERT_EQ(frames[7].size() % 2, 0u);
  ASSERT_EQ(frames[8].size() % 2, 1u);
  ASSERT_EQ(frames[8].back(), 0xC8);

  std::vector<Decoded> rows = Decode(frames);
  ASSERT_EQ(rows.size(), frames.size()) << ReadFile(dir_ / "stderr");

  for (size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE("frame " + std::to_string(i + 1));
    EXPECT_EQ(rows[i]["frame.number"], std::to_string(i + 1));
    EXPECT_EQ(rows[i]["_ws.malformed"], "");
    EXPECT_EQ(rows[i]["_ws.expert.severity"], "") << rows[i]["_ws.expert.message"];
  }

  // LLDP, default.
  Decoded& d = rows[0];
  EXPECT_EQ(d["lldp.chassis.subtype"], "7");
  EXPECT_EQ(d["lldp.chassis.id"], "5771334b7678717a");  // "Wq3Kvxqz"
  EXPECT_EQ(d["lldp.port.subtype"], "3");
  EXPECT_EQ(d["lldp.port.id.mac"], "00:11:22:33:44:55");
  EXPECT_EQ(d["lldp.time_to_live"], "120");
  EXPECT_EQ(d["lldp.port.desc"], "Intel PRO/1000");
  EXPECT_EQ(d["lldp.tlv.system.name"], "host1");
  EXPECT_EQ(d["lldp.tlv.system.desc"], "x86_64 - Linux 6.1");
  EXPECT_EQ(d["lldp.tlv.system_cap"], "0x0080");
  EXPECT_EQ(d["lldp.tlv.enable_system_cap"], "0x0080");
  EXPECT_EQ(d["lldp.mgn.addr.ip4"], "10.0.0.5");
  EXPECT_EQ(d["lldp.mgn.interface.number"], "2");
  EXPECT_EQ(d["lldp.ieee.802_3.mac_phy_auto_neg_status"], "0x03");
  EXPECT_EQ(d["lldp.ieee.802_3.pmd_mau_type"], "0x001e");
  EXPECT_EQ(d["lldp.ieee.802_3.max_frame_size"], "1518");
  EXPECT_EQ(d["lldp.media.subtype.caps"], "");

  // LLDP-MED class 3.
  Decoded& m = rows[1];
  EXPECT_EQ(m["lldp.media.subtype.caps"], "0x0013");  // capabilities, policy, powered device
  EXPECT_EQ(m["lldp.media.subtype.class"], "3");
  EXPECT_EQ(m["lldp.media.app_type"], "1,2");
  EXPECT_EQ(m["lldp.media.tag_flag"], "1,1");
  EXPECT_EQ(m["lldp.media.vlan_id"], "100,100");
  EXPECT_EQ(m["lldp.media.l2_prio"], "5,3");
  EXPECT_EQ(m["lldp.media.dscp"], "46,26");
  EXPECT_EQ(m["lldp.media.power.type"], "1");
  EXPECT_EQ(m["lldp.media.power.source"], "1");
  EXPECT_EQ(m["lldp.media.power.prio"], "3");
  EXPECT_EQ(m["lldp.media.power.value"], "50");

  EXPECT_EQ(rows[2]["lldp.ieee.802_1.port_vlan.id"], "10");
  EXPECT_EQ(rows[0]["lldp.ieee.802_1.port_vlan.id"], "");

  Decoded& n = rows[3];
  EXPECT_EQ(n["lldp.port.subtype"], "5");
  EXPECT_EQ(n["lldp.port.id"], "eth0");
  EXPECT_EQ(n["lldp.mgn.addr.hex"], "001122334455");
  EXPECT_EQ(n["lldp.mgn.interface.number"], "0");

  EXPECT_EQ(rows[4]["lldp.ieee.802_3.pmd_mau_type"], "");
  EXPECT_EQ(rows[4]["lldp.tlv.system.name"], "host1");

  Decoded& z = rows[5];
  EXPECT_EQ(z["lldp.chassis.subtype"], "4");
  EXPECT_EQ(z["lldp.chassis.id.mac"], "00:aa:bb:cc:dd:ee");
  EXPECT_EQ(z["lldp.time_to_live"], "0");
  EXPECT_EQ(z["lldp.tlv.system.name"], "");

  // CDP.
  for (size_t i = 6; i < 9; ++i) {
    SCOPED_TRACE("frame " + std::to_string(i + 1));
    Decoded& c = rows[i];
    EXPECT_EQ(c["llc.dsap"], "0xaa");
    EXPECT_EQ(c["cdp.version"], "2");
    EXPECT_EQ(c["cdp.ttl"], "120");
    EXPECT_EQ(c["cdp.checksum.status"], "1") << "checksum " << c["cdp.checksum"];  // good
    EXPECT_EQ(c["cdp.deviceid"], "host1");
    EXPECT_EQ(c["cdp.portid"], "Intel PRO/1000");
    EXPECT_EQ(c["cdp.software_version"], "x86_64 - Linux 6.1");
    EXPECT_EQ(c["cdp.platform"], kPlatform);
  }
  EXPECT_EQ(rows[6]["cdp.number_of_addresses"], "0");
  EXPECT_EQ(rows[6]["cdp.capabilities"], "0x00000010");
  EXPECT_EQ(rows[6]["cdp.duplex"], "1");
  EXPECT_EQ(rows[6]["cdp.native_vlan"], "");
  EXPECT_EQ(rows[7]["cdp.number_of_addresses"], "2");
  EXPECT_EQ(rows[7]["cdp.nrgyz.ip_address"], "10.0.0.5,10.0.1.7");
  EXPECT_EQ(rows[7]["cdp.capabilities"], "0x00000009");
  EXPECT_EQ(rows[7]["cdp.duplex"], "");
  EXPECT_EQ(rows[8]["cdp.number_of_addresses"], "1");
  EXPECT_EQ(rows[8]["cdp.nrgyz.ip_address"], "10.0.0.5");
  EXPECT_EQ(rows[8]["cdp.native_vlan"], "200");
}

// Ones' complement sum with an odd last octet added as 0x00NN, whatever its value.
// The decoder must be able to tell a bad CDP checksum, or the check above proves
// nothing: the same frame with the checksum that the plain odd-octet rule gives
// (the last octet added as 0x00C8) is reported bad.
TEST_F(FramesTsharkTest, DecoderFlagsTheUnsignedOddOctetChecksum) {
  PortFacts port = GigabitPortFacts();
  port.duplex = 0;
  port.vlanId = 200;
  AddressTable one;
  AddAddress(one, 2, MakeIpv4(10, 0, 0, 5));
  Bytes f = Cdp(port, Settings(), one);
  ASSERT_EQ(f.size() % 2, 1u);
  ASSERT_EQ(f.back(), 0xC8);
  f[24] = f[25] = 0;
  const uint16_t plain = CdpChecksum(f.data() + 22, f.size() - 22, CdpOddOctet::kPlain);
  ASSERT_NE(plain, CdpChecksum(f.data() + 22, f.size() - 22));
  f[24] = static_cast<uint8_t>(plain >> 8);
  f[25] = static_cast<uint8_t>(plain);

  std::vector<Decoded> rows = Decode({f});
  ASSERT_EQ(rows.size(), 1u) << ReadFile(dir_ / "stderr");
  EXPECT_EQ(rows[0]["cdp.checksum.status"], "0");  // bad
  EXPECT_NE(rows[0]["_ws.expert.severity"], "");
}

}  // namespace
}  // namespace torvane
