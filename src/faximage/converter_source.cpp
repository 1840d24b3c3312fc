#include "faximage/converter_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "faximage/file_error.h"

namespace kv {

Result ByteInput::readExact(void *buf, std::size_t n) {
  const Result r = read(buf, n);
  if (r < 0) return r;
  return static_cast<std::size_t>(r) == n ? ecOK : ecBadGraphicsFormat;
}

int ByteInput::getByte() {
  std::uint8_t b;
  const Result r = read(&b, 1);
  if (r < 0) return r < -1 ? r : ecGeneralFailure;
  return r == 0 ? -1 : b;
}

FileInput::~FileInput() {
  close();
}

Result FileInput::open(const std::string &path) {
  close();
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) return fileErrorCode(errno);
  struct stat st;
  if (fstat(fd_, &st) != 0) {
    const int e = errno;
    close();
    return fileErrorCode(e);
  }
  if (S_ISDIR(st.st_mode)) {
    close();
    return ecAccessDenied;
  }
  size_ = static_cast<std::uint64_t>(st.st_size);
  pos_ = bufStart_ = 0;
  bufLen_ = 0;
  return ecOK;
}

void FileInput::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

Result FileInput::read(void *out, std::size_t n) {
  if (fd_ < 0) return ecNotOpen;
  auto *dst = static_cast<std::uint8_t *>(out);
  std::size_t done = 0;
  while (done < n) {
    if (pos_ >= bufStart_ && pos_ < bufStart_ + bufLen_) {
      const std::size_t off = static_cast<std::size_t>(pos_ - bufStart_);
      const std::size_t take = std::min(n - done, bufLen_ - off);
      std::memcpy(dst + done, buf_ + off, take);
      done += take;
      pos_ += take;
      continue;
    }
    if (pos_ >= size_) break;
    ssize_t got;
    do {
      got = ::pread(fd_, buf_, sizeof buf_, static_cast<off_t>(pos_));
    } while (got < 0 && errno == EINTR);
    if (got < 0) return fileErrorCode(errno);
    bufStart_ = pos_;
    bufLen_ = static_cast<std::size_t>(got);
    if (got == 0) break;
  }
  return static_cast<Result>(done);
}

Result FileInput::seek(std::uint64_t pos) {
  pos_ = pos;
  return ecOK;
}

Result MemoryInput::read(void *buf, std::size_t n) {
  if (pos_ >= size_) return 0;
  const std::size_t take = std::min<std::uint64_t>(n, size_ - pos_);
  std::memcpy(buf, data_ + pos_, take);
  pos_ += take;
  return static_cast<Result>(take);
}

Result MemoryInput::seek(std::uint64_t pos) {
  pos_ = pos;
  return ecOK;
}

}  // namespace kv
