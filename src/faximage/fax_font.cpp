#include "faximage/fax_font.h"

#include <cstring>

namespace kv {

// Generated at build time from a TrueType font (tools/fontgen).
extern const std::uint8_t kFaxFontData[16384];

std::span<const std::uint8_t> faxFontResource() {
  return {kFaxFontData, kFaxFontBytes};
}

Result FaxFont::load(TFaxFont kind, bool highResolution) {
  const auto res = faxFontResource();
  if (res.size() != kFaxFontBytes) return ecFaxFontMissing;
  const bool small = kind == ffSmall;
  const int srcRows = small ? 8 : 16;
  rowBytes_ = small ? 2 : 3;
  width_ = small ? 12 : 20;
  const std::size_t charBytes = static_cast<std::size_t>(srcRows * rowBytes_);
  const std::uint8_t *src = res.data() + (small ? 0 : 4096);
  const int factor = highResolution ? 2 : 1;
  rows_ = srcRows * factor;
  glyphs_.assign(256 * static_cast<std::size_t>(rows_ * rowBytes_), 0);
  for (int c = 0; c < 256; ++c) {
    for (int r = 0; r < rows_; ++r) {
      std::memcpy(&glyphs_[(static_cast<std::size_t>(c) * rows_ + r) * rowBytes_],
                  src + c * charBytes + static_cast<std::size_t>(r / factor * rowBytes_),
                  static_cast<std::size_t>(rowBytes_));
    }
  }
  return ecOK;
}

const std::uint8_t *FaxFont::glyphRow(std::uint8_t code, int row) const {
  return &glyphs_[(static_cast<std::size_t>(code) * rows_ + row) * rowBytes_];
}

void FaxFont::drawRow(std::string_view text, int row, std::uint8_t *line,
                      std::size_t lineBytes) const {
  if (row < 0 || row >= rows_) return;
  const std::size_t maxChars = lineBytes * 8 / static_cast<std::size_t>(width_);
  std::size_t x = 0;
  for (std::size_t i = 0; i < text.size() && i < maxChars; ++i, x += width_) {
    const std::uint8_t *g = glyphRow(static_cast<std::uint8_t>(text[i]), row);
    // Spread the glyph's bits over the bytes it straddles at pixel x.
    for (int b = 0; b < rowBytes_; ++b) {
      if (!g[b]) continue;
      const std::size_t bit = x + static_cast<std::size_t>(b) * 8;
      const std::size_t at = bit / 8;
      const int shift = static_cast<int>(bit % 8);
      line[at] |= static_cast<std::uint8_t>(g[b] >> shift);
      if (shift && at + 1 < lineBytes)
        line[at + 1] |= static_cast<std::uint8_t>(g[b] << (8 - shift));
    }
  }
}

}  // namespace kv
