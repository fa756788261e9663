#include "agent/runtime/settings.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include "common/text.h"

namespace torvane {
namespace {

using namespace std::string_literals;

// Counts file replacements, so a save can be seen to write once.
class CountingProfile : public MemoryProfile {
 public:
  bool Store(const std::string& file, const std::string& text) override {
    ++stores;
    return MemoryProfile::Store(file, text);
  }
  int stores = 0;
};

std::string Bytes(const IdField& id) { return std::string(reinterpret_cast<const char*>(id.bytes), id.length); }

class SettingsTest : public ::testing::Test {
 protected:
  SettingsTest() {
    store.Update([](AgentSettings&, OutsideSettings& o) { CopyText(o.moduleDirectory, "/opt/torvane/"); });
  }
  const AgentSettings& Load(const std::string& text) {
    profile.files[kFile] = text;
    LoadSettings(store, host, lists, "lldp");
    loaded = store.Get();
    return loaded;
  }
  InterfaceEntry& AddInterface(uint32_t index, const uint8_t (&mac)[6], uint32_t type = 6) {
    InterfaceEntry& e = lists.interfaces.entries[lists.interfaces.count++];
    e = InterfaceEntry{};
    e.ifIndex = index;
    e.ifType = type;
    e.ifPhysAddrLen = 6;
    std::memcpy(e.ifPhysAddress, mac, 6);
    e.ifAdminStatus = 1;
    e.ifOperStatus = 5;
    return e;
  }
  void AddAddress(uint32_t index, uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
    AddressEntry& e = lists.addresses.entries[lists.addresses.count++];
    e = AddressEntry{};
    e.ifIndex = index;
    const uint8_t bytes[4] = {a, b, c, d};
    std::memcpy(&e.address, bytes, 4);
  }

  static constexpr const char* kFile = "/opt/torvane/lldp.ini";
  CountingProfile profile;
  MemoryRegistry reg;
  FakeSystemFacts facts;
  SettingsHost host{profile, reg, facts};
  SettingsStore store;
  InterfaceLists lists;
  AgentSettings loaded{};
};

TEST_F(SettingsTest, MissingFileGivesEveryDefault) {
  profile.files.clear();
  LoadSettings(store, host, lists, "lldp");
  const AgentSettings s = store.Get();
  const OutsideSettings o = store.GetOutside();
  EXPECT_EQ(SettingsFileName(o, "lldp"), kFile);
  EXPECT_EQ(s.txInterval, 30u);
  EXPECT_EQ(s.txHoldMultiplier, 4u);
  EXPECT_EQ(s.ReinitDelay, 2u);
  EXPECT_EQ(s.txDelay, 2u);
  EXPECT_EQ(s.NotificationInterval, 5u);
  EXPECT_EQ(s.CapSupported, 128u);
  EXPECT_EQ(s.CapEnabled, 128u);
  EXPECT_EQ(s.txCname + s.txPname + s.txPIDname, 0u);
  const uint8_t zero[6] = {};
  EXPECT_EQ(std::memcmp(s.txMcast, zero, 6), 0);
  EXPECT_EQ(std::memcmp(s.txBcSrc, zero, 6), 0);
  EXPECT_EQ(s.MedFastStartRepeatCount, 4);
  EXPECT_EQ(s.MedDevType, 0);
  for (uint32_t p : s.MedPolicy) EXPECT_EQ(p, 32768u);
  EXPECT_EQ(s.MedPowerState, 0);
  EXPECT_EQ(s.MedPowerValue, 0);
  EXPECT_EQ(s.adminStatusDefault, 3u);
  EXPECT_EQ(s.txCdp, 3u);
  EXPECT_EQ(s.rxCdp, 1u);
  EXPECT_EQ(s.ioctl, 7u);
  EXPECT_EQ(s.Duplex, 1u);
  EXPECT_EQ(s.ieee80211, 71u);
  EXPECT_EQ(s.Packet, 0u);
  EXPECT_EQ(std::memcmp(s.rxOui, zero, 4), 0);
  EXPECT_EQ(s.Log, 0u);
  EXPECT_EQ(FieldText(s.Directory), "/opt/torvane/");
  EXPECT_EQ(FieldText(s.systemName), "TESTHOST");
  EXPECT_EQ(FieldText(s.systemDescription),
            "Test CPU @ 1.00GHz - Debian GNU/Linux 12 (bookworm) 6.1.0-18-amd64");
  EXPECT_EQ(o.BugFilter, 1u);
  EXPECT_EQ(o.nameFormat, 0u);
  EXPECT_EQ(FieldText(o.LogName), "lldp%y%m.log");
  EXPECT_EQ(FieldText(o.osVersionText), "Linux 6.1");
  EXPECT_EQ(FieldText(o.moduleDirectory), "/opt/torvane/");
  EXPECT_EQ(o.MaxNeighbors, 1024u);
}

TEST_F(SettingsTest, EveryKeyIsReadUnderItsOwnName) {
  const AgentSettings& s = Load(
      "[LLDP]\r\ntxinterval=60\r\ntxHoldMultiplier=5\r\nReinitDelay=6\r\ntxDelay=7\r\n"
      "NotificationInterval=8\r\nCapSupported=20\r\nCapEnabled=4\r\ntxCname=1\r\ntxPname=1\r\n"
      "txPIDname=1\r\ntxMcast=01:80:c2:00:00:0e\r\ntxBcSrc=\"02-00-00-00-00-07\"\r\n"
      "MedFastStartRepeatCount=257\r\nMedDevType=260\r\nMedPolicy0=1\r\nMedPolicy7=70000\r\n"
      "MedPowerState=511\r\nMedPowerValue=70000\r\ntxLLDP=0\r\nrxLLDP=9\r\ntxCdp=1\r\nrxCdp=0\r\n"
      "ioctl=2\r\nDuplex=0\r\nieee80211=6\r\nPacket=1\r\nrxOui=00:80:c2\r\nBugFilter=0\r\n"
      "nameFormat=1\r\nLog=1\r\nDirectory=/var/log/torvane/\r\nLogName=nbr%y.log\r\n"
      "MaxNeighbors=16\r\n");
  const OutsideSettings o = store.GetOutside();
  EXPECT_EQ(s.txInterval, 60u);
  EXPECT_EQ(s.txHoldMultiplier, 5u);
  EXPECT_EQ(s.ReinitDelay, 6u);
  EXPECT_EQ(s.txDelay, 7u);
  EXPECT_EQ(s.NotificationInterval, 8u);
  EXPECT_EQ(s.CapSupported, 20u);
  EXPECT_EQ(s.CapEnabled, 4u);
  EXPECT_EQ(s.txCname, 1u);
  EXPECT_EQ(s.txPname, 1u);
  EXPECT_EQ(s.txPIDname, 1u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(s.txMcast), 6), "\x01\x80\xc2\x00\x00\x0e"s);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(s.txBcSrc), 6), "\x02\x00\x00\x00\x00\x07"s);
  EXPECT_EQ(s.MedFastStartRepeatCount, 1);  // low bytes
  EXPECT_EQ(s.MedDevType, 4);
  EXPECT_EQ(s.MedPolicy[0], 1u);
  EXPECT_EQ(s.MedPolicy[3], 32768u);
  EXPECT_EQ(s.MedPolicy[7], 70000u);
  EXPECT_EQ(s.MedPowerState, 0xFF);
  EXPECT_EQ(s.MedPowerValue, 70000 - 65536);
  EXPECT_EQ(s.adminStatusDefault, 2u);  // txLLDP 0, receive bit from rxLLDP
  EXPECT_EQ(s.txCdp, 1u);
  EXPECT_EQ(s.rxCdp, 0u);
  EXPECT_EQ(s.ioctl, 2u);
  EXPECT_EQ(s.Duplex, 0u);
  EXPECT_EQ(s.ieee80211, 6u);
  EXPECT_EQ(s.Packet, 1u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(s.rxOui), 4), "\x00\x80\xc2\x00"s);
  EXPECT_EQ(s.Log, 1u);
  EXPECT_EQ(FieldText(s.Directory), "/var/log/torvane/");
  EXPECT_EQ(FieldText(s.systemName), "testhost");
  EXPECT_EQ(o.BugFilter, 0u);
  EXPECT_EQ(o.nameFormat, 1u);
  EXPECT_EQ(FieldText(o.LogName), "nbr%y.log");
  EXPECT_EQ(o.MaxNeighbors, 16u);
  EXPECT_EQ(FieldText(o.moduleDirectory), "/opt/torvane/");  // the worker's, never the file's
}

TEST_F(SettingsTest, TxIntervalRoundsUpToTenAndZeroGivesThirty) {
  const std::pair<const char*, uint32_t> cases[] = {
      {"0", 30}, {"", 30}, {"1", 10}, {"5", 10}, {"10", 10}, {"11", 20},
      {"15", 20}, {"31", 40}, {"-1", 30}, {"4294967287", 30}, {"4294967280", 4294967280u}};
  for (auto [text, want] : cases)
    EXPECT_EQ(Load(std::string("[lldp]\ntxInterval=") + text + "\n").txInterval, want) << text;
}

TEST_F(SettingsTest, NameFormatAndTextFieldsAreBounded) {
  Load("[lldp]\nnameFormat=8\n");
  EXPECT_EQ(store.GetOutside().nameFormat, 0u);
  EXPECT_EQ(FieldText(loaded.systemName), "TESTHOST");
  EXPECT_EQ(FieldText(Load("[lldp]\nnameFormat=3\n").systemName), "testhost.example.test");
  EXPECT_EQ(FieldText(Load("[lldp]\nnameFormat=6\n").systemName), "example.test");

  facts.host = std::string(80, 'h');
  EXPECT_EQ(FieldText(Load("[lldp]\nnameFormat=1\n").systemName), std::string(63, 'h'));
  facts.cpu = std::string(200, 'c');
  EXPECT_EQ(FieldText(Load("").systemDescription), std::string(127, 'c'));
  facts.cpu = "";
  facts.kernel = "5.10.0-28-amd64";
  EXPECT_EQ(FieldText(Load("").systemDescription), "Debian GNU/Linux 12 (bookworm) 5.10.0-28-amd64");
  EXPECT_EQ(FieldText(store.GetOutside().osVersionText), "Linux 5.10");

  const std::string longDir(300, 'd');
  EXPECT_EQ(FieldText(Load("[lldp]\nDirectory=" + longDir + "\nLogName=" + longDir + "\n").Directory),
            std::string(259, 'd'));
  EXPECT_EQ(FieldText(store.GetOutside().LogName), std::string(31, 'd'));
}

TEST_F(SettingsTest, SampleFileNamesEveryKeyWithItsDefault) {
  std::ifstream in(std::string(LLDP_SOURCE_DIR) + "/agent/lldp.ini");
  std::string sample((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_FALSE(sample.empty());
  const AgentSettings defaults = Load("");
  const OutsideSettings outsideDefaults = store.GetOutside();
  auto sameAsDefaults = [&] {
    const OutsideSettings o = store.GetOutside();
    return std::memcmp(&loaded, &defaults, sizeof loaded) == 0 && o.BugFilter == outsideDefaults.BugFilter &&
           o.nameFormat == outsideDefaults.nameFormat && o.MaxNeighbors == outsideDefaults.MaxNeighbors &&
           FieldText(o.LogName) == FieldText(outsideDefaults.LogName);
  };
  Load(sample);
  EXPECT_TRUE(sameAsDefaults());

  // Every commented key, switched on with the value shown, still gives the defaults;
  // switched on with another value, it changes something (so its name is a real key).
  std::istringstream lines(sample);
  std::string line, uncommented = "[lldp]\n";
  std::vector<std::string> keys;
  while (std::getline(lines, line)) {
    size_t eq = line.find('=');
    if (line.size() < 2 || line[0] != ';' || line[1] == ' ' || eq == std::string::npos) continue;
    keys.push_back(line.substr(1, eq - 1));
    if (line.compare(eq + 1, 1, "<") != 0) uncommented += line.substr(1) + "\n";
  }
  EXPECT_EQ(keys.size(), 39u);  // the 38 keys of the file and MaxNeighbors
  Load(uncommented);
  EXPECT_TRUE(sameAsDefaults()) << uncommented;
  for (const std::string& key : keys) {
    const bool mac = key == "txMcast" || key == "txBcSrc" || key == "rxOui";
    Load("[lldp]\n" + key + "=" + (mac ? "02:00:00:00:00:07" : "6") + "\n");
    bool changed = !sameAsDefaults();
    Load("[lldp]\n" + key + "=0\n");  // rxLLDP: any nonzero value is its default
    EXPECT_TRUE(changed || !sameAsDefaults()) << key;
  }
}

TEST(MacText, ColonOrDashFormsOfSixNumbers) {
  uint8_t mac[6];
  const std::string want = "\x00\x80\xc2\x00\x00\x0e"s;
  auto text = [&] { return std::string(reinterpret_cast<const char*>(mac), 6); };
  EXPECT_EQ(ParseMacText("00:80:c2:00:00:0e", mac), 1);
  EXPECT_EQ(text(), want);
  std::memset(mac, 0x55, 6);
  EXPECT_EQ(ParseMacText("00-80-C2-00-00-0E", mac), 1);
  EXPECT_EQ(text(), want);
  EXPECT_EQ(ParseMacText("0:80:c2:0:0:e trailing", mac), 1);
  EXPECT_EQ(text(), want);
  EXPECT_EQ(ParseMacText("1ff:0x2:3:4:5:-1", mac), 1);  // low byte of each number
  EXPECT_EQ(text(), "\xff\x02\x03\x04\x05\xff"s);
  for (const char* bad : {"00800c200000e", "008000c2000e", "00:80:c2:00:00", "00:80-c2:00:00:0e",
                          "", "zz:80:c2:00:00:0e", "00::80:c2:00:00"}) {
    std::memset(mac, 0x55, 6);
    EXPECT_EQ(ParseMacText(bad, mac), 0) << bad;
    EXPECT_EQ(text(), std::string(6, '\x55')) << bad;  // untouched
  }
  uint8_t oui[3] = {9, 9, 9};
  EXPECT_EQ(ParseOuiText("0080c2", oui), 0);
  EXPECT_EQ(oui[0], 9);
  EXPECT_EQ(ParseOuiText("00-80-c2", oui), 1);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(oui), 3), "\x00\x80\xc2"s);
}

TEST_F(SettingsTest, UnparsableAddressesLeaveTheFieldsZero) {
  Load("[lldp]\ntxMcast=01:02:03:04:05:06\ntxBcSrc=02:00:00:00:00:01\nrxOui=00:80:c2\n");
  const AgentSettings& s = Load("[lldp]\ntxMcast=0180c200000e\ntxBcSrc=junk\nrxOui=0080c2\n");
  const uint8_t zero[6] = {};
  EXPECT_EQ(std::memcmp(s.txMcast, zero, 6), 0);
  EXPECT_EQ(std::memcmp(s.txBcSrc, zero, 6), 0);
  EXPECT_EQ(std::memcmp(s.rxOui, zero, 4), 0);
}

TEST_F(SettingsTest, SavingDefaultsRemovesTheKeysAndKeepsEverythingElse) {
  const std::string text =
      "; sample\n[lldp]\n; interval\ntxInterval=60\ntxHoldMultiplier=5\ntxCname=2\ntxPname=1\n"
      "txPIDname=1\ntxMcast=01:80:c2:00:00:0e\nMedDevType=3\nMedPolicy0=1\nMedPolicy7=2\n"
      "rxCdp=0\ntxCdp=1\nLog=1\nDirectory=/var/log/\nioctl=5\n";
  AgentSettings s = Load(text);
  EXPECT_EQ(FieldText(s.Directory), "/var/log/");
  s.txInterval = 30;
  s.txHoldMultiplier = 4;
  s.txCname = s.txPname = s.txPIDname = 0;
  std::memset(s.txMcast, 0, 6);
  s.MedDevType = 0;
  for (uint32_t& p : s.MedPolicy) p = 32768;
  s.rxCdp = 1;
  s.txCdp = 3;
  s.Log = 0;
  CopyText(s.Directory, "/opt/torvane/");
  profile.stores = 0;
  EXPECT_EQ(SaveSettings(s, store.GetOutside(), profile, "lldp"), 1);
  EXPECT_EQ(profile.stores, 1);
  EXPECT_EQ(profile.files[kFile], "; sample\n[lldp]\n; interval\nioctl=5\n");
}

TEST_F(SettingsTest, SavedKeysReadBackAndAFailedWriteReportsZero) {
  AgentSettings s = Load("[lldp]\nMedPowerState=7\n");
  s.txInterval = 120;
  s.txCname = 3;
  const uint8_t mcast[6] = {0x01, 0x80, 0xc2, 0, 0, 0x0e};
  std::memcpy(s.txMcast, mcast, 6);
  s.MedDevType = 3;
  s.MedPolicy[2] = 0x12345;
  s.Log = 1;
  CopyText(s.Directory, "/var/log/torvane/");
  s.MedPowerState = 9;  // not a saved key: the file's value comes back
  ASSERT_EQ(SaveSettings(s, store.GetOutside(), profile, "lldp"), 1);
  EXPECT_EQ(IniLookup(profile.files[kFile], "lldp", "txMcast"), "01:80:c2:00:00:0e");
  const AgentSettings& back = Load(profile.files[kFile]);
  EXPECT_EQ(back.txInterval, 120u);
  EXPECT_EQ(back.txCname, 3u);
  EXPECT_EQ(std::memcmp(back.txMcast, mcast, 6), 0);
  EXPECT_EQ(back.MedDevType, 3);
  EXPECT_EQ(back.MedPolicy[2], 0x12345u);
  EXPECT_EQ(back.Log, 1u);
  EXPECT_EQ(FieldText(back.Directory), "/var/log/torvane/");
  EXPECT_EQ(back.MedPowerState, 7);

  const std::string before = profile.files[kFile];
  s.txInterval = 40;
  profile.failWrites = true;
  EXPECT_EQ(SaveSettings(s, store.GetOutside(), profile, "lldp"), 0);
  profile.failWrites = false;
  // A directory with a line break would write a second key: refused whole.
  CopyText(s.Directory, "/tmp/x\nLog=0");
  EXPECT_EQ(SaveSettings(s, store.GetOutside(), profile, "lldp"), 0);
  EXPECT_EQ(profile.files[kFile], before);

  EXPECT_EQ(WriteIniNumber(profile, kFile, "lldp", "txCdp", 1, 3), 1);
  EXPECT_EQ(IniLookup(profile.files[kFile], "lldp", "txCdp"), "1");
  EXPECT_EQ(WriteIniNumber(profile, kFile, "lldp", "txCdp", 3, 3), 1);
  EXPECT_EQ(IniLookup(profile.files[kFile], "lldp", "txCdp"), std::nullopt);
}

TEST_F(SettingsTest, ChassisIdFromNameMacOrAddress) {
  const uint8_t zeroMac[6] = {}, mac1[6] = {2, 0, 0, 0, 0, 1}, mac2[6] = {2, 0, 0, 0, 0, 2},
                mac3[6] = {2, 0, 0, 0, 0, 3};
  AddInterface(1, mac1).ifAdminStatus = 0;        // down
  AddInterface(2, mac1).ifOperStatus = 0;         // not operational
  AddInterface(3, mac1, 24);                      // loopback
  AddInterface(4, mac1).ifPhysAddrLen = 8;        // not a MAC
  AddInterface(5, zeroMac);                       // no address
  AddInterface(6, mac2, 71);                      // wireless: suitable, no IPv4
  AddInterface(7, mac3);                          // suitable, with IPv4
  AddAddress(6, 0, 0, 0, 0);
  AddAddress(7, 10, 0, 0, 7);
  AddAddress(7, 10, 0, 0, 8);

  store.chassisIdPending = true;
  Load("[lldp]\ntxCname=2\n");
  EXPECT_EQ(loaded.chassisIdSubtype, 4u);
  EXPECT_EQ(Bytes(loaded.chassisId), "\x02\x00\x00\x00\x00\x02"s);
  EXPECT_FALSE(store.chassisIdPending);

  store.chassisIdPending = true;
  Load("[lldp]\ntxCname=3\n");
  EXPECT_EQ(loaded.chassisIdSubtype, 5u);
  EXPECT_EQ(Bytes(loaded.chassisId), "\x01\x0a\x00\x00\x07"s);
  EXPECT_FALSE(store.chassisIdPending);

  store.chassisIdPending = true;  // the name choice leaves the flag alone
  Load("[lldp]\ntxCname=1\nnameFormat=1\n");
  EXPECT_EQ(loaded.chassisIdSubtype, 7u);
  EXPECT_EQ(Bytes(loaded.chassisId), "testhost");
  EXPECT_TRUE(store.chassisIdPending);
}

TEST_F(SettingsTest, ChassisIdFromTheVolumeSerialUntilAnInterfaceComesUp) {
  // Serial bytes, least significant first: 7b 00 ff 30. '{' needs five steps of
  // 41 to reach 'H', 00 two to 'R', ff two to 'Q'; '0' is already a digit.
  facts.serial = 0x30FF007Bu;
  Load("[lldp]\ntxCname=2\n");
  EXPECT_EQ(loaded.chassisIdSubtype, 7u);
  EXPECT_EQ(Bytes(loaded.chassisId), "HRQ0vxqz");
  EXPECT_TRUE(store.chassisIdPending);

  // txCname 3 with an interface up but no address for it: still the volume.
  const uint8_t mac[6] = {2, 0, 0, 0, 0, 9};
  AddInterface(9, mac);
  facts.serial = 0x2F2F2F2Fu;  // '/' becomes 'X' in one step
  Load("[lldp]\ntxCname=3\n");
  EXPECT_EQ(Bytes(loaded.chassisId), "XXXXvxqz");
  EXPECT_TRUE(store.chassisIdPending);

  // The port cycle's retry finds the interface once it is published.
  Load("[lldp]\ntxCname=2\n");
  EXPECT_EQ(loaded.chassisIdSubtype, 4u);
  store.chassisIdPending = true;
  lists.interfaces.count = 0;
  ComputeChassisId(store, facts, lists);
  EXPECT_TRUE(store.chassisIdPending);
  AddInterface(9, mac);
  ComputeChassisId(store, facts, lists);
  EXPECT_EQ(store.Get().chassisIdSubtype, 4u);
  EXPECT_EQ(Bytes(store.Get().chassisId), "\x02\x00\x00\x00\x00\x09"s);
  EXPECT_FALSE(store.chassisIdPending);

  // Without a readable serial the subtype becomes 7 and the ID stays as it was.
  facts.serial.reset();
  Load("[lldp]\ntxCname=0\n");
  EXPECT_EQ(loaded.chassisIdSubtype, 7u);
  EXPECT_EQ(Bytes(loaded.chassisId), "\x02\x00\x00\x00\x00\x09"s);
  EXPECT_FALSE(store.chassisIdPending);
}

TEST(RegistryOperations, ValuesTextsAndDefaults) {
  MemoryRegistry reg;
  uint8_t buf[17];
  const uint8_t bitmap[17] = {0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
  EXPECT_EQ(RegWriteValue(reg, "lldp", "10.0.0.1", bitmap, 17), 1);
  EXPECT_EQ(RegReadValue(reg, "lldp", "10.0.0.1", "", buf, sizeof buf), 17u);
  EXPECT_EQ(std::memcmp(buf, bitmap, 17), 0);
  EXPECT_EQ(RegWriteValue(reg, "lldp", "Path", reinterpret_cast<const uint8_t*>("/opt/torvane/"), -1), 1);
  EXPECT_EQ(reg.keys["lldp"]["Path"], (RegValue{RegType::kString, "/opt/torvane/"}));
  EXPECT_EQ(RegReadValue(reg, "lldp", "Path", "", buf, sizeof buf), 13u);
  EXPECT_STREQ(reinterpret_cast<char*>(buf), "/opt/torvane/");
  // Missing, too large for the buffer, or under a bad subkey: the default.
  EXPECT_EQ(RegReadValue(reg, "lldp", "Path", "dflt", buf, 13), 4u);
  EXPECT_STREQ(reinterpret_cast<char*>(buf), "dflt");
  EXPECT_EQ(RegReadValue(reg, "lldp", "none", "", buf, sizeof buf), 0u);
  EXPECT_EQ(buf[0], 0);
  EXPECT_EQ(RegReadValue(reg, "..", "Path", "x", buf, sizeof buf), 1u);
  EXPECT_EQ(RegWriteValue(reg, "lldp", "Path", nullptr, 0), 1);
  EXPECT_EQ(RegWriteValue(reg, "lldp", "Path", nullptr, 0), 0);  // already gone
  EXPECT_EQ(RegWriteValue(reg, "a/b", "Path", bitmap, 1), 0);

  reg.keys["lldp"]["n"] = {RegType::kString, " 12abc"};
  EXPECT_EQ(RegReadNumber(reg, "lldp", "n", 7), 12u);
  for (const char* text : {"", "abc", "-"}) {
    reg.keys["lldp"]["n"] = {RegType::kString, text};
    EXPECT_EQ(RegReadNumber(reg, "lldp", "n", 7), 7u) << text;
  }
  reg.keys["lldp"]["n"] = {RegType::kString, std::string(70, '1')};  // longer than the buffer
  EXPECT_EQ(RegReadNumber(reg, "lldp", "n", 7), 7u);
  EXPECT_EQ(RegReadNumber(reg, "lldp", "missing", 7), 7u);
  reg.failWrites = true;
  EXPECT_EQ(RegWriteNumber(reg, "lldp", "n", 5, 7), 0);
}

TEST_F(SettingsTest, PortSwitchesSetToTheDeletedValueReadBackWithTheReceiveDefault) {
  const AgentSettings& s = Load("[lldp]\ntxLLDP=0\n");
  ASSERT_EQ(s.adminStatusDefault, 2u);
  const char* mac = "00:11:22:33:44:55";
  ASSERT_EQ(RegWriteNumber(reg, "lldp", mac, 0x0103, 0xF003), 1);
  EXPECT_EQ(reg.keys["lldp"][mac], (RegValue{RegType::kString, "259"}));
  EXPECT_EQ(RegReadNumber(reg, "lldp", mac, s.adminStatusDefault | 0xF000), 0x0103u);
  // The pipe deletes the value when it equals 0xF003; the reader's default then
  // has only the receive bit of txLLDP 0.
  ASSERT_EQ(RegWriteNumber(reg, "lldp", mac, 0xF003, 0xF003), 1);
  EXPECT_EQ(reg.keys["lldp"].count(mac), 0u);
  EXPECT_EQ(RegReadNumber(reg, "lldp", mac, s.adminStatusDefault | 0xF000), 0xF002u);
  EXPECT_EQ(RegWriteNumber(reg, "lldp", mac, 0xF003, 0xF003), 1);  // nothing left to delete
}

}  // namespace
}  // namespace torvane
