#pragma once
// The built-in fax font: a small (12 x 8) and a standard (20 x 16) bitmap font of the 256
// Windows-1252 characters, compiled into the program. Used for text pages and for the header
// line the fax sender draws at the top of every page.
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "base/result_codes.h"

namespace kv {

enum TFaxFont { ffStandard, ffSmall };

// The font data is missing or damaged (it is built into the program, so this means a broken
// build).
inline constexpr Result ecFaxFontMissing = -8052;

inline constexpr std::size_t kFaxFontBytes = 16384;

// The 16384 bytes of the two fonts: small at offset 0, standard at 4096.
std::span<const std::uint8_t> faxFontResource();

class FaxFont {
 public:
  // Loads one of the two fonts; fine resolution doubles every row so that the characters keep
  // their height on paper.
  Result load(TFaxFont kind, bool highResolution);

  bool loaded() const { return rows_ > 0; }
  int charWidth() const { return width_; }
  int rows() const { return rows_; }
  // Row `row` of character `code`, MSB first, 1 = black; rowBytes() bytes.
  const std::uint8_t *glyphRow(std::uint8_t code, int row) const;
  int rowBytes() const { return rowBytes_; }

  // Draws row `row` of each character of `text` side by side from pixel 0 into a raster line of
  // `lineBytes` bytes; characters that do not fit whole are left out.
  void drawRow(std::string_view text, int row, std::uint8_t *line, std::size_t lineBytes) const;

 private:
  int width_ = 0, rows_ = 0, rowBytes_ = 0;
  std::vector<std::uint8_t> glyphs_;  // 256 characters of rows_ * rowBytes_ bytes
};

}  // namespace kv
