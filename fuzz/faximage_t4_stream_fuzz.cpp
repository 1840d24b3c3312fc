// Feeds arbitrary bytes to the decoder of line-side T.4 streams, as an MH or MR page of a
// width the first byte picks. Whatever it makes of them must be rows of that width, and those
// rows, coded again by our encoder, must decode to the same rows with none spoilt.
#include <cstdint>
#include <vector>

#include "faximage/t4_stream.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size < 1) return 0;
  const std::uint8_t mode = data[0];
  ++data, --size;
  static const int kWidths[4] = {1728, 2048, 64, 4096};
  const int width = kWidths[mode & 3];
  const kv::T4Coding coding = (mode & 4) ? kv::T4Coding::Mr : kv::T4Coding::Mh;
  const std::size_t stride = std::size_t(width / 8);

  std::vector<std::uint8_t> rows;
  kv::T4StreamDecoder dec(width, coding);
  const kv::T4DecodeResult res = dec.decode(
      data, size, [&](const std::uint8_t *row) { rows.insert(rows.end(), row, row + stride); });
  if (res.badRows > res.rows || rows.size() != res.rows * stride) __builtin_trap();

  kv::T4StreamEncoder enc;
  enc.begin({coding, (mode & 8) ? 4 : 2, width, (mode >> 4) * 16});
  for (std::size_t r = 0; r < res.rows; ++r) enc.putRow(rows.data() + r * stride);
  enc.end();
  std::vector<std::uint8_t> again;
  const std::vector<std::uint8_t> coded = enc.bytes();
  const kv::T4DecodeResult back =
      kv::T4StreamDecoder(width, coding)
          .decode(coded.data(), coded.size(),
                  [&](const std::uint8_t *row) { again.insert(again.end(), row, row + stride); });
  if (back.badRows != 0 || back.rows != res.rows || again != rows) __builtin_trap();
  if (res.rows > 0 && !back.pageEnded) __builtin_trap();
  return 0;
}
