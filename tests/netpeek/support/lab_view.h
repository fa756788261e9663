// The viewer in the suite's namespace lab: snmpwalk against the lab's snmpd on
// the namespace's 127.0.0.1:161, and the program run there as a person runs it.
#pragma once

#include <string>
#include <vector>

#include "tests/netpeek/support/private_snmpd.h"
#include "tests/support/peer_lab.h"

namespace torvane::netpeek::testing {

// snmpwalk -v1 -On -Ox of `oid` in the namespace: its output, and parsed.
std::string lab_snmpwalk(PeerLab& lab, const std::string& ns, const std::string& oid);
std::vector<NetSnmpObject> lab_walk(PeerLab& lab, const std::string& ns, const std::string& oid);

// The program with no display, in the lab's work folder, showing the LLDP view
// of 127.0.0.1 (the default port): what it printed, then "exit=<status>"; and
// the file it saved there.
std::string run_lldp_view(PeerLab& lab, const std::string& ns);
std::string saved_lldp_view(const PeerLab& lab);

}  // namespace torvane::netpeek::testing
