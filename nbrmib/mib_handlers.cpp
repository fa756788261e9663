#include "nbrmib/mib_handlers.h"

#include <algorithm>
#include <cstring>

#include "nbrmib/mib_table.h"
#include "nbrmib/oid.h"

namespace torvane {

namespace {

constexpr UINT kMaxIndex = 8;
// A remote address walk passes over neighbours without addresses one request
// each; no agent holds more neighbours than this (128 ports of 1024).
constexpr int kMaxRowsSkipped = 128 * 1024;

// How one table group reaches its rows over the pipe.
struct TableGroup {
  UINT indexCount;
  // The row after `index`: fills the group's buffer and `found` (the row's index).
  bool (*next)(MibContext& ctx, const UINT* index, UINT* found);
  // The row named by `index`: fills the group's buffer.
  bool (*get)(MibContext& ctx, const UINT* index);
  // The write request for a row, its buffer and size (0: never written).
  uint32_t writeCode;
  void* (*buffer)(MibContext& ctx);
  uint32_t size;
};

void ReadIndex(const SnmpVarBind* binding, UINT fullLength, UINT n, UINT* index) {
  for (UINT i = 0; i < n; ++i) {
    UINT at = fullLength + i;
    index[i] = at < binding->name.idLength ? binding->name.ids[at] : 0;
  }
}

// Whether a found index lies after the requested one, as a GETNEXT answer must.
bool IndexAfter(const UINT* found, const UINT* asked, UINT n) {
  for (UINT i = 0; i < n; ++i) {
    if (found[i] != asked[i]) return found[i] > asked[i];
  }
  return false;
}

void AddressFromIndex(const UINT* octets, uint8_t out[4]) {
  // An octet sub-identifier above 255 is taken by its low byte.
  for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(octets[i] & 0xFF);
}

uint32_t TimeMark(const MibContext& ctx, uint32_t discovered) {
  return discovered < ctx.startTime ? 0 : discovered - ctx.startTime;
}

uint32_t Position(const Neighbor& record) { return static_cast<uint32_t>(record.selfHandle & 0xFFFFFFFFu); }

// ---- local ports: index lldpLocPortNum ----

bool PortNext(MibContext& ctx, const UINT* index, UINT* found) {
  ctx.portRecord = LocalPortRecord{};
  uint32_t port = index[0];
  if (ctx.pipe.PipeQuery(kPipeNextPort, 4, &port, kLocalPortRecordSize, &ctx.portRecord,
                         sizeof ctx.portRecord) != 1)
    return false;
  found[0] = ctx.portRecord.number;
  return true;
}

bool PortGet(MibContext& ctx, const UINT* index) {
  uint32_t port = index[0];
  return ctx.pipe.PipeQuery(kPipeGetPort, 4, &port, kLocalPortRecordSize, &ctx.portRecord,
                            sizeof ctx.portRecord) == 1;
}

void* PortBuffer(MibContext& ctx) { return &ctx.portRecord; }

// ---- local addresses: index address subtype (1, IPv4) and the four octets ----

bool AddressNext(MibContext& ctx, const UINT* index, UINT* found) {
  ctx.addressEntry = AddressEntry{};
  if (index[0] > 1) return false;  // every address here has subtype 1
  uint8_t after[4] = {};
  if (index[0] == 1) AddressFromIndex(index + 1, after);
  if (ctx.pipe.PipeQuery(kPipeNextAddress, 4, after, kAddressEntrySize, &ctx.addressEntry,
                         sizeof ctx.addressEntry) != 1)
    return false;
  uint8_t a[4];
  std::memcpy(a, &ctx.addressEntry.address, 4);
  found[0] = 1;
  for (int i = 0; i < 4; ++i) found[1 + i] = a[i];
  return true;
}

bool AddressGet(MibContext& ctx, const UINT* index) {
  if (index[0] != 1) return false;
  uint8_t address[4];
  AddressFromIndex(index + 1, address);
  return ctx.pipe.PipeQuery(kPipeGetAddress, 4, address, kAddressEntrySize, &ctx.addressEntry,
                            sizeof ctx.addressEntry) == 1;
}

void* AddressBuffer(MibContext& ctx) { return &ctx.addressEntry; }

// ---- remote systems: index lldpRemTimeMark, lldpRemLocalPortNum, lldpRemIndex ----

bool NeighborNext(MibContext& ctx, const UINT* index, UINT* found) {
  ctx.neighborRecord = Neighbor{};
  NeighborCursor c{};
  c.timeMark = index[0] / 100;
  c.port = index[1];
  c.position = index[2];
  c.timeBase = ctx.startTime;
  if (ctx.pipe.PipeQuery(kPipeNextNeighbor, kCursorSize, &c, kNeighborImageSize, &ctx.neighborRecord,
                         sizeof ctx.neighborRecord) != 1)
    return false;
  // In this reply `discovered` carries the row's time mark.
  found[0] = ctx.neighborRecord.discovered * 100u;
  found[1] = ctx.neighborRecord.localPort;
  found[2] = Position(ctx.neighborRecord);
  return true;
}

// The row at list position `position`, served only when it is on `port` and its
// time mark is not before `timeMark`.
bool NeighborRowMatches(MibContext& ctx, UINT timeMark, UINT port) {
  const Neighbor& r = ctx.neighborRecord;
  return r.localPort == port && TimeMark(ctx, r.discovered) * 100u >= timeMark;
}

bool NeighborGet(MibContext& ctx, const UINT* index) {
  uint32_t position = index[2];
  if (ctx.pipe.PipeQuery(kPipeNeighborAt, 4, &position, kNeighborImageSize, &ctx.neighborRecord,
                         sizeof ctx.neighborRecord) != 1)
    return false;
  return NeighborRowMatches(ctx, index[0], index[1]);
}

// ---- remote addresses: the remote systems index, address subtype, four octets ----

uint32_t AsNumber(const uint8_t a[4]) {
  return (uint32_t{a[0]} << 24) | (uint32_t{a[1]} << 16) | (uint32_t{a[2]} << 8) | uint32_t{a[3]};
}

bool CursorAfter(const NeighborCursor& a, const NeighborCursor& b) {
  if (a.timeMark != b.timeMark) return a.timeMark > b.timeMark;
  if (a.port != b.port) return a.port > b.port;
  if (a.position != b.position) return a.position > b.position;
  return AsNumber(a.address) > AsNumber(b.address);
}

bool FindNeighborAddress(MibContext& ctx, const UINT* index, UINT* found);

// The agent answers a new row with the record's own first address in entry 0,
// which need not be its smallest: the walk would then skip every address below
// it. The row is entered at its smallest address instead.
void MoveSmallestAddressToFront(Neighbor& r, uint32_t count) {
  uint32_t best = 0;
  for (uint32_t i = 1; i < count; ++i)
    if (AsNumber(r.manAddr[i]) < AsNumber(r.manAddr[best])) best = i;
  if (best == 0) return;
  std::memcpy(r.manAddr[0], r.manAddr[best], 4);
  r.manAddrIfSubtype[0] = r.manAddrIfSubtype[best];
  r.manAddrIfNumber[0] = r.manAddrIfNumber[best];
}

// The row after `index`. Once this query found no row from the very first, the
// other column is known to have none either.
bool NeighborAddressNext(MibContext& ctx, const UINT* index, UINT* found) {
  const bool fromFirst = std::all_of(index, index + 8, [](UINT v) { return v == 0; });
  if (fromFirst && ctx.noRemoteAddresses) return false;
  const bool got = FindNeighborAddress(ctx, index, found);
  if (fromFirst && !got) ctx.noRemoteAddresses = true;
  return got;
}

bool FindNeighborAddress(MibContext& ctx, const UINT* index, UINT* found) {
  NeighborCursor c{};
  c.timeMark = index[0] / 100;
  c.port = index[1];
  c.position = index[2];
  c.timeBase = ctx.startTime;
  if (index[3] <= 1)
    AddressFromIndex(index + 4, c.address);
  else
    std::memset(c.address, 0xFF, 4);  // past every IPv4 address of this row
  for (int round = 0; round < kMaxRowsSkipped; ++round) {
    ctx.neighborRecord = Neighbor{};
    if (ctx.pipe.PipeQuery(kPipeNextNeighbor, kCursorWithAddressSize, &c, kNeighborImageSize,
                           &ctx.neighborRecord, sizeof ctx.neighborRecord) != 1)
      return false;
    Neighbor& r = ctx.neighborRecord;
    const uint32_t count = r.manAddrCount < 8 ? r.manAddrCount : 8;
    const bool sameRow = r.discovered == c.timeMark && r.localPort == c.port && Position(r) == c.position;
    if (count == 0) {
      // A neighbour without management addresses has no rows here; the ones
      // after it may. Ask again from its row, past every address.
      NeighborCursor after{r.discovered, r.localPort, Position(r), ctx.startTime, {0xFF, 0xFF, 0xFF, 0xFF}};
      if (!CursorAfter(after, c)) return false;  // the agent did not move on
      c = after;
      continue;
    }
    if (!sameRow) MoveSmallestAddressToFront(r, count);
    found[0] = r.discovered * 100u;
    found[1] = r.localPort;
    found[2] = Position(r);
    found[3] = 1;
    for (int i = 0; i < 4; ++i) found[4 + i] = r.manAddr[0][i];
    return true;
  }
  return false;
}

bool NeighborAddressGet(MibContext& ctx, const UINT* index) {
  if (index[3] != 1) return false;
  struct {
    uint32_t position;
    uint8_t address[4];
  } request{index[2], {}};
  static_assert(sizeof request == 8);
  AddressFromIndex(index + 4, request.address);
  // The agent copies the matching address into entry 0.
  if (ctx.pipe.PipeQuery(kPipeNeighborAt, sizeof request, &request, kNeighborImageSize,
                         &ctx.neighborRecord, sizeof ctx.neighborRecord) != 1)
    return false;
  return NeighborRowMatches(ctx, index[0], index[1]);
}

const TableGroup kPorts{1, PortNext, PortGet, kPipeSetPort, PortBuffer, kLocalPortRecordSize};
const TableGroup kAddresses{5, AddressNext, AddressGet, kPipeSetAddress, AddressBuffer, kAddressEntrySize};
const TableGroup kNeighbors{3, NeighborNext, NeighborGet, 0, nullptr, 0};
const TableGroup kNeighborAddresses{8, NeighborAddressNext, NeighborAddressGet, 0, nullptr, 0};

int Fail(MibContext& ctx, MibErrorReason reason, int status) {
  ctx.reason = reason;
  return status;
}

bool Readable(const MibEntry& entry) { return entry.access != MibAccess::kWriteOnly; }
bool Writable(const MibEntry& entry) { return entry.access != MibAccess::kReadOnly; }

int TableHandler(MibContext& ctx, BYTE action, const MibEntry& entry, UINT fullLength, SnmpVarBind* binding,
                 const TableGroup& group) {
  const UINT n = group.indexCount;
  UINT index[kMaxIndex] = {};
  if (action == kActionFirst || action == SNMP_PDU_GETNEXT) {
    if (entry.getOnly) return MoveToNext(ctx, entry, binding);
    if (!OidPad(&binding->name, fullLength, n)) return SNMP_ERRORSTATUS_GENERR;
    // The index is read where it stands: a name longer than the index still
    // asks for the row after the index it begins with.
    ReadIndex(binding, fullLength, n, index);
    UINT found[kMaxIndex] = {};
    if (group.next(ctx, index, found) && IndexAfter(found, index, n) &&
        EncodeValue(ctx, entry, binding) == SNMP_ERRORSTATUS_NOERROR) {
      binding->name.idLength = fullLength + n;
      for (UINT i = 0; i < n; ++i) binding->name.ids[fullLength + i] = found[i];
      return SNMP_ERRORSTATUS_NOERROR;
    }
    return MoveToNext(ctx, entry, binding);
  }
  if (action == SNMP_PDU_GET) {
    if (!Readable(entry) || binding->name.idLength != fullLength + n)
      return Fail(ctx, MibErrorReason::kNoInstance, SNMP_ERRORSTATUS_GENERR);
    ReadIndex(binding, fullLength, n, index);
    if (!group.get(ctx, index)) return Fail(ctx, MibErrorReason::kNoInstance, SNMP_ERRORSTATUS_GENERR);
    return EncodeValue(ctx, entry, binding);
  }
  if (action == SNMP_PDU_SET) {
    if (!Writable(entry) || group.writeCode == 0)
      return Fail(ctx, MibErrorReason::kNotWritable, SNMP_ERRORSTATUS_NOSUCHNAME);
    if (binding->name.idLength != fullLength + n)
      return Fail(ctx, MibErrorReason::kNoInstance, SNMP_ERRORSTATUS_GENERR);
    if (binding->value.asnType != WireType(entry))
      return Fail(ctx, MibErrorReason::kWrongType, SNMP_ERRORSTATUS_BADVALUE);
    ReadIndex(binding, fullLength, n, index);
    if (!group.get(ctx, index)) return Fail(ctx, MibErrorReason::kNoInstance, SNMP_ERRORSTATUS_GENERR);
    void* row = group.buffer(ctx);
    MibSnapshot before;
    before.code = group.writeCode;
    before.length = group.size;
    std::memcpy(before.bytes, row, group.size);
    int st = DecodeValue(ctx, entry, binding);
    if (st != SNMP_ERRORSTATUS_NOERROR) return st;
    ctx.snapshots.push_back(before);
    if (ctx.pipe.PipeCommand(group.writeCode, group.size, row) <= 0)
      return Fail(ctx, MibErrorReason::kGeneral, SNMP_ERRORSTATUS_GENERR);
    return SNMP_ERRORSTATUS_NOERROR;
  }
  return Fail(ctx, MibErrorReason::kGeneral, SNMP_ERRORSTATUS_GENERR);
}

// The value the agent keeps for a written setting: it sends on a 10-second pass,
// so it keeps the transmit interval rounded up to a multiple of 10.
uint32_t KeptValue(const MibEntry& entry, uint32_t written) {
  if (entry.storage == MibStorage::kSettings && entry.offset == offsetof(AgentSettings, txInterval))
    return (written + 9) / 10 * 10;
  return written;
}

int ReadSettings(MibContext& ctx, AgentSettings& out) {
  return ctx.pipe.PipeQuery(kPipeGetSettings, 0, nullptr, kSettingsImageSize, &out, sizeof out);
}

}  // namespace

int ScalarHandler(MibContext& ctx, BYTE action, const MibEntry& entry, UINT fullLength, SnmpVarBind* binding) {
  if (action == SNMP_PDU_GETNEXT) return MoveToNext(ctx, entry, binding);
  if (action == kActionFirst || action == SNMP_PDU_GET) {
    if (!Readable(entry) || binding->name.idLength != fullLength || ReadSettings(ctx, ctx.settingsCopy) != 1)
      return Fail(ctx, MibErrorReason::kNoInstance, SNMP_ERRORSTATUS_NOSUCHNAME);
    return EncodeValue(ctx, entry, binding);
  }
  if (action != SNMP_PDU_SET) return Fail(ctx, MibErrorReason::kGeneral, SNMP_ERRORSTATUS_GENERR);

  if (!Writable(entry)) return Fail(ctx, MibErrorReason::kNotWritable, SNMP_ERRORSTATUS_NOSUCHNAME);
  if (binding->name.idLength != fullLength) return Fail(ctx, MibErrorReason::kNoInstance, SNMP_ERRORSTATUS_GENERR);
  if (binding->value.asnType != WireType(entry))
    return Fail(ctx, MibErrorReason::kWrongType, SNMP_ERRORSTATUS_BADVALUE);
  if (ReadSettings(ctx, ctx.settingsCopy) != 1) return Fail(ctx, MibErrorReason::kGeneral, SNMP_ERRORSTATUS_GENERR);
  MibSnapshot before;
  before.code = kPipeSetSettings;
  before.length = kSettingsImageSize;
  std::memcpy(before.bytes, &ctx.settingsCopy, kSettingsImageSize);
  int st = DecodeValue(ctx, entry, binding);
  if (st != SNMP_ERRORSTATUS_NOERROR) return st;
  ctx.snapshots.push_back(before);
  // The whole block travels back: the agent stores every setting as last read,
  // with the one object changed.
  if (ctx.pipe.PipeCommand(kPipeSetSettings, kSettingsImageSize, &ctx.settingsCopy) <= 0)
    return Fail(ctx, MibErrorReason::kGeneral, SNMP_ERRORSTATUS_GENERR);

  // The agent accepts settings it does not keep (some are not stored at all):
  // only a value that reads back counts as written.
  size_t room = 0;
  const uint8_t* field = StoragePointer(ctx, entry, room);
  if (!field || room < 4) return Fail(ctx, MibErrorReason::kGeneral, SNMP_ERRORSTATUS_GENERR);
  uint32_t written;
  std::memcpy(&written, field, 4);
  AgentSettings now{};
  if (ReadSettings(ctx, now) != 1) return Fail(ctx, MibErrorReason::kGeneral, SNMP_ERRORSTATUS_GENERR);
  uint32_t kept;
  std::memcpy(&kept, reinterpret_cast<const uint8_t*>(&now) + entry.offset, 4);
  if (kept != KeptValue(entry, written)) return Fail(ctx, MibErrorReason::kGeneral, SNMP_ERRORSTATUS_GENERR);
  return SNMP_ERRORSTATUS_NOERROR;
}

int LocalPortHandler(MibContext& ctx, BYTE action, const MibEntry& entry, UINT fullLength, SnmpVarBind* binding) {
  return TableHandler(ctx, action, entry, fullLength, binding, kPorts);
}

int LocalAddressHandler(MibContext& ctx, BYTE action, const MibEntry& entry, UINT fullLength,
                        SnmpVarBind* binding) {
  return TableHandler(ctx, action, entry, fullLength, binding, kAddresses);
}

int RemoteSystemHandler(MibContext& ctx, BYTE action, const MibEntry& entry, UINT fullLength,
                        SnmpVarBind* binding) {
  return TableHandler(ctx, action, entry, fullLength, binding, kNeighbors);
}

int RemoteAddressHandler(MibContext& ctx, BYTE action, const MibEntry& entry, UINT fullLength,
                         SnmpVarBind* binding) {
  return TableHandler(ctx, action, entry, fullLength, binding, kNeighborAddresses);
}

}  // namespace torvane
