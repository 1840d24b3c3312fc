// What receive mode keeps and says when things go wrong around a fax: a full disk in the middle
// of it, a receive folder that cannot be used, a receiver killed while it wrote, a stop by the
// user. The scripted modem calls; korvane-fax runs as its own process where a limit or a kill
// has to hit the receiver alone.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <QDir>
#include <QFileInfo>
#include <sstream>

#include "base/error_text.h"
#include "cli/command.h"
#include "fax/fax_defs.h"
#include "fax/receive_folder.h"
#include "receive_support.h"
#include "receiving/cmd_receive_program.h"
#include "receiving/received_file.h"
#include "support/child_process.h"

namespace kv {
namespace {

using ReceiveKeeping = test::ReceiveCoreTest;

std::string receiverOutput(QProcess &p) {
  return p.readAllStandardOutput().toStdString() + "\n--- stderr:\n" +
         p.readAllStandardError().toStdString();
}

// The disk fills while a page comes in (a file size limit on the receiver's process stands in
// for it): the row and the message say so, and the row counts only pages the file gives back.
TEST_F(ReceiveKeeping, AFullDiskKeepsOnlyPagesThatReadBackAndSaysWhy) {
  constexpr rlim_t kRoom = 40000;  // more than the tables need, less than the fax
  struct Case {
    int whole;
    const char *row;
  } cases[] = {
      {1, "CALLER 7|2|FAX0001.APF|Incomplete: Disk is full; page 2 cut off"},
      {0, "CALLER 7|1|FAX0001.APF|Incomplete: Disk is full; page 1 cut off"},
  };
  records.RecTable.Close();
  for (const Case &c : cases) {
    SCOPED_TRACE(c.whole);
    QFile::remove(path("KRVREC.DBF"));
    QDir(receiveDir()).removeRecursively();
    ScriptModem &modem = modemOn(2, test::callDroppedMidPage(c.whole, test::rawZeros(60000)));
    commandSettings(2, modem);
    auto rx =
        test::startReceiver({"--program-dir", ProgramDir()}, [] { test::limitFileSize(kRoom); });
    ASSERT_TRUE(rx->waitForFinished(120000));
    const std::string said = receiverOutput(*rx);
    EXPECT_EQ(rx->exitCode(), 1) << said;  // --once: no fax came in whole
    EXPECT_NE(said.find(receiveDir().toStdString() + "FAX0001.APF (incomplete)"), std::string::npos)
        << said;
    EXPECT_NE(said.find("Failed to receive incoming fax:"), std::string::npos) << said;
    EXPECT_NE(said.find(errorText(ecDiskFull)), std::string::npos) << said;

    const QStringList rows = test::ReadReceivedRows(ProgramDir());
    ASSERT_EQ(rows.size(), 1) << rows.join("\n").toStdString() << said;
    EXPECT_TRUE(rows[0].endsWith(c.row)) << rows[0].toStdString();
    const ReadBack rb = ReadReceivedFile((receiveDir() + "FAX0001.APF").toStdString());
    EXPECT_TRUE(rb.whole()) << rb.error;
    EXPECT_EQ(rb.pages, c.whole + 1);
  }
}

// A folder where no fax can be created: receive mode does not start (core, command and window
// say which folder and why), and a folder that goes bad while it waits is found before the call
// is answered.
TEST(ReceiveFolder, AnUnusableFolderIsNamedWithTheReason) {
  QTemporaryDir tmp;
  ASSERT_TRUE(tmp.isValid());
  const std::string dir = tmp.path().toStdString();
  ::chmod(dir.c_str(), 0755);
  QFile(tmp.filePath("file")).open(QIODevice::WriteOnly);
  QDir().mkdir(tmp.filePath("closed"));
  struct Case {
    std::string folder, problem;
  } cases[] = {
      {dir + "/made/receive", ""},
      {dir + "/file", "it is not a folder"},
      {dir + "/file/receive", "Not a directory"},
  };
  for (const Case &c : cases) {
    const std::string p = receiveFolderProblem(c.folder);
    EXPECT_EQ(p, c.problem.empty()
                     ? ""
                     : "The receive folder " + c.folder + " cannot be used: " + c.problem);
  }
  EXPECT_TRUE(QFileInfo(tmp.filePath("made/receive")).isDir());
  // A folder this user may not write in (root may write in any: it tries as another user).
  const std::string closed = dir + "/closed";
  ::chmod(closed.c_str(), 0555);
  const int status = test::runInChild([&closed] {
    if (::geteuid() == 0 && !test::becomeNobody()) return 2;
    return receiveFolderProblem(closed) ==
                   "The receive folder " + closed + " cannot be used: Permission denied"
               ? 0
               : 1;
  });
  EXPECT_EQ(status, 0);
}

TEST_F(ReceiveKeeping, AFileWhereTheFolderShouldBeStopsReceiveModeFromStarting) {
  QDir(receiveDir()).removeRecursively();
  QFile(path("receive")).open(QIODevice::WriteOnly);
  const std::string named = "The receive folder " + ProgramDir().toStdString() +
                            "receive cannot be used: it is not a folder";
  modemOn(1, "");
  std::string message;
  EXPECT_FALSE(tryStart(message));
  EXPECT_EQ(message, named);
  EXPECT_FALSE(port.Open());

  // The command says the same and ends.
  records.RecTable.Close();
  settingsFile(1);
  cli::setProgramReceive(cli::runProgramReceive);
  std::ostringstream out, err;
  cli::Context ctx{out, err};
  const std::vector<std::string> args{"receive", "--program-dir", ProgramDir().toStdString(),
                                      "--once"};
  EXPECT_EQ(cli::runTool(args, ctx), 1);
  EXPECT_NE(err.str().find(named), std::string::npos) << err.str();
  EXPECT_TRUE(QFileInfo(path("receive")).isFile());
}

TEST_F(ReceiveKeeping, ACallIsNotAnsweredWhenTheFolderWentBadMeanwhile) {
  ScriptModem &modem = modemOn(1, "wait 2000\n< RING\n< RING\n< RING\nwait 500\n");
  ASSERT_TRUE(start());
  // Gone while receive mode waits, a file in its place.
  ASSERT_TRUE(QDir(receiveDir()).removeRecursively());
  QFile(path("receive")).open(QIODevice::WriteOnly);
  ASSERT_TRUE(test::eventually([&] { return !informed.empty(); }, 20000));
  ASSERT_TRUE(modem.waitDone(std::chrono::seconds(20)));
  EXPECT_EQ(informed,
            std::vector<std::string>{"A call was not answered:\r\rThe receive folder " +
                                     receiveDir().toStdString().substr(0, receiveDir().size() - 1) +
                                     " cannot be used: it is not a folder"});
  const ScriptReport r = modem.finish();
  EXPECT_TRUE(r.ok()) << r.describe();
  EXPECT_EQ(records.RecTable.RecCount(), 0);
}

// A receiver is killed (SIGKILL) with both pages of a fax in its file and no row for it. While
// it lived, its locked file was left alone by a start of receive mode on the same folder (here
// the receiver without tables, which can share the program's folder); the next start gives the
// file a row, and clears files without a page.
TEST_F(ReceiveKeeping, AFaxOfAReceiverKilledHardIsTakenInAtTheNextStart) {
  const QString fax = receiveDir() + "FAX0001.APF";
  ScriptModem &modem =
      modemOn(2, test::callHeldAtTheLastConfirmation({"00 80 B2 59 01 00", "00 80 80 CC 0A 00"}));
  auto rx = test::startReceiver(
      {"--device", QString::fromStdString(modem.path()), "--dir", receiveDir(), "--class", "1"});
  ASSERT_TRUE(
      test::eventually([&] { return ReadReceivedFile(fax.toStdString()).pages == 2; }, 30000));

  modemOn(1, "");
  ASSERT_TRUE(start());
  core->StopReceiving(settings);
  EXPECT_TRUE(recorded.empty());
  EXPECT_EQ(records.RecTable.RecCount(), 0);
  EXPECT_TRUE(QFileInfo(fax).isFile());

  rx->kill();
  ASSERT_TRUE(rx->waitForFinished(10000));
  // Beside it: a file without a page, an empty one, a fax a row names, and a file of the user.
  test::writeFax(receiveDir() + "FAX0002.APF", 0);
  QFile(receiveDir() + "FAX0003.APF").open(QIODevice::WriteOnly);
  test::writeFax(receiveDir() + "FAX0004.APF", 1);
  ReceivedFax listed;
  listed.file = (receiveDir() + "FAX0004.APF").toStdString();
  listed.pages = 1;
  ASSERT_TRUE(AppendReceivedRow(records.RecTable, listed));
  QFile(receiveDir() + "notes.txt").open(QIODevice::WriteOnly);
  // And one whose second page never reached the disk, though its header counts it.
  const QString cut = receiveDir() + "FAX0005.APF";
  test::writeFax(cut, 2);
  ASSERT_TRUE(QFile::resize(cut, QFileInfo(cut).size() - 3));

  modemOn(1, "");
  ASSERT_TRUE(start());
  auto r = rows(records.RecTable);
  ASSERT_EQ(r.size(), 3u);
  EXPECT_EQ(r[0]["FAXFILE"], "FAX0001.APF");
  EXPECT_EQ(r[0]["PAGES"], "2");
  EXPECT_EQ(r[0]["FROM"], "CALLER 7");
  EXPECT_EQ(r[0]["NOTES"], "Incomplete: found after the program stopped");
  EXPECT_EQ(r[1]["FAXFILE"], "FAX0004.APF");
  EXPECT_EQ(r[1]["NOTES"], "");
  EXPECT_EQ(r[2]["FAXFILE"], "FAX0005.APF");
  EXPECT_EQ(r[2]["PAGES"], "1");
  EXPECT_EQ(r[2]["NOTES"], "Incomplete: found after the program stopped");
  const ReadBack rb = ReadReceivedFile(cut.toStdString());
  EXPECT_TRUE(rb.whole() && rb.pages == 1) << rb.pages << " of " << rb.claimed;
  ASSERT_EQ(recorded.size(), 2u);
  EXPECT_FALSE(recorded[0].complete);
  EXPECT_TRUE(QFileInfo(fax).isFile());
  EXPECT_FALSE(QFileInfo::exists(receiveDir() + "FAX0002.APF"));
  EXPECT_FALSE(QFileInfo::exists(receiveDir() + "FAX0003.APF"));
  EXPECT_TRUE(QFileInfo(receiveDir() + "notes.txt").isFile());
  ASSERT_EQ(informed.size(), 1u);
  EXPECT_NE(informed[0].find("FAX0001.APF (2 page(s)) was found after the program stopped"),
            std::string::npos)
      << informed[0];
  EXPECT_NE(informed[0].find("FAX0002.APF was found after the program stopped without a "
                             "readable page and was removed"),
            std::string::npos)
      << informed[0];
}

// The user stops receive mode in the middle of the second page.
TEST_F(ReceiveKeeping, AReceiveTheUserStoppedSaysSo) {
  std::string call = test::callDroppedMidPage(1, "\\x00\\x80\\xB2");
  call.replace(call.find("wait 200\nhangup"), std::string::npos, "wait 60000\n");
  modemOn(1, call);
  ASSERT_TRUE(start());
  ASSERT_TRUE(test::eventually(
      [&] {
        return core->KvReceiveFax1.PageNumber() == 2 && core->KvReceiveFax1.BytesTransferred() >= 3;
      },
      20000));
  core->StopReceiving(settings);
  ASSERT_TRUE(test::eventually([&] { return !informed.empty(); }, 10000));
  EXPECT_EQ(informed[0].rfind("Failed to receive incoming fax:\r\rStopped by the user", 0), 0u)
      << informed[0];
  auto r = rows(records.RecTable);
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0]["PAGES"], "2");
  EXPECT_EQ(r[0]["NOTES"], "Incomplete: stopped by the user; page 2 cut off");
}

}  // namespace
}  // namespace kv
