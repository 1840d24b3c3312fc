// Feeds arbitrary bytes to the APF reader and unpacker as a file, and to the T.4 decoder as a
// raw coded stream. The first byte picks unpacker settings so that every output path is run.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "faximage/apf_file.h"
#include "faximage/fax_unpacker.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size < 1) return 0;
  const std::uint8_t mode = data[0];
  ++data, --size;

  // The raw stream in one piece and byte by byte: the fast path (whole words) and the careful
  // path (bits arriving in dribbles) must deliver the same lines.
  {
    std::vector<std::uint8_t> whole, dribbled;
    kv::T4Decoder a([&](const std::uint8_t *p, std::size_t n) {
      if (n != 216 && n != 256) __builtin_trap();
      whole.insert(whole.end(), p, p + n);
    });
    kv::T4Decoder b(
        [&](const std::uint8_t *p, std::size_t n) { dribbled.insert(dribbled.end(), p, p + n); });
    a.feed(data, size);
    a.finish();
    for (std::size_t i = 0; i < size && b.feed(data + i, 1); ++i) {
    }
    b.finish();
    if (whole != dribbled || a.linesDelivered() != b.linesDelivered()) __builtin_trap();
  }

  // The bytes as an APF file.
  const int fd = memfd_create("apf", 0);
  if (fd < 0) return 0;
  if (write(fd, data, size) != static_cast<ssize_t>(size)) {
    close(fd);
    return 0;
  }
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  kv::TKvFaxUnpacker u;
  u.setInFileName(path);
  u.setAutoScaleMode(static_cast<kv::TAutoScaleMode>(mode % 3));
  u.setWhitespaceCompression(mode & 0x04);
  u.setWhitespaceFrom((mode >> 3) & 3);
  u.setWhitespaceTo((mode >> 5) & 1);
  u.setScaling(mode & 0x80);
  u.setHorizDiv(2);
  u.setVertMult(3);
  int pages = 0;
  if (u.numPages(pages) == kv::ecOK) {
    // A page count far beyond the data is walked only until the walk leaves the file.
    for (int n = 1; n <= pages && n <= 4; ++n) {
      kv::MonoBitmap bm;
      if (u.unpackPageToBitmap(n, bm) == kv::ecOK && !bm.empty()) {
        if (bm.bits.size() < static_cast<std::size_t>(bm.stride) * bm.height) __builtin_trap();
      }
      std::size_t got = 0;
      u.OnOutputLine = [&](kv::TKvCustomFaxUnpacker &, bool, bool, const std::uint8_t *, int len,
                           int) { got += static_cast<std::size_t>(len); };
      u.unpackPage(n);
    }
  }
  kv::ApfReader r;
  if (r.open(path) == kv::ecOK && r.header().pageCount > 0) {
    kv::ApfPageLocation loc;
    r.locatePage(r.header().pageCount, loc);
  }
  close(fd);
  return 0;
}
