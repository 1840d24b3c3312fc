#pragma once
// Writing a file through its descriptor in large blocks for writers that hand over a few bytes
// at a time. The first failure is kept and ends all writing, so that one check at the end tells
// whether the whole file reached the disk.
#include <cstdint>
#include <string>
#include <string_view>

#include "base/result_codes.h"

namespace kv {

class CheckedWriter {
 public:
  // Takes over `fd` (-1: every write fails); it is closed by close() or the destructor.
  explicit CheckedWriter(int fd);
  ~CheckedWriter();
  CheckedWriter(const CheckedWriter &) = delete;
  CheckedWriter &operator=(const CheckedWriter &) = delete;

  // Bytes handed over so far.
  std::uint64_t position() const { return written_ + buffer_.size(); }
  // False once anything has failed.
  bool put(std::string_view bytes);
  // Writes what is buffered and closes the descriptor; answers the first failure.
  Result close();
  Result result() const { return result_; }
  // The system's sentence for the first failure.
  std::string systemReason() const;

 private:
  void flush();
  void fail(int err);

  int fd_;
  std::uint64_t written_ = 0;
  std::string buffer_;
  Result result_ = ecOK;
  int err_ = 0;
};

}  // namespace kv
