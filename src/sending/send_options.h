#pragma once
// What a send takes from the settings and gives back to them, in the form the send window's
// controls hold it (texts for the number edits, list positions for the choices), and how it is
// put into a sender. The window and `korvane-fax send-row` both go through here, so a fax
// sent from either leaves the same settings and dials the same way.
#include <ctime>
#include <string>

#include "base/dial_string.h"
#include "base/result_codes.h"
#include "settings/settings.h"

namespace kv {

class TKvSendFax;

struct SendOptions {
  int portItem = 0;  // 0 = Com1
  std::string name, stationId, dialPrefix, modemInit;
  std::string dialAttempts = "3", retryWait = "60", timeout = "60";  // as typed
  int faxClassItem = 0;                                              // 0 auto detect .. 3 class 2.0
  bool pulse = false, blindDial = false, ignoreBusy = false;
  int rateItem = 3;  // 0 = 2400 .. 5 = 14400
  bool twoD = true;  // KRV.INI [Modem] TwoDimensional: MR where the far end takes it
  // KRV.INI [Dialing] InternationalPrefix: dialled for a leading "+" (not a window field, so
  // the window's options give it back unchanged and it is not written from them).
  std::string internationalPrefix;
};

// The number and the dial prefix, checked, as the modem dials them.
struct Dialling {
  DialString prefix, number;
};

// The options' dial prefix and `phone` (as typed or stored in a row) made into what the modem
// dials, the number's "+" into the international prefix. False with `reason` naming what
// cannot be dialled and why.
bool ParseDialling(const SendOptions &o, const std::string &phone, Dialling &out,
                   std::string &reason);

// The settings as the send window shows them.
SendOptions OptionsFromSettings(const Settings &s);
// Back into the settings: every value, except a number text that is not a number, which leaves
// its setting as it was.
void OptionsToSettings(const SendOptions &o, Settings &s);

// A whole decimal number, not negative (blanks around it allowed); false for anything else.
bool ParseNumberText(const std::string &text, int &value);

// Puts the options, the fax file and the number into the sender: rate, dialling, class, the
// three number edits (a text that is not a number skips that one and the ones after it, so
// they keep the sender's earlier values), station id, prefix and number, extra init command,
// and the header line built from name and station id at `now`.
void ConfigureSender(TKvSendFax &fax, const SendOptions &o, const std::string &faxFile,
                     const Dialling &dial, const std::tm &now);

// The result text of a finished fax: "Sent" for success (or a text that reads "OK"), else the
// error text of the code.
std::string SendResultText(Result code);
// True when a row's result text counts as sent: "SENT" or "OK", any case.
bool ResultMeansSent(const std::string &text);

}  // namespace kv
