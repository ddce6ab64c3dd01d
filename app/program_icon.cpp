#include "vessarine/app/program_icon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

QImage DrawProgramIcon(int size) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  const double s = size / 48.0;

  // Tile: a rounded blue square.
  QRectF tile(1 * s, 1 * s, 46 * s, 46 * s);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x1f, 0x5f, 0xbf));
  p.drawRoundedRect(tile, 8 * s, 8 * s);

  // A network plug seen from the front: body and three contacts.
  p.setBrush(QColor(0xe8, 0xee, 0xf8));
  p.drawRect(QRectF(7 * s, 9 * s, 22 * s, 16 * s));
  p.setBrush(QColor(0x1f, 0x5f, 0xbf));
  for (int i = 0; i < 3; ++i) {
    p.drawRect(QRectF((10 + i * 6) * s, 11 * s, 4 * s, 5 * s));
  }

  // The magnifier: a yellow ring and its handle.
  QPen ring(QColor(0xff, 0xd0, 0x20));
  ring.setWidthF(std::max(1.5, 4.5 * s));
  ring.setCapStyle(Qt::RoundCap);
  p.setPen(ring);
  p.setBrush(QColor(255, 255, 255, 90));
  p.drawEllipse(QPointF(27 * s, 27 * s), 10 * s, 10 * s);
  QPen handle(QColor(0xff, 0xd0, 0x20));
  handle.setWidthF(std::max(2.0, 6.5 * s));
  handle.setCapStyle(Qt::RoundCap);
  p.setPen(handle);
  p.drawLine(QPointF(35 * s, 35 * s), QPointF(42 * s, 42 * s));
  p.end();
  return image;
}

QIcon ProgramIcon() {
  QIcon icon;
  for (int size : kIconSizes) icon.addPixmap(QPixmap::fromImage(DrawProgramIcon(size)));
  return icon;
}
