#include "fax/apf_io.h"

#include <cerrno>
#include <cstring>

#include "fax/fax_text.h"

namespace kv::apf {

namespace {
std::uint32_t get32(const std::uint8_t *p) {
  return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
         std::uint32_t(p[3]) << 24;
}
std::uint16_t get16(const std::uint8_t *p) {
  return std::uint16_t(p[0] | p[1] << 8);
}
void put32(std::uint8_t *p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = std::uint8_t(v >> (8 * i));
}
void put16(std::uint8_t *p, std::uint16_t v) {
  p[0] = std::uint8_t(v);
  p[1] = std::uint8_t(v >> 8);
}
const std::uint8_t kSignature[6] = {'A', 'P', 'F', '1', '0', 0x1A};
}  // namespace

Result lastError(Result fallback) {
  return errno ? -errno : fallback;
}

Result openForSending(const std::string &path, std::FILE *&f, FileHeader &h) {
  errno = 0;
  f = std::fopen(path.c_str(), "rb");
  if (!f) return lastError(ecFileNotFound);
  std::uint8_t b[kHeaderSize];
  if (std::fread(b, 1, kHeaderSize, f) != kHeaderSize || std::memcmp(b, kSignature, 6) != 0) {
    std::fclose(f);
    f = nullptr;
    return ecFaxBadFormat;
  }
  h.signatureOk = true;
  h.pageCount = get16(b + 32);
  h.firstPageOffset = get32(b + 34);
  return ecOK;
}

Result seekPage(std::FILE *f, const FileHeader &h, int n, PageHeader &ph) {
  if (n < 1 || n > h.pageCount) return ecReadBeyondEof;
  long pos = long(h.firstPageOffset);
  for (int i = 1; i <= n; ++i) {
    if (std::fseek(f, pos, SEEK_SET) != 0) return lastError(ecSeekError);
    std::uint8_t b[kPageHeaderSize];
    if (std::fread(b, 1, kPageHeaderSize, f) != kPageHeaderSize) return ecReadBeyondEof;
    ph.length = get32(b);
    ph.flags = get16(b + 4);
    pos += kPageHeaderSize + long(ph.length);
  }
  return ecOK;
}

std::uint32_t packDosDateTime(const std::tm &t) {
  int year = t.tm_year + 1900;
  if (year < 1980 || year > 2099) return 0;
  std::uint32_t time =
      std::uint32_t(t.tm_sec / 2) | std::uint32_t(t.tm_min) << 5 | std::uint32_t(t.tm_hour) << 11;
  std::uint32_t date =
      std::uint32_t(t.tm_mday) | std::uint32_t(t.tm_mon + 1) << 5 | std::uint32_t(year - 1980) << 9;
  return date << 16 | time;
}

Writer::~Writer() {
  close();
}

Result Writer::writeHeader(const std::string &stationId) {
  std::uint8_t b[kHeaderSize] = {};
  std::memcpy(b, kSignature, 6);
  put32(b + 6, packDosDateTime(localNow()));
  std::string id = stationId.substr(0, 20);
  b[10] = std::uint8_t(id.size());
  std::memset(b + 11, ' ', 20);
  std::memcpy(b + 11, id.data(), id.size());
  put16(b + 32, std::uint16_t(pages_));
  put32(b + 34, kHeaderSize);
  errno = 0;
  if (std::fseek(f_, 0, SEEK_SET) != 0) return lastError(ecSeekError);
  if (std::fwrite(b, 1, kHeaderSize, f_) != kHeaderSize) return lastError(ecDeviceWrite);
  return ecOK;
}

Result Writer::create(const std::string &path, const std::string &stationId) {
  close();
  errno = 0;
  f_ = std::fopen(path.c_str(), "w+b");
  if (!f_) return lastError(ecCantWriteFile);
  path_ = path;
  pages_ = 0;
  pagePos_ = -1;
  Result r = writeHeader(stationId);
  if (r < 0) return r;
  return std::fflush(f_) == 0 ? ecOK : lastError(ecDeviceWrite);
}

Result Writer::beginPage(bool fine, bool wide) {
  if (!f_) return ecNotOpen;
  errno = 0;
  if (std::fseek(f_, 0, SEEK_END) != 0) return lastError(ecSeekError);
  pagePos_ = std::ftell(f_);
  pageLen_ = 0;
  pageFlags_ = std::uint16_t((fine ? kFlagFine : 0) | (wide ? kFlagWide : 0));
  std::uint8_t b[kPageHeaderSize] = {};
  put16(b + 4, pageFlags_);
  if (std::fwrite(b, 1, kPageHeaderSize, f_) != kPageHeaderSize) return lastError(ecDeviceWrite);
  return ecOK;
}

Result Writer::write(const std::uint8_t *data, std::size_t n) {
  if (!f_) return ecNotOpen;
  errno = 0;
  std::size_t w = std::fwrite(data, 1, n, f_);
  if (w != n) return errno ? -errno : ecDeviceWrite;
  pageLen_ += std::uint32_t(n);
  return ecOK;
}

Result Writer::closePage(const std::string &stationId) {
  if (!f_ || pagePos_ < 0) return ecOK;
  ++pages_;
  Result r = writeHeader(stationId);
  if (r < 0) return r;
  std::uint8_t b[kPageHeaderSize] = {};
  put32(b, pageLen_);
  put16(b + 4, pageFlags_);
  errno = 0;
  if (std::fseek(f_, pagePos_, SEEK_SET) != 0) return lastError(ecSeekError);
  if (std::fwrite(b, 1, kPageHeaderSize, f_) != kPageHeaderSize) return lastError(ecDeviceWrite);
  if (std::fseek(f_, 0, SEEK_END) != 0) return lastError(ecSeekError);
  pagePos_ = -1;
  return std::fflush(f_) == 0 ? ecOK : lastError(ecDeviceWrite);
}

Result Writer::close() {
  if (!f_) return ecOK;
  int rc = std::fclose(f_);
  f_ = nullptr;
  pagePos_ = -1;
  return rc == 0 ? ecOK : ecDeviceWrite;
}

}  // namespace kv::apf
