#include "fax/fax_text.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace kv {

namespace {
const char *const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

bool isFile(const std::string &path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}
}  // namespace

std::string shortDate(const std::tm &t) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d/%02d/%04d", t.tm_mon + 1, t.tm_mday, t.tm_year + 1900);
  return buf;
}

std::string longTime(const std::tm &t) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", t.tm_hour, t.tm_min, t.tm_sec);
  return buf;
}

std::tm localNow() {
  std::time_t now = std::time(nullptr);
  std::tm t{};
  localtime_r(&now, &t);
  return t;
}

std::string substituteHeader(std::string_view text, const HeaderFields &f) {
  std::string s(text);
  std::size_t pos = 0;
  while ((pos = s.find('$', pos)) != std::string::npos) {
    std::size_t end = s.find(' ', pos);
    if (end == std::string::npos) end = s.size();
    char code =
        pos + 1 < s.size() ? char(std::toupper(static_cast<unsigned char>(s[pos + 1]))) : '\0';
    std::string value;
    switch (code) {
      case 'D':
        value = shortDate(f.now);
        break;
      case 'T':
        value = longTime(f.now);
        break;
      case 'I':
        value = f.stationId;
        break;
      case 'F':
        value = f.sender;
        break;
      case 'R':
        value = f.recipient;
        break;
      case 'S':
        value = f.title;
        break;
      case 'N':
        value = std::to_string(f.faxPages + f.coverPages);
        break;
      case 'P': {
        int p = f.pageNumber;
        if (f.sendingCover)
          p = f.coverPage;
        else if (f.afterCover)
          p = f.pageNumber + f.coverPages;
        value = std::to_string(p);
        break;
      }
      default:
        break;
    }
    s.replace(pos, end - pos, value);
    // Go on after the inserted text, so a value holding "$" is never expanded again.
    pos += value.size();
  }
  if (s.size() > kPassStringMax) s.resize(kPassStringMax);
  return s;
}

std::string BuildHeader(std::string_view name, std::string_view stationId, const std::tm &now) {
  std::string h = "Page $P of $N, Sent ";
  std::string both = std::string(name) + std::string(stationId);
  both.erase(0, both.find_first_not_of(' '));
  if (!both.empty() && both.find_first_not_of(' ') != std::string::npos) h += "by ";
  if (!name.empty()) h += std::string(name) + ",";
  if (!stationId.empty()) h += " $I ";
  int hour = now.tm_hour % 12;
  if (hour == 0) hour = 12;
  char buf[64];
  std::snprintf(buf, sizeof buf, " on %d %s %04d at %02d:%02d%s", now.tm_mday,
                kMonths[std::clamp(now.tm_mon, 0, 11)], now.tm_year + 1900, hour, now.tm_min,
                now.tm_hour < 12 ? "am" : "pm");
  return h + buf;
}

std::string defaultInitString(bool blindDial, bool detectBusy) {
  if (detectBusy) return blindDial ? "ATE0Q0V1X3S0=0S2=43" : "ATE0Q0V1X4S0=0S2=43";
  return blindDial ? "ATE0Q0V1X1S0=0S2=43" : "ATE0Q0V1X2S0=0S2=43";
}

std::string normalizeModemInit(std::string_view in) {
  std::string s(in);
  for (auto &c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
  if (s.empty() || s[0] != 'A') s = "AT" + s;
  return cut(s, kModemStringMax);
}

std::string receiveFileName(TFaxNaming scheme, std::string_view dir, std::string_view ext,
                            const std::tm &today) {
  if (scheme == nmFixed) return "noname.apf";
  std::string prefix(dir);
  if (!prefix.empty() && prefix.back() != '/') prefix += '/';
  char stem[16];
  if (scheme == nmMonthDay)
    std::snprintf(stem, sizeof stem, "%02d%02d", today.tm_mon + 1, today.tm_mday);
  else
    std::snprintf(stem, sizeof stem, "FAX");
  for (int n = 1; n <= 9999; ++n) {
    char num[8];
    std::snprintf(num, sizeof num, "%04d", n);
    std::string name = prefix + stem + num + "." + std::string(ext);
    if (!isFile(name)) return cut(name, kPassStringMax);
  }
  return "NONAME.APF";
}

}  // namespace kv
