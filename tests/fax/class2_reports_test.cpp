// Class 2/2.0 command strings and the readers of +F reports, with the spellings real modems use.
#include "fax/class2_reports.h"

#include <gtest/gtest.h>

namespace kv::class2 {
namespace {

TEST(Class2Commands, CapabilityAndIdStrings) {
  const auto &c2 = commandTable(fcClass2);
  const auto &c20 = commandTable(fcClass2_0);
  EXPECT_EQ(sendCapabilities(c2, true, 9600, false, false), "AT+FDIS=1,3,0,2,0,0,0,0");
  EXPECT_EQ(sendCapabilities(c20, false, 14400, true, true), "AT+FIS=0,5,1,2,0,1,0,0");
  EXPECT_EQ(receiveCapabilities(c2, 4800, false), "AT+FDCC=1,1,0,2,0,0,0,0");
  EXPECT_EQ(receiveCapabilities(c20, 12000, false), "AT+FCC=1,4,0,2,0,0,0,0");
  EXPECT_EQ(rateDigit(7200), '2');
  EXPECT_EQ(rateDigit(9601), '3');
  EXPECT_EQ(stationIdCommand(c2, "+1 555 0100"), "AT+FLID=\"+1 555 0100\"");
  // Cut to 20; a quote cannot end the modem's string early.
  EXPECT_EQ(stationIdCommand(c20, "a\"bcdefghijklmnopqrstuvwxyz"),
            "AT+FLI=\"a bcdefghijklmnopqrs\"");
  EXPECT_STREQ(commandTable(fcClass2).hangupReport, "FHNG");
  EXPECT_STREQ(commandTable(fcClass2_0).pageStatusReport, "+FPS");
}

TEST(Class2Reports, ClassifiesWhatModemsSend) {
  struct Case {
    const char *line;
    Report want;
  } cases[] = {
      {"OK", Report::Ok},
      {"ok\r", Report::Ok},
      {"\n\x11 CONNECT 14400", Report::Connect},
      {"NO CARRIER", Report::NoCarrier},
      {"+FCON", Report::FaxConnect},
      {"+FCO", Report::FaxConnect},
      {"+fdis: 1,3,0,2,0,0,0,4", Report::RemoteCaps},
      {"+FIS:1,5,0,2,0,0,0,0", Report::RemoteCaps},
      {"+FDCS:1,3,0,2,0,0,0,4", Report::Session},
      {"+FCS=0,3,0,2,0,0,0,0", Report::Session},
      {"+FCSI:       49 89 2710834 ", Report::Csi},
      {"+FTI:\"+1 555\"", Report::Tsi},
      {"+FPTS:1", Report::PageStatus},
      {"+FPS:1,0,0,0,0", Report::PageStatus},
      {"+FET:2", Report::PostPage},
      {"+FHNG:", Report::Hangup},
      {"+FHS:00", Report::Hangup},
      {"FHNG: 50", Report::Hangup},
      {"+FNSF:00 00 00 00 ", Report::Other},
      // Echoed commands and ids with result words in them are not results.
      {"AT+FDIS=1,3,0,2,0,0,0,0", Report::Other},
      {"+FCSI:TOKYO", Report::Csi},
      {"", Report::None},
      {"\r\n", Report::None},
  };
  for (const auto &c : cases) EXPECT_EQ(classify(c.line), c.want) << c.line;
}

TEST(Class2Reports, SessionParameters) {
  struct Case {
    const char *line;
    bool fine, wide, ecm;
    int rate, scan, minBytes;
  } cases[] = {
      {"+FDCS:1,3,0,2,0,0,0,4", true, false, false, 9600, 4, 12},
      {"+FCS: 0,5,1,2,0,1,0,6", false, true, true, 14400, 6, 72},
      {"+FDIS: 1, 0, 0, 2, 0, 2, 0, 7", true, false, true, 2400, 7, 12},
      {"+FIS:7F,4,0,2,0,0,0,1", true, false, false, 12000, 1, 7},
      {"+FDCS:", false, false, false, 9600, 0, 0},
      {"+FDCS:0,9,0", false, false, false, 9600, 0, 0},
      {"+FCS:1,3,0,2,0,0,0,99", true, false, false, 9600, 0, 0},
  };
  for (const auto &c : cases) {
    auto p = parseParams(c.line);
    EXPECT_EQ(p.fine, c.fine) << c.line;
    EXPECT_EQ(p.wide, c.wide) << c.line;
    EXPECT_EQ(p.ecm, c.ecm) << c.line;
    EXPECT_EQ(p.lineRate, c.rate) << c.line;
    EXPECT_EQ(p.scanCode, c.scan) << c.line;
    EXPECT_EQ(minBytesPerLine(p), c.minBytes) << c.line;
  }
}

TEST(Class2Reports, StationIdsDigitsAndHangupCodes) {
  EXPECT_EQ(stationId("+FCSI:       49 89 2710834 "), "49 89 2710834");
  EXPECT_EQ(stationId("+FTI: \"  +1 555 0100 \""), "+1 555 0100");
  EXPECT_EQ(stationId("+FTSI:123456789012345678901234"), "12345678901234567890");
  EXPECT_EQ(stationId("+FCI:"), "");
  EXPECT_EQ(stationId("+FCI:\"a\x01z\""), "a z");
  EXPECT_EQ(firstDigit("+FPTS:1,0,0,0"), 1);
  EXPECT_EQ(firstDigit("+FPS: 2,0,0,0,0"), 2);
  EXPECT_EQ(firstDigit("+FET:"), -1);
  EXPECT_EQ(firstDigit("+FPTS:x"), -1);
  struct Case {
    const char *line;
    bool v20;
    int code;
  } codes[] = {
      {"+FHNG:00", false, 0}, {"+FHNG:000", false, 0},     {"+FHNG: 50", false, 50},
      {"+FHNG:", false, 0},   {"+FHNG:100", false, 100},   {"+FHNG:5", false, 5},
      {"+FHS:52", true, 52},  {"+FHS:A1", true, 101},      {"+fhs: 0", true, 0},
      {"+FHNG:A1", false, 0}, {"+FHNG:12345", false, 123}, {"+:FD1", true, 999},
  };
  for (const auto &c : codes) EXPECT_EQ(hangupCode(c.line, c.v20), c.code) << c.line;
  EXPECT_STREQ(hangupText(52), "no response to MPS repeated three times");
  EXPECT_STREQ(hangupText(101), "RSPREC invalid response received");
  EXPECT_STREQ(hangupText(999), "");
}

}  // namespace
}  // namespace kv::class2
