#include "menu/ProductPicture.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace kestrel {

QPixmap productPicture(int width, int height) {
  QPixmap pixmap(width, height);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);

  // Case.
  const QRectF body(width * 0.06, height * 0.12, width * 0.88, height * 0.76);
  QLinearGradient shade(body.topLeft(), body.bottomLeft());
  shade.setColorAt(0, QColor(0x5a, 0x6b, 0x7d));
  shade.setColorAt(1, QColor(0x2c, 0x36, 0x42));
  p.setPen(QPen(QColor(0x1b, 0x22, 0x2a), 2));
  p.setBrush(shade);
  p.drawRoundedRect(body, 8, 8);

  // Speaker grille.
  const QPointF centre(body.left() + body.width() * 0.3, body.center().y());
  const qreal radius = qMin(body.width() * 0.22, body.height() * 0.38);
  p.setBrush(QColor(0x1b, 0x22, 0x2a));
  p.drawEllipse(centre, radius, radius);
  p.setPen(QPen(QColor(0x8f, 0xa3, 0xb8), 1.5));
  p.setBrush(Qt::NoBrush);
  for (qreal r = radius * 0.25; r < radius; r += radius * 0.22) p.drawEllipse(centre, r, r);

  // Channel display and status lamp.
  const QRectF display(body.left() + body.width() * 0.58, body.top() + body.height() * 0.22, body.width() * 0.32,
                       body.height() * 0.26);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x10, 0x30, 0x18));
  p.drawRoundedRect(display, 3, 3);
  p.setPen(QColor(0x6c, 0xf0, 0x8a));
  QFont digits = p.font();
  digits.setPixelSize(int(display.height() * 0.7));
  digits.setBold(true);
  p.setFont(digits);
  p.drawText(display, Qt::AlignCenter, QStringLiteral("255"));
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0xf2, 0xa0, 0x3d));
  p.drawEllipse(QPointF(display.left() + display.width() * 0.15, body.top() + body.height() * 0.72),
                body.height() * 0.07, body.height() * 0.07);
  return pixmap;
}

}  // namespace kestrel
