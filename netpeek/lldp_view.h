// LLDP discovered Neighbors (command 40012): the neighbours an agent publishes in
// the LLDP-MIB (lldpRemTable with the IEEE 802.1 and 802.3 extensions), with the
// local ports they were heard on.
#pragma once

#include "netpeek/views.h"

namespace torvane::netpeek {

int lldp_view(ViewContext& context);

}  // namespace torvane::netpeek
