#include "agent/link/linux_link_layer.h"

#include <vector>

#include "agent/link/adapter_discovery.h"
#include "agent/link/adapter_queries.h"
#include "agent/link/packet_socket.h"

namespace torvane {

LinuxLinkLayer::LinuxLinkLayer(const LinkContext& context, FrameDispatcher& dispatcher)
    : LinuxLinkLayer(context, dispatcher, MakeLinuxNetHost()) {}

LinuxLinkLayer::LinuxLinkLayer(const LinkContext& context, FrameDispatcher& dispatcher,
                               std::unique_ptr<NetHost> host)
    : context_(context), host_(std::move(host)), trace_(context.trace) {
  auto loadLibrary = [this]() -> std::unique_ptr<PacketBackend> {
    if (!pcap_.Load()) return nullptr;
    return MakePcapBackend(pcap_);
  };
  driver_ = std::make_unique<PacketDriver>(context_.settings, context_.usePacketLibrary, *host_,
                                           trace_, dispatcher, working_.interfaces,
                                           MakePacketSocketBackend(), loadLibrary);
}

LinuxLinkLayer::~LinuxLinkLayer() {
  for (Port& port : context_.ports.ports)
    if (port.link) driver_->ClosePort(port);
}

bool LinuxLinkLayer::StartPacketDriver() { return driver_->StartPacketDriver() != 0; }
void LinuxLinkLayer::StopPacketDriver() { driver_->StopPacketDriver(); }
bool LinuxLinkLayer::LoadPacketLibrary() { return driver_->LoadPacketLibrary() != 0; }

uint32_t LinuxLinkLayer::DiscoverAdapters(PortTable& table, uint32_t count, uint8_t*, size_t) {
  if (context_.usePacketLibrary) {
    std::vector<LibraryAdapter> adapters;
    PcapAdapterList(pcap_, adapters);
    return torvane::DiscoverAdapters(*host_, trace_, table, count, adapters);
  }
  return torvane::DiscoverAdapters(*host_, trace_, table, count);
}

bool LinuxLinkLayer::LoadInterfaceLists() {
  return torvane::LoadInterfaceLists(*host_, trace_, context_.registry, working_,
                                     &context_.lists);
}

bool LinuxLinkLayer::RefreshConnectionName(Port& port) {
  driver_->ReapFailedPort(port);
  return torvane::RefreshConnectionName(*host_, port);
}

bool LinuxLinkLayer::MatchInterface(Port& port, uint32_t* entryIndex) {
  return torvane::MatchInterface(working_.interfaces, port, entryIndex);
}

bool LinuxLinkLayer::RefreshFromInterface(Port& port) {
  return torvane::RefreshFromInterface(working_.interfaces, port);
}

bool LinuxLinkLayer::AdapterAddressChanged(Port& port) {
  return torvane::InterfaceAddressChanged(working_.interfaces, port);
}

void LinuxLinkLayer::QueryLinkFacts(Port& port) {
  QueryPath q{*driver_, trace_};
  RefreshLinkFacts(q, *host_, port);
}

bool LinuxLinkLayer::IsAdapterOpen(const Port& port) { return driver_->IsAdapterOpen(port); }

bool LinuxLinkLayer::OpenPort(Port& port, uint32_t multicastMode, const uint8_t* addressList,
                              size_t listLength) {
  return driver_->OpenPort(port, multicastMode, addressList, listLength) != kOpenFailed;
}

bool LinuxLinkLayer::SendFrame(Port& port, const uint8_t* frame, size_t length) {
  return driver_->SendFrame(port, frame, length) != 0;
}

void LinuxLinkLayer::ClosePort(Port& port) { driver_->ClosePort(port); }
void LinuxLinkLayer::CloseAllPorts(PortTable& table) { driver_->CloseAllPorts(table); }

}  // namespace torvane
