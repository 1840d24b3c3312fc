// One HDLC frame as the modem hands it over (address first, FCS included), straight into the
// frame decoder and the DIS/DCS/station id readers; and the frame builder on the same bytes,
// whose output must end in an unstuffed DLE ETX and read back to the same contents.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fax/t30.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  std::vector<std::uint8_t> bytes(data, data + size);
  if (auto f = kv::t30::decodeFrame(bytes)) {
    (void)kv::t30::readDis(f->info, f->infoLen);
    (void)kv::t30::readDcs(f->info, f->infoLen);
    (void)kv::t30::stationIdFromInfo(f->info, f->infoLen);
  }
  if (size == 0) return 0;
  std::vector<std::uint8_t> info(data + 1, data + size);
  auto built = kv::t30::frameBytes(data[0], size % 2, info);
  kv::t30::ResponseReader reader;
  kv::t30::ResponseReader::Item last;
  for (auto b : built) {
    auto item = reader.feed(b);
    if (item.type != kv::t30::ResponseReader::Item::None) last = std::move(item);
  }
  if (last.type != kv::t30::ResponseReader::Item::Frame) __builtin_trap();
  std::size_t keep = std::min<std::size_t>(info.size() + 3, kv::t30::ResponseReader::kMaxFrame);
  if (last.frame.size() != keep) __builtin_trap();
  for (std::size_t i = 3; i < keep; ++i)
    if (last.frame[i] != info[i - 3]) __builtin_trap();
  return 0;
}
