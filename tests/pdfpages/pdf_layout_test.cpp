// The rules that need no PDF: which blocks are pictures, what thresholding and dithering make of
// grey, where a page of a given size lands on the fax page, and which files are not whole PDFs.
#include <gtest/gtest.h>

#include <vector>

#include "pdfpages/fax_halftone.h"
#include "pdfpages/pdf_document.h"

namespace kv {
namespace {

constexpr int kW = 64, kH = 64;

struct Grey {
  std::vector<std::uint8_t> px = std::vector<std::uint8_t>(kW * kH, 255);
  void fill(int x0, int y0, int w, int h, std::uint8_t g) {
    for (int y = y0; y < y0 + h; ++y)
      for (int x = x0; x < x0 + w; ++x) px[static_cast<std::size_t>(y * kW + x)] = g;
  }
};

std::vector<std::uint8_t> halftone(const Grey &g) {
  std::vector<std::uint8_t> bits(kW / 8 * kH, 0);
  HalftonePage(g.px.data(), kW, kW, kH, bits.data(), kW / 8);
  return bits;
}

bool black(const std::vector<std::uint8_t> &bits, int x, int y) {
  return bits[static_cast<std::size_t>(y * kW / 8 + x / 8)] & (0x80 >> (x & 7));
}

double blackShare(const std::vector<std::uint8_t> &bits) {
  int n = 0;
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) n += black(bits, x, y);
  return static_cast<double>(n) / (kW * kH);
}

// A flat grey area is dithered to its tone: the share of black dots follows the darkness, from
// all black to all white, with no level lost to a cut at mid-grey.
TEST(PdfHalftone, FlatGreyIsDitheredToItsTone) {
  for (int level : {0, 30, 64, 100, 128, 160, 200, 230, 255}) {
    Grey g;
    g.fill(0, 0, kW, kH, static_cast<std::uint8_t>(level));
    EXPECT_NEAR(blackShare(halftone(g)), (255 - level) / 255.0, 0.01) << "level " << level;
  }
}

// Text and line art (black on white with antialiased edges) is cut at mid-grey: every pixel
// darker than 128 is black, every lighter one white, so no dither dots fringe the strokes.
TEST(PdfHalftone, TextIsThresholdedWithoutDots) {
  Grey g;
  for (int row = 4; row < kH; row += 12) {
    g.fill(2, row, kW - 4, 3, 0);        // a stroke
    g.fill(2, row + 3, kW - 4, 1, 90);   // its antialiased lower edge
    g.fill(2, row - 1, kW - 4, 1, 170);  // and upper edge
  }
  const auto bits = halftone(g);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x)
      ASSERT_EQ(black(bits, x, y), g.px[static_cast<std::size_t>(y * kW + x)] < 128)
          << x << "," << y;
}

// Blocks are judged one by one: a picture beside text is dithered while the text stays crisp.
TEST(PdfHalftone, PictureAndTextSideBySide) {
  Grey g;
  g.fill(0, 0, kW / 2, kH, 128);    // picture half
  g.fill(kW / 2 + 4, 8, 20, 2, 0);  // a line in the text half
  const auto bits = halftone(g);
  int pictureBlack = 0, textBlack = 0;
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) (x < kW / 2 ? pictureBlack : textBlack) += black(bits, x, y);
  EXPECT_NEAR(pictureBlack, kW / 2 * kH / 2, kW);
  EXPECT_EQ(textBlack, 40);
}

TEST(PdfHalftone, PictureBlocks) {
  struct Case {
    const char *what;
    std::vector<std::uint8_t> block;  // 4 x 4
    bool picture;
  } cases[] = {
      {"white paper", std::vector<std::uint8_t>(16, 255), false},
      {"solid black", std::vector<std::uint8_t>(16, 0), false},
      {"flat mid-grey", std::vector<std::uint8_t>(16, 128), true},
      {"dark grey", std::vector<std::uint8_t>(16, 40), true},
      {"stroke with edges",
       {0, 0, 0, 0, 90, 90, 90, 90, 255, 255, 255, 255, 255, 255, 255, 255},
       false},
      {"more than half grey",
       {0, 0, 0, 0, 90, 90, 90, 90, 90, 90, 90, 90, 90, 255, 255, 255},
       true},
  };
  for (const Case &c : cases)
    EXPECT_EQ(IsPictureBlock(c.block.data(), 4, 4, 4), c.picture) << c.what;
}

// Pages are scaled to the fax width keeping their aspect; fine lines are 196 to the inch and
// normal 98 against 204 dots across; landscape pages are turned upright; very long pages are
// drawn smaller so that they fit the longest page drawn.
TEST(PdfPlacement, PaperSizes) {
  struct Case {
    const char *what;
    double w, h;
    bool fine;
    int width, lines;
    bool turn;
  } cases[] = {
      {"A4 fine", 595.276, 841.89, true, 1728, 2348, false},
      {"A4 normal", 595.276, 841.89, false, 1728, 1174, false},
      {"Letter fine", 612, 792, true, 1728, 2149, false},
      {"Letter normal", 612, 792, false, 1728, 1075, false},
      {"A4 landscape", 841.89, 595.276, true, 1728, 2348, true},
      {"A5 fine", 419.53, 595.276, true, 1728, 2356, false},
      {"till roll", 200, 20000, true, 73, kPdfMaxPageLines, false},
  };
  for (const Case &c : cases) {
    const PdfPagePlacement p = PlacePdfPage(c.w, c.h, c.fine, 1728);
    EXPECT_EQ(p.width, c.width) << c.what;
    EXPECT_NEAR(p.lines, c.lines, 1) << c.what;
    EXPECT_EQ(p.turn, c.turn) << c.what;
  }
}

TEST(PdfFrame, WholeAndCutShortFiles) {
  struct Case {
    const char *head, *tail;
    bool ok;
    const char *says;
  } cases[] = {
      {"%PDF-1.7\n%\xe2\xe3", "startxref\n1234\n%%EOF\n", true, ""},
      {"\xef\xbb\xbf%PDF-1.4", "%%EOF\r\n   garbage after the mark", true, ""},
      {"%PDF-1.7\n", "endobj\n12 0 obj\n<< /Length", false, "cut short"},
      {"{\\rtf1 hello}", "%%EOF", false, "not a PDF"},
      {"", "", false, "not a PDF"},
  };
  for (const Case &c : cases) {
    const std::string why = PdfFrameProblem(c.head, c.tail);
    EXPECT_EQ(why.empty(), c.ok) << c.head;
    EXPECT_NE(why.find(c.says), std::string::npos) << why;
  }
}

}  // namespace
}  // namespace kv
