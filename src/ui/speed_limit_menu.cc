#include "ui/speed_limit_menu.h"

#include <QActionGroup>
#include <QInputDialog>

#include "core/settings_schema.h"
#include "manager/download_system.h"
#include "ui/guarded.h"

namespace brindle {

namespace {

int StoredLimit() { return Read(setting::SpeedLimit); }
bool StoredEnabled() { return Read(setting::SpeedLimitEnabled) && StoredLimit() > 0; }

}  // namespace

TSpeedLimitMenu::TSpeedLimitMenu(TDownloadSystem& system, QWidget* parent)
    : QMenu("Speed limit", parent), system_(system) {
  setObjectName("PopupMenu_SpeedLimit");
  auto* group = new QActionGroup(this);
  const auto add = [this, group](const char* name, const QString& text, bool enabled, int limit) {
    QAction* action = addAction(text);
    action->setObjectName(name);
    action->setCheckable(true);
    action->setData(enabled ? limit : 0);
    group->addAction(action);
    connect(action, &QAction::triggered, this,
            [this, enabled, limit] { Guarded("TSpeedLimitMenu.Choose", [=, this] { Choose(enabled, limit); }); });
  };
  add("SpeedLimit_Unlimited", "Unlimited", false, 0);
  addSeparator();
  for (int limit : kChoices) add("SpeedLimit_Choice", LimitText(true, limit), true, limit);
  addSeparator();
  QAction* other = addAction("Other...");
  other->setObjectName("SpeedLimit_Other");
  other->setCheckable(true);
  other->setData(-1);
  group->addAction(other);
  connect(other, &QAction::triggered, this, [this] { Guarded("TSpeedLimitMenu.Other", [this] { AskOther(); }); });
  connect(this, &QMenu::aboutToShow, this, [this] { Refresh(); });
}

QString TSpeedLimitMenu::LimitText(bool enabled, int kiloBytesPerSecond) {
  if (!enabled || kiloBytesPerSecond <= 0) return "Unlimited";
  if (kiloBytesPerSecond % 1024 == 0) return QString("%1 Mb/s").arg(kiloBytesPerSecond / 1024);
  return QString("%1 kb/s").arg(kiloBytesPerSecond);
}

void TSpeedLimitMenu::Refresh() {
  const int current = StoredEnabled() ? StoredLimit() : 0;
  bool found = false;
  for (QAction* action : actions()) {
    if (!action->isCheckable() || action->data().toInt() < 0) continue;
    const bool match = action->data().toInt() == current;
    action->setChecked(match);
    found = found || match;
  }
  QAction* other = findChild<QAction*>("SpeedLimit_Other");
  other->setChecked(!found);
  other->setText(found ? "Other..." : "Other (" + LimitText(true, current) + ")...");
}

void TSpeedLimitMenu::Choose(bool enabled, int kiloBytesPerSecond) {
  Write(setting::SpeedLimitEnabled, enabled);
  // "Unlimited" keeps the last limit, for the next time it is switched on.
  if (enabled) Write(setting::SpeedLimit, kiloBytesPerSecond);
  system_.ApplySpeedLimitSettings();
}

void TSpeedLimitMenu::AskOther() {
  bool ok = false;
  const int suggested = StoredLimit() > 0 ? StoredLimit() : 100;
  const int limit = QInputDialog::getInt(parentWidget(), "Speed limit", "Download at most (kb/s, for all downloads):",
                                         suggested, 1, 1024 * 1024, 10, &ok);
  if (ok) Choose(true, limit);
  Refresh();
}

}  // namespace brindle
