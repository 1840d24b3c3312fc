// The Korvane program: one instance per user, one main window.
#include <QApplication>
#include <optional>

#include "app/command_line.h"
#include "app/program.h"

int main(int argc, char *argv[]) {
  // Help and version need no display, and a missing display is a message, not an abort.
  if (const int status = kv::HandleCommandLineBeforeDisplay(argc, argv); status >= 0) return status;
  std::optional<kv::DisplayFailureGuard> guard(std::in_place);
  QApplication app(argc, argv);
  guard.reset();
  return kv::RunKorvane(app);
}
