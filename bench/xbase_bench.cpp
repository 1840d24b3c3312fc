// Opening the sent-fax table (10,000 rows) and reading its first screen in date-sent order.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "xbase/table.h"

using namespace kv::xbase;

namespace {

const std::string &FaxTable() {
  static std::string path = [] {
    char tmpl[] = "/tmp/kvxbasebenchXXXXXX";
    std::string dir = mkdtemp(tmpl);
    std::string p = dir + "/KRV.DBF";
    Table::Create(p, {{"SUBJECT", 'C', 50, 0},
                      {"SENT", 'L', 1, 0},
                      {"DATESENT", 'D', 8, 0},
                      {"TIMESENT", 'C', 5, 0},
                      {"RECIPIENT", 'C', 35, 0},
                      {"PHONE", 'C', 25, 0},
                      {"PAGES", 'N', 2, 0},
                      {"LASTRESULT", 'C', 100, 0},
                      {"RTFCOVER", 'M', 10, 0},
                      {"RTFDOC", 'M', 10, 0}});
    Settings s;
    s.durable = false;
    std::unique_ptr<Table> t;
    Table::Open(p, s, &t);
    t->BeginBatch();
    for (int i = 0; i < 10000; ++i) {
      Record r = t->BlankRecord();
      r.PutString(0, "Subject of fax " + std::to_string(i));
      if (i % 5) {
        r.PutLogical(1, true);
        r.PutDate(2, {2015 + i % 10, 1 + i % 12, 1 + i % 28});
        r.PutString(3, (i % 24 < 10 ? "0" : "") + std::to_string(i % 24) + ":30");
      }
      r.PutString(4, "Recipient " + std::to_string(i % 300));
      r.PutString(5, "555-" + std::to_string(1000 + i % 9000));
      r.PutNumber(6, 1 + i % 20);
      r.PutString(7, "Sent");
      r.PutMemo(8, "{\\rtf1 cover " + std::to_string(i) + "}");
      r.PutMemo(9, "{\\rtf1 document " + std::string(200, 'x') + "}");
      t->Append(r, nullptr);
      if (i % 17 == 0) t->SetDeleted(uint32_t(i + 1), true);
    }
    t->EndBatch();
    t->IndexTag("DATESENT", "DTOS(DATESENT)+TIMESENT", ".not. deleted()", true);
    std::atexit(
        [] { std::filesystem::remove_all(std::filesystem::path(FaxTable()).parent_path()); });
    return p;
  }();
  return path;
}

void BM_OpenAndFirstScreen(benchmark::State &state) {
  const std::string &p = FaxTable();
  Settings s;
  s.deleted = true;
  for (auto _ : state) {
    std::unique_ptr<Table> t;
    if (!Table::Open(p, s, &t)) state.SkipWithError("open failed");
    t->SetOrder(t->TagArea("DATESENT"));
    t->SetFilter(".not. deleted()");
    int rows = 0;
    for (t->GoTop(); !t->Eof() && rows < 30; t->Skip(1), ++rows) {
      Record r;
      t->ReadRecord(t->RecNo(), &r);
      benchmark::DoNotOptimize(r.GetString(0));
    }
    if (rows != 30) state.SkipWithError("short screen");
  }
}
BENCHMARK(BM_OpenAndFirstScreen)->Unit(benchmark::kMillisecond);

// What a list view also needs: the number of visible rows.
void BM_OpenFirstScreenAndCount(benchmark::State &state) {
  const std::string &p = FaxTable();
  Settings s;
  s.deleted = true;
  for (auto _ : state) {
    std::unique_ptr<Table> t;
    Table::Open(p, s, &t);
    t->SetOrder(1);
    t->SetFilter(".not. deleted()");
    benchmark::DoNotOptimize(t->QueryRecCount());
    const auto &rows = t->VisibleRecNos();
    for (size_t i = 0; i < 30 && i < rows.size(); ++i) {
      Record r;
      t->ReadRecord(rows[i], &r);
      benchmark::DoNotOptimize(r.GetString(0));
    }
  }
}
BENCHMARK(BM_OpenFirstScreenAndCount)->Unit(benchmark::kMillisecond);

// Saving one edited row of the 10,000-row table, with the writes made durable.
void BM_EditAndPost(benchmark::State &state) {
  const std::string &p = FaxTable();
  std::unique_ptr<Table> t;
  if (!Table::Open(p, Settings{}, &t)) state.SkipWithError("open failed");
  uint32_t rec = 1;
  for (auto _ : state) {
    Record r;
    t->ReadRecord(rec, &r);
    r.PutString(7, "Sent " + std::to_string(rec));
    r.PutDate(2, {2026, 1 + int(rec % 12), 1 + int(rec % 28)});
    if (!t->Update(rec, r)) state.SkipWithError("update failed");
    rec = rec % 10000 + 1;
  }
}
BENCHMARK(BM_EditAndPost)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
