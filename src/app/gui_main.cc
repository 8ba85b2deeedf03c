// brindle: the desktop program.
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>
#include <algorithm>

#include "core/dial_up_port.h"
#include "core/event_loop.h"
#include "core/launcher_port.h"
#include "core/log_error.h"
#include "core/paths.h"
#include "core/power_port.h"
#include "core/presentation.h"
#include "core/prompt_port.h"
#include "core/settings.h"
#include "core/trace.h"
#include "core/version.h"
#include "manager/accepted_url.h"
#include "manager/default_categories.h"
#include "platform/broken_pipe_signal.h"
#include "platform/file_size_signal.h"
#include "platform/hand_over_client.h"
#include "platform/hand_over_request.h"
#include "platform/hand_over_server.h"
#include "platform/hand_over_socket.h"
#include "platform/instance_lock.h"
#include "platform/network_manager_dial_up.h"
#include "platform/program_layout.h"
#include "platform/registry_hive_file.h"
#include "platform/systemd_power.h"
#include "platform/xdg_launcher.h"
#include "ui/event_loop_bridge.h"
#include "ui/dbus_notifications.h"
#include "ui/form_main.h"
#include "ui/glyphs.h"
#include "ui/qt_tray.h"

using namespace brindle;

namespace {

// Window positions, stay-on-top windows and background clipboard reads
// need X11; under Wayland the program runs through XWayland unless the
// user chose a platform.
void PreferX11() {
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  const char* display = std::getenv("DISPLAY");
  if (wayland && *wayland && display && *display && !std::getenv("QT_QPA_PLATFORM"))
    setenv("QT_QPA_PLATFORM", "xcb", 1);
}

}  // namespace

int main(int argc, char** argv) {
  // Failed writes (a file-size limit, a reset connection under TLS) are
  // ordinary errors the downloads report, never the end of the program.
  brindle::IgnoreFileSizeSignal();
  brindle::IgnoreBrokenPipeSignal();
  std::vector<std::string> urls;
  bool debug = false;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--help" || argument == "-h") {
      std::printf("usage: brindle [--debug] [URL...]\nStarts the Brindle download manager and downloads the URLs; "
                  "when Brindle already runs, it gets them and this start ends.\n"
                  "  --debug    offers the \"Debug Mode\" switch, which shows the transfer engine's trace\n"
                  "  --version  prints the version\n");
      return 0;
    }
    if (argument == "--version") {
      std::printf("brindle %s\n", BrindleVersion());
      return 0;
    }
    if (argument == "--debug") {
      debug = true;
    } else {
      urls.push_back(argument);
    }
  }
  // What is no address is refused here, with a message, before anything is
  // handed to a running Brindle; an address without a scheme gets one.
  std::vector<std::string> addresses;
  std::vector<std::string> refused;
  for (const std::string& url : urls) {
    const std::string address = DownloadableAddress(url, false);
    if (address.empty()) {
      refused.push_back(url);
    } else {
      addresses.push_back(address);
    }
  }
  const std::string firstArgument = addresses.empty() ? "" : addresses.front();
  // A failure a routine caught is never silent: standard error, and the
  // debug trace when it is open.
  SetErrorLogSink([](std::string_view routine, std::string_view text) {
    const std::string line = "Error in " + ErrorReportLine(routine, text);
    std::fprintf(stderr, "brindle: %s\n", line.c_str());
    Trace(line);
  });
  // The session's end arrives through the engine's loop, so it ends the
  // program the way Exit does; blocked before any thread starts.
  sigset_t blockedSignals;
  sigemptyset(&blockedSignals);
  sigaddset(&blockedSignals, SIGINT);
  sigaddset(&blockedSignals, SIGTERM);
  sigaddset(&blockedSignals, SIGHUP);
  sigprocmask(SIG_BLOCK, &blockedSignals, nullptr);
  const int signalFd = signalfd(-1, &blockedSignals, SFD_NONBLOCK | SFD_CLOEXEC);

  // A profile without settings file is new: it gets the default categories.
  const bool newProfile = access(RegistryFile().c_str(), F_OK) != 0;
  RegistryHiveFile hive;
  hive.Load(RegistryFile());
  SetRegistry(&hive);
  EventLoop loop;
  TInstanceLock lock(ConfigDirectory());
  const TInstanceStart start = StartOrHandOver(lock, THandOverRequest::PlainText(firstArgument));
  if (const std::string note = HandOverPlaceNote(HandOverPlace(lock.Directory())); !note.empty())
    std::fprintf(stderr, "brindle: %s\n", note.c_str());
  if (start == TInstanceStart::HandedOver) {
    for (const std::string& url : refused)
      std::fprintf(stderr, "brindle: %s\n", EscapeControlCharacters(RefusedAddressText(url)).c_str());
    for (size_t i = 1; i < addresses.size(); ++i)
      if (!HandOver(HandOverSocketPath(lock.Directory()), THandOverRequest::PlainText(addresses[i]), 10000))
        std::fprintf(stderr, "brindle: the running Brindle did not take %s\n",
                     EscapeControlCharacters(addresses[i]).c_str());
    if (!addresses.empty()) std::printf("Handed over to the running Brindle\n");
    SetRegistry(nullptr);
    return refused.empty() ? 0 : 2;
  }
  if (start == TInstanceStart::Ended) {
    std::fprintf(stderr, "brindle: another Brindle runs on this profile and did not answer\n");
    SetRegistry(nullptr);
    return 1;
  }

  PreferX11();
  int status = 0;
  {
    QApplication app(argc, argv);
    // No display name: X11 window managers would get it appended to every
    // window's own title ("Brindle 1.22 — Brindle").
    QApplication::setApplicationName("Brindle");
    QGuiApplication::setDesktopFileName("brindle");
    QApplication::setWindowIcon(ProgramIcon());
    // Closing the main window may only hide it; the program ends by Exit.
    QApplication::setQuitOnLastWindowClosed(false);

    XdgLauncher launcher;
    SystemdPower power;
    NetworkManagerDialUp dialUp;
    SetLauncher(&launcher);
    SetPower(&power);
    SetDialUp(&dialUp);
    SetProgramPath(TProgramLayout::ForThisProgram().DesktopProgram());
    if (newProfile) InstallDefaultCategories();

    TEventLoopBridge bridge(loop);
    // The window says what it refused.
    addresses.insert(addresses.end(), refused.begin(), refused.end());
    auto form = std::make_unique<TForm_Main>(loop, std::make_unique<TQtTray>(), addresses,
                                              std::make_unique<TDBusNotifications>());
    form->OnTerminate = [] { QApplication::quit(); };
    // A quit the window did not start (the session manager's) ends the
    // downloads the same way.
    QObject::connect(&app, &QCoreApplication::aboutToQuit, form.get(), [&form] { form->Terminate(); });
    std::unique_ptr<THandOverServer> server;
    if (start == TInstanceStart::First) {
      server = std::make_unique<THandOverServer>(&loop);
      server->OnHandOver = [&form](const THandOverRequest& request) { return form->CheckInstances(request); };
      server->Listen(lock);
    }
    EventLoop::WatchId signalWatch = 0;
    if (signalFd >= 0) {
      signalWatch = loop.AddWatch(
          signalFd, EventLoop::kReadable,
          [&form, signalFd](unsigned) {
            signalfd_siginfo info{};
            while (read(signalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
            }
            // Not from inside the engine's handler: the window's end runs on Qt's loop.
            QMetaObject::invokeMethod(form.get(), [&form] { form->Terminate(); }, Qt::QueuedConnection);
          },
          "brindle signal");
    }
    if (debug) form->ShowDebugMode();
    form->ShowAtStart();
    status = app.exec();
    loop.RemoveWatch(signalWatch);
    server.reset();
    form.reset();
    // What the downloads' pause left to do (saving records, closing sockets).
    for (int i = 0; i < 20 && loop.RunOnce(0); ++i) {
    }
    SetDialUp(nullptr);
    SetPower(nullptr);
    SetLauncher(nullptr);
    SetPrompt(nullptr);
  }
  SetRegistry(nullptr);
  if (signalFd >= 0) close(signalFd);
  return status;
}
