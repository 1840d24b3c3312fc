#pragma once
// Windows BMP files: the header walk shared by the monochrome page reader and the dithering of
// colour pictures.
#include <cstdint>
#include <vector>

#include "faximage/converter_source.h"

namespace kv {

struct BmpInfo {
  std::uint32_t dataOffset = 0;  // file offset of the pixel rows
  std::int32_t width = 0;
  std::int32_t height = 0;  // rows, always positive
  bool topDown = false;     // rows stored top first (negative height in the file)
  int bitsPerPixel = 0;
  std::uint32_t compression = 0;       // 0 none, 1 RLE8, 2 RLE4, 3 bit fields
  std::uint32_t masks[3] = {0, 0, 0};  // red, green, blue for bit fields
  std::vector<std::uint32_t> palette;  // 0xRRGGBB
  std::uint32_t stride = 0;            // bytes per stored row when not compressed
};

inline constexpr std::uint32_t kBmpRgb = 0, kBmpRle8 = 1, kBmpRle4 = 2, kBmpBitFields = 3;
// Taller pictures than this are refused: no fax page comes near it, and it keeps a forged
// header from making the reader walk billions of rows.
inline constexpr std::int32_t kBmpMaxHeight = 1 << 16;

// Reads and checks the headers from the start of `in`. Answers ecBadGraphicsFormat for
// anything that is not a BMP this reader can decode, or a file error.
Result readBmpInfo(ByteInput &in, BmpInfo &info);

}  // namespace kv
