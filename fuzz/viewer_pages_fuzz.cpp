// Arbitrary bytes as an APF file opened in the viewer's way: every page (up to 4) decoded
// with the viewer's and the printer's scaling, turned by each quarter turn (four turns must
// give the page back), drawn reduced for the screen and for printing, and, for small inputs,
// exported to PDF and TIFF (which must either fail cleanly or leave a complete file).
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>

#include "faximage/apf_export.h"
#include "faximage/fax_unpacker.h"
#include "viewer/page_image.h"

namespace {

bool same(const kv::MonoBitmap &a, const kv::MonoBitmap &b) {
  if (a.width != b.width || a.height != b.height) return false;
  for (int y = 0; y < a.height; ++y)
    for (int x = 0; x < a.width; ++x)
      if (a.pixel(x, y) != b.pixel(x, y)) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size < 1) return 0;
  const std::uint8_t mode = data[0];
  ++data, --size;
  const int fd = memfd_create("apf", 0);
  if (fd < 0) return 0;
  if (write(fd, data, size) != static_cast<ssize_t>(size)) {
    close(fd);
    return 0;
  }
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  kv::TKvFaxUnpacker u;
  u.setOptions(0);
  u.setInFileName(path);
  u.setAutoScaleMode(mode & 1 ? kv::asHalfWidth : kv::asDoubleHeight);
  int pages = 0;
  if (u.numPages(pages) == kv::ecOK) {
    for (int n = 1; n <= pages && n <= 4; ++n) {
      kv::MonoBitmap bm;
      if (u.unpackPageToBitmap(n, bm) != kv::ecOK || bm.empty()) continue;
      kv::MonoBitmap turned = bm;
      for (int t = 0; t < 4; ++t) {
        const kv::MonoBitmap next = kv::RotateBitmap(turned, 1);
        if (next.width != turned.height || next.height != turned.width) __builtin_trap();
        turned = next;
      }
      if (!same(turned, bm)) __builtin_trap();
      if (!same(kv::RotateBitmap(kv::RotateBitmap(bm, 1), 1), kv::RotateBitmap(bm, 2)))
        __builtin_trap();
      const int w = std::max(1, bm.width * (mode >> 4 & 3) / 4 + 1);
      const int h = std::max(1, bm.height / ((mode >> 6) + 1));
      if (kv::DisplayImage(bm, w, h).size() != QSize(w, h)) __builtin_trap();
      if (kv::PrintImage(bm).isNull()) __builtin_trap();
    }
  }
  if (size < 4096 && (mode & 2)) {
    char dir[] = "/tmp/korvane-fuzz-XXXXXX";
    if (mkdtemp(dir)) {
      std::string error;
      const std::string out = std::string(dir) + (mode & 4 ? "/x.pdf" : "/x.tif");
      const kv::Result r = kv::ExportApf(path, out, error);
      const bool exists = access(out.c_str(), F_OK) == 0;
      if ((r == kv::ecOK) != exists) __builtin_trap();
      std::remove(out.c_str());
      rmdir(dir);  // fails, and so shows, if anything else was left behind
      if (access(dir, F_OK) == 0) __builtin_trap();
    }
  }
  close(fd);
  return 0;
}
