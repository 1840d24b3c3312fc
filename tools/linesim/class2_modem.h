#pragma once
// A Class 2 / Class 2.0 fax modem on the simulated line. The program on the port speaks the
// AT+F command set; inside, the modem runs T.30 itself over the emulated Class 1 modem of its
// port, the way many real Class 2 modems are built on a Class 1 data pump. So the audio side
// is the same proven modem that talks to the other emulated modems and the far-end machine,
// and only the frame-level procedure is new here.
//
// In Class 0 and 1 the modem is transparent: commands and data go to the Class 1 modem as
// before, except the class commands, which this layer answers.
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace kv::linesim {

class ModemPort;

class Class2Modem {
 public:
  // classes: what AT+FCLASS=? answers, e.g. "0,1,2" or "0,1,2,2.0".
  Class2Modem(ModemPort &port, std::string classes);

  // Bytes the program wrote to the port.
  void fromHost(const char *p, std::size_t n);
  // Bytes the Class 1 modem produced; false when they are the program's (transparent mode).
  bool fromModem(const std::uint8_t *p, std::size_t n);
  // Bytes this layer wants to give the Class 1 modem.
  std::string takeForModem();
  // Once per 20 ms block.
  void tick(std::int64_t block);
  // Power-on state: the port was closed or DTR dropped.
  void reset();
  bool transparent() const { return mode_ == Mode::Transparent; }

 private:
  enum class Mode { Transparent, Class2, Class20 };
  enum class St {
    Idle,
    // calling
    Dialling,
    CallerFrames,  // DIS group after dialling
    CallerReady,   // phase B done, waiting for the program's +FDT
    DcsFth,        // AT+FTH=3 sent for TSI/DCS
    DcsTsiSent,
    DcsSent,
    TcfPause,
    TcfFtm,
    TcfSent,
    CfrWait,  // AT+FRH=3 after the training check
    CfrFrame,
    PageFtm,    // AT+FTM for page data
    PageOut,    // the program's page data flows
    PageDrain,  // DLE ETX given, waiting for the modem's OK
    WaitFet,    // Class 2: the program's +FET
    PostPause,
    PostFth,
    PostSent,
    McfWait,
    McfFrame,
    DcnFth,
    DcnSent,
    Hanging,
    // answering
    Answering,
    DisCsiSent,
    DisSent,
    DcsWait,
    DcsFrame,
    TcfIn,
    TcfDone,
    CfrFth,
    CfrSent,
    PageFrm,
    PageIn,
    PageInEnd,
    PostWait,
    PostFrame,
    McfFth,
    McfSent,
    DcnWait,
    DcnFrame,
  };
  struct Page {
    std::string data;  // as received, DLE already undone
    bool done = false;
    int post = -1;  // 0 MPS, 1 EOM, 2 EOP
    int lines = 0;
  };
  struct Caps {  // vr, br, wd, ln, df, ec, bf, st
    int v[8] = {1, 5, 0, 2, 0, 0, 0, 0};
  };

  // Program side.
  void hostCommandLine(const std::string &line);
  bool extended(const std::string &name, const std::string &arg, std::string &info);
  bool setClass(const std::string &v);
  void hostData(const char *p, std::size_t n);
  void toHost(const std::string &s);
  void result(const char *r);
  void report(const std::string &r);
  void deliver();
  bool v20() const { return mode_ == Mode::Class20; }

  // Modem side.
  void modemByte(std::uint8_t b);
  void modemLine(const std::string &line);
  void frameDone();
  void dataByte(std::uint8_t b);
  void dataEnd();
  void command(const std::string &cmd);
  void sendFrame(std::uint8_t fcf, bool final, const std::vector<std::uint8_t> &info = {});
  void go(St s, double seconds = 10);
  void timeout();
  void fail(int code);
  void endCall(int code);
  void listenFrames();
  void abortModem();
  std::string hangupReport(int code) const;

  // T.30 steps.
  void callerFrame(const std::vector<std::uint8_t> &f);
  void startDcs();
  void startPage();
  void startPost();
  void pageResult(int status);
  void answerFrame(const std::vector<std::uint8_t> &f);
  void startDis();
  void receivePage();
  std::string paramsText(const Caps &c) const;

  ModemPort &port_;
  std::string classes_;
  Mode mode_ = Mode::Transparent;
  bool echo_ = true;
  std::string hostLine_;
  std::string forModem_;
  std::int64_t block_ = 0;

  St st_ = St::Idle;
  std::int64_t deadline_ = -1;
  int tries_ = 0;
  bool hostWaiting_ = false;  // a command of the program waits for its result

  // Parser of the Class 1 modem's output.
  enum class Rx { Lines, Frame, Data } rx_ = Rx::Lines;
  std::string rxLine_;
  std::vector<std::uint8_t> rxFrame_;
  bool rxInFrame_ = false;
  bool rxDle_ = false;
  bool frameOk_ = false;

  // Session.
  std::string localId_;
  std::string remoteId_;
  Caps sendCaps_, recvCaps_, remote_, session_;
  bool remoteV17_ = false, remoteV29_ = false, remoteV27_ = false;
  int bps_ = 9600;
  std::uint8_t rxRateBits_ = 0;  // DCS rate bits of the call being received
  bool needDcs_ = true;
  int post_ = -1;       // post-page message of the page being sent
  int pageStatus_ = 1;  // last page status for +FPS?/+FPTS?
  int hangup_ = 0;      // code of the call's end
  bool callOver_ = false;
  bool fkRequested_ = false;

  // Sending: the program's page data.
  bool hostDle_ = false;
  std::int64_t lastHostData_ = 0;

  // Receiving.
  std::deque<Page> pages_;
  bool delivering_ = false;  // CONNECT given for +FDR
  bool waitDc2_ = false;
  std::size_t delivered_ = 0;
  long tcfBytes_ = 0, tcfNonZero_ = 0;
  bool answeredReported_ = false;
  int dcsRepeats_ = 0;
  bool fconSent_ = false;
  bool tcfGood_ = false;
  int lastPost_ = -1;  // post-page message of the last page handed to the program
  int rxRetries_ = 0;
};

}  // namespace kv::linesim
