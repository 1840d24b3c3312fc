// A desktop logging out (SIGHUP) or a kill (SIGTERM) ends the program as its Exit does: a normal
// exit with its tables closed and its single-instance lock gone, also while the first start's
// preferences window is open over the main window.
#include <signal.h>
#include <unistd.h>

#include <QDate>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>

#include "app/fax_tables.h"
#include "base/byte_order.h"
#include "test_support.h"

namespace kv {
namespace {

// The recipients of DIR/TABLE as python3-dbf reads them, joined by '|'.
QString Recipients(const QString &dir, const QString &table, const QString &field) {
  QProcess p;
  p.start("/usr/bin/python3", {"-c",
                               "import dbf, sys\n"
                               "t = dbf.Table(sys.argv[1], codepage='cp1252'); t.open()\n"
                               "print('|'.join((r[sys.argv[2]] or '').strip() for r in t))\n",
                               dir + "/" + table, field});
  p.waitForFinished(60000);
  return QString::fromUtf8(p.readAllStandardOutput()).trimmed() +
         QString::fromUtf8(p.readAllStandardError()).trimmed();
}

TEST(QuitSignalTest, TermAndHupCloseTheProgramAsExitDoes) {
  test::App();
  struct Case {
    int signal;
    bool firstStart;  // no settings yet: the preferences window opens over the main window
  } cases[] = {{SIGTERM, false}, {SIGHUP, true}};
  for (const Case &c : cases) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString name =
        QString("korvane-sig-%1-%2").arg(QCoreApplication::applicationPid()).arg(c.signal);
    const QString exe = dir.filePath(name);
    ASSERT_TRUE(test::CopyProgram(dir.path(), name));
    if (!c.firstStart) {
      QFile ini(dir.filePath("KRV.INI"));
      ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
      ini.write("[Modem]\r\nComPort=0\r\n");
    }
    const QDate started = QDate::currentDate();
    {
      SetProgramDir(dir.path());
      TFaxRecords records;
      ASSERT_TRUE(records.OpenFaxDBF());
      for (const char *who : {"Acme Legal", "Harbour Freight"}) {
        ASSERT_TRUE(records.FaxTable.Append());
        records.FaxTable.FieldByName("RECIPIENT")->SetAsString(who);
        ASSERT_TRUE(records.FaxTable.Post());
      }
    }
    SetProgramDir({});

    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    program.setProcessEnvironment(env);
    program.start(exe, {});
    ASSERT_TRUE(program.waitForStarted());
    const QString server = name + "-" + QString::number(getuid());
    ASSERT_TRUE(test::ListensWithin(server, 15000));
    ASSERT_EQ(kill(pid_t(program.processId()), c.signal), 0);
    ASSERT_TRUE(program.waitForFinished(15000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit) << "signal " << c.signal;
    EXPECT_EQ(program.exitCode(), 0) << program.readAllStandardError().toStdString();
    EXPECT_FALSE(QFile::exists(QDir::tempPath() + "/" + server + ".lock"));
    EXPECT_EQ(Recipients(dir.path(), "KRV.DBF", "recipient"), "Acme Legal|Harbour Freight");
    QFile table(dir.filePath("KRV.DBF"));
    ASSERT_TRUE(table.open(QIODevice::ReadOnly));
    const QByteArray header = table.read(8);
    const auto *h = reinterpret_cast<const std::uint8_t *>(header.constData());
    // The date of the last change, in the two-digit year the format keeps.
    const QDate stored(2000 + h[1], h[2], h[3]);
    const auto shortYear = [](QDate d) { return QDate(2000 + d.year() % 100, d.month(), d.day()); };
    EXPECT_TRUE(stored == shortYear(started) || stored == shortYear(QDate::currentDate()))
        << stored.toString().toStdString();
    EXPECT_EQ(getLe32(h + 4), 2u);
    EXPECT_EQ(Recipients(dir.path(), "KRVREC.DBF", "from"), "");
    // The window's place is kept for the next start, as Exit keeps it.
    QFile ini(dir.filePath("KRV.INI"));
    ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
    EXPECT_TRUE(ini.readAll().contains("Main")) << "signal " << c.signal;
  }
}

}  // namespace
}  // namespace kv
