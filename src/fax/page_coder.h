#pragma once
// The bytes of one outgoing page as they go to the modem: the blank rows and header line the
// session adds, then the rows of a text cover or of an APF page, re-coded as one T.4 stream
// (MH or MR) with the rows bit-tight and only the fill the receiver's minimum scan-line time
// asks for. Stored pages keep their line records; this is where they become line data.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "faximage/t4_coder.h"
#include "faximage/t4_stream.h"

namespace kv {

class PageCoder {
 public:
  PageCoder();
  // Starts a page; `o.width` is the page's row width.
  void begin(const T4StreamOptions &o);
  void blankRows(int n);
  // Rendered rows, each at most a row wide (shorter ones are white to the right).
  void rows(const std::vector<std::vector<std::uint8_t>> &rows);
  // Coded data of an APF page: one line record, or a piece of a page stored as one stream.
  void apfData(const std::uint8_t *data, std::size_t n);
  // RTC. No more rows after this.
  void end();

  // Whole coded bytes not yet taken (DLE not doubled); clearBytes() once they are written.
  const std::vector<std::uint8_t> &bytes() const { return enc_.bytes(); }
  void clearBytes() { enc_.clearBytes(); }
  int rowsCoded() const { return enc_.rows(); }
  T4Coding coding() const { return enc_.options().coding; }

 private:
  void putRow(const std::uint8_t *row, std::size_t bytes);

  T4StreamEncoder enc_;
  T4Decoder dec_;
  std::vector<std::uint8_t> row_;
};

}  // namespace kv
