// Reaction time of a fax session to its modem: from a modem line (a RING) arriving at the serial
// port to the session's trigger handler being called with it, and to the state machine having
// dealt with it. Everything is real: a pseudo-terminal pair, the port component with its
// reader thread and dispatcher, the session's triggers and its step procedure. The session is
// a receiver waiting for a call that never reaches its answer ring, so every RING is one
// reaction. Run on an idle machine.
#include <benchmark/benchmark.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "comm/com_port.h"
#include "comm/main_thread.h"
#include "fax/comm_fax_port.h"
#include "fax/receive_fax.h"
#include "scriptmodem/pseudo_terminal.h"

namespace kv {
namespace {

using Clock = std::chrono::steady_clock;

// The session's own port adapter, with the handler it installs wrapped so that the first
// data delivery after a stamp is timed, on entry and on return.
class TimedFaxPort : public CommFaxPort {
 public:
  using CommFaxPort::CommFaxPort;

  Result startTriggers(std::function<void(FaxTrigger)> handler) override {
    return CommFaxPort::startTriggers([this, h = std::move(handler)](FaxTrigger t) {
      if (t != FaxTrigger::Avail || !armed_.load()) return h(t);
      auto entered = Clock::now();
      h(t);
      auto done = Clock::now();
      std::lock_guard lk(m_);
      if (!armed_.exchange(false)) return;
      entered_ = entered;
      done_ = done;
    });
  }

  // Call just before the bytes are written.
  void arm() { armed_ = true; }
  // Waits for the delivery, serving the main thread meanwhile (the session's step may wait
  // for it); false when none came within a second.
  bool wait(PlainMainThread &mt, Clock::time_point &entered, Clock::time_point &done) {
    auto until = Clock::now() + std::chrono::seconds(1);
    for (;;) {
      {
        std::lock_guard lk(m_);
        if (!armed_) {
          entered = entered_;
          done = done_;
          return true;
        }
      }
      if (Clock::now() > until) break;
      mt.waitAndRun(std::chrono::milliseconds(1));
    }
    armed_ = false;
    return false;
  }

 private:
  std::atomic<bool> armed_{false};
  std::mutex m_;
  Clock::time_point entered_, done_;
};

// The modem's side during preparation: OK to every command, lists to the queries.
class Responder {
 public:
  explicit Responder(int fd) : fd_(fd), thread_([this] { run(); }) {}
  ~Responder() {
    stop_ = true;
    thread_.join();
  }

 private:
  void run() {
    std::string cmd;
    while (!stop_) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      char buf[256];
      ssize_t n = ::read(fd_, buf, sizeof buf);
      for (ssize_t i = 0; i < n; ++i) {
        if (buf[i] != '\r') {
          cmd.push_back(buf[i]);
          continue;
        }
        std::string reply = "\r\nOK\r\n";
        if (cmd.find("FCLASS=?") != std::string::npos)
          reply = "\r\n0,1\r\n" + reply;
        else if (cmd.find("=?") != std::string::npos)
          reply = "\r\n24,48,72,73,74,96,97,98,121,122,145,146\r\n" + reply;
        if (::write(fd_, reply.data(), reply.size()) < 0) return;
        cmd.clear();
      }
    }
  }

  int fd_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

double percentile(std::vector<double> v, double q) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, std::size_t(q * double(v.size())))];
}

void BM_ReactionToModemLine(benchmark::State &state) {
  PlainMainThread mt;
  MainThread::install(&mt);
  PseudoTerminal pty;
  auto dir = std::filesystem::temp_directory_path() / ("kvreact" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  {
    Responder responder(pty.masterFd());
    TKvComPort cp;
    cp.SetDevicePath(pty.path());
    cp.SetAutoOpen(false);
    CommFaxPort::configure(cp);
    TimedFaxPort port(cp);
    TKvReceiveFax fax;
    fax.SetFaxPort(&port);
    fax.AnswerOnRing = 65535;
    fax.DestinationDir = dir.string();
    bool finished = false;
    fax.OnFaxFinish = [&](TKvAbstractFax &, Result) { finished = true; };
    cp.SetOpen(true);
    fax.BeginReceive();
    for (int i = 0; i < 500 && fax.State() != 8 && !finished; ++i)
      mt.waitAndRun(std::chrono::milliseconds(10));
    if (fax.State() != 8) state.SkipWithError("the session did not reach waiting for a call");

    std::vector<double> handler, reacted;
    std::mt19937 rng(7);
    const std::string ring = "\r\nRING\r\n";
    for (auto _ : state) {
      if (fax.State() != 8) {
        state.SkipWithError("the session left waiting for a call");
        break;
      }
      // An irregular pause, so the samples do not ride on the reader's or dispatcher's rhythm.
      std::this_thread::sleep_for(std::chrono::microseconds(500 + rng() % 2500));
      port.arm();
      auto written = Clock::now();
      if (::write(pty.masterFd(), ring.data(), ring.size()) != ssize_t(ring.size())) {
        state.SkipWithError("write to the pty failed");
        break;
      }
      Clock::time_point entered, done;
      if (!port.wait(mt, entered, done)) {
        state.SkipWithError("the session's handler was not called within a second");
        break;
      }
      double us = std::chrono::duration<double, std::micro>(entered - written).count();
      handler.push_back(us);
      reacted.push_back(std::chrono::duration<double, std::micro>(done - written).count());
      state.SetIterationTime(us / 1e6);
      mt.processPending();
    }
    fax.AbortFax();
    for (int i = 0; i < 250 && !finished; ++i) mt.waitAndRun(std::chrono::milliseconds(20));
    cp.SetOpen(false);
    fax.SetFaxPort(nullptr);

    state.counters["samples"] = double(handler.size());
    state.counters["handler_median_us"] = percentile(handler, 0.5);
    state.counters["handler_p99_us"] = percentile(handler, 0.99);
    state.counters["handler_max_us"] = percentile(handler, 1.0);
    state.counters["reacted_median_us"] = percentile(reacted, 0.5);
    state.counters["reacted_p99_us"] = percentile(reacted, 0.99);
  }
  std::filesystem::remove_all(dir);
  MainThread::install(nullptr);
}

BENCHMARK(BM_ReactionToModemLine)->Iterations(2000)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace kv

BENCHMARK_MAIN();
