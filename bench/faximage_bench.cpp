// Coding and decoding one text-like fine page (ITU chart 1, the letter, 1728 x 2200) with our
// T.4 coder and with libtiff's CCITT Group 3 one-dimensional codec, in one run.
#include <benchmark/benchmark.h>
#include <tiffio.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "faximage/t4_coder.h"

namespace {

constexpr int kWidth = 1728, kHeight = 2200, kStride = kWidth / 8;

const std::vector<std::uint8_t> &page() {
  static const std::vector<std::uint8_t> bits = [] {
    std::ifstream in(std::string(KORVANE_TESTDATA) + "/itu/itu1.pbm", std::ios::binary);
    std::string magic;
    int w = 0, h = 0;
    in >> magic >> w >> h;
    in.get();
    if (magic != "P4" || w != kWidth || h < kHeight)
      throw std::runtime_error("itu1.pbm unreadable");
    std::vector<std::uint8_t> b(static_cast<std::size_t>(kStride) * kHeight);
    in.read(reinterpret_cast<char *>(b.data()), static_cast<std::streamsize>(b.size()));
    return b;
  }();
  return bits;
}

// The page coded as APF line records (without their length words).
struct Coded {
  std::vector<std::uint8_t> data;
  std::vector<std::size_t> ends;
};

const Coded &coded() {
  static const Coded c = [] {
    Coded out;
    kv::T4Encoder enc;
    for (int y = 0; y < kHeight; ++y) {
      auto r = enc.encodeLine(page().data() + static_cast<std::size_t>(y) * kStride, kWidth);
      out.data.insert(out.data.end(), r.begin(), r.end());
      out.ends.push_back(out.data.size());
    }
    out.data.insert(out.data.end(), kv::kApfPageEndRecord.begin(), kv::kApfPageEndRecord.end());
    out.ends.push_back(out.data.size());
    return out;
  }();
  return c;
}

void BM_OursEncode(benchmark::State &state) {
  const auto &bits = page();
  kv::T4Encoder enc;
  std::vector<std::uint8_t> out(1 << 20);
  for (auto _ : state) {
    std::size_t at = 0;
    for (int y = 0; y < kHeight; ++y) {
      auto r = enc.encodeLine(bits.data() + static_cast<std::size_t>(y) * kStride, kWidth);
      std::memcpy(out.data() + at, r.data(), r.size());
      at += r.size();
    }
    benchmark::DoNotOptimize(out.data());
    benchmark::DoNotOptimize(at);
  }
  state.counters["coded_bytes"] = static_cast<double>(coded().data.size());
}

void BM_OursDecode(benchmark::State &state) {
  const Coded &c = coded();
  std::vector<std::uint8_t> out(static_cast<std::size_t>(kStride) * kHeight);
  std::size_t lines = 0;
  kv::T4Decoder dec([&](const std::uint8_t *p, std::size_t n) {
    std::memcpy(out.data() + (lines++ % kHeight) * kStride, p, n);
  });
  for (auto _ : state) {
    dec.reset();
    lines = 0;
    std::size_t start = 0;
    for (std::size_t end : c.ends) {
      dec.feed(c.data.data() + start, end - start);
      start = end;
    }
    if (lines != kHeight) state.SkipWithError("wrong line count");
    benchmark::DoNotOptimize(out.data());
  }
}

// libtiff works on files; a tmpfs file keeps the disk out of the measurement.
std::string tiffPath(const char *what) {
  const char *dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  return std::string(dir) + "/kv_bench_" + what + "_" + std::to_string(getpid()) + ".tif";
}

TIFF *openG3(const std::string &path) {
  TIFF *t = TIFFOpen(path.c_str(), "w");
  if (!t) return nullptr;
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, kWidth);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, kHeight);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
  TIFFSetField(t, TIFFTAG_GROUP3OPTIONS, 0);
  TIFFSetField(t, TIFFTAG_FILLORDER, FILLORDER_LSB2MSB);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, kHeight);
  return t;
}

void BM_LibtiffEncode(benchmark::State &state) {
  const std::string path = tiffPath("enc");
  TIFF *t = openG3(path);
  if (!t) {
    state.SkipWithError("TIFFOpen failed");
    return;
  }
  std::vector<std::uint8_t> bits = page();  // libtiff may modify the buffer it codes
  for (auto _ : state) {
    if (TIFFWriteEncodedStrip(t, 0, bits.data(), static_cast<tmsize_t>(bits.size())) < 0) {
      state.SkipWithError("TIFFWriteEncodedStrip failed");
      break;
    }
  }
  TIFFClose(t);
  std::remove(path.c_str());
}

void BM_LibtiffDecode(benchmark::State &state) {
  const std::string path = tiffPath("dec");
  TIFF *w = openG3(path);
  if (!w) {
    state.SkipWithError("TIFFOpen failed");
    return;
  }
  std::vector<std::uint8_t> bits = page();
  TIFFWriteEncodedStrip(w, 0, bits.data(), static_cast<tmsize_t>(bits.size()));
  TIFFClose(w);
  TIFF *t = TIFFOpen(path.c_str(), "r");
  std::vector<std::uint8_t> out(bits.size());
  for (auto _ : state) {
    if (TIFFReadEncodedStrip(t, 0, out.data(), static_cast<tmsize_t>(out.size())) < 0) {
      state.SkipWithError("TIFFReadEncodedStrip failed");
      break;
    }
    benchmark::DoNotOptimize(out.data());
  }
  if (out != page()) state.SkipWithError("libtiff decoded a different page");
  TIFFClose(t);
  std::remove(path.c_str());
}

BENCHMARK(BM_OursEncode)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LibtiffEncode)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OursDecode)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LibtiffDecode)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
