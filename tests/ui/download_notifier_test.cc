#include "ui/download_notifier.h"

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <algorithm>

#include "core/settings_schema.h"
#include "core/url.h"
#include "manager/local_download_info.h"
#include "support/fake_launcher.h"
#include "support/fake_notifications.h"
#include "support/fake_tray.h"
#include "support/installed.h"
#include "support/ui_test.h"
#include "ui/dbus_notifications.h"

namespace brindle {
namespace {

using test::FakeNotifications;

std::vector<std::string> Keys(const TNotification& notification) {
  std::vector<std::string> keys;
  for (const auto& [key, label] : notification.Actions) keys.push_back(key);
  return keys;
}

class DownloadNotifierTest : public test::UiTest {
 protected:
  std::unique_ptr<TLocalDownloadinfo> Record(TDownloadState state, const std::string& localFile) {
    auto record =
        std::make_unique<TLocalDownloadinfo>(std::make_unique<TUrl>("http://example.org/get?id=7"), "", nullptr);
    record->ProposedFileName = "Quarterly Report.zip";
    record->LocalFileName = localFile;
    record->SetStatus(state);
    return record;
  }

  test::Installed<test::FakeLauncher, SetLauncher> launcher_;
  test::FakeTray tray_{true};
  bool away_ = true;
};

// Whether, what and through which way the desktop is told. Ends that come
// while the last notification is on the desktop are told in it, replaced;
// it closing, or the user looking at the window, begins anew.
TEST_F(DownloadNotifierTest, TellsOfEndsWhileTheWindowIsAwayGatheredWhileShown) {
  struct Case {
    const char* Name;
    // Before the notifier: "shown" (the window), "off" (the setting), "no
    // actions", "no service", "no tray". Then: "done FILE", "failed" (before
    // a name was chosen), "closed ID", "seen", "hold", "answer", "refuse".
    std::vector<std::string> Steps;
    size_t Sent;
    uint32_t Replaces;  // of the last one sent
    std::string Summary, Body;
    std::vector<std::string> Keys;
    std::vector<std::string> Balloons = {};
  };
  const std::vector<std::string> openKeys = {"default", "open", "open-folder"};
  const std::vector<std::string> folderKeys = {"default", "open-folder"};
  // A name not chosen yet is the one it would get, and the failure is told
  // as brindle-cli tells it.
  const std::string fail = "Quarterly Report.zip: Certificate not trusted: self-signed certificate";
  const std::string done = "Download Complete";
  const Case cases[] = {
      {"window shown", {"shown", "done /d/a.zip"}, 0, 0, "", "", {}},
      {"notifications turned off", {"off", "done /d/a.zip"}, 0, 0, "", "", {}},
      {"done", {"done /d/a.zip"}, 1, 0, done, "a.zip\n/d", openKeys},
      {"done, no action buttons", {"no actions", "done /d/a.zip"}, 1, 0, done, "a.zip\n/d", {}},
      {"failed: no file to open", {"failed"}, 1, 0, "Download Failed", fail, {"default"}},
      {"the service refuses: a balloon", {"refuse", "done /d/a.zip"}, 1, 0, done, "a.zip\n/d", openKeys,
       {done + "|a.zip\n/d"}},
      {"no service: a balloon", {"no service", "done /d/a.zip"}, 0, 0, "", "", {}, {done + "|a.zip\n/d"}},
      {"no service and no tray", {"no service", "no tray", "done /d/a.zip"}, 0, 0, "", "", {}},
      {"two in one folder", {"done /d/a.zip", "done /d/b.zip"}, 2, 1, "2 Downloads Complete", "b.zip\na.zip\n/d",
       folderKeys},
      {"folders differ, one failed", {"done /d/a.zip", "failed", "done /e/c.zip"}, 3, 1,
       "2 Downloads Complete, 1 Failed", "c.zip\n" + fail + "\na.zip", {"default"}},
      {"failures only", {"failed", "failed"}, 2, 1, "2 Downloads Failed", fail + "\n" + fail, {"default"}},
      {"the newest five are named",
       {"done /d/1", "done /d/2", "done /d/3", "done /d/4", "done /d/5", "done /d/6", "done /d/7"}, 7, 1,
       "7 Downloads Complete", "7\n6\n5\n4\n3\nand 2 more\n/d", folderKeys},
      {"closed: a new one", {"done /d/a.zip", "closed 1", "done /d/b.zip"}, 2, 0, done, "b.zip\n/d", openKeys},
      {"another program's closing changes nothing", {"done /d/a.zip", "closed 9", "done /d/b.zip"}, 2, 1,
       "2 Downloads Complete", "b.zip\na.zip\n/d", folderKeys},
      {"window seen: a new one", {"done /d/a.zip", "seen", "done /d/b.zip"}, 2, 0, done, "b.zip\n/d", openKeys},
      // A burst while the desktop has not answered yet is one replacement.
      {"ends before the answer", {"hold", "done /d/a.zip", "done /d/b.zip", "done /d/c.zip", "answer", "answer"}, 2,
       1, "3 Downloads Complete", "c.zip\nb.zip\na.zip\n/d", folderKeys},
      {"seen before the answer", {"hold", "done /d/a.zip", "seen", "done /d/b.zip", "answer", "answer"}, 2, 0, done,
       "b.zip\n/d", openKeys},
      {"closed while replacing", {"done /d/a.zip", "hold", "done /d/b.zip", "closed 1", "answer", "done /d/c.zip"},
       3, 1, "3 Downloads Complete", "c.zip\nb.zip\na.zip\n/d", folderKeys},
      // The balloon tells the whole group.
      {"replacement refused", {"done /d/a.zip", "refuse", "done /d/b.zip"}, 2, 1, "2 Downloads Complete",
       "b.zip\na.zip\n/d", folderKeys, {"2 Downloads Complete|b.zip\na.zip\n/d"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    const auto has = [&](const char* step) { return std::ranges::find(c.Steps, step) != c.Steps.end(); };
    Write(setting::ShowNotifications, !has("off"));
    auto port = std::make_unique<FakeNotifications>();
    FakeNotifications* service = port.get();
    service->actions = !has("no actions");
    test::FakeTray tray(!has("no tray"));
    TDownloadNotifier notifier(has("no service") ? nullptr : std::move(port), &tray, [&] { return !has("shown"); });
    for (const std::string& step : c.Steps) {
      if (step.starts_with("done ")) {
        notifier.DownloadDone(*Record(TDownloadState::Done, step.substr(5)));
      } else if (step == "failed") {
        auto record = Record(TDownloadState::CertificateNotTrusted, "");
        record->ErrorDetail = "self-signed certificate";
        notifier.DownloadFailed(*record);
      } else if (step.starts_with("closed ")) {
        service->OnClosed(static_cast<uint32_t>(std::stoul(step.substr(7))));
      } else if (step == "seen") {
        notifier.WindowSeen();
      } else if (step == "hold") {
        service->holds = true;
      } else if (step == "answer") {
        service->Answer();
      } else if (step == "refuse") {
        service->refuses = true;
      }
    }
    ASSERT_EQ(service->sent.size(), c.Sent);
    if (c.Sent > 0) {
      const TNotification& last = service->sent.back();
      EXPECT_EQ(last.Replaces, c.Replaces);
      EXPECT_EQ(last.Summary, c.Summary);
      EXPECT_EQ(last.Body, c.Body);
      EXPECT_EQ(Keys(last), c.Keys);
    }
    EXPECT_EQ(tray.Messages, c.Balloons);
  }
}

// The actions open the file they were shown for, also after its record is
// gone, and only while that notification is on the desktop.
TEST_F(DownloadNotifierTest, ActionsOpenTheFileTheyWereShownFor) {
  auto port = std::make_unique<FakeNotifications>();
  FakeNotifications* service = port.get();
  TDownloadNotifier notifier(std::move(port), &tray_, [this] { return away_; });
  int windowWanted = 0;
  notifier.OnShowWindow = [&] { ++windowWanted; };
  notifier.DownloadDone(*Record(TDownloadState::Done, "/home/u/Downloads/report.zip"));
  service->OnAction(1, "open");
  // Gathered with a file of another folder, it opens nothing.
  notifier.DownloadDone(*Record(TDownloadState::Done, "/home/u/Music/song.ogg"));
  service->OnAction(1, "open");
  notifier.WindowSeen();
  notifier.DownloadDone(*Record(TDownloadState::Done, "/home/u/Music/song.ogg"));
  service->OnAction(2, "open-folder");
  service->OnAction(3, "open");  // another program's notification
  EXPECT_EQ(launcher_.opened, (std::vector<std::string>{"/home/u/Downloads/report.zip", "/home/u/Music"}));
  service->OnClosed(2);
  service->OnAction(2, "open");
  EXPECT_EQ(launcher_.opened.size(), 2u);

  service->OnAction(1, "default");
  tray_.OnMessageClicked();
  EXPECT_EQ(windowWanted, 2);
}

// The freedesktop service on a bus of the test's own, answered by a fake
// service object in this process.
class NotificationService final : public QDBusVirtualObject {
 public:
  explicit NotificationService(QStringList capabilities) : capabilities_(std::move(capabilities)) {}
  QString introspect(const QString&) const override { return {}; }
  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
    if (message.member() == "GetCapabilities") return connection.send(message.createReply(capabilities_));
    if (message.member() != "Notify") return false;
    calls.push_back(message.arguments());
    return connection.send(message.createReply(uint(40 + calls.size())));
  }
  static void Emit(QDBusConnection& connection, const char* name, const QVariantList& arguments) {
    QDBusMessage signal =
        QDBusMessage::createSignal(TDBusNotifications::kPath, TDBusNotifications::kService, name);
    signal.setArguments(arguments);
    connection.send(signal);
  }
  std::vector<QVariantList> calls;

 private:
  QStringList capabilities_;
};

bool SpinUntil(const std::function<bool()>& done) {
  QElapsedTimer timer;
  timer.start();
  while (!done() && timer.elapsed() < 10000) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  return done();
}

TEST_F(DownloadNotifierTest, TheFreedesktopServiceIsSpokenToOverDBus) {
  if (QStandardPaths::findExecutable("dbus-daemon").isEmpty()) GTEST_SKIP() << "dbus-daemon is not installed";
  QProcess daemon;
  daemon.start("dbus-daemon", {"--session", "--nofork", "--print-address"});
  ASSERT_TRUE(daemon.waitForReadyRead(10000));
  const QString address = QString::fromUtf8(daemon.readLine()).trimmed();
  struct Case {
    const char* Name;
    QStringList Capabilities;  // no "Notify" answered at all when empty and Registered is false
    bool Registered;
    std::string Body;
    bool Actions;
  };
  const Case cases[] = {
      {"markup and actions", {"actions", "body-markup"}, true, "a&lt;b&gt; &amp;amp;.zip\n/d", true},
      {"plain text", {"body"}, true, "a<b> &amp;.zip\n/d", false},
      {"no service on the bus", {}, false, "", false},
  };
  int round = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    const QString name = QString("round%1").arg(++round);
    QDBusConnection serviceBus = QDBusConnection::connectToBus(address, name + "service");
    QDBusConnection clientBus = QDBusConnection::connectToBus(address, name + "client");
    ASSERT_TRUE(serviceBus.isConnected() && clientBus.isConnected());
    NotificationService service(c.Capabilities);
    if (c.Registered) {
      ASSERT_TRUE(serviceBus.registerVirtualObject(TDBusNotifications::kPath, &service));
      ASSERT_TRUE(serviceBus.registerService(TDBusNotifications::kService));
    }
    {
      TDBusNotifications port(clientBus);
      std::vector<std::pair<uint32_t, std::string>> actions;
      std::vector<uint32_t> closed;
      port.OnAction = [&](uint32_t id, const std::string& key) { actions.emplace_back(id, key); };
      port.OnClosed = [&](uint32_t id) { closed.push_back(id); };
      std::optional<uint32_t> shown;
      // Sent before the capabilities are known: it waits for them.
      port.Show({.Summary = "Download Complete", .Body = "a<b> &amp;.zip\n/d", .Actions = {{"open", "Open"}}},
                [&](uint32_t id) { shown = id; });
      ASSERT_TRUE(SpinUntil([&] { return shown.has_value(); }));
      EXPECT_EQ(port.OffersActions(), c.Actions);
      if (!c.Registered) {
        EXPECT_EQ(*shown, 0u);
      } else {
        EXPECT_EQ(*shown, 41u);
        ASSERT_EQ(service.calls.size(), 1u);
        const QVariantList& call = service.calls[0];
        EXPECT_EQ(call[0].toString().toStdString(), "Brindle");
        EXPECT_EQ(call[3].toString().toStdString(), "Download Complete");
        EXPECT_EQ(call[4].toString().toStdString(), c.Body);
        EXPECT_EQ(call[5].toStringList(), (QStringList{"open", "Open"}));
        EXPECT_EQ(call[1].toUInt(), 0u);
        port.Show({.Summary = "2 Downloads Complete", .Body = "b\na", .Actions = {}, .Replaces = 41}, [](uint32_t) {});
        ASSERT_TRUE(SpinUntil([&] { return service.calls.size() == 2; }));
        EXPECT_EQ(service.calls[1][1].toUInt(), 41u);
        // Signals of another program's notification are not this port's.
        NotificationService::Emit(serviceBus, "ActionInvoked", {uint(7), QString("open")});
        NotificationService::Emit(serviceBus, "ActionInvoked", {uint(41), QString("open")});
        NotificationService::Emit(serviceBus, "NotificationClosed", {uint(7), uint(2)});
        NotificationService::Emit(serviceBus, "NotificationClosed", {uint(41), uint(2)});
        ASSERT_TRUE(SpinUntil([&] { return !closed.empty(); }));
        EXPECT_EQ(actions, (std::vector<std::pair<uint32_t, std::string>>{{41, "open"}}));
        EXPECT_EQ(closed, std::vector<uint32_t>{41});
      }
    }
    serviceBus.unregisterService(TDBusNotifications::kService);
    QDBusConnection::disconnectFromBus(name + "service");
    QDBusConnection::disconnectFromBus(name + "client");
  }
  daemon.terminate();
  daemon.waitForFinished();
}

}  // namespace
}  // namespace brindle
