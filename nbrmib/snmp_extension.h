// The SNMP extension-agent interface as the SNMP service and an extension library
// see it: the value and binding records, their type codes, the allocator both
// sides use, and the three entry points every extension exports. Our own
// declarations of the service's interface, so that the library builds and is
// loaded the same way on every system.
//
// Never include this next to net-snmp's headers: net-snmp #defines ASN_INTEGER,
// ASN_SEQUENCE (with another value), TRUE, FALSE and more as macros.
#pragma once

#include <cstdint>
#include <cstdlib>

using BYTE = uint8_t;
using UINT = uint32_t;
using BOOL = int32_t;
using DWORD = uint32_t;
using AsnInteger32 = int32_t;
using AsnUnsigned32 = uint32_t;
using AsnCounter32 = uint32_t;
using AsnGauge32 = uint32_t;
using AsnTimeticks = uint32_t;
// On this system the trap event is a file descriptor (an eventfd).
using HANDLE = int;

struct AsnOctetString {
  BYTE* stream;
  UINT length;
  BOOL dynamic;  // nonzero: stream is a heap block the receiver frees
};

struct AsnObjectIdentifier {
  UINT idLength;
  UINT* ids;
};

struct AsnAny {
  BYTE asnType;
  union {
    AsnInteger32 number;
    AsnUnsigned32 unsigned32;
    uint64_t counter64;
    AsnOctetString string;
    AsnOctetString bits;
    AsnObjectIdentifier object;
    AsnOctetString sequence;
    AsnOctetString address;
    AsnCounter32 counter;
    AsnGauge32 gauge;
    AsnTimeticks ticks;
    AsnOctetString arbitrary;
  } asnValue;
};

using AsnObjectName = AsnObjectIdentifier;
using AsnObjectSyntax = AsnAny;

struct SnmpVarBind {
  AsnObjectName name;
  AsnObjectSyntax value;
};

struct SnmpVarBindList {
  SnmpVarBind* list;
  UINT len;
};

// Value types (the BER tags).
constexpr BYTE ASN_INTEGER = 0x02;
constexpr BYTE ASN_OCTETSTRING = 0x04;
constexpr BYTE ASN_NULL = 0x05;
constexpr BYTE ASN_OBJECTIDENTIFIER = 0x06;
constexpr BYTE ASN_SEQUENCE = 0x30;
constexpr BYTE ASN_IPADDRESS = 0x40;
constexpr BYTE ASN_COUNTER32 = 0x41;
constexpr BYTE ASN_GAUGE32 = 0x42;
constexpr BYTE ASN_TIMETICKS = 0x43;
constexpr BYTE ASN_OPAQUE = 0x44;
constexpr BYTE ASN_COUNTER64 = 0x46;
constexpr BYTE ASN_UNSIGNED32 = 0x47;

// Request types.
constexpr BYTE SNMP_PDU_GET = 0xA0;
constexpr BYTE SNMP_PDU_GETNEXT = 0xA1;
constexpr BYTE SNMP_PDU_SET = 0xA3;

// The error statuses an extension answers with (SNMPv1's).
constexpr AsnInteger32 SNMP_ERRORSTATUS_NOERROR = 0;
constexpr AsnInteger32 SNMP_ERRORSTATUS_TOOBIG = 1;
constexpr AsnInteger32 SNMP_ERRORSTATUS_NOSUCHNAME = 2;
constexpr AsnInteger32 SNMP_ERRORSTATUS_BADVALUE = 3;
constexpr AsnInteger32 SNMP_ERRORSTATUS_READONLY = 4;
constexpr AsnInteger32 SNMP_ERRORSTATUS_GENERR = 5;

// Every block handed across the interface comes from this allocator, so that
// whichever side receives it can free it.
inline void* SnmpUtilMemAlloc(size_t bytes) { return std::calloc(1, bytes ? bytes : 1); }
inline void SnmpUtilMemFree(void* p) { std::free(p); }

inline void SnmpUtilOidFree(AsnObjectIdentifier* oid) {
  if (!oid) return;
  SnmpUtilMemFree(oid->ids);
  oid->ids = nullptr;
  oid->idLength = 0;
}

// Releases what a value owns (a dynamic string, an identifier) and leaves it NULL.
inline void SnmpUtilAsnAnyFree(AsnAny* any) {
  if (!any) return;
  switch (any->asnType) {
    case ASN_OCTETSTRING:
    case ASN_IPADDRESS:
    case ASN_OPAQUE:
    case ASN_SEQUENCE:
      if (any->asnValue.string.dynamic) SnmpUtilMemFree(any->asnValue.string.stream);
      break;
    case ASN_OBJECTIDENTIFIER:
      SnmpUtilOidFree(&any->asnValue.object);
      break;
    default:
      break;
  }
  any->asnType = ASN_NULL;
  any->asnValue.counter64 = 0;
}

inline void SnmpUtilVarBindFree(SnmpVarBind* vb) {
  if (!vb) return;
  SnmpUtilOidFree(&vb->name);
  SnmpUtilAsnAnyFree(&vb->value);
}

// The entry points. Beyond the three of the interface, the library offers its
// host three more (each optional for a host): the start of one SNMP request
// (which may span several queries, as a GETBULK does), the end of a SET (kept or
// undone), and the reason behind the last failing binding, so that the host can
// answer SNMPv2 error codes.
extern "C" {
BOOL SnmpExtensionInit(DWORD upTimeReference, HANDLE* trapEvent, AsnObjectIdentifier* supportedView);
BOOL SnmpExtensionQuery(BYTE requestType, SnmpVarBindList* bindings, AsnInteger32* errorStatus,
                        AsnInteger32* errorIndex);
BOOL SnmpExtensionTrap(AsnObjectIdentifier* enterprise, AsnInteger32* genericTrap,
                       AsnInteger32* specificTrap, AsnTimeticks* timeStamp, SnmpVarBindList* bindings);

void NbrmibBeginRequest(void);
void NbrmibEndSet(BOOL undo);
int NbrmibErrorReason(void);
}

using PFNSNMPEXTENSIONINIT = BOOL (*)(DWORD, HANDLE*, AsnObjectIdentifier*);
using PFNSNMPEXTENSIONQUERY = BOOL (*)(BYTE, SnmpVarBindList*, AsnInteger32*, AsnInteger32*);
using PFNSNMPEXTENSIONTRAP = BOOL (*)(AsnObjectIdentifier*, AsnInteger32*, AsnInteger32*, AsnTimeticks*,
                                      SnmpVarBindList*);
using PFNNBRMIBBEGINREQUEST = void (*)(void);
using PFNNBRMIBENDSET = void (*)(BOOL);
using PFNNBRMIBERRORREASON = int (*)(void);
