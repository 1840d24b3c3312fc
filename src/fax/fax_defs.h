#pragma once
// Types, codes and fixed timings shared by the send and receive sessions. Every delay and
// time-out of the engine lives here so that the state machines read as protocol, not numbers.
#include <cstdint>
#include <string>
#include <string_view>

namespace kv {

enum TFaxClass : std::uint8_t {
  fcUnknown = 0,
  fcDetect = 1,
  fcClass1 = 2,
  fcClass2 = 3,
  fcClass2_0 = 4,
};

enum TFaxLogCode : std::uint8_t {
  lcNone = 0,
  lcTransmitStart = 1,
  lcTransmitOk = 2,
  lcTransmitFail = 3,
  lcReceiveStart = 4,
  lcReceiveOk = 5,
  lcReceiveSkip = 6,
  lcReceiveFail = 7,
};

enum TFaxNaming : std::uint8_t { nmFixed = 0, nmSequence = 1, nmMonthDay = 2 };

// Bits of the class set returned by the class query.
constexpr int kClass1Bit = 4;
constexpr int kClass2Bit = 8;
constexpr int kClass2_0Bit = 16;

// Event messages from a session to its component.
constexpr std::uint16_t fmFaxAbort = 0x7EA0;
constexpr std::uint16_t fmFaxNext = 0x7EA1;
constexpr std::uint16_t fmFaxStatus = 0x7EA2;
constexpr std::uint16_t fmFaxLog = 0x7EA3;
constexpr std::uint16_t fmFaxName = 0x7EA4;
constexpr std::uint16_t fmFaxAccept = 0x7EA5;
constexpr std::uint16_t fmFaxError = 0x7EA6;
constexpr std::uint16_t fmFaxFinish = 0x7EA7;

// Progress codes (ProgressCode). The display text of code n is string 13000 + n.
enum FaxProgress : std::uint16_t {
  fpNone = 0,
  fpInitModem = 1,
  fpDialing = 2,
  fpBusyWait = 3,
  fpSendPage = 4,
  fpSendEop = 5,
  fpPageError = 6,
  fpPageOk = 7,
  fpIncomingCallWait = 8,  // like fpBusyWait: the line rang with a call coming in
  fpWaiting = 20,
  fpNoConnect = 21,
  fpAnswering = 22,
  fpIncomingFax = 23,
  fpGetPage = 24,
  fpGetPageResult = 25,
  fpCheckMorePages = 26,
  fpGetHangup = 27,
  fpGotHangup = 28,
  fpSessionParams = 40,
  fpGotRemoteId = 41,
  fpUserAbort = 42,
  fpFaxSent = 43,
};

// Maximum lengths of the engine's strings; longer values are cut, never rejected.
constexpr std::size_t kModemStringMax = 40;
constexpr std::size_t kStationIdMax = 20;
constexpr std::size_t kPassStringMax = 255;
constexpr std::size_t kInitStringMax = 20;

inline std::string cut(std::string_view s, std::size_t max) {
  return std::string(s.substr(0, max));
}

namespace faxtime {
// Time-outs, in ticks.
constexpr std::int32_t kResponseTicks = 182;   // 10 s for a modem reply
constexpr std::int32_t kReplyRestTicks = 36;   // 2 s for the rest of a reply once it started
constexpr std::int32_t kPageDataTicks = 1092;  // 60 s without page-data progress
constexpr std::int32_t kDialWaitTicks = 1092;  // 60 s from dialling to the fax connection
constexpr std::int32_t kFirstByteTicks = 18;   // 1 s for XON before page data
// T.30's time-outs. T4 bounds the wait for the *start* of a response (the modem's CONNECT);
// once a frame has started it is read to its end within kFrameTicks.
constexpr std::int32_t kT1AnswerTicks = 637;  // T1: 35 s for the caller to identify itself
constexpr std::int32_t kT2Ticks = 109;        // T2: 6 s for a command (here: the training)
constexpr std::int32_t kT4Ticks = 54;         // T4: 3 s for a response to start
constexpr std::int32_t kFrameTicks = 91;      // 5 s for a started frame to end
constexpr int kMaxMissedFrames = 3;           // frames damaged or unheard in a row, then give up
constexpr int kMaxRefusedTransmits = 3;       // ERRORs to AT+FTH/AT+FTM in a row before giving up
constexpr int kMaxUnanswered = 3;             // DCS and training sent again without any answer
constexpr std::int32_t kHangupTicks = 26;     // for OK after ATH
constexpr std::int32_t kBaudSwitchTicks = 9;  // settle before a port rate change
constexpr std::int32_t kAnswerTicks = 1092;   // 60 s from ATA to CONNECT
constexpr std::int32_t kLineTicks = 182;      // 10 s of silence in received data

// Busy-wait delays, in milliseconds.
constexpr int kCommandDelay = 100;   // before every command
constexpr int kCharDelay = 0;        // between the characters of a command
constexpr int kClass1CmdDelay = 40;  // extra before +FRH/+FTH/+FTM/+FRM
constexpr int kTurnaround = 200;     // Class 1 line turnaround
constexpr int kPostPageFth = 500;    // before a post-page AT+FTH=3
constexpr int kHangupGuard = 1000;   // escape guard time around +++
constexpr int kDtrDrop = 500;        // DTR low
constexpr int kDtrSettle = 500;      // after DTR is raised again
constexpr int kFrameLead = 20;       // before the first byte of an HDLC frame
constexpr int kTrainDleWait = 10;    // after a DLE inside the training check
constexpr int kPostTrainTurn = 20;   // after the training carrier drops
}  // namespace faxtime

}  // namespace kv
