// Viewer figures on a 10-page fine fax made of the ITU test charts: opening it and showing
// page 1 (target under 100 ms), turning a page (under 30 ms), a quarter turn of a page, and
// printing all 10 pages into a PDF; and exporting and printing 1,000 and 10,000 short pages.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QPrinter>
#include <map>

#include "faximage/apf_export.h"
#include "support/fax_files.h"
#include "support/temp_files.h"
#include "viewer/fax_printer.h"
#include "viewer/fax_viewer.h"

namespace {

using namespace kv;

QApplication &app() {
  static int argc = 1;
  static char name[] = "viewer_bench";
  static char *argv[] = {name, nullptr};
  static QApplication *a = [] {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    return new QApplication(argc, argv);
  }();
  return *a;
}

const std::string &tenPageFax() {
  static test::TempDir dir("korvane-viewer-bench-");
  static const std::string path = [] {
    std::vector<test::FaxPage> pages;
    for (int i = 0; i < 10; ++i) {
      test::Raster r;
      test::readPbm(std::string(KORVANE_TESTDATA) + "/itu/itu" + std::to_string(i % 8 + 1) + ".pbm",
                    r);
      pages.push_back({r, true});
    }
    const std::string p = dir.file("TEN.APF");
    test::writeApf(p, pages);
    return p;
  }();
  return path;
}

// A viewer of the window's size at the window's starting zoom (50 %), on screen.
struct Shown {
  TKvFaxViewer viewer;
  Shown() {
    viewer.resize(594, 386);
    viewer.SetAutoScaleMode(asHalfWidth);
    viewer.show();
  }
  void open() {
    viewer.SetFileName(QString::fromStdString(tenPageFax()));
    viewer.BeginUpdate();
    viewer.SetScaling(true);
    viewer.SetHorizMult(50);
    viewer.SetHorizDiv(100);
    viewer.SetVertMult(50);
    viewer.SetVertDiv(100);
    viewer.EndUpdate();
    viewer.viewer()->viewport()->repaint();
  }
};

void BM_OpenAndShowPage1(benchmark::State &state) {
  app();
  Shown s;
  for (auto _ : state) {
    s.open();
    benchmark::DoNotOptimize(s.viewer.viewer()->shownImage().constBits());
  }
}
BENCHMARK(BM_OpenAndShowPage1)->Unit(benchmark::kMillisecond);

void BM_PageTurn(benchmark::State &state) {
  app();
  Shown s;
  s.open();
  for (auto _ : state) {
    if (s.viewer.ActivePage() == s.viewer.PageCount())
      s.viewer.FirstPage();
    else
      s.viewer.NextPage();
    s.viewer.viewer()->viewport()->repaint();
  }
}
BENCHMARK(BM_PageTurn)->Unit(benchmark::kMillisecond);

void BM_RotatePage(benchmark::State &state) {
  app();
  Shown s;
  s.open();
  int r = 0;
  for (auto _ : state) {
    r = (r + 1) % 4;
    s.viewer.SetRotation(r);
    s.viewer.viewer()->viewport()->repaint();
  }
}
BENCHMARK(BM_RotatePage)->Unit(benchmark::kMillisecond);

void BM_PrintTenPagesToPdf(benchmark::State &state) {
  app();
  test::TempDir dir("korvane-viewer-bench-");
  TKvFaxPrinter printer;
  printer.MessagePump = [] {};
  printer.SetOutputPdf(QString::fromStdString(dir.file("out.pdf")));
  printer.SetFileName(QString::fromStdString(tenPageFax()));
  for (auto _ : state) printer.PrintFax();
}
BENCHMARK(BM_PrintTenPagesToPdf)->Unit(benchmark::kMillisecond);

// Many short pages, where the cost of finding each page shows: export and print must grow
// with the page count, not with its square.
const std::string &manyPageFax(int pages) {
  static test::TempDir dir("korvane-viewer-bench-");
  static std::map<int, std::string> made;
  auto [it, fresh] = made.try_emplace(pages, dir.file("P" + std::to_string(pages) + ".APF"));
  if (fresh) test::writeBlankPages(it->second, pages);
  return it->second;
}

void BM_ExportManyPages(benchmark::State &state) {
  test::TempDir dir("korvane-viewer-bench-");
  const std::string &in = manyPageFax(static_cast<int>(state.range(0)));
  std::string error;
  for (auto _ : state) ExportApf(in, dir.file("out.pdf"), error);
}
BENCHMARK(BM_ExportManyPages)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_PrintManyPagesToPdf(benchmark::State &state) {
  app();
  test::TempDir dir("korvane-viewer-bench-");
  TKvFaxPrinter printer;
  printer.MessagePump = [] {};
  printer.SetOutputPdf(QString::fromStdString(dir.file("out.pdf")));
  printer.SetFileName(QString::fromStdString(manyPageFax(static_cast<int>(state.range(0)))));
  for (auto _ : state) printer.PrintFax();
}
BENCHMARK(BM_PrintManyPagesToPdf)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
