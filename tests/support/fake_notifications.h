#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "ui/notification_port.h"

namespace brindle::test {

// A notification service that shows everything (new ones numbered from 1,
// a replacement under the id it replaces), or nothing when it refuses; it
// answers at once, or when told to while it holds.
class FakeNotifications final : public TNotificationPort {
 public:
  bool OffersActions() const override { return actions; }
  void Show(const TNotification& notification, std::function<void(uint32_t)> shown) override {
    sent.push_back(notification);
    auto answer = [this, replaces = notification.Replaces, shown] {
      shown(refuses ? 0 : replaces ? replaces : ++shownCount);
    };
    if (holds)
      held.push_back(answer);
    else
      answer();
  }
  void Answer() {
    std::vector<std::function<void()>> answers = std::move(held);
    held.clear();
    for (auto& answer : answers) answer();
  }
  bool actions = true;
  bool refuses = false;
  bool holds = false;
  uint32_t shownCount = 0;
  std::vector<TNotification> sent;
  std::vector<std::function<void()>> held;
};

}  // namespace brindle::test
