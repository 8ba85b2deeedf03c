#include "ui/dbus_notifications.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>

#include "ui/guarded.h"

namespace brindle {
namespace {

constexpr const char* kInterface = "org.freedesktop.Notifications";

}  // namespace

TDBusNotifications::TDBusNotifications(const QDBusConnection& bus) : bus_(bus) {
  bus_.connect(kService, kPath, kInterface, "ActionInvoked", this, SLOT(ActionInvoked(uint, QString)));
  bus_.connect(kService, kPath, kInterface, "NotificationClosed", this, SLOT(NotificationClosed(uint, uint)));
  const auto known = [this](const QStringList& capabilities) {
    capabilitiesKnown_ = true;
    actions_ = capabilities.contains("actions");
    markup_ = capabilities.contains("body-markup");
    std::vector<TWaiting> waiting = std::move(waiting_);
    for (TWaiting& entry : waiting) Send(entry.Notification, std::move(entry.Shown));
  };
  if (!bus_.isConnected()) {
    known({});
    return;
  }
  auto* watcher = new QDBusPendingCallWatcher(
      bus_.asyncCall(QDBusMessage::createMethodCall(kService, kPath, kInterface, "GetCapabilities"), kAnswerTimeoutMs),
      this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [known](QDBusPendingCallWatcher* call) {
    call->deleteLater();
    const QDBusPendingReply<QStringList> reply = *call;
    Guarded("TDBusNotifications.GetCapabilities", [&] { known(reply.isError() ? QStringList() : reply.value()); });
  });
}

void TDBusNotifications::Show(const TNotification& notification, std::function<void(uint32_t)> shown) {
  if (!capabilitiesKnown_) {
    waiting_.push_back({notification, std::move(shown)});
    return;
  }
  Send(notification, std::move(shown));
}

void TDBusNotifications::Send(const TNotification& notification, std::function<void(uint32_t)> shown) {
  if (!bus_.isConnected()) return shown(0);
  QStringList actions;
  for (const auto& [key, label] : notification.Actions)
    actions << QString::fromStdString(key) << QString::fromStdString(label);
  // Where the desktop reads the body as markup, a file name holding "<b>"
  // or "&amp;" must still be shown as it is.
  QString body = QString::fromStdString(notification.Body);
  if (markup_) body = body.toHtmlEscaped();
  const QVariantMap hints{{"desktop-entry", "brindle"}};
  QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, "Notify");
  call << QString("Brindle") << uint(notification.Replaces) << QString("brindle") << QString::fromStdString(notification.Summary)
       << body << actions << hints << int(-1);
  auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, kAnswerTimeoutMs), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, shown](QDBusPendingCallWatcher* answer) {
    answer->deleteLater();
    const QDBusPendingReply<uint> reply = *answer;
    const uint32_t id = reply.isError() ? 0 : reply.value();
    if (id != 0) ids_.insert(id);
    Guarded("TDBusNotifications.Notify", [&] { shown(id); });
  });
}

void TDBusNotifications::ActionInvoked(uint id, const QString& key) {
  if (!ids_.contains(id) || !OnAction) return;
  Guarded("TDBusNotifications.ActionInvoked", [&] { OnAction(id, key.toStdString()); });
}

void TDBusNotifications::NotificationClosed(uint id, uint /*reason*/) {
  if (ids_.erase(id) == 0 || !OnClosed) return;
  Guarded("TDBusNotifications.NotificationClosed", [&] { OnClosed(id); });
}

}  // namespace brindle
