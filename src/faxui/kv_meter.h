#pragma once
// A bar of whole blocks for a position between Min and Max, with a partial block at the end when
// the last whole block would run past the bevel.
#include <QColor>
#include <QWidget>
#include <functional>

namespace kv {

enum TBevelStyle { bsLowered, bsRaised, bsNone };

// Blocks of a meter `width` pixels wide: the whole blocks, and a partial one of partialWidth
// pixels when the blocks would not fit.
struct MeterBlocks {
  int blocks = 0;
  bool partial = false;
  int partialWidth = 0;
  bool operator==(const MeterBlocks &) const = default;
};
MeterBlocks meterBlocks(int position, int min, int max, int step, int width);

class TKvMeter : public QWidget {
  Q_OBJECT
 public:
  explicit TKvMeter(QWidget *parent = nullptr);

  QColor BarColor, BevelColor1, BevelColor2;
  TBevelStyle BevelStyle = bsLowered;
  std::function<void(TKvMeter &)> OnPosChange;

  int Max() const { return max_; }
  void SetMax(int v);
  int Min() const { return min_; }
  void SetMin(int v);
  int Position() const { return position_; }
  void SetPosition(int v);
  int Step() const { return step_; }
  void SetStep(int v);
  const MeterBlocks &Blocks() const { return blocks_; }

  QSize sizeHint() const override { return {150, 16}; }

 protected:
  void paintEvent(QPaintEvent *) override;
  void resizeEvent(QResizeEvent *) override;

 private:
  // Recounts the blocks; `forceRepaint` when the step or size changed.
  void recount(bool forceRepaint);

  int max_ = 100, min_ = 0, position_ = 0, step_ = 8;
  MeterBlocks blocks_;
};

}  // namespace kv
