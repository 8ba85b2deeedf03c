#include "ui/glyphs.h"

#include <QApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace brindle {
namespace {

QPixmap DrawArrowBadge(int size, const QColor& fill) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  const qreal s = size;
  painter.setPen(QPen(fill.darker(140), s / 32));
  painter.setBrush(fill);
  painter.drawEllipse(QRectF(s * 0.04, s * 0.04, s * 0.92, s * 0.92));
  QPainterPath arrow;
  arrow.moveTo(s * 0.40, s * 0.20);
  arrow.lineTo(s * 0.60, s * 0.20);
  arrow.lineTo(s * 0.60, s * 0.48);
  arrow.lineTo(s * 0.76, s * 0.48);
  arrow.lineTo(s * 0.50, s * 0.76);
  arrow.lineTo(s * 0.24, s * 0.48);
  arrow.lineTo(s * 0.40, s * 0.48);
  arrow.closeSubpath();
  painter.setPen(Qt::NoPen);
  painter.setBrush(Qt::white);
  painter.drawPath(arrow);
  painter.fillRect(QRectF(s * 0.26, s * 0.80, s * 0.48, s * 0.06), Qt::white);
  return pixmap;
}

QIcon Badge(const QColor& fill) {
  QIcon icon;
  for (int size : {16, 22, 24, 32, 48, 64, 128}) icon.addPixmap(DrawArrowBadge(size, fill));
  return icon;
}

}  // namespace

QIcon ProgramIcon() { return Badge(QColor(0x1f, 0x6f, 0xb5)); }

QIcon TrayIcon(bool integrationEnabled) {
  return Badge(integrationEnabled ? QColor(0x1f, 0x6f, 0xb5) : QColor(0x80, 0x80, 0x80));
}

QIcon ThemeGlyph(const char* themeName, QStyle::StandardPixmap fallback) {
  const QIcon themed = QIcon::fromTheme(QString::fromLatin1(themeName));
  if (!themed.isNull()) return themed;
  // The style may lack a large size of its picture; one scaled up keeps every
  // large button's caption on the same line.
  const QIcon standard = QApplication::style()->standardIcon(fallback);
  QIcon icon;
  for (int size : {16, 24, 32}) {
    QPixmap pixmap = standard.pixmap(QSize(size, size));
    if (pixmap.width() < size) pixmap = pixmap.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    icon.addPixmap(pixmap);
  }
  return icon;
}

QIcon ArrowGlyph(Qt::ArrowType direction) {
  QPixmap pixmap(8, 8);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(QApplication::palette().color(QPalette::ButtonText));
  QPolygonF triangle;
  switch (direction) {
    case Qt::UpArrow:
      triangle << QPointF(0, 6) << QPointF(8, 6) << QPointF(4, 2);
      break;
    case Qt::DownArrow:
      triangle << QPointF(0, 2) << QPointF(8, 2) << QPointF(4, 6);
      break;
    case Qt::LeftArrow:
      triangle << QPointF(6, 0) << QPointF(6, 8) << QPointF(2, 4);
      break;
    default:
      triangle << QPointF(2, 0) << QPointF(2, 8) << QPointF(6, 4);
      break;
  }
  painter.drawPolygon(triangle);
  return QIcon(pixmap);
}

}  // namespace brindle
