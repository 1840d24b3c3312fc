#include "sending/row_send.h"

#include <QFile>

#include "app/rich_text_io.h"
#include "app/storage/tapollo.h"
#include "app/storage/ttable.h"
#include "base/temp_file_cleanup.h"
#include "compose/fax_row.h"
#include "sending/send_options.h"

namespace kv {

QString RenderFaxRow(TApollo &apollo, TRichTextIO &cover, TRichTextIO &document,
                     const RenderContext &ctx, int &pageCount) {
  LoadRichText(cover, QStringLiteral("RTFCOVER"), apollo);
  LoadRichText(document, QStringLiteral("RTFDOC"), apollo);
  // The cover names the row's recipient and subject as they are now, at the time of drawing.
  RenderContext merged = ctx;
  MergeValues values = ctx.merge.value_or(MergeValues{});
  if (TTable *row = apollo.DataSource) {
    auto text = [row](const char *field) {
      const TField *f = row->FieldByName(field);
      return f ? f->AsString().trimmed() : QString();
    };
    values.recipient = text("RECIPIENT");
    values.faxNumber = text("PHONE");
    values.subject = text("SUBJECT");
  }
  values.when = QDateTime::currentDateTime();
  merged.merge = values;
  return RenderFax(cover.Document(), document.Document(), merged, pageCount);
}

SentFaxFile::SentFaxFile(const QString &name) : name_(name) {
  RegisterTempFile(QFile::encodeName(name_).toStdString());
}

SentFaxFile::~SentFaxFile() {
  QFile::remove(name_);
  UnregisterTempFile(QFile::encodeName(name_).toStdString());
}

QString SendCaption(TTable &table) {
  auto text = [&](const char *field) {
    const TField *f = table.FieldByName(field);
    return f ? f->AsString().trimmed() : QString();
  };
  return "Send Fax: [" + text("RECIPIENT") + " - " + text("SUBJECT") + "]";
}

bool WriteSendResult(TTable &table, int pages, const QString &result, const QDateTime &now,
                     QString &error) {
  auto fail = [&](const QString &why) {
    if (table.State() != TDataSetState::dsBrowse) table.Cancel();
    error = why.isEmpty() ? table.FilePath() + ": the row cannot be written" : why;
    return false;
  };
  if (!table.Active() || table.RecNo() == table.RecCount() + 1)
    return fail(table.FilePath() + ": no current row");
  if (!table.Edit()) return fail(table.LastError());
  TField *pagesField = table.FieldByName("PAGES");
  TField *resultField = table.FieldByName("LASTRESULT");
  if (!pagesField || !resultField) return fail(table.FilePath() + ": not a sent-fax table");
  // PAGES holds two digits: a longer fax is stored as 99 rather than losing the whole result.
  bool ok = pagesField->SetAsInteger(std::min(pages, 99)) && resultField->SetAsString(result);
  if (ok && ResultMeansSent(result.toStdString())) {
    TField *sent = table.FieldByName("SENT");
    TField *date = table.FieldByName("DATESENT");
    TField *time = table.FieldByName("TIMESENT");
    ok = sent && date && time && sent->SetAsBoolean(true) && date->SetAsDate(now.date()) &&
         time->SetAsString(now.time().toString("hh:mm"));
  }
  if (!ok || !table.Post()) return fail(table.LastError());
  error.clear();
  return true;
}

}  // namespace kv
