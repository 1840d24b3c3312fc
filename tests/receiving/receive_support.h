#pragma once
// Receive mode against scripted modems: Com numbers stand for the modems' ptys, events reach
// the main thread through the Qt loop, and the rows of the received-fax table are read back as
// the user sees them.
#include <QProcess>
#include <QTest>
#include <map>
#include <memory>

#include "app/settings_link.h"
#include "app/storage/ttable.h"
#include "app/test_support.h"
#include "comm/device_layer.h"
#include "comm/main_thread_qt.h"
#include "fax/modem_scripts.h"
#include "scriptmodem/script_modem.h"

namespace kv::test {

// Caller "CALLER 7" rings twice, trains at 9600 and sends these pages, MPS between them and
// EOP after the last; the receiver then starts its next call cycle.
inline std::string callWithPages(const std::vector<std::string> &pagesHex) {
  return answerToTraining(zerosHex(200)) + pagesToTheEnd(pagesHex) + "> AT+FCLASS=1\n< OK\n";
}

// The same caller: `whole` pages arrive and are confirmed, then the line drops `cutBytes` into
// the next page (no page at all with whole 0 and cutBytes empty: the line drops after CFR).
inline std::string callDroppedMidPage(int whole, const std::string &cutBytes) {
  std::string s = answerToTraining(zerosHex(200));
  for (int i = 0; i < whole; ++i)
    s += "> AT+FTH=3\n< CONNECT\n>data\n< OK\n> AT+FRM=96\n< CONNECT\n<data 00 80 B2 59 01 00\n"
         "< NO CARRIER\n> AT+FRH=3\n< CONNECT\n<data FF 13 4F 00 00\n< OK\n";
  s += "> AT+FTH=3\n< CONNECT\n>data\n< OK\n";
  if (!cutBytes.empty()) s += "> AT+FRM=96\n< CONNECT\n<raw " + cutBytes + "\n";
  return s + "wait 200\nhangup\n";
}

// Every row of DIR/KRVREC.DBF as python3-dbf reads it, one "DATEREC|TIMEREC|FROM|PAGES|FAXFILE|
// NOTES" line each (the date as YYYY-MM-DD), in record order; or what went wrong.
inline QStringList ReadReceivedRows(const QString &dir) {
  const QString script = QStringLiteral(
      "import dbf, sys\n"
      "t = dbf.Table(sys.argv[1] + '/KRVREC.DBF', codepage='cp1252'); t.open()\n"
      "for r in t:\n"
      "    d = r.daterec\n"
      "    print('|'.join([d.strftime('%Y-%m-%d') if d else '', r.timerec.strip(),\n"
      "                    r['from'].strip(), str(r.pages), r.faxfile.strip(), "
      "r.notes.strip()]))\n");
  QProcess p;
  p.start("/usr/bin/python3", {"-c", script, dir});
  p.waitForFinished(60000);
  const QString err = QString::fromUtf8(p.readAllStandardError()).trimmed();
  QStringList rows = QString::fromUtf8(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
  if (!err.isEmpty()) rows << err;
  return rows;
}

class ReceiveTest : public ProgramDirTest {
 protected:
  void SetUp() override {
    ProgramDirTest::SetUp();
    mt_ = std::make_unique<QtMainThread>();
    MainThread::install(mt_.get());
    SetPortDeviceResolver([this](int n) {
      auto it = devices_.find(n);
      return it != devices_.end() ? it->second : "/nonexistent/ttyKV" + std::to_string(n);
    });
  }
  void TearDown() override {
    modems_.clear();
    SetPortDeviceResolver({});
    MainThread::install(nullptr);
    ProgramDirTest::TearDown();
  }
  // A scripted modem on Com `n`.
  ScriptModem &scriptOn(int n, const std::string &script) {
    modems_.push_back(std::make_unique<ScriptModem>(ModemScript::parse(script)));
    devices_[n] = modems_.back()->path();
    return *modems_.back();
  }
  // One that answers the receiver's Class 1 preparation, then takes `calls`.
  ScriptModem &modemOn(int n, const std::string &calls) {
    return scriptOn(n, std::string(kReceiveInit) + calls);
  }
  // KRV.INI with receive mode on Com `n` in Class 1, changed further by `edit`.
  void settingsFile(int n, const std::function<void(Settings &)> &edit = {}) {
    TSettingsLink s;
    s.Load();
    s.Data.comPort = n - 1;
    s.Data.faxClass = 1;
    s.Data.userFax = "REVIECER";
    if (edit) edit(s.Data);
    ASSERT_TRUE(s.Save());
  }
  using Row = std::map<QString, QString>;
  static std::vector<Row> rows(TTable &table) {
    std::vector<Row> out;
    for (int r = 0; r < table.RowCount(); ++r) {
      Row row;
      for (const char *f : {"FROM", "PAGES", "FAXFILE", "NOTES", "TIMEREC"})
        row[f] = table.ValueAt(r, f).toString().trimmed();
      out.push_back(row);
    }
    std::sort(out.begin(), out.end(),
              [](const Row &a, const Row &b) { return a.at("FAXFILE") < b.at("FAXFILE"); });
    return out;
  }
  QString receiveDir() const { return path("receive/"); }

 private:
  std::unique_ptr<QtMainThread> mt_;
  std::map<int, std::string> devices_;
  std::vector<std::unique_ptr<ScriptModem>> modems_;
};

}  // namespace kv::test
