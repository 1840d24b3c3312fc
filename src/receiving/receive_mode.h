#pragma once
// Receive mode: the program's port kept open with a fax receiver waiting for calls, each fax
// stored in the receive directory and recorded as a row of the received-fax table. The main
// window and `korvane-fax receive --program-dir` both run it; each supplies its front end
// (status line or terminal, message boxes or standard error) through the hooks below.
//
// Threads: the receiver's protocol runs on the port's dispatch thread and its events reach us on
// the main thread, the dispatch thread waiting meanwhile. The handlers only copy what they need
// and post the rest (table work, messages), so the session is never held up by the program,
// however busy its main thread is.
#include <QDateTime>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "fax/receive_fax.h"
#include "receiving/received_file.h"
#include "settings/settings.h"

namespace kv {

class TKvComPort;
class TTable;

// A fax that ended in the receive directory, as its row records it.
struct ReceivedFax {
  std::string file;   // full path
  std::string from;   // the caller's station identifier, without padding
  int pages = 0;      // pages in the file
  std::string notes;  // empty for a complete fax
  bool complete = true;
  QDateTime when;  // when it came; invalid for now
};

// What a failed call leaves behind: the engine closes the page it was receiving into the file,
// so the last page is cut off when the call failed while page data was still coming.
struct PartialFax {
  int pagesInFile = 0;
  bool lastPageCut = false;
  // Keep the file (and record it) when any page arrived; a file without pages is deleted.
  bool keep() const { return pagesInFile > 0; }
  // The row's notes: why the fax is incomplete, within the column's 60 characters.
  std::string notes(const std::string &reason) const;
};
PartialFax judgePartialFax(int pagesInFile, int progressAtFailure);

// The status line text of a receiver's state: its progress text, with the caller and the page
// once the caller is known.
std::string receiveStatusText(int progressCode, const std::string &partnerId, int page);

// The receiver's modem initialisation string from the settings: used as it is when it holds
// "AT" in any case, else with "AT" put in front; empty stays empty.
std::string receiveInitString(const std::string &initString);

// Sets up the port of receive mode: port 1, 8192-byte buffers, RTS/CTS, buffer marks 7372 and
// 819, tracing and logging into KRVRECV.TRC and KRVRECV.LOG of `programDir` (ending in a
// separator). The port stays closed.
void PrepareReceivePort(TKvComPort &port, const std::string &programDir);

// Why a receive failed, as a row's notes say it after "Incomplete: ". 0 (no reason known) is
// "Unknown error".
std::string receiveFailureReason(Result code);

// Appends the row of a received fax: date and time (of now unless the fax says), FROM, PAGES,
// FAXFILE (name only), NOTES. False when the table refused it.
bool AppendReceivedRow(TTable &table, const ReceivedFax &fax);

class TReceiveModeCore {
 public:
  // `port` is the program's receive port (prepared by the caller); `table` the received-fax
  // table; `receiveDir` the directory received files go into.
  TReceiveModeCore(TKvComPort &port, TTable &table, const std::string &receiveDir);
  ~TReceiveModeCore();
  TReceiveModeCore(const TReceiveModeCore &) = delete;
  TReceiveModeCore &operator=(const TReceiveModeCore &) = delete;

  TKvReceiveFax KvReceiveFax1;

  bool ReceiveMode = false;
  bool FaxInProgress = false;
  std::uint16_t PagesReceived = 0;
  int LastFaxError = 0;

  // --- Front end ------------------------------------------------------------------------------
  std::function<void(const std::string &)> ShowStatus;   // status line text
  std::function<void()> ProcessEvents;                   // let pending events run
  std::function<void(const std::string &)> Inform;       // an information box (CR breaks)
  std::function<void(const ReceivedFax &)> FaxRecorded;  // a row was appended, marked unread
  // The receiver ended by itself (a device that has gone, or --once), not by StopReceiving.
  std::function<void(Result)> SessionFinished;
  std::function<void(bool first, bool last)> StatusShown;  // after UpdateValues

  // Sets the receiver and the port up from the settings and starts waiting for calls: the
  // receive folder checked (made when missing), faxes a stopped receiver left there taken into
  // the table (Inform says which), then port number, fax class, station id, answer ring, init
  // string; open, reset string, BeginReceive. False with the message to show when it could not
  // start; the port is closed again then.
  bool StartReceiving(const Settings &settings, std::string &message);
  // Aborts the session, sends the after-reset string and closes the port. Never throws.
  void StopReceiving(const Settings &settings);

  // Writes the receiver's state into the status line; answers the text.
  std::string UpdateValues();

 private:
  void FaxAccept(bool &accept);
  void FaxStatus(bool first, bool last);
  void FaxLog(TFaxLogCode code);
  void FaxError(Result code);
  void CallNotAnswered(const std::string &why);
  void recordComplete(const std::string &file, const std::string &from);
  void recordFailure(const std::string &file, const std::string &from, int progress, int error);
  // Keeps the readable pages of a fax that did not come whole in a row saying why, or removes
  // a file without any; tells the user either way.
  void recordIncomplete(const std::string &file, const std::string &from, int progress,
                        const std::string &reason, const ReadBack &rb);
  // Marks the fax unread and hands it to the front end.
  void recorded(const ReceivedFax &fax);
  void status(const std::string &text);

  TKvComPort &port_;
  TTable &table_;
  bool stopping_ = false;
  int progressBeforeStop_ = 0;  // the last progress shown that was not the stop
  // Work posted by the handlers is dropped once the component is gone.
  std::shared_ptr<TReceiveModeCore *> self_;
};

}  // namespace kv
