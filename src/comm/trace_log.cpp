#include "comm/trace_log.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <new>

#include "base/byte_order.h"
#include "comm/ticks.h"

namespace kv {

namespace {

const char *const kTypeNames[] = {"no event", "dispatch", "trigger", "error", "thread"};
const char *const kSubtypeNames[] = {"",      "readcom", "writecom", "line status", "modem status",
                                     "avail", "timer",   "data",     "status",      "start",
                                     "exit",  "sleep",   "wake",     "state"};
const char *const kModemBitNames[] = {"DCTS ", "DDSR ", "TERI ", "DDCD ",
                                      "CTS ",  "DSR ",  "RI ",   "DCD "};

// File errors as the program's I/O error numbers, negated.
Result fileError(int err) {
  switch (err) {
    case ENOENT:
    case ENOTDIR:
      return ecPathNotFound;
    case EMFILE:
    case ENFILE:
      return ecTooManyFiles;
    case ENOSPC:
    case EDQUOT:
      return ecDiskFull;
    case EROFS:
      return ecWriteProtected;
    case ENOMEM:
      return ecOutOfMemory;
    case EIO:
      return ecDeviceWrite;
    default:
      return ecAccessDenied;
  }
}

FILE *openOut(const std::string &file, bool append, Result &err) {
  FILE *f = std::fopen(file.c_str(), append ? "ab" : "wb");
  if (!f) err = fileError(errno);
  return f;
}

Result closeOut(FILE *f) {
  bool bad = std::ferror(f) != 0;
  int e = errno;
  if (std::fclose(f) != 0) {
    bad = true;
    e = errno;
  }
  return bad ? fileError(e) : ecOK;
}

}  // namespace

int FormatTraceByte(std::string &out, std::uint8_t b, bool hex) {
  std::uint8_t lowest = hex ? 0x21 : 0x20;
  if (b >= lowest && b <= 0x7E) {
    out.push_back(char(b));
    return 1;
  }
  char buf[8];
  int n =
      hex ? std::snprintf(buf, sizeof buf, "[%02X]", b) : std::snprintf(buf, sizeof buf, "[%u]", b);
  out.append(buf, std::size_t(n));
  return n;
}

// ---- Trace ------------------------------------------------------------------------------------

Result TraceRing::start(std::uint16_t size) {
  if (size > kMaxTraceSize) size = kMaxTraceSize;
  if (size == 0) size = 1;
  if (entries_.size() != std::size_t(size) * 2) {
    try {
      entries_.assign(std::size_t(size) * 2, 0);
    } catch (const std::bad_alloc &) {
      free();
      return ecOutOfMemory;
    }
  }
  clear();
  on_ = true;
  return ecOK;
}

void TraceRing::clear() {
  pos_ = 0;
  wrapped_ = false;
}

void TraceRing::free() {
  std::vector<std::uint8_t>().swap(entries_);
  clear();
  on_ = false;
}

void TraceRing::add(char letter, std::uint8_t byte) {
  if (!on_ || entries_.empty()) return;
  entries_[pos_ * 2] = std::uint8_t(letter);
  entries_[pos_ * 2 + 1] = byte;
  if (++pos_ * 2 >= entries_.size()) {
    pos_ = 0;
    wrapped_ = true;
  }
}

Result TraceRing::dump(const std::string &file, bool append, bool hex) {
  on_ = false;
  if (empty()) {
    free();
    return ecOK;
  }
  Result err = ecOK;
  FILE *f = openOut(file, append, err);
  if (!f) {
    free();
    return err;
  }
  const std::size_t size = entries_.size() / 2;
  const std::size_t count = wrapped_ ? size : pos_;
  std::size_t at = wrapped_ ? pos_ : 0;
  std::string out;
  out.reserve(count * 2 + 64);
  int col = 0;
  int prev = -1;
  for (std::size_t i = 0; i < count; ++i, at = (at + 1) % size) {
    char letter = char(entries_[at * 2]);
    std::uint8_t b = entries_[at * 2 + 1];
    if (int(std::uint8_t(letter)) != prev) {
      if (prev != -1) out += "\r\n\r\n";  // end the data line, then one empty line
      col = 0;
      if (letter == 'T')
        out += "Transmit: ";
      else if (letter == 'R')
        out += "Receive: ";
      else {
        out += "Special-";
        out.push_back(letter);
        out += ": ";
      }
      out += "\r\n";
      prev = std::uint8_t(letter);
    }
    std::string piece;
    int w = FormatTraceByte(piece, b, hex);
    col += w;
    if (col > 78) {
      out += "\r\n";
      col = w;
    }
    out += piece;
  }
  std::fwrite(out.data(), 1, out.size(), f);
  Result r = closeOut(f);
  free();
  return r;
}

// ---- Dispatch log -----------------------------------------------------------------------------

Result LogRing::start(std::uint16_t size, std::uint32_t timeBaseMs) {
  if (size > kMaxLogSize) size = kMaxLogSize;
  if (size == 0) size = 1;
  if (ring_.size() != size) {
    try {
      ring_.assign(size, 0);
    } catch (const std::bad_alloc &) {
      free();
      return ecOutOfMemory;
    }
  }
  clear();
  timeBase_ = timeBaseMs;
  on_ = true;
  return ecOK;
}

void LogRing::clear() {
  head_ = tail_ = 0;
  free_ = ring_.size();
}

void LogRing::free() {
  std::vector<std::uint8_t>().swap(ring_);
  head_ = tail_ = free_ = 0;
  on_ = false;
}

std::uint32_t LogRing::now() const {
  return MonotonicMs() - timeBase_;
}

void LogRing::put(const std::uint8_t *p, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    ring_[tail_] = p[i];
    tail_ = (tail_ + 1) % ring_.size();
  }
  free_ -= n;
}

void LogRing::get(std::size_t at, std::uint8_t *p, std::size_t n) const {
  for (std::size_t i = 0; i < n; ++i) p[i] = ring_[(at + i) % ring_.size()];
}

void LogRing::dropOldest() {
  std::uint8_t h[kHeaderSize];
  get(head_, h, kHeaderSize);
  std::size_t len = kHeaderSize + getLe16(h + 10);
  head_ = (head_ + len) % ring_.size();
  free_ += len;
}

void LogRing::add(std::uint8_t type, std::uint8_t subtype, std::uint32_t timeMs, std::uint16_t data,
                  const void *extra, std::uint16_t extraLen) {
  if (!on_ || ring_.empty()) return;
  if (kHeaderSize >= ring_.size()) return;
  // Extra data that cannot fit beside its header is left out and the header says so; a
  // header promising bytes that are not there would garble every later entry.
  if (!extra || kHeaderSize + extraLen >= ring_.size()) extraLen = 0;
  // type, subtype, two bytes of alignment, time, data, length of the extra data
  std::uint8_t h[kHeaderSize] = {type, subtype};
  putLe32(h + 4, timeMs);
  putLe16(h + 8, data);
  putLe16(h + 10, extraLen);
  while (free_ < kHeaderSize + extraLen) dropOldest();
  put(h, kHeaderSize);
  if (extraLen) put(static_cast<const std::uint8_t *>(extra), extraLen);
}

Result LogRing::dump(const std::string &file, bool append, bool hex) {
  on_ = false;
  if (ring_.empty() || used() == 0) {
    free();
    return ecOK;
  }
  Result err = ecOK;
  FILE *f = openOut(file, append, err);
  if (!f) return err;  // the ring is kept for another try
  std::string out;
  out += "Time      Type      SubType       Data  OtherData\r\n";
  out += "----      ----      -------       ----  ---------\r\n";
  std::size_t at = head_;
  std::size_t left = used();
  std::vector<std::uint8_t> extra;
  while (left >= kHeaderSize) {
    std::uint8_t h[kHeaderSize];
    get(at, h, kHeaderSize);
    std::uint8_t type = h[0], subtype = h[1];
    std::uint32_t time = getLe32(h + 4);
    std::uint16_t data = getLe16(h + 8);
    std::uint16_t len = getLe16(h + 10);
    if (kHeaderSize + len > left) break;
    extra.resize(len);
    get((at + kHeaderSize) % ring_.size(), extra.data(), len);
    at = (at + kHeaderSize + len) % ring_.size();
    left -= kHeaderSize + len;

    char buf[96];
    const char *tn = type < 5 ? kTypeNames[type] : "";
    const char *sn = subtype < std::size(kSubtypeNames) ? kSubtypeNames[subtype] : "";
    std::snprintf(buf, sizeof buf, "%08u  %-8s  %-12s  %04X  ", time, tn, sn, data);
    out += buf;
    if (len) {
      int col = 40;
      for (std::uint8_t b : extra) {
        std::string piece;
        int w = FormatTraceByte(piece, b, hex);
        if (col + w >= 79) {
          out += "\r\n";
          out.append(40, ' ');
          col = 40;
        }
        out += piece;
        col += w;
      }
    }
    out += "\r\n";
    if (subtype == 4) {
      out.append(40, ' ');
      for (int bit = 0; bit < 8; ++bit)
        if (data & (1 << bit)) out += kModemBitNames[bit];
      out += "\r\n";
    }
  }
  std::fwrite(out.data(), 1, out.size(), f);
  Result r = closeOut(f);
  free();
  return r;
}

}  // namespace kv
