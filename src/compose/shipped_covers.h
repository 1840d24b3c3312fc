#pragma once
// The cover sheet templates shipped with the program (covers/ beside it in a build folder, else
// in the installation's share/korvane): a plain one and a formal one, both with every merge
// field. A new program directory starts with them in its template table.
#include <QString>
#include <QStringList>

namespace kv {

class TFaxRecords;

// The descriptions of the shipped templates, in the order they are added.
QStringList ShippedCoverDescriptions();

// On a program directory without a template table: makes KRVCOV.DBF and adds the shipped
// templates (those whose files are missing are left out and named in `error`). A directory that
// has the table keeps it as it is. False with `error` naming the file and the reason when the
// table cannot be made or written.
bool AddShippedCovers(TFaxRecords &records, QString &error);

}  // namespace kv
