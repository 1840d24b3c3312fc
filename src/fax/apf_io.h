#pragma once
// The APF file work a fax session does while it runs: reading the main header and walking the
// page headers of a file being sent (its data is then streamed a block at a time), and
// building a received file page by page. The header layouts themselves are faximage's.
#include <cstdint>
#include <cstdio>
#include <string>

#include "base/result_codes.h"
#include "faximage/apf_file.h"

namespace kv::apf {

// Negated errno of the last failing call, or fallback when errno is 0.
Result lastError(Result fallback = ecDeviceRead);

// Opens a file for reading and reads its main header. Result: 0, -8001 for a file that is not
// APF (the file is closed again), or the file system's code.
Result openForSending(const std::string &path, std::FILE *&f, ApfMainHeader &h);
// Positions at page n (1-based) and reads its header; the file is left at the page's data.
// -100 for n of 0 or above the page count.
Result seekPage(std::FILE *f, const ApfMainHeader &h, int n, ApfPageHeader &ph);

// A received file under construction. Every write goes straight to the file and is checked, so
// a failure (a full disk) is known when it happens, not at some later flush. While it is open the
// file holds an exclusive lock: a program starting receive mode leaves such a file alone.
class Writer {
 public:
  ~Writer();
  // Creates the file as a new one (ecFileExists when the name is taken; with `replace` an
  // existing file is truncated instead), locks it and writes the main header with the sender's
  // id.
  Result create(const std::string &path, const std::string &stationId, bool replace = false);
  bool isOpen() const { return fd_ >= 0; }
  // Writes a page header at the end of the file and remembers its position. `records`: the
  // page's data will be line records rather than the modem's bit stream.
  Result beginPage(bool fine, bool wide, bool records = false);
  // Appends page data.
  Result write(const std::uint8_t *data, std::size_t n);
  // Page count + 1, main header rewritten (id and time), page header rewritten with the page's
  // length. Harmless without an open page.
  Result closePage(const std::string &stationId);
  // Forgets the open page: the file is cut back to where its page header began.
  Result dropPage();
  // Puts the file on disk and closes it: the answer says whether both worked.
  Result close();
  const std::string &path() const { return path_; }
  int pages() const { return pages_; }

 private:
  Result writeHeader(const std::string &stationId);
  Result writePageHeader();
  int fd_ = -1;
  std::string path_;
  std::uint64_t end_ = 0;   // bytes in the file
  long long pagePos_ = -1;  // where the open page's header begins
  ApfPageHeader page_;
  int pages_ = 0;
};

}  // namespace kv::apf
