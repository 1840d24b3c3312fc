#pragma once
// Where the pages of an outgoing fax come from: the fax's APF file and its cover (an APF file
// or a text file). One page is selected at a time and its data read a block at a time.
#include <cstdint>
#include <cstdio>
#include <string>

#include "fax/apf_io.h"

namespace kv {

class PageSource {
 public:
  PageSource() = default;
  ~PageSource() { close(); }
  PageSource(const PageSource &) = delete;
  PageSource &operator=(const PageSource &) = delete;

  Result openFax(const std::string &path);
  // An APF cover is checked down to its first page header; a text cover is only opened.
  Result openCover(const std::string &path, bool apf);
  bool hasFax() const { return fax_ != nullptr; }
  bool hasCover() const { return cover_ != nullptr; }
  int faxPages() const { return faxHeader_.pageCount; }
  int coverPages() const { return coverHeader_.pageCount; }

  // Selects page n (1-based) of the cover or the fax, reads its header and leaves the file at
  // its data.
  Result selectPage(bool cover, int n, ApfPageHeader &ph);
  // Page data of the selected page: at most `want` bytes of a page stored as one stream.
  Result readStream(std::uint8_t *buf, std::size_t want, std::size_t &got);
  // One line record of a page stored as length-prefixed lines: its first bytes (at most `cap`,
  // and never past `remaining` bytes of the page) go to buf; *consumed is what it took of the
  // page, length word included.
  Result readLineRecord(long remaining, std::uint8_t *buf, std::size_t cap, std::size_t &got,
                        long &consumed);
  // Next line of a text cover without its line end; false at its end (err set on a read error).
  bool readCoverLine(std::string &line, Result &err);
  // A text cover is read again from its start when its page is sent again.
  void rewindCover();
  void closeCover();
  void close();

 private:
  std::FILE *fax_ = nullptr;
  std::FILE *cover_ = nullptr;
  std::FILE *current_ = nullptr;
  ApfMainHeader faxHeader_;
  ApfMainHeader coverHeader_;
};

}  // namespace kv
