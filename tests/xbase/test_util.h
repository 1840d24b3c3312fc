#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "support/temp_files.h"
#include "xbase/engine.h"

namespace kvtest {

// A fresh directory per test, removed afterwards; `dir / "name"` is a path in it.
class TempDir : public kv::test::TempDir {
 public:
  TempDir() : kv::test::TempDir("kvxbase") {}
  std::string operator/(const std::string &name) const { return file(name); }
};

// The sent-fax table layout.
inline std::vector<kv::xbase::FieldDef> FaxFields() {
  return {{"SUBJECT", 'C', 50, 0}, {"SENT", 'L', 1, 0},         {"DATESENT", 'D', 8, 0},
          {"TIMESENT", 'C', 5, 0}, {"RECIPIENT", 'C', 35, 0},   {"PHONE", 'C', 25, 0},
          {"PAGES", 'N', 2, 0},    {"LASTRESULT", 'C', 100, 0}, {"RTFCOVER", 'M', 10, 0},
          {"RTFDOC", 'M', 10, 0}};
}

inline std::string Run(const std::string &cmd) {
  std::string out;
  FILE *p = popen(cmd.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

}  // namespace kvtest
