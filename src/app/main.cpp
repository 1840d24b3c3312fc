// The Korvane program: one instance per user, one main window.
#include <QApplication>

#include "app/program.h"

int main(int argc, char *argv[]) {
  QApplication app(argc, argv);
  return kv::RunKorvane(app);
}
