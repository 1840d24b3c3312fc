// Trace and dispatch log files, byte for byte.
#include <gtest/gtest.h>

#include <cstdio>

#include "comm/trace_log.h"
#include "comm_test_util.h"

using namespace kv;
using kvtest::readFile;
using kvtest::tempPath;

namespace {

void traceBytes(TraceRing &t, char letter, const std::string &s) {
  for (char c : s) t.add(letter, std::uint8_t(c));
}

}  // namespace

TEST(TraceFile, TransmitThenReceiveHexAndDecimal) {
  for (bool hex : {true, false}) {
    TraceRing t;
    ASSERT_EQ(t.start(100), ecOK);
    traceBytes(t, 'T', "ATZ\r");
    traceBytes(t, 'R', "OK\r\n");
    std::string file = tempPath(hex ? "hex.trc" : "dec.trc");
    ASSERT_EQ(t.dump(file, false, hex), ecOK);
    std::string want = hex ? "Transmit: \r\nATZ[0D]\r\n\r\nReceive: \r\nOK[0D][0A]"
                           : "Transmit: \r\nATZ[13]\r\n\r\nReceive: \r\nOK[13][10]";
    EXPECT_EQ(readFile(file), want);
    EXPECT_FALSE(t.allocated());
    std::remove(file.c_str());
  }
}

TEST(TraceFile, SpaceIsEscapedOnlyInHexAndOtherLettersAreSpecial) {
  TraceRing t;
  t.start(10);
  t.add('T', ' ');
  t.add('X', 5);
  t.add('X', 200);
  std::string file = tempPath("special.trc");
  t.dump(file, false, true);
  EXPECT_EQ(readFile(file), "Transmit: \r\n[20]\r\n\r\nSpecial-X: \r\n[05][C8]");
  t.start(10);
  t.add('T', ' ');
  t.add('T', 5);
  t.add('T', 50);
  t.add('T', 200);
  t.dump(file, false, false);
  EXPECT_EQ(readFile(file), "Transmit: \r\n [5]2[200]");
  std::remove(file.c_str());
}

TEST(TraceFile, WrappedRingStartsAtOldestAndLinesStopAt78) {
  TraceRing t;
  t.start(4);
  traceBytes(t, 'T', "ABCDEF");  // A and B are overwritten
  std::string file = tempPath("wrap.trc");
  t.dump(file, false, true);
  EXPECT_EQ(readFile(file), "Transmit: \r\nCDEF");

  t.start(200);
  traceBytes(t, 'R', std::string(80, 'x'));
  t.add('R', 0);  // width 4 does not fit after 78 characters
  t.dump(file, false, true);
  std::string want = "Receive: \r\n" + std::string(78, 'x') + "\r\nxx[00]";
  EXPECT_EQ(readFile(file), want);

  t.start(200);
  traceBytes(t, 'R', std::string(76, 'x'));
  t.add('R', 0);  // 80 > 78: the escape goes whole onto the next line
  t.dump(file, false, true);
  EXPECT_EQ(readFile(file), "Receive: \r\n" + std::string(76, 'x') + "\r\n[00]");
  std::remove(file.c_str());
}

TEST(TraceFile, EmptyTraceWritesNoFileAndAppendAppends) {
  TraceRing t;
  t.start(10);
  std::string file = tempPath("empty.trc");
  std::remove(file.c_str());
  EXPECT_EQ(t.dump(file, false, true), ecOK);
  EXPECT_EQ(readFile(file), "");
  EXPECT_NE(access(file.c_str(), F_OK), 0);

  t.start(10);
  traceBytes(t, 'T', "A");
  t.dump(file, true, true);
  t.start(10);
  traceBytes(t, 'T', "B");
  t.dump(file, true, true);
  EXPECT_EQ(readFile(file), "Transmit: \r\nATransmit: \r\nB");
  std::remove(file.c_str());
}

TEST(TraceFile, UnwritableFileFreesRingAndReportsPath) {
  TraceRing t;
  t.start(10);
  traceBytes(t, 'T', "A");
  EXPECT_EQ(t.dump("/nonexistent-dir/x.trc", false, true), ecPathNotFound);
  EXPECT_FALSE(t.allocated());
}

TEST(TraceFile, PausedRingKeepsEntriesButAddsNone) {
  TraceRing t;
  t.start(10);
  traceBytes(t, 'T', "A");
  t.setOn(false);
  traceBytes(t, 'T', "B");
  t.setOn(true);
  traceBytes(t, 'T', "C");
  std::string file = tempPath("pause.trc");
  t.dump(file, false, true);
  EXPECT_EQ(readFile(file), "Transmit: \r\nAC");
  std::remove(file.c_str());
}

static const char kLogHead[] =
    "Time      Type      SubType       Data  OtherData\r\n"
    "----      ----      -------       ----  ---------\r\n";

TEST(DispatchLog, ColumnsPaddingAndModemStatusNames) {
  LogRing l;
  l.start(1000, 0);
  l.add(2, 5, 1234, 0x1A, nullptr, 0);
  l.add(1, 2, 99999999, 3, "AT\r", 3);
  l.add(2, 4, 123456789, 0x91, nullptr, 0);
  std::string file = tempPath("cols.log");
  ASSERT_EQ(l.dump(file, false, true), ecOK);
  std::string want = std::string(kLogHead) +
                     "00001234  trigger   avail         001A  \r\n"
                     "99999999  dispatch  writecom      0003  AT[0D]\r\n"
                     "123456789  trigger   modem status  0091  \r\n" +
                     std::string(40, ' ') + "DCTS CTS DCD \r\n";
  EXPECT_EQ(readFile(file), want);
  EXPECT_FALSE(l.allocated());
  std::remove(file.c_str());
}

TEST(DispatchLog, LongExtraDataWrapsUnderOtherData) {
  LogRing l;
  l.start(1000, 0);
  std::string data(40, 'a');
  data += '\x01';
  l.add(1, 1, 7, 41, data.data(), std::uint16_t(data.size()));
  std::string file = tempPath("wrap.log");
  l.dump(file, false, false);
  // Columns 41..78 take 38 bytes; then the line ends and the rest sits under OtherData.
  std::string want = std::string(kLogHead) + "00000007  dispatch  readcom       0029  " +
                     std::string(38, 'a') + "\r\n" + std::string(40, ' ') + "aa[1]\r\n";
  EXPECT_EQ(readFile(file), want);
  std::remove(file.c_str());
}

TEST(DispatchLog, FullRingDropsOldestAndOversizeKeepsHeaderOnly) {
  LogRing l;
  l.start(40, 0);  // room for three bare headers
  for (int i = 1; i <= 5; ++i) l.add(2, 6, std::uint32_t(i), std::uint16_t(i), nullptr, 0);
  std::string big(100, 'z');
  l.add(1, 2, 6, 100, big.data(), std::uint16_t(big.size()));
  std::string file = tempPath("full.log");
  l.dump(file, false, true);
  std::string want = std::string(kLogHead) +
                     "00000004  trigger   timer         0004  \r\n"
                     "00000005  trigger   timer         0005  \r\n"
                     "00000006  dispatch  writecom      0064  \r\n";
  EXPECT_EQ(readFile(file), want);

  // An unwritable file keeps the ring for another try.
  l.start(40, 0);
  l.add(2, 6, 1, 1, nullptr, 0);
  EXPECT_EQ(l.dump("/nonexistent-dir/x.log", false, true), ecPathNotFound);
  EXPECT_TRUE(l.allocated());
  std::remove(file.c_str());
}
