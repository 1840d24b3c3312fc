// Class 2 and 2.0 sessions against scripted modems: the four recorded dialogues (two per
// class) replayed as the modem side, the quirks real modems show, and every way a call goes
// wrong ending with its code in bounded time.
#include <gtest/gtest.h>

#include <fstream>

#include "apf_pages.h"
#include "fax/receive_fax.h"
#include "fax/send_fax.h"
#include "faximage/apf_file.h"
#include "faximage/t4_stream.h"
#include "session_support.h"
#include "support/dial.h"
#include "support/temp_files.h"

namespace kv {
namespace {

using test::Outcome;
using test::SessionRig;

const std::string kInit = "\ntimeout 3000\n> ATE0Q0V1X4S0=0S2=43\n< OK\n";

// A one- or two-page fax of 30 lines (normal or fine resolution).
void makeApf(const std::string &path, int pages, bool fine) {
  ApfWriter w;
  ASSERT_EQ(w.create(path), ecOK);
  std::vector<std::uint8_t> line(216, 0);
  for (int p = 0; p < pages; ++p) {
    ASSERT_EQ(w.beginPage(fine, false), ecOK);
    for (int y = 0; y < 30; ++y) {
      std::fill(line.begin(), line.end(), 0);
      line[std::size_t((y * 7 + p) % 216)] = 0xF0;
      ASSERT_EQ(w.writeLine(line.data()), ecOK);
    }
    ASSERT_EQ(w.endPage(), ecOK);
  }
  ASSERT_EQ(w.finish("SENDER"), ecOK);
}

class Class2Send : public ::testing::Test {
 protected:
  Class2Send() {
    fax.FaxClass = fcClass2;
    fax.PhoneNumber = test::dialString("2710834");
    fax.StationID = "49 89 3243328";
    fax.FaxFile = dir.file("out.apf");
    log.FaxHistoryName = dir.file("KVFAX.HIS");
    fax.FaxLog = &log;
  }
  Outcome send(const std::string &script) {
    return rig.run(script, fax, [&] { fax.BeginTransmit(); });
  }
  std::string history() {
    std::ifstream f(log.FaxHistoryName);
    return {std::istreambuf_iterator<char>(f), {}};
  }
  SessionRig rig;
  test::TempDir dir;
  TKvSendFax fax;
  TKvFaxLog log;
};

// Class 2 set-up and dialling up to the modem's CONNECT, as the recorded ZyXEL answered
// (unquoted, blank-padded CSI; +FNSF; XON after a stray LF).
const std::string kZyxelSendCall = kInit + R"(> AT+FCLASS=2
< OK
> AT+FLID="49 89 3243328"
< OK
> AT+FDIS=0,3,0,2,1,0,0,0
< OK
> ATDT2710834
< +FCON
< +FNSF:00 00 00 00 
< +FCSI:       49 89 2710834 
< +FDIS:1,3,0,2,0,0,0,4
< OK
> AT+FDT
< +FDCS:1,3,0,2,0,0,0,4
< CONNECT
<raw \n\x11
)";

TEST_F(Class2Send, RecordedZyxelDialogueOnePage) {
  makeApf(fax.FaxFile, 1, false);
  // +FPTS, +FHNG and OK all answer the one AT+FET=2.
  Outcome o = send(kZyxelSendCall + ">data\n< OK\n> AT+FET=2\n< +FPTS:1\n< +FHNG:00\n< OK\n");
  ASSERT_TRUE(o.finished);
  EXPECT_EQ(o.code, 0) << o.report.describe();
  EXPECT_TRUE(o.report.ok()) << o.report.describe();
  EXPECT_EQ(o.logs, (std::vector<int>{lcTransmitStart, lcTransmitOk}));
  EXPECT_EQ(fax.PartnerID(), "49 89 2710834");
  EXPECT_EQ(fax.LineRate(), 9600);
  EXPECT_EQ(fax.HangupResult(), 0);
  ASSERT_EQ(o.report.data.size(), 1u);
  EXPECT_GT(o.report.data[0].size(), 30u * 4);
}

// What sloppy modems send: command echo, results in lower case, blanks after the colon,
// reports before the result they belong to, XON with 0xFF fill, a bare +FHNG.
TEST_F(Class2Send, SloppyModemStillDelivers) {
  makeApf(fax.FaxFile, 1, false);
  std::string script = kInit + R"(echo on
> AT+FCLASS=2
< ok
> AT+FLID="49 89 3243328"
< ok
> AT+FDIS=0,3,0,2,1,0,0,0
< ok
> ATDT2710834
< +fcon
< +FCSI: "  far end  "
< +FDIS: 1, 5, 0, 2, 0, 0, 0, 0
< ok
> AT+FDT
< +FDCS: 0, 5, 0, 2, 0, 0, 0, 0
< connect
<raw \xFF\xFF\x11
>data
< ok
> AT+FET=2
< +FHNG:
< +FPTS: 1
< ok
)";
  Outcome o = send(script);
  EXPECT_EQ(o.code, 0) << o.report.describe();
  EXPECT_TRUE(o.report.ok()) << o.report.describe();
  EXPECT_EQ(fax.PartnerID(), "far end");
  EXPECT_EQ(fax.LineRate(), 14400);
}

TEST_F(Class2Send, RejectedPagesAreSentAgainAtMostTwice) {
  makeApf(fax.FaxFile, 2, false);
  // Page 1 rejected once, then accepted; page 2 rejected twice: the third rejection in the
  // fax ends it with AT+FKS.
  std::string again = "> AT+FDT\n< +FDCS:0,3,0,2,0,0,0,0\n< CONNECT\n<raw \\x11\n>data\n< OK\n";
  std::string script = kZyxelSendCall + ">data\n< OK\n> AT+FET=0\n< +FPTS:2\n< OK\n" + again +
                       "> AT+FET=0\n< +FPTS:1\n< OK\n" + again + "> AT+FET=2\n< +FPTS:2\n< OK\n" +
                       again + "> AT+FET=2\n< +FPTS:2\n< OK\n>raw AT+FKS\\r\n> ATH0\n< OK\n";
  fax.FaxClass = fcClass2;
  Outcome o = send(script);
  EXPECT_EQ(o.code, ecFaxSessionError) << o.report.describe();
  EXPECT_TRUE(o.report.ok()) << o.report.describe();
}

// With df 1 in the session parameters the page goes in MR; once the far end has rejected it,
// the modem is told MH only and the page goes again in MH. Both times the data is the page:
// eight blank rows, then its thirty rows.
TEST_F(Class2Send, MrPageRejectedGoesAgainInMh) {
  makeApf(fax.FaxFile, 1, false);
  const std::string page =
      "> AT+FDT\n< +FDCS:0,3,0,2,{df},0,0,2\n< CONNECT\n<raw \\x11\n>data\n< OK\n";
  auto withDf = [&](char df) {
    std::string s = page;
    s.replace(s.find("{df}"), 4, 1, df);
    return s;
  };
  std::string script = kInit + R"(> AT+FCLASS=2
< OK
> AT+FLID="49 89 3243328"
< OK
> AT+FDIS=0,3,0,2,1,0,0,0
< OK
> ATDT2710834
< +FCON
< +FDIS:1,3,0,2,1,0,0,0
< OK
)" + withDf('1') + "> AT+FET=2\n< +FPTS:2\n< OK\n> AT+FDIS=0,3,0,2,0,0,0,0\n< OK\n" +
                       withDf('0') + "> AT+FET=2\n< +FPTS:1\n< +FHNG:0\n< OK\n";
  Outcome o = send(script);
  EXPECT_EQ(o.code, 0) << o.report.describe();
  EXPECT_TRUE(o.report.ok()) << o.report.describe();
  ASSERT_EQ(o.report.data.size(), 2u);
  for (std::size_t run = 0; run < 2; ++run) {
    const std::string &d = o.report.data[run];
    std::vector<std::string> rows;
    const T4DecodeResult r =
        T4StreamDecoder(1728, run == 0 ? T4Coding::Mr : T4Coding::Mh)
            .decode(reinterpret_cast<const std::uint8_t *>(d.data()), d.size(),
                    [&](const std::uint8_t *row) {
                      rows.emplace_back(reinterpret_cast<const char *>(row), 216);
                    });
    EXPECT_TRUE(r.pageEnded) << run;
    EXPECT_EQ(r.badRows, 0u) << run;
    ASSERT_EQ(rows.size(), 38u) << run;
    for (int y = 0; y < 30; ++y) {
      std::string want(216, '\0');
      want[std::size_t(y * 7 % 216)] = char(0xF0);
      EXPECT_EQ(rows[std::size_t(8 + y)], want) << run << " row " << y;
    }
  }
}

struct SendFault {
  const char *name;
  std::string afterConnect;  // the modem's side from the first CONNECT on
  Result code;
  int hangup;
};

class Class2SendFault : public Class2Send, public ::testing::WithParamInterface<SendFault> {};

TEST_P(Class2SendFault, EndsWithItsCodeAndAUsablePort) {
  makeApf(fax.FaxFile, 2, false);
  Outcome o = send(kZyxelSendCall + GetParam().afterConnect + "> ATH0\n< OK\n");
  ASSERT_TRUE(o.finished);
  EXPECT_EQ(o.code, GetParam().code) << o.report.describe();
  EXPECT_TRUE(o.report.ok()) << o.report.describe();
  EXPECT_EQ(o.logs, (std::vector<int>{lcTransmitStart, lcTransmitFail}));
  EXPECT_EQ(fax.HangupResult(), GetParam().hangup);
  if (GetParam().hangup) {
    // The history says why the modem hung up, in words.
    EXPECT_NE(history().find(class2::hangupText(GetParam().hangup)), std::string::npos)
        << history();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, Class2SendFault,
    ::testing::Values(
        // The remote hangs up between pages: the hang-up report ends the fax at once.
        SendFault{"CarrierDropsBetweenPages",
                  ">data\n< OK\n> AT+FET=0\n< +FPTS:1\n< OK\n> AT+FDT\n< +FHNG:20\n",
                  ecFaxBadModemResult, 20},
        // A hang-up code other than 0 with the page's OK is no delivered page.
        SendFault{"UnexpectedHangupCode", ">data\n< OK\n> AT+FET=0\n< +FHNG:52\n< OK\n",
                  ecFaxSessionError, 52},
        SendFault{"UnknownPageStatus", ">data\n< OK\n> AT+FET=0\n< +FPTS:9\n", ecFaxPageError, 0}),
    [](const auto &info) { return std::string(info.param.name); });

// A caller ringing in during the set-up and the dial, in both classes: the RINGs are no answer
// to a set-up command, and each refused dial is an attempt at the retry pause.
struct IncomingCallSetup {
  const char *name;
  TFaxClass faxClass;
  std::string upToDial;
};

class Class2IncomingCall : public Class2Send,
                           public ::testing::WithParamInterface<IncomingCallSetup> {};

TEST_P(Class2IncomingCall, CountsEachAttemptAndEndsWithItsOwnReason) {
  fax.FaxClass = GetParam().faxClass;
  fax.DialAttempts = 2;
  fax.SetDialRetryWait(1);
  makeApf(fax.FaxFile, 1, false);
  Outcome o = send(kInit + GetParam().upToDial +
                   "> ATDT2710834\n< ERROR\n> ATDT2710834\n< RING\n< NO CARRIER\n");
  ASSERT_TRUE(o.finished);
  EXPECT_EQ(o.code, ecFaxIncomingCall) << o.report.describe();
  EXPECT_TRUE(o.report.ok()) << o.report.describe();  // both dials made
  EXPECT_EQ(o.logs, (std::vector<int>{lcTransmitStart, lcTransmitFail}));
}

INSTANTIATE_TEST_SUITE_P(Classes, Class2IncomingCall,
                         ::testing::Values(IncomingCallSetup{"Class2", fcClass2,
                                                             "> AT+FCLASS=2\n< OK\n< RING\n"
                                                             "> AT+FLID=\"49 89 3243328\"\n< OK\n"
                                                             "> AT+FDIS=0,3,0,2,1,0,0,0\n< OK\n"},
                                           IncomingCallSetup{
                                               "Class20", fcClass2_0,
                                               "> AT+FCLASS=2.0\n< OK\n> AT+FLI=\"49 89 3243328\"\n"
                                               "< OK\n> AT+FLO=2\n< RING\n< OK\n> AT+FNR=1,1,1,0\n"
                                               "< OK\n> AT+FIS=0,3,0,2,1,0,0,0\n< OK\n"}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(Class2Send, ModemThatGoesSilentTimesOut) {
  makeApf(fax.FaxFile, 1, false);
  auto t0 = std::chrono::steady_clock::now();
  Outcome o = send(kInit + "> AT+FCLASS=2\n< OK\n> AT+FLID=*\nmute\n");
  EXPECT_EQ(o.code, ecTimeout);
  EXPECT_EQ(o.logs, (std::vector<int>{lcTransmitStart, lcTransmitFail}));
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(15));
}

TEST_F(Class2Send, RemoteWithoutFineResolutionFailsBeforeSending) {
  makeApf(fax.FaxFile, 1, true);
  std::string script = kInit + R"(> AT+FCLASS=2
< OK
> AT+FLID="49 89 3243328"
< OK
> AT+FDIS=1,3,0,2,1,0,0,0
< OK
> ATDT2710834
< +FCON
< +FDIS:0,3,0,2,0,0,0,0
> ATH0
< OK
)";
  Outcome o = send(script);
  EXPECT_EQ(o.code, ecFaxBadMachine) << o.report.describe();
  EXPECT_TRUE(o.report.ok()) << o.report.describe();
}

// Class 2.0, as the modem maker's manual shows a two-page send: the page end travels in the
// data (DLE "," then DLE "."), +FHS:00 ends the call.
TEST_F(Class2Send, Class20ManualDialogueTwoPages) {
  fax.FaxClass = fcClass2_0;
  makeApf(fax.FaxFile, 2, false);
  std::string script = kInit + R"(> AT+FCLASS=2.0
< OK
> AT+FLI="49 89 3243328"
< OK
> AT+FLO=2
< OK
> AT+FNR=1,1,1,0
< OK
> AT+FIS=0,3,0,2,1,0,0,0
< OK
> ATDT2710834
< +FCO
< +FCI:"+1 555 0100"
< +FIS:1,5,0,2,0,0,0,0
< OK
> AT+FDT
< +FCS:0,3,0,2,0,0,0,0
< CONNECT
>data,
< OK
> AT+FDT
< CONNECT
>data.
< +FHS:00
< OK
)";
  Outcome o = send(script);
  EXPECT_EQ(o.code, 0) << o.report.describe();
  EXPECT_TRUE(o.report.ok()) << o.report.describe();
  EXPECT_EQ(fax.PartnerID(), "+1 555 0100");
  EXPECT_EQ(o.report.data.size(), 2u);
}

TEST_F(Class2Send, Class20PageRejectedIsAskedAboutAndSentAgain) {
  fax.FaxClass = fcClass2_0;
  makeApf(fax.FaxFile, 1, false);
  std::string script = kInit + R"(> AT+FCLASS=2.0
< OK
> AT+FLI="49 89 3243328"
< OK
> AT+FLO=2
< OK
> AT+FNR=1,1,1,0
< OK
> AT+FIS=0,3,0,2,1,0,0,0
< OK
> ATDT2710834
< +FCO
< +FIS:1,5,0,2,0,0,0,0
< OK
> AT+FDT
< CONNECT
>data.
< ERROR
> AT+FPS?
< +FPS:2
< OK
> AT+FDT
< CONNECT
>data.
< +FHS:00
< OK
)";
  Outcome o = send(script);
  EXPECT_EQ(o.code, 0) << o.report.describe();
  EXPECT_TRUE(o.report.ok()) << o.report.describe();
}

TEST_F(Class2Send, DetectionPrefers20AndFallsBackToClass2WhenRefused) {
  fax.FaxClass = fcDetect;
  makeApf(fax.FaxFile, 1, false);
  std::string script = R"(
timeout 3000
> ATE0Q0V1X4S0=0S2=43
< OK
> AT+FCLASS=?
< 0,1,2,2.0
< OK
> ATE0Q0V1X4S0=0S2=43
< OK
> AT+FCLASS=2.0
< ERROR
> AT+FCLASS=2
< OK
> AT+FLID="49 89 3243328"
< OK
> AT+FDIS=0,3,0,2,1,0,0,0
< OK
> ATDT2710834
< NO CARRIER
> ATH0
< OK
)";
  Outcome o = send(script);
  EXPECT_EQ(o.code, ecFaxNoCarrier) << o.report.describe();
  EXPECT_TRUE(o.report.ok()) << o.report.describe();
  EXPECT_EQ(fax.FaxClass, fcClass2);
}

// --- Receiving ---------------------------------------------------------------------------------

class Class2Receive : public ::testing::Test {
 protected:
  Class2Receive() {
    fax.FaxClass = fcClass2;
    fax.OneFax = true;
    fax.ExitOnError = true;
    fax.DestinationDir = dir.path();
  }
  Outcome receive(const std::string &script) {
    return rig.run(script, fax, [&] { fax.BeginReceive(); });
  }
  std::vector<std::uint32_t> pageLengths(const std::string &name) {
    std::vector<std::uint32_t> out;
    ApfReader r;
    if (r.open(dir.file(name)) < 0) return out;
    for (int n = 1; n <= r.header().pageCount; ++n) {
      ApfPageLocation loc;
      if (r.locatePage(n, loc) < 0) break;
      out.push_back(loc.header.imageLength);
    }
    return out;
  }
  SessionRig rig;
  test::TempDir dir;
  TKvReceiveFax fax;
};

const std::string kClass2ReceiveSetup = kInit + R"(> AT+FCLASS=2
< OK
> AT+FDCC=1,3,0,2,1,0,0,0
< OK
)";

// A page in MR (df 1) is decoded as it is stored: the file holds one-dimensional line records
// of every row, and a row spoilt on the line is replaced by the one above it and counted; the
// one-dimensional row after it is good again.
TEST_F(Class2Receive, MrPageIsStoredAsRecordsWithItsBadRowsCounted) {
  std::vector<std::string> page(10, std::string(216, '\0'));
  T4StreamEncoder enc;
  enc.begin({T4Coding::Mr, 2, 1728, 0});
  std::vector<std::uint64_t> start;
  for (std::size_t y = 0; y < page.size(); ++y) {
    page[y][y * 11 % 216] = char(0x3C);
    page[y][100 + y] = char(0x81);
    start.push_back(enc.bitCount());
    enc.putRow(reinterpret_cast<const std::uint8_t *>(page[y].data()));
  }
  enc.end();
  std::vector<std::uint8_t> coded = enc.bytes();
  // Row 3, two-dimensional, starts with eight 0 bits and four 1 bits: no code word.
  for (std::uint64_t i = 0, at = start[3] + 13; i < 12; ++i, ++at) {
    const auto bit = std::uint8_t(1u << (at % 8));
    coded[at / 8] = i < 8 ? coded[at / 8] & ~bit : coded[at / 8] | bit;
  }
  std::string hex;
  for (std::uint8_t b : coded) {  // Class 2 hands data over bit-reversed
    char h[4];
    std::snprintf(h, sizeof h, "%02X ", class2::reversedBits(b));
    hex += h;
  }
  std::string script = kClass2ReceiveSetup +
                       "< RING\n> ATA\n< +FCON\n< +FTSI:CALLER\n< +FDCS:0,5,0,2,1,0,0,0\n< OK\n"
                       "> AT+FDR\n< CONNECT\n>raw \\x12\n<data " +
                       hex + "\n< +FPTS:1\n< +FET:2\n< OK\n> AT+FDR\n< +FHNG:000\n< OK\n";
  Outcome o = receive(script);
  EXPECT_EQ(o.code, 0) << o.report.describe();
  EXPECT_TRUE(o.report.ok()) << o.report.describe();
  EXPECT_EQ(fax.PageBadRows(), 1);
  const auto got = test::apfPages(dir.file("FAX0001.APF"));
  ASSERT_EQ(got.size(), 1u);
  ASSERT_EQ(got[0].rows.size(), page.size());
  for (std::size_t y = 0; y < page.size(); ++y)
    EXPECT_EQ(got[0].rows[y], page[y == 3 ? 2 : y]) << "row " << y;
  EXPECT_FALSE(test::apfPageStream(dir.file("FAX0001.APF"), 1).empty());  // line records
}

// The recorded ZyXEL call: +FTSI and +FDCS twice, the id blank-padded and unquoted, a
// three-digit +FHNG. Class 2 hands the data over bit-reversed: 0x80 is stored as 0x01.
TEST_F(Class2Receive, RecordedZyxelDialogueOnePage) {
  std::string script = kClass2ReceiveSetup + R"(< RING
> ATA
< +FCON
< +FTSI:+31 20 6147110       
< +FDCS:1,5,0,2,0,0,0,0
< OK
> AT+FDR
< +FTSI:+31 20 6147110       
< +FDCS:1,5,0,2,0,0,0,0
< CONNECT
>raw \x12
<data 80 10 48 00
< +FPTS:1
< +FET:2
< OK
> AT+FDR
< +FHNG:000
< OK
)";
  Outcome o = receive(script);
  ASSERT_TRUE(o.finished);
  EXPECT_EQ(o.code, 0) << o.report.describe();
  EXPECT_TRUE(o.report.ok()) << o.report.describe();
  EXPECT_EQ(o.logs, (std::vector<int>{lcReceiveStart, lcReceiveOk}));
  EXPECT_EQ(fax.PartnerID(), "+31 20 6147110");
  EXPECT_EQ(fax.LineRate(), 14400);
  EXPECT_EQ(pageLengths("FAX0001.APF"), (std::vector<std::uint32_t>{4}));
  std::ifstream f(dir.file("FAX0001.APF"), std::ios::binary);
  std::string all((std::istreambuf_iterator<char>(f)), {});
  EXPECT_EQ(all.substr(all.size() - 4), std::string("\x01\x08\x12\x00", 4));
}

// Class 2.0 as the manual shows a two-page receive; the data is stored as it comes, and a
// stray CR LF and XON before the page data are not page data.
TEST_F(Class2Receive, Class20ManualDialogueTwoPages) {
  fax.FaxClass = fcClass2_0;
  std::string script = kInit + R"(> AT+FCLASS=2.0
< OK
> AT+FCC=1,3,0,2,1,0,0,0
< OK
> AT+FLO=2
< OK
> AT+FNR=1,1,1,0
< OK
< RING
> ATA
< +FCO
< +FTI:"+1 555 0100"
< +FCS:0,3,0,2,0,0,0,0
< OK
> AT+FDR
< CONNECT
>raw \x12
<raw \r\n\x11
<data 80 01
< +FPS:1,30,0,0,0
< +FET:0
< OK
> AT+FDR
< CONNECT
>raw \x12
<data 80 02 03
< +FPS:1,30,0,0,0
< +FET:2
< OK
> AT+FDR
< +FHS:00
< OK
)";
  Outcome o = receive(script);
  EXPECT_EQ(o.code, 0) << o.report.describe();
  EXPECT_TRUE(o.report.ok()) << o.report.describe();
  EXPECT_EQ(fax.PartnerID(), "+1 555 0100");
  EXPECT_EQ(pageLengths("FAX0001.APF"), (std::vector<std::uint32_t>{2, 3}));
}

TEST_F(Class2Receive, BadPageIsDroppedAndTheFileKeepsTheOthers) {
  std::string page = "> AT+FDR\n< CONNECT\n>raw \\x12\n<data 00 80 B2 59\n";
  std::string script = kClass2ReceiveSetup + "< RING\n> ATA\n< +FCON\n< +FTSI:CALLER\n< OK\n" +
                       page + "< +FPTS:1\n< +FET:0\n< OK\n" + page + "< +FPTS:2\n< +FET:2\n< OK\n" +
                       "> AT+FDR\n< +FHNG:0\n< OK\n";
  Outcome o = receive(script);
  EXPECT_EQ(o.code, 0) << o.report.describe();
  EXPECT_TRUE(o.report.ok()) << o.report.describe();
  EXPECT_EQ(pageLengths("FAX0001.APF"), (std::vector<std::uint32_t>{4}));
}

struct ReceiveFault {
  const char *name;
  std::string afterRing;
  Result code;
  int hangup;
};

class Class2ReceiveFault : public Class2Receive,
                           public ::testing::WithParamInterface<ReceiveFault> {};

TEST_P(Class2ReceiveFault, EndsWithItsCodeAndAUsablePort) {
  // A muted modem hears nothing more, the hang-up included.
  const std::string &after = GetParam().afterRing;
  bool muted = after.size() >= 5 && after.compare(after.size() - 5, 5, "mute\n") == 0;
  Outcome o =
      receive(kClass2ReceiveSetup + "< RING\n> ATA\n" + after + (muted ? "" : ">~ .*ATH\n< OK\n"));
  ASSERT_TRUE(o.finished);
  EXPECT_EQ(o.code, GetParam().code) << o.report.describe();
  EXPECT_TRUE(o.report.ok()) << o.report.describe();
  EXPECT_EQ(fax.HangupResult(), GetParam().hangup);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, Class2ReceiveFault,
    ::testing::Values(ReceiveFault{"NoFaxConnectAfterAnswer", "< NO CARRIER\n", ecFaxNoCarrier, 0},
                      ReceiveFault{"CarrierDropsBetweenPages",
                                   "< +FCON\n< OK\n> AT+FDR\n< CONNECT\n>raw \\x12\n<data 00 80\n"
                                   "< +FPTS:1\n< +FET:0\n< OK\n> AT+FDR\n< +FHNG:70\n",
                                   ecFaxSessionError, 70},
                      ReceiveFault{"ModemGoesSilent", "< +FCON\nmute\n", ecTimeout, 0}),
    [](const auto &info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kv
