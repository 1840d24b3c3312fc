#pragma once
// The pages of a sent fax as they went out, kept in the folder sent/ beside the tables, so that
// the record of a sent fax shows what the far end got however its cover or document would
// render today. A kept file is named from its row: the record number and a key made of what
// the row says about the send (date and time sent, number, recipient, subject), never from the
// row's text itself.
#include <QString>

namespace kv {

class TTable;

// The folder of kept faxes in `programDir` (which ends with '/').
QString SentFolder(const QString &programDir);

// The name the current row's kept fax has ("12-0123456789abcdef.APF"); "" when the row is not
// marked sent.
QString SentFaxName(TTable &table);

// Keeps `faxFile` as the current row's sent fax, once the row is marked sent (WriteSendResult);
// an earlier kept fax of the row goes. Written through the guarded output path. False with
// `error` naming the file and why.
bool KeepSentFax(TTable &table, const QString &programDir, const QString &faxFile, QString &error);

// The current row's kept fax, or "" when it has none (rows sent before faxes were kept). A row
// that moved to a lower record number (Rebuild Indexes packs the table) is found by its key
// when exactly one kept fax of a higher number has it.
QString KeptSentFax(TTable &table, const QString &programDir);

// Removes the current row's kept fax, if any (its row is being deleted).
void RemoveKeptSentFax(TTable &table, const QString &programDir);

}  // namespace kv
