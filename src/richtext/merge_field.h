#pragma once
// Merge fields: inline objects of a document that stand for one piece of recipient data
// (field number 1 to 8) and show their label, e.g. "[RECIPIENT]", in red until they are
// filled in. A cover sheet keeps its fields; they are filled when the fax is drawn, from the
// row as it is then.
//
// In RTF a merge field is written as
//   {\field{\*\fldinst  MERGEFIELD F<n> }{\fldrslt <label>}}
// so that other word processors show the label, and read back as a merge field with that
// number and label. Other fields are read as their result text.
#include <QDateTime>
#include <QLocale>
#include <QObject>
#include <QString>
#include <QTextCharFormat>
#include <QTextObjectInterface>

class QTextDocument;

namespace kv {

inline constexpr int kMergeFieldObject = QTextFormat::UserObject + 1;
inline constexpr int kMergeFieldNumberProperty = QTextFormat::UserProperty + 0x200;
inline constexpr int kMergeFieldLabelProperty = QTextFormat::UserProperty + 0x201;

// The fields the program fills: 1 recipient, 2 fax number, 3 subject, 4 date, 5 time, 6 the
// sender's name, 7 the sender's fax number, 8 the number of pages of the fax.
inline constexpr int kMergeFieldCount = 8;
// "[RECIPIENT]", "[FAX#]", "[SUBJECT]", "[DATE]", "[TIME]", "[SENDER]", "[SENDER FAX#]",
// "[PAGES]"; empty for other numbers.
QString MergeFieldLabel(int number);
// The caption of the field in the template editor's Insert menu ("Recipient", ...).
QString MergeFieldCaption(int number);

// A merge text is cut at this many characters.
inline constexpr int kMergeTextLength = 100;

struct MergeValues {
  QString recipient, faxNumber, subject;
  QDateTime when;  // the drawing of the fax
  QString senderName, senderFax;
  int pageCount = 0;  // pages of the whole fax, cover included
};

// The text of merge field `number` (4 date in the locale's short date format, 5 time in its
// long time format without zone); "" for other numbers.
QString MergeFieldValue(int number, const MergeValues &values, const QLocale &locale = QLocale());

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
