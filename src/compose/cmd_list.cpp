// korvane-fax list: the rows of the sent-fax or received-fax table, in the order and with the
// columns and cell texts of the main window's lists.
#include <QFileInfo>
#include <algorithm>
#include <ostream>

#include "app/fax_tables.h"
#include "app/program_dir.h"
#include "app/table_model.h"
#include "base/printable_text.h"
#include "compose/cmd_common.h"
#include "compose/record_commands.h"

namespace kv::cli {
namespace {

int runList(const Args &args, Context &ctx) {
  if (!UseProgramDir(args, ctx, "list")) return exitFailed;
  const bool received = args.has("received");
  const QString file = received ? "KRVREC.DBF" : "KRV.DBF";
  // Listing never creates the tables: a wrong directory is reported, not filled.
  if (!QFileInfo::exists(ProgramDir() + file)) {
    ctx.err << "korvane-fax list: " << Utf8(ProgramDir() + file) << ": no such table\n";
    return exitFailed;
  }
  TFaxRecords records;
  TTable &table = received ? records.RecTable : records.FaxTable;
  TApollo &apollo = received ? records.RecApollo : records.FaxApollo;
  if (!(received ? records.OpenRecFaxDBF() : records.OpenFaxDBF()))
    return TableFailure(ctx, "list", table);
  ReportRepairs(ctx, "list", table);
  TFaxRecords::FollowRows(table, apollo, received ? "DATETIME" : "DATESENT");

  const std::span<const TableColumn> columns = received
                                                   ? std::span<const TableColumn>(kRecFaxColumns)
                                                   : std::span<const TableColumn>(kFaxColumns);
  std::vector<std::vector<QString>> cells(1);
  for (const TableColumn &c : columns) cells[0].push_back(QString::fromUtf8(c.label));
  const int rows = table.RowCount();
  for (int r = 0; r < rows; ++r) {
    std::vector<QString> line;
    // Rows may come from other programs: what a terminal would act on is shown, not sent.
    for (const TableColumn &c : columns)
      line.push_back(QString::fromStdString(
          PrintableText(ListCellValue(table, r, c).toString().toStdU32String())));
    cells.push_back(std::move(line));
  }
  std::vector<qsizetype> width(columns.size(), 0);
  for (const auto &line : cells)
    for (size_t i = 0; i < line.size(); ++i) width[i] = std::max(width[i], line[i].size());
  for (const auto &line : cells) {
    QString out;
    for (size_t i = 0; i < line.size(); ++i) {
      const bool last = i + 1 == line.size();
      const QString cell = columns[i].numeric ? line[i].rightJustified(width[i])
                                              : (last ? line[i] : line[i].leftJustified(width[i]));
      out += cell + (last ? "" : "  ");
    }
    while (out.endsWith(' ')) out.chop(1);
    ctx.out << Utf8(out) << "\n";
  }
  return exitOk;
}

}  // namespace

Command listCommand() {
  Command c;
  c.name = "list";
  c.synopsis = "[--program-dir DIR] [--received]";
  c.summary = "list the sent (or received) faxes of the program's tables";
  c.description =
      "Prints the rows of the sent-fax table KRV.DBF (with --received: KRVREC.DBF) in the\n"
      "program directory as the main window lists them: newest first, faxes not yet sent last,\n"
      "one line per fax under a line of column titles. Control characters in the texts are\n"
      "shown as \\xHH. A table whose header lost count of rows is mended as it is opened, and\n"
      "a line on stderr says what was restored or cut.";
  c.options = {
      {"program-dir", 0, "DIR", "directory of the tables (default: the program's directory)"},
      {"received", 0, "", "list the received faxes instead"}};
  c.run = runList;
  return c;
}

}  // namespace kv::cli
