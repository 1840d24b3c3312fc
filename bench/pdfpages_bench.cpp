// A ten-page PDF document (text, headings, A4) to an APF fax file, and the halftoning of one
// page on its own.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "pdfpages/fax_halftone.h"
#include "pdfpages/pdf_document.h"
#include "pdfpages/pdf_fax.h"

namespace {

const std::string kTenPages = std::string(KORVANE_BENCH_DATA) + "/ten_pages.pdf";

void BM_TenPagePdfToApf(benchmark::State &state) {
  char tmpl[] = "/tmp/kvpdfbenchXXXXXX";
  const std::string dir = mkdtemp(tmpl);
  kv::PdfFaxOptions options;
  options.fine = state.range(0) != 0;
  std::string problem;
  for (auto _ : state) {
    if (kv::ConvertPdfToApf(kTenPages, dir + "/out.apf", options, problem) < 0) {
      state.SkipWithError(problem.c_str());
      break;
    }
  }
  state.SetItemsProcessed(state.iterations() * 10);
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_TenPagePdfToApf)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

// Drawing one page without coding it: how the time splits between renderer and coder.
void BM_DrawOnePage(benchmark::State &state) {
  kv::PdfDocument pdf;
  if (pdf.open(kTenPages) < 0) {
    state.SkipWithError(pdf.problem().c_str());
    return;
  }
  kv::FaxRaster raster;
  for (auto _ : state) benchmark::DoNotOptimize(pdf.renderPage(0, true, 1728, raster));
}
BENCHMARK(BM_DrawOnePage)->Unit(benchmark::kMillisecond)->UseRealTime();

// Halftoning alone, on a page of grey noise (every block a picture: the slow path).
void BM_HalftonePicturePage(benchmark::State &state) {
  const int w = 1728, h = 2348;
  std::vector<std::uint8_t> grey(static_cast<std::size_t>(w) * h);
  unsigned v = 1;
  for (auto &g : grey) g = static_cast<std::uint8_t>((v = v * 1103515245u + 12345u) >> 24);
  std::vector<std::uint8_t> bits(static_cast<std::size_t>(w / 8) * h);
  for (auto _ : state) {
    std::fill(bits.begin(), bits.end(), 0);
    kv::HalftonePage(grey.data(), w, w, h, bits.data(), w / 8);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_HalftonePicturePage)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
BENCHMARK_MAIN();
