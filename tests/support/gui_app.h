#pragma once
// One QApplication per test program, on the platform the environment names (the test
// runner sets offscreen).
#include <QApplication>

namespace kv::test {

inline QApplication &GuiApp() {
  static int argc = 1;
  static char name[] = "korvane-test";
  static char *argv[] = {name, nullptr};
  static QApplication *app = new QApplication(argc, argv);
  return *app;
}

}  // namespace kv::test
