#include "base/file_replacement.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "base/file_error.h"
#include "base/temp_file_cleanup.h"
#include "base/work_files.h"

namespace kv {

namespace {

// Temporaries are named <target's name>.~part<pid>-<n>.
constexpr const char *kTempMarker = ".~part";

std::string directoryOf(const std::string &path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string baseNameOf(const std::string &path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool sameFile(const struct stat &a, const std::string &other) {
  struct stat b;
  return ::stat(other.c_str(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

std::string SystemReason(int err) {
  char buf[256];
  return strerror_r(err, buf, sizeof buf);
}

Result FileReplacement::refuse(Result code, std::string why) {
  problem_ = std::move(why);
  return code;
}

Result FileReplacement::prepare(const std::string &target, const std::string &input) {
  return prepare(target, {input});
}

Result FileReplacement::prepare(const std::string &target,
                                std::initializer_list<std::string> inputs) {
  discard();
  problem_.clear();
  replacing_ = false;
  target_ = real_ = target;
  if (target.empty()) return refuse(ecFileNotFound, "no output file named");
  // Through a symbolic link the file it names is replaced, as a copy would write through it.
  if (char *resolved = ::realpath(target.c_str(), nullptr)) {
    real_ = resolved;
    std::free(resolved);
  }
  struct stat st;
  if (::stat(real_.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return refuse(ecAccessDenied, "it is a directory");
    if (!S_ISREG(st.st_mode)) return refuse(ecAccessDenied, "it is not a regular file");
    for (const std::string &input : inputs)
      if (!input.empty() && sameFile(st, input))
        return refuse(ecBadArgument, "it is the input file, which would be overwritten");
    // Replacing needs the right to write the file itself, not only its directory.
    const int fd = ::open(real_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
      const int e = errno;
      return refuse(fileErrorCode(e), "it may not be written: " + SystemReason(e));
    }
    ::close(fd);
    replacing_ = true;
    mode_ = st.st_mode & 07777;
    uid_ = st.st_uid;
    gid_ = st.st_gid;
  } else if (errno != ENOENT) {
    const int e = errno;
    return refuse(fileErrorCode(e), SystemReason(e));
  }
  const std::string dir = directoryOf(real_);
  struct stat ds;
  if (::stat(dir.c_str(), &ds) != 0) {
    const int e = errno;
    if (e == ENOENT) return refuse(ecPathNotFound, "the directory " + dir + " does not exist");
    return refuse(fileErrorCode(e), "the directory " + dir + ": " + SystemReason(e));
  }
  if (!S_ISDIR(ds.st_mode)) return refuse(ecPathNotFound, dir + " is not a directory");
  if (::access(dir.c_str(), W_OK | X_OK) != 0) {
    const int e = errno;
    return refuse(e == EROFS ? ecWriteProtected : ecAccessDenied,
                  "no file may be created in " + dir + ": " + SystemReason(e));
  }
  std::string base = baseNameOf(real_);
  if (base.size() > 200) base.resize(200);  // room for the suffix within a name's limit
  temp_ = WorkFileName(dir, base + kTempMarker, "");
  RegisterTempFile(temp_);
  return ecOK;
}

Result FileReplacement::createTemp() {
  if (temp_.empty()) return refuse(ecNotOpenOutput, "no output file prepared");
  int fd;
  do {
    // Read access too: some writers (libtiff) read back what they wrote.
    fd = ::open(temp_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    const int e = errno;
    return refuse(fileErrorCode(e), SystemReason(e));
  }
  return fd;
}

void FileReplacement::removeStaleTemporaries() {
  if (!temp_.empty()) RemoveStaleTemporaries(directoryOf(temp_));
}

void RemoveStaleTemporaries(const std::string &dir) {
  RemoveStaleMarkedFiles(dir, kTempMarker);
}

bool IsSameFile(const std::string &a, const std::string &b) {
  struct stat st;
  return ::stat(a.c_str(), &st) == 0 && sameFile(st, b);
}

Result FileReplacement::commit() {
  if (temp_.empty()) return ecNotOpenOutput;
  auto failed = [&](int e, const std::string &what) {
    problem_ = what + ": " + SystemReason(e);
    discard();
    return fileErrorCode(e);
  };
  // An old file goes only once the new data is on disk (a full disk may only say so here). A
  // new name has nothing to lose in a crash and is not made to wait: unpacking writes
  // thousands of pages.
  if (replacing_) {
    const int fd = ::open(temp_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return failed(errno, "the written file vanished");
    if (::fsync(fd) != 0) {
      const int e = errno;
      ::close(fd);
      return failed(e, "writing");
    }
    if (::close(fd) != 0) return failed(errno, "writing");
  }
  if (replacing_) {
    // Only root may give a file away; anyone else's copy stays theirs, with the old mode.
    if (::chown(temp_.c_str(), uid_, gid_) != 0) errno = 0;
    if (::chmod(temp_.c_str(), mode_) != 0) return failed(errno, "keeping the file's mode");
  }
  if (::rename(temp_.c_str(), real_.c_str()) != 0) return failed(errno, "replacing the file");
  UnregisterTempFile(temp_);
  temp_.clear();
  return ecOK;
}

void FileReplacement::discard() {
  if (temp_.empty()) return;
  ::unlink(temp_.c_str());
  UnregisterTempFile(temp_);
  temp_.clear();
}

Result WriteWholeFile(const std::string &target, std::span<const std::uint8_t> bytes,
                      std::string &problem, const std::string &input) {
  FileReplacement out;
  Result r = out.prepare(target, input);
  if (r < 0) {
    problem = out.problem();
    return r;
  }
  const int fd = out.createTemp();
  if (fd < 0) {
    problem = out.problem();
    return fd;
  }
  r = writeAt(fd, bytes.data(), bytes.size(), 0);
  const int writeErr = errno;
  if (::close(fd) != 0 && r >= 0) {
    const int e = errno;
    problem = SystemReason(e);
    return fileErrorCode(e);
  }
  if (r < 0) {
    problem = "writing: " + SystemReason(writeErr ? writeErr : ENOSPC);
    return r;
  }
  if ((r = out.commit()) < 0) problem = out.problem();
  return r;
}

}  // namespace kv
