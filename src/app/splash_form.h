#pragma once
// The about window.
#include <QDialog>

namespace kv {

class TSplashform : public QDialog {
  Q_OBJECT
 public:
  explicit TSplashform(QWidget *parent = nullptr);
};

}  // namespace kv
