#include <signal.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "e2e/port_client.h"
#include "e2e/simulated_line.h"

using namespace std::chrono_literals;
using kv::test::PortClient;
using kv::test::readFile;
using kv::test::SimulatedLine;

TEST(SimulatedLineTest, WritesPortsAnswersAndLeavesNothingBehind) {
  std::string dir, portA;
  pid_t pid = -1;
  {
    SimulatedLine line;
    pid = line.pid();
    dir = line.programDir();
    portA = line.portA();
    EXPECT_EQ(readFile(line.iniPath()),
              "[Ports]\nCom1=" + line.portA() + "\nCom2=" + line.portB() + "\n");
    for (const std::string &port : {line.portA(), line.portB()}) {
      PortClient dte(port);
      ASSERT_TRUE(dte.isOpen()) << port;
      dte.command("AT");
      EXPECT_TRUE(dte.expect("OK\r\n", 3s)) << port << ": " << dte.received();
    }
    std::string log = line.log();
    EXPECT_NE(log.find("line up"), std::string::npos) << log;
  }
  EXPECT_FALSE(std::filesystem::exists(dir));
  EXPECT_FALSE(std::filesystem::exists(portA));
  EXPECT_NE(::kill(pid, 0), 0);  // the line is gone, not left running
}

TEST(SimulatedLineTest, EndsByItselfAfterTheCallsAndReportsThem) {
  kv::test::LineOptions opts;
  opts.calls = 1;
  opts.extra = {"--busy", "999"};
  SimulatedLine line(opts);
  PortClient a(line.portA());
  a.command("AT+FCLASS=1");
  ASSERT_TRUE(a.expect("OK", 3s));
  a.command("ATD999");
  EXPECT_TRUE(a.expect("BUSY", 5s)) << a.received();
  a.close();
  EXPECT_EQ(line.finish(10s), 0) << line.log();
  EXPECT_NE(line.log().find("call 1: A -> ? (999): busy"), std::string::npos) << line.log();
}
