#include "scriptmodem/modem_script.h"

#include <cctype>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace kv {

namespace {

constexpr char kDle = 0x10;
constexpr char kEtx = 0x03;

std::string_view trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string parseHex(std::string_view s) {
  std::string out;
  int high = -1;
  for (char c : s) {
    if (std::isspace(static_cast<unsigned char>(c))) {
      if (high >= 0) throw ScriptError("odd number of hex digits");
      continue;
    }
    int d = hexDigit(c);
    if (d < 0) throw ScriptError(std::string("not a hex digit: '") + c + "'");
    if (high < 0) {
      high = d;
    } else {
      out.push_back(static_cast<char>(high << 4 | d));
      high = -1;
    }
  }
  if (high >= 0) throw ScriptError("odd number of hex digits");
  return out;
}

std::string readFile(const std::string &path) {
  // Only plain files of sensible size: a script naming a device or a pipe must not hang us.
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec))
    throw ScriptError("not a readable file: " + path);
  if (std::filesystem::file_size(path, ec) > (64u << 20) || ec)
    throw ScriptError("file too large: " + path);
  std::ifstream in(path, std::ios::binary);
  if (!in) throw ScriptError("cannot read " + path);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// HEX bytes or @FILE.
std::string dataArgument(std::string_view arg, const std::string &baseDir) {
  if (!arg.empty() && arg.front() == '@') {
    std::string name(trim(arg.substr(1)));
    if (name.empty()) throw ScriptError("missing file name after @");
    return readFile(name.front() == '/' ? name : baseDir + "/" + name);
  }
  return parseHex(arg);
}

int parseMs(std::string_view arg) {
  arg = trim(arg);
  int v = 0;
  auto [p, ec] = std::from_chars(arg.data(), arg.data() + arg.size(), v);
  if (ec != std::errc() || p != arg.data() + arg.size() || v < 0 || arg.empty())
    throw ScriptError("expected a number of milliseconds, got '" + std::string(arg) + "'");
  return v;
}

}  // namespace

std::string ModemScript::unescape(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c != '\\') {
      out.push_back(c);
      continue;
    }
    if (++i >= text.size()) throw ScriptError("lone backslash at end");
    switch (text[i]) {
      case 'r':
        out.push_back('\r');
        break;
      case 'n':
        out.push_back('\n');
        break;
      case 't':
        out.push_back('\t');
        break;
      case '\\':
        out.push_back('\\');
        break;
      case 'x': {
        int h = i + 1 < text.size() ? hexDigit(text[i + 1]) : -1;
        int l = i + 2 < text.size() ? hexDigit(text[i + 2]) : -1;
        if (h < 0 || l < 0) throw ScriptError("\\x needs two hex digits");
        out.push_back(static_cast<char>(h << 4 | l));
        i += 2;
        break;
      }
      default:
        throw ScriptError(std::string("unknown escape \\") + text[i]);
    }
  }
  return out;
}

std::string ModemScript::stuff(std::string_view data) {
  std::string out;
  out.reserve(data.size() + 8);
  for (char c : data) {
    out.push_back(c);
    if (c == kDle) out.push_back(kDle);
  }
  out.push_back(kDle);
  out.push_back(kEtx);
  return out;
}

std::string ModemScript::printable(std::string_view bytes, std::size_t limit) {
  static const char *hex = "0123456789ABCDEF";
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (out.size() >= limit) {
      out += "...(" + std::to_string(bytes.size()) + " bytes)";
      break;
    }
    unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\\') {
      out += "\\\\";
    } else if (c < 0x20 || c >= 0x7f) {
      out += "\\x";
      out.push_back(hex[c >> 4]);
      out.push_back(hex[c & 15]);
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out;
}

ModemScript ModemScript::parse(std::string_view text, const std::string &baseDir) {
  ModemScript script;
  int lineNo = 0;
  std::size_t pos = 0;
  while (pos <= text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view raw = text.substr(pos, end - pos);
    pos = end + 1;
    ++lineNo;
    if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
    std::string_view line = trim(raw);
    if (line.empty() || line.front() == '#') continue;

    // The keyword runs to the first blank, except that "<" and ">" may be written touching
    // their text ("<OK", ">ATZ").
    std::size_t kwEnd = line.find_first_of(" \t");
    std::string_view kw = line.substr(0, kwEnd);
    std::string_view arg =
        kwEnd == std::string_view::npos ? std::string_view{} : line.substr(kwEnd);
    static const char *const kKeywords[] = {
        ">~",   ">raw", ">byte",   ">data",  ">data,",  ">data.", "<raw", "<data",
        "wait", "mute", "silence", "hangup", "timeout", "echo",   ">",    "<"};
    bool known = false;
    for (const char *k : kKeywords) known = known || kw == k;
    if (!known && (line.front() == '>' || line.front() == '<')) {
      kw = line.substr(0, 1);
      arg = line.substr(1);
    }
    // For text arguments keep inner blanks but drop the one separating blank run.
    std::string_view targ = trim(arg);

    ScriptStep step;
    step.line = lineNo;
    step.source = std::string(line);
    try {
      if (kw == ">") {
        if (targ.empty()) throw ScriptError("'>' needs the expected command");
        step.kind = ScriptStep::ExpectLine;
        step.text = unescape(targ);
      } else if (kw == ">~") {
        if (targ.empty()) throw ScriptError("'>~' needs a regular expression");
        step.kind = ScriptStep::ExpectRegex;
        step.text = std::string(targ);
      } else if (kw == ">raw") {
        step.kind = ScriptStep::ExpectRaw;
        step.text = unescape(targ);
        if (step.text.empty()) throw ScriptError("'>raw' needs bytes");
      } else if (kw == ">byte") {
        step.kind = ScriptStep::ExpectByte;
      } else if (kw == ">data" || kw == ">data," || kw == ">data.") {
        step.kind = ScriptStep::ExpectData;
        if (kw.size() == 6) step.endByte = kw[5];
        if (!targ.empty()) {
          step.hasData = true;
          step.text = dataArgument(targ, baseDir);
        }
      } else if (kw == "<") {
        step.kind = ScriptStep::Send;
        step.text = "\r\n" + unescape(targ) + "\r\n";
      } else if (kw == "<raw") {
        step.kind = ScriptStep::Send;
        step.text = unescape(targ);
        if (step.text.empty()) throw ScriptError("'<raw' needs bytes");
      } else if (kw == "<data") {
        step.kind = ScriptStep::Send;
        step.text = stuff(dataArgument(targ, baseDir));
      } else if (kw == "wait") {
        step.kind = ScriptStep::Wait;
        step.ms = parseMs(targ);
      } else if (kw == "mute") {
        step.kind = ScriptStep::Mute;
        step.ms = targ.empty() ? -1 : parseMs(targ);
      } else if (kw == "silence") {
        step.kind = ScriptStep::Silence;
        step.ms = parseMs(targ);
      } else if (kw == "hangup") {
        step.kind = ScriptStep::Hangup;
      } else if (kw == "timeout") {
        step.kind = ScriptStep::Timeout;
        step.ms = parseMs(targ);
      } else if (kw == "echo") {
        step.kind = ScriptStep::Echo;
        if (targ == "on") {
          step.ms = 1;
        } else if (targ == "off") {
          step.ms = 0;
        } else {
          throw ScriptError("echo takes on or off");
        }
      } else {
        throw ScriptError("unknown step '" + std::string(kw) + "'");
      }
    } catch (const ScriptError &e) {
      throw ScriptError("script line " + std::to_string(lineNo) + ": " + e.what());
    }
    script.steps_.push_back(std::move(step));
  }
  return script;
}

ModemScript ModemScript::load(const std::string &path) {
  std::string dir = ".";
  if (auto slash = path.rfind('/'); slash != std::string::npos) dir = path.substr(0, slash);
  if (dir.empty()) dir = "/";
  return parse(readFile(path), dir);
}

}  // namespace kv
