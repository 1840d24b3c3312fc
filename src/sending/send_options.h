#pragma once
// What a send takes from the settings and gives back to them, in the form the send window's
// controls hold it (texts for the number edits, list positions for the choices), and how it is
// put into a sender. The window and `korvane-fax send-row` both go through here, so a fax
// sent from either leaves the same settings and dials the same way.
#include <ctime>
#include <string>

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
};

// The settings as the send window shows them.
SendOptions OptionsFromSettings(const Settings &s);
// Back into the settings: every value, except a number text that is not a number, which leaves
// its setting as it was.
void OptionsToSettings(const SendOptions &o, Settings &s);

// A whole decimal number, not negative (blanks around it allowed); false for anything else.
bool ParseNumberText(const std::string &text, int &value);

// Puts the options, the fax file and the number into the sender: rate, dialling, class, the
// three number edits (a text that is not a number skips that one and the ones after it, so
// they keep the sender's earlier values), station id, prefix, extra init command, and the
// header line built from name and station id at `now`.
void ConfigureSender(TKvSendFax &fax, const SendOptions &o, const std::string &faxFile,
                     const std::string &phone, const std::tm &now);

// The result text of a finished fax: "Sent" for success (or a text that reads "OK"), else the
// error text of the code.
std::string SendResultText(Result code);
// True when a row's result text counts as sent: "SENT" or "OK", any case.
bool ResultMeansSent(const std::string &text);

}  // namespace kv
