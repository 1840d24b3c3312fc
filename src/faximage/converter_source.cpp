#include "faximage/converter_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/file_error.h"
#include "base/file_replacement.h"

namespace kv {

Result ByteInput::readExact(void *buf, std::size_t n) {
  const Result r = read(buf, n);
  if (r < 0) return r;
  if (static_cast<std::size_t>(r) == n) return ecOK;
  cutOff_ = true;
  return ecBadGraphicsFormat;
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
  problem_.clear();
  cutOff_ = false;
  pos_ = bufStart_ = 0;
  bufLen_ = 0;
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) {
    const int e = errno;
    problem_ = SystemReason(e);
    return fileErrorCode(e);
  }
  struct stat st;
  if (fstat(fd_, &st) != 0) {
    const int e = errno;
    close();
    problem_ = SystemReason(e);
    return fileErrorCode(e);
  }
  if (S_ISDIR(st.st_mode)) {
    close();
    problem_ = "it is a directory";
    return ecAccessDenied;
  }
  if (!S_ISREG(st.st_mode)) {
    const int from = fd_;
    fd_ = -1;
    const Result r = copyStream(from);
    ::close(from);
    return r;
  }
  size_ = static_cast<std::uint64_t>(st.st_size);
  return ecOK;
}

Result FileInput::copyStream(int from) {
  FILE *spool = std::tmpfile();
  if (!spool) {
    const int e = errno;
    problem_ = "no room to hold the input: " + SystemReason(e);
    return fileErrorCode(e);
  }
  fd_ = ::dup(fileno(spool));
  std::fclose(spool);
  if (fd_ < 0) return fileErrorCode(errno);
  ::fcntl(fd_, F_SETFD, FD_CLOEXEC);
  std::uint64_t total = 0;
  for (;;) {
    const ssize_t got = ::read(from, buf_, sizeof buf_);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      const int e = errno;
      close();
      problem_ = "reading: " + SystemReason(e);
      return fileErrorCode(e);
    }
    if (got == 0) break;
    if (total + static_cast<std::uint64_t>(got) > kMaxStreamBytes) {
      close();
      problem_ = "the input stream goes on beyond " + std::to_string(kMaxStreamBytes >> 20) +
                 " MiB, more than any fax holds";
      return ecBadGraphicsFormat;
    }
    if (const Result r = writeAt(fd_, buf_, static_cast<std::size_t>(got), total); r < 0) {
      const int e = errno;
      close();
      problem_ = "no room to hold the input: " + SystemReason(e);
      return r;
    }
    total += static_cast<std::uint64_t>(got);
  }
  size_ = total;
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
