#include "netpeek/batch_mode.h"

#include <clocale>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "common/text.h"
#include "netpeek/name_lookup.h"
#include "netpeek/report_model.h"
#include "netpeek/view_save.h"
#include "netpeek/views.h"

namespace torvane::netpeek {

namespace {

// How long batch mode waits for host names before it saves without them.
constexpr std::chrono::milliseconds kLookupWait{5000};

void Line(const std::function<void(std::string_view)>& sink, std::string_view text) {
  if (!sink) return;
  std::string line(text);
  line += '\n';
  sink(line);
}

bool ExchangeFailed(SnmpOutcome outcome) {
  return outcome == SnmpOutcome::kNotConnected || outcome == SnmpOutcome::kSetupFailed ||
         outcome == SnmpOutcome::kSendFailed || outcome == SnmpOutcome::kReceiveFailed ||
         outcome == SnmpOutcome::kNoAnswer;
}

}  // namespace

int run_batch(SnmpTarget& target, const ViewerSettings& settings, NetpeekIo& io) {
  // Dates in the views follow the user's locale, as in the window.
  std::setlocale(LC_TIME, "");
  snmp_connect(target, target.host);

  // Name lookups post their results here; they are applied on this thread before
  // the file is written. Declared before the pool, which may post until it ends.
  std::mutex postedLock;
  std::vector<std::function<void()>> posted;
  ReportModel model;
  NameLookupPool lookups(model, [&](std::function<void()> apply) {
    std::lock_guard<std::mutex> lock(postedLock);
    posted.push_back(std::move(apply));
  });
  constexpr uint64_t kFill = 1;
  lookups.begin_fill(kFill);
  ViewContext context{target, settings, model, &lookups, kFill};
  show_view(settings.current_view, context);
  lookups.wait_idle(kLookupWait);
  {
    std::vector<std::function<void()>> ready;
    {
      std::lock_guard<std::mutex> lock(postedLock);
      ready.swap(posted);
    }
    for (auto& apply : ready) apply();
  }

  int status = kExitDone;
  if (context.scratch_failed) {
    Line(io.err, "netpeek: cannot write a temporary file");
    status = kExitCannotWrite;
  }
  const std::string path = proposed_file_name(target.host, model.title()) + ".txt";
  SaveResult saved = save_view_to_path(model, path);
  if (saved.status != SaveStatus::kSaved) {
    Line(io.err, FormatText("netpeek: cannot write \"%s\": %s", path.c_str(), std::strerror(saved.error)));
    status = kExitCannotWrite;
  }
  if (ExchangeFailed(target.last_outcome)) {
    Line(io.err, target.status_text);
    status = kExitNoAnswer;
  }
  return status;
}

int run_netpeek(int argc, const char* const* argv, NetpeekIo& io) {
  BerLog log([&io](std::string_view line) {
    if (io.out) io.out(line);
  });
  SnmpTarget target;
  target.socket = io.transport;
  target.log = &log;
  target.agent_port = agent_port_from_environment(io.port_env);
  ViewerSettings settings;
  auto message = [&io](std::string_view text) { Line(io.err, text); };

  int code = snmp_startup(argc, argv, target, settings, message);
  if (code == 1) {
    Line(io.out, kUsageText);
    return kExitDone;
  }
  if (code != 0) {
    message("SNMP init failed");
    return kExitCannotWrite;
  }
  if (!settings.batch_save) {
    if (io.run_window) return io.run_window(target, settings);
    Line(io.err, "netpeek: this build has no window; run it with -s to save a view to a file");
    return kExitNoAnswer;
  }
  return run_batch(target, settings, io);
}

}  // namespace torvane::netpeek
