#pragma once
// One-dimensional modified Huffman coding of fax lines (ITU-T T.4, section 4.1).
//
// Bit order: coded bytes are packed least significant bit first, as fax modems expect them;
// the first bit of a code word sits in the lowest free bit of the current byte. Raster lines
// are 1 = black with the leftmost pixel in the most significant bit of the first byte.
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace kv {

// A code word as printed in T.4: `bits` low bits of `code`, first transmitted bit highest.
struct T4Code {
  std::uint16_t code;
  std::uint8_t bits;
};

// T.4 Table 2 (terminating codes, runs 0-63) and Table 3 (make-up codes, runs 64-1728 in steps
// of 64; then the extended make-up codes 1792-2560 shared by both colours).
extern const std::array<T4Code, 64> kT4WhiteTerminating;
extern const std::array<T4Code, 64> kT4BlackTerminating;
extern const std::array<T4Code, 27> kT4WhiteMakeup;  // [i] codes a run of 64 * (i + 1)
extern const std::array<T4Code, 27> kT4BlackMakeup;
extern const std::array<T4Code, 13> kT4ExtendedMakeup;  // [i] codes 1792 + 64 * i
inline constexpr T4Code kT4Eol{0x001, 12};

inline constexpr int kT4MaxRun = 2560;  // longest single make-up code
inline constexpr int kFaxMaxLinePixels = 4096;

// Line widths of a fax page in pixels and in unpacked bytes.
inline constexpr int kFaxLineNormal = 1728;
inline constexpr int kFaxLineWide = 2048;
inline constexpr int kFaxBytesNormal = kFaxLineNormal / 8;
inline constexpr int kFaxBytesWide = kFaxLineWide / 8;

// Codes lines into the record form of an APF page: each record starts byte-aligned with a
// 16-bit EOL (four fill bits, then EOL: bytes 00 80), then the runs, then zero padding so that
// the record is (bits / 8) + 2 bytes long.
class T4Encoder {
 public:
  // Room for the worst case of the widest line the format allows.
  static constexpr std::size_t kBufferSize = 8192;

  // Clears the buffer and emits the 16-bit EOL.
  void beginRecord();
  // Codes one run of the given colour: make-up codes as needed, then the terminating code.
  void putRun(std::uint32_t length, bool black);
  // Codes a whole raster line of `width` pixels (at most 4096) as runs starting with white;
  // a line starting with black gets a white run of 0 first.
  void putLine(const std::uint8_t *line, int width);
  // Pads and answers the record length; the record is then available through record().
  std::size_t endRecord();

  std::span<const std::uint8_t> record() const { return {buf_.data(), length_}; }
  // Bits emitted into the current record so far (fill, EOL and codes; no padding).
  std::size_t bitCount() const { return bits_; }

  // One call for the usual case: a full record for one raster line.
  std::span<const std::uint8_t> encodeLine(const std::uint8_t *line, int width) {
    beginRecord();
    putLine(line, width);
    endRecord();
    return record();
  }

 private:
  void putBits(std::uint32_t reversedCode, int bits);
  void flushWord();

  std::array<std::uint8_t, kBufferSize + 8> buf_{};
  std::size_t bytes_ = 0;  // whole bytes written to buf_
  std::uint64_t acc_ = 0;  // pending bits, first bit lowest
  int nbits_ = 0;
  std::size_t length_ = 0;  // record length after endRecord()
  std::size_t bits_ = 0;
};

// The record that ends every APF page: a 16-bit EOL, six 12-bit EOLs (the last line's end and
// the return-to-control signal of T.4) and one zero byte.
inline constexpr std::array<std::uint8_t, 12> kApfPageEndRecord{0x00, 0x80, 0x00, 0x08, 0x80, 0x00,
                                                                0x08, 0x80, 0x00, 0x08, 0x80, 0x00};

// Streaming decoder of a T.4 one-dimensional bit stream (least significant bit first).
//
// Rules of the APF readers: everything before the first EOL is ignored; each EOL ends the
// current line; a line is delivered only when it has pixels and its length in whole bytes is
// 216 or 256; three EOLs in a row with no run between them end the page. A run that would carry
// the line past 4096 pixels is ignored and does not change the colour. A code word that is not
// in the tables spoils the line: it is dropped and decoding resynchronises at the next EOL.
class T4Decoder {
 public:
  using LineSink = std::function<void(const std::uint8_t *line, std::size_t bytes)>;

  explicit T4Decoder(LineSink sink = {});
  void setSink(LineSink sink) { sink_ = std::move(sink); }

  // Forgets all state, ready for a new page.
  void reset();
  // Decodes further coded bytes. Answers false once the page has ended or stop() was called;
  // the remaining bytes are then not looked at.
  bool feed(const std::uint8_t *data, std::size_t size);
  // The data has ended: decodes the whole code words still buffered.
  void finish();
  // Ends decoding at the next opportunity (callable from the line sink).
  void stop() { stopped_ = true; }

  bool pageEnded() const { return ended_; }
  std::size_t linesDelivered() const { return delivered_; }
  std::size_t linesDropped() const { return dropped_; }
  std::size_t codeErrors() const { return codeErrors_; }

 private:
  void run();
  void onEol();
  void onRun(unsigned length, bool terminating);

  LineSink sink_;
  const std::uint8_t *p_ = nullptr;
  const std::uint8_t *end_ = nullptr;
  std::uint64_t acc_ = 0;
  int nbits_ = 0;
  bool black_ = false;
  bool seenEol_ = false;
  bool badLine_ = false;
  bool inZeros_ = false;  // inside a string of 12 or more zero bits (fill before an EOL)
  bool ended_ = false;
  bool stopped_ = false;
  int eolRun_ = 0;
  unsigned pos_ = 0;  // pixels of the current line
  std::size_t delivered_ = 0, dropped_ = 0, codeErrors_ = 0;
  std::array<std::uint8_t, kFaxMaxLinePixels / 8 + 8> line_{};
};

}  // namespace kv
