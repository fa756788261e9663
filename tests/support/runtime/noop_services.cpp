#include "tests/support/runtime/noop_services.h"

// The stand-ins are header-only; this file keeps the header compiled on its own.
