// The main window headless: remembered settings and where the window opens, the
// host dialog (options, history, Cancel), saving through the file dialog, the
// about box's link, the menu, plain agent texts, and the program entry without a
// display. The agent is a scripted one on 127.0.0.1; the settings live in a
// scratch folder, never the user's.
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QSettings>
#include <QStyle>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "netpeek/snmp_text.h"
#include "netpeek/udp_transport.h"
#include "netpeek/window/about_dialog.h"
#include "netpeek/window/agent_text.h"
#include "netpeek/window/host_dialog.h"
#include "netpeek/window/host_options.h"
#include "netpeek/window/main_window.h"
#include "netpeek/window/window_settings.h"
#include "tests/netpeek/support/fake_agent.h"
#include "tests/netpeek/support/private_snmpd.h"

namespace torvane::netpeek {
namespace {

namespace t = torvane::netpeek::testing;

// The offscreen platform warns about every window that has a size grip; the
// warning says nothing about the viewer.
QtMessageHandler qtestHandler = nullptr;
void DropPlatformNoise(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (message.contains("propagateSizeHints")) return;
  qtestHandler(type, context, message);
}

t::MibTable TestMib() {
  t::MibTable mib;
  auto add = [&](VarBind v) { mib[v.name.subids] = v; };
  add(t::octets_binding("1.0.8802.1.1.2.1.3.3.0", "sw1"));            // lldpLocSysName
  add(t::octets_binding("1.0.8802.1.1.2.1.3.4.0", "switch"));         // lldpLocSysDesc
  add(t::octets_binding("1.3.6.1.2.1.1.1.0", "box"));                 // sysDescr
  add(t::octets_binding("1.3.6.1.2.1.1.5.0", "vm1"));                 // sysName
  add(t::integer_binding("1.3.6.1.2.1.2.1.0", asn::kInteger, 2));     // ifNumber
  // tcpConnState of 10.0.0.1:80 to 10.0.0.2:5000, established
  add(t::integer_binding("1.3.6.1.2.1.6.13.1.1.10.0.0.1.80.10.0.0.2.5000", asn::kInteger, 5));
  return mib;
}

QSettings Stored() { return QSettings(kSettingsOrganization, kSettingsApplication); }

// A window over a target at the fake agent, with the views recorded on their way
// to the real ones (or to a stand-in) and the link opener recorded.
struct Rig {
  explicit Rig(uint16_t port, ShowView views = show_view) {
    transport->open();
    target.socket = transport.get();
    target.agent_port = port;
    target.host = "127.0.0.1";
    target.timeout_ms = 300;
    target.retries = 0;
    MainWindow::Hooks hooks;
    hooks.show_view = [this, views](uint32_t command, ViewContext& context) {
      shown.push_back(command);
      return views ? views(command, context) : 0;
    };
    hooks.open_url = [this](const QUrl& url) { opened.push_back(url); };
    // Host names never come from the system's resolver here: a lookup could send a
    // query beyond this machine.
    hooks.resolver = [](uint32_t) -> std::optional<std::string> { return std::nullopt; };
    window = std::make_unique<MainWindow>(target, settings, store, std::move(hooks));
  }
  void start() {
    window->start();
    QTRY_VERIFY_WITH_TIMEOUT(!shown.empty(), 5000);
  }
  // Runs a menu command and lets the window's queue run dry.
  void trigger(uint32_t command) {
    QAction* action = window->action(command);
    QVERIFY2(action, qPrintable(QString::number(command)));
    action->trigger();
    settle();
  }
  static void settle() {
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
  }

  std::unique_ptr<UdpTransport> transport = make_linux_udp_transport();
  SnmpTarget target;
  ViewerSettings settings;
  WindowSettings store;
  std::vector<uint32_t> shown;
  std::vector<QUrl> opened;
  std::unique_ptr<MainWindow> window;
};

// Runs act on the modal dialog of type T once it is up (the command that opens it
// runs its own event loop); if it never comes up, every modal dialog is rejected
// so that the test fails instead of hanging.
template <typename T>
void WhenModal(std::function<void(T*)> act, int tries = 200) {
  QTimer::singleShot(10, [act, tries] {
    if (auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget())) {
      act(dialog);
      if (dialog->isVisible()) dialog->reject();  // a check in act failed
    } else if (tries > 0) {
      WhenModal<T>(act, tries - 1);
    } else if (auto* other = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
      other->reject();
    }
  });
}

void ChooseHost(Rig& rig, const QString& host, const QString& options, const QString& community = "tarlow") {
  bool seen = false;
  WhenModal<HostDialog>([&](HostDialog* dialog) {
    seen = true;
    dialog->host_box()->setEditText(host);
    dialog->community_edit()->setText(community);
    dialog->options_edit()->setText(options);
    dialog->accept();
  });
  rig.trigger(command_id::kOpen);
  QVERIFY(seen);
}

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir settingsDir_;
  std::unique_ptr<t::FakeAgent> agent_;

 private slots:
  void initTestCase() {
    qtestHandler = qInstallMessageHandler(DropPlatformNoise);
    QVERIFY(settingsDir_.isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir_.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir_.path());
    agent_ = std::make_unique<t::FakeAgent>(t::mib_script(TestMib()));
  }
  void init() {
    QSettings stored = Stored();
    stored.clear();
    stored.sync();
    LinkButton::forget_visit();
  }
  void cleanupTestCase() { agent_.reset(); }

  void firstStartDefaults() {
    Rig rig(agent_->port());
    rig.start();
    QCOMPARE(rig.shown, std::vector<uint32_t>{view_id::kSystem});
    QCOMPARE(rig.window->pos(), QPoint(0, 0));
    QCOMPARE(rig.window->size(), QSize(kDefaultWidth, kDefaultHeight));
    QVERIFY(rig.window->action(command_id::kResolve)->isChecked());
    QVERIFY(!rig.window->action(command_id::kGrid)->isChecked());
    QVERIFY(!rig.window->list()->showGrid());
    QCOMPARE(rig.window->status_line()->text(), QString("127.0.0.1"));
    QVERIFY(rig.window->history().isEmpty());
  }

  void gridValueWrittenThenDeleted() {
    {
      Rig rig(agent_->port());
      rig.start();
      rig.trigger(command_id::kGrid);
      QVERIFY(rig.window->list()->showGrid());
      QVERIFY(rig.window->action(command_id::kGrid)->isChecked());
      QCOMPARE(rig.shown.size(), size_t{1});  // the grid does not refill the list
      rig.window->close();
    }
    QCOMPARE(Stored().value("grid").toString(), QString("1"));
    {
      Rig rig(agent_->port());
      QVERIFY(rig.window->grid());
      QVERIFY(rig.window->list()->showGrid());
      rig.start();
      rig.trigger(command_id::kGrid);
      rig.window->close();
    }
    QVERIFY(!Stored().contains("grid"));
  }

  void startCoordinate_data() {
    QTest::addColumn<int>("remembered");
    QTest::addColumn<int>("screen");
    QTest::addColumn<int>("expected");
    QTest::newRow("never written") << kPositionUnset << 1024 << 0;
    QTest::newRow("on the screen") << 100 << 1024 << 100;
    QTest::newRow("last usable") << 1018 << 1024 << 1018;
    QTest::newRow("too far right") << 1019 << 1024 << 0;
    QTest::newRow("maximised frame") << -4 << 1024 << -4;
    QTest::newRow("off to the left") << -6 << 1024 << 0;
    QTest::newRow("far off") << -20000 << 1024 << 0;
  }
  void startCoordinate() {
    QFETCH(int, remembered);
    QFETCH(int, screen);
    QFETCH(int, expected);
    QCOMPARE(start_coordinate(remembered, screen), expected);
  }

  void windowOpensWhereItWasLeft() {
    {
      QSettings stored = Stored();
      stored.setValue("left", "120");
      stored.setValue("top", " 40");
      stored.setValue("width", "30");  // below the smallest window
      stored.setValue("height", "x");  // not a number: the default
    }
    Rig rig(agent_->port());
    rig.start();
    QCOMPARE(rig.window->pos(), QPoint(120, 40));
    QCOMPARE(rig.window->size(), QSize(rig.window->minimumSizeHint().width(), kDefaultHeight));
    QVERIFY(rig.window->width() > 30);

    // Moved to x = 0: "left" equals its default at exit and is deleted.
    rig.window->move(0, 55);
    rig.window->resize(640, 300);
    rig.window->close();
    QSettings stored = Stored();
    QVERIFY(!stored.contains("left"));
    QCOMPARE(stored.value("top").toString(), QString("55"));
    QCOMPARE(stored.value("width").toString(), QString("640"));
    QCOMPARE(stored.value("height").toString(), QString("300"));
  }

  void minimisedWindowKeepsItsPlace() {
    {
      QSettings stored = Stored();
      stored.setValue("left", "30");
      stored.setValue("width", "500");
    }
    Rig rig(agent_->port());
    rig.start();
    rig.window->move(200, 200);
    rig.window->setWindowState(Qt::WindowMinimized);
    QVERIFY(rig.window->isMinimized());
    rig.window->close();
    QSettings stored = Stored();
    QCOMPARE(stored.value("left").toString(), QString("30"));
    QCOMPARE(stored.value("width").toString(), QString("500"));
    QCOMPARE(stored.value("grid", "none").toString(), QString("none"));
  }

  void hostOptionsScan_data() {
    QTest::addColumn<QString>("options");
    QTest::addColumn<bool>("numeric");
    QTest::addColumn<uint>("view");
    QTest::addColumn<QString>("oid");
    QTest::newRow("empty") << "" << false << 0u << "";
    QTest::newRow("numeric") << "numeric" << true << 0u << "";
    QTest::newRow("get alone") << "get" << false << uint(view_id::kGet) << "1.3.6.1.2.1.1.1.0";
    QTest::newRow("get object") << "  get   1.3.6.1.2.1.1.5.0" << false << uint(view_id::kGet) << "1.3.6.1.2.1.1.5.0";
    QTest::newRow("numeric get") << "numeric get 1.3.6.1.2.1.1.5.0" << true << uint(view_id::kGet)
                                 << "1.3.6.1.2.1.1.5.0";
    QTest::newRow("run together") << "numericget" << true << uint(view_id::kGet) << "1.3.6.1.2.1.1.1.0";
    QTest::newRow("dump alone") << "dump" << false << uint(view_id::kWalk) << "1.3.6";
    QTest::newRow("dump inet") << "dump inet" << false << uint(view_id::kWalk) << "1.3.6";
    QTest::newRow("dump lldp") << "dump lldp" << false << uint(view_id::kWalk) << "1.0.8802";
    QTest::newRow("dump lldp more") << "dump lldp 2" << false << uint(view_id::kWalk) << "lldp 2";
    QTest::newRow("dump subtree") << "dump 1.3.6.1.2.1.2" << false << uint(view_id::kWalk) << "1.3.6.1.2.1.2";
    QTest::newRow("unknown word first") << "fast get" << false << 0u << "";
    QTest::newRow("numeric then unknown") << "numeric x get" << true << 0u << "";
  }
  void hostOptionsScan() {
    QFETCH(QString, options);
    QFETCH(bool, numeric);
    QFETCH(uint, view);
    QFETCH(QString, oid);
    const HostOptions scanned = scan_host_options(options.toStdString());
    QCOMPARE(scanned.numeric, numeric);
    QCOMPARE(uint(scanned.view), view);
    QCOMPARE(QString::fromStdString(scanned.walk_oid_text), oid);
  }

  // The dialog's options reach the agent: what is asked and what the list shows.
  void hostDialogOptions_data() {
    QTest::addColumn<QString>("options");
    QTest::addColumn<uint>("view");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("firstOid");
    QTest::addColumn<QString>("firstValue");
    QTest::addColumn<bool>("resolveChecked");
    QTest::newRow("dump lldp") << "dump lldp" << uint(view_id::kWalk) << "1.0.8802" << "1.0.8802.1.1.2.1.3.3.0"
                               << "sw1" << true;
    QTest::newRow("get") << "get" << uint(view_id::kGet) << "1.3.6.1.2.1.1.1.0" << "1.3.6.1.2.1.1.1.0" << "box"
                         << true;
    QTest::newRow("numeric get sysName") << "numeric get 1.3.6.1.2.1.1.5.0" << uint(view_id::kGet)
                                         << "1.3.6.1.2.1.1.5.0" << "1.3.6.1.2.1.1.5.0" << "76 6d 31 " << false;
  }
  void hostDialogOptions() {
    QFETCH(QString, options);
    QFETCH(uint, view);
    QFETCH(QString, title);
    QFETCH(QString, firstOid);
    QFETCH(QString, firstValue);
    QFETCH(bool, resolveChecked);
    Rig rig(agent_->port());
    rig.start();
    const size_t asked = agent_->requests().size();
    ChooseHost(rig, "127.0.0.1", options);
    QCOMPARE(uint(rig.shown.back()), view);
    QCOMPARE(uint(rig.settings.current_view), view);
    QCOMPARE(rig.window->title_strip()->text(), title);
    const ReportModel& report = rig.window->report();
    QVERIFY(report.row_count() >= 1);
    QCOMPARE(agent_text(report.cell(0, 0)), firstOid);
    QCOMPARE(agent_text(report.cell(0, 2)), firstValue);
    QCOMPARE(rig.window->action(command_id::kResolve)->isChecked(), resolveChecked);
    // The first request after the dialog names the start.
    const auto requests = agent_->requests();
    QVERIFY(requests.size() > asked);
    QCOMPARE(requests[asked].type, view == view_id::kGet ? asn::kGetRequest : asn::kGetNextRequest);
    QCOMPARE(QString::fromStdString(oid_to_text(requests[asked].names.at(0))), title);
  }

  void historyTakesTenHostsOnceEach() {
    {
      QSettings stored = Stored();
      for (int i = 0; i < 9; ++i) stored.setValue(QString("Host%1").arg(i), QString("127.0.0.%1").arg(i + 1));
      stored.setValue("Host4", "LocalHost");
    }
    Rig rig(agent_->port());
    rig.start();
    QCOMPARE(rig.window->history().size(), 9);

    // Differs only in letter case from a remembered host: not added again.
    ChooseHost(rig, "localhost", "");
    QCOMPARE(rig.target.host, std::string("localhost"));
    QVERIFY(rig.target.connected);
    QCOMPARE(rig.window->history().size(), 9);
    QVERIFY(!Stored().contains("Host9"));

    // The tenth host fills the last slot; the eleventh is not remembered.
    ChooseHost(rig, "127.0.0.10", "");
    QCOMPARE(Stored().value("Host9").toString(), QString("127.0.0.10"));
    ChooseHost(rig, "127.0.0.11", "");
    QVERIFY(rig.target.connected);
    QCOMPARE(rig.window->history().size(), 10);
    QVERIFY(!Stored().contains("Host10"));
    QVERIFY(!rig.window->history().contains("127.0.0.11"));

    // The dialog lists the history sorted without regard to case, the current
    // host and community filled in.
    bool seen = false;
    WhenModal<HostDialog>([&](HostDialog* dialog) {
      seen = true;
      QStringList listed;
      for (int i = 0; i < dialog->host_box()->count(); ++i) listed << dialog->host_box()->itemText(i);
      QCOMPARE(listed.size(), 10);
      QCOMPARE(listed.first(), QString("127.0.0.1"));
      QCOMPARE(listed.last(), QString("LocalHost"));
      QCOMPARE(dialog->host(), QString("127.0.0.11"));
      QCOMPARE(dialog->community(), QString("tarlow"));
      dialog->reject();
    });
    rig.trigger(command_id::kOpen);
    QVERIFY(seen);
  }

  // A host that cannot be connected to is not remembered, and the view still runs
  // (with nothing to show) while the status line tells why.
  void failedConnectIsNotRemembered() {
    Rig rig(agent_->port());
    rig.start();
    const size_t views = rig.shown.size();
    ChooseHost(rig, "", "");
    QVERIFY(!rig.target.connected);
    QCOMPARE(rig.window->status_line()->text(), QString(" connect failed"));
    QCOMPARE(rig.shown.size(), views + 1);
    QVERIFY(rig.window->history().isEmpty());
    QVERIFY(!Stored().contains("Host0"));
  }

  void cancelChangesNothing() {
    Rig rig(agent_->port());
    rig.start();
    const size_t views = rig.shown.size();
    const size_t asked = agent_->requests().size();
    const ViewerSettings before = rig.settings;
    bool seen = false;
    WhenModal<HostDialog>([&](HostDialog* dialog) {
      seen = true;
      dialog->host_box()->setEditText("127.0.0.9");
      dialog->community_edit()->setText("other");
      dialog->options_edit()->setText("numeric dump lldp");
      dialog->reject();
    });
    rig.trigger(command_id::kOpen);
    QVERIFY(seen);
    QCOMPARE(rig.target.host, std::string("127.0.0.1"));
    QCOMPARE(rig.target.community, std::string("tarlow"));
    QCOMPARE(rig.settings.numeric, before.numeric);
    QCOMPARE(rig.settings.current_view, before.current_view);
    QCOMPARE(rig.settings.walk_oid_text, before.walk_oid_text);
    QCOMPARE(rig.shown.size(), views);
    QCOMPARE(agent_->requests().size(), asked);
    QVERIFY(rig.window->history().isEmpty());
    QVERIFY(!Stored().contains("Host0"));
  }

  void saveThroughFileDialogWithBareName() {
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    Rig rig(agent_->port());
    rig.settings.current_view = view_id::kWalk;
    rig.settings.walk_oid_text = "1.0.8802";
    rig.start();
    QString proposed;
    WhenModal<QFileDialog>([&](QFileDialog* dialog) {
      auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
      QVERIFY(name);
      proposed = name->text();
      dialog->setDirectory(folder.path());
      name->setText("report");
      static_cast<QDialog*>(dialog)->accept();
    });
    rig.trigger(command_id::kSave);
    QCOMPARE(proposed, QString("127.0.0.1 - 1.0.8802.txt"));
    QFile saved(folder.filePath("report.txt"));
    QVERIFY2(saved.open(QIODevice::ReadOnly), qPrintable(saved.fileName()));
    QCOMPARE(QString::fromUtf8(saved.readAll()),
             QString("1.0.8802.1.1.2.1.3.3.0\tOctetstring\tsw1\n"
                     "1.0.8802.1.1.2.1.3.4.0\tOctetstring\tswitch\n"
                     "end of MIB tree\t\t\n"));

    // Cancelled: no file.
    WhenModal<QFileDialog>([&](QFileDialog* dialog) {
      dialog->setDirectory(folder.path());
      dialog->findChild<QLineEdit*>("fileNameEdit")->setText("cancelled");
      dialog->reject();
    });
    rig.trigger(command_id::kSave);
    QVERIFY(!QFile::exists(folder.filePath("cancelled.txt")));
  }

  void aboutLinkOpensTheMakersAddress() {
    Rig rig(agent_->port());
    rig.start();
    bool seen = false;
    WhenModal<AboutDialog>([&](AboutDialog* dialog) {
      seen = true;
      QCOMPARE(dialog->windowTitle(), QString("Torvane SNMP Info"));
      QCOMPARE(dialog->name_label()->text(), QString("Torvane SNMP Info 2.2.0"));
      QVERIFY(!LinkButton::visited());
      QTest::mouseClick(dialog->link_button(), Qt::LeftButton);
      QVERIFY(dialog->isVisible());  // the box stays open
      QVERIFY(LinkButton::visited());
      dialog->accept();
    });
    rig.trigger(command_id::kAbout);
    QVERIFY(seen);
    QCOMPARE(rig.opened.size(), size_t{1});
    QCOMPARE(rig.opened[0], QUrl("https://www.torvane.example/"));
  }

  // Every item of the menu, in order, with its text and command; each view command
  // runs its view against the agent and becomes the current view.
  void everyMenuCommandReachesItsView() {
    Rig rig(agent_->port());
    rig.start();
    QStringList items;
    std::function<void(QMenu*, const QString&)> walk = [&](QMenu* menu, const QString& path) {
      for (QAction* action : menu->actions()) {
        if (action->isSeparator())
          items << path + "|-";
        else if (action->menu())
          walk(action->menu(), path + "|" + action->text());
        else
          items << path + "|" + action->text() + "=" + action->data().toString();
      }
    };
    for (QAction* top : rig.window->menuBar()->actions()) walk(top->menu(), top->text());
    const QStringList expected = {
        "&File|&Open=40021",        "&File|&Save=40022",
        "&File|-",                  "&File|E&xit=40023",
        "&View|&System Information=40001",
        "&View|Host|&Devices=40007", "&View|Host|St&orage=40008",
        "&View|Host|Active &Processes=40009",
        "&View|Host|Active Services=40011",
        "&View|Host|Installed Software=40010",
        "&View|Network|&Interfaces=40002", "&View|Network|&Routes=40003",
        "&View|Network|&ARP=40004",        "&View|Network|&TCP Ports=40005",
        "&View|Network|&UDP Ports=40006",  "&View|Network|-",
        "&View|Network|&LLDP Neighbor Table=40012",
        "&Options|Show grid lines=40025",  "&Options|&Resolve Addresses=40024",
        "&Help|&About...=40026"};
    QCOMPARE(items, expected);

    const std::pair<uint32_t, const char*> views[] = {
        {view_id::kSystem, "System Information"},
        {view_id::kDevices, "Devices: 0"},
        {view_id::kTasks, "Active Processes: 0"},
        {view_id::kServices, "Active Services: 0"},
        {view_id::kInstalled, "Installed Software: 0"},
        {view_id::kInterfaces, "Interfaces"},
        {view_id::kRoutes, "Routes"},
        {view_id::kArp, "Address Resolution (ARP) Table"},
        {view_id::kTcp, "TCP Ports"},
        {view_id::kUdp, "UDP Ports"},
        {view_id::kLldp, "LLDP discovered Neighbors: 0"},
        {view_id::kStorage, "Storage: 0"}};
    for (const auto& [view, title] : views) {
      rig.trigger(view);
      QCOMPARE(rig.shown.back(), view);
      QCOMPARE(rig.settings.current_view, view);
      QCOMPARE(rig.window->title_strip()->text(), QString(title));
    }
    // The list shows the last view's columns: Storage, 50/20/10/10/10 percent,
    // its numbers right-aligned; the save count is its column count.
    QTableView* list = rig.window->list();
    QCOMPARE(list->model()->columnCount(), 5);
    QCOMPARE(rig.window->report().save_column_count(), size_t{5});
    QCOMPARE(list->model()->headerData(2, Qt::Horizontal).toString(), QString("Unit"));
    QVERIFY(list->model()->headerData(2, Qt::Horizontal, Qt::TextAlignmentRole).value<Qt::Alignment>() &
            Qt::AlignRight);
    QVERIFY(list->model()->headerData(0, Qt::Horizontal, Qt::TextAlignmentRole).value<Qt::Alignment>() &
            Qt::AlignLeft);
    const int client = list->contentsRect().width() - list->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    QCOMPARE(list->horizontalHeader()->sectionSize(0), client * 50 / 100);
    QCOMPARE(list->horizontalHeader()->sectionSize(1), client * 20 / 100);

    // Resolve Addresses flips numeric display and runs the current view again.
    const size_t before = rig.shown.size();
    rig.trigger(command_id::kResolve);
    QVERIFY(rig.settings.numeric);
    QVERIFY(!rig.window->action(command_id::kResolve)->isChecked());
    QCOMPARE(rig.shown.size(), before + 1);
    QCOMPARE(rig.shown.back(), view_id::kStorage);

    rig.trigger(command_id::kExit);
    QVERIFY(!rig.window->isVisible());
  }

  // A host name that comes back after the list was refilled is dropped; one for the
  // fill shown is put into its cell.
  void lookupsArrivingAfterARefillAreDropped() {
    std::mutex lock;
    std::condition_variable changed;
    bool open = false;
    int entered = 0;
    auto resolver = [&](uint32_t address) -> std::optional<std::string> {
      std::unique_lock<std::mutex> hold(lock);
      ++entered;
      changed.notify_all();
      changed.wait_for(hold, std::chrono::seconds(10), [&] { return open; });
      const uint8_t* b = reinterpret_cast<const uint8_t*>(&address);
      return "host-" + std::to_string(b[3]);
    };
    Rig rig(agent_->port());
    MainWindow::Hooks hooks;
    hooks.resolver = resolver;
    rig.window = std::make_unique<MainWindow>(rig.target, rig.settings, rig.store, std::move(hooks));
    rig.window->show();
    QVERIFY(snmp_connect(rig.target, rig.target.host));

    // The TCP view asks for the names of both ends of its one connection.
    rig.window->dispatch_command(view_id::kTcp);
    const ReportModel& report = rig.window->report();
    QCOMPARE(report.row_count(), size_t{1});
    QCOMPARE(std::string(report.cell(0, 1)), std::string("10.0.0.1"));
    {
      std::unique_lock<std::mutex> hold(lock);
      QVERIFY(changed.wait_for(hold, std::chrono::seconds(5), [&] { return entered > 0; }));
    }
    // Refilled while the lookup is under way: System Information's first row.
    rig.window->dispatch_command(view_id::kSystem);
    const std::string name = std::string(report.cell(0, 1));
    QCOMPARE(name, std::string("vm1"));
    {
      std::lock_guard<std::mutex> hold(lock);
      open = true;
    }
    changed.notify_all();
    QVERIFY(rig.window->lookups().wait_idle(std::chrono::seconds(10)));
    Rig::settle();
    QCOMPARE(std::string(report.cell(0, 1)), name);
    for (size_t row = 0; row < report.row_count(); ++row)
      for (size_t column = 0; column < 2; ++column)
        QVERIFY2(report.cell(row, column).find("host-") == std::string_view::npos, report.title().c_str());

    // Shown again, the names arrive in their cells (and in the list).
    rig.window->dispatch_command(view_id::kTcp);
    QVERIFY(rig.window->lookups().wait_idle(std::chrono::seconds(10)));
    QTRY_COMPARE(std::string(report.cell(0, 1)), std::string("host-1"));
    QTRY_COMPARE(std::string(report.cell(0, 3)), std::string("host-2"));
    QCOMPARE(rig.window->list()->model()->index(0, 3).data().toString(), QString("host-2"));
  }

  void agentText_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("shown");
    QTest::newRow("ascii") << QByteArray("eth0") << QString("eth0");
    QTest::newRow("utf-8") << QByteArray("caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80")
                           << QString::fromUtf8("caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80");
    QTest::newRow("latin-1") << QByteArray("caf\xe9") << QString::fromLatin1("caf\xe9");
    QTest::newRow("lone continuation") << QByteArray("a\x80z") << QString::fromLatin1("a\x80z");
    QTest::newRow("overlong") << QByteArray("\xc0\x80") << QString::fromLatin1("\xc0\x80");
    QTest::newRow("surrogate") << QByteArray("\xed\xa0\x80") << QString::fromLatin1("\xed\xa0\x80");
    QTest::newRow("cut short") << QByteArray("x\xe2\x82") << QString::fromLatin1("x\xe2\x82");
    QTest::newRow("nul inside") << QByteArray("a\0b", 3) << QString::fromLatin1("a\0b", 3);
  }
  void agentText() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, shown);
    const std::string raw(bytes.constData(), static_cast<size_t>(bytes.size()));
    QCOMPARE(agent_text(raw), shown);
    QCOMPARE(typed_bytes(shown, raw), raw);
  }

  // Markup from an agent is shown as the characters it is made of.
  void agentTextsArePlain() {
    Rig rig(agent_->port(), [](uint32_t, ViewContext& context) {
      context.model.set_title("<b>sw</b>");
      context.model.set_columns({{"<i>h</i>", 100, ColumnAlign::kLeft}});
      context.model.clear(1);
      context.model.add_row("<a href=\"x\">caf\xe9</a>");
      snmp_set_status(context.target, "<u>status</u>");
      return 1;
    });
    rig.start();
    QCOMPARE(rig.window->title_strip()->textFormat(), Qt::PlainText);
    QCOMPARE(rig.window->title_strip()->text(), QString("<b>sw</b>"));
    QCOMPARE(rig.window->status_line()->textFormat(), Qt::PlainText);
    QCOMPARE(rig.window->status_line()->text(), QString("<u>status</u>"));
    QAbstractItemModel* model = rig.window->list()->model();
    QCOMPARE(model->index(0, 0).data().toString(), QString::fromLatin1("<a href=\"x\">caf\xe9</a>"));
    QCOMPARE(model->headerData(0, Qt::Horizontal).toString(), QString("<i>h</i>"));
    QVERIFY(!model->index(0, 0).data(Qt::ToolTipRole).isValid());
  }

  void settingsTextsAndNumbers() {
    WindowSettings store;
    store.write_int("width", 700, 0);
    store.write_int("left", 0, 0);
    store.write_text("Host0", QString("a"));
    QSettings stored = Stored();
    QCOMPARE(stored.value("width").toString(), QString("700"));
    QVERIFY(!stored.contains("left"));
    stored.setValue("top", "-12px");
    stored.setValue("height", "  +9");
    stored.setValue("grid", "99999999999");
    stored.sync();
    QCOMPARE(store.read_int("top", 5), -12);
    QCOMPARE(store.read_int("height", 5), 9);
    QCOMPARE(store.read_int("grid", 5), INT_MAX);
    QCOMPARE(store.read_int("missing", 5), 5);
    // History stops at the first empty slot.
    stored.setValue("Host1", "");
    stored.setValue("Host2", "c");
    stored.sync();
    QCOMPARE(store.load_history(), QStringList{"a"});
  }

  // Batch mode needs no display; the window says it has none and exits 1.
  void programEntryWithoutDisplay() {
    const std::vector<std::string> noDisplay = {"DISPLAY=", "QT_QPA_PLATFORM=", "WAYLAND_DISPLAY=",
                                                "NETPEEK_SNMP_PORT=" + std::to_string(agent_->port())};
    t::RunResult window = t::run_program({NETPEEK_BINARY, "127.0.0.1"}, noDisplay, "", 30);
    QCOMPARE(window.exit_code, 1);
    QVERIFY2(window.err.find("netpeek: cannot open a window: no display") != std::string::npos, window.err.c_str());
    QTemporaryDir folder;
    t::RunResult batch = t::run_program({NETPEEK_BINARY, "-s", "127.0.0.1", "get"}, noDisplay,
                                        folder.path().toStdString(), 30);
    QCOMPARE(batch.exit_code, 0);
    QCOMPARE(t::read_file(folder.filePath("127.0.0.1 - 1.3.6.1.2.1.1.1.0.txt").toStdString()),
             std::string("1.3.6.1.2.1.1.1.0\tOctetstring\tbox\n"));
  }
};

}  // namespace torvane::netpeek

QTEST_MAIN(torvane::netpeek::MainWindowTest)
#include "main_window_test.moc"
