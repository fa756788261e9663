#include "tests/netpeek/support/lab_view.h"

namespace torvane::netpeek::testing {

std::string lab_snmpwalk(PeerLab& lab, const std::string& ns, const std::string& oid) {
  return lab.SnmpTool(ns, std::string("snmpwalk -v1 -c ") + kCommunity + " -On -Ox 127.0.0.1 " + oid);
}

std::vector<NetSnmpObject> lab_walk(PeerLab& lab, const std::string& ns, const std::string& oid) {
  return parse_net_snmp(lab_snmpwalk(lab, ns, oid));
}

std::string run_lldp_view(PeerLab& lab, const std::string& ns) {
  return lab.Capture(ns, "cd " + lab.files.Work() + " && env -u DISPLAY -u WAYLAND_DISPLAY " NETPEEK_BINARY
                         " -s 127.0.0.1 lldp; echo exit=$?");
}

std::string saved_lldp_view(const PeerLab& lab) {
  return read_file(lab.files.Work() + "/127.0.0.1 - LLDP discovered Neighbors: 1.txt");
}

}  // namespace torvane::netpeek::testing
