#pragma once
// Ordered dithering of colour and grey BMP pictures to the black and white a fax can carry.
#include <string>

#include "faximage/converter_source.h"

namespace kv {

// Threshold (0..124) for the pixel at (x, y) of a 16 x 16 ordered pattern: a pixel is white when
// the threshold is below the mean of its red, green and blue.
int ditherThreshold(int x, int y);

// True when `in` holds a BMP picture that is not already one bit per pixel.
bool bmpNeedsDither(ByteInput &in);

// Decodes the BMP picture of `in` (1, 4, 8, 16, 24 or 32 bits, uncompressed, run-length or bit
// fields), dithers it and writes it to `outPath` as a one-bit BMP (bit 1 = white), keeping its
// orientation. Pictures wider than `maxWidth` are refused (ecBadGraphicsFormat).
Result ditherBmpToMono(ByteInput &in, const std::string &outPath, int maxWidth);

}  // namespace kv
