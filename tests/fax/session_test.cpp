// Send and receive sessions against scripted modem dialogues: the good paths byte for byte,
// and each way a call can go wrong ending with its code, its log records and a usable port.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "base/error_text.h"
#include "fax/receive_fax.h"
#include "fax/send_fax.h"
#include "faximage/apf_file.h"
#include "faximage/t4_coder.h"
#include "faximage/t4_stream.h"
#include "modem_scripts.h"
#include "session_support.h"
#include "support/dial.h"
#include "support/temp_files.h"

namespace kv {
namespace {

namespace fs = std::filesystem;
using namespace test;  // the dialogue pieces
using test::Outcome;
using test::SessionRig;

// An APF file of `pages` pages of normal width; `draw` marks line y of page p. Returns every
// line as written.
using Lines = std::vector<std::vector<std::uint8_t>>;
Lines writeApf(const std::string &path, int pages, bool fine, int height,
               void (*draw)(std::vector<std::uint8_t> &line, int p, int y)) {
  Lines lines;
  ApfWriter w;
  EXPECT_EQ(w.create(path), ecOK);
  for (int p = 0; p < pages; ++p) {
    EXPECT_EQ(w.beginPage(fine, false), ecOK);
    for (int y = 0; y < height; ++y) {
      std::vector<std::uint8_t> line(216, 0);
      draw(line, p, y);
      EXPECT_EQ(w.writeLine(line.data()), ecOK);
      lines.push_back(line);
    }
    EXPECT_EQ(w.endPage(), ecOK);
  }
  EXPECT_EQ(w.finish("SENDER"), ecOK);
  return lines;
}

// A fax of `pages` pages of 40 lines each, with a diagonal bar so that lines differ.
Lines makeApf(const std::string &path, int pages, bool fine) {
  return writeApf(path, pages, fine, 40, [](std::vector<std::uint8_t> &line, int p, int y) {
    for (int x = 0; x < 8; ++x) line[std::size_t((y * 5 + p * 3 + x) % 216)] = 0xFF;
  });
}

std::vector<std::vector<std::uint8_t>> decodeLines(const std::string &data) {
  std::vector<std::vector<std::uint8_t>> out;
  T4Decoder dec([&](const std::uint8_t *l, std::size_t n) { out.emplace_back(l, l + n); });
  dec.feed(reinterpret_cast<const std::uint8_t *>(data.data()), data.size());
  dec.finish();
  return out;
}

class SendSession : public ::testing::Test {
 protected:
  SendSession() {
    fax.FaxClass = fcClass1;
    fax.PhoneNumber = test::dialString("5551234");
    fax.StationID = "my id";
    fax.SetDialRetryWait(1);
    fax.FaxFile = dir.file("out.apf");
    log.FaxHistoryName = dir.file("KVFAX.HIS");
    fax.FaxLog = &log;
  }
  Outcome send(const std::string &script) {
    return rig.run(script, fax, [&] { fax.BeginTransmit(); });
  }
  // Two faxes of FaxFile through OnFaxNext: to 111 first, then to 5551234.
  void twoFaxes() {
    fax.OnFaxNext = [this, file = fax.FaxFile](TKvSendFax &, DialString &phone, std::string &f,
                                               std::string &) {
      ++asked;
      if (asked == 1) phone = test::dialString("111");
      if (asked == 2) phone = test::dialString("5551234");
      if (asked <= 2) f = file;
    };
  }
  int asked = 0;
  SessionRig rig;
  TempDir dir;
  TKvSendFax fax;
  TKvFaxLog log;
};

TEST_F(SendSession, TwoPagesGoOutWholeAndInOrder) {
  auto lines = makeApf(fax.FaxFile, 2, false);
  std::string script = kSendInit + negotiation() + pageAndEnd(false) + pageAndEnd(true);
  Outcome o = send(script);
  ASSERT_TRUE(o.finished);
  EXPECT_EQ(o.code, 0) << o.report.describe();
  ASSERT_TRUE(o.report.ok()) << o.report.describe();
  EXPECT_EQ(o.logs, (std::vector<int>{lcTransmitStart, lcTransmitOk}));
  // The far end's id as T.30 sends it, read back to front: right-aligned in 20 places.
  EXPECT_EQ(fax.PartnerID(), std::string(13, ' ') + "FAR END");
  EXPECT_EQ(fax.LineRate(), 9600);

  const auto &d = o.report.data;
  ASSERT_EQ(d.size(), 8u);
  // The station id goes out reversed behind the TSI control field, upper-cased, the blanks last.
  EXPECT_EQ(d[0].substr(0, 3), "\xFF\x03\x43");
  EXPECT_EQ(d[0].substr(3), "DI YM" + std::string(15, ' '));
  EXPECT_EQ(static_cast<unsigned char>(d[1][2]), 0x83);  // DCS
  EXPECT_EQ(static_cast<unsigned char>(d[1][4]), 0x06);  // 9600, normal resolution
  EXPECT_EQ(d[2], std::string(1728, '\0'));              // 1.5 s of zeros at 9600
  // Each page: eight blank lines, then every line of the file exactly.
  for (int p = 0; p < 2; ++p) {
    auto got = decodeLines(d[3 + std::size_t(p) * 2]);
    ASSERT_EQ(got.size(), 48u) << p;
    for (int y = 0; y < 40; ++y)
      EXPECT_EQ(got[8 + std::size_t(y)], lines[std::size_t(p * 40 + y)]) << p << "/" << y;
  }
  EXPECT_EQ(d[4], "\xFF\x13\x4F");  // MPS after page 1
  EXPECT_EQ(d[6], "\xFF\x13\x2F");  // EOP after page 2
  EXPECT_EQ(d[7], "\xFF\x13\xFB");  // DCN

  std::ifstream his(log.FaxHistoryName);
  std::string all((std::istreambuf_iterator<char>(his)), {});
  EXPECT_NE(all.find("Transmit " + fax.FaxFile + " to 5551234 started at"), std::string::npos);
  EXPECT_NE(all.find("Transmit to " + fax.PartnerID() + " finished OK"), std::string::npos);
}

// The names of the states entered, as the port's dispatch log has them.
std::vector<std::string> loggedStates(const std::string &file) {
  std::ifstream in(file);
  std::vector<std::string> out;
  for (std::string line; std::getline(in, line);) {
    if (line.find("  dispatch  state ") == std::string::npos) continue;
    auto name = line.substr(40);
    while (!name.empty() && (name.back() == '\r' || name.back() == ' ')) name.pop_back();
    out.push_back(name);
  }
  return out;
}

TEST_F(SendSession, EveryStateEnteredIsInTheDispatchLogByName) {
  makeApf(fax.FaxFile, 1, false);
  rig.dispatchLog = dir.file("dispatch.log");
  Outcome o = send(kSendInit + negotiation() + pageAndEnd(true));
  ASSERT_EQ(o.code, 0) << o.report.describe();
  EXPECT_EQ(
      loggedStates(rig.dispatchLog),
      (std::vector<std::string>{
          "Setup",      "C1SelectClass", "Dial",      "C1DialResult", "C1SendTSI",     "C1SendDCS",
          "C1DcsSent",  "C1SendTCF",     "C1TcfSent", "C1WaitCFR",    "C1PageConnect", "WaitXon",
          "PageReady",  "PageHeader",    "PageStart", "PageData",     "PageFlush",     "C1PageSent",
          "C1PostPage", "C1SendPPM",     "C1PpmSent", "C1WaitPPR",    "C1SendDCN",     "C1DcnSent",
          "C1Hangup",   "FaxDone",       "NextFax",   "NoMoreFaxes",  "Final"}));
}

TEST_F(SendSession, HeaderLineIsDrawnAboveThePage) {
  makeApf(fax.FaxFile, 1, false);
  fax.HeaderLine = "Page $P of $N";
  Outcome o = send(kSendInit + negotiation() + pageAndEnd(true));
  ASSERT_EQ(o.code, 0) << o.report.describe();
  auto got = decodeLines(o.report.data[3]);
  ASSERT_EQ(got.size(), 8u + 16u + 40u);
  int black = 0;
  for (int y = 8; y < 24; ++y)
    for (auto b : got[std::size_t(y)]) black += __builtin_popcount(b);
  EXPECT_GT(black, 100);  // "Page 1 of 1" in the fax font
}

struct DialCase {
  const char *reply;
  Result code;
};

class DialResult : public SendSession, public ::testing::WithParamInterface<DialCase> {};

TEST_P(DialResult, EndsTheFaxWithItsCode) {
  makeApf(fax.FaxFile, 1, false);
  std::string script = std::string(kSendInit) + "> ATDT5551234\nwait 100\n< " + GetParam().reply +
                       "\n> ATH0\n< OK\n";
  Outcome o = send(script);
  ASSERT_TRUE(o.finished);
  EXPECT_EQ(o.code, GetParam().code);
  EXPECT_TRUE(o.report.ok()) << o.report.describe();
  EXPECT_EQ(o.logs, (std::vector<int>{lcTransmitStart, lcTransmitFail}));
}

INSTANTIATE_TEST_SUITE_P(Replies, DialResult,
                         ::testing::Values(DialCase{"NO DIALTONE", ecFaxNoDialTone},
                                           DialCase{"VOICE", ecFaxVoiceCall},
                                           DialCase{"NO CARRIER", ecFaxNoCarrier},
                                           DialCase{"NO ANSWER", ecFaxNoCarrier},
                                           DialCase{"ERROR", ecFaxBadModemResult}));

TEST_F(SendSession, BusyIsRedialledThenGivenUp) {
  makeApf(fax.FaxFile, 1, false);
  fax.DialAttempts = 2;
  std::string script = std::string(kSendInit) +
                       "> ATDT5551234\n< BUSY\n"
                       "> ATDT5551234\n< BUSY\n";
  Outcome o = send(script);
  ASSERT_TRUE(o.finished);
  EXPECT_EQ(o.code, ecFaxBusy);
  EXPECT_TRUE(o.report.ok()) << o.report.describe();
  EXPECT_EQ(o.logs, (std::vector<int>{lcTransmitStart, lcTransmitFail}));
}

// A caller ringing in while we dial: the modem reports RING and refuses or drops the dial. That
// attempt counts, and the fax goes out on the next one after the retry pause.
struct IncomingCase {
  const char *name;
  std::string upToDial;    // the dialogue before ATDT
  std::string dialAnswer;  // the modem's answer to the first ATDT
};

class IncomingCall : public SendSession, public ::testing::WithParamInterface<IncomingCase> {};

TEST_P(IncomingCall, IsRedialledAfterThePause) {
  makeApf(fax.FaxFile, 1, false);
  Outcome o = send(GetParam().upToDial + "> ATDT5551234\n" + GetParam().dialAnswer + negotiation() +
                   pageAndEnd(true));
  ASSERT_TRUE(o.finished);
  EXPECT_EQ(o.code, 0) << o.report.describe();
  EXPECT_TRUE(o.report.ok()) << o.report.describe();
  EXPECT_EQ(fax.DialAttempt(), 2);
  EXPECT_EQ(o.logs, (std::vector<int>{lcTransmitStart, lcTransmitOk}));
}

INSTANTIATE_TEST_SUITE_P(
    Rings, IncomingCall,
    ::testing::Values(IncomingCase{"RingInTheDialAnswer", kSendInit, "< RING\n< ERROR\n"},
                      // As the simulated line does it: the RING comes first, the dial is refused.
                      IncomingCase{"RingBeforeTheDial", kSendInit + "< RING\n", "< ERROR\n"},
                      IncomingCase{"RingBeforeTheClassAnswer",
                                   kSendPrep + "> AT+FCLASS=1\n< RING\n< OK\n", "< ERROR\n"},
                      IncomingCase{"RingThenNoCarrier", kSendInit, "< RING\n< NO CARRIER\n"},
                      // The ring before the dial came before the port was open: the next one tells.
                      IncomingCase{"RingAfterTheRefusedDial", kSendInit,
                                   "< ERROR\nwait 100\n< RING\n"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(SendSession, IncomingCallOnEveryAttemptEndsWithItsOwnReason) {
  makeApf(fax.FaxFile, 1, false);
  fax.DialAttempts = 2;
  Outcome o = send(kSendInit + "> ATDT5551234\n< RING\n< ERROR\n> ATDT5551234\n< RING\n< ERROR\n");
  ASSERT_TRUE(o.finished);
  EXPECT_EQ(o.code, ecFaxIncomingCall);
  EXPECT_EQ(errorText(o.code), "The line is busy with an incoming call");
  EXPECT_TRUE(o.report.ok()) << o.report.describe();
  EXPECT_EQ(o.logs, (std::vector<int>{lcTransmitStart, lcTransmitFail}));
}

TEST_F(SendSession, GarbageAndOverlongLinesAreDropped) {
  makeApf(fax.FaxFile, 1, false);
  std::string script = std::string(kSendInit) + "> ATDT5551234\n<raw \\x01\\x02zz\\r\\n\n<raw " +
                       std::string(400, 'Q') + "\\r\\n\n< NO CARRIER\n> ATH0\n< OK\n";
  Outcome o = send(script);
  EXPECT_EQ(o.code, ecFaxNoCarrier);
  EXPECT_TRUE(o.report.ok()) << o.report.describe();
}

TEST_F(SendSession, RemoteWithoutFineResolutionIsIncompatible) {
  makeApf(fax.FaxFile, 1, true);
  std::string script = std::string(kSendInit) + "> ATDT5551234\n< CONNECT\n<data " +
                       frameHex(0x80, true, {0x00, 0x0E, 0xF9, 0x00}) + "\n< OK\n> ATH0\n< OK\n";
  Outcome o = send(script);
  EXPECT_EQ(o.code, ecFaxBadMachine);
  EXPECT_TRUE(o.report.ok()) << o.report.describe();
}

TEST_F(SendSession, TrainingStepsDownAndFailsBelowTheLowestRate) {
  makeApf(fax.FaxFile, 1, false);
  std::string init = R"(
> ATE0Q0V1X4S0=0S2=43
< OK
> AT+FCLASS=1
< OK
> AT+FTM=?
< OK
> AT+FCLASS=1
< OK
> ATDT5551234
< CONNECT
)";
  std::string ftt = "> AT+FRH=3\n< CONNECT\n<data " + frameHex(0x44, true) + "\n< OK\n";
  std::string script = init + "<data " + frameHex(0x80, true, {0x00, 0x4E, 0xF9, 0x00}) +
                       "\n< OK\n> AT+FTH=3\n< CONNECT\n>data\n< CONNECT\n>data\n< OK\n"
                       "> AT+FTM=48\n< CONNECT\n>data\n< OK\n" +
                       ftt +
                       "> AT+FTH=3\n< CONNECT\n>data\n< OK\n"
                       "> AT+FTM=24\n< CONNECT\n>data\n< OK\n" +
                       ftt + "> ATH0\n< OK\n";
  Outcome o = send(script);
  EXPECT_EQ(o.code, ecFaxTrainError);
  EXPECT_TRUE(o.report.ok()) << o.report.describe();
  const auto &d = o.report.data;
  ASSERT_EQ(d.size(), 5u);
  EXPECT_EQ(static_cast<unsigned char>(d[3][4]) & 0x3C, 0x00);  // second DCS: 2400
  EXPECT_EQ(d[4].size(), 432u);                                 // training at 2400
}

TEST_F(SendSession, DcnInTheMiddleCancels) {
  makeApf(fax.FaxFile, 1, false);
  std::string script = std::string(kSendInit) + "> ATDT5551234\n< CONNECT\n<data " +
                       frameHex(0xFB, true) + "\n> ATH0\n< OK\n";
  Outcome o = send(script);
  EXPECT_EQ(o.code, ecCancelRequested);
  EXPECT_TRUE(o.report.ok()) << o.report.describe();
}

TEST_F(SendSession, ModemUnpluggedMidCallEndsWithoutHanging) {
  makeApf(fax.FaxFile, 1, false);
  std::string script = kSendInit + negotiation() + "> AT+FTM=96\n< CONNECT\nwait 300\nhangup\n";
  auto t0 = std::chrono::steady_clock::now();
  Outcome o = send(script);
  ASSERT_TRUE(o.finished);
  EXPECT_LT(o.code, 0);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(20));
}

TEST_F(SendSession, ModemThatStopsAnsweringTimesOut) {
  makeApf(fax.FaxFile, 1, false);
  auto t0 = std::chrono::steady_clock::now();
  Outcome o = send(kSendPrep + "> AT+FCLASS=1\nmute\n");
  ASSERT_TRUE(o.finished);
  EXPECT_EQ(o.code, ecTimeout);
  EXPECT_EQ(o.logs, (std::vector<int>{lcTransmitStart, lcTransmitFail}));
  // The 10 s reply time-out, not more.
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(15));
}

TEST_F(SendSession, BadFilesEndTheFaxWithTheirCode) {
  { std::ofstream(fax.FaxFile) << "this is not a fax file at all, just some words of text....."; }
  Outcome o = send(kSendPrep + "> ATH0\n< OK\n");
  EXPECT_EQ(o.code, ecFaxBadFormat);
  EXPECT_EQ(o.logs, (std::vector<int>{lcTransmitStart, lcTransmitFail}));
  fax.FaxFile = dir.file("missing.apf");
  o = send(kSendPrep + "> ATH0\n< OK\n");
  EXPECT_EQ(o.code, -2);
  fax.FaxFile.clear();
  o = send(kSendPrep + "> ATH0\n< OK\n");
  EXPECT_EQ(o.code, ecNoFilename);
}

TEST_F(SendSession, DetectedModemIsDrivenInItsBestClass) {
  fax.FaxClass = fcDetect;
  makeApf(fax.FaxFile, 1, false);
  int during = -1;
  fax.OnFaxStatus = [&](TKvAbstractFax &f, bool, bool) {
    // While the session runs the class query answers from memory, without a command.
    if (f.ProgressCode() == fpDialing) during = fax.DetectFaxClasses();
  };
  std::string script = R"(
> ATE0Q0V1X4S0=0S2=43
< OK
> AT+FCLASS=?
< 0,1,2,2.0
< OK
> ATE0Q0V1X4S0=0S2=43
< OK
> AT+FCLASS=2.0
< OK
> AT+FLI="MY ID"
< OK
> AT+FLO=2
< OK
> AT+FNR=1,1,1,0
< OK
> AT+FIS=0,3,0,2,1,0,0,0
< OK
> ATDT5551234
< NO CARRIER
> ATH0
< OK
)";
  Outcome o = send(script);
  EXPECT_EQ(o.code, ecFaxNoCarrier);
  EXPECT_TRUE(o.report.ok()) << o.report.describe();
  EXPECT_EQ(fax.FaxClass, fcClass2_0);
  EXPECT_EQ(during, kClass1Bit | kClass2Bit | kClass2_0Bit);
}

TEST_F(SendSession, ModemWithoutFaxClassesNeverStarts) {
  fax.FaxClass = fcDetect;
  makeApf(fax.FaxFile, 1, false);
  std::string script = R"(
> ATE0Q0V1X4S0=0S2=43
< OK
> AT+FCLASS=?
< 0
< OK
)";
  Outcome o = send(script);
  ASSERT_TRUE(o.finished);
  EXPECT_EQ(o.code, ecFaxBadModemResult);
  EXPECT_TRUE(o.logs.empty());
}

TEST_F(SendSession, RtnRetrainsLowerAndSendsThePageAgain) {
  auto lines = makeApf(fax.FaxFile, 1, false);
  std::string script = kSendInit + negotiation() + pageAndEnd(false, "4C") +
                       "> AT+FTH=3\n< CONNECT\n>data\n< OK\n"   // DCS at 7200
                       "> AT+FTM=72\n< CONNECT\n>data\n< OK\n"  // training again
                       "> AT+FRH=3\n< CONNECT\n<data " +
                       frameHex(0x84, true) + "\n< OK\n" +
                       std::string("> AT+FTM=72\n< CONNECT\n>data\n< OK\n") +
                       "> AT+FTH=3\n< CONNECT\n>data\n< OK\n"
                       "> AT+FRH=3\n< CONNECT\n<data FF 13 8C 00 00\n< OK\n"
                       "> AT+FTH=3\n< CONNECT\n>data\n< OK\n> ATH\n< OK\n";
  Outcome o = send(script);
  ASSERT_EQ(o.code, 0) << o.report.describe();
  EXPECT_TRUE(o.report.ok()) << o.report.describe();
  EXPECT_EQ(fax.LineRate(), 7200);
  const auto &d = o.report.data;
  ASSERT_EQ(d.size(), 10u);
  EXPECT_EQ(d[4], "\xFF\x13\x2F");                              // EOP, answered RTN
  EXPECT_EQ(static_cast<unsigned char>(d[5][4]) & 0x3C, 0x0C);  // DCS now 7200
  EXPECT_EQ(decodeLines(d[7]), decodeLines(d[3]));              // the same page again
  EXPECT_EQ(decodeLines(d[7]).size(), 48u);
  (void)lines;
}

// A far end that offers MR gets the page in MR (announced in the DCS); when it answers RTN, the
// page goes again in MH after the new training, announced so in the new DCS.
TEST_F(SendSession, RtnOnAnMrPageSendsItAgainInMh) {
  makeApf(fax.FaxFile, 1, false);
  std::string script = kSendInit + negotiation(true) + pageAndEnd(false, "4C") +
                       "> AT+FTH=3\n< CONNECT\n>data\n< OK\n"   // DCS at 7200
                       "> AT+FTM=72\n< CONNECT\n>data\n< OK\n"  // training again
                       "> AT+FRH=3\n< CONNECT\n<data " +
                       frameHex(0x84, true) + "\n< OK\n" +
                       std::string("> AT+FTM=72\n< CONNECT\n>data\n< OK\n") +
                       "> AT+FTH=3\n< CONNECT\n>data\n< OK\n"
                       "> AT+FRH=3\n< CONNECT\n<data FF 13 8C 00 00\n< OK\n"
                       "> AT+FTH=3\n< CONNECT\n>data\n< OK\n> ATH\n< OK\n";
  Outcome o = send(script);
  ASSERT_EQ(o.code, 0) << o.report.describe();
  const auto &d = o.report.data;
  ASSERT_EQ(d.size(), 10u);
  EXPECT_EQ(static_cast<unsigned char>(d[1][4]) & 0x80, 0x80);  // the first DCS says MR
  EXPECT_EQ(static_cast<unsigned char>(d[5][4]) & 0x80, 0);     // the second MH
  auto rows = [](const std::string &data, T4Coding c) {
    std::vector<std::vector<std::uint8_t>> out;
    const auto r = T4StreamDecoder(1728, c).decode(
        reinterpret_cast<const std::uint8_t *>(data.data()), data.size(),
        [&](const std::uint8_t *row) { out.emplace_back(row, row + 216); });
    EXPECT_EQ(r.badRows, 0u);
    return out;
  };
  const auto mr = rows(d[3], T4Coding::Mr);
  EXPECT_EQ(mr.size(), 48u);
  EXPECT_EQ(rows(d[7], T4Coding::Mh), mr);
  EXPECT_EQ(decodeLines(d[7]), mr);  // the stored records' reader takes the MH page too
}

TEST_F(SendSession, AbortWhileDiallingCancels) {
  makeApf(fax.FaxFile, 1, false);
  std::string script = std::string(kSendInit) + "> ATDT5551234\nwait 300\n>~ .*ATH0\n< OK\n";
  fax.OnFaxStatus = [&](TKvAbstractFax &f, bool, bool) {
    if (f.ProgressCode() == fpDialing) fax.AbortFax();
  };
  Outcome o = send(script);
  ASSERT_TRUE(o.finished);
  EXPECT_EQ(o.code, ecCancelRequested);
  EXPECT_EQ(fax.ProgressCode(), fpUserAbort);
  EXPECT_EQ(o.logs, (std::vector<int>{lcTransmitStart, lcTransmitFail}));
}

TEST_F(SendSession, TextCoverGoesFirstAndCountsAsPageOne) {
  makeApf(fax.FaxFile, 1, false);
  fax.CoverFile = dir.file("cover.txt");
  std::ofstream(fax.CoverFile) << "To: $R\nPages: $N\n";
  fax.HeaderRecipient = "Bob";
  fax.HeaderLine = "Page $P of $N";
  std::string script = kSendInit + negotiation() + pageAndEnd(false) + pageAndEnd(true);
  Outcome o = send(script);
  ASSERT_EQ(o.code, 0) << o.report.describe();
  const auto &d = o.report.data;
  ASSERT_EQ(d.size(), 8u);
  EXPECT_EQ(d[4], "\xFF\x13\x4F");  // MPS after the cover
  auto cover = decodeLines(d[3]);
  EXPECT_EQ(cover.size(), 8u + 16u + 2u * 16u);  // blank lines, header, two text lines
  auto page = decodeLines(d[5]);
  EXPECT_EQ(page.size(), 8u + 16u + 40u);
  // "Page 1 of 2" on the cover, "Page 2 of 2" on the page: the digit column differs.
  EXPECT_NE(std::vector<std::vector<std::uint8_t>>(cover.begin() + 8, cover.begin() + 24),
            std::vector<std::vector<std::uint8_t>>(page.begin() + 8, page.begin() + 24));
}

TEST_F(SendSession, SeveralFaxesThroughNextFaxBusyOneSkipped) {
  makeApf(fax.FaxFile, 1, false);
  twoFaxes();
  fax.DialAttempts = 1;
  std::string script =
      kSendInit + "> ATDT111\n< BUSY\n> AT+FCLASS=1\n< OK\n" + negotiation() + pageAndEnd(true);
  Outcome o = send(script);
  ASSERT_TRUE(o.finished);
  EXPECT_TRUE(o.report.ok()) << o.report.describe();
  // The earlier fax's error stays the session's result.
  EXPECT_EQ(o.code, ecFaxBusy);
  EXPECT_EQ(o.logs,
            (std::vector<int>{lcTransmitStart, lcTransmitFail, lcTransmitStart, lcTransmitOk}));
  EXPECT_EQ(asked, 3);
}

// --- Port rates, XON/XOFF and covers -----------------------------------------------------------

using test::PortEvent;

// The rate the modem's side saw when each command went out, in order.
std::vector<std::pair<std::string, std::uint32_t>> commandRates(const std::vector<PortEvent> &ev) {
  std::vector<std::pair<std::string, std::uint32_t>> out;
  for (const auto &e : ev)
    if (e.kind == PortEvent::Put && e.bytes.size() > 2 && e.bytes.compare(0, 2, "AT") == 0)
      out.emplace_back(e.bytes.substr(0, e.bytes.size() - 1), e.line.baud);
  return out;
}

std::vector<PortEvent> rateSwitches(const std::vector<PortEvent> &ev) {
  std::vector<PortEvent> out;
  for (const auto &e : ev)
    if (e.kind == PortEvent::Baud) out.push_back(e);
  return out;
}

class SendPort : public SendSession {
 protected:
  SendPort() {
    rig.watchState = [this] { return fax.State(); };
    // Long enough that the 9-tick settle before a rate switch stands out from everything else.
    rig.clock.lineSpeed = 10;
  }
  static constexpr double kSettleMs = faxtime::kBaudSwitchTicks * kTickMs * 0.1;
};

TEST_F(SendPort, InitBaudForTheModemNormalBaudForTheFax) {
  makeApf(fax.FaxFile, 1, false);
  fax.SetNormalBaud(38400);
  fax.SetInitBaud(9600);
  Outcome o = send(kSendInit + negotiation() + pageAndEnd(true));
  ASSERT_EQ(o.code, 0) << o.report.describe();
  auto cmds = commandRates(o.events);
  ASSERT_GE(cmds.size(), 5u);
  EXPECT_EQ(cmds[0], std::make_pair(std::string("ATE0Q0V1X4S0=0S2=43"), 9600u));
  // From the class query on: the transfer rate, down to the hang-up.
  for (std::size_t i = 1; i < cmds.size(); ++i) EXPECT_EQ(cmds[i].second, 38400u) << cmds[i].first;
  for (const auto &e : o.events)
    if (e.kind == PortEvent::Put && e.state >= 12 && e.state <= 37) {
      EXPECT_EQ(e.line.baud, 38400u) << "state " << e.state;
    }
  // Idle again at InitBaud afterwards; each switch waited 9 ticks first.
  EXPECT_EQ(o.lineAfter.baud, 9600u);
  auto sw = rateSwitches(o.events);
  ASSERT_EQ(sw.size(), 3u);
  EXPECT_EQ(sw[0].value, 9600);  // the session's start
  EXPECT_EQ(sw[1].value, 38400);
  EXPECT_EQ(sw[2].value, 9600);
  EXPECT_EQ(sw[2].state, 44);  // fax done
  for (std::size_t i = 1; i < sw.size(); ++i) EXPECT_GE(sw[i].waitedMs, kSettleMs * 0.9) << i;
}

TEST_F(SendPort, FailedFaxAndNextFaxSwitchRatesToo) {
  // The first fax fails at the dial; the second is transferred at NormalBaud again.
  makeApf(fax.FaxFile, 1, false);
  twoFaxes();
  // NormalBaud is the port's rate before the session: the switch must look at the line.
  fax.SetNormalBaud(19200);
  fax.SetInitBaud(9600);
  std::string script = kSendInit + "> ATDT111\n< NO CARRIER\n> ATH0\n< OK\n> AT+FCLASS=1\n< OK\n" +
                       negotiation() + pageAndEnd(true);
  Outcome o = send(script);
  ASSERT_TRUE(o.report.ok()) << o.report.describe();
  EXPECT_EQ(o.code, ecFaxNoCarrier);
  auto cmds = commandRates(o.events);
  std::vector<std::uint32_t> dials;
  for (const auto &c : cmds)
    if (c.first.compare(0, 4, "ATDT") == 0) dials.push_back(c.second);
  EXPECT_EQ(dials, (std::vector<std::uint32_t>{19200, 19200}));
  auto sw = rateSwitches(o.events);
  std::vector<std::int32_t> rates;
  for (const auto &e : sw) rates.push_back(e.value);
  // Start, transfer, error state, next fax, fax done.
  EXPECT_EQ(rates, (std::vector<std::int32_t>{9600, 19200, 9600, 19200, 9600}));
  EXPECT_EQ(sw[2].state, 46);
  EXPECT_EQ(o.lineAfter.baud, 9600u);
}

TEST_F(SendPort, WithoutInitBaudTheRateNeverChanges) {
  makeApf(fax.FaxFile, 1, false);
  fax.SetNormalBaud(38400);  // means nothing without InitBaud
  Outcome o = send(kSendInit + negotiation() + pageAndEnd(true));
  ASSERT_EQ(o.code, 0) << o.report.describe();
  auto sw = rateSwitches(o.events);
  ASSERT_EQ(sw.size(), 1u);
  EXPECT_EQ(sw[0].value, 19200);
  for (const auto &e : o.events)
    if (e.kind == PortEvent::Put) {
      EXPECT_EQ(e.line.baud, 19200u);
    }
  EXPECT_EQ(o.lineAfter.baud, 19200u);
}

TEST_F(SendPort, XonXoffOnlyWhileDataGoesOut) {
  for (bool flow : {true, false}) {
    SCOPED_TRACE(flow ? "SoftwareFlow" : "no SoftwareFlow");
    makeApf(fax.FaxFile, 2, false);
    fax.SoftwareFlow = flow;
    Outcome o = send(kSendInit + negotiation() + pageAndEnd(false) + pageAndEnd(true));
    ASSERT_EQ(o.code, 0) << o.report.describe();
    int dataWrites = 0;
    for (const auto &e : o.events) {
      if (e.kind != PortEvent::Put) continue;
      // Training (15) and page data (22..28) obey the modem's XOFF; nothing we write ever
      // carries our own XON/XOFF.
      const bool data = e.state == 15 || (e.state >= 22 && e.state <= 28);
      EXPECT_EQ(e.line.ixon, flow && data) << "state " << e.state;
      EXPECT_FALSE(e.line.ixoff) << "state " << e.state;
      if (data) ++dataWrites;
    }
    EXPECT_GT(dataWrites, 4);
    EXPECT_FALSE(o.lineAfter.ixon);
  }
}

TEST_F(SendPort, FlowIsSwitchedOffWhenTheSessionEndsMidPage) {
  makeApf(fax.FaxFile, 1, false);
  fax.SoftwareFlow = true;
  // Cancelled while the page goes out: the session ends straight from its error state.
  fax.OnFaxStatus = [&](TKvAbstractFax &f, bool, bool) {
    if (f.ProgressCode() == fpSendPage) fax.AbortFax();
  };
  Outcome o = send(kSendInit + negotiation() + "> AT+FTM=96\n< CONNECT\nmute\n");
  EXPECT_EQ(o.code, ecCancelRequested);
  bool wasOn = false;
  for (const auto &e : o.events) wasOn = wasOn || (e.kind == PortEvent::Put && e.line.ixon);
  EXPECT_TRUE(wasOn);
  EXPECT_FALSE(o.lineAfter.ixon);
}

// A cover of `pages` pages of 30 lines, unlike makeApf's.
Lines makeApfCover(const std::string &path, int pages) {
  return writeApf(path, pages, false, 30, [](std::vector<std::uint8_t> &line, int p, int y) {
    line[std::size_t(100 + p)] = std::uint8_t(0x81 + y);
  });
}

// The header line as the font draws it, widened to a fax line.
std::vector<std::vector<std::uint8_t>> headerRows(const std::string &text) {
  std::vector<std::vector<std::uint8_t>> rows;
  EXPECT_EQ(renderTextRows(text, 16, false, rows), ecOK);
  for (auto &r : rows) r.resize(216, 0);
  return rows;
}

TEST_F(SendSession, ApfCoverPagesGoFirstAndAreCounted) {
  auto faxLines = makeApf(fax.FaxFile, 1, false);
  fax.CoverFile = dir.file("cover.APF");
  auto coverLines = makeApfCover(fax.CoverFile, 2);
  fax.HeaderLine = "Page $P of $N";
  std::vector<int> pageNumbers;  // as the status display sees them as each page starts
  int lastProgress = -1;
  fax.OnFaxStatus = [&](TKvAbstractFax &f, bool, bool) {
    if (f.ProgressCode() == fpSendPage && lastProgress != fpSendPage)
      pageNumbers.push_back(f.PageNumber());
    lastProgress = f.ProgressCode();
  };
  Outcome o =
      send(kSendInit + negotiation() + pageAndEnd(false) + pageAndEnd(false) + pageAndEnd(true));
  ASSERT_EQ(o.code, 0) << o.report.describe();
  ASSERT_TRUE(o.report.ok()) << o.report.describe();
  EXPECT_EQ(fax.PageTotal(), 1);
  EXPECT_EQ(pageNumbers, (std::vector<int>{0, 0, 1}));
  const auto &d = o.report.data;
  ASSERT_EQ(d.size(), 10u);
  EXPECT_EQ(d[4], "\xFF\x13\x4F");  // MPS after cover page 1
  EXPECT_EQ(d[6], "\xFF\x13\x4F");  // MPS after cover page 2
  EXPECT_EQ(d[8], "\xFF\x13\x2F");  // EOP after the fax page
  struct Expect {
    std::size_t data;
    const char *header;
    std::vector<std::vector<std::uint8_t>> body;
  };
  std::vector<Expect> pages{
      {3, "Page 1 of 3", {coverLines.begin(), coverLines.begin() + 30}},
      {5, "Page 2 of 3", {coverLines.begin() + 30, coverLines.end()}},
      {7, "Page 3 of 3", faxLines},
  };
  for (const auto &p : pages) {
    SCOPED_TRACE(p.header);
    auto got = decodeLines(d[p.data]);
    auto head = headerRows(p.header);
    ASSERT_EQ(got.size(), 8u + head.size() + p.body.size());
    EXPECT_EQ(std::vector<std::vector<std::uint8_t>>(got.begin() + 8, got.begin() + 24), head);
    EXPECT_EQ(std::vector<std::vector<std::uint8_t>>(got.begin() + 24, got.end()), p.body);
  }
}

TEST_F(SendSession, BadCoverEndsTheFaxBeforeDialling) {
  makeApf(fax.FaxFile, 1, false);
  struct Case {
    std::string cover;
    Result code;
  };
  std::ofstream(fs::path(dir.path()) / "words.APF") << std::string(100, 'x');
  std::vector<Case> cases{{dir.file("missing.APF"), -ENOENT},
                          {dir.file("words.APF"), ecFaxBadFormat},
                          {dir.file("missing.txt"), -ENOENT}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.cover);
    fax.CoverFile = c.cover;
    // Nothing but the preparation and the hang-up: no dial, no page.
    Outcome o = send(kSendPrep + "> ATH0\n< OK\n");
    EXPECT_EQ(o.code, c.code);
    EXPECT_TRUE(o.report.ok()) << o.report.describe();
    EXPECT_EQ(o.logs, (std::vector<int>{lcTransmitStart, lcTransmitFail}));
  }
}

// --- Receiving ---------------------------------------------------------------------------------

class ReceiveSession : public ::testing::Test {
 protected:
  ReceiveSession() {
    fax.FaxClass = fcClass1;
    fax.AnswerOnRing = 2;
    fax.OneFax = true;
    fax.ExitOnError = true;
    fax.StationID = "RECEIVER";
    fax.DestinationDir = dir.path();
  }
  Outcome receive(const std::string &script) {
    return rig.run(script, fax, [&] { fax.BeginReceive(); });
  }
  SessionRig rig;
  TempDir dir;
  TKvReceiveFax fax;
};

TEST_F(ReceiveSession, PagesLandInTheNextFreeFile) {
  std::ofstream(fs::path(dir.path()) / "FAX0001.APF") << "older fax";
  std::string page1 = "00 80 B2 59 01 00 10 22 33";
  std::string page2 = "00 80 80 CC 0A 00";
  std::string script =
      kReceiveInit + answerToTraining(zerosHex(200)) + pagesToTheEnd({page1, page2});
  Outcome o = receive(script);
  ASSERT_TRUE(o.finished);
  EXPECT_EQ(o.code, 0) << o.report.describe();
  EXPECT_TRUE(o.report.ok()) << o.report.describe();
  EXPECT_EQ(o.logs, (std::vector<int>{lcReceiveStart, lcReceiveOk}));
  const auto &d = o.report.data;
  ASSERT_EQ(d.size(), 5u);
  EXPECT_EQ(d[0], "\xFF\x03\x40REVIECER" + std::string(12, ' '));  // CSI
  EXPECT_EQ(d[1].substr(0, 3), "\xFF\x13\x80");                    // DIS
  EXPECT_EQ(d[2], "\xFF\x13\x84");                                 // CFR
  EXPECT_EQ(d[3], "\xFF\x13\x8C");                                 // MCF

  ApfReader r;
  ASSERT_EQ(r.open(dir.file("FAX0002.APF")), ecOK);
  EXPECT_EQ(r.header().pageCount, 2);
  EXPECT_EQ(r.header().senderId, "CALLER 7");  // without the padding of the frame
  ApfPageLocation loc;
  ASSERT_EQ(r.locatePage(1, loc), ecOK);
  EXPECT_EQ(loc.header.imageLength, 9u);  // DLE DLE came in as one DLE
  ASSERT_EQ(r.locatePage(2, loc), ecOK);
  EXPECT_EQ(loc.header.imageLength, 6u);
}

TEST_F(ReceiveSession, RingsAreCountedAcrossNoCarrierAndCallsFollowEachOther) {
  fax.AnswerOnRing = 3;
  fax.OneFax = false;
  fax.ExitOnError = false;
  std::string call = wholeCall("< RING\n< NO CARRIER\n< RING\n< RING\n");
  std::string script = kReceiveInit + call + call + "wait 200\nhangup\n";
  Outcome o = receive(script);
  ASSERT_TRUE(o.finished);
  EXPECT_EQ(o.logs, (std::vector<int>{lcReceiveStart, lcReceiveOk, lcReceiveStart, lcReceiveOk}))
      << o.report.describe();
  EXPECT_TRUE(fs::exists(fs::path(dir.path()) / "FAX0001.APF"));
  EXPECT_TRUE(fs::exists(fs::path(dir.path()) / "FAX0002.APF"));
}

TEST_F(ReceiveSession, RefusedCallIsSkipped) {
  std::string script = kReceiveInit + answerToTraining(zerosHex(200)) +
                       "> AT+FTH=3\n< CONNECT\n>data\n< OK\n> AT+FRM=96\n"
                       ">~ \\+\\+\\+ATH\n< OK\n>~ \\+\\+\\+ATH\n< OK\n";
  fax.OnFaxAccept = [](TKvReceiveFax &, bool &accept) { accept = false; };
  Outcome o = receive(script);
  EXPECT_EQ(o.code, ecFileRejected);
  EXPECT_EQ(o.logs, (std::vector<int>{lcReceiveSkip}));
  EXPECT_FALSE(fs::exists(fs::path(dir.path()) / "FAX0001.APF"));
}

TEST_F(ReceiveSession, DataCallIsRefused) {
  fax.AnswerOnRing = 3;
  std::string script =
      std::string(kReceiveInit) + "< RING\n< CONNECT 2400\n>~ \\+\\+\\+ATH\n< OK\n";
  Outcome o = receive(script);
  EXPECT_EQ(o.code, ecFaxDataCall);
  EXPECT_TRUE(o.logs.empty());
}

// Bytes as a modem hands them over in separate reads: `cuts` are the positions where a read
// ends (with a pause after it); the last piece ends with DLE ETX, itself cut after the DLE.
std::string inPieces(std::vector<std::uint8_t> bytes, std::vector<std::size_t> cuts) {
  bytes.push_back(t30::DLE);
  cuts.push_back(bytes.size());
  bytes.push_back(t30::ETX);
  cuts.push_back(bytes.size());
  std::string s;
  std::size_t from = 0;
  char esc[8];
  for (std::size_t cut : cuts) {
    s += "<raw ";
    for (; from < cut; ++from) {
      std::snprintf(esc, sizeof esc, "\\x%02X", bytes[from]);
      s += esc;
    }
    s += "\nwait 40\n";
  }
  return s;
}

TEST_F(ReceiveSession, FramesTrainingAndPagesSplitAcrossReads) {
  auto tsi = frameBytes(0x43, false, t30::stationIdInfo("CALLER 7"));
  auto dcs = frameBytes(0x83, true, {0x00, 0x06, 0xF8, 0x00});
  // The page holds a data DLE, sent doubled; the read ends between the two.
  std::vector<std::uint8_t> page{0x00, 0x80, 0xB2, 0x59, 0x01, 0x00, 0x10, 0x10, 0x22, 0x33};
  std::string script =
      kReceiveInit + "< RING\n< RING\n> ATA\n< CONNECT\n>data\n< CONNECT\n>data\n< OK\n" +
      "> AT+FRH=3\n< CONNECT\n" + inPieces(tsi, {1, 5}) + "< OK\n" +  //
      "> AT+FRH=3\n< CONNECT\n" + inPieces(dcs, {3}) + "< OK\n" +     //
      "> AT+FRM=96\n< CONNECT\n" + inPieces(std::vector<std::uint8_t>(200, 0), {100}) +
      "< NO CARRIER\n> AT+FTH=3\n< CONNECT\n>data\n< OK\n" + "> AT+FRM=96\n< CONNECT\n" +
      inPieces(page, {7}) + "< NO CARRIER\n" + "> AT+FRH=3\n< CONNECT\n" +
      inPieces(frameBytes(0x2F, true, {}), {2}) + "< OK\n" +
      "> AT+FTH=3\n< CONNECT\n>data\n< OK\n"
      "> AT+FRH=3\n< CONNECT\n<data FF 13 FB 00 00\n< OK\n> ATH\n< OK\n";
  Outcome o = receive(script);
  ASSERT_TRUE(o.finished);
  EXPECT_EQ(o.code, 0) << o.report.describe();
  EXPECT_TRUE(o.report.ok()) << o.report.describe();
  EXPECT_EQ(fax.PartnerID(), std::string(12, ' ') + "CALLER 7");
  ApfReader r;
  ASSERT_EQ(r.open(dir.file("FAX0001.APF")), ecOK);
  EXPECT_EQ(r.header().pageCount, 1);
  ApfPageLocation loc;
  ASSERT_EQ(r.locatePage(1, loc), ecOK);
  EXPECT_EQ(loc.header.imageLength, 9u);  // the doubled DLE stored once
}

TEST_F(SendSession, RemoteFramesSplitAcrossReads) {
  makeApf(fax.FaxFile, 1, false);
  std::string script =
      kSendInit + "> ATDT5551234\n< CONNECT\n" +
      inPieces(frameBytes(0x40, false, t30::stationIdInfo("FAR END")), {2, 9}) + "< OK\n" +
      "> AT+FRH=3\n< CONNECT\n" + inPieces(frameBytes(0x80, true, {0x00, 0x4E, 0xF9, 0x00}), {4}) +
      "< OK\n> AT+FTH=3\n< CONNECT\n>data\n< CONNECT\n>data\n< OK\n" +
      "> AT+FTM=96\n< CONNECT\n>data\n< OK\n" +  // training
      "> AT+FRH=3\n< CONNECT\n" + inPieces(frameBytes(0x84, true, {}), {1}) + "< OK\n" +
      "> AT+FTM=96\n< CONNECT\n>data\n< OK\n> AT+FTH=3\n< CONNECT\n>data\n< OK\n" +
      "> AT+FRH=3\n< CONNECT\n" + inPieces(frameBytes(0x8C, true, {}), {2}) + "< OK\n" +
      "> AT+FTH=3\n< CONNECT\n>data\n< OK\n> ATH\n< OK\n";
  Outcome o = send(script);
  EXPECT_EQ(o.code, 0) << o.report.describe();
  EXPECT_TRUE(o.report.ok()) << o.report.describe();
  EXPECT_EQ(fax.PartnerID(), std::string(13, ' ') + "FAR END");
}

TEST_F(ReceiveSession, CallerHangingUpDuringTheAnswerEndsTheCallAtOnce) {
  std::string script =
      std::string(kReceiveInit) + "< RING\n< RING\n> ATA\n< NO CARRIER\n>~ \\+\\+\\+ATH\n< OK\n";
  auto start = std::chrono::steady_clock::now();
  Outcome o = receive(script);
  EXPECT_EQ(o.code, ecFaxNoCarrier) << o.report.describe();
  EXPECT_TRUE(o.report.ok()) << o.report.describe();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

// The training is missed three ways: no carrier, the caller's frames instead, and AT+FRM taken
// as the end of a frame reception the modem still held (DLE ETX, OK: it listens no more).
TEST_F(ReceiveSession, MissedTrainingIsHeardWhenTheCallerRepeatsIt) {
  std::string dcs =
      "> AT+FRH=3\n< CONNECT\n<data " + frameHex(0x83, true, {0x00, 0x06, 0xF8, 0x00}) + "\n< OK\n";
  std::string script = kReceiveInit + "< RING\n< RING\n> ATA\n< CONNECT\n>data\n< CONNECT\n" +
                       ">data\n< OK\n" + dcs + "> AT+FRM=96\n< NO CARRIER\n" + dcs +
                       "> AT+FRM=96\n< +FCERROR\n" + dcs + "> AT+FRM=96\n<data 10 03\n< OK\n" +
                       dcs + "> AT+FRM=96\n< CONNECT\n<data " + zerosHex(200) + "\n< NO CARRIER\n" +
                       pagesToTheEnd({"00 80 B2 59 01 00 10 22 33"});
  Outcome o = receive(script);
  ASSERT_TRUE(o.finished);
  EXPECT_EQ(o.code, 0) << o.report.describe();
  EXPECT_TRUE(o.report.ok()) << o.report.describe();
  EXPECT_EQ(o.logs, (std::vector<int>{lcReceiveStart, lcReceiveOk}));
}

TEST_F(ReceiveSession, NoisyTrainingAtTheLowestRateFails) {
  std::string script = std::string(kReceiveInit) +
                       "< RING\n< RING\n> ATA\n< CONNECT\n>data\n< CONNECT\n>data\n< OK\n"
                       "> AT+FRH=3\n< CONNECT\n<data " +
                       frameHex(0x83, true, {0x00, 0x02, 0xF8, 0x00}) +
                       "\n< OK\n> AT+FRM=24\n< CONNECT\n<data " + zerosHex(80) + ones(20) +
                       "\n< NO CARRIER\n> AT+FTH=3\n< CONNECT\n>data\n>~ \\+\\+\\+ATH\n< OK\n";
  Outcome o = receive(script);
  EXPECT_EQ(o.code, ecFaxTrainError);
  EXPECT_EQ(o.report.data.back(), "\xFF\x13\x44") << o.report.describe();  // FTT went first
}

TEST_F(ReceiveSession, LineDropMidPageKeepsWhatCame) {
  std::string script = kReceiveInit + answerToTraining(zerosHex(200)) +
                       "> AT+FTH=3\n< CONNECT\n>data\n< OK\n> AT+FRM=96\n< CONNECT\n"
                       "<raw \\x00\\x80\\xB2\\x59\\x01\\x00\nwait 200\nhangup\n";
  Outcome o = receive(script);
  ASSERT_TRUE(o.finished);
  EXPECT_LT(o.code, 0);
  EXPECT_EQ(o.logs, (std::vector<int>{lcReceiveStart, lcReceiveFail}));
  ApfReader r;
  ASSERT_EQ(r.open(dir.file("FAX0001.APF")), ecOK);
  EXPECT_EQ(r.header().pageCount, 1);
  ApfPageLocation loc;
  ASSERT_EQ(r.locatePage(1, loc), ecOK);
  EXPECT_EQ(loc.header.imageLength, 6u);
}

class ReceivePort : public ReceiveSession {
 protected:
  ReceivePort() {
    rig.watchState = [this] { return fax.State(); };
  }
};

TEST_F(ReceivePort, XonXoffPacesEveryPageAndLetsItsBytesThrough) {
  fax.SoftwareFlow = true;
  // Page data holds XON and XOFF bytes like any others.
  std::string page1 = "00 80 11 13 59 01 00 11 13";
  std::string page2 = "13 80 80 CC 0A 11";
  std::string script =
      kReceiveInit + answerToTraining(zerosHex(200)) + pagesToTheEnd({page1, page2});
  Outcome o = receive(script);
  ASSERT_EQ(o.code, 0) << o.report.describe();
  int pageBytes = 0, trainingBytes = 0;
  for (const auto &e : o.events) {
    const bool data = e.state == 16 || e.state == 26;
    if (e.kind == PortEvent::Read && data) {
      // We pace the modem with XOFF, and never take its bytes for flow control.
      EXPECT_TRUE(e.line.ixoff) << "state " << e.state;
      EXPECT_FALSE(e.line.ixon) << "state " << e.state;
      ++(e.state == 26 ? pageBytes : trainingBytes);
    }
    if (e.kind == PortEvent::Put && static_cast<unsigned char>(e.bytes[0]) == 0xFF) {
      EXPECT_FALSE(e.line.ixoff || e.line.ixon) << "frame in state " << e.state;
    }
    if (e.kind == PortEvent::Put && e.bytes.compare(0, 3, "ATA") == 0) {
      EXPECT_FALSE(e.line.ixoff || e.line.ixon);
    }
  }
  EXPECT_GE(pageBytes, 15);
  EXPECT_GT(trainingBytes, 100);
  EXPECT_FALSE(o.lineAfter.ixoff || o.lineAfter.ixon);

  ApfReader r;
  ASSERT_EQ(r.open(dir.file("FAX0001.APF")), ecOK);
  ASSERT_EQ(r.header().pageCount, 2);
  const std::string want[2] = {std::string("\x00\x80\x11\x13\x59\x01\x00\x11\x13", 9),
                               std::string("\x13\x80\x80\xCC\x0A\x11", 6)};
  std::ifstream f(fs::path(dir.path()) / "FAX0001.APF", std::ios::binary);
  std::string all((std::istreambuf_iterator<char>(f)), {});
  for (int p = 1; p <= 2; ++p) {
    ApfPageLocation loc;
    ASSERT_EQ(r.locatePage(p, loc), ecOK);
    const std::string &w = want[p - 1];
    ASSERT_EQ(loc.header.imageLength, w.size());
    EXPECT_EQ(all.substr(loc.dataOffset(), w.size()), w);
  }
}

TEST_F(ReceivePort, CallsRunAtNormalBaudAndTheWaitAtInitBaudInBetween) {
  fax.SetNormalBaud(38400);
  fax.SetInitBaud(9600);
  fax.AnswerOnRing = 1;
  fax.OneFax = false;
  fax.ExitOnError = false;
  std::string call = wholeCall("< RING\n");
  // The second call breaks off: the error path goes back to InitBaud as well.
  std::string broken = "< RING\n> ATA\n< ERROR\n>~ \\+\\+\\+ATH\n< OK\n> AT+FCLASS=1\n< OK\n";
  Outcome o = receive(kReceiveInit + call + broken + "wait 300\nhangup\n");
  EXPECT_TRUE(o.report.completed) << o.report.describe();
  auto cmds = commandRates(o.events);
  std::vector<std::pair<std::string, std::uint32_t>> picked;
  for (const auto &c : cmds)
    if (c.first == "ATE0Q0V1X4S0=0S2=43" || c.first == "ATA" || c.first == "AT+FCLASS=1" ||
        c.first == "ATH")
      picked.push_back(c);
  using P = std::pair<std::string, std::uint32_t>;
  EXPECT_EQ(picked, (std::vector<P>{{"ATE0Q0V1X4S0=0S2=43", 9600},
                                    {"AT+FCLASS=1", 9600},  // modulation query
                                    {"AT+FCLASS=1", 38400},
                                    {"ATA", 38400},
                                    {"ATH", 38400},
                                    {"AT+FCLASS=1", 9600},  // after the first call
                                    {"ATA", 38400},
                                    {"ATH", 38400},
                                    {"AT+FCLASS=1", 9600}}))  // after the broken one
      << o.report.describe();
}

// --- Damaged, late and missing frames; silent modems; dropped lines ------------------------------

const std::string kCfr = "> AT+FRH=3\n< CONNECT\n<data " + frameHex(0x84, true) + "\n< OK\n";
const std::string kDcs9600 = frameHex(0x83, true, {0x00, 0x06, 0xF8, 0x00});
// The caller's DCS as the answering side reads it, after the modem's CONNECT.
const std::string kDcsFrame = "< CONNECT\n<data " + kDcs9600 + "\n< OK\n";
const std::string kTraining = "> AT+FRM=96\n< CONNECT\n<data " + zerosHex(200) + "\n< NO CARRIER\n";
const std::string kAnswered = "< RING\n< RING\n> ATA\n< CONNECT\n>data\n< CONNECT\n>data\n< OK\n";

int countFrames(const ScriptReport &r, std::uint8_t fcf) {
  int n = 0;
  for (const auto &d : r.data) n += d.size() > 2 && static_cast<unsigned char>(d[2]) == fcf;
  return n;
}

double secondsSince(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

TEST_F(SendSession, DamagedAnswerToTrainingSendsDcsAndTrainingAgain) {
  makeApf(fax.FaxFile, 1, false);
  // negotiation() up to the training, then the CFR arrives damaged (CONNECT, then ERROR).
  std::string upToTraining = negotiation();
  upToTraining.resize(upToTraining.size() - kCfr.size());
  std::string again =
      "> AT+FRH=3\n< CONNECT\n< ERROR\n> AT+FTH=3\n< CONNECT\n>data\n< OK\n"
      "> AT+FTM=96\n< CONNECT\n>data\n< OK\n";
  Outcome o = send(kSendInit + upToTraining + again + kCfr + pageAndEnd(true));
  EXPECT_EQ(o.code, 0) << o.report.describe();
  EXPECT_TRUE(o.report.ok()) << o.report.describe();
  EXPECT_EQ(countFrames(o.report, 0x83), 2);  // DCS twice
}

TEST_F(SendSession, UnansweredTrainingIsSentAgain) {
  rig.clock.timeoutSpeed = 10;  // T4 of 3 s takes 0.3 s
  makeApf(fax.FaxFile, 1, false);
  std::string upToTraining = negotiation();
  upToTraining.resize(upToTraining.size() - kCfr.size());
  // Nothing answers the first DCS and training: the sender stops listening and sends both again.
  std::string again =
      "> AT+FRH=3\n>raw \\x20\n< OK\n> AT+FTH=3\n< CONNECT\n>data\n< OK\n"
      "> AT+FTM=96\n< CONNECT\n>data\n< OK\n";
  Outcome o = send(kSendInit + upToTraining + again + kCfr + pageAndEnd(true));
  EXPECT_EQ(o.code, 0) << o.report.describe();
  EXPECT_TRUE(o.report.ok()) << o.report.describe();
  EXPECT_EQ(countFrames(o.report, 0x83), 2);  // DCS twice
}

// The first occurrence of `from` in `script` replaced by `to`.
std::string replaced(std::string script, const std::string &from, const std::string &to) {
  auto at = script.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  return at == std::string::npos ? script : script.replace(at, from.size(), to);
}

// A modem that refuses to start sending (ERROR to AT+FTH or AT+FTM, as one still hearing the far
// end's carrier does) is asked again after a pause; only one that keeps refusing ends the call.
TEST_F(SendSession, RefusedTransmitCommandsAreAskedAgain) {
  makeApf(fax.FaxFile, 1, false);
  const std::string good = kSendInit + negotiation() + pageAndEnd(true);
  const std::string frames = "> AT+FTH=3\n< CONNECT\n>data\n< CONNECT\n";
  const std::string page = "> AT+FTM=96\n< CONNECT\n>data\n< OK\n> AT+FTH=3";
  const std::string refused = "> AT+FTH=3\n< ERROR\n";
  struct Case {
    const char *what;
    std::string script;
    Result code;
  } cases[] = {
      {"TSI and DCS", replaced(good, frames, refused + frames), 0},
      {"page", replaced(good, page, "> AT+FTM=96\n< ERROR\n" + page), 0},
      {"always", replaced(good, frames, refused + refused + refused + refused + "mute\n"),
       ecFaxBadModemResult},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    Outcome o = send(c.script);
    EXPECT_EQ(o.code, c.code) << o.report.describe();
    if (c.code == 0) {
      EXPECT_TRUE(o.report.ok()) << o.report.describe();
    }
  }
}

TEST_F(SendSession, LateReplyToThePostPageMessageIsReadToItsEnd) {
  makeApf(fax.FaxFile, 1, false);
  // The reply starts 2.8 s after AT+FRH=3 (inside T4) and ends 1.2 s later (past it).
  std::string page =
      "> AT+FTM=96\n< CONNECT\n>data\n< OK\n> AT+FTH=3\n< CONNECT\n>data\n< OK\n"
      "> AT+FRH=3\nwait 2800\n< CONNECT\nwait 1200\n<data FF 13 8C 00 00\n< OK\n"
      "> AT+FTH=3\n< CONNECT\n>data\n< OK\n> ATH\n< OK\n";
  Outcome o = send(kSendInit + negotiation() + page);
  EXPECT_EQ(o.code, 0) << o.report.describe();
  EXPECT_TRUE(o.report.ok()) << o.report.describe();
}

TEST_F(SendSession, CarrierLostMidPageEndsTheFaxAtOnce) {
  // A long page: the drop comes while it is still going out.
  writeApf(fax.FaxFile, 1, false, 4000, [](std::vector<std::uint8_t> &line, int, int y) {
    for (int x = 0; x < 216; x += 7) line[std::size_t(x)] = std::uint8_t(y * 31 + x);
  });
  auto start = std::chrono::steady_clock::now();
  Outcome o =
      send(kSendInit + negotiation() + "> AT+FTM=96\n< CONNECT\nwait 30\n< NO CARRIER\nmute\n");
  EXPECT_EQ(o.code, ecFaxNoCarrier) << o.report.describe();
  EXPECT_LT(secondsSince(start), 5.0);
  EXPECT_EQ(o.logs, (std::vector<int>{lcTransmitStart, lcTransmitFail}));
}

TEST_F(ReceiveSession, DamagedDcsIsWaitedForAgain) {
  std::string script = kReceiveInit + kAnswered + "> AT+FRH=3\n< CONNECT\n< ERROR\n> AT+FRH=3\n" +
                       kDcsFrame + kTraining + onePageToTheEnd("00 80 B2 59 01 00");
  Outcome o = receive(script);
  EXPECT_EQ(o.code, 0) << o.report.describe();
  EXPECT_TRUE(o.report.ok()) << o.report.describe();
  EXPECT_EQ(o.logs, (std::vector<int>{lcReceiveStart, lcReceiveOk}));
}

TEST_F(ReceiveSession, DamagedFramesWithoutEndGiveUp) {
  std::string damaged = "> AT+FRH=3\n< CONNECT\n< ERROR\n";
  std::string script = kReceiveInit + kAnswered + damaged + damaged + damaged + damaged + "mute\n";
  Outcome o = receive(script);
  EXPECT_EQ(o.code, ecFaxBadModemResult) << o.report.describe();
}

TEST_F(ReceiveSession, RefusedTransmitCommandIsAskedAgain) {
  // ERROR to the AT+FTH=3 that would send CFR: the modem is asked again and the call goes on.
  std::string pages = replaced(onePageToTheEnd("00 80 B2 59 01 00"), "> AT+FTH=3\n",
                               "> AT+FTH=3\n< ERROR\n> AT+FTH=3\n");
  Outcome o = receive(kReceiveInit + kAnswered + "> AT+FRH=3\n" + kDcsFrame + kTraining + pages);
  EXPECT_EQ(o.code, 0) << o.report.describe();
  EXPECT_TRUE(o.report.ok()) << o.report.describe();
}

TEST_F(ReceiveSession, DcsStartingLateIsReadToItsEnd) {
  // A real modem: CONNECT 2.82 s after AT+FRH=3, the frame's OK at 3.99 s.
  std::string script = kReceiveInit + kAnswered +
                       "> AT+FRH=3\nwait 2800\n< CONNECT\nwait 1200\n<data " + kDcs9600 +
                       "\n< OK\n" + kTraining + onePageToTheEnd("00 80 B2 59 01 00");
  Outcome o = receive(script);
  EXPECT_EQ(o.code, 0) << o.report.describe();
  EXPECT_TRUE(o.report.ok()) << o.report.describe();
}

TEST_F(ReceiveSession, SilentTrainingReceptionIsStoppedToHearTheRepeatedDcs) {
  rig.clock.timeoutSpeed = 4;  // T2 of 6 s takes 1.5 s
  std::string script = kReceiveInit + kAnswered + "> AT+FRH=3\n" + kDcsFrame +
                       "> AT+FRM=96\n>raw \\x20\n< OK\n> AT+FRH=3\n" + kDcsFrame + kTraining +
                       onePageToTheEnd("00 80 B2 59 01 00");
  Outcome o = receive(script);
  EXPECT_EQ(o.code, 0) << o.report.describe();
  EXPECT_TRUE(o.report.ok()) << o.report.describe();
}

TEST_F(ReceiveSession, SilentCallerIsGivenT1BeforeTheHangUp) {
  rig.clock.timeoutSpeed = 10;  // T1 of 35 s takes 3.5 s, T4 0.3 s
  std::string script = kReceiveInit + kAnswered + "> AT+FRH=3\n";
  for (int i = 0; i < 30; ++i)
    script += "> AT\n< OK\n> AT+FTH=3\n< CONNECT\n>data\n< CONNECT\n>data\n< OK\n> AT+FRH=3\n";
  auto start = std::chrono::steady_clock::now();
  Outcome o = receive(script);
  const double took = secondsSince(start);
  EXPECT_EQ(o.code, ecTimeout);
  EXPECT_GE(took, 3.5);
  EXPECT_LT(took, 6.0);
  // DIS went out again and again, not just four times.
  EXPECT_GT(countFrames(o.report, 0x80), 6) << o.report.describe();
}

// --- Answers lost on the line, commands heard again ------------------------------------------

// Each case takes a good call and changes one exchange the way a real line or modem does:
// T.30 has the command repeated, or repeats it, and the call goes on.
struct RecoveryCase {
  const char *what;
  std::string script;
  double timeoutSpeed;  // above 1 where a T.30 time-out has to run out
  std::uint8_t fcf;     // a frame the session sends ...
  int times;            // ... this many times
};

TEST_F(SendSession, RepliesLostOnTheLineAreAskedForAgain) {
  makeApf(fax.FaxFile, 1, false);
  std::string upToTraining = negotiation();
  upToTraining.resize(upToTraining.size() - kCfr.size());
  const std::string good = kSendInit + negotiation() + pageAndEnd(true);
  const std::string again =
      "> AT+FTH=3\n< CONNECT\n>data\n< OK\n> AT+FTM=96\n< CONNECT\n>data\n< OK\n";
  const std::string toTraining = kSendInit + upToTraining;
  const std::string rest = kCfr + pageAndEnd(true);
  const std::string reply = "> AT+FRH=3\n< CONNECT\n<data FF 13 8C 00 00\n";
  const std::string eopAgain = "> AT+FTH=3\n< CONNECT\n>data\n< OK\n";
  const std::string dis =
      "> AT+FRH=3\n< CONNECT\n<data " + frameHex(0x80, true, {0x00, 0x4E, 0xF9, 0x00});
  const RecoveryCase cases[] = {
      {"answer to the training cut off", toTraining + "> AT+FRH=3\n< NO CARRIER\n" + again + rest,
       1, 0x83, 2},
      {"answer to the training drowned", toTraining + "> AT+FRH=3\n< +FCERROR\n" + again + rest, 1,
       0x83, 2},
      {"stopped reception not answered", toTraining + "> AT+FRH=3\n>raw \\x20\n" + again + rest, 4,
       0x83, 2},
      {"reply to EOP cut off",
       replaced(good, reply, "> AT+FRH=3\n< NO CARRIER\n" + eopAgain + reply), 1, 0x2F, 2},
      {"reply to EOP not heard",
       replaced(good, reply, "> AT+FRH=3\n>raw \\x20\n< OK\n" + eopAgain + reply), 4, 0x2F, 2},
      {"reply to EOP is CRP",
       replaced(good, reply,
                "> AT+FRH=3\n< CONNECT\n<data FF 13 1A 00 00\n< OK\n" + eopAgain + reply),
       1, 0x2F, 2},
      {"DIS cut off after the CSI", replaced(good, dis, "> AT+FRH=3\n< NO CARRIER\n" + dis), 1,
       0x83, 1},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    rig.clock.timeoutSpeed = c.timeoutSpeed;
    Outcome o = send(c.script);
    EXPECT_EQ(o.code, 0) << o.report.describe();
    EXPECT_TRUE(o.report.ok()) << o.report.describe();
    EXPECT_EQ(countFrames(o.report, c.fcf), c.times) << o.report.describe();
    EXPECT_EQ(o.logs, (std::vector<int>{lcTransmitStart, lcTransmitOk}));
  }
}

TEST_F(SendSession, DcnThatCannotBeSentLeavesTheFaxSent) {
  rig.clock.timeoutSpeed = 4;
  makeApf(fax.FaxFile, 1, false);
  // Every page confirmed, then the modem stops answering: the fax was delivered all the same.
  std::string page = pageAndEnd(false) + "> AT+FTH=3\nmute\n";
  Outcome o = send(kSendInit + negotiation() + page);
  EXPECT_EQ(o.code, 0) << o.report.describe();
  EXPECT_EQ(o.logs, (std::vector<int>{lcTransmitStart, lcTransmitOk}));
}

TEST_F(ReceiveSession, AnswersLostOnTheLineAreGivenAgain) {
  const std::string page1 = "00 80 B2 59 01 00 10 22 33", page2 = "00 80 80 CC 0A 00";
  const std::string start = kReceiveInit + answerToTraining(zerosHex(200));
  const std::string one = start + onePageToTheEnd(page1);
  const std::string two = start + pagesToTheEnd({page1, page2});
  const std::string cfr = "> AT+FTH=3\n< CONNECT\n>data\n< OK\n";  // CFR, or MCF
  const std::string pageEnd = "\n< NO CARRIER\n";
  const std::string eopHeard = "> AT+FRH=3\n< CONNECT\n<data FF 13 2F";
  const std::string afterPage = pageEnd + eopHeard;
  const std::string eop = "> AT+FRH=3\n< CONNECT\n<data FF 13 2F 00 00\n< OK\n";
  const std::string mps = "> AT+FRH=3\n< CONNECT\n<data FF 13 4F 00 00\n< OK\n";
  const std::string dcn = "> AT+FRH=3\n< CONNECT\n<data FF 13 FB 00 00\n< OK\n> ATH\n< OK\n";
  const std::string hangUp = ">~ \\+\\+\\+ATH\n< OK\n";
  const std::string stop = ">raw \\x20\n< OK\n";
  const std::string dcsAgain = "> AT+FRH=3\n" + kDcsFrame + kTraining;
  const std::string training = "<data " + zerosHex(200) + pageEnd;
  struct Case {
    RecoveryCase c;
    int pages;
  } cases[] = {
      {{"CFR lost, DCS heard",
        replaced(one, cfr, cfr + "> AT+FRM=96\n< +FCERROR\n" + dcsAgain + cfr), 1, 0x84, 2},
       1},
      {{"CFR lost, no page", replaced(one, cfr, cfr + "> AT+FRM=96\n" + stop + dcsAgain + cfr), 4,
        0x84, 2},
       1},
      // A post-page message where a page should be: the page is asked for again with RTN.
      // (A caller that missed our MCF and repeats MPS looks the same.)
      {{"page after MCF missed",
        replaced(two, mps + cfr,
                 mps + cfr + "> AT+FRM=96\n< +FCERROR\n" + mps + cfr + dcsAgain + cfr),
        1, 0x4C, 1},
       2},
      {{"first page missed",
        replaced(one, cfr, cfr + "> AT+FRM=96\n< +FCERROR\n" + eop + cfr + dcsAgain + cfr), 1, 0x4C,
        1},
       1},
      {{"MCF to EOP lost", replaced(one, dcn, eop + cfr + dcn), 1, 0x8C, 2}, 1},
      {{"EOP drowned", replaced(one, afterPage, pageEnd + "> AT+FRH=3\n< +FCERROR\n" + eopHeard), 1,
        0x8C, 1},
       1},
      {{"EOP not heard",
        replaced(one, afterPage, pageEnd + "> AT+FRH=3\n>raw \\x20" + pageEnd + eopHeard), 4, 0x8C,
        1},
       1},
      {{"no report of the page's end", replaced(one, afterPage, "\n" + eopHeard), 4, 0x8C, 1}, 1},
      {{"training ended with OK", replaced(one, pageEnd + "> AT+FTH=3", "\n< OK\n> AT+FTH=3"), 1,
        0x84, 1},
       1},
      {{"training stops short", replaced(one, training, "<raw \\x00\\x00\\x00\n" + stop + dcsAgain),
        4, 0x84, 1},
       1},
      {{"caller hangs up without DCN", replaced(one, dcn, "> AT+FRH=3\n< NO CARRIER\n" + hangUp), 1,
        0x8C, 1},
       1},
      {{"DCN never comes", replaced(one, dcn, "> AT+FRH=3\n" + hangUp), 4, 0x8C, 1}, 1},
  };
  for (const auto &[c, pages] : cases) {
    SCOPED_TRACE(c.what);
    TempDir folder;
    fax.DestinationDir = folder.path();
    rig.clock.timeoutSpeed = c.timeoutSpeed;
    Outcome o = receive(c.script);
    EXPECT_EQ(o.code, 0) << o.report.describe();
    EXPECT_TRUE(o.report.ok()) << o.report.describe();
    EXPECT_EQ(countFrames(o.report, c.fcf), c.times) << o.report.describe();
    EXPECT_EQ(o.logs, (std::vector<int>{lcReceiveStart, lcReceiveOk}));
    ApfReader r;
    ASSERT_EQ(r.open(folder.file("FAX0001.APF")), ecOK);
    EXPECT_EQ(r.header().pageCount, pages);
    EXPECT_FALSE(fs::exists(folder.file("FAX0002.APF")));
  }
}

}  // namespace
}  // namespace kv
