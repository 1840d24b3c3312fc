#pragma once
// What the fax editor and `korvane-fax compose` share: the texts the five merge fields of a
// cover template are filled with, the rich-text content of a document as the record layer
// sees it, and the writing of a composed fax into a row of the sent-fax table.
#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QTextCharFormat>

#include "app/rich_text_io.h"
#include "richtext/merge_field.h"
#include "settings/settings.h"

namespace kv {

class TFaxRecords;
class TRichDocument;
class TRichEdit;

// Widths of the sent-fax table's text fields, which are also the limits of the editor's edits.
inline constexpr int kRecipientLength = 35;
inline constexpr int kFaxNumberLength = 25;
inline constexpr int kSubjectLength = 50;
// The sender's part of the merge values: name and fax number from the preferences.
MergeValues SenderMergeValues(const Settings &settings);

// The record layer's view of a rich-text document (and of the editor showing it, which is
// repainted after a load).
class TRichTextIO : public IRichTextControl {
 public:
  explicit TRichTextIO(TRichDocument &doc, TRichEdit *editor = nullptr)
      : doc_(doc), editor_(editor) {}
  explicit TRichTextIO(TRichEdit &editor);
  void Clear() override;
  bool LoadRtf(const QByteArray &rtf) override;
  QByteArray SaveRtf() const override;
  void Repaint() override;
  TRichDocument &Document() { return doc_; }

 private:
  TRichDocument &doc_;
  TRichEdit *editor_;
};

// The default font of the settings (name, size, bold, italic, underline) as a text format, and
// as the attributes at the caret of an empty document.
QTextCharFormat DefaultFontFormat(const Settings &settings);
void ApplyDefaultFont(TRichDocument &doc, const Settings &settings);
void ApplyDefaultFont(TRichEdit &editor, const Settings &settings);

struct FaxRowText {
  QString recipient, phone, subject;
};

// A fax number as the editors, compose and the fax printer take it: empty (the row waits for
// one), or a number the modem can dial (see DialString). False with `reason` otherwise.
bool CheckFaxNumber(const QString &number, QString &reason);

// Writes a composed fax into the sent-fax table: a new row (`append`) or the current one,
// the cover and document RTF into RTFCOVER and RTFDOC, the three texts (cut to their fields,
// characters outside Windows-1252 stored as their nearest neighbours) into RECIPIENT, PHONE and
// SUBJECT, and posts. A number that cannot be dialled is refused. False with `error` naming
// the file and the reason when anything fails; the row is then left as it was (no new row).
bool WriteFaxRow(TFaxRecords &records, const IRichTextControl &cover,
                 const IRichTextControl &document, const FaxRowText &text, bool append,
                 QString &error);

}  // namespace kv
