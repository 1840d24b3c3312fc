#pragma once
// The fax sender: fetches each fax to send (one, or many through OnFaxNext), dials and redials,
// negotiates, sends the header line, an optional cover page and the APF pages, and logs each
// fax. Class 1 is the protocol carried here; Class 2 and 2.0 are refused for now.
#include <chrono>
#include <cstdio>
#include <string>

#include "fax/apf_io.h"
#include "fax/fax_session.h"

namespace kv {

class TKvSendFax : public TKvAbstractFax {
 public:
  using NextEvent = std::function<void(TKvSendFax &, std::string &phone, std::string &faxFile,
                                       std::string &coverFile)>;

  TKvSendFax();
  ~TKvSendFax() override;

  std::string PhoneNumber;
  std::string CoverFile;
  std::string HeaderLine;
  std::string HeaderSender;
  std::string HeaderRecipient;
  std::string HeaderTitle;
  std::string DialPrefix;
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
  std::string HistoryPhone() const override { return phone_; }
  int State() const { return state_; }

 protected:
  // Next fax: true with the three names when there is one.
  virtual bool FaxNext(std::string &phone, std::string &faxFile, std::string &coverFile);

  Result prepare() override;
  void runState(FaxEvent ev) override;
  bool stateReadsLines() const override;
  bool stateIsFinal() const override { return state_ == 47; }
  void enterErrorState() override { state_ = 46; }
  std::uint8_t stateNumber() const override { return std::uint8_t(state_); }

 private:
  void fail(Result code);
  void gotoState(int s, bool loop = true) {
    state_ = s;
    loopNow_ = loop;
  }
  void stateNextFax();
  void stateSetup();
  void stateDial();
  void stateFaxDone();
  void stateNoMore();
  void stateError();
  void busyHandling();
  void classOneLine(FaxEvent ev);
  void retrain();
  void repeatTransmitCommand();
  void pageReady();
  void pageHeader();
  void coverOpen();
  void coverText();
  void pageStart();
  void pageData();
  void pageFlushed();
  std::int32_t pageLineTicksLeft() const;
  bool morePages() const;
  Result nextPage();
  Result readPageHeader();
  Result openCover();
  void closeFiles();
  void writeBlankLine();
  void padOutput();
  void writeRows(const std::vector<std::vector<std::uint8_t>> &rows);
  void writeStuffed(const std::uint8_t *p, std::size_t n, std::size_t minLen);
  void waitOutput();
  std::string substitute(const std::string &text);

  int state_ = 0;
  std::int32_t dialWaitTicks_ = SecsToTicks(60);
  std::int32_t retryWaitTicks_ = SecsToTicks(60);
  bool alreadyGiven_ = false;
  std::string phone_;
  std::string faxName_;
  std::string coverName_;

  // Per fax.
  std::FILE *fax_ = nullptr;
  ApfMainHeader faxHeader_;
  std::FILE *cover_ = nullptr;  // APF cover or text cover
  ApfMainHeader coverHeader_;
  std::FILE *pageSrc_ = nullptr;  // file the current page's data comes from
  int faxPages_ = 0;
  int coverPages_ = 0;
  int coverPage_ = 1;                      // cover page being sent (an APF cover may have several)
  std::atomic<bool> sendingCover_{false};  // read by the status display on the main thread
  bool coverIsApf_ = false;
  bool lengthWords_ = false;
  char prevRes_ = ' ';
  char curRes_ = ' ';
  int busyCount_ = 0;
  int repeats_ = 0;
  long bytesSent_ = 0;
  long pageLen_ = 0;
  bool pageWide_ = false;
  int fontRows_ = 16;
  std::chrono::steady_clock::time_point lastStatus_;
  std::chrono::steady_clock::time_point pageStarted_;  // for the line time of a page
  int statusEvery_ = 0;
};

// Rows of a text rendered in the built-in fax font: charRows high per character row (16 for
// the header line, 48 for a text cover page), doubled when fine. Each row is 216 bytes.
// Negative result when the font is missing.
Result renderTextRows(const std::string &text, int charRows, bool fine,
                      std::vector<std::vector<std::uint8_t>> &rows);

}  // namespace kv
