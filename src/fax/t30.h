#pragma once
// T.30 frames as a Class 1 host builds and reads them (ITU T.30, T.31), the modulation table,
// and the reader that splits the modem's byte stream into text lines and HDLC frames.
// Bytes are in the order of the modem interface: the first bit on the line is the LSB.
#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kv::t30 {

// Modulations, index 1..6.
struct Modulation {
  int bps;
  const char *code;  // for AT+FTM= / AT+FRM=
};
constexpr int kModCount = 6;
extern const std::array<Modulation, kModCount + 1> kModulations;  // [0] unused
int modulationBps(int index);
const char *modulationCode(int index);
// Code for page data at a rate: V.17 pages follow the training check with the short train
// (T.30 5.3.2.4), so 145 becomes 146, 121 122, 97 98 and 73 74; other codes are kept.
std::string pageCode(const std::string &code);
// Index of a rate in bps, 0 when it is not one of the six.
int modulationIndex(int bps);

// Control field values as written to the modem.
namespace fcf {
constexpr std::uint8_t CSI = 0x40;
constexpr std::uint8_t TSI = 0x43;
constexpr std::uint8_t DIS = 0x80;
constexpr std::uint8_t DCS = 0x83;
constexpr std::uint8_t CFR = 0x84;
constexpr std::uint8_t FTT = 0x44;
constexpr std::uint8_t RTN = 0x4C;
constexpr std::uint8_t MCF = 0x8C;
constexpr std::uint8_t MPS = 0x4F;
constexpr std::uint8_t EOP = 0x2F;
constexpr std::uint8_t DCN = 0xFB;
}  // namespace fcf

// What a received control field means (the X bit of T.30 is ignored).
enum class Kind { Unknown, StationId, Dis, Dcs, Cfr, Ftt, Rtn, Mcf, Rtp, Mps, Eop, Dcn, Crp };
Kind classify(std::uint8_t fcf);
const char *kindName(Kind k);

constexpr std::uint8_t kAddress = 0xFF;
constexpr std::uint8_t kControlMore = 0x03;
constexpr std::uint8_t kControlFinal = 0x13;
constexpr std::uint8_t DLE = 0x10;
constexpr std::uint8_t ETX = 0x03;

// A frame ready to write: address, control, FCF, information, DLE ETX. DLE bytes of the
// contents are doubled so that the modem does not take them for the end of the frame.
std::vector<std::uint8_t> frameBytes(std::uint8_t fcf, bool final,
                                     const std::vector<std::uint8_t> &info = {});

// Station id information: 20 bytes, the id right-aligned and reversed (T.30 5.3.6.2.4): the
// id's last character is the first byte, the blanks come last.
std::vector<std::uint8_t> stationIdInfo(std::string_view id);
// The id from a received CSI/TSI information field (the 20 bytes in reverse order).
std::string stationIdFromInfo(const std::uint8_t *info, std::size_t n);

// Session parameters as DIS/DCS carry them.
struct Params {
  int rateIndex = 4;  // chosen modulation
  bool fine = false;  // 7.7 lines/mm
  bool wide = false;  // 255 mm line
  int scanCode = 0;   // 0..7
  bool twoD = false;  // page data in two-dimensional coding (MR)
};

// twoD: offer two-dimensional coding (MR) as well as MH.
std::vector<std::uint8_t> disInfo(int maxIndex, bool twoD = false);
std::vector<std::uint8_t> dcsInfo(const Params &p);

// Remote capabilities from a DIS.
struct RemoteCaps {
  std::array<bool, kModCount + 1> rates{};  // by modulation index
  bool fine = false;
  bool wide = false;
  int scanCode = 0;
  bool twoD = false;  // takes two-dimensional coding (MR)
};
RemoteCaps readDis(const std::uint8_t *info, std::size_t n);

// Parameters chosen by the caller, from a DCS. code is the modulation code for AT+FRM=.
struct DcsResult {
  int bps = 2400;
  std::string code = "24";
  bool fine = false;
  bool wide = false;
  int scanCode = 0;
  bool twoD = false;  // the pages come in two-dimensional coding (MR)
};
DcsResult readDcs(const std::uint8_t *info, std::size_t n);

// Scan-time code from the format byte (bits 21..23).
int scanCodeFromFormat(std::uint8_t format);
// Byte written in a DCS for a scan-time code.
std::uint8_t scanByte(int scanCode, bool fine);
// Minimum bytes per coded line for a scan-time code at a rate.
int minBytesPerLine(int scanCode, bool fine, int bps);
// The same minimum in bits, rounded up: what page data on the line is filled to.
int minBitsPerLine(int scanCode, bool fine, int bps);

// Sender's choice after a DIS: the highest index both sides support not above desiredBps;
// 0 when there is none.
int chooseIndex(const std::array<bool, kModCount + 1> &own,
                const std::array<bool, kModCount + 1> &remote, int desiredBps);
// Next lower index both support below current, 0 when none (training step-down).
int stepDown(const std::array<bool, kModCount + 1> &own,
             const std::array<bool, kModCount + 1> &remote, int current);

// Parses a modem's answer to AT+FTM=? / AT+FRM=? into supported indices (1 and 2 always).
std::array<bool, kModCount + 1> parseModulationList(std::string_view line);

// Parses the answer to AT+FCLASS=? into the class bits (4, 8, 16).
int parseClassList(std::string_view line);

// True for the modem's report of an incoming call: "RING" (with or without what follows a
// blank) or "+CRING"; not "RINGING" or "RINGBACK", which some modems say of the call they dial.
bool isRingReport(std::string_view line);

// Number in a hang-up report ("+FHNG:nnn"), 0 if none.
int hangupNumber(std::string_view line);

// Judges a training check: 1.5 s of zeros the caller sends at the new rate. Fewer than one
// byte in ten may be spoilt, and the spoilt ones must not be spread through the check: the
// longest clean stretch has to cover half of it. A line whose errors are scattered (one byte
// in a hundred, say) passes a plain count yet garbles most rows of a page, and the caller
// would count that page as delivered; such a line must train lower instead. A burst of noise
// at the carrier's start, which many modems pass on, still passes.
class TrainingCheck {
 public:
  void reset() { *this = TrainingCheck(); }
  void add(std::uint8_t byte) {
    ++total_;
    if (byte == 0) {
      longestRun_ = std::max(longestRun_, ++run_);
    } else {
      ++nonZero_;
      run_ = 0;
    }
  }
  bool passed() const { return total_ > 0 && nonZero_ * 10 < total_ && longestRun_ * 2 >= total_; }
  long total() const { return total_; }

 private:
  long total_ = 0, nonZero_ = 0, run_ = 0, longestRun_ = 0;
};

// Splits the bytes a Class 1 modem sends into result lines and HDLC frames.
// Lines end at LF and are trimmed of characters below 33; empty lines are not reported.
// A frame starts with 0xFF at the start of a line and ends at DLE ETX; doubled DLEs are
// undone. Both are bounded: a line keeps its first 128 characters, a frame its first 256
// bytes, so a modem that never ends a line cannot make the buffer grow.
class ResponseReader {
 public:
  struct Item {
    enum Type { None, Line, Frame } type = None;
    std::string line;
    std::vector<std::uint8_t> frame;  // from the address byte on
  };
  static constexpr std::size_t kMaxLine = 128;
  static constexpr std::size_t kMaxFrame = 256;

  // Feeds one byte; returns a complete item or None.
  Item feed(std::uint8_t b);
  void clear();
  bool inFrame() const { return inFrame_; }

 private:
  std::string buf_;
  std::vector<std::uint8_t> frame_;
  bool inFrame_ = false;
  bool dle_ = false;
};

// A decoded HDLC frame.
struct Frame {
  std::uint8_t control = 0;
  std::uint8_t fcf = 0;
  bool final = false;
  Kind kind = Kind::Unknown;
  const std::uint8_t *info = nullptr;  // information bytes after the FCF (may hold the FCS)
  std::size_t infoLen = 0;
};
// Decodes bytes from ResponseReader (address first). nullopt when shorter than three bytes
// or without the address byte.
std::optional<Frame> decodeFrame(const std::vector<std::uint8_t> &bytes);

// Trims characters below 33 from both ends.
std::string trimLine(std::string_view s);

}  // namespace kv::t30
