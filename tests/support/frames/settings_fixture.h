// A settings record filled with lldp.ini's defaults, for tests that need one
// without reading a file.
#pragma once

#include "records/agent_settings.h"

namespace torvane {

// Every key at its default. The derived fields are fixed stand-ins: chassis ID
// subtype 7 "Wq3Kvxqz", system name "host1", system description
// "x86_64 - Linux 6.1". Tests that pin bytes set the derived fields themselves.
AgentSettings DefaultSettingsForTest();

}  // namespace torvane
