// Modem output as the fax engine reads it: result lines and HDLC frames split by the response
// reader, then every parser a line or frame reaches (class lists, modulation lists, hang-up
// numbers, DIS, DCS and station ids).
#include <cstddef>
#include <cstdint>

#include "fax/t30.h"

namespace {
void useFrame(const std::vector<std::uint8_t> &bytes) {
  auto f = kv::t30::decodeFrame(bytes);
  if (!f) return;
  (void)kv::t30::kindName(f->kind);
  auto caps = kv::t30::readDis(f->info, f->infoLen);
  auto dcs = kv::t30::readDcs(f->info, f->infoLen);
  std::string id = kv::t30::stationIdFromInfo(f->info, f->infoLen);
  for (char c : id)
    if (static_cast<unsigned char>(c) < 32 || static_cast<unsigned char>(c) > 126) __builtin_trap();
  (void)kv::t30::minBytesPerLine(dcs.scanCode, dcs.fine, dcs.bps);
  (void)kv::t30::pageCode(dcs.code);
  std::array<bool, kv::t30::kModCount + 1> own{};
  own.fill(true);
  int idx = kv::t30::chooseIndex(own, caps.rates, 14400);
  (void)kv::t30::stepDown(own, caps.rates, idx);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  kv::t30::ResponseReader reader;
  for (std::size_t i = 0; i < size; ++i) {
    auto item = reader.feed(data[i]);
    if (item.type == kv::t30::ResponseReader::Item::Line) {
      if (item.line.size() > kv::t30::ResponseReader::kMaxLine) __builtin_trap();
      (void)kv::t30::parseClassList(item.line);
      (void)kv::t30::parseModulationList(item.line);
      (void)kv::t30::hangupNumber(item.line);
    } else if (item.type == kv::t30::ResponseReader::Item::Frame) {
      if (item.frame.size() > kv::t30::ResponseReader::kMaxFrame) __builtin_trap();
      useFrame(item.frame);
    }
  }
  return 0;
}
