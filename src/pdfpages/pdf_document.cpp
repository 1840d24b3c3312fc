#include "pdfpages/pdf_document.h"

#include <poppler/cpp/poppler-document.h>
#include <poppler/cpp/poppler-global.h>
#include <poppler/cpp/poppler-image.h>
#include <poppler/cpp/poppler-page-renderer.h>
#include <poppler/cpp/poppler-page.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>

#include "base/file_error.h"
#include "faximage/t4_coder.h"
#include "pdfpages/fax_halftone.h"

namespace kv {

namespace {

constexpr std::size_t kFrameBytes = 1024;

// The renderer's complaints about damaged files would go to stderr; our own message says it.
void quiet(const std::string &, void *) {}
void silenceRenderer() {
  static std::once_flag once;
  std::call_once(once, [] { poppler::set_debug_error_function(quiet, nullptr); });
}

// KORVANE_PDF_PAGE_SECONDS (1 to 3600) gives a slow computer more time, and tests less.
WorkLimit &pageWorkLimit() {
  static WorkLimit limit = [] {
    WorkLimit l;
    if (const char *s = std::getenv("KORVANE_PDF_PAGE_SECONDS")) {
      char *end = nullptr;
      const long v = std::strtol(s, &end, 10);
      if (end != s && *end == '\0' && v >= 1 && v <= 3600) l.cpu = std::chrono::seconds(v);
    }
    return l;
  }();
  return limit;
}

// What the child that draws a page answers.
enum DrawCode { kDrawn = 0, kNotDrawn = 1 };

}  // namespace

WorkLimit PdfPageWorkLimit() {
  return pageWorkLimit();
}

void SetPdfPageWorkLimit(const WorkLimit &limit) {
  pageWorkLimit() = limit;
}

std::string PdfFrameProblem(const std::string &head, const std::string &tail) {
  if (head.find("%PDF-") == std::string::npos) return "not a PDF document";
  // Every complete PDF ends with an end-of-file mark; the renderer would quietly patch up a
  // file cut short (a download stopped half way) and fax only the pages it still finds.
  if (tail.find("%%EOF") == std::string::npos)
    return "the PDF document is cut short (it has no end mark): it was not written or "
           "downloaded completely";
  return {};
}

PdfPagePlacement PlacePdfPage(double widthPt, double heightPt, bool fine, int faxWidth) {
  PdfPagePlacement p;
  widthPt = std::max(widthPt, 1.0);
  heightPt = std::max(heightPt, 1.0);
  if (widthPt > heightPt) {
    p.turn = true;
    std::swap(widthPt, heightPt);
  }
  // Fine lines are 196 to the inch, normal 98, against 204 pixels across.
  const double aspect = (fine ? 196.0 : 98.0) / 204.0;
  p.xDpi = faxWidth * 72.0 / widthPt;
  p.yDpi = p.xDpi * aspect;
  double lines = heightPt * p.yDpi / 72.0;
  if (lines > kPdfMaxPageLines) {
    p.yDpi = kPdfMaxPageLines * 72.0 / heightPt;
    p.xDpi = p.yDpi / aspect;
    lines = kPdfMaxPageLines;
  }
  p.width = std::clamp(static_cast<int>(std::lround(widthPt * p.xDpi / 72.0)), 1, faxWidth);
  p.lines = std::clamp(static_cast<int>(std::lround(lines)), 1, kPdfMaxPageLines);
  return p;
}

PdfDocument::PdfDocument() = default;
PdfDocument::~PdfDocument() = default;

Result PdfDocument::refuse(std::string why) {
  problem_ = std::move(why);
  doc_.reset();
  pages_ = 0;
  return ecBadGraphicsFormat;
}

Result PdfDocument::open(const std::string &path) {
  silenceRenderer();
  doc_.reset();
  problem_.clear();
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    const int err = errno ? errno : ENOENT;
    problem_ = std::string(std::strerror(err));
    return fileErrorCode(err);
  }
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  if (size < 0) return refuse("not a PDF document");
  std::string head(std::min<std::size_t>(kFrameBytes, static_cast<std::size_t>(size)), '\0');
  std::string tail(head.size(), '\0');
  in.seekg(0);
  in.read(head.data(), static_cast<std::streamsize>(head.size()));
  in.seekg(size - static_cast<std::streamoff>(tail.size()));
  in.read(tail.data(), static_cast<std::streamsize>(tail.size()));
  if (!in) return refuse("the PDF document cannot be read");
  if (std::string why = PdfFrameProblem(head, tail); !why.empty()) return refuse(why);
  doc_.reset(poppler::document::load_from_file(path));
  return checkLoaded();
}

Result PdfDocument::openMemory(const std::uint8_t *data, std::size_t size) {
  silenceRenderer();
  doc_.reset();
  problem_.clear();
  if (size > static_cast<std::size_t>(INT_MAX)) return refuse("the PDF document is too large");
  const std::size_t n = std::min(kFrameBytes, size);
  const char *bytes = reinterpret_cast<const char *>(data);
  const std::string head(bytes, n), tail(bytes + size - n, n);
  if (std::string why = PdfFrameProblem(head, tail); !why.empty()) return refuse(why);
  doc_.reset(poppler::document::load_from_raw_data(bytes, static_cast<int>(size)));
  return checkLoaded();
}

Result PdfDocument::checkLoaded() {
  if (!doc_) return refuse("the PDF document is damaged and cannot be read");
  if (doc_->is_locked())
    return refuse(
        "the PDF document is protected by a password; fax a copy saved without the password");
  if (!doc_->has_permission(poppler::perm_print))
    return refuse("the PDF document's author does not allow it to be printed, so it is not faxed");
  pages_ = doc_->pages();
  if (pages_ <= 0) return refuse("the PDF document has no pages");
  return ecOK;
}

Result PdfDocument::renderPage(int index, bool fine, int faxWidth, FaxRaster &out) {
  auto pageProblem = [&](const char *what) {
    problem_ = "page " + std::to_string(index + 1) + " of the PDF document " + what;
    return ecBadGraphicsFormat;
  };
  if (!doc_ || index < 0 || index >= pages_) return pageProblem("does not exist");
  std::unique_ptr<poppler::page> page(doc_->create_page(index));
  if (!page) return pageProblem("cannot be read");
  const poppler::rectf box = page->page_rect();
  // The page's own turn decides which side is its width as shown.
  const poppler::page::orientation_enum o = page->orientation();
  const bool sideways = o == poppler::page::landscape || o == poppler::page::seascape;
  const double w = std::abs(sideways ? box.height() : box.width());
  const double h = std::abs(sideways ? box.width() : box.height());
  const PdfPagePlacement at = PlacePdfPage(w, h, fine, faxWidth);

  // The grey pixels come back through shared memory, one byte each, `at.width` to a line.
  SharedBuffer grey(static_cast<std::size_t>(at.width) * static_cast<std::size_t>(at.lines));
  if (!grey.valid()) return pageProblem("is too large to draw");
  int drawnWidth = 0, drawnLines = 0;
  const WorkLimit limit = PdfPageWorkLimit();
  const WorkResult run = RunBounded(limit, [&] {
    poppler::page_renderer renderer;
    renderer.set_render_hint(poppler::page_renderer::antialiasing, true);
    renderer.set_render_hint(poppler::page_renderer::text_antialiasing, true);
    renderer.set_image_format(poppler::image::format_gray8);
    const poppler::image img =
        renderer.render_page(page.get(), at.xDpi, at.yDpi, 0, 0, at.width, at.lines,
                             at.turn ? poppler::rotate_90 : poppler::rotate_0);
    if (!img.is_valid() || img.width() <= 0 || img.height() <= 0) return int{kNotDrawn};
    const int w = std::min(img.width(), at.width), h = std::min(img.height(), at.lines);
    const char *src = img.const_data();
    for (int y = 0; y < h; ++y)
      std::memcpy(grey.data() + static_cast<std::size_t>(y) * at.width,
                  src + static_cast<std::size_t>(y) * img.bytes_per_row(),
                  static_cast<std::size_t>(w));
    return int{kDrawn};
  });
  switch (run.outcome) {
    case WorkOutcome::Done:
      if (run.code != kDrawn) return pageProblem("cannot be drawn");
      drawnWidth = at.width;
      drawnLines = at.lines;
      break;
    case WorkOutcome::OverTime:
      return pageProblem(("takes too much work to draw (more than " +
                          std::to_string(limit.cpu.count()) +
                          (limit.cpu.count() == 1 ? " second" : " seconds") + "); it is not faxed")
                             .c_str());
    case WorkOutcome::OverMemory:
      return pageProblem("needs too much memory to draw; it is not faxed");
    case WorkOutcome::Failed:
      return pageProblem("cannot be drawn");
  }

  out.width = std::min(drawnWidth, faxWidth);
  out.lines = drawnLines;
  out.lineBytes = static_cast<std::size_t>((faxWidth + 7) / 8);
  out.bits.assign(out.lineBytes * static_cast<std::size_t>(out.lines), 0);
  HalftonePage(grey.data(), static_cast<std::size_t>(at.width), out.width, out.lines,
               out.bits.data(), out.lineBytes);
  return ecOK;
}

Result PdfDocument::openChecked(const std::string &path) {
  if (Result r = open(path); r < 0) return r;
  FaxRaster scratch;
  for (int i = 0; i < pages_; ++i)
    if (Result r = renderPage(i, true, kFaxLineNormal, scratch); r < 0) return r;
  return ecOK;
}

}  // namespace kv
