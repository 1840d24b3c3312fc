#pragma once
// A dial string from a number a test knows to be good; a bad one fails the test at once.
#include <gtest/gtest.h>

#include <string>

#include "base/dial_string.h"

namespace kv::test {

inline DialString dialString(const std::string &text, const std::string &international = {}) {
  DialString d;
  std::string reason;
  EXPECT_EQ(DialString::parse(text, d, reason, international), ecOK) << reason;
  return d;
}

}  // namespace kv::test
