#include "faxui/kv_meter.h"

#include <QPainter>
#include <algorithm>

namespace kv {

MeterBlocks meterBlocks(int position, int min, int max, int step, int width) {
  MeterBlocks b;
  if (step <= 0 || max <= min) return b;  // nothing sensible to draw, and no division by zero
  position = std::clamp(position, min, max);
  if (position > min) b.blocks = (position - min) * ((width - 3) / step) / (max - min) + 1;
  if (b.blocks * step > width - 4) {
    b.blocks = std::max(0, (width - 4) / step);
    b.partial = true;
    b.partialWidth = std::max(0, (width - 4) % step);
  }
  return b;
}

TKvMeter::TKvMeter(QWidget *parent) : QWidget(parent) {
  const QPalette pal = palette();
  BarColor = pal.color(QPalette::Highlight);
  BevelColor1 = pal.color(QPalette::Light);
  BevelColor2 = pal.color(QPalette::Dark);
  resize(150, 16);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void TKvMeter::SetMax(int v) {
  max_ = v;
  recount(false);
}
void TKvMeter::SetMin(int v) {
  min_ = v;
  recount(false);
}
void TKvMeter::SetPosition(int v) {
  position_ = v;
  recount(false);
}
void TKvMeter::SetStep(int v) {
  const bool changed = v != step_;
  step_ = v;
  recount(changed);
}

void TKvMeter::resizeEvent(QResizeEvent *) {
  recount(true);
}

void TKvMeter::recount(bool forceRepaint) {
  const MeterBlocks now = meterBlocks(position_, min_, max_, step_, width());
  const bool changed = now.blocks != blocks_.blocks || now.partial != blocks_.partial;
  blocks_ = now;
  if (changed || forceRepaint) update();
  if (changed && OnPosChange) OnPosChange(*this);
}

void TKvMeter::paintEvent(QPaintEvent *) {
  QPainter p(this);
  const int w = width(), h = height();
  if (BevelStyle != bsNone) {
    const QColor topLeft = BevelStyle == bsLowered ? BevelColor2 : BevelColor1;
    const QColor bottomRight = BevelStyle == bsLowered ? BevelColor1 : BevelColor2;
    p.setPen(topLeft);
    p.drawLine(0, 0, w - 1, 0);
    p.drawLine(0, 0, 0, h - 1);
    p.setPen(bottomRight);
    p.drawLine(w - 1, 0, w - 1, h - 1);
    p.drawLine(0, h - 1, w - 1, h - 1);
  }
  // Blocks span [i * step + 2, (i + 1) * step): a gap of two pixels between neighbours.
  for (int i = 0; i < blocks_.blocks; ++i)
    p.fillRect(QRect(QPoint(i * step_ + 2, 2), QPoint((i + 1) * step_ - 1, h - 3)), BarColor);
  if (blocks_.partial && blocks_.partialWidth > 0) {
    const int left = blocks_.blocks * step_ + 2;
    p.fillRect(QRect(left, 2, blocks_.partialWidth, h - 4), BarColor);
  }
}

}  // namespace kv
