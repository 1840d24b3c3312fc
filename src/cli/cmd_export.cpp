// korvane-fax export: an APF file as a PDF (Group 4 page images) or a TIFF Class F file.
#include <filesystem>
#include <ostream>

#include "base/temp_file_cleanup.h"
#include "cli/command.h"
#include "faximage/apf_export.h"

namespace kv::cli {

namespace {

int runExport(const Args &args, Context &ctx) {
  const std::string &in = args.positional()[0];
  const auto out = args.value("output");
  if (!out || out->empty())
    return usageError(ctx, "export", "an output file (-o OUT.pdf) is needed");
  if (!IsExportName(*out))
    return usageError(ctx, "export", "the output must end in .pdf, .tif or .tiff: " + *out);
  // Interrupted, the unfinished file goes with us.
  TempFileSignalCleanup cleanup;
  int pages = 0;
  std::string error;
  const Result r = ExportApf(in, *out, error, [&](int page, int count) {
    pages = count;
    if (args.has("verbose")) ctx.err << "page " << page << " of " << count << "\n";
  });
  if (r < 0) {
    ctx.err << "korvane-fax export: " << error << "\n";
    return exitFailed;
  }
  std::error_code ec;
  const auto size = std::filesystem::file_size(*out, ec);
  const auto apf = std::filesystem::file_size(in, ec);
  ctx.out << *out << ": " << pages << " page(s), " << size << " bytes ("
          << size / std::max(pages, 1) << " a page; " << in << " has " << apf << " bytes)\n";
  return exitOk;
}

}  // namespace

Command exportCommand() {
  Command c;
  c.name = "export";
  c.synopsis = "IN.APF -o OUT.pdf|OUT.tif";
  c.summary = "save an APF file as a PDF or a TIFF fax file";
  c.description =
      "Writes every page of IN.APF into OUT. A .pdf file gets one page per fax page at the\n"
      "fax's true size, each page image kept losslessly in CCITT Group 4. A .tif or .tiff file\n"
      "is a multi-page TIFF Class F (CCITT Group 3, 204 x 98 or 204 x 196 dots per inch), as fax\n"
      "programs and image viewers read it. Nothing is written when a page cannot be read.";
  c.options = {
      {"output", 'o', "FILE", "the file to write; its extension chooses PDF or TIFF"},
      {"verbose", 'v', "", "report each page on stderr"},
  };
  c.run = runExport;
  c.minPositional = c.maxPositional = 1;
  return c;
}

}  // namespace kv::cli
