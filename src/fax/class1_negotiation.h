#pragma once
// What a Class 1 session negotiates with the far end and keeps between its states: the
// modulations each side offers, the one in use, the remote's capabilities, and the frame
// bookkeeping of the command/response exchange. Each machine holds one for its session.
#include <array>
#include <cstdint>
#include <string>

#include "fax/t30.h"

namespace kv {

struct Class1Negotiation {
  std::array<bool, t30::kModCount + 1> ownRates{};
  std::array<bool, t30::kModCount + 1> remoteRates{};
  int rateIndex = 4;
  std::string rateCode = "96";
  bool remoteFine = false;
  bool remoteWide = false;
  bool remote2D = false;  // the far end's DIS offers MR, or its DCS announces MR pages
  int scanCode = 0;
  int minBytes = 0;
  int minBits = 0;  // the same minimum scan-line time in bits, for page data on the line
  // Frames of the current exchange.
  bool finalFrame = false;  // the last frame had the final bit: the modem's OK ends the exchange
  bool cfrReceived = false;
  bool retrainRequested = false;
  std::uint8_t lastFcf = 0;
  bool frameStarted = false;  // the modem said CONNECT to a frame reception, no OK yet
  int missedFrames = 0;       // frames damaged or not heard in a row (see missedFrame)
  int refusedTransmits = 0;   // ERROR answers to AT+FTH/AT+FTM since the last CONNECT
  int unanswered = 0;         // DCS and training sent again for want of any answer
  bool stopping = false;      // a reception is being stopped (one byte sent), answer awaited
};

}  // namespace kv
