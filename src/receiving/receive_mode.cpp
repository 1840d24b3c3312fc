#include "receiving/receive_mode.h"

#include <QDate>
#include <QDateTime>
#include <QTime>
#include <algorithm>
#include <cctype>
#include <filesystem>

#include "app/codepage_fit.h"
#include "app/storage/ttable.h"
#include "base/error_text.h"
#include "comm/com_port.h"
#include "comm/main_thread.h"
#include "fax/receive_folder.h"
#include "modem/modem_ops.h"
#include "modem/port_options.h"
#include "receiving/left_faxes.h"
#include "receiving/received_file.h"
#include "receiving/unread_faxes.h"

namespace kv {

namespace {

constexpr int kNotesWidth = 60;
constexpr int kFromWidth = 20;

std::string trimmed(std::string s) {
  s.erase(0, s.find_first_not_of(' '));
  s.erase(s.find_last_not_of(' ') + 1);
  return s;
}

std::string upper(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::toupper(c); });
  return s;
}

std::string fileNameOnly(const std::string &path) {
  return std::filesystem::path(path).filename().string();
}

}  // namespace

std::string PartialFax::notes(const std::string &reason) const {
  std::string cut = lastPageCut ? "; page " + std::to_string(pagesInFile) + " cut off" : "";
  std::string text = "Incomplete: " + reason;
  // The page note matters more than the end of a long reason.
  if (text.size() + cut.size() > std::size_t(kNotesWidth))
    text.resize(std::size_t(kNotesWidth) - cut.size());
  return text + cut;
}

PartialFax judgePartialFax(int pagesInFile, int progressAtFailure) {
  PartialFax p;
  p.pagesInFile = std::max(0, pagesInFile);
  // Page data was still coming, or the page's end had not been confirmed by its post-page
  // message: the page the engine closed on the way out is not whole.
  p.lastPageCut = p.pagesInFile > 0 && progressAtFailure == fpGetPage;
  return p;
}

std::string receiveStatusText(int progressCode, const std::string &partnerId, int page) {
  std::string text = progressText(progressCode);
  std::string id = trimmed(partnerId);
  if (!id.empty()) text += " [ from " + id + " page " + std::to_string(page) + "]";
  return text;
}

std::string receiveInitString(const std::string &initString) {
  if (initString.empty()) return {};
  if (upper(initString).find("AT") != std::string::npos) return initString;
  return "AT" + initString;
}

void PrepareReceivePort(TKvComPort &port, const std::string &programDir) {
  port.SetAutoOpen(false);
  port.SetComNumber(1);
  port.SetInSize(8192);
  port.SetOutSize(8192);
  port.SetHWFlowOptions(hwfSet({hwfUseRTS, hwfRequireCTS}));
  port.SetBufferFull(7372);
  port.SetBufferResume(819);
  port.SetTraceName(programDir + "KRVRECV.TRC");
  port.SetLogName(programDir + "KRVRECV.LOG");
  port.SetTracing(tlOn);
  port.SetLogging(tlOn);
}

std::string receiveFailureReason(Result code) {
  if (code == ecCancelRequested) return "stopped by the user";
  return code != 0 ? errorText(code) : "Unknown error";
}

bool AppendReceivedRow(TTable &table, const ReceivedFax &fax) {
  if (!table.Active() || !table.Append()) return false;
  auto text = [&table](const char *field, const std::string &value, int width) {
    TField *f = table.FieldByName(field);
    return f && f->SetAsString(FitToCp1252(QString::fromStdString(value)).left(width));
  };
  TField *date = table.FieldByName("DATEREC");
  TField *pages = table.FieldByName("PAGES");
  const QDateTime when = fax.when.isValid() ? fax.when : QDateTime::currentDateTime();
  bool ok = date && date->SetAsDate(when.date()) &&
            text("TIMEREC", when.time().toString("hh:mm").toStdString(), 5) &&
            text("FROM", fax.from, kFromWidth) && pages &&
            pages->SetAsInteger(std::min(fax.pages, 99)) &&
            text("FAXFILE", fileNameOnly(fax.file), 12) && text("NOTES", fax.notes, kNotesWidth);
  if (!ok) {
    table.Cancel();
    return false;
  }
  return table.Post();
}

// --- The component ---------------------------------------------------------------------------

TReceiveModeCore::TReceiveModeCore(TKvComPort &port, TTable &table, const std::string &receiveDir)
    : port_(port), table_(table), self_(std::make_shared<TReceiveModeCore *>(this)) {
  // No status window: the status goes to the status line, also while waiting for calls.
  KvReceiveFax1.StationID = "KV RcvFax";
  KvReceiveFax1.FaxFileExt = "APF";
  KvReceiveFax1.ConstantStatus = true;
  KvReceiveFax1.DestinationDir = receiveDir;
  KvReceiveFax1.FaxNaming = nmSequence;
  KvReceiveFax1.OnFaxAccept = [this](TKvReceiveFax &, bool &accept) { FaxAccept(accept); };
  KvReceiveFax1.OnFaxStatus = [this](TKvAbstractFax &, bool first, bool last) {
    FaxStatus(first, last);
  };
  KvReceiveFax1.OnFaxLog = [this](TKvAbstractFax &, TFaxLogCode code) { FaxLog(code); };
  KvReceiveFax1.OnFaxError = [this](TKvAbstractFax &, Result code) { FaxError(code); };
  KvReceiveFax1.OnCallNotAnswered = [this](TKvReceiveFax &, const std::string &why) {
    CallNotAnswered(why);
  };
  KvReceiveFax1.OnFaxFinish = [this](TKvAbstractFax &, Result code) {
    if (SessionFinished && !stopping_) SessionFinished(code);
  };
}

TReceiveModeCore::~TReceiveModeCore() {
  *self_ = nullptr;
  KvReceiveFax1.OnFaxAccept = nullptr;
  KvReceiveFax1.OnFaxStatus = nullptr;
  KvReceiveFax1.OnFaxLog = nullptr;
  KvReceiveFax1.OnFaxError = nullptr;
  KvReceiveFax1.OnCallNotAnswered = nullptr;
  KvReceiveFax1.OnFaxFinish = nullptr;
}

// A fax in the list is unread until the user views it, whichever program received it.
void TReceiveModeCore::recorded(const ReceivedFax &fax) {
  std::string problem;
  if (!MarkFaxUnread(KvReceiveFax1.DestinationDir, fileNameOnly(fax.file), true, problem))
    status("The fax could not be marked unread: " + problem);
  if (FaxRecorded) FaxRecorded(fax);
}

void TReceiveModeCore::status(const std::string &text) {
  if (ShowStatus) ShowStatus(text);
}

bool TReceiveModeCore::StartReceiving(const Settings &s, std::string &message) {
  message = comPortProblem(s.comPort, kSettingsFileName);
  if (!message.empty()) return false;
  // A fax that could not be stored would be lost once the caller hangs up: no folder, no mode.
  message = receiveFolderProblem(KvReceiveFax1.DestinationDir);
  if (!message.empty()) return false;
  const LeftFaxes left = AdoptLeftFaxes(table_, KvReceiveFax1.DestinationDir);
  if (!left.empty() && Inform) Inform(left.report());
  for (const ReceivedFax &fax : left.adopted) recorded(fax);
  port_.SetComNumber(s.comPort + 1);
  KvReceiveFax1.FaxClass = TFaxClass(std::clamp(s.faxClass, 0, 3) + 1);
  KvReceiveFax1.StationID = s.userFax;
  KvReceiveFax1.AnswerOnRing = std::uint16_t(std::clamp(s.answerOnRing, 1, 3));
  KvReceiveFax1.Allow2D = s.twoDimensional;
  KvReceiveFax1.SetModemInit(receiveInitString(s.modemInit));
  KvReceiveFax1.SetComPort(&port_);
  if (!OpenComPortWithMessage(port_, message)) return false;
  if (!s.resetString.empty()) {
    status("Sending reset string...");
    if (ProcessEvents) ProcessEvents();
    std::string reset = s.resetString;
    SendModemString(port_, reset);
  }
  try {
    KvReceiveFax1.BeginReceive();
  } catch (const std::exception &e) {
    // Without this the mode would quietly stay off: the user is told what the modem did.
    message = "Unable to start receiving faxes:\r\r" + std::string(e.what());
    std::string detail = KvReceiveFax1.SessionErrorDetail();
    if (!detail.empty()) message += "\r\r" + detail;
    closePortAndWait(port_);
    return false;
  }
  return true;
}

void TReceiveModeCore::StopReceiving(const Settings &s) {
  stopping_ = true;
  try {
    KvReceiveFax1.AbortFax();
  } catch (const std::exception &) {
  }
  if (ProcessEvents) ProcessEvents();
  if (!s.afterResetString.empty() && port_.Open()) {
    status("Sending AFTER reset string...");
    if (ProcessEvents) ProcessEvents();
    std::string after = s.afterResetString;
    try {
      SendModemString(port_, after);
    } catch (const std::exception &) {
    }
  }
  // The device is free again when this returns (the send window may take it next).
  closePortAndWait(port_);
  if (ProcessEvents) ProcessEvents();
  FaxInProgress = false;
  stopping_ = false;
}

std::string TReceiveModeCore::UpdateValues() {
  PagesReceived = std::uint16_t(KvReceiveFax1.PageNumber());
  if (KvReceiveFax1.ProgressCode() != fpUserAbort)
    progressBeforeStop_ = KvReceiveFax1.ProgressCode();
  std::string text =
      receiveStatusText(KvReceiveFax1.ProgressCode(), KvReceiveFax1.PartnerID(), PagesReceived);
  status(text);
  return text;
}

// --- Receiver events (main thread, the dispatch thread waiting) --------------------------------

void TReceiveModeCore::FaxAccept(bool &accept) {
  FaxInProgress = true;
  LastFaxError = 0;
  accept = true;
}

void TReceiveModeCore::FaxError(Result code) {
  LastFaxError = code;
}

void TReceiveModeCore::CallNotAnswered(const std::string &why) {
  // Told after the handler: the receiver goes on listening meanwhile.
  MainThread::instance().post([self = self_, why] {
    if (*self && (*self)->Inform) (*self)->Inform("A call was not answered:\r\r" + why);
  });
}

void TReceiveModeCore::FaxStatus(bool first, bool last) {
  UpdateValues();
  if (first) PagesReceived = 0;
  if (last) FaxInProgress = false;
  if (StatusShown) StatusShown(first, last);
}

void TReceiveModeCore::FaxLog(TFaxLogCode code) {
  if (code != lcReceiveOk && code != lcReceiveFail) return;
  FaxInProgress = false;
  // What the row needs is taken now, while the receiver holds still; the engine clears the
  // file name once this returns. The table work runs after the handler, so a slow table or a
  // busy main thread never holds the session up.
  const std::string file = KvReceiveFax1.FaxFile;
  const std::string from = trimmed(KvReceiveFax1.PartnerID());
  if (code == lcReceiveOk) {
    MainThread::instance().post([self = self_, file, from] {
      if (*self) (*self)->recordComplete(file, from);
    });
    return;
  }
  // A stop shows as the progress; what the call was doing is the progress before it.
  const int progress = KvReceiveFax1.ProgressCode() == fpUserAbort ? progressBeforeStop_
                                                                   : KvReceiveFax1.ProgressCode();
  // A stop by the user ends the call without an error event: the session's result says it.
  const int error = LastFaxError != 0 ? LastFaxError : KvReceiveFax1.SessionError();
  LastFaxError = 0;
  MainThread::instance().post([self = self_, file, from, progress, error] {
    if (*self) (*self)->recordFailure(file, from, progress, error);
  });
}

void TReceiveModeCore::recordComplete(const std::string &file, const std::string &from) {
  // The call went well; the fax is received when its file reads back whole.
  const ReadBack rb = ReadReceivedFile(file);
  if (!rb.whole() || rb.pages == 0) {
    const std::string why = !rb.whole() ? "not readable back: " + errorText(rb.error)
                                        : std::string("no page arrived whole");
    recordIncomplete(file, from, fpGetHangup, why, rb);
    return;
  }
  ReceivedFax fax;
  fax.file = file;
  fax.from = from;
  // The file is what the row points at: a page the modem judged bad is not in it.
  fax.pages = rb.pages;
  PagesReceived = std::uint16_t(fax.pages);
  if (!AppendReceivedRow(table_, fax) && Inform)
    Inform("The received fax " + fileNameOnly(file) + " could not be added to the list:\r\r" +
           table_.LastError().toStdString());
  recorded(fax);
}

void TReceiveModeCore::recordFailure(const std::string &file, const std::string &from, int progress,
                                     int error) {
  std::error_code ec;
  const bool exists = !file.empty() && std::filesystem::is_regular_file(file, ec);
  recordIncomplete(file, from, progress, receiveFailureReason(error),
                   exists ? ReadReceivedFile(file) : ReadBack{});
}

void TReceiveModeCore::recordIncomplete(const std::string &file, const std::string &from,
                                        int progress, const std::string &reason,
                                        const ReadBack &rb) {
  std::string said = reason;
  if (!said.empty()) said[0] = char(std::toupper((unsigned char)said[0]));
  std::string message = "Failed to receive incoming fax:\r\r" + said;
  PartialFax partial = judgePartialFax(rb.pages, progress);
  // Pages the file claims but cannot give back are not in the row; the cut one is among them.
  if (rb.pages < rb.claimed) partial.lastPageCut = false;
  std::error_code ec;
  if (partial.keep()) {
    // Pages that came whole are the sender's fax: they stay, in a row that says what is missing.
    ReceivedFax fax;
    fax.file = file;
    fax.from = from;
    fax.pages = partial.pagesInFile;
    fax.notes = partial.notes(reason);
    fax.complete = false;
    const bool added = AppendReceivedRow(table_, fax);
    message += "\r\rThe " + std::to_string(fax.pages) + " page(s) that arrived are kept as " +
               fileNameOnly(file) + (partial.lastPageCut ? " (the last one is cut off)" : "") +
               (added ? "." : ", but could not be added to the list.");
    if (Inform) Inform(message);
    if (added) recorded(fax);
    return;
  }
  if (!file.empty() && std::filesystem::is_regular_file(file, ec)) {
    std::filesystem::remove(file, ec);
    message += "\r\rNo page of it could be kept.";
  }
  if (Inform) Inform(message);
}

}  // namespace kv
