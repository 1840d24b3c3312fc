// Session time of a whole fax sent to the far-end fax machine over the simulated line at real
// speed, against the ideal of the line: the coded page data alone at the trained rate, with no
// call set-up, training, page handshakes or hang-up. Each run lasts a minute or more, so every
// case runs once; filter with --benchmark_filter=Pages:1/ and so on.
#include <benchmark/benchmark.h>

#include <chrono>
#include <fstream>
#include <stdexcept>

#include "e2e/process.h"
#include "e2e/simulated_line.h"
#include "faximage/apf_file.h"

namespace kv {
namespace {

using namespace std::chrono_literals;
const std::string kTool = std::string(KORVANE_BIN_DIR) + "/korvane-fax";

// Normal-resolution pages of `lines` text lines each. The pages are kept light: at real speed
// the simulated port takes about 18 KB ahead of the line, and a page whose backlog needs more
// than the 10 s the sender allows for the modem's OK after the page fails with a time-out.
std::string makeApf(const std::string &dir, int pages, int lines) {
  std::string txt = dir + "/doc.txt";
  {
    std::ofstream o(txt);
    for (int p = 1; p <= pages; ++p) {
      if (p > 1) o << "\f";
      for (int l = 0; l < lines; ++l)
        o << "Page " << p << " line " << l
          << ": The quick brown fox jumps over the lazy dog 0123456789 ABCDEFGHIJ\n";
    }
  }
  std::string apf = dir + "/doc.apf";
  test::Process conv({kTool, "convert", txt, "-o", apf, "--normal"}, dir + "/convert.log");
  if (!conv.wait(60s) || conv.exitCode() != 0)
    throw std::runtime_error("convert failed: " + conv.output());
  return apf;
}

// Coded bits of all pages, without the per-line record lengths of the file.
double codedBits(const std::string &apf) {
  ApfReader r;
  if (r.open(apf) < 0) throw std::runtime_error("cannot read " + apf);
  double bits = 0;
  for (int n = 1; n <= r.header().pageCount; ++n) {
    ApfPageLocation loc;
    if (r.locatePage(n, loc) < 0) throw std::runtime_error("bad page");
    long rows = 0;
    decodeApfPage(r, loc, [&](const std::uint8_t *, std::size_t) { ++rows; });
    bits += 8.0 * double(loc.header.imageLength - 2 * std::uint32_t(rows));
  }
  return bits;
}

void BM_SendSession(benchmark::State &state) {
  const int pages = int(state.range(0));
  const int rate = int(state.range(1));
  const int lines = int(state.range(2));
  test::TempDir work;
  const std::string apf = makeApf(work.path(), pages, lines);
  const double ideal = codedBits(apf) / rate;
  double seconds = 0;
  for (auto _ : state) {
    test::LineOptions o;
    o.speed = 1;
    o.calls = 1;
    o.timeoutSeconds = 900;
    o.farReceive = "far.tif";
    test::SimulatedLine line(o);
    auto start = std::chrono::steady_clock::now();
    test::Process tx({kTool, "send", "--device", line.portA(), "--rate", std::to_string(rate),
                      "--station", "555 0100", "--name", "Bench", "5551234", apf},
                     work.path() + "/send.log");
    if (!tx.wait(900s) || tx.exitCode() != 0) {
      state.SkipWithError(("send failed: " + tx.output() + line.log()).c_str());
      break;
    }
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.SetIterationTime(seconds);
    if (line.finish() != 0 ||
        line.log().find("at " + std::to_string(rate) + " bps") == std::string::npos) {
      state.SkipWithError(("far end did not receive at the rate: " + line.log()).c_str());
      break;
    }
  }
  state.counters["session_s"] = seconds;
  state.counters["ideal_s"] = ideal;
  state.counters["efficiency_pct"] = seconds > 0 ? 100.0 * ideal / seconds : 0;
}

BENCHMARK(BM_SendSession)
    ->ArgNames({"Pages", "Bps", "Lines"})
    ->ArgsProduct({{1, 10}, {9600, 14400}, {6}})
    ->Args({1, 14400, 12})
    ->Args({10, 14400, 12})
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

}  // namespace
}  // namespace kv

BENCHMARK_MAIN();
