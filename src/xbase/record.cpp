// Record images and dates: how one row's fields are encoded in and decoded from its bytes.
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>

#include "base/byte_order.h"
#include "xbase/table_internal.h"

namespace kv::xbase {

using namespace table_detail;

// ---- Dates ----------------------------------------------------------------------------------

bool Date::Valid(int y, int m, int d) {
  if (y < 1 || y > 9999 || m < 1 || m > 12 || d < 1) return false;
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return d <= days[m - 1] + (m == 2 && leap ? 1 : 0);
}

long Date::JulianDay() const {
  if (empty()) return 0;
  // Days from civil (proleptic Gregorian), shifted to the Julian day number.
  long y = year - (month <= 2 ? 1 : 0);
  long era = (y >= 0 ? y : y - 399) / 400;
  long yoe = y - era * 400;
  long doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  long days = era * 146097 + doe - 719468;  // days since 1970-01-01
  return days + 2440588;
}

Date Date::FromJulianDay(long jdn) {
  if (jdn <= 0) return {};
  long z = jdn - 2440588 + 719468;
  long era = (z >= 0 ? z : z - 146096) / 146097;
  long doe = z - era * 146097;
  long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  long y = yoe + era * 400;
  long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  long mp = (5 * doy + 2) / 153;
  long d = doy - (153 * mp + 2) / 5 + 1;
  long m = mp < 10 ? mp + 3 : mp - 9;
  return {int(y + (m <= 2 ? 1 : 0)), int(m), int(d)};
}

// ---- Record ---------------------------------------------------------------------------------

std::string Record::GetRawField(int field) const {
  if (!fields_ || field < 0 || size_t(field) >= fields_->size()) return {};
  const FieldInfo &f = (*fields_)[size_t(field)];
  return raw_.substr(size_t(f.offset), size_t(f.width));
}

std::string Record::GetString(int field) const {
  return RTrim(GetRawField(field));
}

bool Record::IsBlank(int field) const {
  std::string r = GetRawField(field);
  return r.find_first_not_of(' ') == std::string::npos;
}

double Record::GetNumber(int field) const {
  if (!fields_ || field < 0 || size_t(field) >= fields_->size()) return 0;
  return FieldValue((*fields_)[size_t(field)], raw_).n;
}

bool Record::GetLogical(int field) const {
  std::string r = GetRawField(field);
  return !r.empty() && std::strchr("TtYy", r[0]) != nullptr && r[0] != 0;
}

Date Record::GetDate(int field) const {
  if (!fields_ || field < 0 || size_t(field) >= fields_->size()) return {};
  Value v = FieldValue((*fields_)[size_t(field)], raw_);
  return v.type == 'D' ? Date::FromJulianDay(v.jdn) : Date{};
}

uint32_t Record::MemoBlock(int field) const {
  std::string r = GetRawField(field);
  if (r.size() == 4) return getLe32(reinterpret_cast<const uint8_t *>(r.data()));
  uint64_t v = 0;
  for (char c : r) {
    if (c == ' ' || c == '\0') continue;
    if (!std::isdigit(uint8_t(c))) return 0;
    v = v * 10 + uint64_t(c - '0');
    if (v > 0xFFFFFFFFu) return 0;
  }
  return uint32_t(v);
}

const std::string *Record::PendingMemo(int field) const {
  auto it = pendingMemo_.find(field);
  return it == pendingMemo_.end() ? nullptr : &it->second;
}

namespace {
bool CheckField(const Record &r, int field, const std::vector<FieldInfo> *fields, Status *st) {
  (void)r;
  if (!fields || field < 0 || size_t(field) >= fields->size()) {
    *st = Err(ecBadArgument, "no such field");
    return false;
  }
  return true;
}
}  // namespace

Status Record::PutString(int field, const std::string &value) {
  Status st;
  if (!CheckField(*this, field, fields_, &st)) return st;
  const FieldInfo &f = (*fields_)[size_t(field)];
  if (f.type == 'M') return PutMemo(field, value);
  if (f.type != 'C') return Err(ecBadArgument, "field " + f.name + " is not a character field");
  // A fixed-width column keeps what fits, as every xBase tool does.
  std::string v = value.substr(0, size_t(f.width));
  v.resize(size_t(f.width), ' ');
  raw_.replace(size_t(f.offset), size_t(f.width), v);
  return st;
}

Status Record::PutNumber(int field, double value) {
  Status st;
  if (!CheckField(*this, field, fields_, &st)) return st;
  const FieldInfo &f = (*fields_)[size_t(field)];
  if (f.type != 'N' && f.type != 'F')
    return Err(ecBadArgument, "field " + f.name + " is not numeric");
  if (!std::isfinite(value)) return Err(ecBadArgument, "not a number for field " + f.name);
  char buf[400];
  auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, f.decimals);
  if (res.ec != std::errc()) return Err(ecDataTooLarge, "number too large for field " + f.name);
  std::string s(buf, res.ptr);
  if (s == "-0" || (s.size() > 1 && s[0] == '-' && s.find_first_not_of("-0.") == std::string::npos))
    s = s.substr(1);
  if (s.size() > size_t(f.width))
    return Err(ecDataTooLarge, "value " + s + " does not fit field " + f.name);
  s.insert(0, size_t(f.width) - s.size(), ' ');
  raw_.replace(size_t(f.offset), size_t(f.width), s);
  return st;
}

Status Record::PutLogical(int field, bool value) {
  Status st;
  if (!CheckField(*this, field, fields_, &st)) return st;
  const FieldInfo &f = (*fields_)[size_t(field)];
  if (f.type != 'L') return Err(ecBadArgument, "field " + f.name + " is not logical");
  raw_[size_t(f.offset)] = value ? 'T' : 'F';
  return st;
}

Status Record::PutDate(int field, const Date &value) {
  Status st;
  if (!CheckField(*this, field, fields_, &st)) return st;
  const FieldInfo &f = (*fields_)[size_t(field)];
  if (f.type != 'D') return Err(ecBadArgument, "field " + f.name + " is not a date");
  std::string s(8, ' ');
  if (!value.empty()) {
    if (!Date::Valid(value.year, value.month, value.day))
      return Err(ecBadArgument, "invalid date for field " + f.name);
    char b[16];
    std::snprintf(b, sizeof b, "%04d%02d%02d", value.year, value.month, value.day);
    s = b;
  }
  raw_.replace(size_t(f.offset), 8, s);
  return st;
}

Status Record::PutBlank(int field) {
  Status st;
  if (!CheckField(*this, field, fields_, &st)) return st;
  const FieldInfo &f = (*fields_)[size_t(field)];
  if (f.type == 'M') return PutMemo(field, {});
  raw_.replace(size_t(f.offset), size_t(f.width), size_t(f.width), ' ');
  return st;
}

Status Record::PutMemo(int field, const std::string &bytes) {
  Status st;
  if (!CheckField(*this, field, fields_, &st)) return st;
  const FieldInfo &f = (*fields_)[size_t(field)];
  if (f.type != 'M') return Err(ecBadArgument, "field " + f.name + " is not a memo");
  if (bytes.size() > 0x7FFF0000u) return Err(ecDataTooLarge, "memo too large");
  pendingMemo_[field] = bytes;
  return st;
}

// ---- Whole rows ---------------------------------------------------------------------------

// A row a crash or a torn write left half done is zeros or noise; one that was written whole
// carries a deletion flag and fields in their own alphabet.
bool table_detail::PlausibleRow(const std::string &raw, const std::vector<FieldInfo> &fields) {
  if (raw.empty() || (raw[0] != ' ' && raw[0] != '*')) return false;
  for (const FieldInfo &f : fields) {
    const std::string_view v(raw.data() + f.offset, size_t(f.width));
    auto only = [&](std::string_view allowed) {
      return v.find_first_not_of(allowed) == std::string_view::npos;
    };
    switch (f.type) {
      case 'D':
        if (!only("0123456789") && !only(" ")) return false;
        break;
      case 'L':
        if (!only(" ?TtFfYyNn")) return false;
        break;
      case 'N':
      case 'F':
        if (!only(" 0123456789.-+eE*")) return false;
        break;
      case 'M':
        if (f.width == 10 && !only(" 0123456789")) return false;
        break;
      default:
        break;
    }
  }
  return true;
}

}  // namespace kv::xbase
