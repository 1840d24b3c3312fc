// Line data and settings text through the serial layer's text handling: the trace and dispatch
// log rings with their file writers (bytes from the line end up in both), and the line
// settings text parser.
#include <unistd.h>

#include <cstdint>
#include <string>

#include "comm/device_layer.h"
#include "comm/trace_log.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size < 3) return 0;
  static const std::string file = "/tmp/comm_logs_fuzz_" + std::to_string(getpid());

  kv::LineSettings ls;
  kv::SerialDeviceLayer()->buildLine(
      std::string(reinterpret_cast<const char *>(data), std::min<std::size_t>(size, 40)), ls);

  kv::TraceRing trace;
  kv::LogRing log;
  trace.start(std::uint16_t(1 + data[0] * 8));
  log.start(std::uint16_t(1 + data[1] * 16), 0);
  bool hex = data[2] & 1;
  std::size_t i = 3;
  while (i < size) {
    std::uint8_t op = data[i++];
    switch (op % 5) {
      case 0:
        if (i < size) trace.add('T', data[i++]);
        break;
      case 1:
        if (i < size) trace.add(char(op), data[i++]);
        break;
      case 2: {
        std::size_t len = i < size ? data[i++] : 0;
        len = std::min(len, size - i);
        log.add(op % 7, op % 15, std::uint32_t(op) * 977u, std::uint16_t(len), data + i,
                std::uint16_t(len));
        i += len;
        break;
      }
      case 3:
        trace.setOn(op & 8);
        log.setOn(op & 16);
        break;
      case 4:
        if (op & 32) trace.clear();
        if (op & 64) log.clear();
        break;
    }
  }
  trace.dump(file, false, hex);
  log.dump(file, true, !hex);
  unlink(file.c_str());
  return 0;
}
