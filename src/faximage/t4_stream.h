#pragma once
// A page of fax lines as the continuous T.4 bit stream that goes down the phone line, in the
// one-dimensional (MH) or two-dimensional (MR, T.4 4.2) coding, and back.
//
// On the line every row is an EOL (in MR followed by a tag bit: 1 = the row is coded in one
// dimension, 0 = in two), its codes, and fill zeros only where the row would otherwise take
// less than the receiver's minimum scan-line time; rows follow each other bit-tight, without
// the byte alignment and length words of the stored line records. RTC ends the page. Bits are
// packed least significant first; rows are 1 = black, leftmost pixel in the top bit.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace kv {

enum class T4Coding : std::uint8_t { Mh = 0, Mr = 1 };

// T.4 4.2.1: at most K - 1 two-dimensional rows follow a one-dimensional one; K is 2 at
// normal and 4 at fine resolution.
inline int t4KFactor(bool fine) {
  return fine ? 4 : 2;
}

struct T4StreamOptions {
  T4Coding coding = T4Coding::Mh;
  int k = 2;            // MR only
  int width = 1728;     // pixels per row, at most 4096
  int minLineBits = 0;  // least bits per coded row, EOL and tag included
};

// Positions where the colour changes along a row (the first change is to black), ascending.
// `out` is cleared first; rows are `width` pixels.
void t4RowChanges(const std::uint8_t *row, int width, std::vector<int> &out);

class T4StreamEncoder {
 public:
  // Starts a page; the reference row of the first two-dimensional row is all white.
  void begin(const T4StreamOptions &o);
  void putRow(const std::uint8_t *row);
  // Fill to the next byte boundary. Fill may only stand before an EOL, so this is for
  // between rows only.
  void alignToByte();
  // RTC (six EOLs, each with tag 1 in MR), then fill to a byte boundary.
  void end();

  // Whole bytes coded so far and not yet taken; the bits of a started byte stay behind.
  const std::vector<std::uint8_t> &bytes() const { return out_; }
  void clearBytes() { out_.clear(); }
  std::uint64_t bitCount() const { return bits_; }
  int rows() const { return rows_; }
  const T4StreamOptions &options() const { return opt_; }

 private:
  void put(std::uint32_t reversedCode, int bits);
  void putRun(int length, bool black);
  void putEol(int tag);
  void code1D();
  void code2D();

  T4StreamOptions opt_;
  std::vector<std::uint8_t> out_;
  std::uint64_t acc_ = 0;
  int nbits_ = 0;
  std::uint64_t bits_ = 0;
  int rows_ = 0;
  std::vector<int> cur_, ref_;  // changes of the row and of its reference, with end marks
};

// What decoding a page gave.
struct T4DecodeResult {
  std::size_t rows = 0;     // rows delivered, bad ones included
  std::size_t badRows = 0;  // rows that could not be decoded and were replaced
  bool pageEnded = false;   // RTC was seen
};

// Decodes one page's stream. Everything before the first EOL is ignored; the page ends at RTC
// or at the end of the data. A row that cannot be decoded (a code that does not exist, a row
// too short or too long, anything but fill before the next EOL) is delivered as a copy of the
// last good row (white before the first) and counted; in MR the rows after it are coded
// against it, so they are replaced too until the next one-dimensional row (T.4 4.2.3).
class T4StreamDecoder {
 public:
  using RowSink = std::function<void(const std::uint8_t *row)>;  // width / 8 bytes

  T4StreamDecoder(int width, T4Coding coding);
  T4DecodeResult decode(const std::uint8_t *data, std::size_t size, const RowSink &sink);

 private:
  enum class Line { Ok, Bad, Eof };
  std::uint64_t peek() const;
  std::size_t bitsLeft() const { return end_ - pos_; }
  bool findEol(bool &junk);
  bool nextIsEol() const;
  Line decode1D();
  Line decode2D();
  bool readRun(bool black, int &run, bool &eof);
  void push(int p);
  void render();

  int width_;
  T4Coding coding_;
  const std::uint8_t *data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t pos_ = 0, end_ = 0;  // in bits
  std::vector<int> cur_, ref_;
  std::vector<std::uint8_t> row_, good_;
};

}  // namespace kv
