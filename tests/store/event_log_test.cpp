// The event log: file name, line grammar byte for byte, and the replacement of
// control characters from the wire.
#include "agent/store/event_log.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "records/text_forms.h"
#include "common/text.h"
#include "tests/support/store/receive_rig.h"

namespace torvane {
namespace {

using nbrtest::FixedZoneFacts;
using nbrtest::ManualClock;
using nbrtest::TempDir;

constexpr uint32_t k20221118_100525Utc = 1668765925;

// A neighbour with every field the line shows.
Neighbor FullRecord() {
  Neighbor r{};
  r.localPort = 1;
  CopyText(r.interfaceName, "eth0");
  const uint8_t own[4] = {192, 168, 1, 10};
  std::memcpy(r.interfaceAddress, own, 4);
  const uint8_t mac[6] = {0x00, 0x1b, 0x54, 0xaa, 0xbb, 0xcc};
  std::memcpy(r.sourceMac, mac, 6);
  r.chassisIdSubtype = 4;
  r.chassisId.length = 6;
  std::memcpy(r.chassisId.bytes, mac, 6);
  r.portIdSubtype = 5;
  r.portId.length = 9;
  std::memcpy(r.portId.bytes, "Gi1/0/24x", 9);
  r.portId.length = 8;  // the length byte counts, not the bytes after it
  CopyText(r.portDescription, "GigabitEthernet1/0/24");
  r.ttl = 120;
  r.lastUpdate = k20221118_100525Utc;
  r.discovered = k20221118_100525Utc - 3600;
  CopyText(r.systemName, "sw-core-1");
  CopyText(r.systemDescription, "Switch OS 4.2 (build 311)");
  r.capSupported = 0x14;
  r.capEnabled = 0x04;
  const uint8_t peer[4] = {192, 168, 1, 2};
  std::memcpy(r.portAddress, peer, 4);
  r.portVlanId = 10;
  r.mode = 5;
  return r;
}

TEST(EventLogLine, StartLine) {
  FixedZoneFacts facts(3600);
  EXPECT_EQ(FormatLogLine(facts, k20221118_100525Utc, nullptr, 0),
            "2022-11-18 11:05:25 +0100 event=start \n");
}

TEST(EventLogLine, NeighbourLineByteForByte) {
  FixedZoneFacts facts(3600);
  Neighbor r = FullRecord();
  EXPECT_EQ(FormatLogLine(facts, k20221118_100525Utc + 5, &r, kLogLldp),
            "2022-11-18 11:05:30 +0100 event=lldp interface=\"eth0\" interface-ip-addr=192.168.1.10 "
            "chassisId=\"001b54aabbcc\" chassis=\"sw-core-1\" portId=\"Gi1/0/24\" "
            "port=\"GigabitEthernet1/0/24\" port-ip-addr=192.168.1.2 "
            "lastUpdate=\"2022-11-18 11:05:25\" capabilities=Br "
            "discovered=\"2022-11-18 10:05:25\" description=\"Switch OS 4.2 (build 311)\" "
            "mode=\"100M FD\" vLanId=10 \n");
}

TEST(EventLogLine, KindWords) {
  FixedZoneFacts facts(0);
  Neighbor r = FullRecord();
  EXPECT_EQ(FormatLogLine(facts, 0, &r, kLogCdp).substr(0, 36),
            "1970-01-01 00:00:00 +0000 event=cdp ");
  EXPECT_EQ(FormatLogLine(facts, 0, &r, kLogExpired).substr(0, 40),
            "1970-01-01 00:00:00 +0000 event=expired ");
}

TEST(EventLogLine, MissingAddressesAndVlanLeaveEmptyValues) {
  FixedZoneFacts facts(-12600);  // 3 hours 30 minutes west
  Neighbor r{};
  r.portIdSubtype = 7;  // locally assigned: hex even though the bytes are text
  r.portId.length = 3;
  std::memcpy(r.portId.bytes, "abc", 3);
  r.mode = 2;
  EXPECT_EQ(FormatLogLine(facts, 12600, &r, kLogLldp),
            "1970-01-01 00:00:00 -0330 event=lldp interface=\"\" interface-ip-addr= "
            "chassisId=\"\" chassis=\"\" portId=\"616263\" port=\"\" port-ip-addr= "
            "lastUpdate=\"1969-12-31 20:30:00\" capabilities= "
            "discovered=\"1969-12-31 20:30:00\" description=\"\" mode=\"10M \" \n");
}

TEST(EventLogLine, ChassisIdAsTextOnlyForNameSubtypes) {
  FixedZoneFacts facts(0);
  Neighbor r{};
  r.chassisId.length = 2;
  std::memcpy(r.chassisId.bytes, "sw", 2);
  r.chassisIdSubtype = 6;
  EXPECT_NE(FormatLogLine(facts, 0, &r, kLogCdp).find(" chassisId=\"sw\" "), std::string::npos);
  r.chassisIdSubtype = 7;
  EXPECT_NE(FormatLogLine(facts, 0, &r, kLogCdp).find(" chassisId=\"7377\" "), std::string::npos);
}

TEST(EventLogLine, DoubleQuotesStayButControlCharactersGo) {
  FixedZoneFacts facts(0);
  Neighbor r{};
  CopyText(r.systemName, "say \"hi\"");
  // A neighbour trying to end the line and forge one of its own, and to send a
  // terminal escape (CSI, in 7-bit and in UTF-8 C1 form).
  CopyText(r.systemDescription, "x\n2022-11-18 11:05:25 +0100 event=start \x1b[2J\xC2\x9B" "31m\x7F");
  CopyText(r.portDescription, "caf\xC3\xA9 \xC2\xA0nbsp \x9B stray \xE9 latin1");
  std::string line = FormatLogLine(facts, 0, &r, kLogLldp);
  EXPECT_NE(line.find(" chassis=\"say \"hi\"\" "), std::string::npos);
  EXPECT_NE(line.find(" description=\"x?2022-11-18 11:05:25 +0100 event=start ?[2J?31m?\" "),
            std::string::npos);
  EXPECT_NE(line.find(" port=\"caf\xC3\xA9 \xC2\xA0nbsp ? stray \xE9 latin1\" "), std::string::npos);
  EXPECT_EQ(line.find('\n'), line.size() - 1);
}

class EventLogFile : public ::testing::Test {
 protected:
  EventLogFile() : log(settings, facts, clock, logLock) {
    std::string dir_ = dir.directory();
    settings.Update([&](AgentSettings& s, OutsideSettings& o) {
      s.Log = 1;
      CopyText(s.Directory, dir_);
      CopyText(o.LogName, "lldp%y%m.log");
    });
  }
  ManualClock clock{k20221118_100525Utc};
  FixedZoneFacts facts{3600};
  SettingsStore settings;
  std::mutex logLock;
  TempDir dir;
  EventLog log;
};

TEST_F(EventLogFile, AppendsToTheMonthlyFile) {
  log.LogEvent(nullptr, 0);
  Neighbor r = FullRecord();
  log.LogEvent(&r, kLogExpired);
  EXPECT_EQ(nbrtest::FileNames(dir.path()), std::vector<std::string>{"lldp2211.log"});
  std::string text = nbrtest::ReadFile(dir.path() / "lldp2211.log");
  EXPECT_EQ(text.substr(0, text.find('\n') + 1), "2022-11-18 11:05:25 +0100 event=start \n");
  EXPECT_NE(text.find("\n2022-11-18 11:05:25 +0100 event=expired interface=\"eth0\" "),
            std::string::npos);

  // 30 November 23:30 UTC is already December at +0100.
  clock.Set(k20221118_100525Utc + 12 * 86400 + 13 * 3600 + 25 * 60);
  log.LogEvent(nullptr, 0);
  EXPECT_EQ(nbrtest::FileNames(dir.path()),
            (std::vector<std::string>{"lldp2211.log", "lldp2212.log"}));
}

TEST_F(EventLogFile, LogOffCreatesNoFile) {
  settings.Update([](AgentSettings& s, OutsideSettings&) { s.Log = 0; });
  log.LogEvent(nullptr, 0);
  Neighbor r = FullRecord();
  log.LogEvent(&r, kLogLldp);
  EXPECT_TRUE(nbrtest::FileNames(dir.path()).empty());
}

TEST_F(EventLogFile, NameLongerThan31CharactersLosesTheLine) {
  std::tm local{};
  local.tm_year = 122;
  local.tm_mon = 10;
  local.tm_mday = 18;
  EXPECT_EQ(LogFileName("/var/log/", "lldp%y%m.log", local), "/var/log/lldp2211.log");
  EXPECT_EQ(LogFileName("d/", "0123456789012345678901234567890", local),
            "d/0123456789012345678901234567890");
  EXPECT_EQ(LogFileName("d/", "01234567890123456789012345678901", local), "");
  EXPECT_EQ(LogFileName("d/", "%Y-%m-%d-%H-%M-%S-%Y-%m-%d.log", local), "");
  EXPECT_EQ(LogFileName("d/", "", local), "");

  settings.Update([](AgentSettings&, OutsideSettings& o) {
    CopyText(o.LogName, "lldp-%Y-%m-%d-%H-%M-%S-more.log");
  });
  log.LogEvent(nullptr, 0);
  EXPECT_TRUE(nbrtest::FileNames(dir.path()).empty());
}

TEST_F(EventLogFile, MissingFolderLosesTheLineQuietly) {
  std::string missing = dir.directory() + "no/such/folder/";
  settings.Update([&](AgentSettings& s, OutsideSettings&) { CopyText(s.Directory, missing); });
  log.LogEvent(nullptr, 0);
  EXPECT_TRUE(nbrtest::FileNames(dir.path()).empty());
}

}  // namespace
}  // namespace torvane
