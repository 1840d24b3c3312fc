#include "viewer/checked_file_output.h"

#include <unistd.h>

#include <cerrno>

#include "base/file_error.h"
#include "base/file_replacement.h"

namespace kv {

namespace {
// The PDF writer hands over a few bytes at a time; the system sees large blocks.
constexpr qsizetype kBlock = 1 << 16;
}  // namespace

CheckedFileOutput::CheckedFileOutput(int fd) : fd_(fd) {
  if (fd_ >= 0)
    QIODevice::open(QIODevice::WriteOnly | QIODevice::Unbuffered);
  else
    fail(EBADF);
}

CheckedFileOutput::~CheckedFileOutput() {
  if (fd_ >= 0) ::close(fd_);
}

void CheckedFileOutput::fail(int err) {
  if (result_ != ecOK) return;
  err_ = err;
  result_ = err ? fileErrorCode(err) : ecDiskFull;
}

bool CheckedFileOutput::flushBuffer() {
  if (result_ == ecOK && !buffer_.isEmpty()) {
    if (writeAt(fd_, buffer_.constData(), static_cast<std::size_t>(buffer_.size()), written_) < 0)
      fail(errno);
    written_ += static_cast<std::uint64_t>(buffer_.size());
  }
  buffer_.clear();
  return result_ == ecOK;
}

qint64 CheckedFileOutput::writeData(const char *data, qint64 len) {
  if (result_ != ecOK) return -1;
  buffer_.append(data, static_cast<qsizetype>(len));
  if (buffer_.size() >= kBlock && !flushBuffer()) return -1;
  return len;
}

void CheckedFileOutput::close() {
  if (fd_ < 0) return;
  flushBuffer();
  if (::close(fd_) != 0) fail(errno);
  fd_ = -1;
  QIODevice::close();
}

std::string CheckedFileOutput::systemReason() const {
  return err_ ? SystemReason(err_) : std::string("the data could not be written");
}

}  // namespace kv
