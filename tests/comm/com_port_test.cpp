// TKvComPort over pseudo-terminals: defaults, open and close, settings while open, events on
// the main thread, string waits, tracing and logging.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <atomic>

#include "comm/com_port.h"
#include "base/exceptions.h"
#include "comm_test_util.h"

using namespace kv;
using kvtest::Pty;
using kvtest::pumpUntil;

namespace {

class ComPort : public ::testing::Test {
 protected:
  void SetUp() override {
    cp.SetDevicePath(pty.slave);
    cp.SetAutoOpen(false);
  }
  void TearDown() override {
    if (cp.Open()) cp.SetOpen(false);
    ASSERT_TRUE(kvtest::waitFor([] { return OpenPortCount() == 0; }));
  }
  Pty pty;
  TKvComPort cp;
};

}  // namespace

TEST(ComPortDefaults, PublishedValues) {
  TKvComPort cp;
  EXPECT_EQ(cp.DeviceLayer(), dlWin32);
  EXPECT_EQ(cp.ComNumber(), 0);
  EXPECT_EQ(cp.Baud(), 19200u);
  EXPECT_EQ(cp.Parity(), pNone);
  EXPECT_EQ(cp.DataBits(), 8);
  EXPECT_EQ(cp.StopBits(), 1);
  EXPECT_EQ(cp.InSize(), 4096);
  EXPECT_EQ(cp.OutSize(), 4096);
  EXPECT_TRUE(cp.AutoOpen());
  EXPECT_EQ(cp.DispatcherMode(), dWin32);
  EXPECT_FALSE(cp.Open());
  EXPECT_TRUE(cp.DTR());
  EXPECT_TRUE(cp.RTS());
  EXPECT_EQ(cp.HWFlowOptions(), 0);
  EXPECT_EQ(cp.SWFlowOptions(), swfNone);
  EXPECT_EQ(cp.XOnChar(), 17);
  EXPECT_EQ(cp.XOffChar(), 19);
  EXPECT_EQ(cp.Tracing(), tlOff);
  EXPECT_EQ(cp.TraceSize(), 10000);
  EXPECT_EQ(cp.TraceName(), "KVCOMM.TRC");
  EXPECT_TRUE(cp.TraceHex());
  EXPECT_EQ(cp.LogSize(), 10000);
  EXPECT_EQ(cp.LogName(), "KVCOMM.LOG");
  EXPECT_EQ(cp.TriggerLength(), 1);
  EXPECT_EQ(cp.CommNotificationLevel(), 10);
  EXPECT_EQ(cp.TapiMode(), tmAuto);
  // Only three device layers are accepted; values are ignored while open.
  cp.SetDeviceLayer(dlFossil);
  EXPECT_EQ(cp.DeviceLayer(), dlWin32);
  cp.SetDispatcherMode(dAuto);
  EXPECT_EQ(cp.DispatcherMode(), dWin32);
  // Closed: only tlOn is kept.
  cp.SetTracing(tlDump);
  EXPECT_EQ(cp.Tracing(), tlOff);
  cp.SetLogging(tlPause);
  EXPECT_EQ(cp.Logging(), tlOff);
  cp.SetTracing(tlOn);
  EXPECT_EQ(cp.Tracing(), tlOn);
}

TEST(ComPortOpen, FailuresRaiseTheirExceptions) {
  TKvComPort cp;
  cp.SetAutoOpen(false);
  try {
    cp.SetOpen(true);
    FAIL();
  } catch (const ENoPortSelected &e) {
    EXPECT_STREQ(e.what(), "The ComNumber property of the TKvComPort has not been set");
  }
  cp.SetDevicePath("/dev/ttyKORVANE-none");
  EXPECT_THROW(cp.SetOpen(true), EBadId);
  EXPECT_FALSE(cp.Open());
  Pty p;
  TKvComPort holder;
  holder.SetDevicePath(p.slave);
  holder.SetOpen(true);
  cp.SetDevicePath(p.slave);
  try {
    cp.SetOpen(true);
    FAIL();
  } catch (const EAlreadyOpen &e) {
    EXPECT_STREQ(e.what(), "ie_Open - device already open");
  }
  EXPECT_FALSE(cp.Open());
  // Operations on a closed port without AutoOpen fail instead of opening.
  EXPECT_THROW(cp.PutString("AT"), EBadHandle);
  cp.SetDeviceLayer(dlNone);
  cp.SetDevicePath("/dev/null");
  EXPECT_THROW(cp.SetOpen(true), ENullApi);
}

TEST(ComPortOpen, NoPermissionNamesTheDeviceAndGroup) {
  if (geteuid() == 0) GTEST_SKIP() << "root opens every device";
  std::string path = kvtest::tempPath("noperm");
  FILE *f = std::fopen(path.c_str(), "w");
  std::fclose(f);
  chmod(path.c_str(), 0);
  TKvComPort cp;
  cp.SetDevicePath(path);
  try {
    cp.SetOpen(true);
    FAIL();
  } catch (const EInOutError &e) {
    EXPECT_NE(std::string(e.what()).find(path), std::string::npos);
    EXPECT_NE(std::string(e.what()).find("dialout"), std::string::npos);
  }
  std::remove(path.c_str());
}

TEST_F(ComPort, AutoOpenOnFirstUse) {
  cp.SetAutoOpen(true);
  cp.PutString("AT\r");
  EXPECT_TRUE(cp.Open());
  EXPECT_GT(cp.ComHandle(), 0);
  EXPECT_EQ(pty.read(3), "AT\r");
}

TEST_F(ComPort, HardwareFlowLevelsFromInSize) {
  cp.SetInSize(8192);
  cp.SetHWFlowOptions(hwfSet({hwfUseRTS, hwfRequireCTS}));
  EXPECT_EQ(cp.BufferFull(), 0);  // closed: stored only
  cp.SetOpen(true);
  EXPECT_EQ(cp.BufferFull(), 7372);
  EXPECT_EQ(cp.BufferResume(), 819);
  cp.SetBufferFull(9000);  // above InSize: 90 % of it
  EXPECT_EQ(cp.BufferFull(), 8100);
  cp.SetBufferResume(9000);  // above BufferFull: 10 % of that
  EXPECT_EQ(cp.BufferResume(), 810);
  cp.SetHWFlowOptions(0);
  cp.SetSWFlowOptions(swfBoth);
  cp.SetBaud(115200);
  LineValues v;
  GetLine(cp.ComHandle(), v);
  EXPECT_EQ(v.baud, 115200u);
  EXPECT_THROW(cp.SetBaud(12345), ENotSupported);
  EXPECT_EQ(cp.Baud(), 115200u);  // a refused value is not kept
}

TEST_F(ComPort, EventsArriveOnTheMainThread) {
  std::vector<std::string> seen;
  std::thread::id main = std::this_thread::get_id();
  bool offMain = false;
  cp.OnTrigger = [&](TKvCustomComPort &, std::uint16_t msg, std::uint32_t h, std::uint16_t data) {
    offMain |= std::this_thread::get_id() != main;
    seen.push_back("trigger " + std::to_string(msg) + " " + std::to_string(h) + " " +
                   std::to_string(data));
  };
  std::string got;
  cp.OnTriggerAvail = [&](TKvCustomComPort &p, std::uint32_t count) {
    seen.push_back("avail " + std::to_string(count));
    for (std::uint32_t i = 0; i < count; ++i) got += p.GetChar();
  };
  cp.OnTriggerTimer = [&](TKvCustomComPort &, std::uint16_t h) {
    seen.push_back("timer " + std::to_string(h));
  };
  cp.SetOpen(true);
  pty.write("OK\r\n");
  ASSERT_TRUE(pumpUntil([&] { return got == "OK\r\n"; }));
  int t = cp.AddTimerTrigger();
  cp.SetTimerTrigger(t, 1, true);
  ASSERT_TRUE(pumpUntil([&] { return seen.size() >= 4; }));
  EXPECT_FALSE(offMain);
  EXPECT_EQ(seen[0], "trigger 32257 4 4");
  EXPECT_EQ(seen[1], "avail 4");
  EXPECT_EQ(seen[2], "trigger 32259 2 0");
  EXPECT_EQ(seen[3], "timer 2");
  EXPECT_EQ(cp.InBuffUsed(), 0);
}

TEST_F(ComPort, LineErrorEventTakesBreakFirst) {
  auto dev = std::make_shared<kvtest::FakeLineDevice>();
  SetOtherDeviceInstaller([dev] { return dev; });
  cp.SetDeviceLayer(dlOther);
  cp.SetOpen(true);
  std::vector<std::pair<int, bool>> errs;
  cp.OnTriggerLineError = [&](TKvCustomComPort &, std::uint16_t e, bool lb) {
    errs.push_back({e, lb});
  };
  int modem = 0;
  cp.OnTriggerModemStatus = [&](TKvCustomComPort &) { ++modem; };
  int h = cp.AddStatusTrigger(stLine);
  cp.SetStatusTrigger(h, 8 | 2, true);
  dev->lineError(leBreak);
  ASSERT_TRUE(pumpUntil([&] { return errs.size() == 1; }));
  EXPECT_EQ(errs[0], std::make_pair(0, true));
  cp.SetStatusTrigger(h, 8 | 2, true);
  dev->lineError(leParity);
  ASSERT_TRUE(pumpUntil([&] { return errs.size() == 2; }));
  EXPECT_EQ(errs[1], std::make_pair(3, false));
  int m = cp.AddStatusTrigger(stModem);
  cp.SetStatusTrigger(m, msDCD, true);
  dev->setLines(msCTS | msDSR | msDCD);
  ASSERT_TRUE(pumpUntil([&] { return modem == 1; }));
  EXPECT_TRUE(cp.CheckDCD());
  SetOtherDeviceInstaller(nullptr);
}

TEST_F(ComPort, HandlerThatThrowsOrHangsDoesNotStopDelivery) {
  std::vector<std::string> reported;
  MainThread::setExceptionReporter([&](std::exception_ptr e) {
    try {
      std::rethrow_exception(e);
    } catch (const std::exception &ex) {
      reported.push_back(ex.what());
    }
  });
  int timers = 0;
  cp.OnTriggerTimer = [&](TKvCustomComPort &, std::uint16_t) {
    if (++timers == 1) throw std::runtime_error("handler failed");
  };
  cp.SetOpen(true);
  int t = cp.AddTimerTrigger();
  cp.SetTimerTrigger(t, 1, true);
  ASSERT_TRUE(pumpUntil([&] { return timers == 1; }));
  ASSERT_EQ(reported.size(), 1u);
  EXPECT_EQ(reported[0], "handler failed");

  // The main thread is busy for 1.5 s: the dispatch thread gives the message up after 1 s
  // and goes on, and the given-up message never runs late.
  cp.SetTimerTrigger(t, 1, true);
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  cp.SetTimerTrigger(t, 1, true);
  ASSERT_TRUE(pumpUntil([&] { return timers == 2; }));
  EXPECT_FALSE(pumpUntil([&] { return timers == 3; }, 200));

  // Closing while the dispatch thread waits for this (busy) thread does not wait out the
  // message's time-out.
  cp.SetTimerTrigger(t, 1, true);
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  auto start = std::chrono::steady_clock::now();
  cp.SetOpen(false);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(600));
  EXPECT_TRUE(kvtest::waitFor([] { return OpenPortCount() == 0; }, 500));
  EXPECT_EQ(timers, 2);
  MainThread::setExceptionReporter(nullptr);
}

TEST_F(ComPort, ClosingInsideItsOwnHandler) {
  bool closedInside = false;
  cp.OnTriggerAvail = [&](TKvCustomComPort &p, std::uint32_t) {
    p.SetOpen(false);
    closedInside = !p.Open();
  };
  cp.SetOpen(true);
  int handle = cp.ComHandle();
  pty.write("RING\r\n");
  ASSERT_TRUE(pumpUntil([&] { return closedInside; }));
  ASSERT_TRUE(kvtest::waitFor([&] { return !PortIsOpen(handle); }));
  // And the line can be opened again straight away.
  cp.SetOpen(true);
  EXPECT_TRUE(cp.Open());
}

TEST_F(ComPort, ClosingAndReopeningInsideAHandler) {
  bool reopened = false;
  cp.OnTriggerAvail = [&](TKvCustomComPort &p, std::uint32_t) {
    if (reopened) return;
    p.SetOpen(false);
    p.SetOpen(true);  // the old record still holds the line until its thread ends
    reopened = p.Open();
  };
  cp.SetOpen(true);
  pty.write("RING\r\n");
  ASSERT_TRUE(pumpUntil([&] { return reopened; }));
  pty.write("x");
  cp.PutString("ATA\r");
  EXPECT_EQ(pty.read(4), "ATA\r");
}

TEST_F(ComPort, WaitForString) {
  cp.SetOpen(true);
  EXPECT_TRUE(cp.WaitForString("", 1, false, false));
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(cp.WaitForString("OK", 18, true, false));
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                  start)
                .count();
  EXPECT_GE(ms, 18 * 55 - 60);
  EXPECT_LT(ms, 18 * 55 + 1500);

  int avails = 0;
  cp.OnTriggerAvail = [&](TKvCustomComPort &, std::uint32_t) { ++avails; };
  std::string waited;
  cp.OnWaitChar = [&](TKvCustomComPort &, char c) { waited += c; };
  std::thread modem([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    pty.write("AT\r\r\nOOk\r\nrest");
  });
  EXPECT_TRUE(cp.WaitForString("ok\r\n", 40, true, true));
  modem.join();
  EXPECT_EQ(waited, "AT\r\r\nOOk\r\n");
  // The bytes went to the wait, not to the avail event.
  EXPECT_EQ(avails, 0);
  ASSERT_TRUE(pumpUntil([&] { return avails == 1; }));
  EXPECT_EQ(cp.InBuffUsed(), 4);
}

TEST_F(ComPort, ReopeningKeepsTriggers) {
  int timers = 0;
  cp.OnTriggerTimer = [&](TKvCustomComPort &, std::uint16_t) { ++timers; };
  cp.SetOpen(true);
  int t = cp.AddTimerTrigger();
  cp.SetTriggerLength(3);
  cp.SetOpen(false);
  cp.SetOpen(true);
  EXPECT_EQ(cp.AddTimerTrigger(), t + 1);
  cp.SetTimerTrigger(t, 1, true);
  ASSERT_TRUE(pumpUntil([&] { return timers == 1; }));
}

TEST_F(ComPort, ChangingTheLineWhileOpenKeepsTriggersAndTracing) {
  Pty other;
  std::string trc = kvtest::tempPath("switch.trc");
  cp.SetTraceName(trc);
  cp.SetTracing(tlOn);
  cp.SetOpen(true);
  int t = cp.AddTimerTrigger();
  cp.PutString("A");
  cp.SetDevicePath(other.slave);
  EXPECT_TRUE(cp.Open());
  EXPECT_EQ(cp.Tracing(), tlOn);
  EXPECT_EQ(kvtest::readFile(trc), "Transmit: \r\nA");  // the first line's record
  cp.PutString("B");
  EXPECT_EQ(other.read(1), "B");
  int timers = 0;
  cp.OnTriggerTimer = [&](TKvCustomComPort &, std::uint16_t) { ++timers; };
  cp.SetTimerTrigger(t, 1, true);
  ASSERT_TRUE(pumpUntil([&] { return timers == 1; }));
  cp.SetOpen(false);
  EXPECT_EQ(kvtest::readFile(trc), "Transmit: \r\nB");
  EXPECT_EQ(cp.Tracing(), tlOff);
  std::remove(trc.c_str());
}

TEST_F(ComPort, TracingAndLoggingStates) {
  std::string trc = kvtest::tempPath("states.trc"), log = kvtest::tempPath("states.log");
  std::remove(trc.c_str());
  cp.SetTraceName(trc);
  cp.SetLogName(log);
  cp.SetTraceHex(false);
  cp.SetOpen(true);
  cp.SetTracing(tlOn);
  cp.SetLogging(tlOn);
  cp.PutString("A\r");
  cp.SetTracing(tlPause);
  cp.PutString("B");
  cp.SetTracing(tlOn);  // resumes: A stays
  cp.PutString("C");
  cp.SetTracing(tlAppend);
  EXPECT_EQ(cp.Tracing(), tlOff);
  EXPECT_EQ(kvtest::readFile(trc), "Transmit: \r\nA[13]C");
  cp.SetTracing(tlOn);
  cp.PutString("D");
  cp.SetTracing(tlClear);
  cp.PutString("E");
  cp.SetTraceSize(50);  // restarts empty
  EXPECT_EQ(cp.Tracing(), tlOn);
  cp.PutString("F");
  cp.SetTracing(tlAppend);
  EXPECT_EQ(kvtest::readFile(trc), "Transmit: \r\nA[13]CTransmit: \r\nF");
  // Closing dumps the log, overwriting.
  cp.SetOpen(false);
  std::string text = kvtest::readFile(log);
  EXPECT_EQ(text.rfind("Time      Type", 0), 0u);
  EXPECT_NE(text.find("writecom      0002  A[0D]"), std::string::npos) << text;
  EXPECT_EQ(cp.Logging(), tlOff);
  std::remove(trc.c_str());
  std::remove(log.c_str());
}

TEST_F(ComPort, UnwritableTraceFileStillCloses) {
  cp.SetTraceName("/nonexistent-dir/k.trc");
  cp.SetTracing(tlOn);
  cp.SetOpen(true);
  cp.PutString("x");
  EXPECT_THROW(cp.SetOpen(false), EInOutError);
  EXPECT_FALSE(cp.Open());
  EXPECT_EQ(OpenPortCount(), 0);
}

TEST_F(ComPort, UsersAreToldLastFirst) {
  std::vector<std::string> calls;
  int a = 0, b = 0;
  cp.RegisterUser(
      [&](TKvCustomComPort &, bool o) { calls.push_back(std::string("a") + (o ? "+" : "-")); }, &a);
  cp.RegisterUser(
      [&](TKvCustomComPort &, bool o) { calls.push_back(std::string("b") + (o ? "+" : "-")); }, &b);
  cp.SetOpen(true);
  cp.SetOpen(false);
  cp.DeregisterUser(&b);
  cp.SetOpen(true);
  cp.DeregisterUser(&a);
  EXPECT_EQ(calls, (std::vector<std::string>{"b+", "a+", "b-", "a-", "a+"}));
}

TEST_F(ComPort, LoadingDefersTheOpen) {
  cp.BeginLoading();
  cp.SetOpen(true);
  EXPECT_FALSE(cp.Open());
  cp.Loaded();
  EXPECT_TRUE(cp.Open());
}

TEST_F(ComPort, VanishedLineReportsAndCloses) {
  cp.SetOpen(true);
  int modem = 0;
  cp.OnTriggerModemStatus = [&](TKvCustomComPort &) { ++modem; };
  int h = cp.AddStatusTrigger(stModem);
  cp.SetStatusTrigger(h, msDSR | msCTS, true);
  pty.closeMaster();
  ASSERT_TRUE(pumpUntil([&] { return modem == 1; }));
  EXPECT_THROW(cp.PutString("ATH\r"), EPutBlockFail);
  cp.SetOpen(false);
  EXPECT_FALSE(cp.Open());
}
