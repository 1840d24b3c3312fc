#pragma once
// Receive mode against scripted modems: Com numbers stand for the modems' ptys, events reach
// the main thread through the Qt loop, and the rows of the received-fax table are read back as
// the user sees them.
#include <QProcess>
#include <QTest>
#include <map>
#include <memory>

#include "app/fax_tables.h"
#include "app/settings_link.h"
#include "app/storage/ttable.h"
#include "app/test_support.h"
#include "comm/com_port.h"
#include "comm/device_layer.h"
#include "comm/main_thread_qt.h"
#include "fax/apf_io.h"
#include "fax/modem_scripts.h"
#include "receiving/receive_mode.h"
#include "scriptmodem/script_modem.h"
#include "support/event_wait.h"

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

// As callWithPages, but the caller holds the line once the last page is confirmed, before the
// receiver's MCF is through: the file has every page while the receiver still writes it.
inline std::string callHeldAtTheLastConfirmation(const std::vector<std::string> &pagesHex) {
  std::string s = answerToTraining(zerosHex(200));
  for (std::size_t i = 0; i < pagesHex.size(); ++i)
    s += "> AT+FTH=3\n< CONNECT\n>data\n< OK\n> AT+FRM=96\n< CONNECT\n<data " + pagesHex[i] +
         "\n< NO CARRIER\n> AT+FRH=3\n< CONNECT\n<data FF 13 " +
         (i + 1 < pagesHex.size() ? "4F" : "2F") + " 00 00\n< OK\n";
  return s + "> AT+FTH=3\n< CONNECT\n>data\nwait 60000\n";
}

// `count` zero bytes as a raw script step's text.
inline std::string rawZeros(int count) {
  std::string s;
  for (int i = 0; i < count; ++i) s += "\\x00";
  return s;
}

// A fax file with `pages` one-row pages, as the receiver writes it.
inline void writeFax(const QString &path, int pages, const std::string &from = "LEFT 1") {
  apf::Writer w;
  ASSERT_EQ(w.create(path.toStdString(), from), ecOK);
  const std::uint8_t row[] = {0x00, 0x80, 0xB2, 0x59, 0x01, 0x00};
  for (int i = 0; i < pages; ++i) {
    ASSERT_EQ(w.beginPage(false, false), ecOK);
    ASSERT_EQ(w.write(row, sizeof row), ecOK);
    ASSERT_EQ(w.closePage(from), ecOK);
  }
  ASSERT_EQ(w.close(), ecOK);
}

// korvane-fax receive `args` --once as a process of its own; `inChild` runs in the child before
// the program (to set limits).
inline std::unique_ptr<QProcess> startReceiver(const QStringList &args,
                                               const std::function<void()> &inChild = {}) {
  auto p = std::make_unique<QProcess>();
  if (inChild) p->setChildProcessModifier(inChild);
  p->start(QStringLiteral(KORVANE_BIN_DIR "/korvane-fax"),
           QStringList{"receive"} + args + QStringList{"--once", "--timeout", "120"});
  EXPECT_TRUE(p->waitForStarted(10000)) << p->errorString().toStdString();
  return p;
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
  // KRV.INI with receive mode on Com `n`, whose device is `modem` for korvane-fax too.
  void commandSettings(int n, const ScriptModem &modem) {
    settingsFile(n);
    QFile ini(path("KRV.INI"));
    ASSERT_TRUE(ini.open(QIODevice::Append));
    ini.write(QString("[Ports]\r\nCom%1=%2\r\n").arg(n).arg(modem.path().c_str()).toUtf8());
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

// The core on Com 1 with the program's received-fax table, recording what it tells.
class ReceiveCoreTest : public ReceiveTest {
 protected:
  void SetUp() override {
    ReceiveTest::SetUp();
    QDir().mkdir(receiveDir());
    ASSERT_TRUE(records.OpenRecFaxDBF());
    PrepareReceivePort(port, ProgramDir().toStdString());
    core = std::make_unique<TReceiveModeCore>(port, records.RecTable, receiveDir().toStdString());
    core->Inform = [this](const std::string &t) { informed.push_back(t); };
    core->FaxRecorded = [this](const ReceivedFax &f) { recorded.push_back(f); };
    core->SessionFinished = [this](Result) { finished = true; };
  }
  void TearDown() override {
    core->StopReceiving(settings);
    core.reset();
    ReceiveTest::TearDown();
  }
  // Starts receiving on Com 1 in Class 1; false with the core's message when it refused.
  bool tryStart(std::string &message) {
    settings.comPort = 0;
    settings.faxClass = 1;
    settings.userFax = "REVIECER";
    return core->StartReceiving(settings, message);
  }
  bool start() {
    std::string message;
    bool ok = tryStart(message);
    EXPECT_TRUE(ok) << message;
    return ok;
  }
  TFaxRecords records;
  TKvComPort port;
  Settings settings;
  std::unique_ptr<TReceiveModeCore> core;
  std::vector<std::string> informed;
  std::vector<ReceivedFax> recorded;
  bool finished = false;
};

}  // namespace kv::test
