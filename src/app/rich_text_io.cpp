#include "app/rich_text_io.h"

#include "app/storage/tapollo.h"
#include "richtext/rich_edit.h"

namespace kv {
namespace {

class RichEditControl : public IRichTextControl {
 public:
  explicit RichEditControl(TRichEdit &edit) : edit_(edit) {}
  void Clear() override { edit_.Clear(); }
  bool LoadRtf(const QByteArray &rtf) override { return edit_.LoadRtf(rtf); }
  QByteArray SaveRtf() const override { return edit_.SaveRtf(); }
  void Repaint() override { edit_.Repaint(); }

 private:
  TRichEdit &edit_;
};

}  // namespace

bool LoadRichText(TRichEdit &control, const QString &field, TApollo &apollo) {
  RichEditControl c(control);
  return LoadRichText(static_cast<IRichTextControl &>(c), field, apollo);
}

bool SaveRichText(const TRichEdit &control, const QString &field, TApollo &apollo) {
  RichEditControl c(const_cast<TRichEdit &>(control));
  return SaveRichText(static_cast<const IRichTextControl &>(c), field, apollo);
}

bool LoadRichText(IRichTextControl &control, const QString &field, TApollo &apollo) {
  control.Clear();
  TTable *table = apollo.DataSource;
  if (!table || !table->Active()) return false;
  TField *memo = table->FieldByName(field);
  if (!memo || memo->DataType() != TFieldType::ftMemo) return false;
  if (table->RecNo() == table->RecCount() + 1) return false;
  const QByteArray rtf = memo->AsBytes();
  if (rtf.isEmpty()) return true;  // never written: an empty control is the right content
  const bool ok = control.LoadRtf(rtf);
  if (!ok) control.Clear();
  control.Repaint();
  return ok;
}

bool SaveRichText(const IRichTextControl &control, const QString &field, TApollo &apollo) {
  TTable *table = apollo.DataSource;
  if (!table || !table->Active()) return false;
  TField *memo = table->FieldByName(field);
  if (!memo || memo->DataType() != TFieldType::ftMemo) return false;
  const QByteArray rtf = control.SaveRtf();
  const TDataSetState state = table->State();
  if (state == TDataSetState::dsEdit || state == TDataSetState::dsInsert)
    return memo->SetAsBytes(rtf);
  // Browsing: write the current row now, as a direct replace of the memo would.
  if (table->RecNo() == table->RecCount() + 1) return false;
  if (!table->Edit()) return false;
  if (!memo->SetAsBytes(rtf) || !table->Post()) {
    table->Cancel();
    return false;
  }
  return true;
}

}  // namespace kv
