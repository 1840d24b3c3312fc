#pragma once
// Exports the pages of an APF file for mail and archives: a PDF with one page per fax page at
// the fax's true size, each page image stored losslessly as CCITT Group 4, or a multi-page
// TIFF Class F (CCITT Group 3, one directory per page) as fax programs exchange them.
#include <functional>
#include <string>

#include "base/result_codes.h"

namespace kv {

// Called before each page: page number (1-based), page count.
using ExportProgress = std::function<void(int page, int pageCount)>;

// The file is written beside its destination and moved into place once complete, so a
// failure leaves no partial file (and an older file of that name untouched); the input itself,
// a file this user may not write and a directory are refused. `error` says what went wrong,
// naming the file: a page that does not decode, or a file that cannot be written.
Result ExportApfToPdf(const std::string &in, const std::string &out, std::string &error,
                      const ExportProgress &progress = {});
Result ExportApfToTiff(const std::string &in, const std::string &out, std::string &error,
                       const ExportProgress &progress = {});
// Whether the name ends in .pdf, .tif or .tiff (any case), the names an export can write.
bool IsExportName(const std::string &out);
// By the output's extension: .pdf, .tif or .tiff (any case); anything else is ecBadArgument.
Result ExportApf(const std::string &in, const std::string &out, std::string &error,
                 const ExportProgress &progress = {});

}  // namespace kv
