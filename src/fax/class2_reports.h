#pragma once
// Reading what a Class 2 or 2.0 modem reports. Real modems are loose with the standards:
// blanks after the colon, quoted or bare and blank-padded station ids, codes of one to three
// digits, lower case, stray control characters, command echo. Every reader here takes the
// line as the modem sent it and never fails; what cannot be read gives a neutral value.
#include <cstdint>
#include <string>
#include <string_view>

#include "fax/class2_commands.h"

namespace kv::class2 {

enum class Report {
  None,        // an empty line
  Ok,          // OK
  Connect,     // CONNECT (page data follows or is wanted)
  Error,       // ERROR
  NoCarrier,   // NO CARRIER
  Busy,        // BUSY
  Answer,      // NO ANSWER
  Voice,       // VOICE
  NoDialTone,  // NO DIALTONE / NO DIAL TONE
  Ring,        // RING
  FaxConnect,  // +FCON / +FCO
  RemoteCaps,  // +FDIS / +FIS
  Session,     // +FDCS / +FCS
  Tsi,         // +FTSI / +FTI
  Csi,         // +FCSI / +FCI
  PageStatus,  // +FPTS / +FPS
  PostPage,    // +FET
  Hangup,      // +FHNG / +FHS
  Other,       // information we do not use (+FNSF, echo, ...)
};

// What a line is. Reports are known by their name before the colon in either class's
// spelling, so an echoed command ("AT+FDIS=...") or a station id containing "OK" is not
// mistaken for a report or a result.
Report classify(std::string_view line);

// Session parameters from +FDIS/+FIS/+FDCS/+FCS: vr,br,wd,ln,df,ec,bf,st.
struct SessionParams {
  bool fine = false;
  bool wide = false;
  bool ecm = false;
  int lineRate = 9600;
  int scanCode = 0;   // st, 0..7
  bool twoD = false;  // df 1: two-dimensional coding (MR)
};
SessionParams parseParams(std::string_view line);
// Minimum bytes per coded line for the scan time of st at a rate and resolution.
int minBytesPerLine(const SessionParams &p);
// The same minimum in bits, for page data packed bit-tight.
int minBitsPerLine(const SessionParams &p);

// Station id from +FCSI/+FTSI/+FCI/+FTI: quotes and blanks trimmed, at most 20 characters.
std::string stationId(std::string_view line);

// First digit of +FPTS/+FPS (page status) or +FET (post-page message); -1 when none.
int firstDigit(std::string_view line);

// Hang-up code of +FHNG (decimal) or +FHS (hexadecimal), in the decimal numbering of the
// Class 2 table, which the Class 2.0 codes follow digit for digit (2.0's "A1" is 101).
// A bare report without a code is 0.
int hangupCode(std::string_view line, bool v20);
// A byte with its bit order reversed (bit 0 becomes bit 7): how Class 2 modems hand received
// page data over.
std::uint8_t reversedBits(std::uint8_t b);

// What a hang-up code means, e.g. "no response to MPS repeated 3 times"; "" when unknown.
const char *hangupText(int code);

}  // namespace kv::class2
