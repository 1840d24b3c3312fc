// Any bytes as a PDF document to fax: opened (refused or not), and when it opens, its first
// page drawn and halftoned. The page size is bounded by the longest page drawn, the drawing by
// a page work limit shortened to one second, so that a page built to be endless is refused
// quickly instead of timing the fuzzer out.
#include <chrono>
#include <cstddef>
#include <cstdint>

#include "pdfpages/pdf_document.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  static const bool limited = [] {
    kv::SetPdfPageWorkLimit({std::chrono::seconds(1)});
    return true;
  }();
  (void)limited;
  kv::PdfDocument pdf;
  if (pdf.openMemory(data, size) < 0) return 0;
  kv::FaxRaster raster;
  pdf.renderPage(0, false, 1728, raster);
  return 0;
}
