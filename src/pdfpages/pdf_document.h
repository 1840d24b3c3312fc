#pragma once
// A PDF document opened for faxing: checked once (a PDF, complete, not password-protected, may
// be printed, has pages), then drawn page by page as fax raster lines.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/result_codes.h"
#include "pdfpages/bounded_work.h"

namespace poppler {
class document;
}

namespace kv {

// A page as fax raster lines: MSB first, 1 = black, `lineBytes` bytes per line.
struct FaxRaster {
  int width = 0;  // pixels drawn; the rest of each line is white
  int lines = 0;
  std::size_t lineBytes = 0;
  std::vector<std::uint8_t> bits;
  const std::uint8_t *line(int y) const {
    return bits.data() + static_cast<std::size_t>(y) * lineBytes;
  }
};

// The longest page drawn, in lines: three A4 lengths at fine resolution. Longer pages are drawn
// smaller (and so narrower) to fit.
inline constexpr int kPdfMaxPageLines = 7000;

// Where a page of `widthPt` x `heightPt` points (as shown, rotation applied) goes on a fax page
// `faxWidth` pixels wide at fine or normal resolution: the horizontal scale in dots per inch, the
// vertical one, and the size in pixels. Landscape pages are turned upright first (`turn`).
struct PdfPagePlacement {
  double xDpi = 0, yDpi = 0;
  int width = 0, lines = 0;
  bool turn = false;
};
PdfPagePlacement PlacePdfPage(double widthPt, double heightPt, bool fine, int faxWidth);

// Every page is drawn in a child process under this budget (see bounded_work.h), so that a
// document built to make drawing endless or huge is refused, naming the page, instead of
// hanging the program. Its time is 20 seconds a page unless the environment variable
// KORVANE_PDF_PAGE_SECONDS says otherwise (1 to 3600); tests and the fuzzer shorten it.
WorkLimit PdfPageWorkLimit();
void SetPdfPageWorkLimit(const WorkLimit &limit);

class PdfDocument {
 public:
  PdfDocument();
  ~PdfDocument();
  PdfDocument(const PdfDocument &) = delete;
  PdfDocument &operator=(const PdfDocument &) = delete;

  // Opens and checks the document. Answers ecOK, the file error of a file that cannot be read,
  // or ecBadGraphicsFormat; problem() then says why in words a user can act on.
  Result open(const std::string &path);
  // The same over bytes the caller keeps alive (fuzzing, tests).
  Result openMemory(const std::uint8_t *data, std::size_t size);

  // Opens the document and draws each page once, as sending will (fine resolution): a document
  // accepted here can be faxed. What accepts a PDF for later sending checks it so.
  Result openChecked(const std::string &path);

  int pageCount() const { return pages_; }
  // Draws page `index` (0-based) at fine or normal resolution onto a fax line of `faxWidth`
  // pixels, under PdfPageWorkLimit(). ecBadGraphicsFormat with problem() when the page cannot
  // be drawn or takes more than the limit.
  Result renderPage(int index, bool fine, int faxWidth, FaxRaster &out);
  const std::string &problem() const { return problem_; }

 private:
  Result checkLoaded();
  Result refuse(std::string why);

  std::unique_ptr<poppler::document> doc_;
  int pages_ = 0;
  std::string problem_;
};

// The checks made on the raw bytes before the renderer sees them: `head` is the file's first
// bytes and `tail` its last (up to 1024 of each). Answers "" or what is wrong.
std::string PdfFrameProblem(const std::string &head, const std::string &tail);

}  // namespace kv
