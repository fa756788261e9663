#include "agent/store/frame_dispatch.h"

#include <array>
#include <cstring>

#include "agent/frames/cdp_parser.h"
#include "agent/frames/lldp_parser.h"
#include "agent/frames/wire_format.h"
#include "common/bytes.h"
#include "common/mac.h"
#include "common/text.h"

namespace torvane {

namespace {

// True when the frame holds `expect` at `offset`.
template <size_t N>
bool BytesAt(const uint8_t* frame, size_t length, size_t offset, const std::array<uint8_t, N>& expect) {
  ByteReader in(frame, length);
  if (!in.skip(offset)) return false;
  auto got = in.bytes(N);
  return got.size() == N && std::memcmp(got.data(), expect.data(), N) == 0;
}

bool IsAddressedTo(const uint8_t* frame, const std::array<uint8_t, 6>& group) {
  return std::memcmp(frame, group.data(), group.size()) == 0;
}

bool IsOwnAddress(const PortTable& ports, const uint8_t* source) {
  uint32_t count = ports.portCount.load(std::memory_order_relaxed);
  if (count > kMaxPorts) count = kMaxPorts;
  for (uint32_t i = 0; i < count; ++i)
    if (ports[i].macAddress.equals(source)) return true;
  return false;
}

}  // namespace

void FrameDispatch::DispatchFrame(Port& port, const uint8_t* frame, size_t length) {
  if (!frame || length < kEthernetHeaderSize) return;
  const uint8_t* source = frame + 6;
  // Our own frames come back through loops and through other ports on the same
  // segment.
  if (IsOwnAddress(parts_.ports, source)) return;
  if (port.linkStatus.load(std::memory_order_relaxed) != kLinkConnected) return;

  const AgentSettings settings = parts_.settings.Get();
  if (!IsAllZero(settings.rxOui, 3) && std::memcmp(source, settings.rxOui, 3) != 0) return;
  const uint32_t now = parts_.clock.Now();

  if (((frame[kEtherTypeOffset] << 8) | frame[kEtherTypeOffset + 1]) == kEtherTypeLldp) {
    bool wanted = IsAddressedTo(frame, kLldpNearestBridge) || IsAddressedTo(frame, kBroadcastMac) ||
                  (!IsAllZero(settings.txMcast, 6) && std::memcmp(frame, settings.txMcast, 6) == 0);
    if (!wanted) return;
    if ((port.adminStatus.load(std::memory_order_relaxed) & 2) == 0) return;
    Receive(port, frame, length, now, kNeighborLldp, settings);
    return;
  }

  if (!IsAddressedTo(frame, kCdpMulticast)) return;
  if (settings.rxCdp == 0) return;
  if (length < 24) return;
  ByteReader header(frame, length);
  header.skip(kCdpLengthOffset);
  const uint16_t l8023 = header.u16be();
  if (l8023 <= kIeee8023MaxPayload && length >= size_t{l8023} + kEthernetHeaderSize) {
    // Plain IEEE 802.3 with LLC/SNAP.
    if (!BytesAt(frame, length, kLlcSnapOffset, kCdpLlcSnap)) return;
    port.cdpSeen = now;
    Receive(port, frame, size_t{l8023} + kEthernetHeaderSize, now, kNeighborCdp, settings);
    return;
  }

  // Some wireless adapters deliver CDP with a second SNAP header in front and the
  // outer length least significant byte first. The CDP frame is rebuilt from the
  // address bytes and the inner frame, and only from bytes that were received.
  if (!BytesAt(frame, length, kLlcSnapOffset, kSnapStart)) return;
  // Behind the extra 6-octet header: the inner 802.3 length, then its LLC/SNAP.
  constexpr size_t kInnerLengthOffset = 20;
  constexpr size_t kInnerSnapOffset = 22;
  ByteReader inner(frame, length);
  inner.skip(kInnerLengthOffset);
  const uint16_t l2 = inner.u16be();
  if (!inner.ok() || l2 > kIeee8023MaxPayload || length < size_t{l2} + kInnerSnapOffset) return;
  const uint16_t outer = static_cast<uint16_t>(frame[12] | (frame[13] << 8));
  if (outer != l2 + 8) return;
  if (!BytesAt(frame, length, kInnerSnapOffset, kCdpLlcSnap)) return;
  uint8_t rebuilt[kMaxCapturedFrame];
  const size_t cdpLength = size_t{l2} + kEthernetHeaderSize;
  static_assert(kIeee8023MaxPayload + kEthernetHeaderSize <= kMaxCapturedFrame);
  std::memcpy(rebuilt, frame, kCdpLengthOffset);
  // l2 + 2 <= length - kInnerLengthOffset
  std::memcpy(rebuilt + kCdpLengthOffset, frame + kInnerLengthOffset, cdpLength - kCdpLengthOffset);
  port.cdpSeen = now;
  Receive(port, rebuilt, cdpLength, now, kNeighborCdp, settings);
}

void FrameDispatch::Receive(Port& port, const uint8_t* frame, size_t length, uint32_t now,
                            int kind, const AgentSettings& settings) {
  auto lists = parts_.lists.Get();
  ParseContext context;
  context.settings = &settings;
  context.addresses = &lists->addresses;
  ReceivingPort receiving;
  receiving.number = port.number.load(std::memory_order_relaxed);
  receiving.ifIndex = port.ifIndex.load(std::memory_order_relaxed);
  bool named = false;  // the connection name is copied only for a frame that is parsed
  // Whatever becomes of the record, what the frame said about the port counts.
  auto parse = [&](Neighbor& record) {
    if (!named) port.CopyConnectionName(receiving.interfaceName);
    named = true;
    ParseNotes notes;
    ParseResult result =
        kind == kNeighborCdp
            ? ParseCdpFrame(receiving, record, frame, length, now, context, &notes)
            : ParseLldpFrame(receiving, record, frame, length, now, context, &notes);
    ApplyNotes(port, notes, frame, length, now, settings);
    return result;
  };

  NeighborTable& table = parts_.table;
  const uint32_t number = receiving.number;
  const uint8_t* source = frame + 6;
  size_t maxNeighbors = 0;
  uint64_t removeHandle = 0;
  {
    std::lock_guard<std::mutex> lock(table.tableLock);
    Neighbor* known = table.FindNeighbor(number, source);
    if (known) {
      // A known neighbour is refreshed in place, under the lock, so that aging
      // and pipe readers never see it half written or freed. Among thousands of
      // neighbours the record is rarely in cache: ask for all of it at once
      // rather than line by line as the parser reaches each field.
      const char* bytes = reinterpret_cast<const char*>(known);
      for (size_t at = 0; at < sizeof(Neighbor); at += 64) __builtin_prefetch(bytes + at, 1);
      __builtin_prefetch(bytes + sizeof(Neighbor) - 1, 1);  // records need not start on a line
      ParseResult result = parse(*known);
      if (result == kParseRemove) {
        removeHandle = known->selfHandle;
      } else {
        if (known->lastUpdate < now) table.CountDropLocked();
        return;
      }
    } else {
      // A full port takes no new sender: dropped before anything is parsed or
      // logged, so a flood of invented addresses cannot grow the table.
      maxNeighbors = parts_.settings.GetOutside().MaxNeighbors;
      if (table.PortNeighborCount(number) >= maxNeighbors) {
        table.CountDropLocked();
        return;
      }
    }
  }
  if (removeHandle) {
    table.RemoveNeighbor(removeHandle);
    return;
  }

  Neighbor fresh{};
  switch (parse(fresh)) {
    case kParseStored:
      if (!table.InsertNeighbor(fresh, kind, maxNeighbors)) table.CountDrop();
      break;
    case kParseMalformed:
      table.CountDrop();
      break;
    case kParseRemove:  // a shutdown frame from a sender we never stored
      break;
  }
}

void FrameDispatch::ApplyNotes(Port& port, const ParseNotes& notes, const uint8_t* frame,
                               size_t length, uint32_t now, const AgentSettings& settings) {
  if (notes.cdpChecksum != 0 && parts_.trace.Enabled()) {
    parts_.trace.WriteAlways(FormatText("cdp version %u, packet %u checksum errror %x\n",
                                        frame[kCdpPduOffset],
                                        static_cast<unsigned>(length - kCdpPduOffset),
                                        notes.cdpChecksum));
  }
  if (notes.medEndpointHeard) {
    // The first time an endpoint is heard, fast start begins with a cycle at once.
    // Everything the cycle reads is recorded before it is asked for, or it could
    // run without the LLDP-MED TLVs.
    const uint32_t before = port.medEndpointSeen.exchange(now);
    if (before == 0) {
      port.medActive = 1;
      port.fastStartCount = settings.MedFastStartRepeatCount;
      parts_.cycles.RunCycleNow();
    }
  }
}

}  // namespace torvane
