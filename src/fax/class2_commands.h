#pragma once
// Class 2 and Class 2.0 modems run T.30 themselves; the host configures them with AT+F
// commands. The two classes follow the same sequence and differ in spelling, which this table
// holds, and in flow control and page ends, which the state machines handle.
#include <string>
#include <string_view>

#include "fax/fax_defs.h"

namespace kv::class2 {

struct CommandTable {
  bool v20 = false;           // Class 2.0 spelling
  const char *selectClass;    // AT+FCLASS=2 / AT+FCLASS=2.0
  const char *sendCaps;       // own capabilities for sending
  const char *stationId;      // own station id
  const char *receiveCaps;    // own capabilities for receiving
  const char *connectReport;  // fax connection
  const char *remoteCapsReport;
  const char *sessionReport;  // negotiated session parameters
  const char *tsiReport;      // transmitting station id
  const char *csiReport;      // called station id
  const char *pageStatusReport;
  const char *hangupReport;  // without the "+": matched anywhere in a line
};

// The table of a class; Class 2 for anything but Class 2.0.
const CommandTable &commandTable(TFaxClass cls);

// Rate digit offered for a highest rate in bps ("3", 9600, for any rate not in the list).
char rateDigit(int bps);

// "AT+FDIS=vr,br,wd,2,df,ec,0,0" (or +FIS): capabilities announced before dialling; twoD offers
// two-dimensional coding (df 1) besides MH.
std::string sendCapabilities(const CommandTable &t, bool fine, int desiredBps, bool wide, bool ecm,
                             bool twoD = false);
// "AT+FDCC=1,br,0,2,df,ec,0,0" (or +FCC): always fine, normal width, any length; MH, and MR
// with twoD.
std::string receiveCapabilities(const CommandTable &t, int desiredBps, bool ecm, bool twoD = false);
// AT+FLID="id" (or +FLI). The id is cut to 20 characters; a double quote in it would end the
// string early on the modem's side, so it becomes a blank.
std::string stationIdCommand(const CommandTable &t, std::string_view id);

}  // namespace kv::class2
