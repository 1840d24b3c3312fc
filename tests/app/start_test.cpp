// The program's start on damaged, missing, locked and mended tables: every failure names the
// file and the reason, on screen and on standard error, and ends the program unsuccessfully;
// rows found whole beyond a table's count are kept and the user is told.
#include <fcntl.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>
#include <cstdio>
#include <functional>

#include "app/main_screen.h"
#include "app/program.h"
#include "base/byte_order.h"
#include "support/event_wait.h"
#include "test_support.h"
#include "xbase/table.h"

namespace kv {
namespace {

class StartTest : public test::ProgramDirTest {
 protected:
  void writeFile(const QString &name, const QByteArray &bytes) {
    QFile f(path(name));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
  }
  QByteArray readFile(const QString &name) {
    QFile f(path(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }
  // Tables made by a first, normal start.
  void firstStart(int sentRows = 0) {
    TMainScreen w;
    for (int i = 0; i < sentRows; ++i) {
      TTable &t = w.Records.FaxTable;
      ASSERT_TRUE(t.Append());
      ASSERT_TRUE(t.FieldByName("SUBJECT")->SetAsString(QString("fax %1").arg(i + 1)));
      ASSERT_TRUE(t.Post());
    }
    shown.clear();
  }
};

constexpr char kFaxFailed[] = "Unable to open/create the FAX datafile - closing program";

TEST_F(StartTest, EveryFailedStartNamesTheFileAndTheReason) {
  struct Case {
    const char *what;
    std::function<void()> damage;
    QString says;
  };
  std::unique_ptr<xbase::Table> holder;
  const std::vector<Case> cases = {
      {"empty table", [&] { writeFile("KRV.DBF", {}); }, "too short"},
      {"table is a directory",
       [&] {
         QFile::remove(path("KRV.DBF"));
         QDir().mkpath(path("KRV.DBF"));
       },
       "access denied"},
      {"memo file missing", [&] { QFile::remove(path("KRV.FPT")); }, "memo file"},
      {"memo file empty", [&] { writeFile("KRV.FPT", {}); }, "memo file is too short"},
      {"table in use",
       [&] { ASSERT_TRUE(xbase::Table::Open(path("KRV.DBF").toStdString(), {}, &holder)); },
       "in use by another program"},
  };
  for (const Case &c : cases) {
    QDir(ProgramDir()).removeRecursively();
    QDir().mkpath(ProgramDir());
    firstStart();
    c.damage();
    TMainScreen w;
    EXPECT_TRUE(w.StartFailed()) << c.what;
    ASSERT_FALSE(shown.empty()) << c.what;
    const QString text = shown[0].text;
    EXPECT_TRUE(text.startsWith(QString(kFaxFailed) + "\r\r")) << text.toStdString();
    EXPECT_TRUE(text.contains(path("KRV"))) << text.toStdString();
    EXPECT_TRUE(text.contains(c.says, Qt::CaseInsensitive)) << c.what << ": " << text.toStdString();
    holder.reset();
    shown.clear();
  }
}

// A settings file that is there but cannot be read is said so, and the start is no first
// start (whose Preferences would replace the file); a ComPort naming no port is said with the
// number the file holds.
TEST_F(StartTest, ASettingsFileThatCannotBeUsedIsSaidAndKept) {
  struct Case {
    const char *what;
    std::function<void()> make;
    QString says;
  } cases[] = {
      {"a directory in its place", [&] { QDir().mkpath(path("KRV.INI")); },
       "The settings file " + path("KRV.INI") + " cannot be read: "},
      {"a port number no port has", [&] { writeFile("KRV.INI", "[Modem]\nComPort=999999\n"); },
       "ComPort=999999 in " + path("KRV.INI") + " names no port"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    QDir(ProgramDir()).removeRecursively();
    QDir().mkpath(ProgramDir());
    c.make();
    {
      TMainScreen w;
      EXPECT_FALSE(w.StartFailed());
      EXPECT_FALSE(w.FirstRun);
      ASSERT_FALSE(shown.empty());
      EXPECT_TRUE(shown[0].text.startsWith(c.says)) << shown[0].text.toStdString();
    }
    shown.clear();
  }
  EXPECT_EQ(readFile("KRV.INI"), "[Modem]\nComPort=999999\n");
  QDir(ProgramDir()).removeRecursively();
  QDir().mkpath(ProgramDir());
  QDir().mkpath(path("KRV.INI"));
  { TMainScreen w; }
  EXPECT_TRUE(QFileInfo(path("KRV.INI")).isDir());
}

TEST_F(StartTest, AFatalStartSaysSoOnStandardErrorAndFails) {
  writeFile("KRV.DBF", "broken");
  fflush(stderr);
  const int saved = dup(2);
  const QString log = path("stderr.txt");
  const int fd = ::open(log.toLocal8Bit().constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  dup2(fd, 2);
  const int status = RunKorvane(test::App());
  fflush(stderr);
  dup2(saved, 2);
  ::close(fd);
  ::close(saved);
  EXPECT_EQ(status, 1);
  const QByteArray err = readFile("stderr.txt");
  EXPECT_TRUE(err.startsWith(QByteArray("korvane: ") + kFaxFailed + ": " +
                             path("KRV.DBF").toLocal8Bit() + " is damaged"))
      << err.toStdString();
  ASSERT_FALSE(shown.empty());
  EXPECT_EQ(readFile("KRV.DBF"), "broken");  // left for the user to rescue
}

TEST_F(StartTest, RowsBeyondTheCountAreRestoredAndSurviveRebuildIndexes) {
  firstStart(25);
  // A torn header write: the count says 20 while 25 rows and their index are on disk.
  QByteArray dbf = readFile("KRV.DBF");
  putLe32(reinterpret_cast<std::uint8_t *>(dbf.data()) + 4, 20);
  writeFile("KRV.DBF", dbf);

  TMainScreen w;
  EXPECT_FALSE(w.StartFailed());
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_TRUE(shown[0].text.contains("KRV.DBF: the header counted 20 rows, but 5 more"))
      << shown[0].text.toStdString();
  EXPECT_EQ(w.Records.FaxTable.RecCount(), 25);
  w.show();
  ASSERT_TRUE(kv::test::eventually([&] { return !w.FirstActivate; }, 5000));
  w.mnuRebuildIndexes->trigger();
  EXPECT_EQ(w.Records.FaxTable.RecCount(), 25);
  EXPECT_EQ(w.FaxModel->rowCount(), 25);
  EXPECT_FALSE(QFile::exists(path("KRV.DBF.bak")));
}

}  // namespace
}  // namespace kv
