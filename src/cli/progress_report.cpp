#include "cli/progress_report.h"

#include <unistd.h>

namespace kv::cli {

ProgressReport::ProgressReport(std::ostream &err, bool verbose)
    : err_(err), lines_(verbose), inPlace_(!verbose && isatty(STDERR_FILENO)) {}

ProgressReport::~ProgressReport() {
  finish();
}

void ProgressReport::operator()(const std::string &text) {
  if (lines_) {
    err_ << text << "\n";
  } else if (inPlace_) {
    // Blanks over the end of a longer text shown before.
    const std::size_t pad = shown_ > text.size() ? shown_ - text.size() : 0;
    err_ << "\r" << text << std::string(pad, ' ') << std::flush;
    shown_ = text.size();
  }
}

void ProgressReport::finish() {
  if (inPlace_ && shown_ > 0) err_ << "\n" << std::flush;
  shown_ = 0;
}

}  // namespace kv::cli
