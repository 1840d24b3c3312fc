// Receive mode over the simulated line: the far end (korvane-fax send on the line's other
// modem) calls the real main window three times, the last call dropped in the middle of its
// second page; and korvane-fax receive --program-dir takes a call into the same kind of
// program directory. The rows are read back by python3-dbf.
#include <gtest/gtest.h>

#include <QDate>
#include <QTest>
#include <QToolButton>
#include <fstream>

#include "app/main_screen.h"
#include "base/error_text.h"
#include "comm/device_layer.h"
#include "e2e/process.h"
#include "e2e/simulated_line.h"
#include "fax/fax_defs.h"
#include "receive_support.h"
#include "support/modal.h"

namespace kv {
namespace {

using namespace std::chrono_literals;

const std::string kTool = std::string(KORVANE_BIN_DIR) + "/korvane-fax";
// As the send tests found: a loaded machine starves an 8x line of page data.
constexpr int kSpeed = 4;

class ReceiveOverLine : public ::testing::Test {
 protected:
  void SetUp() override {
    test::App();
    test::LineOptions o;
    o.speed = kSpeed;
    o.calls = calls();
    // A page whose carrier lasts longer than this (in line time) is cut off by the line.
    o.extra = {"--drop-mid-page", "12"};
    line = std::make_unique<test::SimulatedLine>(o);
    line->appendIni("[Modem]\nComPort=0\nFaxClass=1\n[User]\nFax=555 0100\n");
    dir = line->programDir();
    SetProgramDir(QString::fromStdString(dir));
  }
  void TearDown() override {
    line.reset();
    SetProgramDir({});
  }
  virtual int calls() const { return 3; }
  // An APF of text pages ("\f" between pages), made by the converter.
  std::string document(const std::string &name, const std::string &text) {
    const std::string txt = dir + "/" + name + ".txt", apf = dir + "/" + name + ".apf";
    std::ofstream(txt) << text;
    test::Process conv({kTool, "convert", txt, "-o", apf}, dir + "/convert.log");
    EXPECT_TRUE(conv.wait(30s));
    EXPECT_EQ(conv.exitCode(), 0) << conv.output();
    return apf;
  }
  // The far end calls and sends `apf` from the line's other modem.
  std::unique_ptr<test::Process> farEndSends(const std::string &apf, int n) {
    return std::make_unique<test::Process>(
        std::vector<std::string>{kTool, "send", "--speed", std::to_string(kSpeed), "--device",
                                 line->portB(), "--station", "FAR END 42", "5550100", apf},
        dir + "/send" + std::to_string(n) + ".log");
  }
  std::unique_ptr<test::SimulatedLine> line;
  std::string dir;
};

// Lines enough for a page whose data outlasts the line's drop time.
std::string densePage() {
  std::string s;
  for (int i = 0; i < 70; ++i)
    s += "Line " + std::to_string(i) + " of a dense page: 0123456789 ABCDEFGHIJ abcdefghij\n";
  return s;
}

class WindowReceive : public ReceiveOverLine {
 protected:
  void SetUp() override {
    ReceiveOverLine::SetUp();
    mt = std::make_unique<QtMainThread>();
    MainThread::install(mt.get());
    SetPortDeviceResolver([ini = line->iniPath()](int n) { return portDeviceName(ini, n); });
    Dialogs::setHandler([this](const DialogRequest &r) {
      shown << r.text;
      return true;
    });
  }
  void TearDown() override {
    Dialogs::setHandler({});
    SetPortDeviceResolver({});
    MainThread::install(nullptr);
    ReceiveOverLine::TearDown();
  }
  std::unique_ptr<QtMainThread> mt;
  QStringList shown;
};

TEST_F(WindowReceive, TwoFaxesAndACallDroppedMidPage) {
  const std::string one = document("one", "A one page fax\n");
  const std::string two = document("two", "Page one of two\n\fPage two of two\n");
  const std::string cut = document("cut", "Short first page\n\f" + densePage());
  auto main = std::make_unique<TMainScreen>();
  TMainScreen &m = *main;
  m.show();
  ASSERT_TRUE(test::eventually([&] { return !m.FirstActivate; }, 5000));
  SessionClock clock;
  clock.setSimulatedLine(kSpeed);
  m.KvReceiveFax1.SetClock(clock);
  m.ReceiveButton->click();
  ASSERT_TRUE(m.ReceiveMode) << shown.join(" / ").toStdString();
  ASSERT_TRUE(test::eventually(
      [&] { return m.status->text() == QString::fromStdString(progressText(fpWaiting)); }, 10000));

  QStringList statusSeen;
  int n = 0;
  for (const std::string &apf : {one, two, cut}) {
    auto tx = farEndSends(apf, ++n);
    while (tx->running()) {
      QTest::qWait(20);
      if (!statusSeen.contains(m.status->text())) statusSeen << m.status->text();
      if (n == 2 && m.status->text().endsWith("page 2]")) test::Snapshot(m, "main_receiving");
    }
    EXPECT_EQ(tx->exitCode() == 0, n < 3) << tx->output() << line->log();
    ASSERT_TRUE(test::eventually([&] { return m.Records.RecTable.RecCount() == n; }, 60000));
    ASSERT_TRUE(test::eventually([&] { return !m.FaxInProgress; }, 60000));
  }
  test::Snapshot(m, "main_received");
  // The caller and the page reach the status line (which pages are seen depends on timing).
  EXPECT_TRUE(statusSeen.join("\n").contains("[ from FAR END 42 page "))
      << statusSeen.join("\n").toStdString();
  ASSERT_EQ(shown.size(), 1) << shown.join(" / ").toStdString() << line->log();
  EXPECT_TRUE(shown[0].startsWith("Failed to receive incoming fax:\r\r"));
  EXPECT_TRUE(shown[0].contains("kept as FAX0003.APF (the last one is cut off)"));
  m.ReceiveButton->click();
  EXPECT_FALSE(m.KvComPort1.Open());
  main.reset();
  EXPECT_EQ(line->finish(), 0) << line->log();

  const QStringList rows = test::ReadReceivedRows(QString::fromStdString(dir));
  ASSERT_EQ(rows.size(), 3) << rows.join("\n").toStdString() << line->log();
  const QString today = QDate::currentDate().toString("yyyy-MM-dd");
  const char *want[] = {"FAR END 42|1|FAX0001.APF|", "FAR END 42|2|FAX0002.APF|",
                        "FAR END 42|2|FAX0003.APF|Incomplete: "};
  for (int i = 0; i < 3; ++i) {
    const QStringList cols = rows[i].split('|');
    ASSERT_EQ(cols.size(), 6) << rows[i].toStdString();
    EXPECT_EQ(cols[0], today);
    EXPECT_EQ(cols[1].size(), 5);
    EXPECT_TRUE(QStringList(cols.mid(2)).join('|').startsWith(want[i]))
        << rows[i].toStdString() << line->log();
  }
  EXPECT_TRUE(rows[2].endsWith("; page 2 cut off")) << rows[2].toStdString();
  for (int i = 1; i <= 3; ++i)
    EXPECT_TRUE(QFile::exists(QString::fromStdString(dir) +
                              QString("/receive/FAX%1.APF").arg(i, 4, 10, QChar('0'))));
}

class CommandReceive : public ReceiveOverLine {
  int calls() const override { return 1; }
};

TEST_F(CommandReceive, ReceiveWithTheProgramDirectoryAppendsTheRow) {
  const std::string two = document("two", "Page one of two\n\fPage two of two\n");
  test::Process rx(
      {kTool, "receive", "--program-dir", dir, "--once", "--speed", std::to_string(kSpeed)},
      dir + "/receive.log");
  ASSERT_TRUE(rx.waitForOutput(progressText(fpWaiting), 30s)) << rx.output();
  auto tx = farEndSends(two, 1);
  ASSERT_TRUE(tx->wait(150s));
  ASSERT_TRUE(rx.wait(60s));
  EXPECT_EQ(tx->exitCode(), 0) << tx->output() << line->log();
  EXPECT_EQ(rx.exitCode(), 0) << rx.output() << line->log();
  EXPECT_NE(rx.output().find(dir + "/receive/FAX0001.APF\n"), std::string::npos) << rx.output();
  EXPECT_EQ(line->finish(), 0) << line->log();
  const QStringList rows = test::ReadReceivedRows(QString::fromStdString(dir));
  ASSERT_EQ(rows.size(), 1) << rows.join("\n").toStdString();
  EXPECT_TRUE(rows[0].endsWith("|FAR END 42|2|FAX0001.APF|")) << rows[0].toStdString();
}

}  // namespace
}  // namespace kv
