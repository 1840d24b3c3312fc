// The port layer over pseudo-terminals: opening, the table, rings, line settings, lost devices.
#include <gtest/gtest.h>
#include <sys/file.h>

#include <filesystem>

#include "comm/port_layer.h"
#include "comm_test_util.h"

using namespace kv;
using kvtest::Pty;

namespace {

int openPty(const Pty &p, std::uint16_t outSize = 4096) {
  int port = 0;
  Result r = OpenPort(port, SerialDeviceLayer(), p.slave, 4096, outSize, 19200, 0, 8, 1);
  EXPECT_EQ(r, ecOK);
  return port;
}

}  // namespace

TEST(PortLayer, OpenErrors) {
  int port = 0;
  EXPECT_EQ(OpenPort(port, SerialDeviceLayer(), "/dev/does-not-exist", 4096, 4096, 19200, 0, 8, 1),
            ecFileNotFound);
  EXPECT_EQ(port, 0);
  EXPECT_EQ(OpenPort(port, SerialDeviceLayer(), "/dev/null", 4096, 4096, 19200, 0, 8, 1), ecBadId);
  EXPECT_EQ(OpenPort(port, nullptr, "/dev/null", 4096, 4096, 19200, 0, 8, 1), ecNullApi);
  EXPECT_EQ(OpenPortCount(), 0);

  Pty p;
  int a = openPty(p);
  ASSERT_GT(a, 0);
  // A second open of the same line, by us or by anyone using flock, is refused as "in use".
  EXPECT_EQ(OpenPort(port, SerialDeviceLayer(), p.slave, 4096, 4096, 19200, 0, 8, 1),
            ecAlreadyOpen);
  EXPECT_EQ(ClosePort(a), ecOK);
  EXPECT_EQ(ClosePort(a), ecBadHandle);

  // An unsupported baud rate leaves no port behind.
  EXPECT_EQ(OpenPort(port, SerialDeviceLayer(), p.slave, 4096, 4096, 12345, 0, 8, 1),
            ecNotSupported);
  EXPECT_EQ(OpenPortCount(), 0);
}

TEST(PortLayer, FiftyFirstOpenFailsAndSlotsAreReused) {
  std::vector<std::unique_ptr<Pty>> ptys;
  std::vector<int> ports;
  for (int i = 0; i < kMaxPorts; ++i) {
    ptys.push_back(std::make_unique<Pty>());
    ports.push_back(openPty(*ptys.back()));
    ASSERT_EQ(ports.back(), i + 1);
  }
  Pty extra;
  int port = 0;
  EXPECT_EQ(OpenPort(port, SerialDeviceLayer(), extra.slave, 4096, 4096, 19200, 0, 8, 1),
            ecNoHandles);
  EXPECT_EQ(ClosePort(7), ecOK);
  EXPECT_EQ(OpenPort(port, SerialDeviceLayer(), extra.slave, 4096, 4096, 19200, 0, 8, 1), ecOK);
  EXPECT_EQ(port, 7);
  ports[6] = port;
  for (int p : ports) EXPECT_EQ(ClosePort(p), ecOK);
  EXPECT_EQ(OpenPortCount(), 0);
}

TEST(PortLayer, BadHandles) {
  char c;
  EXPECT_EQ(PutString(0, "x"), ecBadHandle);
  EXPECT_EQ(PutString(51, "x"), ecBadHandle);
  EXPECT_EQ(GetChar(3, c), ecBadHandle);
  EXPECT_EQ(CharReady(3), 0);
  EXPECT_EQ(InBuffUsed(3), 0);
  EXPECT_EQ(AddTimerTrigger(3), ecBadHandle);
}

TEST(PortLayer, DataBothWaysAndPeek) {
  Pty p;
  int port = openPty(p);
  EXPECT_EQ(PutString(port, "ATZ\r"), 4);
  EXPECT_EQ(p.read(4), "ATZ\r");
  p.write("OK\r\n");
  ASSERT_TRUE(kvtest::waitFor([&] { return InBuffUsed(port) == 4; }));
  char c = 0;
  EXPECT_EQ(PeekChar(port, 2, c), ecOK);
  EXPECT_EQ(c, 'K');
  EXPECT_EQ(PeekChar(port, 5, c), ecBufferIsEmpty);
  std::string got;
  while (CharReady(port)) {
    ASSERT_EQ(GetChar(port, c), ecOK);
    got += c;
  }
  EXPECT_EQ(got, "OK\r\n");
  EXPECT_EQ(GetChar(port, c), ecBufferIsEmpty);
  EXPECT_EQ(PutBlock(port, "", 0), 0);
  ClosePort(port);
}

TEST(PortLayer, OutputRingFullAtExactlyTheFreeSpace) {
  Pty p;
  // Fill the pty until it takes nothing more, so the output ring cannot drain.
  int port = openPty(p, 1000);
  std::string junk(4096, 'j');
  while (OutBuffUsed(port) == 0) {
    PutBlock(port, junk.data(), 300);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  // Let the output thread settle against the full device.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  int freeBytes = OutBuffFree(port);
  ASSERT_GT(freeBytes, 1);
  std::string block(std::size_t(freeBytes) + 1, 'b');
  EXPECT_EQ(PutBlock(port, block.data(), block.size()), ecOutputBufferTooSmall);
  EXPECT_EQ(OutBuffFree(port), freeBytes);  // nothing was written
  EXPECT_EQ(PutBlock(port, block.data(), std::size_t(freeBytes)), freeBytes);
  EXPECT_EQ(OutBuffFree(port), 0);
  EXPECT_EQ(OutBuffUsed(port), 1000);
  EXPECT_EQ(PutChar(port, 'x'), ecOutputBufferTooSmall);
  EXPECT_EQ(FlushOutBuffer(port), ecOK);
  EXPECT_EQ(OutBuffUsed(port), 0);
  ClosePort(port);
}

TEST(PortLayer, ClosingWithAWriteThatNeverCompletes) {
  Pty p;  // nobody reads the far end: the device fills and stays full
  int port = openPty(p, 8192);
  std::string junk(4096, 'j');
  for (int i = 0; i < 200 && OutBuffUsed(port) == 0; ++i) {
    PutBlock(port, junk.data(), junk.size());
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_GT(OutBuffUsed(port), 0);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ClosePort(port), ecOK);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
  EXPECT_EQ(OpenPortCount(), 0);
}

TEST(PortLayer, OutputWrapsAroundTheRing) {
  Pty p;
  int port = openPty(p, 100);
  std::string all;
  for (int i = 0; i < 30; ++i) {
    std::string piece = "piece" + std::to_string(i) + ";";
    while (PutString(port, piece) == ecOutputBufferTooSmall)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    all += piece;
  }
  EXPECT_EQ(p.read(all.size()), all);
  ClosePort(port);
}

TEST(PortLayer, InputLargerThanTheRingIsKeptInOrder) {
  Pty p;
  int port = openPty(p);
  std::string sent;
  for (int i = 0; sent.size() < 3 * kInRingSize; ++i) sent += std::to_string(i) + ",";
  std::thread writer([&] { p.write(sent); });
  std::string got;
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (got.size() < sent.size() && std::chrono::steady_clock::now() < end) {
    char c;
    if (GetChar(port, c) == ecOK)
      got += c;
    else
      WaitForInput(port, 50);
  }
  writer.join();
  EXPECT_EQ(got, sent);
  ClosePort(port);
}

TEST(PortLayer, InputEndingExactlyAtTheRingEndIsNotAHangUp) {
  Pty p;
  int port = openPty(p);
  p.write(std::string(100, 'a'));
  ASSERT_TRUE(kvtest::waitFor([&] { return InBuffUsed(port) == 100; }));
  FlushInBuffer(port);
  // The next read fills the ring up to its end and finds the device empty after it.
  p.write(std::string(kInRingSize - 100, 'b'));
  ASSERT_TRUE(kvtest::waitFor([&] { return InBuffUsed(port) == int(kInRingSize) - 100; }));
  EXPECT_FALSE(DeviceLost(port));
  p.write("z");
  ASSERT_TRUE(kvtest::waitFor([&] { return InBuffUsed(port) == int(kInRingSize) - 99; }));
  ClosePort(port);
}

TEST(PortLayer, LineSettingsReadBack) {
  Pty p;
  int port = openPty(p);
  LineValues v;
  ASSERT_EQ(GetLine(port, v), ecOK);
  EXPECT_EQ(v.baud, 19200u);
  EXPECT_EQ(v.dataBits, 8);
  EXPECT_EQ(v.stopBits, 1);
  // 0 keeps the baud, parity 5 and data bits 9 and stop bits 3 keep theirs.
  EXPECT_EQ(SetLine(port, 0, 2, 9, 2), ecOK);
  GetLine(port, v);
  EXPECT_EQ(v.baud, 19200u);
  EXPECT_EQ(v.parity, 2);
  EXPECT_EQ(v.dataBits, 8);
  EXPECT_EQ(v.stopBits, 2);
  EXPECT_EQ(SetLine(port, 115200, 5, 7, 3), ecOK);
  GetLine(port, v);
  EXPECT_EQ(v.baud, 115200u);
  EXPECT_EQ(v.parity, 2);
  EXPECT_EQ(v.dataBits, 7);
  EXPECT_EQ(v.stopBits, 2);
  EXPECT_EQ(SetLine(port, 14401, 0, 8, 1), ecNotSupported);
  ClosePort(port);
}

TEST(PortLayer, FlowControlArgumentsAndOptions) {
  Pty p;
  int port = openPty(p);
  EXPECT_EQ(HWFlowEnable(port, 100, 200, hfUseRTS | hfRequireCTS), ecBadArgument);
  EXPECT_EQ(HWFlowEnable(port, 5000, 200, hfUseRTS), ecBadArgument);  // above the in size
  EXPECT_EQ(HWFlowEnable(port, 3686, 409, hfUseRTS | hfRequireCTS), ecOK);
  EXPECT_EQ(HWFlowDisable(port), ecOK);
  EXPECT_EQ(SWFlowEnable(port, 3000, 1000, sfTransmitFlow | sfReceiveFlow), ecOK);
  EXPECT_EQ(SWFlowDisable(port), ecOK);
  EXPECT_EQ(SetModem(port, false, false), ecOK);
  EXPECT_EQ(GetPortOptions(port), poDirectRead);
  SetPortOptions(port, poUseMSRShadow | poUseEventWord);  // bit 1 is never set
  EXPECT_EQ(GetPortOptions(port), poDirectRead | poUseEventWord);
  ClearPortOptions(port, poDirectRead);
  EXPECT_EQ(GetPortOptions(port), poUseEventWord);
  void *ptr = nullptr;
  int x = 0;
  EXPECT_EQ(SetDataPointer(port, &x, 2), ecOK);
  EXPECT_EQ(GetDataPointer(port, ptr, 2), ecOK);
  EXPECT_EQ(ptr, &x);
  EXPECT_EQ(SetDataPointer(port, &x, 11), ecBadArgument);
  EXPECT_EQ(GetDataPointer(port, ptr, 0), ecBadArgument);
  ClosePort(port);
}

TEST(PortLayer, PtyLinesReadAsReadyWithoutCarrier) {
  Pty p;
  int port = openPty(p);
  EXPECT_EQ(GetModemStatus(port, 0xFF) & 0xF0, msCTS | msDSR);
  EXPECT_EQ(CheckDCD(port), 0);
  ClosePort(port);
}

TEST(PortLayer, LineErrorsAndBreak) {
  auto dev = std::make_shared<kvtest::FakeLineDevice>();
  Pty p;
  int port = 0;
  ASSERT_EQ(OpenPort(port, dev, p.slave, 4096, 4096, 19200, 0, 8, 1), ecOK);
  dev->lineError(leParity | leBreak);
  ASSERT_TRUE(kvtest::waitFor([&] { return GetLineError(port) == 3; }));
  // Parity is cleared; the break stays until CheckLineBreak takes it.
  EXPECT_EQ(CheckLineBreak(port), 1);
  EXPECT_EQ(CheckLineBreak(port), 0);
  EXPECT_EQ(GetLineError(port), 0);
  dev->lineError(leFraming);
  ASSERT_TRUE(kvtest::waitFor([&] { return GetLineError(port) == 4; }));
  ClosePort(port);
}

TEST(PortLayer, VanishedDeviceFailsWritesAndClosesCleanly) {
  Pty p;
  int port = openPty(p);
  p.write("AB");
  ASSERT_TRUE(kvtest::waitFor([&] { return InBuffUsed(port) == 2; }));
  p.closeMaster();
  ASSERT_TRUE(kvtest::waitFor([&] { return DeviceLost(port); }));
  EXPECT_EQ(PutString(port, "ATH\r"), ecPutBlockFail);
  char c;
  EXPECT_EQ(GetChar(port, c), ecOK);  // what had arrived is still there
  EXPECT_EQ(c, 'A');
  EXPECT_EQ(GetModemStatus(port, 0xFF) & 0xF0, 0);
  EXPECT_EQ(ClosePort(port), ecOK);
  EXPECT_EQ(OpenPortCount(), 0);
}

TEST(PortLayer, ExclusiveAgainstOtherPrograms) {
  Pty p;
  int fd = ::open(p.slave.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
  int port = 0;
  EXPECT_EQ(OpenPort(port, SerialDeviceLayer(), p.slave, 4096, 4096, 19200, 0, 8, 1),
            ecAlreadyOpen);
  ::close(fd);
  EXPECT_EQ(OpenPort(port, SerialDeviceLayer(), p.slave, 4096, 4096, 19200, 0, 8, 1), ecOK);
  ClosePort(port);
}

TEST(PortLayer, TraceAndLogThroughThePort) {
  Pty p;
  int port = openPty(p);
  ASSERT_EQ(InitTracing(port, 100), ecOK);
  ASSERT_EQ(InitEventLogging(port, 1000), ecOK);
  PutString(port, "ATZ\r");
  p.write("OK\r\n");
  ASSERT_TRUE(kvtest::waitFor([&] { return InBuffUsed(port) == 4; }));
  char c;
  while (GetChar(port, c) == ecOK) {
  }
  std::string trc = kvtest::tempPath("port.trc"), log = kvtest::tempPath("port.log");
  EXPECT_EQ(DumpTrace(port, trc, false, true), ecOK);
  EXPECT_EQ(kvtest::readFile(trc), "Transmit: \r\nATZ[0D]\r\n\r\nReceive: \r\nOK[0D][0A]");
  EXPECT_EQ(DumpTrace(port, trc, false, true), ecTracingNotEnabled);
  EXPECT_EQ(DumpDispatchLog(port, log, false, true), ecOK);
  std::string text = kvtest::readFile(log);
  EXPECT_NE(text.find("  dispatch  writecom      0004  ATZ[0D]\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("  dispatch  readcom       "), std::string::npos) << text;
  std::remove(trc.c_str());
  std::remove(log.c_str());
  ClosePort(port);
}

TEST(PortLayer, OpenCloseCyclesLeakNoDescriptors) {
  auto fds = [] {
    int n = 0;
    for ([[maybe_unused]] auto &e : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
    return n;
  };
  Pty p;
  int before = fds();
  for (int i = 0; i < 100; ++i) {
    int port = openPty(p);
    PutString(port, "AT\r");
    InitTracing(port, 100);
    ASSERT_EQ(ClosePort(port), ecOK);
  }
  EXPECT_EQ(fds(), before);
  p.read(300, 200);
}

TEST(PortLayer, AttachedHandleIsReleasedNotClosed) {
  Pty p;
  int fd = ::open(p.slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(fd, 0);
  int port = 0;
  ASSERT_EQ(AttachPort(port, SerialDeviceLayer(), fd, 4096, 4096), ecOK);
  p.write("hi");
  ASSERT_TRUE(kvtest::waitFor([&] { return InBuffUsed(port) == 2; }));
  EXPECT_EQ(PutString(port, "yo"), 2);
  EXPECT_EQ(p.read(2), "yo");
  EXPECT_EQ(ClosePort(port), ecOK);
  EXPECT_EQ(::write(fd, "z", 1), 1);  // still ours
  ::close(fd);
}

TEST(PortLayer, BuildLineFromText) {
  LineSettings ls;
  auto dev = SerialDeviceLayer();
  EXPECT_EQ(dev->buildLine("9600,E,7,2", ls), ecOK);
  EXPECT_EQ(ls.baud, 9600u);
  EXPECT_EQ(ls.parity, 2);
  EXPECT_EQ(ls.dataBits, 7);
  EXPECT_EQ(ls.stopBits, 2);
  EXPECT_EQ(dev->buildLine("abc", ls), ecBaudRate);
  EXPECT_EQ(dev->buildLine("9600,Q", ls), ecDefault);
  EXPECT_EQ(dev->buildLine("9600,N,9", ls), ecByteSize);
  EXPECT_EQ(ls.baud, 9600u);  // a rejected text changes nothing
}

TEST(PortLayer, DeviceNamesFromSettings) {
  EXPECT_EQ(PortDeviceName(1), "/dev/ttyS0");
  SetPortDeviceResolver([](int n) { return n == 3 ? std::string("/dev/ttyUSB0") : std::string(); });
  EXPECT_EQ(PortDeviceName(3), "/dev/ttyUSB0");
  EXPECT_EQ(PortDeviceName(4), "/dev/ttyS3");
  SetPortDeviceResolver(nullptr);
}
