#pragma once
// A write-only device over an open file descriptor for painters that write files without
// reporting failures (the PDF writer): the first failed write is kept, every later write fails
// too, and result() after close() tells whether all of it reached the file.
#include <QIODevice>
#include <string>

#include "base/checked_writer.h"

namespace kv {

class CheckedFileOutput : public QIODevice {
 public:
  // Takes over `fd`; it is closed by close() or the destructor.
  explicit CheckedFileOutput(int fd);

  bool isSequential() const override { return true; }
  void close() override;
  Result result() const { return writer_.result(); }
  std::string systemReason() const { return writer_.systemReason(); }

 protected:
  qint64 readData(char *, qint64) override { return -1; }
  qint64 writeData(const char *data, qint64 len) override;

 private:
  CheckedWriter writer_;
};

}  // namespace kv
