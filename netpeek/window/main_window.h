// netpeek's main window: the menu, a title strip over the report list, and the
// status line. Menu commands run the views, the host dialog, saving and the about
// box; all of it on the window's thread, so a view blocks the window while it asks
// the agent, as the engine's exchanges are synchronous.
#pragma once

#include <QMainWindow>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "netpeek/command_line.h"
#include "netpeek/name_lookup.h"
#include "netpeek/report_model.h"
#include "netpeek/snmp_engine.h"
#include "netpeek/views.h"
#include "netpeek/window/about_dialog.h"
#include "netpeek/window/window_settings.h"

class QAction;
class QLabel;
class QTableView;

namespace torvane::netpeek {

class ReportTable;

// The commands of the menu that are not views.
namespace command_id {
inline constexpr uint32_t kOpen = 40021;
inline constexpr uint32_t kSave = 40022;
inline constexpr uint32_t kExit = 40023;
inline constexpr uint32_t kResolve = 40024;
inline constexpr uint32_t kGrid = 40025;
inline constexpr uint32_t kAbout = 40026;
}  // namespace command_id

using ShowView = std::function<int(uint32_t command, ViewContext& context)>;

// Whether a command identifier names a view (the walk and the single get too).
bool is_view_command(uint32_t command);

class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  struct Hooks {
    ShowView show_view = netpeek::show_view;
    OpenUrl open_url;                  // the about box's link
    NameLookupPool::Resolver resolver;  // host names; empty: the system's
  };

  // Reads the history and the grid flag from store.
  MainWindow(SnmpTarget& target, ViewerSettings& settings, WindowSettings& store, Hooks hooks);
  ~MainWindow() override;

  // Places and shows the window by the remembered position and size, connects to
  // the target's host and posts the current view.
  void start();

  void dispatch_command(uint32_t command);
  // Runs the command once the window's queue reaches it.
  void post_command(uint32_t command);

  // What tests look at.
  QAction* action(uint32_t command) const;
  QLabel* title_strip() const { return title_; }
  QLabel* status_line() const { return status_; }
  QTableView* list() const { return list_; }
  const ReportModel& report() const { return report_; }
  bool grid() const { return grid_; }
  NameLookupPool& lookups() { return *lookups_; }
  const QStringList& history() const { return history_.hosts(); }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildMenu();
  void RefreshMenu();
  void RunView(uint32_t command);
  void ApplyColumnWidths(uint32_t command);
  int ListClientWidth() const;
  void OpenHostDialog();
  void ApplyHostChoice(const QString& host, const QString& community, const QString& options);
  void SaveView();
  void SaveSettings();
  void ShowStatus(const QString& text);

  SnmpTarget& target_;
  ViewerSettings& settings_;
  WindowSettings& store_;
  Hooks hooks_;

  ReportModel report_;
  ReportTable* table_ = nullptr;
  // Host names for the TCP and UDP views, looked up off the window's thread; each
  // result comes back as a queued call and is applied only while its fill is
  // still the one shown.
  std::unique_ptr<NameLookupPool> lookups_;
  QLabel* title_ = nullptr;
  QLabel* status_ = nullptr;
  QTableView* list_ = nullptr;
  std::map<uint32_t, QAction*> actions_;

  bool grid_ = false;
  HostHistory history_;
  uint64_t generation_ = 0;
  // Column widths in pixels, per view: set from the view's percentages the first
  // time it is shown and kept from then on, even when the window is resized.
  std::map<uint32_t, std::vector<int>> widths_;
  int base_width_ = 0;
};

}  // namespace torvane::netpeek
