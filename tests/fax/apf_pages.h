// Every page of an APF file decoded into rows, for comparing with what a far end received.
#pragma once

#include <string>
#include <vector>

#include "../linesim/fax_images.h"
#include "faximage/apf_file.h"

namespace kv::test {

inline std::vector<Bitmap> apfPages(const std::string &path) {
  std::vector<Bitmap> pages;
  ApfReader r;
  if (r.open(path) < 0) return pages;
  for (int n = 1; n <= r.header().pageCount; ++n) {
    ApfPageLocation loc;
    if (r.locatePage(n, loc) < 0) break;
    Bitmap b;
    b.width = loc.header.widthPixels();
    decodeApfPage(r, loc, [&](const std::uint8_t *line, std::size_t bytes) {
      b.rows.emplace_back(reinterpret_cast<const char *>(line), bytes);
    });
    b.height = int(b.rows.size());
    pages.push_back(std::move(b));
  }
  return pages;
}

}  // namespace kv::test
