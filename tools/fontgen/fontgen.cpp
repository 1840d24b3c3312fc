// Generates the built-in fax font: two bitmap fonts of 256 Windows-1252 characters, rendered
// from a monospaced TrueType font with FreeType.
//
//   korvane_fontgen OUT.cpp SMALL.ttf STANDARD.ttf [PREVIEW.pbm]
//
// Layout of the 16384 bytes (what the converter and the fax sender expect):
//   bytes 0..4095      small font, 16 bytes a character: 8 rows of 2 bytes, 12 pixels used
//   bytes 4096..16383  standard font, 48 bytes a character: 16 rows of 3 bytes, 20 pixels used
// Rows are MSB-first, 1 = black. The rows are drawn for normal resolution, where a row is about
// twice as tall as a pixel is wide, so glyphs are rendered with a vertical size of half the
// horizontal one; fine resolution doubles every row when the font is loaded.
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "base/cp1252.h"

namespace {

char32_t unicodeOf(int code) {
  if (code < 0x20 || code == 0x7F) return 0;
  return kv::cp1252ToUnicode(static_cast<std::uint8_t>(code));
}

struct FontLayout {
  int cellWidth;   // pixels used in a row
  int rowBytes;    // bytes stored per row
  int rows;        // rows per character at normal resolution
  int ascentRows;  // rows above the baseline
  int xPpem;       // horizontal pixels per em
  int yPpem;       // vertical rows per em
  int threshold;   // coverage (0-255) from which a pixel is black
  bool mono;       // hinted one-bit rendering (clean strokes at very small sizes)
};

// Both from the bold face: one-pixel strokes of the regular face thin out on a received fax.
// Small: caps about 6 rows, two rows for descenders. Standard: caps about 10 rows, four below.
constexpr FontLayout kSmall{12, 2, 8, 6, 16, 8, 100, true};
constexpr FontLayout kStandard{20, 3, 16, 12, 29, 14, 110, false};

using Cell = std::vector<std::uint8_t>;  // rows x cellWidth, 1 = black

// Renders one glyph scaled by scale/100 of the layout's em; answers false when its ink does
// not fit the cell, so the caller can try a smaller scale (accented capitals, brackets).
bool renderAt(FT_Face face, FT_UInt glyph, const FontLayout &l, int scale, Cell &cell) {
  const int xp = std::max(1, l.xPpem * scale / 100);
  const int yp = std::max(1, l.yPpem * scale / 100);
  if (FT_Set_Pixel_Sizes(face, xp, yp) != 0) return false;
  const FT_Int32 load = l.mono ? FT_LOAD_TARGET_MONO : FT_LOAD_TARGET_LIGHT;
  if (FT_Load_Glyph(face, glyph, FT_LOAD_DEFAULT | load) != 0) return false;
  if (FT_Render_Glyph(face->glyph, l.mono ? FT_RENDER_MODE_MONO : FT_RENDER_MODE_NORMAL) != 0)
    return false;
  const FT_GlyphSlot g = face->glyph;
  const FT_Bitmap &bm = g->bitmap;
  const int advance = static_cast<int>((g->advance.x + 32) >> 6);
  const int originX = (l.cellWidth - advance) / 2;
  cell.assign(static_cast<size_t>(l.rows * l.cellWidth), 0);
  for (unsigned y = 0; y < bm.rows; ++y) {
    for (unsigned x = 0; x < bm.width; ++x) {
      const std::uint8_t *row = bm.buffer + static_cast<int>(y) * bm.pitch;
      const int cover =
          bm.pixel_mode == FT_PIXEL_MODE_MONO ? ((row[x / 8] >> (7 - x % 8)) & 1) * 255 : row[x];
      if (cover < l.threshold) continue;
      const int cx = originX + g->bitmap_left + static_cast<int>(x);
      const int cy = l.ascentRows - g->bitmap_top + static_cast<int>(y);
      if (cx < 0 || cx >= l.cellWidth || cy < 0 || cy >= l.rows) return false;
      cell[static_cast<size_t>(cy * l.cellWidth + cx)] = 1;
    }
  }
  return true;
}

void renderFont(FT_Face face, const FontLayout &l, std::uint8_t *out, std::vector<Cell> &cells) {
  const int charBytes = l.rows * l.rowBytes;
  cells.assign(256, Cell(static_cast<size_t>(l.rows * l.cellWidth), 0));
  for (int code = 0; code < 256; ++code) {
    const char32_t u = unicodeOf(code);
    if (u == 0 || u == 0x20 || u == 0xA0) continue;
    const FT_UInt glyph = FT_Get_Char_Index(face, u);
    if (glyph == 0) continue;
    Cell cell;
    bool fitted = false;
    for (int scale = 100; scale >= 40 && !fitted; scale -= 5) {
      fitted = renderAt(face, glyph, l, scale, cell);
    }
    if (!fitted) {
      std::fprintf(stderr, "fontgen: U+%04X does not fit the cell\n", static_cast<unsigned>(u));
      continue;
    }
    cells[code] = cell;
    std::uint8_t *dst = out + code * charBytes;
    for (int r = 0; r < l.rows; ++r) {
      for (int x = 0; x < l.cellWidth; ++x) {
        if (cell[static_cast<size_t>(r * l.cellWidth + x)]) {
          dst[r * l.rowBytes + x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
        }
      }
    }
  }
}

// A sheet of both fonts, 16 characters a line, rows doubled as they are at fine resolution, for
// looking at the result.
void writePreview(const char *path, const std::vector<Cell> &small, const std::vector<Cell> &std_) {
  const int gap = 4;
  const int sheetW = 16 * (kStandard.cellWidth + gap);
  const int smallH = 16 * 2 * (kSmall.rows + 2);
  const int stdH = 16 * 2 * (kStandard.rows + 2);
  const int sheetH = smallH + 20 + stdH;
  std::vector<std::uint8_t> px(static_cast<size_t>(sheetW * sheetH), 0);
  auto put = [&](const std::vector<Cell> &cells, const FontLayout &l, int top) {
    for (int code = 0; code < 256; ++code) {
      const int x0 = (code % 16) * (kStandard.cellWidth + gap);
      const int y0 = top + (code / 16) * 2 * (l.rows + 2);
      for (int r = 0; r < l.rows; ++r)
        for (int x = 0; x < l.cellWidth; ++x)
          if (cells[code][static_cast<size_t>(r * l.cellWidth + x)]) {
            px[static_cast<size_t>((y0 + 2 * r) * sheetW + x0 + x)] = 1;
            px[static_cast<size_t>((y0 + 2 * r + 1) * sheetW + x0 + x)] = 1;
          }
    }
  };
  put(small, kSmall, 0);
  put(std_, kStandard, smallH + 20);
  FILE *f = std::fopen(path, "wb");
  if (!f) return;
  std::fprintf(f, "P1\n%d %d\n", sheetW, sheetH);
  for (int y = 0; y < sheetH; ++y) {
    for (int x = 0; x < sheetW; ++x)
      std::fputc(px[static_cast<size_t>(y * sheetW + x)] ? '1' : '0', f);
    std::fputc('\n', f);
  }
  std::fclose(f);
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: korvane_fontgen OUT.cpp SMALL.ttf STANDARD.ttf [PREVIEW.pbm]\n");
    return 2;
  }
  FT_Library lib;
  if (FT_Init_FreeType(&lib) != 0) {
    std::fprintf(stderr, "fontgen: FreeType cannot start\n");
    return 1;
  }
  std::vector<std::uint8_t> data(16384, 0);
  std::vector<Cell> smallCells, stdCells;
  const struct {
    const char *file;
    const FontLayout &layout;
    std::uint8_t *out;
    std::vector<Cell> &cells;
  } jobs[] = {{argv[2], kSmall, data.data(), smallCells},
              {argv[3], kStandard, data.data() + 4096, stdCells}};
  for (const auto &job : jobs) {
    FT_Face face;
    if (FT_New_Face(lib, job.file, 0, &face) != 0) {
      std::fprintf(stderr, "fontgen: cannot load %s\n", job.file);
      FT_Done_FreeType(lib);
      return 1;
    }
    renderFont(face, job.layout, job.out, job.cells);
    FT_Done_Face(face);
  }
  FT_Done_FreeType(lib);

  const std::string tmp = std::string(argv[1]) + ".tmp";
  FILE *f = std::fopen(tmp.c_str(), "w");
  if (!f) {
    std::fprintf(stderr, "fontgen: cannot write %s\n", argv[1]);
    return 1;
  }
  std::fprintf(f,
               "// Generated at build time by korvane_fontgen; do not edit.\n"
               "#include <cstdint>\n\nnamespace kv {\n\n"
               "extern const std::uint8_t kFaxFontData[16384];\n"
               "const std::uint8_t kFaxFontData[16384] = {\n");
  for (size_t i = 0; i < data.size(); ++i) {
    std::fprintf(f, "%s0x%02X,%s", (i % 16 == 0) ? "    " : "", data[i],
                 (i % 16 == 15) ? "\n" : " ");
  }
  std::fprintf(f, "};\n\n}  // namespace kv\n");
  const bool ok = std::fclose(f) == 0;
  if (!ok || std::rename(tmp.c_str(), argv[1]) != 0) {
    std::remove(tmp.c_str());
    std::fprintf(stderr, "fontgen: cannot write %s\n", argv[1]);
    return 1;
  }
  if (argc > 4) writePreview(argv[4], smallCells, stdCells);
  return 0;
}
