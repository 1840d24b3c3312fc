#pragma once
// What the fax converter reads from: a byte input (a file, or memory for the fuzzers) and a
// line source that turns one kind of document into raster lines, page after page.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/result_codes.h"

namespace kv {

// Random-access bytes. read() answers the number of bytes read (short only at the end) or a
// negative result code.
class ByteInput {
 public:
  virtual ~ByteInput() = default;
  virtual Result read(void *buf, std::size_t n) = 0;
  virtual Result seek(std::uint64_t pos) = 0;
  virtual std::uint64_t position() const = 0;
  virtual std::uint64_t size() const = 0;

  // Reads exactly n bytes; a short read is the input being cut off: ecBadGraphicsFormat, and
  // cutOff() answers true from then on.
  Result readExact(void *buf, std::size_t n);
  // Reads one byte; answers it (0..255), -1 at the end, or a negative code below -1.
  int getByte();
  bool cutOff() const { return cutOff_; }

 protected:
  bool cutOff_ = false;
};

// A file read through a 4096-byte buffer. Pipes, FIFOs and devices cannot be read at will, so
// their bytes are first copied into an unnamed temporary file (up to kMaxStreamBytes).
class FileInput final : public ByteInput {
 public:
  static constexpr std::uint64_t kMaxStreamBytes = std::uint64_t{64} << 20;

  ~FileInput() override;
  // Answers ecOK or the file error code of the failure (fileErrorCode); problem() then says
  // more where it can.
  Result open(const std::string &path);
  void close();
  Result read(void *buf, std::size_t n) override;
  Result seek(std::uint64_t pos) override;
  std::uint64_t position() const override { return pos_; }
  std::uint64_t size() const override { return size_; }
  const std::string &problem() const { return problem_; }

 private:
  Result copyStream(int from);

  int fd_ = -1;
  std::string problem_;
  std::uint64_t size_ = 0;
  std::uint64_t pos_ = 0;       // logical position
  std::uint64_t bufStart_ = 0;  // file offset of buf_[0]
  std::size_t bufLen_ = 0;
  std::uint8_t buf_[4096];
};

// Bytes held by the caller (not copied).
class MemoryInput final : public ByteInput {
 public:
  MemoryInput(const std::uint8_t *data, std::size_t size) : data_(data), size_(size) {}
  Result read(void *buf, std::size_t n) override;
  Result seek(std::uint64_t pos) override;
  std::uint64_t position() const override { return pos_; }
  std::uint64_t size() const override { return size_; }

 private:
  const std::uint8_t *data_;
  std::size_t size_;
  std::uint64_t pos_ = 0;
};

// One kind of document as raster lines: MSB-first, 1 = black, into a line the caller has
// cleared. A call that ends a page delivers no line.
class LineSource {
 public:
  virtual ~LineSource() = default;
  // Checks the document's form; afterwards imageWidth() is known.
  virtual Result open() = 0;
  virtual Result readLine(std::uint8_t *line, std::size_t lineBytes, bool &endOfPage,
                          bool &morePages) = 0;
  virtual void close() {}
  // Width in pixels of an image input, 0 for text and caller-supplied lines: the converter's
  // doubling, halving and centring apply to images only.
  virtual int imageWidth() const { return 0; }
  virtual std::uint64_t bytesRead() const = 0;
  virtual std::uint64_t bytesTotal() const = 0;
  // Why open() or readLine() refused the document, when there is more to say than the code.
  const std::string &problem() const { return problem_; }

 protected:
  Result refuse(std::string why) {
    problem_ = std::move(why);
    return ecBadGraphicsFormat;
  }

 private:
  std::string problem_;
};

// Readers of the image kinds, over an input the caller keeps alive. `maxWidth` is the page
// line width: wider images are refused (ecBadGraphicsFormat) rather than cut.
std::unique_ptr<LineSource> makeBmpReader(ByteInput &in, int maxWidth);
std::unique_ptr<LineSource> makeTiffReader(ByteInput &in, int maxWidth);
std::unique_ptr<LineSource> makePcxReader(ByteInput &in, int maxWidth);
std::unique_ptr<LineSource> makeDcxReader(ByteInput &in, int maxWidth);

}  // namespace kv
