// The entry points snmpd's dlmod calls: "dlmod nbrmib /opt/torvane/libnbrmib.so"
// loads the library into snmpd and serves the view in-process.
#include "nbrmib/bridge.h"

extern "C" {

void init_nbrmib(void) { torvane::RegisterBridge(torvane::InProcessExtension(), "nbrmib"); }

void deinit_nbrmib(void) { torvane::UnregisterBridge(); }

}  // extern "C"
