#include "tests/support/runtime/fake_link.h"

namespace torvane {

bool FakeLinkLayer::StartPacketDriver() {
  ++driverStartCalls;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    openAtDriverStart += static_cast<uint32_t>(open_.size());
  }
  return driverStarts;
}

void FakeLinkLayer::StopPacketDriver() { ++driverStops; }

bool FakeLinkLayer::LoadPacketLibrary() {
  ++libraryLoadCalls;
  return libraryLoads;
}

uint32_t FakeLinkLayer::DiscoverAdapters(PortTable& table, uint32_t count, uint8_t*, size_t) {
  ++discoveries;
  for (const FakeAdapter& a : adapters) {
    if (!a.present) continue;
    bool known = false;
    for (uint32_t i = 0; i < count && !known; ++i) known = table[i].DeviceName() == a.deviceName;
    if (known || count >= kMaxPorts) continue;
    Port& p = table[count];
    p.number = count + 1;
    p.SetDeviceName(a.deviceName);
    p.SetDescription(a.description);
    p.macAddress.store(a.mac);
    p.ifIndex = a.ifIndex;
    ++count;
  }
  return count;
}

bool FakeLinkLayer::LoadInterfaceLists() {
  if (lists_) lists_->Publish(tables);
  return true;
}

const FakeAdapter* FakeLinkLayer::Find(const Port& port) const {
  std::string name = port.DeviceName();
  for (const FakeAdapter& a : adapters)
    if (a.deviceName == name) return &a;
  return nullptr;
}

FakeAdapter* FakeLinkLayer::Adapter(const std::string& deviceName) {
  for (FakeAdapter& a : adapters)
    if (a.deviceName == deviceName) return &a;
  return nullptr;
}

bool FakeLinkLayer::RefreshConnectionName(Port& port) {
  const FakeAdapter* a = Find(port);
  if (!a || !a->present) return false;
  port.SetConnectionName(a->connectionName);
  return true;
}

bool FakeLinkLayer::MatchInterface(Port& port, uint32_t* entryIndex) {
  ++matches;
  const FakeAdapter* a = Find(port);
  if (!a) return false;
  port.ifIndex = a->ifIndex;
  if (entryIndex) *entryIndex = 0;
  return true;
}

bool FakeLinkLayer::RefreshFromInterface(Port& port) {
  const FakeAdapter* a = Find(port);
  if (!a) return false;
  if (IsAdapterOpen(port)) port.linkStatus = a->linkStatus;
  return a->hasInterfaceRow;
}

void FakeLinkLayer::QueryLinkFacts(Port&) { ++linkQueries; }

bool FakeLinkLayer::AdapterAddressChanged(Port& port) {
  const FakeAdapter* a = Find(port);
  return a && !port.macAddress.zero() && port.macAddress.load() != a->mac;
}

bool FakeLinkLayer::IsAdapterOpen(const Port& port) {
  std::lock_guard<std::mutex> lock(mutex_);
  return open_.count(&port) != 0;
}

bool FakeLinkLayer::OpenPort(Port& port, uint32_t multicastMode, const uint8_t* addressList,
                             size_t listLength) {
  ++opens;
  lastMulticastMode = multicastMode;
  lastAddressList.assign(addressList, addressList + listLength);
  const FakeAdapter* a = Find(port);
  if (!a || a->failOpen) return false;
  port.state = a->openState;
  if (a->openState == kPortUnusable) return false;
  if (port.macAddress.zero()) port.macAddress.store(a->mac);
  port.linkStatus = a->linkStatus;
  std::lock_guard<std::mutex> lock(mutex_);
  open_.insert(&port);
  return true;
}

bool FakeLinkLayer::SendFrame(Port& port, const uint8_t* frame, size_t length) {
  const FakeAdapter* a = Find(port);
  if (!a || a->sendFails) {
    ++port.sendFailures;
    return false;
  }
  SentFrame f;
  f.port = port.number;
  f.bytes.assign(frame, frame + length);
  f.time = clock_.Now();
  f.pass = clock_.Waits() + 1;
  std::lock_guard<std::mutex> lock(mutex_);
  frames_.push_back(std::move(f));
  return true;
}

void FakeLinkLayer::ClosePort(Port& port) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    open_.erase(&port);
  }
  port.state = kPortClosed;
}

void FakeLinkLayer::CloseAllPorts(PortTable& table) {
  ++closeAlls;
  for (auto& p : table.ports) ClosePort(p);
}

std::vector<SentFrame> FakeLinkLayer::Frames() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return frames_;
}

}  // namespace torvane
