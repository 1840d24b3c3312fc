// The receive-mode core without a window: what a failed call leaves, the status text, the init
// string, and whole calls against a scripted modem ending as files and rows.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "app/fax_tables.h"
#include "base/error_text.h"
#include "comm/com_port.h"
#include "fax/fax_defs.h"
#include "receive_support.h"
#include "receiving/cmd_receive_program.h"
#include "receiving/receive_mode.h"
#include "receiving/unread_faxes.h"

#include <sstream>

namespace kv {
namespace {

TEST(PartialFax, KeepsWhatArrivedAndSaysWhichPageIsCut) {
  struct Case {
    int pages, progress;
    bool keep, cut;
    std::string notes;
  } cases[] = {
      {0, fpGetPage, false, false, "Incomplete: Timeout"},
      {1, fpGetPage, true, true, "Incomplete: Timeout; page 1 cut off"},
      {3, fpGetPage, true, true, "Incomplete: Timeout; page 3 cut off"},
      {2, fpCheckMorePages, true, false, "Incomplete: Timeout"},
      {2, fpGetHangup, true, false, "Incomplete: Timeout"},
  };
  for (const Case &c : cases) {
    PartialFax p = judgePartialFax(c.pages, c.progress);
    EXPECT_EQ(p.keep(), c.keep) << c.pages << " " << c.progress;
    EXPECT_EQ(p.lastPageCut, c.cut) << c.pages << " " << c.progress;
    EXPECT_EQ(p.notes("Timeout"), c.notes);
  }
  // A long reason is cut so that the page note still fits the 60-character column.
  std::string n = judgePartialFax(12, fpGetPage).notes(std::string(80, 'x'));
  EXPECT_EQ(n.size(), 60u);
  EXPECT_TRUE(n.ends_with("x; page 12 cut off")) << n;
}

TEST(ReceiveTexts, StatusLineAndInitString) {
  EXPECT_EQ(receiveStatusText(fpWaiting, "", 0), progressText(fpWaiting));
  EXPECT_EQ(receiveStatusText(fpGetPage, "  CALLER 7   ", 2),
            progressText(fpGetPage) + " [ from CALLER 7 page 2]");
  struct {
    const char *in, *out;
  } inits[] = {{"", ""}, {"atz", "atz"}, {"&F", "AT&F"}, {"S7=60", "ATS7=60"}, {"xAtx", "xAtx"}};
  for (auto c : inits) EXPECT_EQ(receiveInitString(c.in), c.out) << c.in;
}

using ReceiveCore = test::ReceiveCoreTest;

TEST_F(ReceiveCore, TwoCallsGiveTwoFilesAndTwoRows) {
  modemOn(1, test::callWithPages({"00 80 B2 59 01 00 10 10 33", "00 80 80 CC 0A 00"}) +
                 test::callWithPages({"00 80 B2 59 01 00"}));
  ASSERT_TRUE(start());
  ASSERT_TRUE(test::eventually([&] { return recorded.size() == 2u; }, 20000));
  auto r = rows(records.RecTable);
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0]["FAXFILE"], "FAX0001.APF");
  EXPECT_EQ(r[0]["PAGES"], "2");
  EXPECT_EQ(r[0]["FROM"], "CALLER 7");
  EXPECT_EQ(r[0]["NOTES"], "");
  EXPECT_EQ(r[1]["FAXFILE"], "FAX0002.APF");
  EXPECT_EQ(r[1]["PAGES"], "1");
  EXPECT_TRUE(QFileInfo(receiveDir() + "FAX0002.APF").isFile());
  EXPECT_TRUE(informed.empty());
  EXPECT_FALSE(core->FaxInProgress);
}

TEST_F(ReceiveCore, FailedCallsKeepWholePagesAndDropEmptyFiles) {
  struct Case {
    int whole;
    std::string cut;
    bool kept;
    QString pages, notesEnd;
  } cases[] = {
      {1, "\\x00\\x80\\xB2", true, "2", "; page 2 cut off"},
      {0, "", false, "", ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.whole);
    recorded.clear();
    informed.clear();
    finished = false;
    QFile::remove(receiveDir() + "FAX0001.APF");
    modemOn(1, test::callDroppedMidPage(c.whole, c.cut));
    ASSERT_TRUE(start());
    ASSERT_TRUE(test::eventually([&] { return finished && !informed.empty(); }, 20000));
    ASSERT_EQ(informed.size(), 1u);
    EXPECT_EQ(informed[0].rfind("Failed to receive incoming fax:\r\r", 0), 0u) << informed[0];
    EXPECT_EQ(QFileInfo(receiveDir() + "FAX0001.APF").isFile(), c.kept);
    EXPECT_EQ(recorded.size(), c.kept ? 1u : 0u);
    auto r = rows(records.RecTable);
    ASSERT_EQ(r.size(), c.kept ? 1u : 0u);
    if (c.kept) {
      EXPECT_EQ(r[0]["PAGES"], c.pages);
      EXPECT_TRUE(r[0]["NOTES"].startsWith("Incomplete: ")) << r[0]["NOTES"].toStdString();
      EXPECT_TRUE(r[0]["NOTES"].endsWith(c.notesEnd)) << r[0]["NOTES"].toStdString();
      EXPECT_NE(informed[0].find("kept as FAX0001.APF"), std::string::npos) << informed[0];
      records.RecTable.First();
      records.RecTable.Delete();
    }
    core->StopReceiving(settings);
  }
}

}  // namespace
}  // namespace kv

namespace kv {
namespace {

// The headless twin on the same program directory: DIR's settings and "Ports" name the modem,
// the fax lands in DIR/receive and its row in DIR's table, as from the window.
TEST_F(ReceiveCore, CommandLineReceivesIntoTheProgramsTable) {
  ScriptModem &modem = modemOn(7, test::callWithPages({"00 80 B2 59 01 00"}));
  commandSettings(2, modem);
  records.RecTable.Close();
  cli::setProgramReceive(cli::runProgramReceive);
  std::ostringstream out, err;
  cli::Context ctx{out, err};
  const std::vector<std::string> args{"receive", "--program-dir", ProgramDir().toStdString(),
                                      "--once",  "--timeout",     "60"};
  EXPECT_EQ(cli::runTool(args, ctx), 0) << err.str();
  EXPECT_EQ(out.str(), receiveDir().toStdString() + "FAX0001.APF\n");
  EXPECT_NE(err.str().find(progressText(fpWaiting)), std::string::npos) << err.str();
  ASSERT_TRUE(records.OpenRecFaxDBF());
  auto r = rows(records.RecTable);
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0]["FROM"], "CALLER 7");
  EXPECT_EQ(r[0]["PAGES"], "1");
  EXPECT_EQ(r[0]["FAXFILE"], "FAX0001.APF");
  EXPECT_TRUE(QFileInfo(path("KRVRECV.TRC")).isFile());
  // Unread for the window, whichever program took it in.
  EXPECT_EQ(LoadUnreadFaxes(receiveDir().toStdString()), std::set<std::string>{"FAX0001.APF"});
}

// A ComPort that names no port, or a settings file that cannot be read, is said as the file
// stands before any port opens: not as a port number wrapped round, nor by using defaults.
TEST_F(ReceiveCore, SettingsThatNameNoPortAreSaidAsTheyStand) {
  records.RecTable.Close();
  cli::setProgramReceive(cli::runProgramReceive);
  const std::pair<std::function<void()>, std::string> cases[] = {
      {[&] {
         QFile ini(path("KRV.INI"));
         ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
         ini.write("[Modem]\nComPort=999999\n");
       },
       "ComPort=999999 in " + path("KRV.INI").toStdString() +
           " names no port: ComPort=0 to 49 are Com1 to Com50"},
      {[&] {
         QFile::remove(path("KRV.INI"));
         QDir().mkdir(path("KRV.INI"));
       },
       "The settings file " + path("KRV.INI").toStdString() + " cannot be read: "},
  };
  for (const auto &[make, says] : cases) {
    make();
    std::ostringstream out, err;
    cli::Context ctx{out, err};
    const std::vector<std::string> args{"receive", "--program-dir", ProgramDir().toStdString(),
                                        "--once"};
    EXPECT_EQ(cli::runTool(args, ctx), 1);
    EXPECT_NE(err.str().find(says), std::string::npos) << err.str();
    EXPECT_EQ(err.str().find("Com16960"), std::string::npos) << err.str();
  }
  // The window's receive mode refuses the number the same way.
  settings.comPort = 999999;
  std::string message;
  EXPECT_FALSE(core->StartReceiving(settings, message));
  EXPECT_EQ(message.rfind("ComPort=999999 in KRV.INI names no port", 0), 0u) << message;
}

}  // namespace
}  // namespace kv
