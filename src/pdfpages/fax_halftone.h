#pragma once
// Grey page images to the black and white a fax carries, the way a fax machine's scanner does
// it: text and line art cut at mid-grey so their edges stay crisp, pictures and grey fills
// dithered so their tones survive.
#include <cstddef>
#include <cstdint>

namespace kv {

// Side of the square blocks that are judged one by one as picture or as text.
inline constexpr int kHalftoneBlock = 16;

// True when the grey block (0 black .. 255 white) is a picture: more than half its pixels are
// neither near white nor near black. Antialiased text edges stay well under that.
bool IsPictureBlock(const std::uint8_t *grey, std::size_t stride, int width, int height);

// Turns `height` lines of `width` grey pixels into fax lines (MSB first, 1 = black) of
// `lineBytes` bytes each, which the caller has cleared. Pixels past lineBytes * 8 are dropped.
void HalftonePage(const std::uint8_t *grey, std::size_t stride, int width, int height,
                  std::uint8_t *bits, std::size_t lineBytes);

}  // namespace kv
