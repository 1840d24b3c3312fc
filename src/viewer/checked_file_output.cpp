#include "viewer/checked_file_output.h"

#include <string_view>

namespace kv {

CheckedFileOutput::CheckedFileOutput(int fd) : writer_(fd) {
  if (fd >= 0) QIODevice::open(QIODevice::WriteOnly | QIODevice::Unbuffered);
}

qint64 CheckedFileOutput::writeData(const char *data, qint64 len) {
  return writer_.put(std::string_view(data, static_cast<std::size_t>(len))) ? len : -1;
}

void CheckedFileOutput::close() {
  writer_.close();
  if (isOpen()) QIODevice::close();
}

}  // namespace kv
