// The shared modem operations against scripted modems on ptys: reset strings, opening
// messages, the port search and the class check.
#include "modem/modem_ops.h"

#include <gtest/gtest.h>

#include <memory>

#include "comm/com_port.h"
#include "comm/main_thread.h"
#include "fax/send_fax.h"
#include "scriptmodem/script_modem.h"

namespace kv {
namespace {

class ModemOps : public ::testing::Test {
 protected:
  ModemOps() { MainThread::install(&mt); }
  ~ModemOps() override { MainThread::install(nullptr); }
  PlainMainThread mt;
};

TEST_F(ModemOps, ResetStringsGetTheirPrefixAndAnyCaseOk) {
  ScriptModem modem(ModemScript::parse("> AT&F\n< ok\n> atz\n< OK\n> AT\n"));
  TKvComPort cp;
  cp.SetDevicePath(modem.path());
  std::string msg;
  ASSERT_TRUE(OpenComPortWithMessage(cp, msg)) << msg;
  std::string cmd = "&F";
  EXPECT_TRUE(SendModemString(cp, cmd));
  EXPECT_EQ(cmd, "AT&F");  // the caller's string changes too
  std::string z = "atz";
  EXPECT_TRUE(SendModemString(cp, z));
  EXPECT_EQ(z, "atz");
  auto t0 = std::chrono::steady_clock::now();
  std::string at = "AT";
  EXPECT_FALSE(SendModemString(cp, at));  // no answer: about two seconds
  EXPECT_GT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(1500));
  cp.SetOpen(false);
  EXPECT_TRUE(modem.finish().ok());
}

TEST_F(ModemOps, OpeningMessagesNameThePort) {
  TKvComPort cp;
  cp.SetComNumber(2);
  cp.SetDevicePath("/nonexistent/ttyKV2");
  std::string msg;
  EXPECT_FALSE(OpenComPortWithMessage(cp, msg));
  EXPECT_EQ(msg.substr(0, 57), "Unable to open the specified communications port ( Com2 )");
  // ... and then which device, and why.
  EXPECT_NE(msg.find("\rError message: there is no device /nonexistent/ttyKV2"), std::string::npos)
      << msg;

  ScriptModem modem(ModemScript::parse("mute 500\n"));
  TKvComPort first, second;
  first.SetDevicePath(modem.path());
  second.SetDevicePath(modem.path());
  second.SetComNumber(2);
  ASSERT_TRUE(OpenComPortWithMessage(first, msg)) << msg;
  EXPECT_FALSE(OpenComPortWithMessage(second, msg));
  EXPECT_EQ(msg.substr(0, 45), "The communications port is in use ( Com 2 )\r\r");
  EXPECT_NE(msg.find("Another program holds " + modem.path()), std::string::npos) << msg;
  first.SetOpen(false);
  EXPECT_TRUE(OpenComPortWithMessage(second, msg)) << msg;  // usable again once closed
  second.SetOpen(false);
}

TEST_F(ModemOps, SearchFindsTheFirstModem) {
  ScriptModem two(ModemScript::parse("> AT\n< OK\n"));
  ScriptModem four(ModemScript::parse("> AT\n< OK\n"));
  TKvComPort cp;
  std::vector<std::string> shown;
  auto r = FindModem(
      cp,
      [&](int n) {
        cp.SetDevicePath(n == 2   ? two.path()
                         : n == 4 ? four.path()
                                  : "/nonexistent/ttyKV" + std::to_string(n));
      },
      [&](int, const std::string &s) { shown.push_back(s); });
  EXPECT_EQ(r.found, 2);
  EXPECT_EQ(r.labels[0], "Com 1: Port does not exist");
  EXPECT_EQ(r.labels[1], "Com 2: MODEM");
  EXPECT_EQ(r.labels[3], "Com 4: MODEM");
  EXPECT_EQ(r.resultText, "A modem was found on Com Port 2. We suggest setting the Port as Com 2.");
  EXPECT_EQ(shown.front(), "Com 1: TESTING");
  EXPECT_FALSE(cp.Open());
}

TEST_F(ModemOps, ClassCheckRecommendsTheBestClass) {
  ScriptModem modem(ModemScript::parse("> AT&F\n< OK\n> AT+FCLASS=?\n< 0,1,2\n< OK\n"));
  TKvComPort cp;
  cp.SetDevicePath(modem.path());
  TKvSendFax fax;
  auto r = CheckFaxClass(cp, fax, 1);
  EXPECT_TRUE(r.class1);
  EXPECT_TRUE(r.class2);
  EXPECT_FALSE(r.class2_0);
  EXPECT_EQ(r.recommended, 1);
  EXPECT_EQ(r.labels[1], "Class 2   : Supported (recommended)");
  EXPECT_EQ(r.labels[2], "Class 2.0 : Not Supported");
  EXPECT_EQ(r.status.substr(0, 44), "Try using the recommended Fax Class (Class 2");
  EXPECT_FALSE(cp.Open());
  EXPECT_TRUE(modem.finish().ok());

  ScriptModem bad(ModemScript::parse("> AT&F\n< OK\n> AT+FCLASS=?\n< ERROR\n"));
  cp.SetDevicePath(bad.path());
  r = CheckFaxClass(cp, fax, 3);
  EXPECT_EQ(r.recommended, -1);
  EXPECT_EQ(r.status, "Unable to determine Fax Class support from modem on Com 3");
  EXPECT_EQ(r.labels[0], "Class 1   : unknown");
}

}  // namespace
}  // namespace kv
