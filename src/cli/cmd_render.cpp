// korvane-fax render: draws a fax's cover sheet and document (RTF files) into one APF file,
// with the same page rendering the main window uses before sending.
#include <cstdio>

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <memory>
#include <ostream>

#include "base/exceptions.h"
#include "base/file_replacement.h"
#include "base/temp_file_cleanup.h"
#include "cli/command.h"
#include "cli/progress_report.h"
#include "richtext/fax_render.h"
#include "richtext/rich_document.h"

namespace kv::cli {

namespace {

bool loadDocument(Context &ctx, const std::optional<std::string> &file, TRichDocument &doc) {
  if (!file) return true;
  QString error;
  if (doc.LoadRtfFile(QString::fromStdString(*file), &error)) {
    if (!error.isEmpty()) ctx.err << *file << ": " << error.toStdString() << "\n";
    return true;
  }
  ctx.err << "korvane-fax render: " << *file << ": " << error.toStdString() << "\n";
  return false;
}

int runRender(const Args &args, Context &ctx) {
  const auto out = args.value("output");
  if (!out) return usageError(ctx, "render", "the output file (-o OUT.APF) is missing");
  // Interrupted, the pages made so far go with us.
  TempFileSignalCleanup cleanup;
  FileReplacement target;
  if (target.prepare(*out, {args.value("cover").value_or(""), args.value("doc").value_or("")}) <
      0) {
    ctx.err << "korvane-fax render: " << *out << ": " << target.problem() << "\n";
    return exitFailed;
  }
  target.removeStaleTemporaries();
  if (!ensureGuiApplication(ctx, "render")) return exitFailed;
  TRichDocument cover, document;
  if (!loadDocument(ctx, args.value("cover"), cover) ||
      !loadDocument(ctx, args.value("doc"), document))
    return exitFailed;

  // The pages are made beside the output, so that the finished file is only renamed into place.
  const QString temp = QFile::decodeName(target.tempName().c_str());
  RenderContext rc;
  rc.programDir = QFileInfo(temp).absolutePath() + QLatin1Char('/');
  ProgressReport progress(ctx.err, args.has("verbose"));
  rc.status = [&progress](const QString &text) { progress(text.toStdString()); };
  int pages = 0;
  QString joined;
  try {
    joined = RenderFax(cover, document, rc, pages);
    progress.finish();
  } catch (const std::exception &e) {
    progress.finish();
    ctx.err << "korvane-fax render: " << e.what() << "\n";
    return exitFailed;
  }
  if (joined.isEmpty()) {
    ctx.err << "Fax has no contents or cover sheet\n";
    return exitFailed;
  }
  if (::rename(QFile::encodeName(joined).constData(), target.tempName().c_str()) != 0) {
    const int e = errno;
    QFile::remove(joined);
    ctx.err << "korvane-fax render: " << *out << ": " << SystemReason(e) << "\n";
    return exitFailed;
  }
  if (target.commit() < 0) {
    ctx.err << "korvane-fax render: " << *out << ": " << target.problem() << "\n";
    return exitFailed;
  }
  ctx.out << *out << ": " << pages << " page(s)\n";
  return exitOk;
}

}  // namespace

Command renderCommand() {
  Command c;
  c.name = "render";
  c.synopsis = "[--cover COVER.rtf] [--doc DOC.rtf] -o OUT.APF";
  c.summary = "draw a cover sheet and a document (RTF) into an APF fax file";
  c.description =
      "Draws the cover sheet, then the document, page by page at 200 dots per inch on the\n"
      "paper each names (Letter, Legal, A4; Letter with half-inch margins when it names none;\n"
      "merge fields as their labels), and writes all pages to OUT.APF (fine resolution). Prints\n"
      "the page count. Fails when both are missing or blank. On a terminal the page being\n"
      "drawn is shown on standard error; --verbose reports each page there on a line of its own.";
  c.options = {
      {"cover", 'c', "COVER.rtf", "the cover sheet"},
      {"doc", 'd', "DOC.rtf", "the fax document"},
      {"output", 'o', "OUT.APF", "the fax file to write"},
      {"verbose", 'v', "", "report each page on stderr"},
  };
  c.run = runRender;
  return c;
}

}  // namespace kv::cli
