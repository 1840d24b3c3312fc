// The xBase expression subset used by index keys, FOR conditions and filters.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "xbase/table.h"

namespace kv::xbase {

struct Value {
  char type = 'C';  // C N D L
  std::string s;    // C
  double n = 0;     // N
  long jdn = 0;     // D, 0 = empty date
  bool b = false;   // L
};

// What an expression is evaluated against: one record image.
struct EvalContext {
  const std::vector<FieldInfo> *fields = nullptr;
  const std::string *raw = nullptr;  // record bytes, deletion flag first
  uint32_t recno = 0;
  bool exact = false;
};

// Reads one field of a record image as an expression value.
Value FieldValue(const FieldInfo &f, const std::string &raw);

class Expression {
 public:
  ~Expression();
  // Parses text against the table's fields (names and functions case-insensitive).
  static Status Parse(const std::string &text, const std::vector<FieldInfo> &fields,
                      std::unique_ptr<Expression> *out);
  Value Eval(const EvalContext &ctx) const;
  bool EvalLogical(const EvalContext &ctx) const;
  // Type and (for C) width of the result, from evaluating on a blank record.
  char ResultType() const { return type_; }
  int ResultWidth() const { return width_; }
  const std::string &Text() const { return text_; }
  struct Node;

 private:
  Expression() = default;
  std::unique_ptr<Node> root_;
  char type_ = 'C';
  int width_ = 0;
  std::string text_;
};

}  // namespace kv::xbase
