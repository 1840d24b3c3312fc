// How fast the fax engine takes modem output apart (result lines and HDLC frames) and builds
// frames: it must keep far ahead of the fastest line, 14400 bit/s.
#include <benchmark/benchmark.h>

#include <string>

#include "fax/t30.h"

namespace {

std::string modemOutput() {
  std::string s;
  for (int i = 0; i < 64; ++i) {
    s += "\r\nCONNECT\r\n";
    s += std::string("\xFF\x03\x40", 3) + std::string(17, ' ') + "321" + "\x5A\xA5\x10\x03";
    s += "\r\nOK\r\n";
    s += std::string("\xFF\x13\x80\x00\x6E\xF9\x00\x10\x10\x5A\x10\x03", 12);
    s += "\r\nOK\r\n";
  }
  return s;
}

void BM_ResponseReader(benchmark::State &state) {
  const std::string in = modemOutput();
  std::size_t items = 0;
  for (auto _ : state) {
    kv::t30::ResponseReader r;
    for (unsigned char c : in) {
      auto it = r.feed(c);
      if (it.type == kv::t30::ResponseReader::Item::Frame) {
        auto f = kv::t30::decodeFrame(it.frame);
        if (f) benchmark::DoNotOptimize(kv::t30::readDis(f->info, f->infoLen));
        ++items;
      } else if (it.type == kv::t30::ResponseReader::Item::Line) {
        ++items;
      }
    }
  }
  benchmark::DoNotOptimize(items);
  state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(in.size()));
}
BENCHMARK(BM_ResponseReader);

void BM_BuildFrames(benchmark::State &state) {
  for (auto _ : state) {
    auto tsi = kv::t30::frameBytes(kv::t30::fcf::TSI, false, kv::t30::stationIdInfo("555 0100"));
    kv::t30::Params p{6, true, false, 0};
    auto dcs = kv::t30::frameBytes(kv::t30::fcf::DCS, true, kv::t30::dcsInfo(p));
    benchmark::DoNotOptimize(tsi.data());
    benchmark::DoNotOptimize(dcs.data());
  }
}
BENCHMARK(BM_BuildFrames);

}  // namespace

BENCHMARK_MAIN();
