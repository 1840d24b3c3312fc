// From pressing Send on a row with a ten-page document to the dial command reaching the modem:
// the row rendered into an APF file, the send window, "Send Fax", the port opened and the
// modem prepared (a scripted Class 1 modem on a pty that answers at once). Target: under 1.5 s.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <fstream>

#include "app/dialogs.h"
#include "app/fax_tables.h"
#include "app/main_screen.h"
#include "app/program_dir.h"
#include "comm/device_layer.h"
#include "comm/main_thread_qt.h"
#include "compose/fax_row.h"
#include "richtext/rich_document.h"
#include "scriptmodem/script_modem.h"
#include "sending/send_fax_form.h"

namespace {

constexpr int kPages = 10;

QApplication &app() {
  static int argc = 3;
  static char name[] = "send_bench", opt[] = "-platform", platform[] = "offscreen";
  static char *argv[] = {name, opt, platform, nullptr};
  static QApplication *a = new QApplication(argc, argv);
  return *a;
}

// A program directory whose sent table has one fax: a ten-page document of running text.
QString programDir() {
  static QTemporaryDir dir;
  static bool made = [] {
    kv::SetProgramDir(dir.path());
    std::ofstream(dir.path().toStdString() + "/KRV.INI") << "[Modem]\nComPort=0\nFaxClass=1\n";
    QByteArray rtf = "{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}\\f0\\fs24 ";
    for (int p = 0; p < kPages; ++p) {
      if (p) rtf += "\\page ";
      for (int line = 0; line < 40; ++line)
        rtf += "Page " + QByteArray::number(p + 1) + ", line " + QByteArray::number(line + 1) +
               ": the quick brown fox jumps over the lazy dog.\\par ";
    }
    kv::TRichDocument cover, document;
    if (!document.LoadRtf(rtf + "}")) return false;
    kv::TFaxRecords records;
    QString error;
    return records.OpenFaxDBF() &&
           kv::WriteFaxRow(records, kv::TRichTextIO(cover), kv::TRichTextIO(document),
                           {"Bench", "5551234", "Ten pages"}, true, error);
  }();
  if (!made) std::abort();
  return dir.path();
}

constexpr const char *kModem =
    "timeout 5000\n> ATE0Q0V1X4S0=0S2=43\n< OK\n> AT+FCLASS=1\n< OK\n> AT+FTM=?\n"
    "< 24,48,72,96\n< OK\n> AT+FCLASS=1\n< OK\n> ATDT5551234\nmute\n";

void BM_SendToFirstDial(benchmark::State &state) {
  app();
  kv::SetProgramDir(programDir());
  kv::QtMainThread mt;
  kv::MainThread::install(&mt);
  kv::Dialogs::setHandler([](const kv::DialogRequest &) { return true; });
  kv::TMainScreen main;
  main.show();
  while (main.FirstActivate) QApplication::processEvents();
  double windowTotal = 0;
  for (auto _ : state) {
    kv::ScriptModem modem(kv::ModemScript::parse(kModem));
    kv::SetPortDeviceResolver([&](int) { return modem.path(); });
    QElapsedTimer clock;
    double dialled = -1, shown = 0;
    // Once the window is up: Send Fax, note when the dial command has gone out, then cancel.
    QTimer poll;
    poll.setInterval(1);
    QObject::connect(&poll, &QTimer::timeout, [&] {
      auto *f = qobject_cast<kv::TSendFaxForm *>(QApplication::activeModalWidget());
      if (!f || !f->isVisible()) return;
      if (!f->Busy() && dialled < 0) {
        shown = clock.nsecsElapsed() / 1e9;
        f->KvSendFax1.OnFaxStatus = [&](kv::TKvAbstractFax &fax, bool, bool) {
          if (fax.ProgressCode() == 2 && dialled < 0) dialled = clock.nsecsElapsed() / 1e9;
        };
        f->SendFaxButton->click();
      } else if (dialled >= 0 && f->Busy()) {
        f->KvSendFax1.AbortFax();
      } else if (dialled >= 0 && !f->Busy()) {
        poll.stop();
        f->Closebutton->click();
      }
    });
    poll.start();
    clock.start();
    main.SendButtonClick();
    if (dialled < 0) {
      state.SkipWithError("the dial command never went out");
      break;
    }
    state.SetIterationTime(dialled);
    windowTotal += shown;
  }
  // Of the whole: the program's own part (rendering the row, the window up and ready), the
  // rest is the modem's preparation with its fixed delays (DTR toggle 2 x 500 ms, 100 ms
  // before each command).
  state.counters["window_ms"] =
      benchmark::Counter(windowTotal * 1000, benchmark::Counter::kAvgIterations);
  kv::SetPortDeviceResolver({});
  kv::Dialogs::setHandler({});
  kv::MainThread::install(nullptr);
}
BENCHMARK(BM_SendToFirstDial)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
