// The image readers of the fax converter on arbitrary bytes: each must refuse what it cannot
// read with a result code, never read out of bounds, and end every page. One entry point, built
// four times with FUZZ_KIND selecting the reader (and text lines as a fifth).
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "faximage/bmp_reader.h"
#include "faximage/converter_source.h"
#include "faximage/converter_text.h"
#include "faximage/dither.h"

namespace {

std::unique_ptr<kv::LineSource> makeSource(kv::ByteInput &in) {
  constexpr int kWidth = 2048;
#if FUZZ_KIND == 0
  return kv::makeBmpReader(in, kWidth);
#elif FUZZ_KIND == 1
  return kv::makeTiffReader(in, kWidth);
#elif FUZZ_KIND == 2
  return kv::makePcxReader(in, kWidth);
#elif FUZZ_KIND == 3
  return kv::makeDcxReader(in, kWidth);
#else
  return kv::makeTextSource(in, kv::ffStandard, true, kWidth, 50, 60, 4);
#endif
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  kv::MemoryInput in(data, size);
#if FUZZ_KIND == 0
  // Colour pictures go through the dithering first, as the converter does. Pictures of more
  // than 4 million pixels are left out: they only repeat the same rows, slowly under the
  // sanitizers.
  kv::BmpInfo info;
  if (kv::bmpNeedsDither(in) && kv::readBmpInfo(in, info) >= 0 &&
      std::int64_t{info.width} * info.height <= (4 << 20)) {
    kv::ditherBmpToMono(in, "/dev/null", 2048);
    in.seek(0);
  }
#endif
  auto src = makeSource(in);
  if (src->open() < 0) return 0;
  std::vector<std::uint8_t> line(256 + 16, 0xA5);
  // A guard band after the line catches a reader writing past the width it was given.
  int pages = 0;
  for (long lines = 0; lines < 200000 && pages < 2000; ++lines) {
    std::fill(line.begin(), line.begin() + 256, 0);
    bool endOfPage = false, more = false;
    if (src->readLine(line.data(), 256, endOfPage, more) < 0) break;
    for (std::size_t i = 256; i < line.size(); ++i)
      if (line[i] != 0xA5) std::abort();
    if (endOfPage) {
      ++pages;
      if (!more) break;
    }
    if (src->bytesRead() > src->bytesTotal()) std::abort();
  }
  src->close();
  return 0;
}
