#include "viewer/viewer_icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace kv {
namespace {

constexpr int kSize = 20;
const QColor kInk(20, 40, 40);
const QColor kLight(255, 255, 255);

void triangle(QPainter &p, qreal x, qreal dir) {
  QPainterPath path;
  path.moveTo(x, 10);
  path.lineTo(x - dir * 7, 4);
  path.lineTo(x - dir * 7, 16);
  path.closeSubpath();
  p.fillPath(path, kLight);
}

void printer(QPainter &p) {
  p.setPen(QPen(kInk, 1.2));
  p.setBrush(kLight);
  p.drawRect(QRectF(5.5, 2.5, 9, 6));  // paper in
  p.setBrush(QColor(200, 210, 210));
  p.drawRoundedRect(QRectF(1.5, 7.5, 17, 7), 1.5, 1.5);  // body
  p.setBrush(kLight);
  p.drawRect(QRectF(5.5, 12.5, 9, 6));  // paper out
}

void magnifier(QPainter &p, bool plus) {
  p.setPen(QPen(kLight, 2));
  p.setBrush(Qt::NoBrush);
  p.drawEllipse(QRectF(2.5, 2.5, 10.5, 10.5));
  p.setPen(QPen(kLight, 3, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(12.5, 12.5), QPointF(17.5, 17.5));
  p.setPen(QPen(kLight, 1.8));
  p.drawLine(QPointF(5, 7.75), QPointF(10.5, 7.75));
  if (plus) p.drawLine(QPointF(7.75, 5), QPointF(7.75, 10.5));
}

}  // namespace

QIcon ViewerIcon(ViewerPicture picture) {
  QPixmap pm(kSize * 2, kSize * 2);
  pm.setDevicePixelRatio(2);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  switch (picture) {
    case ViewerPicture::First:
      p.fillRect(QRectF(3, 4, 2.5, 12), kLight);
      triangle(p, 6, -1);
      triangle(p, 12, -1);
      break;
    case ViewerPicture::Prev:
      triangle(p, 6, -1);
      break;
    case ViewerPicture::Next:
      triangle(p, 14, 1);
      break;
    case ViewerPicture::Last:
      triangle(p, 8, 1);
      triangle(p, 14, 1);
      p.fillRect(QRectF(14.5, 4, 2.5, 12), kLight);
      break;
    case ViewerPicture::ZoomIn:
      magnifier(p, true);
      break;
    case ViewerPicture::ZoomOut:
      magnifier(p, false);
      break;
    case ViewerPicture::Print:
      printer(p);
      break;
    case ViewerPicture::PrintPage: {
      // One sheet with its number: this page only.
      p.setPen(QPen(kInk, 1.2));
      p.setBrush(kLight);
      p.drawRect(QRectF(4.5, 1.5, 11, 16));
      QFont f = p.font();
      f.setPixelSize(11);
      f.setBold(true);
      p.setFont(f);
      p.drawText(QRectF(4.5, 2.5, 11, 15), Qt::AlignCenter, "1");
      break;
    }
    case ViewerPicture::PrinterSetup:
      // A printer with the sliders of its settings.
      printer(p);
      p.setPen(QPen(QColor(255, 220, 0), 1.6, Qt::SolidLine, Qt::RoundCap));
      for (qreal y : {14.0, 16.5}) p.drawLine(QPointF(7, y), QPointF(13, y));
      p.setBrush(QColor(255, 220, 0));
      p.drawEllipse(QPointF(9, 14), 1.4, 1.4);
      p.drawEllipse(QPointF(11.5, 16.5), 1.4, 1.4);
      break;
    case ViewerPicture::Export: {
      p.setPen(QPen(kInk, 1.2));
      p.setBrush(kLight);
      p.drawRect(QRectF(2.5, 1.5, 11, 16));
      p.setPen(QPen(QColor(255, 220, 0), 2.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
      p.drawLine(QPointF(9, 11), QPointF(18, 11));
      p.drawLine(QPointF(18, 11), QPointF(14.5, 7.5));
      p.drawLine(QPointF(18, 11), QPointF(14.5, 14.5));
      break;
    }
  }
  p.end();
  return QIcon(pm);
}

}  // namespace kv
