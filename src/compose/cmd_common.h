#pragma once
// What the record subcommands share: the program directory they work in and the message for
// a table that cannot be opened.
#include <QString>
#include <string>

#include "cli/command.h"

namespace kv {
class TTable;
}

namespace kv::cli {

// --program-dir DIR, else the current directory; it must exist.
bool UseProgramDir(const Args &args, Context &ctx, const std::string &command);
// "korvane-fax <command>: <file>: <why>"; answers exitFailed.
int TableFailure(Context &ctx, const std::string &command, const TTable &table);
// What opening `table` mended (rows restored, a count cut), on stderr as one line naming the
// file, as the window tells it; nothing when the table was in order.
void ReportRepairs(Context &ctx, const std::string &command, const TTable &table);
std::string Utf8(const QString &s);

}  // namespace kv::cli
