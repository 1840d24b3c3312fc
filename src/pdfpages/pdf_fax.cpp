#include "pdfpages/pdf_fax.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "faximage/converter.h"
#include "faximage/t4_coder.h"
#include "pdfpages/pdf_document.h"

namespace kv {

std::string DefaultPdfFaxName(const std::string &pdfPath) {
  return std::filesystem::path(pdfPath).replace_extension(".APF").string();
}

Result ConvertPdfToApf(const std::string &pdfPath, const std::string &apfPath,
                       const PdfFaxOptions &options, std::string &problem) {
  problem.clear();
  PdfDocument pdf;
  if (Result r = pdf.open(pdfPath); r < 0) {
    problem = pdf.problem();
    return r;
  }

  // The converter pulls lines; pages are drawn one at a time as it reaches them.
  const int pages = pdf.pageCount();
  FaxRaster raster;
  int next = 0, line = 0;
  bool inPage = false, failed = false, stopped = false;

  TKvFaxConverter c;
  c.setInputDocumentType(idUser);
  c.setOutFileName(apfPath);
  c.setResolution(options.fine ? frHigh : frNormal);
  c.setLeftMargin(0);
  c.setOptions(0);
  c.setStationID(options.stationId);
  c.OnReadUserLine = [&](TKvCustomFaxConverter &, std::uint8_t *data, int &len, bool &endOfPage,
                         bool &morePages) {
    if (!inPage) {
      if (options.progress && !options.progress(next + 1, pages))
        stopped = true;
      else if (pdf.renderPage(next, options.fine, kFaxLineNormal, raster) < 0)
        failed = true;
      if (stopped || failed) {
        // The status check that follows ends the conversion and discards the file.
        endOfPage = true;
        len = 0;
        return;
      }
      inPage = true;
      line = 0;
      ++next;
    }
    if (line == raster.lines) {
      // A call that ends a page delivers no line.
      inPage = false;
      endOfPage = true;
      morePages = next < pages;
      len = 0;
      return;
    }
    const int n = std::min<int>(len, static_cast<int>(raster.lineBytes));
    std::memcpy(data, raster.line(line), static_cast<std::size_t>(n));
    len = n;
    ++line;
  };
  c.OnStatus = [&](TKvCustomFaxConverter &, bool, bool, int, int, std::int64_t, std::int64_t,
                   bool &abort) { abort = failed || stopped; };
  Result r = c.convert();
  if (failed) {
    problem = pdf.problem();
    return ecBadGraphicsFormat;
  }
  if (stopped) {
    problem = "stopped";
    return ecConvertAbort;
  }
  if (r < 0) problem = c.ErrorReason();
  return r;
}

}  // namespace kv
