#include "sending/send_options.h"

#include <algorithm>
#include <cctype>
#include <charconv>

#include "base/error_text.h"
#include "fax/fax_text.h"
#include "fax/send_fax.h"

namespace kv {

namespace {
std::string upper(std::string s) {
  for (auto &c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
  return s;
}
std::string trimmed(const std::string &s) {
  const auto b = s.find_first_not_of(' ');
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(' ') - b + 1);
}
}  // namespace

bool ParseNumberText(const std::string &text, int &value) {
  const std::string t = trimmed(text);
  // Counts and seconds only: a minus sign would wrap into a huge 16-bit value.
  if (t.empty() || t[0] == '-') return false;
  int v = 0;
  const char *end = t.data() + t.size();
  auto [p, ec] = std::from_chars(t.data() + (t[0] == '+' ? 1 : 0), end, v);
  if (ec != std::errc() || p != end) return false;
  value = v;
  return true;
}

SendOptions OptionsFromSettings(const Settings &s) {
  SendOptions o;
  o.portItem = std::clamp(s.comPort, 0, 5);
  o.name = s.userName;
  o.stationId = s.userFax;
  o.dialPrefix = s.dialPrefix;
  o.modemInit = s.modemInit;
  o.dialAttempts = std::to_string(s.dialAttempts);
  o.retryWait = std::to_string(s.retryWait);
  o.timeout = std::to_string(s.dialTimeout);
  o.faxClassItem = std::clamp(s.faxClass, 0, 3);
  o.pulse = s.toneOrPulse == 1;
  o.blindDial = s.blindDial;
  o.ignoreBusy = s.ignoreBusy;
  o.rateItem = transferRateIndex(s.maximumBps);
  o.twoD = s.twoDimensional;
  o.internationalPrefix = s.internationalPrefix;
  return o;
}

void OptionsToSettings(const SendOptions &o, Settings &s) {
  s.comPort = o.portItem;
  s.userName = o.name;
  s.userFax = o.stationId;
  s.dialPrefix = o.dialPrefix;
  s.modemInit = o.modemInit;
  s.maximumBps = transferRateForIndex(o.rateItem);
  int n = 0;
  if (ParseNumberText(o.dialAttempts, n)) s.dialAttempts = n;
  if (ParseNumberText(o.retryWait, n)) s.retryWait = n;
  s.faxClass = o.faxClassItem;
  s.toneOrPulse = o.pulse ? 1 : 0;
  s.blindDial = o.blindDial;
  s.ignoreBusy = o.ignoreBusy;
  if (ParseNumberText(o.timeout, n)) s.dialTimeout = n;
}

bool ParseDialling(const SendOptions &o, const std::string &phone, Dialling &out,
                   std::string &reason) {
  Dialling d;
  if (DialString::parsePrefix(o.dialPrefix, d.prefix, reason) < 0 ||
      DialString::parse(phone, d.number, reason, o.internationalPrefix) < 0)
    return false;
  out = std::move(d);
  return true;
}

void ConfigureSender(TKvSendFax &fax, const SendOptions &o, const std::string &faxFile,
                     const Dialling &dial, const std::tm &now) {
  fax.DesiredBPS = std::uint16_t(transferRateForIndex(o.rateItem));
  fax.Allow2D = o.twoD;
  fax.BlindDial = o.blindDial;
  fax.DetectBusy = !o.ignoreBusy;
  fax.FaxFile = faxFile;
  fax.CoverFile.clear();
  fax.PhoneNumber = dial.number;
  fax.ToneDial = !o.pulse;
  fax.FaxClass = TFaxClass(std::clamp(o.faxClassItem, 0, 3) + 1);
  // The three numbers in the order of the window: the first that is not a number ends the
  // copying, the rest keep what the sender had.
  int n = 0;
  if (ParseNumberText(o.dialAttempts, n)) {
    fax.DialAttempts = std::uint16_t(std::clamp(n, 0, 65535));
    if (ParseNumberText(o.retryWait, n)) {
      fax.SetDialRetryWait(std::uint16_t(std::clamp(n, 0, 65535)));
      if (ParseNumberText(o.timeout, n)) fax.SetDialWait(std::uint16_t(std::clamp(n, 0, 65535)));
    }
  }
  fax.StationID = o.stationId;
  fax.DialPrefix = dial.prefix;
  if (!o.modemInit.empty())
    fax.SetModemInit(upper(o.modemInit).find("AT") != std::string::npos ? o.modemInit
                                                                        : "AT" + o.modemInit);
  fax.HeaderSender = o.name;
  fax.HeaderLine = BuildHeader(o.name, o.stationId, now);
}

std::string SendResultText(Result code) {
  const std::string text = errorText(code);
  return code == 0 || upper(text) == "OK" ? "Sent" : text;
}

bool ResultMeansSent(const std::string &text) {
  const std::string u = upper(text);
  return u == "SENT" || u == "OK";
}

}  // namespace kv
