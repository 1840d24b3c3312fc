// Reading 1 MB of RTF as word processors write it, rendering a ten-page document into an APF
// fax file (target: under 1 s for the ten pages), and documents of 1,000 and 8,000 short
// paragraphs read and rendered (the time per paragraph must stay the same at both sizes).
#include <benchmark/benchmark.h>

#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>

#include "richtext/fax_render.h"
#include "richtext/rich_document.h"

namespace {

QGuiApplication &app() {
  static int argc = 3;
  static char name[] = "richtext-bench", opt[] = "-platform", platform[] = "offscreen";
  static char *argv[] = {name, opt, platform, nullptr};
  static QGuiApplication *a = new QGuiApplication(argc, argv);
  return *a;
}

// The body of a corpus letter repeated to about 1 MB inside one document.
QByteArray megabyteRtf() {
  QFile f(KORVANE_TESTDATA "/rtf/letter.lo.rtf");
  if (!f.open(QIODevice::ReadOnly)) return {};
  const QByteArray all = f.readAll();
  const int body = all.indexOf("\\pard");
  const QByteArray head = all.left(body), text = all.mid(body, all.lastIndexOf('}') - body);
  QByteArray rtf = head;
  while (rtf.size() < (1 << 20)) rtf += text + "\\par ";
  return rtf + "}";
}

// Ten pages of 11 pt justified text in Times New Roman.
QByteArray tenPages() {
  QByteArray rtf = "{\\rtf1{\\fonttbl{\\f0 Times New Roman;}}\\f0\\fs22\\qj\\sa120 ";
  for (int p = 0; p < 10; ++p) {
    for (int i = 0; i < 9; ++i)
      rtf +=
          "The pallets for the north yard will now arrive on Thursday instead of Wednesday; "
          "the driver will need two bay doors open between seven and half past eight, and "
          "the accounts desk asks to be called before three if this causes any difficulty. ";
    rtf += "\\par ";
    rtf += p < 9 ? "\\page " : "";
  }
  return rtf + "}";
}

// `count` paragraphs of one line each, every tenth one bold.
QByteArray manyParagraphs(int count) {
  QByteArray rtf = "{\\rtf1{\\fonttbl{\\f0 Arial;}}\\f0\\fs20\\sa60 ";
  for (int i = 0; i < count; ++i) {
    if (i % 10 == 0) rtf += "\\b ";
    rtf += "Paragraph " + QByteArray::number(i + 1) + " of the delivery notes for the yard.";
    if (i % 10 == 0) rtf += "\\b0 ";
    rtf += "\\par ";
  }
  return rtf + "}";
}

void LoadManyParagraphs(benchmark::State &state) {
  app();
  const QByteArray rtf = manyParagraphs(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    kv::TRichDocument doc;
    benchmark::DoNotOptimize(doc.LoadRtf(rtf));
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(LoadManyParagraphs)->Arg(1000)->Arg(8000)->Unit(benchmark::kMillisecond);

void RenderManyParagraphsToApf(benchmark::State &state) {
  app();
  QTemporaryDir dir;
  kv::RenderContext ctx{dir.path() + "/", {}, {}, {}};
  kv::TRichDocument cover, doc;
  doc.LoadRtf(manyParagraphs(static_cast<int>(state.range(0))));
  int pages = 0;
  for (auto _ : state) {
    const QString name = kv::RenderFax(cover, doc, ctx, pages);
    QFile::remove(name);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
  state.counters["pages"] = pages;
}
BENCHMARK(RenderManyParagraphsToApf)
    ->Arg(1000)
    ->Arg(8000)
    ->Arg(40000)
    ->Unit(benchmark::kMillisecond);

void LoadOneMegabyteRtf(benchmark::State &state) {
  app();
  const QByteArray rtf = megabyteRtf();
  for (auto _ : state) {
    kv::TRichDocument doc;
    benchmark::DoNotOptimize(doc.LoadRtf(rtf));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * rtf.size());
}
BENCHMARK(LoadOneMegabyteRtf)->Unit(benchmark::kMillisecond);

void RenderTenPagesToApf(benchmark::State &state) {
  app();
  QTemporaryDir dir;
  kv::RenderContext ctx{dir.path() + "/", {}, {}, {}};
  kv::TRichDocument cover, doc;
  doc.LoadRtf(tenPages());
  int pages = 0;
  for (auto _ : state) {
    const QString name = kv::RenderFax(cover, doc, ctx, pages);
    QFile::remove(name);
  }
  state.counters["pages"] = pages;
}
BENCHMARK(RenderTenPagesToApf)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
