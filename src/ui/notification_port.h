#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace brindle {

// A desktop notification: plain text throughout (the port escapes what the
// desktop would read as markup), and the actions as key and label.
struct TNotification {
  std::string Summary;
  std::string Body;
  std::vector<std::pair<std::string, std::string>> Actions;
  // The id of a notification of this port's that this one takes the place
  // of on the desktop, 0 for a new one.
  uint32_t Replaces = 0;
};

// The desktop's notification service. Behind this port so that what is
// told, when and with which actions is tested without a desktop.
class TNotificationPort {
 public:
  // The key of the action a click on the notification itself sends.
  static constexpr const char* kDefaultAction = "default";

  virtual ~TNotificationPort() = default;
  // Whether the desktop shows action buttons, as far as it has said.
  virtual bool OffersActions() const = 0;
  // Sends the notification; shown(id) follows once the desktop answered,
  // with 0 when it could not show it (a replacement may get a new id when
  // the one it replaces is gone). Never called after the port is gone.
  virtual void Show(const TNotification& notification, std::function<void(uint32_t id)> shown) = 0;
  // The user chose an action of a notification this port showed.
  std::function<void(uint32_t id, const std::string& key)> OnAction;
  // A notification this port showed is gone from the desktop.
  std::function<void(uint32_t id)> OnClosed;
};

}  // namespace brindle
