#include "ui/center_window.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include "support/ui_test.h"

namespace brindle {
namespace {

class CenterWindowTest : public test::UiTest {};

TEST_F(CenterWindowTest, CentresOnTheOwnerButStaysInsideTheScreen) {
  const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
  QWidget window;
  window.resize(200, 100);
  const QRect owner(area.left() + 100, area.top() + 100, 400, 300);
  CenterWindow(window, owner);
  EXPECT_EQ(window.pos(), owner.center() - QPoint(100, 50));

  // Taller and wider than the room around a small owner in the top left corner.
  window.resize(300, 250);
  CenterWindow(window, QRect(area.topLeft(), QSize(100, 60)));
  EXPECT_EQ(window.pos(), area.topLeft());
  CenterWindow(window, QRect(area.bottomRight() - QPoint(99, 59), QSize(100, 60)));
  EXPECT_EQ(window.pos(), area.bottomRight() + QPoint(1, 1) - QPoint(300, 250));
}

}  // namespace
}  // namespace brindle
