#include "app/icons.h"

#include <QPainter>
#include <QPainterPath>

namespace kv {
namespace {

constexpr int kSize = 20;

void page(QPainter &p, QRectF r) {
  const qreal fold = r.width() * 0.35;
  QPainterPath path;
  path.moveTo(r.left(), r.top());
  path.lineTo(r.right() - fold, r.top());
  path.lineTo(r.right(), r.top() + fold);
  path.lineTo(r.right(), r.bottom());
  path.lineTo(r.left(), r.bottom());
  path.closeSubpath();
  p.setBrush(QColor(255, 255, 255));
  p.drawPath(path);
  p.setBrush(Qt::NoBrush);
  p.drawLine(QPointF(r.right() - fold, r.top()), QPointF(r.right() - fold, r.top() + fold));
  p.drawLine(QPointF(r.right() - fold, r.top() + fold), QPointF(r.right(), r.top() + fold));
}

void lines(QPainter &p, QRectF r, int n) {
  for (int i = 0; i < n; ++i) {
    const qreal y = r.top() + r.height() * (0.45 + 0.15 * i);
    p.drawLine(QPointF(r.left() + 2.5, y), QPointF(r.right() - 2.5, y));
  }
}

void modem(QPainter &p, QRectF r) {
  p.setBrush(QColor(225, 225, 215));
  p.drawRoundedRect(r, 1.5, 1.5);
  p.setPen(Qt::NoPen);
  for (int i = 0; i < 3; ++i) {
    p.setBrush(i == 0 ? QColor(60, 220, 60) : QColor(255, 200, 0));
    p.drawEllipse(QPointF(r.left() + 3 + i * 3.2, r.bottom() - 2.6), 1.1, 1.1);
  }
}

void draw(QPainter &p, ButtonPicture picture) {
  const QColor ink(20, 40, 40);
  QPen pen(ink, 1.3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
  p.setPen(pen);
  switch (picture) {
    case ButtonPicture::New: {
      QRectF r(3.5, 1.5, 12, 16);
      page(p, r);
      p.setPen(QPen(QColor(0, 140, 0), 2.2, Qt::SolidLine, Qt::RoundCap));
      p.drawLine(QPointF(14, 11), QPointF(14, 18.5));
      p.drawLine(QPointF(10.25, 14.75), QPointF(17.75, 14.75));
      break;
    }
    case ButtonPicture::Edit: {
      QRectF r(2.5, 1.5, 12, 16);
      page(p, r);
      lines(p, r, 3);
      p.setPen(QPen(QColor(200, 120, 0), 3, Qt::SolidLine, Qt::FlatCap));
      p.drawLine(QPointF(17.5, 5), QPointF(9.5, 15));
      p.setPen(QPen(ink, 1.5));
      p.drawLine(QPointF(9.5, 15), QPointF(8.5, 17.5));
      break;
    }
    case ButtonPicture::Clone:
      page(p, QRectF(2.5, 1.5, 10, 13));
      page(p, QRectF(7.5, 5.5, 10, 13));
      lines(p, QRectF(7.5, 5.5, 10, 13), 3);
      break;
    case ButtonPicture::Delete:
      p.setPen(QPen(QColor(230, 40, 40), 3.2, Qt::SolidLine, Qt::RoundCap));
      p.drawLine(QPointF(4.5, 4.5), QPointF(15.5, 15.5));
      p.drawLine(QPointF(15.5, 4.5), QPointF(4.5, 15.5));
      break;
    case ButtonPicture::Send:
    case ButtonPicture::Receive: {
      page(p, QRectF(1.5, 2.5, 10, 14));
      lines(p, QRectF(1.5, 2.5, 10, 14), 3);
      const bool send = picture == ButtonPicture::Send;
      p.setPen(QPen(send ? QColor(255, 220, 0) : QColor(120, 230, 120), 2.4, Qt::SolidLine,
                    Qt::RoundCap, Qt::RoundJoin));
      const qreal y = 13;
      const qreal tip = send ? 19 : 11;
      const qreal tail = send ? 11 : 19;
      const qreal dir = send ? -1 : 1;
      p.drawLine(QPointF(tail, y), QPointF(tip, y));
      p.drawLine(QPointF(tip, y), QPointF(tip + dir * 3.5, y - 3.5));
      p.drawLine(QPointF(tip, y), QPointF(tip + dir * 3.5, y + 3.5));
      break;
    }
    case ButtonPicture::Stop:
      p.setBrush(QColor(220, 40, 40));
      p.setPen(QPen(QColor(255, 255, 255), 1.2));
      p.drawRoundedRect(QRectF(3.5, 3.5, 13, 13), 2, 2);
      break;
    case ButtonPicture::View:
      page(p, QRectF(1.5, 1.5, 11, 15));
      p.setBrush(QColor(200, 235, 255));
      p.setPen(QPen(ink, 1.6));
      p.drawEllipse(QPointF(11.5, 10.5), 4.2, 4.2);
      p.setPen(QPen(QColor(255, 220, 0), 2.8, Qt::SolidLine, Qt::RoundCap));
      p.drawLine(QPointF(14.8, 13.8), QPointF(18.5, 17.5));
      break;
    case ButtonPicture::Exit:
      p.setBrush(QColor(160, 100, 60));
      p.drawRect(QRectF(3.5, 1.5, 9, 17));
      p.setPen(QPen(QColor(255, 220, 0), 2.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
      p.drawLine(QPointF(9, 10), QPointF(18.5, 10));
      p.drawLine(QPointF(18.5, 10), QPointF(15, 6.5));
      p.drawLine(QPointF(18.5, 10), QPointF(15, 13.5));
      break;
    case ButtonPicture::Help: {
      p.setBrush(QColor(40, 110, 220));
      p.setPen(QPen(QColor(255, 255, 255), 1.2));
      p.drawEllipse(QRectF(1.5, 1.5, 17, 17));
      QFont f("DejaVu Sans");
      f.setPixelSize(13);
      f.setBold(true);
      p.setFont(f);
      p.drawText(QRectF(1.5, 1.5, 17, 17), Qt::AlignCenter, "?");
      break;
    }
    case ButtonPicture::Ok:
      p.setPen(QPen(QColor(90, 230, 90), 3.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
      p.drawLine(QPointF(3.5, 10.5), QPointF(8, 15.5));
      p.drawLine(QPointF(8, 15.5), QPointF(16.5, 4.5));
      break;
    case ButtonPicture::Cancel:
      p.setPen(QPen(QColor(240, 70, 70), 3, Qt::SolidLine, Qt::RoundCap));
      p.drawEllipse(QRectF(3, 3, 14, 14));
      p.drawLine(QPointF(5.5, 14.5), QPointF(14.5, 5.5));
      break;
    case ButtonPicture::Font: {
      QFont f("DejaVu Serif");
      f.setPixelSize(17);
      f.setBold(true);
      p.setFont(f);
      p.setPen(QColor(255, 255, 255));
      p.drawText(QRectF(0, 0, 13, 19), Qt::AlignCenter, "A");
      f.setPixelSize(11);
      p.setFont(f);
      p.setPen(QColor(255, 220, 0));
      p.drawText(QRectF(9, 5, 11, 14), Qt::AlignCenter, "a");
      break;
    }
    case ButtonPicture::FindModem:
      modem(p, QRectF(1.5, 7.5, 13, 8));
      p.setPen(QPen(ink, 1.5));
      p.setBrush(QColor(200, 235, 255));
      p.drawEllipse(QPointF(13, 6.5), 3.8, 3.8);
      p.setPen(QPen(QColor(255, 220, 0), 2.6, Qt::SolidLine, Qt::RoundCap));
      p.drawLine(QPointF(16, 9.5), QPointF(19, 12.5));
      break;
    case ButtonPicture::FaxClass:
      modem(p, QRectF(1.5, 9.5, 13, 8));
      p.setPen(QPen(QColor(90, 230, 90), 2.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
      p.drawLine(QPointF(10, 5.5), QPointF(13, 8.5));
      p.drawLine(QPointF(13, 8.5), QPointF(18.5, 1.5));
      break;
    case ButtonPicture::ModemReset: {
      modem(p, QRectF(1.5, 9.5, 13, 8));
      p.setPen(QPen(QColor(255, 220, 0), 2, Qt::SolidLine, Qt::RoundCap));
      p.setBrush(Qt::NoBrush);
      p.drawArc(QRectF(10, 1, 8, 8), 90 * 16, 270 * 16);
      p.drawLine(QPointF(14, 1), QPointF(16.5, 0.2));
      p.drawLine(QPointF(14, 1), QPointF(16.2, 2.8));
      break;
    }
  }
}

}  // namespace

QIcon ButtonIcon(ButtonPicture picture) {
  QIcon icon;
  for (int scale : {1, 2}) {
    QPixmap pm(kSize * scale, kSize * scale);
    pm.fill(Qt::transparent);
    pm.setDevicePixelRatio(scale);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    draw(p, picture);
    p.end();
    icon.addPixmap(pm);
  }
  return icon;
}

QPixmap AboutPicture(int size) {
  QPixmap pm(size, size);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 64.0, size / 64.0);
  p.setPen(QPen(QColor(30, 50, 50), 1.5));
  // Paper coming out of the machine.
  p.setBrush(Qt::white);
  p.drawRect(QRectF(18, 4, 28, 26));
  for (int i = 0; i < 4; ++i) p.drawLine(QPointF(22, 10 + 5 * i), QPointF(42, 10 + 5 * i));
  // Body, handset and keypad.
  p.setBrush(QColor(64, 128, 128));
  p.drawRoundedRect(QRectF(4, 24, 56, 34), 5, 5);
  p.setBrush(QColor(40, 80, 80));
  p.drawRoundedRect(QRectF(8, 28, 12, 26), 4, 4);
  p.setBrush(QColor(220, 235, 235));
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) p.drawRect(QRectF(28 + c * 9, 32 + r * 7, 6, 4));
  return pm;
}

}  // namespace kv
