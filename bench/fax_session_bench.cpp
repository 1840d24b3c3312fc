// Session time of a whole fax sent to the far-end fax machine over the simulated line at real
// speed, against the ideal of the line: the coded page data alone at the trained rate, with no
// call set-up, training, page handshakes or hang-up. Also reported: how long the line's modem
// had no page data from us to send (its buffer ran dry, so it sent fill), summed over all
// pages, from the line's own log. Each run lasts a minute or more (ten dense pages at 9600 about
// seven), so every case runs once; filter with --benchmark_filter=BM_SendDense/Pages:10/ and
// so on. Run it on an idle machine: other load stretches both the sender and the line.
// BM_IdleReceive: the CPU and memory of a receiver waiting for calls.
// BM_AgainstEfax: korvane-fax send and efax send side by side, each on a line of its own to
// the far-end machine, with the same page images (ITU chart 1 at fine resolution, or text pages
// efix made from a text file); seconds of each, their ratio, and the page data each put on the
// line per page (from the line's log) against libtiff's MH and MR sizes for the same rows.
#include <benchmark/benchmark.h>

#include <chrono>
#include <fstream>
#include <random>
#include <regex>
#include <stdexcept>
#include <thread>

#include <tiffio.h>

#include "e2e/process.h"
#include "e2e/simulated_line.h"
#include "faximage/apf_file.h"
#include "linesim/fax_images.h"

namespace kv {
namespace {

using namespace std::chrono_literals;
const std::string kTool = std::string(KORVANE_BIN_DIR) + "/korvane-fax";

// Light pages: normal resolution, `lines` text lines each (a few KB of coded data a page).
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

// Dense pages: a full normal-resolution page (1143 lines) speckled with short black runs at
// random, about 40 KB of coded data a page, as a page of small print or a dithered picture.
std::string makeDenseApf(const std::string &dir, int pages) {
  std::string apf = dir + "/dense.apf";
  ApfWriter w;
  if (w.create(apf) < 0) throw std::runtime_error("cannot create " + apf);
  std::mt19937 rng(1);
  std::vector<std::uint8_t> line(216);
  for (int p = 0; p < pages; ++p) {
    if (w.beginPage(false, false) < 0) throw std::runtime_error("cannot write " + apf);
    for (int y = 0; y < 1143; ++y) {
      std::fill(line.begin(), line.end(), 0);
      for (int k = 0; k < 23; ++k) {
        int x = int(rng() % 1720), len = 1 + int(rng() % 4);
        for (int i = x; i < x + len; ++i) line[std::size_t(i / 8)] |= std::uint8_t(0x80 >> (i % 8));
      }
      if (w.writeLine(line.data()) < 0) throw std::runtime_error("cannot write " + apf);
    }
    if (w.endPage() < 0) throw std::runtime_error("cannot write " + apf);
  }
  if (w.finish("Bench") < 0) throw std::runtime_error("cannot finish " + apf);
  return apf;
}

// Time the line's modem on our side spent without page data from us, summed over the pages.
double bufferEmptySeconds(const std::string &log, int &pages) {
  static const std::regex re(R"(A: page data [0-9.]+ s, modem buffer empty ([0-9.]+) s)");
  double sum = 0;
  pages = 0;
  for (std::sregex_iterator it(log.begin(), log.end(), re), end; it != end; ++it, ++pages)
    sum += std::stod((*it)[1]);
  return sum;
}

// `xon`: the line's modems say XON right after the CONNECT of page data, as some real modems
// do; the sender then starts each page at once instead of after its 1 s allowance. `cls`: the
// fax class the sender drives the line's modem in ("1", "2" or "2.0").
void runSession(benchmark::State &state, const std::string &work, const std::string &apf, int pages,
                int rate, bool xon = false, const std::string &cls = "1") {
  const double ideal = codedBits(apf) / rate;
  double seconds = 0, empty = 0;
  int logged = 0;
  for (auto _ : state) {
    test::LineOptions o;
    o.speed = 1;
    o.calls = 1;
    o.timeoutSeconds = 900;
    o.farReceive = "far.tif";
    if (xon) o.extra = {"--xon-on-connect"};
    if (cls != "1") o.extra.insert(o.extra.end(), {"--class", "2.0"});
    test::SimulatedLine line(o);
    auto start = std::chrono::steady_clock::now();
    test::Process tx({kTool, "send", "--device", line.portA(), "--rate", std::to_string(rate),
                      "--class", cls, "--station", "555 0100", "--name", "Bench", "5551234", apf},
                     work + "/send.log");
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
    empty = bufferEmptySeconds(line.log(), logged);
    // More runs than pages would be pages sent again after a bad check: counted, not an error.
    if (logged < pages) {
      state.SkipWithError(
          ("line logged " + std::to_string(logged) + " pages: " + line.log()).c_str());
      break;
    }
  }
  state.counters["session_s"] = seconds;
  state.counters["ideal_s"] = ideal;
  state.counters["efficiency_pct"] = seconds > 0 ? 100.0 * ideal / seconds : 0;
  state.counters["buffer_empty_s"] = empty;
  state.counters["page_runs"] = logged;
  state.counters["coded_KB_per_page"] = ideal * rate / 8 / 1024 / pages;
}

void BM_SendSession(benchmark::State &state) {
  const int pages = int(state.range(0));
  const int rate = int(state.range(1));
  const int lines = int(state.range(2));
  test::TempDir work;
  runSession(state, work.path(), makeApf(work.path(), pages, lines), pages, rate);
}

void BM_SendDense(benchmark::State &state) {
  const int pages = int(state.range(0));
  const int rate = int(state.range(1));
  test::TempDir work;
  runSession(state, work.path(), makeDenseApf(work.path(), pages), pages, rate,
             state.range(2) != 0);
}

// Dense pages at 14400 in each fax class: Class 2 and 2.0 modems run T.30 themselves, so the
// session time is theirs as much as ours.
void BM_SendDenseClass(benchmark::State &state) {
  const int pages = int(state.range(0));
  const char *cls = state.range(1) == 20 ? "2.0" : state.range(1) == 2 ? "2" : "1";
  test::TempDir work;
  runSession(state, work.path(), makeDenseApf(work.path(), pages), pages, 14400, false, cls);
}

// A receiver waiting for calls on a real (simulated) modem: the CPU it takes while nothing
// happens, and its resident memory.
void BM_IdleReceive(benchmark::State &state) {
  const auto window = std::chrono::seconds(state.range(0));
  test::TempDir work;
  for (auto _ : state) {
    test::LineOptions o;
    o.speed = 1;
    o.timeoutSeconds = 900;
    test::SimulatedLine line(o);
    test::Process rx({kTool, "receive", "--device", line.portA(), "--dir", work.path() + "/in"},
                     work.path() + "/receive.log");
    std::this_thread::sleep_for(5s);  // set-up done, waiting for RING
    double before = rx.cpuSeconds();
    std::this_thread::sleep_for(window);
    double used = rx.cpuSeconds() - before;
    if (!rx.running() || before < 0 ||
        rx.output().find("Waiting for incoming call") == std::string::npos) {
      state.SkipWithError(("receiver not waiting: " + rx.output()).c_str());
      break;
    }
    state.SetIterationTime(used);
    state.counters["cpu_pct_of_one_core"] = 100.0 * used / double(window.count());
    state.counters["rss_kb"] = double(rx.residentKb());
  }
}

// Page data seconds of every page run of the line's modem A, summed.
double pageDataSeconds(const std::string &log) {
  static const std::regex re(R"(A: page data ([0-9.]+) s)");
  double sum = 0;
  for (std::sregex_iterator it(log.begin(), log.end(), re), end; it != end; ++it)
    sum += std::stod((*it)[1]);
  return sum;
}

// Bytes libtiff's Group 3 coder gives for a page's rows, 1D or 2D (K 4 at fine resolution).
double libtiffBytes(const std::string &dir, const test::Bitmap &page, bool twoD) {
  const std::string path = dir + "/libtiff.tif";
  TIFF *t = TIFFOpen(path.c_str(), "w");
  if (!t) return 0;
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, page.width);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, page.height);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
  TIFFSetField(t, TIFFTAG_GROUP3OPTIONS, twoD ? GROUP3OPT_2DENCODING : 0);
  TIFFSetField(t, TIFFTAG_FILLORDER, FILLORDER_LSB2MSB);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
  TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
  TIFFSetField(t, TIFFTAG_XRESOLUTION, 204.0);
  TIFFSetField(t, TIFFTAG_YRESOLUTION, 196.0);
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, page.height);
  for (int y = 0; y < page.height; ++y)
    TIFFWriteScanline(t, const_cast<char *>(page.rows[std::size_t(y)].data()), std::uint32_t(y));
  TIFFClose(t);
  t = TIFFOpen(path.c_str(), "r");
  double bytes = t ? double(TIFFRawStripSize(t, 0)) : 0;
  if (t) TIFFClose(t);
  return bytes;
}

void BM_AgainstEfax(benchmark::State &state) {
  const int pages = int(state.range(0));
  const bool dense = state.range(1) != 0;
  const int rate = int(state.range(2));
  test::TempDir work;
  // The page images, as efax sends them.
  std::vector<std::string> files;
  if (dense) {
    const std::string out = work.path() + "/chart";
    test::Process efix({"efix", "-i", "pbm", "-r", "204x196", "-o", "tiffg3", "-n", out,
                        std::string(KORVANE_TESTDATA) + "/itu/itu1.pbm"},
                       work.path() + "/efix.log");
    if (!efix.wait(60s) || efix.exitCode() != 0)
      return state.SkipWithError(("efix failed: " + efix.output()).c_str());
    files.assign(std::size_t(pages), out);
  } else {
    std::vector<std::string> texts;
    for (int p = 1; p <= pages; ++p) {
      std::string t;
      for (int l = 1; l <= 55; ++l)
        t += "Page " + std::to_string(p) + " line " + std::to_string(l) +
             ": The quick brown fox jumps over the lazy dog 0123456789 ABCDEFGHIJ\n";
      texts.push_back(t);
    }
    files = test::makeFaxPages(work.path(), texts, true);
    if (files.size() != std::size_t(pages)) return state.SkipWithError("efix failed");
  }
  // The same images as one APF file for us.
  const std::string apf = work.path() + "/same.apf";
  std::vector<test::Bitmap> images;
  {
    ApfWriter w;
    if (w.create(apf) < 0) return state.SkipWithError("cannot create the APF file");
    for (const auto &f : files) {
      auto img = test::readTiffPages(f);
      if (img.size() != 1 || img[0].width != 1728) return state.SkipWithError("unreadable page");
      if (w.beginPage(true, false) < 0) return state.SkipWithError("cannot write");
      for (const auto &row : img[0].rows)
        w.writeLine(reinterpret_cast<const std::uint8_t *>(row.data()));
      if (w.endPage() < 0) return state.SkipWithError("cannot write");
      images.push_back(img[0]);
    }
    if (w.finish("Bench") < 0) return state.SkipWithError("cannot finish the APF file");
  }
  const char *br = rate == 14400 ? "5" : rate == 12000 ? "4" : "3";
  double ours = 0, theirs = 0, oursLine = 0, theirsLine = 0;
  for (auto _ : state) {
    test::LineOptions o;
    o.speed = 1;
    o.calls = 1;
    o.timeoutSeconds = 1800;
    o.farReceive = "far.tif";
    test::SimulatedLine lineUs(o), lineEfax(o);
    const auto start = std::chrono::steady_clock::now();
    test::Process us({kTool, "send", "--device", lineUs.portA(), "--rate", std::to_string(rate),
                      "--class", "1", "--station", "555 0100", "--name", "Bench", "5551234", apf},
                     work.path() + "/send.log");
    std::vector<std::string> a{"efax", "-d",     lineEfax.portA(),
                               "-o1",  "-c",     std::string("1,") + br + ",0,2,0,0,0,0",
                               "-t",   "5551234"};
    a.insert(a.end(), files.begin(), files.end());
    test::Process them(a, work.path() + "/efax.log");
    double usDone = 0, themDone = 0;
    while (usDone == 0 || themDone == 0) {
      std::this_thread::sleep_for(100ms);
      const double now =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      if (usDone == 0 && !us.running()) usDone = now;
      if (themDone == 0 && !them.running()) themDone = now;
      if (now > 1800) break;
    }
    if (us.exitCode() != 0 || them.exitCode() != 0)
      return state.SkipWithError(("a sender failed: " + us.output() + them.output()).c_str());
    const std::string want =
        "received " + std::to_string(pages) + " page(s) at " + std::to_string(rate) + " bps";
    if (lineUs.finish() != 0 || lineEfax.finish() != 0 ||
        lineUs.log().find(want) == std::string::npos ||
        lineEfax.log().find(want) == std::string::npos)
      return state.SkipWithError(
          ("far end did not receive: " + lineUs.log() + lineEfax.log()).c_str());
    ours = usDone;
    theirs = themDone;
    state.SetIterationTime(ours);
    oursLine = pageDataSeconds(lineUs.log()) * rate / 8 / pages;
    theirsLine = pageDataSeconds(lineEfax.log()) * rate / 8 / pages;
  }
  state.counters["ours_s"] = ours;
  state.counters["efax_s"] = theirs;
  state.counters["ratio"] = theirs > 0 ? ours / theirs : 0;
  state.counters["ours_line_bytes_per_page"] = oursLine;
  state.counters["efax_line_bytes_per_page"] = theirsLine;
  state.counters["libtiff_mh_bytes_page1"] = libtiffBytes(work.path(), images.at(0), false);
  state.counters["libtiff_mr_bytes_page1"] = libtiffBytes(work.path(), images.at(0), true);
}

BENCHMARK(BM_AgainstEfax)
    ->ArgNames({"Pages", "Dense", "Bps"})
    ->ArgsProduct({{1, 10}, {1, 0}, {14400, 9600}})
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

BENCHMARK(BM_IdleReceive)
    ->ArgNames({"Seconds"})
    ->Arg(60)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

BENCHMARK(BM_SendSession)
    ->ArgNames({"Pages", "Bps", "Lines"})
    ->ArgsProduct({{1, 10}, {9600, 14400}, {6}})
    ->Args({1, 14400, 12})
    ->Args({10, 14400, 12})
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

BENCHMARK(BM_SendDense)
    ->ArgNames({"Pages", "Bps", "Xon"})
    ->ArgsProduct({{1, 10}, {14400, 9600}, {0}})
    ->Args({1, 14400, 1})
    ->Args({10, 14400, 1})
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

BENCHMARK(BM_SendDenseClass)
    ->ArgNames({"Pages", "Class"})
    ->ArgsProduct({{1, 10}, {1, 2, 20}})
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

}  // namespace
}  // namespace kv

BENCHMARK_MAIN();
