// ctest-labels: unit;threaded
// Every view against a scripted agent on 127.0.0.1: one table of agent MIBs and
// the rows each view must show, with a fixed clock (UTC) so that the times are
// known. Then what batch mode saves, run as the program with no display.
#include <gtest/gtest.h>

#include <ctime>
#include <functional>
#include <ostream>
#include <memory>
#include <string>
#include <vector>

#include "netpeek/views.h"
#include "netpeek/snmp_text.h"
#include "tests/netpeek/support/fake_agent.h"
#include "tests/netpeek/support/private_snmpd.h"

namespace torvane::netpeek {
namespace {

using testing::MibTable;

// 2024-05-06 12:53:20 UTC.
constexpr int64_t kNow = 1715000000;

class FixedClock final : public ViewClock {
 public:
  bool fail_conversion = false;
  int64_t now_seconds() override { return kNow; }
  bool local_time(int64_t seconds, std::tm& out) override {
    if (fail_conversion) return false;
    const std::time_t t = static_cast<std::time_t>(seconds);
    return ::gmtime_r(&t, &out) != nullptr;
  }
  void sleep_ms(uint32_t ms) override { monotonic_ += ms; }
  int64_t monotonic_ms() override { return monotonic_; }

 private:
  int64_t monotonic_ = 1000;
};

struct RecordingLookups final : NameLookups {
  std::vector<std::string> asked;  // "generation row,column address"
  void request(uint64_t generation, size_t row, size_t column, uint32_t address) override {
    const auto* b = reinterpret_cast<const uint8_t*>(&address);
    asked.push_back(std::to_string(generation) + " " + std::to_string(row) + "," + std::to_string(column) + " " +
                    std::to_string(b[0]) + "." + std::to_string(b[1]) + "." + std::to_string(b[2]) + "." +
                    std::to_string(b[3]));
  }
};

// A MIB built object by object.
class Mib {
 public:
  Mib& i(const std::string& oid, uint32_t v, uint8_t type = asn::kInteger) {
    return put(testing::integer_binding(oid, type, v));
  }
  Mib& s(const std::string& oid, const std::string& v) { return put(testing::octets_binding(oid, v)); }
  Mib& o(const std::string& oid, const std::string& v) { return put(testing::oid_binding(oid, v)); }
  Mib& ip(const std::string& oid, const std::string& dotted) {
    Oid a = oid_from_text(dotted);
    std::string bytes;
    for (uint32_t x : a.subids) bytes += static_cast<char>(x);
    return put(testing::octets_binding(oid, bytes, asn::kIpAddress));
  }
  Mib& x(const std::string& oid, std::vector<uint8_t> bytes) {
    return put(testing::octets_binding(oid, std::string(bytes.begin(), bytes.end())));
  }
  MibTable table;

 private:
  Mib& put(VarBind v) {
    table[v.name.subids] = v;
    return *this;
  }
};

const char kSys[] = "1.3.6.1.2.1.1.";
const char kHr[] = "1.3.6.1.2.1.25.1.";

Mib SystemGroup(bool with_services) {
  Mib m;
  m.s(std::string(kSys) + "1.0", "Box OS 1.0").i(std::string(kSys) + "3.0", 900600, asn::kTimeTicks);
  m.s(std::string(kSys) + "4.0", "ops").s(std::string(kSys) + "5.0", "box1").s(std::string(kSys) + "6.0", "rack 4");
  if (with_services) m.i(std::string(kSys) + "7.0", 72);
  return m;
}

Mib HostSystem(Mib m) {
  m.i(std::string(kHr) + "1.0", 0, asn::kTimeTicks).x(std::string(kHr) + "2.0", {0x07, 0xE8, 5, 6, 12, 53, 20, 0});
  m.i(std::string(kHr) + "3.0", 1536).s(std::string(kHr) + "4.0", "BOOT_IMAGE=/vmlinuz");
  m.i(std::string(kHr) + "5.0", 3, asn::kGauge).i(std::string(kHr) + "6.0", 120, asn::kGauge);
  m.i(std::string(kHr) + "7.0", 4096);
  return m;
}

// hrSystemUptime moves by `step` between two readings.
std::function<void(MibTable&, const testing::ReceivedRequest&)> UptimeMoves(uint32_t start, uint32_t step) {
  auto reads = std::make_shared<uint32_t>(0);
  return [=](MibTable& mib, const testing::ReceivedRequest& r) {
    const Oid uptime = oid_from_text(std::string(kHr) + "1.0");
    if (r.type != asn::kGetRequest || r.names.empty() || r.names[0] != uptime) return;
    mib[uptime.subids].number = start + step * (*reads)++;
  };
}

Mib Storage(bool with_used) {
  const std::string t = "1.3.6.1.2.1.25.2.3.1.";
  const std::string types = "1.3.6.1.2.1.25.2.1.";
  struct Row {
    uint32_t index;
    std::string type, descr;
    uint32_t unit, size, used;
  };
  const Row rows[] = {{1, types + "4", "/", 4096, 1000, 0},
                      {2, types + "2", "Physical memory", 1, 1100, 1100},
                      {3, types + "5", "/media/usb", 1, 4097, 1024},
                      {4, types + "3", "Swap", 8192, 1048576, 1000},
                      {5, "1.3.6.1.4.1.9.9", "vendor", 4097, 1, 1}};
  Mib m;
  for (const Row& r : rows) {
    const std::string ix = "." + std::to_string(r.index);
    m.i(t + "1" + ix, r.index).o(t + "2" + ix, r.type).s(t + "3" + ix, r.descr).i(t + "4" + ix, r.unit);
    m.i(t + "5" + ix, r.size);
    if (with_used) m.i(t + "6" + ix, r.used);
  }
  return m;
}

Mib Devices() {
  const std::string t = "1.3.6.1.2.1.25.3.2.1.";
  const std::string types = "1.3.6.1.2.1.25.3.1.";
  struct Row {
    uint32_t index;
    std::string type, descr;
    uint32_t status;
  };
  const Row rows[] = {{768, types + "3", "AMD EPYC", 2},     {1025, types + "4", "network interface eth0", 2},
                      {1552, types + "6", "SCSI disk", 1},    {3072, types + "21", "NVRAM", 5},
                      {3073, types + "22", "future type", 6}, {3074, "1.3.6.1.4.1.2021.1", "vendor", 3}};
  Mib m;
  for (const Row& r : rows) {
    const std::string ix = "." + std::to_string(r.index);
    m.i(t + "1" + ix, r.index).o(t + "2" + ix, r.type).s(t + "3" + ix, r.descr).i(t + "5" + ix, r.status);
  }
  return m;
}

// Sparse: process 2 has no parameters and no performance row.
Mib Processes() {
  const std::string run = "1.3.6.1.2.1.25.4.2.1.", perf = "1.3.6.1.2.1.25.5.1.1.";
  Mib m;
  m.i(run + "1.1", 1).i(run + "1.2", 2).i(run + "1.3", 3);
  m.s(run + "2.1", "init").s(run + "2.2", "sshd").s(run + "2.3", "bash");
  m.s(run + "4.1", "/sbin/init").s(run + "4.2", "/usr/sbin/sshd").s(run + "4.3", "/bin/bash");
  m.s(run + "5.1", "splash").s(run + "5.3", "-l");
  m.i(perf + "1.1", 10).i(perf + "1.2", 20).i(perf + "1.3", 30);
  m.i(perf + "2.1", 2048).i(perf + "2.3", 512);
  m.s("1.3.6.1.2.1.25.6.1.0", "after the table");  // the MIB goes on past it
  return m;
}

Mib Installed() {
  const std::string t = "1.3.6.1.2.1.25.6.3.1.";
  Mib m;
  m.i(t + "1.1", 1).i(t + "1.2", 2).i(t + "1.3", 3).i(t + "1.4", 4);
  m.s(t + "2.1", "beta_1.0").s(t + "2.2", "alpha").s(t + "2.3", "Gamma").s(t + "2.4", "Alpha");
  m.x(t + "5.1", {0x07, 0xE8, 5, 6, 12, 53, 20, 0}).x(t + "5.2", {});
  m.x(t + "5.3", {0x07, 0xE7, 12, 31, 23, 59, 59, 9, '+', 1, 0}).x(t + "5.4", {0x07, 0xE8, 5});
  return m;
}

Mib Services() {
  const std::string t = "1.3.6.1.4.1.77.1.2.3.1.";
  const char* names[] = {"Workstation", "server", "DHCP Client", "Server"};
  Mib m;
  for (const char* n : names) {
    std::string ix;
    for (const char* c = n; *c; ++c) ix += "." + std::to_string(static_cast<unsigned char>(*c));
    ix = "." + std::to_string(std::string(n).size()) + ix;
    m.s(t + "1" + ix, n).i(t + "2" + ix, 3).i(t + "3" + ix, 1).i(t + "4" + ix, 1).i(t + "5" + ix, 2);
  }
  return m;
}

Mib Accounts() {
  const std::string t = "1.3.6.1.4.1.77.1.2.25.1.1.";
  Mib m;
  m.s(t + "5.71.117.101.115.116", "Guest").s(t + "13.65", "Administrator");
  m.s(t + "40.66", "a-user-name-much-longer-than-31-characters");
  return m;
}

Mib Addresses() {
  const std::string t = "1.3.6.1.2.1.4.20.1.";
  Mib m;
  m.ip(t + "1.10.1.2.3", "10.1.2.3").i(t + "2.10.1.2.3", 2).ip(t + "3.10.1.2.3", "255.255.255.0");
  m.ip(t + "1.127.0.0.1", "127.0.0.1").i(t + "2.127.0.0.1", 1).ip(t + "3.127.0.0.1", "255.0.0.0");
  return m;
}

Mib Interfaces() {
  Mib m = Addresses();
  m.i(std::string(kSys) + "3.0", 100000, asn::kTimeTicks);
  const std::string t = "1.3.6.1.2.1.2.2.1.";
  struct Row {
    uint32_t index;
    std::string descr;
    uint32_t type, mtu, speed;
    std::vector<uint8_t> mac;
    uint32_t admin, oper, changed;
  };
  const Row rows[] = {{1, "lo", 24, 65536, 10000000, {}, 1, 1, 0},
                      {2, "eth0", 6, 1500, 1000, {0x00, 0x11, 0x22, 0x33, 0x44, 0xAA}, 2, 3, 50000},
                      {3, "fr0", 32, 0, 1000001, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17}, 4, 7, 200000},
                      {4, "x", 33, 9000, 999999, {0xFF}, 3, 2, 100000}};
  for (const Row& r : rows) {
    const std::string ix = "." + std::to_string(r.index);
    m.i(t + "1" + ix, r.index).s(t + "2" + ix, r.descr).i(t + "3" + ix, r.type).i(t + "4" + ix, r.mtu);
    m.i(t + "5" + ix, r.speed, asn::kGauge).x(t + "6" + ix, r.mac).i(t + "7" + ix, r.admin).i(t + "8" + ix, r.oper);
    m.i(t + "9" + ix, r.changed, asn::kTimeTicks);
  }
  return m;
}

Mib Routes() {
  Mib m = Addresses();
  const std::string t = "1.3.6.1.2.1.4.21.1.";
  auto row = [&](const std::string& dest, uint32_t ifIndex, uint32_t metric, const std::string& hop,
                 const std::string& mask) {
    m.ip(t + "1." + dest, dest).i(t + "2." + dest, ifIndex).i(t + "3." + dest, metric);
    m.ip(t + "7." + dest, hop).ip(t + "11." + dest, mask);
  };
  row("0.0.0.0", 2, 1, "10.1.2.254", "0.0.0.0");
  row("10.1.2.0", 2, 0, "0.0.0.0", "255.255.255.0");
  row("192.168.9.0", 9, 20, "10.1.2.1", "255.255.255.0");
  return m;
}

Mib Arp() {
  Mib m = Addresses();
  const std::string t = "1.3.6.1.2.1.4.22.1.";
  auto row = [&](uint32_t ifIndex, const std::string& address, std::vector<uint8_t> mac, uint32_t type) {
    const std::string ix = "." + std::to_string(ifIndex) + "." + address;
    m.i(t + "1" + ix, ifIndex).x(t + "2" + ix, mac).ip(t + "3" + ix, address).i(t + "4" + ix, type);
  };
  row(2, "10.1.2.254", {0x00, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE}, 3);
  row(9, "192.168.9.1", {0x02, 0, 0, 0, 0, 1}, 4);
  row(9, "192.168.9.2", {}, 5);
  return m;
}

Mib Tcp() {
  const std::string t = "1.3.6.1.2.1.6.13.1.1.";
  Mib m;
  m.i(t + "0.0.0.0.80.0.0.0.0.0", 2);
  m.i(t + "1.2.3", 5);  // an index of another length: a row with nothing in it
  m.i(t + "10.0.0.1.49999.0.0.0.0.0", 2);
  m.i(t + "127.0.0.1.22.127.0.0.1.40000", 5);
  m.i(t + "127.0.0.1.40000.127.0.0.1.22", 11);
  return m;
}

Mib Udp() {
  const std::string t = "1.3.6.1.2.1.7.5.1.1.";
  Mib m;
  m.ip(t + "0.0.0.0.53", "0.0.0.0").ip(t + "127.0.0.1.161", "127.0.0.1");
  return m;
}

const char kLldp[] = "1.0.8802.1.1.2.1.";

// Local ports 1 and 5 (numbered as the index says); neighbours on port 1, on
// port 5, on port 3 (beyond the local table) and on port 1 again.
Mib Lldp() {
  const std::string l = kLldp;
  const std::string rem = l + "4.1.1.", dot3 = l + "5.4623.1.3.1.1.4.", dot1 = l + "5.32962.1.3.1.1.1.";
  Mib m;
  m.i(std::string(kSys) + "3.0", 100000, asn::kTimeTicks);
  m.s(l + "3.7.1.4.1", "eth0").s(l + "3.7.1.4.5", "eth1");
  m.i(l + "3.8.1.5.1.10.1.2.3", 1).i(l + "3.8.1.5.1.192.168.1.1", 7);
  struct Neighbor {
    std::string index;
    std::vector<uint8_t> chassis, port;
    const char* portDescr;
    const char* name;  // null: the agent has none (sparse)
    std::vector<uint8_t> supported, enabled;
    uint32_t mau, vlan;
  };
  const Neighbor rows[] = {
      {"90000.1.1", {0x00, 0x11, 0x22, 0x33, 0x44, 0x55}, {'G', 'i', '0', '/', '1'}, "uplink", "switch1",
       {0x01, 0x14}, {0x01, 0x10}, 16, 10},
      {"95000.5.2", {'s', 'w', 'i', 't', 'c', 'h', '-', 't', 'w', 'o', '-', 'x', 'x'}, {1, 2, 3, 4, 5, 6, 7},
       "port 7", "switch2", {0x14}, {}, 15, 4096},
      {"99000.3.1", {}, {9}, "", nullptr, {}, {}, 30, 0},
      {"99500.1.2", {0xAB, 0xCD, 0xEF, 0x01}, {}, "p", "phone", {0x00, 0x24}, {0x00, 0x20}, 10, 4095},
  };
  for (const Neighbor& n : rows) {
    m.x(rem + "5." + n.index, n.chassis).x(rem + "7." + n.index, n.port).s(rem + "8." + n.index, n.portDescr);
    if (n.name) m.s(rem + "9." + n.index, n.name);
    m.s(rem + "10." + n.index, std::string(n.name ? n.name : "?") + " OS");
    m.x(rem + "11." + n.index, n.supported).x(rem + "12." + n.index, n.enabled);
    m.i(dot3 + n.index, n.mau).i(dot1 + n.index, n.vlan);
  }
  // Management addresses: the first with subtype and four arcs, the second with
  // a length arc before the address (skipped).
  m.i(l + "4.2.1.3.90000.1.1.1.10.1.2.254", 2).i(l + "4.2.1.4.90000.1.1.1.10.1.2.254", 3);
  m.i(l + "4.2.1.3.95000.5.2.1.4.10.9.9.9", 2).i(l + "4.2.1.4.95000.5.2.1.4.10.9.9.9", 3);
  return m;
}

struct ViewCase {
  const char* name;
  uint32_t view;
  std::function<Mib()> mib;
  const char* title;
  int columns;
  std::vector<std::string> rows;  // cells joined by tabs
  bool numeric = false;
  std::vector<std::string> lookups = {};
  size_t requests = 0;  // when not 0: the agent saw exactly this many
  std::function<void(MibTable&, const testing::ReceivedRequest&)> tick = {};
  bool connected = true;
  bool clock_fails = false;
};

void PrintTo(const ViewCase& c, std::ostream* os) { *os << c.name; }

const std::vector<ViewCase>& Cases() {
  static const std::vector<ViewCase> cases = {
      {"SystemWithoutHostResources", view_id::kSystem,
       [] { return SystemGroup(true).s("1.3.6.1.4.1.1248.1.1.3.1.1.32.0", "WORKGRP"); }, "System Information", 2,
       {"Name\tbox1", "Description\tBox OS 1.0", "SNMP UpTime\t2h 30min 6sec ( 2024-05-06  10:23:14 )",
        "Services\tend-to-end applications", "Contact\tops", "Location\track 4", "\t",
        "UpTime\t0h 0min 0sec ( 2024-05-06  12:53:20 )", "Current Time\t0000-00-00 00:00:00", "Current Users\t0",
        "Processes\t0", "Process limit\tnot restricted", "LoadDevice Index\t0", "Boot Parameter\t", "\t",
        "Workgroup\tWORKGRP"}},
      {"SystemUptimeInMillisecondsWithoutServices", view_id::kSystem,
       [] { return HostSystem(SystemGroup(false)).s("1.3.6.1.4.1.77.1.4.1.0", "HOME"); }, "System Information", 2,
       {"Name\tbox1", "Description\tBox OS 1.0", "SNMP UpTime\t2h 30min 6sec ( 2024-05-06  10:23:14 )",
        "Services\t", "Contact\tops", "Location\track 4", "\t", "UpTime\t1h 0min 0sec ( 2024-05-06  11:53:20 )",
        "Current Time\t2024-05-06 12:53:20", "Current Users\t3", "Processes\t120", "Process limit\t4096",
        "LoadDevice Index\t1536", "Boot Parameter\tBOOT_IMAGE=/vmlinuz", "\t", "Workgroup\tHOME"},
       false, {}, 0, UptimeMoves(3600000, 20)},
      {"SystemUptimeInHundredths", view_id::kSystem, [] { return HostSystem(SystemGroup(true)); },
       "System Information", 2,
       {"Name\tbox1", "Description\tBox OS 1.0", "SNMP UpTime\t2h 30min 6sec ( 2024-05-06  10:23:14 )",
        "Services\tend-to-end applications", "Contact\tops", "Location\track 4", "\t",
        "UpTime\t2h 0min 0sec ( 2024-05-06  10:53:20 )", "Current Time\t2024-05-06 12:53:20", "Current Users\t3",
        "Processes\t120", "Process limit\t4096", "LoadDevice Index\t1536", "Boot Parameter\tBOOT_IMAGE=/vmlinuz"},
       false, {}, 0, UptimeMoves(720000, 2)},
      {"SystemTimeNotConvertible", view_id::kSystem, [] { return SystemGroup(true); }, "System Information", 2,
       {"Name\tbox1", "Description\tBox OS 1.0", "SNMP UpTime\t", "Services\tend-to-end applications",
        "Contact\tops", "Location\track 4", "\t", "UpTime\t", "Current Time\t0000-00-00 00:00:00",
        "Current Users\t0", "Processes\t0", "Process limit\tnot restricted", "LoadDevice Index\t0",
        "Boot Parameter\t"},
       false, {}, 0, {}, true, true},
      {"StorageThresholds", view_id::kStorage, [] { return Storage(true); }, "Storage: 5", 5,
       {"/\tFixedDisk\t4096\t4000 KB\t0", "Physical memory\tRAM\t1\t1100\t1 KB",
        "/media/usb\tRemovableDisk\t1\t4 KB\t1024", "Swap\tVirtualMemory\t8 KB\t8 GB\t7 MB", "vendor\t\t4 KB\t4 KB\t4 KB"}},
      {"StorageColumnEndingTheMib", view_id::kStorage, [] { return Storage(false); }, "Storage: 5", 5,
       {"/\tFixedDisk\t4096\t4000 KB\t0", "Physical memory\tRAM\t1\t1100\t0", "/media/usb\tRemovableDisk\t1\t4 KB\t0",
        "Swap\tVirtualMemory\t8 KB\t8 GB\t0", "vendor\t\t4 KB\t4 KB\t0"}},
      {"DevicesWithoutNetworkDevices", view_id::kDevices, Devices, "Devices: 5", 3,
       {"AMD EPYC\tProcessor\trunning", "SCSI disk\tDiskStorage\tunkown", "NVRAM\tVolatileMemory\tdown",
        "future type\t\t", "vendor\t\twarning"}},
      // One GetNext per row and one past the end, the sparse columns included.
      {"ProcessesSparseColumns", view_id::kTasks, Processes, "Active Processes: 3", 5,
       {"init\t1\t2048 K\t/sbin/init\tsplash", "sshd\t2\t0 K\t/usr/sbin/sshd\t", "bash\t3\t512 K\t/bin/bash\t-l"},
       false, {}, 4},
      {"InstalledSoftwareSorted", view_id::kInstalled, Installed, "Installed Software: 4", 2,
       {"alpha\t0000-00-00 00:00:00", "Alpha\t2024-05-00 00:00:00", "beta_1.0\t2024-05-06 12:53:20",
        "Gamma\t2023-12-31 23:59:59"}},
      {"ServicesSorted", view_id::kServices, Services, "Active Services: 4", 2,
       {"DHCP Client\t", "Server\t", "server\t", "Workstation\t"}},
      {"AccountsSortedAndCut", view_id::kUsers, Accounts, "Accounts: 3", 2,
       {"a-user-name-much-longer-than-31\t", "Administrator\t", "Guest\t"}},
      {"Interfaces", view_id::kInterfaces, Interfaces, "Interfaces", 9,
       {"lo\t\t127.0.0.1\t65536\t10M\tup\tup\tloopback\t05/06/24  12:36:40",
        "eth0\t00-11-22-33-44-aa\t10.1.2.3\t1500 \t1000\tdown\ttest\tethernet\t05/06/24  12:45:00",
        "fr0\t01-02-03-04-05-06-07-08-09-0a-0b-0c-0d-0e-0f-10\t\t0    \t1M\t\t\tframe-relay\t05/06/24  13:10:00",
        "x\tff\t\t9000 \t999K\ttest\tdown\t\t05/06/24  12:53:20"}},
      {"InterfacesTimeNotConvertible", view_id::kInterfaces, Interfaces, "Interfaces", 9,
       {"lo\t\t127.0.0.1\t65536\t10M\tup\tup\tloopback\t",
        "eth0\t00-11-22-33-44-aa\t10.1.2.3\t1500 \t1000\tdown\ttest\tethernet\t",
        "fr0\t01-02-03-04-05-06-07-08-09-0a-0b-0c-0d-0e-0f-10\t\t0    \t1M\t\t\tframe-relay\t",
        "x\tff\t\t9000 \t999K\ttest\tdown\t\t"},
       false, {}, 0, {}, true, true},
      {"Routes", view_id::kRoutes, Routes, "Routes", 5,
       {"0.0.0.0\t0.0.0.0\t10.1.2.254\t10.1.2.3\t1", "10.1.2.0\t255.255.255.0\t0.0.0.0\t10.1.2.3\t0",
        "192.168.9.0\t255.255.255.0\t10.1.2.1\t0.0.0.0\t20"}},
      {"Arp", view_id::kArp, Arp, "Address Resolution (ARP) Table", 4,
       {"10.1.2.3\t10.1.2.254\t00-aa-bb-cc-dd-ee\tdynamic", "0.0.0.0\t192.168.9.1\t02-00-00-00-00-01\tstatic",
        "0.0.0.0\t192.168.9.2\t\t"}},
      {"TcpWithNames", view_id::kTcp, Tcp, "TCP Ports", 6,
       {"tcp\t*\thttp\t*\t*\tlisten", "tcp\t*\t0\t*\t0\testablished", "tcp\t10.0.0.1\t49999\t*\t*\tlisten",
        "tcp\t127.0.0.1\tssh\t127.0.0.1\t40000\testablished", "tcp\t127.0.0.1\t40000\t127.0.0.1\tssh\ttimeWait"},
       false,
       {"7 2,1 10.0.0.1", "7 3,1 127.0.0.1", "7 3,3 127.0.0.1", "7 4,1 127.0.0.1", "7 4,3 127.0.0.1"}},
      {"TcpNumeric", view_id::kTcp, Tcp, "TCP Ports", 6,
       {"tcp\t*\t80\t*\t*\tlisten", "tcp\t*\t0\t*\t0\testablished", "tcp\t10.0.0.1\t49999\t*\t*\tlisten",
        "tcp\t127.0.0.1\t22\t127.0.0.1\t40000\testablished", "tcp\t127.0.0.1\t40000\t127.0.0.1\t22\ttimeWait"},
       true},
      {"Udp", view_id::kUdp, Udp, "UDP Ports", 6, {"udp\t*\tdomain\t*\t*\t", "udp\t127.0.0.1\tsnmp\t*\t*\t"}, false,
       {"7 1,1 127.0.0.1"}},
      {"LldpNeighbors", view_id::kLldp, Lldp, "LLDP discovered Neighbors: 4", 12,
       {"eth0\t10.1.2.3\t001122334455\tswitch1\t4769302f31\tuplink\t10.1.2.254\tbR\t05/06/24 12:51:40\tswitch1 OS\t"
        "100M FD\t10",
        "eth1\t\t7377697463682d74\tswitch2\t010203040506\tport 7\t0.0.0.0\tbr\t05/06/24 12:52:30\tswitch2 OS\t"
        "100M \t",
        "3\t\t\t\t09\t\t0.0.0.0\t\t05/06/24 12:53:10\t? OS\t1000M FD\t",
        "eth0\t10.1.2.3\tabcdef01\tphone\t\tp\t0.0.0.0\tbT\t05/06/24 12:53:15\tphone OS\t10M \t4095"}},
      {"LldpTimeNotConvertible", view_id::kLldp, Lldp, "LLDP discovered Neighbors: 4", 12,
       {"eth0\t10.1.2.3\t001122334455\tswitch1\t4769302f31\tuplink\t10.1.2.254\tbR\t\tswitch1 OS\t100M FD\t10",
        "eth1\t\t7377697463682d74\tswitch2\t010203040506\tport 7\t0.0.0.0\tbr\t\tswitch2 OS\t100M \t",
        "3\t\t\t\t09\t\t0.0.0.0\t\t\t? OS\t1000M FD\t",
        "eth0\t10.1.2.3\tabcdef01\tphone\t\tp\t0.0.0.0\tbT\t\tphone OS\t10M \t4095"},
       false, {}, 0, {}, true, true},
      {"NotConnected", view_id::kLldp, Lldp, "LLDP discovered Neighbors", 0, {}, false, {}, 0, {}, false},
  };
  return cases;
}

class ViewCaseTest : public ::testing::TestWithParam<ViewCase> {};

TEST_P(ViewCaseTest, ShowsTheRows) {
  const ViewCase& c = GetParam();
  auto mib = std::make_shared<MibTable>(c.mib().table);
  auto tick = c.tick;
  testing::FakeAgent agent([mib, tick](const testing::ReceivedRequest& r, size_t i) {
    if (tick) tick(*mib, r);
    return testing::mib_script(*mib)(r, i);
  });
  auto socket = make_linux_udp_transport();
  ASSERT_TRUE(socket->open());
  SnmpTarget target;
  target.socket = socket.get();
  target.agent_port = agent.port();
  if (c.connected) {
    ASSERT_TRUE(snmp_connect(target, "127.0.0.1"));
  }
  ViewerSettings settings;
  settings.numeric = c.numeric;
  ReportModel model;
  RecordingLookups lookups;
  FixedClock clock;
  clock.fail_conversion = c.clock_fails;
  ViewContext context{target, settings, model, &lookups, 7, &clock};

  EXPECT_EQ(show_view(c.view, context), c.columns);
  EXPECT_EQ(model.save_column_count(), static_cast<size_t>(c.columns));
  EXPECT_EQ(model.title(), c.title);
  EXPECT_FALSE(model.columns().empty());
  std::vector<std::string> rows;
  for (size_t r = 0; r < model.row_count(); ++r) {
    std::string line;
    for (size_t col = 0; col < model.save_column_count(); ++col)
      line += (col ? "\t" : "") + std::string(model.cell(r, col));
    rows.push_back(line);
  }
  EXPECT_EQ(rows, c.rows);
  EXPECT_EQ(lookups.asked, c.lookups);
  if (c.requests) {
    EXPECT_EQ(agent.requests().size(), c.requests);
  }
  if (!c.connected) {
    EXPECT_TRUE(agent.requests().empty());
  }
  EXPECT_EQ(target.last_outcome, c.connected ? SnmpOutcome::kAnswered : SnmpOutcome::kNone);
}

INSTANTIATE_TEST_SUITE_P(Views, ViewCaseTest, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<ViewCase>& p) { return std::string(p.param.name); });

TEST(ViewColumns, WidthsAndAlignmentOfTheNumericPortColumns) {
  SnmpTarget target;  // not connected: only the headers
  ReportModel model;
  for (bool numeric : {false, true}) {
    ViewerSettings settings;
    settings.numeric = numeric;
    ViewContext context{target, settings, model, nullptr, 1};
    EXPECT_EQ(show_view(view_id::kUdp, context), 0);
    ASSERT_EQ(model.columns().size(), 6u);
    int total = 0;
    for (const ReportColumn& c : model.columns()) total += c.width_percent;
    EXPECT_EQ(total, 100);
    const ColumnAlign port = numeric ? ColumnAlign::kRight : ColumnAlign::kLeft;
    EXPECT_EQ(model.columns()[2].align, port);
    EXPECT_EQ(model.columns()[4].align, port);
    EXPECT_EQ(model.columns()[1].align, ColumnAlign::kLeft);
  }
}

// A host that does not answer: the view gives up after the first read's
// time-outs instead of waiting them out once per read.
TEST(ViewFailure, SilentHostIsAskedOnce) {
  testing::FakeAgent agent([](const testing::ReceivedRequest&, size_t) { return std::vector<testing::Reply>{}; });
  auto socket = make_linux_udp_transport();
  ASSERT_TRUE(socket->open());
  SnmpTarget target;
  target.socket = socket.get();
  target.agent_port = agent.port();
  target.retries = 1;
  target.timeout_ms = 100;
  ASSERT_TRUE(snmp_connect(target, "127.0.0.1"));
  ViewerSettings settings;
  ReportModel model;
  FixedClock clock;
  ViewContext context{target, settings, model, nullptr, 1, &clock};
  EXPECT_EQ(show_view(view_id::kLldp, context), 12);
  EXPECT_EQ(model.row_count(), 0u);
  EXPECT_EQ(model.title(), "LLDP discovered Neighbors: 0");
  EXPECT_EQ(target.last_outcome, SnmpOutcome::kNoAnswer);
  EXPECT_EQ(agent.requests().size(), 2u);  // one request, sent twice
}

// ---- batch mode, as the program runs with no display ----

struct Saved {
  testing::RunResult run;
  std::string file;
};

Saved RunWithoutDisplay(uint16_t port, std::vector<std::string> args, const std::string& file) {
  testing::ScratchDir dir;
  args.insert(args.begin(), {"/usr/bin/env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", NETPEEK_BINARY});
  Saved s;
  s.run = testing::run_program(args, {"NETPEEK_SNMP_PORT=" + std::to_string(port)}, dir.path());
  s.file = testing::read_file(dir / file);
  return s;
}

TEST(BatchViews, SavedSystemInformationKeepsEachRowOnOneLine) {
  Mib m = SystemGroup(true);
  m.s(std::string(kSys) + "1.0", "Box OS\r\nrev\t2");
  testing::FakeAgent agent(testing::mib_script(m.table));
  Saved s = RunWithoutDisplay(agent.port(), {"-s", "127.0.0.1"}, "127.0.0.1 - System Information.txt");
  ASSERT_EQ(s.run.exit_code, 0) << s.run.err;
  EXPECT_EQ(s.run.err, "");
  const std::string kRows[] = {"Name\tbox1\n", "Description\tBox OS  rev 2\n", "Services\tend-to-end applications\n",
                               "\t\n", "Current Time\t0000-00-00 00:00:00\n", "Process limit\tnot restricted\n"};
  for (const std::string& row : kRows) EXPECT_NE(s.file.find(row), std::string::npos) << row << "in\n" << s.file;
  size_t lines = 0;
  for (char ch : s.file) lines += ch == '\n';
  EXPECT_EQ(lines, 14u);
}

TEST(BatchViews, CountedTitleNamesTheFile) {
  testing::FakeAgent agent(testing::mib_script(Devices().table));
  Saved s = RunWithoutDisplay(agent.port(), {"-s", "127.0.0.1", "devices"}, "127.0.0.1 - Devices: 5.txt");
  ASSERT_EQ(s.run.exit_code, 0) << s.run.err;
  EXPECT_EQ(s.file,
            "AMD EPYC\tProcessor\trunning\nSCSI disk\tDiskStorage\tunkown\nNVRAM\tVolatileMemory\tdown\n"
            "future type\t\t\nvendor\t\twarning\n");
}

TEST(BatchViews, SilentHostExits2AndSavesTheHeadersOnly) {
  testing::FakeAgent agent([](const testing::ReceivedRequest&, size_t) { return std::vector<testing::Reply>{}; });
  Saved s = RunWithoutDisplay(agent.port(), {"-s", "127.0.0.1", "storage"}, "127.0.0.1 - Storage: 0.txt");
  EXPECT_EQ(s.run.exit_code, 2);
  EXPECT_EQ(s.run.err, "SNMP retry count exceeded\n");
  EXPECT_EQ(s.file, "");
  EXPECT_EQ(agent.requests().size(), 3u);
}

}  // namespace
}  // namespace torvane::netpeek
