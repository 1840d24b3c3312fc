// Opening KRV.DBF with 10,000 rows and showing the first screen of the sent list in tag order
// (model and view on the offscreen platform). Target: under 100 ms.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTableView>
#include <QTemporaryDir>

#include "app/fax_tables.h"
#include "app/program_dir.h"
#include "app/table_model.h"

namespace {

constexpr int kRows = 10000;

// Builds the table once, with sent and unsent rows spread over many days.
QString tableDir() {
  static QTemporaryDir dir;
  static bool made = [] {
    kv::SetProgramDir(dir.path());
    kv::xbase::Engine engine;
    kv::TFaxRecords records(engine);
    if (!records.OpenFaxDBF()) return false;
    kv::xbase::Table *t = records.FaxTable.EngineTable();
    t->BeginBatch();
    for (int i = 0; i < kRows; ++i) {
      kv::xbase::Record r = t->BlankRecord();
      r.PutString(0, "Quarterly figures " + std::to_string(i));
      if (i % 7 != 0) {
        r.PutLogical(1, true);
        r.PutDate(2, kv::xbase::Date::FromJulianDay(2460000 + i / 13));
        char time[6];
        std::snprintf(time, sizeof time, "%02d:%02d", (i / 60) % 24, i % 60);
        r.PutString(3, time);
      }
      r.PutString(4, "Recipient " + std::to_string(i % 300));
      r.PutString(5, "+1 555 01" + std::to_string(i % 100));
      r.PutNumber(6, i % 9 + 1);
      r.PutString(7, i % 7 ? "Sent" : "");
      uint32_t recno = 0;
      if (!t->Append(r, &recno).ok()) return false;
    }
    return t->EndBatch().ok();
  }();
  if (!made) std::abort();
  return dir.path();
}

void BM_OpenSentListFirstScreen(benchmark::State &state) {
  kv::SetProgramDir(tableDir());
  for (auto _ : state) {
    kv::xbase::Engine engine;
    kv::TFaxRecords records(engine);
    if (!records.OpenFaxDBF()) state.SkipWithError("open failed");
    kv::TFaxRecords::FollowRows(records.FaxTable, records.FaxApollo, "DATESENT");
    kv::TTableModel model(records.FaxTable, kv::kFaxColumns);
    QTableView view;
    view.resize(760, 330);
    model.attach(&view);
    QPixmap shot = view.grab();  // paints every visible cell
    benchmark::DoNotOptimize(shot);
    state.counters["rows"] = model.rowCount();
  }
}
BENCHMARK(BM_OpenSentListFirstScreen)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

int main(int argc, char **argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  return 0;
}
