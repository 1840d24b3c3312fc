// scriptmodem: a pretend modem on a pseudo-terminal that follows a script (see
// modem_script.h for the format). Prints the port's path, runs the script, and exits
// 0 when the program on the port did exactly what the script expects, 1 when not,
// 2 on a usage or script error, 3 when the port could not be made.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <system_error>

#include "scriptmodem/script_modem.h"

namespace {

volatile std::sig_atomic_t gStop = 0;

void usage() {
  std::fprintf(stderr,
               "usage: scriptmodem [-v] [--link PATH] [--timeout SECONDS] [--settle MS] SCRIPT\n"
               "  --link PATH      make PATH a link to the port (default: print the pts node)\n"
               "  --timeout S      give up when the script has not ended after S s (60)\n"
               "  --settle MS      after the end, watch MS ms for stray input (500)\n"
               "  -v               print the dialogue as it happens\n");
}

}  // namespace

int main(int argc, char **argv) {
  kv::ScriptModem::Options opts;
  double timeout = 60;
  int settle = 500;
  std::string scriptPath;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&]() -> const char * {
      if (i + 1 >= argc) {
        usage();
        std::exit(2);
      }
      return argv[++i];
    };
    if (a == "-v") {
      opts.log = true;
    } else if (a == "--link") {
      opts.linkPath = value();
    } else if (a == "--timeout") {
      timeout = std::atof(value());
    } else if (a == "--settle") {
      settle = std::atoi(value());
    } else if (a == "-h" || a == "--help") {
      usage();
      return 0;
    } else if (!a.empty() && a[0] == '-') {
      usage();
      return 2;
    } else if (scriptPath.empty()) {
      scriptPath = a;
    } else {
      usage();
      return 2;
    }
  }
  if (scriptPath.empty() || timeout <= 0) {
    usage();
    return 2;
  }
  kv::ModemScript script;
  try {
    script = kv::ModemScript::load(scriptPath);
  } catch (const kv::ScriptError &e) {
    std::fprintf(stderr, "scriptmodem: %s\n", e.what());
    return 2;
  }
  // SIGTERM and SIGINT end the wait like a time-out, so the port is always cleaned up.
  struct sigaction sa {};
  sa.sa_handler = [](int) { gStop = 1; };
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  try {
    kv::ScriptModem modem(std::move(script), opts);
    std::printf("%s\n", modem.path().c_str());
    std::fflush(stdout);
    auto deadline = std::chrono::steady_clock::now() +
                    std::chrono::milliseconds(static_cast<long long>(timeout * 1000));
    bool done = false;
    while (!done && !gStop && std::chrono::steady_clock::now() < deadline)
      done = modem.waitDone(std::chrono::milliseconds(100));
    kv::ScriptReport r =
        modem.finish(std::chrono::milliseconds(0), std::chrono::milliseconds(done ? settle : 0));
    if (!r.ok()) {
      std::fprintf(stderr, "scriptmodem: %s", r.describe().c_str());
      return 1;
    }
    return 0;
  } catch (const std::system_error &e) {
    std::fprintf(stderr, "scriptmodem: %s\n", e.what());
    return 3;
  }
}
