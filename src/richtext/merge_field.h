#pragma once
// Merge fields: inline objects of a document that stand for one piece of recipient data
// (field number 1 to 5) and show their label, e.g. "[RECIPIENT]", in red until they are
// filled in.
//
// In RTF a merge field is written as
//   {\field{\*\fldinst  MERGEFIELD F<n> }{\fldrslt <label>}}
// so that other word processors show the label, and read back as a merge field with that
// number and label. Other fields are read as their result text.
#include <QObject>
#include <QString>
#include <QTextCharFormat>
#include <QTextObjectInterface>

class QTextDocument;

namespace kv {

inline constexpr int kMergeFieldObject = QTextFormat::UserObject + 1;
inline constexpr int kMergeFieldNumberProperty = QTextFormat::UserProperty + 0x200;
inline constexpr int kMergeFieldLabelProperty = QTextFormat::UserProperty + 0x201;

// The five fields the program fills: 1 recipient, 2 fax number, 3 subject, 4 date, 5 time.
inline constexpr int kMergeFieldCount = 5;
// "[RECIPIENT]", "[FAX#]", "[SUBJECT]", "[DATE]", "[TIME]"; empty for other numbers.
QString MergeFieldLabel(int number);

// The character format of a merge field on top of the text format `base`.
QTextCharFormat MergeFieldFormat(const QTextCharFormat &base, int number, const QString &label);
bool IsMergeField(const QTextFormat &format);
int MergeFieldNumber(const QTextFormat &format);
QString MergeFieldText(const QTextFormat &format);

// The instruction text of a merge field ("MERGEFIELD F<n>"), and its reading: the number, or 0
// when `instruction` is no merge field of ours.
QString MergeFieldInstruction(int number);
int ParseMergeFieldInstruction(const QString &instruction);

// Lays out and draws merge fields in one document: the label in the field's font, in red.
class MergeFieldHandler : public QObject, public QTextObjectInterface {
  Q_OBJECT
  Q_INTERFACES(QTextObjectInterface)
 public:
  explicit MergeFieldHandler(QObject *parent = nullptr) : QObject(parent) {}
  QSizeF intrinsicSize(QTextDocument *doc, int posInDocument, const QTextFormat &format) override;
  void drawObject(QPainter *painter, const QRectF &rect, QTextDocument *doc, int posInDocument,
                  const QTextFormat &format) override;

  // Registers a handler with the document's current layout (again after a layout change).
  static void install(QTextDocument *doc);
};

}  // namespace kv
