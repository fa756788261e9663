// The window against a real net-snmp snmpd on 127.0.0.1 (a private one, its LLDP
// objects served from tests/netpeek/fixtures/lldp_neighbors.table): System
// Information, Interfaces and the LLDP view show what net-snmp's own snmpwalk
// reads from the same agent.
#include <QLabel>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "netpeek/udp_transport.h"
#include "netpeek/window/main_window.h"
#include "netpeek/window/window_settings.h"
#include "tests/netpeek/support/private_snmpd.h"

namespace torvane::netpeek {
namespace {

namespace t = torvane::netpeek::testing;

// "6c 6f 2d" with its spaces replaced.
std::string HexJoined(const std::string& hex, const std::string& separator, size_t max_bytes) {
  std::string out;
  for (size_t i = 0; i < hex.size() && i / 3 < max_bytes; i += 3) out += (i ? separator : "") + hex.substr(i, 2);
  return out;
}

// The last n sub-identifiers of a dotted name, dotted.
std::string LastSubids(const std::string& oid, size_t n) {
  size_t at = oid.size();
  for (size_t i = 0; i < n && at != std::string::npos; ++i) at = oid.rfind('.', at - 1);
  return at == std::string::npos ? oid : oid.substr(at + 1);
}

std::string Trimmed(std::string_view s) {
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return std::string(s);
}

}  // namespace

class WindowSnmpdTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir settingsDir_;
  std::unique_ptr<t::PrivateSnmpd> snmpd_;
  std::unique_ptr<UdpTransport> transport_;
  SnmpTarget target_;
  ViewerSettings settings_;
  std::unique_ptr<WindowSettings> store_;
  std::unique_ptr<MainWindow> window_;

  std::vector<t::NetSnmpObject> Walk(const std::string& oid) {
    t::RunResult r = snmpd_->net_snmp("snmpwalk", {oid});
    if (r.exit_code != 0) qWarning("snmpwalk %s: %s", oid.c_str(), r.err.c_str());
    return t::parse_net_snmp(r.out);
  }

  void Show(uint32_t view) {
    window_->dispatch_command(view);
    QCOMPARE(settings_.current_view, view);
  }

  const ReportModel& Report() const { return window_->report(); }
  std::string Cell(size_t row, size_t column) const { return std::string(Report().cell(row, column)); }

  // The row whose first cell is label, or -1.
  int RowOf(const std::string& label) const {
    for (size_t row = 0; row < Report().row_count(); ++row)
      if (Report().cell(row, 0) == label) return static_cast<int>(row);
    return -1;
  }

 private slots:
  void initTestCase() {
    if (t::find_program("snmpd").empty() || t::find_program("snmpwalk").empty())
      QSKIP("snmpd and snmpwalk are not installed (scripts/setup)");
    QVERIFY(settingsDir_.isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir_.path());
    snmpd_ = std::make_unique<t::PrivateSnmpd>(
        "sysName lab-host\nsysLocation Lab, rack 3\nsysContact ops@example.net\n"
        "pass_persist .1.0.8802.1.1.2 " NETPEEK_PASS_TABLE " " NETPEEK_FIXTURES "/lldp_neighbors.table\n");
    std::string why;
    QVERIFY2(snmpd_->start(&why), why.c_str());

    transport_ = make_linux_udp_transport();
    QVERIFY(transport_->open());
    target_.socket = transport_.get();
    target_.agent_port = snmpd_->port();
    target_.host = "127.0.0.1";
    store_ = std::make_unique<WindowSettings>();
    MainWindow::Hooks hooks;
    hooks.resolver = [](uint32_t) -> std::optional<std::string> { return std::nullopt; };
    window_ = std::make_unique<MainWindow>(target_, settings_, *store_, std::move(hooks));
    window_->resize(1000, 560);
    window_->show();
    QVERIFY(snmp_connect(target_, target_.host));
  }

  void cleanupTestCase() {
    window_.reset();
    if (snmpd_) snmpd_->stop();
  }

  void systemInformation() {
    Show(view_id::kSystem);
    QCOMPARE(window_->title_strip()->text(), QString("System Information"));
    std::map<std::string, std::string> system;
    for (const t::NetSnmpObject& o : Walk("1.3.6.1.2.1.1")) system[o.oid] = t::hex_to_bytes(o.value);
    const std::pair<const char*, const char*> rows[] = {{"Name", "1.3.6.1.2.1.1.5.0"},
                                                        {"Description", "1.3.6.1.2.1.1.1.0"},
                                                        {"Contact", "1.3.6.1.2.1.1.4.0"},
                                                        {"Location", "1.3.6.1.2.1.1.6.0"}};
    for (const auto& [label, oid] : rows) {
      const int row = RowOf(label);
      QVERIFY2(row >= 0, label);
      QVERIFY2(!system[oid].empty(), oid);
      QCOMPARE(Cell(static_cast<size_t>(row), 1), system[oid]);
    }
    QCOMPARE(Cell(static_cast<size_t>(RowOf("Name")), 1), std::string("lab-host"));
    QCOMPARE(Report().save_column_count(), size_t{2});
  }

  void interfaces() {
    Show(view_id::kInterfaces);
    QCOMPARE(window_->title_strip()->text(), QString("Interfaces"));
    const auto descr = Walk("1.3.6.1.2.1.2.2.1.2");
    const auto mtu = Walk("1.3.6.1.2.1.2.2.1.4");
    const auto mac = Walk("1.3.6.1.2.1.2.2.1.6");
    const auto admin = Walk("1.3.6.1.2.1.2.2.1.7");
    QVERIFY(!descr.empty());
    QCOMPARE(Report().row_count(), descr.size());
    QCOMPARE(mtu.size(), descr.size());
    for (size_t row = 0; row < descr.size(); ++row) {
      QCOMPARE(Cell(row, 0), t::hex_to_bytes(descr[row].value));
      QCOMPARE(Cell(row, 1), HexJoined(mac[row].value, "-", 16));
      QCOMPARE(Trimmed(Report().cell(row, 3)), mtu[row].value);
      QCOMPARE(Cell(row, 5), std::string(admin[row].value == "1" ? "up" : "down"));
    }
    // The loopback's address comes from the address table.
    const int lo = RowOf("lo");
    QVERIFY(lo >= 0);
    QCOMPARE(Cell(static_cast<size_t>(lo), 2), std::string("127.0.0.1"));
  }

  void lldpNeighbors() {
    Show(view_id::kLldp);
    QCOMPARE(window_->title_strip()->text(), QString("LLDP discovered Neighbors: 2"));
    QCOMPARE(Report().save_column_count(), size_t{12});
    const std::string rem = "1.0.8802.1.1.2.1.4.1.1.";
    const auto chassis = Walk(rem + "5");
    const auto portId = Walk(rem + "7");
    const auto portDesc = Walk(rem + "8");
    const auto sysName = Walk(rem + "9");
    const auto sysDesc = Walk(rem + "10");
    const auto vlan = Walk("1.0.8802.1.1.2.1.5.32962.1.3.1.1.1");
    const auto remAddr = Walk("1.0.8802.1.1.2.1.4.2.1.3");
    const auto locPorts = Walk("1.0.8802.1.1.2.1.3.7.1.4");
    QCOMPARE(sysName.size(), size_t{2});
    QCOMPARE(Report().row_count(), sysName.size());
    for (size_t row = 0; row < sysName.size(); ++row) {
      // The row's local port is the second-last sub-identifier of its index.
      const size_t localPort = std::stoul(LastSubids(sysName[row].oid, 2));
      const std::string interfaceName = localPort >= 1 && localPort <= locPorts.size()
                                            ? t::hex_to_bytes(locPorts[localPort - 1].value)
                                            : std::to_string(localPort);
      QCOMPARE(Cell(row, 0), interfaceName);
      QCOMPARE(Cell(row, 2), HexJoined(chassis[row].value, "", 8));
      QCOMPARE(Cell(row, 3), t::hex_to_bytes(sysName[row].value));
      QCOMPARE(Cell(row, 4), HexJoined(portId[row].value, "", 6));
      QCOMPARE(Cell(row, 5), t::hex_to_bytes(portDesc[row].value));
      QCOMPARE(Cell(row, 6), LastSubids(remAddr[row].oid, 4));
      QCOMPARE(Cell(row, 9), t::hex_to_bytes(sysDesc[row].value));
      QCOMPARE(Cell(row, 11), vlan[row].value);
      QCOMPARE(LastSubids(vlan[row].oid, 3), LastSubids(sysName[row].oid, 3));
    }
    // What the table's neighbours stand for: the local address of port 1, the
    // capability letters and the link modes.
    QCOMPARE(Cell(0, 1), std::string("10.0.0.1"));
    QCOMPARE(Cell(1, 1), std::string(""));
    QCOMPARE(Cell(0, 7), std::string("bR"));
    QCOMPARE(Cell(1, 7), std::string("bT"));
    QCOMPARE(Cell(0, 10), std::string("1000M FD"));
    QCOMPARE(Cell(1, 10), std::string("100M FD"));
  }
};

}  // namespace torvane::netpeek

QTEST_MAIN(torvane::netpeek::WindowSnmpdTest)
#include "window_snmpd_test.moc"
