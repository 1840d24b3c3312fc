#pragma once
// The two diagnostic rings of a port: the trace (every byte taken from the port or queued for
// sending) and the dispatch log (timed entries of reads, writes and trigger deliveries), and
// their text files. Not thread-safe: the port guards them with its lock.
#include <cstdint>
#include <string>
#include <vector>

#include "base/result_codes.h"

namespace kv {

inline constexpr std::uint16_t kMaxTraceSize = 32760;
inline constexpr std::uint16_t kMaxLogSize = 65520;

enum TTraceLogState { tlOff, tlOn, tlDump, tlAppend, tlClear, tlPause };

class TraceRing {
 public:
  bool allocated() const { return !entries_.empty(); }
  bool on() const { return on_; }
  void setOn(bool on) { on_ = on && allocated(); }
  // Allocates `size` entries (a ring of the same size is just emptied).
  Result start(std::uint16_t size);
  void clear();
  void free();
  void add(char letter, std::uint8_t byte);
  bool empty() const { return pos_ == 0 && !wrapped_; }
  // Writes the file (appending when asked and it exists) and frees the ring, also when the
  // file cannot be opened. Nothing recorded: no file at all.
  Result dump(const std::string &file, bool append, bool hex);

 private:
  std::vector<std::uint8_t> entries_;  // letter, byte pairs
  std::size_t pos_ = 0;
  bool wrapped_ = false;
  bool on_ = false;
};

class LogRing {
 public:
  static constexpr std::size_t kHeaderSize = 12;

  bool allocated() const { return !ring_.empty(); }
  bool on() const { return on_; }
  void setOn(bool on) { on_ = on && allocated(); }
  Result start(std::uint16_t size, std::uint32_t timeBaseMs);
  void clear();
  void free();
  std::size_t used() const { return ring_.size() - free_; }
  void add(std::uint8_t type, std::uint8_t subtype, std::uint32_t timeMs, std::uint16_t data,
           const void *extra, std::uint16_t extraLen);
  // Current time relative to the time base.
  std::uint32_t now() const;
  void setTimeBase(std::uint32_t ms) { timeBase_ = ms; }
  // Writes the file and frees the ring; when the file cannot be opened the ring is kept.
  Result dump(const std::string &file, bool append, bool hex);

 private:
  void put(const std::uint8_t *p, std::size_t n);
  void get(std::size_t at, std::uint8_t *p, std::size_t n) const;
  void dropOldest();

  std::vector<std::uint8_t> ring_;
  std::size_t head_ = 0;  // oldest byte
  std::size_t tail_ = 0;  // next byte to write
  std::size_t free_ = 0;
  std::uint32_t timeBase_ = 0;
  bool on_ = false;
};

// Appends `b` to `out` in the trace file's character rule and returns its width: printable
// bytes as themselves (0x21..0x7E in hexadecimal mode, 0x20..0x7E in decimal mode), others as
// [hh] or [d].
int FormatTraceByte(std::string &out, std::uint8_t b, bool hex);

}  // namespace kv
