#pragma once
// The fax receiver: waits for calls, answers on the chosen ring, lets the program accept or
// refuse the caller, names and writes the received APF file page by page, and then ends or
// waits for the next call. The machine is a table of named states with one handler each: the
// class-independent states are in receive_fax.cpp, Class 1's in receive_class1.cpp, Class 2
// and 2.0's in receive_class2.cpp.
#include <string>
#include <vector>

#include "fax/apf_io.h"
#include "fax/class1_negotiation.h"
#include "fax/class2_reports.h"
#include "fax/fax_session.h"

namespace kv {

// The states of the receive machine. The numbers are the machine's state values (shown in
// traces and the dispatch log); C1 states are Class 1's, C2 Class 2's, C20 Class 2.0's.
enum class ReceiveState : std::uint8_t {
  NewCall = 1,
  C1SelectClass = 2,
  C2SelectClass = 3,
  C20FlowControl = 4,
  C20Reporting = 5,
  C2CapsSet = 7,
  WaitRing = 8,
  Answer = 9,
  C1SendCSI = 10,
  C1SendDIS = 11,
  C1WaitDCS = 12,
  C1Retry = 13,
  C1RetryFTH = 14,
  C1TrainConnect = 15,
  C1Training = 16,
  C1StopListening = 17,
  C1SendFTT = 18,
  C1TrainEnd = 19,
  C1SendCFR = 20,
  C1PageConnect = 21,
  C2AnswerResult = 22,
  C2Negotiate = 23,
  C2WaitPage = 24,
  PageStart = 25,
  PageData = 26,
  C1PageEnd = 27,
  C1WaitPPM = 28,
  C1ClosePage = 29,
  C1SendMCF = 30,
  C1WaitDCN = 31,
  C1Hangup = 32,
  C2PageEnd = 33,
  C2WaitHangup = 34,
  EndOfCall = 35,
  Error = 36,
  Final = 37,
  C1SendRTN = 38,
};

class TKvReceiveFax : public TKvAbstractFax {
 public:
  using AcceptEvent = std::function<void(TKvReceiveFax &, bool &accept)>;
  using NameEvent = std::function<void(TKvReceiveFax &, std::string &name)>;
  using RefusalEvent = std::function<void(TKvReceiveFax &, const std::string &why)>;

  TKvReceiveFax();
  ~TKvReceiveFax() override;

  std::uint16_t AnswerOnRing = 1;
  bool FaxAndData = false;
  bool OneFax = false;
  bool ConstantStatus = false;
  std::string DestinationDir;
  TFaxNaming FaxNaming = nmSequence;
  AcceptEvent OnFaxAccept;
  NameEvent OnFaxName;
  // A call rang but was not answered because DestinationDir cannot take a fax (said once until
  // the folder can be used again).
  RefusalEvent OnCallNotAnswered;

  // Starts a receive session. Throws (EKvException family) when the port cannot be used.
  void BeginReceive();

  int State() const { return int(state_.load()); }
  int PagesReceived() const { return pages_; }
  // Rows of the last page received that came damaged and were replaced by the row before
  // (MR pages, which are decoded as they are stored).
  int PageBadRows() const { return badRows_; }

  // One row of the machine's state table.
  struct StateInfo {
    ReceiveState state;
    const char *name;
    bool readsLines;  // the state waits for a modem line (or frame) before its handler runs
    void (TKvReceiveFax::*handler)(FaxEvent);
  };
  static const StateInfo &Info(ReceiveState s);

 protected:
  virtual bool FaxAccept();
  virtual std::string FaxName();

  Result prepare() override;
  void runState(FaxEvent ev) override;
  bool stateReadsLines() const override { return Info(state_).readsLines; }
  bool stateIsFinal() const override { return state_ == ReceiveState::Final; }
  void enterErrorState() override { state_ = ReceiveState::Error; }
  std::uint8_t stateNumber() const override { return std::uint8_t(state_.load()); }
  const char *stateName() const override { return Info(state_).name; }

 private:
  static const StateInfo kStates[];

  void fail(Result code);
  void gotoState(ReceiveState s, bool loop = true) {
    state_ = s;
    loopNow_ = loop;
  }
  // What every line state does first: frames are booked, a line with ERROR ends the call
  // (+FCERROR excepted where a missed carrier is expected). False when that took the line.
  bool takeLine(FaxEvent ev, bool fcErrorIsCarrier = false);

  // Class-independent states (receive_fax.cpp).
  void stateNewCall(FaxEvent);
  void stateWaitRing(FaxEvent ev);
  void stateAnswer(FaxEvent);
  void statePageStart(FaxEvent);
  void statePageData(FaxEvent ev);
  void stateEndOfCall(FaxEvent);
  void stateError(FaxEvent);
  void stateFinal(FaxEvent) {}

  // Class 1 states (receive_class1.cpp).
  void c1SelectClass(FaxEvent ev);
  void c1SendCSI(FaxEvent ev);
  void c1SendDIS(FaxEvent ev);
  void c1WaitDCS(FaxEvent ev);
  void c1Retry(FaxEvent ev);
  void c1RetryFTH(FaxEvent ev);
  void c1TrainConnect(FaxEvent ev);
  void c1Training(FaxEvent ev);
  void c1SendFTT(FaxEvent ev);
  void c1SendRTN(FaxEvent ev);
  void c1TrainEnd(FaxEvent ev);
  void c1SendCFR(FaxEvent ev);
  void c1PageConnect(FaxEvent ev);
  void c1PageEnd(FaxEvent ev);
  void c1WaitPPM(FaxEvent ev);
  void c1ClosePage(FaxEvent ev);
  void c1SendMCF(FaxEvent ev);
  void c1WaitDCN(FaxEvent ev);
  void c1Hangup(FaxEvent ev);
  void c1ListenHighSpeed(bool page);
  void c1MissedFrame();
  void c1StopListening(FaxEvent ev);
  void c1StopHighSpeed();
  void c1ListenForCommand();
  std::int32_t c1CommandTicks() const;
  void c1EndAfterFax();
  void c1SendFrame(std::uint8_t fcf, bool final, const std::vector<std::uint8_t> &info = {});

  // Class 2 and 2.0 states (receive_class2.cpp).
  void c2Begin();
  bool c2Take(FaxEvent ev, class2::Report &r, bool errorIsMine = false);
  bool c2Echo() const;
  bool c2SetupAnswered(FaxEvent ev);
  void c2StoreHangup();
  void c2ApplyParams();
  bool c2Accept();
  void c2KeepPage(bool keep);
  void c2SelectClass(FaxEvent ev);
  void c20FlowControl(FaxEvent ev);
  void c20Reporting(FaxEvent ev);
  void c2CapsSet(FaxEvent ev);
  void c2AnswerResult(FaxEvent ev);
  void c2Negotiate(FaxEvent ev);
  void c2WaitPage(FaxEvent ev);
  void c2PageEnd(FaxEvent ev);
  void c2WaitHangup(FaxEvent ev);

  // DestinationDir can take a fax; when not, the call is not answered and the program is told.
  bool folderUsable();
  Result createFile();
  // Closes the file of a call that went well and logs the fax as received, or as failed when
  // the file could not be put on the disk.
  void finishFile();
  std::string storedId() const;
  Result flushBuffer();
  // The end of an MR page: its rows decoded and stored as one-dimensional line records.
  Result storeMrPage();

  std::atomic<ReceiveState> state_{ReceiveState::NewCall};
  Class1Negotiation c1_;
  const class2::CommandTable *c2_ = nullptr;  // set while a Class 2 or 2.0 session runs
  bool c2Accepted_ = false;                   // the program was asked about this call
  bool c2PageJudged_ = false;                 // the page was kept or dropped
  bool c2PageStarted_ = false;                // page data (not line noise) has come
  int attempts_ = 0;                          // DIS sent again without an answer
  SessionClock::Clock::time_point t1End_;     // T1: the caller has until then to identify itself
  int rings_ = 0;
  bool folderRefused_ = false;  // the program was told the folder cannot be used
  int pageStatus_ = 3;
  int pages_ = 0;
  bool statusShown_ = false;
  bool morePages_ = false;
  bool pageAwaited_ = false;  // CFR or MCF went out and the page's carrier has not come
  bool dle_ = false;
  t30::TrainingCheck trainCheck_;
  apf::Writer file_;
  std::vector<std::uint8_t> buf_;
  bool pageMr_ = false;  // the page comes in MR: kept whole, stored at its end
  std::vector<std::uint8_t> mrData_;
  std::atomic<int> badRows_{0};
};

}  // namespace kv
