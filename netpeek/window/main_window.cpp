#include "netpeek/window/main_window.h"

#include <QAction>
#include <QCloseEvent>
#include <QFile>
#include <QFileDialog>
#include <QFrame>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QProxyStyle>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QStyleOptionHeader>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>
#include <clocale>
#include <cstring>

#include "netpeek/view_save.h"
#include "netpeek/window/agent_text.h"
#include "netpeek/window/host_dialog.h"
#include "netpeek/window/host_options.h"
#include "netpeek/window/report_table.h"

namespace torvane::netpeek {

namespace {

struct MenuItem {
  const char* text;
  uint32_t command;  // 0: a separator
};

constexpr MenuItem kFileMenu[] = {
    {"&Open", command_id::kOpen}, {"&Save", command_id::kSave}, {nullptr, 0}, {"E&xit", command_id::kExit}};
constexpr MenuItem kHostMenu[] = {{"&Devices", view_id::kDevices},
                                  {"St&orage", view_id::kStorage},
                                  {"Active &Processes", view_id::kTasks},
                                  {"Active Services", view_id::kServices},
                                  {"Installed Software", view_id::kInstalled}};
constexpr MenuItem kNetworkMenu[] = {{"&Interfaces", view_id::kInterfaces}, {"&Routes", view_id::kRoutes},
                                     {"&ARP", view_id::kArp},               {"&TCP Ports", view_id::kTcp},
                                     {"&UDP Ports", view_id::kUdp},         {nullptr, 0},
                                     {"&LLDP Neighbor Table", view_id::kLldp}};
constexpr MenuItem kOptionsMenu[] = {{"Show grid lines", command_id::kGrid},
                                     {"&Resolve Addresses", command_id::kResolve}};

// The views' narrow columns (5 percent of the list) are narrower than some of
// their headers. Qt's styles cut such a header's text at the section's edge, on
// the left of a right-aligned one; this style ends it in "..." as the cells end.
class HeaderLabelStyle : public QProxyStyle {
 public:
  explicit HeaderLabelStyle(const QString& base) : QProxyStyle(base) {}
  void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                   const QWidget* widget) const override {
    const auto* header = qstyleoption_cast<const QStyleOptionHeader*>(option);
    if (element != CE_HeaderLabel || !header) {
      QProxyStyle::drawControl(element, option, painter, widget);
      return;
    }
    QStyleOptionHeader label(*header);
    const int margin = pixelMetric(PM_HeaderMargin, option, widget);
    label.text = label.fontMetrics.elidedText(label.text, Qt::ElideRight, label.rect.width() - 2 * margin);
    QProxyStyle::drawControl(element, &label, painter, widget);
  }
};

std::string Cut(std::string text, size_t max) {
  if (text.size() > max) text.resize(max);
  return text;
}

}  // namespace

bool is_view_command(uint32_t command) {
  return (command >= view_id::kSystem && command <= view_id::kWalk) || command == view_id::kUsers;
}

MainWindow::MainWindow(SnmpTarget& target, ViewerSettings& settings, WindowSettings& store, Hooks hooks)
    : target_(target), settings_(settings), store_(store), hooks_(std::move(hooks)) {
  setWindowTitle(QString::fromLatin1(kProgramTitle));
  setWindowIcon(style()->standardIcon(QStyle::SP_ComputerIcon));

  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);

  title_ = new QLabel(central);
  title_->setTextFormat(Qt::PlainText);
  title_->setFrameShape(QFrame::Panel);
  title_->setFrameShadow(QFrame::Sunken);
  title_->setMargin(2);
  layout->addWidget(title_);

  table_ = new ReportTable(report_, this);
  list_ = new QTableView(central);
  list_->setModel(table_);
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list_->setWordWrap(false);
  list_->setTextElideMode(Qt::ElideRight);
  list_->verticalHeader()->hide();
  list_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  list_->verticalHeader()->setDefaultSectionSize(list_->fontMetrics().height() + 4);
  list_->horizontalHeader()->setHighlightSections(false);
  auto* headerStyle = new HeaderLabelStyle(list_->horizontalHeader()->style()->name());
  headerStyle->setParent(list_->horizontalHeader());
  list_->horizontalHeader()->setStyle(headerStyle);
  list_->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  list_->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  layout->addWidget(list_, 1);
  setCentralWidget(central);

  // The status line is a permanent widget: a menu's status tips would hide an
  // ordinary one, and the line must keep telling what the last request did.
  status_ = new QLabel(this);
  status_->setTextFormat(Qt::PlainText);
  statusBar()->addPermanentWidget(status_, 1);
  statusBar()->setSizeGripEnabled(true);
  ShowStatus(agent_text(target_.status_text));
  target_.show_status = [this](std::string_view text) {
    ShowStatus(agent_text(text));
    // A request blocks the window: paint the line now, so that it shows which host
    // is being asked while the answer is awaited.
    status_->repaint();
  };

  lookups_ = std::make_unique<NameLookupPool>(
      report_,
      [this](std::function<void()> apply) {
        QMetaObject::invokeMethod(
            this,
            [this, apply = std::move(apply)] {
              apply();
              table_->cells_changed();
            },
            Qt::QueuedConnection);
      },
      4, hooks_.resolver);

  BuildMenu();
  history_ = HostHistory(store_.load_history());
  grid_ = store_.read_int(QStringLiteral("grid"), 0) != 0;
  RefreshMenu();
}

MainWindow::~MainWindow() {
  // The lookups end first: their threads post to this window. Then the list lets go
  // of the table before the report it reads goes: the child widgets outlive this
  // body and still ask for headers while they are hidden.
  lookups_.reset();
  list_->setModel(nullptr);
  delete table_;
  table_ = nullptr;
  target_.show_status = nullptr;
}

void MainWindow::BuildMenu() {
  auto add = [this](QMenu* menu, const MenuItem& item) {
    if (!item.text) {
      menu->addSeparator();
      return;
    }
    QAction* action = menu->addAction(QString::fromLatin1(item.text));
    const uint32_t command = item.command;
    action->setData(command);
    connect(action, &QAction::triggered, this, [this, command] { dispatch_command(command); });
    actions_[command] = action;
  };
  QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
  for (const MenuItem& item : kFileMenu) add(file, item);
  QMenu* view = menuBar()->addMenu(QStringLiteral("&View"));
  add(view, {"&System Information", view_id::kSystem});
  QMenu* host = view->addMenu(QStringLiteral("Host"));
  for (const MenuItem& item : kHostMenu) add(host, item);
  QMenu* network = view->addMenu(QStringLiteral("Network"));
  for (const MenuItem& item : kNetworkMenu) add(network, item);
  QMenu* options = menuBar()->addMenu(QStringLiteral("&Options"));
  for (const MenuItem& item : kOptionsMenu) add(options, item);
  actions_[command_id::kGrid]->setCheckable(true);
  actions_[command_id::kResolve]->setCheckable(true);
  QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
  add(help, {"&About...", command_id::kAbout});
}

QAction* MainWindow::action(uint32_t command) const {
  auto it = actions_.find(command);
  return it == actions_.end() ? nullptr : it->second;
}

void MainWindow::RefreshMenu() {
  actions_[command_id::kGrid]->setChecked(grid_);
  actions_[command_id::kResolve]->setChecked(!settings_.numeric);
  list_->setShowGrid(grid_);
  // Dates in the views follow the user's locale.
  std::setlocale(LC_TIME, "");
}

void MainWindow::start() {
  const QRect screen = QGuiApplication::primaryScreen() ? QGuiApplication::primaryScreen()->geometry() : QRect();
  const int x = start_coordinate(store_.read_int(QStringLiteral("left"), kPositionUnset), screen.width());
  const int y = start_coordinate(store_.read_int(QStringLiteral("top"), kPositionUnset), screen.height());
  // However small the stored size, the window opens at least as large as its menu
  // bar, title strip and status line need.
  const QSize smallest = minimumSizeHint();
  const int width = std::max(store_.read_int(QStringLiteral("width"), kDefaultWidth), smallest.width());
  const int height = std::max(store_.read_int(QStringLiteral("height"), kDefaultHeight), smallest.height());
  resize(width, height);
  move(x, y);
  show();
  snmp_connect(target_, target_.host);
  post_command(settings_.current_view);
}

void MainWindow::post_command(uint32_t command) {
  QMetaObject::invokeMethod(this, [this, command] { dispatch_command(command); }, Qt::QueuedConnection);
}

void MainWindow::dispatch_command(uint32_t command) {
  if (is_view_command(command)) {
    RunView(command);
    return;
  }
  switch (command) {
    case command_id::kOpen:
      OpenHostDialog();
      break;
    case command_id::kSave:
      SaveView();
      break;
    case command_id::kExit:
      close();
      break;
    case command_id::kResolve:
      settings_.numeric = !settings_.numeric;
      RefreshMenu();
      post_command(settings_.current_view);
      break;
    case command_id::kGrid:
      grid_ = !grid_;
      RefreshMenu();
      break;
    case command_id::kAbout: {
      AboutDialog about(this, hooks_.open_url);
      about.exec();
      break;
    }
    default:
      break;
  }
}

void MainWindow::RunView(uint32_t command) {
  table_->begin_fill();
  ++generation_;
  lookups_->begin_fill(generation_);
  ViewContext context{target_, settings_, report_, lookups_.get(), generation_};
  const int columns = hooks_.show_view ? hooks_.show_view(command, context) : 0;
  report_.set_save_column_count(columns > 0 ? static_cast<size_t>(columns) : 0);
  table_->end_fill();
  title_->setText(agent_text(report_.title()));
  ApplyColumnWidths(command);
  settings_.current_view = command;
}

int MainWindow::ListClientWidth() const {
  return list_->contentsRect().width() - list_->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, list_);
}

void MainWindow::ApplyColumnWidths(uint32_t command) {
  const auto& columns = report_.columns();
  if (columns.empty()) return;
  const int client = std::max(ListClientWidth(), 0);
  if (base_width_ == 0) base_width_ = client;
  std::vector<int>& widths = widths_[command];
  if (widths.size() < columns.size()) widths.resize(columns.size(), 0);
  for (size_t i = 0; i < columns.size(); ++i) {
    if (widths[i] == 0) widths[i] = client * columns[i].width_percent / 100;
    if (widths[i] == 0) widths[i] = base_width_ / static_cast<int>(columns.size());
    list_->horizontalHeader()->resizeSection(static_cast<int>(i), widths[i]);
  }
}

void MainWindow::OpenHostDialog() {
  HostDialog dialog(this, history_.hosts(), agent_text(target_.host), agent_text(target_.community));
  if (dialog.exec() != QDialog::Accepted) return;
  ApplyHostChoice(dialog.host(), dialog.community(), dialog.options());
}

void MainWindow::ApplyHostChoice(const QString& host, const QString& community, const QString& options) {
  target_.host = Cut(typed_bytes(host, target_.host), kHostTextMax);
  target_.community = Cut(typed_bytes(community, target_.community), kCommunityMax);

  const HostOptions chosen = scan_host_options(options.toStdString());
  if (chosen.numeric) {
    settings_.numeric = true;
    RefreshMenu();
  }
  if (chosen.view) {
    settings_.current_view = chosen.view;
    settings_.walk_oid_text = Cut(chosen.walk_oid_text, kOidTextMax);
  }

  if (snmp_connect(target_, target_.host)) {
    const QString shown = agent_text(target_.host);
    const int slot = history_.add(shown);
    if (slot >= 0) store_.write_history_slot(slot, shown);
  }
  // The view runs whether or not the connect succeeded: it then shows its empty
  // columns, and the status line tells why.
  post_command(settings_.current_view);
}

void MainWindow::SaveView() {
  const std::string proposed = proposed_file_name(target_.host, report_.title()) + ".txt";
  QFileDialog dialog(this, QStringLiteral("Save As"));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  // Qt's own dialog on every desktop, so that it behaves the same everywhere (and
  // tests can drive it).
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setNameFilters({QStringLiteral("Text Files (*.txt)"), QStringLiteral("All Files (*)")});
  dialog.setDefaultSuffix(QStringLiteral("txt"));
  dialog.selectFile(agent_text(proposed));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  const QString path = dialog.selectedFiles().constFirst();
  const SaveResult saved = save_view_to_path(report_, QFile::encodeName(path).toStdString());
  if (saved.status != SaveStatus::kSaved)
    ShowStatus(QStringLiteral("cannot write %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(saved.error))));
}

void MainWindow::ShowStatus(const QString& text) { status_->setText(text); }

void MainWindow::SaveSettings() {
  store_.write_int(QStringLiteral("grid"), grid_ ? 1 : 0, 0);
  if (!isMinimized()) {
    // The position of the frame and the size of the window's own area: what move()
    // and resize() take at the next start, so a window reopens where it was left.
    store_.write_int(QStringLiteral("left"), pos().x(), 0);
    store_.write_int(QStringLiteral("top"), pos().y(), 0);
    store_.write_int(QStringLiteral("width"), width(), 0);
    store_.write_int(QStringLiteral("height"), height(), 0);
  }
  store_.sync();
}

void MainWindow::closeEvent(QCloseEvent* event) {
  SaveSettings();
  event->accept();
}

}  // namespace torvane::netpeek
