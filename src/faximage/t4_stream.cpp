#include "faximage/t4_stream.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "faximage/t4_coder.h"
#include "faximage/t4_lookup.h"

namespace kv {

using namespace t4lookup;

namespace {

// Two-dimensional mode codes of T.4 Table 4, first transmitted bit lowest.
struct ModeCode {
  std::uint8_t code;  // as printed in T.4, first bit highest
  std::uint8_t bits;
};
constexpr ModeCode kPass{0b0001, 4};
constexpr ModeCode kHorizontal{0b001, 3};
// Vertical modes by a1 - b1 + 3: VL3, VL2, VL1, V0, VR1, VR2, VR3.
constexpr ModeCode kVertical[7] = {{0b0000010, 7}, {0b000010, 6}, {0b010, 3},    {0b1, 1},
                                   {0b011, 3},     {0b000011, 6}, {0b0000011, 7}};

enum : std::uint8_t { mPass = 0, mHorizontal, mV0, mInvalid = 0xFF };  // vertical: mV0 + d
struct ModeEntry {
  std::uint8_t mode;  // mPass, mHorizontal, mV0 + 3 + d for V(d), mInvalid
  std::uint8_t bits;
};
constexpr int kModeIndexBits = 7;

struct ModeTable {
  ModeEntry e[1 << kModeIndexBits];
};

const ModeTable &modeTable() {
  static const ModeTable t = [] {
    ModeTable m{};
    for (auto &x : m.e) x = {mInvalid, 0};
    auto add = [&](ModeCode c, std::uint8_t mode) {
      const std::uint32_t r = reverseBits(c.code, c.bits);
      for (std::uint32_t hi = 0; hi < (1u << (kModeIndexBits - c.bits)); ++hi)
        m.e[r | (hi << c.bits)] = {mode, c.bits};
    };
    add(kPass, mPass);
    add(kHorizontal, mHorizontal);
    for (int i = 0; i < 7; ++i) add(kVertical[i], std::uint8_t(mV0 + i));
    return m;
  }();
  return t;
}

// End marks after the changes of a row: searches for b1, b2, a1 and a2 stop there.
void addEndMarks(std::vector<int> &c, int width) {
  c.push_back(width);
  c.push_back(width);
  c.push_back(width);
}

}  // namespace

void t4RowChanges(const std::uint8_t *row, int width, std::vector<int> &out) {
  out.clear();
  if (width <= 0) return;
  const t4lookup::RowScan scan(row, width);
  bool black = false;
  for (int x = scan.nextChange(0, black); x < scan.width(); x = scan.nextChange(x, black)) {
    out.push_back(x);
    black = !black;
  }
}

// ---------------------------------------------------------------------------------------------
// Encoder

void T4StreamEncoder::begin(const T4StreamOptions &o) {
  opt_ = o;
  opt_.width = std::clamp(opt_.width, 1, kFaxMaxLinePixels);
  if (opt_.k < 1) opt_.k = 1;
  out_.clear();
  acc_ = 0;
  nbits_ = 0;
  bits_ = 0;
  rows_ = 0;
  ref_.clear();
  addEndMarks(ref_, opt_.width);
}

inline void T4StreamEncoder::put(std::uint32_t reversedCode, int bits) {
  acc_ |= std::uint64_t(reversedCode) << nbits_;
  nbits_ += bits;
  bits_ += std::uint64_t(bits);
  while (nbits_ >= 8) {
    out_.push_back(std::uint8_t(acc_));
    acc_ >>= 8;
    nbits_ -= 8;
  }
}

void T4StreamEncoder::putRun(int length, bool black) {
  const EncodeTables &t = encodeTables();
  const int c = black ? 1 : 0;
  while (length > 2623) {
    put(t.makeup[c][40].code, t.makeup[c][40].bits);
    length -= 2560;
  }
  if (length >= 64) {
    const RevCode m = t.makeup[c][length >> 6];
    put(m.code, m.bits);
  }
  const RevCode r = t.term[c][length & 63];
  put(r.code, r.bits);
}

void T4StreamEncoder::putEol(int tag) {
  // Eleven 0 bits and a 1; in MR the tag bit follows.
  if (tag < 0)
    put(0x800, 12);
  else
    put(0x800u | (std::uint32_t(tag) << 12), 13);
}

void T4StreamEncoder::alignToByte() {
  if (nbits_ > 0) put(0, 8 - nbits_);
}

void T4StreamEncoder::code1D() {
  int prev = 0;
  bool black = false;
  for (std::size_t i = 0; i + 3 < cur_.size(); ++i) {
    putRun(cur_[i] - prev, black);
    prev = cur_[i];
    black = !black;
  }
  putRun(opt_.width - prev, black);
}

void T4StreamEncoder::code2D() {
  const int width = opt_.width;
  int a0 = -1;
  int colour = 0;  // of a0: 0 white, 1 black
  std::size_t ai = 0, ri = 0;
  while (a0 < width) {
    const int a1 = cur_[ai];
    // b1: the first change on the reference row right of a0 to the colour opposite a0's.
    // Changes alternate, to black at even indices, so its index has a0's colour as parity.
    if (ri > 0) --ri;
    while (ref_[ri] <= a0 || int(ri & 1) != colour) ++ri;
    const int b1 = ref_[ri], b2 = ref_[ri + 1];
    if (b2 < a1) {
      put(reverseBits(kPass.code, kPass.bits), kPass.bits);
      a0 = b2;
    } else if (a1 - b1 >= -3 && a1 - b1 <= 3) {
      const ModeCode m = kVertical[a1 - b1 + 3];
      put(reverseBits(m.code, m.bits), m.bits);
      a0 = a1;
      colour ^= 1;
      ++ai;
    } else {
      const int a2 = cur_[ai + 1];
      put(reverseBits(kHorizontal.code, kHorizontal.bits), kHorizontal.bits);
      putRun(a1 - std::max(a0, 0), colour != 0);
      putRun(a2 - a1, colour == 0);
      a0 = a2;
      ai += 2;
    }
  }
}

void T4StreamEncoder::putRow(const std::uint8_t *row) {
  const std::uint64_t start = bits_;
  t4RowChanges(row, opt_.width, cur_);
  addEndMarks(cur_, opt_.width);
  if (opt_.coding == T4Coding::Mr) {
    const bool oneD = rows_ % opt_.k == 0;
    putEol(oneD ? 1 : 0);
    if (oneD)
      code1D();
    else
      code2D();
  } else {
    putEol(-1);
    code1D();
  }
  // Fill before the next EOL, as much as the minimum scan-line time asks.
  const std::uint64_t used = bits_ - start;
  if (used < std::uint64_t(opt_.minLineBits)) {
    std::uint64_t fill = std::uint64_t(opt_.minLineBits) - used;
    while (fill > 0) {
      const int n = int(std::min<std::uint64_t>(fill, 32));
      put(0, n);
      fill -= std::uint64_t(n);
    }
  }
  std::swap(cur_, ref_);
  ++rows_;
}

void T4StreamEncoder::end() {
  for (int i = 0; i < 6; ++i) putEol(opt_.coding == T4Coding::Mr ? 1 : -1);
  alignToByte();
}

// ---------------------------------------------------------------------------------------------
// Decoder

T4StreamDecoder::T4StreamDecoder(int width, T4Coding coding)
    : width_(std::clamp(width, 8, kFaxMaxLinePixels) & ~7), coding_(coding) {
  decodeTables();
  modeTable();
}

std::uint64_t T4StreamDecoder::peek() const {
  const std::size_t byte = pos_ >> 3;
  std::uint64_t v = 0;
  if (byte + 8 <= size_) {
    std::memcpy(&v, data_ + byte, 8);
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
  } else {
    for (std::size_t i = byte; i < size_; ++i) v |= std::uint64_t(data_[i]) << (8 * (i - byte));
  }
  return v >> (pos_ & 7);  // at least 57 valid bits
}

// Moves past the next EOL. `junk`: bits other than fill came before it. False at the end of
// the data.
bool T4StreamDecoder::findEol(bool &junk) {
  junk = false;
  int zeros = 0;
  while (pos_ < end_) {
    const std::size_t avail = std::min<std::size_t>(bitsLeft(), 56);
    const std::uint64_t v = peek() & ((std::uint64_t{1} << avail) - 1);
    if (v == 0) {
      zeros += int(avail);
      pos_ += avail;
      continue;
    }
    const int tz = std::countr_zero(v);
    zeros += tz;
    pos_ += std::size_t(tz) + 1;
    if (zeros >= 11) return true;
    junk = true;
    zeros = 0;
  }
  return false;
}

bool T4StreamDecoder::nextIsEol() const {
  // A row never starts with eleven 0 bits: that is fill and the EOL of an empty row.
  return bitsLeft() >= 11 && (peek() & 0x7FF) == 0;
}

inline void T4StreamDecoder::push(int p) {
  if (p >= width_) return;
  if (!cur_.empty() && cur_.back() == p)
    cur_.pop_back();  // two changes at one place are none
  else
    cur_.push_back(p);
}

bool T4StreamDecoder::readRun(bool black, int &run, bool &eof) {
  const DecodeTables &t = decodeTables();
  run = 0;
  for (;;) {
    const std::uint64_t v = peek();
    const DecodeEntry &e = black ? t.black[v & 0x1FFF] : t.white[v & 0xFFF];
    if (e.kind == kInvalid || e.kind == kEol || e.kind == kZeros) {
      eof =
          bitsLeft() < std::size_t(black ? kBlackIndexBits : kWhiteIndexBits) && e.kind != kInvalid;
      return false;
    }
    if (e.bits > bitsLeft()) {
      eof = true;
      return false;
    }
    pos_ += e.bits;
    run += e.run;
    if (run > width_) return false;
    if (e.kind == kTerm) return true;
  }
}

T4StreamDecoder::Line T4StreamDecoder::decode1D() {
  cur_.clear();
  int pos = 0;
  bool black = false;
  while (pos < width_) {
    int run = 0;
    bool eof = false;
    if (!readRun(black, run, eof)) return eof ? Line::Eof : Line::Bad;
    pos += run;
    if (pos > width_) return Line::Bad;
    push(pos);
    black = !black;
  }
  return Line::Ok;
}

T4StreamDecoder::Line T4StreamDecoder::decode2D() {
  const ModeTable &mt = modeTable();
  cur_.clear();
  int a0 = -1, colour = 0;
  std::size_t ri = 0;
  while (a0 < width_) {
    if (ri > 0) --ri;
    while (ref_[ri] <= a0 || int(ri & 1) != colour) ++ri;
    const int b1 = ref_[ri], b2 = ref_[ri + 1];
    const ModeEntry m = mt.e[peek() & ((1u << kModeIndexBits) - 1)];
    if (m.mode == mInvalid) return bitsLeft() < kModeIndexBits ? Line::Eof : Line::Bad;
    if (m.bits > bitsLeft()) return Line::Eof;
    pos_ += m.bits;
    if (m.mode == mPass) {
      a0 = b2;
    } else if (m.mode == mHorizontal) {
      int r1 = 0, r2 = 0;
      bool eof = false;
      if (!readRun(colour != 0, r1, eof)) return eof ? Line::Eof : Line::Bad;
      if (!readRun(colour == 0, r2, eof)) return eof ? Line::Eof : Line::Bad;
      const int a1 = std::max(a0, 0) + r1, a2 = a1 + r2;
      if (a2 > width_) return Line::Bad;
      push(a1);
      push(a2);
      a0 = a2;
    } else {
      const int a1 = b1 + (m.mode - mV0 - 3);
      if (a1 <= a0 || a1 < 0 || a1 > width_) return Line::Bad;
      push(a1);
      a0 = a1;
      colour ^= 1;
    }
  }
  return Line::Ok;
}

void T4StreamDecoder::render() {
  std::fill(row_.begin(), row_.end(), 0);
  for (std::size_t i = 0; i < cur_.size(); i += 2) {
    const int from = cur_[i];
    const int to = i + 1 < cur_.size() ? cur_[i + 1] : width_;
    setBlack(row_.data(), unsigned(from), unsigned(to - from));
  }
}

T4DecodeResult T4StreamDecoder::decode(const std::uint8_t *data, std::size_t size,
                                       const RowSink &sink) {
  T4DecodeResult res;
  data_ = data;
  size_ = size;
  pos_ = 0;
  end_ = size * 8;
  row_.assign(std::size_t(width_ / 8), 0);
  good_.assign(std::size_t(width_ / 8), 0);
  ref_.clear();
  addEndMarks(ref_, width_);
  const bool mr = coding_ == T4Coding::Mr;
  bool junk = false;
  bool recovering = false;  // a row went bad: MR rows are bad until a one-dimensional row
  bool pending = false;     // a decoded row waits for its EOL to prove it whole
  int emptyRows = 0;

  auto deliverBad = [&] {
    ++res.rows;
    ++res.badRows;
    if (sink) sink(good_.data());
  };
  auto settle = [&](bool whole) {
    if (!pending) return;
    pending = false;
    if (!whole) {
      deliverBad();
      recovering = mr;
      return;
    }
    render();
    good_ = row_;
    std::swap(cur_, ref_);
    addEndMarks(ref_, width_);
    ++res.rows;
    if (sink) sink(row_.data());
  };

  if (!findEol(junk)) return res;
  for (;;) {
    int tag = 1;
    if (mr) {
      if (bitsLeft() < 1) break;
      tag = int(peek() & 1);
      ++pos_;
    }
    if (nextIsEol()) {
      // RTC: several EOLs with nothing between them.
      if (++emptyRows >= 2) {
        res.pageEnded = true;
        break;
      }
      if (!findEol(junk)) break;
      continue;
    }
    emptyRows = 0;
    if (recovering && tag == 0) {
      deliverBad();
    } else {
      recovering = false;
      if (ref_.size() < 3) addEndMarks(ref_, width_);
      const Line l = tag == 1 ? decode1D() : decode2D();
      if (l == Line::Eof) {
        deliverBad();
        break;
      }
      if (l == Line::Bad) {
        deliverBad();
        recovering = mr;
      } else {
        pending = true;
      }
    }
    const bool found = findEol(junk);
    settle(!junk);
    if (!found) break;
  }
  settle(true);
  return res;
}

}  // namespace kv
