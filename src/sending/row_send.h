#pragma once
// A row of the sent-fax table on its way out and back: its cover sheet and document rendered
// into one APF file, and the outcome of the send written into it. The main window's Send and
// `korvane-fax send-row` share these, so the row reads the same whichever sent it.
#include <QDateTime>
#include <QString>

#include "richtext/fax_render.h"

namespace kv {

class TApollo;
class TRichTextIO;
class TTable;

// Loads RTFCOVER and RTFDOC of the current row into the two controls and renders them into one
// APF file (answered; "" when both are blank), the cover's merge fields filled from the row,
// the present time and the sender of `ctx.merge`. `pageCount` gets the pages. A memo that cannot
// be read counts as blank. Converter failures are raised as their exceptions.
QString RenderFaxRow(TApollo &apollo, TRichTextIO &cover, TRichTextIO &document,
                     const RenderContext &ctx, int &pageCount);

// The rendered fax of a send, removed when the send is over or a signal ends the process first.
class SentFaxFile {
 public:
  explicit SentFaxFile(const QString &name);
  ~SentFaxFile();
  SentFaxFile(const SentFaxFile &) = delete;
  SentFaxFile &operator=(const SentFaxFile &) = delete;

 private:
  QString name_;
};

// The caption of the send window for the current row: "Send Fax: [RECIPIENT - SUBJECT]".
QString SendCaption(TTable &table);

// Writes the outcome into the current row: PAGES, LASTRESULT, and when the result means sent,
// SENT, DATESENT and TIMESENT ("hh:mm") from `now`; posts. False with `error` when the row
// cannot be written (the edit is then cancelled).
bool WriteSendResult(TTable &table, int pages, const QString &result, const QDateTime &now,
                     QString &error);

}  // namespace kv
