#pragma once
// A PDF document converted into an APF fax file, one fax page per PDF page. The command line's
// convert, the fax editor's attached PDF and the sending of a row share this.
#include <functional>
#include <string>

#include "base/result_codes.h"

namespace kv {

struct PdfFaxOptions {
  bool fine = true;
  std::string stationId;
  // Told before each page is drawn (1-based) with the page count; answering false stops the
  // conversion (ecConvertAbort).
  std::function<bool(int page, int pages)> progress;
};

// Converts `pdfPath` into `apfPath`. On failure nothing is written (an existing file of that
// name stays as it was) and `problem` says why.
Result ConvertPdfToApf(const std::string &pdfPath, const std::string &apfPath,
                       const PdfFaxOptions &options, std::string &problem);

// The name a converted PDF gets by default: the same name with the extension ".APF".
std::string DefaultPdfFaxName(const std::string &pdfPath);

}  // namespace kv
