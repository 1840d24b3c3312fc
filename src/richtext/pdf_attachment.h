#pragma once
// A PDF document attached to a fax in place of a typed document.
//
// The sent-fax table keeps its fields as they are (so older copies of the program, and any
// xBase reader, still read every table): the attachment travels inside the document's RTF memo
// as an ignorable destination group, {\*\kvpdfattach <file name>}, which every RTF reader skips
// by the rules of RTF. Beside it the memo holds a short text naming the file, which is what a
// reader that does not know the group shows. The file is named by its absolute path and read
// when the fax is rendered; a file moved or deleted by then makes the send fail with that reason.
#include <QByteArray>
#include <QString>

namespace kv {

// The attached file named in `rtf`, or "" when there is none.
QString PdfAttachmentOf(const QByteArray &rtf);

// `rtf` (a whole RTF document) with the attachment group for `path` added before its closing
// brace; `rtf` unchanged when `path` is empty.
QByteArray WithPdfAttachment(const QByteArray &rtf, const QString &path);

// The group itself: path characters outside ASCII as \'hh of their UTF-8 bytes; backslash and
// braces escaped.
QByteArray PdfAttachmentGroup(const QString &path);

}  // namespace kv
