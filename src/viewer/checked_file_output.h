#pragma once
// A write-only device over an open file descriptor for painters that write files without
// reporting failures (the PDF writer): the first failed write is kept, every later write fails
// too, and close() answers whether all of it reached the file.
#include <QIODevice>
#include <string>

#include "base/result_codes.h"

namespace kv {

class CheckedFileOutput : public QIODevice {
 public:
  // Takes over `fd`; it is closed by close() or the destructor.
  explicit CheckedFileOutput(int fd);
  ~CheckedFileOutput() override;

  bool isSequential() const override { return true; }
  // Writes what is buffered and closes the descriptor.
  void close() override;
  // ecOK, or the first failure; systemReason() gives the system's sentence for it.
  Result result() const { return result_; }
  std::string systemReason() const;

 protected:
  qint64 readData(char *, qint64) override { return -1; }
  qint64 writeData(const char *data, qint64 len) override;

 private:
  bool flushBuffer();
  void fail(int err);

  int fd_;
  QByteArray buffer_;
  std::uint64_t written_ = 0;
  Result result_ = ecOK;
  int err_ = 0;
};

}  // namespace kv
