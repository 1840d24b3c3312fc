#include "settings/ini_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>

#include "base/exceptions.h"
#include "base/name_compare.h"

namespace kv {
namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";

std::string_view trim(std::string_view s) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

// The name of a section header line, or nullopt for any other line.
std::optional<std::string_view> headerName(std::string_view line) {
  line = trim(line);
  if (line.empty() || line.front() != '[') return std::nullopt;
  line.remove_prefix(1);
  const auto close = line.find(']');
  return trim(close == std::string_view::npos ? line : line.substr(0, close));
}

bool isComment(std::string_view line) {
  line = trim(line);
  return !line.empty() && (line.front() == ';' || line.front() == '#');
}

// Key and raw value of an entry line, or nullopt for any other line.
std::optional<std::pair<std::string_view, std::string_view>> entry(std::string_view line) {
  if (isComment(line) || headerName(line)) return std::nullopt;
  const auto eq = line.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  return std::pair{trim(line.substr(0, eq)), line.substr(eq + 1)};
}

std::string oneLine(std::string_view s) {
  std::string out(s);
  for (char &c : out)
    if (c == '\r' || c == '\n' || c == '\0') c = ' ';
  return out;
}

std::string encodeValue(std::string_view value) {
  std::string v = oneLine(value);
  const bool blankEnds = !v.empty() && (trim(v).size() != v.size());
  const bool quoted = v.size() >= 2 && v.front() == '"' && v.back() == '"';
  if (blankEnds || quoted) return '"' + v + '"';
  return v;
}

std::optional<int> parseInteger(std::string_view s) {
  s = trim(s);
  bool negative = false;
  if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  int base = 10;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    base = 16;
    s.remove_prefix(2);
  }
  if (s.empty()) return std::nullopt;
  unsigned long long magnitude = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), magnitude, base);
  if (ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
  long long value;
  if (base == 16 && !negative) {
    if (magnitude > 0xFFFFFFFFull) return std::nullopt;
    value = static_cast<std::int32_t>(static_cast<std::uint32_t>(magnitude));
  } else {
    if (magnitude > 2147483648ull) return std::nullopt;
    value = negative ? -static_cast<long long>(magnitude) : static_cast<long long>(magnitude);
    if (value > 2147483647ll) return std::nullopt;
  }
  return static_cast<int>(value);
}

[[noreturn]] void raiseWriteError(const std::filesystem::path &path, const std::string &why) {
  EIniWrite e("Cannot write the settings file " + path.string() + ": " + why);
  e.ErrorCode = ecIniWrite;
  throw e;
}

}  // namespace

IniFile IniFile::parse(std::string_view text) {
  IniFile ini;
  if (text.substr(0, kBom.size()) == kBom) {
    ini.bom_ = true;
    text.remove_prefix(kBom.size());
  }
  const auto firstNewline = text.find('\n');
  if (firstNewline != std::string_view::npos && firstNewline > 0 && text[firstNewline - 1] == '\r')
    ini.eol_ = "\r\n";
  while (!text.empty()) {
    const auto nl = text.find('\n');
    std::string_view line = text.substr(0, nl);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    ini.lines_.emplace_back(line);
    if (nl == std::string_view::npos) break;
    text.remove_prefix(nl + 1);
  }
  return ini;
}

IniFile::LoadStatus IniFile::load(const std::filesystem::path &path, std::string *error) {
  *this = IniFile();
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) {
    if (error) *error = path.string() + " does not exist";
    return LoadStatus::Missing;
  }
  if (!std::filesystem::is_regular_file(path, ec)) {
    if (error) *error = path.string() + " is not a file";
    return LoadStatus::Unreadable;
  }
  errno = 0;
  std::ifstream in(path, std::ios::binary);
  if (!in.is_open()) {
    if (error) *error = "cannot read " + path.string() + ": " + std::strerror(errno ? errno : EIO);
    return LoadStatus::Unreadable;
  }
  std::string data(kMaxFileBytes + 1, '\0');
  in.read(data.data(), static_cast<std::streamsize>(data.size()));
  if (in.bad()) {
    if (error) *error = "cannot read " + path.string();
    return LoadStatus::Unreadable;
  }
  data.resize(static_cast<std::size_t>(in.gcount()));
  if (data.size() > kMaxFileBytes) {
    if (error)
      *error = path.string() + " holds more than " + std::to_string(kMaxFileBytes >> 20) +
               " MiB, more than a settings file can";
    return LoadStatus::Unreadable;
  }
  *this = parse(data);
  return LoadStatus::Loaded;
}

std::string IniFile::text() const {
  std::string out;
  if (bom_) out += kBom;
  for (const std::string &line : lines_) {
    out += line;
    out += eol_;
  }
  return out;
}

void IniFile::save(const std::filesystem::path &path) const {
  // Write through a symbolic link to the file it names rather than replacing the link.
  std::filesystem::path target = path;
  std::error_code ec;
  if (std::filesystem::is_symlink(path, ec)) {
    const auto resolved = std::filesystem::weakly_canonical(path, ec);
    if (!ec) target = resolved;
  }
  std::filesystem::path dir = target.parent_path();
  if (dir.empty()) dir = ".";

  // A new name of our own beside the target (created exclusively, so the umask applies to a
  // file that did not exist before and nothing else can be clobbered).
  static std::atomic<unsigned> counter{0};
  std::filesystem::path tmp;
  int fd = -1;
  for (int attempt = 0; fd < 0; ++attempt) {
    tmp = dir / ("." + target.filename().string() + "." + std::to_string(::getpid()) + "." +
                 std::to_string(counter.fetch_add(1)) + ".tmp");
    fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && (errno != EEXIST || attempt >= 100)) raiseWriteError(path, std::strerror(errno));
  }
  auto fail = [&](int err) {
    ::close(fd);
    ::unlink(tmp.c_str());
    raiseWriteError(path, std::strerror(err));
  };

  // The new file keeps the old one's permissions.
  struct stat st {};
  if (::stat(target.c_str(), &st) == 0 && ::fchmod(fd, st.st_mode & 07777) != 0) fail(errno);

  const std::string data = text();
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      fail(errno);
    }
    done += static_cast<std::size_t>(n);
  }
  if (::fsync(fd) != 0) fail(errno);
  if (::close(fd) != 0) {
    const int err = errno;
    ::unlink(tmp.c_str());
    raiseWriteError(path, std::strerror(err));
  }
  if (::rename(tmp.c_str(), target.c_str()) != 0) {
    const int err = errno;
    ::unlink(tmp.c_str());
    raiseWriteError(path, std::strerror(err));
  }
  // The rename itself must reach the disk too.
  const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    ::fsync(dirFd);
    ::close(dirFd);
  }
}

std::optional<IniFile::Range> IniFile::findSection(std::string_view section) const {
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    const auto name = headerName(lines_[i]);
    if (!name || !sameNameIgnoringCase(*name, section)) continue;
    std::size_t end = i + 1;
    while (end < lines_.size() && !headerName(lines_[end])) ++end;
    return Range{i, end};
  }
  return std::nullopt;
}

std::optional<std::size_t> IniFile::findKey(const Range &range, std::string_view key) const {
  for (std::size_t i = range.header + 1; i < range.end; ++i) {
    const auto e = entry(lines_[i]);
    if (e && sameNameIgnoringCase(e->first, key)) return i;
  }
  return std::nullopt;
}

bool IniFile::hasSection(std::string_view section) const {
  return findSection(section).has_value();
}

bool IniFile::hasKey(std::string_view section, std::string_view key) const {
  const auto range = findSection(section);
  return range && findKey(*range, key);
}

std::optional<std::string> IniFile::value(std::string_view section, std::string_view key) const {
  const auto range = findSection(section);
  if (!range) return std::nullopt;
  const auto at = findKey(*range, key);
  if (!at) return std::nullopt;
  std::string_view v = trim(entry(lines_[*at])->second);
  if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
  return std::string(v.substr(0, kMaxValueLength));
}

std::string IniFile::readString(std::string_view section, std::string_view key,
                                std::string_view defaultValue) const {
  auto v = value(section, key);
  return v ? std::move(*v) : std::string(defaultValue);
}

int IniFile::readInteger(std::string_view section, std::string_view key, int defaultValue) const {
  const auto v = value(section, key);
  if (!v) return defaultValue;
  return parseInteger(*v).value_or(defaultValue);
}

bool IniFile::readBool(std::string_view section, std::string_view key, bool defaultValue) const {
  const auto v = value(section, key);
  if (!v) return defaultValue;
  const auto n = parseInteger(*v);
  return n ? *n != 0 : defaultValue;
}

void IniFile::writeString(std::string_view section, std::string_view key, std::string_view value) {
  const std::string line = oneLine(key) + "=" + encodeValue(value);
  const auto range = findSection(section);
  if (!range) {
    // A new section goes at the end, set off by a blank line.
    if (!lines_.empty() && !trim(lines_.back()).empty()) lines_.emplace_back();
    lines_.push_back("[" + oneLine(section) + "]");
    lines_.push_back(line);
    return;
  }
  if (const auto at = findKey(*range, key)) {
    // Keep the key as it is spelled in the file.
    const std::string &old = lines_[*at];
    lines_[*at] = old.substr(0, old.find('=') + 1) + encodeValue(value);
    return;
  }
  // After the section's last non-blank line, so a blank line before the next section stays.
  std::size_t insertAt = range->end;
  while (insertAt > range->header + 1 && trim(lines_[insertAt - 1]).empty()) --insertAt;
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insertAt), line);
}

void IniFile::writeInteger(std::string_view section, std::string_view key, int value) {
  writeString(section, key, std::to_string(value));
}

void IniFile::writeBool(std::string_view section, std::string_view key, bool value) {
  writeString(section, key, value ? "1" : "0");
}

bool IniFile::removeKey(std::string_view section, std::string_view key) {
  const auto range = findSection(section);
  if (!range) return false;
  const auto at = findKey(*range, key);
  if (!at) return false;
  lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(*at));
  return true;
}

std::vector<std::string> IniFile::sectionNames() const {
  std::vector<std::string> names;
  for (const std::string &line : lines_)
    if (const auto name = headerName(line)) names.emplace_back(*name);
  return names;
}

std::vector<std::string> IniFile::keyNames(std::string_view section) const {
  std::vector<std::string> names;
  const auto range = findSection(section);
  if (!range) return names;
  for (std::size_t i = range->header + 1; i < range->end; ++i)
    if (const auto e = entry(lines_[i])) names.emplace_back(e->first);
  return names;
}

}  // namespace kv
