#include "base/checked_writer.h"

#include <unistd.h>

#include <cerrno>

#include "base/file_error.h"
#include "base/file_replacement.h"

namespace kv {

namespace {
constexpr std::size_t kBlock = 1 << 16;
}  // namespace

CheckedWriter::CheckedWriter(int fd) : fd_(fd) {
  if (fd_ < 0) fail(EBADF);
}

CheckedWriter::~CheckedWriter() {
  if (fd_ >= 0) ::close(fd_);
}

void CheckedWriter::fail(int err) {
  if (result_ != ecOK) return;
  err_ = err;
  result_ = err ? fileErrorCode(err) : ecDiskFull;
}

void CheckedWriter::flush() {
  if (result_ == ecOK && !buffer_.empty() &&
      writeAt(fd_, buffer_.data(), buffer_.size(), written_) < 0)
    fail(errno);
  written_ += buffer_.size();
  buffer_.clear();
}

bool CheckedWriter::put(std::string_view bytes) {
  if (result_ != ecOK) return false;
  buffer_.append(bytes);
  if (buffer_.size() >= kBlock) flush();
  return result_ == ecOK;
}

Result CheckedWriter::close() {
  if (fd_ < 0) return result_;
  flush();
  if (::close(fd_) != 0) fail(errno);
  fd_ = -1;
  return result_;
}

std::string CheckedWriter::systemReason() const {
  return err_ ? SystemReason(err_) : std::string("the data could not be written");
}

}  // namespace kv
