// The exports of an extension library as function pointers: what the SNMP
// service binds by name after loading the library.
#pragma once

#include <memory>

#include "nbrmib/bridge.h"
#include "nbrmib/snmp_extension.h"

namespace torvane {

struct ExtensionExports {
  PFNSNMPEXTENSIONINIT init = nullptr;
  PFNSNMPEXTENSIONQUERY query = nullptr;
  PFNSNMPEXTENSIONTRAP trap = nullptr;
  // Optional: a library without them is served without GETBULK-wide time-outs,
  // SET undo through the host, or finer SNMPv2 errors.
  PFNNBRMIBBEGINREQUEST beginRequest = nullptr;
  PFNNBRMIBENDSET endSet = nullptr;
  PFNNBRMIBERRORREASON errorReason = nullptr;
};

// An Extension over bound exports; `library` (a dlopen handle or null) is closed
// when it goes.
std::unique_ptr<Extension> ExtensionFromExports(const ExtensionExports& exports, void* library);

}  // namespace torvane
