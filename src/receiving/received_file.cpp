#include "receiving/received_file.h"

#include "faximage/apf_file.h"

namespace kv {

ReadBack ReadReceivedFile(const std::string &path) {
  ReadBack rb;
  ApfReader reader;
  if (Result r = reader.open(path); r < 0) {
    rb.error = r;
    return rb;
  }
  rb.claimed = reader.header().pageCount;
  for (int n = 1; n <= rb.claimed; ++n) {
    ApfPageLocation loc;
    Result r = reader.locatePage(n, loc);
    // All of the page's data must be there, also the part of a long record a reader skips.
    if (r >= 0 && loc.dataOffset() + loc.header.imageLength > reader.fileSize()) r = ecFaxBadFormat;
    if (r >= 0) r = reader.readPageData(loc, [](auto, std::uint32_t) { return true; });
    if (r < 0) {
      rb.error = r;
      break;
    }
    rb.pages = n;
  }
  return rb;
}

}  // namespace kv
