#include "netpeek/window/window_mode.h"

#include <dlfcn.h>
#include <unistd.h>

#include <QApplication>
#include <QDesktopServices>
#include <QUrl>
#include <cstdlib>
#include <vector>

#include "netpeek/window/main_window.h"
#include "netpeek/window/window_settings.h"

namespace torvane::netpeek {

namespace {

std::vector<std::string> Split(std::string_view text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(separator, start);
    if (end == std::string_view::npos) end = text.size();
    if (end > start) parts.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

// Connects to the X display the way Qt's X11 platform will, through the same
// library, loaded at run time so that the program needs no X library to link.
std::string X11Problem() {
  const char* display = std::getenv("DISPLAY");
  if (!display || !*display) return "no display (DISPLAY is not set)";
  void* xcb = ::dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
  if (!xcb) return "the X11 client library libxcb.so.1 is missing";
  using Connect = void* (*)(const char*, int*);
  using HasError = int (*)(void*);
  using Disconnect = void (*)(void*);
  auto connect = reinterpret_cast<Connect>(::dlsym(xcb, "xcb_connect"));
  auto hasError = reinterpret_cast<HasError>(::dlsym(xcb, "xcb_connection_has_error"));
  auto disconnect = reinterpret_cast<Disconnect>(::dlsym(xcb, "xcb_disconnect"));
  std::string problem;
  if (!connect || !hasError || !disconnect) {
    problem = "the X11 client library libxcb.so.1 is unusable";
  } else {
    void* connection = connect(nullptr, nullptr);
    if (!connection || hasError(connection)) problem = std::string("cannot connect to the display ") + display;
    if (connection) disconnect(connection);
  }
  ::dlclose(xcb);
  return problem;
}

// Qt reports a platform that cannot start as a fatal message and then aborts; while
// the application object is being made, such a message ends the program the way a
// missing display does.
bool constructing = false;
QtMessageHandler previousHandler = nullptr;

void StartupMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (constructing && type == QtFatalMsg) {
    const QByteArray text = "netpeek: cannot open a window: " + message.toLocal8Bit() +
                            "\n(netpeek -s saves a view to a file without a window)\n";
    [[maybe_unused]] ssize_t written = ::write(STDERR_FILENO, text.constData(), static_cast<size_t>(text.size()));
    ::_exit(kExitNoDisplay);
  }
  if (previousHandler) previousHandler(type, context, message);
}

}  // namespace

std::string window_unavailable_reason() {
  const char* chosen = std::getenv("QT_QPA_PLATFORM");
  std::vector<std::string> platforms = Split(chosen ? chosen : "", ';');
  if (platforms.empty()) platforms.push_back("xcb");  // this system's Qt starts X11 by default
  for (const std::string& platform : platforms) {
    // A platform's arguments follow its name after ':'.
    if (platform.substr(0, platform.find(':')) != "xcb") return "";  // offscreen, vnc, ...: no display to check
  }
  return X11Problem();
}

int run_window(SnmpTarget& target, ViewerSettings& settings, const char* program,
               const std::function<void(std::string_view)>& err) {
  const std::string problem = window_unavailable_reason();
  if (!problem.empty()) {
    if (err) err("netpeek: cannot open a window: " + problem + "\n(netpeek -s saves a view to a file without a window)\n");
    return kExitNoDisplay;
  }
  // Qt sees only the program's name: the viewer's own command line was read
  // already, and a node named like a Qt option must not be taken as one.
  int qtArgc = 1;
  char* qtArgv[] = {const_cast<char*>(program), nullptr};
  constructing = true;
  previousHandler = qInstallMessageHandler(StartupMessageHandler);
  QApplication app(qtArgc, qtArgv);
  qInstallMessageHandler(previousHandler);
  constructing = false;

  WindowSettings store;
  MainWindow::Hooks hooks;
  hooks.open_url = [](const QUrl& url) { QDesktopServices::openUrl(url); };
  MainWindow window(target, settings, store, std::move(hooks));
  window.start();
  return app.exec();
}

}  // namespace torvane::netpeek
