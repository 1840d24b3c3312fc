#pragma once
// The few APF file operations a fax session needs while it runs: reading the main header and
// walking page headers of a file being sent, and building a received file page by page.
// Integers are little-endian.
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

#include "comm/errors/result_codes.h"

namespace kv::apf {

constexpr int kHeaderSize = 64;
constexpr int kPageHeaderSize = 16;
constexpr std::uint16_t kFlagFine = 1;
constexpr std::uint16_t kFlagWide = 2;
constexpr std::uint16_t kFlagLengthWords = 4;

struct FileHeader {
  bool signatureOk = false;
  std::uint16_t pageCount = 0;
  std::uint32_t firstPageOffset = 64;
};

struct PageHeader {
  std::uint32_t length = 0;
  std::uint16_t flags = 0;
};

// Negated errno of the last failing call, or fallback when errno is 0.
Result lastError(Result fallback = ecDeviceRead);

// Opens a file for reading and reads its main header. Result: 0, -8001 for a file that is not
// APF (the file is closed again), or the file system's code.
Result openForSending(const std::string &path, std::FILE *&f, FileHeader &h);
// Positions at page n (1-based) and reads its header; the file is left at the page's data.
// -100 for n of 0 or above the page count.
Result seekPage(std::FILE *f, const FileHeader &h, int n, PageHeader &ph);

std::uint32_t packDosDateTime(const std::tm &t);

// A received file under construction.
class Writer {
 public:
  ~Writer();
  // Creates (replacing) the file and writes the main header with the sender's id.
  Result create(const std::string &path, const std::string &stationId);
  bool isOpen() const { return f_ != nullptr; }
  // Writes a page header at the end of the file and remembers its position.
  Result beginPage(bool fine, bool wide);
  // Appends page data; -160 for a short write.
  Result write(const std::uint8_t *data, std::size_t n);
  // Page count + 1, main header rewritten (id and time), page header rewritten with the page's
  // length. Harmless without an open page.
  Result closePage(const std::string &stationId);
  Result close();
  const std::string &path() const { return path_; }
  int pages() const { return pages_; }

 private:
  Result writeHeader(const std::string &stationId);
  std::FILE *f_ = nullptr;
  std::string path_;
  long pagePos_ = -1;
  std::uint32_t pageLen_ = 0;
  std::uint16_t pageFlags_ = 0;
  int pages_ = 0;
};

}  // namespace kv::apf
