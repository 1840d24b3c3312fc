#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "xbase/engine.h"

namespace kvtest {

// A fresh directory per test, removed afterwards.
class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/kvxbaseXXXXXX";
    path_ = mkdtemp(tmpl);
  }
  ~TempDir() { std::filesystem::remove_all(path_); }
  std::string operator/(const std::string &name) const { return path_ + "/" + name; }
  const std::string &path() const { return path_; }

 private:
  std::string path_;
};

inline std::string ReadFile(const std::string &p) {
  std::ifstream f(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}
inline void WriteFile(const std::string &p, const std::string &data) {
  std::ofstream f(p, std::ios::binary | std::ios::trunc);
  f << data;
}

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
