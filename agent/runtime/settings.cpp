#include "agent/runtime/settings.h"

#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "common/mac.h"
#include "platform/registry_values.h"
#include "common/text.h"

namespace torvane {

namespace {

constexpr uint32_t kDefaultTxInterval = 30;
constexpr uint32_t kDefaultTxHoldMultiplier = 4;
constexpr uint32_t kPolicyNotSet = 32768;
constexpr uint32_t kDefaultRxCdp = 1;
constexpr uint32_t kDefaultTxCdp = 3;
constexpr size_t kMacTextSize = 18;  // 17 characters and the terminator
constexpr size_t kOuiTextSize = 9;
constexpr char kDefaultLogName[] = "lldp%y%m.log";
constexpr char kMedPolicyKeys[8][11] = {"MedPolicy0", "MedPolicy1", "MedPolicy2", "MedPolicy3",
                                        "MedPolicy4", "MedPolicy5", "MedPolicy6", "MedPolicy7"};

// `count` hexadecimal numbers separated by exactly `separator`; text after the last
// one is ignored. Stores the low byte of each, and only when all were read.
bool ParseHexGroups(std::string_view text, char separator, size_t count, uint8_t* out) {
  uint8_t bytes[6];
  size_t pos = 0;
  for (size_t i = 0; i < count; ++i) {
    if (i > 0) {
      if (pos >= text.size() || text[pos] != separator) return false;
      ++pos;
    }
    uint32_t v;
    if (!ScanNumber(text, pos, 16, v)) return false;
    bytes[i] = static_cast<uint8_t>(v);
  }
  std::memcpy(out, bytes, count);
  return true;
}

bool IsAsciiLetterOrDigit(uint8_t c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool IsSuitableInterface(const InterfaceEntry& e) {
  if (e.ifAdminStatus == 0 || e.ifOperStatus == 0) return false;
  if (e.ifType != 6 && e.ifType != 71) return false;
  if (e.ifPhysAddrLen != 6) return false;
  for (int i = 0; i < 6; ++i)
    if (e.ifPhysAddress[i]) return true;
  return false;
}

// What ComputeChassisId decided, applied to the record under the settings lock.
struct ChassisChoice {
  uint32_t subtype = 7;
  std::optional<IdField> id;     // empty: keep the previous chassis ID
  std::optional<bool> pending;   // empty: leave chassisIdPending as it is
};

ChassisChoice ChooseChassisId(const AgentSettings& s, SystemFacts& facts, const InterfaceLists& lists) {
  ChassisChoice choice;
  IdField id{};
  const InterfaceTable& ifs = lists.interfaces;
  const uint32_t ifCount = ifs.count < kMaxInterfaces ? ifs.count : kMaxInterfaces;

  if (s.txCname == 1) {
    std::string_view name = FieldText(s.systemName);
    id.length = static_cast<uint8_t>(name.size());  // at most 63 of 67
    std::memcpy(id.bytes, name.data(), name.size());
    choice.id = id;
    return choice;
  }
  if (s.txCname == 2 || s.txCname == 3) {
    for (uint32_t i = 0; i < ifCount; ++i) {
      const InterfaceEntry& e = ifs.entries[i];
      if (!IsSuitableInterface(e)) continue;
      if (s.txCname == 2) {
        choice.subtype = 4;
        id.length = 6;
        std::memcpy(id.bytes, e.ifPhysAddress, 6);
      } else {
        Ipv4 address = AddressOfInterface(lists.addresses, e.ifIndex);
        if (address == 0) continue;
        choice.subtype = 5;
        id.length = 5;
        id.bytes[0] = 1;  // address family: IPv4
        std::memcpy(id.bytes + 1, &address, 4);  // already in network order
      }
      choice.id = id;
      choice.pending = false;
      return choice;
    }
    // Nothing up yet (the interface table may still be empty at start-up): use the
    // volume-derived ID for now and let the port cycle try again.
    choice.pending = true;
  }

  std::optional<uint32_t> serial = facts.VolumeSerial();
  if (!serial) return choice;  // subtype 7, previous content kept
  id.length = 8;
  for (int i = 0; i < 4; ++i) {
    uint8_t b = static_cast<uint8_t>(*serial >> (8 * i));
    // 41 is odd, so the steps visit all 256 values and always reach a letter or digit.
    while (!IsAsciiLetterOrDigit(b)) b = static_cast<uint8_t>(b + 41);
    id.bytes[i] = b;
  }
  std::memcpy(id.bytes + 4, "vxqz", 4);
  choice.id = id;
  return choice;
}

void ApplyChassisChoice(const ChassisChoice& choice, AgentSettings& a, SettingsStore& store) {
  a.chassisIdSubtype = choice.subtype;
  if (choice.id) a.chassisId = *choice.id;
  if (choice.pending) store.chassisIdPending = *choice.pending;
}

// "Linux %u.%u" from a kernel release such as "6.1.0-18-amd64".
std::string OsVersionText(std::string_view release) {
  uint32_t major = 0, minor = 0;
  size_t pos = 0;
  if (ScanNumber(release, pos, 10, major) && pos < release.size() && release[pos] == '.') {
    ++pos;
    if (!ScanNumber(release, pos, 10, minor)) minor = 0;
  }
  return "Linux " + std::to_string(major) + "." + std::to_string(minor);
}

IniEdit NumberEdit(std::string_view key, uint32_t value, uint32_t def) {
  if (value == def) return IniEdit{std::string(key), std::nullopt};
  return IniEdit{std::string(key), std::to_string(value)};
}

}  // namespace

std::string SettingsFileName(const OutsideSettings& outside, std::string_view section) {
  std::string name(FieldText(outside.moduleDirectory));
  name += section;
  name += ".ini";
  return name;
}

void LoadSettings(SettingsStore& store, SettingsHost& host, const InterfaceLists& lists,
                  std::string_view section) {
  const OutsideSettings before = store.GetOutside();
  const std::string moduleDirectory(FieldText(before.moduleDirectory));
  // One read of the file: every key comes from the same version of it, and a file
  // that cannot be read gives the defaults as a missing one does.
  const std::string text = host.profile.Load(SettingsFileName(before, section)).value_or("");
  auto num = [&](std::string_view key, uint32_t def) { return IniGetInt(text, section, key, def); };
  auto str = [&](std::string_view key, std::string_view def, size_t size) {
    return IniGetString(text, section, key, def, size);
  };

  AgentSettings s = store.Get();
  s.txInterval = num("txInterval", kDefaultTxInterval);
  s.txHoldMultiplier = num("txHoldMultiplier", kDefaultTxHoldMultiplier);
  s.ReinitDelay = num("ReinitDelay", 2);
  s.txDelay = num("txDelay", 2);
  s.NotificationInterval = num("NotificationInterval", 5);
  s.CapSupported = num("CapSupported", 128);
  s.CapEnabled = num("CapEnabled", 128);
  s.txCname = num("txCname", 0);
  s.txPname = num("txPname", 0);
  s.txPIDname = num("txPIDname", 0);
  std::memset(s.txMcast, 0, sizeof s.txMcast);
  ParseMacText(str("txMcast", "", kMacTextSize), s.txMcast);
  std::memset(s.txBcSrc, 0, sizeof s.txBcSrc);
  ParseMacText(str("txBcSrc", "", kMacTextSize), s.txBcSrc);
  s.MedFastStartRepeatCount = static_cast<uint8_t>(num("MedFastStartRepeatCount", 4));
  s.MedDevType = static_cast<uint8_t>(num("MedDevType", 0));
  std::memset(s.reserved1, 0, sizeof s.reserved1);
  for (int i = 0; i < 8; ++i) s.MedPolicy[i] = num(kMedPolicyKeys[i], kPolicyNotSet);
  s.reserved2 = 0;
  s.MedPowerState = static_cast<uint8_t>(num("MedPowerState", 0));
  s.MedPowerValue = static_cast<uint16_t>(num("MedPowerValue", 0));
  const uint32_t txLLDP = num("txLLDP", 1);
  const uint32_t rxLLDP = num("rxLLDP", 1);
  s.adminStatusDefault = txLLDP | (rxLLDP ? 2u : 0u);
  s.txCdp = num("txCdp", kDefaultTxCdp);
  s.rxCdp = num("rxCdp", kDefaultRxCdp);
  s.ioctl = num("ioctl", 7);
  s.Duplex = num("Duplex", 1);
  s.ieee80211 = num("ieee80211", 71);
  s.Packet = num("Packet", 0);
  std::memset(s.rxOui, 0, sizeof s.rxOui);
  ParseOuiText(str("rxOui", "", kOuiTextSize), s.rxOui);
  const uint32_t bugFilter = num("BugFilter", 1);
  uint32_t nameFormat = num("nameFormat", 0);
  s.Log = num("Log", 0);
  CopyText(s.Directory, str("Directory", moduleDirectory, sizeof s.Directory));
  const std::string logName = str("LogName", kDefaultLogName, sizeof before.LogName);
  const uint32_t maxNeighbors = num("MaxNeighbors", 1024);
  // The neighbour table keeps its own counters; the record here never holds them.
  s.remTablesLastChange = s.remTablesInserts = s.remTablesDeletes = 0;
  s.remTablesDrops = s.remTablesAgeouts = 0;

  s.txInterval = (s.txInterval + 9) / 10 * 10;  // unsigned: a wrapped sum gives 0 too
  if (s.txInterval == 0) s.txInterval = kDefaultTxInterval;
  if (nameFormat > 7) nameFormat = 0;
  CopyText(s.systemName, host.facts.HostName(nameFormat));
  const ChassisChoice chassis = ChooseChassisId(s, host.facts, lists);

  std::string description = host.facts.CpuModel();
  if (!description.empty()) description += " - ";
  description += host.facts.OsName();
  const std::string kernel = host.facts.KernelRelease();
  if (!kernel.empty()) description += " " + kernel;
  CopyText(s.systemDescription, description);
  const std::string osVersion = OsVersionText(kernel);

  store.Update([&](AgentSettings& a, OutsideSettings& o) {
    const IdField previous = a.chassisId;
    a = s;
    a.chassisId = previous;
    ApplyChassisChoice(chassis, a, store);
    o.BugFilter = bugFilter;
    o.nameFormat = nameFormat;
    CopyText(o.LogName, logName);
    CopyText(o.osVersionText, osVersion);
    o.MaxNeighbors = maxNeighbors;
    // moduleDirectory belongs to the worker, which sets it before the first load.
  });
}

int SaveSettings(const AgentSettings& settings, const OutsideSettings& outside, Profile& profile,
                 std::string_view section) {
  std::vector<IniEdit> edits;
  auto number = [&](std::string_view key, uint32_t value, uint32_t def) {
    edits.push_back(NumberEdit(key, value, def));
  };
  number("txInterval", settings.txInterval, kDefaultTxInterval);
  number("txHoldMultiplier", settings.txHoldMultiplier, kDefaultTxHoldMultiplier);
  number("txCname", settings.txCname, 0);
  number("txPname", settings.txPname, 0);
  number("txPIDname", settings.txPIDname, 0);
  if (IsAllZero(settings.txMcast, 6)) edits.push_back({"txMcast", std::nullopt});
  else edits.push_back({"txMcast", FormatMac(settings.txMcast)});
  number("MedDevType", settings.MedDevType, 0);
  for (int i = 0; i < 8; ++i) number(kMedPolicyKeys[i], settings.MedPolicy[i], kPolicyNotSet);
  number("rxCdp", settings.rxCdp, kDefaultRxCdp);
  number("txCdp", settings.txCdp, kDefaultTxCdp);
  number("Log", settings.Log, 0);
  std::string_view directory = FieldText(settings.Directory);
  if (directory == FieldText(outside.moduleDirectory)) edits.push_back({"Directory", std::nullopt});
  else edits.push_back({"Directory", std::string(directory)});
  return profile.Write(SettingsFileName(outside, section), section, edits) ? 1 : 0;
}

int WriteIniNumber(Profile& profile, const std::string& file, std::string_view section,
                   std::string_view key, uint32_t value, uint32_t def) {
  return profile.Write(file, section, {NumberEdit(key, value, def)}) ? 1 : 0;
}

int ParseMacText(std::string_view text, uint8_t out[6]) {
  return ParseHexGroups(text, ':', 6, out) || ParseHexGroups(text, '-', 6, out) ? 1 : 0;
}

int ParseOuiText(std::string_view text, uint8_t out[3]) {
  return ParseHexGroups(text, ':', 3, out) || ParseHexGroups(text, '-', 3, out) ? 1 : 0;
}

void ComputeChassisId(SettingsStore& store, SystemFacts& facts, const InterfaceLists& lists) {
  const AgentSettings basis = store.Get();
  const ChassisChoice chassis = ChooseChassisId(basis, facts, lists);
  store.Update([&](AgentSettings& a, OutsideSettings&) {
    // A reload that came in meanwhile has computed the ID from newer settings.
    if (a.txCname != basis.txCname || FieldText(a.systemName) != FieldText(basis.systemName)) return;
    ApplyChassisChoice(chassis, a, store);
  });
}

}  // namespace torvane
