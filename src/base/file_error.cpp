#include "base/file_error.h"

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>

namespace kv {

Result fileErrorCode(int err) {
  switch (err) {
    case 0:
      return ecOK;
    case ENOENT:
      return ecFileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
      return ecPathNotFound;
    case EMFILE:
    case ENFILE:
      return ecTooManyFiles;
    case EBADF:
      return ecInvalidHandle;
    case ENOMEM:
      return ecOutOfMemory;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return ecDiskFull;
    case EROFS:
      return ecWriteProtected;
    case EIO:
      return ecDeviceRead;
    default:
      return ecAccessDenied;
  }
}

Result openForReading(const std::string &path) {
  if (path.empty()) return ecFileNotFound;
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return fileErrorCode(errno);
  return fd;
}

Result readAt(int fd, void *buf, std::size_t size, std::uint64_t offset) {
  std::size_t done = 0;
  auto *p = static_cast<char *>(buf);
  while (done < size) {
    const ssize_t n = ::pread(fd, p + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return fileErrorCode(errno);
    }
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return static_cast<Result>(done);
}

Result writeAt(int fd, const void *buf, std::size_t size, std::uint64_t offset) {
  std::size_t done = 0;
  auto *p = static_cast<const char *>(buf);
  while (done < size) {
    const ssize_t n = ::pwrite(fd, p + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return fileErrorCode(errno);
    }
    if (n == 0) return ecDiskFull;
    done += static_cast<std::size_t>(n);
  }
  return ecOK;
}

}  // namespace kv
