#include "fax/apf_io.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "base/file_error.h"

#include "fax/fax_text.h"

namespace kv::apf {

Result lastError(Result fallback) {
  return errno ? -errno : fallback;
}

Result openForSending(const std::string &path, std::FILE *&f, ApfMainHeader &h) {
  errno = 0;
  f = std::fopen(path.c_str(), "rb");
  if (!f) return lastError(ecFileNotFound);
  std::uint8_t b[kApfMainHeaderSize];
  if (std::fread(b, 1, sizeof b, f) != sizeof b || ApfMainHeader::fromBytes(b, h) < 0) {
    std::fclose(f);
    f = nullptr;
    return ecFaxBadFormat;
  }
  return ecOK;
}

Result seekPage(std::FILE *f, const ApfMainHeader &h, int n, ApfPageHeader &ph) {
  if (n < 1 || n > h.pageCount) return ecReadBeyondEof;
  long pos = long(h.firstPageOffset);
  for (int i = 1; i <= n; ++i) {
    if (std::fseek(f, pos, SEEK_SET) != 0) return lastError(ecSeekError);
    std::uint8_t b[kApfPageHeaderSize];
    if (std::fread(b, 1, sizeof b, f) != sizeof b) return ecReadBeyondEof;
    ph = ApfPageHeader::fromBytes(b);
    pos += long(kApfPageHeaderSize) + long(ph.imageLength);
  }
  return ecOK;
}

Writer::~Writer() {
  close();
}

Result Writer::writeHeader(const std::string &stationId) {
  ApfMainHeader h;
  h.faxDateTime = packDosDateTime(localNow());
  h.senderId = stationId.substr(0, kApfMaxSenderId);
  h.pageCount = std::uint16_t(pages_);
  h.firstPageOffset = kApfMainHeaderSize;
  const auto b = h.toBytes();
  if (Result r = writeAt(fd_, b.data(), b.size(), 0); r < 0) return r;
  end_ = std::max<std::uint64_t>(end_, b.size());
  return ecOK;
}

Result Writer::writePageHeader() {
  const auto b = page_.toBytes();
  if (Result r = writeAt(fd_, b.data(), b.size(), std::uint64_t(pagePos_)); r < 0) return r;
  end_ = std::max<std::uint64_t>(end_, std::uint64_t(pagePos_) + b.size());
  return ecOK;
}

namespace {

// Opens `path` locked. A name another program removed between our open and our lock (a start
// of receive mode clearing an empty file) is not ours any more: ecFileExists, try another.
Result openLocked(const std::string &path, bool replace) {
  const int flags = O_RDWR | O_CREAT | O_CLOEXEC | (replace ? O_TRUNC : O_EXCL);
  int fd;
  do {
    fd = ::open(path.c_str(), flags, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return errno == EEXIST ? ecFileExists : fileErrorCode(errno);
  int rc;
  do {
    rc = ::flock(fd, LOCK_EX);
  } while (rc != 0 && errno == EINTR);
  struct stat mine = {};
  struct stat named = {};
  if (rc != 0 || ::fstat(fd, &mine) != 0 || ::stat(path.c_str(), &named) != 0 ||
      mine.st_ino != named.st_ino || mine.st_dev != named.st_dev) {
    ::close(fd);
    return ecFileExists;
  }
  return fd;
}

}  // namespace

Result Writer::create(const std::string &path, const std::string &stationId, bool replace) {
  close();
  const Result fd = openLocked(path, replace);
  if (fd < 0) return fd;
  fd_ = fd;
  path_ = path;
  pages_ = 0;
  pagePos_ = -1;
  end_ = 0;
  return writeHeader(stationId);
}

Result Writer::beginPage(bool fine, bool wide, bool records) {
  if (fd_ < 0) return ecNotOpen;
  pagePos_ = (long long)end_;
  // Received MH data is stored as the modem's bit stream; MR pages are re-coded to records.
  page_.imageLength = 0;
  page_.imageFlags = std::uint16_t((fine ? apfHighResolution : 0) | (wide ? apfWide : 0) |
                                   (records ? apfLineRecords : 0));
  Result r = writePageHeader();
  // A header only partly written is no page: the file ends where it did.
  if (r < 0) dropPage();
  return r;
}

Result Writer::write(const std::uint8_t *data, std::size_t n) {
  if (fd_ < 0) return ecNotOpen;
  if (Result r = writeAt(fd_, data, n, end_); r < 0) {
    // What part of the block reached the disk is not page data the header can count.
    [[maybe_unused]] const int cut = ::ftruncate(fd_, off_t(end_));
    return r;
  }
  end_ += n;
  page_.imageLength += std::uint32_t(n);
  return ecOK;
}

Result Writer::closePage(const std::string &stationId) {
  if (fd_ < 0 || pagePos_ < 0) return ecOK;
  // The page header first: a main header that counts the page must find its length right.
  if (Result r = writePageHeader(); r < 0) return r;
  ++pages_;
  if (Result r = writeHeader(stationId); r < 0) {
    --pages_;
    return r;
  }
  pagePos_ = -1;
  return ecOK;
}

Result Writer::dropPage() {
  if (fd_ < 0 || pagePos_ < 0) return ecOK;
  if (::ftruncate(fd_, off_t(pagePos_)) != 0) return fileErrorCode(errno);
  end_ = std::uint64_t(pagePos_);
  pagePos_ = -1;
  return ecOK;
}

Result Writer::close() {
  if (fd_ < 0) return ecOK;
  Result r = ::fsync(fd_) == 0 ? ecOK : fileErrorCode(errno);
  // Closing also gives the lock up.
  if (::close(fd_) != 0 && r == ecOK && errno != EINTR) r = fileErrorCode(errno);
  fd_ = -1;
  pagePos_ = -1;
  return r;
}

}  // namespace kv::apf
