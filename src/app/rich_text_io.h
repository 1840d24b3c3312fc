#pragma once
// Rich text (cover sheets and documents) is kept as RTF in memo fields. These move the RTF
// bytes between a memo of the current row and a rich-text control.
#include <QByteArray>
#include <QString>

namespace kv {

class TApollo;
class TRichEdit;

// What the record layer needs of a rich-text control.
class IRichTextControl {
 public:
  virtual ~IRichTextControl() = default;
  virtual void Clear() = 0;
  // Replaces the content with the RTF document; false when it cannot be read.
  virtual bool LoadRtf(const QByteArray &rtf) = 0;
  virtual QByteArray SaveRtf() const = 0;
  virtual void Repaint() = 0;
};

// Clears the control, then loads the memo of the current row into it. A memo that was never
// written leaves the control empty. False when the memo could not be read or is not RTF the
// control accepts (the control is then empty).
bool LoadRichText(IRichTextControl &control, const QString &field, TApollo &apollo);

// Stores the control's content as RTF in the memo of the current row. While the row is being
// appended or edited the memo goes with the pending post; otherwise the row is written at once.
// False (nothing written) when the dataset has no current row or the write fails.
bool SaveRichText(const IRichTextControl &control, const QString &field, TApollo &apollo);

// The same for the program's word-processor control.
bool LoadRichText(TRichEdit &control, const QString &field, TApollo &apollo);
bool SaveRichText(const TRichEdit &control, const QString &field, TApollo &apollo);

}  // namespace kv
