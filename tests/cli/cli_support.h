#pragma once
// Running korvane-fax in-process, and the images its tests feed it.
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/command.h"

namespace kv::cli {

struct ToolRun {
  int code;
  std::string out, err;
};

inline ToolRun run(std::vector<std::string> args) {
  std::ostringstream out, err;
  Context ctx{out, err};
  const int code = runTool(args, ctx);
  return {code, out.str(), err.str()};
}

// A monochrome BMP of the given rows (1 = black in `rows`; BMP bit 1 = white palette entry).
inline void writeBmp(const std::string &path, int width, int height,
                     const std::vector<std::uint8_t> &rows) {
  const int stride = ((width + 31) / 32) * 4, src = (width + 7) / 8;
  const std::uint32_t dataSize = static_cast<std::uint32_t>(stride * height), off = 14 + 40 + 8;
  std::vector<std::uint8_t> b(off + dataSize, 0);
  auto le32 = [&](std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
  };
  b[0] = 'B', b[1] = 'M';
  le32(2, off + dataSize);
  le32(10, off);
  le32(14, 40);
  le32(18, static_cast<std::uint32_t>(width));
  le32(22, static_cast<std::uint32_t>(height));
  b[26] = 1, b[28] = 1;
  le32(34, dataSize);
  le32(46, 2);
  // Palette: 0 black, 1 white.
  b[58] = b[59] = b[60] = 0xFF;
  for (int y = 0; y < height; ++y)
    for (int i = 0; i < src; ++i)
      b[off + static_cast<std::size_t>(height - 1 - y) * stride + i] =
          static_cast<std::uint8_t>(~rows[static_cast<std::size_t>(y) * src + i]);
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char *>(b.data()), static_cast<std::streamsize>(b.size()));
}

}  // namespace kv::cli
