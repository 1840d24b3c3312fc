#include "scriptmodem/script_modem.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <regex>
#include <system_error>

namespace kv {

namespace {

constexpr char kDle = 0x10;
constexpr char kEtx = 0x03;
using Clock = std::chrono::steady_clock;

std::string upper(std::string_view s) {
  std::string out(s);
  for (char &c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

bool lineMatches(const std::string &expected, const std::string &got) {
  std::string e = upper(expected), g = upper(got);
  if (!e.empty() && e.back() == '*') {
    e.pop_back();
    return g.compare(0, e.size(), e) == 0;
  }
  return e == g;
}

}  // namespace

std::string ScriptReport::describe() const {
  std::string out;
  if (!completed) out += "script did not run to its end\n";
  for (const auto &m : mismatches) out += "mismatch: " + m + "\n";
  if (!unexpected.empty()) out += "unexpected input: " + ModemScript::printable(unexpected) + "\n";
  out += "transcript:\n";
  for (const auto &t : transcript) out += "  " + t + "\n";
  return out;
}

ScriptModem::ScriptModem(ModemScript script) : ScriptModem(std::move(script), Options{}) {}

ScriptModem::ScriptModem(ModemScript script, Options options)
    : script_(std::move(script)), options_(std::move(options)), pty_(options_.linkPath) {
  wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wakeFd_ < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
  start_ = Clock::now();
  thread_ = std::thread([this] { run(); });
}

ScriptModem::~ScriptModem() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  uint64_t one = 1;
  (void)!::write(wakeFd_, &one, sizeof one);
  if (thread_.joinable()) thread_.join();
  ::close(wakeFd_);
}

ScriptModem::LineState ScriptModem::lineState() const {
  LineState st;
  termios t{};
  {
    // A hang-up step closes the pty on the modem's thread.
    std::lock_guard lock(mutex_);
    if (pty_.masterFd() < 0 || ::tcgetattr(pty_.masterFd(), &t) != 0) return st;
  }
  static const struct {
    speed_t code;
    std::uint32_t bps;
  } rates[] = {{B1200, 1200},   {B2400, 2400},   {B4800, 4800},   {B9600, 9600},
               {B19200, 19200}, {B38400, 38400}, {B57600, 57600}, {B115200, 115200}};
  for (const auto &r : rates)
    if (cfgetospeed(&t) == r.code) st.baud = r.bps;
  st.ixon = t.c_iflag & IXON;
  st.ixoff = t.c_iflag & IXOFF;
  return st;
}

bool ScriptModem::stopping() const {
  std::lock_guard lock(mutex_);
  return stop_;
}

bool ScriptModem::waitDone(std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex_);
  return doneCv_.wait_for(lock, limit, [this] { return done_; });
}

ScriptReport ScriptModem::finish(std::chrono::milliseconds limit,
                                 std::chrono::milliseconds settle) {
  if (waitDone(limit)) std::this_thread::sleep_for(settle);
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  uint64_t one = 1;
  (void)!::write(wakeFd_, &one, sizeof one);
  if (thread_.joinable()) thread_.join();
  return report();
}

ScriptReport ScriptModem::report() const {
  std::lock_guard lock(mutex_);
  return report_;
}

void ScriptModem::note(const char *dir, std::string_view bytes) {
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start_).count();
  char head[32];
  std::snprintf(head, sizeof head, "%6lld ms %s ", static_cast<long long>(ms), dir);
  std::string line = head + ModemScript::printable(bytes);
  if (options_.log) std::fprintf(stderr, "%s\n", line.c_str());
  std::lock_guard lock(mutex_);
  report_.transcript.push_back(std::move(line));
}

void ScriptModem::mismatch(const ScriptStep &step, const std::string &got) {
  std::string m = "line " + std::to_string(step.line) + ": expected '" + step.source + "', " + got;
  if (options_.log) std::fprintf(stderr, "scriptmodem: %s\n", m.c_str());
  std::lock_guard lock(mutex_);
  report_.mismatches.push_back(std::move(m));
}

bool ScriptModem::fill(Clock::time_point deadline) {
  for (;;) {
    if (stopping() || pty_.masterFd() < 0) return false;
    auto now = Clock::now();
    if (now >= deadline) return false;
    int waitMs = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count() + 1);
    pollfd fds[2] = {{pty_.masterFd(), POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    int n = ::poll(fds, 2, std::min(waitMs, 1000));
    if (n < 0 && errno != EINTR) return false;
    if (n <= 0) continue;
    if (fds[1].revents) return false;
    if (fds[0].revents & POLLIN) {
      char buf[4096];
      ssize_t got = ::read(pty_.masterFd(), buf, sizeof buf);
      if (got > 0) {
        note("DTE>", std::string_view(buf, static_cast<std::size_t>(got)));
        in_.append(buf, static_cast<std::size_t>(got));
        return true;
      }
      if (got < 0 && errno != EAGAIN && errno != EINTR) return false;
    }
  }
}

bool ScriptModem::writeAll(std::string_view bytes) {
  note("MDM<", bytes);
  while (!bytes.empty()) {
    if (pty_.masterFd() < 0) return false;
    ssize_t n = ::write(pty_.masterFd(), bytes.data(), bytes.size());
    if (n > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
    // The program is not reading; give it a while, as a modem's buffer would.
    pollfd fd{pty_.masterFd(), POLLOUT, 0};
    if (::poll(&fd, 1, 2000) <= 0 || stopping()) return false;
  }
  return true;
}

void ScriptModem::run() {
  bool following = true;
  for (const ScriptStep &step : script_.steps()) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs_);
    switch (step.kind) {
      case ScriptStep::ExpectLine:
      case ScriptStep::ExpectRegex: {
        std::size_t cr;
        for (;;) {
          // Line feeds and blanks before a command are what a program leaves after a CR LF.
          std::size_t lead = 0;
          while (lead < in_.size() && (in_[lead] == '\n' || in_[lead] == ' ')) ++lead;
          in_.erase(0, lead);
          cr = in_.find('\r');
          if (cr != std::string::npos || !fill(deadline)) break;
        }
        if (cr == std::string::npos) {
          mismatch(step,
                   "timed out" + (in_.empty() ? std::string()
                                              : ", got '" + ModemScript::printable(in_) + "'"));
          following = false;
          break;
        }
        std::string got = in_.substr(0, cr);
        in_.erase(0, cr + 1);
        if (echo_) writeAll(got + "\r");
        while (!got.empty() && got.back() == ' ') got.pop_back();
        bool match = step.kind == ScriptStep::ExpectLine
                         ? lineMatches(step.text, got)
                         : std::regex_match(got, std::regex(step.text, std::regex::icase));
        if (!match) {
          mismatch(step, "got '" + ModemScript::printable(got) + "'");
          writeAll("\r\nERROR\r\n");
          following = false;
        }
        break;
      }
      case ScriptStep::ExpectRaw:
      case ScriptStep::ExpectByte: {
        std::size_t want = step.kind == ScriptStep::ExpectByte ? 1 : step.text.size();
        while (in_.size() < want && fill(deadline)) {
        }
        if (in_.size() < want) {
          mismatch(step,
                   "timed out" + (in_.empty() ? std::string()
                                              : ", got '" + ModemScript::printable(in_) + "'"));
          following = false;
          break;
        }
        std::string got = in_.substr(0, want);
        in_.erase(0, want);
        if (step.kind == ScriptStep::ExpectRaw && got != step.text) {
          mismatch(step, "got '" + ModemScript::printable(got) + "'");
          following = false;
        }
        break;
      }
      case ScriptStep::ExpectData: {
        std::string data;
        std::size_t i = 0;
        bool ended = false;
        for (;;) {
          while (i < in_.size()) {
            if (in_[i] != kDle) {
              data.push_back(in_[i++]);
              continue;
            }
            if (i + 1 >= in_.size()) break;  // need the byte after DLE
            char next = in_[i + 1];
            i += 2;
            if (next == step.endByte) {
              ended = true;
              break;
            }
            if (next == kDle) {
              data.push_back(kDle);
            } else {
              data.push_back(kDle);
              data.push_back(next);
            }
          }
          if (ended || !fill(deadline)) break;
        }
        in_.erase(0, i);
        {
          std::lock_guard lock(mutex_);
          report_.data.push_back(data);
        }
        if (!ended) {
          mismatch(step, "timed out after " + std::to_string(data.size()) + " bytes of data");
          following = false;
        } else if (step.hasData && data != step.text) {
          mismatch(step, "got " + std::to_string(data.size()) + " bytes '" +
                             ModemScript::printable(data, 64) + "'");
          following = false;
        }
        break;
      }
      case ScriptStep::Send:
        if (!writeAll(step.text)) {
          mismatch(step, "could not write to the port");
          following = false;
        }
        break;
      case ScriptStep::Wait: {
        auto until = Clock::now() + std::chrono::milliseconds(step.ms);
        while (fill(until)) {
        }
        break;
      }
      case ScriptStep::Mute: {
        if (step.ms < 0) {
          // A modem that stopped answering: the script is over, input is swallowed.
          {
            std::lock_guard lock(mutex_);
            report_.completed = true;
            done_ = true;
          }
          doneCv_.notify_all();
          while (!stopping() && pty_.masterFd() >= 0) {
            fill(Clock::now() + std::chrono::seconds(1));
            in_.clear();
          }
          return;
        }
        auto until = Clock::now() + std::chrono::milliseconds(step.ms);
        while (fill(until)) in_.clear();
        in_.clear();
        break;
      }
      case ScriptStep::Silence: {
        auto until = Clock::now() + std::chrono::milliseconds(step.ms);
        while (in_.empty() && fill(until)) {
        }
        if (!in_.empty()) {
          mismatch(step, "got '" + ModemScript::printable(in_) + "'");
          in_.clear();
          following = false;
        }
        break;
      }
      case ScriptStep::Hangup:
        note("MDM", "hangs up");
        {
          // Let the program read what was already sent: closing the master discards it. The
          // kernel moves written bytes to the slave's queue a little later, so wait a moment
          // before trusting an empty queue.
          std::this_thread::sleep_for(std::chrono::milliseconds(50));
          auto until = Clock::now() + std::chrono::seconds(1);
          int queued = 0;
          while (Clock::now() < until && ::ioctl(pty_.slaveFd(), FIONREAD, &queued) == 0 &&
                 queued > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
          std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        {
          std::lock_guard lock(mutex_);
          pty_.close();
          report_.completed = true;
          report_.unexpected = in_;
          done_ = true;
        }
        doneCv_.notify_all();
        return;
      case ScriptStep::Timeout:
        timeoutMs_ = step.ms;
        break;
      case ScriptStep::Echo:
        echo_ = step.ms != 0;
        break;
    }
    if (!following || stopping()) break;
  }
  {
    std::lock_guard lock(mutex_);
    report_.completed = following && !stop_;
    done_ = true;
  }
  doneCv_.notify_all();
  // Keep the port alive until stopped; whatever still arrives is reported, not answered.
  std::string extra = in_;
  in_.clear();
  while (!stopping() && pty_.masterFd() >= 0) {
    fill(Clock::now() + std::chrono::seconds(1));
    extra += in_;
    in_.clear();
  }
  if (following) {
    std::lock_guard lock(mutex_);
    report_.unexpected = extra;
  }
}

}  // namespace kv
