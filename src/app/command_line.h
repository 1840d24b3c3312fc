#pragma once
// What `korvane` does with its command line before any window exists: --help and --version
// answer on standard output, and a start without a display says so instead of aborting.
namespace kv {

// The package's version, as the build was given it.
const char *PackageVersion();

// Answers the exit status when the program ends here (help, version, no display), or -1 when
// the windows should start. Must run before the QApplication is made.
int HandleCommandLineBeforeDisplay(int argc, char **argv);

// Makes a display that cannot be opened end the program with a message and status 1 rather
// than an abort; undone by the returned object's destruction once the application is up.
class DisplayFailureGuard {
 public:
  DisplayFailureGuard();
  ~DisplayFailureGuard();
  DisplayFailureGuard(const DisplayFailureGuard &) = delete;
  DisplayFailureGuard &operator=(const DisplayFailureGuard &) = delete;
};

}  // namespace kv
