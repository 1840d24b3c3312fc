// Coding and decoding the page data of a fine page (ITU chart 1, 1728 x 2376) as it goes on
// the line: our stream coder in MR (K = 4) against libtiff's Group 3 2D codec (K = 4 at fine
// resolution too), and in MH against libtiff's 1D codec. The coded_bytes counters are the page
// data each coder gives for the same rows: libtiff's are the line-side limit of that coding.
#include <benchmark/benchmark.h>
#include <tiffio.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "faximage/t4_stream.h"

namespace {

constexpr int kWidth = 1728, kStride = kWidth / 8;

struct Page {
  int height = 0;
  std::vector<std::uint8_t> bits;
};

const Page &page() {
  static const Page p = [] {
    std::ifstream in(std::string(KORVANE_TESTDATA) + "/itu/itu1.pbm", std::ios::binary);
    std::string magic;
    Page out;
    int w = 0;
    in >> magic >> w >> out.height;
    in.get();
    if (magic != "P4" || w != kWidth) throw std::runtime_error("itu1.pbm unreadable");
    out.bits.resize(static_cast<std::size_t>(kStride) * out.height);
    in.read(reinterpret_cast<char *>(out.bits.data()),
            static_cast<std::streamsize>(out.bits.size()));
    return out;
  }();
  return p;
}

kv::T4Coding coding(const benchmark::State &state) {
  return state.range(0) ? kv::T4Coding::Mr : kv::T4Coding::Mh;
}

std::vector<std::uint8_t> encodeOurs(kv::T4Coding c) {
  kv::T4StreamEncoder enc;
  enc.begin({c, 4, kWidth, 0});
  for (int y = 0; y < page().height; ++y) enc.putRow(page().bits.data() + std::size_t(y) * kStride);
  enc.end();
  return enc.bytes();
}

void BM_OursEncode(benchmark::State &state) {
  kv::T4StreamEncoder enc;
  std::size_t bytes = 0;
  for (auto _ : state) {
    enc.begin({coding(state), 4, kWidth, 0});
    for (int y = 0; y < page().height; ++y)
      enc.putRow(page().bits.data() + std::size_t(y) * kStride);
    enc.end();
    bytes = enc.bytes().size();
    benchmark::DoNotOptimize(enc.bytes().data());
  }
  state.counters["coded_bytes"] = double(bytes);
}

void BM_OursDecode(benchmark::State &state) {
  const auto coded = encodeOurs(coding(state));
  std::vector<std::uint8_t> out(page().bits.size());
  kv::T4StreamDecoder dec(kWidth, coding(state));
  for (auto _ : state) {
    std::size_t rows = 0;
    dec.decode(coded.data(), coded.size(), [&](const std::uint8_t *row) {
      std::copy(row, row + kStride, out.data() + (rows++ % std::size_t(page().height)) * kStride);
    });
    benchmark::DoNotOptimize(out.data());
  }
  if (out != page().bits) state.SkipWithError("decoded a different page");
}

// libtiff works on files; a tmpfs file keeps the disk out of the measurement.
std::string tiffPath(const char *what) {
  const char *dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  return std::string(dir) + "/kv_mrbench_" + what + "_" + std::to_string(getpid()) + ".tif";
}

TIFF *openG3(const std::string &path, bool twoD) {
  TIFF *t = TIFFOpen(path.c_str(), "w");
  if (!t) return nullptr;
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, kWidth);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, page().height);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
  TIFFSetField(t, TIFFTAG_GROUP3OPTIONS, twoD ? GROUP3OPT_2DENCODING : 0);
  TIFFSetField(t, TIFFTAG_FILLORDER, FILLORDER_LSB2MSB);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
  TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
  TIFFSetField(t, TIFFTAG_XRESOLUTION, 204.0);
  TIFFSetField(t, TIFFTAG_YRESOLUTION, 196.0);  // fine: libtiff's K is 4
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, page().height);
  return t;
}

void BM_LibtiffEncode(benchmark::State &state) {
  const std::string path = tiffPath("enc");
  TIFF *t = openG3(path, state.range(0) != 0);
  if (!t) return state.SkipWithError("TIFFOpen failed");
  std::vector<std::uint8_t> bits = page().bits;  // libtiff may modify the buffer it codes
  tmsize_t written = 0;
  for (auto _ : state) {
    written = TIFFWriteEncodedStrip(t, 0, bits.data(), static_cast<tmsize_t>(bits.size()));
    if (written < 0) {
      state.SkipWithError("TIFFWriteEncodedStrip failed");
      break;
    }
  }
  TIFFClose(t);
  t = TIFFOpen(path.c_str(), "r");
  if (t) {
    state.counters["coded_bytes"] = double(TIFFRawStripSize(t, 0));
    TIFFClose(t);
  }
  std::remove(path.c_str());
}

void BM_LibtiffDecode(benchmark::State &state) {
  const std::string path = tiffPath("dec");
  TIFF *w = openG3(path, state.range(0) != 0);
  if (!w) return state.SkipWithError("TIFFOpen failed");
  std::vector<std::uint8_t> bits = page().bits;
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
  if (out != page().bits) state.SkipWithError("libtiff decoded a different page");
  TIFFClose(t);
  std::remove(path.c_str());
}

BENCHMARK(BM_OursEncode)->ArgName("MR")->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LibtiffEncode)->ArgName("MR")->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OursDecode)->ArgName("MR")->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LibtiffDecode)->ArgName("MR")->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
