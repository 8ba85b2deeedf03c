#include "ui/download_notifier.h"

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>

#include "core/settings_schema.h"
#include "core/url.h"
#include "manager/local_download_info.h"
#include "support/fake_launcher.h"
#include "support/fake_tray.h"
#include "support/installed.h"
#include "support/ui_test.h"
#include "ui/dbus_notifications.h"

namespace brindle {
namespace {

// A notification service that shows everything (numbering from 1), or
// nothing when it refuses.
class FakeNotifications final : public TNotificationPort {
 public:
  bool OffersActions() const override { return actions; }
  void Show(const TNotification& notification, std::function<void(uint32_t)> shown) override {
    sent.push_back(notification);
    shown(refuses ? 0 : static_cast<uint32_t>(sent.size()));
  }
  bool actions = true;
  bool refuses = false;
  std::vector<TNotification> sent;
};

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

// Whether, what and through which way the desktop is told.
TEST_F(DownloadNotifierTest, TellsOfEndsWhileTheWindowIsAway) {
  const std::string file = "/home/u/Downloads/report.zip";
  const std::vector<std::string> openKeys = {"default", "open", "open-folder"};
  const std::string done = "Download Complete";
  const std::string body = "report.zip\n/home/u/Downloads";
  const std::vector<std::string> balloon = {done + "|" + body};
  struct Case {
    const char* Name;
    bool WindowAway, Setting, Failed, HasService, Actions, Refuses, TrayAvailable;
    std::string Summary;  // "" for nothing sent to the service
    std::string Body;
    std::vector<std::string> Keys;
    std::vector<std::string> Balloons;
  };
  const Case cases[] = {
      // Name                          away   setting failed service actions refuses tray
      {"window shown",                 false, true,  false, true,  true,  false, true, "", "", {}, {}},
      {"notifications turned off",     true,  false, false, true,  true,  false, true, "", "", {}, {}},
      {"done",                         true,  true,  false, true,  true,  false, true, done, body, openKeys, {}},
      {"done, no action buttons",      true,  true,  false, true,  false, false, true, done, body, {}, {}},
      // No file to open; a name not chosen yet is the one it would get, and
      // the failure is told as brindle-cli tells it.
      {"failed before a name was chosen", true, true, true, true, true, false, true, "Download Failed",
       "Quarterly Report.zip: Certificate not trusted: self-signed certificate", {"default"}, {}},
      {"the service refuses: a balloon", true, true, false, true,  true,  true,  true, done, body, openKeys, balloon},
      {"no service",                   true,  true,  false, false, true,  false, true, "", "", {}, balloon},
      {"no service and no tray",       true,  true,  false, false, true,  false, false, "", "", {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    Write(setting::ShowNotifications, c.Setting);
    auto port = std::make_unique<FakeNotifications>();
    FakeNotifications* service = port.get();
    service->actions = c.Actions;
    service->refuses = c.Refuses;
    test::FakeTray tray(c.TrayAvailable);
    TDownloadNotifier notifier(c.HasService ? std::move(port) : nullptr, &tray, [&] { return c.WindowAway; });
    if (c.Failed) {
      auto record = Record(TDownloadState::CertificateNotTrusted, "");
      record->ErrorDetail = "self-signed certificate";
      notifier.DownloadFailed(*record);
    } else {
      notifier.DownloadDone(*Record(TDownloadState::Done, file));
    }
    if (c.HasService) {
      ASSERT_EQ(service->sent.size(), c.Summary.empty() ? 0u : 1u);
      if (!c.Summary.empty()) {
        EXPECT_EQ(service->sent[0].Summary, c.Summary);
        EXPECT_EQ(service->sent[0].Body, c.Body);
        EXPECT_EQ(Keys(service->sent[0]), c.Keys);
      }
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
  notifier.DownloadDone(*Record(TDownloadState::Done, "/home/u/Music/song.ogg"));

  service->OnAction(1, "open");
  service->OnAction(2, "open-folder");
  service->OnAction(3, "open");  // another program's notification
  EXPECT_EQ(launcher_.opened, (std::vector<std::string>{"/home/u/Downloads/report.zip", "/home/u/Music"}));
  service->OnClosed(1);
  service->OnAction(1, "open");
  EXPECT_EQ(launcher_.opened.size(), 2u);

  service->OnAction(2, "default");
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
