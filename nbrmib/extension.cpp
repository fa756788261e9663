// The library's exports: one context for the process, over the agent's socket.
// The SNMP service calls them one request at a time.
#include <sys/eventfd.h>

#include <ctime>

#include "nbrmib/bridge_exports.h"
#include "nbrmib/mib_table.h"

namespace {

torvane::MibContext& Context() {
  static torvane::SocketTransport transport;
  static torvane::MibContext context(transport);
  return context;
}

// The trap event: made once and never signalled (there are no traps).
HANDLE trapEvent = -1;

}  // namespace

extern "C" {

BOOL SnmpExtensionInit(DWORD, HANDLE* trap, AsnObjectIdentifier* supportedView) {
  torvane::MibContext& ctx = Context();
  ctx.startTime = static_cast<uint32_t>(std::time(nullptr));
  if (trapEvent < 0) trapEvent = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (trap) *trap = trapEvent;
  if (supportedView) {
    // Handed over as it is: the caller copies it and never frees it.
    supportedView->idLength = torvane::kViewPrefixLength;
    supportedView->ids = const_cast<UINT*>(torvane::kViewPrefix);
  }
  return 1;
}

BOOL SnmpExtensionQuery(BYTE requestType, SnmpVarBindList* bindings, AsnInteger32* errorStatus,
                        AsnInteger32* errorIndex) {
  return torvane::MibQuery(Context(), requestType, bindings, errorStatus, errorIndex);
}

BOOL SnmpExtensionTrap(AsnObjectIdentifier*, AsnInteger32*, AsnInteger32*, AsnTimeticks*, SnmpVarBindList*) {
  return 0;
}

void NbrmibBeginRequest(void) {
  torvane::MibContext& ctx = Context();
  ctx.hostBeginsRequests = true;
  ctx.pipe.BeginRequest();
}

void NbrmibEndSet(BOOL undo) { torvane::EndSet(Context(), undo != 0); }

int NbrmibErrorReason(void) { return static_cast<int>(Context().reason); }

}  // extern "C"

namespace torvane {

std::unique_ptr<Extension> InProcessExtension() {
  ExtensionExports x;
  x.init = &SnmpExtensionInit;
  x.query = &SnmpExtensionQuery;
  x.trap = &SnmpExtensionTrap;
  x.beginRequest = &NbrmibBeginRequest;
  x.endSet = &NbrmibEndSet;
  x.errorReason = &NbrmibErrorReason;
  return ExtensionFromExports(x, nullptr);
}

}  // namespace torvane
