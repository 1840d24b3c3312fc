// All file access of the xBase engine goes through these two small interfaces, so that tests
// can put short writes, a full disk or a crash between any two writes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "base/result_codes.h"

namespace kv::xbase {

class File {
 public:
  virtual ~File() = default;
  // Reads exactly n bytes at off; a short read is an error (ecReadBeyondEof).
  virtual Result ReadAt(uint64_t off, void *buf, size_t n) = 0;
  // Reads up to n bytes at off; *got receives the count (0 at end of file).
  virtual Result ReadSome(uint64_t off, void *buf, size_t n, size_t *got) = 0;
  // Writes all n bytes at off or fails (ecDiskFull, ecDeviceWrite).
  virtual Result WriteAt(uint64_t off, const void *buf, size_t n) = 0;
  virtual Result Size(uint64_t *size) = 0;
  virtual Result Truncate(uint64_t size) = 0;
  // Makes earlier writes durable before later ones are issued.
  virtual Result Sync() = 0;
  // Exclusive, non-blocking whole-file lock; ecAccessDenied when another process holds it.
  virtual Result LockExclusive() = 0;
  // True when the name this file was opened by now leads elsewhere (it was renamed over or
  // removed): a lock won after such a change guards a file nobody will open again.
  virtual bool Replaced() { return false; }
};

// Held while a process creates tables in a folder; released when destroyed.
class FolderLock {
 public:
  virtual ~FolderLock() = default;
};

enum class OpenMode { ReadOnly, ReadWrite, CreateTruncate };

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  virtual Result Open(const std::string &path, OpenMode mode, std::unique_ptr<File> *out) = 0;
  virtual bool Exists(const std::string &path) = 0;
  virtual Result Remove(const std::string &path) = 0;
  // Atomically replaces `to` by `from` and makes the directory entry durable.
  virtual Result Rename(const std::string &from, const std::string &to) = 0;

  // What creating a table needs. The defaults suit a file system no other process sees.
  // A new, empty file; ecFileExists (and nothing touched) when the name is taken.
  virtual Result CreateNew(const std::string &path, std::unique_ptr<File> *out);
  // Gives `from` the name `to` only while no file has that name; ecFileExists otherwise.
  virtual Result RenameNoReplace(const std::string &from, const std::string &to);
  // One creator of tables at a time in folder `dir`, across processes: waits up to
  // `timeoutMs` for another one to finish (ecAccessDenied after that).
  virtual Result LockFolder(const std::string &dir, int timeoutMs,
                            std::unique_ptr<FolderLock> *out);
  // Removes the work files <prefix><pid>-<n><suffix> in `dir` of processes that are gone.
  virtual void ClearStaleWorkFiles(const std::string &dir, const std::string &prefix,
                                   const std::string &suffix) {
    (void)dir, (void)prefix, (void)suffix;
  }
};

// The real thing: POSIX files with flock() locks.
FileSystem &PosixFileSystem();

// Finds `dir/base.ext` with the extension in any letter case (files copied from other systems
// are often called CALLS.FPT or calls.CDX). Returns the existing name, or the lower-case
// default when none exists.
std::string FindSibling(FileSystem &fs, const std::string &tablePath, const std::string &ext);

}  // namespace kv::xbase
