#include "compose/fax_row.h"

#include <QCoreApplication>

#include "app/codepage_fit.h"
#include "app/fax_tables.h"
#include "base/dial_string.h"
#include "richtext/rich_document.h"
#include "richtext/rich_edit.h"

namespace kv {

QTextCharFormat DefaultFontFormat(const Settings &s) {
  QTextCharFormat f;
  f.setFontFamilies({QString::fromStdString(s.fontName)});
  f.setFontPointSize(s.fontSize > 0 ? s.fontSize : 10);
  f.setFontWeight(s.fontBold ? QFont::Bold : QFont::Normal);
  f.setFontItalic(s.fontItalic);
  f.setFontUnderline(s.fontUnderline);
  return f;
}

MergeValues SenderMergeValues(const Settings &settings) {
  MergeValues v;
  v.senderName = QString::fromStdString(settings.userName).trimmed();
  v.senderFax = QString::fromStdString(settings.userFax).trimmed();
  return v;
}

TRichTextIO::TRichTextIO(TRichEdit &editor) : doc_(*editor.Document()), editor_(&editor) {}

void TRichTextIO::Clear() {
  if (editor_)
    editor_->Clear();
  else
    doc_.Clear();
}

bool TRichTextIO::LoadRtf(const QByteArray &rtf) {
  return editor_ ? editor_->LoadRtf(rtf) : doc_.LoadRtf(rtf);
}

QByteArray TRichTextIO::SaveRtf() const {
  return editor_ ? editor_->SaveRtf() : doc_.SaveRtf();
}

void TRichTextIO::Repaint() {
  if (editor_) editor_->Repaint();
}

void ApplyDefaultFont(TRichDocument &doc, const Settings &settings) {
  QTextCursor cursor(&doc);
  cursor.setBlockCharFormat(DefaultFontFormat(settings));
  cursor.setCharFormat(DefaultFontFormat(settings));
}

void ApplyDefaultFont(TRichEdit &editor, const Settings &settings) {
  editor.SetCaretAttributes(DefaultFontFormat(settings));
}

bool CheckFaxNumber(const QString &number, QString &reason) {
  if (number.trimmed().isEmpty()) return true;
  DialString dial;
  std::string why;
  if (DialString::parse(number.toStdString(), dial, why) == ecOK) return true;
  reason = QString::fromStdString(why);
  return false;
}

bool WriteFaxRow(TFaxRecords &records, const IRichTextControl &cover,
                 const IRichTextControl &document, const FaxRowText &text, bool append,
                 QString &error) {
  TTable &table = records.FaxTable;
  auto fail = [&](const QString &why) {
    error = QStringLiteral("The fax could not be saved in %1: %2")
                .arg(table.FilePath(), why.isEmpty() ? QStringLiteral("write failed") : why);
    table.Cancel();
    return false;
  };
  if (!table.Active()) return fail("the table is not open");
  // A row is dialled as it stands, also by other programs: what cannot be dialled stays out.
  if (QString why; !CheckFaxNumber(text.phone, why)) {
    error = QStringLiteral("The fax could not be saved in %1: %2").arg(table.FilePath(), why);
    return false;
  }
  if (!(append ? table.Append() : table.Edit())) return fail(table.LastError());
  QCoreApplication::processEvents();
  auto put = [&](const char *field, const QString &value, int width) {
    return table.FieldByName(field)->SetAsString(FitToCp1252(value).left(width));
  };
  if (!SaveRichText(cover, "RTFCOVER", records.FaxApollo) ||
      !SaveRichText(document, "RTFDOC", records.FaxApollo) ||
      !put("RECIPIENT", text.recipient, kRecipientLength) ||
      !put("SUBJECT", text.subject, kSubjectLength) ||
      !put("PHONE", text.phone, kFaxNumberLength) || !table.Post())
    return fail(table.LastError());
  return true;
}

}  // namespace kv
