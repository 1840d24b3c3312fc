#pragma once
// Pseudo-terminal pairs as serial lines, a device layer that can fake what a pty cannot (modem
// lines, line errors, breaks), and a main-thread loop for the tests.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "comm/device_layer.h"
#include "comm/main_thread.h"
#include "comm/port_layer.h"
#include "support/temp_files.h"

namespace kvtest {

// The far end of a pty: the test plays the modem on the master side.
struct Pty {
  int master = -1;
  std::string slave;

  Pty() {
    int s = -1;
    char name[256];
    if (openpty(&master, &s, name, nullptr, nullptr) == 0) {
      slave = name;
      // Keep a slave descriptor open only while configuring raw mode, so the port's own open
      // is the one that counts.
      termios t{};
      tcgetattr(s, &t);
      cfmakeraw(&t);
      tcsetattr(s, TCSANOW, &t);
      ::close(s);
      fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    }
  }
  ~Pty() { closeMaster(); }
  void closeMaster() {
    if (master >= 0) ::close(master);
    master = -1;
  }
  void write(const std::string &s) const {
    std::size_t off = 0;
    while (off < s.size()) {
      ssize_t n = ::write(master, s.data() + off, s.size() - off);
      if (n > 0) {
        off += std::size_t(n);
      } else {
        pollfd p{master, POLLOUT, 0};
        ::poll(&p, 1, 100);
      }
    }
  }
  // Reads until `want` bytes came or `ms` passed.
  std::string read(std::size_t want, int ms = 2000) const {
    std::string out;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (out.size() < want && std::chrono::steady_clock::now() < end) {
      pollfd p{master, POLLIN, 0};
      ::poll(&p, 1, 20);
      char buf[4096];
      ssize_t n = ::read(master, buf, sizeof buf);
      if (n > 0) out.append(buf, std::size_t(n));
    }
    return out;
  }
};

// Runs the test's main-thread loop until `pred` holds or `ms` pass.
inline bool pumpUntil(const std::function<bool()> &pred, int ms = 3000) {
  auto &mt = static_cast<kv::PlainMainThread &>(kv::MainThread::instance());
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!pred()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    mt.waitAndRun(std::chrono::milliseconds(5));
  }
  return true;
}

// Polls a condition that another thread makes true (no main-thread work involved).
inline bool waitFor(const std::function<bool()> &pred, int ms = 3000) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!pred()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

// The serial layer on a pty plus modem lines and line errors set by the test.
class FakeLineDevice : public kv::DeviceOps {
 public:
  FakeLineDevice() : serial_(kv::SerialDeviceLayer()), inject_(eventfd(0, EFD_NONBLOCK)) {}
  ~FakeLineDevice() override { ::close(inject_); }

  void setLines(int lines) {
    {
      std::lock_guard lk(mu_);
      std::uint32_t ev = 0;
      int diff = lines ^ lines_;
      if (diff & kv::msCTS) ev |= kv::evCts;
      if (diff & kv::msDSR) ev |= kv::evDsr;
      if (diff & kv::msDCD) ev |= kv::evRlsd;
      if (diff & kv::msRI) ev |= (lines & kv::msRI) ? kv::evRing : kv::evRingTe;
      lines_ = lines;
      events_.push_back(ev);
    }
    signal();
  }
  void lineError(std::uint16_t bits) {
    {
      std::lock_guard lk(mu_);
      errors_ |= bits;
      events_.push_back((bits & kv::leBreak) ? kv::evBreak : kv::evErr);
    }
    signal();
  }

  kv::Result clearBreak(int h) override { return serial_->clearBreak(h); }
  kv::Result close(int h) override { return serial_->close(h); }
  kv::Result escape(int h, int fn) override { return serial_->escape(h, fn); }
  kv::Result flush(int h, int w) override { return serial_->flush(h, w); }
  kv::Result status(int h, kv::DeviceStatus &st) override {
    kv::Result r = serial_->status(h, st);
    std::lock_guard lk(mu_);
    st.errors |= errors_;
    errors_ = 0;
    return r;
  }
  kv::Result getLine(int h, kv::LineSettings &ls) override { return serial_->getLine(h, ls); }
  kv::Result open(const std::string &name) override { return serial_->open(name); }
  kv::Result read(int h, void *b, std::size_t n) override { return serial_->read(h, b, n); }
  kv::Result setBreak(int h) override { return serial_->setBreak(h); }
  kv::Result setLine(int h, const kv::LineSettings &ls) override { return serial_->setLine(h, ls); }
  kv::Result transmitChar(int h, char c) override { return serial_->transmitChar(h, c); }
  kv::Result write(int h, const void *b, std::size_t n) override { return serial_->write(h, b, n); }
  kv::Result attach(int h, bool on) override { return serial_->attach(h, on); }
  kv::Result setupQueues(int h, std::uint16_t i, std::uint16_t o) override {
    return serial_->setupQueues(h, i, o);
  }
  kv::Result modemLines(int) override {
    std::lock_guard lk(mu_);
    return lines_;
  }
  kv::Result waitEvent(int h, std::uint32_t mask, int wakeFd) override {
    for (;;) {
      {
        std::lock_guard lk(mu_);
        if (!events_.empty()) {
          std::uint32_t ev = events_.front();
          events_.pop_front();
          return kv::Result(ev & mask);
        }
      }
      pollfd p[3] = {{h, short((mask & kv::evRxChar) ? POLLIN : 0), 0},
                     {wakeFd, POLLIN, 0},
                     {inject_, POLLIN, 0}};
      ::poll(p, 3, -1);
      if (p[2].revents) {
        std::uint64_t v;
        [[maybe_unused]] ssize_t r = ::read(inject_, &v, sizeof v);
        continue;
      }
      if (p[1].revents) return 0;
      std::uint32_t ev = 0;
      if (p[0].revents & (POLLHUP | POLLERR)) ev |= kv::evDeviceLost;
      if (p[0].revents & POLLIN) ev |= kv::evRxChar;
      if (ev) return kv::Result(ev);
    }
  }
  kv::Result waitWritable(int h, int wakeFd, int ms) override {
    return serial_->waitWritable(h, wakeFd, ms);
  }

 private:
  void signal() {
    std::uint64_t one = 1;
    [[maybe_unused]] ssize_t r = ::write(inject_, &one, sizeof one);
  }
  std::shared_ptr<kv::DeviceOps> serial_;
  int inject_;
  std::mutex mu_;
  int lines_ = kv::msCTS | kv::msDSR;
  std::uint16_t errors_ = 0;
  std::deque<std::uint32_t> events_;
};

using kv::test::readFile;

inline std::string tempPath(const std::string &name) {
  return std::string(::testing::TempDir()) + "kvcomm_" + std::to_string(::getpid()) + "_" + name;
}

}  // namespace kvtest
