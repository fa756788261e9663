#include "agent/store/pipe_handler.h"

#include <cstring>
#include <memory>
#include <string>

#include "platform/registry_values.h"
#include "records/pipe_records.h"
#include "records/text_forms.h"
#include "common/bytes.h"
#include "common/text.h"

namespace torvane {

namespace {

constexpr std::string_view kStoreSubkey = "lldp";
constexpr uint32_t kLoopback = 0x7F000001;  // 127.0.0.1 as a number
constexpr uint32_t kDefaultPortSwitches = 0xF003;  // all four TLVs, transmit and receive

// The request as received: code, length field, and a reader over the data bytes
// that were actually sent.
struct Request {
  uint32_t code = 0;
  uint32_t lengthField = 0;
  ByteReader data;
};

size_t StatusOnly(uint8_t* message, uint32_t status) {
  ByteWriter w(message, kPipeStatusOnlySize);
  w.u32le(status);
  return kPipeStatusOnlySize;
}

size_t DataReply(uint8_t* message, const void* data, size_t size) {
  ByteWriter w(message, kPipeMessageMax);
  w.u32le(kPipeDone);
  w.u32le(static_cast<uint32_t>(size));
  w.bytes(data, size);
  return w.size();
}

uint32_t AsNumber(const uint8_t address[4]) {
  return (uint32_t{address[0]} << 24) | (uint32_t{address[1]} << 16) | (uint32_t{address[2]} << 8) |
         uint32_t{address[3]};
}
uint32_t AsNumber(Ipv4 address) {
  uint8_t b[4];
  std::memcpy(b, &address, 4);
  return AsNumber(b);
}

uint32_t PortCount(const PortTable& ports) {
  uint32_t n = ports.portCount.load();
  return n < kMaxPorts ? n : static_cast<uint32_t>(kMaxPorts);
}

bool IsEndpointType(uint8_t medDevType) { return medDevType >= 1 && medDevType <= 3; }

// An address entry as the pipe returns it: the ifIndex slot names the port.
size_t AddressReply(const PortTable& ports, uint8_t* message, const AddressEntry& entry) {
  AddressEntry out = entry;
  out.ifIndex = 0;
  for (uint32_t i = 0; i < PortCount(ports); ++i) {
    if (ports[i].ifIndex.load() == entry.ifIndex) {
      out.ifIndex = ports[i].number.load();
      break;
    }
  }
  return DataReply(message, &out, sizeof out);
}

// The directory text must end inside its field and hold no control character,
// since it becomes a line of lldp.ini and the log's path.
bool DirectoryAcceptable(const AgentSettings& block) {
  const char* field = block.Directory;
  const void* nul = std::memchr(field, 0, sizeof block.Directory);
  if (!nul) return false;
  for (const char* p = field; p != nul; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (c < 0x20 || c == 0x7F) return false;
  }
  return true;
}

size_t GetSettings(PipeState& s, uint8_t* message) {
  AgentSettings block = s.settings.Get();
  s.table.FillCounters(block);
  return DataReply(message, &block, sizeof block);
}

size_t SetSettings(PipeState& s, Request& req, uint8_t* message) {
  if (req.lengthField != kSettingsImageSize) return StatusOnly(message, kPipeNoWriteRight);
  AgentSettings block;
  if (!req.data.copy(&block, sizeof block)) return StatusOnly(message, kPipeNoWriteRight);
  if (!DirectoryAcceptable(block)) return StatusOnly(message, kPipeNoWriteRight);

  const bool wasEndpoint = IsEndpointType(s.settings.Get().MedDevType);
  // Only the changeable keys go to lldp.ini; the reload derives the chassis ID,
  // the system name and description itself, so a client cannot set them.
  if (!s.settingsFile.SaveSettings(block)) return StatusOnly(message, kPipeNoWriteRight);
  s.settingsFile.ReloadSettings();

  const AgentSettings now = s.settings.Get();
  const bool isEndpoint = IsEndpointType(now.MedDevType);
  const uint32_t count = PortCount(s.ports);
  for (uint32_t i = 0; i < count; ++i) s.ports[i].medActive = isEndpoint ? 1 : 0;
  if (!wasEndpoint && isEndpoint) {
    // LLDP-MED just came on: fast start on every port, and a cycle right away.
    for (uint32_t i = 0; i < count; ++i) s.ports[i].fastStartCount = now.MedFastStartRepeatCount;
    s.cycles.RunCycleNow();
  }
  return StatusOnly(message, kPipeDone);
}

size_t GetAddress(PipeState& s, Request& req, uint8_t* message) {
  uint8_t wanted[4];
  if (!req.data.copy(wanted, 4)) return StatusOnly(message, kPipeGetAddress);
  auto lists = s.lists.Get();
  const AddressTable& table = lists->addresses;
  const uint32_t count = table.count < kMaxAddresses ? table.count : static_cast<uint32_t>(kMaxAddresses);
  for (uint32_t i = 0; i < count; ++i) {
    if (std::memcmp(&table.entries[i].address, wanted, 4) == 0)
      return AddressReply(s.ports, message, table.entries[i]);
  }
  return StatusOnly(message, kPipeDone);
}

size_t NextAddress(PipeState& s, Request& req, uint8_t* message) {
  uint8_t after[4];
  if (!req.data.copy(after, 4)) return StatusOnly(message, kPipeNextAddress);
  const uint32_t floor = AsNumber(after);
  auto lists = s.lists.Get();
  const AddressTable& table = lists->addresses;
  const uint32_t count = table.count < kMaxAddresses ? table.count : static_cast<uint32_t>(kMaxAddresses);
  const AddressEntry* best = nullptr;
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t a = AsNumber(table.entries[i].address);
    if (a == kLoopback || a <= floor) continue;
    if (!best || a < AsNumber(best->address)) best = &table.entries[i];
  }
  if (!best) return StatusOnly(message, kPipeDone);
  return AddressReply(s.ports, message, *best);
}

size_t SetAddress(PipeState& s, Request& req, uint8_t* message) {
  AddressEntry entry;
  if (req.lengthField != kAddressEntrySize || !req.data.copy(&entry, sizeof entry) ||
      entry.portListLength > sizeof entry.portList)
    return StatusOnly(message, kPipeSetAddress);
  // One change of the published lists, taking turns with the worker's reloads,
  // which go on from it: the new list holds in the tables, in the frames and,
  // written with it, in the store for the next start.
  const bool changed = s.lists.Change([&](const InterfaceLists& current) {
    auto lists = std::make_shared<InterfaceLists>(current);
    AddressTable& table = lists->addresses;
    const uint32_t count =
        table.count < kMaxAddresses ? table.count : static_cast<uint32_t>(kMaxAddresses);
    AddressEntry* target = nullptr;
    for (uint32_t i = 0; i < count && !target; ++i)
      if (table.entries[i].address == entry.address) target = &table.entries[i];
    if (!target) return std::shared_ptr<InterfaceLists>();
    target->portListLength = entry.portListLength;
    std::memcpy(target->portList, entry.portList, sizeof entry.portList);
    for (uint32_t i = 0; i < count; ++i) {
      const AddressEntry& e = table.entries[i];
      uint8_t value[1 + sizeof e.portList];
      value[0] = e.portListLength;
      std::memcpy(value + 1, e.portList, sizeof e.portList);
      RegWriteValue(s.registry, kStoreSubkey, FormatIpv4(e.address), value, sizeof value);
    }
    return lists;
  });
  if (!changed) return StatusOnly(message, kPipeSetAddress);
  return StatusOnly(message, kPipeDone);
}

size_t NeighborReply(uint8_t* message, const Neighbor& record) {
  return DataReply(message, &record, sizeof record);
}

void SetPosition(Neighbor& record, uint32_t position) {
  record.selfHandle = (record.selfHandle & 0xFFFFFFFF00000000ull) | position;
}

void MoveAddressToFront(Neighbor& record, uint32_t index) {
  std::memcpy(record.manAddr[0], record.manAddr[index], 4);
  record.manAddrIfSubtype[0] = record.manAddrIfSubtype[index];
  record.manAddrIfNumber[0] = record.manAddrIfNumber[index];
}

uint32_t AddressCount(const Neighbor& record) {
  return record.manAddrCount < 8 ? record.manAddrCount : 8;
}

size_t GetNeighbor(PipeState& s, Request& req, uint8_t* message) {
  Neighbor record;
  int found;
  if (req.lengthField == 0) {
    found = s.table.CopyFirstNeighbor(record);
  } else {
    uint64_t handle = req.data.u64le();
    found = req.data.ok() ? s.table.CopyNeighbor(handle, record) : 0;
  }
  if (!found) return StatusOnly(message, kPipeDone);
  return NeighborReply(message, record);
}

size_t NeighborAt(PipeState& s, Request& req, uint8_t* message) {
  uint32_t position = req.data.u32le();
  const bool byAddress = req.lengthField == 8;
  uint8_t address[4] = {};
  if (byAddress) req.data.copy(address, 4);
  if (!req.data.ok()) return StatusOnly(message, kPipeNeighborAt);
  if (position == 0) position = 1;

  Neighbor record;
  bool found = false;
  {
    std::lock_guard<std::mutex> lock(s.table.tableLock);
    s.table.ForEachNeighborLocked([&](const Neighbor& r, uint32_t k) {
      if (k < position) return true;
      record = r;
      found = true;
      return false;
    });
  }
  if (!found) return StatusOnly(message, kPipeDone);
  if (byAddress) {
    bool held = false;
    for (uint32_t i = 0; i < AddressCount(record) && !held; ++i) {
      if (std::memcmp(record.manAddr[i], address, 4) == 0) {
        MoveAddressToFront(record, i);
        held = true;
      }
    }
    if (!held) return StatusOnly(message, kPipeDone);
  }
  SetPosition(record, position);
  return NeighborReply(message, record);
}

// The next neighbour after (time mark, port, position) in the order of the
// remote tables: by time mark, then port number, then list position, and within a
// neighbour by management address value.
size_t NextNeighbor(PipeState& s, Request& req, uint8_t* message) {
  const bool byAddress = req.lengthField == kCursorWithAddressSize;
  NeighborCursor c{};
  c.timeMark = req.data.u32le();
  c.port = req.data.u32le();
  c.position = req.data.u32le();
  c.timeBase = req.data.u32le();
  if (byAddress) req.data.copy(c.address, 4);
  if (!req.data.ok()) return StatusOnly(message, kPipeNextNeighbor);
  const uint32_t after = AsNumber(c.address);
  auto markOf = [&](const Neighbor& r) { return r.discovered < c.timeBase ? 0 : r.discovered - c.timeBase; };

  Neighbor answer;
  uint32_t answerPosition = 0;
  int answerAddress = -1;  // index of the matched management address
  {
    std::lock_guard<std::mutex> lock(s.table.tableLock);
    // The records stay valid while tableLock is held.
    const Neighbor* matched = nullptr;
    const Neighbor* nextPort = nullptr;
    const Neighbor* nextMark = nullptr;
    uint32_t matchedPos = 0, nextPortPos = 0, nextMarkPos = 0;
    s.table.ForEachNeighborLocked([&](const Neighbor& r, uint32_t k) {
      const uint32_t mark = markOf(r);
      if (mark == c.timeMark && r.localPort == c.port) {
        if (c.position < k) {
          matched = &r;
          matchedPos = k;
          return false;
        }
        if (k == c.position && byAddress) {
          int best = -1;
          for (uint32_t i = 0; i < AddressCount(r); ++i) {
            const uint32_t a = AsNumber(r.manAddr[i]);
            if (a > after && (best < 0 || a < AsNumber(r.manAddr[best]))) best = static_cast<int>(i);
          }
          if (best >= 0) {
            matched = &r;
            matchedPos = k;
            answerAddress = best;
            return false;
          }
        }
      } else if (mark == c.timeMark && r.localPort > c.port) {
        if (!nextPort || r.localPort < nextPort->localPort) {
          nextPort = &r;
          nextPortPos = k;
        }
      } else if (mark > c.timeMark) {
        if (!nextMark || mark < markOf(*nextMark) ||
            (mark == markOf(*nextMark) && r.localPort < nextMark->localPort)) {
          nextMark = &r;
          nextMarkPos = k;
        }
      }
      return true;
    });
    const Neighbor* chosen = matched ? matched : nextPort ? nextPort : nextMark;
    if (!chosen) return StatusOnly(message, kPipeDone);
    answer = *chosen;
    answerPosition = matched ? matchedPos : nextPort ? nextPortPos : nextMarkPos;
  }
  answer.discovered = markOf(answer);
  SetPosition(answer, answerPosition);
  if (answerAddress > 0) MoveAddressToFront(answer, static_cast<uint32_t>(answerAddress));
  return NeighborReply(message, answer);
}

size_t RemoveNeighborRequest(PipeState& s, Request& req, uint8_t* message) {
  if (req.lengthField == 0) return StatusOnly(message, kPipeRemoveNeighbor);
  uint64_t handle = req.data.u64le();
  if (!req.data.ok() || !s.table.RemoveNeighbor(handle)) return StatusOnly(message, kPipeRemoveNeighbor);
  return StatusOnly(message, kPipeDone);
}

size_t PortReply(PipeState& s, uint8_t* message, uint32_t number) {
  if (number == 0 || number > PortCount(s.ports)) return StatusOnly(message, kPipeDone);
  const Port& port = s.ports[number - 1];
  LocalPortRecord r{};
  r.number = number;
  r.adminStatus = port.adminStatus.load();
  r.always2 = 2;
  r.tlvsTxEnable = port.tlvsTxEnable.load();
  r.vlanId = port.vlanId.load();
  r.mauType = port.mauType.load();
  r.maxFrameSize = port.maxFrameSize.load();
  r.portIdSubtype = 3;
  r.portIdLength = 6;
  Mac mac = port.macAddress.load();
  std::memcpy(r.macAddress, mac.data(), 6);
  const bool byName = s.settings.Get().txPname != 0;
  CopyText(r.portDescription, byName ? port.ConnectionName() : port.Description());
  return DataReply(message, &r, sizeof r);
}

size_t GetPort(PipeState& s, Request& req, uint8_t* message, uint32_t step) {
  uint32_t number = req.data.u32le();
  if (!req.data.ok()) return StatusOnly(message, kPipeDone);
  if (number > 0xFFFFFFFFu - step) return StatusOnly(message, kPipeDone);
  return PortReply(s, message, number + step);
}

size_t SetPort(PipeState& s, Request& req, uint8_t* message) {
  LocalPortRecord r;
  if (req.lengthField != kLocalPortRecordSize || !req.data.copy(&r, sizeof r))
    return StatusOnly(message, kPipeSetPort);
  if (r.number == 0 || r.number > PortCount(s.ports)) return StatusOnly(message, kPipeSetPort);
  Port& port = s.ports[r.number - 1];
  if (!port.macAddress.equals(r.macAddress)) return StatusOnly(message, kPipeSetPort);
  // Byte at offset 4 (the low byte of adminStatus) and byte at offset 12.
  const uint8_t admin = static_cast<uint8_t>(r.adminStatus & 0xFF);
  port.adminStatus = admin;
  port.tlvsTxEnable = r.tlvsTxEnable;
  RegWriteNumber(s.registry, kStoreSubkey, FormatMac(r.macAddress),
                 uint32_t{r.tlvsTxEnable} * 256 + admin, kDefaultPortSwitches);
  return StatusOnly(message, kPipeDone);
}

// One length-prefixed text of code 17; the text ends at its first NUL or its
// length, whichever comes first. Returns the length byte, or -1 when the length
// points past the message.
int ReadPrefixedText(ByteReader& r, std::string& out) {
  uint8_t n = r.u8();
  auto bytes = r.bytes(n);
  if (!r.ok()) return -1;
  const char* p = reinterpret_cast<const char*>(bytes.data());
  out.assign(p, n ? FieldLength(p, n) : 0);
  return n;
}

size_t WriteStoreValue(PipeState& s, Request& req, uint8_t* message) {
  std::string subkey, name, text;
  ByteReader& r = req.data;
  if (ReadPrefixedText(r, subkey) < 0 || ReadPrefixedText(r, name) < 0)
    return StatusOnly(message, kPipeWriteRegistry);
  const int textLength = ReadPrefixedText(r, text);
  if (textLength < 0) return StatusOnly(message, kPipeWriteRegistry);

  int ok = 0;
  // The store's subkeys are files of one folder: a name that could leave it, or
  // none at all, is not one.
  if (IsPlainSubkey(subkey)) {
    RegistryStore& store = s.registry;
    if (textLength == 0)
      ok = RegWriteValue(store, subkey, name, nullptr, 0);
    else
      ok = RegWriteValue(store, subkey, name, reinterpret_cast<const uint8_t*>(text.c_str()), -1);
  }
  ByteWriter w(message, kPipeHeaderSize);
  w.u32le(kPipeDone);
  w.u32le(ok ? 1 : 0);
  return kPipeHeaderSize;
}

}  // namespace

size_t HandleRequest(PipeState& state, uint8_t* message, size_t length, bool mayWrite) {
  if (length > kPipeMessageMax) length = kPipeMessageMax;
  ByteReader whole(message, length);
  Request req;
  req.code = whole.u32le();
  if (!whole.ok()) return StatusOnly(message, kPipeUnknownCode);
  req.lengthField = whole.u32le();
  req.data = ByteReader(whole.ok() ? message + kPipeHeaderSize : nullptr,
                        whole.ok() ? length - kPipeHeaderSize : 0);

  switch (req.code) {
    case kPipeSetSettings:
    case kPipeClearNeighbors:
    case kPipeSetAddress:
    case kPipeRemoveNeighbor:
    case kPipeSetPort:
    case kPipeWriteRegistry:
      if (!mayWrite) return StatusOnly(message, kPipeNoWriteRight);
      break;
    default:
      break;
  }

  switch (req.code) {
    case kPipeGetSettings:
      return GetSettings(state, message);
    case kPipeSetSettings:
      return SetSettings(state, req, message);
    case kPipeClearNeighbors:
      state.table.ClearNeighbors();
      return StatusOnly(message, kPipeDone);
    case kPipeGetAddress:
      return GetAddress(state, req, message);
    case kPipeNextAddress:
      return NextAddress(state, req, message);
    case kPipeSetAddress:
      return SetAddress(state, req, message);
    case kPipeGetNeighbor:
      return GetNeighbor(state, req, message);
    case kPipeNeighborAt:
      return NeighborAt(state, req, message);
    case kPipeNextNeighbor:
      return NextNeighbor(state, req, message);
    case kPipeRemoveNeighbor:
      return RemoveNeighborRequest(state, req, message);
    case kPipeGetPort:
      return GetPort(state, req, message, 0);
    case kPipeNextPort:
      return GetPort(state, req, message, 1);
    case kPipeSetPort:
      return SetPort(state, req, message);
    case kPipeWriteRegistry:
      return WriteStoreValue(state, req, message);
    default:
      return StatusOnly(message, kPipeUnknownCode);
  }
}

}  // namespace torvane
