#pragma once
// One monochrome PCX image: the page form of PCX files and of each page of a DCX file.
#include <cstdint>
#include <string>
#include <vector>

#include "faximage/converter_source.h"

namespace kv {

class PcxPage {
 public:
  PcxPage(ByteInput &in, int maxWidth) : in_(in), maxWidth_(maxWidth) {}

  // Reads the 128-byte header at `start`; the image data runs from start + 128 to `end`.
  Result open(std::uint64_t start, std::uint64_t end);
  // One line; `done` is set instead when the page has no more lines. Image data that ends
  // before the header's last line is refused (ecBadGraphicsFormat), with problem() saying where.
  Result readLine(std::uint8_t *line, std::size_t lineBytes, bool &done);
  const std::string &problem() const { return problem_; }

  int width() const { return width_; }
  std::uint64_t bytesRead() const { return consumed_; }
  std::uint64_t bytesTotal() const { return dataEnd_ - dataStart_; }

 private:
  int nextByte();

  ByteInput &in_;
  int maxWidth_;
  int width_ = 0;
  int height_ = 0;
  int bytesPerLine_ = 0;
  int lines_ = 0;
  bool zeroIsWhite_ = false;
  std::uint64_t dataStart_ = 0, dataEnd_ = 0, consumed_ = 0;
  int runLeft_ = 0;  // a run may carry on into the next line
  std::uint8_t runByte_ = 0;
  std::vector<std::uint8_t> buf_;
  std::string problem_;
};

}  // namespace kv
