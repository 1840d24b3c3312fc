#include "fax/apf_io.h"

#include <unistd.h>

#include <cerrno>

#include "fax/fax_text.h"

namespace kv::apf {

Result lastError(Result fallback) {
  return errno ? -errno : fallback;
}

Result openForSending(const std::string &path, std::FILE *&f, ApfMainHeader &h) {
  errno = 0;
  f = std::fopen(path.c_str(), "rb");
  if (!f) return lastError(ecFileNotFound);
  std::uint8_t b[kApfMainHeaderSize];
  if (std::fread(b, 1, sizeof b, f) != sizeof b || ApfMainHeader::fromBytes(b, h) < 0) {
    std::fclose(f);
    f = nullptr;
    return ecFaxBadFormat;
  }
  return ecOK;
}

Result seekPage(std::FILE *f, const ApfMainHeader &h, int n, ApfPageHeader &ph) {
  if (n < 1 || n > h.pageCount) return ecReadBeyondEof;
  long pos = long(h.firstPageOffset);
  for (int i = 1; i <= n; ++i) {
    if (std::fseek(f, pos, SEEK_SET) != 0) return lastError(ecSeekError);
    std::uint8_t b[kApfPageHeaderSize];
    if (std::fread(b, 1, sizeof b, f) != sizeof b) return ecReadBeyondEof;
    ph = ApfPageHeader::fromBytes(b);
    pos += long(kApfPageHeaderSize) + long(ph.imageLength);
  }
  return ecOK;
}

Writer::~Writer() {
  close();
}

Result Writer::writeHeader(const std::string &stationId) {
  ApfMainHeader h;
  h.faxDateTime = packDosDateTime(localNow());
  h.senderId = stationId.substr(0, kApfMaxSenderId);
  h.pageCount = std::uint16_t(pages_);
  h.firstPageOffset = kApfMainHeaderSize;
  const auto b = h.toBytes();
  errno = 0;
  if (std::fseek(f_, 0, SEEK_SET) != 0) return lastError(ecSeekError);
  if (std::fwrite(b.data(), 1, b.size(), f_) != b.size()) return lastError(ecDeviceWrite);
  return ecOK;
}

Result Writer::writePageHeader() {
  const auto b = page_.toBytes();
  if (std::fwrite(b.data(), 1, b.size(), f_) != b.size()) return lastError(ecDeviceWrite);
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

Result Writer::beginPage(bool fine, bool wide, bool records) {
  if (!f_) return ecNotOpen;
  errno = 0;
  if (std::fseek(f_, 0, SEEK_END) != 0) return lastError(ecSeekError);
  pagePos_ = std::ftell(f_);
  // Received MH data is stored as the modem's bit stream; MR pages are re-coded to records.
  page_.imageLength = 0;
  page_.imageFlags = std::uint16_t((fine ? apfHighResolution : 0) | (wide ? apfWide : 0) |
                                   (records ? apfLineRecords : 0));
  return writePageHeader();
}

Result Writer::write(const std::uint8_t *data, std::size_t n) {
  if (!f_) return ecNotOpen;
  errno = 0;
  std::size_t w = std::fwrite(data, 1, n, f_);
  if (w != n) return errno ? -errno : ecDeviceWrite;
  page_.imageLength += std::uint32_t(n);
  return ecOK;
}

Result Writer::closePage(const std::string &stationId) {
  if (!f_ || pagePos_ < 0) return ecOK;
  ++pages_;
  Result r = writeHeader(stationId);
  if (r < 0) return r;
  errno = 0;
  if (std::fseek(f_, pagePos_, SEEK_SET) != 0) return lastError(ecSeekError);
  r = writePageHeader();
  if (r < 0) return r;
  if (std::fseek(f_, 0, SEEK_END) != 0) return lastError(ecSeekError);
  pagePos_ = -1;
  return std::fflush(f_) == 0 ? ecOK : lastError(ecDeviceWrite);
}

Result Writer::dropPage() {
  if (!f_ || pagePos_ < 0) return ecOK;
  errno = 0;
  if (std::fflush(f_) != 0) return lastError(ecDeviceWrite);
  if (::ftruncate(::fileno(f_), pagePos_) != 0) return lastError(ecDeviceWrite);
  if (std::fseek(f_, 0, SEEK_END) != 0) return lastError(ecSeekError);
  pagePos_ = -1;
  return ecOK;
}

Result Writer::close() {
  if (!f_) return ecOK;
  int rc = std::fclose(f_);
  f_ = nullptr;
  pagePos_ = -1;
  return rc == 0 ? ecOK : ecDeviceWrite;
}

}  // namespace kv::apf
