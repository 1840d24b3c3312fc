// Converting whole pages to APF: the 1664 x 2156 page bitmap that every sent page goes through,
// a 60-line text page, and a 24-bit colour page that is dithered first.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "faximage/converter.h"

namespace {

namespace fs = std::filesystem;

struct Scratch {
  Scratch() {
    char tmpl[] = "/tmp/kvcvtbenchXXXXXX";
    dir = mkdtemp(tmpl);
  }
  ~Scratch() { fs::remove_all(dir); }
  std::string file(const char *name) const { return (dir / name).string(); }
  fs::path dir;
};

void putLe(std::vector<std::uint8_t> &b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// The first ITU chart cut to the page bitmap size, as a 1-bit or 24-bit BMP.
void writeChartBmp(const std::string &path, int bpp) {
  const int w = 1664, h = 2156;
  std::ifstream pbm(std::string(KORVANE_TESTDATA) + "/itu/itu1.pbm", std::ios::binary);
  std::string magic;
  int pw = 0, ph = 0;
  pbm >> magic >> pw >> ph;
  pbm.get();
  std::vector<std::uint8_t> chart(static_cast<std::size_t>((pw + 7) / 8) * ph);
  pbm.read(reinterpret_cast<char *>(chart.data()), static_cast<std::streamsize>(chart.size()));
  auto black = [&](int x, int y) {
    return y < ph && x < pw &&
           (chart[static_cast<std::size_t>(y) * ((pw + 7) / 8) + x / 8] & (0x80 >> (x % 8)));
  };
  const std::uint32_t stride = static_cast<std::uint32_t>((w * bpp + 31) / 32 * 4);
  const std::uint32_t offset = bpp == 1 ? 62 : 54;
  std::vector<std::uint8_t> b(offset + stride * h, 0);
  b[0] = 'B', b[1] = 'M';
  putLe(b, 2, static_cast<std::uint32_t>(b.size()));
  putLe(b, 10, offset);
  putLe(b, 14, 40);
  putLe(b, 18, w);
  putLe(b, 22, h);
  b[26] = 1;
  b[28] = static_cast<std::uint8_t>(bpp);
  if (bpp == 1) b[58] = b[59] = b[60] = 0xFF;
  for (int s = 0; s < h; ++s) {
    const int y = h - 1 - s;
    std::uint8_t *row = &b[offset + stride * s];
    for (int x = 0; x < w; ++x) {
      if (bpp == 1) {
        if (!black(x, y)) row[x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
      } else {
        const std::uint8_t v = black(x, y) ? 30 : static_cast<std::uint8_t>(200 + (x % 50));
        row[3 * x] = v, row[3 * x + 1] = v, row[3 * x + 2] = v;
      }
    }
  }
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char *>(b.data()), static_cast<std::streamsize>(b.size()));
}

void convertLoop(benchmark::State &state, kv::TKvFaxConverter &c) {
  for (auto _ : state) {
    if (c.convert() < 0) {
      state.SkipWithError("conversion failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());  // pages
}

void BM_PageBitmapToApf(benchmark::State &state) {
  Scratch s;
  writeChartBmp(s.file("page.bmp"), 1);
  kv::TKvFaxConverter c;
  c.setOptions(kv::coYield);
  c.setResolution(kv::frHigh);
  c.setInputDocumentType(kv::idBmp);
  c.setDocumentFile(s.file("page.bmp"));
  c.setOutFileName(s.file("page.APF"));
  convertLoop(state, c);
}
BENCHMARK(BM_PageBitmapToApf)->Unit(benchmark::kMillisecond);

void BM_TextPageToApf(benchmark::State &state) {
  Scratch s;
  std::ofstream txt(s.file("page.txt"));
  for (int i = 0; i < 60; ++i)
    txt << "Line " << i << ": the quick brown fox jumps over the lazy dog, 0123456789.\n";
  txt.close();
  kv::TKvFaxConverter c;
  c.setResolution(kv::frHigh);
  c.setInputDocumentType(kv::idText);
  c.setDocumentFile(s.file("page.txt"));
  convertLoop(state, c);
}
BENCHMARK(BM_TextPageToApf)->Unit(benchmark::kMillisecond);

void BM_ColourPageDitheredToApf(benchmark::State &state) {
  Scratch s;
  writeChartBmp(s.file("colour.bmp"), 24);
  kv::TKvFaxConverter c;
  c.setOptions(kv::coYield);
  c.setResolution(kv::frHigh);
  c.setInputDocumentType(kv::idBmp);
  c.setDocumentFile(s.file("colour.bmp"));
  c.setOutFileName(s.file("colour.APF"));
  const fs::path cwd = fs::current_path();
  fs::current_path(s.dir);  // the dithering copy is made in the current directory
  convertLoop(state, c);
  fs::current_path(cwd);
}
BENCHMARK(BM_ColourPageDitheredToApf)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
