// korvane-fax send and receive against the scripted modem: the history file the tool writes
// with --history, record by record, and none without it.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <sstream>

#include "../fax/modem_scripts.h"
#include "base/error_text.h"
#include "cli/command.h"
#include "fax/fax_session.h"
#include "fax/t30.h"
#include "faximage/apf_file.h"
#include "scriptmodem/script_modem.h"
#include "support/temp_files.h"

namespace kv::cli {
namespace {

namespace fs = std::filesystem;
using namespace test;  // the dialogue pieces

struct ToolRun {
  int code;
  std::string out, err;
  ScriptReport report;
};

class CliFax : public testing::Test {
 protected:
  // Runs the tool in-process on a port to the scripted modem; the session's delays run 50
  // times faster, as --speed allows, and its time-outs `timeoutSpeed` times (the scripted
  // modem answers in real time, not in the line's).
  ToolRun run(const std::string &script, std::vector<std::string> args, bool class1 = true,
              double timeoutSpeed = 1) {
    constexpr int kSpeed = 50;
    ScriptModem modem(ModemScript::parse(script));
    args.insert(args.begin() + 1, {"--device", modem.path(), "--speed", std::to_string(kSpeed)});
    if (class1) args.insert(args.begin() + 1, {"--class", "1"});
    std::ostringstream out, err;
    Context ctx{out, err, timeoutSpeed / kSpeed};
    int code = runTool(args, ctx);
    return {code, out.str(), err.str(), modem.finish(std::chrono::seconds(2))};
  }

  std::string makeFax() {
    std::string path = dir.file("doc.apf");
    ApfWriter w;
    EXPECT_EQ(w.create(path), ecOK);
    EXPECT_EQ(w.beginPage(false, false), ecOK);
    std::vector<std::uint8_t> line(216, 0x0F);
    for (int y = 0; y < 20; ++y) EXPECT_EQ(w.writeLine(line.data()), ecOK);
    EXPECT_EQ(w.finish("ME"), ecOK);
    return path;
  }

  test::TempDir dir{"kvclifax"};
  // "<short date> <long time>" as the history writes them.
  const std::string when = R"(\S+ \S+( [AP]M)?)";
};

TEST_F(CliFax, SendWritesTheHistoryOfAGoodAndABusyFax) {
  const std::string fax = makeFax(), his = dir.file("fax.his");
  ToolRun r =
      run(kSendInit + negotiation() + pageAndEnd(true), {"send", "--history", his, "5551234", fax});
  ASSERT_EQ(r.code, exitOk) << r.err << r.report.describe();
  EXPECT_TRUE(r.report.ok()) << r.report.describe();
  std::string good = test::readFile(his);
  EXPECT_TRUE(std::regex_match(
      good, std::regex("Transmit " + std::regex_replace(fax, std::regex(R"([.])"), R"(\.)") +
                       " to 5551234 started at " + when +
                       "\r\nTransmit to {14}FAR END finished OK at " + when + " 0\r\n\r\n")))
      << good;

  // A busy number, given up after one attempt: one more pair of records, appended.
  r = run(kSendInit + "> ATDT5551234\n< BUSY\n",
          {"send", "--history", his, "--attempts", "1", "5551234", fax});
  EXPECT_EQ(r.code, exitFailed);
  EXPECT_TRUE(r.report.ok()) << r.report.describe();
  std::string all = test::readFile(his);
  ASSERT_EQ(all.compare(0, good.size(), good), 0);
  std::string busy = all.substr(good.size());
  EXPECT_TRUE(std::regex_match(
      busy, std::regex("Transmit \\S+ to 5551234 started at " + when + "\r\nTransmit failed at " +
                       when + "\r\n  \\(" + errorText(ecFaxBusy) + "\\) 0\r\n\r\n")))
      << busy;
}

TEST_F(CliFax, ReceiveWritesTheHistoryOfTheCall) {
  const std::string in = dir.file("in"), his = dir.file("in.his");
  ToolRun r =
      run(kReceiveInit + answerToTraining(zerosHex(200)) + onePageToTheEnd("00 80 B2 59 01 00"),
          {"receive", "--dir", in, "--once", "--ring", "2", "--history", his});
  ASSERT_EQ(r.code, exitOk) << r.err << r.report.describe();
  const std::string file = in + "/FAX0001.APF";
  EXPECT_EQ(r.out, file + "\n");
  std::string got = test::readFile(his);
  EXPECT_TRUE(
      std::regex_match(got, std::regex("Receive \\S+/FAX0001\\.APF from {13}CALLER 7 started at " +
                                       when + "\r\nReceive finished OK at " + when + "\r\n\r\n")))
      << got;
}

TEST_F(CliFax, NoHistoryWithoutTheOptionAndAClearErrorForAnUnwritableFile) {
  const std::string fax = makeFax();
  const fs::path cwdHistory = fs::current_path() / "KVFAX.HIS";
  const bool before = fs::exists(cwdHistory);
  ToolRun r =
      run(kSendInit + "> ATDT5551234\n< BUSY\n", {"send", "--attempts", "1", "5551234", fax});
  EXPECT_EQ(r.code, exitFailed);
  EXPECT_TRUE(r.report.ok()) << r.report.describe();
  EXPECT_EQ(fs::exists(cwdHistory), before);
  EXPECT_FALSE(fs::exists(dir.file("KVFAX.HIS")));

  // Refused before the modem hears anything.
  r = run("silence 300\n", {"send", "--history", dir.file("no/such/dir/h.his"), "5551234", fax});
  EXPECT_EQ(r.code, exitFailed);
  EXPECT_NE(r.err.find("cannot write the history file"), std::string::npos) << r.err;
  EXPECT_TRUE(r.report.ok()) << r.report.describe();
}

// A number is only ever dialled as a number: what would end the dial command and start
// another (a CR, ";", a letter) is refused before the modem hears anything, and a number
// written the usual way dials its digits only.
TEST_F(CliFax, ANumberHoldingModemCommandsNeverReachesTheModem) {
  const std::string fax = makeFax();
  const std::pair<std::vector<std::string>, const char *> refused[] = {
      {{"555\rATZ;"},
       "The fax number \"555\\rATZ;\" cannot be dialled: it holds a carriage return"},
      {{"555;ATZ"}, "it holds ';' (character 4)"},
      {{"555 ATH"}, "it holds the letter 'A' (character 5)"},
      {{"--dial-prefix", "9\nATZ", "555"}, "The dial prefix \"9\\nATZ\" cannot be dialled"},
  };
  for (const auto &[words, named] : refused) {
    std::vector<std::string> args{"send"};
    args.insert(args.end(), words.begin(), words.end());
    args.push_back(fax);
    ToolRun r = run("silence 300\n", args);
    EXPECT_EQ(r.code, exitUsage) << r.err;
    EXPECT_NE(r.err.find(named), std::string::npos) << r.err;
    EXPECT_TRUE(r.report.ok()) << r.report.describe();
  }

  ToolRun r = run(kSendInit + "> ATDT9,0015550142\n< BUSY\n",
                  {"send", "--attempts", "1", "--dial-prefix", "9,", "--international-prefix", "00",
                   "+1 (555) 014-2", fax});
  EXPECT_EQ(r.code, exitFailed) << r.err;
  EXPECT_TRUE(r.report.ok()) << r.report.describe();
}

TEST_F(CliFax, PortsThatCannotBeOpenedAreNamedWithTheReason) {
  const std::string file = dir.file("plain"), folder = dir.file("folder");
  test::writeFile(file, "not a modem");
  fs::create_directory(folder);
  struct Case {
    std::string device, reason;
  } cases[] = {{dir.file("ttyUSB7"), "there is no device " + dir.file("ttyUSB7")},
               {file, file + " is not a serial device"},
               {"/dev/null", "/dev/null is not a serial device"},
               {folder, folder + " is a directory, not a serial device"}};
  for (const auto &c : cases) {
    std::ostringstream out, err;
    Context ctx{out, err};
    std::vector<std::string> args{"receive", "--device",     c.device,
                                  "--dir",   dir.file("in"), "--once"};
    int code = runTool(args, ctx);
    EXPECT_EQ(code, exitFailed) << c.device;
    EXPECT_NE(err.str().find("( " + c.device + " )\nError message: " + c.reason), std::string::npos)
        << err.str();
  }
}

TEST_F(CliFax, AModemThatCannotBeUsedIsExplained) {
  const std::string init = "> ATE0Q0V1X4S0=0S2=43\n";
  struct Case {
    std::string script, says;
  } cases[] = {
      {init + "< ERROR\n> ATE0Q0V1X4S0=0S2=43\n< ERROR\n",
       "answered ATE0Q0V1X4S0=0S2=43 with ERROR"},
      {init + "< OK\n> AT+FCLASS=?\n< OK\n", "names no fax class"},
      {"mute\n", "did not answer ATE0Q0V1X4S0=0S2=43"},
      // Line noise: binary bytes and broken lines, never an OK.
      {init + "<raw \\x80\\xfe\\x01\\r\\n\\x7f~}|\\r\\n\\x03\\x11\\x13\\r\\nmute\n",
       "answer to ATE0Q0V1X4S0=0S2=43 was not understood (\"?~}|\")"},
      // One line of a megabyte that never ends: the start of it is shown.
      {init + "<raw " + std::string(1 << 20, 'Z') + "\nmute\n",
       "was not understood (\"" + std::string(40, 'Z') + "\")"},
  };
  for (const auto &c : cases) {
    // Time-outs ten times faster: each silent wait takes a second.
    ToolRun r = run(c.script, {"receive", "--dir", dir.file("in"), "--once"}, false, 10);
    EXPECT_EQ(r.code, exitFailed);
    EXPECT_NE(r.err.find("Error: " + errorText(ecFaxBadModemResult)), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
  }
}

}  // namespace
}  // namespace kv::cli
