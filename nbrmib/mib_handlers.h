// The five object groups of the LLDP-MIB and how each turns the instance part of
// a name into a request on the agent's query pipe: the scalars, the local port
// table, the local management address table, the remote systems table and the
// remote management address table. Each is called by FindAndDispatch as
// (action, entry, length of the entry's full identifier, binding).
#pragma once

#include "nbrmib/mib_context.h"
#include "nbrmib/snmp_extension.h"

namespace torvane {

struct MibEntry;

int ScalarHandler(MibContext& ctx, BYTE action, const MibEntry& entry, UINT fullLength, SnmpVarBind* binding);
int LocalPortHandler(MibContext& ctx, BYTE action, const MibEntry& entry, UINT fullLength, SnmpVarBind* binding);
int LocalAddressHandler(MibContext& ctx, BYTE action, const MibEntry& entry, UINT fullLength,
                        SnmpVarBind* binding);
int RemoteSystemHandler(MibContext& ctx, BYTE action, const MibEntry& entry, UINT fullLength,
                        SnmpVarBind* binding);
int RemoteAddressHandler(MibContext& ctx, BYTE action, const MibEntry& entry, UINT fullLength,
                         SnmpVarBind* binding);

}  // namespace torvane
