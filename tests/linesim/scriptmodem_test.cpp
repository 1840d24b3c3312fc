#include <gtest/gtest.h>

#include "e2e/port_client.h"
#include "scriptmodem/script_modem.h"

using namespace std::chrono_literals;
using kv::ModemScript;
using kv::ScriptModem;
using kv::ScriptReport;
using kv::test::PortClient;

TEST(ModemScriptTest, ParsesStepsEscapesAndStuffing) {
  auto s = ModemScript::parse(R"(
    # comment
    >ATZ
    < OK
    <raw \r\nCONN
    <data 10 41 10
    >data FF 13
    >~ ATD[0-9]+
    wait 20
    mute
  )");
  ASSERT_EQ(s.steps().size(), 8u);
  EXPECT_EQ(s.steps()[0].kind, kv::ScriptStep::ExpectLine);
  EXPECT_EQ(s.steps()[0].text, "ATZ");
  EXPECT_EQ(s.steps()[1].text, "\r\nOK\r\n");
  EXPECT_EQ(s.steps()[2].text, "\r\nCONN");
  // Every DLE doubled, DLE ETX appended.
  EXPECT_EQ(s.steps()[3].text, std::string("\x10\x10\x41\x10\x10\x10\x03", 7));
  EXPECT_TRUE(s.steps()[4].hasData);
  EXPECT_EQ(s.steps()[4].text, "\xFF\x13");
  EXPECT_EQ(s.steps()[7].ms, -1);

  // Bad steps name their line; @FILE takes plain files only, never a device that never ends.
  for (const char *bad : {"wait x", "<data 1", "> ", "frobnicate", "<raw \\q", "echo maybe",
                          "<data @/dev/zero", "<data @/nonexistent/file"}) {
    try {
      ModemScript::parse(std::string("> AT\n") + bad);
      ADD_FAILURE() << "accepted: " << bad;
    } catch (const kv::ScriptError &e) {
      EXPECT_NE(std::string(e.what()).find("line 2"), std::string::npos) << e.what();
    }
  }
}

TEST(ScriptModemTest, FollowsADialogueWithLinesAndData) {
  ScriptModem modem(ModemScript::parse(R"(
    > AT+FCLASS=1
    < OK
    > atd*
    wait 50
    <raw \r\nCONN
    <raw ECT\r\n
    >data 01 10 02
    < OK
    <data FF 03 10
    < OK
    >raw \x12
  )"));
  PortClient dte(modem.path());
  ASSERT_TRUE(dte.isOpen());
  dte.command("AT+FCLASS=1");
  EXPECT_TRUE(dte.expect("OK\r\n", 2s));
  dte.command("ATD5551234");
  EXPECT_TRUE(dte.expect("\r\nCONNECT\r\n", 2s));
  dte.send(std::string("\x01\x10\x10\x02\x10\x03", 6));
  EXPECT_TRUE(dte.expect("OK\r\n", 2s));
  EXPECT_TRUE(dte.expect(std::string("\xFF\x03\x10\x10\x10\x03\r\nOK\r\n", 12), 2s));
  dte.send("\x12");
  ScriptReport r = modem.finish(5s);
  EXPECT_TRUE(r.ok()) << r.describe();
  ASSERT_EQ(r.data.size(), 1u);
  EXPECT_EQ(r.data[0], std::string("\x01\x10\x02", 3));
}

TEST(ScriptModemTest, ReportsWrongCommandAndGoesQuiet) {
  ScriptModem modem(ModemScript::parse("> AT+FTH=3\n< CONNECT\n> ATH\n< OK\n"));
  PortClient dte(modem.path());
  dte.command("AT+FRH=3");
  EXPECT_TRUE(dte.expect("ERROR", 2s));
  dte.command("ATH");
  ScriptReport r = modem.finish(2s, 200ms);
  EXPECT_FALSE(r.ok());
  ASSERT_EQ(r.mismatches.size(), 1u);
  EXPECT_NE(r.mismatches[0].find("AT+FRH=3"), std::string::npos) << r.mismatches[0];
  EXPECT_EQ(dte.unread().find("OK"), std::string::npos);  // nothing answered after the fault
}

TEST(ScriptModemTest, TimeOutsSilenceAndStrayInputAreFaults) {
  {
    ScriptModem modem(ModemScript::parse("timeout 100\n> ATA\n"));
    PortClient dte(modem.path());
    ScriptReport r = modem.finish(2s);
    ASSERT_EQ(r.mismatches.size(), 1u);
    EXPECT_NE(r.mismatches[0].find("timed out"), std::string::npos);
  }
  {
    ScriptModem modem(ModemScript::parse("silence 300\n"));
    PortClient dte(modem.path());
    dte.command("AT");
    EXPECT_FALSE(modem.finish(2s).ok());
  }
  {
    ScriptModem modem(ModemScript::parse("> ATZ\n< OK\n"));
    PortClient dte(modem.path());
    dte.command("ATZ");
    dte.expect("OK", 2s);
    dte.command("ATH");
    ScriptReport r = modem.finish(2s, 300ms);
    EXPECT_TRUE(r.completed);
    EXPECT_EQ(r.unexpected, "ATH\r");
    EXPECT_FALSE(r.ok());
  }
}

TEST(ScriptModemTest, MuteSwallowsAndHangupBreaksThePort) {
  {
    ScriptModem modem(ModemScript::parse("> ATZ\nmute\n"));
    PortClient dte(modem.path());
    dte.command("ATZ");
    dte.command("ATZ");
    EXPECT_FALSE(dte.waitFor("OK", 300ms));
    EXPECT_TRUE(modem.finish(2s).ok());
  }
  {
    ScriptModem modem(ModemScript::parse("> ATZ\n< OK\nhangup\n"));
    std::string path = modem.path();
    PortClient dte(path);
    dte.command("ATZ");
    EXPECT_TRUE(dte.expect("OK", 2s));
    ASSERT_TRUE(modem.waitDone(2s));
    // Reads on the port now fail: the modem is gone.
    auto deadline = std::chrono::steady_clock::now() + 2s;
    while (!dte.broken() && std::chrono::steady_clock::now() < deadline) dte.readSome(100);
    EXPECT_TRUE(dte.broken());
  }
}

TEST(ScriptModemTest, LinksThePortAndRemovesTheLink) {
  std::string link = ::testing::TempDir() + "/scriptmodem-link-" + std::to_string(getpid());
  {
    ScriptModem modem(ModemScript::parse("> AT\n< OK\n"), {.linkPath = link});
    EXPECT_EQ(modem.path(), link);
    PortClient dte(link);
    ASSERT_TRUE(dte.isOpen());
    dte.command("AT");
    EXPECT_TRUE(dte.expect("OK", 2s));
    EXPECT_TRUE(modem.finish(2s).ok());
  }
  EXPECT_NE(access(link.c_str(), F_OK), 0);
}
