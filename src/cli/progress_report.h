#pragma once
// Progress of a long step of a command on stderr: with --verbose one line per report, otherwise
// on a terminal one line rewritten in place, otherwise (a pipe, a log file) nothing.
#include <cstddef>
#include <ostream>
#include <string>

namespace kv::cli {

class ProgressReport {
 public:
  ProgressReport(std::ostream &err, bool verbose);
  ~ProgressReport();
  ProgressReport(const ProgressReport &) = delete;
  ProgressReport &operator=(const ProgressReport &) = delete;

  void operator()(const std::string &text);
  // Ends a line rewritten in place, so that what follows starts on a line of its own.
  void finish();

 private:
  std::ostream &err_;
  bool lines_;
  bool inPlace_;
  std::size_t shown_ = 0;  // length of the text on the line being rewritten
};

}  // namespace kv::cli
