#pragma once
// The fax sender: fetches each fax to send (one, or many through OnFaxNext), dials and redials,
// negotiates, sends the header line, an optional cover page and the APF pages, and logs each
// fax. The machine is a table of named states with one handler each: the class-independent
// states are in send_fax.cpp, Class 1's in send_class1.cpp, Class 2 and 2.0's in
// send_class2.cpp.
#include <chrono>
#include <cstdio>
#include <string>

#include <array>

#include "base/dial_string.h"
#include "fax/apf_io.h"
#include "fax/class1_negotiation.h"
#include "fax/class2_reports.h"
#include "fax/fax_session.h"
#include "fax/page_coder.h"
#include "fax/page_source.h"

namespace kv {

// The states of the send machine. The numbers are the machine's state values (shown in traces
// and the dispatch log); C1 states are Class 1's, C2 states Class 2's and C20 Class 2.0's.
enum class SendState : std::uint8_t {
  NextFax = 1,
  Setup = 2,
  C1SelectClass = 3,
  C2SelectClass = 4,
  C20FlowControl = 5,
  C20Reporting = 6,
  C2Capabilities = 7,
  C2CapsSet = 8,
  Dial = 9,
  RedialWait = 10,
  C1DialResult = 11,
  C1SendTSI = 12,
  C1SendDCS = 13,
  C1DcsSent = 14,
  C1SendTCF = 15,
  C1TcfSent = 16,
  C1WaitCFR = 17,
  C1PageConnect = 18,
  C2DialResult = 19,
  C2Negotiate = 20,
  WaitXon = 21,
  PageReady = 22,
  PageHeader = 23,
  CoverOpen = 24,
  CoverText = 25,
  PageStart = 26,
  PageData = 27,
  PageFlush = 28,
  C1PageSent = 29,
  C1PostPage = 30,
  C1SendPPM = 31,
  C1PpmSent = 32,
  C1WaitPPR = 34,
  C1SendDCN = 35,
  C1DcnSent = 36,
  C1Hangup = 37,
  C2PageSent = 38,
  C2PageEnd = 39,
  C2PageStatus = 40,
  C2PageRejected = 41,
  C2PageDone = 42,
  C20PageStatus = 43,
  FaxDone = 44,
  NoMoreFaxes = 45,
  Error = 46,
  Final = 47,
  DialRingCheck = 48,
};

class TKvSendFax : public TKvAbstractFax {
 public:
  using NextEvent = std::function<void(TKvSendFax &, DialString &phone, std::string &faxFile,
                                       std::string &coverFile)>;

  TKvSendFax();
  ~TKvSendFax() override;

  // Numbers come checked (see DialString): the dial command is built from nothing else.
  DialString PhoneNumber;
  std::string CoverFile;
  std::string HeaderLine;
  std::string HeaderSender;
  std::string HeaderRecipient;
  std::string HeaderTitle;
  DialString DialPrefix;
  bool ToneDial = true;
  bool BlindDial = false;
  bool DetectBusy = true;
  std::uint16_t DialWait() const { return std::uint16_t(TicksToSecs(dialWaitTicks_)); }
  void SetDialWait(std::uint16_t s) { dialWaitTicks_ = SecsToTicks(s); }
  std::uint16_t DialAttempts = 3;
  std::uint16_t DialRetryWait() const { return std::uint16_t(TicksToSecs(retryWaitTicks_)); }
  void SetDialRetryWait(std::uint16_t s) { retryWaitTicks_ = SecsToTicks(s); }
  std::uint16_t MaxSendCount = 50;
  std::uint16_t BufferMinimum = 1000;
  bool SafeMode = true;
  std::uint16_t DialAttempt() const { return std::uint16_t(busyCount_ + 1); }
  NextEvent OnFaxNext;

  // Starts a send session. Throws (EKvException family) when the port cannot be used.
  void BeginTransmit();

  int PageTotal() const override { return faxPages_; }
  // 0 while a cover page goes out: the cover is not a page of the fax.
  int PageNumber() const override { return sendingCover_ ? 0 : pageNumber_.load(); }
  long BytesTransferred() const override;
  long PageLength() const override { return pageLen_; }
  std::string DefaultInit() const override { return defaultInitString(BlindDial, DetectBusy); }
  std::string HistoryPhone() const override { return phone_.typed(); }
  int State() const { return int(state_.load()); }

  // One row of the machine's state table.
  struct StateInfo {
    SendState state;
    const char *name;
    bool readsLines;  // the state waits for a modem line (or frame) before its handler runs
    void (TKvSendFax::*handler)(FaxEvent);
  };
  static const StateInfo &Info(SendState s);

 protected:
  // Next fax: true with the three names when there is one.
  virtual bool FaxNext(DialString &phone, std::string &faxFile, std::string &coverFile);

  Result prepare() override;
  void runState(FaxEvent ev) override;
  bool stateReadsLines() const override { return Info(state_).readsLines; }
  bool stateIsFinal() const override { return state_ == SendState::Final; }
  void enterErrorState() override { state_ = SendState::Error; }
  std::uint8_t stateNumber() const override { return std::uint8_t(state_.load()); }
  const char *stateName() const override { return Info(state_).name; }

 private:
  static const StateInfo kStates[];

  void fail(Result code);
  void gotoState(SendState s, bool loop = true) {
    state_ = s;
    loopNow_ = loop;
  }
  // What every line state does first: frames are booked, a line with ERROR ends the fax
  // (where errorEnds). False when that took the line.
  bool takeLine(FaxEvent ev, bool errorEnds = true);

  // Class-independent states (send_fax.cpp).
  void stateNextFax(FaxEvent);
  void stateSetup(FaxEvent);
  void stateDial(FaxEvent);
  void stateRedialWait(FaxEvent ev);
  void stateWaitXon(FaxEvent ev);
  void statePageReady(FaxEvent ev);
  void statePageHeader(FaxEvent);
  void stateCoverOpen(FaxEvent);
  void stateCoverText(FaxEvent ev);
  void statePageStart(FaxEvent);
  void statePageData(FaxEvent ev);
  void statePageFlush(FaxEvent ev);
  void stateFaxDone(FaxEvent);
  void stateNoMore(FaxEvent);
  void stateError(FaxEvent);
  void stateFinal(FaxEvent) {}
  // A dial attempt that did not get through: counted, then redialled after the retry pause, or
  // the fax ends with `code` once the attempts are used up.
  void busyHandling(Result code = ecFaxBusy, int waitProgress = fpBusyWait);
  // A RING reported since shortly before this dial: the line is taken by a caller ringing in,
  // and whatever the dial answers (ERROR, NO CARRIER, nothing) is that, not a fault.
  bool incomingCallAtDial() const;
  // Whether a dial answer (or the dial's time-out) is the end of an attempt that did not
  // connect; lines that only inform are not.
  bool dialFailed(FaxEvent ev) const;
  void incomingCallHandling(FaxEvent ev);
  // A dial refused (ERROR) or dropped (NO CARRIER) with no RING heard yet: a modem asked to dial
  // while a caller rings in may say just that, its next RING coming seconds later. Listens for
  // one ring period before the fax ends with `code`.
  bool awaitRingAfterRefusedDial(FaxEvent ev, Result code);
  void stateDialRingCheck(FaxEvent ev);
  // Reads what the modem sent while page data goes out: nothing is expected but XON/XOFF and
  // the report that the line has dropped. True on that report (and *xon when XON came).
  bool carrierLost(bool *xon = nullptr);
  void failCarrierLost();
  std::int32_t pageLineTicksLeft() const;

  // Class 1 states (send_class1.cpp).
  void c1SelectClass(FaxEvent ev);
  void c1DialResult(FaxEvent ev);
  void c1SendTSI(FaxEvent ev);
  void c1SendDCS(FaxEvent ev);
  void c1DcsSent(FaxEvent ev);
  void c1SendTCF(FaxEvent ev);
  void c1TcfSent(FaxEvent ev);
  void c1WaitCFR(FaxEvent ev);
  void c1PageConnect(FaxEvent ev);
  void c1PageSent(FaxEvent ev);
  void c1PostPage(FaxEvent ev);
  void c1SendPPM(FaxEvent ev);
  void c1PpmSent(FaxEvent ev);
  void c1WaitPPR(FaxEvent ev);
  void c1SendDCN(FaxEvent ev);
  void c1DcnSent(FaxEvent ev);
  void c1Hangup(FaxEvent ev);
  void c1Retrain();
  void c1RepeatTransmitCommand();
  void c1MissedFrame();
  void c1SendDcsAgain();
  void c1EndAfterLastPage();
  // For the states that send one frame after AT+FTH=3: true when the modem's CONNECT lets it
  // go (its OK means the command was lost and is said again).
  bool c1FrameMayGo(FaxEvent ev);
  void c1PutFrame(std::uint8_t fcf, bool final, const std::vector<std::uint8_t> &info,
                  SendState next);
  // For the states that wait for the modem's OK to what was sent: true when it came.
  bool c1ModemDone(FaxEvent ev);
  void c1ListenForAnswer(SendState next);
  void c1ListenAgain();

  // Class 2 and 2.0 states (send_class2.cpp).
  void c2Begin();
  bool c2Take(FaxEvent ev, class2::Report &r, bool errorIsMine = false);
  bool c2Echo() const;
  bool c2SetupAnswered(FaxEvent ev);
  void c2StoreHangup();
  void c2ApplyParams(const class2::SessionParams &p);
  void c2SelectClass(FaxEvent ev);
  void c20FlowControl(FaxEvent ev);
  void c20Reporting(FaxEvent ev);
  void c2Capabilities(FaxEvent ev);
  void c2CapsSet(FaxEvent ev);
  void c2DialResult(FaxEvent ev);
  void c2Negotiate(FaxEvent ev);
  void c2PageSent(FaxEvent ev);
  void c2PageEnd(FaxEvent ev);
  void c2PageStatus(FaxEvent ev);
  void c20PageStatus(FaxEvent ev);
  void c2PageRejected(FaxEvent ev);
  void c2PageDone(FaxEvent ev);
  bool c2PageStatusLine(class2::Report r);
  void c2PageAnswered();
  void c2Resend();
  // The bytes that end a page: DLE ETX, or in Class 2.0 DLE "," or DLE "." (more or last).
  std::array<std::uint8_t, 2> pageEndBytes() const;

  bool morePages() const;
  Result nextPage();
  Result readPageHeader();
  Result openCover();
  void closeFiles();
  // Page data: MR when the far end takes it, it was not refused in this fax and it is allowed.
  bool useMr() const;
  void beginPageCoding();
  // Writes what the page coder has coded so far, with DLE doubled.
  void flushCoded();
  void writeStuffed(const std::uint8_t *p, std::size_t n);
  std::string substitute(const std::string &text);

  std::atomic<SendState> state_{SendState::NextFax};
  std::int32_t dialWaitTicks_ = SecsToTicks(60);
  std::int32_t retryWaitTicks_ = SecsToTicks(60);
  bool alreadyGiven_ = false;
  DialString phone_;
  std::string faxName_;
  std::string coverName_;
  Class1Negotiation c1_;
  const class2::CommandTable *c2_ = nullptr;  // set while a Class 2 or 2.0 fax runs
  int c2Retries_ = 0;                         // pages rejected in this fax
  bool c2HangupSeen_ = false;                 // a hang-up report came with the page result
  bool c2Rejected_ = false;
  bool c2Mr_ = false;  // the modem's session parameters say MR

  PageCoder coder_;
  bool pageMr_ = false;     // the page being sent goes in MR
  bool mrRefused_ = false;  // an MR page of this fax came back RTN: MH from now on
  long lineBytes_ = 0;      // page data of the current page written to the modem

  // Per fax.
  PageSource pages_;
  int faxPages_ = 0;
  int coverPages_ = 0;
  int coverPage_ = 1;                      // cover page being sent (an APF cover may have several)
  std::atomic<bool> sendingCover_{false};  // read by the status display on the main thread
  bool coverIsApf_ = false;
  bool lengthWords_ = false;
  char prevRes_ = ' ';
  char curRes_ = ' ';
  int busyCount_ = 0;
  SessionClock::Clock::time_point dialStarted_{};
  bool dialConnected_ = false;  // the dial of this attempt has a CONNECT
  Result refusedDial_ = 0;      // how the fax ends when no RING follows a refused dial
  int repeats_ = 0;
  int attempts_ = 0;  // post-page messages sent for the current page
  long bytesSent_ = 0;
  long pageLen_ = 0;
  bool pageWide_ = false;
  int fontRows_ = 16;
  std::chrono::steady_clock::time_point lastStatus_;
  std::chrono::steady_clock::time_point pageStarted_;  // for the line time of a page
  int statusEvery_ = 0;
  std::string modemText_;  // the last bytes the modem sent during page data
};

// Rows of a text rendered in the built-in fax font: charRows high per character row (16 for
// the header line, 48 for a text cover page), doubled when fine. Each row is 216 bytes.
// Negative result when the font is missing.
Result renderTextRows(const std::string &text, int charRows, bool fine,
                      std::vector<std::vector<std::uint8_t>> &rows);

}  // namespace kv
