#include "faximage/t4_coder.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <iterator>
#include "faximage/t4_lookup.h"

namespace kv {

namespace t4lookup {

std::uint16_t reverseBits(std::uint16_t code, int bits) {
  std::uint16_t r = 0;
  for (int i = 0; i < bits; ++i)
    if (code & (1u << i)) r |= static_cast<std::uint16_t>(1u << (bits - 1 - i));
  return r;
}

const EncodeTables &encodeTables() {
  static const EncodeTables t = [] {
    EncodeTables e{};
    for (int i = 0; i < 64; ++i) {
      const T4Code w = kT4WhiteTerminating[i], b = kT4BlackTerminating[i];
      e.term[0][i] = {reverseBits(w.code, w.bits), w.bits};
      e.term[1][i] = {reverseBits(b.code, b.bits), b.bits};
    }
    for (int k = 1; k <= 40; ++k) {
      const T4Code w = k <= 27 ? kT4WhiteMakeup[k - 1] : kT4ExtendedMakeup[k - 28];
      const T4Code b = k <= 27 ? kT4BlackMakeup[k - 1] : kT4ExtendedMakeup[k - 28];
      e.makeup[0][k] = {reverseBits(w.code, w.bits), w.bits};
      e.makeup[1][k] = {reverseBits(b.code, b.bits), b.bits};
    }
    return e;
  }();
  return t;
}

namespace {
void addCode(DecodeEntry *table, int indexBits, T4Code c, std::uint16_t run, std::uint8_t kind) {
  const std::uint32_t r = reverseBits(c.code, c.bits);
  for (std::uint32_t hi = 0; hi < (1u << (indexBits - c.bits)); ++hi)
    table[r | (hi << c.bits)] = {run, c.bits, kind};
}

void fillTable(DecodeEntry *table, int indexBits, const std::array<T4Code, 64> &term,
               const std::array<T4Code, 27> &makeup) {
  for (int i = 0; i < 64; ++i)
    addCode(table, indexBits, term[i], static_cast<std::uint16_t>(i), kTerm);
  for (int i = 0; i < 27; ++i)
    addCode(table, indexBits, makeup[i], static_cast<std::uint16_t>(64 * (i + 1)), kMakeup);
  for (int i = 0; i < 13; ++i)
    addCode(table, indexBits, kT4ExtendedMakeup[i], static_cast<std::uint16_t>(1792 + 64 * i),
            kMakeup);
  addCode(table, indexBits, kT4Eol, 0, kEol);
  // Twelve zero bits cannot start a code word: it is fill before an EOL (T.4 4.1.2), however
  // long. The decoder counts through it bit-wise.
  for (std::uint32_t hi = 0; hi < (1u << (indexBits - 12)); ++hi) table[hi << 12] = {0, 12, kZeros};
}
}  // namespace

const DecodeTables &decodeTables() {
  static const DecodeTables *t = [] {
    auto *d = new DecodeTables{};
    std::fill(std::begin(d->white), std::end(d->white), DecodeEntry{0, 0, kInvalid});
    std::fill(std::begin(d->black), std::end(d->black), DecodeEntry{0, 0, kInvalid});
    fillTable(d->white, kWhiteIndexBits, kT4WhiteTerminating, kT4WhiteMakeup);
    fillTable(d->black, kBlackIndexBits, kT4BlackTerminating, kT4BlackMakeup);
    return d;
  }();
  return *t;
}

}  // namespace t4lookup

namespace {
using namespace t4lookup;

inline std::uint64_t loadLe64(const std::uint8_t *p) {
  std::uint64_t v;
  std::memcpy(&v, p, 8);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
  return v;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Encoder

void T4Encoder::beginRecord() {
  bytes_ = 0;
  acc_ = 0;
  nbits_ = 0;
  length_ = 0;
  bits_ = 0;
  // Four fill bits and the EOL: fifteen 0 bits, then a 1.
  putBits(0x8000, 16);
}

inline void T4Encoder::flushWord() {
  // Keeps at most 31 pending bits; the buffer has slack for one word past kBufferSize.
  if (nbits_ >= 32) {
    if (bytes_ + 4 <= kBufferSize + 4) {
      const std::uint32_t w = static_cast<std::uint32_t>(acc_);
      buf_[bytes_] = static_cast<std::uint8_t>(w);
      buf_[bytes_ + 1] = static_cast<std::uint8_t>(w >> 8);
      buf_[bytes_ + 2] = static_cast<std::uint8_t>(w >> 16);
      buf_[bytes_ + 3] = static_cast<std::uint8_t>(w >> 24);
      bytes_ += 4;
    }
    acc_ >>= 32;
    nbits_ -= 32;
  }
}

inline void T4Encoder::putBits(std::uint32_t reversedCode, int bits) {
  acc_ |= static_cast<std::uint64_t>(reversedCode) << nbits_;
  nbits_ += bits;
  bits_ += static_cast<std::size_t>(bits);
  flushWord();
}

void T4Encoder::putRun(std::uint32_t length, bool black) {
  const EncodeTables &t = encodeTables();
  const int c = black ? 1 : 0;
  // T.4 4.1.1: runs longer than 2560 repeat the 2560 make-up code.
  while (length > 2623) {
    putBits(t.makeup[c][40].code, t.makeup[c][40].bits);
    length -= 2560;
  }
  if (length >= 64) {
    const RevCode m = t.makeup[c][length >> 6];
    putBits(m.code, m.bits);
  }
  const RevCode r = t.term[c][length & 63];
  putBits(r.code, r.bits);
}

void T4Encoder::putLine(const std::uint8_t *line, int width) {
  if (width <= 0) return;
  const RowScan scan(line, width);
  int x = 0;
  bool black = false;
  while (x < scan.width()) {
    const int y = std::min(scan.nextChange(x, black), scan.width());
    putRun(static_cast<std::uint32_t>(y - x), black);
    x = y;
    black = !black;
  }
}

std::size_t T4Encoder::endRecord() {
  // Pending whole and partial bytes, then the zero byte(s) that close the record.
  length_ = bits_ / 8 + 2;
  if (length_ > kBufferSize) length_ = kBufferSize;
  while (nbits_ > 0 && bytes_ < buf_.size()) {
    buf_[bytes_++] = static_cast<std::uint8_t>(acc_);
    acc_ >>= 8;
    nbits_ = nbits_ > 8 ? nbits_ - 8 : 0;
  }
  acc_ = 0;
  nbits_ = 0;
  while (bytes_ < length_) buf_[bytes_++] = 0;
  return length_;
}

// ---------------------------------------------------------------------------------------------
// Decoder

T4Decoder::T4Decoder(LineSink sink) : sink_(std::move(sink)) {
  decodeTables();
  reset();
}

void T4Decoder::reset() {
  acc_ = 0;
  nbits_ = 0;
  black_ = false;
  seenEol_ = false;
  badLine_ = false;
  inZeros_ = false;
  ended_ = false;
  stopped_ = false;
  eolRun_ = 0;
  pos_ = 0;
  delivered_ = dropped_ = codeErrors_ = 0;
  line_.fill(0);
}

bool T4Decoder::feed(const std::uint8_t *data, std::size_t size) {
  if (ended_ || stopped_) return false;
  p_ = data;
  end_ = data + size;
  run();
  p_ = end_ = nullptr;
  return !(ended_ || stopped_);
}

void T4Decoder::finish() {
  if (ended_ || stopped_) return;
  p_ = end_ = nullptr;
  run();
}

void T4Decoder::onEol() {
  if (seenEol_) {
    if (!badLine_ && pos_ > 0) {
      const std::size_t bytes = pos_ >> 3;
      if (bytes == kFaxBytesNormal || bytes == kFaxBytesWide) {
        ++delivered_;
        if (sink_) sink_(line_.data(), bytes);
      } else {
        ++dropped_;
      }
    } else if (badLine_) {
      ++dropped_;
    }
  }
  std::memset(line_.data(), 0, (pos_ + 7) >> 3);
  pos_ = 0;
  black_ = false;
  badLine_ = false;
  seenEol_ = true;
  if (++eolRun_ >= 3) ended_ = true;
}

inline void T4Decoder::onRun(unsigned length, bool terminating) {
  eolRun_ = 0;
  if (seenEol_ && !badLine_) {
    if (pos_ + length > static_cast<unsigned>(kFaxMaxLinePixels)) return;
    if (black_) setBlack(line_.data(), pos_, length);
    pos_ += length;
  }
  if (terminating) black_ = !black_;
}

void T4Decoder::run() {
  const DecodeTables &t = decodeTables();
  for (;;) {
    if (ended_ || stopped_) return;
    // Refill: whole 8-byte loads while the input lasts, byte-wise near its end.
    if (nbits_ <= 56 && p_ != end_) {
      if (end_ - p_ >= 8) {
        acc_ |= loadLe64(p_) << nbits_;
        const int take = (63 - nbits_) >> 3;
        p_ += take;
        nbits_ += take * 8;
      } else {
        while (nbits_ <= 56 && p_ != end_) {
          acc_ |= static_cast<std::uint64_t>(*p_++) << nbits_;
          nbits_ += 8;
        }
      }
    }
    if (nbits_ == 0) return;

    if (inZeros_) {
      const std::uint64_t avail = nbits_ >= 64 ? acc_ : (acc_ & ((std::uint64_t{1} << nbits_) - 1));
      if (avail == 0) {
        acc_ = 0;
        nbits_ = 0;
        if (p_ == end_) return;
        continue;
      }
      const int tz = std::countr_zero(avail);
      acc_ = tz >= 63 ? 0 : acc_ >> (tz + 1);
      nbits_ -= tz + 1;
      inZeros_ = false;
      onEol();
      continue;
    }

    if (badLine_ || !seenEol_) {
      // Hunting for an EOL (eleven 0 bits and a 1, or a longer string of zeros). Before the
      // first EOL nothing is drawn, and a spoilt line is skipped the same way.
      if (nbits_ < 12) {
        if (p_ == end_) return;
        continue;
      }
      const std::uint32_t low = static_cast<std::uint32_t>(acc_ & 0xFFF);
      if (low == 0x800) {
        acc_ >>= 12;
        nbits_ -= 12;
        onEol();
        continue;
      }
      if (low == 0) {
        inZeros_ = true;
        continue;
      }
      // A 1 among the first eleven bits rules out an EOL starting at or before it.
      const int skip = std::countr_zero(low) + 1;
      acc_ >>= skip;
      nbits_ -= skip;
      continue;
    }

    {
      // Fast path: run codes inside a line, with the state in locals. Anything else (EOL,
      // fill, a bad code, too few bits) falls through to the careful step below.
      std::uint64_t acc = acc_;
      int nbits = nbits_;
      const std::uint8_t *p = p_;
      unsigned pos = pos_;
      bool black = black_, sawRun = false;
      std::uint8_t *line = line_.data();
      for (;;) {
        if (nbits < kBlackIndexBits) {
          if (end_ - p >= 8) {
            acc |= loadLe64(p) << nbits;
            const int take = (63 - nbits) >> 3;
            p += take;
            nbits += take * 8;
          } else {
            break;
          }
        }
        const DecodeEntry e = black ? t.black[acc & 0x1FFF] : t.white[acc & 0xFFF];
        if (e.kind > kMakeup) break;
        acc >>= e.bits;
        nbits -= e.bits;
        sawRun = true;
        if (pos + e.run > static_cast<unsigned>(kFaxMaxLinePixels)) continue;
        if (black) setBlack(line, pos, e.run);
        pos += e.run;
        if (e.kind == kTerm) black = !black;
      }
      acc_ = acc;
      nbits_ = nbits;
      p_ = p;
      pos_ = pos;
      black_ = black;
      if (sawRun) eolRun_ = 0;
    }

    const DecodeEntry &e = black_ ? t.black[acc_ & 0x1FFF] : t.white[acc_ & 0xFFF];
    const int indexBits = black_ ? kBlackIndexBits : kWhiteIndexBits;
    if (e.kind == kInvalid || e.bits > nbits_) {
      if (nbits_ < indexBits || e.bits > nbits_) {
        // Not enough bits to tell: wait for more data, or stop at the end of the data.
        if (p_ == end_) return;
        continue;
      }
      ++codeErrors_;
      badLine_ = true;
      continue;
    }
    switch (e.kind) {
      case kTerm:
      case kMakeup:
        acc_ >>= e.bits;
        nbits_ -= e.bits;
        onRun(e.run, e.kind == kTerm);
        break;
      case kEol:
        acc_ >>= 12;
        nbits_ -= 12;
        onEol();
        break;
      case kZeros:
        inZeros_ = true;
        break;
    }
  }
}

}  // namespace kv
