#include "xbase/file_io.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <string_view>
#include <thread>

#include "base/work_files.h"

namespace kv::xbase {
namespace {

Result FromErrno(int e) {
  switch (e) {
    case ENOENT:
      return ecFileNotFound;
    case EEXIST:
      return ecFileExists;
    case ENOTDIR:
      return ecPathNotFound;
    case EACCES:
    case EPERM:
    case EWOULDBLOCK:
    case EISDIR:  // a directory where a table should be: it can never be opened as one
      return ecAccessDenied;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return ecDiskFull;
    case EMFILE:
    case ENFILE:
      return ecTooManyFiles;
    case EROFS:
      return ecWriteProtected;
    default:
      return ecDeviceWrite;
  }
}

// Makes a new or changed directory entry of `path` durable.
void SyncFolderOf(const std::string &path) {
  size_t slash = path.find_last_of('/');
  std::string dir(slash == std::string::npos ? std::string_view(".")
                                             : std::string_view(path).substr(0, slash + 1));
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

class PosixFile final : public File {
 public:
  PosixFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  ~PosixFile() override { ::close(fd_); }

  Result ReadAt(uint64_t off, void *buf, size_t n) override {
    size_t got = 0;
    Result r = ReadSome(off, buf, n, &got);
    if (r != ecOK) return r;
    return got == n ? ecOK : ecReadBeyondEof;
  }
  Result ReadSome(uint64_t off, void *buf, size_t n, size_t *got) override {
    *got = 0;
    auto *p = static_cast<uint8_t *>(buf);
    while (*got < n) {
      ssize_t k = ::pread(fd_, p + *got, n - *got, off_t(off + *got));
      if (k < 0) {
        if (errno == EINTR) continue;
        return ecDeviceRead;
      }
      if (k == 0) break;
      *got += size_t(k);
    }
    return ecOK;
  }
  Result WriteAt(uint64_t off, const void *buf, size_t n) override {
    auto *p = static_cast<const uint8_t *>(buf);
    size_t done = 0;
    while (done < n) {
      ssize_t k = ::pwrite(fd_, p + done, n - done, off_t(off + done));
      if (k < 0) {
        if (errno == EINTR) continue;
        return FromErrno(errno);
      }
      if (k == 0) return ecDiskFull;
      done += size_t(k);
    }
    return ecOK;
  }
  Result Size(uint64_t *size) override {
    struct stat st;
    if (::fstat(fd_, &st) != 0) return FromErrno(errno);
    *size = uint64_t(st.st_size);
    return ecOK;
  }
  Result Truncate(uint64_t size) override {
    return ::ftruncate(fd_, off_t(size)) == 0 ? ecOK : FromErrno(errno);
  }
  Result Sync() override { return ::fdatasync(fd_) == 0 ? ecOK : FromErrno(errno); }
  Result LockExclusive() override {
    // The same whole-file lock other xBase tools on Linux take for exclusive use.
    while (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
      if (errno == EINTR) continue;
      return errno == EWOULDBLOCK ? ecAccessDenied : FromErrno(errno);
    }
    return ecOK;
  }
  bool Replaced() override {
    struct stat mine, named;
    if (::fstat(fd_, &mine) != 0) return false;
    return ::stat(path_.c_str(), &named) != 0 || named.st_dev != mine.st_dev ||
           named.st_ino != mine.st_ino;
  }

 private:
  int fd_;
  std::string path_;
};

class DirectoryLock final : public FolderLock {
 public:
  explicit DirectoryLock(int fd) : fd_(fd) {}
  ~DirectoryLock() override {
    if (fd_ >= 0) ::close(fd_);  // closing releases the flock
  }

 private:
  int fd_;
};

class PosixFs final : public FileSystem {
 public:
  Result Open(const std::string &path, OpenMode mode, std::unique_ptr<File> *out) override {
    int flags = O_CLOEXEC;
    switch (mode) {
      case OpenMode::ReadOnly:
        flags |= O_RDONLY;
        break;
      case OpenMode::ReadWrite:
        flags |= O_RDWR;
        break;
      case OpenMode::CreateTruncate:
        flags |= O_RDWR | O_CREAT | O_TRUNC;
        break;
    }
    int fd = ::open(path.c_str(), flags, 0644);
    if (fd < 0) return FromErrno(errno);
    *out = std::make_unique<PosixFile>(fd, path);
    return ecOK;
  }
  Result CreateNew(const std::string &path, std::unique_ptr<File> *out) override {
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return FromErrno(errno);
    *out = std::make_unique<PosixFile>(fd, path);
    return ecOK;
  }
  bool Exists(const std::string &path) override {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
  }
  Result Remove(const std::string &path) override {
    return ::unlink(path.c_str()) == 0 || errno == ENOENT ? ecOK : FromErrno(errno);
  }
  Result Rename(const std::string &from, const std::string &to) override {
    if (::rename(from.c_str(), to.c_str()) != 0) return FromErrno(errno);
    SyncFolderOf(to);
    return ecOK;
  }
  Result RenameNoReplace(const std::string &from, const std::string &to) override {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) != 0) {
      if (errno != EINVAL && errno != ENOSYS) return FromErrno(errno);
      // A file system without the flag: a hard link fails the same way on a taken name.
      if (::link(from.c_str(), to.c_str()) == 0) {
        ::unlink(from.c_str());
      } else if (errno == EPERM || errno == EOPNOTSUPP) {
        // Nor with hard links: the callers' folder lock keeps others from taking the name.
        if (Exists(to)) return ecFileExists;
        if (::rename(from.c_str(), to.c_str()) != 0) return FromErrno(errno);
      } else {
        return FromErrno(errno);
      }
    }
    SyncFolderOf(to);
    return ecOK;
  }
  void ClearStaleWorkFiles(const std::string &dir, const std::string &prefix,
                           const std::string &suffix) override {
    RemoveStaleWorkFiles(dir, prefix, suffix);
  }
  Result LockFolder(const std::string &dir, int timeoutMs,
                    std::unique_ptr<FolderLock> *out) override {
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return FromErrno(errno);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      if (errno == EINTR) continue;
      if (errno != EWOULDBLOCK) {
        // A file system without such locks (some network shares): the exclusive creation of
        // each file still keeps creators from overwriting one another.
        if (errno == ENOLCK || errno == EINVAL || errno == EBADF || errno == EOPNOTSUPP) break;
        const int e = errno;
        ::close(fd);
        return FromErrno(e);
      }
      if (std::chrono::steady_clock::now() >= deadline) {
        ::close(fd);
        return ecAccessDenied;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    *out = std::make_unique<DirectoryLock>(fd);
    return ecOK;
  }
};

}  // namespace

Result FileSystem::CreateNew(const std::string &path, std::unique_ptr<File> *out) {
  return Exists(path) ? ecFileExists : Open(path, OpenMode::CreateTruncate, out);
}

Result FileSystem::RenameNoReplace(const std::string &from, const std::string &to) {
  return Exists(to) ? ecFileExists : Rename(from, to);
}

Result FileSystem::LockFolder(const std::string &, int, std::unique_ptr<FolderLock> *out) {
  *out = std::make_unique<FolderLock>();
  return ecOK;
}

FileSystem &PosixFileSystem() {
  static PosixFs fs;
  return fs;
}

std::string FindSibling(FileSystem &fs, const std::string &tablePath, const std::string &ext) {
  size_t slash = tablePath.find_last_of('/');
  size_t dot = tablePath.find_last_of('.');
  std::string base = (dot != std::string::npos && (slash == std::string::npos || dot > slash))
                         ? tablePath.substr(0, dot)
                         : tablePath;
  std::string lower = ext, upper = ext;
  for (auto &c : lower) c = char(std::tolower(uint8_t(c)));
  for (auto &c : upper) c = char(std::toupper(uint8_t(c)));
  // Follow the table's own letter case first, so KRV.DBF gets KRV.CDX beside it.
  std::string tableExt = dot != std::string::npos ? tablePath.substr(dot + 1) : "";
  bool tableUpper = !tableExt.empty() && std::isupper(uint8_t(tableExt[0]));
  std::string candidates[] = {base + "." + (tableUpper ? upper : lower),
                              base + "." + (tableUpper ? lower : upper)};
  for (auto &c : candidates)
    if (fs.Exists(c)) return c;
  // Mixed case such as .Fpt: try every variant of the three letters.
  for (int mask = 0; mask < (1 << int(ext.size())); ++mask) {
    std::string e = ext;
    for (size_t i = 0; i < e.size(); ++i)
      e[i] = char((mask >> i) & 1 ? std::toupper(uint8_t(e[i])) : std::tolower(uint8_t(e[i])));
    if (fs.Exists(base + "." + e)) return base + "." + e;
  }
  return candidates[0];
}

}  // namespace kv::xbase
