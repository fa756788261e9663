#include "tests/support/store/receive_rig.h"

#include <stdlib.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>

#include "common/text.h"
#include "tests/support/frames/port_fixture.h"
#include "tests/support/frames/settings_fixture.h"

namespace torvane::nbrtest {

namespace {

// A ready, connected port with the given facts.
void FillPortFrom(Port& port, const PortFacts& f) {
  port.Reset();
  port.number = 1;
  port.SetDeviceName(f.connectionName);
  port.SetDescription(f.description);
  port.SetConnectionName(f.connectionName);
  port.macAddress.store(f.mac);
  port.adminStatus = f.adminStatus;
  port.tlvsTxEnable = f.tlvsTxEnable;
  port.linkSpeed = f.linkSpeed;
  port.duplex = f.duplex;
  port.autoNeg = f.autoNeg;
  port.maxFrameSize = f.maxFrameSize;
  port.mediaSupported = 1;
  port.ifType = f.ifType;
  port.state = kPortReady;
  port.linkStatus = kLinkConnected;
  port.ifIndex = f.ifIndex;
}

}  // namespace

bool FixedZoneFacts::LocalTime(time_t t, std::tm& out, long& gmtoffSeconds) {
  time_t shifted = t + offset;
  if (!gmtime_r(&shifted, &out)) return false;
  out.tm_isdst = 0;
  gmtoffSeconds = offset;
  return true;
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "nbrtestXXXXXX").string();
  char* made = mkdtemp(pattern.data());
  path_ = made ? std::filesystem::path(made) : std::filesystem::path();
}

TempDir::~TempDir() {
  std::error_code ec;
  if (!path_.empty()) std::filesystem::remove_all(path_, ec);
}

std::string ReadFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> FileNames(const std::filesystem::path& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dir, ec))
    if (entry.is_regular_file()) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}


// ---- the receive side ----

ReceiveRig::ReceiveRig(uint32_t ports, long zoneOffset, bool keepTrace)
    : facts(zoneOffset), trace(keepTrace ? static_cast<Console&>(console) : dropped, logLock, debugLevel) {
  settings.Update([](AgentSettings& s, OutsideSettings& o) {
    s = DefaultSettingsForTest();
    CopyText(o.LogName, "lldp%y%m.log");
    o.MaxNeighbors = 1024;
  });
  InterfaceLists l;
  for (uint32_t i = 0; i < ports; ++i) {
    Port& p = portTable[i];
    FillPortFrom(p, GigabitPortFacts());
    p.number = i + 1;
    p.ifIndex = 2 + i;
    p.SetConnectionName("eth" + std::to_string(i));
    p.macAddress.store(Mac{0x00, 0x11, 0x22, 0x33, 0x44, static_cast<uint8_t>(0x50 + i)});
    AddAddress(l.addresses, 2 + i, MakeIpv4(192, 168, static_cast<uint8_t>(1 + i), 10));
  }
  // A second subnet on the first port: the management address decides which of
  // the two is this host's address toward the neighbour.
  AddAddress(l.addresses, 2, MakeIpv4(10, 1, 0, 10));
  portTable.portCount = ports;
  lists.Publish(l);
  log = std::make_unique<EventLog>(settings, facts, clock, logLock);
  table = std::make_unique<NeighborTable>(*log, clock);
  dispatch = std::make_unique<FrameDispatch>(
      DispatchParts{portTable, settings, lists, *table, clock, cycles, trace});
}

ReceiveRig::~ReceiveRig() = default;

void ReceiveRig::Dispatch(const Bytes& frame, size_t portIndex) {
  auto exact = std::make_unique<uint8_t[]>(frame.size() ? frame.size() : 1);
  if (!frame.empty()) std::memcpy(exact.get(), frame.data(), frame.size());
  dispatch->DispatchFrame(portTable[portIndex], exact.get(), frame.size());
}

std::optional<Neighbor> ReceiveRig::Find(size_t portIndex, const uint8_t mac[6]) {
  std::lock_guard<std::mutex> lock(table->tableLock);
  Neighbor* r = table->FindNeighbor(portTable[portIndex].number, mac);
  if (!r) return std::nullopt;
  return *r;
}

std::optional<Neighbor> ReceiveRig::Find(size_t portIndex, std::initializer_list<uint8_t> mac) {
  uint8_t m[6];
  std::copy(mac.begin(), mac.end(), m);
  return Find(portIndex, m);
}

void ReceiveRig::EnableLog() {
  logDir = std::make_unique<TempDir>();
  std::string dir = logDir->directory();
  settings.Update([&](AgentSettings& s, OutsideSettings&) {
    s.Log = 1;
    CopyText(s.Directory, dir);
  });
}

std::string ReceiveRig::LogText() {
  std::string text;
  if (!logDir) return text;
  for (const auto& name : FileNames(logDir->path())) text += ReadFile(logDir->path() / name);
  return text;
}

}  // namespace torvane::nbrtest
