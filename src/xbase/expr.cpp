#include "xbase/expr.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace kv::xbase {

namespace {

std::string Upper(std::string s) {
  for (auto &c : s) c = char(std::toupper(uint8_t(c)));
  return s;
}
std::string RTrim(const std::string &s) {
  size_t e = s.find_last_not_of(' ');
  return e == std::string::npos ? std::string() : s.substr(0, e + 1);
}
std::string LTrim(const std::string &s) {
  size_t b = s.find_first_not_of(' ');
  return b == std::string::npos ? std::string() : s.substr(b);
}

double ParseNumber(const std::string &text) {
  std::string t = LTrim(RTrim(text));
  if (!t.empty() && t[0] == '+') t.erase(0, 1);
  double v = 0;
  // from_chars ignores the locale: field text always uses '.' as its decimal point.
  auto r = std::from_chars(t.data(), t.data() + t.size(), v);
  return r.ec == std::errc() ? v : 0;
}

enum class Tok { End, Name, String, Number, LParen, RParen, Comma, Op, Not, And, Or, True, False };

struct Token {
  Tok kind = Tok::End;
  std::string text;  // upper-cased for names and operators; raw for strings
};

class Lexer {
 public:
  explicit Lexer(const std::string &s) : s_(s) {}
  bool Next(Token *t, std::string *err) {
    while (pos_ < s_.size() && std::isspace(uint8_t(s_[pos_]))) ++pos_;
    t->text.clear();
    if (pos_ >= s_.size()) {
      t->kind = Tok::End;
      return true;
    }
    char c = s_[pos_];
    if (c == '.') {
      // .NOT. .AND. .OR. .T. .F. or a number like .5
      size_t e = s_.find('.', pos_ + 1);
      if (e != std::string::npos) {
        std::string w = Upper(s_.substr(pos_ + 1, e - pos_ - 1));
        static const std::pair<const char *, Tok> words[] = {
            {"NOT", Tok::Not}, {"AND", Tok::And}, {"OR", Tok::Or},  {"T", Tok::True},
            {"F", Tok::False}, {"Y", Tok::True},  {"N", Tok::False}};
        for (auto &[name, kind] : words) {
          if (w == name) {
            t->kind = kind;
            pos_ = e + 1;
            return true;
          }
        }
      }
      if (pos_ + 1 < s_.size() && std::isdigit(uint8_t(s_[pos_ + 1]))) return Num(t);
      *err = "unexpected '.'";
      return false;
    }
    if (std::isdigit(uint8_t(c))) return Num(t);
    if (std::isalpha(uint8_t(c)) || c == '_') {
      size_t b = pos_;
      while (pos_ < s_.size() && (std::isalnum(uint8_t(s_[pos_])) || s_[pos_] == '_')) ++pos_;
      t->kind = Tok::Name;
      t->text = Upper(s_.substr(b, pos_ - b));
      if (t->text == "NOT") t->kind = Tok::Not;
      return true;
    }
    if (c == '"' || c == '\'' || (c == '[' && allowBracket_)) {
      char close = c == '[' ? ']' : c;
      size_t e = s_.find(close, pos_ + 1);
      if (e == std::string::npos) {
        *err = "unterminated string";
        return false;
      }
      t->kind = Tok::String;
      t->text = s_.substr(pos_ + 1, e - pos_ - 1);
      pos_ = e + 1;
      return true;
    }
    ++pos_;
    switch (c) {
      case '(':
        t->kind = Tok::LParen;
        return true;
      case ')':
        t->kind = Tok::RParen;
        return true;
      case ',':
        t->kind = Tok::Comma;
        return true;
      case '-':
        t->kind = Tok::Op;
        t->text = "-";
        if (pos_ < s_.size() && s_[pos_] == '>') t->text += s_[pos_++];
        return true;
      case '+':
      case '$':
      case '#':
      case '*':
      case '/':
        t->kind = Tok::Op;
        t->text = std::string(1, c);
        return true;
      case '!':
        if (pos_ < s_.size() && s_[pos_] == '=') {
          ++pos_;
          t->kind = Tok::Op;
          t->text = "<>";
        } else {
          t->kind = Tok::Not;
        }
        return true;
      case '=':
      case '<':
      case '>': {
        t->kind = Tok::Op;
        t->text = std::string(1, c);
        if (pos_ < s_.size() && (s_[pos_] == '=' || (c == '<' && s_[pos_] == '>'))) {
          t->text += s_[pos_++];
        }
        return true;
      }
      default:
        break;
    }
    *err = std::string("unexpected character '") + c + "'";
    return false;
  }
  size_t pos() const { return pos_; }
  void setPos(size_t p) { pos_ = p; }
  bool allowBracket_ = true;

 private:
  bool Num(Token *t) {
    size_t b = pos_;
    while (pos_ < s_.size() && (std::isdigit(uint8_t(s_[pos_])) || s_[pos_] == '.')) ++pos_;
    t->kind = Tok::Number;
    t->text = s_.substr(b, pos_ - b);
    return true;
  }
  const std::string &s_;
  size_t pos_ = 0;
};

}  // namespace

Value FieldValue(const FieldInfo &f, const std::string &raw) {
  Value v;
  std::string bytes;
  if (size_t(f.offset + f.width) <= raw.size())
    bytes = raw.substr(size_t(f.offset), size_t(f.width));
  switch (f.type) {
    case 'N':
    case 'F':
      v.type = 'N';
      v.n = ParseNumber(bytes);
      break;
    case 'D': {
      v.type = 'D';
      if (bytes.size() == 8 && std::all_of(bytes.begin(), bytes.end(),
                                           [](char c) { return std::isdigit(uint8_t(c)); })) {
        int y = std::atoi(bytes.substr(0, 4).c_str()), m = std::atoi(bytes.substr(4, 2).c_str()),
            d = std::atoi(bytes.substr(6, 2).c_str());
        if (Date::Valid(y, m, d)) v.jdn = Date{y, m, d}.JulianDay();
      }
      break;
    }
    case 'L':
      v.type = 'L';
      v.b = !bytes.empty() && std::strchr("TtYy", bytes[0]) != nullptr && bytes[0] != 0;
      break;
    case 'M':
      v.type = 'C';
      break;
    default:
      v.type = 'C';
      v.s = bytes;
      break;
  }
  return v;
}

struct Expression::Node {
  enum Kind { Lit, Field, Func, Unary, Binary } kind = Lit;
  std::string op;  // operator or function name
  Value lit;
  int field = -1;
  std::vector<std::unique_ptr<Node>> kids;
};

namespace {

using Node = Expression::Node;

const char *const kFunctions[] = {"DTOS",  "UPPER",  "LOWER", "DELETED", "STR",      "LEFT",
                                  "RIGHT", "SUBSTR", "PADR",  "PADL",    "ALLTRIM",  "TRIM",
                                  "RTRIM", "LTRIM",  "IIF",   "EMPTY",   "RECNO",    "VAL",
                                  "DTOC",  "CTOD",   "LEN",   "SPACE",   "REPLICATE"};

std::string ResolveFunction(const std::string &name) {
  for (const char *f : kFunctions)
    if (name == f) return f;
  // xBase dialects accept a function by its first four or more letters.
  if (name.size() >= 4)
    for (const char *f : kFunctions)
      if (std::strncmp(f, name.c_str(), name.size()) == 0) return f;
  return {};
}

class Parser {
 public:
  Parser(const std::string &s, const std::vector<FieldInfo> &fields) : lex_(s), fields_(fields) {}
  std::unique_ptr<Node> Parse(std::string *err) {
    err_ = err;
    if (!Advance()) return nullptr;
    auto n = Or();
    if (n && tok_.kind != Tok::End) {
      Fail("unexpected text after the expression");
      return nullptr;
    }
    return n;
  }

 private:
  bool Advance() { return lex_.Next(&tok_, err_) || (failed_ = true, false); }
  std::unique_ptr<Node> Fail(const std::string &m) {
    if (!failed_) *err_ = m;
    failed_ = true;
    return nullptr;
  }
  std::unique_ptr<Node> Bin(std::string op, std::unique_ptr<Node> a, std::unique_ptr<Node> b) {
    auto n = std::make_unique<Node>();
    n->kind = Node::Binary;
    n->op = std::move(op);
    n->kids.push_back(std::move(a));
    n->kids.push_back(std::move(b));
    return n;
  }
  std::unique_ptr<Node> Or() {
    auto l = And();
    while (l && tok_.kind == Tok::Or) {
      if (!Advance()) return nullptr;
      auto r = And();
      if (!r) return nullptr;
      l = Bin("OR", std::move(l), std::move(r));
    }
    return l;
  }
  std::unique_ptr<Node> And() {
    auto l = NotE();
    while (l && tok_.kind == Tok::And) {
      if (!Advance()) return nullptr;
      auto r = NotE();
      if (!r) return nullptr;
      l = Bin("AND", std::move(l), std::move(r));
    }
    return l;
  }
  std::unique_ptr<Node> NotE() {
    if (tok_.kind == Tok::Not) {
      if (++depth_ > 200) return Fail("expression nested too deeply");
      if (!Advance()) return nullptr;
      auto k = NotE();
      --depth_;
      if (!k) return nullptr;
      auto n = std::make_unique<Node>();
      n->kind = Node::Unary;
      n->op = "NOT";
      n->kids.push_back(std::move(k));
      return n;
    }
    return Compare();
  }
  std::unique_ptr<Node> Compare() {
    auto l = Sum();
    if (l && tok_.kind == Tok::Op &&
        (tok_.text == "=" || tok_.text == "==" || tok_.text == "<>" || tok_.text == "#" ||
         tok_.text == "<" || tok_.text == ">" || tok_.text == "<=" || tok_.text == ">=" ||
         tok_.text == "$")) {
      std::string op = tok_.text == "#" ? "<>" : tok_.text;
      if (!Advance()) return nullptr;
      auto r = Sum();
      if (!r) return nullptr;
      return Bin(op, std::move(l), std::move(r));
    }
    return l;
  }
  std::unique_ptr<Node> Sum() {
    auto l = Primary();
    while (l && tok_.kind == Tok::Op && (tok_.text == "+" || tok_.text == "-")) {
      std::string op = tok_.text;
      if (!Advance()) return nullptr;
      auto r = Primary();
      if (!r) return nullptr;
      l = Bin(op, std::move(l), std::move(r));
    }
    return l;
  }
  std::unique_ptr<Node> Primary() {
    if (++depth_ > 200) return Fail("expression nested too deeply");
    auto n = PrimaryInner();
    --depth_;
    return n;
  }
  std::unique_ptr<Node> PrimaryInner() {
    auto n = std::make_unique<Node>();
    switch (tok_.kind) {
      case Tok::String:
        n->lit.type = 'C';
        n->lit.s = tok_.text;
        if (!Advance()) return nullptr;
        return n;
      case Tok::Number:
        n->lit.type = 'N';
        n->lit.n = ParseNumber(tok_.text);
        if (!Advance()) return nullptr;
        return n;
      case Tok::True:
      case Tok::False:
        n->lit.type = 'L';
        n->lit.b = tok_.kind == Tok::True;
        if (!Advance()) return nullptr;
        return n;
      case Tok::Op:
        if (tok_.text == "-" || tok_.text == "+") {  // unary sign
          std::string op = tok_.text;
          if (!Advance()) return nullptr;
          auto k = Primary();
          if (!k) return nullptr;
          auto zero = std::make_unique<Node>();
          zero->lit.type = 'N';
          return Bin(op, std::move(zero), std::move(k));
        }
        return Fail("unexpected operator " + tok_.text);
      case Tok::LParen: {
        if (!Advance()) return nullptr;
        auto k = Or();
        if (!k) return nullptr;
        if (tok_.kind != Tok::RParen) return Fail("missing ')'");
        if (!Advance()) return nullptr;
        return k;
      }
      case Tok::Name: {
        std::string name = tok_.text;
        if (!Advance()) return nullptr;
        // alias->field: this engine evaluates against one table, so the alias is dropped.
        if (tok_.kind == Tok::Op && tok_.text == "->") {
          if (!Advance()) return nullptr;
          if (tok_.kind != Tok::Name) return Fail("field name expected after ->");
          name = tok_.text;
          if (!Advance()) return nullptr;
        }
        if (tok_.kind == Tok::LParen) {
          std::string f = ResolveFunction(name);
          if (f.empty()) return Fail("unknown function " + name + "()");
          n->kind = Node::Func;
          n->op = f;
          if (!Advance()) return nullptr;
          if (tok_.kind != Tok::RParen) {
            for (;;) {
              auto a = Or();
              if (!a) return nullptr;
              n->kids.push_back(std::move(a));
              if (tok_.kind == Tok::Comma) {
                if (!Advance()) return nullptr;
                continue;
              }
              break;
            }
          }
          if (tok_.kind != Tok::RParen) return Fail("missing ')' after arguments of " + f);
          if (!Advance()) return nullptr;
          return n;
        }
        for (size_t i = 0; i < fields_.size(); ++i) {
          if (Upper(fields_[i].name) == name) {
            n->kind = Node::Field;
            n->field = int(i);
            return n;
          }
        }
        return Fail("unknown field " + name);
      }
      default:
        return Fail("expression incomplete");
    }
  }

  Lexer lex_;
  const std::vector<FieldInfo> &fields_;
  Token tok_;
  std::string *err_ = nullptr;
  bool failed_ = false;
  int depth_ = 0;
};

struct Evaluator {
  const EvalContext &ctx;
  bool error = false;

  Value Bad() {
    error = true;
    return Value{};
  }
  static std::string DateString(long jdn) {
    if (jdn == 0) return "        ";
    Date d = Date::FromJulianDay(jdn);
    char b[16];
    std::snprintf(b, sizeof b, "%04d%02d%02d", d.year % 10000, d.month % 100, d.day % 100);
    return b;
  }
  static bool Truthy(const Value &v) { return v.type == 'L' && v.b; }

  Value Eval(const Node &n) {
    switch (n.kind) {
      case Node::Lit:
        return n.lit;
      case Node::Field:
        return FieldValue((*ctx.fields)[size_t(n.field)], *ctx.raw);
      case Node::Unary: {
        Value v = Eval(*n.kids[0]);
        if (v.type != 'L') return Bad();
        v.b = !v.b;
        return v;
      }
      case Node::Binary:
        return EvalBinary(n);
      case Node::Func:
        return EvalFunc(n);
    }
    return Bad();
  }

  Value EvalBinary(const Node &n) {
    const std::string &op = n.op;
    if (op == "AND" || op == "OR") {
      Value a = Eval(*n.kids[0]);
      if (a.type != 'L') return Bad();
      Value b = Eval(*n.kids[1]);
      if (b.type != 'L') return Bad();
      Value r;
      r.type = 'L';
      r.b = op == "AND" ? (a.b && b.b) : (a.b || b.b);
      return r;
    }
    Value a = Eval(*n.kids[0]);
    Value b = Eval(*n.kids[1]);
    Value r;
    if (op == "+" || op == "-") {
      if (a.type == 'C' && b.type == 'C') {
        r.type = 'C';
        if (op == "+") {
          r.s = a.s + b.s;
        } else {
          std::string t = RTrim(a.s);
          r.s = t + b.s + std::string(a.s.size() - t.size(), ' ');
        }
        return r;
      }
      if (a.type == 'N' && b.type == 'N') {
        r.type = 'N';
        r.n = op == "+" ? a.n + b.n : a.n - b.n;
        return r;
      }
      if (a.type == 'D' && b.type == 'N') {
        r.type = 'D';
        r.jdn = a.jdn == 0 ? 0 : a.jdn + long(op == "+" ? b.n : -b.n);
        return r;
      }
      if (a.type == 'D' && b.type == 'D' && op == "-") {
        r.type = 'N';
        r.n = double(a.jdn - b.jdn);
        return r;
      }
      return Bad();
    }
    r.type = 'L';
    if (a.type != b.type) return Bad();
    if (op == "$") {
      if (a.type != 'C') return Bad();
      r.b = b.s.find(a.s) != std::string::npos;
      return r;
    }
    int cmp = 0;
    if (a.type == 'C') {
      std::string l = a.s, rr = b.s;
      if (op == "==") {
        cmp = l.compare(rr);
      } else if (!ctx.exact && op == "=") {
        // Default EXACT OFF: the left side is compared for the right side's length.
        std::string rt = RTrim(rr);
        cmp = l.compare(0, rt.size(), rt) == 0 && l.size() >= rt.size() ? 0 : l.compare(rr);
      } else {
        std::string lt = RTrim(l), rt = RTrim(rr);
        cmp = lt.compare(rt);
      }
    } else if (a.type == 'N') {
      cmp = a.n < b.n ? -1 : a.n > b.n ? 1 : 0;
    } else if (a.type == 'D') {
      cmp = a.jdn < b.jdn ? -1 : a.jdn > b.jdn ? 1 : 0;
    } else {
      cmp = int(a.b) - int(b.b);
    }
    if (op == "=" || op == "==")
      r.b = cmp == 0;
    else if (op == "<>")
      r.b = cmp != 0;
    else if (op == "<")
      r.b = cmp < 0;
    else if (op == ">")
      r.b = cmp > 0;
    else if (op == "<=")
      r.b = cmp <= 0;
    else if (op == ">=")
      r.b = cmp >= 0;
    else
      return Bad();
    return r;
  }

  Value EvalFunc(const Node &n) {
    const std::string &f = n.op;
    std::vector<Value> a;
    for (auto &k : n.kids) a.push_back(Eval(*k));
    auto argc = [&](size_t lo, size_t hi) { return a.size() >= lo && a.size() <= hi; };
    Value r;
    if (f == "DELETED" && argc(0, 0)) {
      r.type = 'L';
      r.b = !ctx.raw->empty() && (*ctx.raw)[0] == '*';
      return r;
    }
    if (f == "RECNO" && argc(0, 0)) {
      r.type = 'N';
      r.n = ctx.recno;
      return r;
    }
    if (f == "DTOS" && argc(1, 1) && a[0].type == 'D') {
      r.s = DateString(a[0].jdn);
      return r;
    }
    if (f == "DTOC" && argc(1, 1) && a[0].type == 'D') {
      std::string s = DateString(a[0].jdn);
      r.s =
          a[0].jdn == 0 ? "  /  /  " : s.substr(4, 2) + "/" + s.substr(6, 2) + "/" + s.substr(2, 2);
      return r;
    }
    if ((f == "UPPER" || f == "LOWER") && argc(1, 1) && a[0].type == 'C') {
      r.s = a[0].s;
      for (auto &c : r.s)
        c = char(f == "UPPER" ? std::toupper(uint8_t(c)) : std::tolower(uint8_t(c)));
      return r;
    }
    if ((f == "TRIM" || f == "RTRIM") && argc(1, 1) && a[0].type == 'C') {
      r.s = RTrim(a[0].s);
      return r;
    }
    if (f == "LTRIM" && argc(1, 1) && a[0].type == 'C') {
      r.s = LTrim(a[0].s);
      return r;
    }
    if (f == "ALLTRIM" && argc(1, 1) && a[0].type == 'C') {
      r.s = LTrim(RTrim(a[0].s));
      return r;
    }
    if (f == "LEN" && argc(1, 1) && a[0].type == 'C') {
      r.type = 'N';
      r.n = double(a[0].s.size());
      return r;
    }
    if (f == "EMPTY" && argc(1, 1)) {
      r.type = 'L';
      switch (a[0].type) {
        case 'C':
          r.b = RTrim(a[0].s).empty();
          break;
        case 'N':
          r.b = a[0].n == 0;
          break;
        case 'D':
          r.b = a[0].jdn == 0;
          break;
        default:
          r.b = !a[0].b;
          break;
      }
      return r;
    }
    if (f == "IIF" && argc(3, 3) && a[0].type == 'L' && a[1].type == a[2].type) {
      return a[0].b ? a[1] : a[2];
    }
    auto count = [](const Value &v) -> long {
      if (!std::isfinite(v.n)) return 0;
      return long(std::clamp(v.n, -1e6, 1e6));
    };
    if ((f == "LEFT" || f == "RIGHT") && argc(2, 2) && a[0].type == 'C' && a[1].type == 'N') {
      size_t k = size_t(std::clamp(count(a[1]), 0L, long(a[0].s.size())));
      r.s = f == "LEFT" ? a[0].s.substr(0, k) : a[0].s.substr(a[0].s.size() - k);
      return r;
    }
    if (f == "SUBSTR" && argc(2, 3) && a[0].type == 'C' && a[1].type == 'N' &&
        (a.size() == 2 || a[2].type == 'N')) {
      long start = std::max(1L, count(a[1]));
      if (size_t(start) > a[0].s.size()) return r;
      long len = a.size() == 3 ? std::max(0L, count(a[2])) : long(a[0].s.size());
      r.s = a[0].s.substr(size_t(start - 1), size_t(len));
      return r;
    }
    if ((f == "PADR" || f == "PADL") && argc(2, 3) && a[1].type == 'N') {
      std::string s = a[0].type == 'C' ? a[0].s : a[0].type == 'D' ? DateString(a[0].jdn) : "";
      size_t k = size_t(std::clamp(count(a[1]), 0L, 4096L));
      char pad = a.size() == 3 && a[2].type == 'C' && !a[2].s.empty() ? a[2].s[0] : ' ';
      if (s.size() >= k)
        r.s = s.substr(0, k);
      else if (f == "PADR")
        r.s = s + std::string(k - s.size(), pad);
      else
        r.s = std::string(k - s.size(), pad) + s;
      return r;
    }
    if ((f == "SPACE" || f == "REPLICATE") && argc(1, 2)) {
      size_t k = size_t(std::clamp(count(a.back()), 0L, 4096L));
      std::string unit = f == "SPACE" ? " " : (a[0].type == 'C' ? a[0].s : "");
      for (size_t i = 0; i < k && r.s.size() < 4096; ++i) r.s += unit;
      return r;
    }
    if (f == "STR" && argc(1, 3) && a[0].type == 'N') {
      long len = a.size() >= 2 && a[1].type == 'N' ? std::clamp(count(a[1]), 1L, 64L) : 10;
      long dec = a.size() == 3 && a[2].type == 'N' ? std::clamp(count(a[2]), 0L, 20L) : 0;
      char b[128];
      std::snprintf(b, sizeof b, "%*.*f", int(len), int(dec), a[0].n);
      r.s = b;
      if (long(r.s.size()) > len) r.s = std::string(size_t(len), '*');
      return r;
    }
    if (f == "VAL" && argc(1, 1) && a[0].type == 'C') {
      r.type = 'N';
      r.n = ParseNumber(a[0].s);
      return r;
    }
    if (f == "CTOD" && argc(1, 1) && a[0].type == 'C') {
      r.type = 'D';
      int m = 0, d = 0, y = 0;
      if (std::sscanf(a[0].s.c_str(), "%d/%d/%d", &m, &d, &y) == 3) {
        if (y < 100) y += y < 50 ? 2000 : 1900;
        if (Date::Valid(y, m, d)) r.jdn = Date{y, m, d}.JulianDay();
      }
      return r;
    }
    return Bad();
  }
};

}  // namespace

Expression::~Expression() = default;

Status Expression::Parse(const std::string &text, const std::vector<FieldInfo> &fields,
                         std::unique_ptr<Expression> *out) {
  if (text.size() > 4096) return Status::Error(ecBadArgument, "expression too long");
  std::string err;
  Parser p(text, fields);
  auto root = p.Parse(&err);
  if (!root) return Status::Error(ecBadArgument, "bad expression \"" + text + "\": " + err);
  std::unique_ptr<Expression> e(new Expression());
  e->root_ = std::move(root);
  e->text_ = text;
  // Type and width come from a blank record, as other xBase tools fix them.
  int len = 1;
  for (auto &f : fields) len = std::max(len, f.offset + f.width);
  std::string blank(size_t(len), ' ');
  for (auto &f : fields)
    if (f.type == 'M' && f.width == 4) std::fill_n(blank.begin() + f.offset, 4, '\0');
  EvalContext ctx{&fields, &blank, 1, false};
  Evaluator ev{ctx};
  Value v = ev.Eval(*e->root_);
  if (ev.error)
    return Status::Error(ecBadArgument,
                         "bad expression \"" + text + "\": operand types do not match");
  e->type_ = v.type;
  e->width_ = v.type == 'C' ? int(v.s.size()) : v.type == 'L' ? 1 : 8;
  *out = std::move(e);
  return Status::Ok();
}

Value Expression::Eval(const EvalContext &ctx) const {
  Evaluator ev{ctx};
  Value v = ev.Eval(*root_);
  if (ev.error) {
    Value blank;
    blank.type = type_;
    return blank;
  }
  return v;
}

bool Expression::EvalLogical(const EvalContext &ctx) const {
  Value v = Eval(ctx);
  return v.type == 'L' && v.b;
}

}  // namespace kv::xbase
