// An in-memory file system for the table fuzzers: no disk traffic, every run starts clean.
#pragma once

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "xbase/file_io.h"

namespace kvfuzz {

class MemFs : public kv::xbase::FileSystem {
 public:
  using Data = std::shared_ptr<std::string>;
  std::map<std::string, Data> files;

  struct F : kv::xbase::File {
    Data d;
    kv::Result ReadAt(uint64_t off, void *buf, size_t n) override {
      size_t got = 0;
      ReadSome(off, buf, n, &got);
      return got == n ? kv::ecOK : kv::ecReadBeyondEof;
    }
    kv::Result ReadSome(uint64_t off, void *buf, size_t n, size_t *got) override {
      *got = off >= d->size() ? 0 : std::min<size_t>(n, d->size() - size_t(off));
      if (*got) std::memcpy(buf, d->data() + off, *got);
      return kv::ecOK;
    }
    kv::Result WriteAt(uint64_t off, const void *buf, size_t n) override {
      if (off + n > (64u << 20)) return kv::ecDiskFull;  // keep runaway writes bounded
      if (d->size() < off + n) d->resize(size_t(off + n), '\0');
      std::memcpy(d->data() + off, buf, n);
      return kv::ecOK;
    }
    kv::Result Size(uint64_t *s) override {
      *s = d->size();
      return kv::ecOK;
    }
    kv::Result Truncate(uint64_t s) override {
      d->resize(size_t(s));
      return kv::ecOK;
    }
    kv::Result Sync() override { return kv::ecOK; }
    kv::Result LockExclusive() override { return kv::ecOK; }
  };

  kv::Result Open(const std::string &p, kv::xbase::OpenMode m,
                  std::unique_ptr<kv::xbase::File> *out) override {
    auto it = files.find(p);
    if (m == kv::xbase::OpenMode::CreateTruncate) {
      files[p] = std::make_shared<std::string>();
      it = files.find(p);
    } else if (it == files.end()) {
      return kv::ecFileNotFound;
    }
    auto f = std::make_unique<F>();
    f->d = it->second;
    *out = std::move(f);
    return kv::ecOK;
  }
  bool Exists(const std::string &p) override { return files.count(p) != 0; }
  kv::Result Remove(const std::string &p) override {
    files.erase(p);
    return kv::ecOK;
  }
  kv::Result Rename(const std::string &a, const std::string &b) override {
    auto it = files.find(a);
    if (it == files.end()) return kv::ecFileNotFound;
    files[b] = it->second;
    files.erase(a);
    return kv::ecOK;
  }
};

}  // namespace kvfuzz
