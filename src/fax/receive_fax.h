#pragma once
// The fax receiver: waits for calls, answers on the chosen ring, lets the program accept or
// refuse the caller, names and writes the received APF file page by page, and then ends or
// waits for the next call. Class 1 is the protocol carried here; Class 2 and 2.0 are refused
// for now.
#include <string>
#include <vector>

#include "fax/apf_io.h"
#include "fax/fax_session.h"

namespace kv {

class TKvReceiveFax : public TKvAbstractFax {
 public:
  using AcceptEvent = std::function<void(TKvReceiveFax &, bool &accept)>;
  using NameEvent = std::function<void(TKvReceiveFax &, std::string &name)>;

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

  // Starts a receive session. Throws (EKvException family) when the port cannot be used.
  void BeginReceive();

  int State() const { return state_; }
  int PagesReceived() const { return pages_; }

 protected:
  virtual bool FaxAccept();
  virtual std::string FaxName();

  Result prepare() override;
  void runState(FaxEvent ev) override;
  bool stateReadsLines() const override;
  bool stateIsFinal() const override { return state_ == 37; }
  void enterErrorState() override { state_ = 36; }
  std::uint8_t stateNumber() const override { return std::uint8_t(state_); }

 private:
  void fail(Result code);
  void gotoState(int s, bool loop = true) {
    state_ = s;
    loopNow_ = loop;
  }
  void classOneLine(FaxEvent ev);
  void newCall();
  void listenHighSpeed(bool page);
  void answer();
  void training(FaxEvent ev);
  void pageStart();
  void pageData(FaxEvent ev);
  void endOfCall();
  void stateError();
  Result createFile();
  Result flushBuffer();
  void sendFrame(std::uint8_t fcf, bool final, const std::vector<std::uint8_t> &info = {});

  int state_ = 0;
  int rings_ = 0;
  int pageStatus_ = 3;
  int pages_ = 0;
  bool statusShown_ = false;
  bool morePages_ = false;
  bool dle_ = false;
  t30::TrainingCheck trainCheck_;
  apf::Writer file_;
  std::vector<std::uint8_t> buf_;
};

}  // namespace kv
