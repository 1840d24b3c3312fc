#include "fax/page_source.h"

#include <algorithm>
#include <cerrno>

#include "fax/fax_defs.h"

namespace kv {

Result PageSource::openFax(const std::string &path) {
  if (fax_) std::fclose(fax_);
  fax_ = nullptr;
  return apf::openForSending(path, fax_, faxHeader_);
}

Result PageSource::openCover(const std::string &path, bool apf) {
  closeCover();
  if (apf) {
    Result r = apf::openForSending(path, cover_, coverHeader_);
    if (r < 0) return r;
    ApfPageHeader ph;
    return apf::seekPage(cover_, coverHeader_, 1, ph);
  }
  coverHeader_ = ApfMainHeader();
  errno = 0;
  cover_ = std::fopen(path.c_str(), "rb");
  return cover_ ? ecOK : apf::lastError(ecFileNotFound);
}

Result PageSource::selectPage(bool cover, int n, ApfPageHeader &ph) {
  current_ = cover ? cover_ : fax_;
  return apf::seekPage(current_, cover ? coverHeader_ : faxHeader_, n, ph);
}

Result PageSource::readStream(std::uint8_t *buf, std::size_t want, std::size_t &got) {
  got = current_ ? std::fread(buf, 1, want, current_) : 0;
  return got == 0 && want > 0 ? ecReadBeyondEof : ecOK;
}

Result PageSource::readLineRecord(long remaining, std::uint8_t *buf, std::size_t cap,
                                  std::size_t &got, long &consumed) {
  got = 0;
  consumed = 0;
  std::uint8_t lw[2];
  if (!current_ || std::fread(lw, 1, 2, current_) != 2) return ecReadBeyondEof;
  std::size_t len = std::size_t(lw[0] | lw[1] << 8);
  len = std::min<std::size_t>(len, std::size_t(std::max(0L, remaining - 2)));
  std::size_t take = std::min(len, cap);
  got = std::fread(buf, 1, take, current_);
  if (got != take) return ecReadBeyondEof;
  if (len > take) std::fseek(current_, long(len - take), SEEK_CUR);
  consumed = long(2 + len);
  return ecOK;
}

bool PageSource::readCoverLine(std::string &line, Result &err) {
  err = ecOK;
  char buf[kPassStringMax + 2];
  if (!cover_ || !std::fgets(buf, sizeof buf, cover_)) {
    if (cover_ && std::ferror(cover_)) err = apf::lastError(ecDeviceRead);
    return false;
  }
  line = buf;
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  return true;
}

void PageSource::rewindCover() {
  if (cover_) std::rewind(cover_);
}

void PageSource::closeCover() {
  if (current_ == cover_) current_ = nullptr;
  if (cover_) std::fclose(cover_);
  cover_ = nullptr;
}

void PageSource::close() {
  closeCover();
  if (fax_) std::fclose(fax_);
  fax_ = current_ = nullptr;
}

}  // namespace kv
