#pragma once
// Closing a port while its dispatch thread delivers at full rate, then destroying the component
// and the main-thread service at once: shared by the quick test and the soak run.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <random>
#include <thread>

#include "comm/com_port.h"
#include "comm_test_util.h"

namespace kvtest {

// Seen by a procedure handler on the dispatch thread, the way the fax engine uses the port: it
// reports to the main thread by a synchronous send that touches the component.
struct RaceProbe {
  std::atomic<bool> closed{false};
  std::atomic<int> inside{0};
  std::atomic<int> late{0};
  std::atomic<long> deliveries{0};
  kv::TKvComPort *cp = nullptr;
};

inline void raceProc(void *user, std::uint16_t, std::uint32_t, std::int32_t) {
  auto *p = static_cast<RaceProbe *>(user);
  ++p->inside;
  ++p->deliveries;
  if (p->closed) ++p->late;
  kv::TKvComPort *cp = p->cp;
  kv::MainThread::instance().send([cp] { cp->SetTag(cp->Tag() + 1); },
                                  std::chrono::milliseconds(1000));
  if (p->closed) ++p->late;
  --p->inside;
}

// Runs `iterations` rounds of open, deliver for a random few milliseconds, close and destroy.
// `make` gives each round's main-thread service, `pump` runs its loop for a moment. Returns
// the number of deliveries seen, so a caller can tell the race was really exercised.
template <class Make, class Pump>
long runCloseRace(int iterations, Make make, Pump pump) {
  Pty pty;
  std::atomic<bool> feeding{true};
  // A steady stream of input keeps both handlers busy.
  std::thread feeder([&] {
    const char chunk[] = "RING\r\n";
    while (feeding) {
      [[maybe_unused]] ssize_t n = ::write(pty.master, chunk, sizeof chunk - 1);
      char sink[256];
      while (::read(pty.master, sink, sizeof sink) > 0) {
      }
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });
  std::mt19937 rng(12345);
  RaceProbe probe;
  for (int i = 0; i < iterations && !::testing::Test::HasFailure(); ++i) {
    auto mt = make();
    kv::MainThread::install(mt.get());
    auto cp = std::make_unique<kv::TKvComPort>();
    probe.closed = false;
    probe.cp = cp.get();
    cp->SetDevicePath(pty.slave);
    cp->SetAutoOpen(false);
    cp->OnTriggerAvail = [](kv::TKvCustomComPort &p, std::uint32_t) {
      while (p.CharReady()) p.GetChar();
      p.SetTag(p.Tag() + 1);
    };
    cp->SetOpen(true);
    EXPECT_GE(kv::RegisterTriggerHandler(cp->ComHandle(), nullptr, raceProc, &probe, true), 0);
    auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(rng() % 8000);
    while (std::chrono::steady_clock::now() < until) pump(*mt);

    cp->SetOpen(false);
    probe.closed = true;
    EXPECT_EQ(probe.inside.load(), 0) << "a delivery outlived the close, round " << i;
    EXPECT_EQ(kv::OpenPortCount(), 0) << "the port record outlived the close, round " << i;
    cp.reset();
    kv::MainThread::install(nullptr);
    mt.reset();
  }
  feeding = false;
  feeder.join();
  EXPECT_EQ(probe.late.load(), 0);
  return probe.deliveries.load();
}

inline long runCloseRace(int iterations) {
  return runCloseRace(
      iterations, [] { return std::make_unique<kv::PlainMainThread>(); },
      [](kv::PlainMainThread &mt) { mt.waitAndRun(std::chrono::milliseconds(1)); });
}

}  // namespace kvtest
