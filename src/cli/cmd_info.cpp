// korvane-fax info: the main header of an APF file and, per page, its flags, resolution, width
// and the number of lines it decodes to.
#include <cstdio>
#include <ctime>
#include <ostream>

#include "base/printable_text.h"
#include "cli/command.h"
#include "faximage/apf_file.h"

namespace kv::cli {

namespace {

int runInfo(const Args &args, Context &ctx) {
  const std::string &path = args.positional()[0];
  ApfReader reader;
  if (Result r = reader.open(path); r < 0) return fail(ctx, "info", r, path);
  const ApfMainHeader &h = reader.header();
  char date[64] = "none";
  std::tm t{};
  if (unpackDosDateTime(h.faxDateTime, t))
    std::snprintf(date, sizeof date, "%04d-%02d-%02d %02d:%02d:%02d", t.tm_year + 1900,
                  t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
  // The sender id is whatever the far end sent.
  ctx.out << "File:       " << path << "\n"
          << "Sender id:  \"" << PrintableCp1252(h.senderId, true) << "\"\n"
          << "Date:       " << date << "\n"
          << "Pages:      " << h.pageCount << "\n";
  if (h.pageCount == 0) return exitOk;
  ctx.out << "\nPage  Flags   Resolution  Width  Lines   Bytes\n";
  for (int n = 1; n <= h.pageCount; ++n) {
    ApfPageLocation loc;
    Result r = reader.locatePage(n, loc);
    if (r < 0) return fail(ctx, "info", r, path + ", page " + std::to_string(n));
    long lines = 0;
    r = decodeApfPage(reader, loc, [&](const std::uint8_t *, std::size_t) { ++lines; });
    char row[96];
    std::snprintf(row, sizeof row, "%4d  0x%04X  %-10s  %5d  %5ld  %6u\n", n, loc.header.imageFlags,
                  loc.header.highResolution() ? "fine" : "normal", loc.header.widthPixels(), lines,
                  static_cast<unsigned>(loc.header.imageLength));
    ctx.out << row;
    if (r < 0) return fail(ctx, "info", r, path + ", page " + std::to_string(n));
  }
  return exitOk;
}

}  // namespace

Command infoCommand() {
  Command c;
  c.name = "info";
  c.synopsis = "FILE.APF";
  c.summary = "show the header and pages of an APF fax file";
  c.description =
      "Prints the sender id, date and page count of FILE.APF, then for each page its flags,\n"
      "resolution, line width, the number of lines it decodes to and its size in bytes.";
  c.run = runInfo;
  c.minPositional = c.maxPositional = 1;
  return c;
}

}  // namespace kv::cli
