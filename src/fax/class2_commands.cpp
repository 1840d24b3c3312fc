#include "fax/class2_commands.h"

namespace kv::class2 {

namespace {
const CommandTable kClass2 = {false,   "AT+FCLASS=2", "AT+FDIS", "AT+FLID", "AT+FDCC", "+FCON",
                              "+FDIS", "+FDCS",       "+FTSI",   "+FCSI",   "+FPTS",   "FHNG"};
const CommandTable kClass20 = {true,   "AT+FCLASS=2.0", "AT+FIS", "AT+FLI", "AT+FCC", "+FCO",
                               "+FIS", "+FCS",          "+FTI",   "+FCI",   "+FPS",   "FHS"};
}  // namespace

const CommandTable &commandTable(TFaxClass cls) {
  return cls == fcClass2_0 ? kClass20 : kClass2;
}

char rateDigit(int bps) {
  switch (bps) {
    case 2400:
      return '0';
    case 4800:
      return '1';
    case 7200:
      return '2';
    case 12000:
      return '4';
    case 14400:
      return '5';
    default:
      return '3';
  }
}

std::string sendCapabilities(const CommandTable &t, bool fine, int desiredBps, bool wide, bool ecm,
                             bool twoD) {
  std::string s = t.sendCaps;
  s += '=';
  s += fine ? '1' : '0';
  s += ',';
  s += rateDigit(desiredBps);
  s += ',';
  s += wide ? '1' : '0';
  s += twoD ? ",2,1," : ",2,0,";
  s += ecm ? '1' : '0';
  s += ",0,0";
  return s;
}

std::string receiveCapabilities(const CommandTable &t, int desiredBps, bool ecm, bool twoD) {
  std::string s = t.receiveCaps;
  s += "=1,";
  s += rateDigit(desiredBps);
  s += twoD ? ",0,2,1," : ",0,2,0,";
  s += ecm ? '1' : '0';
  s += ",0,0";
  return s;
}

std::string stationIdCommand(const CommandTable &t, std::string_view id) {
  std::string s = cut(id, kStationIdMax);
  for (char &c : s)
    if (c == '"') c = ' ';
  return std::string(t.stationId) + "=\"" + s + "\"";
}

}  // namespace kv::class2
