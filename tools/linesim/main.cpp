// linesim: a telephone line with an emulated Class 1 fax modem at each end, each behind a
// pseudo-terminal, for testing fax programs without hardware. See usage() for the options.
#include <poll.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <system_error>
#include <vector>

#include "line.h"
#include "sim_log.h"
#include "spandsp_include.h"

using namespace kv::linesim;

namespace {

enum ExitCode {
  kExitOk = 0,         // ran to its end; every far-end fax session succeeded
  kExitFaxFailed = 1,  // a far-end fax session failed or never took place
  kExitUsage = 2,
  kExitSystem = 3,   // ports or files could not be set up
  kExitTimeout = 4,  // --timeout came before --calls were done
  kExitSignal = 5,   // stopped by SIGTERM or SIGINT
};

volatile sig_atomic_t gSignal = 0;

// Requests on standard input, a line each: "call" asks the far end for a fax. Read only with
// --far-dial-on-request; at its end (or an error) it is no longer watched.
class Requests {
 public:
  explicit Requests(bool on) : open_(on) {}
  bool open() const { return open_; }
  template <class OnCall>
  void read(OnCall onCall) {
    char buf[256];
    const ssize_t n = ::read(0, buf, sizeof buf);
    if (n <= 0) {
      if (n == 0 || (errno != EINTR && errno != EAGAIN)) open_ = false;
      return;
    }
    pending_.append(buf, std::size_t(n));
    for (std::size_t nl; (nl = pending_.find('\n')) != std::string::npos;) {
      std::string request = pending_.substr(0, nl);
      pending_.erase(0, nl + 1);
      while (!request.empty() && (request.back() == '\r' || request.back() == ' '))
        request.pop_back();
      if (request == "call") onCall();
    }
    if (pending_.size() > 1024) pending_.clear();  // no line of ours is that long
  }

 private:
  bool open_;
  std::string pending_;
};

void usage(FILE *f) {
  std::fprintf(f,
               R"(usage: linesim [options] PORT_A [PORT_B]
Makes PORT_A and PORT_B links to pseudo-terminals, each with an emulated Class 1 fax modem,
joined by a simulated telephone line. Dialling one rings the other.

  -v, -vv, -vvv         log line events (-vv: and the ports' traffic; -vvv: and the far-end fax
                        machine's protocol) to stderr
  --speed X             run X times faster than real time (default 1; 4 or 8 suit tests)
  --delay MS            one-way delay of the line (default 40)
  --timeout S           end after S real seconds (default 600)
  --calls N             end when N calls are over (then waits up to --linger S for the ports
                        to be closed; default 3)
  --ring-first S, --ring-every S   first RING after S s (1), then every S s (6)
  --busy NUM            dialling NUM gives BUSY (NUM "*" matches any number); repeatable
  --busy-times N        a --busy number is busy for its first N dials only, then answers
  --no-answer NUM       NUM rings and never answers
  --voice NUM           NUM is answered by a person who talks, then hangs up
  --voice-secs S        how long the person talks (default 8)
  --noise DBM0          add white noise at this level (e.g. -45); every carrier meets
                        the same noise, so results do not depend on timing
  --loss DB             attenuate the line by DB decibels
  --drop-after S        the line drops S s after a call is answered
  --drop-mid-page S     the line drops after S s of unbroken carrier one way (a page)
  --burst-mid-page S    once a call, after S s of page data from a modem (of unbroken
                        carrier from the far end), loud noise spoils that direction
                        for --burst-length S (4) (a damaged page)
  --garble-mid-page S   the modems spoil one byte in sixteen of page data from S s into it,
                        for --garble-length S (4): a damaged page, the same on every run
  --mute SIDE:N         modem A or B stops answering after N command lines (until
                        its port is closed)
  --class [SIDE:]C       modem A or B (both without SIDE) is also a Class 2 (C 2) or
                        Class 2 and 2.0 (C 2.0) fax modem running T.30 itself; C may
                        also be the exact list AT+FCLASS=? answers, e.g. 0,2.0
  --xon-on-connect      the modems send XON after the CONNECT that opens page data, as
                        some real modems do (a program may then start the page at once)
  --far-receive FILE    side B is a fax machine that answers and stores what it receives as
                        TIFF in FILE (%%d becomes the call count)
  --far-send TIFF       side B is a fax machine that calls A and sends TIFF
  --far-dial-at S       when the fax machine calls A (default 2 s)
  --far-dial-idle S     instead, the fax machine calls A once the program on A has had the
                        port open and sent nothing for S s with no call on the line (it
                        waits for calls)
  --far-redial S        when its call is not answered or fails, it calls again S s later
  --far-dial-on-request the fax machine calls only when a line "call" is read on standard
                        input, once for each (with --far-dial-idle: once A waits for calls)
  --far-rings N         rings before the fax machine answers (default 1)
  --far-ecm             fax machine offers error correction
  --far-modems LIST     fax machine's modems, from v27,v29,v17 (default all)
  --far-id TEXT         fax machine's station id
Times are simulated seconds unless said otherwise.
Exit: 0 done, 1 a far-end fax failed, 2 usage, 3 set-up failed, 4 timed out before --calls,
5 stopped by a signal.
)");
}

bool number(const char *s, double &out) {
  char *end = nullptr;
  out = std::strtod(s, &end);
  return end && end != s && *end == 0;
}

}  // namespace

int main(int argc, char **argv) {
  LineConfig cfg;
  double speed = 1, timeout = 600, linger = 3;
  long calls = -1;
  std::vector<std::string> ports;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto text = [&]() -> std::string {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "linesim: %s needs a value\n", a.c_str());
        std::exit(kExitUsage);
      }
      return argv[++i];
    };
    auto num = [&](double lo, double hi) {
      std::string v = text();
      double d;
      if (!number(v.c_str(), d) || d < lo || d > hi) {
        std::fprintf(stderr, "linesim: bad value '%s' for %s\n", v.c_str(), a.c_str());
        std::exit(kExitUsage);
      }
      return d;
    };
    if (a == "-v") {
      SimLog::verbosity = std::max(SimLog::verbosity, 1);
    } else if (a == "-vv") {
      SimLog::verbosity = 2;
    } else if (a == "-vvv") {
      SimLog::verbosity = 3;
    } else if (a == "-h" || a == "--help") {
      usage(stdout);
      return kExitOk;
    } else if (a == "--speed") {
      speed = num(0.01, 1000);
    } else if (a == "--delay") {
      cfg.delayMs = num(0, 2000);
    } else if (a == "--timeout") {
      timeout = num(0.1, 1e7);
    } else if (a == "--calls") {
      calls = static_cast<long>(num(1, 1e6));
    } else if (a == "--linger") {
      linger = num(0, 3600);
    } else if (a == "--ring-first") {
      cfg.firstRing = num(0, 600);
    } else if (a == "--ring-every") {
      cfg.ringEvery = num(0.1, 600);
    } else if (a == "--busy") {
      cfg.busyNumbers.push_back(text());
    } else if (a == "--busy-times") {
      cfg.busyTimes = static_cast<int>(num(0, 1e6));
    } else if (a == "--no-answer") {
      cfg.noAnswerNumbers.push_back(text());
    } else if (a == "--voice") {
      cfg.voiceNumbers.push_back(text());
    } else if (a == "--voice-secs") {
      cfg.voiceSeconds = num(0, 3600);
    } else if (a == "--noise") {
      cfg.noiseDbm0 = num(-120, 0);
    } else if (a == "--loss") {
      cfg.lossDb = num(0, 60);
    } else if (a == "--drop-after") {
      cfg.dropAfter = num(0.02, 1e6);
    } else if (a == "--drop-mid-page") {
      cfg.dropMidPage = num(0.02, 1e6);
    } else if (a == "--burst-mid-page") {
      cfg.burstMidPage = num(0.02, 1e6);
    } else if (a == "--class") {
      std::string v = text();
      std::string side;
      if (v.size() > 2 && (v[0] == 'A' || v[0] == 'B') && v[1] == ':') {
        side = v.substr(0, 1);
        v = v.substr(2);
      }
      std::string list = v == "2" ? "0,1,2" : v == "2.0" ? "0,1,2,2.0" : v == "1" ? "" : v;
      bool good = !v.empty() && v.find_first_not_of("0123456789.,") == std::string::npos;
      if (!good) {
        std::fprintf(stderr, "linesim: --class takes 1, 2, 2.0 or a class list, e.g. A:2.0\n");
        return kExitUsage;
      }
      if (side != "B") cfg.classesA = list;
      if (side != "A") cfg.classesB = list;
    } else if (a == "--xon-on-connect") {
      cfg.xonOnConnect = true;
    } else if (a == "--garble-mid-page") {
      cfg.garbleMidPage = num(0.02, 1e6);
    } else if (a == "--garble-length") {
      cfg.garbleLength = num(0.02, 1e6);
    } else if (a == "--burst-length") {
      cfg.burstLength = num(0.02, 1e6);
    } else if (a == "--mute") {
      std::string v = text();
      double n;
      if (v.size() < 3 || (v[0] != 'A' && v[0] != 'B') || v[1] != ':' ||
          !number(v.c_str() + 2, n) || n < 0) {
        std::fprintf(stderr, "linesim: --mute takes A:N or B:N\n");
        return kExitUsage;
      }
      (v[0] == 'A' ? cfg.muteA : cfg.muteB) = static_cast<int>(n);
    } else if (a == "--far-receive") {
      cfg.farEnd = true;
      cfg.farReceive = text();
    } else if (a == "--far-send") {
      cfg.farEnd = true;
      cfg.farSend = text();
    } else if (a == "--far-dial-at") {
      cfg.farDialAt = num(0, 1e6);
    } else if (a == "--far-dial-idle") {
      cfg.farDialIdle = num(0.02, 1e6);
    } else if (a == "--far-dial-on-request") {
      cfg.farOnRequest = true;
    } else if (a == "--far-redial") {
      cfg.farRedial = num(1, 1e6);
    } else if (a == "--far-rings") {
      cfg.farRings = static_cast<int>(num(1, 100));
    } else if (a == "--far-ecm") {
      cfg.farEcm = true;
    } else if (a == "--far-id") {
      cfg.farIdent = text().substr(0, 20);
    } else if (a == "--far-modems") {
      std::string v = text() + ",";
      cfg.farModems = 0;
      for (std::size_t p = 0, q; (q = v.find(',', p)) != std::string::npos; p = q + 1) {
        std::string m = v.substr(p, q - p);
        if (m == "v27")
          cfg.farModems |= T30_SUPPORT_V27TER;
        else if (m == "v29")
          cfg.farModems |= T30_SUPPORT_V29;
        else if (m == "v17")
          cfg.farModems |= T30_SUPPORT_V17;
        else {
          std::fprintf(stderr, "linesim: unknown modem '%s' (v27, v29, v17)\n", m.c_str());
          return kExitUsage;
        }
      }
    } else if (!a.empty() && a[0] == '-') {
      std::fprintf(stderr, "linesim: unknown option %s\n", a.c_str());
      usage(stderr);
      return kExitUsage;
    } else {
      ports.push_back(a);
    }
  }
  if (ports.size() != (cfg.farEnd ? 1u : 2u)) {
    std::fprintf(stderr, cfg.farEnd ? "linesim: with a far-end fax machine give one port\n"
                                    : "linesim: give two ports\n");
    usage(stderr);
    return kExitUsage;
  }
  cfg.linkA = ports[0];
  if (!cfg.farEnd) cfg.linkB = ports[1];
  if (!cfg.farSend.empty()) {
    if (FILE *f = std::fopen(cfg.farSend.c_str(), "rb")) {
      std::fclose(f);
    } else {
      std::fprintf(stderr, "linesim: cannot read %s: %s\n", cfg.farSend.c_str(),
                   std::strerror(errno));
      return kExitSystem;
    }
  }

  struct sigaction sa {};
  sa.sa_handler = [](int sig) { gSignal = sig; };
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);

  std::unique_ptr<Line> line;
  try {
    line = std::make_unique<Line>(cfg);
  } catch (const std::exception &e) {
    std::fprintf(stderr, "linesim: %s\n", e.what());
    return kExitSystem;
  }
  std::printf("ready A=%s", line->modemA().path().c_str());
  if (line->modemB()) std::printf(" B=%s", line->modemB()->path().c_str());
  std::printf("\n");
  std::fflush(stdout);
  logAt(1, "line up: speed %gx, delay %g ms", speed, cfg.delayMs);

  using Clock = std::chrono::steady_clock;
  const auto period = std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double>(double(kBlock) / kSampleRate / speed));
  const auto start = Clock::now();
  const auto deadline =
      start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(timeout));
  auto next = start + period;
  std::optional<Clock::time_point> lingerFrom;
  Requests requests(cfg.farOnRequest);
  int rc = kExitOk;
  std::vector<ModemPort *> modems{&line->modemA()};
  if (line->modemB()) modems.push_back(line->modemB());

  try {
    for (;;) {
      if (gSignal) {
        logAt(1, "stopped by signal %d", int(gSignal));
        rc = kExitSignal;
        break;
      }
      auto now = Clock::now();
      if (now >= deadline) {
        logAt(1, "time is up");
        rc = calls > 0 ? kExitTimeout : kExitOk;
        break;
      }
      if (calls > 0 && long(line->calls().size()) >= calls && !line->callInProgress()) {
        // Give the programs a moment for their last commands before the ports vanish.
        if (!lingerFrom) lingerFrom = now;
        bool anyOpen = false;
        for (ModemPort *m : modems) anyOpen = anyOpen || m->dteOpen();
        if (!anyOpen || now - *lingerFrom >= std::chrono::duration<double>(linger)) break;
      }

      pollfd fds[5];
      int n = 0;
      for (ModemPort *m : modems) {
        short ev = (m->wantsInput() ? POLLIN : 0) | (m->wantsOutput() ? POLLOUT : 0);
        fds[n++] = {m->masterFd(), ev, 0};
        fds[n++] = {m->watchFd(), POLLIN, 0};
      }
      const int requestsAt = n;
      if (requests.open()) fds[n++] = {0, POLLIN, 0};
      auto wait = next > now ? next - now : Clock::duration::zero();
      timespec ts{};
      auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
      ts.tv_sec = ns / 1000000000;
      ts.tv_nsec = ns % 1000000000;
      int r = ppoll(fds, n, &ts, nullptr);
      if (r < 0 && errno != EINTR) throw std::system_error(errno, std::generic_category(), "ppoll");
      if (r > 0 && requests.open() && (fds[requestsAt].revents & (POLLIN | POLLHUP)))
        requests.read([&] { line->requestFarCall(); });
      for (std::size_t i = 0; i < modems.size(); ++i) {
        if (r > 0 && (fds[2 * i].revents & POLLIN)) modems[i]->readInput();
        if (r > 0 && (fds[2 * i].revents & POLLOUT)) modems[i]->writeOutput();
        line->service(*modems[i]);
      }
      now = Clock::now();
      if (now >= next) {
        line->step();
        next += period;
        // After a stall (a loaded machine) resume from now instead of racing to catch up: the
        // programs on the ports answer in their own time, and a line that ran many times too
        // fast while they did would shorten every gap T.30 gives them.
        if (now - next > 2 * period) next = now + period;
      }
    }
  } catch (const std::exception &e) {
    std::fprintf(stderr, "linesim: %s\n", e.what());
    return kExitSystem;
  }

  bool faxFailed = line->farFailed();
  for (const CallRecord &c : line->calls()) {
    std::printf("call %d: %s -> %s", c.number, c.from.c_str(), c.to.empty() ? "?" : c.to.c_str());
    if (!c.dialled.empty()) std::printf(" (%s)", c.dialled.c_str());
    std::printf(": %s", c.outcome.c_str());
    if (c.seconds > 0) std::printf(", %.1f s connected", c.seconds);
    std::printf("\n");
    if (!c.fax.empty()) std::printf("  fax: %s\n", c.fax.c_str());
  }
  line.reset();  // ends a session in progress, so its result counts too
  if (rc == kExitOk && faxFailed) rc = kExitFaxFailed;
  std::printf("linesim: %s after %.1f s\n",
              rc == kExitOk          ? "done"
              : rc == kExitFaxFailed ? "fax failed"
              : rc == kExitTimeout   ? "timed out"
                                     : "stopped",
              std::chrono::duration<double>(Clock::now() - start).count());
  std::fflush(stdout);
  return rc;
}
