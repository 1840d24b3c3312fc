#pragma once
// A TIFF fax (what fax machines and other fax programs store: one bilevel page per directory,
// usually Group 3 or 4 coded) as an APF file, page for page and row for row.
#include <string>

#include "base/result_codes.h"

namespace kv {

// Pages 1728 pixels wide (or 2048) are kept as they are; narrower ones are padded with white on
// the right, wider ones cut. 150 lines per inch and more count as fine. On failure the output is
// removed and `error` says why.
Result ImportTiffFax(const std::string &in, const std::string &out, std::string &error);

}  // namespace kv
