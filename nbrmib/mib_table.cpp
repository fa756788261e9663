#include "nbrmib/mib_table.h"

#include <cstring>

#include "common/text.h"
#include "nbrmib/mib_handlers.h"
#include "nbrmib/oid.h"

namespace torvane {

const UINT kViewPrefix[kViewPrefixLength] = {1, 0, 8802, 1, 1, 2, 1};

namespace {

using A = MibAccess;
using S = MibStorage;

constexpr A RO = A::kReadOnly;
constexpr A RW = A::kReadWrite;
constexpr BYTE INT = ASN_INTEGER;
constexpr BYTE STR = ASN_OCTETSTRING;
constexpr BYTE OID = ASN_OBJECTIDENTIFIER;
constexpr BYTE TICKS = ASN_TIMETICKS;
constexpr BYTE CAPS = kSyntaxCapabilities;
constexpr int32_t kCounted = 1;
constexpr int32_t kTerminated = 0;

constexpr uint16_t Settings(size_t offset) { return static_cast<uint16_t>(offset); }

// The constants' values.
const uint32_t kConstNumbers[2] = {5, 2};
UINT kConstOidIds[3] = {1, 3, 6};

}  // namespace

// In ascending identifier order. The next chain skips the two OBJECT IDENTIFIER
// columns (entries 27 and 39): they answer GET only.
const MibEntry MibTable[kMibEntries] = {
    // 1..5: the transmit settings.
    {{1, 1, 0}, 3, "lldpMessageTxInterval", S::kSettings, Settings(offsetof(AgentSettings, txInterval)), INT, 5, 32768, RW, ScalarHandler, 1, false},
    {{1, 2, 0}, 3, "lldpMessageTxHoldMultiplier", S::kSettings, Settings(offsetof(AgentSettings, txHoldMultiplier)), INT, 2, 10, RW, ScalarHandler, 2, false},
    {{1, 3, 0}, 3, "lldpReinitDelay", S::kSettings, Settings(offsetof(AgentSettings, ReinitDelay)), INT, 1, 10, RW, ScalarHandler, 3, false},
    {{1, 4, 0}, 3, "lldpTxDelay", S::kSettings, Settings(offsetof(AgentSettings, txDelay)), INT, 1, 8192, RW, ScalarHandler, 4, false},
    {{1, 5, 0}, 3, "lldpNotificationInterval", S::kSettings, Settings(offsetof(AgentSettings, NotificationInterval)), INT, 5, 3600, RW, ScalarHandler, 5, false},
    // 6..8: lldpPortConfigTable.
    {{1, 6, 1, 2}, 4, "lldpPortConfigAdminStatus", S::kPort, offsetof(LocalPortRecord, adminStatus), INT, 1, 4, RW, LocalPortHandler, 6, false},
    {{1, 6, 1, 3}, 4, "lldpPortConfigNotificationEnable", S::kPort, offsetof(LocalPortRecord, always2), INT, 1, 2, RW, LocalPortHandler, 7, false},
    {{1, 6, 1, 4}, 4, "lldpPortConfigTLVsTxEnable", S::kPort, offsetof(LocalPortRecord, tlvsTxEnable), STR, kTerminated, 3, RW, LocalPortHandler, 8, false},
    // 9: lldpConfigManAddrTable.
    {{1, 7, 1, 1}, 4, "lldpConfigManAddrPortsTxEnable", S::kAddress, offsetof(AddressEntry, portListLength), STR, kCounted, 17, RW, LocalAddressHandler, 9, false},
    // 10..14: lldpStatistics.
    {{2, 1, 0}, 3, "lldpStatsRemTablesLastChangeTime", S::kSettings, Settings(offsetof(AgentSettings, remTablesLastChange)), TICKS, 0, 0, RO, ScalarHandler, 10, false},
    {{2, 2, 0}, 3, "lldpStatsRemTablesInserts", S::kSettings, Settings(offsetof(AgentSettings, remTablesInserts)), INT, 0, 0, RO, ScalarHandler, 11, false},
    {{2, 3, 0}, 3, "lldpStatsRemTablesDeletes", S::kSettings, Settings(offsetof(AgentSettings, remTablesDeletes)), INT, 0, 0, RO, ScalarHandler, 12, false},
    {{2, 4, 0}, 3, "lldpStatsRemTablesDrops", S::kSettings, Settings(offsetof(AgentSettings, remTablesDrops)), INT, 0, 0, RO, ScalarHandler, 13, false},
    {{2, 5, 0}, 3, "lldpStatsRemTablesAgeouts", S::kSettings, Settings(offsetof(AgentSettings, remTablesAgeouts)), INT, 0, 0, RO, ScalarHandler, 14, false},
    // 15..20: the local system.
    {{3, 1, 0}, 3, "lldpLocChassisIdSubtype", S::kSettings, Settings(offsetof(AgentSettings, chassisIdSubtype)), INT, 0, 0, RO, ScalarHandler, 15, false},
    {{3, 2, 0}, 3, "lldpLocChassisId", S::kSettings, Settings(offsetof(AgentSettings, chassisId)), STR, kCounted, sizeof(IdField), RO, ScalarHandler, 16, false},
    {{3, 3, 0}, 3, "lldpLocSysName", S::kSettings, Settings(offsetof(AgentSettings, systemName)), STR, kTerminated, sizeof(AgentSettings::systemName), RO, ScalarHandler, 17, false},
    {{3, 4, 0}, 3, "lldpLocSysDesc", S::kSettings, Settings(offsetof(AgentSettings, systemDescription)), STR, kTerminated, sizeof(AgentSettings::systemDescription), RO, ScalarHandler, 18, false},
    {{3, 5, 0}, 3, "lldpLocSysCapSupported", S::kSettings, Settings(offsetof(AgentSettings, CapSupported)), CAPS, 0, 0, RO, ScalarHandler, 19, false},
    {{3, 6, 0}, 3, "lldpLocSysCapEnabled", S::kSettings, Settings(offsetof(AgentSettings, CapEnabled)), CAPS, 0, 0, RO, ScalarHandler, 20, false},
    // 21..23: lldpLocPortTable.
    {{3, 7, 1, 2}, 4, "lldpLocPortIdSubtype", S::kPort, offsetof(LocalPortRecord, portIdSubtype), INT, 0, 0, RO, LocalPortHandler, 21, false},
    {{3, 7, 1, 3}, 4, "lldpLocPortId", S::kPort, offsetof(LocalPortRecord, portIdLength), STR, kCounted, offsetof(LocalPortRecord, portDescription) - offsetof(LocalPortRecord, portIdLength), RO, LocalPortHandler, 22, false},
    {{3, 7, 1, 4}, 4, "lldpLocPortDesc", S::kPort, offsetof(LocalPortRecord, portDescription), STR, kTerminated, sizeof(LocalPortRecord::portDescription), RO, LocalPortHandler, 23, false},
    // 24..27: lldpLocManAddrTable.
    {{3, 8, 1, 3}, 4, "lldpLocManAddrLen", S::kConstant, kConstManAddrLen, INT, 0, 0, RO, LocalAddressHandler, 24, false},
    {{3, 8, 1, 4}, 4, "lldpLocManAddrIfSubtype", S::kConstant, kConstManAddrIfSubtype, INT, 0, 0, RO, LocalAddressHandler, 25, false},
    {{3, 8, 1, 5}, 4, "lldpLocManAddrIfId", S::kAddress, offsetof(AddressEntry, ifIndex), INT, 0, 0, RO, LocalAddressHandler, 27, false},
    {{3, 8, 1, 6}, 4, "lldpLocManAddrOID", S::kConstant, kConstManAddrOid, OID, 0, 0, RO, LocalAddressHandler, 27, true},
    // 28..36: lldpRemTable.
    {{4, 1, 1, 4}, 4, "lldpRemChassisIdSubtype", S::kNeighbor, offsetof(Neighbor, chassisIdSubtype), INT, 0, 0, RO, RemoteSystemHandler, 28, false},
    {{4, 1, 1, 5}, 4, "lldpRemChassisId", S::kNeighbor, offsetof(Neighbor, chassisId), STR, kCounted, sizeof(IdField), RO, RemoteSystemHandler, 29, false},
    {{4, 1, 1, 6}, 4, "lldpRemPortIdSubtype", S::kNeighbor, offsetof(Neighbor, portIdSubtype), INT, 0, 0, RO, RemoteSystemHandler, 30, false},
    {{4, 1, 1, 7}, 4, "lldpRemPortId", S::kNeighbor, offsetof(Neighbor, portId), STR, kCounted, sizeof(IdField), RO, RemoteSystemHandler, 31, false},
    {{4, 1, 1, 8}, 4, "lldpRemPortDesc", S::kNeighbor, offsetof(Neighbor, portDescription), STR, kTerminated, sizeof(Neighbor::portDescription), RO, RemoteSystemHandler, 32, false},
    {{4, 1, 1, 9}, 4, "lldpRemSysName", S::kNeighbor, offsetof(Neighbor, systemName), STR, kTerminated, sizeof(Neighbor::systemName), RO, RemoteSystemHandler, 33, false},
    {{4, 1, 1, 10}, 4, "lldpRemSysDesc", S::kNeighbor, offsetof(Neighbor, systemDescription), STR, kTerminated, sizeof(Neighbor::systemDescription), RO, RemoteSystemHandler, 34, false},
    {{4, 1, 1, 11}, 4, "lldpRemSysCapSupported", S::kNeighbor, offsetof(Neighbor, capSupported), CAPS, 0, 0, RO, RemoteSystemHandler, 35, false},
    {{4, 1, 1, 12}, 4, "lldpRemSysCapEnabled", S::kNeighbor, offsetof(Neighbor, capEnabled), CAPS, 0, 0, RO, RemoteSystemHandler, 36, false},
    // 37..39: lldpRemManAddrTable.
    {{4, 2, 1, 3}, 4, "lldpRemManAddrIfSubtype", S::kNeighbor, offsetof(Neighbor, manAddrIfSubtype), INT, 0, 0, RO, RemoteAddressHandler, 37, false},
    {{4, 2, 1, 4}, 4, "lldpRemManAddrIfId", S::kNeighbor, offsetof(Neighbor, manAddrIfNumber), INT, 0, 0, RO, RemoteAddressHandler, 39, false},
    {{4, 2, 1, 5}, 4, "lldpRemManAddrOID", S::kConstant, kConstManAddrOid, OID, 0, 0, RO, RemoteAddressHandler, 39, true},
    // 40..45: the IEEE 802.3 and 802.1 extensions.
    {{5, 4623, 1, 2, 1, 1, 4}, 7, "lldpXdot3LocPortOperMauType", S::kPort, offsetof(LocalPortRecord, mauType), INT, 0, 0, RO, LocalPortHandler, 40, false},
    {{5, 4623, 1, 2, 4, 1, 1}, 7, "lldpXdot3LocMaxFrameSize", S::kPort, offsetof(LocalPortRecord, maxFrameSize), INT, 0, 0, RO, LocalPortHandler, 41, false},
    {{5, 4623, 1, 3, 1, 1, 4}, 7, "lldpXdot3RemPortOperMauType", S::kNeighbor, offsetof(Neighbor, mauType), INT, 0, 0, RO, RemoteSystemHandler, 42, false},
    {{5, 4623, 1, 3, 4, 1, 1}, 7, "lldpXdot3RemMaxFrameSize", S::kNeighbor, offsetof(Neighbor, maxFrameSize), INT, 0, 0, RO, RemoteSystemHandler, 43, false},
    {{5, 32962, 1, 2, 1, 1, 1}, 7, "lldpXdot1LocPortVlanId", S::kPort, offsetof(LocalPortRecord, vlanId), INT, 0, 0, RO, LocalPortHandler, 44, false},
    {{5, 32962, 1, 3, 1, 1, 1}, 7, "lldpXdot1RemPortVlanId", S::kNeighbor, offsetof(Neighbor, portVlanId), INT, 0, 0, RO, RemoteSystemHandler, -1, false},
};

UINT EntryIdentifier(const MibEntry& entry, UINT* ids) {
  std::memcpy(ids, kViewPrefix, sizeof kViewPrefix);
  std::memcpy(ids + kViewPrefixLength, entry.suffix, sizeof(UINT) * entry.suffixLength);
  return kViewPrefixLength + entry.suffixLength;
}

int SetNameToEntry(SnmpVarBind* binding, const MibEntry& entry) {
  UINT ids[16];
  AsnObjectIdentifier full{EntryIdentifier(entry, ids), ids};
  AsnObjectIdentifier copy;
  if (!OidCopy(&copy, &full)) return 0;
  OidFree(&binding->name);
  binding->name = copy;
  return 1;
}

uint8_t* StoragePointer(MibContext& ctx, const MibEntry& entry, size_t& size) {
  uint8_t* base = nullptr;
  size_t total = 0;
  switch (entry.storage) {
    case MibStorage::kSettings:
      base = reinterpret_cast<uint8_t*>(&ctx.settingsCopy);
      total = sizeof ctx.settingsCopy;
      break;
    case MibStorage::kPort:
      base = reinterpret_cast<uint8_t*>(&ctx.portRecord);
      total = sizeof ctx.portRecord;
      break;
    case MibStorage::kAddress:
      base = reinterpret_cast<uint8_t*>(&ctx.addressEntry);
      total = sizeof ctx.addressEntry;
      break;
    case MibStorage::kNeighbor:
      base = reinterpret_cast<uint8_t*>(&ctx.neighborRecord);
      total = sizeof ctx.neighborRecord;
      break;
    case MibStorage::kConstant:
      if (entry.offset < 2) {
        size = sizeof(uint32_t);
        return reinterpret_cast<uint8_t*>(const_cast<uint32_t*>(&kConstNumbers[entry.offset]));
      }
      size = 0;
      return nullptr;
  }
  if (entry.offset >= total) {
    size = 0;
    return nullptr;
  }
  size = total - entry.offset;
  return base + entry.offset;
}

BYTE WireType(const MibEntry& entry) {
  return entry.syntax == kSyntaxCapabilities ? ASN_OCTETSTRING : entry.syntax;
}

namespace {

uint32_t ReadU32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

// A heap copy of n bytes as a dynamic OCTET STRING value.
int SetOctets(SnmpVarBind* binding, const uint8_t* bytes, size_t n) {
  auto* copy = static_cast<BYTE*>(SnmpUtilMemAlloc(n));
  if (!copy) return SNMP_ERRORSTATUS_GENERR;
  if (n) std::memcpy(copy, bytes, n);
  binding->value.asnType = ASN_OCTETSTRING;
  binding->value.asnValue.string.stream = copy;
  binding->value.asnValue.string.length = static_cast<UINT>(n);
  binding->value.asnValue.string.dynamic = 1;
  return SNMP_ERRORSTATUS_NOERROR;
}

}  // namespace

int EncodeValue(MibContext& ctx, const MibEntry& entry, SnmpVarBind* binding) {
  SnmpUtilAsnAnyFree(&binding->value);
  if (entry.syntax == ASN_OBJECTIDENTIFIER) {
    if (entry.storage != MibStorage::kConstant || entry.offset != kConstManAddrOid)
      return SNMP_ERRORSTATUS_GENERR;
    AsnObjectIdentifier constant{3, kConstOidIds};
    AsnObjectIdentifier copy;
    if (!OidCopy(&copy, &constant)) return SNMP_ERRORSTATUS_GENERR;
    binding->value.asnType = ASN_OBJECTIDENTIFIER;
    binding->value.asnValue.object = copy;
    return SNMP_ERRORSTATUS_NOERROR;
  }
  size_t room = 0;
  const uint8_t* p = StoragePointer(ctx, entry, room);
  if (!p) return SNMP_ERRORSTATUS_GENERR;
  switch (entry.syntax) {
    case ASN_INTEGER:
    case ASN_COUNTER32:
    case ASN_GAUGE32: {
      if (room < 4) return SNMP_ERRORSTATUS_GENERR;
      binding->value.asnType = entry.syntax;
      binding->value.asnValue.unsigned32 = ReadU32(p);
      return SNMP_ERRORSTATUS_NOERROR;
    }
    case ASN_TIMETICKS: {
      if (room < 4) return SNMP_ERRORSTATUS_GENERR;
      uint32_t v = ReadU32(p);
      binding->value.asnType = ASN_TIMETICKS;
      // Hundredths of a second since the subagent started; earlier is 0. The
      // value wraps as TimeTicks do.
      binding->value.asnValue.ticks = v < ctx.startTime ? 0 : (v - ctx.startTime) * 100u;
      return SNMP_ERRORSTATUS_NOERROR;
    }
    case kSyntaxCapabilities: {
      if (room < 4) return SNMP_ERRORSTATUS_GENERR;
      uint32_t v = ReadU32(p);
      size_t n = v >= 0x1000000 ? 4 : v >= 0x10000 ? 3 : v >= 0x100 ? 2 : 1;
      uint8_t bytes[4];
      for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(v >> (8 * (n - 1 - i)));
      return SetOctets(binding, bytes, n);
    }
    case ASN_OCTETSTRING: {
      // Cut to the field whatever the agent sent: a length byte beyond the
      // field, or a text without its terminator.
      size_t field = entry.max < room ? entry.max : room;
      if (field == 0) return SNMP_ERRORSTATUS_GENERR;
      if (entry.minOrCounted) {
        size_t n = p[0];
        if (n > field - 1) n = field - 1;
        return SetOctets(binding, p + 1, n);
      }
      return SetOctets(binding, p, FieldLength(reinterpret_cast<const char*>(p), field));
    }
    default:
      return SNMP_ERRORSTATUS_GENERR;
  }
}

int DecodeValue(MibContext& ctx, const MibEntry& entry, const SnmpVarBind* binding) {
  size_t room = 0;
  uint8_t* p = StoragePointer(ctx, entry, room);
  if (!p || entry.storage == MibStorage::kConstant) return SNMP_ERRORSTATUS_GENERR;
  const AsnAny& v = binding->value;
  switch (entry.syntax) {
    case ASN_INTEGER:
    case ASN_COUNTER32:
    case ASN_GAUGE32: {
      if (room < 4) return SNMP_ERRORSTATUS_GENERR;
      int64_t n = entry.syntax == ASN_INTEGER ? int64_t{v.asnValue.number} : int64_t{v.asnValue.unsigned32};
      if (n < int64_t{entry.minOrCounted} || n > int64_t{entry.max}) {
        ctx.reason = MibErrorReason::kWrongValue;
        return SNMP_ERRORSTATUS_BADVALUE;
      }
      uint32_t u = static_cast<uint32_t>(n);
      std::memcpy(p, &u, 4);
      return SNMP_ERRORSTATUS_NOERROR;
    }
    case kSyntaxCapabilities: {
      const AsnOctetString& s = v.asnValue.string;
      if (s.length > 4) {
        ctx.reason = MibErrorReason::kWrongLength;
        return SNMP_ERRORSTATUS_BADVALUE;
      }
      if ((s.length && !s.stream) || room < 4) return SNMP_ERRORSTATUS_GENERR;
      uint32_t u = 0;
      for (UINT i = 0; i < s.length; ++i) u = (u << 8) | s.stream[i];
      std::memcpy(p, &u, 4);
      return SNMP_ERRORSTATUS_NOERROR;
    }
    case ASN_OCTETSTRING: {
      const AsnOctetString& s = v.asnValue.string;
      size_t field = entry.max < room ? entry.max : room;
      if (size_t{s.length} + 1 > field) {
        ctx.reason = MibErrorReason::kWrongLength;
        return SNMP_ERRORSTATUS_BADVALUE;
      }
      if (s.length && !s.stream) return SNMP_ERRORSTATUS_GENERR;
      if (entry.minOrCounted) {
        p[0] = static_cast<uint8_t>(s.length);
        if (s.length) std::memcpy(p + 1, s.stream, s.length);
      } else {
        if (s.length) std::memcpy(p, s.stream, s.length);
        p[s.length] = 0;
      }
      return SNMP_ERRORSTATUS_NOERROR;
    }
    default:
      return SNMP_ERRORSTATUS_GENERR;
  }
}

int MoveToNext(MibContext& ctx, const MibEntry& entry, SnmpVarBind* binding) {
  if (entry.next < 0 || static_cast<size_t>(entry.next) >= kMibEntries) return SNMP_ERRORSTATUS_NOSUCHNAME;
  const MibEntry& next = MibTable[entry.next];
  if (!SetNameToEntry(binding, next)) return SNMP_ERRORSTATUS_GENERR;
  UINT ids[16];
  return next.handler(ctx, kActionFirst, next, EntryIdentifier(next, ids), binding);
}

namespace {

// Whether the name lies under a scalar's object (its identifier without the
// final 0): an instance other than .0 of an object that exists.
bool UnderScalarObject(const AsnObjectIdentifier& name) {
  for (const MibEntry& entry : MibTable) {
    if (entry.handler != ScalarHandler) continue;
    UINT ids[16];
    AsnObjectIdentifier object{EntryIdentifier(entry, ids) - 1, ids};
    if (name.idLength > object.idLength && OidCompare(&name, &object, object.idLength) == 0) return true;
  }
  return false;
}

}  // namespace

int FindAndDispatch(MibContext& ctx, SnmpVarBind* binding, BYTE request) {
  for (const MibEntry& entry : MibTable) {
    UINT ids[16];
    AsnObjectIdentifier full{EntryIdentifier(entry, ids), ids};
    const UINT length = full.idLength;
    int order = OidCompare(&binding->name, &full, length);
    if (order > 0) continue;  // the name lies after this entry's subtree
    if (order == 0) return entry.handler(ctx, request, entry, length, binding);
    // The name lies before this entry (or is a proper prefix of it).
    if (request != SNMP_PDU_GETNEXT) {
      ctx.reason = UnderScalarObject(binding->name) ? MibErrorReason::kNoInstance : MibErrorReason::kNoEntry;
      return SNMP_ERRORSTATUS_NOSUCHNAME;
    }
    if (!SetNameToEntry(binding, entry)) return SNMP_ERRORSTATUS_GENERR;
    return entry.handler(ctx, kActionFirst, entry, length, binding);
  }
  ctx.reason = UnderScalarObject(binding->name) ? MibErrorReason::kNoInstance : MibErrorReason::kNoEntry;
  return SNMP_ERRORSTATUS_NOSUCHNAME;
}

void RestoreSnapshots(MibContext& ctx) {
  // Tried even after a time-out earlier in the request: these writes put back
  // what the request changed.
  ctx.pipe.BeginRequest();
  for (auto it = ctx.snapshots.rbegin(); it != ctx.snapshots.rend(); ++it)
    ctx.pipe.PipeCommand(it->code, it->length, it->bytes);
  ctx.snapshots.clear();
}

void EndSet(MibContext& ctx, bool undo) {
  if (undo) RestoreSnapshots(ctx);
  ctx.snapshots.clear();
}

namespace {

// The end of this subagent's view, 1.0.8802.1.1.2.2: a GETNEXT answered with it
// tells the host to go on in the next registered view.
int SetEndOfView(SnmpVarBind* binding) {
  UINT ids[kViewPrefixLength];
  std::memcpy(ids, kViewPrefix, sizeof ids);
  ids[kViewPrefixLength - 1] += 1;
  AsnObjectIdentifier end{kViewPrefixLength, ids};
  AsnObjectIdentifier copy;
  if (!OidCopy(&copy, &end)) return 0;
  OidFree(&binding->name);
  binding->name = copy;
  return 1;
}

MibErrorReason DefaultReason(int status) {
  switch (status) {
    case SNMP_ERRORSTATUS_NOSUCHNAME: return MibErrorReason::kNoInstance;
    case SNMP_ERRORSTATUS_BADVALUE: return MibErrorReason::kWrongValue;
    default: return MibErrorReason::kGeneral;
  }
}

}  // namespace

BOOL MibQuery(MibContext& ctx, BYTE requestType, SnmpVarBindList* bindings, AsnInteger32* errorStatus,
              AsnInteger32* errorIndex) {
  AsnInteger32 status = SNMP_ERRORSTATUS_NOERROR;
  AsnInteger32 index = 0;
  if (!ctx.hostBeginsRequests) ctx.pipe.BeginRequest();
  ctx.reason = MibErrorReason::kNone;
  ctx.noRemoteAddresses = false;
  if (requestType == SNMP_PDU_SET) ctx.snapshots.clear();
  if (requestType != SNMP_PDU_GET && requestType != SNMP_PDU_GETNEXT && requestType != SNMP_PDU_SET) {
    status = SNMP_ERRORSTATUS_GENERR;
    ctx.reason = MibErrorReason::kGeneral;
  } else if (bindings && bindings->list) {
    for (UINT i = 0; i < bindings->len; ++i) {
      SnmpVarBind* binding = &bindings->list[i];
      ctx.reason = MibErrorReason::kNone;
      int st = FindAndDispatch(ctx, binding, requestType);
      if (st == SNMP_ERRORSTATUS_NOSUCHNAME && requestType == SNMP_PDU_GETNEXT) {
        // The walk has left this subagent's view.
        st = SetEndOfView(binding) ? SNMP_ERRORSTATUS_NOERROR : SNMP_ERRORSTATUS_GENERR;
      }
      if (st != SNMP_ERRORSTATUS_NOERROR) {
        status = st;
        index = static_cast<AsnInteger32>(i + 1);
        if (ctx.reason == MibErrorReason::kNone) ctx.reason = DefaultReason(st);
        // A SET acts as a whole: what the earlier bindings wrote goes back.
        if (requestType == SNMP_PDU_SET) RestoreSnapshots(ctx);
        break;
      }
    }
  }
  if (errorStatus) *errorStatus = status;
  if (errorIndex) *errorIndex = index;
  return 1;
}

}  // namespace torvane
