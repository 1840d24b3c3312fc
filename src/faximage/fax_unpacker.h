#pragma once
// The fax unpacker: reads pages of an APF file back into raster lines or monochrome bitmaps
// for display and printing, with optional whitespace compression and scaling.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "base/result_codes.h"
#include "faximage/apf_file.h"
#include "faximage/mono_bitmap.h"

namespace kv {

enum TUnpackerOption : unsigned {
  uoYield = 1,  // service the message queue while unpacking
  uoAbort = 2,  // stop the unpacking under way
};
using TUnpackerOptions = unsigned;  // a set of TUnpackerOption

enum TAutoScaleMode { asNone, asDoubleHeight, asHalfWidth };

class TKvCustomFaxUnpacker;

// Raster-line output: one call with `starting` before the first line, one per line, one with
// `ending` after the last. Lines are 1 = black.
using TUnpackOutputLineEvent =
    std::function<void(TKvCustomFaxUnpacker &sender, bool starting, bool ending,
                       const std::uint8_t *data, int len, int pageNum)>;
using TUnpackStatusEvent =
    std::function<void(TKvCustomFaxUnpacker &sender, const std::string &fname, int pageNum,
                       std::int64_t bytesUnpacked, std::int64_t bytesToUnpack)>;
// Services the caller's message queue (every 16 lines with uoYield); a handler may set uoAbort.
using TUnpackMessagePump = std::function<void()>;

class TKvCustomFaxUnpacker {
 public:
  TKvCustomFaxUnpacker() = default;
  TKvCustomFaxUnpacker(const TKvCustomFaxUnpacker &) = delete;
  TKvCustomFaxUnpacker &operator=(const TKvCustomFaxUnpacker &) = delete;
  virtual ~TKvCustomFaxUnpacker() = default;

  // Component calls: failures are raised as exceptions of the EKvException family.
  int NumPages();
  bool FirstPageHighResolution();
  bool FirstPageWide();
  MonoBitmap UnpackPageToBitmap(int page);
  void UnpackPage(int page);

  // The same, answering result codes.
  Result numPages(int &count);
  Result firstPageFlags(std::uint16_t &imageFlags);
  Result unpackPageToBitmap(int page, MonoBitmap &out);
  // Raster-line output through OnOutputLine.
  Result unpackPage(int page);

  // uoAbort may be set from another thread or from the message pump while a page is unpacked;
  // it stops that unpacking (ecUnpackAbort) and is cleared once it has taken effect.
  TUnpackerOptions Options() const { return (yield_ ? uoYield : 0u) | (abort_ ? uoAbort : 0u); }
  void setOptions(TUnpackerOptions o) {
    yield_ = o & uoYield;
    abort_ = (o & uoAbort) != 0;
  }
  void abort() { abort_ = true; }

  bool WhitespaceCompression() const { return wsCompression_; }
  void setWhitespaceCompression(bool on) { wsCompression_ = on; }
  int WhitespaceFrom() const { return wsFrom_; }
  void setWhitespaceFrom(int n) { wsFrom_ = n; }
  int WhitespaceTo() const { return wsTo_; }
  void setWhitespaceTo(int n) { wsTo_ = n; }

  bool Scaling() const { return scaling_; }
  void setScaling(bool on) { scaling_ = on; }
  // A factor of 0 (or less) is ignored.
  int HorizMult() const { return hMult_; }
  void setHorizMult(int v) {
    if (v > 0) hMult_ = v;
  }
  int HorizDiv() const { return hDiv_; }
  void setHorizDiv(int v) {
    if (v > 0) hDiv_ = v;
  }
  int VertMult() const { return vMult_; }
  void setVertMult(int v) {
    if (v > 0) vMult_ = v;
  }
  int VertDiv() const { return vDiv_; }
  void setVertDiv(int v) {
    if (v > 0) vDiv_ = v;
  }

  TAutoScaleMode AutoScaleMode() const { return autoScale_; }
  void setAutoScaleMode(TAutoScaleMode m) { autoScale_ = m; }

  const std::string &InFileName() const { return inFileName_; }
  // Also sets OutFileName to the same name without its extension, unless only the case changed.
  void setInFileName(const std::string &name);
  const std::string &OutFileName() const { return outFileName_; }
  void setOutFileName(const std::string &name) { outFileName_ = name; }

  TUnpackOutputLineEvent OnOutputLine;
  TUnpackStatusEvent OnStatus;
  TUnpackMessagePump MessagePump;

 private:
  using LineOut = std::function<void(const std::uint8_t *data, int len)>;
  // Decodes one page, passing every line through the whitespace filter and auto-scaling.
  // `bitmapOutput` selects the halving rule of bitmaps (a pixel stays black only when both
  // pixels it replaces are black).
  Result decodePage(int page, bool bitmapOutput, ApfPageHeader &header, const LineOut &out);

  // The open file, kept between calls so that reading pages one after another walks the file
  // once; it is opened again when the name or the file changes.
  Result openReader(ApfReader *&reader);

  std::unique_ptr<ApfReader> reader_;
  std::string readerName_;
  std::uint64_t readerStamp_[4] = {};

  bool yield_ = true;
  std::atomic<bool> abort_{false};
  bool wsCompression_ = false;
  int wsFrom_ = 0, wsTo_ = 0;
  bool scaling_ = false;
  int hMult_ = 1, hDiv_ = 1, vMult_ = 1, vDiv_ = 1;
  TAutoScaleMode autoScale_ = asDoubleHeight;
  std::string inFileName_, outFileName_;
};

class TKvFaxUnpacker : public TKvCustomFaxUnpacker {};

}  // namespace kv
