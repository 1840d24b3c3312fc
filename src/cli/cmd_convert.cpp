// korvane-fax convert: turns a text file, a BMP, TIFF, PCX or DCX image, or a PDF document into
// an APF fax file.
#include <unistd.h>
#include <algorithm>
#include <cctype>
#include <filesystem>
#include <ostream>

#include "base/temp_file_cleanup.h"
#include "cli/command.h"
#include "faximage/apf_file.h"
#include "faximage/converter.h"
#include "pdfpages/pdf_fax.h"

namespace kv::cli {

namespace {

// PDF documents go their own way (drawn by the PDF renderer); they have no converter type.
bool isPdfName(const std::string &s) {
  std::string e = s;
  std::transform(e.begin(), e.end(), e.begin(), [](unsigned char ch) { return std::tolower(ch); });
  return e == "pdf";
}

bool typeFromName(const std::string &s, TFaxInputDocumentType &t) {
  std::string e = s;
  std::transform(e.begin(), e.end(), e.begin(), [](unsigned char ch) { return std::tolower(ch); });
  if (e == "text" || e == "txt")
    t = idText;
  else if (e == "bmp")
    t = idBmp;
  else if (e == "tiff" || e == "tif")
    t = idTiff;
  else if (e == "pcx")
    t = idPcx;
  else if (e == "dcx")
    t = idDcx;
  else
    return false;
  return true;
}

int printPages(Context &ctx, const std::string &out) {
  ApfReader check;
  int pages = 0;
  if (check.open(out) == ecOK) pages = check.header().pageCount;
  ctx.out << out << ": " << pages << " page(s)\n";
  return exitOk;
}

int runConvertPdf(const Args &args, Context &ctx, const std::string &in) {
  if (args.has("wide") || args.has("left-margin"))
    return usageError(ctx, "convert", "--wide and --left-margin do not apply to PDF documents");
  PdfFaxOptions options;
  options.fine = !args.has("normal");
  if (auto s = args.value("station")) options.stationId = *s;
  const bool tty = isatty(STDERR_FILENO);
  if (tty)
    options.progress = [&ctx](int page, int pages) {
      ctx.err << "\rconverting page " << page << " of " << pages << std::flush;
      return true;
    };
  const std::string out = args.value("output") ? *args.value("output") : DefaultPdfFaxName(in);
  TempFileSignalCleanup cleanup;
  std::string problem;
  const Result r = ConvertPdfToApf(in, out, options, problem);
  if (tty) ctx.err << "\n";
  if (r < 0) return fail(ctx, "convert", r, in, problem);
  return printPages(ctx, out);
}

int runConvert(const Args &args, Context &ctx) {
  const std::string &in = args.positional()[0];
  TFaxInputDocumentType type = idNone;
  if (args.has("fine") && args.has("normal"))
    return usageError(ctx, "convert", "--fine and --normal exclude each other");
  if (auto t = args.value("type")) {
    if (isPdfName(*t)) return runConvertPdf(args, ctx, in);
    if (!typeFromName(*t, type)) return usageError(ctx, "convert", "unknown type '" + *t + "'");
  } else {
    std::string ext = std::filesystem::path(in).extension().string();
    if (!ext.empty()) ext.erase(0, 1);
    if (isPdfName(ext)) return runConvertPdf(args, ctx, in);
    if (!typeFromName(ext, type))
      return usageError(ctx, "convert",
                        "cannot tell the type of '" + in + "' from its name; use --type");
  }

  TKvFaxConverter c;
  c.setInputDocumentType(type);
  c.setDocumentFile(in);
  if (auto o = args.value("output")) c.setOutFileName(*o);
  c.setResolution(args.has("normal") ? frNormal : frHigh);
  if (args.has("wide")) c.setWidth(fwWide);
  if (auto m = args.value("left-margin")) {
    int v = 0;
    if (!parseInt(*m, 0, 2047, v))
      return usageError(ctx, "convert", "bad left margin '" + *m + "'");
    c.setLeftMargin(v);
  }
  if (auto s = args.value("station")) c.setStationID(*s);

  // Progress on a terminal: the page being converted.
  const bool tty = isatty(STDERR_FILENO);
  int shownPage = 0;
  c.OnStatus = [&](TKvCustomFaxConverter &, bool, bool ending, int page, int, std::int64_t,
                   std::int64_t, bool &) {
    if (!tty) return;
    if (ending) {
      if (shownPage) ctx.err << "\n";
    } else if (page != shownPage && page > 0) {
      shownPage = page;
      ctx.err << "\rconverting page " << page << std::flush;
    }
  };
  const std::string out = c.resolvedOutputName();
  // Interrupted, the half-written fax goes with us.
  TempFileSignalCleanup cleanup;
  if (Result r = c.convert(); r < 0) {
    if (tty && shownPage) ctx.err << "\n";
    return fail(ctx, "convert", r, c.ErrorFile().empty() ? in : c.ErrorFile(), c.ErrorReason());
  }
  return printPages(ctx, out);
}

}  // namespace

Command convertCommand() {
  Command c;
  c.name = "convert";
  c.synopsis =
      "INPUT [-o OUT.APF] [--type text|bmp|tiff|pcx|dcx|pdf] [--fine|--normal] [--wide] "
      "[--left-margin N] [--station ID]";
  c.summary = "convert a text file, image or PDF document to an APF fax file";
  c.description =
      "Converts INPUT to an APF fax file, by default named like INPUT with the extension .APF.\n"
      "The input type comes from the file's extension unless --type is given. Pages are coded\n"
      "at fine resolution unless --normal is given. Each page of a PDF document becomes a fax\n"
      "page, scaled to the fax width (landscape pages turned upright); text and lines are\n"
      "kept sharp and pictures dithered. Password-protected, damaged and incomplete PDF\n"
      "documents are refused.";
  c.options = {
      {"output", 'o', "OUT.APF", "name of the fax file to write"},
      {"type", 't', "TYPE", "text, bmp, tiff, pcx, dcx or pdf"},
      {"fine", 0, "", "fine resolution, about 196 lines per inch (default)"},
      {"normal", 0, "", "normal resolution, about 98 lines per inch"},
      {"wide", 0, "", "wide pages of 2048 pixels instead of 1728"},
      {"left-margin", 0, "N", "left margin in pixels (default 50)"},
      {"station", 's', "ID", "sender's station id (at most 20 characters)"},
  };
  c.run = runConvert;
  c.minPositional = c.maxPositional = 1;
  return c;
}

}  // namespace kv::cli
