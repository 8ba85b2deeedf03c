#pragma once

#include <QDBusConnection>
#include <QObject>
#include <set>
#include <vector>

#include "ui/notification_port.h"

namespace brindle {

// The freedesktop notification service on the session bus. What the
// desktop can do (actions, markup in the body) is asked once; notifications
// sent before it answered wait for the answer.
class TDBusNotifications final : public QObject, public TNotificationPort {
  Q_OBJECT

 public:
  static constexpr const char* kService = "org.freedesktop.Notifications";
  static constexpr const char* kPath = "/org/freedesktop/Notifications";
  // How long the service may take to answer before a balloon is shown instead.
  static constexpr int kAnswerTimeoutMs = 5000;

  explicit TDBusNotifications(const QDBusConnection& bus = QDBusConnection::sessionBus());

  bool OffersActions() const override { return actions_; }
  void Show(const TNotification& notification, std::function<void(uint32_t id)> shown) override;

 private slots:
  void ActionInvoked(uint id, const QString& key);
  void NotificationClosed(uint id, uint reason);

 private:
  struct TWaiting {
    TNotification Notification;
    std::function<void(uint32_t)> Shown;
  };
  void Send(const TNotification& notification, std::function<void(uint32_t)> shown);

  QDBusConnection bus_;
  bool capabilitiesKnown_ = false;
  bool actions_ = false;
  bool markup_ = false;
  std::vector<TWaiting> waiting_;
  // The notifications this program has on the desktop: the service's
  // signals tell of every program's.
  std::set<uint32_t> ids_;
};

}  // namespace brindle
