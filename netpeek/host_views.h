// The views of the host's resources: Devices (40007), Storage (40008), Active
// Processes (40009), Installed Software (40010), and from the LAN Manager MIB
// Active Services (40011) and Accounts (40018).
#pragma once

#include "netpeek/views.h"

namespace torvane::netpeek {

int devices_view(ViewContext& context);
int storage_view(ViewContext& context);
int processes_view(ViewContext& context);
int installed_view(ViewContext& context);
int services_view(ViewContext& context);
int accounts_view(ViewContext& context);

// The last arc of a type identifier when it lies directly under the group of
// types (hrDeviceTypes, hrStorageTypes), else 0.
uint32_t type_code(const VarBind* value, const Oid& types);

}  // namespace torvane::netpeek
