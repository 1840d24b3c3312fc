// Serial layer figures: bytes per second through a pseudo-terminal with the whole ring and
// trigger machinery in the path, and the CPU an open, idle port costs.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

#include "comm/port_layer.h"

using namespace kv;

namespace {

struct PtyPair {
  int master = -1;
  std::string slave;
  PtyPair() {
    int s = -1;
    char name[256];
    openpty(&master, &s, name, nullptr, nullptr);
    termios t{};
    tcgetattr(s, &t);
    cfmakeraw(&t);
    tcsetattr(s, TCSANOW, &t);
    ::close(s);
    slave = name;
  }
  ~PtyPair() { ::close(master); }
};

std::atomic<std::uint64_t> g_received{0};

// Reads every announced byte, as the fax engine's receive state does.
void drainProc(void *, std::uint16_t msg, std::uint32_t wParam, std::int32_t lParam) {
  if (msg != APW_TRIGGERAVAIL) return;
  int port = PortOf(lParam);
  char c;
  std::uint32_t n = 0;
  while (n < wParam && GetChar(port, c) == ecOK) ++n;
  g_received += n;
}

double cpuSeconds() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
         double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

}  // namespace

// Receive direction: the far end writes, the dispatcher reads into the ring, scans a data
// trigger and delivers avails to a procedure that reads everything.
static void BM_ReceiveThroughPty(benchmark::State &state) {
  PtyPair pty;
  int port = 0;
  if (OpenPort(port, SerialDeviceLayer(), pty.slave, 8192, 8192, 115200, 0, 8, 1) != ecOK) {
    state.SkipWithError("open failed");
    return;
  }
  ClearPortOptions(port, poDirectRead);
  RegisterTriggerHandler(port, nullptr, drainProc, nullptr);
  AddDataTrigger(port, "NO CARRIER", false);
  AddTimerTrigger(port);
  SetTriggerLength(port, 1);
  const std::size_t kBlock = 1 << 20;
  std::string data(kBlock, '\0');
  for (std::size_t i = 0; i < kBlock; ++i) data[i] = char(i * 7);
  for (auto _ : state) {
    g_received = 0;
    std::size_t off = 0;
    while (off < kBlock) {
      ssize_t n = ::write(pty.master, data.data() + off, std::min<std::size_t>(4096, kBlock - off));
      if (n > 0)
        off += std::size_t(n);
      else {
        pollfd p{pty.master, POLLOUT, 0};
        ::poll(&p, 1, 100);
      }
    }
    while (g_received.load() < kBlock) std::this_thread::yield();
  }
  state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(kBlock));
  ClosePort(port);
}
BENCHMARK(BM_ReceiveThroughPty)->Unit(benchmark::kMillisecond)->UseRealTime();

// Send direction: PutBlock into the output ring, the output thread writes to the device, the
// far end reads.
static void BM_SendThroughPty(benchmark::State &state) {
  PtyPair pty;
  int port = 0;
  if (OpenPort(port, SerialDeviceLayer(), pty.slave, 8192, 8192, 115200, 0, 8, 1) != ecOK) {
    state.SkipWithError("open failed");
    return;
  }
  InitTracing(port, 32000);
  InitEventLogging(port, 65520);
  const std::size_t kBlock = 1 << 20;
  std::string chunk(1024, 'x');
  for (auto _ : state) {
    std::atomic<std::size_t> got{0};
    std::thread reader([&] {
      char buf[65536];
      while (got.load() < kBlock) {
        pollfd p{pty.master, POLLIN, 0};
        ::poll(&p, 1, 100);
        ssize_t n = ::read(pty.master, buf, sizeof buf);
        if (n > 0) got += std::size_t(n);
      }
    });
    std::size_t sent = 0;
    while (sent < kBlock) {
      if (PutBlock(port, chunk.data(), chunk.size()) > 0)
        sent += chunk.size();
      else
        std::this_thread::yield();
    }
    reader.join();
  }
  state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(kBlock));
  ClosePort(port);
}
BENCHMARK(BM_SendThroughPty)->Unit(benchmark::kMillisecond)->UseRealTime();

// An open port with an armed long timer and a modem status trigger, and no traffic, for 10 s:
// the CPU time of the whole process over that time, in percent of one core.
static void BM_IdlePortCpu(benchmark::State &state) {
  PtyPair pty;
  int port = 0;
  if (OpenPort(port, SerialDeviceLayer(), pty.slave, 8192, 8192, 19200, 0, 8, 1) != ecOK) {
    state.SkipWithError("open failed");
    return;
  }
  RegisterTriggerHandler(port, nullptr, drainProc, nullptr);
  int t = AddTimerTrigger(port);
  SetTimerTrigger(port, t, SecsToTicks(3600), true);
  int s = AddStatusTrigger(port, stModem);
  SetStatusTrigger(port, s, msDCD, true);
  double percent = 0;
  for (auto _ : state) {
    double c0 = cpuSeconds();
    auto t0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(10));
    double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    percent = (cpuSeconds() - c0) / wall * 100.0;
  }
  state.counters["cpu_percent"] = percent;
  ClosePort(port);
}
BENCHMARK(BM_IdlePortCpu)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

BENCHMARK_MAIN();
