// Every page of an APF file decoded into rows, for comparing with what a far end received.
#pragma once

#include <algorithm>
#include <cstdio>
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

// The coded data of page n (1-based) of an APF file whose pages are line records, without the
// length words: the one-dimensional stream any Group 3 reader takes.
inline std::vector<std::uint8_t> apfPageStream(const std::string &path, int n) {
  std::vector<std::uint8_t> out;
  ApfReader r;
  ApfPageLocation loc;
  if (r.open(path) < 0 || r.locatePage(n, loc) < 0 || !loc.header.lineRecords()) return out;
  std::FILE *f = std::fopen(path.c_str(), "rb");
  if (!f) return out;
  std::vector<std::uint8_t> data(loc.header.imageLength);
  const bool ok = std::fseek(f, long(loc.dataOffset()), SEEK_SET) == 0 &&
                  std::fread(data.data(), 1, data.size(), f) == data.size();
  std::fclose(f);
  for (std::size_t at = 0; ok && at + 2 <= data.size();) {
    const std::size_t len = data[at] | std::size_t(data[at + 1]) << 8;
    at += 2;
    const std::size_t take = std::min(len, data.size() - at);
    out.insert(out.end(), data.begin() + long(at), data.begin() + long(at + take));
    at += take;
  }
  return out;
}

}  // namespace kv::test
