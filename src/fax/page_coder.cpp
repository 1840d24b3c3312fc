#include "fax/page_coder.h"

#include <algorithm>
#include <cstring>

namespace kv {

PageCoder::PageCoder()
    : dec_([this](const std::uint8_t *row, std::size_t bytes) { putRow(row, bytes); }) {}

void PageCoder::begin(const T4StreamOptions &o) {
  enc_.begin(o);
  dec_.reset();
  row_.assign(std::size_t((enc_.options().width + 7) / 8), 0);
}

void PageCoder::putRow(const std::uint8_t *row, std::size_t bytes) {
  std::fill(row_.begin(), row_.end(), 0);
  std::memcpy(row_.data(), row, std::min(bytes, row_.size()));
  enc_.putRow(row_.data());
}

void PageCoder::blankRows(int n) {
  std::fill(row_.begin(), row_.end(), 0);
  for (int i = 0; i < n; ++i) enc_.putRow(row_.data());
}

void PageCoder::rows(const std::vector<std::vector<std::uint8_t>> &rows) {
  for (const auto &r : rows) putRow(r.data(), r.size());
}

void PageCoder::apfData(const std::uint8_t *data, std::size_t n) {
  dec_.feed(data, n);
}

void PageCoder::end() {
  dec_.finish();
  enc_.end();
}

}  // namespace kv
