#include "app/command_line.h"

#include <QString>
#include <QtGlobal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace kv {
namespace {

constexpr char kUsage[] =
    "Usage: korvane [--demo] [FAX-FILE...]\n"
    "The Korvane fax program: compose, send, receive and view faxes.\n"
    "\n"
    "  FAX-FILE   a fax file (APF or TIFF) to open in the viewer; when the program is\n"
    "             already running, that instance opens it\n"
    "  --demo     send and receive over a simulated line, without a modem\n"
    "  --help     print this help and exit\n"
    "  --version  print the version and exit\n"
    "\n"
    "The program needs a graphical display. The same work without one is done by\n"
    "korvane-fax (see korvane-fax --help).\n";

constexpr char kNoDisplay[] =
    "korvane: needs a graphical display; none is set (DISPLAY and WAYLAND_DISPLAY are "
    "empty).\nRun it on a desktop, or use korvane-fax for the same work without one.\n";

bool isSet(const char *name) {
  const char *v = std::getenv(name);
  return v && *v;
}

// True when the command line names a Qt platform plugin of its own (-platform NAME).
bool platformGiven(int argc, char **argv) {
  for (int i = 1; i < argc; ++i)
    if (!std::strcmp(argv[i], "-platform") || !std::strcmp(argv[i], "--platform")) return true;
  return false;
}

QtMessageHandler previousHandler = nullptr;

void failOnFatal(QtMsgType type, const QMessageLogContext &context, const QString &text) {
  if (type != QtFatalMsg) {
    if (previousHandler)
      previousHandler(type, context, text);
    else
      std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, text)));
    return;
  }
  // Qt's own words speak of reinstalling plugins; the likely cause is the display.
  const char *display = std::getenv("DISPLAY");
  std::fprintf(stderr, "korvane: the display \"%s\" could not be opened.\n",
               display ? display : "");
  std::fflush(stderr);
  std::_Exit(1);
}

}  // namespace

const char *PackageVersion() {
  return KORVANE_VERSION;
}

int HandleCommandLineBeforeDisplay(int argc, char **argv) {
  for (int i = 1; i < argc; ++i) {
    // Everything after "--" is a file name.
    if (!std::strcmp(argv[i], "--")) break;
    if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (!std::strcmp(argv[i], "--version")) {
      std::printf("korvane %s\n", PackageVersion());
      return 0;
    }
  }
  if (!isSet("DISPLAY") && !isSet("WAYLAND_DISPLAY") && !isSet("QT_QPA_PLATFORM") &&
      !platformGiven(argc, argv)) {
    std::fputs(kNoDisplay, stderr);
    return 1;
  }
  return -1;
}

DisplayFailureGuard::DisplayFailureGuard() {
  previousHandler = qInstallMessageHandler(failOnFatal);
}
DisplayFailureGuard::~DisplayFailureGuard() {
  qInstallMessageHandler(previousHandler);
  previousHandler = nullptr;
}

}  // namespace kv
