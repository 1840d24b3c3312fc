#pragma once
// A telephone number as the modem dials it. The text after "ATD" is a modem command line, so a
// number that reaches it unchecked can run commands of its own (a CR or ";" ends the dial
// command and starts another). Every number and dial prefix is made into a DialString where it
// enters the program, and the sender dials nothing else.
//
// Taken: digits, the dial modifiers * # , W P ! @ T (letters in either case), spaces and the
// formatting characters ( ) . - / (dropped), and in front of a number a "+", which becomes
// the international prefix (dropped when that is empty). Everything else is refused with a
// reason naming the character and where it stands.
#include <string>
#include <string_view>

#include "base/result_codes.h"

namespace kv {

class DialString {
 public:
  // Longest text taken; no modem takes a longer dial command.
  static constexpr std::size_t kMaxLength = 80;

  DialString() = default;

  // A fax number: ecOK, or ecBadArgument with `reason` ("The fax number "..." cannot be
  // dialled: ..."). `internationalPrefix` replaces a leading "+"; it must itself be a valid
  // prefix (checked the same way).
  static Result parse(std::string_view text, DialString &out, std::string &reason,
                      std::string_view internationalPrefix = {});
  // What is dialled before every number (an outside line, a carrier code): the same
  // characters as a number, no "+", and it may be empty. `what` names it in the reason.
  static Result parsePrefix(std::string_view text, DialString &out, std::string &reason,
                            std::string_view what = "dial prefix");

  // The text as it was given (only characters that were taken).
  const std::string &typed() const { return typed_; }
  // What follows "ATDT"/"ATDP": digits and modifiers only.
  const std::string &dialled() const { return dialled_; }
  bool empty() const { return dialled_.empty(); }
  // A leading "+" was dropped because no international prefix is set.
  bool plusDropped() const { return plusDropped_; }

  bool operator==(const DialString &) const = default;

 private:
  std::string typed_, dialled_;
  bool plusDropped_ = false;
};

// `text` with every byte outside printable ASCII written as an escape (\r, \n, \t, \xNN), for
// messages that quote what a user or another program wrote.
std::string escapedForMessage(std::string_view text);

}  // namespace kv
