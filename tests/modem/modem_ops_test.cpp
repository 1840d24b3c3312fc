// The shared modem operations against scripted modems on ptys: reset strings, opening
// messages, the port search and the class check.
#include "modem/modem_ops.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
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
  // Within the program only receive mode keeps a port open while another window opens one.
  EXPECT_FALSE(OpenComPortWithMessage(second, msg));
  EXPECT_EQ(msg,
            "The modem is in use by receive mode ( Com 2 )\r\rReceive mode of this program "
            "(process " +
                std::to_string(getpid()) + ") holds " + modem.path() +
                " and waits for faxes on it. Switch receive mode off (or choose another "
                "port), and then try again.");
  first.SetOpen(false);
  EXPECT_TRUE(OpenComPortWithMessage(second, msg)) << msg;  // usable again once closed
  second.SetOpen(false);
}

// Another process holding the device: named from the kernel's lock table, and told apart from
// receive mode.
TEST_F(ModemOps, APortHeldByAnotherProcessNamesIt) {
  ScriptModem modem(ModemScript::parse("mute 500\n"));
  const std::string ready = testing::TempDir() + "/kv_flock_ready";
  std::remove(ready.c_str());
  // flock(1) takes the same kind of lock as the serial layer and holds it while it sleeps.
  const pid_t child = fork();
  if (child == 0) {
    // Without a fork the lock stays with this one process, so it is gone once we reap it.
    execlp("flock", "flock", "-n", "-F", modem.path().c_str(), "sh", "-c",
           ("touch " + ready + "; exec sleep 20").c_str(), static_cast<char *>(nullptr));
    _exit(127);
  }
  ASSERT_GT(child, 0);
  for (int i = 0; i < 500 && access(ready.c_str(), F_OK) != 0; ++i) usleep(10000);
  TKvComPort cp;
  cp.SetComNumber(3);
  cp.SetDevicePath(modem.path());
  std::string msg;
  EXPECT_FALSE(OpenComPortWithMessage(cp, msg));
  EXPECT_EQ(msg.substr(0, 45), "The communications port is in use ( Com 3 )\r\r") << msg;
  EXPECT_NE(msg.find(" (process " + std::to_string(child) + ") holds " + modem.path()),
            std::string::npos)
      << msg;
  kill(child, SIGTERM);
  waitpid(child, nullptr, 0);
  EXPECT_TRUE(OpenComPortWithMessage(cp, msg)) << msg;
  cp.SetOpen(false);
}

TEST(DeviceHolders, LockTableAndDescriptions) {
  const std::string locks =
      "1: POSIX  ADVISORY  WRITE 900 00:19:77 0 EOF\n"
      "2: FLOCK  ADVISORY  WRITE 812 00:1a:3 0 EOF\n"
      "2: -> FLOCK  ADVISORY  WRITE 999 00:1a:3 0 EOF\n"
      "3: FLOCK  ADVISORY  WRITE 813 0a:1a:3 0 EOF\n";
  EXPECT_EQ(LockHolderPid(locks, 0, 0x1a, 3), 812);
  EXPECT_EQ(LockHolderPid(locks, 0x0a, 0x1a, 3), 813);  // major and minor are hexadecimal
  EXPECT_EQ(LockHolderPid(locks, 0, 0x19, 77), 900);
  EXPECT_EQ(LockHolderPid(locks, 0, 0x1a, 4), std::nullopt);
  EXPECT_EQ(LockHolderPid("garbage\n\n1: FLOCK\n", 0, 0, 0), std::nullopt);

  struct Case {
    DeviceHolder holder;
    bool receiveMode;
    std::string words;
  } cases[] = {
      {{50, "korvane-test", {"/x/korvane-test"}},
       true,
       "receive mode of this program (process 50)"},
      {{7, "korvane", {"/opt/kv/korvane"}},
       true,
       "receive mode of another running copy of the program (process 7)"},
      {{8, "korvane-fax", {"korvane-fax", "receive", "--program-dir", "/d"}},
       true,
       "receive mode of korvane-fax (process 8)"},
      {{9, "korvane-fax", {"./korvane-fax", "send", "--port", "1", "5551234"}},
       false,
       "the command korvane-fax send (process 9)"},
      {{12, "korvane-fax", {"korvane-fax"}}, false, "the command korvane-fax (process 12)"},
      {{10, "minicom", {"minicom"}}, false, "the program minicom (process 10)"},
      {{11, "", {}}, false, "another program (process 11)"},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(HolderIsReceiveMode(c.holder, 50), c.receiveMode) << c.words;
    EXPECT_EQ(HolderDescription(c.holder, 50), c.words);
  }
  EXPECT_EQ(InUseMessage("Com 1", "/dev/ttyS0", std::nullopt, 1).substr(0, 78),
            "The communications port is in use ( Com 1 )\r\rAnother program holds /dev/ttyS0.");
}

TEST_F(ModemOps, SearchTriesEveryPortAndOffersTheFirstModem) {
  ScriptModem two(ModemScript::parse("> AT\n< OK\n"));
  ScriptModem usb(ModemScript::parse("> AT\n< OK\n"));
  TKvComPort cp;
  std::vector<std::string> shown;
  std::vector<SerialPort> ports(3);
  ports[0].number = 1;
  ports[0].device = "/nonexistent/ttyKV1";
  ports[1].number = 9;  // a USB modem beyond the classic six, tried in list order
  ports[1].device = usb.path();
  ports[2].number = 2;
  ports[2].device = two.path();
  auto r = FindModem(cp, ports, [&](int, const std::string &s) { shown.push_back(s); });
  EXPECT_EQ(r.found, 9);
  EXPECT_EQ(r.foundDevice, usb.path());
  EXPECT_EQ(r.labels, (std::vector<std::string>{"Com 1: Port does not exist", "Com 9: MODEM",
                                                "Com 2: MODEM"}));
  EXPECT_EQ(r.resultText, "A modem was found on Com Port 9 (" + usb.path() +
                              "). We suggest setting the Port as Com 9.");
  EXPECT_EQ(shown.front(), "Com 1: TESTING");
  EXPECT_FALSE(cp.Open());
  EXPECT_EQ(cp.DevicePath(), "");  // the port goes back to its number's device
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
