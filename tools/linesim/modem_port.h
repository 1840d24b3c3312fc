#pragma once
// One emulated Class 1 fax modem (T.31) behind a pseudo-terminal: the program on the slave
// side sees a modem; the line sees a source and sink of audio and call control.
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "scriptmodem/pseudo_terminal.h"

struct t31_state_s;
struct awgn_state_s;
struct at_state_s;

namespace kv::linesim {

class Class2Modem;

class ModemPort {
 public:
  // What the program asked the modem to do (ATD, ATA, ATH...). Returns 0 to accept, -1 to
  // make the modem answer ERROR. Called from inside the AT interpreter: it must not call back
  // into this modem, only queue events.
  using ControlHandler = std::function<int(ModemPort &, int op, const char *num)>;

  ModemPort(char name, const std::string &linkPath, ControlHandler handler);
  ~ModemPort();
  ModemPort(const ModemPort &) = delete;
  ModemPort &operator=(const ModemPort &) = delete;

  char name() const { return name_; }
  const std::string &path() const { return pty_.path(); }
  int masterFd() const { return pty_.masterFd(); }
  int watchFd() const { return inotify_; }
  bool wantsInput() const { return !halted_ && in_.size() < 4096; }
  bool wantsOutput() const { return !out_.empty(); }
  bool dteOpen() const { return opens_ > 0; }
  // Since which block the program has had the port open without sending a byte (-1: closed).
  int64_t quietSince() const { return quietSince_; }
  void trackQuiet(int64_t block);

  // I/O when poll says so. Both return false when the DTE went away (port closed or DTR
  // dropped); the caller then hangs up for it and calls reset().
  void readInput();
  void writeOutput();
  bool checkWatch();  // inotify events; false when the last program closed the port
  bool checkDtr();    // false on the edge to B0

  // Feeds queued input to the AT interpreter in the pieces it can take.
  void feed(int64_t block);
  // A call event from the line, delivered at `due` (block number), never re-entrantly.
  void post(int event, int64_t due);
  void deliverDue(int64_t block);
  // The far end is gone.
  void postHangup(int64_t block);
  int atMode() const;

  void audio(const int16_t *rx, int16_t *tx);  // one block in, one block out
  // A fresh modem, as after power-on: used when the program closes the port or drops DTR.
  void reset();
  // Clears the ring count before a new call rings (the interpreter keeps it between calls).
  void prepareForRinging();
  int s7Seconds() const;  // wait for carrier after dialling
  bool inDataMode() const;
  // Blocks the program's high-speed data (+FTM) has been on the line in the current run; 0
  // before its first byte (while the modem sends its training and fill).
  int64_t dataBlocks() const { return run_.on ? run_.blocks : 0; }

  // The modem stops answering commands after this many command lines (fault injection).
  void setMuteAfter(int commands) { muteAfter_ = commands; }
  bool muted() const { return muted_; }
  // Like some real modems, send XON right after the CONNECT that opens page transmission,
  // to say the data may come now.
  void setXonOnConnect(bool on) { xonOnConnect_ = on; }
  // From `from` seconds of a run of high-speed data on, for `length` seconds, spoil one byte in
  // every sixteen the program gives, once until the port closes (a damaged page). Counted in bytes
  // at the run's bit rate, so the same rows are hit on every run, however the program's writes
  // fell.
  void setGarble(double from, double length) {
    garbleFrom_ = from;
    garbleLength_ = length;
  }
  // Makes this a Class 2 / 2.0 modem: classes is what AT+FCLASS=? answers ("0,1,2,2.0").
  void setClasses(const std::string &classes);
  // A command line of the program, for --mute: false when the modem no longer answers.
  bool takeCommand();

 private:
  static int atTx(at_state_s *at, void *user, const uint8_t *buf, size_t len);
  static int control(t31_state_s *t31, void *user, int op, const char *num);
  void create();
  void destroy();
  void countCommands(const char *buf, std::size_t len);
  void meterBlock(int outBefore, bool finalBefore);
  void endDataRun(const char *how);

  friend class Class2Modem;

  char name_;
  PseudoTerminal pty_;
  std::unique_ptr<Class2Modem> class2_;  // the AT+F layer, when the modem offers Class 2
  ControlHandler handler_;
  int inotify_ = -1;
  int opens_ = 0;
  bool dtrWasDown_ = false;
  bool gotInput_ = false;
  int64_t quietSince_ = -1;
  t31_state_s *t31_ = nullptr;
  std::string in_, out_;
  bool halted_ = false;  // the modem's buffer is full (its CTS is off)
  bool dle_ = false;     // the last byte fed in data mode was an unpaired DLE
  int commands_ = 0;
  int muteAfter_ = -1;
  bool xonOnConnect_ = false;
  double garbleFrom_ = 0, garbleLength_ = 0;
  int64_t dataBytes_ = 0;  // data bytes of the current +FTM run fed so far
  bool garbled_ = false;   // the one page to spoil has been
  bool xonDue_ = false;    // CONNECT sent, its line end not yet
  bool muted_ = false;
  std::string partialCommand_;  // for the -vv log
  struct Event {
    int event;
    int64_t due;
  };
  std::deque<Event> events_;
  bool inInterpreter_ = false;
  int64_t hangupDue_ = -1;  // a far-end hang-up waits while the modem still delivers data

  // High-speed data sent with +FTM, from its first byte on the line to its DLE ETX: how long
  // the transmitter had nothing from the DTE and sent fill instead (the program was late).
  struct DataRun {
    bool fed = false;      // the DTE gave bytes in +FTM since the last run ended
    bool image = false;    // ... and not only zeros (a training check is all zeros)
    bool on = false;       // the first byte has gone out
    int64_t blocks = 0;    // on the line so far
    double emptyBits = 0;  // bit times of fill the DTE was late for
  };
  DataRun run_;
};

}  // namespace kv::linesim
